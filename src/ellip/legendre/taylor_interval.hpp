// Interval lookup and polynomial evaluation shared by ellipk and ellipe.
//
// For 0 <= m < 0.9 (and slightly below zero) K and E are truncated Taylor
// polynomials about the centre of one of ten intervals. The interval comes
// from i = trunc(20 m): indices 0 … 17 have a polynomial, every other m (and a
// NaN, or a product 20 m outside the int range) has none and the caller falls
// back on Carlson's forms.
//
// The polynomials are evaluated by Horner's rule, highest coefficient first.
// Each interval gets its own instance with the degree known at compile time, so
// the loop unrolls completely and the only branch is the choice of interval;
// the order of operations, and so every result bit, is that of the plain loop.
#pragma once

#include "ellip/legendre/ellip_taylor_table.hpp"

namespace zorvane::ellip::taylor {

// Interval of m in INTERVALS, or -1 when m has no polynomial.
inline int interval_of(double m) noexcept {
    const double scaled = 20.0 * m;
    if (!(scaled > -2147483649.0 && scaled < 2147483648.0)) return -1;
    const int index = static_cast<int>(scaled);  // truncation toward zero
    if (index < 0 || index > 17) return -1;
    return INTERVAL_OF_INDEX[index];
}

// c[N] t^N + … + c[0] by Horner's rule.
template <int N>
inline double horner(const double* c, double t) noexcept {
    double p = c[N];
    for (int j = N - 1; j >= 0; --j) p = p * t + c[j];
    return p;
}

template <int I>
inline double k_at(double m) noexcept {
    constexpr Interval iv = INTERVALS[I];
    return horner<iv.k_degree>(K_COEFFICIENTS + iv.k_offset, m - iv.centre);
}

template <int I>
inline double e_at(double m) noexcept {
    constexpr Interval iv = INTERVALS[I];
    return horner<iv.e_degree>(E_COEFFICIENTS + iv.e_offset, m - iv.centre);
}

// The K polynomial of interval `interval` (0 … 9) at m.
inline double k_polynomial(int interval, double m) noexcept {
    switch (interval) {
        case 0: return k_at<0>(m);
        case 1: return k_at<1>(m);
        case 2: return k_at<2>(m);
        case 3: return k_at<3>(m);
        case 4: return k_at<4>(m);
        case 5: return k_at<5>(m);
        case 6: return k_at<6>(m);
        case 7: return k_at<7>(m);
        case 8: return k_at<8>(m);
        default: return k_at<9>(m);
    }
}

// The E polynomial of interval `interval` (0 … 9) at m.
inline double e_polynomial(int interval, double m) noexcept {
    switch (interval) {
        case 0: return e_at<0>(m);
        case 1: return e_at<1>(m);
        case 2: return e_at<2>(m);
        case 3: return e_at<3>(m);
        case 4: return e_at<4>(m);
        case 5: return e_at<5>(m);
        case 6: return e_at<6>(m);
        case 7: return e_at<7>(m);
        case 8: return e_at<8>(m);
        default: return e_at<9>(m);
    }
}

}  // namespace zorvane::ellip::taylor
