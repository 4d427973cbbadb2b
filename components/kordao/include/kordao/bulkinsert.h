#pragma once

// BulkInsert: many new records of one table in one transaction, as fast as the engine allows.
// Meant for generated and loaded data (the data generator, the demo and tax table loaders),
// where AddNew/Update per record costs more than the insertion itself:
//
//     KorDAO::BulkInsert bulk(db.DBDatabase(), u"GKKYUYO"_s,
//                             {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s, u"KYURYO"_s});
//     for (const Pay& p : pays)
//         if (short st = bulk.addRow({p.code, 1, p.month, 1, QVariant::fromValue(p.salary)}))
//             return st;
//     return bulk.finish();
//
// Values are given in the order of the fields, as int, qlonglong, Currency or QString, and
// converted exactly as TBRec assignments are. Loaders of millions of records set the values of a
// row one by one instead, without building a list per row:
//
//     bulk.setInteger(0, p.code); ... bulk.setAmount(4, p.salary);
//     if (short st = bulk.addRow()) return st;
//
// While a BulkInsert is open on SQLite the table's record counter is kept once per load rather
// than once per record, and the page cache is enlarged; both are part of the transaction. Fields
// not named take their defaults. The records become visible to other connections at finish(); a
// BulkInsert destroyed before finish(), or a failing row, undoes every row added (when it began the
// transaction itself). When a transaction is already open on the connection, the rows join it and
// finish() does not commit.

#include "base/currency.h"
#include "kordao/kordao.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>

namespace KorDAO {

class BulkInsert {
public:
    /// How the records are audited. Summary: a load, one audit row for all of them (the insert
    /// triggers set aside). PerRecord: each record audited by the table's own triggers exactly as
    /// a record added by DAO_AddNew/DAO_Update, the writer named, the record counter kept by its
    /// triggers; for work that saves records as the programs do, many at a time.
    enum class Audit { Summary, PerRecord };

    BulkInsert(DatabaseHandle db, const QString& table, const QStringList& fields,
               Audit audit = Audit::Summary);
    ~BulkInsert();
    BulkInsert(const BulkInsert&) = delete;
    BulkInsert& operator=(const BulkInsert&) = delete;

    /// 0 when ready; -2 missing table or database, -66 unknown field, -15 no transaction.
    short status() const { return m_status; }
    const QString& lastError() const { return m_lastError; }

    /// Adds one record. 0, or -12 (a value the field cannot hold, a duplicate key, a failing
    /// engine): the transaction is then rolled back and every later call fails.
    short addRow(const QVariantList& values);
    /// The typed form: sets field \p field (its position in the list of fields) of the next row.
    /// A value the field cannot hold makes the following addRow() fail.
    void setInteger(int field, qlonglong value);
    void setAmount(int field, Currency value);
    void setText(int field, const QString& value);
    /// Adds the row whose every field was set since the last row. 0 or -12, as addRow(values).
    short addRow();

    /// Writes what is pending and commits (when the transaction is ours). 0, -12 or -16.
    short finish();

    /// Records added so far.
    qint64 rowCount() const { return m_rows; }

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    short m_status = 0;
    QString m_lastError;
    qint64 m_rows = 0;
};

/// Inside the open transaction of \p db, waits (up to the lock timeout: then kLockTimeout)
/// until no other connection holds the work named \p name, and holds it until the transaction
/// ends. So two runs of the same work that each read what is done and write the rest in
/// transactions of their own never both write the same thing. PostgreSQL: a transaction-level
/// advisory lock keyed by the name; SQLite: nothing more is needed, a write transaction holds
/// the whole database from its start.
mox::Status holdWorkLock(const DatabaseHandle& db, const QString& name);

/// Deletes every record of \p table at once (not record by record), keeping its record count
/// right. Inside an open transaction it joins it; otherwise it runs in its own. On failure
/// kTableMissing (missing table or database), kUpdateFailed (its own transaction then undone),
/// kBeginFailed or kCommitFailed, with the message.
mox::Status clearTable(const DatabaseHandle& db, const QString& table);

} // namespace KorDAO
