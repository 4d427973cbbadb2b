// moxdb tax: the withholding tax tables of the environment database.
//
//   moxdb tax import --from YYYY-MM-DD [--replace] [--dir DIR] FOLDER
//       loads the tables in FOLDER as the edition in force from that date
//   moxdb tax check FOLDER
//       the checks of an import, nothing written and no database opened
//   moxdb tax list [--dir DIR]
//       the editions loaded and their tables
//
// The database is the one "MOXENV.INI" names (with --dir, the one of DIR alone). An edition holds
// the monthly table, the bonus table or both. An import checks the files of FOLDER first and
// refuses a broken one, naming the file and line; a table the edition lacks is added to it, a
// table it already holds is replaced only with --replace. It is one transaction. "moxdb init"
// loads the shipped tables of data/tax that the database lacks, through loadShippedTaxTables.

#include "moxdb/command.h"
#include "moxdb/init.h"
#include "moxdb/progress.h"

#include "kortax/kortax.h"

#include <QDir>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage =
    u"import --from YYYY-MM-DD [--replace] [--dir DIR] FOLDER | check FOLDER | list [--dir DIR]"_s;

// A refusal of the server for lack of privilege (an operator's login importing) says so first.
int fail(QTextStream& err, const QString& text, int code = 1)
{
    err << failureText(text) << Qt::endl;
    return code;
}

QString bandsText(int bands)
{
    return bands > 0 ? u"%1 帯"_s.arg(bands) : u"なし"_s;
}

// "2027-01-01 から（令和9年分）  月額表 238 帯  賞与の算出率の表 なし"
QString editionLine(const KorTAX::EditionInfo& e)
{
    return u"%1 から（%2）  月額表 %3  賞与の算出率の表 %4"_s.arg(
        e.from.toString(Qt::ISODate), KorTAX::editionName(e.from), bandsText(e.monthlyBands),
        bandsText(e.bonusBands));
}

int importTax(KorDAO::clsDbAccess& db, QDate from, const QString& folder, bool replace,
              QTextStream& out, QTextStream& err)
{
    TerminalProgress progress(u"税額表 %1"_s.arg(from.toString(Qt::ISODate)), u"段階"_s,
                              KorTAX::kImportStages);
    const mox::Status s =
        KorTAX::importEdition(db.DBDatabase(), from, folder,
                              replace ? KorTAX::IfStored::Replace : KorTAX::IfStored::Refuse,
                              nullptr, [&progress](int) { progress.advance(); });
    progress.finish();
    if (s.code == KorTAX::kStatusTableLoaded)
        return fail(err, s.message + u"置き換えるときは --replace を付けてください。"_s);
    if (!s.ok())
        return fail(err, s.message);
    out << u"税額表 %1 を読み込みました（%2）。"_s.arg(from.toString(Qt::ISODate), folder)
        << Qt::endl;
    out << u"書き込み先: 環境データベース（%1）%2"_s.arg(kEnvironmentIni,
                                                         KorDAO::databaseLocation(db.DBDatabase()))
        << Qt::endl;
    const mox::Result<QList<KorTAX::EditionInfo>> list = KorTAX::listEditions(db.DBDatabase());
    if (const mox::Status* bad = mox::failure(list))
        return fail(err, bad->message);
    for (const KorTAX::EditionInfo& e : mox::value(list)) {
        if (e.from == from)
            out << editionLine(e) << Qt::endl;
    }
    return 0;
}

int listTax(KorDAO::clsDbAccess& db, QTextStream& out, QTextStream& err)
{
    const mox::Result<QList<KorTAX::EditionInfo>> list = KorTAX::listEditions(db.DBDatabase());
    if (const mox::Status* s = mox::failure(list))
        return fail(err, s->message);
    const QList<KorTAX::EditionInfo>& editions = mox::value(list);
    if (editions.isEmpty()) {
        out << u"税額表は読み込まれていません。"_s << Qt::endl;
        return 0;
    }
    for (const KorTAX::EditionInfo& e : editions)
        out << editionLine(e) << Qt::endl;
    // The newest edition has no end: every later date is taxed with it until the next is loaded.
    const QDate newest = editions.back().from;
    out << u"%1 以後の日付には、次の版を読み込むまで %1 からの版（%2）を使います。"_s.arg(
               newest.toString(Qt::ISODate), KorTAX::editionName(newest))
        << Qt::endl;
    return 0;
}

// Prints what the checks found in one folder; returns the number of faults.
int report(const KorTAX::FolderCheck& check, const QString& title, QTextStream& out)
{
    out << title << Qt::endl;
    if (!check.status.ok()) {
        out << u"  "_s << check.status.message << Qt::endl;
        return 1;
    }
    int faults = 0;
    for (const KorTAX::Table table : {KorTAX::Table::Monthly, KorTAX::Table::Bonus}) {
        const auto found =
            std::find_if(check.tables.begin(), check.tables.end(),
                         [&](const KorTAX::TableCheck& t) { return t.table == table; });
        out << u"  "_s << KorTAX::tableName(table) << u": "_s;
        if (found == check.tables.end()) {
            out << u"なし"_s << Qt::endl;
        } else if (found->status.ok()) {
            out << u"正常（%1 帯）"_s.arg(found->bands) << Qt::endl;
        } else {
            out << u"誤り: "_s << found->status.message << Qt::endl;
            ++faults;
        }
    }
    return faults;
}

// DIR is one edition folder, or a folder of edition folders named yyyy-MM-dd (as data/tax).
int checkTax(const QString& dir, QTextStream& out, QTextStream& err)
{
    const KorTAX::FolderCheck self = KorTAX::checkEditionDir(dir);
    const QList<std::pair<QDate, QString>> editions = KorTAX::editionFolders(dir);
    int faults = 0;
    if (self.status.code == KorTAX::kStatusMissingFile && !editions.isEmpty()) {
        for (const auto& [from, path] : editions)
            faults += report(KorTAX::checkEditionDir(path),
                             u"%1（%2 から、%3）"_s.arg(QDir::toNativeSeparators(path),
                                                        from.toString(Qt::ISODate),
                                                        KorTAX::editionName(from)),
                             out);
    } else {
        faults = report(self, QDir::toNativeSeparators(dir), out);
    }
    if (faults > 0)
        return fail(err, u"税額表に %1 件の誤りがあります。直すまで読み込めません。"_s.arg(faults));
    out << u"誤りは見つかりませんでした。"_s << Qt::endl;
    return 0;
}

int runTax(const QStringList& args, QTextStream& out, QTextStream& err)
{
    const QString usage = u"使い方: moxdb tax "_s + kUsage;
    if (args.isEmpty() || (args[0] != u"import" && args[0] != u"check" && args[0] != u"list"))
        return fail(err, usage, 2);
    const bool importing = args[0] == u"import";
    QDate from;
    QString folder;
    QString dir;
    bool replace = false;
    if (args[0] == u"check") {
        if (args.size() != 2 || args[1].startsWith(u"--"))
            return fail(err, usage, 2);
        return checkTax(args[1], out, err); // the files only: no database is opened
    }
    for (qsizetype i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (importing && args[i] == u"--from" && hasValue && !from.isValid())
            from = QDate::fromString(args[++i], Qt::ISODate);
        else if (args[i] == u"--dir" && hasValue && dir.isEmpty())
            dir = args[++i];
        else if (importing && args[i] == u"--replace" && !replace)
            replace = true;
        else if (importing && folder.isEmpty() && !args[i].startsWith(u"--"))
            folder = args[i];
        else
            return fail(err, usage, 2);
    }
    if (importing && !from.isValid())
        return fail(err, u"--from に適用開始日を YYYY-MM-DD で指定してください。"_s, 2);
    if (importing && folder.isEmpty())
        return fail(err, usage, 2);
    if (!dir.isEmpty())
        useIniFolder(dir);

    KorDAO::clsDbAccess db;
    db.setDBIniNameString(kEnvironmentIni);
    if (const short st = db.DAO_DBOpen(); st != 0)
        return fail(err, u"MOXENV データベースのオープンに失敗しました（%1）: %2"_s.arg(st).arg(
                             db.lastError()));
    if (mox::Status s = checkVersion(kEnvironmentIni, db.DBDatabase()); !s.ok())
        return fail(err, s.message);
    const int code =
        importing ? importTax(db, from, folder, replace, out, err) : listTax(db, out, err);
    (void)db.DAO_DBClose();
    return code;
}

} // namespace

Command taxCommand()
{
    return {u"tax"_s, kUsage, u"源泉徴収税額表の読み込み・検査・一覧"_s, &runTax};
}

mox::Status loadShippedTaxTables(Database& /*payroll*/, Database& environment)
{
    return KorTAX::importEditions(environment.handle(), KorTAX::shippedTaxDir(),
                                  KorTAX::IfStored::Keep);
}

} // namespace moxdb
