#include "korprint/korprint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

QByteArray asCommandFile(const QString &text) {
    QString crlf = text;
    crlf.replace(u"\n"_s, u"\r\n"_s);
    QStringEncoder enc("cp932");
    return enc.encode(crlf);
}

QString run(const QString &program, const QStringList &args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class PrtFile : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_prt->setPrintFIlePath(m_dir.path());
    }
    void writeCommands(const QByteArray &bytes) {
        QFile f(m_dir.filePath(u"OVL.TMP"_s));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    short print() { return m_prt->PrtFile(u"Mox030"_s, u"個人別給与累計表"_s, u"Mox030p.ovl"_s); }
    QString pdf() const { return m_dir.filePath(u"Mox030.pdf"_s); }
    // Every file of the folder except the command file: what a run left behind.
    QStringList leftovers() const {
        QStringList files =
            QDir(m_dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        files.removeAll(u"OVL.TMP"_s);
        return files;
    }
    void plantOldPdf() {
        QFile f(pdf());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    QByteArray pdfBytes() const {
        QFile f(pdf());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<korprint::PrintComponent> m_prt = korprint::create();
};

TEST_F(PrtFile, RendersTwoB4LandscapePagesWithTheForm) {
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
    for (const QString &want :
         {u"個人別給与累計表"_s, u"山田"_s, u"太郎"_s, u"0000123"_s, u"312,400"_s, u"287,650"_s,
          u"12,000"_s, u"北町小学校"_s, u"差引支給額"_s, u"12月賞与"_s})
        EXPECT_TRUE(page1.contains(want)) << want.toStdString();
    const QString page2 = run(u"pdftotext"_s, {u"-f"_s, u"2"_s, u"-l"_s, u"2"_s, pdf(), u"-"_s});
    EXPECT_TRUE(page2.contains(u"鈴木"_s));
    EXPECT_TRUE(page2.contains(u"4,567,890"_s));
    EXPECT_TRUE(page2.contains(u"個人別給与累計表"_s)); // the form is on every page
    EXPECT_FALSE(page2.contains(u"山田"_s));
}

TEST_F(PrtFile, ReplacesAnOlderPdfOnlyWithACompleteOne) {
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

TEST_F(PrtFile, ReportsMalformedAndMissingInputWithoutWriting) {
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

    // An overlay in the print folder wins over the shipped one, and may not hold page commands.
    QFile ovl(m_dir.filePath(u"Mox030p.ovl"_s));
    ASSERT_TRUE(ovl.open(QIODevice::WriteOnly));
    ovl.write("RM form\r\nLN 00100010010000101\r\nPE \r\n");
    ovl.close();
    EXPECT_EQ(print(), korprint::OverlayMalformed);
    EXPECT_TRUE(m_prt->lastError().contains(u"3 行目"_s));
    ovl.remove();

    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files).contains(u"OVL.TMP"_s));
    EXPECT_FALSE(QFileInfo::exists(pdf()));

    EXPECT_EQ(m_prt->PrtFile(u"../Mox030"_s, u"t"_s, u"Mox030p.ovl"_s), korprint::InvalidArgument);
    m_prt->setPrintFIlePath(QString());
    EXPECT_EQ(print(), korprint::InvalidArgument);
}

TEST_F(PrtFile, FailsCleanlyWhenThePdfCannotBeWritten) {
    writeCommands(asCommandFile(kTwoPages));
    // A folder in the way of the PDF: the finished file cannot take its name.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(u"Mox030.pdf"_s));
    EXPECT_EQ(print(), korprint::OutputFailed);
    EXPECT_TRUE(m_prt->lastError().contains(u"Mox030.pdf"_s));
    EXPECT_EQ(leftovers(), QStringList{u"Mox030.pdf"_s});
    EXPECT_TRUE(QFileInfo(pdf()).isDir());
}

TEST_F(PrtFile, FailsCleanlyInAReadOnlyFolder) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    writeCommands(asCommandFile(kTwoPages));
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const short rc = print();
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(rc, korprint::OutputFailed);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(PrtFile, ReportsAnUnknownPrinterAfterWritingThePdf) {
    writeCommands(asCommandFile(kTwoPages));
    qputenv("MOX_PRINTER", "mox-no-such-printer");
    const short rc = print();
    qunsetenv("MOX_PRINTER");
    EXPECT_EQ(rc, korprint::PrinterFailed);
    EXPECT_TRUE(m_prt->lastError().contains(u"mox-no-such-printer"_s));
    EXPECT_TRUE(QFileInfo(pdf()).isFile());
}

} // namespace
