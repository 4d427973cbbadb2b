#include "base/privatefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The reason a folder's status makes it unusable, empty when it is fine.
QString statProblem(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return u"シンボリックリンクです"_s;
    if (!S_ISDIR(st.st_mode))
        return u"フォルダではありません"_s;
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return u"ほかのユーザーのフォルダです"_s;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return u"グループやほかのユーザーが書き込めます"_s;
    return {};
}

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

} // namespace

QString ownFolderProblem(const QString& folder)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(QDir::cleanPath(folder)).constData(), &st) != 0)
        return systemReason(errno);
    return statProblem(st);
}

QString makeOwnFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(QDir::cleanPath(folder));
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return systemReason(errno);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return systemReason(errno);
    if (S_ISLNK(st.st_mode))
        return u"シンボリックリンクです"_s;
    if (!S_ISDIR(st.st_mode))
        return u"フォルダではありません"_s;
    if (st.st_uid != ::geteuid())
        return u"ほかのユーザーのフォルダです"_s;
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return systemReason(errno);
    return {};
}

PrivateFile::PrivateFile(QString path) : m_path(QDir::cleanPath(path))
{
    const QFileInfo info(m_path);
    m_folder = info.absolutePath();
    m_name = QFile::encodeName(info.fileName());
}

PrivateFile::~PrivateFile()
{
    cancel();
    if (m_dirFd >= 0)
        ::close(m_dirFd);
}

QIODevice* PrivateFile::device() const
{
    return m_file.get();
}

bool PrivateFile::fail(const QString& message)
{
    m_error = message;
    cancel();
    return false;
}

// True (with the error set) when the file's place holds a link, something that is not a plain
// file, or a file of another user.
bool PrivateFile::placeProblem()
{
    struct stat st {};
    if (::fstatat(m_dirFd, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return false;
        m_error =
            u"ファイル %1 を確認できません（%2）。"_s.arg(nativePath(m_path), systemReason(errno));
        return true;
    }
    if (m_keepExisting) {
        m_error = u"ファイル %1 は既にあるため上書きしません。"_s.arg(nativePath(m_path));
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        m_error = u"ファイル %1 がシンボリックリンクになっているため書き込みません。"_s.arg(
            nativePath(m_path));
        return true;
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        m_error =
            u"ファイル %1 はほかのユーザーのファイルか通常のファイルではないため書き込みません。"_s
                .arg(nativePath(m_path));
        return true;
    }
    return false;
}

bool PrivateFile::open()
{
    cancel();
    m_error.clear();
    if (m_dirFd >= 0) {
        ::close(m_dirFd);
        m_dirFd = -1;
    }
    const QString folder = nativePath(m_folder);
    m_dirFd = ::open(QFile::encodeName(m_folder).constData(),
                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_dirFd < 0) {
        const QString why =
            errno == ELOOP || errno == ENOTDIR ? u"シンボリックリンクです"_s : systemReason(errno);
        return fail(u"フォルダ %1 を使えません（%2）。"_s.arg(folder, why));
    }
    struct stat st {};
    if (::fstat(m_dirFd, &st) != 0)
        return fail(u"フォルダ %1 を使えません（%2）。"_s.arg(folder, systemReason(errno)));
    if (const QString why = statProblem(st); !why.isEmpty())
        return fail(u"フォルダ %1 を使えません（%2）。"_s.arg(folder, why));
    if (placeProblem())
        return false;

    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        m_tempName =
            "." + m_name + "." + QByteArray::number(QRandomGenerator::system()->generate(), 36);
        fd = ::openat(m_dirFd, m_tempName.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const QString why = systemReason(errno);
        m_tempName.clear();
        return fail(u"ファイル %1 を作成できません（%2）。"_s.arg(nativePath(m_path), why));
    }
    m_file = std::make_unique<QFile>();
    if (!m_file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(u"ファイル %1 を作成できません（%2）。"_s.arg(nativePath(m_path),
                                                                  m_file->errorString()));
    }
    return true;
}

bool PrivateFile::commit()
{
    if (!m_file)
        return fail(u"ファイル %1 は開かれていません。"_s.arg(nativePath(m_path)));
    const bool written = m_file->flush() && ::fsync(m_file->handle()) == 0 &&
                         m_file->error() == QFileDevice::NoError;
    if (!written) {
        return fail(u"ファイル %1 を書き込めません（%2）。"_s.arg(nativePath(m_path),
                                                                  m_file->errorString()));
    }
    m_file->close();
    m_file.reset();
    // Something planted while the file was written is refused as well; the rename would replace
    // only the link itself, but the user learns that someone is at work in the folder.
    if (placeProblem()) {
        const QString message = m_error;
        return fail(message);
    }
    if (m_keepExisting) {
        // A link fails when the name exists, even if it appeared after the check above.
        if (::linkat(m_dirFd, m_tempName.constData(), m_dirFd, m_name.constData(), 0) != 0) {
            const int error = errno;
            return fail(error == EEXIST ? u"ファイル %1 は既にあるため上書きしません。"_s.arg(
                                              nativePath(m_path))
                                        : u"ファイル %1 を書き込めません（%2）。"_s.arg(
                                              nativePath(m_path), systemReason(error)));
        }
        ::unlinkat(m_dirFd, m_tempName.constData(), 0);
    } else if (::renameat(m_dirFd, m_tempName.constData(), m_dirFd, m_name.constData()) != 0) {
        return fail(
            u"ファイル %1 を書き込めません（%2）。"_s.arg(nativePath(m_path), systemReason(errno)));
    }
    m_tempName.clear();
    return true;
}

void PrivateFile::cancel()
{
    m_file.reset();
    if (!m_tempName.isEmpty() && m_dirFd >= 0)
        ::unlinkat(m_dirFd, m_tempName.constData(), 0);
    m_tempName.clear();
}

bool writeWhole(PrivateFile& file, const QByteArray& bytes)
{
    return file.open() && file.device()->write(bytes) == bytes.size() && file.commit();
}

QByteArray sha256sumLine(const QByteArray& sha256Hex, const QString& fileName)
{
    return sha256Hex + "  " + QFile::encodeName(fileName) + '\n';
}

} // namespace mox
