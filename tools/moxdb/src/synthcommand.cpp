#include "moxdb/command.h"
#include "moxdb/init.h"
#include "moxdb/loading.h"
#include "moxdb/synthdata.h"
#include "moxdb/tablestax.h"

#include <QElapsedTimer>

#include <limits>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

int runSynth(const QStringList& args, QTextStream& out, QTextStream& err)
{
    Options options(args, {u"--staff"_s, u"--years"_s, u"--seed"_s, u"--dir"_s}, {u"--replace"_s});
    const int staff = options.number(u"--staff"_s, 1000, 1, kMaxSynthStaff);
    const int years = options.number(u"--years"_s, 3, 1, kMaxSynthYears);
    const int seed = options.number(u"--seed"_s, 1, 0, std::numeric_limits<int>::max());
    if (!options.ok()) {
        err << "moxdb synth: " << options.error() << '\n';
        return 2;
    }
    auto opened = openLoadTargets(options.value(u"--dir"_s), out);
    if (const mox::Status* s = mox::failure(opened)) {
        err << "moxdb synth: " << failureText(s->message) << '\n';
        return 1;
    }
    LoadTargets& targets = mox::value(opened);
    if (mox::Status s = checkReplaceable(targets, options.has(u"--replace"_s)); !s.ok()) {
        err << "moxdb synth: " << failureText(s.message) << '\n';
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    const std::unique_ptr<WithholdingTax> tax = withholdingTaxOf(*targets.environment, err);
    const Dataset d = syntheticDistrict(staff, static_cast<std::uint64_t>(seed));
    qint64 written = 0;
    if (mox::Status s = writeSynthetic(*targets.payroll, *targets.environment, d, years, *tax,
                                       static_cast<std::uint64_t>(seed), &written);
        !s.ok()) {
        err << "moxdb synth: " << failureText(s.message) << '\n';
        return 1;
    }
    out << "synthetic data: " << staff << " staff, " << years << " fiscal years, " << written
        << " payment records in " << timer.elapsed() << " ms\n";
    printTargets(targets, out);
    return 0;
}

} // namespace

Command synthCommand()
{
    return {u"synth"_s, u"--staff N --years Y [--seed S] [--dir DIR] [--replace]"_s,
            u"replace the data with N synthetic staff and Y fiscal years of payments; data that "
            u"demo or synth did not make is replaced only with --replace. With --dir, only the "
            u"configuration files of DIR count (made there with both databases when missing)"_s,
            &runSynth};
}

} // namespace moxdb
