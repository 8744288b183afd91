// Carlson's completely symmetric integral
//
//     RG(x, y, z) = 1/4 ∫₀^∞ [x/(t + x) + y/(t + y) + z/(t + z)] · t dt / √((t + x)(t + y)(t + z)),
//
// for x, y, z ≥ 0. The arguments are sorted into a ≥ b ≥ c; equal pairs reduce
// to RC, a zero smallest argument to the arithmetic-geometric mean
// (RG(0, b, a) = (π/4)·((√a + √b)²/4 − Σ 2ʲ⁻²(aⱼ − bⱼ)²) / AGM), and the
// general case to
//
//     2 RG(a, c, b) = b·RF(a, c, b) − (a − b)(c − b)·RD(a, c, b)/3 + √(ac/b),
//
// with the middle value in the third place so that (a − b)(c − b) ≤ 0 and no
// term cancels. A NaN argument leads to a NaN value or to an error of the
// inner routines. Arguments far from 1 are rescaled exactly first
// (scaling.hpp), so that no intermediate product overflows.
#pragma once

#include <cmath>
#include <numbers>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/elliprc.hpp"
#include "ellip/elliprd.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/scaling.hpp"

namespace zorvane::ellip {

inline Result<double> elliprg(double x, double y, double z) noexcept {
    constexpr double PI = std::numbers::pi;

    if (x < 0.0 || y < 0.0 || z < 0.0) return fail(messages::kElliprgDomain);

    // Far from 1, a·c and the RD term leave the double range: scale (see scaling.hpp).
    if (const int k = scaling::exponent({x, y, z})) {
        const auto r = elliprg(std::ldexp(x, -2 * k), std::ldexp(y, -2 * k), std::ldexp(z, -2 * k));
        if (!r) return r;
        return std::ldexp(*r, k);
    }

    const double p = x < y ? y : x;
    const double q = x < y ? x : y;
    const double a = z > p ? z : p;
    const double r = z > p ? p : z;
    const double b = q > r ? q : r;
    const double c = q > r ? r : q;

    if (a == b) {
        if (b == c) return std::sqrt(a);
        if (c == 0.0) return (std::sqrt(a) * PI) * 0.25;
        const auto rc = elliprc(c, a);
        if (!rc) return rc;
        return (std::sqrt(c) + a * *rc) * 0.5;
    }
    if (b == c) {
        if (c == 0.0) return std::sqrt(a) * 0.5;
        const auto rc = elliprc(a, c);
        if (!rc) return rc;
        return (std::sqrt(a) + *rc * c) * 0.5;
    }
    if (c == 0.0) {
        const double a0 = std::sqrt(a);
        const double b0 = std::sqrt(b);
        const auto [alpha, beta, s] = agm_with_sum(a0, b0);
        const double sum = a0 + b0;
        return (sum * sum * 0.25 - s) * (PI / (alpha + beta)) * 0.5;
    }

    const auto rf = elliprf(a, c, b);
    if (!rf) return rf;
    const auto rd = elliprd(a, c, b);
    if (!rd) return rd;
    return (std::sqrt(a * c / b) + (b * *rf + ((a - b) * (c - b)) * *rd / -3.0)) * 0.5;
}

}  // namespace zorvane::ellip
