#pragma once

// A writable copy of a shipped edition with one line of one file replaced: the broken files the
// checks must refuse.

#include "taxdata.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace taxtest {

class EditionCopy {
public:
    explicit EditionCopy(const QString& edition)
    {
        const QDir from(dataDir(edition));
        for (const QString& name : from.entryList({QStringLiteral("*.csv")}, QDir::Files))
            QFile::copy(from.filePath(name), path(name));
    }

    QString dir() const { return m_dir.path(); }
    QString path(const QString& file) const { return m_dir.filePath(file); }

    /// Replaces line \p line (1-based) of \p file, which must read \p before, by \p after.
    void replaceLine(const QString& file, int line, const QString& before, const QString& after)
    {
        QFile f(path(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
        f.close();
        const auto i = static_cast<qsizetype>(line - 1);
        ASSERT_LT(i, lines.size());
        ASSERT_EQ(lines[i], before);
        lines[i] = after;
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join(u'\n').toUtf8());
    }

private:
    QTemporaryDir m_dir;
};

} // namespace taxtest
