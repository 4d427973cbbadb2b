#pragma once

// The shipped editions of the tax tables, read once for the tests, and short spellings of the
// amounts the tests compare.

#include "kortax/kortax.h"

#include <gtest/gtest.h>

#include <QString>

namespace taxtest {

inline QString dataDir(const QString& edition)
{
    return QStringLiteral(MOX_TAX_DATA_DIR "/") + edition;
}

inline KorTAX::Edition readShipped(const QString& edition)
{
    mox::Result<KorTAX::Edition> r =
        KorTAX::readEditionDir(dataDir(edition), QDate::fromString(edition, Qt::ISODate));
    if (const mox::Status* s = mox::failure(r)) {
        ADD_FAILURE() << s->message.toStdString();
        return {};
    }
    return mox::value(r);
}

/// 令和2年分, in force from 2020-01-01.
inline const KorTAX::Edition& reiwa2()
{
    static const KorTAX::Edition e = readShipped(QStringLiteral("2020-01-01"));
    return e;
}

/// 令和8年分, in force from 2026-01-01.
inline const KorTAX::Edition& reiwa8()
{
    static const KorTAX::Edition e = readShipped(QStringLiteral("2026-01-01"));
    return e;
}

/// 令和9年分, in force from 2027-01-01: the monthly table only.
inline const KorTAX::Edition& reiwa9()
{
    static const KorTAX::Edition e = readShipped(QStringLiteral("2027-01-01"));
    return e;
}

inline Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

inline Currency percent(const char16_t* text)
{
    return *Currency::parse(QStringView(text));
}

} // namespace taxtest
