#include "models/flux_map.hpp"

#include <algorithm>
#include <span>

#include "common/panic.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "numeric/interp.hpp"
#include "numeric/quadrature.hpp"

namespace zorvane::models {

namespace {

struct TabulatedProfile {
    std::span<const double> radius;
    std::span<const double> brightness;
    double operator()(double r) const noexcept {
        return interp::interp(radius, brightness, r, interp::ExtrapolationMode::Fixed(0.0));
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

// The table as a profile, with the radii it covers and its normalisation over
// them.
struct Table {
    TabulatedProfile profile;
    Support support;
    double norm;
};

// Asserts equal lengths first (a Panic, before any other work).
Table tabulated(std::span<const double> bl, std::span<const double> bf) {
    assert_eq(static_cast<long long>(bl.size()), static_cast<long long>(bf.size()));
    const TabulatedProfile profile{bl, bf};
    const Support support = support_of(bl);
    const double norm = quadrature::double_exponential::integrate(
                            [&](double r) { return (r * detail::kTwoPi) * profile(r); },
                            support.lo, support.hi, detail::kTarget)
                            .integral;
    return {profile, support, norm};
}

template <class Family>
std::vector<double> integrated_flux_map(Family family, std::span<const double> l, double re,
                                        double rstar, std::span<const double> bl,
                                        std::span<const double> bf) {
    const Table table = tabulated(bl, bf);
    return integrated_magnification(family, l, re, rstar, table.profile, table.norm, table.support);
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
