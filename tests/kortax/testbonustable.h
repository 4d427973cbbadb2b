#pragma once

// A bonus rate table made up for the tests, in the layout of bonus-rate-table.csv. Its figures
// are test data, not a published table (its first line says so): it stands in for a bonus table
// an operator loads into an edition that lacks one.

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <array>

namespace taxtest {

/// Writes bonus-rate-table.csv into \p dir. Rate row i (the 21 rates of the table, 0.000 to
/// 45.945 %) runs in dependants column d from 50·i + d to 50·(i + 1) + d 千円, so the rate found
/// names its band: 300,000 yen of previous pay is row 6 (12.252 %) with no dependants and row 5
/// (10.210 %) with two, where the 令和8年分 table gives 6.126 % and 4.084 %.
inline bool writeTestBonusTable(const QString& dir)
{
    constexpr std::array<const char*, 21> kRates = {
        "0.000",  "2.042",  "4.084",  "6.126",  "8.168",  "10.210", "12.252",
        "14.294", "16.336", "18.378", "20.420", "22.462", "24.504", "26.546",
        "28.588", "30.630", "32.672", "35.735", "38.798", "41.861", "45.945"};
    QStringList lines{QStringLiteral("# TEST DATA made up by the tests: not a published table"),
                      QStringLiteral("rate_percent")};
    for (int d = 0; d < 8; ++d)
        lines[1] += QStringLiteral(",d%1_lo_k,d%1_hi_k").arg(d);
    lines[1] += QStringLiteral(",otsu_lo_k,otsu_hi_k");
    for (int i = 0; i < static_cast<int>(kRates.size()); ++i) {
        QString row = QString::fromLatin1(kRates[static_cast<std::size_t>(i)]);
        for (int d = 0; d < 8; ++d) {
            const QString lo = i == 0 ? QString() : QString::number(50 * i + d);
            const QString hi = i + 1 == static_cast<int>(kRates.size())
                                   ? QString()
                                   : QString::number(50 * (i + 1) + d);
            row += u',' + lo + u',' + hi;
        }
        lines << row + QStringLiteral(",,");
    }
    QFile f(QDir(dir).filePath(QStringLiteral("bonus-rate-table.csv")));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write((lines.join(u'\n') + u'\n').toUtf8()) > 0;
}

} // namespace taxtest
