#include "moxdb/init.h"

#include "moxdb/loading.h"

#include "kordao/schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

mox::Status writeDefaultIni(const QString& path, const QString& databaseFile)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return mox::Status::failure(-20, u"%1 を書けません: %2"_s.arg(path, file.errorString()));
    const QString text = u"[Database]\n"
                         u"Driver=QSQLITE\n"
                         u"; absolute, or relative to the folder of this file\n"
                         u"Database=%1\n"_s.arg(databaseFile);
    file.write(text.toUtf8());
    if (!file.commit())
        return mox::Status::failure(-20, u"%1 を書けません: %2"_s.arg(path, file.errorString()));
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
        return mox::Status::failure(-20, u"%1 が見つかりません (%2 のいずれにもありません)。"_s.arg(
                                             missing, folders.join(u", "_s)));
    }
    const QDir dir(defaultDir);
    if (!QDir().mkpath(dir.absolutePath()))
        return mox::Status::failure(-20, u"%1 を作れません。"_s.arg(dir.absolutePath()));
    QString payrollDb = u"mox.db"_s;
    QString environmentDb = u"moxenv.db"_s;
    if (!databaseDir.isEmpty()) {
        const QDir data(databaseDir);
        if (!data.exists()) {
            if (!QDir().mkpath(data.absolutePath()))
                return mox::Status::failure(-20, u"%1 を作れません。"_s.arg(data.absolutePath()));
            QFile::setPermissions(data.absolutePath(), QFileDevice::ReadOwner |
                                                           QFileDevice::WriteOwner |
                                                           QFileDevice::ExeOwner);
        }
        payrollDb = data.absoluteFilePath(payrollDb);
        environmentDb = data.absoluteFilePath(environmentDb);
    }
    files.payroll = dir.absoluteFilePath(kPayrollIni);
    files.environment = dir.absoluteFilePath(kEnvironmentIni);
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
    if (mox::Status s = createTables(kPayrollIni, &KorDAO::createPayrollSchema, &payroll); !s.ok())
        return s;
    log << "payroll tables ready (" << kPayrollIni << ": " << payroll->location() << ")\n";
    if (mox::Status s =
            createTables(kEnvironmentIni, &KorDAO::createEnvironmentSchema, &environment);
        !s.ok())
        return s;
    log << "environment tables ready (" << kEnvironmentIni << ": " << environment->location()
        << ")\n";
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
        -1, u"ロール（利用者の権限）は PostgreSQL サーバーのデータベースにだけ設定できます。"
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
        if (mox::Status s =
                KorDAO::grantRoles(opened[i]->handle(), roles, kind);
            !s.ok())
            return mox::Status::failure(s.code, u"%1: %2"_s.arg(ini, s.message));
        log << "roles " << roles.operatorRole << ", " << roles.adminRole << ", "
            << roles.auditorRole << " and " << roles.ownerRole << " set up (" << ini << ": "
            << opened[i]->location() << ")\n";
    }
    return mox::Status::success();
}

} // namespace moxdb
