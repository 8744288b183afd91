#include "models/flux_map.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <span>

#include "common/panic.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/mean_value.hpp"
#include "numeric/interp.hpp"
#include "numeric/quadrature.hpp"
#include "numeric/radial_rules.hpp"

namespace zorvane::models {

namespace {

// From this many radii on, a table (with increasing radii) is dense: the
// rule's pieces end only at the two knots around the lens, and across the
// others the ring integrand is interpolated on each piece and integrated
// exactly against every linear segment. Cut at every knot, each segment would
// need its own few nodes (some 1000 rings for 400 knots); crossed, the pieces
// need twice the nodes of the fixed law and the knots cost one arcsine and two
// Legendre sums each.
constexpr std::size_t kDenseKnots = 24;

// Legendre sums at x ∈ [−1, 1] of a piece's two expansions: the
// antiderivatives (1/2)·∫₋₁ˣ Σ cₖPₖ, with ∫₋₁ˣ P₀ = x + 1 and
// ∫₋₁ˣ Pₖ = (Pₖ₊₁ − Pₖ₋₁)/(2k + 1).
void antiderivatives(const double* c0, const double* c1, std::size_t n, double x, double& f0,
                     double& f1) noexcept {
    double p_prev = 1.0, p = x;  // P₀, P₁
    double s0 = c0[0] * (x + 1.0), s1 = c1[0] * (x + 1.0);
    for (std::size_t k = 1; k < n; ++k) {
        const double kk = static_cast<double>(k);
        const double p_next = ((2.0 * kk + 1.0) * x * p - kk * p_prev) / (kk + 1.0);
        const double q = (p_next - p_prev) / (2.0 * kk + 1.0);
        s0 = s0 + c0[k] * q;
        s1 = s1 + c1[k] * q;
        p_prev = p;
        p = p_next;
    }
    f0 = 0.5 * s0;
    f1 = 0.5 * s1;
}

// The table as a profile for integrated_element: no uniform part, kinks at
// its radii.
struct TabulatedProfile {
    static constexpr double uniform = 0.0;
    static constexpr bool vanishes_at_limb = false;
    std::span<const double> radius;
    std::span<const double> brightness;
    Support covered;
    double norm;
    bool sorted;
    double operator()(double r, double /*mu*/) const noexcept { return at(r); }
    double at(double r) const noexcept {
        return interp::interp(radius, brightness, r, interp::ExtrapolationMode::Fixed(0.0));
    }
    Support support() const noexcept { return covered; }
    std::span<const double> knots() const noexcept { return radius; }
    bool dense() const noexcept { return sorted && radius.size() >= kDenseKnots; }

    // The knots on either side of l (none, one or two), into `out`.
    std::span<const double> knots_around(double l, double* out) const noexcept {
        const auto above = std::upper_bound(radius.begin(), radius.end(), l);
        std::size_t k = 0;
        if (above != radius.begin()) out[k++] = *(above - 1);
        if (above != radius.end()) out[k++] = *above;
        return {out, k};
    }

    // Σ over the rule of the dense form. A piece at r = l lies within one
    // segment, where P is linear: its nodes as they are. Any other piece: the
    // Legendre expansions in its t of h = g·dr/dt and h·r, from its n Gauss
    // nodes (cₖ = (2k + 1)·Σ wᵢgᵢPₖ(xᵢ), x = 2t − 1, the interpolating
    // polynomials of degree n − 1), integrated exactly against each segment,
    // P = p0 + p1·r, through their antiderivatives at the knots.
    double dense_integral(const radial::Rule& rule, const double* g, bool& any_finite) const {
        constexpr std::size_t kMost = quadrature::radial_rules::GAUSS_LEGENDRE_MAX;
        double sum = 0.0;
        for (const radial::Piece& piece : rule.pieces) {
            if (piece.log_end != 0 || piece.count > kMost) {
                for (std::size_t i = piece.first; i < piece.first + piece.count; ++i) {
                    const double v = g[i] * at(rule.r[i]);
                    if (!std::isfinite(v)) continue;
                    any_finite = true;
                    sum = sum + rule.w[i] * v;
                }
                continue;
            }
            double c0[kMost] = {}, c1[kMost] = {};
            const std::size_t n = piece.count;
            for (std::size_t i = piece.first; i < piece.first + n; ++i) {
                const double v = rule.w[i] * g[i];
                if (!std::isfinite(v)) continue;
                any_finite = true;
                const double x = 2.0 * rule.t[i] - 1.0;
                const double vr = v * rule.r[i];
                double p_prev = 1.0, p = x;
                c0[0] = c0[0] + v;
                c1[0] = c1[0] + vr;
                for (std::size_t k = 1; k < n; ++k) {
                    c0[k] = c0[k] + v * p;
                    c1[k] = c1[k] + vr * p;
                    const double kk = static_cast<double>(k);
                    const double p_next = ((2.0 * kk + 1.0) * x * p - kk * p_prev) / (kk + 1.0);
                    p_prev = p;
                    p = p_next;
                }
            }
            for (std::size_t k = 0; k < n; ++k) {
                c0[k] = c0[k] * (2.0 * static_cast<double>(k) + 1.0);
                c1[k] = c1[k] * (2.0 * static_cast<double>(k) + 1.0);
            }
            // The segments across the piece, from r(a) to r(b).
            const double ra = std::sin(piece.a);
            const double rb = piece.b >= std::numbers::pi / 2.0 ? 1.0 : std::sin(piece.b);
            auto knot = std::upper_bound(radius.begin(), radius.end(), ra);
            double f0 = 0.0, f1 = 0.0;  // antiderivatives at the segment's start
            while (true) {
                const bool last = knot == radius.end() || !(*knot < rb);
                double g0, g1;
                if (last) {
                    g0 = c0[0];
                    g1 = c1[0];
                } else {
                    const double x = 2.0 * radial::parameter(piece, std::asin(*knot)) - 1.0;
                    antiderivatives(c0, c1, n, x, g0, g1);
                }
                // The segment [radius[j], radius[j + 1]] that holds it.
                const std::size_t j = static_cast<std::size_t>(knot - radius.begin()) - 1;
                if (knot != radius.begin() && j + 1 < radius.size()) {
                    const double slope = (brightness[j + 1] - brightness[j]) / (radius[j + 1] - radius[j]);
                    const double p0 = brightness[j] - slope * radius[j];
                    sum = sum + (p0 * (g0 - f0) + slope * (g1 - f1));
                }
                if (last) break;
                f0 = g0;
                f1 = g1;
                ++knot;
            }
        }
        return sum;
    }
};

// The table is zero below its first radius and above its last (a one-entry
// table is constant), so only the part of [0, 1] between them shines.
Support support_of(std::span<const double> bl) {
    if (bl.size() < 2) return {};
    const double lo = std::max(bl.front(), 0.0);
    const double hi = std::min(bl.back(), 1.0);
    if (!(lo < hi)) return {};  // nothing shines (or NaN radii): N = 0 either way
    return {lo, hi};
}

// The weights Mₖ/(k!)² of the profile's mean-value series, Mₖ its normalised
// moments of r²ᵏ over the radii that shine, exact for the piecewise-linear
// table: on a segment [r0, r1] with brightness I0 + b·(r − r0),
//   ∫ r^(2k+1)·I dr = I0·D(2k+2)/(2k+2) + b·(D(2k+3)/(2k+3) − r0·D(2k+2)/(2k+2)),
// with D(n) = r1ⁿ − r0ⁿ = (r1 − r0)·Σᵢ r1ⁱ·r0^(n−1−i), a sum of positive terms,
// so that narrow segments lose nothing to cancellation. None (no series) for a
// table whose radii do not strictly increase, that holds a value that is not
// finite, or whose light does not add up to a positive amount.
using FarWeights = std::array<double, series::kTerms>;

// The raw moments ∫ r^(2k+1)·P dr over [0, 1] (raw[0]·2π is the table's exact
// normalisation N), and from them the weights.
struct Moments {
    FarWeights raw, weight;
};

std::optional<Moments> far_weights(std::span<const double> bl, std::span<const double> bf) {
    constexpr int kPowers = 2 * series::kTerms + 2;
    FarWeights raw{};
    if (bl.size() == 1) {
        // One entry: the same brightness over the whole disk.
        if (!std::isfinite(bf[0])) return std::nullopt;
        for (int k = 0; k < series::kTerms; ++k) raw[k] = bf[0] / (k + 1.0);
    } else {
        for (std::size_t j = 0; j < bl.size(); ++j) {
            if (!std::isfinite(bl[j]) || !std::isfinite(bf[j])) return std::nullopt;
            if (j > 0 && !(bl[j] > bl[j - 1])) return std::nullopt;
        }
        for (std::size_t j = 0; j + 1 < bl.size(); ++j) {
            double r0 = bl[j], r1 = bl[j + 1], i0 = bf[j];
            if (r1 <= 0.0 || r0 >= 1.0) continue;
            const double b = (bf[j + 1] - i0) / (r1 - r0);
            if (r0 < 0.0) {
                i0 = i0 + b * (0.0 - r0);
                r0 = 0.0;
            }
            r1 = std::min(r1, 1.0);
            const double width = r1 - r0;
            std::array<double, kPowers + 1> d{};  // d[n] = r1ⁿ − r0ⁿ
            double sum = 1.0, power = 1.0;        // Σᵢ r1ⁱ·r0^(n−1−i) and r1^(n−1) for n = 1
            for (int n = 1; n <= kPowers; ++n) {
                d[n] = width * sum;
                power = power * r1;
                sum = power + r0 * sum;
            }
            for (int k = 0; k < series::kTerms; ++k) {
                const int m = 2 * k + 2;
                const double flat = d[m] / m;
                raw[k] = raw[k] + (i0 * flat + b * (d[m + 1] / (m + 1) - r0 * flat));
            }
        }
    }
    if (!(raw[0] > 0.0) || !std::isfinite(raw[0])) return std::nullopt;
    FarWeights weight{};
    for (int k = 0; k < series::kTerms; ++k) weight[k] = (raw[k] / raw[0]) * series::RING_WEIGHT[k];
    return Moments{raw, weight};
}

// The table as a profile, with its series weights.
struct Table {
    TabulatedProfile profile;
    std::optional<Moments> far;
};

// Asserts equal lengths first (a Panic, before any other work). The
// normalisation is the table's exact integral where its moments exist
// (increasing finite radii); otherwise (radii out of order, which interp
// reads its own way) the tanh-sinh rule's over the radii it covers.
Table tabulated(std::span<const double> bl, std::span<const double> bf) {
    assert_eq(static_cast<long long>(bl.size()), static_cast<long long>(bf.size()));
    const std::optional<Moments> far = far_weights(bl, bf);
    TabulatedProfile profile{bl, bf, support_of(bl), 0.0, far.has_value() && bl.size() > 1};
    if (far) {
        profile.norm = far->raw[0] * detail::kTwoPi;
    } else {
        profile.norm = quadrature::double_exponential::integrate(
                           [&](double r) { return (r * detail::kTwoPi) * profile.at(r); },
                           profile.covered.lo, profile.covered.hi, 1e-16)
                           .integral;
    }
    return {profile, far};
}

template <class Family>
std::vector<double> integrated_flux_map(Family family, std::span<const double> l, double re,
                                        double rstar, std::span<const double> bl,
                                        std::span<const double> bf) {
    const Table table = tabulated(bl, bf);
    return integrated_magnification(family, l, re, rstar, table.profile,
                                    table.far ? table.far->weight.data() : nullptr);
}

}  // namespace

std::vector<double> integrated_flux_map_witt_mao_magnification(std::span<const double> l, double re,
                                                               double rstar,
                                                               std::span<const double> bl,
                                                               std::span<const double> bf) {
    return integrated_flux_map(DiskFamily{}, l, re, rstar, bl, bf);
}

std::vector<double> integrated_flux_map_heyrovsky_magnification(std::span<const double> l,
                                                                double re, double rstar,
                                                                std::span<const double> bl,
                                                                std::span<const double> bf) {
    return integrated_flux_map(RingFamily{}, l, re, rstar, bl, bf);
}

Result<std::vector<double>> discrete_flux_map_heyrovsky_magnification(std::span<const double> l,
                                                                      double re, double rstar,
                                                                      std::span<const double> bl,
                                                                      std::span<const double> bf) {
    assert_eq(static_cast<long long>(bl.size()), static_cast<long long>(bf.size()));
    std::vector<double> out;
    out.reserve(l.size());
    for (const double x : l) {
        double sum = 0.0;
        for (std::size_t j = 0; j < bl.size(); ++j) {
            const auto ring = heyrovsky_magnification(x, bl[j], re, rstar);
            if (!ring) return std::unexpected(ring.error());
            sum = sum + *ring * bf[j];
        }
        out.push_back(sum);
    }
    return out;
}

}  // namespace zorvane::models
