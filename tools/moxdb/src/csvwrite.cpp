#include "moxdb/csvwrite.h"

#include <QIODevice>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

constexpr qsizetype kFlushAt = 256 * 1024;
const char* const kCp932 = "windows-31j";

QStringEncoder encoderFor(CsvEncoding encoding)
{
    if (encoding == CsvEncoding::Utf8)
        return QStringEncoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    return QStringEncoder(kCp932, QStringConverter::Flag::Stateless);
}

QStringDecoder decoderFor(CsvEncoding encoding)
{
    if (encoding == CsvEncoding::Utf8)
        return QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    return QStringDecoder(kCp932, QStringConverter::Flag::Stateless);
}

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// Whether \p encoding writes \p text so that it reads back the same. A converter keeps an error
// once it has one, so each question gets converters of its own.
bool holdsExactly(CsvEncoding encoding, QStringView text)
{
    QStringEncoder encoder = encoderFor(encoding);
    QStringDecoder decoder = decoderFor(encoding);
    const QByteArray bytes = encoder.encode(text);
    if (!encoder.isValid() || encoder.hasError())
        return false;
    const QString back = decoder.decode(bytes);
    return !decoder.hasError() && back == text;
}

} // namespace

std::optional<CsvEncoding> csvEncodingNamed(QStringView name)
{
    if (name.compare(u"cp932", Qt::CaseInsensitive) == 0)
        return CsvEncoding::Cp932;
    if (name.compare(u"utf-8", Qt::CaseInsensitive) == 0 ||
        name.compare(u"utf8", Qt::CaseInsensitive) == 0)
        return CsvEncoding::Utf8;
    return std::nullopt;
}

QString csvAmount(Currency value)
{
    return value.toPlainString();
}

void appendCsvText(QString& line, QStringView text)
{
    bool quote = text.isEmpty();
    for (QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        line += text;
        return;
    }
    line += u'"';
    for (QChar c : text) {
        if (c == u'"')
            line += u'"';
        line += c;
    }
    line += u'"';
}

CsvWriter::CsvWriter(QIODevice* device, CsvEncoding encoding)
    : m_device(device), m_encoding(encoding), m_encoder(encoderFor(encoding)),
      m_decoder(decoderFor(encoding))
{
    if (!m_encoder.isValid())
        m_error = u"この環境には CP932 の変換がありません。"_s;
    if (encoding == CsvEncoding::Utf8)
        m_pending = QByteArray("\xEF\xBB\xBF");
}

CsvWriter::~CsvWriter() = default;

void CsvWriter::separate()
{
    if (!m_starts.empty())
        m_line += u',';
    m_starts.push_back(m_line.size());
}

void CsvWriter::addNull()
{
    separate();
    m_isText.push_back(false);
}

void CsvWriter::addText(QStringView text)
{
    separate();
    m_isText.push_back(true);
    appendCsvText(m_line, text);
}

void CsvWriter::addNumber(QStringView plain)
{
    separate();
    m_isText.push_back(false);
    m_line += plain;
}

std::optional<CsvRefusal> CsvWriter::findRefusal() const
{
    for (std::size_t i = 0; i < m_starts.size(); ++i) {
        if (!m_isText[i])
            continue;
        const qsizetype end = i + 1 < m_starts.size() ? m_starts[i + 1] - 1 : m_line.size();
        const QStringView field = QStringView(m_line).mid(m_starts[i], end - m_starts[i]);
        for (qsizetype at = 0; at < field.size();) {
            const qsizetype width = field[at].isHighSurrogate() && at + 1 < field.size() &&
                                            field[at + 1].isLowSurrogate()
                                        ? 2
                                        : 1;
            const QStringView ch = field.mid(at, width);
            if (ch[0].unicode() >= 0x80 && !holdsExactly(m_encoding, ch))
                return CsvRefusal{int(i), ch.toString()};
            at += width;
        }
        // Each character on its own is held, but not the text as a whole (a converter that
        // joins characters): the field is refused as it stands.
        if (!holdsExactly(m_encoding, field))
            return CsvRefusal{int(i), QString()};
    }
    return CsvRefusal{-1, QString()};
}

std::optional<CsvRefusal> CsvWriter::endRecord()
{
    std::optional<CsvRefusal> refusal;
    if (isAscii(m_line)) {
        m_pending += m_line.toLatin1();
    } else {
        const QByteArray bytes = m_encoder.encode(m_line);
        bool exact = !m_encoder.hasError();
        if (exact) {
            const QString back = m_decoder.decode(bytes);
            exact = !m_decoder.hasError() && back == m_line;
        }
        if (exact) {
            m_pending += bytes;
        } else {
            refusal = findRefusal();
            // The converters keep their error: the next record starts with fresh ones.
            m_encoder = encoderFor(m_encoding);
            m_decoder = decoderFor(m_encoding);
        }
    }
    if (!refusal)
        m_pending += "\r\n";
    m_line.clear();
    m_starts.clear();
    m_isText.clear();
    if (m_pending.size() >= kFlushAt)
        (void)flush();
    return refusal;
}

bool CsvWriter::flush()
{
    if (failed())
        return false;
    if (m_pending.isEmpty())
        return true;
    const qint64 written = m_device->write(m_pending);
    if (written != m_pending.size()) {
        m_error = m_device->errorString();
        if (m_error.isEmpty() || m_error == u"Unknown error"_s)
            m_error = u"書き込めませんでした（ディスクの空きやファイルの大きさの制限）。"_s;
        return false;
    }
    m_pending.clear();
    return true;
}

} // namespace moxdb
