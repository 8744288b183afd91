// The mean-value series of the point-lens magnification, for sources far from
// the lens.
//
// The average of a smooth radial function over a disk or a ring of radius a
// centred at distance u is a series in its iterated Laplacians. For the
// point-lens magnification A(u) = (u² + 2)/(u·√(u² + 4)):
//
//   disk:              Σₖ a²ᵏ·ΔᵏA(u) / (4ᵏ·k!·(k+1)!)
//   ring:              Σₖ a²ᵏ·ΔᵏA(u) / (4ᵏ·(k!)²)
//   radial profile:    Σₖ a²ᵏ·Mₖ·ΔᵏA(u) / (4ᵏ·(k!)²),  Mₖ = ⟨r²ᵏ⟩ over the profile,
//
// whose terms shrink like (a/u)²ᵏ. The Laplacians come in closed form from
// point_lens_series.hpp (tools/gen_point_lens_series.py), written so that they
// neither cancel nor overflow for any u. Far from the lens the closed elliptic
// forms cancel (their three terms grow like (u/a)² and nearly sum to A), while
// these series keep every digit at a fraction of the cost.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "models/point_lens_series.hpp"

namespace zorvane::models::series {

// From this separation on (in radii of the disk or ring, or of the source for
// a profile) the series replaces the closed forms. Measured against 40-digit
// references for sources from 1e-6 to 10 Einstein radii and rings with c from
// 0.01 to 1e4, the truncation error with the terms below stays under 1e-16:
// 16 terms from 3 on (the slowest, a ring with c = 100, leaves 1e-17 there),
// 12 from 4 on, 10 from 6 on, 6 from 15 on and 4 from 100 on, where the
// rounding of A itself is all that is left. The closed forms lose about ε·x²
// from there out, and the limb-darkened forms' quadrature costs thousands of
// times more.
inline constexpr double kFar = 3.0;

inline int terms_for(double ratio) noexcept {
    return ratio >= 100.0 ? 4 : ratio >= 15.0 ? 6 : ratio >= 6.0 ? 10 : ratio >= 4.0 ? 12 : kTerms;
}

// A series and its derivatives in u and in the radius a.
struct SeriesSlopes {
    double a, du, da;
};

namespace detail {

// Σₖ₌₁^(Countᵢ−1) weightᵢ[k]·(z·L²)ᵏ·Hₖ(r) for each weight list i and its
// number of terms Countᵢ, the terms' homogeneous polynomials Hₖ taken from
// rows[k − 1] with degree 2k − 1 + Offset (see below) and evaluated once for
// all the sums. A sum with fewer terms than the others takes exactly the
// operations it would take alone.
template <int Offset, int... Count>
inline std::array<double, sizeof...(Count)> sum_of_terms(const double (*rows)[2 * kTerms],
                                                         const std::array<const double*, sizeof...(Count)>& weights,
                                                         bool inner, double r, double zl) noexcept {
    constexpr std::size_t N = sizeof...(Count);
    constexpr std::array<int, N> count{Count...};
    constexpr int Terms = std::max({Count...});
    std::array<double, N> sum{};
#pragma GCC unroll 17
    for (int k = Terms - 1; k >= 1; --k) {
        const double* q = rows[k - 1];
        const int degree = 2 * k - 1 + Offset;
        double value;
        if (inner) {
            value = q[degree];
#pragma GCC unroll 34
            for (int j = degree - 1; j >= 0; --j) value = value * r + q[j];
        } else {
            value = q[0];
#pragma GCC unroll 34
            for (int j = 1; j <= degree; ++j) value = value * r + q[j];
        }
        for (std::size_t i = 0; i < N; ++i) {
            if (k < count[i]) sum[i] = (sum[i] + weights[i][k] * value) * zl;
        }
    }
    return sum;
}

// What both series below share: with t = u², w = √(t + 4), s = t/(t + 4) and
// s' = 4/(t + 4), the larger of s and s' (lead, L ≥ 1/2) and the ratio r ≤ 1 of
// the smaller to it; inner when s ≤ s'.
struct Frame {
    double t, w2, w;
    bool inner;
    double lead, r;
};
inline Frame frame(double u) noexcept {
    const double t = u * u;
    const double w2 = t + 4.0;
    const bool inner = t <= 4.0;  // s ≤ s'
    return {t, w2, std::sqrt(w2), inner, inner ? 4.0 / w2 : t / w2, inner ? t * 0.25 : 4.0 / t};
}

// Σₖ₌₀^(Terms−1) weight[k]·a²ᵏ·ΔᵏA(u)/4ᵏ, with z = (a/u)² < 1 and 0 < u < 1e8.
//
// Qₖ(s, s') is homogeneous of degree 2k − 1, so with L the larger of s and s'
// (L ≥ 1/2) and r the ratio of the smaller to it (r ≤ 1),
//   Qₖ = L^(2k−1)·Hₖ(r),   Hₖ(r) = Σⱼ Q[k][j]·rʲ (s ≤ s') or Σⱼ Q[k][j]·r^(2k−1−j),
// and zᵏ·L^(2k−1) = (z·L²)ᵏ/L: each term is one Horner sum in r ≤ 1 (no overflow
// for any u), and the terms one Horner sum in z·L². Terms is fixed at compile
// time so that the loops unroll and the terms' sums, independent of each
// other, overlap in the pipeline.
template <int Terms>
inline double mean_value(double u, double z, const double* weight) noexcept {
    const Frame f = frame(u);
    const double sum = sum_of_terms<0, Terms>(Q, {weight}, f.inner, f.r, z * (f.lead * f.lead))[0];
    const double point = (f.t + 2.0) / (u * f.w);
    return point * weight[0] + sum / (f.lead * (u * (f.w2 * f.w)));
}

// A profile's series (mean_value with `weight`, the same bits) and its
// derivatives: in u at fixed a, Σₖ a²ᵏ·weight[k]·(ΔᵏA/4ᵏ)′(u), whose term k is
// zᵏ·Rₖ(s, s')/(u²·w³) with Rₖ homogeneous of degree 2k (so zᵏ·Rₖ =
// (z·L²)ᵏ·Hₖ(r) as above); and in a at fixed u, the series with the weights
// 2k·weight[k]/a (rho_weight[k] = k·weight[k]), whose Laplacians are those of A
// itself. Both weight lists hold kTerms + 1 entries. Relative to themselves
// the derivatives converge more slowly than A: differentiating term k in u
// multiplies it by about (2k + 1)/u, and the series in a starts at k = 1. So
// they take one and two terms more, as far as the tables go (R up to k = 15,
// Q to k = 16): against 90-digit references, for uniform disks of 1e-6 to 10
// Einstein radii, that leaves them within 2e-15 of themselves, except where
// A − 1 is below 1e-3 (u ≳ 30), which takes 5e-14 at 3 source radii.
template <int Terms>
inline SeriesSlopes with_slopes(double u, double z, double radius, const double* weight,
                              const double* rho_weight) noexcept {
    const Frame f = frame(u);
    const double zl = z * (f.lead * f.lead);
    const auto sums = sum_of_terms<0, Terms, std::min(Terms + 2, kTerms + 1)>(Q, {weight, rho_weight}, f.inner, f.r, zl);
    const double point = (f.t + 2.0) / (u * f.w);
    const double outer = f.lead * (u * (f.w2 * f.w));
    const double a = point * weight[0] + sums[0] / outer;
    const double slope = sum_of_terms<1, std::min(Terms + 1, kTerms)>(R + 1, {weight}, f.inner, f.r, zl)[0];
    const double du = (R[0][0] * weight[0] + slope) / (f.t * (f.w2 * f.w));
    const double half = sums[1] / outer;
    return {a, du, (half + half) / radius};
}

// F<Terms>() for the number of terms that terms_for gives.
template <class F>
inline double with_terms(int terms, F f) noexcept {
    switch (terms) {
        case 4: return f.template operator()<4>();
        case 6: return f.template operator()<6>();
        case 10: return f.template operator()<10>();
        case 12: return f.template operator()<12>();
        default: return f.template operator()<kTerms>();
    }
}

}  // namespace detail

// Σₖ₌₀^(terms−1) weight[k]·a²ᵏ·ΔᵏA(u)/4ᵏ, with z = (a/u)² < 1 and 0 < u < ∞;
// terms is one of those terms_for gives.
inline double mean_value(double u, double z, const double* weight, int terms) noexcept {
    // A(u) = 1 + 2/u⁴ + …: from u = 1e8 on that is 1 to the last bit, and so is
    // every average of it (u² would overflow from 1e154 on).
    if (u >= 1e8) return weight[0];
    return detail::with_terms(terms, [&]<int Terms>() { return detail::mean_value<Terms>(u, z, weight); });
}

// detail::with_slopes for the number of terms that terms_for gives, with z =
// (radius/u)² < 1 and 0 < u < ∞.
inline SeriesSlopes with_slopes(double u, double z, double radius, const double* weight, const double* rho_weight,
                              int terms) noexcept {
    // From u = 1e8 on A is 1 to the last bit and the derivatives are below
    // 1e-31·A/u: the leading term of the slope, A′ = −8/(u²w³) ≈ −8/u⁵, is
    // kept (−0 once that underflows), the other is 0.
    if (u >= 1e8) return {weight[0], (weight[0] * R[0][0]) / (((u * u) * (u * u)) * u), 0.0};
    SeriesSlopes out;
    detail::with_terms(terms, [&]<int Terms>() {
        out = detail::with_slopes<Terms>(u, z, radius, weight, rho_weight);
        return 0.0;
    });
    return out;
}

// The uniform disk's series and its derivatives.
inline SeriesSlopes disk_with_slopes(double u, double z, double radius, int terms) noexcept {
    return with_slopes(u, z, radius, DISK_WEIGHT, DISK_RHO_WEIGHT, terms);
}

}  // namespace zorvane::models::series
