#include "mox030/ledgerrun.h"

#include "mox030/sub_prt.h"

#include "base/format.h"

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace mox030 {
namespace {

constexpr short kNotFound = KorDAO::kNoRecord;
constexpr short kEndOfRecords = KorDAO::kEndOfRecords;
constexpr short kNoCurrentRecord = -99;
constexpr short kFieldUnreadable = KorDAO::kFieldUnreadable;

// Fills the header of \p code from the personnel master. The status of the find: 0, kNotFound
// when the employee is not in the master, or the failure.
short readHeader(KorDAO::clsTbAccess& GKJINJI, int code, LedgerHeader& header)
{
    if (const short st = GKJINJI.DAO_RecFind(1, u"SYOKCD = "_s + QString::number(code)); st != 0)
        return st;
    KorDAO::Record rec = GKJINJI.TBRec();
    header.SYOKCD = rec[u"SYOKCD"].toInt();
    header.SYOSYU = rec[u"SYOSYU"].toInt();
    header.SIMKNJ = rec[u"SIMKNJ"].toString();
    return 0;
}

// One employee's page: sums his records into \p grid and writes the page, with \p header when
// there is one. The status of a failing read, or 0; amounts beyond the money type set
// out.amounts instead, before anything of the page is written.
short printPage(SUB_PRT& prt, const PrintJob& job, int code, const LedgerHeader* header,
                Ruikei& grid, PrintOutcome& out)
{
    const PageCells page = sumPage(*job.GKKYUYO, grid);
    if (page.read != 0)
        return page.read;
    if (page.tooLarge) {
        out.amounts = amountOverflow(code);
        return 0;
    }
    prt.prsOvlPage();
    if (header)
        prsPrint_Header(prt, *header, job.strSyokuMei);
    prsPrint_Cells(prt, page.cells);
    return 0;
}

} // namespace

QString kyuyoCriteria(int code, const QString& strFromYM, const QString& strToYM)
{
    return u"SYOKCD = "_s + QString::number(code) + u" AND SKYUYM >= "_s + strFromYM +
           u" AND SKYUYM <= "_s + strToYM + u' ';
}

QString kyuyoSort()
{
    return u" SKYUYM,KYUSYU,KYUSEQ "_s;
}

bool prfKyuyoOpen(KorDAO::clsTbAccess& GKKYUYO, const KorDAO::DatabaseHandle& db, int code,
                  const QString& strFromYM, const QString& strToYM)
{
    GKKYUYO.setTBDatabase(db);
    GKKYUYO.setTBNameString(u"GKKYUYO"_s);
    return GKKYUYO.DAO_TableOpen(kyuyoCriteria(code, strFromYM, strToYM), kyuyoSort()) != 0;
}

KyuyoRecord readKyuyoRecord(KorDAO::clsTbAccess& GKKYUYO)
{
    KorDAO::Record rec = GKKYUYO.TBRec();
    KyuyoRecord k;
    k.KYUSYU = static_cast<short>(rec[u"KYUSYU"].toInt());
    k.KYUSEQ = static_cast<short>(rec[u"KYUSEQ"].toInt());
    k.SKYUYM = rec[u"SKYUYM"].toInt();
    for (const KinField& f : kKinFields)
        k.Kin(f.kin) += rec[QStringView(f.field)].toCurrency();
    return k;
}

short prsDatasum(KorDAO::clsTbAccess& GKKYUYO, Ruikei& grid)
{
    grid.clear();
    for (short st = GKKYUYO.DAO_RecRead(1);; st = GKKYUYO.DAO_RecRead(2)) {
        if (st == kEndOfRecords || st == kNoCurrentRecord)
            break;
        if (st != 0)
            return st;
        addKyuyoRecord(grid, readKyuyoRecord(GKKYUYO));
    }
    finishRuikei(grid);
    return 0;
}

PageCells sumPage(KorDAO::clsTbAccess& GKKYUYO, Ruikei& grid)
{
    PageCells page;
    try {
        page.read = prsDatasum(GKKYUYO, grid);
        if (page.read == 0)
            page.cells = ledgerCells(grid);
    } catch (const std::overflow_error&) {
        page.tooLarge = true;
    }
    return page;
}

mox::Status amountOverflow(int code)
{
    return mox::Status::failure(kFieldUnreadable, amountTooLargeText() +
                                                      u"\r\n\r\n職員番号 %1"_s.arg(codeText(code)));
}

PrintOutcome prsPrint(const PrintJob& job)
{
    PrintOutcome out;
    SUB_PRT prt;
    prt.setPrtPath(job.folder);
    prt.prsOvlStart(11, 1);
    prt.prsOvlCr(Currency::fromYen(15), Currency::fromYen(6));
    if (!prt.status().ok()) {
        out.file = prt.status();
        return out;
    }

    Ruikei grid;
    const int total = static_cast<int>(job.codes.size());
    int done = 0;
    for (int code : job.codes) {
        if (done > 0 && job.progress)
            job.progress(done, total);
        ++done;
        // An employee removed from the personnel master since the list was made still gets his
        // page, without a header, and is named at the end of the run; a find that fails stops
        // the run before any of the employee's records is read.
        LedgerHeader header;
        header.strNendoPrt = job.strNendoPrt;
        header.GKNAME = job.GKNAME;
        header.SYOZOKU = job.SYOZOKU;
        const short found = readHeader(*job.GKJINJI, code, header);
        if (found != 0 && found != kNotFound) {
            out.daoStatus = found;
            return out;
        }
        if (prfKyuyoOpen(*job.GKKYUYO, job.db, code, job.strFromYM, job.strToYM)) {
            ++out.pages;
            if (const short st =
                    printPage(prt, job, code, found == 0 ? &header : nullptr, grid, out);
                st != 0) {
                out.daoStatus = st;
                return out;
            }
            if (!out.amounts.ok()) {
                (void)job.GKKYUYO->DAO_TableClose();
                return out;
            }
            if (found == kNotFound)
                out.missing.append(code);
        }
        if (const short st = job.GKKYUYO->DAO_TableClose(); st < 0) {
            out.daoStatus = st;
            return out;
        }
        if (!prt.status().ok())
            break;
    }
    if (done > 0 && job.progress)
        job.progress(done, total);
    prt.prsOvlEnd();
    out.file = prt.status();
    out.blanked = prt.blankedChars();
    out.replaced = prt.replacedChars();
    return out;
}

QString PrintOutcome::missingNotice() const
{
    if (missing.isEmpty())
        return {};
    // A long list is cut so that the box still fits the screen.
    constexpr qsizetype kShown = 20;
    QStringList codes;
    for (qsizetype i = 0; i < missing.size() && i < kShown; ++i)
        codes << codeText(missing[i]);
    QString text = u"次の職員は職員マスタにないため、見出し（職員番号・氏名など）なしで"
                   u"印刷しました。\r\n\r\n"_s +
                   codes.join(u"、"_s);
    if (missing.size() > kShown)
        text += u" ほか %1 人"_s.arg(missing.size() - kShown);
    return text;
}

QString PrintOutcome::notice() const
{
    if (blanked == 0 && replaced == 0)
        return {};
    QString text = u"職員名・職種名・所属などに、そのままでは印刷できない文字がありました。"_s;
    if (replaced > 0)
        text += u"\r\n\r\n印刷できない文字 %1 文字を「？」にして印刷しました。"_s.arg(replaced);
    if (blanked > 0)
        text += u"\r\n\r\n改行などの制御文字 %1 文字を空白にして印刷しました。"_s.arg(blanked);
    return text;
}

} // namespace mox030
