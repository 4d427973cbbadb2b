#include "moxdb/backupfile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

constexpr qint64 kBlock = 512;
constexpr qint64 kChunk = 1 << 20; // bytes copied at a time

// Writes \p value as \p width - 1 octal digits and a NUL into \p field; larger sizes (from
// 8 GiB) in the base-256 form that GNU and POSIX readers take (first byte 0x80).
void putNumber(char* field, int width, qint64 value)
{
    const qint64 limit = qint64(1) << (3 * (width - 1));
    if (value < limit) {
        const QByteArray digits = QByteArray::number(value, 8).rightJustified(width - 1, '0');
        std::memcpy(field, digits.constData(), static_cast<std::size_t>(width - 1));
        field[width - 1] = '\0';
        return;
    }
    std::memset(field, 0, static_cast<std::size_t>(width));
    field[0] = static_cast<char>(0x80);
    for (int i = width - 1; i > 0 && value > 0; --i, value >>= 8)
        field[i] = static_cast<char>(value & 0xff);
}

// The number in \p field (octal, or base-256); -1 when it is neither.
qint64 getNumber(const char* field, int width)
{
    if (static_cast<unsigned char>(field[0]) == 0x80) {
        qint64 v = 0;
        for (int i = 1; i < width; ++i)
            v = (v << 8) | static_cast<unsigned char>(field[i]);
        return v;
    }
    QByteArray digits(field, width);
    digits = digits.left(digits.indexOf('\0') < 0 ? width : digits.indexOf('\0')).trimmed();
    bool ok = false;
    const qint64 v = digits.toLongLong(&ok, 8);
    return ok ? v : -1;
}

unsigned headerChecksum(const char* h)
{
    unsigned sum = 0;
    for (int i = 0; i < kBlock; ++i)
        sum += (i >= 148 && i < 156) ? unsigned(' ') : static_cast<unsigned char>(h[i]);
    return sum;
}

QString notOurs(const QString& file, const QString& why)
{
    return u"%1 はこのプログラムのバックアップとして読めません（%2）。"_s.arg(file, why);
}

} // namespace

QByteArray BackupManifest::toText() const
{
    QByteArray t = "format="_ba + kBackupFormat + '\n';
    t += "release=" + release.toUtf8() + '\n';
    t += "schema=" + QByteArray::number(schema) + '\n';
    t += "engine=" + engine.toUtf8() + '\n';
    t += "created=" + created.toUtf8() + '\n';
    for (const Member& m : members) {
        t += "member." + m.name.toUtf8() + ".sha256=" + m.sha256 + '\n';
        t += "member." + m.name.toUtf8() + ".size=" + QByteArray::number(m.size) + '\n';
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        t += "count." + it.key().toUtf8() + '=' + QByteArray::number(it.value()) + '\n';
    return t;
}

mox::Result<BackupManifest> BackupManifest::parse(const QByteArray& text, const QString& file)
{
    BackupManifest m;
    const QList<QByteArray> lines = text.split('\n');
    bool formatSeen = false;
    QMap<QString, Member> members;
    QStringList order;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype eq = line.indexOf('=');
        const auto bad = [&](const QString& why) {
            return mox::Status::failure(
                -1, notOurs(file, u"%1 の %2 行目: %3"_s.arg(kManifestName).arg(i + 1).arg(why)));
        };
        if (eq <= 0)
            return bad(u"「キー=値」の形ではありません"_s);
        const QString key = QString::fromUtf8(line.left(eq));
        const QString value = QString::fromUtf8(line.mid(eq + 1));
        if (key == u"format"_s) {
            if (value != QLatin1StringView(kBackupFormat))
                return bad(u"形式 %1 は扱えません"_s.arg(value));
            formatSeen = true;
        } else if (key == u"release"_s) {
            m.release = value;
        } else if (key == u"schema"_s) {
            bool ok = false;
            m.schema = value.toInt(&ok);
            if (!ok)
                return bad(u"スキーマの版 %1 が数ではありません"_s.arg(value));
        } else if (key == u"engine"_s) {
            if (value != u"sqlite"_s && value != u"postgresql"_s)
                return bad(u"データベースの種類 %1 は扱えません"_s.arg(value));
            m.engine = value;
        } else if (key == u"created"_s) {
            m.created = value;
        } else if (key.startsWith(u"member."_s) && key.endsWith(u".sha256"_s)) {
            const QString name = key.mid(7, key.size() - 7 - 7);
            if (!members.contains(name))
                order.append(name);
            members[name].name = name;
            members[name].sha256 = value.toLatin1();
        } else if (key.startsWith(u"member."_s) && key.endsWith(u".size"_s)) {
            const QString name = key.mid(7, key.size() - 7 - 5);
            bool ok = false;
            if (!members.contains(name))
                order.append(name);
            members[name].name = name;
            members[name].size = value.toLongLong(&ok);
            if (!ok)
                return bad(u"大きさ %1 が数ではありません"_s.arg(value));
        } else if (key.startsWith(u"count."_s)) {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (!ok || n < 0)
                return bad(u"件数 %1 が数ではありません"_s.arg(value));
            m.counts.insert(key.mid(6), n);
        }
    }
    if (!formatSeen)
        return mox::Status::failure(
            -1, notOurs(file, u"%1 に format= がありません"_s.arg(kManifestName)));
    if (m.engine.isEmpty())
        return mox::Status::failure(
            -1, notOurs(file, u"%1 に engine= がありません"_s.arg(kManifestName)));
    for (const QString& name : order)
        m.members.push_back(members.value(name));
    return m;
}

const BackupManifest::Member* BackupManifest::member(const QString& name) const
{
    for (const Member& m : members) {
        if (m.name == name)
            return &m;
    }
    return nullptr;
}

bool BackupWriter::header(const QString& name, qint64 size)
{
    char h[kBlock] = {};
    const QByteArray n = name.toUtf8();
    std::memcpy(h, n.constData(), static_cast<std::size_t>(std::min<qsizetype>(n.size(), 99)));
    putNumber(h + 100, 8, 0600);
    putNumber(h + 108, 8, 0);
    putNumber(h + 116, 8, 0);
    putNumber(h + 124, 12, size);
    putNumber(h + 136, 12, QDateTime::currentSecsSinceEpoch());
    h[156] = '0';
    std::memcpy(h + 257, "ustar", 6);
    std::memcpy(h + 263, "00", 2);
    const QByteArray sum = QByteArray::number(headerChecksum(h), 8).rightJustified(6, '0');
    std::memcpy(h + 148, sum.constData(), 6);
    h[154] = '\0';
    h[155] = ' ';
    if (m_device->write(h, kBlock) != kBlock) {
        m_error = m_device->errorString();
        return false;
    }
    return true;
}

bool BackupWriter::pad(qint64 size)
{
    const qint64 rest = (kBlock - size % kBlock) % kBlock;
    if (rest == 0)
        return true;
    const QByteArray zeros(rest, '\0');
    if (m_device->write(zeros) != rest) {
        m_error = m_device->errorString();
        return false;
    }
    return true;
}

bool BackupWriter::addMember(const QString& name, const QByteArray& data)
{
    if (!header(name, data.size()))
        return false;
    if (m_device->write(data) != data.size()) {
        m_error = m_device->errorString();
        return false;
    }
    return pad(data.size());
}

bool BackupWriter::addFile(const QString& name, const QString& path, QByteArray* sha256)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        m_error = u"%1: %2"_s.arg(path, in.errorString());
        return false;
    }
    const qint64 size = in.size();
    if (!header(name, size))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 copied = 0;
    while (copied < size) {
        const QByteArray chunk = in.read(std::min(kChunk, size - copied));
        if (chunk.isEmpty()) {
            m_error = u"%1: %2"_s.arg(path, in.errorString());
            return false;
        }
        hash.addData(chunk);
        if (m_device->write(chunk) != chunk.size()) {
            m_error = m_device->errorString();
            return false;
        }
        copied += chunk.size();
    }
    *sha256 = hash.result().toHex();
    return pad(size);
}

bool BackupWriter::finish()
{
    const QByteArray zeros(2 * kBlock, '\0');
    if (m_device->write(zeros) != zeros.size()) {
        m_error = m_device->errorString();
        return false;
    }
    return true;
}

mox::Result<std::vector<TarMember>> readBackupIndex(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return mox::Status::failure(
            -20, u"バックアップファイル %1 を開けません: %2"_s.arg(file, in.errorString()));
    const qint64 total = in.size();
    std::vector<TarMember> members;
    qint64 pos = 0;
    for (;;) {
        if (pos + kBlock > total) {
            return mox::Status::failure(-1, members.empty()
                                                ? notOurs(file, u"tar 形式ではありません"_s)
                                                : u"バックアップファイル %1 は途中で切れています"
                                                  u"（終わりの印がありません）。"_s.arg(file));
        }
        // A block read short (a read error, a file cut while it is read) is never looked into.
        char h[kBlock];
        if (!in.seek(pos) || in.read(h, kBlock) != kBlock) {
            return mox::Status::failure(
                -20, u"バックアップファイル %1 を読めません: %2"_s.arg(file, in.errorString()));
        }
        if (std::all_of(h, h + kBlock, [](char c) { return c == '\0'; }))
            break; // the end of the archive
        const bool ustar = std::memcmp(h + 257, "ustar", 5) == 0;
        const qint64 sum = getNumber(h + 148, 8);
        if (!ustar || sum != qint64(headerChecksum(h))) {
            return mox::Status::failure(
                -1,
                members.empty()
                    ? notOurs(file, u"tar 形式ではありません"_s)
                    : u"バックアップファイル %1 は %2 バイト目から壊れています。"_s.arg(file).arg(
                          pos));
        }
        TarMember m;
        m.name = QString::fromUtf8(h, qsizetype(::strnlen(h, 100)));
        m.size = getNumber(h + 124, 12);
        m.offset = pos + kBlock;
        if (m.size < 0)
            return mox::Status::failure(-1,
                                        notOurs(file, u"%1 の大きさが読めません"_s.arg(m.name)));
        if (m.offset + m.size > total) {
            return mox::Status::failure(
                -1, u"バックアップファイル %1 は途中で切れています（%2 が %3 バイトのところ "
                    u"%4 バイトしかありません）。"_s.arg(file, m.name)
                        .arg(m.size)
                        .arg(total - m.offset));
        }
        members.push_back(m);
        pos = m.offset + (m.size + kBlock - 1) / kBlock * kBlock;
    }
    if (members.empty() || members.front().name != kManifestName)
        return mox::Status::failure(-1, notOurs(file, u"%1 がありません"_s.arg(kManifestName)));
    return members;
}

mox::Result<QByteArray> readMember(const QString& file, const TarMember& member)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly) || !in.seek(member.offset))
        return mox::Status::failure(
            -20, u"バックアップファイル %1 を読めません: %2"_s.arg(file, in.errorString()));
    const QByteArray data = in.read(member.size);
    if (data.size() != member.size)
        return mox::Status::failure(
            -1, u"バックアップファイル %1 を読めません: %2"_s.arg(file, in.errorString()));
    return data;
}

mox::Result<QByteArray> extractMember(const QString& file, const TarMember& member,
                                      const QString& target)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly) || !in.seek(member.offset))
        return mox::Status::failure(
            -20, u"バックアップファイル %1 を読めません: %2"_s.arg(file, in.errorString()));
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return mox::Status::failure(-1, u"%1 を作れません: %2"_s.arg(target, out.errorString()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 copied = 0;
    while (copied < member.size) {
        const QByteArray chunk = in.read(std::min(kChunk, member.size - copied));
        if (chunk.isEmpty())
            return mox::Status::failure(
                -1, u"バックアップファイル %1 を読めません: %2"_s.arg(file, in.errorString()));
        hash.addData(chunk);
        if (out.write(chunk) != chunk.size())
            return mox::Status::failure(-1,
                                        u"%1 に書けません: %2"_s.arg(target, out.errorString()));
        copied += chunk.size();
    }
    if (!out.flush())
        return mox::Status::failure(-1, u"%1 に書けません: %2"_s.arg(target, out.errorString()));
    return hash.result().toHex();
}

} // namespace moxdb
