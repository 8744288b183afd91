#include "models/integrated.hpp"

#include <array>

#include "models/integrated_gradient.hpp"

namespace zorvane::models {

std::vector<double> integrated_witt_mao_magnification(std::span<const double> l, double re,
                                                      double rstar) {
    return integrated_magnification(DiskFamily{}, l, re, rstar, LinearLaw{},
                                    series::LINEAR_LAW_WEIGHT);
}

std::vector<double> integrated_heyrovsky_magnification(std::span<const double> l, double re,
                                                       double rstar) {
    return integrated_magnification(RingFamily{}, l, re, rstar, LinearLaw{},
                                    series::LINEAR_LAW_WEIGHT);
}

namespace {

// k·LINEAR_LAW_WEIGHT[k]: the weights of the far field's derivative in rho.
constexpr std::array<double, series::kTerms + 1> kLinearLawRhoWeight = [] {
    std::array<double, series::kTerms + 1> w{};
    for (int k = 0; k <= series::kTerms; ++k) w[k] = k * series::LINEAR_LAW_WEIGHT[k];
    return w;
}();

}  // namespace

Gradient integrated_heyrovsky_magnification_gradient(std::span<const double> l, double re, double rstar) {
    return integrated_gradient(l, re, rstar, LinearLaw{}, series::LINEAR_LAW_WEIGHT, kLinearLawRhoWeight.data());
}

}  // namespace zorvane::models
