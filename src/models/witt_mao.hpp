// Witt–Mao magnification of a uniformly bright disk by a point-mass lens.
//
// Separations are in source radii; rho = rstar/re is the source radius in
// Einstein radii, so u = x*rho is the separation in Einstein radii.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "models/gradient.hpp"

namespace zorvane::models {

// Magnification of a uniform disk of radius rho (Einstein radii) at separation x
// (source radii); rho2 must be rho*rho. Never fails: an elliptic integral that
// refuses its parameter makes the result NaN.
double witt_mao_element(double x, double rho, double rho2) noexcept;

// witt_mao_element(x, rho, rho2) with its derivatives in u = x*rho and rho,
// as in witt_mao_magnification_gradient.
Slopes witt_mao_gradient_element(double x, double rho, double rho2) noexcept;

// witt_mao_element(x[i], rho[i], rho2[i]) into out[i] for i < count; with the
// four-lane kernels (ellip/carlson_batch.hpp) the elliptic integrals are taken
// four elements at a time, to the same bits.
void witt_mao_elements(const double* x, const double* rho, const double* rho2, std::size_t count,
                       double* out) noexcept;

// witt_mao_element over every separation of l, in order, on the worker pool.
std::vector<double> witt_mao_magnification(std::span<const double> l, double re, double rstar);

// The magnification of every separation of l with its derivatives ∂A/∂u
// (fixed rho) and ∂A/∂rho (fixed u), u = x*rho, on the worker pool: value is
// witt_mao_magnification(l, re, rstar), bit for bit. On the limb (x = 1) the
// derivatives are −inf and +inf, their limits from either side; where A is
// NaN, so are they.
Gradient witt_mao_magnification_gradient(std::span<const double> l, double re, double rstar);

// One list per (re[i], rstar[j]) pair, pair k = i*len(rstar) + j, all evaluated on
// the worker pool (pairs and, inside each pair, separations).
std::vector<std::vector<double>> multi_witt_mao_magnification(std::span<const double> l,
                                                              std::span<const double> re,
                                                              std::span<const double> rstar);

}  // namespace zorvane::models
