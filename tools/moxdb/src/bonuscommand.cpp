// moxdb bonus: the bonus season of the whole district. "run" works out and stores the bonus
// record of every employee of the entry screen's list who has none for the processing month;
// "check" lists who deserves a second look before the bonus is paid (bonuscheckcommand.cpp).

#include "moxdb/bonuscheckout.h"
#include "moxdb/bonusrun.h"
#include "moxdb/command.h"
#include "moxdb/database.h"
#include "moxdb/progress.h"

#include "kordao/kordao.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kRunUsage =
    u"run [--employee N…] [--dry-run] [--tokkbn 0|1] [--roukbn 0|1] [--dir DIR]"_s;
const QString kCheckUsage = u"check "_s + bonusCheckUsage();

QString sourceText(ClassSource source, int month)
{
    switch (source) {
    case ClassSource::Given:
        return u"指定"_s;
    case ClassSource::LatestBonus:
        return u"前回賞与%1"_s.arg(month);
    case ClassSource::Default:
        break;
    }
    return u"既定"_s;
}

QString outcomeText(BonusRunLine::Outcome outcome)
{
    switch (outcome) {
    case BonusRunLine::Outcome::Written:
        return u"書込"_s;
    case BonusRunLine::Outcome::WouldWrite:
        return u"書込予定"_s;
    case BonusRunLine::Outcome::AlreadyThere:
        return u"登録済"_s;
    case BonusRunLine::Outcome::Refused:
        break;
    }
    return u"計算不可"_s;
}

// One line per employee, tab-separated: code, name, outcome, the two deduction classes each with
// where it came from, and a remark (hand-entered staff, the reason of a refusal).
QString lineText(const BonusRunLine& l)
{
    QString remark = l.handEntered ? u"手入力"_s : QString();
    if (!l.reason.isEmpty())
        remark += (remark.isEmpty() ? QString() : u" "_s) + l.reason;
    const bool classes = l.outcome != BonusRunLine::Outcome::AlreadyThere &&
                         !(l.outcome == BonusRunLine::Outcome::Refused && l.name.isEmpty());
    return u"%1\t%2\t%3\t%4\t%5\t%6"_s.arg(l.syokcd, 7, 10, QChar(u'0'))
        .arg(l.name, outcomeText(l.outcome),
             classes
                 ? u"健康厚生=%1(%2)"_s.arg(l.tokkbn).arg(sourceText(l.tokSource, l.latestMonth))
                 : QString(),
             classes ? u"雇用=%1(%2)"_s.arg(l.roukbn).arg(sourceText(l.rouSource, l.latestMonth))
                     : QString(),
             remark);
}

int fail(QTextStream& err, const QString& message)
{
    err << "moxdb bonus run: " << failureText(message) << '\n';
    return 1;
}

// Parses the options; nothing when the command ends here with its usage (status 2).
std::optional<BonusRunOptions> parse(const QStringList& args, QTextStream& err)
{
    Options o(args, {.withValue = {u"--tokkbn"_s, u"--roukbn"_s, u"--dir"_s},
                     .switches = {u"--dry-run"_s},
                     .withValues = {u"--employee"_s}});
    BonusRunOptions options;
    if (o.has(u"--tokkbn"_s))
        options.tokkbn = o.number(u"--tokkbn"_s, 0, 0, 1);
    if (o.has(u"--roukbn"_s))
        options.roukbn = o.number(u"--roukbn"_s, 0, 0, 1);
    options.dryRun = o.has(u"--dry-run"_s);
    QString bad;
    for (const QString& v : o.values(u"--employee"_s)) {
        bool ok = false;
        const int code = v.toInt(&ok);
        if (!ok || code < 0 || code > 9'999'999)
            bad = v;
        options.employees.insert(code);
    }
    // Two choices of a deduction class for a whole district: neither is taken.
    const QString twice = repeatedOption(o, {u"--tokkbn"_s, u"--roukbn"_s, u"--dir"_s});
    if (!o.ok() || !bad.isEmpty() || !twice.isEmpty()) {
        err << "usage: moxdb bonus " << kRunUsage << '\n';
        err << "moxdb bonus run: "
            << (!o.ok() ? optionFaultText(o)
                : !twice.isEmpty()
                    ? u"%1 は一度だけ指定してください。"_s.arg(twice)
                    : u"職員コード「%1」は 0 から 9999999 の数ではありません。"_s.arg(bad))
            << '\n';
        return std::nullopt;
    }
    if (o.has(u"--dir"_s))
        useIniFolder(o.value(u"--dir"_s));
    return options;
}

int runRun(const QStringList& args, QTextStream& out, QTextStream& err)
{
    std::optional<BonusRunOptions> options = parse(args, err);
    if (!options)
        return 2;
    std::optional<TerminalProgress> progress;
    options->counted = [&progress](std::size_t n) {
        progress.emplace(u"賞与計算"_s, u"人"_s, qint64(n));
    };
    ConsoleShell shell(err, u"moxdb bonus run"_s);
    mox::Result<OpenSeason> opened = openSeason();
    if (const mox::Status* s = mox::failure(opened))
        return fail(err, s->message);
    const KorDAO::DatabaseHandle handle = mox::value(opened).db->handle();
    BonusSeason& season = *mox::value(opened).season;

    out << season.monthCaption()
        << (options->dryRun ? u" 賞与計算（試算、書き込みません）"_s : u" 賞与計算"_s) << '\n';
    std::vector<BonusRunLine> refused, handEntered;
    BonusRunTotals totals;
    const mox::Status s = runBonus(
        season, handle, *options,
        [&](const BonusRunLine& line) {
            out << lineText(line) << '\n';
            out.flush(); // a line is written once its record is committed
            if (line.outcome == BonusRunLine::Outcome::Refused)
                refused.push_back(line);
            else if (line.handEntered && line.outcome != BonusRunLine::Outcome::AlreadyThere)
                handEntered.push_back(line);
            if (progress)
                progress->advance();
        },
        &totals);
    if (progress)
        progress->finish();
    out << (options->dryRun ? u"書込予定 "_s : u"書込 "_s) << totals.written << u" 人、登録済 "_s
        << totals.alreadyThere << u" 人、計算不可 "_s << totals.refused << u" 人、手入力 "_s
        << totals.handEntered << u" 人\n"_s;
    for (const BonusRunLine& l : refused)
        out << u"計算不可\t"_s << lineText(l) << '\n';
    for (const BonusRunLine& l : handEntered)
        out << u"手入力\t"_s << lineText(l) << '\n';
    out.flush();
    if (!s.ok())
        return fail(
            err,
            s.message +
                u"（それまでの書き込みは保存されています。もう一度実行すると残りを計算します。）"_s);
    return 0;
}

} // namespace

Command bonusCommand()
{
    return {u"bonus"_s, u"run|check …"_s,
            u"the bonus season: run works out and stores the bonus record of every employee the "
            u"entry screen lists who has none for the processing month; check lists those who "
            u"deserve a second look"_s,
            [](const QStringList& args, QTextStream& out, QTextStream& err) {
                if (!args.isEmpty() && args.first() == u"run"_s)
                    return runRun(args.mid(1), out, err);
                if (!args.isEmpty() && args.first() == u"check"_s)
                    return runBonusCheck(args.mid(1), out, err);
                err << "usage: moxdb bonus " << kRunUsage << "\n       moxdb bonus " << kCheckUsage
                    << '\n';
                return 2;
            }};
}

} // namespace moxdb
