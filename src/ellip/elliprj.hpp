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
// in "elliprj: Fail to converge". `elliprj` rescales arguments far from 1
// exactly before anything else (scaling.hpp), so that δ and d² stay finite.
#pragma once

#include <cmath>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/elliprc.hpp"
#include "ellip/elliprd.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/scaling.hpp"

namespace zorvane::ellip {

// RJ for p > 0; the caller has checked the domain.
inline Result<double> _elliprj(double x, double y, double z, double p) noexcept {
    constexpr double DUPLICATION_FACTOR = 110.67925377307274;  // (ε/5)^(−1/8)
    constexpr double RATIO_LIMIT = 1.2;
    constexpr int MAX_STEPS = 100;

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

    const double a0 = (((x + y) + z) + 2.0 * p) / 5.0;
    const double dx = a0 - x, dy = a0 - y, dz = a0 - z;
    const double q0 = DUPLICATION_FACTOR *
                      std::fmax(std::fmax(std::fmax(std::fabs(a0 - x), std::fabs(a0 - y)), std::fabs(a0 - z)),
                                std::fabs(a0 - p));
    double delta = (p - z) * ((p - y) * (p - x));
    // The three factors of δ, followed separately for when δ or d² leaves the
    // double range (arguments of very different size, e.g. RJ(0, 1, 1e-200, 2e-200),
    // where δ and d² both underflow and δ/d² would be 0/0).
    double dpx = p - x, dpy = p - y, dpz = p - z;
    double a = a0, f = 1.0, s = 0.0;
    bool converged = false;
    for (int step = 0; step < MAX_STEPS; ++step) {
        const double rx = std::sqrt(x), ry = std::sqrt(y), rz = std::sqrt(z), rp = std::sqrt(p);
        const double d = (rp + rz) * ((rp + ry) * (rp + rx));
        double rho = delta / (d * d);
        const bool out_of_range = !std::isnormal(d * d) ||
                                  (delta == 0.0 ? (dpx != 0.0 && dpy != 0.0 && dpz != 0.0) : !std::isnormal(delta));
        if (out_of_range) {
            // ρ as a product of three factors of magnitude at most 1:
            // (p − u)/(√p + √u)² = (√p − √u)/(√p + √u).
            rho = ((dpz / (rp + rz) / (rp + rz)) * (dpy / (rp + ry) / (rp + ry))) * (dpx / (rp + rx) / (rp + rx));
        }

        // R = RC(1, 1 + ρ) in a form free of cancellation for this ρ.
        double r;
        if (rho > -1.5 && rho < -0.5) {
            // 1 + ρ, computed directly (dividing factor by factor when d² is out of range).
            const double b = out_of_range
                                 ? (2.0 * rp / (rp + rz)) * (((p + rx * (ry + rz)) + ry * rz) / (rp + ry)) / (rp + rx)
                                 : (2.0 * rp * ((p + rx * (ry + rz)) + ry * rz)) / d;
            const auto rc = elliprc(1.0, b);
            if (!rc) return rc;
            r = *rc;
        } else if (rho < -1.0) {
            const auto rc = elliprc(-rho, -1.0 - rho);
            if (!rc) return rc;
            r = std::sqrt(-1.0 / rho) * *rc;
        } else if (rho == 0.0) {
            r = 1.0;
        } else if (rho > 0.0) {
            const double sr = std::sqrt(rho);
            r = std::atan(sr) / sr;
        } else if (rho > -0.5 && rho < 0.0) {
            const double sigma = std::sqrt(-rho);
            r = (std::log1p(sigma) - std::log1p(-sigma)) / (sigma + sigma);
        } else {
            const double sigma = std::sqrt(-rho);
            r = std::log((sigma + 1.0) / std::sqrt(rho + 1.0)) / sigma;
        }

        s = s + (f / d) * r;
        f = f * 0.25;
        const double lambda = (ry * rx + rz * rx) + rz * ry;
        a = (a + lambda) * 0.25;
        if (q0 * f < a) {
            converged = true;
            break;
        }
        x = (x + lambda) * 0.25;
        y = (y + lambda) * 0.25;
        z = (z + lambda) * 0.25;
        p = (p + lambda) * 0.25;
        delta = delta * 0.015625;
        dpx = dpx * 0.25;
        dpy = dpy * 0.25;
        dpz = dpz * 0.25;
    }
    if (!converged) return fail(messages::kElliprjConvergence);

    const double X = (dx * f) / a;
    const double Y = (dy * f) / a;
    const double Z = (dz * f) / a;
    const double P = ((-X - Y) - Z) * 0.5;
    const double e2 = (X * Y + X * Z) + Y * Z - 3.0 * P * P;
    const double e3 = X * Y * Z + 2.0 * e2 * P + 4.0 * P * P * P;
    const double e4 = (2.0 * X * Y * Z + e2 * P + 3.0 * P * P * P) * P;
    const double e5 = X * Y * Z * P * P;
    const double series = 1.0 + 3.0 * e2 / -14.0 + e3 / 6.0 + 9.0 * e2 * e2 / 88.0 + 3.0 * e4 / -22.0 +
                          9.0 * e2 * e3 / -52.0 + 3.0 * e5 / 26.0 + e2 * e2 * e2 * -0.0625 +
                          3.0 * e3 * e3 / 40.0 + 3.0 * e2 * e4 / 20.0 + 45.0 * e2 * e2 * e3 / 272.0 +
                          9.0 * (e3 * e4 + e2 * e5) / -68.0;
    return 6.0 * s + f * std::pow(a, -1.5) * series;
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
