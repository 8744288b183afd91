// Magnifications of a source whose brightness varies with the radius.
//
// With P(r) the surface brightness at radius r (a fraction of the source radius)
// and A_ring(r) the magnification of the thin ring of radius r,
//
//     A = ∫₀¹ 2πr·P(r)·A_ring(r) dr / N,    N = ∫₀¹ 2πr·P(r) dr.
//
// Two routes compute the ring integrand 2πr·A_ring(r):
//  - the ring family takes the ring magnification directly;
//  - the disk family uses M(r), the uniform-disk magnification of the concentric
//    disk of radius r: πr²·M(r) is the lensed flux of that disk, so
//    2πr·A_ring(r) = d(πr²M)/dr = 2πr·(M(r) + (r/2)·M'(r)), with M' taken by a
//    central difference.
// Both integrate it over the radius with the rule of radial_rule.hpp, made for
// this integrand: pieces cut at r = l, where the ring through the lens makes it
// logarithmically singular, and at the profile's kinks; a logarithmic Gauss
// rule at r = l; nodes graded towards singularities just beyond a piece (a
// lens near the centre or the limb); and r = sin θ, in which a law in
// μ = √(1 − r²) is smooth up to the limb.
//
// A profile may hold a uniform part U (P = U + the rest). In the disk family
// its share U·∫₀¹ 2πr·A_ring dr = U·π·A_disk(l) is the uniform-disk closed
// form of witt_mao.hpp, exact, and only the rest goes through the
// quadrature: for the fixed law 0.4 + 0.6·μ the rest, 0.6·μ, vanishes at the
// limb, where the ring through a lens near the limb is hardest to integrate.
// The ring family integrates the whole profile by its rings.
//
// An element whose integrand has no finite value at any node (a NaN separation,
// NaN or infinite scales) is NaN: a magnification of 0 never stands in for a
// failure. A profile that is zero everywhere gives N = 0 and NaN results (0/0).
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "models/heyrovsky.hpp"
#include "models/mean_value.hpp"
#include "models/radial_rule.hpp"
#include "models/witt_mao.hpp"
#include "numeric/numdiff.hpp"
#include "parallel/map.hpp"

namespace zorvane::models {

// The radii [lo, hi] ⊆ [0, 1] outside which the profile is zero.
struct Support {
    double lo = 0.0;
    double hi = 1.0;
};

// A step of the profile at radius r: P jumps by dp there (from below to above).
struct Jump {
    double r, dp;
};

// The fixed profile of integrated_witt_mao_magnification and
// integrated_heyrovsky_magnification: linear limb darkening with coefficient
// 0.6, P = 0.4 + 0.6·μ, normalised by its exact integral 0.8π.
//
// A profile for integrated_element provides the same members: its uniform
// part, the rest as a call (r, μ), the radii it covers, its kinks, whether
// the rest vanishes at the limb, and its normalisation N. For the gradients
// (integrated_gradient.hpp) it also gives the slope P'(r) of the whole
// profile, uniform part included, and its jumps in (0, 1] (to zero at the
// limb, say).
struct LinearLaw {
    static constexpr double uniform = 0.4;
    static constexpr bool vanishes_at_limb = true;
    static constexpr double norm = 0.8 * std::numbers::pi;
    static constexpr Jump kLimb[] = {{1.0, -0.4}};  // P(1) = 0.4
    double operator()(double /*r*/, double mu) const noexcept { return 0.6 * mu; }
    Support support() const noexcept { return {}; }
    std::span<const double> knots() const noexcept { return {}; }
    double slope(double r, double mu) const noexcept { return -0.6 * (r / mu); }
    std::span<const Jump> jumps() const noexcept { return kLimb; }
    bool differentiable() const noexcept { return true; }
};

namespace detail {

inline constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Σ w·rest(r, μ)·g over the rule, g the ring integrand 2πr·A_ring at its nodes
// (non-finite values count as 0), plus the uniform part through the disk
// value; NaN when no node is finite (or the disk value is not).
template <class Profile>
double finish(const radial::Rule& rule, const double* g, const Profile& profile, double disk) {
    bool any_finite = false;
    double sum = 0.0;
    if constexpr (requires { profile.dense_integral(rule, g, any_finite); }) {
        if (profile.dense()) {
            sum = profile.dense_integral(rule, g, any_finite);
            if (!any_finite) return std::numeric_limits<double>::quiet_NaN();
            return sum / profile.norm;
        }
    }
    for (std::size_t k = 0; k < rule.size(); ++k) {
        const double v = g[k] * profile(rule.r[k], rule.mu[k]);
        if (!std::isfinite(v)) continue;
        any_finite = true;
        sum = sum + rule.w[k] * v;
    }
    if (profile.uniform != 0.0) {
        if (!std::isfinite(disk)) return std::numeric_limits<double>::quiet_NaN();
        return (profile.uniform * (std::numbers::pi * disk) + sum) / profile.norm;
    }
    if (!any_finite) return std::numeric_limits<double>::quiet_NaN();
    return sum / profile.norm;
}

// The epoch's rule and the integrand's values, kept per thread.
struct Workspace {
    radial::Rule rule;
    std::vector<double> g;
    double around[2];
};
inline Workspace& workspace() {
    thread_local Workspace w;
    return w;
}

template <class Profile>
const radial::Rule& plan_for(double l, double re, double rstar, const Profile& profile, Workspace& w) {
    const Support support = profile.support();
    radial::Structure s;
    s.l = l;
    s.c = re / rstar;
    s.lo = support.lo;
    s.hi = support.hi;
    s.knots = profile.knots();
    s.vanishes_at_limb = profile.vanishes_at_limb;
    if constexpr (requires { profile.knots_around(l, w.around); }) {
        // A dense table: pieces end only at the knots around the lens, the
        // others are crossed by interpolation (TabulatedProfile).
        if (profile.dense()) {
            s.knots = profile.knots_around(l, w.around);
            s.interpolated = true;
        }
    }
    radial::plan(s, w.rule);
    w.g.resize(w.rule.size());
    return w.rule;
}

}  // namespace detail

// The two families, chosen by tag as the first argument.
struct DiskFamily {};  // nested uniform disks, differentiated in the radius
struct RingFamily {};  // rings, integrated directly

namespace detail {

// A profile with its uniform part taken back into the rest: the ring family
// integrates the whole profile ring by ring, so that its route does not lean
// on the disk closed form (only the disk family takes the uniform part that
// way). Costs nothing for a lens away from the limb, a few nodes near it.
template <class Profile>
struct Whole {
    const Profile& part;
    static constexpr double uniform = 0.0;
    static constexpr bool vanishes_at_limb = false;
    double norm;
    double operator()(double r, double mu) const noexcept { return Profile::uniform + part(r, mu); }
    Support support() const noexcept { return part.support(); }
    std::span<const double> knots() const noexcept { return part.knots(); }
};

}  // namespace detail

namespace detail {

// The ring family's rule for one separation and 2πr·A_ring(l, r) at its nodes
// (into w.g), the rings eight at a time (ring_magnifications).
template <class Profile>
const radial::Rule& ring_integrand(double l, double re, double rstar, const Profile& profile, Workspace& w) {
    const radial::Rule& rule = plan_for(l, re, rstar, profile, w);
    ring_magnifications(l, rule.r.data(), rule.size(), re, rstar, w.g.data());
    for (std::size_t k = 0; k < rule.size(); ++k) w.g[k] = (rule.r[k] * kTwoPi) * w.g[k];
    return rule;
}

}  // namespace detail

// Ring family for one separation l.
template <class Profile>
double integrated_element(RingFamily family, double l, double re, double rstar, const Profile& profile) {
    if constexpr (Profile::uniform != 0.0) {
        return integrated_element(family, l, re, rstar, detail::Whole<Profile>{profile, profile.norm});
    }
    detail::Workspace& w = detail::workspace();
    const radial::Rule& rule = detail::ring_integrand(l, re, rstar, profile, w);
    return detail::finish(rule, w.g.data(), profile, 0.0);
}

// Within this distance of the lens (in source radii) the disk family takes the
// ring integrand; see below.
inline constexpr double kDiskRingWindow = 0.05;

// Within this distance of the lens the disk family's difference step shrinks
// as (d/kDiskStepReach)^(2/3), d = |r − l|; see below.
inline constexpr double kDiskStepReach = 0.5;

// A disk that holds the lens (r > l) takes a step of at most this many
// r·CBRT_EPS; see below.
inline constexpr double kDiskStepOfRadius = 0.5;

// Disk family for one separation l.
//
// M(r), the magnification of the concentric uniform disk of radius r, gives
// the ring integrand through d(πr²M)/dr = 2πr·(M + (r/2)·M'). The ring
// magnification has a logarithmic singularity at r = l, so M' has one there
// and M is strongly curved around it. The central difference with step
// h = (r + 1)·CBRT_EPS errs by about h²·M'''/6, of order h²/(r − l)², which
// nodes graded towards r = l would meet in full; within kDiskRingWindow of
// the lens the integrand is therefore taken in its exact form, the ring
// magnification. Beyond it the step shrinks towards the lens: the rounding of
// the two disks adds about δ·M/h (δ ≈ 1e-15 their relative error), so the sum
// h²/d² + δ/h is least for h ∝ d^(2/3). With the step of a plain central
// difference all the way in, the source's centre was off by 1e-9; with it
// shrunk as (d/kDiskStepReach)^(2/3), by 1.7e-10 (3e-10 for a flux map, whose
// whole profile goes through the difference).
//
// What was left is the disks that hold the lens well inside them (r ≫ l):
// there M varies on the scale of r itself (like 2/(rρ) for a small source),
// not of r + 1, so the truncation is about (h/r)², 1e-10 at r = 0.5 with the
// plain step, while the rounding is about δ·r/h. Both balance at h of order
// r·CBRT_EPS, and with h ≤ kDiskStepOfRadius·r·CBRT_EPS for r > l (the scale
// below is divided by r + 1, which central_step multiplies back) no zone of
// the fixed law or of a flux map is above 4e-11. Disks that do not hold the
// lens (r < l) are smooth in r near 0 (their M is even in r), so their step
// stays as it was.
//
// A disk of radius r ≤ l/series::kFar lies far from the lens, and M is then its
// mean-value series, whose r-derivative is known term by term:
// d(r²·Σₖ r²ᵏcₖ/(k!(k+1)!))/dr / (2r) = Σₖ r²ᵏcₖ/(k!)², the ring's series. So
// those radii take the ring integrand too: the exact derivative of what the
// disk gives there, where the difference would add its rounding, ε·M/h ≈ 1e-10.
template <class Profile>
double integrated_element(DiskFamily, double l, double re, double rstar, const Profile& profile) {
    // Uniform-disk magnification of the concentric disk of radius r: separation
    // l/r in its own radii, radius r*rho in Einstein radii.
    const double rho = rstar / re;
    // No window for a source without a finite positive size, whose disks are
    // all NaN: the rings of the window would lend it a value.
    const bool sized = rho > 0.0 && rho <= std::numeric_limits<double>::max();
    const double window = sized ? kDiskRingWindow : 0.0;
    const double far_disks = sized ? l / series::kFar : -std::numeric_limits<double>::infinity();
    detail::Workspace& work = detail::workspace();
    const radial::Rule& rule = detail::plan_for(l, re, rstar, profile, work);
    // A block of nodes at a time: the disks at r and r ± h of every node
    // outside the window go to witt_mao_elements together, the rings inside it
    // to ring_magnifications, so that their elliptic integrals can go four at a
    // time. Per node this is
    //   ring:  2πr·A_ring(l, r)   (within the window, or r <= far_disks)
    //   disk:  2πr·(M(r) + (r/2)·M'(r)),  M' = (M(r + h) − M(r − h))/(2h),
    // numdiff's central difference (its step and quotient), M(r) = 0 for r <= 0.
    namespace difference = numdiff::central_difference::derivative::scalar_valued;
    constexpr std::size_t kBlock = 64;
    struct Scratch {
        double disk_x[3 * kBlock], disk_rho[3 * kBlock], disk_rho2[3 * kBlock], disk_value[3 * kBlock];
        double* disk_target[3 * kBlock];
        double m[kBlock], plus[kBlock], minus[kBlock], h[kBlock], ring_r[kBlock], ring_value[kBlock];
        std::size_t ring_at[kBlock];
        bool is_ring[kBlock];
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
            const double near = std::fabs(r[k] - l) / kDiskStepReach;
            double scale = std::min(1.0, std::cbrt(near * near));
            if (r[k] > l) scale = std::min(scale, kDiskStepOfRadius * r[k] / (1.0 + r[k]));
            h[k] = difference::central_step(r[k], numdiff::constants::CBRT_EPS * scale);
            disk(r[k] + h[k], &plus[k]);
            disk(r[k] - h[k], &minus[k]);
        }
        witt_mao_elements(disk_x, disk_rho, disk_rho2, disks, disk_value);
        for (std::size_t i = 0; i < disks; ++i) *disk_target[i] = disk_value[i];
        ring_magnifications(l, ring_r, rings, re, rstar, ring_value);
        for (std::size_t i = 0; i < rings; ++i) {
            const std::size_t k = ring_at[i];
            y[k] = (r[k] * detail::kTwoPi) * ring_value[i];
        }
        for (std::size_t k = 0; k < n; ++k) {
            if (is_ring[k]) continue;
            const double dm = difference::central_quotient(plus[k], minus[k], h[k]);
            y[k] = (r[k] * detail::kTwoPi) * (m[k] + (r[k] * 0.5) * dm);
        }
    };
    for (std::size_t first = 0; first < rule.size(); first += kBlock) {
        values(rule.r.data() + first, work.g.data() + first, std::min(kBlock, rule.size() - first));
    }
    const double disk = profile.uniform != 0.0 ? witt_mao_element(l, rho, rho * rho) : 0.0;
    return detail::finish(rule, work.g.data(), profile, disk);
}

namespace detail {

// A negative, NaN or infinite separation has no value, whatever the profile
// and scales: NaN at once, not after a rule's worth of rings that are all NaN.
inline bool no_separation(double x) noexcept {
    return !(x >= 0.0) || x > std::numeric_limits<double>::max();
}

}  // namespace detail

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
                                             double rstar, const Profile& profile,
                                             const double* far_weight = nullptr) {
    const double rho = rstar / re;
    const bool far_ok =
        far_weight != nullptr && rho > 0.0 && rho <= std::numeric_limits<double>::max();
    return parallel::map_ordered(l, [&](double x) {
        if (detail::no_separation(x)) return std::numeric_limits<double>::quiet_NaN();
        if (far_ok && x >= series::kFar && x <= std::numeric_limits<double>::max()) {
            return series::mean_value(x * rho, 1.0 / (x * x), far_weight, series::terms_for(x));
        }
        return integrated_element(family, x, re, rstar, profile);
    });
}

// With the fixed linear limb-darkening profile.
std::vector<double> integrated_witt_mao_magnification(std::span<const double> l, double re,
                                                      double rstar);
std::vector<double> integrated_heyrovsky_magnification(std::span<const double> l, double re,
                                                       double rstar);

}  // namespace zorvane::models
