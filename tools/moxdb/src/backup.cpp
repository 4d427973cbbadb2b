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

#include "base/privatefile.h"
#include "kordao/backup.h"
#include "kordao/schema.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

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

// Runs the client tool \p program with \p args and the libpq variables \p env added to this
// process's environment (a password reaches the child only so).
mox::Status runTool(const QString& program, const QStringList& args,
                    const QHash<QString, QString>& env)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        return mox::Status::failure(
            -1, u"%1 が見つかりません。PostgreSQL のクライアント（Debian のパッケージ "
                u"postgresql-client）を入れてください。"_s.arg(program));
    }
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        e.insert(it.key(), it.value());
    QProcess p;
    p.setProcessEnvironment(e);
    p.start(path, args);
    if (!p.waitForStarted(-1))
        return mox::Status::failure(-1, u"%1 を起動できません: %2"_s.arg(program, p.errorString()));
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return mox::Status::failure(
            -1,
            u"%1 が失敗しました（終了コード %2）: %3"_s.arg(program).arg(p.exitCode()).arg(err));
    }
    return {};
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
    mox::PrivateFile archive(target);
    if (!archive.open())
        return mox::Status::failure(-1, archive.errorString());
    // The copies are made next to the archive: the same disk, and a folder only this user may
    // open (PrivateFile checked it).
    QTemporaryDir work(QFileInfo(target).absolutePath() + u"/.moxbackup-XXXXXX"_s);
    if (!work.isValid())
        return mox::Status::failure(-1, u"作業用フォルダを %1 に作れません: %2"_s.arg(
                                            QFileInfo(target).absolutePath(), work.errorString()));
    QFile::setPermissions(work.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

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
        out << u"%1: %2 を複製し、確かめました。"_s.arg(part.ini, dbs[i]->location()) << '\n';
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

// Loads the dump \p dump into the PostgreSQL database \p db in one transaction: every table
// emptied, then the backup's records, with the triggers silent (session_replication_role), so
// that the audit rows and record counts are the backup's own. Needs the server's superuser.
// The dump's records go through a script in \p work first (pg_restore --data-only), which psql
// runs with the emptying in one transaction.
mox::Status restorePostgres(Database& db, const QString& dump, const QString& work)
{
    mox::Result<KorDAO::TableCounts> present = KorDAO::tableCounts(db.handle());
    if (const mox::Status* s = mox::failure(present))
        return *s;
    const QString script = QDir(work).filePath(QFileInfo(dump).completeBaseName() + u".sql"_s);
    if (mox::Status s =
            runTool(u"pg_restore"_s, {u"--data-only"_s, u"--file="_s + script, dump}, {});
        !s.ok())
        return s;
    QStringList args = {u"-X"_s,
                        u"-q"_s,
                        u"-v"_s,
                        u"ON_ERROR_STOP=1"_s,
                        u"--single-transaction"_s,
                        u"-c"_s,
                        u"SET session_replication_role = replica"_s};
    if (!mox::value(present).empty())
        args << u"-c"_s << KorDAO::truncateStatement(mox::value(present));
    args << u"-f"_s << script;
    mox::Status loaded = runTool(u"psql"_s, args, KorDAO::clientEnvironment(db.handle()));
    QFile::remove(script);
    if (!loaded.ok()) {
        return mox::Status::failure(
            -1, u"%1 に復元できません（何も書き込んでいません）。復元はサーバーのスーパーユーザー"
                u"（postgres）で実行してください。%2"_s.arg(db.location(), loaded.message));
    }
    return {};
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

// Puts the copies in place: the environment database first; when the payroll database then
// fails, the environment database is put back as it was, so that the two never come from
// different moments (SQLite; on PostgreSQL each is loaded in a transaction of its own).
mox::Status putInPlace(const std::vector<std::unique_ptr<Database>>& dbs,
                       const std::vector<QString>& copies, bool postgres, const QString& folder)
{
    QString before;
    if (!postgres) {
        before = QDir(folder).filePath(u"before-MOXENV.sqlite"_s);
        const mox::Result<KorDAO::TableCounts> saved =
            KorDAO::copySqliteDatabase(dbs[1]->handle(), before);
        if (const mox::Status* s = mox::failure(saved))
            return *s;
    }
    for (int i = 1; i >= 0; --i) {
        const auto n = std::size_t(i);
        mox::Status s = postgres ? restorePostgres(*dbs[n], copies[n], folder)
                                 : KorDAO::replaceSqliteDatabase(dbs[n]->handle(), copies[n]);
        if (!s.ok()) {
            if (i == 0 && !postgres)
                (void)KorDAO::replaceSqliteDatabase(dbs[1]->handle(), before);
            return s;
        }
    }
    return {};
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
    return KorDAO::writeAuditSummary(
        now[0]->handle(), u"*"_s, u"RESTORE"_s,
        QString::fromUtf8(QJsonDocument(summary).toJson(QJsonDocument::Compact)));
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
    // in a folder of mode 0700.
    const QString shelf = QFileInfo(source).absolutePath();
    std::optional<QTemporaryDir> beside;
    if (mox::ownFolderProblem(shelf).isEmpty())
        beside.emplace(shelf + u"/.moxrestore-XXXXXX"_s);
    std::optional<QTemporaryDir> temporary;
    if (!beside || !beside->isValid())
        temporary.emplace();
    QTemporaryDir& work = temporary ? *temporary : *beside;
    if (!work.isValid())
        return mox::Status::failure(-1,
                                    u"作業用フォルダを作れません: %1"_s.arg(work.errorString()));
    std::vector<QString> copies;
    for (const Part& part : kParts) {
        const mox::Result<QString> copy =
            unpackChecked(source, index, manifest, part, postgres, work.path());
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
        if (mox::Status s = putInPlace(dbs, copies, postgres, work.path()); !s.ok())
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
