#include "moxdb/init.h"

#include "moxdb/loading.h"

#include "base/privatefile.h"
#include "kordao/schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

mox::Status writeDefaultIni(const QString& path, const QString& databaseFile)
{
    mox::PrivateFile file(path);
    if (!file.open())
        return mox::Status::failure(KorDAO::kDatabaseMissing, file.errorString());
    const QString text = u"[Database]\n"
                         u"Driver=QSQLITE\n"
                         u"; absolute, or relative to the folder of this file\n"
                         u"Database=%1\n"_s.arg(databaseFile);
    file.device()->write(text.toUtf8());
    if (!file.commit())
        return mox::Status::failure(KorDAO::kDatabaseMissing, file.errorString());
    return mox::Status::success();
}

// Makes \p folder when missing: its parents as the system makes them, the folder itself 0700.
bool makeFolder(const QString& folder)
{
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    if (QFileInfo(path).isDir())
        return true;
    return QDir().mkpath(QFileInfo(path).absolutePath()) && mox::makeOwnFolder(path).isEmpty();
}

// A file of moxdb's own in a database folder: the configuration files, the print folder of the
// programs, and the databases with their journals.
bool isOwnEntry(const QString& name, const QStringList& databases)
{
    if (name == kPayrollIni || name == kEnvironmentIni || name == u"print"_s)
        return true;
    for (const QString& db : databases) {
        if (name == db || name == db + u"-journal"_s || name == db + u"-wal"_s ||
            name == db + u"-shm"_s)
            return true;
    }
    return false;
}

// The SQLite databases belong to their user alone: each file is made 0600 and its folder 0700.
// A folder that others may open is tightened when it is this user's and holds nothing but
// moxdb's own files; any other is refused, since tightening it would change someone's folder.
// Files not made yet are left for a later call: checking first means nothing is made in a folder
// that would be refused.
mox::Status secureSqliteFiles(const QStringList& files, QTextStream* log)
{
    QStringList folders;
    for (const QString& f : files) {
        const QString folder = QFileInfo(f).absolutePath();
        if (!folders.contains(folder))
            folders << folder;
    }
    for (const QString& folder : folders) {
        QStringList names;
        for (const QString& f : files) {
            if (QFileInfo(f).absolutePath() == folder)
                names << QFileInfo(f).fileName();
        }
        const QByteArray native = QFile::encodeName(folder);
        struct stat st {};
        if (::stat(native.constData(), &st) != 0)
            return mox::Status::failure(KorDAO::kDatabaseMissing,
                                        u"フォルダ %1 を確認できません。"_s.arg(folder));
        if ((st.st_mode & 077) != 0) {
            bool own = st.st_uid == ::geteuid();
            const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                               QDir::System | QDir::NoDotAndDotDot);
            for (const QString& e : entries)
                own = own && isOwnEntry(e, names);
            if (!own || ::chmod(native.constData(), 0700) != 0) {
                return mox::Status::failure(
                    KorDAO::kDatabaseMissing,
                    u"データベースのフォルダ %1 はほかのユーザーも開けるため使えません。"
                    u"自分だけが開けるフォルダ（0700）にするか、--dir で別のフォルダを指定して"
                    u"ください。"_s.arg(folder));
            }
            if (log)
                *log << "folder " << folder << " made 0700 (only you may open it)\n";
        }
        for (const QString& name : names) {
            const QString file = QDir(folder).filePath(name);
            const QByteArray fileNative = QFile::encodeName(file);
            if (::lstat(fileNative.constData(), &st) != 0 && errno == ENOENT)
                continue;
            if (::lstat(fileNative.constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
                st.st_uid != ::geteuid()) {
                return mox::Status::failure(
                    KorDAO::kDatabaseMissing,
                    u"データベースファイル %1 はほかのユーザーのファイルか通常のファイルでは"
                    u"ありません。"_s.arg(file));
            }
            if ((st.st_mode & 077) != 0 && ::chmod(fileNative.constData(), 0600) != 0)
                return mox::Status::failure(KorDAO::kDatabaseMissing,
                                            u"%1 を 0600 にできません。"_s.arg(file));
            if (log)
                *log << "database " << file << ": 0600 in a 0700 folder (only you may read it)\n";
        }
    }
    return mox::Status::success();
}

mox::Status createTables(const QString& iniName,
                         mox::Status (*create)(const KorDAO::DatabaseHandle&),
                         std::unique_ptr<Database>* out)
{
    auto opened = Database::open(iniName, /*create=*/true);
    if (const mox::Status* s = mox::failure(opened))
        return *s;
    std::unique_ptr<Database> db = std::move(mox::value(opened));
    mox::Status s = create(db->handle());
    // The mark of demo and synth loads, made now so that the administrator role owns it.
    if (s.ok())
        s = KorDAO::createTable(db->handle(), loadMarkTable());
    if (!s.ok())
        return mox::Status::failure(s.code, u"%1: %2"_s.arg(iniName, s.message));
    *out = std::move(db);
    return mox::Status::success();
}

} // namespace

QString findIni(const QString& name, const QStringList& folders)
{
    for (const QString& folder : folders) {
        const QFileInfo f(QDir(folder), name);
        if (f.isFile())
            return f.absoluteFilePath();
    }
    return QString();
}

mox::Result<IniFiles> ensureIniFiles(const QStringList& folders, const QString& defaultDir,
                                     const QString& databaseDir)
{
    IniFiles files;
    files.payroll = findIni(kPayrollIni, folders);
    files.environment = findIni(kEnvironmentIni, folders);
    if (!files.payroll.isEmpty() && !files.environment.isEmpty())
        return files;
    if (!files.payroll.isEmpty() || !files.environment.isEmpty()) {
        const QString missing = files.payroll.isEmpty() ? kPayrollIni : kEnvironmentIni;
        return mox::Status::failure(KorDAO::kDatabaseMissing,
                                    u"%1 が見つかりません (%2 のいずれにもありません)。"_s.arg(
                                        missing, folders.join(u", "_s)));
    }
    const QDir dir(defaultDir);
    if (!makeFolder(dir.absolutePath()))
        return mox::Status::failure(KorDAO::kDatabaseMissing,
                                    u"%1 を作れません。"_s.arg(dir.absolutePath()));
    QString payrollDb = u"mox.db"_s;
    QString environmentDb = u"moxenv.db"_s;
    if (!databaseDir.isEmpty()) {
        const QDir data(databaseDir);
        if (!makeFolder(data.absolutePath()))
            return mox::Status::failure(KorDAO::kDatabaseMissing,
                                        u"%1 を作れません。"_s.arg(data.absolutePath()));
        payrollDb = data.absoluteFilePath(payrollDb);
        environmentDb = data.absoluteFilePath(environmentDb);
    }
    files.payroll = dir.absoluteFilePath(kPayrollIni);
    files.environment = dir.absoluteFilePath(kEnvironmentIni);
    // The default files name SQLite databases: their folders are checked before anything is
    // written, so that a refused folder is left as it was.
    if (mox::Status s = secureSqliteFiles(
            {dir.absoluteFilePath(payrollDb), dir.absoluteFilePath(environmentDb)}, nullptr);
        !s.ok())
        return s;
    if (mox::Status s = writeDefaultIni(files.payroll, payrollDb); !s.ok())
        return s;
    if (mox::Status s = writeDefaultIni(files.environment, environmentDb); !s.ok())
        return s;
    files.written = true;
    return files;
}

mox::Status initDatabases(const std::vector<InitStep>& steps, QTextStream& log)
{
    std::unique_ptr<Database> payroll;
    std::unique_ptr<Database> environment;
    QStringList configured;
    for (const QString& ini : {kPayrollIni, kEnvironmentIni}) {
        if (const QString file = KorDAO::configuredSqliteFile(ini); !file.isEmpty())
            configured << file;
    }
    if (mox::Status s = secureSqliteFiles(configured, &log); !s.ok())
        return s;
    if (mox::Status s = createTables(kPayrollIni, &KorDAO::createPayrollSchema, &payroll); !s.ok())
        return s;
    log << "payroll tables ready (" << kPayrollIni << ": " << payroll->location() << ")\n";
    if (mox::Status s =
            createTables(kEnvironmentIni, &KorDAO::createEnvironmentSchema, &environment);
        !s.ok())
        return s;
    log << "environment tables ready (" << kEnvironmentIni << ": " << environment->location()
        << ")\n";
    QStringList sqliteFiles;
    for (const Database* db : {payroll.get(), environment.get()}) {
        if (const QString file = KorDAO::sqliteDatabaseFile(db->handle()); !file.isEmpty())
            sqliteFiles << QFileInfo(file).absoluteFilePath();
    }
    if (mox::Status s = secureSqliteFiles(sqliteFiles, &log); !s.ok())
        return s;
    for (const InitStep& step : steps) {
        log << step.name << "...\n";
        log.flush();
        if (mox::Status s = step.run(*payroll, *environment); !s.ok())
            return mox::Status::failure(s.code, u"%1: %2"_s.arg(step.name, s.message));
    }
    return mox::Status::success();
}

namespace {

mox::Status notOnPostgres(const QString& iniName)
{
    return mox::Status::failure(
        KorDAO::kOpenFailed,
        u"ロール（利用者の権限）は PostgreSQL サーバーのデータベースにだけ設定できます。"
        u"%1 は SQLite のデータベースを指しています。共有サーバーを使うときは、%2 と %3 に "
        u"Driver=QPSQL を書いてから実行してください。"_s.arg(iniName, kPayrollIni,
                                                             kEnvironmentIni));
}

} // namespace

mox::Status checkRolesPossible()
{
    for (const QString& ini : {kPayrollIni, kEnvironmentIni}) {
        auto db = Database::open(ini, /*create=*/false);
        if (mox::failure(db))
            continue;
        if (!KorDAO::isPostgres(mox::value(db)->handle()))
            return notOnPostgres(ini);
        if (mox::Status s = KorDAO::checkSuperuser(mox::value(db)->handle()); !s.ok())
            return s;
    }
    return mox::Status::success();
}

mox::Status setUpRoles(const RoleNames& roles, QTextStream& log)
{
    const std::pair<QString, KorDAO::DatabaseKind> databases[] = {
        {kPayrollIni, KorDAO::DatabaseKind::Payroll},
        {kEnvironmentIni, KorDAO::DatabaseKind::Environment},
    };
    std::vector<std::unique_ptr<Database>> opened;
    for (const auto& [ini, kind] : databases) {
        auto db = Database::open(ini, /*create=*/false);
        if (const mox::Status* s = mox::failure(db))
            return *s;
        if (!KorDAO::isPostgres(mox::value(db)->handle()))
            return notOnPostgres(ini);
        opened.push_back(std::move(mox::value(db)));
    }
    for (std::size_t i = 0; i < opened.size(); ++i) {
        const auto& [ini, kind] = databases[i];
        if (mox::Status s = KorDAO::grantRoles(opened[i]->handle(), roles, kind); !s.ok())
            return mox::Status::failure(s.code, u"%1: %2"_s.arg(ini, s.message));
        log << "roles " << roles.operatorRole << ", " << roles.adminRole << ", "
            << roles.auditorRole << " and " << roles.ownerRole << " set up (" << ini << ": "
            << opened[i]->location() << ")\n";
    }
    return mox::Status::success();
}

} // namespace moxdb
