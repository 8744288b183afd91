// Magnifications weighted by a brightness profile that the caller tabulates:
// bl holds radii (fractions of the source radius), bf the brightness there.
#pragma once

#include <span>
#include <vector>

#include "common/result.hpp"
#include "models/gradient.hpp"

namespace zorvane::models {

// The profile is the piecewise-linear function through (bl[j], bf[j]), 0 outside
// [bl.front(), bl.back()] (a one-entry table is constant). Every routine first
// asserts len(bl) == len(bf) (a Panic, before any other work).
std::vector<double> integrated_flux_map_witt_mao_magnification(std::span<const double> l, double re,
                                                               double rstar,
                                                               std::span<const double> bl,
                                                               std::span<const double> bf);

std::vector<double> integrated_flux_map_heyrovsky_magnification(std::span<const double> l,
                                                                double re, double rstar,
                                                                std::span<const double> bl,
                                                                std::span<const double> bf);

// integrated_flux_map_heyrovsky_magnification with its derivatives in u and
// rho (integrated_gradient.hpp). A table without moments (radii that
// decrease somewhere, a value that is not finite) has the plain values and
// NaN derivatives.
Gradient integrated_flux_map_heyrovsky_magnification_gradient(std::span<const double> l, double re,
                                                              double rstar, std::span<const double> bl,
                                                              std::span<const double> bf);

// Σⱼ A_ring(l, bl[j])·bf[j] for every l: bf already holds each ring's weight. The
// first ring magnification that fails ends the call with its error.
Result<std::vector<double>> discrete_flux_map_heyrovsky_magnification(std::span<const double> l,
                                                                      double re, double rstar,
                                                                      std::span<const double> bl,
                                                                      std::span<const double> bf);

}  // namespace zorvane::models
