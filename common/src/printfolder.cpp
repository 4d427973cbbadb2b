#include "mox/printfolder.h"

#include "kordao/kordao.h"
#include "mox/privatefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

// UTF-8 (with or without a byte order mark) when it decodes cleanly, otherwise CP932.
QString decodeIni(const QByteArray &bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder cp932("cp932", QStringConverter::Flag::Stateless);
    return cp932.isValid() ? cp932.decode(bytes) : text;
}

QString unquoted(QStringView v) {
    v = v.trimmed();
    if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"'))
        v = v.mid(1, v.size() - 2);
    return v.toString();
}

bool isSystemFolder(const QString &folder) {
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    return clean == u"/usr"_s || clean.startsWith(u"/usr/"_s);
}

Status folderFailure(const QString &folder, const QString &why) {
    return Status::failure(-1, u"印刷ファイルのフォルダ %1 を使えません（%2）。"_s.arg(
                                   QDir::toNativeSeparators(folder), why));
}

// Folder= of MOX.INI: made 0700 when missing (its parents as the system makes them); an existing
// one is taken only when it is the user's own (or root's) and closed to others' writing.
Result<QString> configured(const QString &folder) {
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

PrintSettings readPrintSettings(const QString &iniPath) {
    PrintSettings settings;
    QFile file(iniPath);
    if (iniPath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return settings;
    const QString text = decodeIni(file.readAll());
    bool inPrint = false;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            inPrint = line.mid(1, close < 0 ? -1 : close - 1).trimmed().compare(
                          u"Print", Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inPrint || eq < 0)
            continue;
        const QStringView key = line.left(eq).trimmed();
        const QString value = unquoted(line.mid(eq + 1));
        if (key.compare(u"Folder", Qt::CaseInsensitive) == 0 && !value.isEmpty())
            settings.folder = QFileInfo(iniPath).absoluteDir().absoluteFilePath(value);
        else if (key.compare(u"Open", Qt::CaseInsensitive) == 0)
            settings.open = value != u"0"_s;
    }
    return settings;
}

PrintSettings printSettings() {
    for (const QString &folder : KorDAO::iniSearchFolders()) {
        const QFileInfo ini(QDir(folder), u"MOX.INI"_s);
        if (ini.isFile())
            return readPrintSettings(ini.absoluteFilePath());
    }
    return {};
}

Result<QString> printFolder(const QString &programDir, const PrintSettings &settings) {
    if (!settings.folder.isEmpty())
        return configured(settings.folder);
    const QFileInfo program(programDir);
    if (!programDir.isEmpty() && program.isDir() && program.isWritable() &&
        !isSystemFolder(programDir) && ownFolderProblem(programDir).isEmpty())
        return program.absoluteFilePath();
    return dataFolder(u"print"_s);
}

Result<QString> dataFolder(const QString &sub) {
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
