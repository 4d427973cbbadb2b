// The ledger kept as a record: the print run's PDF/A file with its year in the title, its checksum
// file, the archive copy of each run; and a run that meets amounts beyond the money type, which
// ends with the calculation's message and leaves no command file.
#include "mox030ui/frmmox030.h"

#include "ledgerdb.h"

#include "mox/program.h"
#include "mox/shell.h"
#include "mox030/ledgerarchive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using mox030test::LedgerDb;

namespace {

struct ToolRun {
    int code = -1;
    QString out;
};

ToolRun run(const QString& program, const QStringList& args, const QString& folder = {})
{
    QProcess p;
    if (!folder.isEmpty())
        p.setWorkingDirectory(folder);
    p.start(program, args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

bool toolsPresent()
{
    for (const char* tool : {"pdfinfo", "pdffonts", "qpdf", "sha256sum"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return false;
    }
    return true;
}

int mode(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QByteArray bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A district with a processing month of December 2026 (the fiscal year 令和8年度) and one employee
// paid in April.
class LedgerRecords : public testing::Test {
protected:
    void SetUp() override
    {
        mox::setProgramId(u"mox030"_s);
        m_db.kanri(202612);
        m_db.jinji(1001, u"山田　太郎"_s, 1);
        m_db.kyuyo(1001, 1, 202604, 1,
                   {{"KYURYO", 300000}, {"SSIKYU", 300000}, {"SASIHK", 300000}});
    }

    // Loads the form and prints every listed employee; the run ends the program.
    void printAll()
    {
        frmMox030 form;
        form.setPrintFolder(m_db.path());
        form.Form_Load();
        form.prsPF01();
        EXPECT_THROW(form.cmdPFKEY_Click(5), mox::ProgramEnded);
    }

    QString path(const QString& name) const { return QDir(m_db.path()).filePath(name); }
    QString archive() const { return path(u"archive/2026"_s); }
    QStringList archived() const
    {
        return QDir(archive()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    /// A small Mox030.pdf of the print folder, as a run leaves it; its SHA-256 in hexadecimal.
    QByteArray writeLedgerPdf() const
    {
        const QString pdf = path(u"Mox030.pdf"_s);
        QFile f(pdf);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4 a ledger");
        f.close();
        return QCryptographicHash::hash(bytes(pdf), QCryptographicHash::Sha256).toHex();
    }

    LedgerDb m_db;
    mox::ScriptedShell m_shell;
};

TEST_F(LedgerRecords, PdfIsArchivalWithItsYearAndVerifiesAgainstItsChecksum)
{
    if (!toolsPresent())
        GTEST_SKIP() << "poppler-utils, qpdf or coreutils missing";
    printAll();
    ASSERT_TRUE(m_shell.boxes().empty()) << m_shell.boxes()[0].text.toStdString();
    const QString pdf = path(u"Mox030.pdf"_s);

    const ToolRun info = run(u"pdfinfo"_s, {pdf});
    EXPECT_TRUE(info.out.contains(QRegularExpression(u"Title:\\s+個人別給与累計表 令和8年度\n"_s)))
        << info.out.toStdString();
    EXPECT_TRUE(info.out.contains(
        QRegularExpression(u"Subject:\\s+個人別給与累計表（令和8年度：2026年4月〜2027年3月）\n"_s)))
        << info.out.toStdString();
    EXPECT_TRUE(info.out.contains(QRegularExpression(u"Author:\\s+教育委員会\n"_s)));
    const ToolRun meta = run(u"pdfinfo"_s, {u"-meta"_s, pdf});
    EXPECT_TRUE(meta.out.contains(u"pdfaid:part=\"1\""_s)) << meta.out.toStdString();
    EXPECT_TRUE(meta.out.contains(u"pdfaid:conformance=\"B\""_s));
    EXPECT_TRUE(meta.out.contains(u"個人別給与累計表 令和8年度</rdf:li>"_s));

    // Every font embedded: the column "emb" is the fifth from the right of each font line.
    const QStringList fonts = run(u"pdffonts"_s, {pdf}).out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GT(fonts.size(), 2);
    for (const QString& line : fonts.mid(2)) {
        const QStringList cols = line.split(u' ', Qt::SkipEmptyParts);
        ASSERT_GE(cols.size(), 6) << line.toStdString();
        EXPECT_EQ(cols[cols.size() - 5], u"yes"_s) << line.toStdString();
    }
    const ToolRun check = run(u"qpdf"_s, {u"--check"_s, pdf});
    EXPECT_EQ(check.code, 0) << check.out.toStdString();

    const QByteArray sum = bytes(pdf + u".sha256"_s);
    EXPECT_TRUE(QRegularExpression(u"^[0-9a-f]{64}  Mox030\\.pdf\n$"_s)
                    .match(QString::fromLatin1(sum))
                    .hasMatch())
        << sum.toStdString();
    const ToolRun verify = run(u"sha256sum"_s, {u"-c"_s, u"Mox030.pdf.sha256"_s}, m_db.path());
    EXPECT_EQ(verify.code, 0) << verify.out.toStdString();

    // The run's copy in the archive of its fiscal year, private, with its own checksum file.
    const QStringList kept = archived();
    ASSERT_EQ(kept.size(), 2) << kept.join(u' ').toStdString();
    EXPECT_TRUE(QRegularExpression(u"^Mox030-2\\d{7}-\\d{6}\\.pdf$"_s).match(kept[0]).hasMatch())
        << kept[0].toStdString();
    EXPECT_EQ(kept[1], kept[0] + u".sha256"_s);
    EXPECT_EQ(bytes(QDir(archive()).filePath(kept[0])), bytes(pdf));
    EXPECT_EQ(mode(path(u"archive"_s)), 0700);
    EXPECT_EQ(mode(archive()), 0700);
    for (const QString& f : kept)
        EXPECT_EQ(mode(QDir(archive()).filePath(f)), 0600) << f.toStdString();
    const ToolRun verifyKept = run(u"sha256sum"_s, {u"-c"_s, kept[1]}, archive());
    EXPECT_EQ(verifyKept.code, 0) << verifyKept.out.toStdString();
}

// Two runs keep two copies, the first as it was, whatever the time between them.
TEST_F(LedgerRecords, EachRunKeepsItsOwnCopy)
{
    printAll();
    ASSERT_EQ(archived().size(), 2);
    const QString first = QDir(archive()).filePath(archived()[0]);
    const QByteArray firstBytes = bytes(first);
    printAll();
    EXPECT_TRUE(m_shell.boxes().empty());
    EXPECT_EQ(archived().size(), 4) << archived().join(u' ').toStdString();
    EXPECT_EQ(bytes(first), firstBytes);
}

// A copy for the very second of an existing one takes the next free name; nothing is replaced,
// and a PDF that is not the one printed is not kept.
TEST_F(LedgerRecords, ArchiveNeverReplacesACopyNorKeepsAChangedPdf)
{
    const QString pdf = path(u"Mox030.pdf"_s);
    const QByteArray sha = writeLedgerPdf();
    const QDateTime when(QDate(2026, 12, 8), QTime(13, 5, 1));
    const QString dir = archive();
    mox::Result<QString> a = mox030::archiveLedger(pdf, m_db.path(), 2026, when, sha);
    ASSERT_FALSE(mox::failure(a)) << mox::failure(a)->message.toStdString();
    EXPECT_EQ(mox::value(a), QDir(dir).filePath(u"Mox030-20261208-130501.pdf"_s));
    mox::Result<QString> b = mox030::archiveLedger(pdf, m_db.path(), 2026, when, sha);
    ASSERT_FALSE(mox::failure(b));
    EXPECT_EQ(mox::value(b), QDir(dir).filePath(u"Mox030-20261208-130501-2.pdf"_s));
    EXPECT_EQ(bytes(mox::value(b) + u".sha256"_s), sha + "  Mox030-20261208-130501-2.pdf\n");

    mox::Result<QString> changed =
        mox030::archiveLedger(pdf, m_db.path(), 2026, when, QByteArray(64, '0'));
    ASSERT_TRUE(mox::failure(changed));
    EXPECT_TRUE(mox::failure(changed)->message.contains(u"印刷の後に変わった"_s));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

// A checksum file left behind without its copy (a copy removed by hand) keeps its name taken:
// the next copy is named after it and gets a checksum file of its own.
TEST_F(LedgerRecords, ALeftoverChecksumFileKeepsItsNameTaken)
{
    const QString pdf = path(u"Mox030.pdf"_s);
    const QByteArray sha = writeLedgerPdf();
    const QDateTime when(QDate(2026, 12, 8), QTime(13, 5, 1));
    const QString dir = archive();
    ASSERT_TRUE(QDir().mkpath(dir));
    {
        QFile left(QDir(dir).filePath(u"Mox030-20261208-130501.pdf.sha256"_s));
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
        left.write("0000  Mox030-20261208-130501.pdf\n");
    }
    mox::Result<QString> a = mox030::archiveLedger(pdf, m_db.path(), 2026, when, sha);
    ASSERT_FALSE(mox::failure(a)) << mox::failure(a)->message.toStdString();
    EXPECT_EQ(mox::value(a), QDir(dir).filePath(u"Mox030-20261208-130501-2.pdf"_s));
    EXPECT_EQ(bytes(mox::value(a) + u".sha256"_s), sha + "  Mox030-20261208-130501-2.pdf\n");
}

TEST_F(LedgerRecords, AFailureToArchiveIsReported)
{
    // A plain file where the archive folder belongs.
    {
        QFile f(path(u"archive"_s));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    printAll();
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_TRUE(m_shell.boxes()[0].text.startsWith(u"台帳の控えを保存できませんでした。"_s))
        << m_shell.boxes()[0].text.toStdString();
    EXPECT_TRUE(m_shell.boxes()[0].text.contains(path(u"archive"_s)));
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Critical);
    EXPECT_TRUE(QFile::exists(path(u"Mox030.pdf"_s)));
}

// A printer that fails after the PDF was written: the failure is reported, and the PDF is kept in
// the archive all the same.
TEST_F(LedgerRecords, AFailingPrinterStillLeavesTheCopy)
{
    qputenv("MOX_PRINTER", "no-such-printer-of-the-ledger-test");
    printAll();
    qunsetenv("MOX_PRINTER");
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_TRUE(m_shell.boxes()[0].text.startsWith(u"印刷できませんでした。"_s));
    EXPECT_TRUE(m_shell.boxes()[0].text.contains(u"no-such-printer-of-the-ledger-test"_s));
    EXPECT_EQ(archived().size(), 2) << archived().join(u' ').toStdString();
}

// Each place where the ledger adds up amounts: the fields of one record, the months total, the
// deductions a year-end charge raises, and the cash paid after it. Each ends the run with the
// calculation's message naming the employee, and leaves neither command file nor PDF.
TEST(LedgerOverflow, EachPlaceEndsTheRunWithTheCalculationsMessage)
{
    struct Case {
        const char* name;
        mox030test::Fields april;
        mox030test::Fields may;
    };
    const qlonglong huge = 900'000'000'000'000;
    const qlonglong big = 100'000'000'000'000;
    const Case cases[] = {
        {"fields of one record", {{"KYURYO", huge}, {"KTYOGK", huge}}, {}},
        {"months total", {{"KYURYO", huge}}, {{"KYURYO", huge}}},
        {"deductions raised by a year-end charge", {{"KOUGOK", huge}, {"NENFUS", -big}}, {}},
        {"cash paid after a year-end charge",
         {{"SSIKYU", -huge}, {"KOUGOK", big}, {"NENFUS", -1}},
         {}},
    };
    mox::setProgramId(u"mox030"_s);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LedgerDb db;
        mox::ScriptedShell shell;
        db.kanri(202612);
        db.jinji(1001, u"山田　太郎"_s, 1);
        db.jinji(1002, u"鈴木　花子"_s, 2);
        db.kyuyo(1001, 1, 202604, 1, {{"KYURYO", 1000}});
        db.kyuyo(1002, 1, 202604, 1, c.april);
        db.kyuyo(1002, 1, 202605, 1, c.may);
        frmMox030 form;
        form.setPrintFolder(db.path());
        form.Form_Load();
        form.prsPF01();
        EXPECT_THROW(form.cmdPFKEY_Click(5), mox::ProgramEnded);
        ASSERT_EQ(shell.boxes().size(), 1u);
        EXPECT_EQ(shell.boxes()[0].text,
                  u"金額が大きすぎて計算できません。\r\n\r\n職員番号 0001002"_s);
        EXPECT_EQ(shell.boxes()[0].icon, mox::MsgIcon::Critical);
        const QStringList left =
            QDir(db.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString& f : left)
            EXPECT_FALSE(f.contains(u"OVL.TMP"_s) || f.contains(u".pdf"_s)) << f.toStdString();
    }
}

} // namespace
