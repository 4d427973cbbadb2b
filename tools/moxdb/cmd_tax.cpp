// moxdb tax: the withholding tax tables of the environment database.
//
//   moxdb tax import --from YYYY-MM-DD [--replace] [--dir DIR] FOLDER
//       loads the edition in force from that date; an edition already loaded for the date is
//       replaced only with --replace
//   moxdb tax list [--dir DIR]
//       the editions loaded
//
// The database is the one "MOXENV.INI" names (with --dir, the one of DIR alone). An import
// checks the three files of the edition first and refuses a broken one, naming the file and
// line; it is one transaction. "moxdb init" loads every edition shipped in data/tax that the
// database lacks, through loadShippedTaxTables.

#include "moxdb/command.h"
#include "moxdb/init.h"
#include "moxdb/progress.h"

#include "kortax/kortax.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage =
    u"import --from YYYY-MM-DD [--replace] [--dir DIR] FOLDER | list [--dir DIR]"_s;

// A refusal of the server for lack of privilege (an operator's login importing) says so first.
int fail(QTextStream &err, const QString &text, int code = 1) {
    err << failureText(text) << Qt::endl;
    return code;
}

int importTax(KorDAO::clsDbAccess &db, QDate from, const QString &folder, bool replace,
              QTextStream &out, QTextStream &err) {
    TerminalProgress progress(u"税額表 %1"_s.arg(from.toString(Qt::ISODate)), u"段階"_s,
                              KorTAX::kImportStages);
    const mox::Status s = KorTAX::importEdition(
        db.DBDatabase(), from, folder,
        replace ? KorTAX::IfStored::Replace : KorTAX::IfStored::Refuse, nullptr,
        [&progress](int) { progress.advance(); });
    progress.finish();
    if (s.code == KorTAX::kStatusEditionStored)
        return fail(err, s.message + u"置き換えるときは --replace を付けてください。"_s);
    if (!s.ok())
        return fail(err, s.message);
    out << u"税額表 %1 を読み込みました（%2）。"_s.arg(from.toString(Qt::ISODate), folder)
        << Qt::endl;
    out << u"書き込み先: 環境データベース（%1）%2"_s.arg(kEnvironmentIni,
                                                       KorDAO::databaseLocation(db.DBDatabase()))
        << Qt::endl;
    return 0;
}

int listTax(KorDAO::clsDbAccess &db, QTextStream &out, QTextStream &err) {
    const mox::Result<QList<KorTAX::EditionInfo>> list = KorTAX::listEditions(db.DBDatabase());
    if (const mox::Status *s = mox::failure(list))
        return fail(err, s->message);
    if (mox::value(list).isEmpty())
        out << u"税額表は読み込まれていません。"_s << Qt::endl;
    for (const KorTAX::EditionInfo &e : mox::value(list))
        out << u"%1 から  月額表 %2 帯  賞与の算出率 %3 帯"_s.arg(e.from.toString(Qt::ISODate))
                   .arg(e.monthlyBands)
                   .arg(e.bonusBands)
            << Qt::endl;
    return 0;
}

int runTax(const QStringList &args, QTextStream &out, QTextStream &err) {
    const QString usage = u"使い方: moxdb tax "_s + kUsage;
    if (args.isEmpty() || (args[0] != u"import" && args[0] != u"list"))
        return fail(err, usage, 2);
    const bool importing = args[0] == u"import";
    QDate from;
    QString folder;
    QString dir;
    bool replace = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (importing && args[i] == u"--from" && hasValue && !from.isValid())
            from = QDate::fromString(args[++i], Qt::ISODate);
        else if (args[i] == u"--dir" && hasValue && dir.isEmpty())
            dir = args[++i];
        else if (importing && args[i] == u"--replace")
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
    const int code =
        importing ? importTax(db, from, folder, replace, out, err) : listTax(db, out, err);
    (void)db.DAO_DBClose();
    return code;
}

} // namespace

Command taxCommand() {
    return {u"tax"_s, kUsage, u"源泉徴収税額表の読み込みと一覧"_s, &runTax};
}

mox::Status loadShippedTaxTables(Database & /*payroll*/, Database &environment) {
    return KorTAX::importEditions(environment.handle(), KorTAX::shippedTaxDir(),
                                  KorTAX::IfStored::Keep);
}

} // namespace moxdb
