// Complete elliptic integral of the third kind in the characteristic n and the
// parameter m,
//
//     Π(n, m) = ∫₀^{π/2} dθ / ((1 − n sin²θ) √(1 − m sin²θ)),   m < 1,
//
// the Cauchy principal value for n > 1. Every case reduces to Carlson's forms:
//  * 0 < n < 1:  Π = RF(0, 1 − m, 1) + (n/3)·RJ(0, 1 − m, 1, 1 − n)  (ellippi_vc);
//  * n < 0 with m within n/2 of n: the same form (the one below cancels there);
//  * other n < 0: the characteristic is moved to N = (m − n)/(1 − n) < 1 with
//        Π(n, m) = [m K(m) − (1 − m)·n/(1 − n)·Π(N, m)] / (m − n),
//    N's complement (1 − m)/(1 − n) being passed on so that it never cancels;
//  * n > 1: Π(n, m) = −(m/(3n))·RJ(0, 1 − m, 1, 1 − m/n);
// with closed forms or infinities where n or m comes within ε of 1. Negative m
// needs no case of its own.
//
// NaN arguments pass every test; they end in a NaN value or in the convergence
// error of RJ.
#pragma once

#include <cmath>
#include <numbers>
#include <limits>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/elliprj.hpp"
#include "ellip/scaling.hpp"
#include "ellip/legendre/ellipe.hpp"
#include "ellip/legendre/ellipk.hpp"

namespace zorvane::ellip {

namespace detail {

// term(RJ(x, y, z, p)) for a term linear in RJ. For a very negative m the
// arguments (0, 1 − m, 1, ·) are huge and RJ itself falls below the normal
// range (RJ(0, 1e220, 1, 7e219) ≈ 1e-330 keeps one or two digits), although
// the term, multiplied by a large n or m, is an ordinary number. There RJ is
// evaluated at arguments scaled by 4^-k and the term scaled back by 2^(3k)
// after the multiplication; elsewhere this is exactly term(elliprj(x, y, z, p)).
template <class Term>
inline Result<double> rj_term(double x, double y, double z, double p, Term term) noexcept {
    const int k = scaling::exponent({x, y, z, p});
    if (k > 0) {
        const auto j = elliprj(std::ldexp(x, -2 * k), std::ldexp(y, -2 * k), std::ldexp(z, -2 * k),
                               std::ldexp(p, -2 * k));
        if (!j) return j;
        return std::ldexp(term(*j), -3 * k);
    }
    const auto j = elliprj(x, y, z, p);
    if (!j) return j;
    return term(*j);
}

}  // namespace detail

// Π(n, m) for n < 1 with the complement nc = 1 − n supplied by the caller
// without cancellation; requires 1 − m > ε.
inline Result<double> ellippi_vc(double n, double m, double nc) noexcept {
    const auto f = elliprf(0.0, 1.0 - m, 1.0);
    if (!f) return f;
    const auto t = detail::rj_term(0.0, 1.0 - m, 1.0, nc, [n](double j) { return (n * j) / 3.0; });
    if (!t) return t;
    return *f + *t;
}

// Whether ellippi(n, m) is exactly the sum RF(0, 1 − m, 1) + (n/3)·RJ(0, 1 − m, 1, 1 − n)
// with no rescaling: 0 < n < 1 and 0 ≤ m < 1, n and m more than ε from 1. Batched
// callers evaluate RF and RJ four at a time there and get the same bits.
inline bool ellippi_is_carlson_sum(double n, double m) noexcept {
    constexpr double EPSILON = 2.220446049250313e-16;
    return n > 0.0 && 1.0 - n > EPSILON && m >= 0.0 && 1.0 - m > EPSILON;
}

inline Result<double> ellippi(double n, double m) noexcept {
    constexpr double EPSILON = 2.220446049250313e-16;
    constexpr double MINUS_ONE_THIRD = -0.3333333333333333;
    constexpr double PI_2 = std::numbers::pi / 2.0;
    constexpr double INF = std::numeric_limits<double>::infinity();

    if (m > 1.0) return fail(messages::kEllippiM);
    if (n == 1.0) return fail(messages::kEllippiN);

    const double mc = 1.0 - m;
    if (mc <= EPSILON) {
        if (n < 1.0) return INF;
        if (n > 1.0) return -INF;
        return std::numeric_limits<double>::quiet_NaN();
    }

    if (n > 1.0) {
        if (n - 1.0 <= EPSILON) {
            const auto k = ellipk(m);
            if (!k) return k;
            const auto e = ellipe(m);
            if (!e) return e;
            return *k - *e / mc;
        }
        return detail::rj_term(0.0, mc, 1.0, 1.0 - m / n,
                               [m, n](double j) { return ((m * MINUS_ONE_THIRD) / n) * j; });
    }

    // n < 1, or a NaN n.
    if (1.0 - n <= EPSILON) return INF;
    if (n == 0.0) {
        if (m == 0.0) return PI_2;
        return ellipk(m);
    }
    if (n > 0.0) return ellippi_vc(n, m, 1.0 - n);
    // With m close to a negative n the transformation below divides a
    // difference that cancels by m − n (ellippi(−0.0499999999999999, −0.05)
    // came out as −34 instead of 1.6, and (−4.46e157, −4.46e157·(1 + 3ε)) as
    // −0 instead of 1.5e-79). There the direct form, whose two terms do not
    // cancel for such n, is used.
    if (m != n && std::fabs(m - n) < 0.5 * std::fabs(n)) {
        if (n > -1e150) return ellippi_vc(n, m, 1.0 - n);
        // Beyond, n·RJ would overflow before rj_term scales it back: with
        // RJ(args) = 2^(−3k)·RJ(4^(−k)·args), the term is (n·4^(−k))·RJ(scaled)·2^(−k),
        // each factor of ordinary size.
        const auto f = elliprf(0.0, mc, 1.0);
        if (!f) return f;
        const int k = scaling::exponent({0.0, mc, 1.0, 1.0 - n});
        const auto j = elliprj(0.0, std::ldexp(mc, -2 * k), std::ldexp(1.0, -2 * k), std::ldexp(1.0 - n, -2 * k));
        if (!j) return j;
        return *f + std::ldexp((std::ldexp(n, -2 * k) * *j) / 3.0, -k);
    }
    if (m == n) {
        const auto e = ellipe(m);
        if (!e) return e;
        return (1.0 / mc) * *e;
    }
    const double big_n = (m - n) / (1.0 - n);
    const double big_nc = mc / (1.0 - n);
    const auto v = ellippi_vc(big_n, m, big_nc);
    if (!v) return v;
    const auto k = ellipk(m);
    if (!k) return k;
    return (m * *k) / (m - n) - (mc * ((*v * n) / (1.0 - n))) / (m - n);
}

}  // namespace zorvane::ellip
