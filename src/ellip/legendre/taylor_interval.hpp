// Interval lookup and polynomial evaluation shared by ellipk and ellipe.
//
// For 0 <= m < 0.9 (and slightly below zero) K and E are truncated Taylor
// polynomials about the centre of one of ten intervals. The interval comes
// from i = trunc(20 m): indices 0 … 17 have a polynomial, every other m (and a
// NaN, or a product 20 m outside the int range) has none and the caller falls
// back on Carlson's forms.
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

// Horner evaluation at t = m - m_c, highest coefficient first.
inline double evaluate(const double* coefficients, int degree, double t) noexcept {
    double p = coefficients[degree];
    for (int j = degree - 1; j >= 0; --j) p = p * t + coefficients[j];
    return p;
}

inline double k_polynomial(int interval, double m) noexcept {
    const Interval& iv = INTERVALS[interval];
    return evaluate(K_COEFFICIENTS + iv.k_offset, iv.k_degree, m - iv.centre);
}

inline double e_polynomial(int interval, double m) noexcept {
    const Interval& iv = INTERVALS[interval];
    return evaluate(E_COEFFICIENTS + iv.e_offset, iv.e_degree, m - iv.centre);
}

}  // namespace zorvane::ellip::taylor
