// A magnification and its first derivatives in the two parameters of a
// finite-source light curve, at each separation of a sequence.
#pragma once

#include <vector>

namespace zorvane::models {

// Three lists as long as the separations, in their order: value[i] = A,
// du[i] = ∂A/∂u at fixed rho and drho[i] = ∂A/∂rho at fixed u, with u the
// separation and rho the source radius, both in Einstein radii.
struct Gradient {
    std::vector<double> value, du, drho;
};

// The same three at one separation.
struct Slopes {
    double a, du, drho;
};

}  // namespace zorvane::models
