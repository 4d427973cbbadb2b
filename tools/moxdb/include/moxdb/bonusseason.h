#pragma once

// The bonus season of the payroll database as the entry screen (mox110) sees it: the processing
// month of the management record, the employees its list holds and, for one employee without a
// stored bonus, what the screen's read key (F11) works out and its save key (F12) would store,
// by the screen's own calculation (mox110/core).
//
//     BonusSeason season(handle);
//     if (mox::Status s = season.open(); !s.ok()) … s.message is the screen's own text
//     for (const ListedEmployee& e : season.listedEmployees().value) …
//     NewBonus b = season.calculateNew(jinji, tokkbn, roukbn);
//     if (!b.status.ok()) … the screen's message: nothing would be saved
//     else b.values is the record F12 saves
//
// The commands that use it (calc, bonus run, bonus check) are built with the program's code, so
// this lives in moxdb_bonus, not in moxdb_lib.

#include "base/currency.h"
#include "base/status.h"
#include "kordao/kordao.h"
#include "mox/shell.h"
#include "mox110/bonusscreen.h"
#include "mox110/calccontext.h"
#include "mox110/callup.h"
#include "mox110/kyuyorecord.h"
#include "mox110/records.h"
#include "moxdb/database.h"

#include <QString>
#include <QTextStream>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace KorTAX {
class clsTax;
}

namespace moxdb {

/// The calculation's message boxes (a database failure, a name table that does not open) go to
/// the error stream as "<prefix>: text"; ending the program ends the command with status 1.
class ConsoleShell final : public mox::Shell {
public:
    ConsoleShell(QTextStream& err, QString prefix);
    ~ConsoleShell() override;
    ConsoleShell(const ConsoleShell&) = delete;
    ConsoleShell& operator=(const ConsoleShell&) = delete;

    mox::MsgAnswer messageBox(const QString& text, mox::MsgIcon, mox::MsgButtons buttons,
                              const QString&) override;
    [[noreturn]] void endProgram(int exitCode) override;
    void doEvents() override {}
    bool openUrl(const QUrl&) override { return false; }

private:
    QTextStream& m_err;
    QString m_prefix;
};

using mox110::kInputClassManual;
using mox110::kPayClassDaily;

/// One employee of the entry screen's list.
struct ListedEmployee {
    int syokcd = 0;
    QString name; // SIMKNJ
    int kyukbn = 0;
    int hyokbn = 0;
};

/// What the screen gives for an employee without a stored bonus.
struct NewBonus {
    /// Success, or the refusal the screen shows (a missing tax table …): nothing is saved then.
    mox::Status status;
    /// The calculation went through (the screen shows its figures); the status may still hold
    /// F12's refusal of figures that cannot be stored.
    bool calculated = false;
    mox110::BonusScreen screen; // the figures on screen (also after a refusal: as far as it got)
    mox110::KyuyoValues values; // the record F12 saves; empty after a refusal
};

/// The previous month's pay of one employee, as prsReadZenge sums it.
struct PreviousPay {
    mox110::PreviousMonthPay sums; // added up record by record in prsReadZenge's order
    mox::Status status; // a record of his that could not be read, or sums beyond the money
                        // type, as prsReadZenge reports it
};

/// The deduction classes of an employee's most recent bonus record.
struct DeductionClasses {
    int tokkbn = 0;
    int roukbn = 0;
    int skyuym = 0; // the month of that record
};

/// What the bonus records of a range of employees say, read in one walk.
struct StoredBonus {
    std::map<int, DeductionClasses> latest; // SYOKCD → his most recent bonus record
    std::map<int, bool> thisMonth;          // SYOKCD → he has a bonus record for the month
};

class BonusSeason {
public:
    explicit BonusSeason(KorDAO::DatabaseHandle db);
    ~BonusSeason();
    BonusSeason(const BonusSeason&) = delete;
    BonusSeason& operator=(const BonusSeason&) = delete;

    /// Reads the management record and checks the month: "管理マスタが読込できません。" or
    /// "期末・勤勉手当処理月ではありません。" as the screen says them.
    mox::Status open();

    const mox110::KanriRecord& kanri() const { return m_ctx.kanri; }
    int processingMonth() const { return m_syorid; } // yyyymm
    bool december() const { return m_syorid % 100 == 12; }
    /// "令和 8年12月分" as the screen's month label shows it.
    const QString& monthCaption() const { return m_ctx.monthCaption; }

    /// The screen's own test of whether its list holds an employee of pay class \p kyukbn.
    bool screenLists(int kyukbn) const { return kyukbn != kPayClassDaily || december(); }
    /// The employees of the screen's list, in its order (SYOKCD).
    mox::Result<std::vector<ListedEmployee>> listedEmployees() const;

    /// The personnel records of the employees \p codes, read by their codes. A record that
    /// cannot be read holds its failure (the screen could not call him up); a code that has none
    /// is absent.
    mox::Result<std::map<int, mox::Result<mox110::JinjiRecord>>>
    readJinji(const std::vector<int>& codes) const;
    /// The previous month's pay of the employees \p codes (absent: none); used by calculateNew
    /// in place of a read per employee once given with usePreviousPay.
    mox::Result<std::map<int, PreviousPay>> readPreviousPay(const std::vector<int>& codes) const;
    /// The bonus records of the employees \p codes.
    mox::Result<StoredBonus> readStoredBonus(const std::vector<int>& codes) const;
    /// Those of the employees \p codes who have a bonus record for the month.
    mox::Result<std::set<int>> readThisMonth(const std::vector<int>& codes) const;

    /// What calculating a batch of employees reads, each table once for the whole batch.
    struct Batch {
        std::map<int, mox::Result<mox110::JinjiRecord>> jinji; // as readJinji
        StoredBonus stored;                                    // as readStoredBonus
    };
    /// Reads the personnel records, the previous month's pay and the bonus records of the
    /// employees \p codes, and has calculateNew use that pay from now on.
    mox::Result<Batch> prepare(const std::vector<int>& codes);

    /// Reads the employment insurance table and the rounding points once, for every later
    /// calculateNew (the screen reads them again at every calculation; they do not change
    /// during a run).
    mox::Status cacheSources();
    /// The previous month's pay calculateNew uses from now on (employees absent had none).
    void usePreviousPay(std::map<int, PreviousPay> pay) { m_previous = std::move(pay); }

    /// What F11 (read, a new entry), the deduction classes chosen in their lists and F12 give
    /// for \p jinji, with the screen's own functions.
    NewBonus calculateNew(const mox110::JinjiRecord& jinji, int tokkbn, int roukbn);

private:
    // Calls \p each with the records of \p table of the employees \p codes that meet
    // \p condition (may be empty), in the order \p sort within each list of codes.
    mox::Status forEachOf(const QString& table, const std::vector<int>& codes,
                          const QString& condition, const QString& sort,
                          const std::function<mox::Status(KorDAO::Record)>& each) const;

    KorDAO::DatabaseHandle m_db;
    mox110::CalcContext m_ctx;
    std::unique_ptr<KorTAX::clsTax> m_tax;
    int m_syorid = 0;
    std::optional<std::map<int, PreviousPay>> m_previous;
    std::unique_ptr<KorDAO::clsTbAccess> m_koyou; // GKKOYOU positioned on its first row
    std::optional<std::pair<Currency, Currency>> m_complements;
};

/// Calls \p each with every record of \p table that meets \p filter, in the order \p sort; a
/// table that does not open, a read that fails or a failure of \p each ends the walk with the
/// table named.
mox::Status walkTable(const KorDAO::DatabaseHandle& db, const QString& table, const QString& filter,
                      const QString& sort, const std::function<mox::Status(KorDAO::Record)>& each);

/// The payroll database of the bonus commands (openForBonuses) with its season read and checked
/// (BonusSeason::open).
struct OpenSeason {
    std::unique_ptr<Database> db;
    std::unique_ptr<BonusSeason> season;
};
mox::Result<OpenSeason> openSeason();

} // namespace moxdb
