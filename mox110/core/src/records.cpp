#include "mox110/records.h"

namespace mox110 {

namespace {

QString fieldName(QStringView stem, int n)
{
    return stem.toString() + QString::number(n).rightJustified(2, u'0');
}

} // namespace

mox::Result<JinjiRecord> readJinji(KorDAO::Record rec)
{
    return KorDAO::readFields([&] {
        JinjiRecord j;
        j.SYOKCD = rec[u"SYOKCD"].toInt();
        j.SIMKNJ = rec[u"SIMKNJ"].toString();
        j.KYUKBN = rec[u"KYUKBN"].toInt();
        j.HYOKBN = rec[u"HYOKBN"].toInt();
        j.KAIKBN = rec[u"KAIKBN"].toInt();
        j.KYURYO = rec[u"KYURYO"].toCurrency();
        j.NITANK = rec[u"NITANK"].toCurrency();
        j.TYOSEI = rec[u"TYOSEI"].toCurrency();
        j.KTYOSE = rec[u"KTYOSE"].toCurrency();
        j.FUYO = rec[u"FUYO"].toCurrency();
        j.GENFUY = rec[u"GENFUY"].toInt();
        j.GENHAI = rec[u"GENHAI"].toInt();
        j.SYOZOK = rec[u"SYOZOK"].toString();
        j.SYOSYU = rec[u"SYOSYU"].toInt();
        j.KGOKYU = rec[u"KGOKYU"].variant();
        j.KGOGHO = rec[u"KGOGHO"].variant();
        j.ZKAYMD_01 = rec[u"ZKAYMD_01"].toCurrency();
        j.ZKNYMD_01 = rec[u"ZKNYMD_01"].toCurrency();
        j.ZKAYMD_02 = rec[u"ZKAYMD_02"].toCurrency();
        j.ZKNYMD_02 = rec[u"ZKNYMD_02"].toCurrency();
        for (int n = 1; n <= 8; ++n) {
            const auto i = static_cast<std::size_t>(n - 1);
            j.KAIYMD[i] = rec[fieldName(u"KAIYMD_", n)].toCurrency();
            j.KANYMD[i] = rec[fieldName(u"KANYMD_", n)].toCurrency();
        }
        return j;
    });
}

mox::Result<KanriRecord> readKanri(KorDAO::Record rec)
{
    return KorDAO::readFields([&] {
        KanriRecord k;
        k.SYORID = rec[u"SYORID"].toCurrency();
        k.KM6KM = rec[u"KM6KM"].toCurrency();
        k.KM6KB = rec[u"KM6KB"].toCurrency();
        k.KM12KM = rec[u"KM12KM"].toCurrency();
        k.KM12KB = rec[u"KM12KB"].toCurrency();
        k.NKM12KM = rec[u"NKM12KM"].toCurrency();
        k.CHIRIT = rec[u"CHIRIT"].toCurrency();
        k.KENGEN = rec[u"KENGEN"].toCurrency();
        k.KOSGEN = rec[u"KOSGEN"].toCurrency();
        k.KENTOK = rec[u"KENTOK"].toCurrency();
        k.KENTK2 = rec[u"KENTK2"].toCurrency();
        k.KAITOK = rec[u"KAITOK"].toCurrency();
        k.KAITK2 = rec[u"KAITK2"].toCurrency();
        k.KOSTOK = rec[u"KOSTOK"].toCurrency();
        k.KOSTK2 = rec[u"KOSTK2"].toCurrency();
        k.GKNAME = rec[u"GKNAME"].toString();
        k.SYOZOKU = rec[u"SYOZOKU"].toString();
        return k;
    });
}

} // namespace mox110
