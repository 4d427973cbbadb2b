#pragma once

// CSV as `moxdb export` and `moxdb ledger` write it, for a spreadsheet and for `moxdb import`:
//
//   - one record a line, every line (the last too) ended by CR LF;
//   - a field is quoted ("…", a quote inside doubled) when it holds a comma, a quote, a CR or an
//     LF, and an empty text is written "" so that it stays apart from NULL, which is a field with
//     nothing in it at all;
//   - numbers are written as they are: whole numbers plainly, amounts through csvAmount (no
//     thousands separators, a minus sign, the four decimals only as far as they are not zero);
//   - CP932 (what a spreadsheet on a Japanese desktop reads as it is) or UTF-8 with a byte order
//     mark. A text that the encoding cannot hold exactly is refused, never written as "?": the
//     file is meant to come back in.
//
//     CsvWriter csv(file.device(), CsvEncoding::Cp932);
//     csv.addNumber(u"123");  csv.addText(name);  csv.addNull();  csv.addAmount(pay);
//     if (std::optional<CsvRefusal> r = csv.endRecord()) ...   // field r->field cannot be held
//     if (!csv.flush()) ... csv.errorString() ...               // the device refused (disk full)

#include "base/currency.h"

#include <QByteArray>
#include <QString>
#include <QStringConverter>
#include <QStringView>

#include <optional>
#include <vector>

class QIODevice;

namespace moxdb {

enum class CsvEncoding {
    Cp932,
    Utf8, // with a byte order mark
};

/// The encoding named \p name on the command line: "cp932" or "utf-8" (case ignored; "utf8"
/// too); nullopt for any other name.
std::optional<CsvEncoding> csvEncodingNamed(QStringView name);

/// An amount as a CSV field: "12345", "12345.5", "-0.0125"; never grouped.
QString csvAmount(Currency value);

/// Appends \p text to \p line as one CSV field: quoted when it is empty or holds a comma, a quote,
/// a CR or an LF; a quote inside is doubled.
void appendCsvText(QString& line, QStringView text);

/// Why a record was not written: the field (0-based, in the order added) holding a character the
/// encoding cannot hold, and that character.
struct CsvRefusal {
    int field = -1;
    QString character;
};

class CsvWriter {
public:
    /// Writes to \p device, which must stay open while the writer lives. A UTF-8 file starts
    /// with its byte order mark.
    CsvWriter(QIODevice* device, CsvEncoding encoding);
    ~CsvWriter();
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;

    /// A NULL: nothing between the separators.
    void addNull();
    /// A text, quoted as appendCsvText says.
    void addText(QStringView text);
    /// A number written as it is (digits, sign, decimal point).
    void addNumber(QStringView plain);
    void addAmount(Currency value) { addNumber(csvAmount(value)); }

    /// Ends the record and queues it, encoded, for the device. When a text of the record cannot
    /// be held by the encoding (or would not read back the same), nothing of the record is
    /// queued and the answer says which field and character.
    std::optional<CsvRefusal> endRecord();
    /// Writes what is queued; the writer also does so by itself whenever much is queued. False
    /// once the device has refused a write (a full disk, a file-size limit): errorString() says
    /// why, and every later write fails too.
    bool flush();
    CsvEncoding encoding() const { return m_encoding; }
    bool failed() const { return !m_error.isEmpty(); }
    const QString& errorString() const { return m_error; }

private:
    void separate();
    std::optional<CsvRefusal> findRefusal() const;

    QIODevice* m_device;
    CsvEncoding m_encoding;
    QStringEncoder m_encoder;
    QStringDecoder m_decoder; // reads each encoded record back, to catch a silent substitution
    QString m_line;
    std::vector<qsizetype> m_starts; // where each field of m_line begins
    std::vector<bool> m_isText;      // whether it is a text (numbers and NULLs need no check)
    QByteArray m_pending;
    QString m_error;
};

} // namespace moxdb
