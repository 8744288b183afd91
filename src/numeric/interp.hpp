// Piecewise-linear interpolation in a table with ascending abscissas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zorvane::interp {

// What `interp` returns outside [x_0, x_{n-1}]:
//   ExtrapolationMode::Linear      the line of the nearest segment, extended;
//   ExtrapolationMode::EndValues   y_0 below the range, y_{n-1} above it;
//   ExtrapolationMode::Fixed(v)    the value v.
struct ExtrapolationMode {
    enum class Kind : std::uint8_t { Linear = 0, EndValues = 1, Fixed = 2 };

    Kind kind;
    double value;  // the value returned outside the range; used by Fixed only

    static const ExtrapolationMode Linear;
    static const ExtrapolationMode EndValues;
    static constexpr ExtrapolationMode Fixed(double value) noexcept { return {Kind::Fixed, value}; }

    friend constexpr bool operator==(const ExtrapolationMode&, const ExtrapolationMode&) = default;
};

inline constexpr ExtrapolationMode ExtrapolationMode::Linear{ExtrapolationMode::Kind::Linear, 0.0};
inline constexpr ExtrapolationMode ExtrapolationMode::EndValues{ExtrapolationMode::Kind::EndValues, 0.0};

// Value at xp of the piecewise-linear function through (x_i, y_i), i < n, where
// n = min(x.size(), y.size()); x must be ascending.
//
// - n = 0 gives 0.0; n = 1 gives y_0 for every xp and mode.
// - The segment is found by binary search over all of x (also beyond n): the
//   number p of leading x_i below xp selects segment p - 1, clamped to
//   [0, n - 2]. At an inner knot x_k the segment to its left is used.
// - Within the segment the value is xp * m + c with slope m = dy/dx and
//   intercept c = y_i - x_i * m, so a knot reproduces y_k up to rounding only.
// - Both range tests are strict: xp = x_0 and xp = x_{n-1} interpolate.
// - NaN xp gives NaN; repeated x values give an infinite or NaN slope in their
//   segment.
//
// Only the chosen segment's slope and intercept are formed; each depends on its
// own two points alone, so the result is the same as forming all of them.
inline double interp(std::span<const double> x, std::span<const double> y, double xp,
                     ExtrapolationMode mode) noexcept {
    const std::size_t n = x.size() < y.size() ? x.size() : y.size();
    if (n == 0) return 0.0;
    if (n == 1) return y[0];

    // Lower bound over the whole of x by halving; comparisons with NaN are false.
    std::size_t base = 0;
    std::size_t size = x.size();
    while (size > 1) {
        const std::size_t half = size / 2;
        const std::size_t mid = base + half;
        if (x[mid] < xp) base = mid;
        size -= half;
    }
    const std::size_t p = (x[base] < xp) ? base + 1 : base;

    std::size_t i = p > 0 ? p - 1 : 0;
    if (i > n - 2) i = n - 2;

    const double slope = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
    const double intercept = y[i] - x[i] * slope;
    const double value = xp * slope + intercept;

    switch (mode.kind) {
        case ExtrapolationMode::Kind::Linear:
            return value;
        case ExtrapolationMode::Kind::EndValues:
            if (xp < x[0]) return y[0];
            if (xp > x[n - 1]) return y[n - 1];
            return value;
        case ExtrapolationMode::Kind::Fixed:
            if (xp < x[0] || xp > x[n - 1]) return mode.value;
            return value;
    }
    return value;
}

}  // namespace zorvane::interp
