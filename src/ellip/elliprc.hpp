// Carlson's degenerate integral RC(x, y) = RF(x, y, y)
//
//     RC(x, y) = 1/2 ∫₀^∞ dt / (√(t + x) · (t + y)),
//
// the Cauchy principal value when y < 0. It is elementary, so there is no
// iteration: an arctangent when y > x, a logarithm when y < x.
//
// A negative y is first moved to a positive one with the identity
//     RC(x, y) = √(x / (x − y)) · RC(x − y, −y)        (y < 0).
// For x > y the logarithm is written as the inverse hyperbolic tangent of
// s = √((x − y)/x) through log1p while y/x > 1/2 (s is then small and the
// log1p pair keeps its digits); further out the plain logarithm is accurate.
//
// A NaN argument gives a NaN value; RC(+∞, y) is NaN as well (the log form
// meets ∞/∞), while RC(x, +∞) = 0.
#pragma once

#include <cmath>

#include "common/result.hpp"

namespace zorvane::ellip {

inline Result<double> elliprc(double x, double y) noexcept {
    constexpr double PI_2 = 1.5707963267948966;
    if (x < 0.0) return fail("elliprc: x must be non-negative.");
    if (y == 0.0) return fail("elliprc: y must be non-zero.");

    double p = 1.0;
    if (y < 0.0) {
        p = std::sqrt(x / (x - y));
        x = x - y;
        y = -y;
    }

    if (x == 0.0) return p * PI_2 / std::sqrt(y);
    if (x == y) return p / std::sqrt(x);
    if (y > x) return p * std::atan(std::sqrt((y - x) / x)) / std::sqrt(y - x);
    const double s = std::sqrt((x - y) / x);
    if (y / x > 0.5) return p * (std::log1p(s) - std::log1p(-s)) / (2.0 * std::sqrt(x - y));
    return p * std::log((std::sqrt(x) + std::sqrt(x - y)) / std::sqrt(y)) / std::sqrt(x - y);
}

}  // namespace zorvane::ellip
