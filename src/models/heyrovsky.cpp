#include "models/heyrovsky.hpp"

#include <cmath>
#include <limits>
#include <numbers>

#include "ellip/legendre/ellipk.hpp"
#include "ellip/legendre/ellippi.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/elliprj.hpp"
#include "models/mean_value.hpp"

namespace zorvane::models {

namespace {
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Near r = l, n and m tend to 1 together; formed first, their complements
// 1 − n and 1 − m, taken by subtraction inside the elliptic integrals, carry a
// relative error of about ε·((l + r)/(r − l))² (2e-12 at |r − l| = 1e-2·l,
// 6e-14 at 0.1·l, against 60-digit references). Within this distance the
// complements are formed directly (|r − l| < 0.1·(l + r), about 0.2·l), as a
// fraction of l + r so that the test is symmetric in l and r.
constexpr double kLimbZone = 0.1;

// Radii and Einstein radius (in source radii) for which the products of the
// direct complements stay far from overflow and underflow; rings outside
// these bounds keep the form below, which has its own guards for them.
constexpr double kZoneLow = 1e-150;
constexpr double kZoneHigh = 1e150;

// Relative width of the band around r = l in which the logarithmic expansion
// replaces the elliptic form, for rings beyond the bounds of the direct
// complements above (within them the complements are exact to the last digits
// down to |r − l| = ε·l). The expansion is a series in (r - l)/l, so the
// band must shrink with l: |r - l| < 1e-5*l. At l = 0 the band is empty and the
// elliptic form is exact (n = m = 0).
constexpr double kDegenerateBand = 1e-5;
// The ring near the lens, 0 < |δ| < kLimbZone·s, from the complements
//   1 − n = (δ/s)²,  1 − m = δ²·(s² + 4c²)/(s²·D),  δ = r − l, s = l + r, D = δ² + 4c²,
// exact identities without subtraction, and Carlson's forms
//   K = RF(0, 1 − m, 1),  Π = K + (n/3)·RJ(0, 1 − m, 1, 1 − n).
// δ is exact this close to l.
Result<double> near_ring(double delta, double s, double g) noexcept {
    const double d = delta * delta;
    const double big_d = d + g * 4.0;
    const double q = delta / s;
    const double nc = q * q;
    const double mc = nc * ((s * s + g * 4.0) / big_d);
    const auto big_k = ellip::elliprf(0.0, mc, 1.0);
    if (!big_k) return big_k;
    const auto j = ellip::elliprj(0.0, mc, 1.0, nc);
    if (!j) return j;
    const double big_p = *big_k + ((1.0 - nc) * *j) / 3.0;
    const double h = (4.0 / (s * std::sqrt(big_d))) * ((g + g) * *big_k + d * big_p);
    return h / kTwoPi;
}

}  // namespace

// The point-lens magnification A(u) = (u² + 2)/(u·√(u² + 4)) averaged around
// the ring, |l + r·e^{iφ}|² = l² + r² + 2lr·cos φ, reduces to complete elliptic
// integrals (the ring decomposition of limb-darkened sources after Heyrovský;
// with c = re/rstar, in source radii):
//
//   2π·A = 4/((l + r)·√((r − l)² + 4c²))·[2c²·K(m) + (r − l)²·Π(n, m)],
//   n = 4lr/(l + r)²,  m = 16c²·lr/((l + r)²·((r − l)² + 4c²)).
//
// Near r = l, where n and m tend to 1 together, K(m) ≈ ln(4/√(1 − m)) and
// Π's term vanishes with (r − l)²; to first order in δ = r − l,
//
//   2π·A ≈ δ·c(2l² + c²)/(l²(l² + c²)) + (1 − δ/(2l))·(2c/l)·ln(8lc/(|δ|·√(l² + c²)))
//          + 4·atan(l/c).
Result<double> heyrovsky_magnification(double l, double r, double re, double rstar) noexcept {
    const double c = re / rstar;
    const double g = c * c;
    const double delta = r - l;
    const double gap = std::fabs(r - l);

    // A ring through the lens: +inf, as the expansion below gives it. Said
    // here because for a subnormal l the band, relative to l, is empty and the
    // expansion's terms would meet 0·inf; and l = r = 0, a ring shrunk to a
    // point on the lens, is +inf as well (the forms below meet 0/0 there).
    // Without a lens (c = 0, or NaN) or at a negative separation r = l has no
    // such value: the expansion gives it (NaN), not the elliptic form (n = 1).
    if (gap == 0.0 && l >= 0.0 && c > 0.0) return std::numeric_limits<double>::infinity();

    // A ring far from the lens, or around it far from it: the mean-value series
    // in the smaller radius about A at the larger one (the ring average is
    // symmetric in l and r, and so is this).
    if (l >= 0.0 && r >= 0.0) {
        const double big = l > r ? l : r;
        const double small = l > r ? r : l;
        const double u = big / std::fabs(c);
        if (big >= series::kFar * small && u > 0.0 && u <= std::numeric_limits<double>::max()) {
            const double ratio = small / big;
            return series::mean_value(u, ratio * ratio, series::RING_WEIGHT,
                                      series::terms_for(big / small));
        }
    }

    const double sum = l + r;
    if (gap > 0.0 && gap < kLimbZone * sum && l > 0.0 && r > 0.0 && sum > kZoneLow &&
        sum < kZoneHigh && g < kZoneHigh) {
        return near_ring(delta, sum, g);
    }

    if (gap == 0.0 || gap < kDegenerateBand * l) {
        // Ring through the lens's neighbourhood: m and n tend to 1 together, and
        // the expansion of the elliptic form to first order in delta/l is used.
        // At delta = 0 the logarithm is +inf, the magnification of a ring
        // passing through the lens.
        const double a2 = l * l;
        const double s2 = a2 + g;
        const double t = delta / (l + l);
        const double big_l = std::log((l * (c * 8.0)) / (gap * std::sqrt(s2)));
        const double q = (1.0 - t) * ((c + c) / l);
        const double arc = std::atan(l / c);
        const double p = (c * ((a2 + a2) + g)) / (a2 * s2);
        const double h = delta * p + (q * big_l + arc * 4.0);
        return h / kTwoPi;
    }

    const double d = delta * delta;
    const double s = sum;
    const double big_d = d + g * 4.0;
    double k = ((c * 4.0) / s) * std::sqrt((l * r) / big_d);
    // For radii near the bottom of the range 4c/s overflows while l·r
    // underflows (∞·0); the same k through ratios that stay in range.
    if (std::isnan(k) && !std::isnan(s) && !std::isnan(big_d)) {
        k = ((c * 4.0) * std::sqrt((l / s) * (r / s))) / std::sqrt(big_d);
    }
    const double m = k * k;
    const auto big_k = ellip::ellipk(m);
    if (!big_k) return std::unexpected(big_k.error());
    double n = ((l * 4.0) * r) / (s * s);
    // For radii near the bottom of the range l·r and s² underflow to 0/0: the
    // same quotient as a product of two ratios in [0, 1].
    if (std::isnan(n) && !std::isnan(s)) n = (4.0 * (l / s)) * (r / s);
    const auto big_p = ellip::ellippi(n, m);
    if (!big_p) return std::unexpected(big_p.error());
    const double h = (4.0 / (s * std::sqrt(big_d))) * ((g + g) * *big_k + d * *big_p);
    return h / kTwoPi;
}

}  // namespace zorvane::models
