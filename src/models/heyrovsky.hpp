// Magnification of a thin, uniformly bright ring of the source by a point-mass lens.
//
// l (lens–source separation) and r (ring radius) are in source radii; the two
// scales enter only through c = re/rstar, the Einstein radius in source radii.
// The value is the point-lens magnification averaged around the ring.
#pragma once

#include "common/result.hpp"

namespace zorvane::models {

// Fails only when an elliptic integral refuses its parameter; the error carries
// that integral's message unchanged.
Result<double> heyrovsky_magnification(double l, double r, double re, double rstar) noexcept;

}  // namespace zorvane::models
