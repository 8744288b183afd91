// Carlson's symmetric integral of the third kind
//
//     RJ(x, y, z, p) = 3/2 ∫₀^∞ dt / ((t + p) · √((t + x)(t + y)(t + z))),
//
// symmetric in x, y, z (non-negative, at most one zero), and for p < 0 its
// Cauchy principal value.
//
// `elliprj` checks the domain and moves a negative p to a positive one with
// Carlson's identity (x ≤ y ≤ z, q = −p, p′ = (z(x + y + q) − xy)/(z + q) > 0):
//
//     (z + q)·RJ(x, y, z, −q) = (p′ − z)·RJ(x, y, z, p′) − 3 RF(x, y, z)
//                               + 3 √(xyz/(xy + p′q)) · RC(xy + p′q, p′q).
//
// `_elliprj` evaluates p > 0. Coinciding arguments have closed forms in RC and
// RD (for x = y = z with p within a quarter of x, a series instead); a pair whose value lies far from p (ratio above 1.2) is the difference of
// two RC, nearer than that the difference would cancel and the duplication is
// used instead. The duplication adds per step the exact piece
// 6·4⁻ʲ/d · RC(1, 1 + ρ), d = (√p + √x)(√p + √y)(√p + √z), ρ = δ·4⁻³ʲ/d²,
// δ = (p − x)(p − y)(p − z), where RC(1, 1 + ρ) is taken in the form that does
// not cancel for each range of ρ (arctangent for ρ > 0, a log1p pair for small
// negative ρ, RC itself further out), and closes with the degree-7 series of RD.
// A NaN that reaches the duplication makes every stopping test false and ends
// in "elliprj: Fail to converge". The duplication itself is written once for
// one or several lanes (carlson_lanes.inc). `elliprj` rescales arguments far from 1
// exactly before anything else (scaling.hpp), so that δ and d² stay finite.
#pragma once

#include <cmath>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/carlson_lanes.hpp"
#include "ellip/elliprc.hpp"
#include "ellip/elliprd.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/scaling.hpp"

namespace zorvane::ellip {

// RJ for p > 0; the caller has checked the domain.
inline Result<double> _elliprj(double x, double y, double z, double p) noexcept {
    constexpr double RATIO_LIMIT = 1.2;

    if (x == y && x == z) {
        if (x == p) return 1.0 / (x * std::sqrt(x));
        // Near p = x the closed form below subtracts two nearly equal numbers and
        // divides by x − p (RJ(0.9, 0.9, 0.9, 0.9 − ulp) came out as −6). There
        //     RJ(x, x, x, p) = x^(−3/2) Σₖ 3/(2k + 3) · δᵏ,   δ = (x − p)/x,
        // from expanding 1/(t + p) in powers of (x − p)/(t + x). The closed form
        // loses about ε/|δ| (3000 ulp at |δ| = 1e-3, a dozen at 1/4); for
        // |δ| < 1/4 the series is used, thirty terms reaching the rounding level.
        const double delta = (x - p) / x;
        if (std::fabs(delta) < 0.25) {
            double series = 3.0 / 63.0;
            for (int k = 29; k >= 0; --k) series = series * delta + 3.0 / (2.0 * k + 3.0);
            return series / (x * std::sqrt(x));
        }
        const auto rc = elliprc(x, p);
        if (!rc) return rc;
        return (3.0 / (x - p)) * (*rc - 1.0 / std::sqrt(x));
    }

    if (x == y || y == z) {
        const double u = x == y ? z : x;
        if (y == p) return elliprd(u, y, y);
        if (std::fmax(p, y) / std::fmin(p, y) > RATIO_LIMIT) {
            const auto rc_y = elliprc(u, y);
            if (!rc_y) return rc_y;
            const auto rc_p = elliprc(u, p);
            if (!rc_p) return rc_p;
            return (3.0 / (p - y)) * (*rc_y - *rc_p);
        }
        x = u;
        z = y;
    } else if (z == p) {
        return elliprd(x, y, z);
    }

    double value;
    const char* error = nullptr;
    if (!generic::rj_duplication(x, y, z, p, true, value, &error)) {
        return fail(error != nullptr ? error : messages::kElliprjConvergence);
    }
    return value;
}

inline Result<double> elliprj(double x, double y, double z, double p) noexcept {
    if (std::fmin(std::fmin(x, y), z) < 0.0 ||
        std::fmin(std::fmin(y + z, x + y), x + z) == 0.0) {
        return fail(messages::kElliprjDomain);
    }
    if (p == 0.0) return fail(messages::kElliprjP);

    // δ and d² grow like the cube of the arguments: scale far from 1 (see scaling.hpp).
    if (const int k = scaling::exponent({x, y, z, p})) {
        const auto r = elliprj(std::ldexp(x, -2 * k), std::ldexp(y, -2 * k), std::ldexp(z, -2 * k),
                               std::ldexp(p, -2 * k));
        if (!r) return r;
        return std::ldexp(*r, -3 * k);
    }
    if (!(p < 0.0)) return _elliprj(x, y, z, p);

    // Principal value: sort x′ ≤ y′ ≤ z′ and move p to the positive p′.
    const double h = x > y ? x : y;
    const double l = x > y ? y : x;
    const double zs = z < h ? h : z;
    const double r = z < h ? z : h;
    const double xs = l > r ? r : l;
    const double ys = l > r ? l : r;

    const double q = -p;
    const double ps = (zs * ((xs + ys) - p) - xs * ys) / (zs - p);
    const auto j = _elliprj(xs, ys, zs, ps);
    if (!j) return j;
    const auto rf = elliprf(xs, ys, zs);
    if (!rf) return rf;
    const double t = xs * ys + ps * q;
    const auto rc = elliprc(t, ps * q);
    if (!rc) return rc;
    return ((ps - zs) * *j - 3.0 * *rf + 3.0 * std::sqrt((zs * (xs * ys)) / t) * *rc) / (zs - p);
}

}  // namespace zorvane::ellip
