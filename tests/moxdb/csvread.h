#pragma once

// Reading back, in the tests, the CSV that moxdb export and moxdb ledger write: RFC 4180 records
// (quoted fields may hold commas, quotes and line ends), a field read as nullopt when nothing
// at all stood between its separators (NULL) and as a text otherwise ("" the empty text).

#include <QList>
#include <QString>

#include <optional>

namespace moxdb::test {

using CsvRecord = QList<std::optional<QString>>;

/// The records of \p text (already decoded, without its byte order mark); every record must
/// end with CR LF. Empty when the text is not such CSV.
inline QList<CsvRecord> parseCsv(const QString& text)
{
    QList<CsvRecord> records;
    CsvRecord record;
    qsizetype i = 0;
    while (i < text.size()) {
        std::optional<QString> field;
        if (text[i] == u'"') {
            QString value;
            for (++i;; ++i) {
                if (i >= text.size())
                    return {};
                if (text[i] == u'"') {
                    if (i + 1 < text.size() && text[i + 1] == u'"') {
                        value += u'"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text[i];
            }
            field = value;
        } else {
            const qsizetype start = i;
            while (i < text.size() && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n')
                ++i;
            if (i > start)
                field = text.mid(start, i - start);
        }
        record.append(field);
        if (i < text.size() && text[i] == u',') {
            ++i;
            continue;
        }
        if (text.mid(i, 2) != u"\r\n")
            return {};
        i += 2;
        records.append(record);
        record.clear();
    }
    return records;
}

} // namespace moxdb::test
