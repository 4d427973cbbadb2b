// The CSV writer of moxdb export and moxdb ledger: quoting, NULL and the empty text, amounts,
// the two encodings and the refusal of a character the encoding cannot hold.
#include "moxdb/csvwrite.h"

#include <QBuffer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

QByteArray cp932(const QString& s)
{
    QStringEncoder e("windows-31j");
    return e.encode(s);
}

} // namespace

TEST(CsvText, QuotedOnlyWhenItMustBe)
{
    struct Case {
        const char* what;
        QString text;
        QString written;
    };
    const Case cases[] = {
        {"plain", u"山田 太郎"_s, u"山田 太郎"_s},
        {"empty text", u""_s, u"\"\""_s},
        {"comma", u"a,b"_s, u"\"a,b\""_s},
        {"quote doubled", u"a\"b"_s, u"\"a\"\"b\""_s},
        {"line feed", u"a\nb"_s, u"\"a\nb\""_s},
        {"carriage return", u"a\rb"_s, u"\"a\rb\""_s},
        {"blanks kept unquoted", u" a "_s, u" a "_s},
        {"only a quote", u"\""_s, u"\"\"\"\""_s},
    };
    for (const Case& c : cases) {
        QString line;
        appendCsvText(line, c.text);
        EXPECT_EQ(line, c.written) << c.what;
    }
}

TEST(CsvAmount, FourDecimalsOnlyAsFarAsTheyAreNotZero)
{
    EXPECT_EQ(csvAmount(Currency::fromYen(12345)), u"12345"_s);
    EXPECT_EQ(csvAmount(*Currency::parse(u"12345.5")), u"12345.5"_s);
    EXPECT_EQ(csvAmount(*Currency::parse(u"-0.0125")), u"-0.0125"_s);
    EXPECT_EQ(csvAmount(Currency::fromYen(-1234567)), u"-1234567"_s);
    EXPECT_EQ(csvAmount(Currency()), u"0"_s);
}

TEST(CsvEncodingName, TheTwoNamesAndNothingElse)
{
    EXPECT_EQ(csvEncodingNamed(u"cp932"), CsvEncoding::Cp932);
    EXPECT_EQ(csvEncodingNamed(u"CP932"), CsvEncoding::Cp932);
    EXPECT_EQ(csvEncodingNamed(u"utf-8"), CsvEncoding::Utf8);
    EXPECT_EQ(csvEncodingNamed(u"UTF8"), CsvEncoding::Utf8);
    EXPECT_FALSE(csvEncodingNamed(u"sjis"));
    EXPECT_FALSE(csvEncodingNamed(u""));
}

TEST(CsvWriter, RecordsInCp932WithCrLfAfterEveryLine)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CsvWriter csv(&buffer, CsvEncoding::Cp932);
    csv.addText(u"SYOKCD"_s);
    csv.addText(u"SIMKNJ"_s);
    csv.addText(u"SYOZOK"_s);
    csv.addText(u"KYURYO"_s);
    EXPECT_FALSE(csv.endRecord());
    csv.addNumber(u"1001");
    csv.addText(u"高橋, \"髙\"\n二行目"_s);
    csv.addNull();
    csv.addAmount(*Currency::parse(u"300000.25"));
    EXPECT_FALSE(csv.endRecord());
    csv.addNumber(u"1002");
    csv.addText(u""_s);
    csv.addNull();
    csv.addAmount(Currency());
    EXPECT_FALSE(csv.endRecord());
    ASSERT_TRUE(csv.flush());
    EXPECT_EQ(buffer.data(), "SYOKCD,SIMKNJ,SYOZOK,KYURYO\r\n" +
                                 cp932(u"1001,\"高橋, \"\"髙\"\"\n二行目\",,300000.25\r\n"_s) +
                                 "1002,\"\",,0\r\n");
}

TEST(CsvWriter, Utf8StartsWithAByteOrderMark)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CsvWriter csv(&buffer, CsvEncoding::Utf8);
    csv.addText(u"𠮷野家"_s);
    csv.addNumber(u"-5");
    EXPECT_FALSE(csv.endRecord());
    ASSERT_TRUE(csv.flush());
    EXPECT_EQ(buffer.data(), QByteArray("\xEF\xBB\xBF") + u"𠮷野家,-5\r\n"_s.toUtf8());
}

TEST(CsvWriter, RefusesWhatCp932CannotHoldAndGoesOnWithTheNextRecord)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CsvWriter csv(&buffer, CsvEncoding::Cp932);
    struct Case {
        const char* what;
        QString text;
        QString character;
    };
    const Case cases[] = {
        {"surrogate pair", u"𠮷田"_s, u"𠮷"_s},
        {"hangul", u"김"_s, u"김"_s},
        {"lone surrogate", QString(QChar(0xD842)), QString(QChar(0xD842))},
    };
    for (const Case& c : cases) {
        csv.addNumber(u"1");
        csv.addText(u"髙橋"_s);
        csv.addNull();
        csv.addText(c.text);
        const std::optional<CsvRefusal> r = csv.endRecord();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(r->field, 3) << c.what;
        EXPECT_EQ(r->character, c.character) << c.what;
    }
    csv.addText(u"髙橋"_s);
    EXPECT_FALSE(csv.endRecord());
    ASSERT_TRUE(csv.flush());
    EXPECT_EQ(buffer.data(), cp932(u"髙橋\r\n"_s)); // nothing of the refused records
}

TEST(CsvWriter, ADeviceThatRefusesIsReported)
{
    QBuffer buffer; // never opened: every write fails
    CsvWriter csv(&buffer, CsvEncoding::Cp932);
    csv.addNumber(u"1");
    EXPECT_FALSE(csv.endRecord());
    EXPECT_FALSE(csv.flush());
    EXPECT_TRUE(csv.failed());
    EXPECT_FALSE(csv.errorString().isEmpty());
}
