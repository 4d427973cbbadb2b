#pragma once

// The archive of printed ledgers. A ledger of pay is a record the office must keep for years,
// while Mox030.pdf in the print folder is replaced by the next run; so each run also keeps a copy
// of its PDF with a checksum file in a folder per fiscal year:
//
//     <print folder>/archive/2026/Mox030-20261208-130501.pdf
//     <print folder>/archive/2026/Mox030-20261208-130501.pdf.sha256   (sha256sum format)
//
// The folders are made 0700 and the files 0600 (mox::PrivateFile), each written to a temporary
// name and linked into place only when complete, so a crash leaves no half file; an existing
// archive file is never replaced (a second run within the same second gets "-2" and so on).

#include "base/status.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace mox030 {

/// The archive folder of fiscal year \p fiscalYear (the year in which it begins) below the print
/// folder \p folder.
QString archiveFolder(const QString& folder, int fiscalYear);

/// Copies \p pdf (a finished PDF, usually <print folder>/Mox030.pdf) into the archive folder of
/// \p fiscalYear, named after the PDF and \p when ("Mox030-yyyyMMdd-HHmmss.pdf"), and writes its
/// checksum file beside it. \p sha256Hex is the digest of the PDF as it was written: a copy that
/// differs from it is refused. Gives the path of the copy, or a failure with a Japanese message
/// naming the file or folder and the reason.
mox::Result<QString> archiveLedger(const QString& pdf, const QString& folder, int fiscalYear,
                                   const QDateTime& when, const QByteArray& sha256Hex);

} // namespace mox030
