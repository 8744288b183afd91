// Carlson's symmetric integral of the first kind
//
//     RF(x, y, z) = 1/2 ∫₀^∞ dt / √((t + x)(t + y)(t + z)),   x, y, z ≥ 0, at most one zero.
//
// Three roads, chosen in this order:
//  * coinciding arguments reduce to 1/√x, π/(2√x) or RC;
//  * exactly one zero argument: RF(0, u, v) = π / (2 AGM(√u, √v)), computed by
//    the arithmetic-geometric mean, which converges quadratically and so needs
//    no step cap (the loop ends once the two means lie within about two ulp);
//  * otherwise Carlson's duplication
//        RF(x, y, z) = RF((x + λ)/4, (y + λ)/4, (z + λ)/4),  λ = √x√y + √x√z + √y√z,
//    which pulls the three arguments together by a factor 4 per step, until
//    the spread, measured against their mean A, is small enough for a
//    degree-7 series in the elementary symmetric functions E₂, E₃ of the
//    normalised deviations. The stopping bound starts at (3ε)^(−1/8)·max|A₀ − ·|
//    and shrinks by 4 per step. The run is capped at eleven steps: arguments
//    of very unequal magnitude (1e-300 next to 1) are reported as not
//    converged instead of being returned inaccurate.
//
// A NaN argument passes the domain test (minNum ignores it) and leads to a NaN
// value or to the convergence error.
#pragma once

#include <cmath>
#include <numbers>

#include "common/messages.hpp"
#include "common/result.hpp"
#include "ellip/carlson_lanes.hpp"
#include "ellip/elliprc.hpp"

namespace zorvane::ellip {

// The arithmetic-geometric mean of a and b, run to AGM_TOLERANCE, together with
// the weighted sum of squared differences Σ 2^(j−2)·(a_j − b_j)², j ≥ 1, that
// the AGM forms of RD and RG need. Like every AGM here it has no step cap: the
// means meet within a few units in the last place after a handful of steps, and
// a NaN or infinite operand ends the loop at once or after one step.
struct AgmSum {
    double a, b, s;
};
inline AgmSum agm_with_sum(double a, double b) noexcept {
    double s;
    generic::agm_with_sum(a, b, s, true);
    return {a, b, s};
}

inline Result<double> elliprf(double x, double y, double z) noexcept {
    constexpr double PI = std::numbers::pi;
    constexpr double DUPLICATION_FACTOR = 78.8959690786408;  // (3ε)^(−1/8)
    constexpr int MAX_STEPS = 11;

    if (std::fmin(std::fmin(x, y), z) < 0.0 ||
        std::fmin(std::fmin(y + z, x + y), x + z) == 0.0) {
        return fail(messages::kElliprfDomain);
    }

    if (x == y) {
        if (x == z) return 1.0 / std::sqrt(x);
        if (z == 0.0) return PI / (2.0 * std::sqrt(x));
        return elliprc(z, x);
    }
    if (x == z) {
        if (y == 0.0) return PI / (2.0 * std::sqrt(x));
        return elliprc(y, x);
    }
    if (y == z) {
        if (x == 0.0) return PI / (2.0 * std::sqrt(y));
        return elliprc(x, y);
    }

    if (x == 0.0 || y == 0.0 || z == 0.0) {
        double u, v;
        if (x == 0.0) {
            u = z;
            v = y;
        } else if (y == 0.0) {
            u = x;
            v = z;
        } else {
            u = x;
            v = y;
        }
        return PI / generic::agm_ends(std::sqrt(u), std::sqrt(v), true);
    }

    const double a0 = ((x + y) + z) / 3.0;
    const double m = std::fmax(std::fmax(std::fmax(std::fabs(a0), std::fabs(a0 - x)), std::fabs(a0 - y)),
                               std::fabs(a0 - z));
    double q = DUPLICATION_FACTOR * m;
    double a = a0;
    double f = 1.0;
    double xn = x, yn = y, zn = z;
    bool converged = false;
    for (int step = 0; step < MAX_STEPS; ++step) {
        const double sx = std::sqrt(xn), sy = std::sqrt(yn), sz = std::sqrt(zn);
        const double lambda = (sx * sy + sx * sz) + sy * sz;
        a = (a + lambda) * 0.25;
        q = q * 0.25;
        f = 4.0 * f;
        if (q < std::fabs(a)) {
            converged = true;
            break;
        }
        xn = (xn + lambda) * 0.25;
        yn = (yn + lambda) * 0.25;
        zn = (zn + lambda) * 0.25;
    }
    if (!converged) return fail(messages::kElliprfConvergence);

    const double X = (a0 - x) / (a * f);
    const double Y = (a0 - y) / (a * f);
    const double Z = -X - Y;
    const double e2 = X * Y - Z * Z;
    const double e3 = (X * Y) * Z;
    const double s = e2 / 24.0 - 0.1 - 3.0 * e3 / 44.0 - 5.0 * e2 * e2 / 208.0 + e2 * e3 * 0.0625;
    return ((1.0 + e3 * (3.0 * e3 / 104.0 + 0.07142857142857142)) + e2 * s) / std::sqrt(a);
}

}  // namespace zorvane::ellip
