#include "moxdb/database.h"

using namespace Qt::StringLiterals;

namespace moxdb {

Database::~Database() {
    m_tables.clear();
    m_control.setTBDatabase(nullptr);
    if (m_db.DBDatabase())
        (void)m_db.DAO_DBClose();
}

mox::Result<std::unique_ptr<Database>> Database::open(const QString &iniName, bool create) {
    std::unique_ptr<Database> db(new Database);
    db->m_db.setDBIniNameString(iniName);
    db->m_db.setCreateIfMissing(create);
    if (const short st = db->m_db.DAO_DBOpen(); st != 0) {
        return mox::Status::failure(
            st, u"%1 のデータベースを開けません: %2"_s.arg(iniName, db->m_db.lastError()));
    }
    db->m_control.setTBDatabase(db->handle());
    return db;
}

mox::Status Database::failure(const KorDAO::clsTbAccess &t, short status,
                              const QString &what) const {
    return mox::Status::failure(status,
                                u"%1 (%2): %3"_s.arg(what, t.TBNameString(), t.lastError()));
}

mox::Status Database::begin() {
    if (const short st = m_control.DAO_BeginTrans(); st != 0)
        return mox::Status::failure(st, m_control.lastError());
    return mox::Status::success();
}

mox::Status Database::commit() {
    if (const short st = m_control.DAO_CommitTrans(); st != 0)
        return mox::Status::failure(st, m_control.lastError());
    return mox::Status::success();
}

void Database::rollback() {
    (void)m_control.DAO_Rollback();
}

KorDAO::clsTbAccess *Database::table(const QString &name, mox::Status *status) {
    auto it = m_tables.find(name);
    if (it != m_tables.end())
        return it->second.get();
    auto t = std::make_unique<KorDAO::clsTbAccess>();
    t->setTBDatabase(handle());
    t->setTBNameString(name);
    if (const int st = t->DAO_TableOpen(QString(), QString()); st < 0) {
        *status = failure(*t, static_cast<short>(st), u"テーブルを開けません"_s);
        return nullptr;
    }
    return m_tables.emplace(name, std::move(t)).first->second.get();
}

mox::Status Database::clear(const QString &name) {
    KorDAO::clsTbAccess t;
    t.setTBDatabase(handle());
    t.setTBNameString(name);
    if (const int st = t.DAO_TableOpen(QString(), QString()); st < 0)
        return failure(t, static_cast<short>(st), u"テーブルを開けません"_s);
    short st = t.DAO_RecRead(1);
    while (st == 0) {
        if (const short del = t.DAO_Delete(true); del != 0)
            return failure(t, del, u"レコードを削除できません"_s);
        st = t.DAO_RecRead(2);
    }
    if (st != -9)
        return failure(t, st, u"レコードを読めません"_s);
    return mox::Status::success();
}

mox::Status Database::insert(const Row &row) {
    mox::Status opened;
    KorDAO::clsTbAccess *table = this->table(row.layout().table(), &opened);
    if (!table)
        return opened;
    KorDAO::clsTbAccess &t = *table;
    if (const short st = t.DAO_AddNew(true); st != 0)
        return failure(t, st, u"レコードを追加できません"_s);
    const QList<Column> &columns = row.layout().columns();
    try {
        KorDAO::Record rec = t.TBRec();
        for (std::size_t i = 0; i < row.values().size(); ++i) {
            const QString &column = columns[static_cast<qsizetype>(i)].name;
            std::visit([&](const auto &v) { rec[column] = v; }, row.values()[i]);
        }
    } catch (const KorDAO::DaoError &e) {
        return mox::Status::failure(e.status(), QString::fromUtf8(e.what()));
    }
    if (const short st = t.DAO_Update(); st != 0)
        return failure(t, st, u"レコードを書き込めません"_s);
    return mox::Status::success();
}

mox::Status Database::insertAll(const std::vector<Row> &rows) {
    for (const Row &r : rows) {
        if (mox::Status s = insert(r); !s.ok())
            return s;
    }
    return mox::Status::success();
}

int Database::count(const QString &name, const QString &filter) {
    KorDAO::clsTbAccess t;
    t.setTBDatabase(handle());
    t.setTBNameString(name);
    return t.DAO_TableOpen(filter, QString());
}

mox::Status replaceTables(Database &db, const std::vector<TableRows> &tables) {
    if (mox::Status s = db.begin(); !s.ok())
        return s;
    for (const TableRows &t : tables) {
        mox::Status s = db.clear(t.layout->table());
        if (s.ok())
            s = db.insertAll(*t.rows);
        if (!s.ok()) {
            db.rollback();
            return s;
        }
    }
    if (mox::Status s = db.commit(); !s.ok()) {
        db.rollback();
        return s;
    }
    return mox::Status::success();
}

} // namespace moxdb
