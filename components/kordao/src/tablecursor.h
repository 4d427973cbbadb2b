#pragma once

// TableCursor: an open record set of one table, walked in sort order without loading it.
//
// The set is the table's records that meet the filter, ordered by the sort fields and then by the
// primary key (or the row address of a table without one), so the order is total. Reads fetch
// batches: each batch is the next few records whose key comes after the key of the record read
// last ("keyset" paging), so memory stays small whatever the table's size and a record written
// or deleted meanwhile never makes the walk skip or repeat another.

#include "connection.h"
#include "criteria.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace KorDAO {

class TableCursor {
public:
    explicit TableCursor(DatabaseHandle db) : m_db(std::move(db)) {}

    /// Parses filter and sort and counts the records. Nothing is executed when a text is
    /// malformed (-66); -2 for a missing table.
    mox::Status open(const QString& table, const QString& filter, const QString& sort);
    qint64 count() const { return m_count; }

    mox::Status first();
    mox::Status next();
    /// The first record in sort order that meets the filter and \p criteria (-8: none).
    mox::Status find(const QString& criteria);

    /// The value of \p field in the record being written, else in the current record. nullptr
    /// (and \p failure) when there is no current record or no such field (-3), or when a record
    /// a find walk served by its key alone was deleted before it was read (kRecordChanged).
    const QVariant* value(const QString& field, ColumnKind* kind, mox::Status* failure);
    /// The same for the field at \p column of info() (named \p field in a failure).
    const QVariant* valueAt(int column, const QString& field, ColumnKind* kind,
                            mox::Status* failure);

    mox::Status edit();
    mox::Status addNew();
    mox::Status assign(const QString& field, QVariant value);
    /// Stores the record being written. An edit is stored only while the record is still as it
    /// was read (kRecordChanged otherwise); an add whose key exists gives kRecordChanged.
    mox::Status update();
    /// Deletes the current record while it is still as it was read (kRecordChanged otherwise).
    mox::Status remove();
    void cancelEdit();

    /// What the last read or find gave: the current record, or nullptr when the last find
    /// found none (or nothing was read yet), or when reading it failed (\p failure says why).
    const std::vector<QVariant>* lastFound(mox::Status* failure = nullptr);
    const TableInfo& info() const { return *m_info; }

private:
    using Row = std::vector<QVariant>;
    enum class Mode { Browse, Edit, AddNew };

    void startWriting(Mode mode);
    const QString& writeSql(Mode mode);
    mox::Status fetch(const Row* after, const SqlCondition* extra, int limit);
    QString orderBy() const;
    void rememberPosition();
    void keysetAfter(const Row& last, SqlCondition* out) const;
    QString columnSql(int column) const;
    void identity(const Row& row, QString* where, QVariantList* binds) const;
    void asRead(const Row& row, QString* where, QVariantList* binds) const;
    std::optional<qlonglong> leadingKeyValue(const SqlCondition& criteria) const;
    mox::Status fetchAhead(qlonglong from, int values);
    QString fetchAheadSql(const std::vector<int>& fetched, bool keyOnly, bool valueOnly,
                          qlonglong from, int values, QVariantList* binds) const;
    mox::Status serveFind(qlonglong key, const QString& criteria);
    mox::Status found(Row row);
    mox::Status completeCurrent();
    mox::Status writeFailure(short own, const QString& error) const;
    mox::Status beginWrite(short own, std::optional<Transaction>* tx);
    mox::Status changedMeanwhile() const;
    mox::Status finishWrite(std::optional<Transaction>& tx, mox::Status result);
    void rememberWritten(Mode mode);

    DatabaseHandle m_db;
    std::shared_ptr<const TableInfo> m_info;
    SqlCondition m_filter;
    std::vector<SortKey> m_keys; // sort fields, then the primary key; each column once
    QString m_select;            // SELECT <columns> FROM <table>
    QString m_orderBy;
    qint64 m_count = 0;

    std::vector<Row> m_batch; // records after the current one, already fetched
    std::size_t m_next = 0;   // index in m_batch of the record the next read makes current
    bool m_batchIsLast = false;
    int m_batchSize = 0;
    Row m_current;
    bool m_hasCurrent = false;
    bool m_currentIsKeyOnly = false;   // served by a find walk: only the sort and key fields
    bool m_currentIsValueOnly = false; // ... or only the value of the leading field
    Row m_position; // key of the record read last (current, or deleted since): reads go on after it
    bool m_hasPosition = false;
    bool m_lastFindMissed = false; // the last find found nothing

    // The first records, fetched by the open with the count, for the first read right after.
    std::vector<Row> m_openBatch;
    bool m_openBatchIsLast = false;
    bool m_hasOpenBatch = false;
    std::chrono::steady_clock::time_point m_openBatchAt;

    // A quick walk of finds of ascending values of the leading sort field ("SYOKCD = n", one
    // employee after another, as a list is filled) is served from one statement per many
    // values: the first record of each of the next values, fetched at once. What was fetched
    // serves only the walk going on, for a moment; any other find reads afresh.
    struct FindAhead {
        qlonglong through = 0;  // the last value covered
        bool keyOnly = false;   // the records hold only their sort and key fields
        bool valueOnly = false; // ... or only the value of the leading field (SQLite)
        std::chrono::steady_clock::time_point at; // when they were fetched
        std::map<qlonglong, Row> first;
    };
    std::optional<FindAhead> m_ahead;
    int m_aheadSize = 0;                    // values fetched by the last statement ahead
    bool m_walkUsesRecords = false;         // a record served was used: fetch records whole
    int m_walkLength = 0;                   // quick ascending finds in a row, after the first
    std::optional<qlonglong> m_lastFindKey; // the value of the last find on the leading field
    std::chrono::steady_clock::time_point m_lastFindAt;

    Mode m_mode = Mode::Browse;
    QByteArray m_assigned;                 // per column: 1 when assigned since Edit/AddNew
    std::vector<QVariant> m_pendingValues; // per column: the value as it is bound
    QByteArray m_writeKey;                 // m_assigned and the mode of m_writeSql
    QString m_writeSql;
};

} // namespace KorDAO
