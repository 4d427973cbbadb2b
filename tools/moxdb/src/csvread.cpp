#include "moxdb/csvread.h"

#include <QDir>

#include <cstring>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// A UTF-8 check that takes the bytes in pieces: the state carried from one piece to the next is
// what the sequence in progress still needs.
class Utf8Check {
public:
    // False as soon as the bytes cannot be UTF-8.
    bool feed(QByteArrayView bytes)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* end = p + bytes.size();
        while (p < end) {
            if (m_need == 0) {
                // Eight ASCII bytes at a time: most of a CSV file of figures is ASCII.
                while (end - p >= 8) {
                    std::uint64_t word;
                    std::memcpy(&word, p, 8);
                    if (word & 0x8080808080808080ULL)
                        break;
                    p += 8;
                }
                if (p == end)
                    break;
                const unsigned char c = *p++;
                if (c < 0x80)
                    continue;
                if (c >= 0xC2 && c <= 0xDF) {
                    m_need = 1;
                    m_low = 0x80, m_high = 0xBF;
                } else if (c >= 0xE0 && c <= 0xEF) {
                    m_need = 2;
                    // No overlong forms (E0 80..9F) and no surrogates (ED A0..BF).
                    m_low = c == 0xE0 ? 0xA0 : 0x80;
                    m_high = c == 0xED ? 0x9F : 0xBF;
                } else if (c >= 0xF0 && c <= 0xF4) {
                    m_need = 3;
                    // No overlong forms (F0 80..8F), nothing beyond U+10FFFF (F4 90..).
                    m_low = c == 0xF0 ? 0x90 : 0x80;
                    m_high = c == 0xF4 ? 0x8F : 0xBF;
                } else {
                    return false;
                }
            } else {
                const unsigned char c = *p++;
                if (c < m_low || c > m_high)
                    return false;
                m_low = 0x80, m_high = 0xBF;
                --m_need;
            }
        }
        return true;
    }

private:
    int m_need = 0; // continuation bytes still to come
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
};

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

} // namespace

bool isUtf8Prefix(QByteArrayView bytes)
{
    Utf8Check check;
    return check.feed(bytes);
}

CsvReader::CsvReader(QString path, qsizetype chunkBytes)
    : m_path(std::move(path)), m_chunkBytes(chunkBytes < 16 ? 16 : chunkBytes)
{
}

mox::Status CsvReader::open()
{
    const QString shown = QDir::toNativeSeparators(m_path);
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_status = mox::Status::failure(
            -1, u"ファイル %1 を読めません: %2"_s.arg(shown, m_file.errorString()));
        m_done = true;
        return m_status;
    }
    m_fileSize = m_file.size();
    const QByteArray head = m_file.peek(4);
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
        m_status = mox::Status::failure(
            -1, u"ファイル %1 は UTF-16 で書かれています。CP932 か UTF-8 で保存し直してください。"_s
                    .arg(shown));
        m_done = true;
        return m_status;
    }
    // One pass over the bytes decides between UTF-8 and CP932, as for the configuration files.
    if (head.startsWith(kUtf8Bom)) {
        m_encoding = CsvFileEncoding::Utf8Bom;
    } else {
        Utf8Check check;
        bool utf8 = true;
        QByteArray chunk;
        while (utf8 && !m_file.atEnd()) {
            chunk = m_file.read(std::max<qsizetype>(m_chunkBytes, 1 << 16));
            if (chunk.isEmpty())
                break;
            utf8 = check.feed(chunk);
        }
        m_encoding = utf8 ? CsvFileEncoding::Utf8 : CsvFileEncoding::Cp932;
        if (!m_file.seek(0)) {
            m_status = mox::Status::failure(
                -1, u"ファイル %1 を読めません: %2"_s.arg(shown, m_file.errorString()));
            m_done = true;
            return m_status;
        }
    }
    if (m_encoding == CsvFileEncoding::Cp932) {
        m_decoder.emplace("cp932");
        if (!m_decoder->isValid()) {
            m_status = mox::Status::failure(
                -1,
                u"ファイル %1 は UTF-8 ではありませんが、CP932 を読む変換器がありません。"_s.arg(
                    shown));
            m_done = true;
            return m_status;
        }
    } else {
        m_decoder.emplace(QStringConverter::Utf8);
        if (m_encoding == CsvFileEncoding::Utf8Bom)
            (void)m_file.read(3);
        m_bytesRead = m_encoding == CsvFileEncoding::Utf8Bom ? 3 : 0;
    }
    return mox::Status::success();
}

bool CsvReader::fail(qint64 line, const QString& what)
{
    m_status = mox::Status::failure(
        -1,
        u"ファイル %1 の %2 行目: %3"_s.arg(QDir::toNativeSeparators(m_path)).arg(line).arg(what));
    m_done = true;
    return false;
}

// Moves the unread text to the front of the buffer and decodes the next piece of the file
// behind it. False on a read or decoding error (status set).
bool CsvReader::refill()
{
    if (m_pos > 0) {
        m_text.remove(0, m_pos);
        m_pos = 0;
    }
    const QByteArray bytes = m_file.read(m_chunkBytes);
    if (bytes.isEmpty()) {
        if (m_file.error() != QFileDevice::NoError)
            return fail(m_line, u"読み込めません: %1"_s.arg(m_file.errorString()));
        m_eof = true;
        return endOfFile();
    }
    m_bytesRead += bytes.size();
    const qsizetype before = m_text.size();
    m_text += m_decoder->decode(bytes);
    const bool bad = m_decoder->hasError();
    const qsizetype nul = m_text.indexOf(QChar(0), before);
    if (bad || nul >= 0) {
        // The line of the first character that could not be read (the decoders put U+FFFD or,
        // for CP932, the control character SUB in its place), or of the NUL.
        qsizetype at = nul >= 0 ? nul : m_text.size();
        if (bad) {
            for (qsizetype i = before; i < m_text.size(); ++i) {
                if (m_text[i] == QChar(0xFFFD) || m_text[i] == QChar(0x1A)) {
                    at = i;
                    break;
                }
            }
        }
        const qint64 line = m_line + QStringView(m_text).mid(m_pos, at - m_pos).count(u'\n');
        if (nul >= 0 && !bad)
            return fail(line,
                        u"NUL 文字 (0x00) があります。CSV のテキストファイルではありません。"_s);
        return fail(line, m_encoding == CsvFileEncoding::Cp932
                              ? u"UTF-8 でも CP932 (シフトJIS) でも読めない文字があります。"_s
                              : u"UTF-8 として読めない文字があります。"_s);
    }
    if (m_file.atEnd()) {
        m_eof = true;
        return endOfFile();
    }
    return true;
}

// At the end of the file: a character cut off by it is an error. The decoders keep the bytes of
// an unfinished character for the next piece, so a line feed is given to them: behind a whole
// character it comes back as it is, behind a cut one as a character that could not be read.
bool CsvReader::endOfFile()
{
    const QString probe = m_decoder->decode(QByteArrayView("\n"));
    if (probe == u"\n"_s && !m_decoder->hasError())
        return true;
    return fail(m_line + QStringView(m_text).mid(m_pos).count(u'\n'),
                u"ファイルの最後の文字が途中で切れています (ファイルが途中で切れていませんか)。"_s);
}

// Scans the quoted field that starts at \p i (on its quote): Record when its span is added and
// \p i and \p line moved past its closing quote; NeedMore or Error as scanRecord.
CsvReader::Scan CsvReader::scanQuoted(qsizetype& i, qint64& line)
{
    const QChar* t = m_text.constData();
    const qsizetype n = m_text.size();
    const qint64 fieldLine = line;
    qsizetype start = ++i;
    qsizetype unquotedFrom = -1; // where the field starts in m_unquoted, once copied
    for (;;) {
        qsizetype q = i;
        while (q < n && t[q] != u'"') {
            if (t[q] == u'\n')
                ++line;
            ++q;
        }
        if (q == n) {
            if (!m_eof)
                return Scan::NeedMore;
            fail(fieldLine, u"引用符 \" で始まった項目が閉じられないままファイルが"
                            u"終わっています (ファイルが途中で切れていませんか)。"_s);
            return Scan::Error;
        }
        if (q + 1 == n && !m_eof)
            return Scan::NeedMore; // a doubled quote or the closing one
        const bool doubled = q + 1 < n && t[q + 1] == u'"';
        if (doubled || unquotedFrom >= 0) {
            if (unquotedFrom < 0)
                unquotedFrom = m_unquoted.size();
            m_unquoted.append(QStringView(t + i, q - i));
            if (doubled)
                m_unquoted.append(u'"');
        }
        if (doubled) {
            i = q + 2;
            continue;
        }
        if (unquotedFrom >= 0)
            m_spans.insert(m_spans.end(), {unquotedFrom, m_unquoted.size() - unquotedFrom, 1, 0});
        else
            m_spans.insert(m_spans.end(), {start, q - start, 0, 0});
        i = q + 1;
        break;
    }
    if (i < n && t[i] != u',' && t[i] != u'\n' && t[i] != u'\r') {
        fail(line, u"引用符 \" で閉じた項目の後に「%1」があります (項目の中の \" は "
                   u"\"\" と二つ重ねて書きます)。"_s.arg(t[i]));
        return Scan::Error;
    }
    return Scan::Record;
}

// Scans one record from m_pos. Record: the spans are set and m_pos, m_line moved past it.
// NeedMore: the text ends inside the record before the end of the file. Error: status set.
CsvReader::Scan CsvReader::scanRecord()
{
    const QChar* t = m_text.constData();
    const qsizetype n = m_text.size();
    qsizetype i = m_pos;
    qint64 line = m_line;
    m_spans.clear();
    m_unquoted.resize(0);
    for (;;) {
        // One field from i.
        if (i < n && t[i] == u'"') {
            if (const Scan scanned = scanQuoted(i, line); scanned != Scan::Record)
                return scanned;
        } else {
            const qsizetype start = i;
            while (i < n && t[i] != u',' && t[i] != u'\n' && t[i] != u'\r' && t[i] != u'"')
                ++i;
            if (i < n && t[i] == u'"') {
                fail(line, u"引用符で囲まれていない項目の中に引用符 \" があります。"_s);
                return Scan::Error;
            }
            if (i == n && !m_eof)
                return Scan::NeedMore;
            m_spans.insert(m_spans.end(), {start, i - start, 0, i == start ? 1 : 0});
        }
        // The delimiter after the field.
        if (i == n) {
            if (!m_eof)
                return Scan::NeedMore;
            break; // the last record without a line end
        }
        if (t[i] == u',') {
            ++i;
            continue;
        }
        if (t[i] == u'\r') {
            if (i + 1 == n && !m_eof)
                return Scan::NeedMore;
            if (i + 1 == n || t[i + 1] != u'\n') {
                fail(line, u"行末の CR の後に LF がありません。"_s);
                return Scan::Error;
            }
            ++i;
        }
        ++i; // the LF
        ++line;
        break;
    }
    m_recordLine = m_line;
    m_pos = i;
    m_line = line;
    return Scan::Record;
}

bool CsvReader::next()
{
    if (m_done)
        return false;
    if (!m_file.isOpen() && !open().ok())
        return false;
    for (;;) {
        if (m_pos == m_text.size() && m_eof) {
            m_done = true;
            return false;
        }
        const Scan s = m_pos == m_text.size() ? Scan::NeedMore : scanRecord();
        if (s == Scan::Error)
            return false;
        if (s == Scan::Record)
            break;
        if (!refill())
            return false;
    }
    m_fields.resize(m_spans.size() / 4);
    for (std::size_t f = 0; f < m_fields.size(); ++f) {
        const qsizetype* s = &m_spans[f * 4];
        const QString& source = s[2] == 0 ? m_text : m_unquoted;
        m_fields[f].text = QStringView(source).mid(s[0], s[1]);
        m_fields[f].null = s[3] != 0;
    }
    return true;
}

} // namespace moxdb
