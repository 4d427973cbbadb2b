#pragma once

// Draws print commands on a painter whose unit is 1/720 inch with (0, 0) at the top-left of the
// printable area.
//
// Grid: column x starts x / cpi inches from the left; grid line y ends y / lpi inches from the top
// (line y is the band between (y - 1) / lpi and y / lpi). A text at column x on line y puts each
// character in its own cell, one column wide for half-width characters and two for full-width
// ones, so the columns of every line line up exactly. Full-width characters fill their cell (the
// em of the gothic is two columns) so that lines of kanji read as words; half-width characters
// are drawn nine tenths as wide and centred in their cell, so that a figure filling its cell
// keeps clear of the ruled lines on both sides. Text stands on a common baseline that keeps
// the em centred in the band of line y; a vertical scale above 100 % grows the characters
// upwards from that baseline. LN and BX take their corners as grid points: (x, y) is the left
// edge of column x and the bottom edge of line y.

#include "commands.h"

#include <QRawFont>

#include <unordered_map>

class QPainter;

namespace korprint {

inline constexpr double kUnitsPerInch = 720.0;

class PageRenderer {
public:
    PageRenderer(int cpi, int lpi);

    void draw(QPainter& painter, const Command& command);
    QString fontFamily() const { return m_font.familyName(); }

    double columnWidth() const { return m_colWidth; }
    double lineHeight() const { return m_lineHeight; }

private:
    struct Glyph {
        quint32 index = 0; // 0: not in the font
        double offset = 0; // from the left edge of the cell, centring the glyph
    };

    void drawText(QPainter& painter, const Command& command);
    const Glyph& glyph(char16_t c);

    double m_colWidth;
    double m_lineHeight;
    QRawFont m_font;
    std::unordered_map<char16_t, Glyph> m_glyphs;
};

} // namespace korprint
