#include "instancelock.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace mox {

InstanceLock::InstanceLock(const QString &folder, const QString &programName)
    : m_path(QDir(folder).filePath(programName.toLower() + QStringLiteral(".lock"))) {}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceLock::tryLock() {
    if (m_fd >= 0)
        return true;
    // O_CLOEXEC: a program started from this one must not inherit the lock.
    const int fd =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

} // namespace mox
