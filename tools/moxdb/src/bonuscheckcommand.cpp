// moxdb bonus check: the check list of the bonus month before it is paid.
//
//   moxdb bonus check [--out FILE.pdf] [--csv FILE] [--threshold PCT] [--encoding cp932|utf-8]
//                     [--dir DIR]
//
// For the processing month of GKKANRI (June or December): one line per employee who deserves a
// look, with the reasons and the figures that show why, then the totals. Without --out and
// --csv the list goes to standard output as text.

#include "moxdb/bonuscheckout.h"
#include "moxdb/bonuscheckread.h"
#include "moxdb/command.h"
#include "moxdb/database.h"
#include "moxdb/export.h"
#include "moxdb/init.h"
#include "moxdb/progress.h"

#include "kordao/kordao.h"

#include <csignal>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage = bonusCheckUsage();

struct CheckArgs {
    QString pdf;
    QString csv;
    QString dir;
    Currency threshold = Currency::fromYen(10);
    CsvEncoding encoding = CsvEncoding::Cp932;
};

mox::Result<CheckArgs> parseArgs(const QStringList& args)
{
    const Options o(args, OptionNames{.withValue = {u"--out"_s, u"--csv"_s, u"--threshold"_s,
                                                    u"--dir"_s, u"--encoding"_s}});
    if (!o.ok())
        return mox::Status::failure(2, optionFaultText(o));
    if (const QString twice = repeatedOption(
            o, {u"--out"_s, u"--csv"_s, u"--threshold"_s, u"--dir"_s, u"--encoding"_s});
        !twice.isEmpty())
        return mox::Status::failure(2, u"%1 は一度だけ指定してください。"_s.arg(twice));
    const mox::Result<CsvEncoding> encoding = encodingOption(o);
    if (const mox::Status* s = mox::failure(encoding))
        return *s;
    CheckArgs a;
    a.pdf = o.value(u"--out"_s);
    a.csv = o.value(u"--csv"_s);
    a.dir = o.value(u"--dir"_s);
    a.encoding = mox::value(encoding);
    if (o.has(u"--threshold"_s)) {
        const QString given = o.value(u"--threshold"_s);
        const std::optional<Currency> t = Currency::parse(given.trimmed());
        if (!t || t->isNegative() || *t > Currency::fromYen(100000))
            return mox::Status::failure(
                2, u"--threshold「%1」は 0 以上のパーセント（10、12.5 など）で指定してください。"_s
                       .arg(given));
        a.threshold = *t;
    }
    if (!a.pdf.isEmpty() && a.pdf == a.csv)
        return mox::Status::failure(2, u"--out と --csv に同じファイルは指定できません。"_s);
    return a;
}

int fail(QTextStream& err, const QString& text, int code = 1)
{
    err << "moxdb bonus check: " << failureText(text) << Qt::endl;
    return code;
}

mox::Result<CheckList> makeList(const CheckArgs& a, BonusSeason& season,
                                const KorDAO::DatabaseHandle& db, QString* monthCaption)
{
    *monthCaption = season.monthCaption();
    std::unique_ptr<TerminalProgress> progress;
    int shown = 0;
    const mox::Result<CheckInput> in =
        readCheckInput(season, db, a.threshold, [&](int done, int of) {
            if (!progress)
                progress = std::make_unique<TerminalProgress>(u"賞与データのない職員の計算"_s,
                                                              u"人"_s, of);
            progress->advance(done - shown);
            shown = done;
        });
    if (const mox::Status* s = mox::failure(in))
        return *s;
    try {
        return checkBonus(mox::value(in));
    } catch (const std::overflow_error&) {
        return mox::Status::failure(KorDAO::kFieldUnreadable,
                                    u"点検リストの合計: "_s + amountTooLargeText());
    }
}

} // namespace

QString bonusCheckUsage()
{
    return u"[--out FILE.pdf] [--csv FILE] [--threshold PCT] [--encoding cp932|utf-8] "
           u"[--dir DIR]"_s;
}

int runBonusCheck(const QStringList& args, QTextStream& out, QTextStream& err)
{
    mox::Result<CheckArgs> parsed = parseArgs(args);
    if (const mox::Status* s = mox::failure(parsed)) {
        err << "moxdb bonus check: " << s->message << "\nusage: moxdb bonus check " << kUsage
            << Qt::endl;
        return 2;
    }
    const CheckArgs& a = mox::value(parsed);
    if (!a.dir.isEmpty())
        useIniFolder(a.dir);
    std::signal(SIGXFSZ, SIG_IGN); // a file-size limit fails the write instead of the process
    ConsoleShell shell(err, u"moxdb bonus check"_s);
    mox::Result<OpenSeason> opened = openSeason();
    if (const mox::Status* s = mox::failure(opened))
        return fail(err, s->message);
    QString caption;
    const mox::Result<CheckList> list =
        makeList(a, *mox::value(opened).season, mox::value(opened).db->handle(), &caption);
    if (const mox::Status* s = mox::failure(list))
        return fail(err, s->message);
    const CheckList& l = mox::value(list);
    if (!a.csv.isEmpty()) {
        if (mox::Status s = writeCheckCsv(l, a.encoding, a.csv); !s.ok())
            return fail(err, s.message);
    }
    if (!a.pdf.isEmpty()) {
        if (mox::Status s = writeCheckPdf(l, {caption, a.threshold}, a.pdf); !s.ok())
            return fail(err, s.message);
    }
    if (a.pdf.isEmpty() && a.csv.isEmpty()) {
        printCheckList(l, out);
        return 0;
    }
    out << u"%1の点検リスト: %2 人（賞与データ %3 件）を書き出しました。"_s.arg(caption)
               .arg(l.lines.size())
               .arg(l.district.headcount)
        << Qt::endl;
    return 0;
}

} // namespace moxdb
