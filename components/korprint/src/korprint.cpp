#include "korprint/korprint.h"

#include "archivalpdf.h"
#include "printjob.h"

#include "base/datadir.h"
#include "base/privatefile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace korprint {

namespace {

const QString kCommandFileName = u"OVL.TMP"_s;

class PrintComponentImpl final : public PrintComponent {
public:
    void setPrintFIlePath(const QString& folder) override { m_folder = folder; }
    QString printFIlePath() const override { return m_folder; }
    void setPageProgress(PageProgress progress) override { m_progress = std::move(progress); }
    short PrtFile(const QString& programId, const QString& title, const QString& overlay) override
    {
        return run(programId, DocumentInfo{title, {}, {}}, false, overlay);
    }
    short PrtFile(const QString& programId, const DocumentInfo& info,
                  const QString& overlay) override
    {
        return run(programId, info, true, overlay);
    }
    QByteArray pdfSha256() const override { return m_sha256; }
    QString lastError() const override { return m_error; }

private:
    short run(const QString& programId, const DocumentInfo& info, bool archival,
              const QString& overlay);
    short fail(const mox::Status& s);
    QString overlayPath(const QString& overlay) const;
    mox::Status writePdf(const QString& path, const DocumentInfo& info, bool archival,
                         const JobSetup& setup, const std::vector<Command>& overlay);
    mox::Status drawPdf(QIODevice& device, const DocumentInfo& info, bool archival,
                        const JobSetup& setup, const std::vector<Command>& overlay);
    mox::Status writeChecksum(const QString& pdfPath);
    mox::Status print(const QString& printer, const QString& title, const JobSetup& setup,
                      const std::vector<Command>& overlay);

    QString m_folder;
    QString m_error;
    QByteArray m_sha256;
    PageProgress m_progress;
};

// Sets the printer to the job's paper with the printable area starting where the form expects it,
// kMarginMm from the left and top edges; the right and bottom margins are the printer's own least
// ones, since the form leaves room there. Returns false when the printer takes neither that paper
// nor custom sizes, or cannot print that close to the left or top edge: the printer would
// otherwise keep its default paper and cut the form off.
bool setUpPaper(QPrinter& printer, int paper)
{
    const QPageLayout form = pageLayoutFor(paper);
    printer.setPageOrientation(form.orientation());
    if (!printer.setPageSize(form.pageSize()))
        return false;
    QPageLayout printable = printer.pageLayout();
    printable.setUnits(QPageLayout::Millimeter);
    const QMarginsF least = printable.minimumMargins();
    const QPageLayout wanted(form.pageSize(), form.orientation(),
                             QMarginsF(kMarginMm, kMarginMm, std::max(0.0, least.right()),
                                       std::max(0.0, least.bottom())),
                             QPageLayout::Millimeter);
    // QPrinter keeps its previous layout and answers false when the printer refuses the paper or
    // the margins.
    return printer.setPageLayout(wanted);
}

short PrintComponentImpl::fail(const mox::Status& s)
{
    m_error = s.message;
    return static_cast<short>(s.code);
}

// The form comes from the installed data folder only: a copy in the print folder, where others
// might have put it, would change every ledger printed.
QString PrintComponentImpl::overlayPath(const QString& overlay) const
{
    return QDir(mox::shippedDataDir()).filePath(overlay);
}

short PrintComponentImpl::run(const QString& programId, const DocumentInfo& info, bool archival,
                              const QString& overlay)
{
    m_error.clear();
    m_sha256.clear();
    // The program id names a file in the print folder, so it may not climb out of it.
    const bool badId = programId.isEmpty() || programId.contains(u'/') ||
                       programId.contains(u'\\') || programId.startsWith(u'.');
    const bool badOverlay = overlay.isEmpty() || overlay.contains(u'/') ||
                            overlay.contains(u'\\') || overlay.startsWith(u'.');
    if (m_folder.isEmpty() || badId || badOverlay) {
        return fail(mox::Status::failure(
            InvalidArgument,
            u"印刷ファイルのフォルダ、プログラムIDまたはオーバレイ名が正しくありません。"_s));
    }
    if (const QString why = mox::ownFolderProblem(m_folder); !why.isEmpty()) {
        return fail(mox::Status::failure(OutputFailed,
                                         u"印刷ファイルのフォルダ %1 を使えません（%2）。"_s.arg(
                                             QDir::toNativeSeparators(m_folder), why)));
    }
    const QString commandFile = QDir(m_folder).filePath(kCommandFileName);

    // The whole command file is checked before anything is written or printed, so a bad line
    // near the end cannot leave a printer with half a job.
    mox::Result<JobSetup> setup = checkCommandFile(commandFile);
    if (const mox::Status* s = mox::failure(setup))
        return fail(*s);
    mox::Result<std::vector<Command>> form = loadOverlay(overlayPath(overlay));
    if (const mox::Status* s = mox::failure(form))
        return fail(*s);

    const QString pdf = QDir(m_folder).filePath(programId + u".pdf"_s);
    if (mox::Status s = writePdf(pdf, info, archival, mox::value(setup), mox::value(form)); !s.ok())
        return fail(s);
    if (archival) {
        if (mox::Status s = writeChecksum(pdf); !s.ok())
            return fail(s);
    }

    const QString printer = qEnvironmentVariable("MOX_PRINTER");
    if (!printer.isEmpty()) {
        if (mox::Status s = print(printer, info.title, mox::value(setup), mox::value(form));
            !s.ok())
            return fail(s);
    }
    return PrintOk;
}

mox::Status PrintComponentImpl::writePdf(const QString& path, const DocumentInfo& info,
                                         bool archival, const JobSetup& setup,
                                         const std::vector<Command>& overlay)
{
    // The pages show salaries: they go to a new 0600 file beside the target, renamed into place
    // only on commit, so a failed run leaves the older PDF untouched and no partial file behind,
    // and a link planted in the PDF's place is refused rather than followed.
    mox::PrivateFile file(path);
    auto failed = [&](const QString& why) {
        return mox::Status::failure(OutputFailed, u"PDFファイル %1 を書き込めません（%2）。"_s.arg(
                                                      QDir::toNativeSeparators(path), why));
    };
    if (!file.open())
        return failed(file.errorString());
    if (mox::Status s = drawPdf(*file.device(), info, archival, setup, overlay); !s.ok()) {
        file.cancel();
        return s.message.isEmpty() ? failed(file.device()->errorString()) : s;
    }
    if (!file.commit())
        return failed(file.errorString());
    return mox::Status::success();
}

// Draws the pages into \p device; an archival document as PDF/A-1b whose information dictionary
// is replaced, at the end of the file, by one that agrees with its XMP packet. A failure with an
// empty message is a failed write.
mox::Status PrintComponentImpl::drawPdf(QIODevice& device, const DocumentInfo& info, bool archival,
                                        const JobSetup& setup, const std::vector<Command>& overlay)
{
    const QString creator = u"korprint"_s;
    const QDateTime created = QDateTime::currentDateTime();
    // Only an archival document is hashed, and its end kept for the dictionary that follows it.
    std::optional<HashingDevice> hashed;
    if (archival)
        hashed.emplace(device);
    mox::Status s;
    {
        QPdfWriter writer(hashed ? static_cast<QIODevice*>(&*hashed) : &device);
        if (archival) {
            writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
            writer.setDocumentXmpMetadata(xmpPacket(info, creator, created));
        }
        writer.setTitle(info.title);
        writer.setCreator(creator);
        writer.setResolution(720);
        writer.setPageLayout(pageLayoutFor(setup.paper));
        s = renderPages(QDir(m_folder).filePath(kCommandFileName), overlay, setup, writer,
                        m_progress);
    }
    if (!s.ok())
        return s;
    if (archival) {
        mox::Result<QByteArray> update =
            infoUpdate(hashed->tail(), hashed->written(), info, creator, created);
        if (const mox::Status* f = mox::failure(update))
            return *f;
        if (hashed->write(mox::value(update)) != mox::value(update).size())
            return mox::Status::failure(OutputFailed, QString());
        m_sha256 = hashed->sha256Hex();
    }
    return mox::Status::success();
}

// "<pdf>.sha256" beside the PDF, as sha256sum writes it, with the bare file name.
mox::Status PrintComponentImpl::writeChecksum(const QString& pdfPath)
{
    const QString path = pdfPath + u".sha256"_s;
    mox::PrivateFile file(path);
    if (!mox::writeWhole(file, mox::sha256sumLine(m_sha256, QFileInfo(pdfPath).fileName()))) {
        m_sha256.clear();
        return mox::Status::failure(OutputFailed,
                                    u"チェックサムファイル %1 を書き込めません（%2）。"_s.arg(
                                        QDir::toNativeSeparators(path), file.errorString()));
    }
    return mox::Status::success();
}

mox::Status PrintComponentImpl::print(const QString& printerName, const QString& title,
                                      const JobSetup& setup, const std::vector<Command>& overlay)
{
    if (QPrinterInfo::printerInfo(printerName).isNull()) {
        return mox::Status::failure(
            PrinterFailed,
            u"プリンタ %1 が見つかりません（PDFは作成しました）。"_s.arg(printerName));
    }
    QPrinter printer(QPrinterInfo::printerInfo(printerName), QPrinter::HighResolution);
    if (!setUpPaper(printer, setup.paper)) {
        return mox::Status::failure(
            PrinterFailed,
            u"プリンタ %1 は用紙 %2 を左・上の余白 %3mm で扱えないため、印刷しませんでした"
            u"（PDFは作成しました）。この用紙を扱えるプリンタを MOX_PRINTER に指定してください。"_s
                .arg(printerName, paperName(setup.paper))
                .arg(kMarginMm));
    }
    printer.setDocName(title);
    printer.setCopyCount(setup.copies);
    mox::Status s =
        renderPages(QDir(m_folder).filePath(kCommandFileName), overlay, setup, printer, m_progress);
    if (!s.ok() || printer.printerState() == QPrinter::Error) {
        return mox::Status::failure(
            PrinterFailed,
            u"プリンタ %1 に印刷できません（PDFは作成しました）。"_s.arg(printerName));
    }
    return s;
}

} // namespace

std::unique_ptr<PrintComponent> create()
{
    return std::make_unique<PrintComponentImpl>();
}

} // namespace korprint
