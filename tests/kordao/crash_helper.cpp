// Opens the payroll database named by $MOX_INI_DIR/MOX.INI, begins a transaction, adds the
// payment record of employee 999 and changes the salary of employee 1, prints "READY" and waits
// to be killed: the test checks that none of it survives. With the argument "bulk" it instead
// empties the payment table and loads 3,000 records in bulk, and waits before finishing.

#include "kordao/bulkinsert.h"
#include "kordao/kordao.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    if (db.DAO_DBOpen() != 0)
        return 2;
    if (argc > 1 && qstrcmp(argv[1], "bulk") == 0) {
        KorDAO::BulkInsert bulk(db.DBDatabase(), u"GKKYUYO"_s,
                                {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYURYO"_s});
        if (bulk.status() != 0 || !KorDAO::clearTable(db.DBDatabase(), u"GKKYUYO"_s).ok())
            return 8;
        for (int code = 1000; code < 4000; ++code) {
            bulk.setInteger(0, code);
            bulk.setInteger(1, 1);
            bulk.setInteger(2, 202604);
            bulk.setAmount(3, Currency::fromYen(code));
            if (bulk.addRow() != 0)
                return 9;
        }
        std::puts("READY");
        std::fflush(stdout);
        QThread::sleep(120);
        return 0;
    }
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db.DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    if (tb.DAO_TableOpen({}, {}) < 0 || tb.DAO_BeginTrans() != 0)
        return 3;
    try {
        if (tb.DAO_AddNew(true) != 0)
            return 4;
        tb.TBRec()[u"SYOKCD"] = 999;
        tb.TBRec()[u"KYUSYU"] = 2;
        tb.TBRec()[u"SKYUYM"] = 202612;
        if (tb.DAO_Update() != 0 || tb.DAO_RecFind(1, u"SYOKCD = 1"_s) != 0 ||
            tb.DAO_Edit(true) != 0)
            return 5;
        tb.TBRec()[u"KYURYO"] = 777;
        if (tb.DAO_Update() != 0)
            return 6;
    } catch (const KorDAO::DaoError&) {
        return 7;
    }
    std::puts("READY");
    std::fflush(stdout);
    QThread::sleep(120);
    return 0;
}
