#pragma once

// An office's databases as the backup, restore and district tests set them up: a configuration
// folder with its two databases (SQLite files in the folder, or two new databases of the test
// server), the moxdb program run on it, and the comparisons of databases and folders.

#include "support.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace moxdb::test {

using namespace Qt::StringLiterals;

// One office's configuration folder and its two databases (SQLite files in the folder, or two
// new databases of the test server).
class Site {
public:
    explicit Site(Engine engine) : m_engine(engine)
    {
        if (engine == Engine::Postgres)
            m_pg = std::make_unique<PostgresPair>(m_dir.path());
    }
    QString dir() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    ProgramRun moxdb(QStringList args) const
    {
        args << u"--dir"_s << dir();
        return runMoxdb(args, dir());
    }

    // Every record of every table of the database "MOX" or "MOXENV", one text a record (the
    // whole record as the engine's shell prints it), sorted: equal maps, equal databases.
    // Runs \p sql on the database "MOX" or "MOXENV" as the test login (the superuser).
    void run(const QString& which, const QString& sql) const { (void)query(which, sql); }

    QMap<QString, QStringList> contents(const QString& which) const
    {
        QMap<QString, QStringList> tables;
        for (const QString& table : query(which, listTables(), /*quoted=*/false))
            tables.insert(table, rows(which, table));
        return tables;
    }

private:
    QString listTables() const
    {
        return m_engine == Engine::Sqlite
                   ? u"SELECT name FROM sqlite_master WHERE type='table' ORDER BY 1"_s
                   : u"SELECT tablename FROM pg_tables WHERE schemaname='public' ORDER BY 1"_s;
    }
    QStringList rows(const QString& which, const QString& table) const
    {
        const QString quoted = u'"' + table + u'"';
        QStringList r =
            query(which, m_engine == Engine::Sqlite ? u"SELECT * FROM "_s + quoted
                                                    : u"SELECT t::text FROM "_s + quoted + u" t"_s);
        r.sort();
        return r;
    }
    QStringList query(const QString& which, const QString& sql, bool quoted = true) const
    {
        QProcess p;
        if (m_engine == Engine::Sqlite) {
            p.start(u"sqlite3"_s, {quoted ? u"-quote"_s : u"-list"_s,
                                   file(which == u"MOX"_s ? u"mox.db"_s : u"moxenv.db"_s), sql});
        } else {
            const QString db = which == u"MOX"_s
                                   ? m_pg->payroll()
                                   : QString(m_pg->payroll()).replace(u"_pay_"_s, u"_env_"_s);
            p.start(u"psql"_s,
                    {u"-X"_s, u"-At"_s, u"-h"_s, qEnvironmentVariable("MOX_TEST_PGHOST"), u"-p"_s,
                     qEnvironmentVariable("MOX_TEST_PGPORT"), u"-U"_s,
                     qEnvironmentVariable("MOX_TEST_PGUSER"), u"-d"_s, db, u"-c"_s, sql});
        }
        p.waitForFinished(60'000);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    Engine m_engine;
    QTemporaryDir m_dir;
    std::unique_ptr<PostgresPair> m_pg;
};

// Compares two databases' contents table by table, naming the table that differs.
inline void expectSameTables(const QMap<QString, QStringList>& got,
                             const QMap<QString, QStringList>& want)
{
    EXPECT_EQ(got.keys().join(u' ').toStdString(), want.keys().join(u' ').toStdString());
    for (auto it = want.cbegin(); it != want.cend(); ++it) {
        EXPECT_EQ(got.value(it.key()).join(u'\n').toStdString(),
                  it.value().join(u'\n').toStdString())
            << it.key().toStdString();
    }
}

inline std::string engineName(const testing::TestParamInfo<Engine>& p)
{
    return p.param == Engine::Sqlite ? std::string("SQLite") : std::string("PostgreSQL");
}

// The entries of \p dir, hidden ones too, sorted, one blank between two.
inline std::string entriesOf(const QString& dir)
{
    return QDir(dir)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name)
        .join(u' ')
        .toStdString();
}

// Expects the folders \p got and \p want to hold the same files with the same bytes.
inline void expectSameFiles(const QString& got, const QString& want)
{
    const QStringList names = QDir(want).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(QDir(got).entryList(QDir::Files, QDir::Name), names);
    for (const QString& name : names) {
        QFile a(QDir(got).filePath(name)), b(QDir(want).filePath(name));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_TRUE(a.readAll() == b.readAll()) << name.toStdString() << " differs";
    }
}

} // namespace moxdb::test
