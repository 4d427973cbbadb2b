#pragma once

// KorDAO: the database component of the payroll programs.
//
// Two classes, used exactly as the programs have always used them:
//
//     KorDAO::clsDbAccess db;
//     db.setDBIniNameString(u"MOX.INI"_s);          // which database: found through the INI file
//     prsDaoStatus(db.DAO_DBOpen(), false);
//
//     KorDAO::clsTbAccess tb;
//     tb.setTBDatabase(db.DBDatabase());
//     tb.setTBNameString(u"GKJINJI"_s);
//     int n = tb.DAO_TableOpen(u""_s, u"SYOKCD"_s);  // count, or a negative status
//     for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2))
//         use(tb.TBRec()[u"SIMKNJ"].toString());
//
// Every operation returns the system's status: 0 success, negative failure (-2 table open,
// -8 no record found, -9 end of records, -12 update failure, -20 database missing, -66 a filter
// or criterion that does not parse …). Filters, criteria and sorts are parsed by a small grammar
// (field, comparison or in(...), number or quoted text, AND/OR, parentheses; sort: field list with
// ASC/DESC) and become parameterised SQL: an unknown field or a malformed text is a status, never
// SQL.
//
// Reading a field that the record set does not have, or a NULL where a number is asked for,
// throws KorDAO::DaoError carrying the status (-3); the programs catch it where an event starts
// and report it like any other failing status.
//
// A record set is never loaded whole: DAO_TableOpen counts (a filtered open fetches the first
// few records with the count, for the first read right after), and the reads fetch small
// batches in sort order (sort fields, then the primary key for ties), each batch starting after
// the key of the record read last. Records changed by other connections between batches are
// seen as they are when their batch is fetched.
//
// Several desks on one database: a record is written back, or deleted, only if it is still as it
// was read. DAO_Update after DAO_Edit, and DAO_Delete, give kRecordChanged (-30) when another
// connection changed or deleted the record meanwhile, and DAO_Update after DAO_AddNew gives it
// when a record with the same key exists. A program that reads a record at one moment and saves
// it at a later one keeps a RecordStamp of the first read and checks it with DAO_RecCheck inside
// its write transaction:
//
//     RecordStamp seen = tb.DAO_RecStamp();          // at call-up, after the find
//     ...                                            // the operator edits
//     tb.DAO_BeginTrans();
//     tb.DAO_RecFind(1, criteria);                   // the record again, or none
//     if (tb.DAO_RecCheck(seen) == KorDAO::kRecordChanged) { rollback; tell the operator }
//
// No wait is without limit: a lock not granted within the LockTimeout= seconds of the INI file
// (default 10) gives kLockTimeout (-31); on SQLite a write transaction takes its lock when it
// begins, so two writers queue instead of failing. On PostgreSQL a statement still running after
// the StatementTimeout= seconds (default 600) is cut off with kStatementTimeout (-33). A
// connection to the server lost on the way gives kConnectionLost (-32); the next operation
// connects again. Every add, update and delete of a payroll table writes an audit row into
// KORDAO_AUDIT in the same transaction, by the database's own triggers (schema.h).

#include "base/currency.h"
#include "base/status.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace KorDAO {

// The statuses of the component, by name; 0 is success. The programs compare with these names.

/// No [Database] section, no or unknown Driver=, not a database, the server refused.
inline constexpr short kOpenFailed = -1;
/// The table does not exist, or no database is open.
inline constexpr short kTableMissing = -2;
/// A field cannot be read: no current record, no such field, a NULL or text read as a number.
inline constexpr short kFieldUnreadable = -3;
/// No record set is open (DAO_TableOpen first).
inline constexpr short kTableNotOpen = -7;
/// DAO_RecFind found no record.
inline constexpr short kNoRecord = -8;
/// DAO_RecRead went past the last record.
inline constexpr short kEndOfRecords = -9;
/// DAO_AddNew, DAO_Edit, DAO_Update, DAO_Delete failed (DAO_Update also: nothing opened for
/// writing, a value its field cannot hold).
inline constexpr short kAddNewFailed = -10;
inline constexpr short kEditFailed = -11;
inline constexpr short kUpdateFailed = -12;
inline constexpr short kDeleteFailed = -13;
/// A transaction could not begin (one is open already), commit, or be undone.
inline constexpr short kBeginFailed = -15;
inline constexpr short kCommitFailed = -16;
inline constexpr short kRollbackFailed = -17;
/// A key of the INI file is missing or wrong (Database=, Port=, LockTimeout= …).
inline constexpr short kBadSetting = -18;
/// The INI file, the SQLite file or the PostgreSQL database does not exist.
inline constexpr short kDatabaseMissing = -20;
/// A field was assigned without DAO_Edit or DAO_AddNew.
inline constexpr short kNotWriting = -23;
/// A mode or argument the operation does not take (DAO_RecRead 3, a stamp of another table).
inline constexpr short kBadArgument = -24;
/// A filter, criterion or sort that does not parse, or names a field the table lacks.
inline constexpr short kBadCondition = -66;

/// The record changed, vanished or (for a new one) appeared since it was read: nothing was written.
inline constexpr short kRecordChanged = -30;
/// A lock was not granted within the lock timeout.
inline constexpr short kLockTimeout = -31;
/// The connection to the database server was lost; the next operation connects again.
inline constexpr short kConnectionLost = -32;
/// A statement was still running when the statement timeout (StatementTimeout=) cut it off.
/// Not transient: the work it belonged to (a print run, a load) is not done, and the program
/// reports it and ends like any other failure, nothing half-written.
inline constexpr short kStatementTimeout = -33;

/// How a commit ended whose answer was lost with the connection to the server: the component
/// reads back what the transaction wrote to tell whether the server committed it.
enum class CommitLoss {
    None,     // the connection was not lost during the last commit
    Saved,    // the records written are stored as written: the commit went through (status 0)
    NotSaved, // they are as they were before: nothing was saved (kConnectionLost)
    Unknown,  // it cannot be told (server out of reach, records changed since): kConnectionLost
};

/// True for the statuses a program reports and then goes on from (the operator may try again):
/// kRecordChanged, kLockTimeout, kConnectionLost.
constexpr bool isTransient(int status)
{
    return status == kRecordChanged || status == kLockTimeout || status == kConnectionLost;
}

/// The name of the audit table of the payroll database.
inline constexpr char16_t kAuditTable[] = u"KORDAO_AUDIT";

/// A failing field access: the status the programs report (-3 when a field cannot be read).
class DaoError : public std::runtime_error {
public:
    DaoError(short status, const QString& what);
    short status() const { return m_status; }

private:
    short m_status;
};

/// Runs \p read, code that reads fields of records (TBRec) and may meet a DaoError, and gives
/// what it returns, or the status and message of the DaoError (kFieldUnreadable,
/// kRecordChanged …) as a mox::Status: for code that reads many fields at once and reports a
/// failure as a status rather than catching the exception itself.
///
///     mox::Result<Currency> pay = KorDAO::readFields([&] {
///         return rec[u"KYURYO"].toCurrency() + rec[u"KTYOGK"].toCurrency();
///     });
///
/// \p read returning nothing gives a mox::Status; returning a mox::Status or a mox::Result
/// gives that type; returning a value T gives mox::Result<T>.
template <class Read> auto readFields(Read&& read)
{
    using Value = std::invoke_result_t<Read&>;
    using Out = std::conditional_t<
        std::is_void_v<Value>, mox::Status,
        std::conditional_t<std::is_constructible_v<Value, mox::Status>, Value, mox::Result<Value>>>;
    try {
        if constexpr (std::is_void_v<Value>) {
            read();
            return Out{};
        } else {
            return Out(read());
        }
    } catch (const DaoError& e) {
        return Out(mox::Status::failure(e.status(), QString::fromUtf8(e.what())));
    }
}

/// The folders searched, in this order, for "MOX.INI" and "MOXENV.INI": $MOX_INI_DIR, the
/// current folder (only when it is the user's own and neither group nor others may write in it:
/// a shared folder's files would take the user's work elsewhere), $XDG_CONFIG_HOME/mox (default
/// ~/.config/mox), /etc/mox. The first folder that
/// holds the file wins. After confineIniSearch(folder), that folder alone.
QStringList iniSearchFolders();

/// Makes \p folder the only place where this process looks for the configuration files; an
/// empty text gives the search above back. The administration tool's --dir uses it, so that a
/// command aimed at one folder never reaches a database configured somewhere else.
void confineIniSearch(const QString& folder);

/// The keys of one section of the configuration file \p path ("[Print]" of MOX.INI), read as
/// the [Database] section is: UTF-8 (with or without a byte order mark) or CP932, section and key
/// names without regard to case (keys come back in upper case), ";" and "#" comment lines, a
/// value double-quoted to keep blanks at its ends. Empty when the file has no such section;
/// nullopt when it cannot be read or is neither UTF-8 nor CP932.
std::optional<QHash<QString, QString>> readIniSection(const QString& path, QStringView section);

class Connection; // one open database; shared by the table objects that use it
enum class ColumnKind;

/// The open database handed to table objects (DBDatabase / DBWorkspace of the system).
using DatabaseHandle = std::shared_ptr<Connection>;

/// Where \p db leads, for messages: "SQLite <file path>" or "PostgreSQL サーバー <host>:<port>
/// のデータベース <name>" (the default server of libpq when the INI file names none).
QString databaseLocation(const DatabaseHandle& db);

/// The file of a SQLite database; empty for a PostgreSQL one.
QString sqliteDatabaseFile(const DatabaseHandle& db);

/// The SQLite file that the configuration file \p iniName ("MOX.INI") names, found and read as
/// DAO_DBOpen would, without opening or making it; empty for a PostgreSQL database or when the
/// file cannot be found or read.
QString configuredSqliteFile(const QString& iniName);

/// What the component has to tell the person at the desk, for a program to show. Tools and tests
/// may leave either unset.
struct Notices {
    /// A configuration problem worth a warning (an INI file that holds a password and that others
    /// may read), once per cause and process; it also goes to standard error.
    std::function<void(const QString& text)> warning;
    /// A database opened by DAO_DBOpen (each time, also when the connection is shared): the INI
    /// file name it was opened through ("MOX.INI") and its databaseLocation.
    std::function<void(const QString& iniName, const QString& location)> opened;
};

/// Installs \p notices for this process, replacing those installed before (empty ones: none).
void setNotices(Notices notices);

class clsTbAccess;

/// What a record was when it was read (every field), or that there was none: taken with
/// clsTbAccess::DAO_RecStamp, checked later with clsTbAccess::DAO_RecCheck.
class RecordStamp {
public:
    RecordStamp() = default; // no record
    bool isPresent() const { return m_present; }

private:
    friend class clsTbAccess;
    bool m_present = false;
    QString m_table;
    QVariantList m_values;
};

/// One field of the current record: read it, or assign to it while the record is being edited.
class FieldRef {
public:
    Currency toCurrency() const; // throws DaoError(-3) on NULL or a non-number
    int toInt() const;           // whole part; throws DaoError(-3) on NULL or a non-number
    QString toString() const;    // NULL reads as an empty text
    bool isNull() const;
    QVariant variant() const;

    FieldRef& operator=(Currency v);
    FieldRef& operator=(int v);
    FieldRef& operator=(const QString& v);

private:
    friend class Record;
    FieldRef(clsTbAccess* table, QString name, int column = -1)
        : m_table(table), m_name(std::move(name)), m_column(column)
    {
    }
    const QVariant& value(ColumnKind* kind) const;
    clsTbAccess* m_table;
    QString m_name;
    int m_column; // the field's position in the open table, or -1: found by its name
};

/// The current record (TBRec): fields by name, the lower-case "kmzoge" included.
class Record {
public:
    FieldRef operator[](QStringView field) const { return FieldRef(m_table, field.toString()); }
    /// The field at \p column, a position clsTbAccess::DAO_FieldIndex gave for the table open
    /// now: a walk of many records finds each field once instead of by its name every time.
    FieldRef field(int column) const;

private:
    friend class clsTbAccess;
    explicit Record(clsTbAccess* table) : m_table(table) {}
    clsTbAccess* m_table;
};

class clsDbAccess {
public:
    clsDbAccess();
    ~clsDbAccess();
    clsDbAccess(const clsDbAccess&) = delete;
    clsDbAccess& operator=(const clsDbAccess&) = delete;

    /// The configuration file that locates the database: "MOX.INI" or "MOXENV.INI".
    void setDBIniNameString(const QString& name) { m_iniName = name; }
    const QString& DBIniNameString() const { return m_iniName; }

    /// Finds the INI file, reads its [Database] section and opens the database. 0, or -20 (INI
    /// file, SQLite file or PostgreSQL database missing), -18 (a key missing or wrong: Database=,
    /// Port=, LockTimeout=, StatementTimeout=, SslMode=, ChannelBinding=, a certificate path),
    /// -1 (no [Database], unknown driver, not a database, server refused; a refused encrypted
    /// connection names the host and the reason).
    short DAO_DBOpen();
    /// Releases the database; a transaction still open on it is rolled back when no other
    /// database object of the process shares the connection. Always 0.
    short DAO_DBClose();

    DatabaseHandle DBDatabase() const { return m_conn; }
    DatabaseHandle DBWorkspace() const { return m_conn; }

    /// The text of the last failure (names the cause: file, key, driver message).
    const QString& lastError() const { return m_lastError; }

    /// When set, DAO_DBOpen creates a missing SQLite file (and its folder) or a missing
    /// PostgreSQL database instead of failing with -20. Only the administration tool sets it.
    void setCreateIfMissing(bool create) { m_createIfMissing = create; }
    /// When cleared, a PostgreSQL statement may run longer than StatementTimeout= (lock waits
    /// stay bounded). The administration tool clears it for its long bulk work.
    void setStatementLimit(bool limit) { m_statementLimit = limit; }
    /// Every DAO_DBOpen of the same database in a process shares one connection (and its
    /// table catalogue and prepared statements), so its transaction is theirs too. When set,
    /// DAO_DBOpen makes a connection of its own instead: a second desk in one process (tests).
    void setPrivateConnection(bool own) { m_private = own; }

private:
    bool m_createIfMissing = false;
    bool m_private = false;
    bool m_statementLimit = true;
    QString m_iniName;
    DatabaseHandle m_conn;
    QString m_lastError;
};

class clsTbAccess {
public:
    clsTbAccess();
    ~clsTbAccess();
    clsTbAccess(const clsTbAccess&) = delete;
    clsTbAccess& operator=(const clsTbAccess&) = delete;

    void setTBDatabase(DatabaseHandle db);
    void setTBWorkspace(DatabaseHandle ws);
    void setTBNameString(const QString& name) { m_tableName = name; }
    const QString& TBNameString() const { return m_tableName; }

    /// Opens the record set. Result 0 or more: the number of records; negative: a status.
    int DAO_TableOpen(const QString& filter, const QString& sort);
    /// Forgets the record set (a pending Edit/AddNew is dropped). Always 0.
    short DAO_TableClose();
    /// 1 = first record, 2 = next. 0 = positioned on a record; -9 at the end.
    short DAO_RecRead(short mode);
    /// Makes current the first record, in sort order, of the open record set that also meets
    /// \p criteria. 0 = found; -8 = none; another negative value = failure. \p mode is always 1.
    short DAO_RecFind(short mode, const QString& criteria);

    /// The current record. Reading a field throws DaoError(-3) when there is no current record,
    /// the field does not exist, or a number is asked of a NULL or a text; assigning throws
    /// DaoError(-23) unless DAO_Edit or DAO_AddNew opened the record for writing. A record a
    /// quick walk of finds served by its key alone is read whole at its first field read; when
    /// another desk deleted it in between, the read throws DaoError(kRecordChanged).
    Record TBRec() { return Record(this); }
    /// The position of \p field in the open table, for TBRec().field(); -1 when no table is
    /// open or it has no such field (matched as TBRec()[] matches it).
    int DAO_FieldIndex(const QString& field) const;

    /// Opens the current record for writing (-11 without one). The flag has no meaning.
    short DAO_Edit(bool flag);
    /// Starts a new record: fields not assigned take the table's defaults (0, or NULL for texts).
    short DAO_AddNew(bool flag);
    /// Stores the fields assigned since DAO_Edit/DAO_AddNew. -12 when nothing was opened for
    /// writing or a value does not suit its field; kRecordChanged when the record edited was
    /// changed or deleted by another connection since it was read, or a new record's key
    /// exists already. After an edit the current record shows the stored values; after an add
    /// it is unchanged. The database's triggers write the audit row in the same transaction
    /// (on SQLite a transaction of its own when none is open, so that the row names the writer).
    short DAO_Update();
    /// Removes the current record (-13 without one); reading on continues after it.
    /// kRecordChanged when another connection changed or deleted it since it was read.
    short DAO_Delete(bool flag);

    /// What the last read or find gave: the current record with every field as read, or no
    /// record when the last DAO_RecFind found none.
    RecordStamp DAO_RecStamp() const;
    /// Compares what the last read or find gave with \p stamp, taken earlier: 0 when it is the
    /// same record with every field unchanged, or still no record; kRecordChanged (lastError
    /// says which) when the record changed, vanished or appeared meanwhile; -7 without a
    /// record set. Called inside a write transaction after finding the record again, it makes
    /// a save of what was read long before safe: DAO_Update and DAO_Delete then write only
    /// while the record stays as found.
    short DAO_RecCheck(const RecordStamp& stamp);
    /// Begins a transaction on the connection the table uses (-15 when one is already open):
    /// nothing written is visible to other connections before DAO_CommitTrans. On SQLite it
    /// takes the write lock at once, waiting up to the lock timeout (then kLockTimeout).
    short DAO_BeginTrans();
    /// Commits (-16 when none is open or the commit fails; a failed commit is rolled back).
    /// When the connection to the server is lost during the commit, the records this
    /// transaction wrote through DAO_Update and DAO_Delete are read back on a new connection:
    /// as written gives 0 (the server committed; DAO_CommitLoss() is Saved and lastError says
    /// so), as they were before gives kConnectionLost (NotSaved), and when it cannot be told
    /// kConnectionLost with lastError saying it is unknown whether it was saved (Unknown).
    short DAO_CommitTrans();
    /// How the last DAO_CommitTrans on this table's connection ended if the connection was lost
    /// during it; CommitLoss::None when it was not.
    CommitLoss DAO_CommitLoss() const;
    /// Undoes the open transaction of the connection: 0, or kRollbackFailed (-17) when it
    /// cannot. With none open it gives -17 too ("トランザクションが開始されていません。"),
    /// except right after a commit that failed: that commit undid its own transaction, so the
    /// result is 0 and lastError still names the commit's failure.
    short DAO_Rollback();

    const QString& lastError() const { return m_lastError; }

private:
    friend class FieldRef;
    friend class Record;
    short report(const mox::Status& s);
    short notOpen(short status);
    const QVariant& fieldValue(const QString& field, ColumnKind* kind);
    const QVariant& fieldValueAt(int column, const QString& field, ColumnKind* kind);
    QString fieldName(int column) const;
    void assignField(const QString& field, QVariant value);

    struct Impl;
    std::unique_ptr<Impl> d;
    QString m_tableName;
    QString m_lastError;
};

/// A transaction, undone unless committed. It begins one on the connection of a database, or
/// joins the one already open there (then commit() and the destructor leave it to the code that
/// began it). It never commits by itself: leaving the scope without commit() undoes what it
/// began, so every early return of a failing write leaves the database as it was.
///
///     KorDAO::Transaction tx(db.DBDatabase());
///     if (!tx.started())
///         return tx.status();                 // -15, kLockTimeout, kConnectionLost …
///     if (mox::Status s = writeRows(); !s.ok())
///         return s;                           // the destructor rolls back
///     return tx.commit();                     // 0, -16, kConnectionLost …
///
/// Made from a clsTbAccess, it works through DAO_BeginTrans, DAO_CommitTrans and DAO_Rollback
/// of that table: it never joins (-15 when one is open), the statuses are theirs, and the
/// table's lastError() names the cause.
class Transaction {
public:
    explicit Transaction(DatabaseHandle db);
    explicit Transaction(clsTbAccess& table);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    /// Begun or joined: writes may go on.
    bool started() const { return m_status.ok(); }
    /// An open transaction was joined: commit() and rollback() leave it alone.
    bool joined() const { return m_joined; }
    /// Why it did not start (ok when it did).
    const mox::Status& status() const { return m_status; }
    /// Commits what it began: 0, or the status of DAO_CommitTrans (-16, kConnectionLost …; a
    /// commit that fails is undone). Joined: 0, and nothing is done. Not started, or ended
    /// already: -16.
    mox::Status commit();
    /// Undoes what it began now; nothing when joined or ended. The status of DAO_Rollback.
    mox::Status rollback();

private:
    DatabaseHandle m_db;
    clsTbAccess* m_table = nullptr;
    mox::Status m_status;
    bool m_joined = false;
    bool m_open = false; // begun here and not yet committed or undone
};

/// The statements this process has sent to its databases so far: reads, writes, transaction
/// control, preparing a statement on the server and the set-up of a connection. Over a network
/// each is a round trip; benchmarks and tests divide it by the operations they run.
qint64 statementsSent();
/// The connections this process has opened to its databases so far.
qint64 connectionsOpened();

/// Rolls back the open transaction of every connection of this process. The programs register it
/// as a before-end hook of the shell, so that ending at once never leaves a half-made change.
void rollbackAllOpenTransactions();

} // namespace KorDAO
