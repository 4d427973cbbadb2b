// moxdb export: tables taken out as CSV, for a spreadsheet or for `moxdb import` elsewhere.
//
//   moxdb export TABLE… [--out FILE|-] [--encoding cp932|utf-8] [--where FIELD=VALUE]… [--dir DIR]
//   moxdb export --all DIR [--encoding cp932|utf-8] [--dir DIR]
//
// One table goes to FILE, to standard output with "-", or without --out to <TABLE>.csv in the
// current folder; several tables each to <TABLE>.csv there. --all writes every exportable table
// into DIR (made 0700 when missing), each under the name `moxdb import --all` looks for. A file
// appears only complete: on any failure none of the files of the run is put in place.

#include "moxdb/command.h"
#include "moxdb/database.h"
#include "moxdb/export.h"

#include <QDir>

#include <csignal>
#include <map>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage = u"TABLE… [--out FILE|-] [--encoding cp932|utf-8] [--where FIELD=VALUE]… "
                       u"[--dir DIR] | --all DIR [--encoding cp932|utf-8] [--dir DIR]"_s;

struct ExportArgs {
    QStringList tables;
    QString out;
    QString all;
    QString dir;
    QStringList where;
    CsvEncoding encoding = CsvEncoding::Cp932;
};

// The arguments, or the usage fault in Japanese.
mox::Result<ExportArgs> parseArgs(const QStringList& args)
{
    const Options o(
        args, {.withValue = {u"--out"_s, u"--all"_s, u"--dir"_s, u"--where"_s, u"--encoding"_s},
               .positional = true});
    if (!o.ok())
        return mox::Status::failure(2, optionFaultText(o));
    if (const QString twice = repeatedOption(o, {u"--out"_s, u"--all"_s, u"--dir"_s});
        !twice.isEmpty())
        return mox::Status::failure(2, u"%1 は使えない指定です。"_s.arg(twice));
    const mox::Result<CsvEncoding> encoding = encodingOption(o);
    if (const mox::Status* s = mox::failure(encoding))
        return *s;
    ExportArgs a{.tables = o.positional(),
                 .out = o.value(u"--out"_s),
                 .all = o.value(u"--all"_s),
                 .dir = o.value(u"--dir"_s),
                 .where = o.values(u"--where"_s),
                 .encoding = mox::value(encoding)};
    const bool hasOut = o.has(u"--out"_s);
    const bool hasAll = o.has(u"--all"_s);
    if (hasAll == !a.tables.isEmpty())
        return mox::Status::failure(2, u"テーブル名か --all DIR のどちらかを指定してください。"_s);
    if (hasAll && (hasOut || !a.where.isEmpty()))
        return mox::Status::failure(2, u"--all には --out と --where を付けられません。"_s);
    if (hasOut && a.tables.size() > 1)
        return mox::Status::failure(2, u"--out はテーブルを一つだけ書き出すときに指定します。"_s);
    for (const QString& t : a.tables) {
        if (!findExportTable(t)) {
            QStringList names;
            for (const ExportTable& e : exportTables())
                names.append(e.table);
            return mox::Status::failure(
                2, u"テーブル「%1」は書き出せません。書き出せるテーブル: %2"_s.arg(
                       t, names.join(u' ')));
        }
    }
    return a;
}

// The databases the tables need, each opened once.
class Databases {
public:
    mox::Result<KorDAO::DatabaseHandle> of(DatabaseKind which)
    {
        auto found = m_open.find(which);
        if (found == m_open.end()) {
            mox::Result<std::unique_ptr<moxdb::Database>> db =
                moxdb::Database::open(iniNameOf(which), false);
            if (const mox::Status* s = mox::failure(db))
                return *s;
            found = m_open.emplace(which, std::move(mox::value(db))).first;
        }
        return found->second->handle();
    }

private:
    std::map<DatabaseKind, std::unique_ptr<moxdb::Database>> m_open;
};

int fail(QTextStream& err, const QString& text, int code = 1)
{
    err << "moxdb export: " << failureText(text) << Qt::endl;
    return code;
}

// Every table into its own file of \p folder; the files are put in place only once all are
// written.
int exportAll(const ExportArgs& a, Databases& dbs, QTextStream& out, QTextStream& err)
{
    if (!QFileInfo::exists(a.all)) {
        if (QString why = mox::makeOwnFolder(a.all); !why.isEmpty())
            return fail(err, u"フォルダー %1 を作れません: %2"_s.arg(a.all, why));
    }
    std::vector<std::unique_ptr<ExportFile>> files;
    std::vector<qint64> counts;
    for (const ExportTable& t : exportTables()) {
        mox::Result<KorDAO::DatabaseHandle> db = dbs.of(t.which);
        if (const mox::Status* s = mox::failure(db))
            return fail(err, s->message);
        auto file = std::make_unique<ExportFile>(QDir(a.all).filePath(t.fileName()));
        if (mox::Status s = file->open(); !s.ok())
            return fail(err, s.message);
        CsvWriter csv(file->device(), a.encoding);
        mox::Result<qint64> n = writeTable(mox::value(db), t, QString(), csv);
        if (const mox::Status* s = mox::failure(n))
            return fail(err, u"%1: %2"_s.arg(file->path(), s->message));
        counts.push_back(mox::value(n));
        files.push_back(std::move(file));
    }
    for (const std::unique_ptr<ExportFile>& f : files) {
        if (mox::Status s = f->commit(); !s.ok())
            return fail(err, s.message);
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        out << u"%1: %2 件"_s.arg(exportTables()[i].table).arg(counts[i]) << Qt::endl;
    out << u"%1 のテーブルを %2 に書き出しました。"_s.arg(files.size()).arg(a.all) << Qt::endl;
    return 0;
}

int exportNamed(const ExportArgs& a, Databases& dbs, QTextStream& out, QTextStream& err)
{
    for (const QString& name : a.tables) {
        const ExportTable& t = *findExportTable(name);
        mox::Result<QString> filter = exportFilter(t, a.where);
        if (const mox::Status* s = mox::failure(filter))
            return fail(err, s->message, 2);
        mox::Result<KorDAO::DatabaseHandle> db = dbs.of(t.which);
        if (const mox::Status* s = mox::failure(db))
            return fail(err, s->message);
        const QString path = a.out.isEmpty() ? t.fileName() : a.out;
        mox::Result<qint64> n =
            exportToFile(mox::value(db), t, mox::value(filter), a.encoding, path);
        if (const mox::Status* s = mox::failure(n))
            return fail(err, s->message);
        if (path != u"-")
            out << u"%1: %2 件を %3 に書き出しました。"_s.arg(t.table).arg(mox::value(n)).arg(path)
                << Qt::endl;
    }
    return 0;
}

int runExport(const QStringList& args, QTextStream& out, QTextStream& err)
{
    mox::Result<ExportArgs> parsed = parseArgs(args);
    if (const mox::Status* s = mox::failure(parsed)) {
        err << "moxdb export: " << s->message << "\nusage: moxdb export " << kUsage << Qt::endl;
        return 2;
    }
    const ExportArgs& a = mox::value(parsed);
    if (!a.dir.isEmpty())
        useIniFolder(a.dir);
    // A file-size limit must fail the write (and be reported, the file dropped), not end the
    // process with the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    Databases dbs;
    return a.all.isEmpty() ? exportNamed(a, dbs, out, err) : exportAll(a, dbs, out, err);
}

} // namespace

Command exportCommand()
{
    return {u"export"_s, kUsage,
            u"write tables as CSV (header row, key order, CP932 or UTF-8): one, several, or all "
            u"of them into a folder"_s,
            &runExport};
}

} // namespace moxdb
