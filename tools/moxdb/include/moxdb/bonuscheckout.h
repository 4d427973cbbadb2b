#pragma once

// The check list of a bonus month (moxdb/bonuscheck.h) as the office reads it: a CSV file in the
// conventions of moxdb export, an A4 landscape PDF through the print component, or plain lines on
// a terminal. Each file is written under a temporary name (0600, never through a link) and put in
// place only when complete.
//
// Every layout has one line per employee and the totals at the end: per reason (the employees
// listed for it and the sums of their bonus records) and for the district (every bonus record of
// the month).

#include "moxdb/bonuscheck.h"
#include "moxdb/csvwrite.h"

#include "base/status.h"

#include <QString>
#include <QTextStream>

namespace moxdb {

/// The CSV: a header row, a "明細" row per employee, a "理由別合計" row per reason and one
/// "地区合計" row.
mox::Status writeCheckCsv(const CheckList& list, CsvEncoding encoding, const QString& path);

/// The list as lines of text (a terminal, a pipe).
void printCheckList(const CheckList& list, QTextStream& out);

/// What the page header of the PDF says besides the page number.
struct CheckPageHeader {
    QString monthCaption; // "令和 8年12月分"
    Currency thresholdPercent;
};

/// Rows of the body of a PDF page. An employee takes a row a reason and is never split over
/// two pages; the totals (a caption row, a row a reason, the district's row) follow the last
/// employee, on the next page where they do not fit together on the last.
inline constexpr int kCheckRowsPerPage = 40;

/// The number of pages of the PDF of \p list.
int checkPdfPages(const CheckList& list);

/// The PDF, A4 landscape, IPAGothic embedded. Needs a QGuiApplication.
mox::Status writeCheckPdf(const CheckList& list, const CheckPageHeader& header,
                          const QString& path);

/// The options of moxdb bonus check, as its usage line shows them.
QString bonusCheckUsage();

/// moxdb bonus check.
int runBonusCheck(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace moxdb
