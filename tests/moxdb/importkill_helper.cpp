// Loads a CSV file as moxdb import does and shows its progress on standard output, so that a
// test can kill it with SIGKILL in the middle of the load (the records of the first megabyte
// written, the transaction still open) and look at the table from outside.
//
//     moxdb_importkill_helper TABLE FILE [--replace]      ($MOX_INI_DIR names the databases)
#include "moxdb/csvimport.h"
#include "moxdb/progress.h"

#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <memory>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    const moxdb::ExportTable* table = moxdb::findExportTable(args[1]);
    if (!table)
        return 2;
    moxdb::ImportOptions options;
    options.replace = args.contains(u"--replace"_s);
    moxdb::CsvImport import(options);
    import.add(*table, args[2]);
    std::map<QString, std::unique_ptr<KorDAO::clsDbAccess>> opened;
    const auto open = [&opened](const QString& ini) -> mox::Result<KorDAO::DatabaseHandle> {
        auto db = std::make_unique<KorDAO::clsDbAccess>();
        db->setDBIniNameString(ini);
        if (const short st = db->DAO_DBOpen(); st != 0)
            return mox::Status::failure(st, db->lastError());
        KorDAO::DatabaseHandle handle = db->DBDatabase();
        opened[ini] = std::move(db);
        return handle;
    };
    moxdb::TerminalProgress progress(u"loading"_s, u"KB"_s, import.totalBytes() / 1024, stdout,
                                     /*force=*/true);
    const mox::Status s = import.run(open, &progress);
    progress.finish();
    std::puts(s.ok() ? "DONE" : qPrintable(s.message));
    return s.ok() ? 0 : 1;
}
