// moxdb upgrade: brings both databases to the schema version of this release.
//
//   moxdb upgrade [--backup FILE] [--dir DIR]
//
// First a backup of both databases (moxdb/backup.h), by default into the folder of MOX.INI as
// mox-before-upgrade-<yyyyMMdd-HHmmss>.moxbak; without it nothing is changed. Then each database
// in one transaction of its own (KorDAO::upgradeSchema): every step from the version it records
// (or, for none, the design its tables show) to this release's, and the new version. A failing
// step leaves that database as it was. A database of a newer version is refused before anything
// is done. On a PostgreSQL server whose roles are set up, run it as the server's superuser (the
// trigger functions belong to the audit trail's owner), then `moxdb init --roles` as after a
// new installation.

#include "moxdb/backup.h"
#include "moxdb/command.h"
#include "moxdb/init.h"

#include "kordao/schema.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage = u"[--backup FILE] [--dir DIR]"_s;

struct Target {
    QString ini;
    KorDAO::DatabaseKind kind;
    QString name; // for the report
    std::unique_ptr<Database> db;
    KorDAO::SchemaState state;
};

QString versionText(int version)
{
    return version == 0 ? u"バージョンの記録なし"_s : u"バージョン %1"_s.arg(version);
}

QString defaultBackupFile()
{
    const QString ini = findIni(kPayrollIni, KorDAO::iniSearchFolders());
    const QString folder = ini.isEmpty() ? QDir::currentPath() : QFileInfo(ini).absolutePath();
    return QDir(folder).filePath(u"mox-before-upgrade-%1.moxbak"_s.arg(
        QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s)));
}

int fail(QTextStream& err, const QString& message)
{
    err << "moxdb upgrade: " << failureText(message) << '\n';
    return 1;
}

int runUpgrade(const QStringList& args, QTextStream& out, QTextStream& err)
{
    Options options(args, {u"--backup"_s, u"--dir"_s});
    if (!options.ok()) {
        err << "moxdb upgrade: " << options.error() << "\nusage: moxdb upgrade " << kUsage << '\n';
        return 2;
    }
    if (options.has(u"--dir"_s))
        useIniFolder(options.value(u"--dir"_s));

    Target targets[] = {
        {kPayrollIni, KorDAO::DatabaseKind::Payroll, u"給与データベース"_s, {}, {}},
        {kEnvironmentIni, KorDAO::DatabaseKind::Environment, u"環境データベース"_s, {}, {}},
    };
    // Opened with older versions accepted: a newer one is refused here, before any backup.
    const OlderVersionsAccepted older;
    bool current = true;
    for (Target& t : targets) {
        auto opened = Database::open(t.ini, /*create=*/false);
        if (const mox::Status* s = mox::failure(opened))
            return fail(err, s->message);
        t.db = std::move(mox::value(opened));
        const mox::Result<KorDAO::SchemaState> state = KorDAO::schemaState(t.db->handle(), t.kind);
        if (const mox::Status* s = mox::failure(state))
            return fail(err, s->message);
        t.state = mox::value(state);
        current = current && t.state.version == KorDAO::kSchemaVersion;
    }
    if (current) {
        out << u"どちらのデータベースもバージョン %1 です。更新することはありません。\n"_s.arg(
            KorDAO::kSchemaVersion);
        return 0;
    }

    const QString backup = options.value(u"--backup"_s, defaultBackupFile());
    if (mox::Status s = makeBackup(QString(), backup, out); !s.ok())
        return fail(err,
                    u"更新の前のバックアップを作れないため、何も変更していません: "_s + s.message);
    out << u"更新の前のバックアップ: %1\n"_s.arg(QFileInfo(backup).absoluteFilePath());

    bool postgres = false;
    for (Target& t : targets) {
        postgres = postgres || KorDAO::isPostgres(t.db->handle());
        const QString name = u"%1（%2: %3）"_s.arg(t.name, t.ini, t.db->location());
        const mox::Result<KorDAO::SchemaUpgrade> done =
            KorDAO::upgradeSchema(t.db->handle(), t.kind);
        if (const mox::Status* s = mox::failure(done))
            return fail(err, s->message);
        const KorDAO::SchemaUpgrade& u = mox::value(done);
        if (u.from == u.to) {
            out << u"%1: %2 のまま（更新することはありません）\n"_s.arg(name, versionText(u.to));
            continue;
        }
        out << u"%1: %2 → バージョン %3 に更新しました。記録はそのままです。\n"_s.arg(
            name, versionText(u.from), QString::number(u.to));
        for (const QString& line : u.done)
            out << u"  "_s << line << '\n';
    }
    if (postgres)
        out << u"サーバーの権限を設定し直すには、スーパーユーザーのログインで moxdb init --roles "
               u"を実行してください。\n"_s;
    return 0;
}

} // namespace

Command upgradeCommand()
{
    return {u"upgrade"_s, kUsage,
            u"bring both databases to this release's schema version (a backup is taken first)"_s,
            &runUpgrade};
}

} // namespace moxdb
