#pragma once

// The tax tables of the environment database.
//
//   ZEIHAN  (税額表の版): TEKIYO (適用開始日, yyyymmdd); one record per edition.
//   ZEIGETU (月額表 甲欄): TEKIYO, KAGEN (下限, yen, 以上), JOGEN (上限, yen, 未満; 0 = none),
//           ZEI0 … ZEI7 (税額 at KAGEN by 扶養親族等の数), RITU (率 on the excess, percent).
//   ZEISYO  (賞与の算出率の表 甲欄): TEKIYO, FUYO (扶養親族等の数 0 … 7, 7 = 7人以上),
//           KAGEN (前月の給与等の下限, yen, 以上), RITU (賞与に乗ずべき率, percent).

#include <QString>

namespace KorTAX {

inline const QString kTableEdition = QStringLiteral("ZEIHAN");
inline const QString kTableMonthly = QStringLiteral("ZEIGETU");
inline const QString kTableBonus = QStringLiteral("ZEISYO");

} // namespace KorTAX
