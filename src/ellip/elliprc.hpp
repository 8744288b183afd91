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
// Arguments so far apart that x − y or the logarithm's quotient overflows are
// handled apart (scaled, or the logarithm split), so that a finite value never
// comes out as NaN or +∞.
//
// A NaN argument gives a NaN value; RC(+∞, y) is NaN as well (the log form
// meets ∞/∞), while RC(x, +∞) = 0.
#pragma once

#include <cmath>
#include <numbers>

#include "common/messages.hpp"
#include "common/result.hpp"

namespace zorvane::ellip {

inline Result<double> elliprc(double x, double y) noexcept {
    constexpr double PI_2 = std::numbers::pi / 2.0;
    if (x < 0.0) return fail(messages::kElliprcX);
    if (y == 0.0) return fail(messages::kElliprcY);

    double p = 1.0;
    if (y < 0.0) {
        // For x and −y near the top of the range x − y overflows (and the value
        // would be NaN); RC is homogeneous of degree −1/2, so evaluate at a
        // quarter of the arguments and halve, both exact.
        if (std::isinf(x - y) && std::isfinite(x) && std::isfinite(y)) {
            const auto r = elliprc(x * 0.25, y * 0.25);
            if (!r) return r;
            return *r * 0.5;
        }
        p = std::sqrt(x / (x - y));
        x = x - y;
        y = -y;
    }

    if (x == 0.0) return p * PI_2 / std::sqrt(y);
    if (x == y) return p / std::sqrt(x);
    if (y > x) return p * std::atan(std::sqrt((y - x) / x)) / std::sqrt(y - x);
    const double s = std::sqrt((x - y) / x);
    if (y / x > 0.5) return p * (std::log1p(s) - std::log1p(-s)) / (2.0 * std::sqrt(x - y));
    const double ratio = (std::sqrt(x) + std::sqrt(x - y)) / std::sqrt(y);
    // With y tiny against x the quotient overflows although its logarithm is
    // an ordinary number: take the logarithms apart then.
    if (std::isinf(ratio) && std::isfinite(x)) {
        return p * (std::log(std::sqrt(x) + std::sqrt(x - y)) - std::log(std::sqrt(y))) / std::sqrt(x - y);
    }
    return p * std::log(ratio) / std::sqrt(x - y);
}

}  // namespace zorvane::ellip
