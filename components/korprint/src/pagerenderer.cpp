#include "pagerenderer.h"

#include <QFont>
#include <QGlyphRun>
#include <QPainter>
#include <QPen>

using namespace Qt::StringLiterals;

namespace korprint {

namespace {

constexpr double kUnitsPerMm = kUnitsPerInch / 25.4;
// Half-width characters are drawn narrower than their cell so that a figure filling its cell
// keeps clear of the ruled lines on both sides.
constexpr double kHalfWidthStretch = 0.9;

QRawFont gothicFont(double pixelSize)
{
    // The forms ask for the gothic by its Japanese name; on this platform it is IPAGothic.
    QFont::insertSubstitution(u"ＭＳ ゴシック"_s, u"IPAGothic"_s);
    QFont font(u"ＭＳ ゴシック"_s);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(qRound(pixelSize));
    font.setHintingPreference(QFont::PreferNoHinting);
    QRawFont raw = QRawFont::fromFont(font);
    raw.setPixelSize(pixelSize);
    return raw;
}

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\u3000';
}

void drawRun(QPainter& painter, const QRawFont& font, const QList<quint32>& indexes,
             const QList<QPointF>& positions)
{
    if (indexes.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(font);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(0, 0), run);
}

} // namespace

PageRenderer::PageRenderer(int cpi, int lpi)
    : m_colWidth(kUnitsPerInch / cpi), m_lineHeight(kUnitsPerInch / lpi),
      m_font(gothicFont(2 * m_colWidth))
{
}

const PageRenderer::Glyph& PageRenderer::glyph(char16_t c)
{
    auto it = m_glyphs.find(c);
    if (it != m_glyphs.end())
        return it->second;
    const bool half = isHalfWidth(c);
    Glyph g;
    const QList<quint32> indexes = m_font.glyphIndexesForString(QString(QChar(c)));
    if (!indexes.isEmpty() && indexes.front() != 0) {
        g.index = indexes.front();
        const double advance = m_font.advancesForGlyphIndexes(indexes).front().x();
        g.offset =
            half ? (m_colWidth - advance * kHalfWidthStretch) / 2 : (2 * m_colWidth - advance) / 2;
    }
    return m_glyphs.emplace(c, g).first->second;
}

void PageRenderer::draw(QPainter& painter, const Command& command)
{
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

void PageRenderer::drawText(QPainter& painter, const Command& command)
{
    const double em = m_font.pixelSize();
    const double baseline =
        command.y / 10.0 * m_lineHeight - (m_lineHeight - em) / 2 - m_font.descent();

    QList<quint32> full, half;
    QList<QPointF> fullAt, halfAt;
    QString missing;
    QList<QPointF> missingAt;
    double cell = 0; // left edge of the current character cell, in columns
    for (QChar qc : command.text) {
        const char16_t c = qc.unicode();
        const bool isHalf = isHalfWidth(c);
        if (!isBlank(c)) {
            const Glyph& g = glyph(c);
            const QPointF at(cell * m_colWidth + g.offset, 0);
            if (g.index == 0) {
                missing.append(qc);
                missingAt.append(at);
            } else if (isHalf) {
                half.append(g.index);
                halfAt.append(QPointF(at.x() / kHalfWidthStretch, 0));
            } else {
                full.append(g.index);
                fullAt.append(at);
            }
        }
        cell += isHalf ? 1 : 2;
    }
    if (full.isEmpty() && half.isEmpty() && missing.isEmpty())
        return;

    painter.save();
    painter.translate(command.x / 10.0 * m_colWidth, baseline);
    painter.scale(command.hScale / 100.0, command.vScale / 100.0);
    painter.setPen(Qt::black);
    drawRun(painter, m_font, full, fullAt);
    painter.save();
    painter.scale(kHalfWidthStretch, 1);
    drawRun(painter, m_font, half, halfAt);
    painter.restore();
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
