#pragma once

// The work behind PrtFile: checking the command file, loading the overlay and rendering the pages
// to any paged device.

#include "commands.h"

#include <base/status.h>

#include <QPageLayout>
#include <QPageSize>

#include <functional>
#include <vector>

class QPagedPaintDevice;

namespace korprint {

// What the ST and CR lines of a command file set, and how many pages it has.
struct JobSetup {
    int paper = 0;
    int copies = 1;
    int cpi = 0;
    int lpi = 0;
    int pages = 0;
    // The command file checked (device and inode): the pages are drawn from that file only.
    quint64 device = 0;
    quint64 inode = 0;
};

// The page size and orientation of a paper code; false for an unknown code.
//   1 A4 portrait, 2 A4 landscape, 3 A3 portrait, 4 A3 landscape,
//   10 B4 portrait, 11 B4 landscape (B4 is the JIS size, 257 x 364 mm).
bool paperFor(int code, QPageSize& size, QPageLayout::Orientation& orientation);

// The paper of a code as the messages name it, e.g. "B4 横（JIS B4 257×364mm）"; empty for an
// unknown code.
QString paperName(int code);

// Page layout of a paper code: the printable area starts kMarginMm from the left and top edge.
inline constexpr double kMarginMm = 10.0;
QPageLayout pageLayoutFor(int paper);

// Reads the whole command file once without drawing: every line must be a command, ST comes
// first, CR before the first page, texts and rules only inside a page, ED last. A file without
// pages is refused as well, and so is a link or a file of another user. Fails with
// CommandFileMissing or CommandFileMalformed.
mox::Result<JobSetup> checkCommandFile(const QString& path);

// Reads an overlay: TE, LN, BX and RM lines (blank lines allowed). Fails with OverlayMissing or
// OverlayMalformed.
mox::Result<std::vector<Command>> loadOverlay(const QString& path);

// Draws every page of the command file on `device` (already set to the job's page layout), the
// overlay first on each page. The file is read again line by line, so memory does not grow with
// the number of pages; when \p setup names the checked file (device and inode), a file that is
// another one now is refused before anything is drawn. \p pageDone, when set, is called after each
// page with its number and setup.pages.
mox::Status renderPages(const QString& commandFile, const std::vector<Command>& overlay,
                        const JobSetup& setup, QPagedPaintDevice& device,
                        const std::function<void(int page, int pages)>& pageDone = {});

} // namespace korprint
