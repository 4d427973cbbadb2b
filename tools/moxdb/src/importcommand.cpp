// moxdb import: an office's own data brought in from the CSV files that moxdb export writes.
//
//   moxdb import TABLE FILE [--replace] [--check] [--dir DIR]
//   moxdb import --all FOLDER [--replace] [--check] [--dir DIR]
//
// Every record is checked; a file with any fault is refused with the faults listed (line and
// field) and nothing is written. The load is one transaction per database (csvimport.h).

#include "moxdb/command.h"
#include "moxdb/csvimport.h"
#include "moxdb/database.h"
#include "moxdb/progress.h"

#include "kordao/schema.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <map>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage =
    u"TABLE FILE [--replace] [--check] [--dir DIR] | --all FOLDER [--replace] [--check] "
    u"[--dir DIR]"_s;

int usage(QTextStream& err, const QString& why)
{
    err << "moxdb import: " << why << "\nusage: moxdb import " << kUsage << '\n';
    return 2;
}

QString tableNames()
{
    QStringList names;
    for (const ExportTable& t : exportTables())
        names.append(t.table);
    return names.join(u' ');
}

QString encodingName(CsvFileEncoding e)
{
    switch (e) {
    case CsvFileEncoding::Utf8Bom:
        return u"UTF-8 (BOM 付き)"_s;
    case CsvFileEncoding::Utf8:
        return u"UTF-8"_s;
    case CsvFileEncoding::Cp932:
        break;
    }
    return u"CP932"_s;
}

// Adds the files to load to \p import: each <TABLE>.csv of the folder \p all, or the one TABLE
// FILE pair of \p positional. The exit code when they cannot be loaded, nullopt otherwise.
std::optional<int> chooseFiles(CsvImport& import, const QString& all, const QStringList& positional,
                               QTextStream& err)
{
    if (!all.isEmpty()) {
        if (!positional.isEmpty())
            return usage(err, u"--all takes no TABLE or FILE"_s);
        if (!QFileInfo(all).isDir()) {
            err << u"moxdb import: フォルダ %1 がありません。"_s.arg(all) << '\n';
            return 1;
        }
        const QDir folder(all);
        for (const ExportTable& t : exportTables()) {
            if (QFileInfo::exists(folder.filePath(t.fileName())))
                import.add(t, folder.filePath(t.fileName()));
        }
        if (import.files().empty()) {
            err << u"moxdb import: フォルダ %1 にテーブルのファイル (GKKYUYO.csv など) が"
                   u"ありません。"_s.arg(all)
                << '\n';
            return 1;
        }
        for (const QString& name : folder.entryList({u"*.csv"_s}, QDir::Files)) {
            if (!findExportTable(QFileInfo(name).completeBaseName()))
                err << u"moxdb import: %1 はどのテーブルのファイルでもないため、読みません。"_s.arg(
                           folder.filePath(name))
                    << '\n';
        }
    } else {
        if (positional.size() != 2)
            return usage(err, u"give TABLE and FILE, or --all FOLDER"_s);
        const ExportTable* table = findExportTable(positional[0]);
        if (!table) {
            err << u"moxdb import: テーブル %1 は読み込めません。読み込めるテーブル: %2"_s.arg(
                       positional[0], tableNames())
                << '\n';
            return 2;
        }
        import.add(*table, positional[1]);
    }
    return std::nullopt;
}

int runImport(const QStringList& args, QTextStream& out, QTextStream& err)
{
    const Options o(args, {.withValue = {u"--dir"_s, u"--all"_s},
                           .switches = {u"--replace"_s, u"--check"_s},
                           .positional = true});
    if (!o.ok())
        return usage(err, o.error());
    const ImportOptions options{.replace = o.has(u"--replace"_s), .checkOnly = o.has(u"--check"_s)};
    CsvImport import(options);
    if (const std::optional<int> refused =
            chooseFiles(import, o.value(u"--all"_s), o.positional(), err))
        return *refused;
    if (const QString dir = o.value(u"--dir"_s); !dir.isEmpty())
        useIniFolder(dir);

    // Opened as every command opens them: a database of another schema version is refused
    // before a record is read or written.
    std::map<QString, std::unique_ptr<Database>> opened;
    const auto open = [&opened](const QString& ini) -> mox::Result<KorDAO::DatabaseHandle> {
        mox::Result<std::unique_ptr<Database>> db = Database::open(ini, /*create=*/false);
        if (const mox::Status* s = mox::failure(db))
            return *s;
        const KorDAO::DatabaseHandle handle = mox::value(db)->handle();
        opened[ini] = std::move(mox::value(db));
        return handle;
    };
    mox::Status s;
    {
        TerminalProgress progress(u"読み込み"_s, u"KB"_s, import.totalBytes() / 1024);
        s = import.run(open, &progress);
    }
    const QLocale c(QLocale::English, QLocale::UnitedStates);
    if (!s.ok()) {
        if (import.faults().count() > 0)
            err << u"moxdb import: 誤りが %1 件あるため、何も書き込みませんでした。"_s.arg(
                       c.toString(import.faults().count()))
                << '\n'
                << s.message << '\n';
        else
            err << "moxdb import: " << failureText(s.message) << '\n';
        return 1;
    }
    for (const ImportedFile& f : import.files()) {
        out << u"%1: %2 件 (%3、%4)%5"_s.arg(
                   f.table->table, c.toString(f.records), f.path, encodingName(f.encoding),
                   options.checkOnly ? u" 誤りはありません。"_s : QString())
            << '\n';
    }
    if (options.checkOnly) {
        out << u"確認だけです。何も書き込んでいません。"_s << '\n';
        return 0;
    }
    for (const auto& [ini, db] : opened)
        out << u"書き込み先: %1 %2"_s.arg(ini, db->location()) << '\n';
    return 0;
}

} // namespace

Command importCommand()
{
    return {u"import"_s, kUsage,
            u"load CSV files as export writes them (CP932 or UTF-8) into their tables; every "
            u"record is checked first and any fault writes nothing. --replace empties each table "
            u"in the same transaction, --check only reports, --all reads every <TABLE>.csv of "
            u"FOLDER (one transaction per database)"_s,
            &runImport};
}

} // namespace moxdb
