// The check list as CSV and as plain lines; the PDF is in bonuscheckpdf.cpp.

#include "moxdb/bonuscheckout.h"
#include "moxdb/export.h"

#include "base/format.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

QString codes(const CheckLine& line)
{
    QStringList out;
    for (CheckReason r : line.reasons)
        out.append(reasonCode(r));
    return out.join(u' ');
}

QString labels(const CheckLine& line)
{
    QStringList out;
    for (CheckReason r : line.reasons)
        out.append(reasonLabel(r));
    return out.join(u'・');
}

void amounts(CsvWriter& csv, const CheckTotal* total, const std::optional<CheckRecord>& record)
{
    if (total != nullptr) {
        csv.addNumber(QString::number(total->headcount));
        csv.addAmount(total->ssikyu);
        csv.addAmount(total->kougok);
        csv.addAmount(total->sasihk);
        return;
    }
    csv.addNull();
    if (!record) {
        csv.addNull();
        csv.addNull();
        csv.addNull();
        return;
    }
    csv.addAmount(record->ssikyu);
    csv.addAmount(record->kougok);
    csv.addAmount(record->sasihk);
}

mox::Status endRecord(CsvWriter& csv, const QString& what)
{
    if (const std::optional<CsvRefusal> r = csv.endRecord())
        return mox::Status::failure(
            1,
            u"%1 に %2 で書けない文字%3があります。--encoding utf-8 で書き出してください。"_s.arg(
                what, csv.encoding() == CsvEncoding::Cp932 ? u"CP932"_s : u"UTF-8"_s,
                r->character.isEmpty() ? QString() : u"「%1」"_s.arg(r->character)));
    if (csv.failed())
        return mox::Status::failure(1, csv.errorString());
    return mox::Status::success();
}

mox::Status writeLines(const CheckList& list, CsvWriter& csv)
{
    for (const QString& name :
         {u"区分"_s, u"職員コード"_s, u"氏名"_s, u"理由コード"_s, u"理由"_s, u"根拠"_s, u"人数"_s,
          u"総支給合計"_s, u"控除額合計"_s, u"現金支給額"_s})
        csv.addText(name);
    if (mox::Status s = endRecord(csv, u"見出し"_s); !s.ok())
        return s;
    for (const CheckLine& l : list.lines) {
        csv.addText(u"明細"_s);
        csv.addNumber(QString::number(l.syokcd));
        csv.addText(l.name);
        csv.addText(codes(l));
        csv.addText(labels(l));
        csv.addText(l.figures.join(u"; "_s));
        amounts(csv, nullptr, l.record);
        if (mox::Status s = endRecord(csv, u"職員コード %1 の行"_s.arg(l.syokcd)); !s.ok())
            return s;
    }
    for (int r = 0; r < kCheckReasonCount; ++r) {
        csv.addText(u"理由別合計"_s);
        csv.addNull();
        csv.addNull();
        csv.addText(reasonCode(CheckReason(r)));
        csv.addText(reasonLabel(CheckReason(r)));
        csv.addNull();
        amounts(csv, &list.perReason[std::size_t(r)], std::nullopt);
        if (mox::Status s = endRecord(csv, u"合計"_s); !s.ok())
            return s;
    }
    csv.addText(u"地区合計"_s);
    for (int i = 0; i < 5; ++i)
        csv.addNull();
    amounts(csv, &list.district, std::nullopt);
    return endRecord(csv, u"合計"_s);
}

} // namespace

mox::Status writeCheckCsv(const CheckList& list, CsvEncoding encoding, const QString& path)
{
    ExportFile file(path);
    if (mox::Status s = file.open(); !s.ok())
        return s;
    CsvWriter csv(file.device(), encoding);
    if (mox::Status s = writeLines(list, csv); !s.ok())
        return mox::Status::failure(s.code, u"%1: %2"_s.arg(path, s.message));
    if (!csv.flush())
        return mox::Status::failure(1, u"%1: %2"_s.arg(path, csv.errorString()));
    return file.commit();
}

void printCheckList(const CheckList& list, QTextStream& out)
{
    for (const CheckLine& l : list.lines) {
        out << QString::number(l.syokcd).rightJustified(7, u'0') << ' ' << l.name << '\t'
            << codes(l) << '\t' << l.figures.join(u"; "_s) << '\n';
    }
    for (int r = 0; r < kCheckReasonCount; ++r) {
        const CheckTotal& t = list.perReason[std::size_t(r)];
        if (t.headcount > 0)
            out << reasonCode(CheckReason(r)) << ' ' << reasonLabel(CheckReason(r)) << ": "
                << t.headcount << " 人\n";
    }
    out << u"地区合計: %1 人、総支給合計 %2、控除額合計 %3、現金支給額 %4"_s.arg(
               QString::number(list.district.headcount), listAmount(list.district.ssikyu),
               listAmount(list.district.kougok), listAmount(list.district.sasihk))
        << Qt::endl;
}

} // namespace moxdb
