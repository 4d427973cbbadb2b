// The ledger form must fit the ledger's texts: every amount cell the ledger writes lies in one
// ruled box of its own row, under the heading of its column, and the header texts do not run
// into the form's captions.
#include "commands.h"
#include "printjob.h"

#include <QDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;
using korprint::Command;
using korprint::CommandKind;

namespace {

// Positions in tenths of a column / line, as in the command language.
struct Cell {
    int amount;
    int x;      // first column
    int width;  // columns
    bool upper; // on line Y - 1 instead of line Y
};

// Line Y of every printed row.
constexpr std::pair<int, double> kRows[] = {
    {1, 11.5},  {2, 13.5},  {3, 15.5},  {4, 17.5},  {5, 19.5},  {6, 21.5},
    {7, 23.5},  {8, 25.5},  {9, 27.5},  {10, 29.5}, {11, 31.5}, {12, 33.5},
    {13, 35.5}, {14, 39.5}, {15, 41.5}, {17, 43.5}, {18, 47.5}, {19, 51.5}};

// Cells of the rows 1 to 13, 18 and 19 (the year-end figure 28 has two).
const Cell kGroupA[] = {
    {1, 13, 10, false}, {2, 23, 8, false},   {3, 31, 8, false},  {4, 39, 8, false},
    {5, 47, 8, true},   {6, 47, 8, false},   {7, 55, 8, false},  {8, 63, 8, true},
    {12, 63, 8, false}, {13, 71, 8, true},   {14, 71, 8, false}, {9, 79, 8, false},
    {10, 87, 8, false}, {11, 95, 8, false},  {17, 103, 8, true}, {18, 103, 8, false},
    {16, 111, 8, true}, {15, 111, 8, false}, {28, 175, 8, true}, {28, 175, 8, false}};
// Cells of every printed row.
const Cell kGroupB[] = {{19, 122, 9, true},   {20, 122, 9, false}, {23, 143, 8, false},
                        {24, 151, 8, false},  {25, 159, 8, false}, {26, 167, 8, false},
                        {22, 132, 10, false}, {29, 183, 8, false}, {30, 191, 10, false}};

struct Segment {
    double at, from, to; // position across, extent along
};

class LedgerForm : public testing::Test {
protected:
    void SetUp() override
    {
        const QString path = QDir(QStringLiteral(MOX_DATA_DIR)).filePath(u"Mox030p.ovl"_s);
        mox::Result<std::vector<Command>> form = korprint::loadOverlay(path);
        ASSERT_EQ(mox::failure(form), nullptr) << mox::failure(form)->message.toStdString();
        for (const Command& c : mox::value(form)) {
            if (c.kind == CommandKind::Text) {
                m_texts.push_back(c);
            } else if (c.kind == CommandKind::Line) {
                addLine(c.x, c.y, c.x2, c.y2);
            } else if (c.kind == CommandKind::Box) {
                addLine(c.x, c.y, c.x2, c.y);
                addLine(c.x, c.y2, c.x2, c.y2);
                addLine(c.x, c.y, c.x, c.y2);
                addLine(c.x2, c.y, c.x2, c.y2);
            }
        }
    }

    void addLine(int x1, int y1, int x2, int y2)
    {
        if (x1 == x2)
            m_vertical.push_back({double(x1), double(std::min(y1, y2)), double(std::max(y1, y2))});
        else if (y1 == y2)
            m_horizontal.push_back(
                {double(y1), double(std::min(x1, x2)), double(std::max(x1, x2))});
        else
            ADD_FAILURE() << "the form has no slanted rules";
    }

    // The nearest rule at or before `lo` (before = true) or at or after `hi` that runs along the
    // whole of [from, to].
    static std::optional<double> rule(const std::vector<Segment>& rules, double lo, double hi,
                                      double from, double to, bool before)
    {
        std::optional<double> best;
        for (const Segment& s : rules) {
            if (s.from > from || s.to < to)
                continue;
            if (before && s.at <= lo && (!best || s.at > *best))
                best = s.at;
            if (!before && s.at >= hi && (!best || s.at < *best))
                best = s.at;
        }
        return best;
    }

    // True when a rule crosses the inside of [lo, hi] x [from, to].
    static bool crossed(const std::vector<Segment>& rules, double lo, double hi, double from,
                        double to)
    {
        for (const Segment& s : rules) {
            if (s.at > lo && s.at < hi && s.to > from && s.from < to)
                return true;
        }
        return false;
    }

    // Horizontal extent of a form text in tenths of a column.
    static std::pair<double, double> extent(const Command& t)
    {
        return {double(t.x), t.x + korprint::textColumns(t.text) * t.hScale / 10.0};
    }

    std::vector<Command> m_texts;
    std::vector<Segment> m_vertical;
    std::vector<Segment> m_horizontal;
};

TEST_F(LedgerForm, EveryAmountCellHasItsOwnBoxAndHeading)
{
    // Columns whose cells use both lines of a row carry a two-line heading.
    auto shared = [](int x) {
        for (const Cell& c : kGroupA)
            if (c.x == x && c.upper)
                return true;
        for (const Cell& c : kGroupB)
            if (c.x == x && c.upper)
                return true;
        return false;
    };
    int checked = 0;
    for (const auto& [row, y] : kRows) {
        std::vector<Cell> cells(std::begin(kGroupB), std::end(kGroupB));
        if (row != 14 && row != 15 && row != 17)
            cells.insert(cells.end(), std::begin(kGroupA), std::end(kGroupA));
        const int rowBottom = int(y * 10);
        for (const Cell& c : cells) {
            const std::string what =
                "row " + std::to_string(row) + " amount " + std::to_string(c.amount);
            const double x0 = c.x * 10, x1 = (c.x + c.width) * 10;
            const double y1 = rowBottom - (c.upper ? 10 : 0), y0 = y1 - 10;
            const auto left = rule(m_vertical, x0, x1, y0, y1, true);
            const auto right = rule(m_vertical, x0, x1, y0, y1, false);
            ASSERT_TRUE(left && right) << what;
            const auto top = rule(m_horizontal, y0, y1, *left, *right, true);
            const auto bottom = rule(m_horizontal, y0, y1, *left, *right, false);
            ASSERT_TRUE(top && bottom) << what;
            EXPECT_EQ(*top, rowBottom - 20) << what;
            EXPECT_EQ(*bottom, rowBottom) << what;
            EXPECT_FALSE(crossed(m_vertical, x0, x1, y0, y1)) << what;
            EXPECT_FALSE(crossed(m_horizontal, y0, y1, x0, x1)) << what;

            // The heading band runs from line 7.5 to 9.5: upper amounts are named on line 8.5,
            // lower ones on line 9.5, single ones in the middle (line 9).
            const int headingLine = !shared(c.x) ? 90 : (c.upper ? 85 : 95);
            bool headed = false;
            for (const Command& t : m_texts) {
                const auto [tx0, tx1] = extent(t);
                headed |= t.y == headingLine && tx0 >= *left && tx1 <= *right;
            }
            EXPECT_TRUE(headed) << what;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 15 * (9 + 20) + 3 * 9);
}

TEST_F(LedgerForm, RowLabelsSitInTheirRows)
{
    const QString labels[] = {u"4月"_s,    u"5月"_s,    u"6月"_s,    u"7月"_s,     u"8月"_s,
                              u"9月"_s,    u"10月"_s,   u"11月"_s,   u"12月"_s,    u"1月"_s,
                              u"2月"_s,    u"3月"_s,    u"月　計"_s, u"6月賞与"_s, u"12月賞与"_s,
                              u"賞与計"_s, u"差額等"_s, u"年　計"_s};
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const int bottom = int(kRows[i].second * 10);
        int found = 0;
        for (const Command& t : m_texts) {
            if (t.text == labels[i]) {
                ++found;
                EXPECT_GT(t.y, bottom - 20) << labels[i].toStdString();
                EXPECT_LE(t.y, bottom) << labels[i].toStdString();
                EXPECT_LE(extent(t).second, 130) << labels[i].toStdString();
            }
        }
        EXPECT_EQ(found, 1) << labels[i].toStdString();
    }
}

TEST_F(LedgerForm, HeaderTextsKeepClearOfTheCaptions)
{
    // Room the header texts may take (x from, x to in columns; line): era year, code, a job kind
    // of up to seven full-width characters, a name of up to fifteen, the employer and workplace.
    struct Area {
        const char* what;
        double from, to;
        int line;
    };
    const Area areas[] = {{"year", 12, 22, 55},       {"code", 35, 42, 55},
                          {"job kind", 20, 34, 65},   {"name", 35, 65, 65},
                          {"employer", 166, 188, 65}, {"workplace", 188, 201, 65}};
    for (const Area& a : areas) {
        for (const Command& t : m_texts) {
            const auto [tx0, tx1] = extent(t);
            const bool overlaps = t.y == a.line && tx0 < a.to * 10 && tx1 > a.from * 10;
            EXPECT_FALSE(overlaps) << a.what << " meets " << t.text.toStdString();
        }
    }
    bool title = false;
    for (const Command& t : m_texts)
        title |= t.text == u"個人別給与累計表"_s && t.y < 55;
    EXPECT_TRUE(title);
}

} // namespace
