#include "tablecursor.h"

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Batches grow from a few records (a find, one employee's year) to this many (a whole table).
constexpr int kFirstBatch = 32;
constexpr int kMaxBatch = 1024;
// Values of the leading sort field fetched ahead by one statement of a find walk: from a few,
// doubling while the walk goes on, up to this many.
constexpr int kFirstAhead = 16;
constexpr int kMaxAhead = 1024;
// Finds further apart than this are not a walk: each reads afresh.
constexpr std::chrono::milliseconds kWalkPause{500};
// Records fetched ahead serve a walk for this long; older ones are fetched again first, so that
// a slow walk does not give what another desk changed or deleted long ago.
constexpr std::chrono::milliseconds kAheadFresh{1000};

const mox::Status kOk{0, {}};

} // namespace

mox::Status TableCursor::open(const QString& table, const QString& filter, const QString& sort)
{
    if (table.isEmpty())
        return {kTableMissing, u"テーブル名 (TBNameString) が指定されていません。"_s};
    mox::Result<std::shared_ptr<const TableInfo>> info = m_db->table(table);
    if (const mox::Status* failure = mox::failure(info))
        return {kTableMissing, failure->message};
    m_info = std::move(mox::value(info));
    mox::Result<SqlCondition> where = parseCondition(filter, *m_info);
    if (const mox::Status* failure = mox::failure(where))
        return {kBadCondition,
                u"テーブル %1 の抽出条件「%2」: %3"_s.arg(table, filter, failure->message)};
    mox::Result<std::vector<SortKey>> keys = parseSort(sort, *m_info);
    if (const mox::Status* failure = mox::failure(keys))
        return {kBadCondition,
                u"テーブル %1 の並び順「%2」: %3"_s.arg(table, sort, failure->message)};
    m_filter = std::move(mox::value(where));
    m_keys = std::move(mox::value(keys));
    auto present = [this](int column) {
        for (const SortKey& k : m_keys)
            if (k.column == column)
                return true;
        return false;
    };
    if (m_info->rowAddress >= 0) {
        m_keys.push_back({m_info->rowAddress, false});
    } else {
        for (int column : m_info->primaryKey)
            if (!present(column))
                m_keys.push_back({column, false});
    }

    m_select = m_info->selectAll;
    m_orderBy = orderBy();

    // A whole table made by createTable has its count kept.
    std::vector<Connection::Row> rows;
    if (m_filter.sql.isEmpty() && m_info->counted) {
        const QString countSql = u"SELECT \"N\" FROM "_s +
                                 Connection::quote(QString::fromUtf16(kRowCountTable)) +
                                 u" WHERE \"NAME\" = ?"_s;
        const mox::Status s = m_db->select(countSql, {m_info->name}, &rows);
        if (!s.ok() || rows.empty())
            return {m_db->statusOf(kBadCondition), u"テーブル %1: %2"_s.arg(table, s.message)};
        m_count = rows.front().front().toLongLong();
        return kOk;
    }
    // Anything else is counted, in the statement that also fetches the first records, which the
    // first read then takes instead of asking again.
    const QString filtered = Connection::quote(m_info->name) +
                             (m_filter.sql.isEmpty() ? QString() : u" WHERE "_s + m_filter.sql);
    const QString sql = u"SELECT "_s + m_info->columnList + u", (SELECT COUNT(*) FROM "_s +
                        filtered + u") FROM "_s + filtered + u" ORDER BY "_s + m_orderBy +
                        u" LIMIT ?"_s;
    QVariantList binds = m_filter.binds;
    binds << m_filter.binds << kFirstBatch;
    if (mox::Status s = m_db->select(sql, binds, &rows); !s.ok())
        return {m_db->statusOf(kBadCondition), u"テーブル %1: %2"_s.arg(table, s.message)};
    m_count = rows.empty() ? 0 : rows.front().back().toLongLong();
    for (Connection::Row& r : rows)
        r.pop_back();
    m_openBatchIsLast = int(rows.size()) < kFirstBatch;
    m_openBatch = std::move(rows);
    m_openBatchAt = std::chrono::steady_clock::now();
    m_hasOpenBatch = true;
    return kOk;
}

QString TableCursor::columnSql(int column) const
{
    if (column == m_info->rowAddress)
        return m_db->engine().rowAddressCompared();
    return Connection::quote(m_info->columns[std::size_t(column)].name);
}

QString TableCursor::orderBy() const
{
    QString sql;
    for (const SortKey& k : m_keys) {
        if (!sql.isEmpty())
            sql += u", "_s;
        sql += columnSql(k.column);
        if (k.descending)
            sql += u" DESC"_s;
        // NULL sorts first in ascending order on both engines.
        const ColumnInfo& c = m_info->columns[std::size_t(k.column)];
        if (!c.notNull)
            sql += m_db->engine().nullsFirst(k.descending);
    }
    return sql;
}

// The records whose key comes after \p last (the key values, in the order of m_keys).
void TableCursor::keysetAfter(const Row& last, SqlCondition* out) const
{
    bool simple = true;
    for (const SortKey& k : m_keys) {
        if (!m_info->columns[std::size_t(k.column)].notNull ||
            k.descending != m_keys.front().descending)
            simple = false;
    }
    if (simple) {
        // One row-value comparison, which both engines turn into an index range.
        QString lhs;
        QString rhs;
        for (std::size_t i = 0; i < m_keys.size(); ++i) {
            lhs += (lhs.isEmpty() ? QString() : u", "_s) + columnSql(m_keys[i].column);
            rhs += rhs.isEmpty() ? u"?"_s : u", ?"_s;
            out->binds.push_back(last[i]);
        }
        const QString op = m_keys.front().descending ? u" < "_s : u" > "_s;
        out->sql = m_keys.size() == 1 ? lhs + op + rhs
                                      : u"("_s + lhs + u")"_s + op + u"("_s + rhs + u")"_s;
        return;
    }
    // Mixed directions or NULLs: after = equal on the first i keys and after on key i.
    QString sql;
    for (std::size_t i = 0; i < m_keys.size(); ++i) {
        QString term;
        for (std::size_t j = 0; j < i; ++j) {
            const QVariant& v = last[j];
            const QString c = columnSql(m_keys[j].column);
            if (isSqlNull(v)) {
                term += c + u" IS NULL AND "_s;
            } else {
                term += c + u" = ? AND "_s;
                out->binds.push_back(v);
            }
        }
        const SortKey& k = m_keys[i];
        const QVariant& v = last[i];
        const QString c = columnSql(k.column);
        if (!k.descending) {
            if (isSqlNull(v)) {
                term += c + u" IS NOT NULL"_s;
            } else {
                term += c + u" > ?"_s;
                out->binds.push_back(v);
            }
        } else if (isSqlNull(v)) {
            term += u"1 = 0"_s; // nothing follows a NULL in descending order
        } else {
            term += u"("_s + c + u" < ? OR "_s + c + u" IS NULL)"_s;
            out->binds.push_back(v);
        }
        sql += (sql.isEmpty() ? u"("_s : u" OR ("_s) + term + u")"_s;
    }
    out->sql = u"("_s + sql + u")"_s;
}

mox::Status TableCursor::fetch(const Row* after, const SqlCondition* extra, int limit)
{
    m_batch.clear();
    m_next = 0;
    QString where;
    QVariantList binds;
    auto add = [&](const SqlCondition& c) {
        if (c.sql.isEmpty())
            return;
        where += (where.isEmpty() ? u" WHERE ("_s : u" AND ("_s) + c.sql + u")"_s;
        binds += c.binds;
    };
    add(m_filter);
    if (extra)
        add(*extra);
    if (after) {
        SqlCondition keyset;
        keysetAfter(*after, &keyset);
        add(keyset);
    }
    const QString sql = m_select + where + u" ORDER BY "_s + m_orderBy + u" LIMIT ?"_s;
    binds.push_back(limit);
    if (mox::Status s = m_db->select(sql, binds, &m_batch); !s.ok())
        return {m_db->statusOf(kBadCondition), u"テーブル %1: %2"_s.arg(m_info->name, s.message)};
    m_batchIsLast = int(m_batch.size()) < limit;
    return kOk;
}

void TableCursor::rememberPosition()
{
    m_position.clear();
    for (const SortKey& k : m_keys)
        m_position.push_back(m_current[std::size_t(k.column)]);
}

mox::Status TableCursor::first()
{
    cancelEdit();
    m_hasCurrent = false;
    m_hasPosition = false;
    m_lastFindMissed = false;
    m_batchSize = kFirstBatch;
    // The first read right after the open takes the records the open fetched.
    if (m_hasOpenBatch && std::chrono::steady_clock::now() - m_openBatchAt < kWalkPause) {
        m_hasOpenBatch = false;
        m_batch = std::move(m_openBatch);
        m_next = 0;
        m_batchIsLast = m_openBatchIsLast;
        return next();
    }
    m_hasOpenBatch = false;
    if (mox::Status f = fetch(nullptr, nullptr, m_batchSize); !f.ok())
        return f;
    return next();
}

mox::Status TableCursor::next()
{
    cancelEdit();
    // Reading goes on after the record a find walk served by its value: its key is needed.
    if (m_currentIsValueOnly && m_hasCurrent) {
        if (mox::Status f = completeCurrent(); !f.ok())
            return f;
    }
    if (m_next >= m_batch.size() && !m_batchIsLast) {
        if (!m_hasPosition)
            return first();
        m_batchSize = std::min(m_batchSize * 2, kMaxBatch);
        if (mox::Status f = fetch(&m_position, nullptr, m_batchSize); !f.ok())
            return f;
    }
    if (m_next >= m_batch.size()) {
        m_hasCurrent = false;
        return {kEndOfRecords, u"テーブル %1 の終わりです。"_s.arg(m_info->name)};
    }
    m_current = std::move(m_batch[m_next++]);
    m_currentIsKeyOnly = false;
    m_currentIsValueOnly = false;
    rememberPosition();
    m_hasCurrent = true;
    m_hasPosition = true;
    m_lastFindMissed = false;
    return kOk;
}

mox::Status TableCursor::find(const QString& criteria)
{
    cancelEdit();
    m_hasOpenBatch = false;
    if (criteria.trimmed().isEmpty())
        return {kBadCondition, u"テーブル %1: 検索条件が空です。"_s.arg(m_info->name)};
    mox::Result<SqlCondition> parsed = parseCondition(criteria, *m_info);
    if (const mox::Status* failure = mox::failure(parsed))
        return {kBadCondition, u"テーブル %1 の検索条件「%2」: %3"_s.arg(m_info->name, criteria,
                                                                         failure->message)};
    const SqlCondition& cond = mox::value(parsed);
    const std::optional<qlonglong> key = leadingKeyValue(cond);
    const auto now = std::chrono::steady_clock::now();
    // A walk: the third quick find in a row of ascending values (two finds may be anything).
    const bool ascending =
        key && m_lastFindKey && *key > *m_lastFindKey && now - m_lastFindAt < kWalkPause;
    m_walkLength = ascending ? m_walkLength + 1 : 0;
    m_lastFindKey = key;
    m_lastFindAt = now;
    if (m_walkLength >= 2) {
        const bool covered = m_ahead && *key <= m_ahead->through;
        if (covered && now - m_ahead->at <= kAheadFresh)
            return serveFind(*key, criteria);
        // Walked past what was fetched: fetch more values at once. Fetched too long ago: the
        // same number again from here, as they are now.
        if (!covered)
            m_aheadSize = m_aheadSize == 0 ? kFirstAhead : std::min(m_aheadSize * 2, kMaxAhead);
        if (mox::Status f = fetchAhead(*key, m_aheadSize); !f.ok())
            return f;
        return serveFind(*key, criteria);
    }
    m_ahead.reset();
    m_aheadSize = 0;
    m_walkUsesRecords = false;
    std::vector<Row> keep = std::move(m_batch);
    const std::size_t keepNext = m_next;
    const bool keepLast = m_batchIsLast;
    mox::Status f = fetch(nullptr, &cond, 1);
    if (f.code == 0 && m_batch.empty())
        f = {kNoRecord,
             u"テーブル %1 に「%2」のレコードはありません。"_s.arg(m_info->name, criteria)};
    if (!f.ok()) {
        // Not found: the current record and the walk stay where they were.
        m_lastFindMissed = true;
        m_batch = std::move(keep);
        m_next = keepNext;
        m_batchIsLast = keepLast;
        return f;
    }
    return found(std::move(m_batch.front()));
}

// Makes \p row, found by a find, the current record; reading goes on after it.
mox::Status TableCursor::found(Row row)
{
    m_current = std::move(row);
    m_currentIsKeyOnly = false;
    m_currentIsValueOnly = false;
    m_batch.clear();
    m_next = 0;
    m_batchIsLast = false;
    m_batchSize = kFirstBatch;
    rememberPosition();
    m_hasCurrent = true;
    m_hasPosition = true;
    m_lastFindMissed = false;
    return kOk;
}

// The value of a criterion that is exactly "<leading sort field> = <whole number>", when the
// record set is ordered on that field ascending and the field is a code that cannot be NULL.
std::optional<qlonglong> TableCursor::leadingKeyValue(const SqlCondition& criteria) const
{
    if (m_keys.empty() || m_keys.front().descending || m_info->rowAddress >= 0 ||
        criteria.binds.size() != 1)
        return std::nullopt;
    const int column = m_keys.front().column;
    const ColumnInfo& c = m_info->columns[std::size_t(column)];
    if (c.kind != ColumnKind::Integer || !c.notNull ||
        criteria.sql != columnSql(column) + u" = ?"_s)
        return std::nullopt;
    bool ok = false;
    const qlonglong v = criteria.binds.front().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

// The statement of fetchAhead: the \p fetched columns (all of them unless \p keyOnly) of the first
// record of each of the next \p values values of the leading field from \p from on; its values go
// to \p binds.
QString TableCursor::fetchAheadSql(const std::vector<int>& fetched, bool keyOnly, bool valueOnly,
                                   qlonglong from, int values, QVariantList* binds) const
{
    const QString key = columnSql(m_keys.front().column);
    const QString table = Connection::quote(m_info->name);
    const QString filter = m_filter.sql.isEmpty() ? QString() : u" AND ("_s + m_filter.sql + u')';
    QString columns;
    for (int column : fetched)
        columns += (columns.isEmpty() ? QString() : u", "_s) + columnSql(column);
    QString pk;
    for (int column : m_info->primaryKey)
        pk += (pk.isEmpty() ? QString() : u", "_s) + columnSql(column);
    const auto firstAfter = [&](const QString& selected, const QString& op, const QString& bound) {
        return u"SELECT "_s + selected + u" FROM "_s + table + u" WHERE "_s + key + op + bound +
               filter + u" ORDER BY "_s + m_orderBy + u" LIMIT 1"_s;
    };
    QString sql;
    if (keyOnly && !valueOnly) {
        // Keys from the index (PostgreSQL): in key order, the first record whose leading field is
        // above the last one found is the first record of the next value, so each value costs one
        // index seek.
        QString names;
        for (std::size_t i = 0; i < fetched.size(); ++i)
            names += u", kordao_c"_s + QString::number(i);
        sql = u"WITH RECURSIVE kordao_keys(kordao_n"_s + names +
              u") AS ((SELECT 1, kordao_first.* FROM ("_s + firstAfter(columns, u" >= "_s, u"?"_s) +
              u") AS kordao_first) UNION ALL SELECT kordao_keys.kordao_n + 1, kordao_next.* FROM "
              "kordao_keys CROSS JOIN LATERAL ("_s +
              firstAfter(columns, u" > "_s, u"kordao_keys.kordao_c0"_s) +
              u") AS kordao_next WHERE kordao_keys.kordao_n < ?) SELECT "_s + names.mid(2) +
              u" FROM kordao_keys ORDER BY kordao_n"_s;
        *binds << from << m_filter.binds << m_filter.binds << values;
    } else {
        // SQLite: the values, the least one from \p from on and then each next one; then the
        // first record of each (or its sort and key fields), sought by its key.
        sql = u"WITH RECURSIVE kordao_keys(kordao_k, kordao_n) AS (SELECT (SELECT MIN("_s + key +
              u") FROM "_s + table + u" WHERE "_s + key + u" >= ?"_s + filter + u"), 1"_s;
        *binds << from << m_filter.binds;
        sql += u" UNION ALL SELECT (SELECT MIN("_s + key + u") FROM "_s + table + u" WHERE "_s +
               key + u" > kordao_keys.kordao_k"_s + filter +
               u"), kordao_n + 1 FROM kordao_keys WHERE kordao_k IS NOT NULL AND kordao_n < ?)"_s;
        *binds << m_filter.binds << values;
        if (valueOnly) {
            sql += u" SELECT kordao_k FROM kordao_keys WHERE kordao_k IS NOT NULL"
                   " ORDER BY kordao_n"_s;
        } else {
            sql += u" SELECT "_s + m_info->columnList + u" FROM kordao_keys JOIN "_s + table +
                   u" ON ("_s + pk + u") = ("_s +
                   firstAfter(pk, u" = "_s, u"kordao_keys.kordao_k"_s) +
                   u") ORDER BY kordao_keys.kordao_n"_s;
            *binds << m_filter.binds;
        }
    }
    return sql;
}

// The first record, in sort order, of each of the next \p values values of the leading field
// from \p from on, among the records of the set: one index seek per value, in one statement.
// Until the walk uses a record it served, only keys are fetched (a list that asks whether each
// value has records decodes nothing more): an engine whose index holds the sort and key fields
// (PostgreSQL) fetches those; otherwise (SQLite) the values alone come from the smallest index
// that leads with the field, never touching the table, and a record served so is sought by its
// value when used. From the first record used on, the walk fetches whole records.
mox::Status TableCursor::fetchAhead(qlonglong from, int values)
{
    m_ahead.reset();
    const bool keyOnly = !m_walkUsesRecords;
    const bool valueOnly = keyOnly && !m_db->engine().walkFetchesKeysFirst();
    std::vector<int> fetched;
    for (const SortKey& k : m_keys)
        fetched.push_back(k.column);
    for (int column : m_info->primaryKey)
        if (std::find(fetched.begin(), fetched.end(), column) == fetched.end())
            fetched.push_back(column);
    if (valueOnly)
        fetched.resize(1);
    QVariantList binds;
    const QString sql = fetchAheadSql(fetched, keyOnly, valueOnly, from, values, &binds);
    std::vector<Row> rows;
    // The age of what is fetched counts from before the statement is sent.
    const auto at = std::chrono::steady_clock::now();
    if (mox::Status s = m_db->select(sql, binds, &rows); !s.ok())
        return {m_db->statusOf(kBadCondition), u"テーブル %1: %2"_s.arg(m_info->name, s.message)};
    FindAhead ahead;
    ahead.keyOnly = keyOnly;
    ahead.valueOnly = valueOnly;
    ahead.at = at;
    if (keyOnly) {
        for (Row& r : rows) {
            Row spread(m_info->columns.size());
            for (std::size_t i = 0; i < fetched.size(); ++i)
                spread[std::size_t(fetched[i])] = std::move(r[i]);
            r = std::move(spread);
        }
    }
    const std::size_t column = std::size_t(m_keys.front().column);
    // Fewer values than asked for: none is left after the last one.
    ahead.through = int(rows.size()) < values ? std::numeric_limits<qlonglong>::max()
                                              : rows.back()[column].toLongLong();
    for (Row& r : rows) {
        const qlonglong v = r[column].toLongLong();
        ahead.first.emplace(v, std::move(r));
    }
    m_ahead = std::move(ahead);
    return kOk;
}

// A find answered from the values fetched ahead: the record becomes current as DAO_RecFind
// makes it, or -8 leaves the current record and the walk where they were.
mox::Status TableCursor::serveFind(qlonglong key, const QString& criteria)
{
    const auto it = m_ahead->first.find(key);
    if (it == m_ahead->first.end()) {
        m_lastFindMissed = true;
        return {kNoRecord,
                u"テーブル %1 に「%2」のレコードはありません。"_s.arg(m_info->name, criteria)};
    }
    mox::Status f = found(it->second);
    m_currentIsKeyOnly = m_ahead->keyOnly;
    m_currentIsValueOnly = m_ahead->valueOnly;
    return f;
}

// A record served by a find walk holds only its key until it is used: the walk's values are
// then fetched again from it on, whole, so a walk that reads its records costs one statement
// more, not one per record. The record deleted meanwhile by another desk gives kRecordChanged.
// One served by its value alone becomes the first record with that value as it is now; none left
// gives kRecordChanged too.
mox::Status TableCursor::completeCurrent()
{
    if (!m_currentIsKeyOnly || !m_hasCurrent)
        return kOk;
    const bool valueOnly = m_currentIsValueOnly;
    const auto same = [this, valueOnly](const Row& row) {
        if (valueOnly)
            return true;
        for (int column : m_info->primaryKey)
            if (row[std::size_t(column)] != m_current[std::size_t(column)])
                return false;
        return true;
    };
    const auto deleted = [this] {
        return mox::Status{
            kRecordChanged,
            u"テーブル %1 のレコードは、検索の後に他の端末で削除されました。"_s.arg(m_info->name)};
    };
    const auto complete = [this](Row row) {
        m_current = std::move(row);
        m_currentIsKeyOnly = false;
        m_currentIsValueOnly = false;
        rememberPosition();
        return kOk;
    };
    const QVariant value = m_current[std::size_t(m_keys.front().column)];
    if (m_ahead && m_ahead->keyOnly) {
        const qlonglong key = value.toLongLong();
        m_walkUsesRecords = true;
        if (mox::Status f = fetchAhead(key, m_aheadSize); !f.ok())
            return f;
        const auto it = m_ahead->first.find(key);
        if (it != m_ahead->first.end() && same(it->second))
            return complete(it->second);
        if (valueOnly)
            return deleted();
    }
    if (valueOnly) {
        const SqlCondition first{columnSql(m_keys.front().column) + u" = ?"_s, {value}};
        if (mox::Status f = fetch(nullptr, &first, 1); !f.ok())
            return f;
        if (m_batch.empty())
            return deleted();
        Row row = std::move(m_batch.front());
        m_batch.clear();
        m_batchIsLast = false;
        return complete(std::move(row));
    }
    QString where;
    QVariantList binds;
    identity(m_current, &where, &binds);
    std::vector<Row> rows;
    if (mox::Status s = m_db->select(m_select + u" WHERE "_s + where, binds, &rows); !s.ok())
        return {m_db->statusOf(kBadCondition), u"テーブル %1: %2"_s.arg(m_info->name, s.message)};
    if (rows.empty())
        return {
            kRecordChanged,
            u"テーブル %1 のレコードは、検索の後に他の端末で削除されました。"_s.arg(m_info->name)};
    return complete(std::move(rows.front()));
}

const std::vector<QVariant>* TableCursor::lastFound(mox::Status* failure)
{
    if (!m_hasCurrent || m_lastFindMissed)
        return nullptr;
    if (mox::Status f = completeCurrent(); !f.ok()) {
        if (failure)
            *failure = f;
        return nullptr;
    }
    return &m_current;
}

const QVariant* TableCursor::value(const QString& field, ColumnKind* kind, mox::Status* failure)
{
    return valueAt(m_info->find(field), field, kind, failure);
}

const QVariant* TableCursor::valueAt(int column, const QString& field, ColumnKind* kind,
                                     mox::Status* failure)
{
    if (column < 0 || column >= int(m_info->columns.size()) || column == m_info->rowAddress) {
        *failure = {kFieldUnreadable,
                    u"テーブル %1 に項目「%2」はありません。"_s.arg(m_info->name, field)};
        return nullptr;
    }
    const ColumnInfo& c = m_info->columns[std::size_t(column)];
    *kind = c.kind;
    if (m_mode != Mode::Browse) {
        if (m_assigned[column])
            return &m_pendingValues[std::size_t(column)];
        if (m_mode == Mode::AddNew) {
            // A new record holds the defaults of the table until it is stored.
            static const QVariant zero(qlonglong(0));
            static const QVariant null;
            return c.kind == ColumnKind::Text ? &null : &zero;
        }
    }
    if (!m_hasCurrent) {
        *failure = {kFieldUnreadable,
                    u"テーブル %1 にカレントレコードがありません。"_s.arg(m_info->name)};
        return nullptr;
    }
    if (mox::Status f = completeCurrent(); !f.ok()) {
        // A record found by a walk and deleted by another desk before it was read is reported
        // as changed meanwhile, as a write of it would be; so is a lost connection or lock
        // wait. Any other failure to read it is the field's.
        *failure = {isTransient(f.code) ? f.code : kFieldUnreadable, f.message};
        return nullptr;
    }
    return &m_current[std::size_t(column)];
}

} // namespace KorDAO
