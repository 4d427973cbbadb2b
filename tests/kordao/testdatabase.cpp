#include "testdatabase.h"

#include "kordao/schema.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

using namespace Qt::StringLiterals;

namespace kordaotest {

namespace {

// Runs \p sql on database \p dbName of the test server, or on the SQLite file \p dbName; the
// first value of the result goes to \p first.
bool execOn(Backend backend, const QString& dbName, const QString& sql, QVariant* first = nullptr)
{
    static std::atomic<int> counter{0};
    const QString name = u"kordaotest-raw-%1"_s.arg(++counter);
    bool ok = false;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(backend == Backend::Sqlite ? u"QSQLITE"_s : u"QPSQL"_s, name);
        db.setDatabaseName(dbName);
        if (backend == Backend::Postgres) {
            db.setHostName(qEnvironmentVariable("MOX_TEST_PGHOST"));
            db.setPort(qEnvironmentVariableIntValue("MOX_TEST_PGPORT"));
            db.setUserName(qEnvironmentVariable("MOX_TEST_PGUSER"));
        }
        if (db.open()) {
            QSqlQuery q(db);
            if (backend == Backend::Postgres)
                q.exec(u"SET client_min_messages TO WARNING"_s);
            ok = q.exec(sql);
            if (ok && first && q.next())
                *first = q.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

std::string backendName(Backend b)
{
    return b == Backend::Sqlite ? "SQLite" : "PostgreSQL";
}

bool postgresAvailable()
{
    return !qEnvironmentVariable("MOX_TEST_PGHOST").isEmpty();
}

TestDatabase::TestDatabase(Backend backend) : m_backend(backend), m_folderPath(m_folder.path())
{
    static std::atomic<int> counter{0};
    m_pgName = u"kordao_test_%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(++counter);
    qputenv("MOX_INI_DIR", m_folderPath.toUtf8());
    writeIni(u"MOX.INI"_s, iniText());
}

TestDatabase::~TestDatabase()
{
    if (m_backend == Backend::Postgres)
        execOn(m_backend, u"postgres"_s,
               u"DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)"_s.arg(m_pgName));
    qunsetenv("MOX_INI_DIR");
}

QString TestDatabase::iniText() const
{
    if (m_backend == Backend::Sqlite)
        return u"[Database]\nDriver=QSQLITE\nDatabase=data/pay.db\n"_s;
    return u"[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n"_s.arg(
        m_pgName, qEnvironmentVariable("MOX_TEST_PGHOST"), qEnvironmentVariable("MOX_TEST_PGPORT"),
        qEnvironmentVariable("MOX_TEST_PGUSER"));
}

void TestDatabase::writeIni(const QString& name, const QString& text) const
{
    QFile f(m_folderPath + u'/' + name);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text.toUtf8());
}

bool TestDatabase::create(QString* error)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    db.setCreateIfMissing(true);
    if (db.DAO_DBOpen() != 0) {
        *error = db.lastError();
        return false;
    }
    const mox::Status s = KorDAO::createPayrollSchema(db.DBDatabase());
    *error = s.message;
    return s.ok();
}

std::unique_ptr<KorDAO::clsDbAccess> TestDatabase::open() const
{
    auto db = std::make_unique<KorDAO::clsDbAccess>();
    db->setDBIniNameString(u"MOX.INI"_s);
    db->setPrivateConnection(true);
    if (db->DAO_DBOpen() != 0)
        return nullptr;
    return db;
}

bool TestDatabase::rawExec(const QString& sql) const
{
    return execOn(m_backend,
                  m_backend == Backend::Sqlite ? m_folderPath + u"/data/pay.db"_s : m_pgName, sql);
}

QVariant TestDatabase::rawScalar(const QString& sql) const
{
    QVariant v;
    execOn(m_backend, m_backend == Backend::Sqlite ? m_folderPath + u"/data/pay.db"_s : m_pgName,
           sql, &v);
    return v;
}

} // namespace kordaotest
