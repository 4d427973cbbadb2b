#pragma once

// The print run over the payroll database: one ledger page per chosen employee into OVL.TMP.
//
// The run reads through the form's open tables. It shows nothing itself; what went wrong comes
// back in the outcome for the form to report:
//
//     PrintJob job{...};                       // tables, fiscal year, header texts, codes, folder
//     PrintOutcome out = prsPrint(job);        // may throw KorDAO::DaoError on a bad field
//     if (out.daoStatus != 0) prsDaoStatus(out.daoStatus, false);
//     else if (!out.amounts.ok()) ...          // amounts beyond the money type: no OVL.TMP
//     else if (!out.file.ok()) ...             // OVL.TMP could not be made
//     else if (out.pages > 0) ...              // hand OVL.TMP to the print component,
//                                              // then show out.notice() and out.missingNotice()

#include "mox030/ledgerpage.h"
#include "mox030/ruikei.h"

#include "base/status.h"
#include "kordao/kordao.h"

#include <QList>
#include <QString>

#include <functional>

namespace mox030 {

/// The filter of one employee's payment records of the fiscal year, joined as plain text:
/// "SYOKCD = 123 AND SKYUYM >= 202404 AND SKYUYM <= 202503 ".
QString kyuyoCriteria(int code, const QString& strFromYM, const QString& strToYM);
/// The order the records are summed in: " SKYUYM,KYUSYU,KYUSEQ ".
QString kyuyoSort();

/// prfKyuyoOpen: opens \p GKKYUYO on the employee's records of the fiscal year. True when the
/// open reports anything but 0 records (a failing open too: its status then shows in the reads).
bool prfKyuyoOpen(KorDAO::clsTbAccess& GKKYUYO, const KorDAO::DatabaseHandle& db, int code,
                  const QString& strFromYM, const QString& strToYM);

/// Reads the current record of \p GKKYUYO as the ledger sees it. Throws KorDAO::DaoError when a
/// field is missing or NULL.
KyuyoRecord readKyuyoRecord(KorDAO::clsTbAccess& GKKYUYO);

/// prsDatasum: resets \p grid and sums every record of the open \p GKKYUYO into it, then
/// rebuilds the annual total. Returns 0, or the failing read status (neither -9 nor -99) that
/// stopped it, which the caller reports. Records without a ledger row are skipped. Throws
/// std::overflow_error when the amounts add up to more than the money type holds; the caller
/// catches it around the whole page (the sums and ledgerCells) with amountOverflow().
short prsDatasum(KorDAO::clsTbAccess& GKKYUYO, Ruikei& grid);

/// An employee's amounts that the money type cannot hold, met while his page is summed or laid
/// out: status -3 (KorDAO::kFieldUnreadable) with the calculation's message
/// 「金額が大きすぎて計算できません。」 and a line naming the employee's code.
mox::Status amountOverflow(int code);

/// One employee's page: the records of the open \p GKKYUYO summed into \p grid (prsDatasum)
/// and laid out (ledgerCells), with amounts beyond the money type caught around both.
struct PageCells {
    short read = 0;        // the status of a failing read (no cells then), or 0
    bool tooLarge = false; // amounts beyond the money type (no cells then)
    std::vector<LedgerCell> cells;
};
PageCells sumPage(KorDAO::clsTbAccess& GKKYUYO, Ruikei& grid);

/// Everything one print run needs.
struct PrintJob {
    KorDAO::DatabaseHandle db;
    KorDAO::clsTbAccess* GKJINJI = nullptr; // personnel master, open
    KorDAO::clsTbAccess* GKKYUYO = nullptr; // reopened and closed for each employee
    QString strFromYM;                      // first month of the fiscal year, yyyy04
    QString strToYM;                        // last month of the fiscal year, yyyy03
    QString strNendoPrt;                    // era year of the fiscal year in print style
    SyokuMei strSyokuMei;
    QString GKNAME;   // management record: name at the right of the header
    QString SYOZOKU;  // management record: workplace
    QList<int> codes; // the chosen employees, in list order
    QString folder;   // where OVL.TMP goes
    /// Called after each chosen employee (a page written or not) with how many are done and
    /// how many were chosen; none when empty.
    std::function<void(int done, int total)> progress;
};

struct PrintOutcome {
    int pages = 0;       // pages written
    short daoStatus = 0; // a failing database status that stopped the run, to be reported
    mox::Status file;    // a command file that could not be made
    int blanked = 0;     // control characters of names and other texts printed as blanks
    int replaced = 0;    // characters CP932 cannot hold, printed as "？"
    mox::Status amounts; // amounts beyond the money type (amountOverflow): the run stopped there
    QList<int> missing;  // chosen employees no longer in the personnel master: page without header

    /// The run's closing words for the operator when texts could not be printed as stored
    /// (how many characters became "？" and how many became blanks); empty otherwise.
    QString notice() const;
    /// The run's closing words when chosen employees were no longer in the personnel master:
    /// their codes, and that their pages were printed without a header; empty otherwise.
    QString missingNotice() const;
};

/// prsPrint without its hand-off: writes OVL.TMP with one page per employee who has records in
/// the fiscal year. The file is complete (start, set-up and end lines) even without a page.
/// Each employee is first looked up in the personnel master: one no longer there (-8) gets his
/// page without a header and is named in missing; any other failing find stops the run with its
/// status, before the employee's payment records are read. Amounts beyond the money type stop
/// the run with \c amounts set. A stopped run leaves no new OVL.TMP (an older one stays as it
/// was). Throws KorDAO::DaoError when a field cannot be read.
PrintOutcome prsPrint(const PrintJob& job);

} // namespace mox030
