#pragma once

// The bonus calculation of the entry screen, free of widgets.
//
// BonusScreen holds what the entry screen's fields hold, under the controls' names. The screen
// copies its widgets into a BonusScreen, calls one of the functions below, and copies the fields
// back. Each function works like the screen always has: every step writes its result into the
// BonusScreen at once and later steps read it back (the five-decimal ratio texts included), so a
// step that fails leaves the fields written before it changed and the rest as they were. A
// failure comes back as a mox::Status whose message the screen shows as it stands.
//
// Database failures of the open/close kind go to prsDaoStatus, which reports them and ends the
// program, exactly as everywhere else in the programs.

#include "kordao/kordao.h"
#include "mox/currency.h"
#include "mox/status.h"

#include <QString>
#include <QVariant>

#include <array>
#include <functional>
#include <utility>

namespace KorTAX {
class clsTax;
}

namespace mox110 {

using namespace Qt::StringLiterals;

/// A drop-down list's selection: its ListIndex and the ItemData of the selected item.
struct ListChoice {
    int listIndex = -1; // -1: no item selected
    int itemData = 0;
};

/// The deduction-class lists hold "0:控除しない" (item data 0) and "1:控除する" (item data 1).
inline ListChoice deductionChoice(int listIndex) {
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
};

/// The personnel (GKJINJI) fields the calculation, the display and the save use.
struct JinjiRecord {
    int SYOKCD = 0;                // syokuin code: employee code
    QString SIMKNJ;                // simei kanji: name
    int KYUKBN = 0;                // kyuyo kubun: pay class (4 = daily wage)
    int HYOKBN = 0;                // hyouji kubun: input class (9 = full manual entry)
    int KAIKBN = 0;                // kaigo kubun: 1 = long-term care insurance charged
    Currency KYURYO;               // monthly salary
    Currency NITANK;               // nikkyu tanka: daily wage
    Currency TYOSEI;               // salary adjustment
    Currency KTYOSE;               // kyousyoku tyousei: teaching adjustment
    Currency FUYO;                 // dependants allowance
    int GENFUY = 0;                // gensen fuyou: dependants for withholding
    int GENHAI = 0;                // gensen haiguusya: spouse indicator for withholding
    QString SYOZOK;                // syozoku: office code
    int SYOSYU = 0;                // syokusyu: job kind 1 to 10
    QVariant KGOKYU, KGOGHO;       // kyuu gou kyuu / gouhou: copied as stored into the bonus record
    Currency ZKAYMD_01, ZKNYMD_01; // zaiseki kaishi/nyuu: first service period (yyyymmdd)
    Currency ZKAYMD_02, ZKNYMD_02; // second service period; start 0 = none
    std::array<Currency, 8> KAIYMD{}; // KAIYMD_01 … _08: starts of further periods; 0 = empty
    std::array<Currency, 8> KANYMD{}; // KANYMD_01 … _08: ends of further periods
};

/// The management (GKKANRI) fields the calculation uses.
struct KanriRecord {
    Currency SYORID;         // syori date: processing month (yyyymm)
    Currency KM6KM;          // June term-end payment rate
    Currency KM6KB;          // June diligence performance rate
    Currency KM12KM;         // December term-end payment rate
    Currency KM12KB;         // December diligence performance rate
    Currency NKM12KM;        // term-end ratio of pay class 4 (percent)
    Currency CHIRIT;         // chiiki ritu: regional allowance rate (percent)
    Currency KENGEN;         // kenkou gendo: cap of the health standard bonus amount
    Currency KOSGEN;         // kousei gendo: cap of the pension standard bonus amount
    Currency KENTOK, KENTK2; // health rate, June / other months (per mille)
    Currency KAITOK, KAITK2; // care rate, June / other months (per mille)
    Currency KOSTOK, KOSTK2; // pension rate, June / other months (per mille)
    QString GKNAME;          // gakkou name: employer name
    QString SYOZOKU;         // syozoku: department
};

/// Reads the current GKJINJI / GKKANRI record; a field that cannot be read gives its status.
mox::Result<JinjiRecord> readJinji(KorDAO::Record rec);
mox::Result<KanriRecord> readKanri(KorDAO::Record rec);

/// Everything the calculation needs besides the screen.
struct CalcContext {
    JinjiRecord jinji; // the employee on screen
    KanriRecord kanri; // the management record
    /// The saved taxable amount (KAZEIG of the bonus record); lives as long as the program.
    Currency curKazeig;
    /// The income-tax object owned by the form (SYOTOKU); required by prsGokei.
    KorTAX::clsTax *tax = nullptr;
    /// The processing month as the screen's month label shows it ("令和 8年12月分"); names the
    /// month in messages. Empty: the Western year and month are used.
    QString monthCaption;

    /// Employment insurance premium for a bonus; empty means prfKoyou (own connection per call).
    std::function<mox::Result<Currency>(Currency)> koyou;
    /// Loads the rounding points of name-table kind 6 and returns the complements
    /// (1 − KENKO, 1 − KOSEI); empty means the shared name-table module, loaded on every call.
    std::function<std::pair<Currency, Currency>()> roundingComplements;
};

/// Loads name-table kind 6 (its own "MOXENV.INI" connection) and returns the rounding
/// complements (1 − KENKO, 1 − KOSEI) held by the name-table module: the last loaded values, 0
/// until a load succeeds.
std::pair<Currency, Currency> nameTableComplements();

/// Period keys and rates, then the payment ratio texts (pay class 4: the class-4 ratio).
mox::Status prsZaiseki(BonusScreen &s, CalcContext &ctx);
/// Regional allowances, allowances, social and employment insurance, then prsGokei.
mox::Status prsKeisan(BonusScreen &s, CalcContext &ctx);
/// Totals and the income tax on the bonus; sets ctx.curKazeig.
mox::Status prsGokei(BonusScreen &s, CalcContext &ctx);

/// Employment insurance premium of GKKOYOU's first row, on its own "MOX.INI" connection.
mox::Result<Currency> prfKoyou(Currency amount);
/// The same premium from an already positioned GKKOYOU row.
mox::Result<Currency> koyouFromRow(KorDAO::Record row, Currency amount);

/// Income tax: standard method, no previous-month pay, more than ten times it.
mox::Result<Currency> prfSyotoku(const BonusScreen &s, CalcContext &ctx);
mox::Result<Currency> prfNoSyotoku(const BonusScreen &s, CalcContext &ctx);
mox::Result<Currency> prf10Syotoku(const BonusScreen &s, CalcContext &ctx);

/// Fills the screen from ctx.jinji: allowance periods, amounts, then prsZaiseki and prsKeisan.
mox::Status prsDspJinji(BonusScreen &s, CalcContext &ctx);
/// Fills the screen from the current GKKYUYO record and sets ctx.curKazeig; no recalculation.
mox::Status prsDspKyuyo(BonusScreen &s, CalcContext &ctx, KorDAO::Record kyuyo);
/// Previous month's taxable pay and tax into nu1Zenkaz / nu1Zenzei (own table object).
mox::Status prsReadZenge(BonusScreen &s, KorDAO::DatabaseHandle db, int syokcd, Currency syorid);

/// Clears every field (numbers 0, lists unselected, texts empty, ratios "0.00000") and
/// ctx.curKazeig.
void prsItemClr(BonusScreen &s, CalcContext &ctx);
/// Call-up of an employee without a stored bonus: the rates of the month (pay class 4: its own
/// ratio), both lists to index 0 (each change recalculating), prsDspJinji, prsReadZenge and
/// prsGokei. ctx.jinji and ctx.kanri must hold the employee and the management record.
mox::Status callUpNew(BonusScreen &s, CalcContext &ctx, KorDAO::DatabaseHandle db);

} // namespace mox110
