#include "mox/printfolder.h"

#include "kordao/kordao.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

constexpr QFileDevice::Permissions kOwnerOnly =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

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

// Makes \p folder (and its parents) when missing; \p ownerOnly makes a new one 0700.
Result<QString> usable(const QString &folder, bool ownerOnly) {
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    if (!QFileInfo(path).isDir()) {
        if (!QDir().mkpath(path))
            return folderFailure(path, u"作成できません"_s);
        if (ownerOnly)
            QFile::setPermissions(path, kOwnerOnly);
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
        return usable(settings.folder, /*ownerOnly=*/true);
    const QFileInfo program(programDir);
    if (!programDir.isEmpty() && program.isDir() && program.isWritable() &&
        !isSystemFolder(programDir))
        return program.absoluteFilePath();
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + u"/.local/share"_s;
    Result<QString> folder = usable(data + u"/mox/print"_s, /*ownerOnly=*/true);
    // The folder is this program's own: one left open to others by hand is closed again.
    if (!failure(folder))
        QFile::setPermissions(value(folder), kOwnerOnly);
    return folder;
}

} // namespace mox
