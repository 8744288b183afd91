// Magnifications of a source whose brightness varies with the radius.
//
// With P(r) the surface brightness at radius r (a fraction of the source radius)
// and A_ring(r) the magnification of the thin ring of radius r,
//
//     A = ∫₀¹ 2πr·P(r)·A_ring(r) dr / N,    N = ∫₀¹ 2πr·P(r) dr.
//
// Two independent routes compute it:
//  - the ring family integrates the ring magnification directly;
//  - the disk family uses M(r), the uniform-disk magnification of the concentric
//    disk of radius r: πr²·M(r) is the lensed flux of that disk, so
//    2πr·A_ring(r) = d(πr²M)/dr = 2πr·(M(r) + (r/2)·M'(r)), with M' taken by a
//    central difference.
// Both integrate over [0, 1] with the tanh-sinh rule. When the lens lies inside
// the source (0 < l < 1) the ring magnification has a logarithmic singularity at
// r = l that one rule over [0, 1] cannot resolve, so [0, l] and [l, 1] are
// integrated separately and added. A profile that is zero outside a narrower
// range of radii (a table that stops short of the limb) is integrated over that
// range only: the rule cannot resolve the step where the brightness drops to zero.
//
// An element whose integrand has no finite value at any node (a NaN separation,
// NaN or infinite scales) is NaN: a magnification of 0 never stands in for a
// failure. A profile that is zero everywhere gives N = 0 and NaN results (0/0).
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <span>
#include <utility>
#include <vector>

#include "models/heyrovsky.hpp"
#include "models/mean_value.hpp"
#include "models/witt_mao.hpp"
#include "numeric/numdiff.hpp"
#include "numeric/quadrature.hpp"
#include "parallel/map.hpp"

namespace zorvane::models {

// The fixed profile of integrated_witt_mao_magnification and
// integrated_heyrovsky_magnification: linear limb darkening with coefficient 0.6.
inline double linear_limb_darkening(double r) noexcept {
    return (1.0 - std::sqrt(1.0 - r * r)) * -0.6 + 1.0;
}

// ∫₀¹ 2πr·linear_limb_darkening(r) dr as the tanh-sinh rule gives it over
// [0, 1]. The exact value is 0.8π = 2.5132741228718345; the two differ by
// 1.6e-14 relative, the weight the rule loses beyond its last node.
inline constexpr double LINEAR_LIMB_DARKENING_NORM = 2.5132741228717936;

// The radii [lo, hi] ⊆ [0, 1] outside which the profile is zero.
struct Support {
    double lo = 0.0;
    double hi = 1.0;
};

namespace detail {

inline constexpr double kTwoPi = 2.0 * std::numbers::pi;
inline constexpr double kTarget = 1e-16;

// ∫ f over the support, split at the radii where f is not smooth (sorted):
// one rule per piece, the pieces added from the centre outwards. Radii outside
// the support are ignored. f is given by its values on a level of nodes at a
// time (quadrature::double_exponential::integrate_levels).
template <class Values, std::size_t N>
double integrate_radius(Values&& values, const std::array<double, N>& kinks, Support support) {
    using quadrature::double_exponential::integrate_levels;
    double from = support.lo;
    double sum = 0.0;
    bool first = true;
    for (const double kink : kinks) {
        if (!(kink > from && kink < support.hi)) continue;
        const double piece = integrate_levels(values, from, kink, kTarget).integral;
        sum = first ? piece : sum + piece;
        first = false;
        from = kink;
    }
    const double last = integrate_levels(values, from, support.hi, kTarget).integral;
    return first ? last : sum + last;
}

// Wraps an integrand's values and remembers whether any node gave a finite value.
template <class Values>
struct FiniteWatch {
    Values values;
    bool any_finite = false;
    void operator()(const double* x, double* y, std::size_t n) {
        values(x, y, n);
        for (std::size_t k = 0; k < n; ++k) any_finite = any_finite || std::isfinite(y[k]);
    }
};

template <class Values, std::size_t N>
double normalised_integral(Values values, const std::array<double, N>& kinks, double norm, Support support) {
    FiniteWatch<Values> watch{values};
    const double integral = integrate_radius(watch, kinks, support);
    if (!watch.any_finite) return std::numeric_limits<double>::quiet_NaN();
    return integral / norm;
}

}  // namespace detail

// The two families, chosen by tag as the first argument.
struct DiskFamily {};  // nested uniform disks, differentiated in the radius
struct RingFamily {};  // rings, integrated directly

// Ring family for one separation l.
template <class Profile>
double integrated_element(RingFamily, double l, double re, double rstar, const Profile& profile,
                          double norm, Support support = {}) {
    // The integrand (2πr·A_ring(l, r))·P(r), a failed ring as NaN, a level of
    // nodes at a time, so that the rings' elliptic integrals can go four at a
    // time (heyrovsky_rings).
    const auto values = [&](const double* r, double* y, std::size_t n) {
        heyrovsky_rings(l, r, n, re, rstar, y);
        for (std::size_t k = 0; k < n; ++k) y[k] = ((r[k] * detail::kTwoPi) * y[k]) * profile(r[k]);
    };
    return detail::normalised_integral(values, std::array{l}, norm, support);
}

// Within this distance of the lens (in source radii) the disk family takes the
// ring integrand; see below.
inline constexpr double kDiskRingWindow = 0.05;

// Disk family for one separation l.
//
// M(r), the magnification of the concentric uniform disk of radius r, gives
// the ring integrand through d(πr²M)/dr = 2πr·(M + (r/2)·M'). The ring
// magnification has a logarithmic singularity at r = l, so M' has one there
// and M is strongly curved around it. The central difference with step
// h = (r + 1)·CBRT_EPS errs by about h²·M'''/6, of order h²/(r − l)², which
// mostly cancels over the integral (the difference is the derivative of M
// averaged over [r − h, r + h]) but not where a piece ends: at the kinks where
// r ± h reaches l (1e-8), and at the limb of the source when the lens lies
// close to it (2e-6 at |l − 1| = 3e-6). Within kDiskRingWindow of the lens
// the integrand is therefore taken in its exact form, the ring magnification;
// the pieces are split at l and at the window's ends, where what is left of
// the difference's error is of order h²/(6·0.05).
//
// A disk of radius r ≤ l/series::kFar lies far from the lens, and M is then its
// mean-value series, whose r-derivative is known term by term:
// d(r²·Σₖ r²ᵏcₖ/(k!(k+1)!))/dr / (2r) = Σₖ r²ᵏcₖ/(k!)², the ring's series. So
// those radii take the ring integrand too: the exact derivative of what the
// disk gives there, where the difference would add its rounding, ε·M/h ≈ 1e-10.
// Without it the family would step by that much where the whole source goes
// over to the series (l = series::kFar). r = l/series::kFar is one more split.
template <class Profile>
double integrated_element(DiskFamily, double l, double re, double rstar, const Profile& profile,
                          double norm, Support support = {}) {
    // Uniform-disk magnification of the concentric disk of radius r: separation
    // l/r in its own radii, radius r*rho in Einstein radii.
    const double rho = rstar / re;
    // No window for a source without a finite positive size, whose disks are
    // all NaN: the rings of the window would lend it a value.
    const bool sized = rho > 0.0 && rho <= std::numeric_limits<double>::max();
    const double window = sized ? kDiskRingWindow : 0.0;
    const double far_disks = sized ? l / series::kFar : -std::numeric_limits<double>::infinity();
    std::array kinks{far_disks, l - window, l, l + window};
    if (far_disks > kinks[1]) std::swap(kinks[0], kinks[1]);  // l/3 inside the window
    // A level of nodes at a time: the disks at r and r ± h of every node
    // outside the window go to witt_mao_elements together, the rings inside it
    // to heyrovsky_rings, so that their elliptic integrals can go four at a
    // time. Per node this is
    //   ring:  (2πr·A_ring(l, r))·P(r)   (within the window, or r <= far_disks)
    //   disk:  (2πr·(M(r) + (r/2)·M'(r)))·P(r),  M' = (M(r + h) − M(r − h))/(2h),
    // numdiff's central difference (its step and quotient), M(r) = 0 for r <= 0
    // and M' = 0 for r < 0.
    namespace difference = numdiff::central_difference::derivative::scalar_valued;
    constexpr std::size_t kMax = quadrature::double_exponential::MAX_LEVEL_VALUES;
    struct Scratch {
        double disk_x[3 * kMax], disk_rho[3 * kMax], disk_rho2[3 * kMax], disk_value[3 * kMax];
        double* disk_target[3 * kMax];
        double m[kMax], plus[kMax], minus[kMax], h[kMax], ring_r[kMax], ring_value[kMax];
        std::size_t ring_at[kMax];
        bool is_ring[kMax];
    };
    const auto scratch = std::make_unique_for_overwrite<Scratch>();
    const auto values = [&](const double* r, double* y, std::size_t n) {
        auto& [disk_x, disk_rho, disk_rho2, disk_value, disk_target, m, plus, minus, h, ring_r, ring_value,
               ring_at, is_ring] = *scratch;
        std::size_t disks = 0, rings = 0;
        const auto disk = [&](double t, double* target) {
            if (t <= 0.0) {
                *target = 0.0;
                return;
            }
            const double rr = t * rho;
            disk_x[disks] = l / t;
            disk_rho[disks] = rr;
            disk_rho2[disks] = rr * rr;
            disk_target[disks++] = target;
        };
        for (std::size_t k = 0; k < n; ++k) {
            is_ring[k] = std::fabs(r[k] - l) < window || r[k] <= far_disks;
            if (is_ring[k]) {
                ring_at[rings] = k;
                ring_r[rings++] = r[k];
                continue;
            }
            disk(r[k], &m[k]);
            if (r[k] < 0.0) continue;
            h[k] = difference::central_step(r[k]);
            disk(r[k] + h[k], &plus[k]);
            disk(r[k] - h[k], &minus[k]);
        }
        witt_mao_elements(disk_x, disk_rho, disk_rho2, disks, disk_value);
        for (std::size_t i = 0; i < disks; ++i) *disk_target[i] = disk_value[i];
        heyrovsky_rings(l, ring_r, rings, re, rstar, ring_value);
        for (std::size_t i = 0; i < rings; ++i) {
            const std::size_t k = ring_at[i];
            y[k] = ((r[k] * detail::kTwoPi) * ring_value[i]) * profile(r[k]);
        }
        for (std::size_t k = 0; k < n; ++k) {
            if (is_ring[k]) continue;
            const double dm = r[k] < 0.0 ? 0.0 : difference::central_quotient(plus[k], minus[k], h[k]);
            y[k] = ((r[k] * detail::kTwoPi) * (m[k] + (r[k] * 0.5) * dm)) * profile(r[k]);
        }
    };
    return detail::normalised_integral(values, kinks, norm, support);
}

// One element per separation of l, spread over the worker pool (the elements
// are independent, so the results do not depend on the pool size).
//
// far_weight, when given, holds Mₖ/(k!)² for k < series::kTerms, Mₖ the
// profile's normalised moments of r²ᵏ: from series::kFar source radii out the
// whole source is then far from the lens and both families take the
// profile's mean-value series instead of the quadrature, exact to the
// rounding of A and some 10⁴ times cheaper.
template <class Family, class Profile>
std::vector<double> integrated_magnification(Family family, std::span<const double> l, double re,
                                             double rstar, const Profile& profile, double norm,
                                             Support support = {},
                                             const double* far_weight = nullptr) {
    const double rho = rstar / re;
    const bool far_ok =
        far_weight != nullptr && rho > 0.0 && rho <= std::numeric_limits<double>::max();
    return parallel::map_ordered(l, [&](double x) {
        if (far_ok && x >= series::kFar && x <= std::numeric_limits<double>::max()) {
            return series::mean_value(x * rho, 1.0 / (x * x), far_weight, series::terms_for(x));
        }
        return integrated_element(family, x, re, rstar, profile, norm, support);
    });
}

// With the fixed linear limb-darkening profile.
std::vector<double> integrated_witt_mao_magnification(std::span<const double> l, double re,
                                                      double rstar);
std::vector<double> integrated_heyrovsky_magnification(std::span<const double> l, double re,
                                                       double rstar);

}  // namespace zorvane::models
