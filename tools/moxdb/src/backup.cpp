// Backups of both databases and their restore (see moxdb/backup.h for the file's layout).
//
// A backup copies each database by its engine's own means while desks go on working: SQLite's
// VACUUM INTO (one read transaction), PostgreSQL's pg_dump of one exported snapshot, whose record
// counts are taken in that same snapshot. Every copy is checked (integrity_check, pg_restore
// --list) before the archive is written; the archive is written under a temporary name and
// renamed into place (mox::PrivateFile, 0600).
//
// A restore checks the whole file first (the archive, the manifest, each member's size and
// sha256, each database copy), then the target databases (the backup's engine; no payroll record
// unless --replace), and only then writes. After it, every table's record count is compared with
// the manifest, and the payroll database's audit trail gets one row saying what was restored.
#include "moxdb/backup.h"

#include "moxdb/backupfile.h"
#include "moxdb/command.h"
#include "moxdb/database.h"
#include "moxdb/init.h"
#include "moxdb/serverload.h"
#include "moxdb/workfolder.h"

#include "base/privatefile.h"
#include "kordao/backup.h"
#include "kordao/schema.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

#ifndef MOX_RELEASE
#define MOX_RELEASE "0"
#endif

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

struct Part {
    QString ini;  // "MOX.INI"
    QString stem; // "MOX": the member's name and the manifest's count prefix
};
const Part kParts[] = {{kPayrollIni, u"MOX"_s}, {kEnvironmentIni, u"MOXENV"_s}};

// The names of the work folders (then six random characters): a backup's copies beside the
// archive, a restore's unpacked members.
const QString kBackupWork = u".moxbackup-"_s;
const QString kRestoreWork = u".moxrestore-"_s;

QString memberName(const Part& part, bool postgres)
{
    return part.stem + (postgres ? u".pgdump"_s : u".sqlite"_s);
}

QString engineName(bool postgres)
{
    return postgres ? u"postgresql"_s : u"sqlite"_s;
}

QString engineLabel(const QString& engine)
{
    return engine == u"postgresql"_s ? u"PostgreSQL"_s : u"SQLite"_s;
}

mox::Result<QByteArray> sha256Of(const QString& path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return mox::Status::failure(-1, u"%1 を読めません: %2"_s.arg(path, f.errorString()));
    return hash.result().toHex();
}

// Opens the database of each part; both must be of one engine.
mox::Result<std::vector<std::unique_ptr<Database>>> openBoth()
{
    std::vector<std::unique_ptr<Database>> dbs;
    for (const Part& part : kParts) {
        mox::Result<std::unique_ptr<Database>> db = Database::open(part.ini, false);
        if (const mox::Status* s = mox::failure(db))
            return *s;
        dbs.push_back(std::move(mox::value(db)));
    }
    if (KorDAO::isPostgres(dbs[0]->handle()) != KorDAO::isPostgres(dbs[1]->handle())) {
        return mox::Status::failure(
            -1, u"%1 と %2 のデータベースの種類が違います（%3 / %4）。"_s.arg(
                    kPayrollIni, kEnvironmentIni, dbs[0]->location(), dbs[1]->location()));
    }
    return dbs;
}

void addCounts(BackupManifest& m, const Part& part, const KorDAO::TableCounts& counts)
{
    for (const KorDAO::TableCount& c : counts)
        m.counts.insert(part.stem + u'.' + c.table, c.records);
}

// Copies one database into \p file, checked, and gives the record counts of the copy.
mox::Result<KorDAO::TableCounts> copyDatabase(Database& db, const QString& file)
{
    if (!KorDAO::isPostgres(db.handle()))
        return KorDAO::copySqliteDatabase(db.handle(), file);
    mox::Result<std::unique_ptr<KorDAO::ServerSnapshot>> snap =
        KorDAO::ServerSnapshot::take(db.handle());
    if (const mox::Status* s = mox::failure(snap))
        return *s;
    const QHash<QString, QString> env = KorDAO::clientEnvironment(db.handle());
    if (mox::Status s = runTool(
            u"pg_dump"_s,
            {u"--format=custom"_s, u"--snapshot="_s + mox::value(snap)->id(), u"--file="_s + file},
            env);
        !s.ok())
        return mox::Status::failure(s.code,
                                    u"%1 のバックアップ: %2"_s.arg(db.location(), s.message));
    KorDAO::TableCounts counts = mox::value(snap)->counts();
    mox::value(snap).reset();
    if (mox::Status s = runTool(u"pg_restore"_s, {u"--list"_s, file}, {}); !s.ok())
        return mox::Status::failure(
            s.code, u"%1 のダンプを確かめられません: %2"_s.arg(db.location(), s.message));
    return counts;
}

QString countsDifference(const BackupManifest& m, const Part& part,
                         const KorDAO::TableCounts& counts)
{
    QStringList diffs;
    QMap<QString, qint64> want;
    for (auto it = m.counts.cbegin(); it != m.counts.cend(); ++it) {
        if (it.key().startsWith(part.stem + u'.'))
            want.insert(it.key().mid(part.stem.size() + 1), it.value());
    }
    for (const KorDAO::TableCount& c : counts) {
        if (!want.contains(c.table)) {
            diffs.append(u"%1 はバックアップにありません（%2 件）"_s.arg(c.table).arg(c.records));
            continue;
        }
        if (want.value(c.table) != c.records) {
            diffs.append(u"%1 が %2 件（バックアップでは %3 件）"_s.arg(c.table).arg(c.records).arg(
                want.value(c.table)));
        }
        want.remove(c.table);
    }
    for (auto it = want.cbegin(); it != want.cend(); ++it)
        diffs.append(u"%1 がありません（バックアップでは %2 件）"_s.arg(it.key()).arg(it.value()));
    return diffs.join(u"、"_s);
}

} // namespace

mox::Status makeBackup(const QString& iniDir, const QString& file, QTextStream& out)
{
    if (!iniDir.isEmpty())
        useIniFolder(iniDir);
    mox::Result<std::vector<std::unique_ptr<Database>>> opened = openBoth();
    if (const mox::Status* s = mox::failure(opened))
        return *s;
    std::vector<std::unique_ptr<Database>>& dbs = mox::value(opened);
    const bool postgres = KorDAO::isPostgres(dbs[0]->handle());

    const QString target = QFileInfo(file).absoluteFilePath();
    const QString shelf = QFileInfo(target).absolutePath();
    mox::PrivateFile archive(target);
    if (!archive.open())
        return mox::Status::failure(-1, archive.errorString());
    // The copies are made next to the archive: the same disk, and a folder only this user may
    // open (PrivateFile checked it). What a backup killed there left behind goes first.
    sweepWorkFolders(shelf, kBackupWork);
    WorkFolder work(shelf, kBackupWork);
    if (!work.isValid() || !work.addCompanion(archive.temporaryName())) {
        return mox::Status::failure(-1, work.isValid()
                                            ? u"作業用フォルダ %1 に書けません。"_s.arg(work.path())
                                            : work.errorString());
    }

    BackupManifest manifest;
    manifest.release = QString::fromLatin1(MOX_RELEASE);
    // The version the payroll database records (0 for one made before versions were recorded,
    // as `moxdb upgrade` backs it up).
    if (const mox::Result<KorDAO::SchemaState> state =
            KorDAO::schemaState(dbs[0]->handle(), KorDAO::DatabaseKind::Payroll);
        !mox::failure(state))
        manifest.schema = mox::value(state).version;
    manifest.engine = engineName(postgres);
    manifest.created = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    std::vector<QString> copies;
    for (std::size_t i = 0; i < dbs.size(); ++i) {
        const Part& part = kParts[i];
        const QString name = memberName(part, postgres);
        const QString copy = work.filePath(name);
        mox::Result<KorDAO::TableCounts> counts = copyDatabase(*dbs[i], copy);
        if (const mox::Status* s = mox::failure(counts))
            return *s;
        addCounts(manifest, part, mox::value(counts));
        const mox::Result<QByteArray> sum = sha256Of(copy);
        if (const mox::Status* s = mox::failure(sum))
            return *s;
        manifest.members.push_back({name, mox::value(sum), QFileInfo(copy).size()});
        copies.push_back(copy);
        // Flushed: an operator sees each database done as it happens.
        out << u"%1: %2 を複製し、確かめました。"_s.arg(part.ini, dbs[i]->location()) << Qt::endl;
    }

    BackupWriter w(archive.device());
    bool written = w.addMember(kManifestName, manifest.toText());
    for (std::size_t i = 0; written && i < copies.size(); ++i) {
        QByteArray again;
        written = w.addFile(manifest.members[i].name, copies[i], &again);
        if (written && again != manifest.members[i].sha256) {
            return mox::Status::failure(
                -1, u"%1 の複製が書き込み中に変わりました。"_s.arg(manifest.members[i].name));
        }
    }
    written = written && w.finish();
    if (!written) {
        archive.cancel();
        return mox::Status::failure(
            -1, u"バックアップファイル %1 を書けません: %2"_s.arg(target, w.error()));
    }
    if (!archive.commit())
        return mox::Status::failure(-1, archive.errorString());
    qint64 records = 0;
    for (qint64 n : std::as_const(manifest.counts))
        records += n;
    out << u"バックアップ %1 を作成しました（%2、%3 テーブル %4 件）。"_s.arg(target)
               .arg(engineLabel(manifest.engine))
               .arg(manifest.counts.size())
               .arg(records)
        << '\n';
    return {};
}

namespace {

// Starts the load of the dump \p dump into the PostgreSQL database \p db, in a transaction
// that \p load holds open: every table emptied, then the backup's records, with the triggers
// silent (session_replication_role), so that the audit rows and record counts are the backup's
// own. Needs the server's superuser. The dump's records go through a script in \p work first
// (pg_restore --data-only), which psql runs after the emptying.
mox::Status startLoad(ServerLoad& load, Database& db, const QString& dump, const QString& work)
{
    mox::Result<KorDAO::TableCounts> present = KorDAO::tableCounts(db.handle());
    if (const mox::Status* s = mox::failure(present))
        return *s;
    const QString script = QDir(work).filePath(QFileInfo(dump).completeBaseName() + u".sql"_s);
    if (mox::Status s =
            runTool(u"pg_restore"_s, {u"--data-only"_s, u"--file="_s + script, dump}, {});
        !s.ok())
        return s;
    const QString truncate =
        mox::value(present).empty() ? QString() : KorDAO::truncateStatement(mox::value(present));
    mox::Status loaded = load.start(KorDAO::clientEnvironment(db.handle()), truncate, script);
    QFile::remove(script); // psql has read it, or failed
    if (!loaded.ok()) {
        return mox::Status::failure(
            -1, u"%1 に復元できません（何も書き込んでいません）。復元はサーバーのスーパーユーザー"
                u"（postgres）で実行してください。%2"_s.arg(db.location(), loaded.message));
    }
    return {};
}

// PostgreSQL: loads both databases, each in a transaction held open, and commits the two only
// when both are loaded, so that a failure or a killed process writes neither. Only a COMMIT that
// the server refuses after the other was accepted leaves the pair apart, and says so.
mox::Status putInPlacePostgres(const std::vector<std::unique_ptr<Database>>& dbs,
                               const std::vector<QString>& copies, const QString& folder,
                               const QString& source, QTextStream& out)
{
    ServerLoad loads[2];
    for (int i = 1; i >= 0; --i) {
        const auto n = std::size_t(i);
        if (mox::Status s = startLoad(loads[n], *dbs[n], copies[n], folder); !s.ok())
            return s; // the loads go: the server undoes what either held
        out << u"%1: %2 に読み込みました（まだ確定していません）。"_s.arg(kParts[n].ini,
                                                                          dbs[n]->location())
            << Qt::endl;
    }
    loads[1].commit();
    loads[0].commit();
    const mox::Status results[2] = {loads[0].finish(), loads[1].finish()};
    if (results[0].ok() && results[1].ok())
        return {};
    if (!results[0].ok() && !results[1].ok()) {
        return mox::Status::failure(
            -1, u"%1 と %2 に復元できません（何も書き込んでいません）。%3"_s.arg(
                    dbs[0]->location(), dbs[1]->location(), results[0].message));
    }
    const std::size_t failed = results[0].ok() ? 1 : 0;
    return mox::Status::failure(
        -1,
        u"%1 は復元しましたが、%2 の確定に失敗したため、二つのデータベースが別の時点のものに"
        u"なっています。もう一度 moxdb restore %3 --replace を実行してください。%4"_s.arg(
            dbs[1 - failed]->location(), dbs[failed]->location(), source, results[failed].message));
}

// The manifest of the backup \p source, read with the index of its members; refused when the
// backup's tables are newer than this release's.
mox::Result<BackupManifest> readManifest(const QString& source, std::vector<TarMember>& index)
{
    mox::Result<std::vector<TarMember>> read = readBackupIndex(source);
    if (const mox::Status* s = mox::failure(read))
        return *s;
    index = std::move(mox::value(read));
    const mox::Result<QByteArray> text = readMember(source, index.front());
    if (const mox::Status* s = mox::failure(text))
        return *s;
    mox::Result<BackupManifest> parsed = BackupManifest::parse(mox::value(text), source);
    if (const mox::Status* s = mox::failure(parsed))
        return *s;
    const BackupManifest& manifest = mox::value(parsed);
    if (manifest.schema > KorDAO::kSchemaVersion) {
        return mox::Status::failure(
            -1, u"バックアップ %1 のテーブルの版 %2 は、このプログラムの版 %3 より新しいため"
                u"復元できません。"_s.arg(source)
                    .arg(manifest.schema)
                    .arg(KorDAO::kSchemaVersion));
    }
    return parsed;
}

// Unpacks the copy of \p part into \p folder and checks it against the manifest: size, sha256,
// and (SQLite) integrity and record counts, (PostgreSQL) what pg_restore lists. The unpacked
// file's path.
mox::Result<QString> unpackChecked(const QString& source, const std::vector<TarMember>& index,
                                   const BackupManifest& manifest, const Part& part, bool postgres,
                                   const QString& folder)
{
    const QString name = memberName(part, postgres);
    const BackupManifest::Member* listed = manifest.member(name);
    const TarMember* stored = nullptr;
    for (const TarMember& t : index) {
        if (t.name == name)
            stored = &t;
    }
    if (!listed || !stored)
        return mox::Status::failure(-1,
                                    u"バックアップ %1 に %2 がありません。"_s.arg(source, name));
    const QString copy = QDir(folder).filePath(name);
    const mox::Result<QByteArray> sum = extractMember(source, *stored, copy);
    if (const mox::Status* s = mox::failure(sum))
        return *s;
    if (mox::value(sum) != listed->sha256 || stored->size != listed->size) {
        return mox::Status::failure(
            -1, u"バックアップ %1 の %2 のチェックサムが manifest.txt と一致しません"
                u"（ファイルが壊れているか、書き換えられています）。何も復元していません。"_s.arg(
                    source, name));
    }
    if (postgres) {
        if (mox::Status s = runTool(u"pg_restore"_s, {u"--list"_s, copy}, {}); !s.ok())
            return mox::Status::failure(
                s.code, u"バックアップ %1 の %2: %3"_s.arg(source, name, s.message));
        return copy;
    }
    const mox::Result<KorDAO::TableCounts> counts = KorDAO::checkSqliteFile(copy);
    if (const mox::Status* s = mox::failure(counts))
        return *s;
    if (const QString d = countsDifference(manifest, part, mox::value(counts)); !d.isEmpty()) {
        return mox::Status::failure(
            -1, u"バックアップ %1 の %2 の件数が manifest.txt と一致しません: %3"_s.arg(source,
                                                                                        name, d));
    }
    return copy;
}

// The databases to restore into must be of the backup's engine and, unless \p replace, hold no
// payroll record.
mox::Status checkTarget(const std::vector<std::unique_ptr<Database>>& dbs,
                        const BackupManifest& manifest, const QString& source, bool replace)
{
    const bool postgres = manifest.engine == u"postgresql"_s;
    if (KorDAO::isPostgres(dbs[0]->handle()) != postgres) {
        return mox::Status::failure(
            -1, u"バックアップ %1 は %2 のものですが、復元先 %3 は %4 です。データベースの種類を"
                u"移すときは moxdb export --all と moxdb import --all を使ってください。"_s.arg(
                    source, engineLabel(manifest.engine), dbs[0]->location(),
                    engineLabel(engineName(!postgres))));
    }
    if (replace)
        return {};
    QStringList held;
    for (const KorDAO::TableDef& t : KorDAO::payrollTables()) {
        const int n = dbs[0]->count(t.name);
        if (n > 0) // a table the database lacks (-1) holds nothing
            held.append(u"%1 %2 件"_s.arg(t.name).arg(n));
    }
    if (!held.isEmpty()) {
        return mox::Status::failure(
            -1,
            u"%1 にはデータがあります（%2）。置き換えるときは --replace を付けてください。"_s.arg(
                dbs[0]->location(), held.join(u"、"_s)));
    }
    return {};
}

// SQLite: puts the copies in place, the environment database first; when the payroll database
// then fails, the environment database is put back as it was, so that the two never come from
// different moments.
mox::Status putInPlaceSqlite(const std::vector<std::unique_ptr<Database>>& dbs,
                             const std::vector<QString>& copies, const QString& folder,
                             const QString& source)
{
    const QString before = QDir(folder).filePath(u"before-MOXENV.sqlite"_s);
    const mox::Result<KorDAO::TableCounts> saved =
        KorDAO::copySqliteDatabase(dbs[1]->handle(), before);
    if (const mox::Status* s = mox::failure(saved))
        return *s;
    if (mox::Status s = KorDAO::replaceSqliteDatabase(dbs[1]->handle(), copies[1]); !s.ok())
        return s;
    mox::Status s = KorDAO::replaceSqliteDatabase(dbs[0]->handle(), copies[0]);
    if (s.ok())
        return s;
    if (mox::Status back = KorDAO::replaceSqliteDatabase(dbs[1]->handle(), before); !back.ok()) {
        return mox::Status::failure(
            s.code,
            u"%1 に復元できません: %2。%3 はバックアップの内容になったまま元に戻せませんでした"
            u"（%4）。もう一度 moxdb restore %5 --replace を実行してください。"_s.arg(
                dbs[0]->location(), s.message, dbs[1]->location(), back.message, source));
    }
    return s;
}

// Compares the restored databases with the manifest, on connections of their own (what any desk
// now sees), and records the restore in the audit trail. A backup taken before an upgrade holds
// tables of an older version, which are restored as they were.
mox::Status confirmRestored(const BackupManifest& manifest, const QString& source, QTextStream& out)
{
    const OlderVersionsAccepted older;
    mox::Result<std::vector<std::unique_ptr<Database>>> opened = openBoth();
    if (const mox::Status* s = mox::failure(opened))
        return *s;
    std::vector<std::unique_ptr<Database>>& now = mox::value(opened);
    for (std::size_t i = 0; i < now.size(); ++i) {
        const mox::Result<KorDAO::TableCounts> counts = KorDAO::tableCounts(now[i]->handle());
        if (const mox::Status* s = mox::failure(counts))
            return *s;
        if (const QString d = countsDifference(manifest, kParts[i], mox::value(counts));
            !d.isEmpty()) {
            return mox::Status::failure(
                -1, u"復元した %1 の件数がバックアップ %2 と一致しません: %3"_s.arg(
                        now[i]->location(), source, d));
        }
        out << u"%1: %2 に復元しました。"_s.arg(kParts[i].ini, now[i]->location()) << '\n';
    }
    QJsonObject summary{
        {u"backup"_s, source}, {u"created"_s, manifest.created}, {u"release"_s, manifest.release}};
    const mox::Status audited = KorDAO::writeAuditSummary(
        now[0]->handle(), u"*"_s, u"RESTORE"_s,
        QString::fromUtf8(QJsonDocument(summary).toJson(QJsonDocument::Compact)));
    if (!audited.ok()) {
        // The records are in place and counted: the failure is the trail's row alone.
        return mox::Status::failure(
            audited.code,
            u"バックアップ %1 は復元し、件数も確かめましたが、監査記録に復元の行を書けませんでした"
            u"（復元したことを記録に残してください）: %2"_s.arg(source, audited.message));
    }
    return {};
}

} // namespace

mox::Status restoreBackup(const QString& iniDir, const QString& file, bool replace,
                          QTextStream& out)
{
    if (!iniDir.isEmpty())
        useIniFolder(iniDir);
    const QString source = QFileInfo(file).absoluteFilePath();
    // The file first, whole: nothing is written for a file that is not all it should be.
    std::vector<TarMember> index;
    const mox::Result<BackupManifest> parsed = readManifest(source, index);
    if (const mox::Status* s = mox::failure(parsed))
        return *s;
    const BackupManifest& manifest = mox::value(parsed);
    const bool postgres = manifest.engine == u"postgresql"_s;

    // The members are unpacked beside the backup when its folder is the user's own (a disk
    // that holds the backup holds its members too), else in the temporary folder; either way
    // in a work folder of mode 0700, and what a restore killed there left behind goes first.
    const QString beside = QFileInfo(source).absolutePath();
    const QString shelf = mox::ownFolderProblem(beside).isEmpty() ? beside : QDir::tempPath();
    sweepWorkFolders(shelf, kRestoreWork);
    std::optional<WorkFolder> work(std::in_place, shelf, kRestoreWork);
    if (!work->isValid() && shelf == beside) {
        sweepWorkFolders(QDir::tempPath(), kRestoreWork);
        work.emplace(QDir::tempPath(), kRestoreWork);
    }
    if (!work->isValid())
        return mox::Status::failure(-1, work->errorString());
    std::vector<QString> copies;
    for (const Part& part : kParts) {
        const mox::Result<QString> copy =
            unpackChecked(source, index, manifest, part, postgres, work->path());
        if (const mox::Status* s = mox::failure(copy))
            return *s;
        copies.push_back(mox::value(copy));
    }

    {
        mox::Result<std::vector<std::unique_ptr<Database>>> opened = openBoth();
        if (const mox::Status* s = mox::failure(opened))
            return *s;
        const std::vector<std::unique_ptr<Database>>& dbs = mox::value(opened);
        if (mox::Status s = checkTarget(dbs, manifest, source, replace); !s.ok())
            return s;
        const mox::Status s = postgres ? putInPlacePostgres(dbs, copies, work->path(), source, out)
                                       : putInPlaceSqlite(dbs, copies, work->path(), source);
        if (!s.ok())
            return s;
    }
    if (mox::Status s = confirmRestored(manifest, source, out); !s.ok())
        return s;
    out << u"バックアップ %1（%2 作成）を復元し、件数とチェックサムを確かめました。"_s.arg(
               source, manifest.created)
        << '\n';
    if (manifest.schema < KorDAO::kSchemaVersion) {
        out << u"復元したテーブルは版 %1 です。使う前に moxdb upgrade で版 %2 にしてください。"_s
                   .arg(manifest.schema)
                   .arg(KorDAO::kSchemaVersion)
            << '\n';
    }
    return {};
}

} // namespace moxdb
