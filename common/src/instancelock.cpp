#include "instancelock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// True when \p folder is a real folder (not a link to one) of this user that no one else may
// read, write or enter.
bool isPrivateFolder(const QByteArray& folder)
{
    struct stat st {};
    return ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

} // namespace

InstanceLock::InstanceLock(const QString& folder, const QString& programName)
    : m_path(QDir(folder).filePath(programName.toLower() + QStringLiteral(".lock")))
{
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

InstanceLock::Outcome InstanceLock::tryLock()
{
    if (m_fd >= 0)
        return Outcome::Taken;
    m_error.clear();
    // O_CLOEXEC: a program started from this one must not inherit the lock.
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        const int error = errno;
        m_error =
            error == ELOOP
                ? u"ロックファイル %1 がシンボリックリンクになっているため使えません。"_s.arg(
                      m_path)
                : u"ロックファイル %1 を作成できません: %2"_s.arg(m_path, systemReason(error));
        return Outcome::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        m_error = u"ロックファイル %1 が通常のファイルではありません。"_s.arg(m_path);
        return Outcome::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Outcome::HeldElsewhere;
        m_error = u"ロックファイル %1 をロックできません: %2"_s.arg(m_path, systemReason(error));
        return Outcome::Failed;
    }
    m_fd = fd;
    return Outcome::Taken;
}

Result<QString> privateLockFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(QFile::encodeName(runtime)))
        return QDir::cleanPath(runtime);

    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + u"/.cache"_s;
    const QString folder = QDir::cleanPath(cache + u"/mox"_s);
    const QByteArray name = QFile::encodeName(folder);
    const auto failed = [&](const QString& reason) -> Result<QString> {
        return Status::failure(
            -1, u"ロックファイルのフォルダ %1 を用意できません: %2"_s.arg(folder, reason));
    };
    if (!QDir().mkpath(cache))
        return failed(u"%1 を作成できません。"_s.arg(cache));
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return failed(systemReason(errno));
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return failed(systemReason(errno));
    if (!S_ISDIR(st.st_mode))
        return failed(u"フォルダではありません。"_s);
    if (st.st_uid != ::geteuid())
        return failed(u"ほかのユーザーのフォルダです。"_s);
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return failed(systemReason(errno));
    return folder;
}

} // namespace mox
