#pragma once

// korprint: the print component of the ledger program.
//
// The program writes a print command file "OVL.TMP" (CP932, one command per line) into a folder,
// tells the component that folder, and asks it to print the file over an overlay form:
//
//     std::unique_ptr<korprint::PrintComponent> prt = korprint::create();
//     prt->setPrintFIlePath(folder);
//     if (short rc = prt->PrtFile(u"Mox030"_s, u"個人別給与累計表"_s, u"Mox030p.ovl"_s); rc != 0)
//         mox::shell().message(prt->lastError(), ...);
//
// A ledger to be kept goes through the archival call with a DocumentInfo instead of the title
// (PDF/A-1b, subject and author, a checksum file beside it).
//
// PrtFile always renders the pages to "<folder>/<program id>.pdf", replacing an older file only
// when the new one is complete; when the environment variable MOX_PRINTER names a printer the
// same pages also go to that printer. The overlay is read from the installed data folder only
// (mox::shippedDataDir), never from the print folder. The folder must be the user's own and
// closed to others' writing; OVL.TMP must be a plain file of the user (not a link), and the pages
// are drawn from the very file that was checked; a link in the PDF's place is refused. The command
// language and the overlay format are described in docs/overlay-format.md. The component draws with
// Qt's fonts, so it needs a QGuiApplication (or QApplication) to exist.

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace korprint {

// Results of PrtFile: 0 success, a negative value names the first failure.
enum PrintResult : short {
    PrintOk = 0,
    CommandFileMissing = -1,   // OVL.TMP absent or unreadable
    CommandFileMalformed = -2, // a line of OVL.TMP is not a valid command, or the file is cut off
    OverlayMissing = -3,       // the overlay is not in the data folder or unreadable
    OverlayMalformed = -4,     // a line of the overlay is not a valid command
    OutputFailed = -5,         // the PDF could not be written (folder missing, read-only, not the
                               // user's own or open to others' writing; a link in its place; disk)
    PrinterFailed = -6,        // the PDF was written but the printer named by MOX_PRINTER is
                               // unknown, failed, or cannot take the job's paper with the form's
                               // margins (it then gets no job)
    InvalidArgument = -7,      // empty folder or overlay name, or a program id that is no file name
};

/// What an archival PDF says about itself, in its information dictionary and its XMP packet
/// alike. Empty texts are left out.
struct DocumentInfo {
    QString title;   // e.g. 「個人別給与累計表 令和8年度」
    QString subject; // what the document holds
    QString author;  // who issued it (the office)
};

class PrintComponent {
public:
    virtual ~PrintComponent() = default;

    // Folder of OVL.TMP and of the PDF (the property is spelled PrintFIlePath by the programs).
    virtual void setPrintFIlePath(const QString& folder) = 0;
    virtual QString printFIlePath() const = 0;

    // Called by PrtFile after each page drawn, with the page number and the number of pages:
    // first for the PDF, then again from page 1 for the printer when one is named. None by
    // default.
    using PageProgress = std::function<void(int page, int pages)>;
    virtual void setPageProgress(PageProgress progress) = 0;

    // Prints <PrintFIlePath>/OVL.TMP over the overlay: programId names the PDF, title becomes the
    // document title. Returns 0 or a PrintResult; on failure no PDF is left half written and an
    // older PDF stays as it was.
    virtual short PrtFile(const QString& programId, const QString& title,
                          const QString& overlay) = 0;

    /// PrtFile for a document to be kept: the PDF is PDF/A-1b (every font embedded, an XMP
    /// packet naming the part and conformance), its title, subject and author are \p info in
    /// both the information dictionary and the XMP packet, and beside it goes
    /// "<program id>.pdf.sha256", one line as sha256sum writes it with the bare file name, so
    /// that `sha256sum -c` run in the folder verifies the PDF. Both files are replaced only when
    /// complete; a checksum file that cannot be written fails the call with OutputFailed.
    virtual short PrtFile(const QString& programId, const DocumentInfo& info,
                          const QString& overlay) = 0;

    /// The SHA-256 (lower-case hexadecimal) of the PDF and checksum file written by the last
    /// call of the archival PrtFile (also when only the printer failed afterwards); empty
    /// otherwise.
    virtual QByteArray pdfSha256() const = 0;

    // Japanese text of the last failure, empty after a success.
    virtual QString lastError() const = 0;
};

// The component as the programs create it.
std::unique_ptr<PrintComponent> create();

} // namespace korprint
