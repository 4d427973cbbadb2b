#include "moxdb/progress.h"

#include <QLocale>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace moxdb {

TerminalProgress::TerminalProgress(QString what, QString unit, qint64 total, std::FILE* stream,
                                   bool force)
    : m_what(std::move(what)), m_unit(std::move(unit)), m_total(total < 0 ? 0 : total),
      m_stream(stream && (force || ::isatty(::fileno(stream)) == 1) ? stream : nullptr)
{
}

TerminalProgress::~TerminalProgress()
{
    finish();
}

void TerminalProgress::advance(qint64 n)
{
    m_done += n;
    if (!m_stream || m_finished)
        return;
    if (!m_sinceDrawn.isValid() || m_sinceDrawn.elapsed() >= 100)
        draw();
}

void TerminalProgress::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (!m_stream)
        return;
    draw();
    std::fputc('\n', m_stream);
    std::fflush(m_stream);
}

QString TerminalProgress::line(qint64 done) const
{
    const QLocale c(QLocale::English, QLocale::UnitedStates); // 1,234,567
    QString text = m_what + u' ' + c.toString(done);
    if (m_total > 0) {
        // A count beyond the estimate shows as 100 %, never more.
        const qint64 percent = done >= m_total ? 100 : done * 100 / m_total;
        text += u" / "_s + c.toString(m_total) + u' ' + m_unit + u" ("_s +
                QString::number(percent) + u"%)"_s;
    } else {
        text += u' ' + m_unit;
    }
    return text;
}

void TerminalProgress::draw()
{
    // "\r" returns to the start of the line; "\033[K" clears what a longer line left.
    const QByteArray text = "\r" + line(m_done).toLocal8Bit() + "\033[K";
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), m_stream);
    std::fflush(m_stream);
    m_sinceDrawn.start();
}

} // namespace moxdb
