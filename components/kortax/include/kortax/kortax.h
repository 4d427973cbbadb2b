#pragma once

// KorTAX: the withholding income tax component (源泉徴収税額).
//
// The tax object answers two questions for the bonus entry program:
//
//     KorTAX::clsTax tax;
//     tax.setTaxIniName(u"MOXENV.INI"_s);                  // the environment database
//     Currency t;
//     if (tax.TaxBonus(taxable, prevPay, genfuy, genhai, Currency::fromYen(20261201), t) != 0)
//         report(tax.lastError());
//     Currency percent = tax.TaxRate();                     // 4.084 for 4.084 %
//
// The tables live in the environment database by edition, each edition with the date it applies
// from; the reference date picks the newest edition in force. The object loads the editions of a
// database once and keeps them, keyed by the configuration file name, so repeated calls do not
// touch the database again.

#include "kordao/kordao.h"
#include "mox/currency.h"
#include "mox/status.h"

#include <QDate>
#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace KorTAX {

/// Statuses of the tax object besides those of the database component it passes on.
inline constexpr short kStatusNoEdition = -8;    // no edition of the tables applies to the date
inline constexpr short kStatusBadArgument = -24; // a reference date or count that is not valid
inline constexpr short kStatusMissingFile = -20; // a table file that cannot be read
inline constexpr short kStatusBrokenTable = -30; // a table file whose figures fail the checks
inline constexpr short kStatusEditionStored = -25; // an import meets an edition of the same date

/// The number of dependants columns of the tables: 0 to 7; the last serves "7人以上".
inline constexpr int kColumns = 8;

/// One band of the monthly table (月額表 甲欄). Below \c upper the tax is
/// base[d] + (amount − lower) × rate / 100, fractions of a yen dropped; fixed rows have rate 0.
struct MonthlyBand {
    Currency lower;                      // yen, inclusive (以上)
    Currency upper;                      // yen, exclusive (未満); 0 = no upper bound
    std::array<Currency, kColumns> base; // tax in yen at exactly \c lower, per dependants count
    Currency rate;                       // percent on the excess over \c lower, e.g. 20.42
};

/// One band of the bonus rate table (賞与に対する源泉徴収税額の算出率の表 甲欄) for one
/// dependants count: from \c lower yen of the previous month's pay the rate applies.
struct BonusBand {
    Currency lower; // yen, inclusive (以上); the next band's lower bound ends it (未満)
    Currency rate;  // percent, e.g. 4.084
};

/// One edition of the tables, in force from \c from until the next edition.
struct Edition {
    QDate from;
    std::vector<MonthlyBand> monthly;                   // ascending, without gaps, from 0
    std::array<std::vector<BonusBand>, kColumns> bonus; // per dependants count, ascending
};

/// Monthly table tax (甲欄) in whole yen on \p amount for \p dependents. Beyond seven, the
/// seven-person tax less 1,610 yen per extra person, never below 0. A negative amount is taxed 0.
Currency monthlyTax(const Edition &e, Currency amount, int dependents);

/// The bonus rate in percent for the previous month's pay \p prevPay and \p dependents (columns
/// beyond seven use the "7人以上" column). A negative previous pay reads as 0.
Currency bonusRate(const Edition &e, Currency prevPay, int dependents);

/// \p taxable × \p ratePercent / 100 with fractions of a yen dropped; a negative amount is 0.
Currency bonusTax(Currency taxable, Currency ratePercent);

/// Reads and checks the three files of one edition in \p dir (bonus-rate-table.csv,
/// monthly-table-kou.csv, monthly-table-kou-formula.csv). A failure names the file and line.
mox::Result<Edition> readEditionDir(const QString &dir, QDate from);

/// The edition in force on \p date among \p editions (any order), or nullptr.
const Edition *editionFor(const std::vector<Edition> &editions, QDate date);

/// Creates the tax tables in the environment database when they are missing.
mox::Status createTaxSchema(const KorDAO::DatabaseHandle &db);

/// What an import does when the database already holds an edition of the same date.
enum class IfStored {
    Refuse,  // fails with kStatusEditionStored and changes nothing
    Replace, // the stored edition gives way to the one imported
    Keep,    // the stored edition stays and the import succeeds without writing
};

/// Reads, checks and stores the edition in force from \p from found in \p dir; an edition
/// already stored with that date is refused, replaced or kept as \p ifStored says. One
/// transaction: on any failure the database is unchanged. \p written (when given) tells
/// whether the edition was written. \p stageDone (when given) is called with 1 to
/// kImportStages as the stages end: the files read and checked, the date looked up, the tables
/// written, the transaction committed.
inline constexpr int kImportStages = 4;
mox::Status importEdition(const KorDAO::DatabaseHandle &db, QDate from, const QString &dir,
                          IfStored ifStored = IfStored::Refuse, bool *written = nullptr,
                          const std::function<void(int stage)> &stageDone = {});

/// Imports every edition folder under \p dir, each named by the date it applies from
/// (yyyy-MM-dd), oldest first; stops at the first failure. Returns the dates written in \p done.
mox::Status importEditions(const KorDAO::DatabaseHandle &db, const QString &dir, IfStored ifStored,
                           QList<QDate> *done = nullptr);

/// The folder of the shipped editions: data/tax beside the running program or one folder above
/// it, else tax/ in the shipped data folder (<prefix>/share/mox installed, else the source tree's).
QString shippedTaxDir();

/// Summary of one stored edition.
struct EditionInfo {
    QDate from;
    int monthlyBands = 0;
    int bonusBands = 0;
};

/// The editions stored in the database, oldest first.
mox::Result<QList<EditionInfo>> listEditions(const KorDAO::DatabaseHandle &db);

/// Every edition stored in the database, oldest first.
mox::Result<std::vector<Edition>> loadEditions(const KorDAO::DatabaseHandle &db);

/// The tax object (SYOTOKU of the bonus entry program).
class clsTax {
public:
    clsTax();
    ~clsTax();
    clsTax(const clsTax &) = delete;
    clsTax &operator=(const clsTax &) = delete;

    /// The configuration file that locates the environment database; always "MOXENV.INI".
    void setTaxIniName(const QString &iniName);
    const QString &TaxIniName() const { return m_iniName; }

    /// Tax on a bonus by the bonus rate table (甲欄). taxable: bonus less its social insurance;
    /// prevPay: previous month's pay less social insurance; dependents: 扶養親族等の数;
    /// spouse: the spouse indicator (GENHAI); refDate: yyyymmdd picks the edition in force.
    /// The count used is dependents + spouse. Returns 0 and sets tax, or a negative status with
    /// lastError() naming the cause (tax is then left unchanged).
    short TaxBonus(Currency taxable, Currency prevPay, short dependents, short spouse,
                   Currency refDate, Currency &tax);
    /// Tax by the monthly table (月額表 甲欄); arguments and result as for TaxBonus.
    short TaxMonthly(Currency monthly, short dependents, short spouse, Currency refDate,
                     Currency &tax);
    /// The rate in percent applied by the last successful TaxBonus, e.g. 4.084; 0 before.
    Currency TaxRate() const { return m_rate; }
    /// Japanese text of the last failure; names the date when no edition applies.
    QString lastError() const { return m_lastError; }

    /// Uses \p editions instead of the database named by the configuration file (tests, tools).
    void setEditions(std::vector<Edition> editions);

private:
    struct Cache;
    short editionAt(Currency refDate, short dependents, short spouse, const Edition *&edition,
                    int &count);

    QString m_iniName;
    Currency m_rate;
    QString m_lastError;
    std::unique_ptr<Cache> m_cache;
};

} // namespace KorTAX
