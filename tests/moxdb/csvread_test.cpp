#include "moxdb/csvread.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// One record as read: its line and its fields, NULL written as "<NULL>".
struct Read {
    qint64 line;
    QStringList fields;
    bool operator==(const Read&) const = default;
};

void PrintTo(const Read& r, std::ostream* os)
{
    *os << r.line << ": [" << r.fields.join(u'|').toStdString() << "]";
}

class CsvFile {
public:
    explicit CsvFile(const QByteArray& bytes) : m_path(m_dir.filePath(u"t.csv"_s))
    {
        QFile f(m_path);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    const QString& path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

struct Outcome {
    std::vector<Read> records;
    mox::Status status;
    moxdb::CsvFileEncoding encoding = moxdb::CsvFileEncoding::Utf8;
};

Outcome readAll(const QByteArray& bytes, qsizetype chunk = 1 << 20)
{
    CsvFile file(bytes);
    moxdb::CsvReader csv(file.path(), chunk);
    Outcome out;
    if (mox::Status s = csv.open(); !s.ok()) {
        out.status = s;
        return out;
    }
    out.encoding = csv.encoding();
    while (csv.next()) {
        Read r{csv.line(), {}};
        for (const moxdb::CsvField& f : csv.fields())
            r.fields << (f.null ? u"<NULL>"_s : f.text.toString());
        out.records.push_back(r);
    }
    out.status = csv.status();
    return out;
}

QByteArray cp932(const QString& text)
{
    QStringEncoder enc("cp932");
    return enc.encode(text);
}

TEST(CsvRead, QuotedFieldsHoldCommasQuotesAndLineEnds)
{
    const QByteArray bytes = "A,B,C\r\n"
                             "1,\"x,y\",\"say \"\"hi\"\"\"\r\n"
                             "2,\"two\r\nlines\",\"a\nb\"\r\n"
                             "3,,\"\"\r\n"
                             "4,plain,\"\"\"\"";
    const Outcome o = readAll(bytes);
    ASSERT_TRUE(o.status.ok()) << o.status.message.toStdString();
    const std::vector<Read> want = {
        {1, {u"A"_s, u"B"_s, u"C"_s}},
        {2, {u"1"_s, u"x,y"_s, u"say \"hi\""_s}},
        {3, {u"2"_s, u"two\r\nlines"_s, u"a\nb"_s}},
        {6, {u"3"_s, u"<NULL>"_s, u""_s}}, // the record of line 3 spans two more lines
        {7, {u"4"_s, u"plain"_s, u"\""_s}},
    };
    EXPECT_EQ(o.records, want);
}

TEST(CsvRead, LineEndsLfOrCrlfAndNoneAfterTheLastRecord)
{
    EXPECT_EQ(readAll("a,b\nc,d\n").records,
              (std::vector<Read>{{1, {u"a"_s, u"b"_s}}, {2, {u"c"_s, u"d"_s}}}));
    EXPECT_EQ(readAll("a,b\r\nc,d").records,
              (std::vector<Read>{{1, {u"a"_s, u"b"_s}}, {2, {u"c"_s, u"d"_s}}}));
    // A trailing comma is one more NULL field, also on the last line without a line end.
    EXPECT_EQ(readAll("a,\r\n,").records,
              (std::vector<Read>{{1, {u"a"_s, u"<NULL>"_s}}, {2, {u"<NULL>"_s, u"<NULL>"_s}}}));
    EXPECT_TRUE(readAll("").records.empty());
}

// Every chunk size cuts some record, quoted field, doubled quote, CRLF and (CP932 and UTF-8)
// double-byte character in two; the records must not change.
TEST(CsvRead, ChunkBoundariesChangeNothing)
{
    const QString text = u"職員,名前,備考\r\n1,\"山田, 太郎\",\"「引用」\"\"と\"\"\r\n改行\"\r\n"
                         u"2,ｱｲｳ,表計算\r\n3,,\"\"\r\n"_s;
    for (const QByteArray& bytes : {cp932(text), text.toUtf8(), "\xEF\xBB\xBF" + text.toUtf8()}) {
        const Outcome whole = readAll(bytes);
        ASSERT_TRUE(whole.status.ok()) << whole.status.message.toStdString();
        ASSERT_EQ(whole.records.size(), 4u);
        EXPECT_EQ(whole.records[1].fields[2], u"「引用」\"と\"\r\n改行"_s);
        EXPECT_EQ(whole.records[2].line, 4);
        for (qsizetype chunk = 16; chunk <= 40; ++chunk) {
            const Outcome cut = readAll(bytes, chunk);
            EXPECT_TRUE(cut.status.ok()) << chunk << ": " << cut.status.message.toStdString();
            EXPECT_EQ(cut.records, whole.records) << "chunk " << chunk;
        }
    }
}

TEST(CsvRead, EncodingFoundAsForTheConfigurationFiles)
{
    const QString text = u"名前\r\n給与太郎\r\n"_s;
    const Outcome bom = readAll("\xEF\xBB\xBF" + text.toUtf8());
    EXPECT_EQ(bom.encoding, moxdb::CsvFileEncoding::Utf8Bom);
    EXPECT_EQ(bom.records.at(0).fields.at(0), u"名前"_s); // the mark is no part of the header
    const Outcome utf8 = readAll(text.toUtf8());
    EXPECT_EQ(utf8.encoding, moxdb::CsvFileEncoding::Utf8);
    EXPECT_EQ(utf8.records.at(1).fields.at(0), u"給与太郎"_s);
    const Outcome sjis = readAll(cp932(text));
    EXPECT_EQ(sjis.encoding, moxdb::CsvFileEncoding::Cp932);
    EXPECT_EQ(sjis.records.at(1).fields.at(0), u"給与太郎"_s);
    // Valid UTF-8 for the first megabyte, then a CP932 byte: the whole file is CP932.
    const QByteArray late = QByteArray(1 << 20, 'a') + "\r\n" + cp932(u"漢字"_s);
    const Outcome mixed = readAll(late, 4096);
    EXPECT_EQ(mixed.encoding, moxdb::CsvFileEncoding::Cp932);
    EXPECT_EQ(mixed.records.at(1).fields.at(0), u"漢字"_s);
}

struct BadCase {
    const char* name;
    QByteArray bytes;
    const char16_t* message; // part of the status message
};

class CsvReadRefuses : public testing::TestWithParam<BadCase> {};

TEST_P(CsvReadRefuses, NamingTheLine)
{
    const BadCase& c = GetParam();
    const Outcome o = readAll(c.bytes);
    EXPECT_FALSE(o.status.ok());
    EXPECT_TRUE(o.status.message.contains(QString::fromUtf16(c.message)))
        << o.status.message.toStdString();
    EXPECT_TRUE(o.status.message.contains(u"t.csv"_s)) << o.status.message.toStdString();
}

const BadCase kBadCases[] = {
    {"StrayQuoteInAnUnquotedField", "a,b\r\n1,x\"y\r\n", u"2 行目: 引用符で囲まれていない"},
    {"TextAfterTheClosingQuote", "a,b\r\n1,\"x\"y\r\n",
     u"2 行目: 引用符 \" で閉じた項目の後に「y」"},
    {"QuoteLeftOpenAtTheEnd", "a,b\r\n1,2\r\n3,\"cut\r\noff", u"3 行目: 引用符 \" で始まった"},
    {"CrWithoutLf", "a,b\r\n1,2\r3,4\r\n", u"2 行目: 行末の CR"},
    {"StrayQuoteAfterAFieldSpanningLines", "a\r\n\"x\r\ny\"\r\nb\"\r\n", u"4 行目"},
    {"Utf16",
     QByteArray("\xFF\xFE"
                "a\0,\0b\0",
                8),
     u"UTF-16"},
    {"NulByte", QByteArray("a,b\r\n1,\0\r\n", 10), u"2 行目: NUL"},
    // 0x82 0x20: a CP932 lead byte followed by no trail byte; 0xFD is no CP932 byte at all.
    {"NeitherUtf8NorCp932", "a,b\r\n1,2\r\n3,\x82 \r\n", u"3 行目: UTF-8 でも CP932"},
    {"NoCp932Byte", "a\r\n\xFD\r\n", u"2 行目"},
    // UTF-8 with its mark, cut inside the last character.
    {"Utf8CutInACharacter",
     "\xEF\xBB\xBF"
     "a\r\n\xE6\xBC",
     u"2 行目: ファイルの最後の文字"},
    {"Utf8WithItsMarkButABadByte",
     "\xEF\xBB\xBF"
     "a\r\nb\r\n\xC0\xAF\r\n",
     u"3 行目: UTF-8"},
};

INSTANTIATE_TEST_SUITE_P(All, CsvReadRefuses, testing::ValuesIn(kBadCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CsvReadUtf8Check, RefusesWhatIsNotUtf8AndAcceptsACutEnd)
{
    EXPECT_TRUE(moxdb::isUtf8Prefix("plain ascii"));
    EXPECT_TRUE(moxdb::isUtf8Prefix("\xE6\xBC\xA2\xF0\x9F\x98\x80")); // 漢, an emoji
    EXPECT_TRUE(moxdb::isUtf8Prefix("ab\xE6\xBC"));                   // cut by the end
    EXPECT_FALSE(moxdb::isUtf8Prefix("\xC0\xAF"));                    // overlong "/"
    EXPECT_FALSE(moxdb::isUtf8Prefix("\xE0\x80\xAF"));                // overlong, three bytes
    EXPECT_FALSE(moxdb::isUtf8Prefix("\xED\xA0\x80"));                // a surrogate
    EXPECT_FALSE(moxdb::isUtf8Prefix("\xF4\x90\x80\x80"));            // beyond U+10FFFF
    EXPECT_FALSE(moxdb::isUtf8Prefix("\x82\xA0"));                    // CP932 あ
    EXPECT_FALSE(moxdb::isUtf8Prefix("abcdefgh\xE6"
                                     "abc")); // a lead byte, no trail
}

} // namespace
