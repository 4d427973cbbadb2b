#include "moxdb/database.h"

#include "kordao/schema.h"

#include <algorithm>
#include <cassert>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

int g_olderAccepted = 0;

} // namespace

OlderVersionsAccepted::OlderVersionsAccepted()
{
    ++g_olderAccepted;
}

OlderVersionsAccepted::~OlderVersionsAccepted()
{
    --g_olderAccepted;
}

mox::Status checkVersion(const QString& iniName, const KorDAO::DatabaseHandle& db)
{
    const KorDAO::DatabaseKind kind = iniName.compare(u"MOXENV.INI"_s, Qt::CaseInsensitive) == 0
                                          ? KorDAO::DatabaseKind::Environment
                                          : KorDAO::DatabaseKind::Payroll;
    mox::Status s = KorDAO::checkSchemaVersion(db, kind);
    if (s.code == KorDAO::kSchemaTooOld && g_olderAccepted > 0)
        return mox::Status::success();
    return s;
}

mox::Status checkVersionOf(const QString& iniName)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(iniName);
    if (db.DAO_DBOpen() != 0)
        return mox::Status::success();
    mox::Status s = checkVersion(iniName, db.DBDatabase());
    (void)db.DAO_DBClose();
    return s;
}

mox::Result<std::unique_ptr<Database>> openForBonuses()
{
    mox::Result<std::unique_ptr<Database>> db = Database::open(u"MOX.INI"_s, false);
    if (mox::failure(db))
        return db;
    if (mox::Status s = checkVersionOf(u"MOXENV.INI"_s); !s.ok())
        return s;
    return db;
}

Database::~Database()
{
    m_control.setTBDatabase(nullptr);
    if (m_db.DBDatabase())
        (void)m_db.DAO_DBClose();
}

mox::Result<std::unique_ptr<Database>> Database::open(const QString& iniName, bool create)
{
    std::unique_ptr<Database> db(new Database);
    db->m_db.setDBIniNameString(iniName);
    db->m_db.setCreateIfMissing(create);
    // Loading millions of records may take longer than an operator's statement may.
    db->m_db.setStatementLimit(false);
    if (const short st = db->m_db.DAO_DBOpen(); st != 0) {
        return mox::Status::failure(
            st, u"%1 のデータベースを開けません: %2"_s.arg(iniName, db->m_db.lastError()));
    }
    if (!create) {
        if (mox::Status s = checkVersion(iniName, db->handle()); !s.ok())
            return mox::Status::failure(s.code, u"%1: %2"_s.arg(iniName, s.message));
    }
    db->m_control.setTBDatabase(db->handle());
    return db;
}

mox::Status Database::begin()
{
    if (const short st = m_control.DAO_BeginTrans(); st != 0)
        return mox::Status::failure(st, m_control.lastError());
    return mox::Status::success();
}

mox::Status Database::commit()
{
    if (const short st = m_control.DAO_CommitTrans(); st != 0)
        return mox::Status::failure(st, m_control.lastError());
    return mox::Status::success();
}

void Database::rollback()
{
    (void)m_control.DAO_Rollback();
}

mox::Status Database::clear(const QString& name)
{
    if (mox::Status s = KorDAO::clearTable(handle(), name); !s.ok())
        return mox::Status::failure(s.code,
                                    u"レコードを削除できません (%1): %2"_s.arg(name, s.message));
    return mox::Status::success();
}

mox::Status Database::insertAll(const std::vector<Row>& rows)
{
    if (rows.empty())
        return mox::Status::success();
    RowWriter writer(*this, rows.front().layout());
    for (const Row& r : rows) {
        if (mox::Status s = writer.add(r); !s.ok())
            return s;
    }
    return writer.finish();
}

int Database::count(const QString& name, const QString& filter)
{
    KorDAO::clsTbAccess t;
    t.setTBDatabase(handle());
    t.setTBNameString(name);
    return t.DAO_TableOpen(filter, QString());
}

mox::Status replaceTables(Database& db, const std::vector<TableRows>& tables,
                          TerminalProgress* progress)
{
    if (mox::Status s = db.begin(); !s.ok())
        return s;
    for (const TableRows& t : tables) {
        mox::Status s = db.clear(t.layout->table());
        if (s.ok())
            s = db.insertAll(*t.rows);
        if (!s.ok()) {
            db.rollback();
            return s;
        }
        if (progress)
            progress->advance(static_cast<qint64>(t.rows->size()));
    }
    if (mox::Status s = db.commit(); !s.ok()) {
        db.rollback();
        return s;
    }
    return mox::Status::success();
}

RowWriter::RowWriter(Database& db, const RowLayout& layout, const QStringList& columns)
    : m_layout(layout)
{
    const QStringList names = columns.isEmpty() ? layout.columnNames() : columns;
    for (std::size_t i = 0; i < static_cast<std::size_t>(layout.columns().size()); ++i) {
        const bool written = names.contains(layout.columns()[static_cast<qsizetype>(i)].name);
        (written ? m_written : m_skipped).push_back(i);
    }
    QStringList ordered;
    for (std::size_t i : m_written)
        ordered.append(layout.columns()[static_cast<qsizetype>(i)].name);
    m_bulk = std::make_unique<KorDAO::BulkInsert>(db.handle(), layout.table(), ordered);
}

RowWriter::~RowWriter() = default;

mox::Status RowWriter::failure(short status) const
{
    return mox::Status::failure(
        status, u"%1 に書き込めません: %2"_s.arg(m_layout.table(), m_bulk->lastError()));
}

mox::Status RowWriter::add(const Row& row)
{
    if (const short st = m_bulk->status(); st != 0)
        return failure(st);
    assert(&row.layout() == &m_layout);
    assert(std::all_of(m_skipped.begin(), m_skipped.end(), [&](std::size_t i) {
        const FieldValue& v = row.values()[i];
        const Currency* c = std::get_if<Currency>(&v);
        const int* n = std::get_if<int>(&v);
        const QString* t = std::get_if<QString>(&v);
        return (c && c->isZero()) || (n && *n == 0) || (t && t->isEmpty());
    }));
    for (std::size_t k = 0; k < m_written.size(); ++k) {
        const FieldValue& v = row.values()[m_written[k]];
        const int field = static_cast<int>(k);
        if (const Currency* c = std::get_if<Currency>(&v))
            m_bulk->setAmount(field, *c);
        else if (const int* n = std::get_if<int>(&v))
            m_bulk->setInteger(field, *n);
        else
            m_bulk->setText(field, std::get<QString>(v));
    }
    if (const short st = m_bulk->addRow(); st != 0)
        return failure(st);
    return mox::Status::success();
}

mox::Status RowWriter::finish()
{
    if (const short st = m_bulk->finish(); st != 0)
        return failure(st);
    return mox::Status::success();
}

qint64 RowWriter::rowCount() const
{
    return m_bulk->rowCount();
}

} // namespace moxdb
