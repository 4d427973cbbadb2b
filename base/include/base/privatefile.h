#pragma once

// Files that hold salaries, written where no other local user can read, swap or plant them.
//
//     if (QString why = mox::ownFolderProblem(folder); !why.isEmpty()) ...   // refuse the folder
//     mox::PrivateFile out(QDir(folder).filePath(u"Mox030.pdf"_s));
//     if (!out.open()) return fail(out.errorString());
//     out.device()->write(...);
//     if (!out.commit()) return fail(out.errorString());
//
// A folder is usable when it is a real folder (not a symbolic link), owned by this user or by
// root, and neither its group nor others may write in it: nobody else can then put a link or a
// file of theirs in it. The file is written to a new temporary name in that folder, created with
// O_EXCL|O_NOFOLLOW and mode 0600, and renamed into place on commit. Everything goes through a
// descriptor of the checked folder, so swapping the folder for another after the check changes
// nothing. A link, or a file that is not this user's own, in the file's place is refused.

#include <QByteArray>
#include <QString>

#include <memory>

class QIODevice;
class QFile;

namespace mox {

/// Empty when \p folder is a real folder of this user (or of root) that group and others may not
/// write in; otherwise the reason in Japanese ("シンボリックリンクです" and the like).
QString ownFolderProblem(const QString& folder);

/// Makes \p folder (one level; its parent must exist) mode 0700 when missing. An existing one of
/// this user that others may read or enter is made 0700 again: the folder is this program's own.
/// Empty on success, otherwise the reason in Japanese; a folder of another user, or a link, is
/// never touched.
QString makeOwnFolder(const QString& folder);

class PrivateFile {
public:
    explicit PrivateFile(QString path);
    ~PrivateFile(); // an uncommitted temporary file is removed
    PrivateFile(const PrivateFile&) = delete;
    PrivateFile& operator=(const PrivateFile&) = delete;

    /// From now on an existing file of that name is never replaced: open() and commit() fail
    /// instead (for files kept as records, such as an archived ledger).
    void keepExisting() { m_keepExisting = true; }
    /// Checks the folder and whatever is in the file's place, then creates the temporary file.
    bool open();
    /// The temporary file, open for writing; null before a successful open().
    QIODevice* device() const;
    /// Flushes the temporary file to disk and renames it to the file's name. False (and the
    /// temporary file removed) when writing failed or the file's place is no longer acceptable.
    bool commit();
    /// Drops the temporary file; an older file stays as it was.
    void cancel();

    const QString& path() const { return m_path; }
    /// The temporary file's name in the folder between open() and commit() or cancel(), for a
    /// caller that must find it again if this process dies; empty otherwise.
    const QByteArray& temporaryName() const { return m_tempName; }
    /// After a failure: Japanese text naming the file or folder and the reason.
    const QString& errorString() const { return m_error; }

private:
    bool fail(const QString& message);
    bool placeProblem();

    QString m_path;
    QString m_folder;
    QByteArray m_name;
    QByteArray m_tempName;
    QString m_error;
    int m_dirFd = -1;
    bool m_keepExisting = false;
    std::unique_ptr<QFile> m_file;
};

/// Writes \p bytes as the whole of \p file: open, write, commit. False when a step fails, with
/// the reason in file.errorString().
bool writeWhole(PrivateFile& file, const QByteArray& bytes);

/// The line of a checksum file as sha256sum writes it: the digest, two blanks, the bare file name.
QByteArray sha256sumLine(const QByteArray& sha256Hex, const QString& fileName);

} // namespace mox
