#pragma once

// The ledger page: where every text of one employee's page goes in the command file.
//
// Each ledger row uses two print lines, Y (prfLinePos) and the line above it, Y - 1. Positions
// are columns and lines of the print grid, in halves.

#include "mox030/ruikei.h"

#include "base/currency.h"

#include <QString>

#include <array>
#include <vector>

namespace mox030 {

class SUB_PRT;

/// The job-kind names SYOKU1 to SYOKU10 of the name table (strSyokuMei), index 1 to 10, each
/// 20 characters padded with blanks; index 0 unused.
using SyokuMei = std::array<QString, 11>;

/// What the header of a page shows.
struct LedgerHeader {
    QString strNendoPrt; // era year of the fiscal year in print style
    int SYOKCD = 0;      // employee code
    int SYOSYU = 0;      // job kind, 1 to 10
    QString SIMKNJ;      // employee name in kanji
    QString GKNAME;      // name printed at the right of the header (management record)
    QString SYOZOKU;     // workplace, printed in parentheses (management record)
};

/// prfLinePos: the lower print line Y of ledger row \p row; 0 for row 16 and any number that is
/// not a printed row.
Currency prfLinePos(int row);

/// An employee code as the page, the list and the messages show it: its last seven digits with
/// leading zeros ("0010025").
QString codeText(int code);

/// The job-kind name of \p syosyu: strSyokuMei(syosyu), or 20 blanks for a kind outside 1 to 10.
QString syokuName(const SyokuMei& strSyokuMei, int syosyu);

/// prsPrint_Header: the six header texts of the current page.
void prsPrint_Header(SUB_PRT& prt, const LedgerHeader& header, const SyokuMei& strSyokuMei);

/// The rows a page prints, top to bottom (row 16 never is).
inline constexpr std::array<int, 18> kPrintedRows = {1,  2,  3,  4,  5,  6,  7,  8,  9,
                                                     10, 11, 12, 13, 14, 15, 17, 18, 19};

/// A row's name at the left of the page: "4月" … "3月", "月計", "6月賞与", "12月賞与", "賞与計",
/// "差額等", "年計"; empty for a row that is not printed.
QString ledgerRowCaption(int row);

/// One amount column of the page, left to right (in a column of two lines, the upper first), with
/// its caption on the form; amount 28, the year-end figure, has two: the refund above, a further
/// charge below.
struct LedgerColumn {
    const char16_t* caption;
    int x;
    bool upper; // on line Y - 1 of its row
};
inline constexpr int kLedgerColumnCount = 29;
extern const std::array<LedgerColumn, kLedgerColumnCount> kLedgerColumns;

/// One amount cell of a printed row.
struct LedgerCell {
    int row;    // ledger row
    int column; // index into kLedgerColumns
    Currency value;
    short width;
    bool minus;    // a negative value shows its sign (the year-end cells show the magnitude)
    bool showZero; // a zero prints "0", otherwise blanks
};

/// The amount cells of the printed rows of \p grid, in the order prsPrint_Meisai writes them. A
/// negative year-end figure of a row other than 19 first raises the row's amount 29 by its
/// magnitude and sets amount 30 to amount 22 - amount 29, as the page shows them. Throws
/// std::overflow_error when those amounts go beyond the money type.
std::vector<LedgerCell> ledgerCells(Ruikei& grid);

/// The text of \p cell on the page: prfOvlNum, 0 decimals, thousands separators, its width.
QString ledgerCellText(const LedgerCell& cell);

/// prsPrint_Meisai: the cells of rows 1 to 15, 17, 18 and 19 (ledgerCells). A negative year-end
/// figure of a row other than 19 first raises the row's amount 29 by its magnitude and sets amount
/// 30 to amount 22 - amount 29, which is why the grid is taken by reference.
void prsPrint_Meisai(SUB_PRT& prt, Ruikei& grid);
/// Writes \p cells (ledgerCells) as prsPrint_Meisai does: a run computes the cells first, so that
/// amounts beyond the money type stop it before anything of the page is written.
void prsPrint_Cells(SUB_PRT& prt, const std::vector<LedgerCell>& cells);

} // namespace mox030
