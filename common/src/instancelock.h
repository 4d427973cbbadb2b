#pragma once

// A lock that tells whether another process runs the same program. It is an advisory lock
// (flock) on a file: the kernel drops it when the holding process ends in any way, a kill -9
// included, so a crashed copy never blocks the next start.

#include "base/status.h"

#include <QString>

namespace mox {

class InstanceLock {
public:
    enum class Outcome {
        Taken,         // this object holds the lock now
        HeldElsewhere, // another process (or another InstanceLock object) holds it
        Failed,        // the lock file could not be created or locked; see error()
    };

    /// The lock of \p programName in \p folder (the file "<programname>.lock", lower case).
    InstanceLock(const QString& folder, const QString& programName);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    /// Takes the lock without waiting. The file is created 0600 and never through a symbolic
    /// link: a link in its place is a failure, so nobody can make the lock create or lock a
    /// file elsewhere.
    Outcome tryLock();

    const QString& path() const { return m_path; }
    /// After Failed: the Japanese message naming the file and the system's reason.
    const QString& error() const { return m_error; }

private:
    QString m_path;
    QString m_error;
    int m_fd = -1;
};

/// The per-user private folder of the lock files: $XDG_RUNTIME_DIR when it is a folder of this
/// user that nobody else may enter, else "mox" in $XDG_CACHE_HOME (default ~/.cache), created
/// 0700 (an existing one of this user is made 0700). Never a shared folder such as /tmp. A
/// Status -1 with a message naming the folder when it cannot be made or is not this user's.
Result<QString> privateLockFolder();

} // namespace mox
