#include "models/integrated.hpp"

namespace zorvane::models {

std::vector<double> integrated_witt_mao_magnification(std::span<const double> l, double re,
                                                      double rstar) {
    return integrated_magnification(DiskFamily{}, l, re, rstar, linear_limb_darkening,
                                    LINEAR_LIMB_DARKENING_NORM);
}

std::vector<double> integrated_heyrovsky_magnification(std::span<const double> l, double re,
                                                       double rstar) {
    return integrated_magnification(RingFamily{}, l, re, rstar, linear_limb_darkening,
                                    LINEAR_LIMB_DARKENING_NORM);
}

}  // namespace zorvane::models
