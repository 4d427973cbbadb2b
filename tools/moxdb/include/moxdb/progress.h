#pragma once

// TerminalProgress: one line on standard error that a long command redraws in place while it
// works, for an operator watching a terminal. When standard error is not a terminal (a log
// file, a pipe, a test) nothing at all is written, so that logs hold only the results.
//
//     TerminalProgress progress(u"給与データ"_s, u"件"_s, expectedRows);
//     for (...) { write(row); progress.advance(); }
//     progress.finish();                 // the last figure, then a line end
//
// The line reads "給与データ 1,234,567 / 3,967,366 件 (31%)" and is redrawn at most every tenth
// of a second, so that it costs nothing next to the work.

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

namespace moxdb {

class TerminalProgress {
public:
    /// Progress of \p what over \p total items counted in \p unit, on \p stream; \p stream is
    /// written only when it is a terminal, or always when \p force is set (tests).
    TerminalProgress(QString what, QString unit, qint64 total, std::FILE* stream = stderr,
                     bool force = false);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    /// \p n more items done.
    void advance(qint64 n = 1);
    /// Draws the last figure and ends the line; later calls do nothing. The destructor calls it.
    void finish();

    /// The line as drawn for \p done items (without the carriage return).
    QString line(qint64 done) const;

private:
    void draw();

    QString m_what;
    QString m_unit;
    qint64 m_total;
    qint64 m_done = 0;
    std::FILE* m_stream; // null when nothing is to be shown
    QElapsedTimer m_sinceDrawn;
    bool m_finished = false;
};

} // namespace moxdb
