#pragma once

// A payroll and an environment database in a temporary folder, found through MOX.INI and
// MOXENV.INI there (MOX_INI_DIR), for the ledger tests. The tables are the programs' own; the
// test data go in through a connection of the fixture. The payroll database is SQLite, or a new
// database on the PostgreSQL server named by MOX_TEST_PGHOST / MOX_TEST_PGPORT / MOX_TEST_PGUSER
// (dropped again at the end); the environment database is always SQLite.

#include "kordao/kordao.h"
#include "kordao/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace mox030test {

using Fields = std::initializer_list<std::pair<const char*, QVariant>>;

enum class Backend { Sqlite, Postgres };

inline bool postgresConfigured()
{
    return !qEnvironmentVariableIsEmpty("MOX_TEST_PGHOST");
}

class LedgerDb {
public:
    explicit LedgerDb(Backend backend = Backend::Sqlite) : m_backend(backend)
    {
        EXPECT_TRUE(m_dir.isValid());
        if (m_backend == Backend::Postgres)
            writePgIni();
        else
            writeIni(QStringLiteral("MOX.INI"), QStringLiteral("mox.db"));
        writeIni(QStringLiteral("MOXENV.INI"), QStringLiteral("env.db"));
        m_oldIniDir = qgetenv("MOX_INI_DIR");
        qputenv("MOX_INI_DIR", m_dir.path().toUtf8());

        createSchema(QStringLiteral("MOX.INI"), &KorDAO::createPayrollSchema);
        createSchema(QStringLiteral("MOXENV.INI"), &KorDAO::createEnvironmentSchema);
        insert(QStringLiteral("env.db"), QStringLiteral("名設定"),
               {{"SYOKU1", QStringLiteral("教諭")},
                {"SYOKU2", QStringLiteral("事務職員")},
                {"NENKB1", QStringLiteral("H")},
                {"NENKJ1", QStringLiteral("平成")},
                {"NENST1", 19890108},
                {"NENKB2", QStringLiteral("R")},
                {"NENKJ2", QStringLiteral("令和")},
                {"NENST2", 20190501}});
    }

    ~LedgerDb()
    {
        for (const QString& name : std::as_const(m_open)) {
            QSqlDatabase::database(name).close();
            QSqlDatabase::removeDatabase(name);
        }
        if (m_backend == Backend::Postgres) {
            const QString name = QStringLiteral("ledgertest-%1-drop").arg(m_id);
            {
                QSqlDatabase db = pgConnection(name, QStringLiteral("postgres"));
                if (db.open())
                    QSqlQuery(db).exec(QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)")
                                           .arg(pgName()));
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
        if (m_oldIniDir.isNull())
            qunsetenv("MOX_INI_DIR");
        else
            qputenv("MOX_INI_DIR", m_oldIniDir);
    }

    QString path() const { return m_dir.path(); }

    void kanri(int syorid, const QVariant& syozoku = QStringLiteral("本庁"))
    {
        insert(QStringLiteral("mox.db"), QStringLiteral("GKKANRI"),
               {{"KEY", QStringLiteral("KANRI")},
                {"SYORID", syorid},
                {"GKNAME", QStringLiteral("教育委員会")},
                {"SYOZOKU", syozoku}});
    }

    void jinji(int code, const QString& name, int syosyu)
    {
        insert(QStringLiteral("mox.db"), QStringLiteral("GKJINJI"),
               {{"SYOKCD", code}, {"SIMKNJ", name}, {"SYOSYU", syosyu}});
    }

    /// One payment record; amount fields not named are 0.
    void kyuyo(int code, int kind, int ym, int seq, Fields amounts = {})
    {
        QList<std::pair<QString, QVariant>> all{{QStringLiteral("SYOKCD"), code},
                                                {QStringLiteral("KYUSYU"), kind},
                                                {QStringLiteral("SKYUYM"), ym},
                                                {QStringLiteral("KYUSEQ"), seq}};
        for (const auto& [f, v] : amounts)
            all.append({QString::fromUtf8(f), v});
        insertList(QStringLiteral("mox.db"), QStringLiteral("GKKYUYO"), all);
    }

    void insert(const QString& file, const QString& table, Fields fields)
    {
        QList<std::pair<QString, QVariant>> all;
        for (const auto& [f, v] : fields)
            all.append({QString::fromUtf8(f), v});
        insertList(file, table, all);
    }

    /// Runs \p sql on the database \p file ("mox.db" is the payroll database on either engine)
    /// behind the programs' backs: a table dropped, a record deleted by another desk.
    void exec(const QString& file, const QString& sql)
    {
        QSqlQuery q(open(file));
        EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
    }

private:
    QString pgName() const
    {
        return QStringLiteral("mox030_test_%1_%2")
            .arg(QCoreApplication::applicationPid())
            .arg(m_id);
    }

    QSqlDatabase pgConnection(const QString& name, const QString& database) const
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setDatabaseName(database);
        db.setHostName(qEnvironmentVariable("MOX_TEST_PGHOST"));
        db.setPort(qEnvironmentVariableIntValue("MOX_TEST_PGPORT"));
        db.setUserName(qEnvironmentVariable("MOX_TEST_PGUSER"));
        return db;
    }

    void writePgIni()
    {
        QFile f(m_dir.filePath(QStringLiteral("MOX.INI")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n")
                    .arg(pgName(), qEnvironmentVariable("MOX_TEST_PGHOST"),
                         qEnvironmentVariable("MOX_TEST_PGPORT"),
                         qEnvironmentVariable("MOX_TEST_PGUSER"))
                    .toUtf8());
    }

    void writeIni(const QString& name, const QString& database)
    {
        QFile f(m_dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Database]\nDriver=QSQLITE\nDatabase=" + database.toUtf8() + "\n");
    }

    // One connection per database file, kept while the fixture lives. The test data need no
    // durability, so nothing waits for the disk.
    QSqlDatabase open(const QString& file)
    {
        const QString name = QStringLiteral("ledgertest-%1-%2").arg(m_id).arg(file);
        if (QSqlDatabase::contains(name))
            return QSqlDatabase::database(name);
        if (m_backend == Backend::Postgres && file == QStringLiteral("mox.db")) {
            QSqlDatabase db = pgConnection(name, pgName());
            EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
            m_open << name;
            return db;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_dir.filePath(file));
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
        QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = OFF"));
        m_open << name;
        return db;
    }

    void createSchema(const QString& ini, mox::Status (*create)(const KorDAO::DatabaseHandle&))
    {
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(ini);
        db.setCreateIfMissing(true);
        ASSERT_EQ(db.DAO_DBOpen(), 0) << db.lastError().toStdString();
        const mox::Status s = create(db.DBDatabase());
        EXPECT_TRUE(s.ok()) << s.message.toStdString();
        EXPECT_EQ(db.DAO_DBClose(), 0);
    }

    void insertList(const QString& file, const QString& table,
                    const QList<std::pair<QString, QVariant>>& fields)
    {
        QStringList names;
        QStringList marks;
        for (const auto& f : fields) {
            names << u'"' + f.first + u'"';
            marks << QStringLiteral("?");
        }
        QSqlDatabase db = open(file);
        {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("INSERT INTO \"%1\" (%2) VALUES (%3)")
                          .arg(table, names.join(u','), marks.join(u',')));
            for (const auto& f : fields)
                q.addBindValue(f.second);
            EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString();
        }
    }

    Backend m_backend;
    QTemporaryDir m_dir;
    QByteArray m_oldIniDir;
    QStringList m_open;
    int m_id = nextId();

    static int nextId()
    {
        static int id = 0;
        return ++id;
    }
};

} // namespace mox030test
