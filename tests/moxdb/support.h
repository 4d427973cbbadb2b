#pragma once

// Helpers of the moxdb tests: a flat withholding tax with figures easy to work by hand, a
// scratch folder holding the configuration files and databases of one test, the moxdb program
// run as an office runs it, and a district of its own (init, demo) on either engine.

#include "moxdb/database.h"
#include "moxdb/district.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace moxdb::test {

/// Monthly tax 5 % of the amount (yen cut off), bonus rate 4.084 % whatever the previous pay.
class FlatTax : public WithholdingTax {
public:
    Currency monthly(Currency amount, int, int) const override;
    Currency bonusRate(Currency, int, int) const override;
};

/// A temporary folder made the first place where the configuration files are looked for; the
/// previous $MOX_INI_DIR comes back when the folder goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    /// Writes the default SQLite configuration files and creates both databases.
    mox::Status initSqlite();
    std::unique_ptr<Database> open(const QString& iniName);

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
};

/// What a run of the moxdb program gave.
struct ProgramRun {
    int code = -1; // exit code; -1 when it crashed or did not finish
    QString out;
    QString err;
};

/// Runs the moxdb program with \p args and $MOX_INI_DIR set to \p iniDir, in the folder
/// \p workDir (this process's own when empty).
ProgramRun runMoxdb(const QStringList& args, const QString& iniDir,
                    const QString& workDir = QString());

/// MOX.INI and MOXENV.INI in a folder, naming two new databases of the test server
/// (MOX_TEST_PGHOST, MOX_TEST_PGPORT, MOX_TEST_PGUSER); the databases are dropped when the object
/// goes, unless keep() was called.
class PostgresPair {
public:
    explicit PostgresPair(const QString& dir);
    /// The pair "moxdb_pay_<name>" and "moxdb_env_<name>": one that outlives this process.
    PostgresPair(const QString& dir, const QString& name);
    ~PostgresPair();
    /// Leaves the databases on the server when the object goes.
    void keep() { m_keep = true; }
    PostgresPair(const PostgresPair&) = delete;
    PostgresPair& operator=(const PostgresPair&) = delete;

    static bool serverGiven() { return !qEnvironmentVariableIsEmpty("MOX_TEST_PGHOST"); }
    const QString& payroll() const { return m_payroll; }

private:
    QString m_payroll;
    QString m_environment;
    bool m_keep = false;
};

/// Runs \p work on the database of the configuration file \p ini (MOX.INI, MOXENV.INI) of the
/// folder \p dir, opened outside the program; a database that does not open fails the test.
void withDatabase(const QString& dir, const QString& ini,
                  const std::function<void(const KorDAO::DatabaseHandle&)>& work);

enum class Engine { Sqlite, Postgres };

/// "Sqlite" or "Postgres": the names of the tests run on both engines.
std::string engineName(const testing::TestParamInfo<Engine>& info);

/// A district of its own on one engine: a temporary folder whose MOX.INI and MOXENV.INI name
/// its two databases (SQLite files in the folder, or a new pair on the test server, which needs
/// PostgresPair::serverGiven() and is dropped with the object).
class District {
public:
    explicit District(Engine engine);

    /// Runs each of \p steps ("init", "demo", …) with run(): an empty text when all succeeded,
    /// otherwise the step that failed with what it printed.
    QString make(const QList<QStringList>& steps);
    /// moxdb init, then moxdb demo.
    QString makeDemo() { return make({{QStringLiteral("init")}, {QStringLiteral("demo")}}); }

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    /// Runs the moxdb program with \p args and "--dir" with the folder, in the folder.
    ProgramRun run(QStringList args) const;
    /// Runs it with \p args as they are, the folder its place for the configuration files and
    /// its working folder.
    ProgramRun runAsGiven(const QStringList& args) const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PostgresPair> m_server;
};

/// The exit code and the output of \p r, for a failed expectation.
std::string outcome(const ProgramRun& r);

/// A test run once on each engine on a demo district of its own (init, demo); on PostgreSQL
/// skipped when no test server is given.
class DemoDistrictTest : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override;

    District& district() { return *m_district; }
    const District& district() const { return *m_district; }
    /// district().run(): moxdb with \p args and --dir, in the district's folder.
    ProgramRun run(const QStringList& args) const { return m_district->run(args); }

private:
    std::unique_ptr<District> m_district;
};

} // namespace moxdb::test
