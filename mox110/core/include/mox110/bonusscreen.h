#pragma once

// BonusScreen: the values the entry screen's fields hold, under the controls' names. The screen
// copies its boxes into a BonusScreen, calls the calculation ("mox110/bonuscalc.h") or a call-up
// ("mox110/callup.h"), and copies the fields back.

#include "base/currency.h"

#include <QString>

namespace mox110 {

using namespace Qt::StringLiterals;

/// A drop-down list's selection: its ListIndex and the ItemData of the selected item.
struct ListChoice {
    int listIndex = -1; // -1: no item selected
    int itemData = 0;

    friend bool operator==(const ListChoice&, const ListChoice&) = default;
};

/// The deduction-class lists hold "0:控除しない" (item data 0) and "1:控除する" (item data 1).
inline ListChoice deductionChoice(int listIndex)
{
    return ListChoice{listIndex, listIndex < 0 ? 0 : listIndex};
}

/// The values the entry screen's fields hold (numeric boxes as amounts, texts as texts).
struct BonusScreen {
    Currency nu1Kankmritu; // kanri kimatu ritu: term-end payment rate of the month (percent)
    Currency nu1Kankbritu; // kanri kinben ritu: diligence performance rate of the month (percent)
    ListChoice cboTokkbn;  // tokubetsu kubun: health/pension insurance deduction class
    ListChoice cboRoukbn;  // roudou kubun: employment insurance deduction class
    Currency nu1Kmmm;      // kimatu months of enrollment
    Currency nu1Kmdd;      // kimatu days of enrollment
    Currency nu1Kmkikan;   // kimatu kikan ritu: term-end period rate (percent)
    Currency nu1Kbmm;      // kinben months of enrollment
    Currency nu1Kbdd;      // kinben days of enrollment
    Currency nu1Kbkikan;   // kinben kikan ritu: diligence period rate (percent)
    QString txtTxt1, txtTxt2, txtTxt3; // comment lines
    Currency nu1Kyuryo;                // kyuryo: monthly salary
    Currency nu1Ktyogk;                // kyuryo tyousei gaku: salary adjustment
    Currency nu1Styogk;                // (kyou)syoku tyousei gaku: teaching adjustment
    Currency nu1Fuyote;                // fuyou teate: dependants allowance
    Currency nu1Kmchiiki;              // kimatu chiiki: regional allowance on the term-end base
    Currency nu1Kbchiiki;              // kinben chiiki: regional allowance on the diligence base
    Currency nu1Kimatu;                // kimatu teate: term-end allowance
    Currency nu1Kinben;                // kinben teate: diligence allowance
    Currency nu1Kenko;                 // kenkou hoken: health insurance (care insurance included)
    Currency nu1Kosei;                 // kousei nenkin: welfare pension
    Currency nu1Koyou;                 // koyou hoken: employment insurance
    Currency nu1Syotok;                // syotoku zei: income tax on the bonus
    Currency nu1Zenkaz;                // zengetsu kazei: previous month's taxable pay
    Currency nu1Zenzei;                // zengetsu zei: previous month's income tax
    Currency nu1Ssikyu;                // sou sikyu: total bonus
    Currency nu1Hkzegk;                // hikazei gaku: non-taxable total
    Currency nu1Syagok;                // syakai(hoken) goukei: social insurance total
    Currency nu1Kazeig;                // kazei gaku: taxable amount after social insurance
    Currency nu1Kougok;                // koujo goukei: total deductions
    Currency nu1Sasihk;                // sasihiki: amount paid out
    QString txtKmritu = u"0.00000"_s;  // kimatu wariai: term-end payment ratio ("/100")
    QString txtKbritu = u"0.00000"_s;  // kinben wariai: diligence payment ratio ("/100")
    Currency nu1Fsinsu;                // fuyou sinzoku suu: number of dependants
    Currency nu1Zeirit;                // zei ritu: income tax rate of the standard method (percent)

    friend bool operator==(const BonusScreen&, const BonusScreen&) = default;
};

} // namespace mox110
