// Derivatives of the limb-darkened magnifications (integrated.hpp, ring
// family) in u and rho, u = l·rho the separation and rho = rstar/re the
// source radius, both in Einstein radii.
//
// With F(r) = πr²·A_disk(u, rho·r) the lensed flux of the concentric uniform
// disk of radius r (dF/dr = 2πr·A_ring), integrating by parts over the radius,
//
//   A = (1/N)·∫ P dF = −(1/N)·∫ F dP,
//
// a Stieltjes integral over (0, 1] that holds the profile's slope P'(r)·dr
// and its jumps (the law's drop from 0.4 to 0 at the limb, a table's ends and
// steps). Differentiating F instead of the ring avoids the ring's derivative,
// whose pole at r = l no rule integrates:
//   ∂F/∂u   = 2πr·C(r)/rho,                       C the ring's cosine moment
//   ∂F/∂rho = (2πr²/rho)·(A_ring(r) − A_disk(r)), (heyrovsky.hpp),
// so that
//   ∂A/∂u   = −(2π/(N·rho))·∫ r·C(r) dP,
//   ∂A/∂rho = −2A/rho − (2π/(N·rho))·∫ r²·A_ring(r) dP.
// The continuous part takes the value's own rule and rings (2πr·A_ring at
// the nodes), with the cosine moments at the same nodes; they share the
// ring's logarithm at r = l, and in θ (r = sin θ) the law's slope −0.6·r/μ
// times dr = μ·dθ is smooth up to the limb. The jumps take single rings.
// On the limb (a jump at r = l) the ring is infinitely bright: the
// derivatives are then ∓inf (∂A/∂u and ∂A/∂rho for a drop such as the
// law's), the limits from either side, as for the uniform disk.
//
// A is the plain function's, bit for bit: the same rule, rings and sum.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

#include "models/gradient.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/mean_value.hpp"
#include "parallel/map.hpp"

namespace zorvane::models {

namespace detail {

// 2πr·C at the rule's nodes, into gc.
inline void cosine_integrand(double l, double re, double rstar, const radial::Rule& rule, std::vector<double>& gc) {
    gc.resize(rule.size());
    ring_cosine_moments(l, rule.r.data(), rule.size(), re, rstar, gc.data());
    for (std::size_t k = 0; k < rule.size(); ++k) gc[k] = (rule.r[k] * kTwoPi) * gc[k];
}

// The two Stieltjes integrals ∫ 2π·r·C dP and ∫ 2π·r²·A_ring dP: over the
// rule (g = 2πr·A_ring, gc = 2πr·C at the nodes; non-finite terms count as
// 0, as in the value) unless `over_rule` holds them already (a dense table's
// value pass gives them), and over the profile's steps.
template <class Profile>
void slope_sums(double l, double re, double rstar, const radial::Rule& rule, const double* g, const double* gc,
                const Profile& profile, bool over_rule, double& for_u, double& for_rho) {
    double su = over_rule ? for_u : 0.0, sr = over_rule ? for_rho : 0.0;
    if (!over_rule) {
        for (std::size_t k = 0; k < rule.size(); ++k) {
            const double weight = rule.w[k] * profile.slope(rule.r[k], rule.mu[k]);
            const double tu = weight * gc[k];
            const double tr = weight * (rule.r[k] * g[k]);
            if (std::isfinite(tu)) su = su + tu;
            if (std::isfinite(tr)) sr = sr + tr;
        }
    }
    // The rings at the steps, a few at a time by the same integrals as the nodes'.
    const std::span<const Jump> jumps = profile.jumps();
    constexpr std::size_t kSteps = 8;
    for (std::size_t first = 0; first < jumps.size(); first += kSteps) {
        const std::size_t n = std::min(kSteps, jumps.size() - first);
        double r[kSteps], ring[kSteps], moment[kSteps];
        for (std::size_t i = 0; i < n; ++i) r[i] = jumps[first + i].r;
        ring_magnifications(l, r, n, re, rstar, ring);
        ring_cosine_moments(l, r, n, re, rstar, moment);
        for (std::size_t i = 0; i < n; ++i) {
            const double weight = kTwoPi * jumps[first + i].dp;
            su = su + weight * (r[i] * moment[i]);
            sr = sr + weight * ((r[i] * r[i]) * ring[i]);
        }
    }
    for_u = su;
    for_rho = sr;
}

// Gradient at one separation: `whole` is what the ring family integrates
// (the profile, its uniform part taken in), `profile` gives slope and steps.
template <class Whole, class Profile>
Slopes gradient_element(double l, double re, double rstar, const Whole& whole, const Profile& profile) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    Workspace& w = workspace();
    thread_local std::vector<double> gc;
    const radial::Rule& rule = ring_integrand(l, re, rstar, whole, w);
    const double rho = rstar / re;
    const bool sized = rho > 0.0 && rho <= std::numeric_limits<double>::max() && profile.differentiable();
    double a = 0.0, for_u = 0.0, for_rho = 0.0;
    bool over_rule = false;
    // A dense table sums its value and the integrals over the rule in one
    // pass over the pieces (the value as finish takes it).
    if constexpr (requires(bool b, double d) { whole.dense_integral(rule, w.g.data(), b, w.g.data(), d, d); }) {
        if (whole.dense() && sized) {
            cosine_integrand(l, re, rstar, rule, gc);
            bool any_finite = false;
            const double sum = whole.dense_integral(rule, w.g.data(), any_finite, gc.data(), for_u, for_rho);
            a = any_finite ? sum / whole.norm : kNaN;
            over_rule = true;
        }
    }
    if (!over_rule) a = finish(rule, w.g.data(), whole, 0.0);
    if (std::isnan(a) || !sized) return {a, kNaN, kNaN};
    if (!over_rule) cosine_integrand(l, re, rstar, rule, gc);
    slope_sums(l, re, rstar, rule, w.g.data(), gc.data(), profile, over_rule, for_u, for_rho);
    const double scale = profile.norm * rho;
    // (0 − x, not −x: at the centre the derivative in u is +0, as the disk's.)
    return {a, 0.0 - for_u / scale, -(a + a) / rho - for_rho / scale};
}

}  // namespace detail

// Sources at the ends of the range, as for the uniform disk (witt_mao.cpp):
// below kTinySource Einstein radii A·rho is a function of l alone to the last
// digit, so both derivatives are G(l)/rho², those at kTinySource times
// (kTinySource/rho)² (directly, −2A/rho and the integral in rho would meet
// as two infinities); from kHugeSource on A − 1 is about 2/rho², and the
// derivatives, below 1e-38·A/rho, are 0 (directly, the rounding of −2A/rho).
inline constexpr double kTinySource = 0x1p-256;
inline constexpr double kHugeSource = 0x1p64;

// The ring family's magnification at one separation with its derivatives.
template <class Profile>
Slopes integrated_gradient_element(double l, double re, double rstar, const Profile& profile) {
    const auto at = [&](double e, double s) {
        if constexpr (Profile::uniform != 0.0) {
            return detail::gradient_element(l, e, s, detail::Whole<Profile>{profile, profile.norm}, profile);
        } else {
            return detail::gradient_element(l, e, s, profile, profile);
        }
    };
    Slopes v = at(re, rstar);
    const double rho = rstar / re;
    if (std::isnan(v.a) || !(rho > 0.0 && rho <= std::numeric_limits<double>::max()) || !profile.differentiable()) {
        return v;
    }
    if (rho >= kHugeSource) {
        v.du = 0.0;
        v.drho = 0.0;
    } else if (rho < kTinySource) {
        const Slopes tiny = at(1.0, kTinySource);
        const double q = kTinySource / rho;
        v.du = (tiny.du * q) * q;
        v.drho = (tiny.drho * q) * q;
    }
    return v;
}

// integrated_magnification(RingFamily{}, ...) with its derivatives, on the
// worker pool. far_weight as there (kTerms + 1 entries here), and
// far_rho_weight[k] = k·far_weight[k]: the far field's series with its
// derivatives term by term (mean_value.hpp).
template <class Profile>
Gradient integrated_gradient(std::span<const double> l, double re, double rstar, const Profile& profile,
                             const double* far_weight = nullptr, const double* far_rho_weight = nullptr) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const double rho = rstar / re;
    const bool far_ok = far_weight != nullptr && rho > 0.0 && rho <= std::numeric_limits<double>::max();
    const std::vector<Slopes> slopes = parallel::map_ordered(l, [&](double x) -> Slopes {
        if (detail::no_separation(x)) return {kNaN, kNaN, kNaN};
        if (far_ok && x >= series::kFar && x <= std::numeric_limits<double>::max()) {
            const series::SeriesSlopes v =
                series::with_slopes(x * rho, 1.0 / (x * x), rho, far_weight, far_rho_weight, series::terms_for(x));
            return {v.a, v.du, v.da};
        }
        return integrated_gradient_element(x, re, rstar, profile);
    });
    Gradient out;
    out.value.reserve(slopes.size());
    out.du.reserve(slopes.size());
    out.drho.reserve(slopes.size());
    for (const Slopes& s : slopes) {
        out.value.push_back(s.a);
        out.du.push_back(s.du);
        out.drho.push_back(s.drho);
    }
    return out;
}

// The fixed linear law of integrated_heyrovsky_magnification.
Gradient integrated_heyrovsky_magnification_gradient(std::span<const double> l, double re, double rstar);

}  // namespace zorvane::models
