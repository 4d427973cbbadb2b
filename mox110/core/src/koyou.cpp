#include "mox110/bonuscalc.h"

#include "mox/comkordao.h"

namespace mox110 {

namespace {

constexpr int kBands = 60;

QString bandField(QStringView stem, int n)
{
    return stem.toString() + QString::number(n).rightJustified(2, u'0');
}

} // namespace

mox::Result<Currency> koyouFromRow(KorDAO::Record row, Currency amount)
{
    mox::Result<Currency> r = KorDAO::readFields([&]() -> mox::Result<Currency> {
        const auto byRate = [&] {
            return amount.mulDiv(row[u"KAKRIT"].toCurrency(), 1000, Rounding::Floor, 0);
        };
        if (amount < row[u"KAISHI"].toCurrency())
            return byRate();
        // Band n runs from the bound of band n − 1 (KAISHI for band 1) up to TINGIN_n, exclusive.
        for (int n = 1; n <= kBands; ++n) {
            if (amount < row[bandField(u"TINGIN_", n)].toCurrency())
                return row[bandField(u"HOKEN_", n)].toCurrency();
        }
        return byRate();
    });
    if (const mox::Status* failed = mox::failure(r))
        return mox::Status::failure(failed->code, u"雇用保険料表"_s + failed->message);
    return r;
}

mox::Result<Currency> prfKoyou(Currency amount)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    mox::prsDaoStatus(db.DAO_DBOpen(), false);
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db.DBDatabase());
    tb.setTBNameString(u"GKKOYOU"_s);
    const int opened = tb.DAO_TableOpen(QString(), QString());
    mox::prsDaoStatus(static_cast<short>(opened < 0 ? opened : 0), false);
    // The first row of the table; an empty table has none, so reading it fails below.
    const short positioned = tb.DAO_RecRead(1);
    mox::Result<Currency> premium =
        positioned == 0 ? koyouFromRow(tb.TBRec(), amount)
                        : mox::Result<Currency>(mox::Status::failure(
                              positioned, u"雇用保険料表(GKKOYOU)にレコードがありません。"_s));
    mox::prsDaoStatus(tb.DAO_TableClose(), false);
    mox::prsDaoStatus(db.DAO_DBClose(), false);
    return premium;
}

} // namespace mox110
