#include "inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <mutex>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

std::mutex g_confinedMutex;
QString g_confinedFolder; // set by confineIniSearch: the one folder searched

} // namespace

void confineIniSearch(const QString& folder)
{
    std::lock_guard lock(g_confinedMutex);
    g_confinedFolder = folder.isEmpty() ? QString() : QDir(folder).absolutePath();
}

QStringList iniSearchFolders()
{
    {
        std::lock_guard lock(g_confinedMutex);
        if (!g_confinedFolder.isEmpty())
            return {g_confinedFolder};
    }
    QStringList folders;
    const QString fromEnv = qEnvironmentVariable("MOX_INI_DIR");
    if (!fromEnv.isEmpty())
        folders << fromEnv;
    folders << QDir::currentPath();
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + u"/.config"_s;
    folders << config + u"/mox"_s << u"/etc/mox"_s;
    return folders;
}

namespace {

// The value part of "key = value ; comment": comment cut, blanks trimmed, quotes removed.
QString iniValue(QStringView raw)
{
    QString out;
    bool quoted = false;
    bool wasQuoted = false;
    for (QChar c : raw) {
        if (c == u'"') {
            quoted = !quoted;
            wasQuoted = true;
            continue;
        }
        if (!quoted && (c == u';' || c == u'#'))
            break;
        out += c;
    }
    return wasQuoted ? out : out.trimmed();
}

} // namespace

QString findIniFile(const QString& name)
{
    for (const QString& folder : iniSearchFolders()) {
        const QFileInfo f(QDir(folder), name);
        if (f.isFile())
            return f.absoluteFilePath();
    }
    return {};
}

std::optional<DbSettings> readDbSettings(const QString& path, short* status, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *status = -20;
        *error = u"%1 を読めません: %2"_s.arg(path, file.errorString());
        return std::nullopt;
    }
    QHash<QString, QString> keys; // upper-case key -> value, of [Database] only
    bool inDatabase = false;
    bool sawDatabase = false;
    const QString text = QString::fromUtf8(file.readAll());
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QStringView section = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inDatabase = section.compare(u"Database", Qt::CaseInsensitive) == 0;
            sawDatabase = sawDatabase || inDatabase;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inDatabase || eq < 0)
            continue;
        keys.insert(line.left(eq).trimmed().toString().toUpper(), iniValue(line.mid(eq + 1)));
    }
    if (!sawDatabase) {
        *status = -1;
        *error = u"%1 に [Database] セクションがありません。"_s.arg(path);
        return std::nullopt;
    }
    DbSettings s;
    const QString driver = keys.value(u"DRIVER"_s);
    if (driver.compare(u"QSQLITE", Qt::CaseInsensitive) == 0) {
        s.engine = Engine::Sqlite;
    } else if (driver.compare(u"QPSQL", Qt::CaseInsensitive) == 0) {
        s.engine = Engine::Postgres;
    } else {
        *status = -1;
        *error = driver.isEmpty()
                     ? u"%1 の [Database] に Driver= がありません。"_s.arg(path)
                     : u"%1 の Driver=%2 は使えません (QSQLITE または QPSQL)。"_s.arg(path, driver);
        return std::nullopt;
    }
    const QString database = keys.value(u"DATABASE"_s);
    if (database.isEmpty()) {
        *status = -18;
        *error = u"%1 の [Database] に Database= がありません。"_s.arg(path);
        return std::nullopt;
    }
    if (const QString timeout = keys.value(u"LOCKTIMEOUT"_s); !timeout.isEmpty()) {
        bool ok = false;
        s.lockTimeout = timeout.toInt(&ok);
        if (!ok || s.lockTimeout < 1 || s.lockTimeout > 3600) {
            *status = -18;
            *error = u"%1 の LockTimeout=%2 が不正です (1〜3600 秒)。"_s.arg(path, timeout);
            return std::nullopt;
        }
    }
    if (s.engine == Engine::Sqlite) {
        s.database = QDir::cleanPath(QFileInfo(path).absoluteDir().absoluteFilePath(database));
        return s;
    }
    s.database = database;
    s.host = keys.value(u"HOST"_s);
    s.user = keys.value(u"USER"_s);
    s.hasPassword = keys.contains(u"PASSWORD"_s);
    s.password = keys.value(u"PASSWORD"_s);
    if (const QString port = keys.value(u"PORT"_s); !port.isEmpty()) {
        bool ok = false;
        s.port = port.toInt(&ok);
        if (!ok || s.port <= 0 || s.port > 65535) {
            *status = -18;
            *error = u"%1 の Port=%2 が不正です。"_s.arg(path, port);
            return std::nullopt;
        }
    }
    return s;
}

} // namespace KorDAO
