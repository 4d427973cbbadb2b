#pragma once

// A fresh payroll database for one test: SQLite in a temporary folder, or a new PostgreSQL
// database on the server named by MOX_TEST_PGHOST / MOX_TEST_PGPORT / MOX_TEST_PGUSER. The
// folder holds the "MOX.INI" that locates it and becomes $MOX_INI_DIR.

#include "kordao/kordao.h"

#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>
#include <string>

namespace kordaotest {

enum class Backend { Sqlite, Postgres };

std::string backendName(Backend b);

/// True when a PostgreSQL server for tests is configured.
bool postgresAvailable();

class TestDatabase {
public:
    explicit TestDatabase(Backend backend);
    ~TestDatabase();

    /// Creates the database and the payroll tables. False (and a message) when it cannot.
    bool create(QString* error);

    const QString& folder() const { return m_folderPath; }
    /// Writes \p text as the INI file \p name into the folder.
    void writeIni(const QString& name, const QString& text) const;
    /// A new connection of its own to the database through "MOX.INI" (another desk).
    std::unique_ptr<KorDAO::clsDbAccess> open() const;

    /// Runs \p sql on a connection of its own, outside KorDAO (for setting up what the programs
    /// never write, such as a NULL in a numeric field). False when it fails.
    bool rawExec(const QString& sql) const;
    /// The first column of the first row of \p sql, run the same way; invalid on failure.
    QVariant rawScalar(const QString& sql) const;

    Backend backend() const { return m_backend; }

private:
    QString iniText() const;

    Backend m_backend;
    QTemporaryDir m_folder;
    QString m_folderPath;
    QString m_pgName;
};

} // namespace kordaotest
