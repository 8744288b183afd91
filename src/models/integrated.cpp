#include "models/integrated.hpp"

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

}  // namespace zorvane::models
