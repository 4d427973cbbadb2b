#include "korprint/korprint.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Two ledger pages as the ledger program writes them: header texts and a few amount cells.
const QString kTwoPages = uR"(ST 011001
CR 15063
PE 
TE 0120005530100100令和 8年
TE 03500055301001000000123
TE 0200006530100100教諭                
TE 0350006530100100山田　太郎
TE 1660006530100100北町教育委員会
TE 1880006530100100(北町小学校)
TE 0130011530100100   312,400
TE 0470010530100100  12,000
TE 1910011530100100   287,650
PE 
TE 0120005530100100令和 8年
TE 03500055301001000000456
TE 0350006530100100鈴木　花子
TE 0130051530100100 4,567,890
TE 1910051530100100         0
ED 
)"_s;

QByteArray asCommandFile(const QString& text)
{
    QString crlf = text;
    crlf.replace(u"\n"_s, u"\r\n"_s);
    QStringEncoder enc("cp932");
    return enc.encode(crlf);
}

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class PrtFile : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_prt->setPrintFIlePath(m_dir.path());
    }
    void writeCommands(const QByteArray& bytes)
    {
        QFile f(m_dir.filePath(u"OVL.TMP"_s));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    short print() { return m_prt->PrtFile(u"Mox030"_s, u"個人別給与累計表"_s, u"Mox030p.ovl"_s); }
    QString pdf() const { return m_dir.filePath(u"Mox030.pdf"_s); }
    // Every file of the folder except the command file: what a run left behind.
    QStringList leftovers() const
    {
        QStringList files =
            QDir(m_dir.path())
                .entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        files.removeAll(u"OVL.TMP"_s);
        return files;
    }
    void plantOldPdf()
    {
        QFile f(pdf());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    QByteArray pdfBytes() const
    {
        QFile f(pdf());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<korprint::PrintComponent> m_prt = korprint::create();
};

TEST_F(PrtFile, RendersTwoB4LandscapePagesWithTheForm)
{
    if (QStandardPaths::findExecutable(u"pdfinfo"_s).isEmpty())
        GTEST_SKIP() << "poppler-utils not installed";
    writeCommands(asCommandFile(kTwoPages));
    ASSERT_EQ(print(), 0) << m_prt->lastError().toStdString();
    EXPECT_TRUE(m_prt->lastError().isEmpty());
    EXPECT_EQ(leftovers(), QStringList{u"Mox030.pdf"_s});

    const QString info = run(u"pdfinfo"_s, {pdf()});
    EXPECT_TRUE(info.contains(QRegularExpression(u"Pages:\\s+2\\b"_s))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression(u"Title:\\s+個人別給与累計表"_s)));
    // JIS B4 landscape is 364 x 257 mm, 1031.8 x 728.5 pt.
    const QRegularExpressionMatch size =
        QRegularExpression(u"Page size:\\s+([\\d.]+) x ([\\d.]+) pts"_s).match(info);
    ASSERT_TRUE(size.hasMatch());
    EXPECT_NEAR(size.captured(1).toDouble(), 1031.8, 1.0);
    EXPECT_NEAR(size.captured(2).toDouble(), 728.5, 1.0);
    EXPECT_TRUE(run(u"pdffonts"_s, {pdf()}).contains(u"IPAGothic"_s));

    const QString page1 = run(u"pdftotext"_s, {u"-f"_s, u"1"_s, u"-l"_s, u"1"_s, pdf(), u"-"_s});
    for (const QString& want :
         {u"個人別給与累計表"_s, u"山田"_s, u"太郎"_s, u"0000123"_s, u"312,400"_s, u"287,650"_s,
          u"12,000"_s, u"北町小学校"_s, u"差引支給額"_s, u"12月賞与"_s})
        EXPECT_TRUE(page1.contains(want)) << want.toStdString();
    const QString page2 = run(u"pdftotext"_s, {u"-f"_s, u"2"_s, u"-l"_s, u"2"_s, pdf(), u"-"_s});
    EXPECT_TRUE(page2.contains(u"鈴木"_s));
    EXPECT_TRUE(page2.contains(u"4,567,890"_s));
    EXPECT_TRUE(page2.contains(u"個人別給与累計表"_s)); // the form is on every page
    EXPECT_FALSE(page2.contains(u"山田"_s));
}

TEST_F(PrtFile, ReportsEachPageAsItIsDrawn)
{
    std::vector<std::pair<int, int>> seen;
    m_prt->setPageProgress([&](int page, int pages) { seen.emplace_back(page, pages); });
    writeCommands(asCommandFile(kTwoPages));
    ASSERT_EQ(print(), 0) << m_prt->lastError().toStdString();
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
}

// A document to be kept: PDF/A-1b whose information dictionary (what pdfinfo reads) and XMP packet
// both carry title, subject and author, texts that XML and PDF strings must escape included; the
// checksum file beside it verifies with sha256sum, and a checksum that cannot be written fails the
// call.
TEST_F(PrtFile, ArchivalDocumentCarriesItsMetadataAndAChecksum)
{
    for (const char16_t* tool : {u"pdfinfo", u"qpdf", u"sha256sum"}) {
        if (QStandardPaths::findExecutable(QString::fromUtf16(tool)).isEmpty())
            GTEST_SKIP() << "pdfinfo, qpdf or sha256sum not installed";
    }
    writeCommands(asCommandFile(kTwoPages));
    const korprint::DocumentInfo info{u"個人別給与累計表 令和8年度"_s,
                                      u"累計表 <2026> (4月〜3月) \\ 𠮷"_s,
                                      u"北町 & 南町教育委員会"_s};
    ASSERT_EQ(m_prt->PrtFile(u"Mox030"_s, info, u"Mox030p.ovl"_s), 0)
        << m_prt->lastError().toStdString();
    QStringList want{u"Mox030.pdf"_s, u"Mox030.pdf.sha256"_s};
    EXPECT_EQ(leftovers(), want);

    const QString shown = run(u"pdfinfo"_s, {pdf()});
    // pdfinfo prints each entry as its name, blanks to a column, and the text.
    for (const auto& [key, text] :
         {std::pair{u"Title"_s, info.title}, std::pair{u"Subject"_s, info.subject},
          std::pair{u"Author"_s, info.author}, std::pair{u"Creator"_s, u"korprint"_s}})
        EXPECT_TRUE(shown.contains(
            QRegularExpression(key + u":\\s+"_s + QRegularExpression::escape(text) + u'\n')))
            << key.toStdString() << "\n"
            << shown.toStdString();
    EXPECT_TRUE(shown.contains(QRegularExpression(u"Producer:\\s+korprint \\(Qt "_s)));
    const QString meta = run(u"pdfinfo"_s, {u"-meta"_s, pdf()});
    for (const QString& part :
         {u"pdfaid:part=\"1\""_s, u"pdfaid:conformance=\"B\""_s,
          u"<rdf:li xml:lang=\"x-default\">個人別給与累計表 令和8年度</rdf:li>"_s,
          u"<rdf:li>北町 &amp; 南町教育委員会</rdf:li>"_s, u"累計表 &lt;2026&gt;"_s})
        EXPECT_TRUE(meta.contains(part)) << part.toStdString() << "\n" << meta.toStdString();
    QProcess check;
    check.start(u"qpdf"_s, {u"--check"_s, pdf()});
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();

    QFile sum(pdf() + u".sha256"_s);
    ASSERT_TRUE(sum.open(QIODevice::ReadOnly));
    EXPECT_EQ(sum.readAll(), m_prt->pdfSha256() + "  Mox030.pdf\n");
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(pdfBytes());
    EXPECT_EQ(m_prt->pdfSha256(), hash.result().toHex());
    QProcess verify;
    verify.setWorkingDirectory(m_dir.path());
    verify.start(u"sha256sum"_s, {u"-c"_s, u"Mox030.pdf.sha256"_s});
    ASSERT_TRUE(verify.waitForFinished(30000));
    EXPECT_EQ(verify.exitCode(), 0) << verify.readAllStandardOutput().toStdString();

    // The older call writes no checksum, and a checksum that cannot take its name fails the call.
    ASSERT_TRUE(QFile::remove(pdf() + u".sha256"_s));
    ASSERT_EQ(print(), 0);
    EXPECT_EQ(leftovers(), QStringList{u"Mox030.pdf"_s});
    EXPECT_TRUE(m_prt->pdfSha256().isEmpty());
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(u"Mox030.pdf.sha256"_s));
    EXPECT_EQ(m_prt->PrtFile(u"Mox030"_s, info, u"Mox030p.ovl"_s), korprint::OutputFailed);
    EXPECT_TRUE(m_prt->lastError().contains(u"Mox030.pdf.sha256"_s));
    EXPECT_TRUE(m_prt->pdfSha256().isEmpty());
}

// The pages show salaries: the PDF is readable by its owner alone, also when it replaces one that
// others could read.
TEST_F(PrtFile, PdfIsReadableByItsOwnerOnly)
{
    plantOldPdf();
    ASSERT_TRUE(QFile::setPermissions(pdf(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ReadGroup | QFileDevice::ReadOther));
    writeCommands(asCommandFile(kTwoPages));
    ASSERT_EQ(print(), 0) << m_prt->lastError().toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(pdf()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777u, 0600u);
}

TEST_F(PrtFile, ReplacesAnOlderPdfOnlyWithACompleteOne)
{
    plantOldPdf();
    writeCommands(asCommandFile(kTwoPages).replace("ED \r\n", ""));
    EXPECT_EQ(print(), korprint::CommandFileMalformed);
    EXPECT_FALSE(m_prt->lastError().isEmpty());
    EXPECT_EQ(pdfBytes(), "old");
    EXPECT_EQ(leftovers(), QStringList{u"Mox030.pdf"_s});

    writeCommands(asCommandFile(kTwoPages));
    EXPECT_EQ(print(), 0);
    EXPECT_TRUE(pdfBytes().startsWith("%PDF"));
    EXPECT_EQ(leftovers(), QStringList{u"Mox030.pdf"_s});
}

TEST_F(PrtFile, ReportsMalformedAndMissingInputWithoutWriting)
{
    EXPECT_EQ(print(), korprint::CommandFileMissing);
    EXPECT_TRUE(m_prt->lastError().contains(u"OVL.TMP"_s));

    writeCommands(asCommandFile(
        QString(kTwoPages).replace(u"TE 0470010530100100"_s, u"TE 047001053010010"_s)));
    EXPECT_EQ(print(), korprint::CommandFileMalformed);
    EXPECT_TRUE(m_prt->lastError().contains(u"11 行目"_s)) << m_prt->lastError().toStdString();
    EXPECT_TRUE(leftovers().isEmpty());

    writeCommands(asCommandFile(kTwoPages));
    EXPECT_EQ(m_prt->PrtFile(u"Mox030"_s, u"t"_s, u"nosuch.ovl"_s), korprint::OverlayMissing);
    EXPECT_TRUE(m_prt->lastError().contains(u"nosuch.ovl"_s));

    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files).contains(u"OVL.TMP"_s));
    EXPECT_FALSE(QFileInfo::exists(pdf()));

    EXPECT_EQ(m_prt->PrtFile(u"../Mox030"_s, u"t"_s, u"Mox030p.ovl"_s), korprint::InvalidArgument);
    EXPECT_EQ(m_prt->PrtFile(u"Mox030"_s, u"t"_s, u"../Mox030p.ovl"_s), korprint::InvalidArgument);
    m_prt->setPrintFIlePath(QString());
    EXPECT_EQ(print(), korprint::InvalidArgument);
}

TEST_F(PrtFile, FailsCleanlyWhenThePdfCannotBeWritten)
{
    writeCommands(asCommandFile(kTwoPages));
    // A folder in the way of the PDF: the finished file cannot take its name.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(u"Mox030.pdf"_s));
    EXPECT_EQ(print(), korprint::OutputFailed);
    EXPECT_TRUE(m_prt->lastError().contains(u"Mox030.pdf"_s));
    EXPECT_EQ(leftovers(), QStringList{u"Mox030.pdf"_s});
    EXPECT_TRUE(QFileInfo(pdf()).isDir());
}

TEST_F(PrtFile, FailsCleanlyInAReadOnlyFolder)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    writeCommands(asCommandFile(kTwoPages));
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const short rc = print();
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(rc, korprint::OutputFailed);
    EXPECT_TRUE(leftovers().isEmpty());
}

// What another local user could leave in a print folder: each is refused with a message naming
// it, and the file a link points at stays as it was.
TEST_F(PrtFile, RefusesLinksAndIgnoresAPlantedForm)
{
    QTemporaryDir victimDir;
    const QString victim = victimDir.filePath(u"important.txt"_s);
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(asCommandFile(kTwoPages));
    }
    const QString ovlTmp = m_dir.filePath(u"OVL.TMP"_s);

    ASSERT_TRUE(QFile::link(victim, ovlTmp));
    EXPECT_EQ(print(), korprint::CommandFileMissing);
    EXPECT_TRUE(m_prt->lastError().contains(u"OVL.TMP"_s)) << m_prt->lastError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(pdf()));
    ASSERT_TRUE(QFile::remove(ovlTmp));

    writeCommands(asCommandFile(kTwoPages));
    ASSERT_TRUE(QFile::link(victim, pdf()));
    EXPECT_EQ(print(), korprint::OutputFailed);
    EXPECT_TRUE(m_prt->lastError().contains(u"Mox030.pdf"_s)) << m_prt->lastError().toStdString();
    EXPECT_EQ(QFileInfo(pdf()).symLinkTarget(), victim);
    QFile f(victim);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), asCommandFile(kTwoPages));
    ASSERT_TRUE(QFile::remove(pdf()));

    // A form in the print folder is not read: this one would fail the run with its page command.
    QFile ovl(m_dir.filePath(u"Mox030p.ovl"_s));
    ASSERT_TRUE(ovl.open(QIODevice::WriteOnly));
    ovl.write("RM planted\r\nLN 00100010010000101\r\nPE \r\n");
    ovl.close();
    EXPECT_EQ(print(), korprint::PrintOk) << m_prt->lastError().toStdString();
}

TEST_F(PrtFile, RefusesAFolderOthersCanWriteOrThatIsALink)
{
    writeCommands(asCommandFile(kTwoPages));
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0777), 0);
    EXPECT_EQ(print(), korprint::OutputFailed);
    EXPECT_TRUE(m_prt->lastError().contains(QDir::toNativeSeparators(m_dir.path())))
        << m_prt->lastError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(pdf()));
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0700), 0);

    QTemporaryDir links;
    const QString link = links.filePath(u"print"_s);
    ASSERT_TRUE(QFile::link(m_dir.path(), link));
    m_prt->setPrintFIlePath(link);
    EXPECT_EQ(print(), korprint::OutputFailed);
    EXPECT_TRUE(m_prt->lastError().contains(link)) << m_prt->lastError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(pdf()));

    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the folder to another user needs root";
    m_prt->setPrintFIlePath(m_dir.path());
    ASSERT_EQ(::chown(QFile::encodeName(m_dir.path()).constData(), 65534, 65534), 0);
    const short rc = print();
    ASSERT_EQ(::chown(QFile::encodeName(m_dir.path()).constData(), 0, 0), 0);
    EXPECT_EQ(rc, korprint::OutputFailed);
    EXPECT_TRUE(m_prt->lastError().contains(u"ほかのユーザー"_s))
        << m_prt->lastError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(pdf()));
}

TEST_F(PrtFile, ReportsAnUnknownPrinterAfterWritingThePdf)
{
    writeCommands(asCommandFile(kTwoPages));
    qputenv("MOX_PRINTER", "mox-no-such-printer");
    const short rc = print();
    qunsetenv("MOX_PRINTER");
    EXPECT_EQ(rc, korprint::PrinterFailed);
    EXPECT_TRUE(m_prt->lastError().contains(u"mox-no-such-printer"_s));
    EXPECT_TRUE(QFileInfo(pdf()).isFile());
}

// Printing to a real CUPS queue. scripts/test starts a private scheduler
// (scripts/throwaway-cups.sh) whose cups-pdf queues turn what they are sent into PDF files, so a
// test sees the paper and the texts the printer got. The component runs in a process of its own
// (korprint_printfile) with MOX_PRINTER and CUPS_SERVER set, as the ledger program would run with
// them.
class PrtFileOnPrinter : public PrtFile {
protected:
    void SetUp() override
    {
        PrtFile::SetUp();
        m_server = qEnvironmentVariable("MOX_TEST_CUPS_SERVER");
        m_out = qEnvironmentVariable("MOX_TEST_CUPS_PDF_DIR");
        if (m_server.isEmpty() || !QFileInfo::exists(m_server))
            GTEST_SKIP() << "no private CUPS scheduler (scripts/test starts one)";
        for (const QString& tool : {u"lpstat"_s, u"pdfinfo"_s, u"pdftotext"_s}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool.toStdString() << " not installed";
        }
        writeCommands(asCommandFile(kTwoPages));
    }

    struct Outcome {
        int exitCode = -1;
        QString error;
    };
    Outcome printTo(const QString& queue, const QString& title = u"個人別給与累計表"_s)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"CUPS_SERVER"_s, m_server);
        env.insert(u"MOX_PRINTER"_s, queue);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KORPRINT_PRINTFILE), {m_dir.path(), title});
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
            return {};
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
    }
    // The jobs the queue holds: `which` is "not-completed" or "all".
    QStringList jobs(const QString& queue, const QString& which) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"CUPS_SERVER"_s, m_server);
        p.setProcessEnvironment(env);
        p.start(u"lpstat"_s, {u"-W"_s, which, u"-o"_s, queue});
        EXPECT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0)
            << QString::fromUtf8(p.readAllStandardError()).toStdString();
        return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }
    bool waitUntilPrinted(const QString& queue) const
    {
        for (int i = 0; i < 600; ++i) {
            if (jobs(queue, u"not-completed"_s).isEmpty())
                return true;
            QThread::msleep(200);
        }
        return false;
    }
    // cups-pdf names a file after the job's title: its ASCII beginning stays as it is.
    QStringList printedPdfs(const QString& titleStart) const
    {
        return QDir(m_out).entryList({titleStart + u"*.pdf"_s}, QDir::Files);
    }

    QString m_server;
    QString m_out;
};

// A printer that takes JIS B4, named by the variable that holds its queue.
struct B4Printer {
    const char* name;
    const char* queueVariable;
};

void PrintTo(const B4Printer& printer, std::ostream* os)
{
    *os << printer.name;
}

class PrtFileOnB4Printer : public PrtFileOnPrinter,
                           public testing::WithParamInterface<B4Printer> {};

// The ledger reaches the printer on JIS B4 with the form along the sheet's long side, whole: the
// last column of amounts and every text are there. A printer feeds B4 upright, so the sheet may
// come out portrait with the form turned on it.
TEST_P(PrtFileOnB4Printer, PrintsTheLedgerOnJisB4Landscape)
{
    const QString queue = qEnvironmentVariable(GetParam().queueVariable);
    ASSERT_FALSE(queue.isEmpty()) << GetParam().queueVariable;
    // Tests print at the same time: each job's title tells its file.
    const QString job = u"mox-%1-%2"_s.arg(QString::fromLatin1(GetParam().name))
                            .arg(QCoreApplication::applicationPid());
    const QStringList before = printedPdfs(job);
    const Outcome out = printTo(queue, job + u" 個人別給与累計表"_s);
    ASSERT_EQ(out.exitCode, 0) << out.error.toStdString();
    ASSERT_TRUE(waitUntilPrinted(queue)) << "the job did not finish: see log/error_log of the "
                                            "scheduler's folder";
    QStringList made = printedPdfs(job);
    for (const QString& f : before)
        made.removeAll(f);
    ASSERT_EQ(made.size(), 1) << made.join(u' ').toStdString();
    const QString printed = QDir(m_out).filePath(made.front());

    const QString info = run(u"pdfinfo"_s, {printed});
    EXPECT_TRUE(info.contains(QRegularExpression(u"Pages:\\s+2\\b"_s))) << info.toStdString();
    const QRegularExpressionMatch size =
        QRegularExpression(u"Page size:\\s+([\\d.]+) x ([\\d.]+) pts"_s).match(info);
    ASSERT_TRUE(size.hasMatch()) << info.toStdString();
    const double w = size.captured(1).toDouble(), h = size.captured(2).toDouble();
    // JIS B4 is 257 x 364 mm, 728.5 x 1031.8 pt (cups-pdf rounds down to whole points).
    EXPECT_NEAR(std::min(w, h), 728.5, 3.0) << info.toStdString();
    EXPECT_NEAR(std::max(w, h), 1031.8, 3.0) << info.toStdString();

    // The title runs along the long side of the sheet: the form is landscape on it.
    const QString boxes =
        run(u"pdftotext"_s, {u"-bbox"_s, u"-f"_s, u"1"_s, u"-l"_s, u"1"_s, printed, u"-"_s});
    const QRegularExpressionMatch page =
        QRegularExpression(u"<page width=\"([\\d.]+)\" height=\"([\\d.]+)\""_s).match(boxes);
    const QRegularExpressionMatch title =
        QRegularExpression(u"xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                           u"yMax=\"([\\d.]+)\">個人別給与累計表<"_s)
            .match(boxes);
    ASSERT_TRUE(page.hasMatch() && title.hasMatch()) << boxes.toStdString();
    const bool wideSheet = page.captured(1).toDouble() > page.captured(2).toDouble();
    const bool wideTitle = title.captured(3).toDouble() - title.captured(1).toDouble() >
                           title.captured(4).toDouble() - title.captured(2).toDouble();
    EXPECT_EQ(wideTitle, wideSheet);

    const QString page1 = run(u"pdftotext"_s, {u"-f"_s, u"1"_s, u"-l"_s, u"1"_s, printed, u"-"_s});
    for (const QString& want : {u"山田"_s, u"0000123"_s, u"312,400"_s, u"287,650"_s,
                                u"北町小学校"_s, u"差引支給額"_s, u"12月賞与"_s})
        EXPECT_TRUE(page1.contains(want)) << want.toStdString() << "\n" << page1.toStdString();
    const QString page2 = run(u"pdftotext"_s, {u"-f"_s, u"2"_s, u"-l"_s, u"2"_s, printed, u"-"_s});
    EXPECT_TRUE(page2.contains(u"鈴木"_s));
    EXPECT_TRUE(page2.contains(u"4,567,890"_s));
}

INSTANTIATE_TEST_SUITE_P(
    Queues, PrtFileOnB4Printer,
    testing::Values(B4Printer{"TakingAnySize", "MOX_TEST_PRINTER"},
                    // Fixed sizes and 4.2 mm it cannot reach on every edge, as office printers
                    // have: the form's margins are wider on the left and top, and the right and
                    // bottom margins are the printer's own.
                    B4Printer{"WithMarginsAndFixedSizes", "MOX_TEST_PRINTER_MARGINS"}));

// A printer that cannot take JIS B4 gets no job (it would print on its default paper and cut the
// form off); the message names the printer and the paper, and the PDF is written all the same.
TEST_F(PrtFileOnPrinter, RefusesAPrinterWithoutJisB4)
{
    const QString queue = qEnvironmentVariable("MOX_TEST_PRINTER_NO_B4");
    const qsizetype jobsBefore = jobs(queue, u"all"_s).size();
    const Outcome out = printTo(queue);
    EXPECT_EQ(out.exitCode, -korprint::PrinterFailed);
    EXPECT_TRUE(out.error.contains(u"プリンタ "_s + queue)) << out.error.toStdString();
    EXPECT_TRUE(out.error.contains(u"B4 横（JIS B4 257×364mm）"_s)) << out.error.toStdString();
    EXPECT_EQ(jobs(queue, u"all"_s).size(), jobsBefore);
    EXPECT_TRUE(pdfBytes().startsWith("%PDF"));
}

} // namespace
