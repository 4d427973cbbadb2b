#include "moxdb/command.h"
#include "moxdb/demodata.h"
#include "moxdb/init.h"
#include "moxdb/loading.h"
#include "moxdb/tables.h"
#include "moxdb/tablestax.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

int runDemo(const QStringList& args, QTextStream& out, QTextStream& err)
{
    Options options(args, {u"--dir"_s}, {u"--replace"_s});
    if (!options.ok()) {
        err << "moxdb demo: " << options.error() << '\n';
        return 2;
    }
    auto opened = openLoadTargets(options.value(u"--dir"_s), out);
    if (const mox::Status* s = mox::failure(opened)) {
        err << "moxdb demo: " << failureText(s->message) << '\n';
        return 1;
    }
    LoadTargets& targets = mox::value(opened);
    if (mox::Status s = checkReplaceable(targets, options.has(u"--replace"_s)); !s.ok()) {
        err << "moxdb demo: " << failureText(s.message) << '\n';
        return 1;
    }

    const std::unique_ptr<WithholdingTax> tax = withholdingTaxOf(*targets.environment, err);
    const DatasetRows rows = demoRows(*tax);
    const std::vector<Row> mark = loadMark(u"demo"_s);
    mox::Status s = replaceTables(*targets.payroll, {{&kanriLayout(), &rows.kanri},
                                                     {&jinjiLayout(), &rows.jinji},
                                                     {&kyuyoLayout(), &rows.kyuyo},
                                                     {&koyouLayout(), &rows.koyou},
                                                     {&loadMarkLayout(), &mark}});
    if (s.ok())
        s = replaceTables(*targets.environment,
                          {{&nameLayout(), &rows.names}, {&loadMarkLayout(), &mark}});
    if (!s.ok()) {
        err << "moxdb demo: " << failureText(s.message) << '\n';
        return 1;
    }
    out << "demo district loaded: " << rows.jinji.size() << " staff, " << rows.kyuyo.size()
        << " payment records, processing month 202612\n";
    printTargets(targets, out);
    return 0;
}

} // namespace

Command demoCommand()
{
    return {u"demo"_s, u"[--dir DIR] [--replace]"_s,
            u"replace the data of both databases with the demo district (processing month "
            u"December 2026); data that demo or synth did not make is replaced only with "
            u"--replace. With --dir, only the configuration files of DIR count (made there with "
            u"both databases when missing)"_s,
            &runDemo};
}

} // namespace moxdb
