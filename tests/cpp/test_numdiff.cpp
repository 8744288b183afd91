// Central-difference derivative: the step rule, the evaluation order, NaN
// propagation, and accuracy against analytic derivatives.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "numeric/numdiff.hpp"

namespace {

using zorvane::numdiff::central_difference::derivative::scalar_valued::sderivative;
using zorvane::numdiff::constants::CBRT_EPS;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(CbrtEps, IsTheCorrectlyRoundedCubeRootOfEpsilon) {
    EXPECT_EQ(CBRT_EPS, 6.0554544523933395e-06);
    // mpmath, 40 digits: cbrt(2**-52); the compiler rounds the literal to nearest.
    EXPECT_EQ(CBRT_EPS, 6.055454452393339060789892727936966935698e-06);
    EXPECT_EQ(static_cast<double>(std::cbrt(std::ldexp(1.0L, -52))), CBRT_EPS);
}

struct StepCase {
    std::string name;
    double x;
    std::optional<double> step;
    double h;  // expected step, exactly
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

class Step : public ::testing::TestWithParam<StepCase> {};

TEST_P(Step, ScalesWithThePointAndEvaluatesRightThenLeft) {
    const auto& c = GetParam();
    std::vector<double> seen;
    const auto f = [&](double t) { seen.push_back(t); return t * t * t; };
    const double d = c.step ? sderivative(f, c.x, c.step) : sderivative(f, c.x);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], c.x + c.h);
    EXPECT_EQ(seen[1], c.x - c.h);
    EXPECT_EQ(d, (seen[0] * seen[0] * seen[0] - seen[1] * seen[1] * seen[1]) / (c.h + c.h));
}

INSTANTIATE_TEST_SUITE_P(
    Sderivative, Step,
    ::testing::Values(StepCase{"zero", 0.0, std::nullopt, 6.0554544523933395e-06},
                      StepCase{"one", 1.0, std::nullopt, 2.0 * 6.0554544523933395e-06},
                      StepCase{"minus_two", -2.0, std::nullopt, 3.0 * 6.0554544523933395e-06},
                      StepCase{"given_step", 9.0, 0.001, 0.01},
                      StepCase{"given_step_at_zero", 0.0, 0.25, 0.25},
                      StepCase{"negative_point_given_step", -0.5, 0.002, 1.5 * 0.002}),
    [](const auto& info) { return info.param.name; });

TEST(Sderivative, SquareAtThree) {
    const double d = sderivative([](double t) { return t * t; }, 3.0);
    EXPECT_NEAR(d, 6.0, 1e-9);
}

TEST(Sderivative, NaNPropagates) {
    EXPECT_TRUE(std::isnan(sderivative([](double) { return NaN; }, 1.0)));
    EXPECT_TRUE(std::isnan(sderivative([](double t) { return t > 1.0 ? NaN : t; }, 1.0)));
    EXPECT_TRUE(std::isnan(sderivative([](double t) { return t < 1.0 ? NaN : t; }, 1.0)));
    EXPECT_TRUE(std::isnan(sderivative([](double t) { return t; }, NaN)));
}

struct AccuracyCase {
    std::string name;
    std::function<double(double)> f;
    double x;
    double derivative;  // analytic, mpmath 30 digits
};

void PrintTo(const AccuracyCase& c, std::ostream* os) { *os << c.name; }

class Accuracy : public ::testing::TestWithParam<AccuracyCase> {};

// Truncation error h^2 f'''/6 plus rounding eps |f| / h: about 1e-10 relative here.
TEST_P(Accuracy, CloseToTheAnalyticDerivative) {
    const auto& c = GetParam();
    const double d = sderivative(c.f, c.x);
    EXPECT_LE(std::fabs(d - c.derivative), 1e-9 * std::fabs(c.derivative)) << d;
}

INSTANTIATE_TEST_SUITE_P(
    Sderivative, Accuracy,
    ::testing::Values(AccuracyCase{"sin", [](double t) { return std::sin(t); }, 0.5, 0.877582561890372716116281582604},
                      AccuracyCase{"exp", [](double t) { return std::exp(t); }, 2.0, 7.38905609893065022723042746058},
                      AccuracyCase{"log", [](double t) { return std::log(t); }, 3.0, 0.333333333333333333333333333333},
                      AccuracyCase{"atan", [](double t) { return std::atan(t); }, -1.0, 0.5},
                      AccuracyCase{"cubic_large", [](double t) { return t * t * t; }, 100.0, 30000.0},
                      AccuracyCase{"sqrt_small", [](double t) { return std::sqrt(t); }, 0.25, 1.0}),
    [](const auto& info) { return info.param.name; });

}  // namespace
