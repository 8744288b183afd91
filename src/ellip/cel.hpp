// Bulirsch's generalised complete elliptic integral, for p > 0 and kc > 0:
//
//   cel(kc, p, a, b) = ∫₀^{π/2} (a·cos²φ + b·sin²φ) / ((cos²φ + p·sin²φ)·√(cos²φ + kc²·sin²φ)) dφ.
//
// It is linear in (a, b), with cel(kc, p, 1, p) = K(m) and cel(kc, p, 1, 1) =
// Π(n, m) for kc = √(1 − m), p = 1 − n; so α·K(m) + β·Π(n, m) =
// cel(kc, p, α + β, α·p + β), one quadratically convergent loop (about six
// steps of two divisions and a square root) from the complements, where K
// and Π take an AGM and a duplication. A NaN argument gives NaN.
#pragma once

#include <cstddef>

#include "ellip/carlson_lanes.hpp"

namespace zorvane::ellip {

inline double cel(double kc, double p, double a, double b) noexcept {
    return generic::cel_positive(kc, p, a, b, true);
}

// value[i] = cel(kc[i], p[i], a[i], b[i]) for i < count, bit for bit, with
// the four-lane kernels where the kernel set has them (common/kernels.hpp),
// two packs side by side.
void cel_lanes(const double* kc, const double* p, const double* a, const double* b, double* value,
               std::size_t count) noexcept;

}  // namespace zorvane::ellip
