#pragma once

// Currency: the money and rate type of the payroll programs.
//
// A signed 64-bit integer scaled by 10'000 (four decimal places). Sums and differences are exact;
// products and quotients go through a 128-bit intermediate and are rounded by the mode the caller
// names. There is no constructor from double and no implicit conversion from integers, so every
// value states its scale:
//
//     Currency salary = Currency::fromYen(312'400);
//     Currency rate   = *Currency::parse(u"4.084");
//     Currency tax    = salary.times(rate, Rounding::Floor, /*decimals=*/0).dividedBy(100, ...);
//
// Every operation whose exact result does not fit 64 bits throws std::overflow_error instead of
// wrapping: sums, differences, negation, whole multiples, fromYen, products and quotients. A value
// that comes from outside (a file, the database, the operator) is taken with parse() or
// tryFromYen(), which refuse it with nullopt; the programs turn a thrown overflow into a status
// at the step that computes.

#include <QMetaType>
#include <QString>
#include <QStringView>

#include <compare>
#include <cstdint>
#include <optional>
#include <stdexcept>

enum class Rounding {
    Floor,            // towards minus infinity (the system's Int)
    Ceil,             // towards plus infinity
    Truncate,         // towards zero (the system's Fix)
    HalfEven,         // to nearest, ties to the even neighbour (banker's rounding)
    HalfAwayFromZero, // to nearest, ties away from zero (format pictures)
};

class Currency {
public:
    static constexpr std::int64_t kScale = 10'000;

    constexpr Currency() = default;

    static constexpr Currency fromRaw(std::int64_t raw) { return Currency(raw); }
    /// \p yen whole yen; throws std::overflow_error beyond ±922,337,203,685,477 yen.
    static constexpr Currency fromYen(std::int64_t yen) { return Currency(product(yen, kScale)); }
    /// \p yen whole yen, or nullopt when that many yen do not fit.
    static constexpr std::optional<Currency> tryFromYen(std::int64_t yen)
    {
        std::int64_t raw = 0;
        if (__builtin_mul_overflow(yen, kScale, &raw))
            return std::nullopt;
        return Currency(raw);
    }

    /// Parses a plain decimal text: optional blanks, an optional sign, digits, an optional point
    /// and decimals; thousands separators "," are accepted in the integer part. Digits beyond the
    /// fourth decimal are rounded half to even. Returns nullopt for anything else, or for a value
    /// that does not fit.
    static std::optional<Currency> parse(QStringView text);

    constexpr std::int64_t raw() const { return m_raw; }
    constexpr bool isZero() const { return m_raw == 0; }
    constexpr bool isNegative() const { return m_raw < 0; }

    // Exact, or std::overflow_error.
    friend constexpr Currency operator+(Currency a, Currency b)
    {
        return Currency(sum(a.m_raw, b.m_raw));
    }
    friend constexpr Currency operator-(Currency a, Currency b)
    {
        return Currency(difference(a.m_raw, b.m_raw));
    }
    friend constexpr Currency operator-(Currency a) { return Currency(difference(0, a.m_raw)); }
    constexpr Currency& operator+=(Currency b)
    {
        m_raw = sum(m_raw, b.m_raw);
        return *this;
    }
    constexpr Currency& operator-=(Currency b)
    {
        m_raw = difference(m_raw, b.m_raw);
        return *this;
    }
    /// Exact multiplication by a whole number (6 × tax, 21 × daily wage).
    friend constexpr Currency operator*(Currency a, std::int64_t n)
    {
        return Currency(product(a.m_raw, n));
    }
    friend constexpr Currency operator*(std::int64_t n, Currency a)
    {
        return Currency(product(a.m_raw, n));
    }
    friend constexpr auto operator<=>(const Currency&, const Currency&) = default;

    /// this × factor, rounded to \p decimals places (0 to 4) by \p how.
    Currency times(Currency factor, Rounding how, int decimals = 4) const;
    /// this ÷ divisor, rounded to \p decimals places by \p how. Division by zero throws.
    Currency dividedBy(std::int64_t divisor, Rounding how, int decimals = 4) const;
    /// this × factor ÷ divisor as one exact rational, rounded once to \p decimals places.
    Currency mulDiv(Currency factor, std::int64_t divisor, Rounding how, int decimals = 4) const;
    /// this ÷ divisor where both are amounts (a ratio), rounded to \p decimals places.
    Currency ratioTo(Currency divisor, Rounding how, int decimals = 4) const;
    /// Rounds to \p decimals places (0 to 4).
    Currency roundTo(int decimals, Rounding how) const;
    Currency roundToYen(Rounding how) const { return roundTo(0, how); }
    /// The system's Int: the largest whole number not above the value.
    Currency intPart() const { return roundTo(0, Rounding::Floor); }
    Currency abs() const { return m_raw < 0 ? -*this : *this; }

    /// Whole units after rounding by \p how; throws std::overflow_error past int64.
    std::int64_t toInteger(Rounding how) const;

    /// Plain decimal text without grouping and without trailing zeros: "512345", "-3.5",
    /// "4.084", "0".
    QString toPlainString() const;

private:
    constexpr explicit Currency(std::int64_t raw) : m_raw(raw) {}

    [[noreturn]] static void overflow()
    {
        throw std::overflow_error("Currency: result does not fit 64 bits");
    }
    static constexpr std::int64_t sum(std::int64_t a, std::int64_t b)
    {
        std::int64_t r = 0;
        if (__builtin_add_overflow(a, b, &r))
            overflow();
        return r;
    }
    static constexpr std::int64_t difference(std::int64_t a, std::int64_t b)
    {
        std::int64_t r = 0;
        if (__builtin_sub_overflow(a, b, &r))
            overflow();
        return r;
    }
    static constexpr std::int64_t product(std::int64_t a, std::int64_t b)
    {
        std::int64_t r = 0;
        if (__builtin_mul_overflow(a, b, &r))
            overflow();
        return r;
    }

    std::int64_t m_raw = 0;
};

/// What every calculation tells the operator when an amount goes beyond what Currency holds:
/// 「金額が大きすぎて計算できません。」.
QString amountTooLargeText();

Q_DECLARE_METATYPE(Currency)
