// The iterations of Carlson's integrals written once for a lane type T: a
// plain double, or (in carlson_avx2.cpp) a pack of four doubles that runs four
// arguments side by side. The scalar routines (elliprf.hpp, elliprg.hpp,
// elliprj.hpp) call these templates with T = double; the four-lane kernels
// instantiate the very same text with the pack type.
//
// Every lane performs exactly the operations of the scalar loop, in the same
// order: IEEE addition, multiplication, division and square root are
// correctly rounded whether done one or four at a time, nothing is contracted
// into a fused multiply-add, and the library functions (atan, pow and the
// cases of RC) are called per lane. A lane whose loop has ended keeps its
// values while the others go on (lane_select), so each lane takes the number
// of steps it would take alone and ends with the same bits.
//
// A lane type provides, besides the arithmetic operators and comparisons (a
// comparison gives a mask; masks combine with &&, || and !):
//   lane_sqrt, lane_abs, lane_fmax, lane_isnormal        elementwise
//   lane_select(m, a, b)                                 a where m is set, else b
//   lane_any(m)                                          some lane of m is set
//   lane_atan(x, m), lane_pow(x, e, m)                   library calls on the lanes of m
//   lane_rj_other(...)                                   see rc_factor_nonpositive
// The double forms follow; the templates themselves are in carlson_lanes.inc,
// which also holds Bulirsch's generalised complete integral cel (cel.hpp).
#pragma once

#include <cmath>
#include <limits>
#include <numbers>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/elliprc.hpp"

namespace zorvane::ellip {

// Relative stopping test of the arithmetic-geometric means (RF, RD and RG): 2.7·ε.
inline constexpr double AGM_TOLERANCE = 5.995204332975846e-16;

inline double lane_sqrt(double x) noexcept { return std::sqrt(x); }
inline double lane_abs(double x) noexcept { return std::fabs(x); }
inline double lane_fmax(double a, double b) noexcept { return std::fmax(a, b); }
inline bool lane_isnormal(double x) noexcept { return std::isnormal(x); }
inline double lane_select(bool m, double a, double b) noexcept { return m ? a : b; }
inline bool lane_select(bool m, bool a, bool b) noexcept { return m ? a : b; }
inline bool lane_any(bool m) noexcept { return m; }
inline double lane_atan(double x, bool m) noexcept { return m ? std::atan(x) : x; }
inline double lane_pow(double x, double e, bool m) noexcept { return m ? std::pow(x, e) : x; }

// The factor R = RC(1, 1 + ρ) of one duplication step of RJ for ρ ≤ 0 or a
// NaN ρ, in the form that does not cancel for each range of ρ (the positive ρ,
// nearly every step, takes the arctangent in the duplication loop itself).
// rp, rx, ry, rz are the roots of the step's arguments, d the product
// (√p + √z)(√p + √y)(√p + √x).
inline Result<double> rc_factor_nonpositive(double rho, bool out_of_range, double rp, double rx, double ry,
                                            double rz, double p, double d) noexcept {
    if (rho > -1.5 && rho < -0.5) {
        // 1 + ρ, computed directly (dividing factor by factor when d² is out of range).
        const double b = out_of_range
                             ? (2.0 * rp / (rp + rz)) * (((p + rx * (ry + rz)) + ry * rz) / (rp + ry)) / (rp + rx)
                             : (2.0 * rp * ((p + rx * (ry + rz)) + ry * rz)) / d;
        return elliprc(1.0, b);
    }
    if (rho < -1.0) {
        const auto rc = elliprc(-rho, -1.0 - rho);
        if (!rc) return rc;
        return std::sqrt(-1.0 / rho) * *rc;
    }
    if (rho == 0.0) return 1.0;
    if (rho > -0.5 && rho < 0.0) {
        const double sigma = std::sqrt(-rho);
        return (std::log1p(sigma) - std::log1p(-sigma)) / (sigma + sigma);
    }
    const double sigma = std::sqrt(-rho);
    return std::log((sigma + 1.0) / std::sqrt(rho + 1.0)) / sigma;
}

// rc_factor_nonpositive on the lanes of m, into r; returns the lanes whose RC
// failed (with a single lane, its message goes to *error).
inline bool lane_rj_other(double& r, bool m, double rho, bool out_of_range, double rp, double rx, double ry,
                          double rz, double p, double d, const char** error) noexcept {
    if (!m) return false;
    const auto v = rc_factor_nonpositive(rho, out_of_range, rp, rx, ry, rz, p, d);
    if (!v) {
        *error = v.error().message;
        return true;
    }
    r = *v;
    return false;
}

}  // namespace zorvane::ellip

#define ZORVANE_LANES_NS generic
#include "ellip/carlson_lanes.inc"
#undef ZORVANE_LANES_NS
