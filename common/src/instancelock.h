#pragma once

// A lock that tells whether another process runs the same program. It is an advisory lock
// (flock) on a file: the kernel drops it when the holding process ends in any way, a kill -9
// included, so a crashed copy never blocks the next start.

#include <QString>

namespace mox {

class InstanceLock {
public:
    /// The lock of \p programName in \p folder (the file "<programName>.lock").
    InstanceLock(const QString &folder, const QString &programName);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    /// Takes the lock without waiting. True when this object holds it now; false when another
    /// process (or another InstanceLock object) holds it, or the file cannot be opened.
    bool tryLock();

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace mox
