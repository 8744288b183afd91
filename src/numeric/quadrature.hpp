// Tanh-sinh (double-exponential) quadrature of a real function over [a, b].
//
// The interval is mapped onto [-1, 1] and x = tanh(pi/2 sinh u) is substituted,
// which makes the integrand decay double-exponentially in u; the trapezoidal rule
// in u then converges very fast, even for integrable endpoint singularities,
// because the nodes never reach the ends. Each level halves the step h and adds
// only the new (odd) nodes: the previous sum is halved and the new nodes' sum
// added. The abscissas and weights of all seven levels are precomputed
// (quadrature_nodes.hpp), so a call allocates nothing and evaluates no
// transcendental function except the logarithms of the error estimate.
//
// Error estimate: with Delta the change of the integral from one level to the
// next, a converging rule roughly squares its error each level, so when
// ln(Delta) / ln(Delta_previous) lies near 2 the next error is taken as Delta^2,
// otherwise as Delta itself. Refinement stops once that estimate falls below a
// quarter of the requested absolute error, or after the last level (385
// evaluations).
#pragma once

#include <cmath>
#include <numbers>
#include <cstdint>
#include <limits>

#include "numeric/quadrature_nodes.hpp"

namespace zorvane::quadrature::double_exponential {

struct QuadratureOutput {
    double error_estimate;  // estimated absolute error of `integral`
    double integral;
    std::uint32_t evaluations;  // integrand evaluations made
};

namespace detail {

// Non-finite integrand values (a pole hit by rounding, an overflow, a failed
// computation reported as NaN) count as 0 instead of spoiling the whole sum.
inline double finite_or_zero(double y) noexcept { return std::isfinite(y) ? y : 0.0; }

}  // namespace detail

// The largest number of integrand values one level needs (two per node).
inline constexpr std::size_t MAX_LEVEL_VALUES = [] {
    std::size_t most = 0;
    for (std::size_t level = 0; level < nodes::LEVELS; ++level) {
        const std::size_t n = nodes::LEVEL_START[level + 1] - nodes::LEVEL_START[level];
        most = 2 * n > most ? 2 * n : most;
    }
    return most;
}();

// Integral over [a, b] with requested absolute error `target`, of an integrand
// evaluated one level of nodes at a time: values(x, y, n) sets y[k] = f(x[k])
// for k < n (n <= MAX_LEVEL_VALUES), so that an integrand with a batched form
// can take a whole level at once. Each node's pair is x[2i] = d + y_i (right),
// x[2i + 1] = d − y_i (left); the sums, the levels and the stopping test are
// those of `integrate` below, which is this with f called node by node.
template <class Values>
inline QuadratureOutput integrate_levels(Values&& values, double a, double b, double target) {
    constexpr double PI = std::numbers::pi;
    constexpr double HUGE_VALUE = std::numeric_limits<double>::max();
    constexpr double RATIO_LOW = 1.9;
    constexpr double RATIO_HIGH = 2.1;
    constexpr std::uint32_t FIRST_TEST = 14;  // no test before levels 0 and 1 are in
    constexpr double TARGET_FACTOR = 0.25;

    const double c = (b - a) * 0.5;  // half-width
    const double d = (a + b) * 0.5;  // centre
    const double tolerance = (target * TARGET_FACTOR) / c;

    // The centre node (u = 0, weight pi/2 at h = 1) is counted twice because the
    // first level halves the running sum.
    const double centre = d + c * 0.0;
    double centre_value;
    values(&centre, &centre_value, std::size_t{1});
    double sum = PI * detail::finite_or_zero(centre_value);
    double error = HUGE_VALUE;
    double delta = HUGE_VALUE;
    // ln(delta) of the previous level, kept so that each level needs one
    // logarithm instead of two; NaN means "not computed yet".
    double log_delta = std::numeric_limits<double>::quiet_NaN();
    std::uint32_t evaluations = 1;

    for (std::size_t level = 0; level < nodes::LEVELS; ++level) {
        const double delta_previous = delta;
        const double log_delta_previous = log_delta;

        double level_sum = 0.0;
        const std::size_t first = nodes::LEVEL_START[level];
        const std::size_t last = nodes::LEVEL_START[level + 1];
        double x[MAX_LEVEL_VALUES], fx[MAX_LEVEL_VALUES];
        for (std::size_t i = first; i < last; ++i) {
            const double y = c * nodes::TABLE[i].abscissa;
            x[2 * (i - first)] = d + y;
            x[2 * (i - first) + 1] = d - y;
        }
        values(static_cast<const double*>(x), static_cast<double*>(fx), 2 * (last - first));
        for (std::size_t i = first; i < last; ++i) {
            const double right = detail::finite_or_zero(fx[2 * (i - first)]);
            const double left = detail::finite_or_zero(fx[2 * (i - first) + 1]);
            level_sum = level_sum + nodes::TABLE[i].weight * (right + left);
        }
        evaluations += static_cast<std::uint32_t>(2 * (last - first));

        const double change = sum * 0.5 - level_sum;
        delta = std::fabs(change);
        sum = sum * 0.5 + level_sum;
        log_delta = std::numeric_limits<double>::quiet_NaN();

        if (evaluations < FIRST_TEST) continue;
        if (change == 0.0) {
            error = 0.0;
            break;
        }
        log_delta = std::log(delta);
        const double ratio =
            log_delta / (std::isnan(log_delta_previous) ? std::log(delta_previous) : log_delta_previous);
        error = (ratio > RATIO_LOW && ratio < RATIO_HIGH) ? delta * delta : delta;
        if (error < tolerance) break;  // a NaN error never stops the loop
    }

    return QuadratureOutput{c * error, c * sum, evaluations};
}

// Integral of f over [a, b] with requested absolute error `target`.
//
// f is any callable taking and returning a double; it is called in place (no
// type erasure), node by node (the right node of a pair first), so each
// integrand gets its own copy of the loop. For b < a the half-width is
// negative: the result is the negated integral over [b, a], the error
// estimate carries the same sign, and the early stop never triggers (unless a
// level changes the sum by exactly 0). For a == b the result is 0 after 25
// evaluations. Never fails; at most 385 evaluations.
template <class F>
inline QuadratureOutput integrate(F&& f, double a, double b, double target) {
    return integrate_levels(
        [&f](const double* x, double* y, std::size_t n) {
            for (std::size_t k = 0; k < n; ++k) y[k] = f(x[k]);
        },
        a, b, target);
}

}  // namespace zorvane::quadrature::double_exponential
