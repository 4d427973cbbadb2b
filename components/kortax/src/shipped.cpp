#include "kortax/kortax.h"

#include "base/datadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace KorTAX {

QString shippedTaxDir()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString app = QCoreApplication::applicationDirPath();
        candidates << app + u"/data/tax"_s << app + u"/../data/tax"_s;
    }
    candidates << mox::shippedDataDir() + u"/tax"_s;
    for (const QString& c : candidates) {
        if (QFileInfo(c).isDir())
            return QDir::cleanPath(c);
    }
    return QDir::cleanPath(candidates.back());
}

QList<std::pair<QDate, QString>> editionFolders(const QString& root)
{
    const QDir d(root);
    QList<std::pair<QDate, QString>> editions;
    for (const QString& name : d.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDate from = QDate::fromString(name, Qt::ISODate);
        if (from.isValid() && name.size() == 10)
            editions.append({from, d.filePath(name)});
    }
    std::sort(editions.begin(), editions.end());
    return editions;
}

mox::Status importEditions(const KorDAO::DatabaseHandle& db, const QString& dir, IfStored ifStored,
                           QList<QDate>* done)
{
    if (!QDir(dir).exists())
        return mox::Status::failure(kStatusMissingFile,
                                    u"税額表のフォルダ %1 がありません。"_s.arg(dir));
    const QList<std::pair<QDate, QString>> editions = editionFolders(dir);
    if (editions.isEmpty())
        return mox::Status::failure(
            kStatusMissingFile, u"税額表のフォルダ %1 に版（yyyy-MM-dd）がありません。"_s.arg(dir));
    for (const auto& [from, path] : editions) {
        bool written = false;
        if (mox::Status s = importEdition(db, from, path, ifStored, &written); !s.ok())
            return s;
        if (done && written)
            done->append(from);
    }
    return mox::Status::success();
}

} // namespace KorTAX
