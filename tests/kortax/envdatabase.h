#pragma once

// A throwaway environment database for the tests, on SQLite in a temporary folder or on the
// PostgreSQL server of the test run (MOX_TEST_PGHOST, MOX_TEST_PGPORT, MOX_TEST_PGUSER), found
// through a MOXENV.INI written into that folder.

#include "kortax/kortax.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <atomic>
#include <string>

namespace taxtest {

enum class Engine { Sqlite, Postgres };

inline std::string engineName(Engine e)
{
    return e == Engine::Sqlite ? "SQLite" : "PostgreSQL";
}

class EnvDatabase {
public:
    explicit EnvDatabase(Engine engine) : m_engine(engine)
    {
        static std::atomic<int> counter{0};
        m_pgName = QStringLiteral("kortax_test_%1_%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(++counter);
        qputenv("MOX_INI_DIR", m_folder.path().toUtf8());
        QFile ini(m_folder.filePath(QStringLiteral("MOXENV.INI")));
        if (ini.open(QIODevice::WriteOnly))
            ini.write(iniText().toUtf8());
        ini.close();
        m_db.setDBIniNameString(QStringLiteral("MOXENV.INI"));
        m_db.setCreateIfMissing(true);
        m_status = m_db.DAO_DBOpen();
    }

    ~EnvDatabase()
    {
        (void)m_db.DAO_DBClose();
        if (m_engine == Engine::Postgres)
            (void)exec(QStringLiteral("postgres"),
                       QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(m_pgName));
        qunsetenv("MOX_INI_DIR");
    }

    short openStatus() const { return m_status; }
    const QString& openError() const { return m_db.lastError(); }
    KorDAO::DatabaseHandle handle() const { return m_db.DBDatabase(); }
    QString folder() const { return m_folder.path(); }

    /// Makes every insert of the bonus table's top band for 7 or more dependants fail: a write
    /// that breaks near the end of an import.
    bool breakLastBonusInsert() const
    {
        if (m_engine == Engine::Sqlite)
            return exec(m_folder.filePath(QStringLiteral("env.db")),
                        QStringLiteral("CREATE TRIGGER kortax_fault BEFORE INSERT ON \"ZEISYO\" "
                                       "WHEN NEW.\"FUYO\" = 7 AND NEW.\"KAGEN\" = 3717000 "
                                       "BEGIN SELECT RAISE(ABORT, 'fault'); END"));
        return exec(m_pgName, QStringLiteral("CREATE FUNCTION kortax_fault() RETURNS trigger AS "
                                             "$$ BEGIN RAISE EXCEPTION 'fault'; END $$ "
                                             "LANGUAGE plpgsql")) &&
               exec(m_pgName, QStringLiteral("CREATE TRIGGER kortax_fault BEFORE INSERT ON "
                                             "\"ZEISYO\" FOR EACH ROW WHEN (NEW.\"FUYO\" = 7 AND "
                                             "NEW.\"KAGEN\" = 3717000) EXECUTE FUNCTION "
                                             "kortax_fault()"));
    }

private:
    QString iniText() const
    {
        if (m_engine == Engine::Sqlite)
            return QStringLiteral("[Database]\nDriver=QSQLITE\nDatabase=env.db\n");
        return QStringLiteral("[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n")
            .arg(m_pgName, qEnvironmentVariable("MOX_TEST_PGHOST"),
                 qEnvironmentVariable("MOX_TEST_PGPORT"), qEnvironmentVariable("MOX_TEST_PGUSER"));
    }

    // Runs \p sql outside the component, on the SQLite file or PostgreSQL database \p name.
    bool exec(const QString& name, const QString& sql) const
    {
        static std::atomic<int> counter{0};
        const QString connection = QStringLiteral("kortax-test-%1").arg(++counter);
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(
                m_engine == Engine::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"),
                connection);
            db.setDatabaseName(name);
            if (m_engine == Engine::Postgres) {
                db.setHostName(qEnvironmentVariable("MOX_TEST_PGHOST"));
                db.setPort(qEnvironmentVariableIntValue("MOX_TEST_PGPORT"));
                db.setUserName(qEnvironmentVariable("MOX_TEST_PGUSER"));
            }
            if (db.open()) {
                QSqlQuery q(db);
                ok = q.exec(sql);
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        return ok;
    }

    Engine m_engine;
    QTemporaryDir m_folder;
    QString m_pgName;
    KorDAO::clsDbAccess m_db;
    short m_status = 0;
};

} // namespace taxtest
