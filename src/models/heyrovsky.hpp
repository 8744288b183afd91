// Magnification of a thin, uniformly bright ring of the source by a point-mass lens.
//
// l (lens–source separation) and r (ring radius) are in source radii; the two
// scales enter only through c = re/rstar, the Einstein radius in source radii.
// The value is the point-lens magnification averaged around the ring.
#pragma once

#include <cstddef>

#include "common/result.hpp"

namespace zorvane::models {

// Fails only when an elliptic integral refuses its parameter; the error carries
// that integral's message unchanged.
Result<double> heyrovsky_magnification(double l, double r, double re, double rstar) noexcept;

// heyrovsky_magnification(l, r[i], re, rstar) into out[i] for i < count, an
// error as NaN; with the four-lane kernels (ellip/carlson_batch.hpp) the
// rings' elliptic integrals are taken four at a time, to the same bits.
void heyrovsky_rings(double l, const double* r, std::size_t count, double re, double rstar,
                     double* out) noexcept;

}  // namespace zorvane::models
