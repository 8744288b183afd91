#include "models/integrated.hpp"

#include <utility>

namespace zorvane::models {

Result<std::vector<double>> integrated_witt_mao_magnification(std::vector<double> l, double re,
                                                              double rstar) {
    return _integrated_witt_mao_magnification(std::move(l), re, rstar, linear_limb_darkening,
                                              LINEAR_LIMB_DARKENING_NORM);
}

Result<std::vector<double>> integrated_heyrovsky_magnification(std::vector<double> l, double re,
                                                               double rstar) {
    return _integrated_heyrovsky_magnification(std::move(l), re, rstar, linear_limb_darkening,
                                               LINEAR_LIMB_DARKENING_NORM);
}

}  // namespace zorvane::models
