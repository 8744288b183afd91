// Complete elliptic integral of the first kind in the parameter m = k²,
//
//     K(m) = ∫₀^{π/2} dθ / √(1 − m sin²θ),   m ≤ 1.
//
// For 0 ≤ m < 0.9 (and −0.05 < m < 0) it is one Taylor polynomial of the
// interval table: no square root, division or loop. Near the logarithmic
// singularity at m = 1 the polynomials would need very high degrees, so from
// m = 0.9 on, and for m ≤ −0.05, K(m) = RF(0, 1 − m, 1), which RF evaluates
// through the arithmetic-geometric mean.
//
// K(1) = +∞ is a value, m > 1 an error. A NaN m gives a NaN value (through
// the AGM of RF), and K(−∞) = 0.
#pragma once

#include <limits>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/legendre/taylor_interval.hpp"

namespace zorvane::ellip {

inline Result<double> ellipk(double m) noexcept {
    const int interval = taylor::interval_of(m);
    if (interval >= 0) return taylor::k_polynomial(interval, m);
    if (m > 1.0) return fail(messages::kEllipkDomain);
    if (m == 1.0) return std::numeric_limits<double>::infinity();
    return elliprf(0.0, 1.0 - m, 1.0);
}

}  // namespace zorvane::ellip
