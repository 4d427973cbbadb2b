#include "inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>
#include <QStringList>

#include <cstdio>
#include <mutex>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

std::mutex g_confinedMutex;
QString g_confinedFolder; // set by confineIniSearch: the one folder searched

std::mutex g_noticesMutex;
Notices g_notices; // set by setNotices

// True when \p folder is the user's own and only the user may add or replace files in it: the
// current folder is often a shared one, where another user could leave a MOX.INI that points
// this user's work at her database and print folder.
bool isOwnClosedFolder(const QString& folder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

void setNotices(Notices notices)
{
    std::lock_guard lock(g_noticesMutex);
    g_notices = std::move(notices);
}

void noticeWarning(const QString& text)
{
    std::function<void(const QString&)> warning;
    {
        std::lock_guard lock(g_noticesMutex);
        warning = g_notices.warning;
    }
    // Called outside the lock: a program's handler may show a box and run its event loop.
    if (warning)
        warning(text);
}

void noticeOpened(const QString& iniName, const QString& location)
{
    std::function<void(const QString&, const QString&)> opened;
    {
        std::lock_guard lock(g_noticesMutex);
        opened = g_notices.opened;
    }
    if (opened)
        opened(iniName, location);
}

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
    const QString current = QDir::currentPath();
    if (isOwnClosedFolder(current))
        folders << current;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + u"/.config"_s;
    folders << config + u"/mox"_s << u"/etc/mox"_s;
    return folders;
}

namespace {

// The value part of "key = value": blanks trimmed, then one pair of double quotes around the
// whole value removed (keeping the blanks inside). ";" and "#" are part of the value: they start
// a comment only at the start of a line, so "Password=ab#cd" is "ab#cd".
QString iniValue(QStringView raw)
{
    const QStringView v = raw.trimmed();
    if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"'))
        return v.mid(1, v.size() - 2).toString();
    return v.toString();
}

// The text of an INI file: UTF-8 when it starts with a byte order mark or decodes as UTF-8
// without error, otherwise CP932, as files saved by Japanese Windows editors are. nullopt when
// it is neither.
std::optional<QString> iniText(const QByteArray& bytes)
{
    static constexpr char kBom[] = "\xEF\xBB\xBF";
    if (bytes.startsWith(kBom))
        return QString::fromUtf8(bytes.mid(3));
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder cp932("cp932", QStringConverter::Flag::Stateless);
    if (!cp932.isValid())
        return std::nullopt;
    text = cp932.decode(bytes);
    if (cp932.hasError())
        return std::nullopt;
    return text;
}

// A password in a file others may read is no secret: says so on standard error and through the
// warning notice, once per file in a process (the programs read their INI files again on every
// open).
void warnIfPasswordExposed(const QString& path)
{
    const QFileDevice::Permissions p = QFile::permissions(path);
    if (!(p & (QFileDevice::ReadGroup | QFileDevice::ReadOther)))
        return;
    static std::mutex mutex;
    static std::set<QString> warned;
    {
        std::lock_guard lock(mutex);
        if (!warned.insert(path).second)
            return;
    }
    const QString text =
        u"警告: %1 に Password= が書かれていますが、このファイルは所有者以外 (グループまたは"
        "他のユーザー) も読めます。chmod 600 %1 で所有者だけが読めるようにするか、"
        "パスワードを ~/.pgpass に移してください。"_s.arg(path);
    std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    // Started from the desktop's menu, a program has no standard error anyone reads.
    noticeWarning(text);
}

// The longest StatementTimeout= accepted, in seconds: a day.
constexpr int kMaxStatementTimeout = 86400;

// \p value when it is one of \p allowed (compared without regard to case), in lower case as
// libpq takes it; nullopt otherwise.
std::optional<QString> oneOf(const QString& value, const QStringList& allowed)
{
    const QString lower = value.toLower();
    if (allowed.contains(lower))
        return lower;
    return std::nullopt;
}

// The encryption keys of a PostgreSQL [Database]: SslMode=, ChannelBinding= (libpq's values) and
// the files SslRootCert=, SslCert=, SslKey=, relative to the INI file's folder. kBadSetting
// for a value libpq does not know, or a path the Qt driver cannot pass on: it turns
// every ";" of the connect options into a blank.
mox::Status readTlsKeys(const QHash<QString, QString>& keys, const QString& path,
                        const QDir& iniFolder, DbSettings* s)
{
    static const QStringList sslModes = {u"disable"_s, u"allow"_s,     u"prefer"_s,
                                         u"require"_s, u"verify-ca"_s, u"verify-full"_s};
    static const QStringList bindings = {u"disable"_s, u"prefer"_s, u"require"_s};
    if (const QString v = keys.value(u"SSLMODE"_s); !v.isEmpty()) {
        const std::optional<QString> mode = oneOf(v, sslModes);
        if (!mode) {
            return mox::Status::failure(kBadSetting,
                                        u"%1 の SslMode=%2 は使えません (%3 のいずれか)。"_s.arg(
                                            path, v, sslModes.join(u", "_s)));
        }
        s->sslMode = *mode;
    }
    if (const QString v = keys.value(u"CHANNELBINDING"_s); !v.isEmpty()) {
        const std::optional<QString> binding = oneOf(v, bindings);
        if (!binding) {
            return mox::Status::failure(
                kBadSetting, u"%1 の ChannelBinding=%2 は使えません (%3 のいずれか)。"_s.arg(
                                 path, v, bindings.join(u", "_s)));
        }
        s->channelBinding = *binding;
    }
    const struct {
        const char16_t* key;
        const char16_t* name;
        QString DbSettings::*field;
    } files[] = {
        {u"SSLROOTCERT", u"SslRootCert", &DbSettings::sslRootCert},
        {u"SSLCERT", u"SslCert", &DbSettings::sslCert},
        {u"SSLKEY", u"SslKey", &DbSettings::sslKey},
    };
    for (const auto& f : files) {
        const QString v = keys.value(QString::fromUtf16(f.key));
        if (v.isEmpty())
            continue;
        if (v.contains(u';')) {
            return mox::Status::failure(
                kBadSetting,
                u"%1 の %2=%3 は使えません。ファイル名に「;」を含むファイルは指定できません。"_s
                    .arg(path, QString::fromUtf16(f.name), v));
        }
        s->*f.field = QDir::cleanPath(iniFolder.absoluteFilePath(v));
    }
    return mox::Status::success();
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

namespace {

// The keys of [\p section] in \p text (upper-case key -> value; a key given twice keeps its last
// value). \p seen tells whether the section is there; \p holdsPassword whether any section has a
// non-empty Password=.
QHash<QString, QString> sectionKeys(QStringView text, QStringView section, bool* seen,
                                    bool* holdsPassword)
{
    QHash<QString, QString> keys;
    bool inSection = false;
    *seen = false;
    *holdsPassword = false;
    for (QStringView line : text.split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QStringView name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            *seen = *seen || inSection;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed().toString().toUpper();
        QString value = iniValue(line.mid(eq + 1));
        if (key == u"PASSWORD" && !value.isEmpty())
            *holdsPassword = true;
        if (inSection)
            keys.insert(key, std::move(value));
    }
    return keys;
}

} // namespace

std::optional<QHash<QString, QString>> readIniSection(const QString& path, QStringView section)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const std::optional<QString> text = iniText(file.readAll());
    if (!text)
        return std::nullopt;
    bool seen = false;
    bool holdsPassword = false;
    return sectionKeys(*text, section, &seen, &holdsPassword);
}

namespace {
mox::Result<DbSettings> settingsOf(const QHash<QString, QString>& keys, const QString& path);
} // namespace

mox::Result<DbSettings> readDbSettings(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return mox::Status::failure(kDatabaseMissing,
                                    u"%1 を読めません: %2"_s.arg(path, file.errorString()));
    }
    const std::optional<QString> text = iniText(file.readAll());
    if (!text) {
        return mox::Status::failure(
            kOpenFailed,
            u"%1 の文字コードが UTF-8 でも CP932 (シフトJIS) でもありません。"_s.arg(path));
    }
    bool sawDatabase = false;
    bool holdsPassword = false;
    // upper-case key -> value, of [Database] only
    const QHash<QString, QString> keys =
        sectionKeys(*text, u"Database", &sawDatabase, &holdsPassword);
    if (holdsPassword)
        warnIfPasswordExposed(path);
    if (!sawDatabase) {
        return mox::Status::failure(kOpenFailed,
                                    u"%1 に [Database] セクションがありません。"_s.arg(path));
    }
    return settingsOf(keys, path);
}

namespace {

// The settings that the keys of [Database] (upper-case key -> value) of the file \p path give,
// or the status and a message naming the key at fault.
mox::Result<DbSettings> settingsOf(const QHash<QString, QString>& keys, const QString& path)
{
    DbSettings s;
    const QString driver = keys.value(u"DRIVER"_s);
    if (driver.compare(u"QSQLITE", Qt::CaseInsensitive) == 0) {
        s.engine = Engine::Sqlite;
    } else if (driver.compare(u"QPSQL", Qt::CaseInsensitive) == 0) {
        s.engine = Engine::Postgres;
    } else {
        return mox::Status::failure(
            kOpenFailed,
            driver.isEmpty()
                ? u"%1 の [Database] に Driver= がありません。"_s.arg(path)
                : u"%1 の Driver=%2 は使えません (QSQLITE または QPSQL)。"_s.arg(path, driver));
    }
    const QString database = keys.value(u"DATABASE"_s);
    if (database.isEmpty()) {
        return mox::Status::failure(kBadSetting,
                                    u"%1 の [Database] に Database= がありません。"_s.arg(path));
    }
    if (const QString timeout = keys.value(u"LOCKTIMEOUT"_s); !timeout.isEmpty()) {
        bool ok = false;
        s.lockTimeout = timeout.toInt(&ok);
        if (!ok || s.lockTimeout < 1 || s.lockTimeout > 3600) {
            return mox::Status::failure(
                kBadSetting,
                u"%1 の LockTimeout=%2 が不正です (1〜3600 秒)。"_s.arg(path, timeout));
        }
    }
    if (const QString timeout = keys.value(u"STATEMENTTIMEOUT"_s); !timeout.isEmpty()) {
        bool ok = false;
        s.statementTimeout = timeout.toInt(&ok);
        if (!ok || s.statementTimeout < 0 || s.statementTimeout > kMaxStatementTimeout) {
            return mox::Status::failure(
                kBadSetting, u"%1 の StatementTimeout=%2 が不正です (1〜%3 秒、0 は無制限)。"_s.arg(
                                 path, timeout, QString::number(kMaxStatementTimeout)));
        }
    }
    const QDir iniFolder = QFileInfo(path).absoluteDir();
    if (s.engine == Engine::Sqlite) {
        s.database = QDir::cleanPath(iniFolder.absoluteFilePath(database));
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
            return mox::Status::failure(kBadSetting,
                                        u"%1 の Port=%2 が不正です。"_s.arg(path, port));
        }
    }
    if (mox::Status tls = readTlsKeys(keys, path, iniFolder, &s); !tls.ok())
        return tls;
    return s;
}

} // namespace

QString configuredSqliteFile(const QString& iniName)
{
    const QString path = findIniFile(iniName);
    if (path.isEmpty())
        return QString();
    const mox::Result<DbSettings> settings = readDbSettings(path);
    if (mox::failure(settings) || mox::value(settings).engine != Engine::Sqlite)
        return QString();
    return mox::value(settings).database;
}

} // namespace KorDAO
