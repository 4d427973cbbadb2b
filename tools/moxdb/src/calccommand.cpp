// moxdb calc: what the bonus entry screen shows for one employee called up without a stored
// bonus, worked out by the screen's own calculation and printed one field a line.

#include "moxdb/bonusseason.h"
#include "moxdb/command.h"
#include "moxdb/database.h"

#include "kordao/kordao.h"
#include "kortax/kortax.h"
#include "mox/bascmnname.h"
#include "mox/comdate.h"
#include "mox/shell.h"
#include "mox110/bonuscalc.h"
#include "mox110/callup.h"
#include "mox110/screenfields.h"

#include <cstdio>
#include <cstdlib>
#include <type_traits>
#include <variant>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// The screen as "name=value" lines: the employee list's choice, then every box in the order of
// the screen's own table (amounts as plain decimal text, lists as their index).
void print(QTextStream& out, int syokcdIndex, const mox110::BonusScreen& s)
{
    out << "cboSyokcd=" << syokcdIndex << '\n';
    for (const mox110::BoxBinding& b : mox110::boxBindings()) {
        out << QString::fromUtf16(b.name) << '=';
        std::visit(
            [&](auto field) {
                const auto& value = s.*field;
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, Currency>)
                    out << value.toPlainString();
                else if constexpr (std::is_same_v<T, mox110::ListChoice>)
                    out << value.listIndex;
                else
                    out << value;
            },
            b.field);
        out << '\n';
    }
}

// The employee's place in the screen's employee list, or -1 when the list does not hold him.
int listIndexOf(const BonusSeason& season, int syokcd)
{
    const auto listed = season.listedEmployees();
    if (mox::failure(listed))
        return -1;
    int index = 0;
    for (const ListedEmployee& e : mox::value(listed)) {
        if (e.syokcd == syokcd)
            return index;
        ++index;
    }
    return -1;
}

int fail(QTextStream& err, const QString& message)
{
    err << "moxdb calc: " << message << '\n';
    return 1;
}

int runCalc(const QStringList& args, QTextStream& out, QTextStream& err)
{
    bool codeOk = false;
    const int syokcd = args.isEmpty() ? 0 : args.first().toInt(&codeOk);
    Options options(args.mid(1), {u"--tokkbn"_s, u"--roukbn"_s, u"--dir"_s});
    const int tokkbn = options.number(u"--tokkbn"_s, 0, 0, 1);
    const int roukbn = options.number(u"--roukbn"_s, 0, 0, 1);
    if (!codeOk || syokcd < 0 || syokcd > 9'999'999 || !options.ok()) {
        err << "usage: moxdb calc SYOKCD [--tokkbn 0|1] [--roukbn 0|1] [--dir DIR]\n";
        if (!options.ok())
            err << "moxdb calc: " << options.error() << '\n';
        return 2;
    }
    if (options.has(u"--dir"_s))
        useIniFolder(options.value(u"--dir"_s));

    ConsoleShell shell(err, u"moxdb calc"_s);
    mox::Result<OpenSeason> opened = openSeason();
    if (const mox::Status* s = mox::failure(opened))
        return fail(err, s->message);
    BonusSeason& season = *mox::value(opened).season;
    const QString code = QString::number(syokcd);
    const auto jinji = season.readJinji({syokcd});
    if (const mox::Status* s = mox::failure(jinji))
        return fail(err, s->message);
    const auto found = mox::value(jinji).find(syokcd);
    if (found == mox::value(jinji).end())
        return fail(err, u"職員コード "_s + code + u" の人事データがありません。"_s);
    if (const mox::Status* s = mox::failure(found->second))
        return fail(err, u"GKJINJI: "_s + s->message);
    const int listIndex = listIndexOf(season, syokcd);
    if (listIndex < 0)
        return fail(err,
                    u"職員コード "_s + code + u" は日額支給者のため12月以外は選択できません。"_s);

    const NewBonus bonus = season.calculateNew(mox::value(found->second), tokkbn, roukbn);
    // Figures F12 would refuse to store are still shown: the command prints the screen.
    if (!bonus.calculated)
        return fail(err, bonus.status.message);
    const mox110::BonusScreen& screen = bonus.screen;
    print(out, listIndex, screen);
    return 0;
}

} // namespace

Command calcCommand()
{
    return {u"calc"_s, u"SYOKCD [--tokkbn 0|1] [--roukbn 0|1] [--dir DIR]"_s,
            u"print the bonus screen of an employee without a stored bonus, calculated"_s,
            &runCalc};
}

} // namespace moxdb
