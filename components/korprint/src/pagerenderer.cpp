#include "pagerenderer.h"

#include <QFont>
#include <QGlyphRun>
#include <QPainter>
#include <QPen>

using namespace Qt::StringLiterals;

namespace korprint {

namespace {

constexpr double kUnitsPerMm = kUnitsPerInch / 25.4;

QRawFont gothicFont(double pixelSize) {
    // The forms ask for the gothic by its Japanese name; on this platform it is IPAGothic, whose
    // half-width advance is exactly half its em.
    QFont::insertSubstitution(u"ＭＳ ゴシック"_s, u"IPAGothic"_s);
    QFont font(u"ＭＳ ゴシック"_s);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(qRound(pixelSize));
    font.setHintingPreference(QFont::PreferNoHinting);
    QRawFont raw = QRawFont::fromFont(font);
    raw.setPixelSize(pixelSize);
    return raw;
}

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\u3000';
}

} // namespace

PageRenderer::PageRenderer(int cpi, int lpi)
    : m_colWidth(kUnitsPerInch / cpi), m_lineHeight(kUnitsPerInch / lpi),
      m_font(gothicFont(2 * m_colWidth)) {}

const PageRenderer::Glyph &PageRenderer::glyph(char16_t c) {
    auto it = m_glyphs.find(c);
    if (it != m_glyphs.end())
        return it->second;
    Glyph g;
    const QChar ch(c);
    const QList<quint32> indexes = m_font.glyphIndexesForString(QString(ch));
    if (!indexes.isEmpty() && indexes.front() != 0) {
        g.index = indexes.front();
        g.advance = m_font.advancesForGlyphIndexes(indexes).front().x();
    }
    return m_glyphs.emplace(c, g).first->second;
}

void PageRenderer::draw(QPainter &painter, const Command &command) {
    switch (command.kind) {
    case CommandKind::Text:
        drawText(painter, command);
        return;
    case CommandKind::Line:
    case CommandKind::Box: {
        QPen pen(Qt::black, command.weight * 0.1 * kUnitsPerMm);
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const QPointF a(command.x / 10.0 * m_colWidth, command.y / 10.0 * m_lineHeight);
        const QPointF b(command.x2 / 10.0 * m_colWidth, command.y2 / 10.0 * m_lineHeight);
        if (command.kind == CommandKind::Line)
            painter.drawLine(a, b);
        else
            painter.drawRect(QRectF(a, b).normalized());
        return;
    }
    default:
        return;
    }
}

void PageRenderer::drawText(QPainter &painter, const Command &command) {
    const double em = m_font.pixelSize();
    const double baseline =
        command.y / 10.0 * m_lineHeight - (m_lineHeight - em) / 2 - m_font.descent();

    QList<quint32> indexes;
    QList<QPointF> positions;
    QString missing;
    QList<QPointF> missingAt;
    double cell = 0; // left edge of the current character cell, in columns
    for (QChar qc : command.text) {
        const char16_t c = qc.unicode();
        const int columns = isHalfWidth(c) ? 1 : 2;
        if (!isBlank(c)) {
            const Glyph &g = glyph(c);
            const double left = cell * m_colWidth;
            if (g.index != 0) {
                indexes.append(g.index);
                positions.append(QPointF(left + (columns * m_colWidth - g.advance) / 2, 0));
            } else {
                missing.append(qc);
                missingAt.append(QPointF(left, 0));
            }
        }
        cell += columns;
    }
    if (indexes.isEmpty() && missing.isEmpty())
        return;

    painter.save();
    painter.translate(command.x / 10.0 * m_colWidth, baseline);
    painter.scale(command.hScale / 100.0, command.vScale / 100.0);
    painter.setPen(Qt::black);
    if (!indexes.isEmpty()) {
        QGlyphRun run;
        run.setRawFont(m_font);
        run.setGlyphIndexes(indexes);
        run.setPositions(positions);
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
    if (!missing.isEmpty()) {
        // Characters the gothic lacks are left to font fallback, still one per cell.
        QFont fallback(m_font.familyName());
        fallback.setPixelSize(qRound(em));
        painter.setFont(fallback);
        for (qsizetype i = 0; i < missing.size(); ++i)
            painter.drawText(missingAt[i], QString(missing[i]));
    }
    painter.restore();
}

} // namespace korprint
