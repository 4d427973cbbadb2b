#pragma once

// The model of a school district from which the demo and the synthetic data are made: the
// management settings, the employment insurance wage bands, the staff and the withholding tax
// used for the generated payment records. Amounts are yen, rates as the tables hold them.

#include "base/currency.h"

#include <QString>

#include <array>
#include <cstdint>

namespace moxdb {

/// The management record GKKANRI (KEY 'KANRI').
struct Management {
    int processingMonth = 0;        // SYORID, yyyymm
    Currency juneTermEndRate;       // KM6KM, percent of the base (122.5 = 1.225 months)
    Currency decemberTermEndRate;   // KM12KM
    Currency juneDiligenceRate;     // KM6KB, percent
    Currency decemberDiligenceRate; // KM12KB
    Currency dailyPaidTermEndRate;  // NKM12KM, percent, pay class 4 in December
    Currency regionalPercent;       // CHIRIT, regional allowance rate
    Currency healthCap;             // KENGEN, cap on the standard bonus amount (health)
    Currency pensionCap;            // KOSGEN, cap on the standard bonus amount (pension)
    Currency juneHealthPerMille;    // KENTOK, whole premium; the employee pays half
    Currency otherHealthPerMille;   // KENTK2
    Currency juneCarePerMille;      // KAITOK, long-term care insurance
    Currency otherCarePerMille;     // KAITK2
    Currency junePensionPerMille;   // KOSTOK, welfare pension
    Currency otherPensionPerMille;  // KOSTK2
    QString districtName;           // GKNAME
    QString workplace;              // SYOZOKU
};

/// The employment insurance table GKKOYOU: 60 wage bands and a per-mille rate.
struct EmploymentBands {
    Currency start;                   // KAISHI, lower bound of the banded range (yen)
    Currency perMille;                // KAKRIT, the worker's rate outside the bands
    std::array<Currency, 60> upper;   // TINGIN_01 … TINGIN_60, exclusive upper bounds (yen)
    std::array<Currency, 60> premium; // HOKEN_01 … HOKEN_60 (yen)

    /// Bands derived (not copied from a published table) from a worker's rate of whole per
    /// mille (above 0) under the rule that a premium's fraction of 50 sen or less is dropped and
    /// one above 50 sen is rounded up: band n (1 … 60) holds the whole-yen wages whose premium
    /// rounds to n − 1 yen (5 ‰ gives the bounds 101, 301, 501 …).
    static EmploymentBands derived(int perMille);

    /// The premium for \p wage as the bonus program takes it: below KAISHI or from TINGIN_60 on
    /// Int(wage × KAKRIT / 1000), otherwise the premium of the band holding the wage.
    Currency premiumFor(Currency wage) const;
};

/// A service period, yyyymmdd; a period still running ends 99991231.
struct Period {
    int from = 0;
    int to = 0;
};

inline constexpr int kOpenEnd = 99991231;

/// Monthly allowances that stay the same every month.
struct FixedAllowances {
    Currency special;       // KTOKUB, special duty allowance of head teachers
    Currency commuteFree;   // TUKINH, commuting allowance, non-taxable part
    Currency commuteTaxed;  // TUKINK, commuting allowance, taxable part
    Currency housing;       // JYUKYO
    Currency remote;        // HEKICI, remote-area allowance
    Currency remoteQuasi;   // HEKJUN, quasi remote-area allowance
    Currency singlePosting; // TANSIN
    Currency manyClasses;   // TAGAKU, allowance for teaching several grades in one class
    int children = 0;       // children for JIDOU, the child allowance paid in June and October
    bool overtime = false;  // paid overtime and holiday work (office staff, not teachers)
    bool nightDuty = false; // takes night and holiday duties (SYUKUH, KISYUH, SYUKUK, KISYUK)
    bool clubDuty = false;  // club activity duty on holidays (TOKGYO)
};

/// One member of staff: the personnel record GKJINJI and what drives the pay records.
struct Employee {
    int code = 0;                  // SYOKCD, up to 7 digits
    QString name;                  // SIMKNJ
    int payClass = 1;              // KYUKBN; 4 = daily wage
    int inputClass = 0;            // HYOKBN; 9 = no automatic calculation
    int careInsurance = 0;         // KAIKBN; 1 = long-term care insurance charged (age 40–64)
    Currency salary;               // KYURYO, monthly
    Currency dailyWage;            // NITANK, pay class 4
    Currency adjustment;           // TYOSEI, salary adjustment
    Currency teachingAdjustment;   // KTYOSE
    Currency dependantsAllowance;  // FUYO
    int dependants = 0;            // GENFUY
    int spouse = 0;                // GENHAI
    QString office;                // SYOZOK
    int jobKind = 3;               // SYOSYU, 1 … 10
    int grade = 1;                 // KGOKYU
    int step = 1;                  // KGOGHO
    Period first;                  // ZKAYMD_01, ZKNYMD_01
    Period second;                 // ZKAYMD_02, ZKNYMD_02; from 0 = none
    std::array<Period, 8> further; // KAIYMD_01 … 08, KANYMD_01 … 08; from 0 = empty
    FixedAllowances allowances;
};

/// Withholding income tax for the generated payment records.
class WithholdingTax {
public:
    virtual ~WithholdingTax() = default;
    /// Monthly table tax in yen on \p amount (pay less social insurance) with \p dependants,
    /// for pay of the month \p yyyymm.
    virtual Currency monthly(Currency amount, int dependants, int yyyymm) const = 0;
    /// The bonus rate in percent for the previous month's pay \p previous (less social
    /// insurance) with \p dependants, for a bonus of the month \p yyyymm.
    virtual Currency bonusRate(Currency previous, int dependants, int yyyymm) const = 0;
};

/// No tax at all: used when no tax tables are at hand.
class NoWithholdingTax : public WithholdingTax {
public:
    Currency monthly(Currency, int, int) const override { return Currency(); }
    Currency bonusRate(Currency, int, int) const override { return Currency(); }
};

/// The finance category ZAIMU of an office code, as the bonus program derives it.
int financeCategory(const QString& office);

} // namespace moxdb
