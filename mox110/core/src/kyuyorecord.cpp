#include "mox110/kyuyorecord.h"

#include "mox/bascmnname.h"
#include "mox110/bonuscalc.h"
#include "mox110/decimal.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace mox110 {
namespace {

__extension__ typedef __int128 Wide; // exact intermediate of the proportion product

constexpr int kCommentLength = 30;

QVariant money(Currency c)
{
    return QVariant::fromValue(c);
}

// A code or count held in a Currency, for an integer field; nullopt when it does not fit one
// (a count of four billion dependants would otherwise be stored wrapped round).
std::optional<int> whole(Currency c)
{
    const std::int64_t n = c.toInteger(Rounding::Floor);
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(n);
}

} // namespace

QString commentField(const QString& text)
{
    QString out;
    int characters = 0;
    for (qsizetype i = 0; i < text.size() && characters < kCommentLength; ++characters) {
        const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        out += text.mid(i, width);
        i += width;
    }
    return out + QString(kCommentLength - characters, u' ');
}

std::optional<Currency> proportionField(const QString& text)
{
    // value × 100000 = digits × 10^(5 − decimals); in Currency's 1/10000 units that is
    // digits × 10^(9 − decimals), rounded half to even when the text has more than nine decimals.
    const std::optional<ExactDecimal> d = parseExact(text);
    if (!d)
        return std::nullopt;
    Wide raw = d->digits;
    for (int shift = 9 - d->decimals; shift > 0; --shift)
        raw *= 10;
    if (d->decimals > 9) {
        Wide divisor = 1;
        for (int shift = d->decimals - 9; shift > 0; --shift)
            divisor *= 10;
        const Wide q = raw / divisor;
        const Wide r = raw % divisor;
        const Wide twice = 2 * (r < 0 ? -r : r);
        const bool up = twice > divisor || (twice == divisor && q % 2 != 0);
        raw = up ? q + (raw < 0 ? -1 : 1) : q;
    }
    if (raw > std::numeric_limits<std::int64_t>::max() ||
        raw < std::numeric_limits<std::int64_t>::min())
        return std::nullopt;
    return Currency::fromRaw(static_cast<std::int64_t>(raw));
}

mox::Result<KyuyoValues> kyuyoValues(const BonusScreen& s, const CalcContext& ctx, int syokcd)
{
    const JinjiRecord& j = ctx.jinji;
    const std::optional<Currency> km = proportionField(s.txtKmritu);
    if (!km)
        return mox::Status::failure(-1, u"期末手当支給割合が数値ではありません。"_s);
    const std::optional<Currency> kb = proportionField(s.txtKbritu);
    if (!kb)
        return mox::Status::failure(-1, u"勤勉手当支給割合が数値ではありません。"_s);
    const std::optional<int> kmmmdd = periodKey(s.nu1Kmmm, s.nu1Kmdd);
    if (!kmmmdd)
        return mox::Status::failure(-1, u"期末手当在職期間が正しくありません。"_s);
    const std::optional<int> kbmmdd = periodKey(s.nu1Kbmm, s.nu1Kbdd);
    if (!kbmmdd)
        return mox::Status::failure(-1, u"勤勉手当在職期間が正しくありません。"_s);
    const std::optional<int> skyuym = whole(ctx.kanri.SYORID);
    const std::optional<int> fsinsu = whole(s.nu1Fsinsu);
    if (!skyuym || !fsinsu)
        return amountOverflow();

    return KyuyoValues{
        {u"SYOKCD"_s, syokcd},
        {u"KYUSYU"_s, 2},
        {u"SKYUYM"_s, *skyuym},
        {u"KYUSEQ"_s, 0},
        {u"SYOZOK"_s, j.SYOZOK},
        {u"ZAIMU"_s, int{mox::prfZaimuKbn(j.SYOZOK)}},
        {u"SYOSYU"_s, j.SYOSYU},
        {u"KYUKBN"_s, j.KYUKBN},
        {u"KGOKYU"_s, j.KGOKYU},
        {u"KGOGHO"_s, j.KGOGHO},
        {u"GENFUY"_s, j.GENFUY},
        {u"GENHAI"_s, j.GENHAI},
        {u"KYURYO"_s, money(s.nu1Kyuryo)},
        {u"KTYOGK"_s, money(s.nu1Ktyogk)},
        {u"STYOGK"_s, money(s.nu1Styogk)},
        {u"FUYOTE"_s, money(s.nu1Fuyote)},
        {u"KMCHIIKI"_s, money(s.nu1Kmchiiki)},
        {u"KBCHIIKI"_s, money(s.nu1Kbchiiki)},
        {u"KIMATU"_s, money(s.nu1Kimatu)},
        {u"KINBEN"_s, money(s.nu1Kinben)},
        {u"SSIKYU"_s, money(s.nu1Ssikyu)},
        {u"KAZEIG"_s, money(ctx.curKazeig)},
        {u"KENKO"_s, money(s.nu1Kenko)},
        {u"KOSEI"_s, money(s.nu1Kosei)},
        {u"KOYOU"_s, money(s.nu1Koyou)},
        {u"SYOTOK"_s, money(s.nu1Syotok)},
        {u"KOUGOK"_s, money(s.nu1Kougok)},
        {u"SYAGOK"_s, money(s.nu1Syagok)},
        {u"HKZEGK"_s, money(s.nu1Hkzegk)},
        {u"SASIHK"_s, money(s.nu1Sasihk)},
        {u"ZENKAZ"_s, money(s.nu1Zenkaz)},
        {u"ZENZEI"_s, money(s.nu1Zenzei)},
        {j.KYUKBN == kPayClassDaily ? u"NMRITU"_s : u"KMRITU"_s, money(*km)},
        {u"KBRITU"_s, money(*kb)},
        {u"FSINSU"_s, *fsinsu},
        {u"ZEIRT2"_s, money(s.nu1Zeirit)},
        {u"KMMMDD"_s, *kmmmdd},
        {u"KMZRIT"_s, money(s.nu1Kmkikan)},
        {u"KBMMDD"_s, *kbmmdd},
        {u"KBZRIT"_s, money(s.nu1Kbkikan)},
        {u"TOKKBN"_s, s.cboTokkbn.listIndex},
        {u"ROUKBN"_s, s.cboRoukbn.listIndex},
        {u"NIREM1"_s, commentField(s.txtTxt1)},
        {u"NIREM2"_s, commentField(s.txtTxt2)},
        {u"NIREM3"_s, commentField(s.txtTxt3)},
    };
}

void assignField(KorDAO::FieldRef field, const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<Currency>()) {
        field = value.value<Currency>();
    } else if (value.metaType() == QMetaType::fromType<QString>()) {
        field = value.toString();
    } else if (value.metaType() == QMetaType::fromType<int>()) {
        field = value.toInt();
    } else if (const std::optional<Currency> c = Currency::parse(value.toString())) {
        field = *c; // a number read in another type (KGOKYU, KGOGHO)
    } else {
        field = value.toString();
    }
}

namespace {

// Finds the record again inside the write transaction and compares it with the call-up.
short recheck(KorDAO::clsTbAccess& tb, const QString& criteria, const KorDAO::RecordStamp& seen,
              WriteResult* r, bool* found)
{
    const short find = tb.DAO_RecFind(1, criteria);
    if (find != 0 && find != KorDAO::kNoRecord)
        return find;
    *found = find == 0;
    r->vanished = !*found && seen.isPresent();
    return tb.DAO_RecCheck(seen);
}

// Commits after \p status 0, else undoes the transaction at once (so the operator's message
// comes after the database is as it was).
short endWrite(KorDAO::Transaction& tx, short status, const std::function<void()>& beforeCommit)
{
    if (status != 0) {
        (void)tx.rollback();
        return status;
    }
    if (beforeCommit)
        beforeCommit();
    return short(tx.commit().code); // a commit that fails is undone by the component
}

} // namespace

WriteResult saveKyuyo(KorDAO::clsTbAccess& tb, const QString& criteria,
                      const KorDAO::RecordStamp& seen, const KyuyoValues& values,
                      const std::function<void()>& beforeCommit)
{
    WriteResult r;
    KorDAO::Transaction tx(tb);
    if (!tx.started()) {
        r.status = short(tx.status().code);
        return r;
    }
    short st = 0;
    const mox::Status assigned = KorDAO::readFields([&] {
        bool found = false;
        st = recheck(tb, criteria, seen, &r, &found);
        if (st == 0)
            st = found ? tb.DAO_Edit(true) : tb.DAO_AddNew(true);
        if (st == 0) {
            KorDAO::Record rec = tb.TBRec();
            for (const KyuyoField& f : values)
                assignField(rec[f.name], f.value);
            st = tb.DAO_Update();
        }
    });
    if (!assigned.ok())
        st = short(assigned.code);
    r.status = endWrite(tx, st, beforeCommit);
    r.commitLoss = tb.DAO_CommitLoss();
    return r;
}

WriteResult deleteKyuyo(KorDAO::clsTbAccess& tb, const QString& criteria,
                        const KorDAO::RecordStamp& seen, const std::function<void()>& beforeCommit)
{
    WriteResult r;
    KorDAO::Transaction tx(tb);
    if (!tx.started()) {
        r.status = short(tx.status().code);
        return r;
    }
    bool found = false;
    short st = recheck(tb, criteria, seen, &r, &found);
    if (st == 0 && !found) {
        r.missing = true;
        st = KorDAO::kNoRecord;
    }
    if (st == 0)
        st = tb.DAO_Delete(true);
    r.status = endWrite(tx, st, beforeCommit);
    r.commitLoss = tb.DAO_CommitLoss();
    return r;
}

} // namespace mox110
