#include "mox/comdate.h"

#include "base/format.h"
#include "mox/bascmnname.h"
#include "mox/program.h"

#include <QDate>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

struct PartPicture {
    const char16_t* upper;
    const char16_t* lower;
    qsizetype start; // 0-based
    qsizetype length;
};

constexpr PartPicture kParts[] = {
    {u"YMD", u"ymd", 0, 8}, {u"YM", u"ym", 0, 6}, {u"Y", u"y", 0, 4},
    {u"MD", u"md", 4, 4},   {u"M", u"m", 4, 2},   {u"D", u"d", 6, 2},
};

// Days of a month; 0 for a month outside 1 to 12 or a year QDate cannot hold.
int daysInMonth(int year, int month)
{
    const QDate first(year, month, 1);
    return first.isValid() ? first.daysInMonth() : 0;
}

// Replaces the character at 1-based \p position by a blank when it is "0".
void blankZeroAt(QString& text, qsizetype position)
{
    if (position <= text.size() && text[position - 1] == u'0')
        text[position - 1] = u' ';
}

} // namespace

Currency prfDatePart(Currency date, QStringView picture)
{
    for (const PartPicture& p : kParts) {
        if (picture != QStringView(p.upper) && picture != QStringView(p.lower))
            continue;
        const QString digits = date.toPlainString();
        if (p.start >= digits.size())
            return Currency();
        return Currency::parse(QStringView(digits).mid(p.start, p.length)).value_or(Currency());
    }
    return Currency();
}

QString eraEdit(const QString& eraName, const QString& eraCode, Currency eraDate,
                QStringView picture, QStringView mode, QStringView suffix)
{
    const QString digits = format(eraDate, u"000000");
    const QString yy = digits.mid(0, 2);
    const QString mm = digits.mid(2, 2);
    const QString dd = digits.mid(4, 2);
    const QString n = eraName.trimmed();
    const QString c = eraCode.trimmed();
    const bool dsp = mode == u"DSP";

    QString text;
    if (picture == u"JYMD"_s)
        text = dsp ? n + yy + u"年"_s + mm + u"月"_s + dd + u"日"_s
                   : n + u" "_s + yy + u" 年 "_s + mm + u" 月 "_s + dd + u" 日"_s;
    else if (picture == u"JYM"_s)
        text = dsp ? n + yy + u"年"_s + mm + u"月"_s : n + u" "_s + yy + u" 年 "_s + mm + u" 月"_s;
    else if (picture == u"JY"_s)
        text = dsp ? n + yy + u"年"_s : n + u" "_s + yy + u" 年"_s;
    else if (picture == u"KYMD"_s)
        text = c + u" "_s + yy + u"."_s + mm + u"."_s + dd;
    else if (picture == u"KYM"_s)
        text = c + u" "_s + yy + u"."_s + mm;
    else if (picture == u"KY"_s)
        text = c + u" "_s + yy;

    // The positions are the first digits of yy, mm and dd after a two-character era name (or a
    // one-character code and its blank).
    if (dsp) {
        for (qsizetype pos : {3, 6, 9})
            blankZeroAt(text, pos);
    } else if (mode == u"PRT") {
        for (qsizetype pos : {4, 9, 14})
            blankZeroAt(text, pos);
    }

    if (suffix == u"B")
        text += u"分"_s;
    else if (suffix == u"NB" && isProgram(u"mox110"))
        text += u"度分"_s;
    return text;
}

QString prfEraEdit(QStringView picture, QStringView mode, QStringView suffix)
{
    const CurrentEra& era = currentEra();
    return eraEdit(era.name, era.code, era.date, picture, mode, suffix);
}

void prsKikan(Currency& first, Currency& last)
{
    const auto part = [](Currency date, QStringView picture) {
        return static_cast<int>(prfDatePart(date, picture).toInteger(Rounding::Floor));
    };
    const int y1 = part(first, u"Y"), m1 = part(first, u"M"), d1 = part(first, u"D");
    const int y2 = part(last, u"Y"), m2 = part(last, u"M"), d2 = part(last, u"D");
    // Month indexes; 32-bit so that an open end of 99991231 counts like any other date.
    const int mS = y1 * 12 + m1;
    const int mE = y2 * 12 + m2;
    const bool firstIsFirst = d1 == 1;
    const bool firstIsLast = d1 == daysInMonth(y1, m1);
    const bool lastIsLast = d2 == daysInMonth(y2, m2);
    // The last day of the month before the last day's month.
    const int dP = m2 == 1 ? daysInMonth(y2 - 1, 12) : daysInMonth(y2, m2 - 1);

    int months = 0;
    int days = 0;
    if (mE == mS) {
        if (firstIsFirst && lastIsLast)
            months = 1;
        else
            days = d2 - d1 + 1;
    } else if (firstIsFirst) {
        months = mE - mS + 1;
        if (!lastIsLast) {
            months -= 1;
            days = d2;
        }
    } else if (firstIsLast) {
        if (lastIsLast) {
            months = mE - mS;
            days = d1 > d2 ? 0 : d2 - d1 + 1;
        } else if (mS + 1 == mE) {
            // The day after the first day is the 1st of the last day's month.
            days = d2 + 1;
        } else {
            months = mE - 1 - mS;
            days = d1 <= dP ? (dP - d1 + 1) + d2 : d2;
        }
    } else if (d1 == d2) {
        months = mE - mS;
        days = 1;
    } else if (d1 - 1 == d2) {
        months = mE - mS;
    } else if (d1 < d2) {
        months = mE - mS;
        days = d2 - d1 + 1;
    } else {
        months = mE - 1 - mS;
        if (dP == d1)
            days = d2 + 1;
        else if (dP == d1 - 1)
            days = d2;
        else if (d1 < dP)
            days = (dP - d1 + 1) + d2;
        else
            days = d2;
    }
    if (days >= 30) {
        months += 1;
        days = 0;
    }
    first = Currency::fromYen(months);
    last = Currency::fromYen(days);
}

} // namespace mox
