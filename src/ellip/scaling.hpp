// Exact rescaling of the homogeneous Carlson integrals.
//
// RD, RG and RJ are homogeneous: R(λ·args) = λ^d·R(args), with d = −3/2, 1/2
// and −3/2. Their closed forms and duplication sums form products of two or
// three arguments (z·(y − z), a·c, δ = (p − x)(p − y)(p − z), d²), which
// overflow or underflow long before the integral itself leaves the double
// range: RD(0, 7e-187, 2e-167) came out as +∞, RG(1e224, 5e223, 2e224) and
// RJ with arguments near 1e120 as NaN. When the largest argument lies outside
// [2^-256, 2^256], the routines therefore evaluate at arguments scaled by
// λ = 4^-k, which brings it into [1, 4), and scale the result back by 2^(3k)
// or 2^(-k); both steps are exact powers of two. Inside that range nothing is
// scaled, so ordinary arguments take exactly the documented operations.
#pragma once

#include <cmath>
#include <initializer_list>

namespace zorvane::ellip::scaling {

// Largest magnitude among the arguments; a NaN argument is passed over, as
// IEEE maxNum does (0 if all are zero).
inline double largest(std::initializer_list<double> args) noexcept {
    double s = 0.0;
    for (double v : args) {
        const double a = std::fabs(v);
        if (a > s) s = a;
    }
    return s;
}

// Smallest non-zero magnitude among the arguments (0 if all are zero).
inline double smallest_nonzero(std::initializer_list<double> args) noexcept {
    double s = 0.0;
    for (double v : args) {
        const double a = std::fabs(v);
        if (a != 0.0 && (s == 0.0 || a < s)) s = a;
    }
    return s;
}

// k with largest·4^-k in [1, 4), or 0 when no scaling is needed (or possible:
// a NaN or infinite largest argument, or a non-zero argument that would
// underflow to zero and so change which arguments are zero). Ordinary
// arguments, the hot path, cost one pass for the largest.
inline int exponent(std::initializer_list<double> args) noexcept {
    const double big = largest(args);
    if (!std::isfinite(big) || big == 0.0 || (big >= 0x1p-256 && big <= 0x1p256)) return 0;
    int e = 0;
    (void)std::frexp(big, &e);  // big in [2^(e-1), 2^e)
    const int k = (e - 1) >= 0 ? (e - 1) / 2 : -((2 - e) / 2);  // floor((e - 1)/2)
    const double small = smallest_nonzero(args);
    if (small != 0.0 && std::ldexp(small, -2 * k) == 0.0) return 0;
    return k;
}

}  // namespace zorvane::ellip::scaling
