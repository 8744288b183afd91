// Carlson's symmetric integral of the second kind
//
//     RD(x, y, z) = 3/2 ∫₀^∞ dt / (√((t + x)(t + y)) · (t + z)^{3/2}),
//
// symmetric in x and y only (x, y ≥ 0, at most one zero, z > 0).
//
// Coinciding arguments have closed forms. With x = 0 the integral is written
// through the arithmetic-geometric mean of √y and √z, carrying along the sum
// Σ 2ʲ⁻²(aⱼ − bⱼ)² that the second-kind AGM formula needs; quadratic
// convergence makes a step cap unnecessary. Everything else uses Carlson's
// duplication: each step replaces (x, y, z) by ((x + λ)/4, (y + λ)/4, (z + λ)/4)
// and adds the exact piece 3·4⁻ʲ/(√z (z + λ)) to a running sum, until the
// arguments are close enough for the degree-7 series in E₂ … E₅.
//
// A NaN x or y passes the first test, a NaN z the second; they end in a NaN
// value or the convergence error. Arguments far from 1 are rescaled exactly
// first (scaling.hpp), so that no intermediate product overflows.
#pragma once

#include <cmath>
#include <numbers>
#include <utility>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/scaling.hpp"

namespace zorvane::ellip {

inline Result<double> elliprd(double x, double y, double z) noexcept {
    constexpr double PI = std::numbers::pi;
    constexpr double THREE_PI = 3.0 * std::numbers::pi;
    constexpr double DUPLICATION_FACTOR = 107.63474115247546;  // (ε/4)^(−1/8)
    constexpr double SAFETY = 1.2;
    constexpr int MAX_STEPS = 50;

    if (std::fmin(x, y) < 0.0 || x + y == 0.0) {
        return fail(messages::kElliprdXY);
    }
    if (z <= 0.0) return fail(messages::kElliprdZ);

    // Far from 1 the products below leave the double range: scale (see scaling.hpp).
    if (const int k = scaling::exponent({x, y, z})) {
        const auto r = elliprd(std::ldexp(x, -2 * k), std::ldexp(y, -2 * k), std::ldexp(z, -2 * k));
        if (!r) return r;
        return std::ldexp(*r, -3 * k);
    }

    const double a0 = ((x + y) + 3.0 * z) / 5.0;  // symmetric in x and y: taken before the exchange
    if (x == z) std::swap(x, y);

    if (y == z) {
        if (x == y) return 1.0 / (x * std::sqrt(x));
        if (x == 0.0) return THREE_PI / ((4.0 * y) * std::sqrt(y));
    }

    if (x == 0.0) {
        const double x0 = std::sqrt(y);
        const double y0 = std::sqrt(z);
        const auto [a, b, s] = agm_with_sum(x0, y0);
        const double r = 3.0 * (PI / (a + b)) * ((x0 + 3.0 * y0) / ((4.0 * z) * (x0 + y0)) - s / (z * (y - z)));
        // With z tiny against y, z·(y − z) underflows (or, for a subnormal z,
        // both terms overflow: ∞ − ∞) although the value may be finite: take
        // the common factor 1/z out last.
        if (!std::isfinite(r) && std::isfinite(y) && std::isfinite(z)) {
            return 3.0 * (PI / (a + b)) * ((x0 + 3.0 * y0) / (4.0 * (x0 + y0)) - s / (y - z)) / z;
        }
        return r;
    }

    const double dx = a0 - x, dy = a0 - y, dz = a0 - z;
    double q = (std::fmax(std::fmax(dx, dy), dz) * DUPLICATION_FACTOR) * SAFETY;
    double a = a0, f = 1.0, s = 0.0;
    bool converged = false;
    for (int step = 0; step < MAX_STEPS; ++step) {
        q = q * 0.25;
        const double sx = std::sqrt(x), sy = std::sqrt(y), sz = std::sqrt(z);
        const double lambda = (sx * sy + sx * sz) + sy * sz;
        s = s + f / (sz * (z + lambda));
        a = (a + lambda) * 0.25;
        x = (x + lambda) * 0.25;
        y = (y + lambda) * 0.25;
        z = (z + lambda) * 0.25;
        f = f * 0.25;
        if (q < a) {
            converged = true;
            break;
        }
    }
    if (!converged) return fail(messages::kElliprdConvergence);

    const double X = (dx * f) / a;
    const double Y = (dy * f) / a;
    const double Z = (X + Y) / -3.0;
    const double e2 = X * Y - 6.0 * Z * Z;
    const double e3 = 3.0 * X * Y * Z - 8.0 * Z * Z * Z;
    const double e4 = 3.0 * (X * Y * Z - Z * Z * Z) * Z;
    const double e5 = X * Y * Z * Z * Z;
    const double series = 1.0 + 3.0 * e2 / -14.0 + e3 / 6.0 + 9.0 * e2 * e2 / 88.0 + 3.0 * e4 / -22.0 +
                          9.0 * e2 * e3 / -52.0 + 3.0 * e5 / 26.0 + e2 * e2 * e2 * -0.0625 +
                          3.0 * e3 * e3 / 40.0 + 3.0 * e2 * e4 / 20.0 + 45.0 * e2 * e2 * e3 / 272.0 +
                          9.0 * (e3 * e4 + e2 * e5) / -68.0;
    return f * std::pow(a, -1.5) * series + 3.0 * s;
}

}  // namespace zorvane::ellip
