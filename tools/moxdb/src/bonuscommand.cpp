// moxdb bonus: the commands of the bonus season, one word after "bonus" each.
//
//   moxdb bonus check [...]   the check list before the bonus is paid (bonuscheckcommand.cpp)

#include "moxdb/bonuscheckout.h"
#include "moxdb/command.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

struct BonusStep {
    const char16_t* name;
    const char16_t* usage;
    int (*run)(const QStringList& args, QTextStream& out, QTextStream& err);
};

// clang-format off
constexpr BonusStep kSteps[] = {
    {u"check", u"check [--out FILE.pdf] [--csv FILE] [--threshold PCT] [--encoding cp932|utf-8] [--dir DIR]", &runBonusCheck},
};
// clang-format on

int runBonus(const QStringList& args, QTextStream& out, QTextStream& err)
{
    const QString word = args.value(0);
    for (const BonusStep& s : kSteps) {
        if (word == QStringView(s.name))
            return s.run(args.mid(1), out, err);
    }
    if (!word.isEmpty())
        err << u"moxdb bonus: 「%1」という処理はありません。"_s.arg(word) << '\n';
    for (const BonusStep& s : kSteps)
        err << "usage: moxdb bonus " << QString::fromUtf16(s.usage) << '\n';
    err.flush();
    return 2;
}

} // namespace

Command bonusCommand()
{
    return {u"bonus"_s, u"check …"_s, u"the bonus season: the check list before payment"_s,
            &runBonus};
}

} // namespace moxdb
