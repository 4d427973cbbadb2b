#pragma once

// The records the bonus calculation reads: the employee's personnel record (GKJINJI) and the
// management record (GKKANRI), each read once at the call-up into a plain struct.

#include "base/currency.h"
#include "base/status.h"
#include "kordao/kordao.h"

#include <QString>
#include <QVariant>

#include <array>

namespace mox110 {

/// Pay class (KYUKBN) of a salary from a daily wage: listed by the entry screen only in December.
inline constexpr int kPayClassDaily = 4;
/// Input class (HYOKBN) of the staff whose figures the operator enters by hand.
inline constexpr int kInputClassManual = 9;

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

} // namespace mox110
