#include "models/flux_map.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <span>

#include "common/panic.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/mean_value.hpp"
#include "numeric/interp.hpp"
#include "numeric/quadrature.hpp"

namespace zorvane::models {

namespace {

// The table as a profile for integrated_element: no uniform part, kinks at
// its radii.
struct TabulatedProfile {
    static constexpr double uniform = 0.0;
    static constexpr bool vanishes_at_limb = false;
    std::span<const double> radius;
    std::span<const double> brightness;
    Support covered;
    double norm;
    double operator()(double r, double /*mu*/) const noexcept { return at(r); }
    double at(double r) const noexcept {
        return interp::interp(radius, brightness, r, interp::ExtrapolationMode::Fixed(0.0));
    }
    Support support() const noexcept { return covered; }
    std::span<const double> knots() const noexcept { return radius; }
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
    TabulatedProfile profile{bl, bf, support_of(bl), 0.0};
    const std::optional<Moments> far = far_weights(bl, bf);
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
