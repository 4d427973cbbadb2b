#include "mox/printfolder.h"

#include "base/privatefile.h"
#include "kordao/kordao.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

bool isSystemFolder(const QString& folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    return clean == u"/usr"_s || clean.startsWith(u"/usr/"_s);
}

Status folderFailure(const QString& folder, const QString& why)
{
    return Status::failure(-1, u"印刷ファイルのフォルダ %1 を使えません（%2）。"_s.arg(
                                   QDir::toNativeSeparators(folder), why));
}

// Folder= of MOX.INI: made 0700 when missing (its parents as the system makes them); an existing
// one is taken only when it is the user's own (or root's) and closed to others' writing.
Result<QString> configured(const QString& folder)
{
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        if (!QDir().mkpath(info.absolutePath()))
            return folderFailure(path, u"作成できません"_s);
        if (const QString why = makeOwnFolder(path); !why.isEmpty())
            return folderFailure(path, why);
    } else if (const QString why = ownFolderProblem(path); !why.isEmpty()) {
        return folderFailure(path, why);
    }
    if (!QFileInfo(path).isWritable())
        return folderFailure(path, u"書き込みが許可されていません"_s);
    return path;
}

} // namespace

PrintSettings readPrintSettings(const QString& iniPath)
{
    PrintSettings settings;
    const auto keys = KorDAO::readIniSection(iniPath, u"Print");
    if (!keys)
        return settings;
    if (const QString folder = keys->value(u"FOLDER"_s); !folder.isEmpty())
        settings.folder = QFileInfo(iniPath).absoluteDir().absoluteFilePath(folder);
    if (const auto open = keys->find(u"OPEN"_s); open != keys->end())
        settings.open = *open != u"0"_s;
    return settings;
}

PrintSettings printSettings()
{
    for (const QString& folder : KorDAO::iniSearchFolders()) {
        const QFileInfo ini(QDir(folder), u"MOX.INI"_s);
        if (ini.isFile())
            return readPrintSettings(ini.absoluteFilePath());
    }
    return {};
}

Result<QString> printFolder(const QString& programDir, const PrintSettings& settings)
{
    if (!settings.folder.isEmpty())
        return configured(settings.folder);
    const QFileInfo program(programDir);
    if (!programDir.isEmpty() && program.isDir() && program.isWritable() &&
        !isSystemFolder(programDir) && ownFolderProblem(programDir).isEmpty())
        return program.absoluteFilePath();
    return dataFolder(u"print"_s);
}

Result<QString> dataFolder(const QString& sub)
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(data))
        data = QDir::homePath() + u"/.local/share"_s;
    data = QDir::cleanPath(data);
    if (!QDir().mkpath(data))
        return folderFailure(data, u"作成できません"_s);
    // Both levels are this program's own: made 0700, and closed again when left open by hand.
    QString folder = data + u"/mox"_s;
    if (const QString why = makeOwnFolder(folder); !why.isEmpty())
        return folderFailure(folder, why);
    if (sub.isEmpty())
        return folder;
    folder += u'/' + sub;
    if (const QString why = makeOwnFolder(folder); !why.isEmpty())
        return folderFailure(folder, why);
    return folder;
}

} // namespace mox
