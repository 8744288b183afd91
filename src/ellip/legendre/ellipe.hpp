// Complete elliptic integral of the second kind in the parameter m = k²,
//
//     E(m) = ∫₀^{π/2} √(1 − m sin²θ) dθ,   m ≤ 1.
//
// A negative m is first mapped into (0, 1) with E(m) = √(1 − m)·E(m/(m − 1)).
// Then, for 0 ≤ m < 0.9, E is one Taylor polynomial of the interval table;
// from m = 0.9 on it is 2·RG(0, 1 − m, 1), evaluated by the arithmetic-geometric
// mean of RG. E(1) = 1 is a value, m > 1 an error.
//
// A NaN m, and m = −∞ (whose transformation gives ∞/∞), return a NaN value:
// the integral has no finite value to offer there, and a NaN carries that to
// the caller without the misleading message an inner routine would give.
#pragma once

#include <cmath>
#include <limits>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/elliprg.hpp"
#include "ellip/legendre/taylor_interval.hpp"

namespace zorvane::ellip {

inline Result<double> ellipe(double m) noexcept {
    double c = 1.0;
    while (m < 0.0) {
        c = c * std::sqrt(1.0 - m);
        m = m / (m - 1.0);
    }
    const int interval = taylor::interval_of(m);
    if (interval >= 0) return c * taylor::e_polynomial(interval, m);
    if (m > 1.0) return fail(messages::kEllipeDomain);
    if (m == 1.0) return c;
    if (std::isnan(m)) return std::numeric_limits<double>::quiet_NaN();
    const auto r = elliprg(0.0, 1.0 - m, 1.0);
    if (!r) return r;
    return c * (*r + *r);
}

}  // namespace zorvane::ellip
