// moxdb tax: the withholding tax tables of the environment database.
//
//   moxdb tax import --from YYYY-MM-DD DIR   loads (or replaces) the edition in force from that
//   date moxdb tax list                           the editions loaded
//
// The database is the one "MOXENV.INI" names. An import checks the three files of the edition
// first and refuses a broken one, naming the file and line; it is one transaction. "moxdb init"
// loads every edition shipped in data/tax through loadShippedTaxTables.

#include "moxdb/command.h"
#include "moxdb/init.h"

#include "kortax/kortax.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage = u"import --from YYYY-MM-DD DIR | list"_s;

// A refusal of the server for lack of privilege (an operator's login importing) says so first.
int fail(QTextStream &err, const QString &text, int code = 1) {
    err << failureText(text) << Qt::endl;
    return code;
}

int importTax(KorDAO::clsDbAccess &db, QDate from, const QString &dir, QTextStream &out,
              QTextStream &err) {
    const mox::Status s = KorTAX::importEdition(db.DBDatabase(), from, dir);
    if (!s.ok())
        return fail(err, s.message);
    out << u"税額表 %1 を読み込みました（%2）。"_s.arg(from.toString(Qt::ISODate), dir) << Qt::endl;
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
    if (args.isEmpty())
        return fail(err, usage, 2);
    QDate from;
    QString dir;
    if (args[0] == u"import") {
        for (qsizetype i = 1; i < args.size(); ++i) {
            if (args[i] == u"--from" && i + 1 < args.size() && !from.isValid())
                from = QDate::fromString(args[++i], Qt::ISODate);
            else if (dir.isEmpty() && !args[i].startsWith(u"--"))
                dir = args[i];
            else
                return fail(err, usage, 2);
        }
        if (!from.isValid())
            return fail(err, u"--from に適用開始日を YYYY-MM-DD で指定してください。"_s, 2);
        if (dir.isEmpty())
            return fail(err, usage, 2);
    } else if (args[0] != u"list" || args.size() != 1) {
        return fail(err, usage, 2);
    }

    KorDAO::clsDbAccess db;
    db.setDBIniNameString(kEnvironmentIni);
    if (const short st = db.DAO_DBOpen(); st != 0)
        return fail(err, u"MOXENV データベースのオープンに失敗しました（%1）: %2"_s.arg(st).arg(
                             db.lastError()));
    const int code =
        args[0] == u"import" ? importTax(db, from, dir, out, err) : listTax(db, out, err);
    (void)db.DAO_DBClose();
    return code;
}

} // namespace

Command taxCommand() {
    return {u"tax"_s, kUsage, u"源泉徴収税額表の読み込みと一覧"_s, &runTax};
}

mox::Status loadShippedTaxTables(Database & /*payroll*/, Database &environment) {
    return KorTAX::importEditions(environment.handle(), KorTAX::shippedTaxDir());
}

} // namespace moxdb
