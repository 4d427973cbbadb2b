#pragma once

// Reading a command file back for the tests.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

namespace mox030test {

inline QByteArray readBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

/// The lines of a CP932 command file, without their CR LF.
inline QStringList readLines(const QString& path)
{
    QStringDecoder dec("windows-31j");
    QString all = dec.decode(readBytes(path));
    QStringList lines = all.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace mox030test
