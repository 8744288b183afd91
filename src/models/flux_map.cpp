#include "models/flux_map.hpp"

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

double normalisation(const TabulatedProfile& profile) {
    return quadrature::double_exponential::integrate(
               [&](double r) { return (r * detail::kTwoPi) * profile(r); }, 0.0, 1.0,
               detail::kTarget)
        .integral;
}

}  // namespace

Result<std::vector<double>> integrated_flux_map_witt_mao_magnification(
    std::vector<double> l, double re, double rstar, std::vector<double> bl, std::vector<double> bf) {
    check_table(bl, bf);
    const TabulatedProfile profile{bl, bf};
    return _integrated_witt_mao_magnification(std::move(l), re, rstar, profile, normalisation(profile));
}

Result<std::vector<double>> integrated_flux_map_heyrovsky_magnification(
    std::vector<double> l, double re, double rstar, std::vector<double> bl, std::vector<double> bf) {
    check_table(bl, bf);
    const TabulatedProfile profile{bl, bf};
    return _integrated_heyrovsky_magnification(std::move(l), re, rstar, profile, normalisation(profile));
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
