#pragma once

// A small deterministic random source (SplitMix64). The same seed gives the same sequence on
// every platform and standard library, which std::uniform_int_distribution does not promise.

#include <cstdint>

namespace moxdb {

class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    /// A seed for the record of \p a and \p b (an employee code and a month), independent of the
    /// order in which records are made.
    static std::uint64_t mix(std::uint64_t seed, std::uint64_t a, std::uint64_t b = 0)
    {
        Random r(seed ^ (a * 0x9E3779B97F4A7C15ULL) ^ (b * 0xC2B2AE3D27D4EB4FULL));
        return r.next();
    }

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    /// A whole number from \p low to \p high, both included (high ≥ low).
    int between(int low, int high)
    {
        const auto span = static_cast<std::uint64_t>(high - low) + 1;
        return low + static_cast<int>(next() % span);
    }

    /// True with a chance of \p percent in 100.
    bool chance(int percent) { return between(0, 99) < percent; }

private:
    std::uint64_t m_state;
};

} // namespace moxdb
