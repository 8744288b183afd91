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

// The same ring magnifications by another road, for the radial integrals:
// 2c²·K(m) + (r − l)²·Π(n, m) as one Bulirsch integral cel (ellip/cel.hpp)
// from the complements 1 − n and 1 − m, four rings at a time. Within 1e-15
// of the exact value (measured against mpmath from |r − l| = 1e-12·l to
// r = 3l and c from 0.1 to 1e6) but not the bits of heyrovsky_magnification,
// to which it leaves the rings outside its ranges (r = l, l or r not
// positive, l + r or c² beyond 1e±150, NaN).
void ring_magnifications(double l, const double* r, std::size_t count, double re, double rstar,
                         double* out) noexcept;

// The ring's cosine moment ⟨A·cos φ⟩, the point-lens magnification averaged
// around the ring weighted by the cosine of the angle φ from the point of the
// ring farthest from the lens (negative: the near side is brighter). 2πr times
// it is how fast the lensed flux of the disk the ring bounds grows as the disk
// moves away from the lens, per source radius. From the disk's derivative in
// the separation (witt_mao.hpp), C = (R/2)·∂A_disk/∂u with R = r·rstar/re the
// ring's radius in Einstein radii: any ring, r = l (−inf) and r = 0 (0)
// included. Next to the lens the disk's separation l/r, rounded, costs it
// about ε·l/|r − l| relative; the plain rings of ring_cosine_moments keep
// their exact complements there.
double ring_cosine_moment(double l, double r, double re, double rstar) noexcept;

// ring_cosine_moment(l, r[i], re, rstar) into out[i] for i < count, the
// plain rings of ring_magnifications by one Bulirsch integral each (its
// complements 1 − m, eight at a time), the others by ring_cosine_moment.
void ring_cosine_moments(double l, const double* r, std::size_t count, double re, double rstar,
                         double* out) noexcept;

}  // namespace zorvane::models
