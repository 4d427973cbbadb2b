#include "moxdb/csvimport.h"

#include "moxdb/csvcheck.h"
#include "moxdb/progress.h"

#include "kordao/bulkinsert.h"

#include <QFileInfo>
#include <QHash>

#include <cstring>
#include <map>
#include <optional>

using namespace Qt::StringLiterals;

namespace moxdb {

void ImportFaults::add(const QString& file, qint64 line, const QString& field, const QString& what)
{
    ++m_count;
    if (m_listed.size() >= kListed)
        return;
    QString text = file;
    if (line > 0)
        text += u" %1 行目"_s.arg(line);
    if (!field.isEmpty())
        text += u" 項目「%1」"_s.arg(field);
    m_listed.append(text + u": "_s + what);
}

QString ImportFaults::text() const
{
    QString text = m_listed.join(u'\n');
    if (m_count > m_listed.size())
        text += u"\nほか %1 件の誤りがあります (最初の %2 件を示しました)。"_s
                    .arg(m_count - m_listed.size())
                    .arg(m_listed.size());
    return text;
}

KeySet::KeySet(int bytes) : m_bytes(bytes), m_stride(bytes + int(sizeof(quint32)))
{
    m_slots.assign(1024, 0);
}

namespace {

std::uint64_t hashBytes(const char* p, int n)
{
    std::uint64_t h = 1469598103934665603ULL; // FNV-1a, then mixed: keys differ in few bits
    for (int i = 0; i < n; ++i)
        h = (h ^ std::uint8_t(p[i])) * 1099511628211ULL;
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ULL;
    return h ^ (h >> 32);
}

} // namespace

qint64 KeySet::insert(const char* key, quint32 line)
{
    std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = hashBytes(key, m_bytes) & mask;; at = (at + 1) & mask) {
        const quint32 slot = m_slots[at];
        if (slot == 0) {
            const std::size_t offset = m_entries.size();
            m_entries.resize(offset + std::size_t(m_stride));
            std::memcpy(&m_entries[offset], key, std::size_t(m_bytes));
            std::memcpy(&m_entries[offset + std::size_t(m_bytes)], &line, sizeof line);
            m_slots[at] = quint32(m_count + 1);
            ++m_count;
            if (std::size_t(m_count) * 5 > m_slots.size() * 3)
                grow();
            return -1;
        }
        const char* entry = &m_entries[std::size_t(slot - 1) * std::size_t(m_stride)];
        if (std::memcmp(entry, key, std::size_t(m_bytes)) == 0) {
            quint32 first = 0;
            std::memcpy(&first, entry + m_bytes, sizeof first);
            return first;
        }
    }
}

void KeySet::grow()
{
    std::vector<quint32> slots(m_slots.size() * 2, 0);
    const std::size_t mask = slots.size() - 1;
    for (qsizetype n = 0; n < m_count; ++n) {
        const char* entry = &m_entries[std::size_t(n) * std::size_t(m_stride)];
        std::size_t at = hashBytes(entry, m_bytes) & mask;
        while (slots[at] != 0)
            at = (at + 1) & mask;
        slots[at] = quint32(n + 1);
    }
    m_slots = std::move(slots);
}

void CsvImport::add(const ExportTable& table, const QString& path)
{
    m_files.push_back({&table, path, 0, CsvFileEncoding::Cp932});
}

qint64 CsvImport::totalBytes() const
{
    qint64 total = 0;
    for (const ImportedFile& f : m_files)
        total += QFileInfo(f.path).size();
    return total;
}

// Reads one file: checks each record and, while writing, adds it to the bulk load.
class CsvImport::Loader {
public:
    Loader(CsvImport& import, ImportedFile& file, KorDAO::DatabaseHandle db, bool* writing,
           TerminalProgress* progress)
        : m_import(import), m_file(file), m_table(*file.table), m_db(std::move(db)),
          m_writing(writing), m_progress(progress), m_name(QFileInfo(file.path).fileName())
    {
    }

    void run();

private:
    // One field of the file's records: its column in the table and what was read into it.
    struct Column {
        const ExportField* field = nullptr;
        int keyOffset = -1; // where it goes in the key, or -1
        FieldRead read;
    };

    void fault(qint64 line, const QString& field, const QString& what)
    {
        m_import.m_faults.add(m_name, line, field, what);
        *m_writing = false;
    }
    bool readHeader(CsvReader& csv);
    bool checkValue(Column& c, const CsvField& f, qint64 line);
    void keyOf(const Column& c, char* key);
    QString keyText() const;
    mox::Status readTableKeys(KeySet& keys);
    void record(qint64 line);

    CsvImport& m_import;
    ImportedFile& m_file;
    const ExportTable& m_table;
    KorDAO::DatabaseHandle m_db;
    bool* m_writing;
    TerminalProgress* m_progress;
    QString m_name; // the file's name, for the faults
    std::vector<Column> m_columns;
    int m_keyBytes = 0;
    QHash<QString, qint32> m_textKeys; // the number standing for each text of a key
    std::vector<char> m_key;
    std::optional<KeySet> m_keys;
    std::optional<KorDAO::BulkInsert> m_bulk;
};

bool CsvImport::Loader::readHeader(CsvReader& csv)
{
    if (!csv.next()) {
        if (!csv.status().ok())
            fault(0, {}, csv.status().message);
        else
            fault(0, {}, u"空のファイルです (項目名の行がありません)。"_s);
        return false;
    }
    bool ok = true;
    QStringList seen;
    for (const CsvField& f : csv.fields()) {
        const QString name = f.text.toString();
        const ExportField* field = m_table.field(name);
        if (!field) {
            fault(
                1, name,
                u"テーブル %1 にこの項目はありません (項目名は大文字・小文字も区別します)。"_s.arg(
                    m_table.table));
            ok = false;
        } else if (seen.contains(name)) {
            fault(1, name, u"項目名が二度あります。"_s);
            ok = false;
        }
        seen.append(name);
        Column c;
        c.field = field;
        m_columns.push_back(c);
    }
    for (const ExportField& f : m_table.fields) {
        if (!seen.contains(f.name)) {
            fault(1, f.name, u"項目名の行にこの項目がありません。"_s);
            ok = false;
        }
    }
    if (!ok)
        return false;
    // The key: its fields in key order, 4 bytes each (8 for an amount).
    for (const QString& k : m_table.key) {
        for (Column& c : m_columns) {
            if (c.field->name == k) {
                c.keyOffset = m_keyBytes;
                m_keyBytes += c.field->kind == FieldKind::Amount ? 8 : 4;
            }
        }
    }
    m_key.assign(std::size_t(m_keyBytes), 0);
    return true;
}

// Reads the value of \p f into \p c; false (and the fault listed) when the field cannot take it.
bool CsvImport::Loader::checkValue(Column& c, const CsvField& f, qint64 line)
{
    const QString why = checkField(*c.field, c.keyOffset >= 0, f, c.read);
    if (why.isEmpty())
        return true;
    fault(line, c.field->name, why);
    return false;
}

void CsvImport::Loader::keyOf(const Column& c, char* key)
{
    if (c.field->kind == FieldKind::Amount) {
        const qint64 raw = c.read.amount.raw();
        std::memcpy(key, &raw, sizeof raw);
        return;
    }
    qint32 v = c.read.whole;
    if (c.field->kind == FieldKind::Text) {
        const QString text = c.read.text.toString();
        v = m_textKeys.value(text, -1);
        if (v < 0) {
            v = qint32(m_textKeys.size());
            m_textKeys.insert(text, v);
        }
    }
    std::memcpy(key, &v, sizeof v);
}

// "SYOKCD=10025, KYUSYU=1, …" of the record just checked.
QString CsvImport::Loader::keyText() const
{
    QStringList parts;
    for (const QString& k : m_table.key) {
        for (const Column& c : m_columns) {
            if (c.field->name == k)
                parts.append(k + u'=' + shownValue(c.read.text));
        }
    }
    return parts.join(u", "_s);
}

// The keys of the records already in the table, for the check of a file added to them.
mox::Status CsvImport::Loader::readTableKeys(KeySet& keys)
{
    KorDAO::clsTbAccess t;
    t.setTBDatabase(m_db);
    t.setTBNameString(m_table.table);
    const int n = t.DAO_TableOpen(QString(), m_table.key.join(u", "_s));
    if (n < 0)
        return mox::Status::failure(n, t.lastError());
    for (short st = n > 0 ? t.DAO_RecRead(1) : KorDAO::kEndOfRecords; st == 0;
         st = t.DAO_RecRead(2)) {
        const mox::Status read = KorDAO::readFields([&] {
            for (const Column& c : m_columns) {
                if (c.keyOffset < 0)
                    continue;
                char* at = &m_key[std::size_t(c.keyOffset)];
                const KorDAO::FieldRef v = t.TBRec()[c.field->name];
                if (c.field->kind == FieldKind::Amount) {
                    const qint64 raw = v.toCurrency().raw();
                    std::memcpy(at, &raw, sizeof raw);
                } else if (c.field->kind == FieldKind::Text) {
                    const QString text = v.toString();
                    qint32 id = m_textKeys.value(text, -1);
                    if (id < 0) {
                        id = qint32(m_textKeys.size());
                        m_textKeys.insert(text, id);
                    }
                    std::memcpy(at, &id, sizeof id);
                } else {
                    const qint32 whole = v.toInt();
                    std::memcpy(at, &whole, sizeof whole);
                }
            }
        });
        if (!read.ok())
            return read;
        (void)keys.insert(m_key.data(), 0);
    }
    return mox::Status::success();
}

void CsvImport::Loader::record(qint64 line)
{
    bool ok = true;
    for (Column& c : m_columns) {
        if (c.keyOffset >= 0 && ok)
            keyOf(c, &m_key[std::size_t(c.keyOffset)]);
    }
    if (m_keys) {
        const qint64 first = m_keys->insert(m_key.data(), quint32(line));
        if (first == 0) {
            fault(line, {},
                  u"キー (%1) の記録がテーブル %2 に既にあります (ファイルの内容で置き換えるときは "
                  u"--replace を付けてください)。"_s.arg(keyText(), m_table.table));
            ok = false;
        } else if (first > 0) {
            fault(line, {}, u"キー (%1) が %2 行目と重複しています。"_s.arg(keyText()).arg(first));
            ok = false;
        }
    }
    if (!ok || !*m_writing)
        return;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const Column& c = m_columns[i];
        const int at = int(i);
        switch (c.field->kind) {
        case FieldKind::Amount:
            m_bulk->setAmount(at, c.read.amount);
            break;
        case FieldKind::Text:
            m_bulk->setText(at, c.read.null ? QString() : c.read.text.toString());
            break;
        default:
            m_bulk->setInteger(at, c.read.whole);
            break;
        }
    }
    if (m_bulk->addRow() != 0)
        fault(line, {}, m_bulk->lastError());
}

void CsvImport::Loader::run()
{
    CsvReader csv(m_file.path);
    if (mox::Status s = csv.open(); !s.ok()) {
        fault(0, {}, s.message);
        return;
    }
    m_file.encoding = csv.encoding();
    if (!readHeader(csv))
        return;
    if (!m_table.key.isEmpty()) {
        m_keys.emplace(m_keyBytes);
        if (!m_import.m_options.replace) {
            if (mox::Status s = readTableKeys(*m_keys); !s.ok()) {
                fault(0, {}, u"テーブル %1 を読めません: %2"_s.arg(m_table.table, s.message));
                return;
            }
        }
    }
    if (*m_writing && m_import.m_options.replace) {
        if (mox::Status s = KorDAO::clearTable(m_db, m_table.table); !s.ok()) {
            fault(0, {}, u"テーブル %1 を空にできません: %2"_s.arg(m_table.table, s.message));
            return;
        }
    }
    if (*m_writing) {
        QStringList names;
        for (const Column& c : m_columns)
            names.append(c.field->name);
        m_bulk.emplace(m_db, m_table.table, names);
        if (m_bulk->status() != 0) {
            fault(0, {}, m_bulk->lastError());
            return;
        }
    }
    const qsizetype width = qsizetype(m_columns.size());
    qint64 counted = 0; // bytes shown on the progress line
    while (csv.next()) {
        const qint64 line = csv.line();
        ++m_file.records;
        const std::vector<CsvField>& fields = csv.fields();
        if (qsizetype(fields.size()) != width) {
            fault(line, {},
                  fields.size() == 1 && fields[0].null
                      ? u"空の行です。"_s
                      : u"項目が %1 個あります (項目名の行は %2 個)。"_s.arg(fields.size())
                            .arg(width));
        } else {
            bool ok = true;
            for (qsizetype i = 0; i < width; ++i)
                ok = checkValue(m_columns[std::size_t(i)], fields[std::size_t(i)], line) && ok;
            if (ok)
                record(line);
        }
        if (m_progress && csv.bytesRead() - counted >= 1024 * 1024) {
            m_progress->advance((csv.bytesRead() - counted) / 1024);
            counted += (csv.bytesRead() - counted) / 1024 * 1024;
        }
    }
    if (m_progress)
        m_progress->advance((csv.bytesRead() - counted) / 1024);
    if (!csv.status().ok())
        fault(0, {}, csv.status().message);
    if (*m_writing && m_bulk->finish() != 0)
        fault(0, {}, m_bulk->lastError());
}

mox::Status CsvImport::run(const OpenDatabase& open, TerminalProgress* progress)
{
    struct Target {
        KorDAO::DatabaseHandle db;
        std::optional<KorDAO::Transaction> tx;
    };
    // Payroll before environment, in the order the files name them; a map keeps the order of
    // the names, which is that order ("MOX.INI" < "MOXENV.INI").
    std::map<QString, Target> targets;
    bool writing = !m_options.checkOnly;
    for (ImportedFile& file : m_files) {
        const QString ini = iniNameOf(file.table->which);
        Target& target = targets[ini];
        if (!target.db) {
            mox::Result<KorDAO::DatabaseHandle> opened = open(ini);
            if (const mox::Status* failure = mox::failure(opened))
                return *failure;
            target.db = mox::value(opened);
        }
        if (writing && !target.tx) {
            target.tx.emplace(target.db);
            if (!target.tx->started())
                return target.tx->status();
        }
        Loader(*this, file, target.db, &writing, progress).run();
    }
    if (m_faults.count() > 0)
        return mox::Status::failure(-1, m_faults.text()); // the transactions undo everything
    if (m_options.checkOnly)
        return mox::Status::success();
    QStringList committed;
    for (auto& [ini, target] : targets) {
        mox::Status s = target.tx->commit();
        if (s.ok()) {
            committed.append(ini);
            continue;
        }
        if (committed.isEmpty())
            return s;
        // The first database keeps what it took: say so, and what is left to do.
        QStringList rest;
        for (const ImportedFile& f : m_files) {
            if (!committed.contains(iniNameOf(f.table->which)))
                rest.append(f.table->table);
        }
        return mox::Status::failure(
            s.code, u"%1 のテーブルには書き込みましたが、%2 に書き込めませんでした（%3 は元の"
                    u"ままです）: %4。%3 のファイルだけをもう一度読み込んでください。"_s.arg(
                        committed.join(u"、"_s), ini, rest.join(u"、"_s), s.message));
    }
    return mox::Status::success();
}

} // namespace moxdb
