// The check list as a PDF: A4 landscape, 15 characters and 6 lines an inch, drawn by the print
// component from a command file over the overlay Moxchk.ovl (the rules of the page header).

#include "moxdb/bonuscheckout.h"

#include "base/privatefile.h"
#include "korprint/korprint.h"
#include "mox030/sub_prt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

constexpr int kPaperA4Landscape = 2;
constexpr int kFirstBodyLine = 6;
constexpr int kTotalRows = kCheckReasonCount + 2; // caption, a row a reason, the district

// Columns of the body.
constexpr int kCodeX = 1, kNameX = 12, kReasonX = 31, kLabelX = 42, kFigureX = 59;
constexpr int kNameWidth = 18, kLabelWidth = 16, kFigureWidth = 64;
constexpr int kAmountX[3] = {124, 139, 154};
constexpr short kAmountWidth = 14; // a district's total with its separators

// Columns a character takes: one for a half-width one, two for any other.
int columnsOf(QChar c)
{
    const char16_t u = c.unicode();
    return (u < 0x80 || (u >= 0xFF61 && u <= 0xFF9F)) ? 1 : 2;
}

// \p text cut to \p columns columns.
QString clip(const QString& text, int columns)
{
    int used = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        used += columnsOf(text[i]);
        if (used > columns)
            return text.left(i);
    }
    return text;
}

QString money(Currency c)
{
    return mox030::prfOvlNum(c, kAmountWidth, 0, /*minus=*/true, /*comma=*/true,
                             /*hashFill=*/true, /*showZero=*/true);
}

// Where each employee of the list starts (page, row); the totals' place after them.
struct Placement {
    std::vector<std::pair<int, int>> lines;
    std::pair<int, int> totals;
    int pages = 1;
};

Placement place(const CheckList& list)
{
    Placement p;
    int page = 0, row = 0;
    const auto fit = [&](int rows) {
        if (row + rows > kCheckRowsPerPage) {
            ++page;
            row = 0;
        }
        const std::pair<int, int> at{page, row};
        row += rows;
        return at;
    };
    for (const CheckLine& l : list.lines)
        p.lines.push_back(fit(int(l.reasons.size())));
    p.totals = fit(kTotalRows);
    p.pages = page + 1;
    return p;
}

class Pages {
public:
    Pages(mox030::SUB_PRT& prt, const CheckPageHeader& header, int pages)
        : m_prt(prt), m_header(header), m_pages(pages)
    {
    }

    // Starts page \p page (0-based) when it is not the current one.
    void to(int page)
    {
        while (m_page < page) {
            ++m_page;
            m_prt.prsOvlPage();
            text(1, 2, u"期末・勤勉手当 点検リスト"_s);
            text(40, 2, m_header.monthCaption);
            text(70, 2, u"前年同期比の基準 %1%"_s.arg(m_header.thresholdPercent.toPlainString()));
            text(148, 2, u"%1 / %2 頁"_s.arg(m_page).arg(m_pages));
            text(kCodeX, 4, u"職員コード"_s);
            text(kNameX, 4, u"氏　名"_s);
            text(kReasonX, 4, u"理由コード"_s);
            text(kLabelX, 4, u"理　由"_s);
            text(kFigureX, 4, u"根　拠"_s);
            text(kAmountX[0] + 4, 4, u"総支給合計"_s);
            text(kAmountX[1] + 4, 4, u"控除額合計"_s);
            text(kAmountX[2] + 4, 4, u"現金支給額"_s);
        }
    }
    void text(int x, int line, const QString& s)
    {
        m_prt.prsOvlText(Currency::fromYen(x), Currency::fromYen(line), 3, Currency(), 100, 100, s);
    }
    void amounts(int line, const CheckTotal* t, const std::optional<CheckRecord>& r)
    {
        if (t == nullptr && !r)
            return;
        const Currency figures[3] = {t ? t->ssikyu : r->ssikyu, t ? t->kougok : r->kougok,
                                     t ? t->sasihk : r->sasihk};
        for (int i = 0; i < 3; ++i)
            text(kAmountX[i], line, money(figures[i]));
    }

private:
    mox030::SUB_PRT& m_prt;
    const CheckPageHeader& m_header;
    int m_pages;
    int m_page = 0;
};

void drawLine(Pages& pages, const CheckLine& l, std::pair<int, int> at)
{
    pages.to(at.first + 1);
    const int y = kFirstBodyLine + at.second;
    pages.text(kCodeX, y, QString::number(l.syokcd).rightJustified(7, u'0'));
    pages.text(kNameX, y,
               clip(l.name.isEmpty() ? u"（人事マスターになし）"_s : l.name, kNameWidth));
    pages.amounts(y, nullptr, l.record);
    for (std::size_t i = 0; i < l.reasons.size(); ++i) {
        const int line = y + int(i);
        pages.text(kReasonX, line, reasonCode(l.reasons[i]));
        pages.text(kLabelX, line, clip(reasonLabel(l.reasons[i]), kLabelWidth));
        pages.text(kFigureX, line, clip(l.figures.value(qsizetype(i)), kFigureWidth));
    }
}

void drawTotals(Pages& pages, const CheckList& list, std::pair<int, int> at)
{
    pages.to(at.first + 1);
    int y = kFirstBodyLine + at.second;
    pages.text(kNameX, y, u"【合計】"_s);
    pages.text(kFigureX + 44, y, u"人数"_s);
    for (int r = 0; r < kCheckReasonCount; ++r) {
        const CheckTotal& t = list.perReason[std::size_t(r)];
        ++y;
        pages.text(kReasonX, y, reasonCode(CheckReason(r)));
        pages.text(kLabelX, y, reasonLabel(CheckReason(r)));
        pages.text(kFigureX + 44, y, QString::number(t.headcount).rightJustified(6));
        pages.amounts(y, &t, std::nullopt);
    }
    ++y;
    pages.text(kNameX, y, u"地区合計（賞与データ全件）"_s);
    pages.text(kFigureX + 44, y, QString::number(list.district.headcount).rightJustified(6));
    pages.amounts(y, &list.district, std::nullopt);
}

// Copies the finished PDF \p from to \p path, as a private file put in place when complete.
mox::Status copyInPlace(const QString& from, const QString& path)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return mox::Status::failure(1, u"%1 を読めません: %2"_s.arg(from, in.errorString()));
    mox::PrivateFile out(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
    if (!out.open())
        return mox::Status::failure(1, out.errorString());
    while (!in.atEnd()) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty() || out.device()->write(block) != block.size()) {
            out.cancel();
            return mox::Status::failure(
                1, u"%1 に書けません: %2"_s.arg(path, out.device()->errorString()));
        }
    }
    if (!out.commit())
        return mox::Status::failure(1, out.errorString());
    return mox::Status::success();
}

} // namespace

int checkPdfPages(const CheckList& list)
{
    return place(list).pages;
}

mox::Status writeCheckPdf(const CheckList& list, const CheckPageHeader& header, const QString& path)
{
    // The command file and the component's PDF go to a folder of this process alone.
    QTemporaryDir work;
    if (!work.isValid())
        return mox::Status::failure(1, u"作業フォルダーを作れません: %1"_s.arg(work.errorString()));
    const Placement at = place(list);
    mox030::SUB_PRT prt;
    prt.setPrtPath(work.path());
    prt.prsOvlStart(kPaperA4Landscape, 1);
    prt.prsOvlCr(Currency::fromYen(15), Currency::fromYen(6));
    Pages pages(prt, header, at.pages);
    for (std::size_t i = 0; i < list.lines.size(); ++i)
        drawLine(pages, list.lines[i], at.lines[i]);
    drawTotals(pages, list, at.totals);
    prt.prsOvlEnd();
    if (!prt.status().ok())
        return prt.status();
    // The list is a file: a printer named for the ledger program gets no copy of it.
    qunsetenv("MOX_PRINTER");
    const std::unique_ptr<korprint::PrintComponent> component = korprint::create();
    component->setPrintFIlePath(work.path());
    if (const short rc =
            component->PrtFile(u"bonuscheck"_s, u"期末・勤勉手当 点検リスト"_s, u"Moxchk.ovl"_s);
        rc != 0)
        return mox::Status::failure(rc, u"PDF を作れません: %1"_s.arg(component->lastError()));
    return copyInPlace(QDir(work.path()).filePath(u"bonuscheck.pdf"_s), path);
}

} // namespace moxdb
