#include "moxdb/workfolder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

constexpr char kLockName[] = ".lock";
constexpr std::time_t kUnlockedAge = 24 * 60 * 60; // seconds: a folder without a lock file

// Closes a descriptor when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// Removes everything in the folder \p dirFd and, one level down, in its folders; links are
// removed as links, never followed.
void emptyFolder(int dirFd, int depth)
{
    const int listFd = ::dup(dirFd);
    if (listFd < 0)
        return;
    DIR* list = ::fdopendir(listFd);
    if (!list) {
        ::close(listFd);
        return;
    }
    while (const dirent* e = ::readdir(list)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISDIR(st.st_mode)) {
            ::unlinkat(dirFd, e->d_name, 0);
            continue;
        }
        if (depth > 0) {
            Fd sub(::openat(dirFd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub.fd >= 0)
                emptyFolder(sub.fd, depth - 1);
        }
        ::unlinkat(dirFd, e->d_name, AT_REMOVEDIR);
    }
    ::closedir(list);
}

// Removes the companion files that \p lockFd names from \p parentFd: plain files of this user
// whose names are hidden names of that folder.
void removeCompanions(int parentFd, int lockFd)
{
    QByteArray text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(lockFd, buffer, sizeof buffer)) > 0 && text.size() < 65536;)
        text.append(buffer, qsizetype(n));
    for (const QByteArray& name : text.split('\n')) {
        if (!name.startsWith('.') || name == "." || name == ".." || name.contains('/'))
            continue;
        struct stat st {};
        if (::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlinkat(parentFd, name.constData(), 0);
    }
}

// True when the work folder \p dirFd (whose status is \p st) is over: its lock is free (then
// held by \p lockFd, for removeCompanions), or it has no lock file and is a day old.
bool isLeftOver(int dirFd, const struct stat& st, Fd& lockFd)
{
    lockFd.fd = ::openat(dirFd, kLockName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (lockFd.fd < 0)
        return errno == ENOENT && std::time(nullptr) - st.st_mtime > kUnlockedAge;
    struct stat lock {};
    if (::fstat(lockFd.fd, &lock) != 0 || !S_ISREG(lock.st_mode) || lock.st_uid != ::geteuid())
        return false;
    return ::flock(lockFd.fd, LOCK_EX | LOCK_NB) == 0;
}

} // namespace

WorkFolder::WorkFolder(const QString& parent, const QString& prefix)
    : m_dir(QDir(parent).filePath(prefix + u"XXXXXX"_s))
{
    if (!m_dir.isValid()) {
        m_error = u"作業用フォルダを %1 に作れません: %2"_s.arg(parent, m_dir.errorString());
        return;
    }
    QFile::setPermissions(m_dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray lock = QFile::encodeName(m_dir.filePath(QString::fromLatin1(kLockName)));
    const int fd =
        ::open(lock.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_error = u"作業用フォルダ %1 に鍵のファイルを作れません: %2"_s.arg(
            m_dir.path(), QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return;
    }
    m_lockFd = fd;
}

WorkFolder::~WorkFolder()
{
    m_dir.remove();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool WorkFolder::addCompanion(const QByteArray& name)
{
    if (m_lockFd < 0 || name.isEmpty() || name.contains('/') || name.contains('\n'))
        return false;
    const QByteArray line = name + '\n';
    return ::write(m_lockFd, line.constData(), std::size_t(line.size())) == line.size() &&
           ::fsync(m_lockFd) == 0;
}

int sweepWorkFolders(const QString& parent, const QString& prefix)
{
    Fd parentFd(::open(QFile::encodeName(parent).constData(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (parentFd.fd < 0)
        return 0;
    const QByteArray start = QFile::encodeName(prefix);
    QList<QByteArray> names;
    {
        const int listFd = ::dup(parentFd.fd);
        DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!list) {
            if (listFd >= 0)
                ::close(listFd);
            return 0;
        }
        while (const dirent* e = ::readdir(list)) {
            const QByteArray name(e->d_name);
            if (name.size() == start.size() + 6 && name.startsWith(start))
                names.append(name);
        }
        ::closedir(list);
    }
    int removed = 0;
    for (const QByteArray& name : std::as_const(names)) {
        struct stat st {};
        if (::fstatat(parentFd.fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        Fd dirFd(::openat(parentFd.fd, name.constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (dirFd.fd < 0)
            continue;
        Fd lockFd(-1);
        if (!isLeftOver(dirFd.fd, st, lockFd))
            continue;
        if (lockFd.fd >= 0)
            removeCompanions(parentFd.fd, lockFd.fd);
        emptyFolder(dirFd.fd, 1);
        if (::unlinkat(parentFd.fd, name.constData(), AT_REMOVEDIR) == 0)
            ++removed;
    }
    return removed;
}

} // namespace moxdb
