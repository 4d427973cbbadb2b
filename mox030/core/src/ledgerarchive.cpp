#include "mox030/ledgerarchive.h"

#include "base/privatefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace mox030 {
namespace {

mox::Status failed(const QString& why)
{
    return mox::Status::failure(1, why);
}

// The first name "<base>.pdf", "<base>-2.pdf" … that the folder has neither as a file or link
// nor as the name of a checksum file "<name>.sha256", so that the copy gets its checksum beside it.
QString freeName(const QDir& dir, const QString& base)
{
    const auto taken = [&dir](const QString& name) {
        const QFileInfo there(dir.filePath(name));
        return there.exists() || there.isSymLink();
    };
    for (int n = 1;; ++n) {
        const QString name = (n == 1 ? base : u"%1-%2"_s.arg(base).arg(n)) + u".pdf"_s;
        if (!taken(name) && !taken(name + u".sha256"_s))
            return name;
    }
}

// Copies \p source into \p target (open), hashing what it copied.
mox::Status copyInto(const QString& source, mox::PrivateFile& target, QByteArray* sha256Hex)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        return failed(u"PDFファイル %1 を読めません（%2）。"_s.arg(QDir::toNativeSeparators(source),
                                                                   in.errorString()));
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        hash.addData(chunk);
        if (target.device()->write(chunk) != chunk.size()) {
            return failed(u"ファイル %1 を書き込めません（%2）。"_s.arg(
                QDir::toNativeSeparators(target.path()), target.device()->errorString()));
        }
    }
    if (in.error() != QFileDevice::NoError) {
        return failed(u"PDFファイル %1 を読めません（%2）。"_s.arg(QDir::toNativeSeparators(source),
                                                                   in.errorString()));
    }
    *sha256Hex = hash.result().toHex();
    return mox::Status::success();
}

mox::Status writeNew(mox::PrivateFile& file, const QByteArray& bytes)
{
    file.keepExisting();
    if (!mox::writeWhole(file, bytes))
        return failed(file.errorString());
    return mox::Status::success();
}

} // namespace

QString archiveFolder(const QString& folder, int fiscalYear)
{
    return QDir(folder).filePath(u"archive/"_s + QString::number(fiscalYear));
}

mox::Result<QString> archiveLedger(const QString& pdf, const QString& folder, int fiscalYear,
                                   const QDateTime& when, const QByteArray& sha256Hex)
{
    const QString top = QDir(folder).filePath(u"archive"_s);
    const QString yearFolder = archiveFolder(folder, fiscalYear);
    for (const QString& f : {top, yearFolder}) {
        if (const QString why = mox::makeOwnFolder(f); !why.isEmpty())
            return failed(
                u"フォルダ %1 を使えません（%2）。"_s.arg(QDir::toNativeSeparators(f), why));
    }
    const QString base = QFileInfo(pdf).completeBaseName() + when.toString(u"-yyyyMMdd-HHmmss"_s);
    const QString name = freeName(QDir(yearFolder), base);
    mox::PrivateFile copy(QDir(yearFolder).filePath(name));
    copy.keepExisting();
    if (!copy.open())
        return failed(copy.errorString());
    QByteArray copied;
    if (mox::Status s = copyInto(pdf, copy, &copied); !s.ok())
        return s;
    if (copied != sha256Hex) {
        return failed(u"PDFファイル %1 が印刷の後に変わったため、控えを作りません。"_s.arg(
            QDir::toNativeSeparators(pdf)));
    }
    if (!copy.commit())
        return failed(copy.errorString());
    mox::PrivateFile sum(copy.path() + u".sha256"_s);
    if (mox::Status s = writeNew(sum, mox::sha256sumLine(copied, name)); !s.ok())
        return s;
    return copy.path();
}

} // namespace mox030
