#include "support.h"

#include "moxdb/command.h"
#include "moxdb/init.h"

#include "kordao/kordao.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace moxdb::test {

Currency FlatTax::monthly(Currency amount, int, int) const
{
    return amount.mulDiv(Currency::fromYen(5), 100, Rounding::Floor, 0);
}

Currency FlatTax::bonusRate(Currency, int, int) const
{
    return *Currency::parse(u"4.084");
}

ScratchFolder::ScratchFolder()
    : m_previous(qgetenv("MOX_INI_DIR")), m_hadPrevious(qEnvironmentVariableIsSet("MOX_INI_DIR"))
{
    qputenv("MOX_INI_DIR", QFile::encodeName(m_dir.path()));
}

ScratchFolder::~ScratchFolder()
{
    // A command run here with --dir confined the search to its folder.
    KorDAO::confineIniSearch(QString());
    if (m_hadPrevious)
        qputenv("MOX_INI_DIR", m_previous);
    else
        qunsetenv("MOX_INI_DIR");
}

mox::Status ScratchFolder::initSqlite()
{
    auto files = ensureIniFiles({path()}, path());
    if (const mox::Status* s = mox::failure(files))
        return *s;
    QString log;
    QTextStream stream(&log);
    return initDatabases({}, stream);
}

std::unique_ptr<Database> ScratchFolder::open(const QString& iniName)
{
    auto db = Database::open(iniName, /*create=*/false);
    if (mox::failure(db))
        return nullptr;
    return std::move(mox::value(db));
}

ProgramRun runMoxdb(const QStringList& args, const QString& iniDir, const QString& workDir)
{
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"MOX_INI_DIR"_s, iniDir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(MOXDB_PROGRAM), args);
    ProgramRun r;
    if (!p.waitForFinished(300'000)) {
        p.kill();
        p.waitForFinished();
    } else if (p.exitStatus() == QProcess::NormalExit) {
        r.code = p.exitCode();
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

namespace {

// Runs \p sql on the maintenance database of the test server as its superuser.
void onServer(const QString& sql)
{
    static int counter = 0;
    const QString name = u"moxdb-test-server-%1"_s.arg(++counter);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
        db.setHostName(qEnvironmentVariable("MOX_TEST_PGHOST"));
        db.setPort(qEnvironmentVariableIntValue("MOX_TEST_PGPORT"));
        db.setUserName(qEnvironmentVariable("MOX_TEST_PGUSER"));
        db.setDatabaseName(u"postgres"_s);
        if (db.open())
            QSqlQuery(db).exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

namespace {

QString uniqueSuffix()
{
    static int counter = 0;
    return u"%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(++counter);
}

} // namespace

PostgresPair::PostgresPair(const QString& dir) : PostgresPair(dir, uniqueSuffix()) {}

PostgresPair::PostgresPair(const QString& dir, const QString& suffix)
{
    m_payroll = u"moxdb_pay_"_s + suffix;
    m_environment = u"moxdb_env_"_s + suffix;
    for (const auto& [ini, name] :
         {std::pair{u"MOX.INI"_s, m_payroll}, std::pair{u"MOXENV.INI"_s, m_environment}}) {
        QFile f(QDir(dir).filePath(ini));
        if (!f.open(QIODevice::WriteOnly))
            continue;
        f.write(u"[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n"_s
                    .arg(name, qEnvironmentVariable("MOX_TEST_PGHOST"),
                         qEnvironmentVariable("MOX_TEST_PGPORT", u"5432"_s),
                         qEnvironmentVariable("MOX_TEST_PGUSER", u"postgres"_s))
                    .toUtf8());
    }
}

PostgresPair::~PostgresPair()
{
    if (m_keep)
        return;
    for (const QString& name : {m_payroll, m_environment})
        onServer(u"DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)"_s.arg(name));
}

void withDatabase(const QString& dir, const QString& ini,
                  const std::function<void(const KorDAO::DatabaseHandle&)>& work)
{
    KorDAO::confineIniSearch(dir);
    {
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(ini);
        if (db.DAO_DBOpen() == 0)
            work(db.DBDatabase());
        else
            ADD_FAILURE() << ini.toStdString() << ": " << db.lastError().toStdString();
    }
    KorDAO::confineIniSearch(QString());
}

std::string engineName(const testing::TestParamInfo<Engine>& info)
{
    return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
}

District::District(Engine engine)
{
    if (engine == Engine::Postgres)
        m_server = std::make_unique<PostgresPair>(m_dir.path());
}

QString District::make(const QList<QStringList>& steps)
{
    for (const QStringList& step : steps) {
        const ProgramRun r = run(step);
        if (r.code != 0)
            return u"moxdb %1: "_s.arg(step.join(u' ')) + QString::fromStdString(outcome(r));
    }
    return {};
}

ProgramRun District::run(QStringList args) const
{
    args << u"--dir"_s << m_dir.path();
    return runAsGiven(args);
}

ProgramRun District::runAsGiven(const QStringList& args) const
{
    return runMoxdb(args, m_dir.path(), m_dir.path());
}

std::string outcome(const ProgramRun& r)
{
    return (u"exit %1\n"_s.arg(r.code) + r.out + r.err).toStdString();
}

void DemoDistrictTest::SetUp()
{
    if (GetParam() == Engine::Postgres && !PostgresPair::serverGiven())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    m_district = std::make_unique<District>(GetParam());
    ASSERT_TRUE(m_district->isValid());
    const QString failed = m_district->makeDemo();
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();
}

} // namespace moxdb::test
