// The cosine moment of the complete elliptic integrals that the derivatives
// of the disk and ring magnifications in the separation take:
//
//   (2E(m) − (2 − m)K(m))/m = ∫₀^{π/2} cos 2θ/√(1 − m sin²θ) dθ
//                           = −(π m/16)·₂F₁(3/2, 3/2; 3; m).
//
// It vanishes with m, and from E and K it cancels (about ε/m² relative); below
// kSmallM the hypergeometric series takes over, whose terms have one sign:
// F = 1 + r₁m(1 + r₂m(1 + …)), r_j = (2j + 1)²/(4j(j + 2)) < 1, so sixteen
// ratios leave less than m¹⁷/(1 − m) ≤ 1.2e-17.
#pragma once

#include <numbers>

namespace zorvane::models {

inline constexpr double kSmallM = 0.1;
inline constexpr int kSmallMTerms = 16;

// The series, for 0 <= m < kSmallM.
inline double edge_moment_series(double m) noexcept {
    double f = 1.0;
#pragma GCC unroll 16
    for (int j = kSmallMTerms; j >= 1; --j) {
        const double ratio = ((2.0 * j + 1.0) * (2.0 * j + 1.0)) / (4.0 * j * (j + 2.0));
        f = 1.0 + (ratio * m) * f;
    }
    return 0.0 - ((std::numbers::pi / 16.0) * m) * f;  // +0 at m = 0
}

// The moment from E(m) and K(m).
inline double edge_moment(double m, double e, double k) noexcept {
    if (m < kSmallM) return edge_moment_series(m);
    return ((e + e) - (2.0 - m) * k) / m;
}

}  // namespace zorvane::models
