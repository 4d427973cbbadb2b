#include "archivalpdf.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace korprint {

namespace {

QByteArray xmlEscaped(const QString& text)
{
    return text.toHtmlEscaped().replace(u'\'', u"&apos;"_s).toUtf8();
}

// A text string of the dictionary: UTF-16BE with its byte order mark, in hexadecimal.
QByteArray pdfText(const QString& text)
{
    QByteArray hex = "<FEFF";
    for (const QChar c : text)
        hex += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
    return hex + '>';
}

// The time-zone offset of \p t as "+09:00" (XMP) or "+09'00'" (a PDF date).
QByteArray offsetText(const QDateTime& t, bool pdf)
{
    const int seconds = t.offsetFromUtc();
    const int minutes = std::abs(seconds) / 60;
    const QByteArray hh = QByteArray::number(minutes / 60).rightJustified(2, '0');
    const QByteArray mm = QByteArray::number(minutes % 60).rightJustified(2, '0');
    return (seconds < 0 ? "-" : "+") + hh + (pdf ? "'" + mm + "'" : ":" + mm);
}

QByteArray xmpDate(const QDateTime& t)
{
    return t.toString(u"yyyy-MM-ddTHH:mm:ss"_s).toLatin1() + offsetText(t, false);
}

QByteArray pdfDate(const QDateTime& t)
{
    return "(D:" + t.toString(u"yyyyMMddHHmmss"_s).toLatin1() + offsetText(t, true) + ')';
}

QByteArray langAlt(const char* property, const QString& text)
{
    return "      <" + QByteArray(property) + "><rdf:Alt><rdf:li xml:lang=\"x-default\">" +
           xmlEscaped(text) + "</rdf:li></rdf:Alt></" + property + ">\n";
}

// The first match of \p pattern in the last trailer of \p tail, as a number; -1 without one.
qint64 trailerNumber(const QByteArray& trailer, const char* pattern)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QString::fromLatin1(pattern)).match(QString::fromLatin1(trailer));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

} // namespace

HashingDevice::HashingDevice(QIODevice& target) : m_target(target)
{
    open(QIODevice::WriteOnly);
}

QByteArray HashingDevice::sha256Hex() const
{
    return m_hash.result().toHex();
}

qint64 HashingDevice::writeData(const char* data, qint64 len)
{
    for (qint64 done = 0; done < len;) {
        const qint64 n = m_target.write(data + done, len - done);
        if (n <= 0) {
            setErrorString(m_target.errorString());
            return -1;
        }
        done += n;
    }
    m_hash.addData(QByteArrayView(data, len));
    m_written += len;
    m_tail.append(data + std::max<qint64>(0, len - kTail), std::min<qint64>(len, kTail));
    if (m_tail.size() > kTail)
        m_tail.remove(0, m_tail.size() - kTail);
    return len;
}

QString producerName()
{
    return u"korprint (Qt %1)"_s.arg(QString::fromLatin1(qVersion()));
}

QByteArray xmpPacket(const DocumentInfo& info, const QString& creator, const QDateTime& created)
{
    QByteArray dc;
    if (!info.title.isEmpty())
        dc += langAlt("dc:title", info.title);
    if (!info.author.isEmpty())
        dc += "      <dc:creator><rdf:Seq><rdf:li>" + xmlEscaped(info.author) +
              "</rdf:li></rdf:Seq></dc:creator>\n";
    if (!info.subject.isEmpty())
        dc += langAlt("dc:description", info.subject);
    const QByteArray date = xmpDate(created);
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           "  <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "    <rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n" +
           dc +
           "    </rdf:Description>\n"
           "    <rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\""
           " xmp:CreatorTool=\"" +
           xmlEscaped(creator) + "\" xmp:CreateDate=\"" + date + "\" xmp:ModifyDate=\"" + date +
           "\" xmp:MetadataDate=\"" + date +
           "\"/>\n"
           "    <rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\""
           " pdf:Producer=\"" +
           xmlEscaped(producerName()) +
           "\"/>\n"
           "    <rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\""
           " pdfaid:part=\"1\" pdfaid:conformance=\"B\"/>\n"
           "  </rdf:RDF>\n"
           "</x:xmpmeta>\n"
           "<?xpacket end=\"w\"?>";
}

mox::Result<QByteArray> infoUpdate(const QByteArray& tail, qint64 size, const DocumentInfo& info,
                                   const QString& creator, const QDateTime& created)
{
    const qsizetype at = tail.lastIndexOf("trailer");
    const QByteArray trailer = at < 0 ? QByteArray() : tail.mid(at);
    const qint64 entries = trailerNumber(trailer, "/Size\\s+(\\d+)");
    const qint64 infoObject = trailerNumber(trailer, "/Info\\s+(\\d+)\\s+0\\s+R");
    const qint64 root = trailerNumber(trailer, "/Root\\s+(\\d+)\\s+0\\s+R");
    const qint64 previous = trailerNumber(trailer, "startxref\\s+(\\d+)");
    const QRegularExpressionMatch id =
        QRegularExpression(u"/ID\\s*(\\[[^\\]]*\\])"_s).match(QString::fromLatin1(trailer));
    if (entries <= 0 || infoObject <= 0 || root <= 0 || previous <= 0 || !id.hasMatch()) {
        return mox::Status::failure(OutputFailed,
                                    u"PDFの末尾（trailer）に文書情報が見つかりません。"_s);
    }
    QByteArray update = tail.endsWith('\n') ? QByteArray() : QByteArray("\n");
    const qint64 objectOffset = size + update.size();
    update += QByteArray::number(infoObject) + " 0 obj\n<<\n";
    auto entry = [&](const char* key, const QString& value) {
        if (!value.isEmpty())
            update += '/' + QByteArray(key) + ' ' + pdfText(value) + '\n';
    };
    entry("Title", info.title);
    entry("Author", info.author);
    entry("Subject", info.subject);
    entry("Creator", creator);
    entry("Producer", producerName());
    update +=
        "/CreationDate " + pdfDate(created) + "\n/ModDate " + pdfDate(created) + "\n>>\nendobj\n";
    const qint64 xref = size + update.size();
    update += "xref\n" + QByteArray::number(infoObject) + " 1\n" +
              QByteArray::number(objectOffset).rightJustified(10, '0') + " 00000 n\r\n";
    update += "trailer\n<<\n/Size " + QByteArray::number(entries) + "\n/Info " +
              QByteArray::number(infoObject) + " 0 R\n/Root " + QByteArray::number(root) +
              " 0 R\n/Prev " + QByteArray::number(previous) + "\n/ID " + id.captured(1).toLatin1() +
              "\n>>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return update;
}

} // namespace korprint
