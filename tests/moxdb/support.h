#pragma once

// Helpers of the moxdb tests: a flat withholding tax with figures easy to work by hand, and a
// scratch folder holding the configuration files and databases of one test.

#include "moxdb/database.h"
#include "moxdb/district.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

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

} // namespace moxdb::test
