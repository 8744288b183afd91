// Central-difference first derivative of a real function of one variable.
#pragma once

#include <cmath>
#include <optional>

namespace zorvane::numdiff {

namespace constants {

// Cube root of the double epsilon 2^-52, correctly rounded. The truncation error
// of a central difference grows like h^2 and its rounding error like eps / h, so
// h of order eps^(1/3) balances the two.
inline constexpr double CBRT_EPS = 6.0554544523933395e-06;

}  // namespace constants

namespace central_difference::derivative::scalar_valued {

// The step of a central difference at x: h = (|x| + 1)·base.
inline double central_step(double x, double base = constants::CBRT_EPS) noexcept {
    return (std::fabs(x) + 1.0) * base;
}

// The difference quotient (f(x + h) − f(x − h))/(2h) from the two values, for
// callers that evaluate f at many points together.
inline double central_quotient(double f_plus, double f_minus, double h) noexcept {
    return (f_plus - f_minus) / (h + h);
}

// (f(x + h) - f(x - h)) / (2h) with h = (|x| + 1) * base, where base is `step`
// if given and CBRT_EPS otherwise; a given step is scaled the same way, never
// used as it is. Calls f exactly twice, at x + h first and at x - h second. A
// NaN from f, or a NaN x, gives NaN.
template <class F>
inline double sderivative(F&& f, double x, std::optional<double> step = std::nullopt) {
    const double h = central_step(x, step.has_value() ? *step : constants::CBRT_EPS);
    const double f_plus = f(x + h);
    const double f_minus = f(x - h);
    return central_quotient(f_plus, f_minus, h);
}

}  // namespace central_difference::derivative::scalar_valued

}  // namespace zorvane::numdiff
