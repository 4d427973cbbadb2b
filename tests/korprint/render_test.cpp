#include "pagerenderer.h"

#include <QImage>
#include <QPainter>
#include <QStringEncoder>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using korprint::Command;

namespace {

// On a 15 x 6 grid drawn at 720 units per inch a column is 48 units and a line 120.
constexpr int kCol = 48;
constexpr int kLine = 120;

// Draws one command on a white image (one unit per pixel) and returns the box of its ink.
QRect inkOf(const QByteArray& line)
{
    Command c;
    EXPECT_EQ(korprint::parseCommand(line, c), QString()) << line.toStdString();
    QImage image(1600, 1600, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        korprint::PageRenderer renderer(15, 6);
        renderer.draw(painter, c);
    }
    QRect ink;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] < 128)
                ink |= QRect(x, y, 1, 1);
        }
    }
    return ink;
}

// True when `inner` lies inside the cell band [x0, x1) x [y0, y1) of the grid.
bool within(const QRect& inner, double x0, double x1, double y0, double y1)
{
    return inner.left() >= x0 && inner.right() < x1 && inner.top() >= y0 && inner.bottom() < y1;
}

TEST(PageRenderer, ResolvesTheGothicToIpaGothic)
{
    korprint::PageRenderer renderer(15, 6);
    EXPECT_EQ(renderer.fontFamily().compare(u"IPAGothic"_s, Qt::CaseInsensitive), 0)
        << renderer.fontFamily().toStdString();
}

TEST(PageRenderer, PutsEachCharacterInItsCellOnItsLine)
{
    // Column 10, line 10: the half-width "8" stays in column 10, in the band of line 10.
    const QRect half = inkOf("TE 0100010030100100"
                             "8");
    ASSERT_FALSE(half.isEmpty());
    EXPECT_TRUE(within(half, 10 * kCol, 11 * kCol, 9 * kLine, 10 * kLine)) << half.x();

    // A full-width character takes columns 10 and 11.
    QStringEncoder enc("cp932");
    const QRect full = inkOf("TE 0100010030100100" + QByteArray(enc.encode(u"田"_s)));
    ASSERT_FALSE(full.isEmpty());
    EXPECT_TRUE(within(full, 10 * kCol, 12 * kCol, 9 * kLine, 10 * kLine));
    EXPECT_GT(full.width(), kCol); // wider than one column

    // Leading blanks move the figure right by whole columns: "   5" puts the 5 in column 13,
    // and a half line (y 10.5) moves it down by half a band.
    const QRect shifted = inkOf("TE 0100010530100100   5");
    EXPECT_TRUE(within(shifted, 13 * kCol, 14 * kCol, 9.5 * kLine, 10.5 * kLine));
}

TEST(PageRenderer, ScalesWidthAndGrowsUpwards)
{
    // Twice as wide and twice as high: "8" fills columns 10 and 11 and rises into line 9, yet
    // keeps its feet on the bottom of line 10.
    const QRect normal = inkOf("TE 0100010030100100"
                               "8");
    const QRect big = inkOf("TE 0100010030200200"
                            "8");
    EXPECT_TRUE(within(big, 10 * kCol, 12 * kCol, 8 * kLine, 10 * kLine));
    EXPECT_NEAR(big.width(), 2 * normal.width(), 3);
    EXPECT_NEAR(big.height(), 2 * normal.height(), 3);
    EXPECT_NEAR(big.bottom(), normal.bottom(), 3);
}

TEST(PageRenderer, DrawsRulesOnGridPoints)
{
    // A box from (10, 10) to (20, 12): left edge of column 10 .. 20, bottom of lines 10 .. 12.
    const QRect box = inkOf("BX 01000100020001201");
    const int pen = 3; // 0.1 mm at 720 units per inch is under 3 units
    EXPECT_NEAR(box.left(), 10 * kCol, pen);
    EXPECT_NEAR(box.right(), 20 * kCol, pen);
    EXPECT_NEAR(box.top(), 10 * kLine, pen);
    EXPECT_NEAR(box.bottom(), 12 * kLine, pen);

    const QRect line = inkOf("LN 01000105020001052");
    EXPECT_NEAR(line.top(), 10.5 * kLine, pen + 2);
    EXPECT_LE(line.height(), 2 * (pen + 2));
}

TEST(PageRenderer, BlankTextLeavesNoInk)
{
    EXPECT_TRUE(inkOf("TE 0100010030100100        ").isEmpty());
}

} // namespace
