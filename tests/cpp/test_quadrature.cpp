// Tanh-sinh quadrature: node table, stopping rule, and accuracy against
// closed forms evaluated with mpmath at 40 digits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "numeric/quadrature.hpp"
#include "numeric/quadrature_nodes.hpp"

namespace {

namespace de = zorvane::quadrature::double_exponential;
namespace nodes = zorvane::quadrature::double_exponential::nodes;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

double ulp_distance(double a, double b) {
    return std::fabs(a - b) / (std::nextafter(std::fabs(b), INF) - std::fabs(b));
}

// ---- node table -------------------------------------------------------------

TEST(QuadratureNodes, LevelSizesAndOffsets) {
    const std::size_t expected[] = {0, 3, 6, 12, 24, 48, 96, 192};
    ASSERT_EQ(nodes::LEVELS, 7u);
    for (std::size_t k = 0; k <= nodes::LEVELS; ++k) EXPECT_EQ(nodes::LEVEL_START[k], expected[k]) << k;
    EXPECT_EQ(nodes::TABLE.size(), 192u);
}

TEST(QuadratureNodes, SamplePairsAreExact) {
    struct Sample {
        std::size_t index;
        double weight, abscissa;
    };
    const Sample samples[] = {
        {0, 0.23002239451478868, 0.9513679640727469},
        {1, 0.00026620051375271693, 0.9999774771924616},
        {2, 1.3581784274539091e-12, 0.999999999999957},
        {191, 3.411862828005251e-14, 0.9999999999999298},
    };
    for (const auto& s : samples) {
        EXPECT_EQ(nodes::TABLE[s.index].weight, s.weight) << s.index;
        EXPECT_EQ(nodes::TABLE[s.index].abscissa, s.abscissa) << s.index;
    }
}

// Every pair against the defining formulas evaluated in long double: the stored
// doubles are correctly rounded, so they can differ from a 64-bit-mantissa
// evaluation by at most one unit in the last place.
TEST(QuadratureNodes, PairsFollowTheFormulasInIncreasingU) {
    const long double half_pi = 1.570796326794896619231321691639751442L;
    for (std::size_t k = 0; k < nodes::LEVELS; ++k) {
        const long double h = k == 0 ? 1.0L : std::ldexp(1.0L, -static_cast<int>(k));
        double previous = 0.0;
        for (std::size_t i = nodes::LEVEL_START[k]; i < nodes::LEVEL_START[k + 1]; ++i) {
            const std::size_t j = i - nodes::LEVEL_START[k];
            const long double u = k == 0 ? static_cast<long double>(j + 1) : (2.0L * j + 1.0L) * h;
            const long double s = half_pi * std::sinh(u);
            const long double x = std::tanh(s);
            const long double w = h * half_pi * std::cosh(u) / (std::cosh(s) * std::cosh(s));
            SCOPED_TRACE("level " + std::to_string(k) + " pair " + std::to_string(j));
            EXPECT_LE(ulp_distance(nodes::TABLE[i].abscissa, static_cast<double>(x)), 1.0);
            EXPECT_LE(ulp_distance(nodes::TABLE[i].weight, static_cast<double>(w)), 1.0);
            EXPECT_GT(nodes::TABLE[i].abscissa, previous);
            EXPECT_LT(nodes::TABLE[i].abscissa, 1.0);
            EXPECT_GT(nodes::TABLE[i].weight, 0.0);
            previous = nodes::TABLE[i].abscissa;
        }
    }
}

// ---- stopping rule and documented cases ------------------------------------

// The radially weighted linear limb-darkening profile with coefficient 0.6.
double limb_darkening(double r) { return 2.0 * 3.141592653589793 * r * (1.0 - 0.6 * (1.0 - std::sqrt(1.0 - r * r))); }

TEST(Integrate, LimbDarkeningNormalisationIsBitExact) {
    const auto out = de::integrate(limb_darkening, 0.0, 1.0, 1e-16);
    EXPECT_EQ(out.integral, 2.5132741228717936);
    EXPECT_EQ(out.evaluations, 385u);
    // and close to the exact value 0.8 pi (the tail beyond the last node is lost)
    EXPECT_NEAR(out.integral, 2.513274122871834590770114706623602307, 1e-13);
}

TEST(Integrate, ConstantRunsAllLevelsAtTinyTarget) {
    const auto out = de::integrate([](double) { return 1.0; }, 0.0, 1.0, 1e-16);
    EXPECT_EQ(out.evaluations, 385u);
    EXPECT_LT(out.integral, 1.0);
    EXPECT_GT(out.integral, 1.0 - 1e-13);
    EXPECT_GT(out.error_estimate, 0.0);
    EXPECT_LT(out.error_estimate, 1e-13);
}

// Even the target 1e-16 can stop early: when successive level differences shrink
// quadratically (log ratio in (1.9, 2.1)) the estimate is the square of the last
// difference, here about 4e-21 after level 3.
TEST(Integrate, QuadraticConvergenceCanStopEarlyAtTinyTarget) {
    const auto out = de::integrate([](double x) { return std::exp(-2.5 * x); }, 0.0, 1.0, 1e-16);
    EXPECT_EQ(out.evaluations, 49u);
    EXPECT_LT(out.error_estimate, 1e-20);
    EXPECT_NEAR(out.integral, 0.3671660005504404819321885302131360769, 2e-15);
}

struct StopCase {
    std::string name;
    std::function<double(double)> f;
    double a, b, target;
    std::uint32_t evaluations;
    double reference;  // mpmath, 40 digits
    double tolerance;  // absolute
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class Stops : public ::testing::TestWithParam<StopCase> {};

TEST_P(Stops, AtTheDocumentedLevel) {
    const auto& c = GetParam();
    std::uint32_t calls = 0;
    const auto out = de::integrate([&](double x) { ++calls; return c.f(x); }, c.a, c.b, c.target);
    EXPECT_EQ(out.evaluations, c.evaluations);
    EXPECT_EQ(calls, out.evaluations);
    EXPECT_NEAR(out.integral, c.reference, c.tolerance);
    EXPECT_LT(std::fabs(out.error_estimate), c.target * 0.25);
}

INSTANTIATE_TEST_SUITE_P(
    Integrate, Stops,
    ::testing::Values(
        StopCase{"constant_1e6", [](double) { return 1.0; }, 0.0, 1.0, 1e-6, 49, 1.0, 1e-7},
        // The 49-node rule itself, summed exactly (mpmath) with the stored nodes, is
        // 5.37e-15 below e - 1 (the weight beyond the outermost node is lost); the
        // double computation lands within an ulp of that, 25 ulp below e - 1.
        StopCase{"exp_1e10", [](double x) { return std::exp(x); }, 0.0, 1.0, 1e-10, 49,
                 1.718281828459045235360287471352662498 - 5.3654e-15, 2 * 2.220446049250313e-16},
        StopCase{"inverse_sqrt_1e6", [](double x) { return 1.0 / std::sqrt(x); }, 0.0, 1.0, 1e-6, 49, 2.0, 1e-7},
        StopCase{"zero", [](double) { return 0.0; }, 0.0, 1.0, 1e-16, 25, 0.0, 0.0},
        StopCase{"equal_ends", [](double x) { return x * x + 1.0; }, 2.0, 2.0, 1e-10, 25, 0.0, 0.0}),
    [](const auto& info) { return info.param.name; });

TEST(Integrate, ZeroIntegrandHasZeroEstimate) {
    const auto out = de::integrate([](double) { return 0.0; }, -3.0, 5.0, 1e-16);
    EXPECT_EQ(out.integral, 0.0);
    EXPECT_EQ(out.error_estimate, 0.0);
    EXPECT_EQ(out.evaluations, 25u);
}

TEST(Integrate, EqualEndsEvaluateOnlyTheCentre) {
    std::vector<double> seen;
    const auto out = de::integrate([&](double x) { seen.push_back(x); return 7.0; }, 1.5, 1.5, 1e-12);
    EXPECT_EQ(out.integral, 0.0);
    EXPECT_EQ(out.evaluations, 25u);
    for (double x : seen) EXPECT_EQ(x, 1.5);
}

// Nodes are visited centre first, then per pair right (d + y) before left (d - y),
// level by level in increasing u, i.e. with the right node moving outwards.
TEST(Integrate, EvaluationOrder) {
    std::vector<double> seen;
    de::integrate([&](double x) { seen.push_back(x); return 1.0; }, 0.0, 1.0, 0.0);
    ASSERT_EQ(seen.size(), 385u);
    EXPECT_EQ(seen[0], 0.5);
    for (std::size_t k = 0; k < nodes::LEVELS; ++k) {
        double previous_right = 0.5;
        for (std::size_t i = nodes::LEVEL_START[k]; i < nodes::LEVEL_START[k + 1]; ++i) {
            const double right = seen[1 + 2 * i], left = seen[2 + 2 * i];
            EXPECT_GT(right, previous_right) << i;
            EXPECT_LT(left, 0.5) << i;
            EXPECT_NEAR(right - 0.5, 0.5 - left, 1e-16) << i;
            previous_right = right;
        }
    }
}

// A non-finite integrand value counts exactly as 0 would, the centre included.
struct BadValue {
    std::string name;
    double value;
    double where;  // the node that returns it: the centre, or the outermost right node
};

void PrintTo(const BadValue& c, std::ostream* os) { *os << c.name; }

class NonFinite : public ::testing::TestWithParam<BadValue> {};

TEST_P(NonFinite, ContributesZero) {
    const auto& c = GetParam();
    const auto smooth = [](double x) { return std::exp(-x) + x; };
    const auto spoiled = de::integrate([&](double x) { return x == c.where ? c.value : smooth(x); }, -1.0, 1.0, 1e-16);
    const auto zeroed = de::integrate([&](double x) { return x == c.where ? 0.0 : smooth(x); }, -1.0, 1.0, 1e-16);
    EXPECT_TRUE(std::isfinite(spoiled.integral));
    EXPECT_EQ(spoiled.integral, zeroed.integral);
    EXPECT_EQ(spoiled.error_estimate, zeroed.error_estimate);
    EXPECT_EQ(spoiled.evaluations, zeroed.evaluations);
}

INSTANTIATE_TEST_SUITE_P(Integrate, NonFinite,
                         ::testing::Values(BadValue{"nan_centre", NaN, 0.0}, BadValue{"inf_centre", INF, 0.0},
                                           BadValue{"minus_inf_centre", -INF, 0.0},
                                           BadValue{"nan_node", NaN, 0.9513679640727469},
                                           BadValue{"inf_node", INF, 0.9513679640727469}),
                         [](const auto& info) { return info.param.name; });

TEST(Integrate, AllNaNIntegrandGivesZero) {
    const auto out = de::integrate([](double) { return NaN; }, 0.0, 1.0, 1e-10);
    EXPECT_EQ(out.integral, 0.0);
    EXPECT_EQ(out.error_estimate, 0.0);
    EXPECT_EQ(out.evaluations, 25u);
}

// b < a: every level runs, and the results are the exact negations of [a, b].
TEST(Integrate, ReversedIntervalNegatesExactly) {
    const std::function<double(double)> integrands[] = {
        [](double) { return 1.0; }, [](double x) { return std::exp(x); }, limb_darkening};
    for (const auto& f : integrands) {
        const auto forward = de::integrate(f, 0.0, 1.0, 1e-16);
        const auto backward = de::integrate(f, 1.0, 0.0, 1e-16);
        EXPECT_EQ(backward.integral, -forward.integral);
        EXPECT_EQ(backward.error_estimate, -forward.error_estimate);
        EXPECT_EQ(backward.evaluations, 385u);
    }
    // A target that [0, 1] reaches at 49 evaluations never stops [1, 0] early.
    const auto backward = de::integrate([](double x) { return std::exp(x); }, 1.0, 0.0, 1e-10);
    EXPECT_EQ(backward.evaluations, 385u);
    EXPECT_NEAR(backward.integral, -1.718281828459045235360287471352662498, 1e-13);
    EXPECT_LE(backward.error_estimate, 0.0);
}

// ---- accuracy ------------------------------------------------------------------

struct AccuracyCase {
    std::string name;
    std::function<double(double)> f;
    double a, b;
    double reference;  // mpmath, 40 digits
    double tolerance;  // absolute; 0 selects the bound for integrands finite at both ends
};

void PrintTo(const AccuracyCase& c, std::ostream* os) { *os << c.name; }

// With all seven levels the rule misses the weight beyond its outermost node,
// u = 3 + 1/128: about 3.3e-14 of f at each end per unit half-width (f = 1 on
// [0, 1] sums to 1 - 3.3e-14). The bound allows 4e-14 plus rounding.
double tail_bound(const AccuracyCase& c) {
    const double half_width = std::fabs(c.b - c.a) * 0.5;
    return 4e-14 * half_width * (std::fabs(c.f(c.a)) + std::fabs(c.f(c.b))) + 8 * 2.220446049250313e-16 * std::fabs(c.reference);
}

class Accuracy : public ::testing::TestWithParam<AccuracyCase> {};

TEST_P(Accuracy, MatchesTheClosedForm) {
    const auto& c = GetParam();
    const auto out = de::integrate(c.f, c.a, c.b, 1e-15);
    EXPECT_LE(std::fabs(out.integral - c.reference), c.tolerance > 0.0 ? c.tolerance : tail_bound(c))
        << "error " << out.integral - c.reference << " integral " << out.integral << " error estimate " << out.error_estimate;
    EXPECT_LE(out.evaluations, 385u);
}

INSTANTIATE_TEST_SUITE_P(
    Integrate, Accuracy,
    ::testing::Values(
        AccuracyCase{"exp", [](double x) { return std::exp(x); }, 0.0, 1.0, 1.718281828459045235360287471352662498,
                     0.0},
        AccuracyCase{"cos", [](double x) { return std::cos(x); }, -1.0, 2.0, 1.750768411633578202048522187542043842,
                     0.0},
        AccuracyCase{"arctan_derivative", [](double x) { return 1.0 / (1.0 + x * x); }, 0.0, 1.0,
                     0.7853981633974483096156608458198757210, 0.0},
        AccuracyCase{"cubic", [](double x) { return x * x * x - 2.0 * x; }, -2.0, 3.0, 11.25, 0.0},
        AccuracyCase{"gaussian", [](double x) { return std::exp(-x * x); }, -3.0, 3.0,
                     1.772414696519042467788969155823691159, 0.0},
        AccuracyCase{"exp_decay_long", [](double x) { return std::exp(-x); }, 0.0, 10.0,
                     0.9999546000702375151484644084844394494, 0.0},
        // Singular or steep at an end.
        AccuracyCase{"sqrt", [](double x) { return std::sqrt(x); }, 0.0, 1.0, 0.6666666666666666666666666666666666667,
                     0.0},
        AccuracyCase{"x_log_x", [](double x) { return x * std::log(x); }, 0.0, 1.0, -0.25, 1e-14},
        AccuracyCase{"chebyshev_weight", [](double x) { return 1.0 / std::sqrt(1.0 - x * x); }, -1.0, 1.0,
                     3.141592653589793238462643383279502884, 1e-6},
        AccuracyCase{"limb_darkening", limb_darkening, 0.0, 1.0, 2.513274122871834590770114706623602307, 0.0}),
    [](const auto& info) { return info.param.name; });

}  // namespace
