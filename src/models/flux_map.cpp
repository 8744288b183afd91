#include "models/flux_map.hpp"

#include <algorithm>
#include <span>
#include <utility>

#include "common/panic.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "numeric/interp.hpp"
#include "numeric/quadrature.hpp"

namespace zorvane::models {

namespace {

void check_table(const std::vector<double>& bl, const std::vector<double>& bf) {
    assert_eq(static_cast<long long>(bl.size()), static_cast<long long>(bf.size()));
}

struct TabulatedProfile {
    std::span<const double> radius;
    std::span<const double> brightness;
    double operator()(double r) const noexcept {
        return interp::interp(radius, brightness, r, interp::ExtrapolationMode::Fixed(0.0));
    }
};

// The table is zero below its first radius and above its last (a one-entry
// table is constant), so only the part of [0, 1] between them shines.
Support support_of(const std::vector<double>& bl) {
    if (bl.size() < 2) return {};
    const double lo = std::max(bl.front(), 0.0);
    const double hi = std::min(bl.back(), 1.0);
    if (!(lo < hi)) return {};  // nothing shines (or NaN radii): N = 0 either way
    return {lo, hi};
}

double normalisation(const TabulatedProfile& profile, Support support) {
    return quadrature::double_exponential::integrate(
               [&](double r) { return (r * detail::kTwoPi) * profile(r); }, support.lo, support.hi,
               detail::kTarget)
        .integral;
}

// Both integrated forms: the table becomes the profile, normalised over the
// radii it covers, and is handed to the integration of one model family.
template <class Integrated>
Result<std::vector<double>> with_tabulated_profile(std::vector<double> l, double re, double rstar,
                                                   const std::vector<double>& bl,
                                                   const std::vector<double>& bf,
                                                   Integrated integrated) {
    check_table(bl, bf);
    const TabulatedProfile profile{bl, bf};
    const Support support = support_of(bl);
    return integrated(std::move(l), re, rstar, profile, normalisation(profile, support), support);
}

}  // namespace

Result<std::vector<double>> integrated_flux_map_witt_mao_magnification(
    std::vector<double> l, double re, double rstar, std::vector<double> bl, std::vector<double> bf) {
    return with_tabulated_profile(std::move(l), re, rstar, bl, bf, [](auto&&... args) {
        return _integrated_witt_mao_magnification(std::forward<decltype(args)>(args)...);
    });
}

Result<std::vector<double>> integrated_flux_map_heyrovsky_magnification(
    std::vector<double> l, double re, double rstar, std::vector<double> bl, std::vector<double> bf) {
    return with_tabulated_profile(std::move(l), re, rstar, bl, bf, [](auto&&... args) {
        return _integrated_heyrovsky_magnification(std::forward<decltype(args)>(args)...);
    });
}

Result<std::vector<double>> discrete_flux_map_heyrovsky_magnification(
    std::vector<double> l, double re, double rstar, std::vector<double> bl, std::vector<double> bf) {
    check_table(bl, bf);
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
