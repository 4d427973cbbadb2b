#pragma once

// The parts of an archival PDF that QPdfWriter does not write itself.
//
// QPdfWriter makes PDF/A-1b (fonts embedded, an sRGB output intent, an XMP packet) and takes an
// XMP packet of our own, but its document information dictionary holds only a title, a creator,
// the producer and the creation date. PDF/A wants the dictionary and the XMP packet to say the
// same, so the component hands QPdfWriter a packet with every property (title, author, subject,
// creator tool, producer, dates, the PDF/A identification) and appends to the finished file an
// incremental update (ISO 32000 7.5.6) that replaces the dictionary with one holding the same
// values: a new object, a cross-reference section for it and a trailer that points back to the
// original one. Everything written goes through a HashingDevice, which counts the bytes (the
// update's offsets), keeps the last few kilobytes (the original trailer) and a SHA-256 of the
// whole file, so that nothing has to be read back.

#include "korprint/korprint.h"

#include <base/status.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QIODevice>
#include <QString>

namespace korprint {

/// Passes every byte written to \p target, counting them, hashing them with SHA-256 and keeping
/// the last kTail of them. Write-only and sequential.
class HashingDevice final : public QIODevice {
public:
    static constexpr qsizetype kTail = 4096;

    explicit HashingDevice(QIODevice& target);
    bool isSequential() const override { return true; }
    qint64 written() const { return m_written; }
    const QByteArray& tail() const { return m_tail; }
    /// SHA-256 of everything written, in lower-case hexadecimal.
    QByteArray sha256Hex() const;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override;

private:
    QIODevice& m_target;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    QByteArray m_tail;
    qint64 m_written = 0;
};

/// The producer named in the dictionary and the XMP packet.
QString producerName();

/// The XMP packet of a PDF/A-1b document: dc:title, dc:creator (the author), dc:description (the
/// subject), xmp:CreatorTool, the creation and modification date \p created, pdf:Producer and
/// pdfaid:part 1 / pdfaid:conformance B. Empty texts leave their property out.
QByteArray xmpPacket(const DocumentInfo& info, const QString& creator, const QDateTime& created);

/// The incremental update that replaces the information dictionary of the PDF whose last bytes
/// are \p tail and whose length is \p size, with the same values as xmpPacket. Fails when the
/// tail holds no trailer that names the dictionary.
mox::Result<QByteArray> infoUpdate(const QByteArray& tail, qint64 size, const DocumentInfo& info,
                                   const QString& creator, const QDateTime& created);

} // namespace korprint
