#include "moxdb/command.h"
#include "moxdb/demodata.h"
#include "moxdb/init.h"
#include "moxdb/tables.h"
#include "moxdb/tablestax.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

std::unique_ptr<Database> openOrReport(const QString& iniName, QTextStream& err)
{
    auto db = Database::open(iniName, /*create=*/false);
    if (const mox::Status* s = mox::failure(db)) {
        err << "moxdb: " << failureText(s->message) << " (run moxdb init first)\n";
        return nullptr;
    }
    return std::move(mox::value(db));
}

int runDemo(const QStringList& args, QTextStream& out, QTextStream& err)
{
    Options options(args, {u"--dir"_s});
    if (!options.ok()) {
        err << "moxdb demo: " << options.error() << '\n';
        return 2;
    }
    if (options.has(u"--dir"_s))
        useIniFolder(options.value(u"--dir"_s));
    std::unique_ptr<Database> payroll = openOrReport(kPayrollIni, err);
    std::unique_ptr<Database> environment = payroll ? openOrReport(kEnvironmentIni, err) : nullptr;
    if (!environment)
        return 1;

    const std::unique_ptr<WithholdingTax> tax = withholdingTaxOf(*environment, err);
    const DatasetRows rows = demoRows(*tax);
    mox::Status s = replaceTables(*payroll, {{&kanriLayout(), &rows.kanri},
                                             {&jinjiLayout(), &rows.jinji},
                                             {&kyuyoLayout(), &rows.kyuyo},
                                             {&koyouLayout(), &rows.koyou}});
    if (s.ok())
        s = replaceTables(*environment, {{&nameLayout(), &rows.names}});
    if (!s.ok()) {
        err << "moxdb demo: " << failureText(s.message) << '\n';
        return 1;
    }
    out << "demo district loaded: " << rows.jinji.size() << " staff, " << rows.kyuyo.size()
        << " payment records, processing month 202612\n";
    return 0;
}

} // namespace

Command demoCommand()
{
    return {u"demo"_s, u"[--dir DIR]"_s,
            u"replace the data of both databases with the demo district (processing month "
            u"December 2026)"_s,
            &runDemo};
}

} // namespace moxdb
