#include "moxdb/export.h"

#include "moxdb/progress.h"

#include <QFile>

#include <cstdio>
#include <limits>
#include <vector>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// The filter text of one condition: the grammar of the database component turns the number or
// quoted text into a bound value, and a quote inside a text is doubled.
mox::Result<QString> conditionFilter(const ExportTable& table, const QString& condition)
{
    const qsizetype eq = condition.indexOf(u'=');
    if (eq <= 0)
        return mox::Status::failure(
            2, u"--where「%1」は「項目名=値」の形で指定してください。"_s.arg(condition));
    const QString name = condition.left(eq);
    const QString value = condition.mid(eq + 1);
    const ExportField* field = table.field(name);
    if (!field)
        return mox::Status::failure(
            2, u"--where の項目「%1」はテーブル %2 にありません。"_s.arg(name, table.table));
    if (isWholeNumber(field->kind)) {
        bool ok = false;
        const qlonglong n = value.toLongLong(&ok);
        if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
            return mox::Status::failure(
                2, u"--where の項目 %1 の値「%2」は整数ではありません。"_s.arg(name, value));
        return u"%1 = %2"_s.arg(name).arg(n);
    }
    if (field->kind == FieldKind::Amount) {
        const std::optional<Currency> amount = Currency::parse(value);
        if (!amount)
            return mox::Status::failure(
                2, u"--where の項目 %1 の値「%2」は金額ではありません。"_s.arg(name, value));
        return u"%1 = %2"_s.arg(name, amount->toPlainString());
    }
    QString quoted = value;
    quoted.replace(u'\'', u"''"_s);
    return u"%1 = '%2'"_s.arg(name, quoted);
}

// "SYOKCD=1001, KYUSYU=1" for a message; "N 件目" for a table without a key.
QString keyText(const ExportTable& table, KorDAO::clsTbAccess& tb, qint64 ordinal)
{
    if (table.key.isEmpty())
        return u"%1 件目のレコード"_s.arg(ordinal);
    QStringList parts;
    KorDAO::Record rec = tb.TBRec();
    for (const QString& k : table.key)
        parts.append(k + u'=' + rec[k].toString());
    return u"キー %1 のレコード"_s.arg(parts.join(u", "_s));
}

// One field of the current record into the CSV. Whole numbers come from the engine as integers
// (amounts in whole yen too); anything else is read as the component's plain decimal.
void addField(CsvWriter& csv, const KorDAO::Record& rec, const ExportField& f, int column)
{
    const KorDAO::FieldRef ref = rec.field(column);
    const QVariant v = ref.variant();
    if (v.isNull()) {
        csv.addNull();
        return;
    }
    if (f.kind == FieldKind::Text) {
        csv.addText(v.toString());
        return;
    }
    switch (v.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        csv.addNumber(QString::number(v.toLongLong()));
        break;
    default:
        csv.addNumber(ref.toString());
        break;
    }
}

QString encodingName(CsvEncoding e)
{
    return e == CsvEncoding::Cp932 ? u"CP932"_s : u"UTF-8"_s;
}

} // namespace

mox::Result<CsvEncoding> encodingOption(const Options& options)
{
    CsvEncoding encoding = CsvEncoding::Cp932;
    for (const QString& name : options.values(u"--encoding"_s)) {
        const std::optional<CsvEncoding> e = csvEncodingNamed(name);
        if (!e)
            return mox::Status::failure(
                2, u"--encoding「%1」は使えません（cp932 か utf-8）。"_s.arg(name));
        encoding = *e;
    }
    return encoding;
}

mox::Result<QString> exportFilter(const ExportTable& table, const QStringList& conditions)
{
    QStringList parts;
    for (const QString& c : conditions) {
        mox::Result<QString> one = conditionFilter(table, c);
        if (const mox::Status* s = mox::failure(one))
            return *s;
        parts.append(mox::value(one));
    }
    return parts.join(u" AND "_s);
}

mox::Result<qint64> writeTable(const KorDAO::DatabaseHandle& db, const ExportTable& table,
                               const QString& filter, CsvWriter& csv)
{
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db);
    tb.setTBNameString(table.table);
    const int total = tb.DAO_TableOpen(filter, table.key.join(u','));
    if (total < 0)
        return mox::Status::failure(total, u"テーブル %1 を開けません（%2）: %3"_s.arg(table.table)
                                               .arg(total)
                                               .arg(tb.lastError()));
    for (const ExportField& f : table.fields)
        csv.addText(f.name);
    if (csv.endRecord())
        return mox::Status::failure(1, u"テーブル %1 の項目名を書けません。"_s.arg(table.table));

    // Each field's position in the table, found once for all the records.
    std::vector<int> columns;
    for (const ExportField& f : table.fields)
        columns.push_back(tb.DAO_FieldIndex(f.name));

    TerminalProgress progress(table.table, u"件"_s, total);
    const KorDAO::Record rec = tb.TBRec();
    qint64 written = 0;
    try {
        for (short st = tb.DAO_RecRead(1);; st = tb.DAO_RecRead(2)) {
            if (st == KorDAO::kEndOfRecords)
                break;
            if (st != 0)
                return mox::Status::failure(st,
                                            u"テーブル %1 を読めません（%2）: %3"_s.arg(table.table)
                                                .arg(st)
                                                .arg(tb.lastError()));
            for (std::size_t i = 0; i < columns.size(); ++i)
                addField(csv, rec, table.fields[i], columns[i]);
            if (const std::optional<CsvRefusal> r = csv.endRecord()) {
                const QString field =
                    r->field >= 0 ? table.fields[std::size_t(r->field)].name : u"?"_s;
                return mox::Status::failure(
                    1, u"テーブル %1 の%2、項目 %3 に %4 で書けない文字%5があります。"
                       "この文字を直すか、--encoding utf-8 で書き出してください。"_s.arg(
                           table.table, keyText(table, tb, written + 1), field,
                           encodingName(csv.encoding()),
                           r->character.isEmpty() ? QString() : u"「%1」"_s.arg(r->character)));
            }
            if (csv.failed())
                return mox::Status::failure(1, csv.errorString());
            ++written;
            progress.advance();
        }
    } catch (const KorDAO::DaoError& e) {
        return mox::Status::failure(e.status(), u"テーブル %1 を読めません: %2"_s.arg(
                                                    table.table, QString::fromUtf8(e.what())));
    }
    progress.finish();
    if (!csv.flush())
        return mox::Status::failure(1, csv.errorString());
    return written;
}

ExportFile::ExportFile(const QString& path)
    : m_path(path), m_file(std::make_unique<mox::PrivateFile>(path))
{
}

ExportFile::~ExportFile() = default;

mox::Status ExportFile::open()
{
    if (!m_file->open())
        return mox::Status::failure(1, m_file->errorString());
    return mox::Status::success();
}

QIODevice* ExportFile::device() const
{
    return m_file->device();
}

mox::Status ExportFile::commit()
{
    if (!m_file->commit())
        return mox::Status::failure(1, m_file->errorString());
    return mox::Status::success();
}

mox::Result<qint64> exportToFile(const KorDAO::DatabaseHandle& db, const ExportTable& table,
                                 const QString& filter, CsvEncoding encoding, const QString& path)
{
    if (path == u"-") {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly))
            return mox::Status::failure(1, u"標準出力に書けません。"_s);
        CsvWriter csv(&out, encoding);
        mox::Result<qint64> n = writeTable(db, table, filter, csv);
        out.flush();
        return n;
    }
    ExportFile file(path);
    if (mox::Status s = file.open(); !s.ok())
        return s;
    CsvWriter csv(file.device(), encoding);
    mox::Result<qint64> n = writeTable(db, table, filter, csv);
    if (const mox::Status* s = mox::failure(n))
        return mox::Status::failure(s->code, u"%1: %2"_s.arg(path, s->message));
    if (mox::Status s = file.commit(); !s.ok())
        return s;
    return n;
}

} // namespace moxdb
