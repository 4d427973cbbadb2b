#pragma once

// The folder a backup or a restore works in (database copies, unpacked members), removed when
// the work ends, and removed by the next run when a process killed on the way left it behind.
//
//     sweepWorkFolders(folder, u".moxbackup-"_s);            // what killed runs left, only theirs
//     WorkFolder work(folder, u".moxbackup-"_s);             // <folder>/.moxbackup-XXXXXX, 0700
//     if (!work.isValid()) return fail(work.errorString());
//     work.addCompanion(archiveTemporaryName);               // a file of this work beside it
//
// While the object lives, the file ".lock" in the folder is held under flock(); the kernel lets
// go of it when the process ends, however it ends. A folder whose lock nobody holds therefore
// belongs to a run that is over. ".lock" also names the companions: files in the parent folder
// that the run would have removed or renamed (the temporary archive), removed with the folder.

#include <QString>
#include <QTemporaryDir>

namespace moxdb {

class WorkFolder {
public:
    /// Makes a new folder \p prefix + six random characters in \p parent, mode 0700, with its
    /// lock held. isValid() tells whether that worked.
    WorkFolder(const QString& parent, const QString& prefix);
    ~WorkFolder(); // removes the folder, then lets go of the lock
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    bool isValid() const { return m_lockFd >= 0; }
    /// After a failure: the reason, in Japanese, naming the parent folder.
    const QString& errorString() const { return m_error; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    /// Records \p name (a file name in the parent folder, no '/') as this work's companion, for
    /// a later sweep to remove if this process dies before it removes or renames it itself.
    /// False when it could not be recorded.
    bool addCompanion(const QByteArray& name);

private:
    QTemporaryDir m_dir;
    QString m_error;
    int m_lockFd = -1;
};

/// Removes from \p parent every folder named \p prefix + six characters that a run which is over
/// left behind, with its companions: a real folder (never a link) of this user whose ".lock"
/// nobody holds, or, without a ".lock", one untouched for a day. A folder of another user, a
/// link, a live run's folder and every other file stay as they are; nothing inside is followed.
/// The number of folders removed.
int sweepWorkFolders(const QString& parent, const QString& prefix);

} // namespace moxdb
