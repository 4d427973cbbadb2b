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
// from; the reference date picks the newest edition in force, and a date after the newest
// edition's start is taxed with that edition. An edition holds the monthly table, the bonus table
// or both; a call that needs a table the edition in force lacks is refused (kStatusNoTable), it
// never borrows the table of an older edition. The object loads the editions of a database once
// and keeps them, keyed by the configuration file name, so repeated calls do not touch the
// database again; only a refused call reads them anew, so that tables loaded meanwhile count.

#include "base/currency.h"
#include "base/status.h"
#include "kordao/kordao.h"
#include "kordao/schema.h"

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
inline constexpr short kStatusNoTable = -7;      // the edition in force lacks the table asked for
inline constexpr short kStatusTableLoaded = -27; // an import would replace a table already stored

/// The two tables of an edition. An edition holds one of them or both.
enum class Table {
    Monthly, // 給与所得の源泉徴収税額表（月額表）甲欄, with its formula bands
    Bonus,   // 賞与に対する源泉徴収税額の算出率の表 甲欄
};

/// The name of \p table as the tax office titles it, for messages.
QString tableName(Table table);

/// The name of the edition in force from \p from by the year it starts in: 令和9年分 for
/// 2027-01-01 (令和 year = year − 2018, 令和元年分 for 2019, 平成 before).
QString editionName(QDate from);

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

/// One edition of the tables, in force from \c from until the next edition. A table the edition
/// does not hold is empty: no monthly band, or no bonus band in any column.
struct Edition {
    QDate from;
    std::vector<MonthlyBand> monthly;                   // ascending, without gaps, from 0
    std::array<std::vector<BonusBand>, kColumns> bonus; // per dependants count, ascending

    bool holds(Table table) const
    {
        return table == Table::Monthly ? !monthly.empty() : !bonus.front().empty();
    }
};

/// Monthly table tax (甲欄) in whole yen on \p amount for \p dependents. Beyond seven, the
/// seven-person tax less 1,610 yen per extra person, never below 0. A negative amount is taxed 0.
Currency monthlyTax(const Edition& e, Currency amount, int dependents);

/// The bonus rate in percent for the previous month's pay \p prevPay and \p dependents (columns
/// beyond seven use the "7人以上" column). A negative previous pay reads as 0.
Currency bonusRate(const Edition& e, Currency prevPay, int dependents);

/// \p taxable × \p ratePercent / 100 with fractions of a yen dropped; a negative amount is 0.
Currency bonusTax(Currency taxable, Currency ratePercent);

/// Reads and checks the files of one edition in \p dir: bonus-rate-table.csv is the bonus table,
/// monthly-table-kou.csv with monthly-table-kou-formula.csv the monthly table; a folder may hold
/// either table or both. A failure names the file and line; a folder without any of the files, or
/// with only one of the two monthly files, is kStatusMissingFile.
mox::Result<Edition> readEditionDir(const QString& dir, QDate from);

/// What the checks of an import found in one table of a folder.
struct TableCheck {
    Table table;
    mox::Status status; // success, or the first fault, naming the file and line
    int bands = 0;      // bands read when it passed (bonus: rates × dependants columns)
};

/// What the checks of an import found in a folder, table by table, without writing anything.
struct FolderCheck {
    mox::Status status;             // the folder itself: missing, or without any table file
    std::vector<TableCheck> tables; // each table whose files are in the folder
    bool ok() const;
};

/// Runs every check readEditionDir makes on \p dir, each table on its own, so that a broken
/// bonus file does not hide a broken monthly file.
FolderCheck checkEditionDir(const QString& dir);

/// The edition folders under \p root: subfolders named by the date they apply from
/// (yyyy-MM-dd), oldest first.
QList<std::pair<QDate, QString>> editionFolders(const QString& root);

/// The edition in force on \p date among \p editions (any order), or nullptr.
const Edition* editionFor(const std::vector<Edition>& editions, QDate date);

/// The tax tables of the environment database (ZEIHAN, ZEIGETU, ZEISYO), with their keys.
std::vector<KorDAO::TableDef> taxTables();

/// Creates the tax tables in the environment database when they are missing.
mox::Status createTaxSchema(const KorDAO::DatabaseHandle& db);

/// What an import does with a table the stored edition of the same date already holds. A table
/// the stored edition lacks is always added; a table not in the folder always stays as stored.
enum class IfStored {
    Refuse,  // fails with kStatusTableLoaded, naming the edition and the table; nothing changes
    Replace, // the stored table gives way to the one imported
    Keep,    // the stored table stays; the import goes on with the other tables
};

/// Reads, checks and stores the tables found in \p dir as the edition in force from \p from. A
/// table the stored edition lacks is added to it; a table it already holds is refused, replaced
/// or kept as \p ifStored says. A table not in \p dir stays as stored. One transaction: on any
/// failure the database is unchanged. \p written (when given) tells whether any table was
/// written.
/// \p stageDone (when given) is called with 1 to kImportStages as the stages end: the files
/// read and checked, the stored tables looked up, the tables written, the transaction committed.
inline constexpr int kImportStages = 4;
mox::Status importEdition(const KorDAO::DatabaseHandle& db, QDate from, const QString& dir,
                          IfStored ifStored = IfStored::Refuse, bool* written = nullptr,
                          const std::function<void(int stage)>& stageDone = {});

/// Imports every edition folder under \p dir (editionFolders), oldest first, each as
/// importEdition with \p ifStored; stops at the first failure. Returns in \p done the dates of
/// the editions something was written to.
mox::Status importEditions(const KorDAO::DatabaseHandle& db, const QString& dir, IfStored ifStored,
                           QList<QDate>* done = nullptr);

/// The folder of the shipped editions: data/tax beside the running program or one folder above
/// it, else tax/ in the shipped data folder (<prefix>/share/mox installed, else the source tree's).
QString shippedTaxDir();

/// Summary of one stored edition; 0 bands: the edition does not hold that table.
struct EditionInfo {
    QDate from;
    int monthlyBands = 0;
    int bonusBands = 0;
};

/// The editions stored in the database, oldest first.
mox::Result<QList<EditionInfo>> listEditions(const KorDAO::DatabaseHandle& db);

/// Every edition stored in the database, oldest first.
mox::Result<std::vector<Edition>> loadEditions(const KorDAO::DatabaseHandle& db);

/// The tax object (SYOTOKU of the bonus entry program).
class clsTax {
public:
    clsTax();
    ~clsTax();
    clsTax(const clsTax&) = delete;
    clsTax& operator=(const clsTax&) = delete;

    /// The configuration file that locates the environment database; always "MOXENV.INI".
    void setTaxIniName(const QString& iniName);
    const QString& TaxIniName() const { return m_iniName; }

    /// Tax on a bonus by the bonus rate table (甲欄). taxable: bonus less its social insurance;
    /// prevPay: previous month's pay less social insurance; dependents: 扶養親族等の数;
    /// spouse: the spouse indicator (GENHAI); refDate: yyyymmdd picks the edition in force.
    /// The count used is dependents + spouse. Returns 0 and sets tax, or a negative status with
    /// lastError() naming the cause (tax is then left unchanged): kStatusNoEdition when no
    /// edition is in force on refDate, kStatusNoTable when the edition in force has no bonus table.
    short TaxBonus(Currency taxable, Currency prevPay, short dependents, short spouse,
                   Currency refDate, Currency& tax);
    /// Tax by the monthly table (月額表 甲欄); arguments and result as for TaxBonus.
    short TaxMonthly(Currency monthly, short dependents, short spouse, Currency refDate,
                     Currency& tax);
    /// The rate in percent applied by the last successful TaxBonus, e.g. 4.084; 0 before.
    Currency TaxRate() const { return m_rate; }
    /// Japanese text of the last failure; names the date when no edition applies, the table and
    /// the edition when the edition lacks the table.
    QString lastError() const { return m_lastError; }

    /// Uses \p editions instead of the database named by the configuration file (tests, tools).
    void setEditions(std::vector<Edition> editions);

private:
    struct Cache;
    short editionAt(Currency refDate, short dependents, short spouse, Table table,
                    const Edition*& edition, int& count);
    short load(const QString& key);

    QString m_iniName;
    Currency m_rate;
    QString m_lastError;
    std::unique_ptr<Cache> m_cache;
};

} // namespace KorTAX
