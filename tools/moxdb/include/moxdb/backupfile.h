#pragma once

// The backup file: a POSIX tar archive (ustar) that standard tools can list and unpack
// (`tar tvf mox.moxbak`), written and read by our own code. Its first member is manifest.txt,
// the others the databases, each a plain file of mode 0600:
//
//     BackupWriter w(device);
//     w.addMember(u"manifest.txt"_s, manifestBytes);
//     w.addFile(u"MOX.sqlite"_s, copyPath);       // streamed, never held in memory whole
//     w.finish();                                 // the two zero blocks that end an archive
//
// The manifest is UTF-8 "key=value" lines; "#" starts a comment line:
//
//     format=mox-backup 1
//     release=1.0
//     schema=1
//     engine=sqlite                       (or postgresql)
//     created=2026-12-08T07:40:12Z
//     member.MOX.sqlite.sha256=<64 hex digits>
//     member.MOX.sqlite.size=<bytes>
//     count.MOX.GKKYUYO=4012               (records of each table of each database)

#include "base/status.h"

#include <QByteArray>
#include <QIODevice>
#include <QMap>
#include <QString>

#include <vector>

namespace moxdb {

/// The first line of every manifest: what the file is and the version of its layout.
inline constexpr char kBackupFormat[] = "mox-backup 1";
inline const QString kManifestName = QStringLiteral("manifest.txt");

struct BackupManifest {
    QString release;
    int schema = 0;
    QString engine; // "sqlite" or "postgresql"
    QString created;
    struct Member {
        QString name;
        QByteArray sha256; // hex
        qint64 size = 0;
    };
    std::vector<Member> members;
    /// Records per table, keyed "MOX.GKKYUYO" / "MOXENV.名設定".
    QMap<QString, qint64> counts;

    QByteArray toText() const;
    /// Reads \p text; a failure naming \p file and the line when it is no manifest of ours.
    static mox::Result<BackupManifest> parse(const QByteArray& text, const QString& file);
    const Member* member(const QString& name) const;
};

/// Writes a tar archive to \p device, member by member.
class BackupWriter {
public:
    explicit BackupWriter(QIODevice* device) : m_device(device) {}
    bool addMember(const QString& name, const QByteArray& data);
    /// Copies the file \p path as member \p name and gives its sha256 (hex) in \p sha256.
    bool addFile(const QString& name, const QString& path, QByteArray* sha256);
    bool finish();
    /// After a failure: why (the device's or the source file's error).
    const QString& error() const { return m_error; }

private:
    bool header(const QString& name, qint64 size);
    bool pad(qint64 size);
    QIODevice* m_device;
    QString m_error;
};

/// One member of an archive as found by readBackupIndex.
struct TarMember {
    QString name;
    qint64 offset = 0; // of the data in the file
    qint64 size = 0;
};

/// Lists the members of the tar archive \p file, checking every header. A file that is no tar
/// archive, a header whose checksum is wrong and an archive that ends before its last member
/// or without its end blocks are failures that say so and name the file.
mox::Result<std::vector<TarMember>> readBackupIndex(const QString& file);

/// The data of \p member of \p file (for the manifest: small).
mox::Result<QByteArray> readMember(const QString& file, const TarMember& member);

/// Copies \p member of \p file to the new file \p target (0600) and gives its sha256 (hex).
mox::Result<QByteArray> extractMember(const QString& file, const TarMember& member,
                                      const QString& target);

} // namespace moxdb
