#pragma once

// CsvReader: the records of a CSV file one at a time, with flat memory however long the file.
//
//     moxdb::CsvReader csv(path);
//     if (mox::Status s = csv.open(); !s.ok()) return s;       // unreadable, UTF-16, NUL bytes
//     while (csv.next()) {
//         for (const moxdb::CsvField& f : csv.fields())
//             use(csv.line(), f.null ? QString() : f.text.toString());
//     }
//     if (!csv.status().ok()) return csv.status();             // a stray quote, at its line
//
// The format is RFC 4180: fields separated by commas, records by CRLF or LF (the last record may
// have no line end); a field in double quotes may hold commas, quotes (doubled) and line ends,
// which are kept as they are. An empty field without quotes is NULL; "" is an empty text.
// A quote inside an unquoted field, text after a closing quote, a CR not followed by LF outside
// quotes and a quoted field still open at the end of the file are errors naming their line.
//
// The encoding is found as for the configuration files: a UTF-8 byte order mark, else UTF-8 when
// the whole file is valid UTF-8, else CP932 (what a spreadsheet on a Japanese desktop saves). The
// file is checked for UTF-8 in one quick pass over its bytes before the first record, then
// decoded as it is read. A UTF-8 file cut in the middle of a character still counts as UTF-8 (the
// cut is reported at its line); bytes CP932 cannot read are reported at their line.
//
// line() is the physical line of the file where the current record begins, the first line
// being 1: a record whose quoted field spans lines is reported where it starts.

#include "base/status.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringDecoder>
#include <QStringView>

#include <optional>
#include <vector>

namespace moxdb {

enum class CsvFileEncoding {
    Utf8Bom, // UTF-8 with a byte order mark
    Utf8,    // UTF-8 without one
    Cp932,
};

/// One field of the current record. text stays valid until the next call of next().
struct CsvField {
    QStringView text;
    bool null = false; // empty and unquoted
};

class CsvReader {
public:
    /// A reader of the file \p path, reading \p chunkBytes at a time (tests make it small to
    /// cut characters and records at chunk boundaries).
    explicit CsvReader(QString path, qsizetype chunkBytes = 1 << 20);
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    /// Opens the file and finds its encoding. A failure names the file: it cannot be read, it
    /// is UTF-16 (a byte order mark of it), or it holds NUL bytes.
    mox::Status open();
    CsvFileEncoding encoding() const { return m_encoding; }

    /// Reads the next record into fields(): true when there is one; false at the end of the
    /// file or on an error (status() then says which, with the line).
    bool next();
    const std::vector<CsvField>& fields() const { return m_fields; }
    /// The physical line where the current record begins (1 = the first line of the file).
    qint64 line() const { return m_recordLine; }
    /// Success, or the error that ended the reading.
    const mox::Status& status() const { return m_status; }

    /// Bytes of the file read so far, and its size: for a progress line.
    qint64 bytesRead() const { return m_bytesRead; }
    qint64 fileSize() const { return m_fileSize; }

private:
    enum class Scan { Record, NeedMore, Error };

    bool fail(qint64 line, const QString& what);
    bool refill();
    bool endOfFile();
    Scan scanRecord();
    Scan scanQuoted(qsizetype& i, qint64& line);

    QString m_path;
    qsizetype m_chunkBytes;
    QFile m_file;
    CsvFileEncoding m_encoding = CsvFileEncoding::Utf8;
    // Made in place: a QStringDecoder moved into another loses track of its errors.
    std::optional<QStringDecoder> m_decoder;
    qint64 m_bytesRead = 0;
    qint64 m_fileSize = 0;
    bool m_eof = false; // the whole file is decoded into m_text

    QString m_text;      // decoded text not yet consumed, from m_pos
    qsizetype m_pos = 0; // where the next record starts in m_text
    qint64 m_line = 1;   // physical line at m_pos
    qint64 m_recordLine = 0;
    QString m_unquoted;             // quoted fields holding doubled quotes, with one quote each
    std::vector<qsizetype> m_spans; // per field: start, length, source (0 text, 1 unquoted), null
    std::vector<CsvField> m_fields;
    mox::Status m_status;
    bool m_done = false;
};

/// Whether \p bytes are valid UTF-8 (no overlong forms, surrogates or values beyond U+10FFFF),
/// a sequence cut off by the end of \p bytes counted as valid: the check of open(), for tests.
bool isUtf8Prefix(QByteArrayView bytes);

} // namespace moxdb
