// Piecewise-linear interpolation: documented cases, modes, and bit-identity with
// the straightforward method that forms every segment's slope and intercept.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include "numeric/interp.hpp"

namespace {

using zorvane::interp::ExtrapolationMode;
using zorvane::interp::interp;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

std::string describe(ExtrapolationMode m) {
    switch (m.kind) {
        case ExtrapolationMode::Kind::Linear: return "Linear";
        case ExtrapolationMode::Kind::EndValues: return "EndValues";
        case ExtrapolationMode::Kind::Fixed: return "Fixed(" + std::to_string(m.value) + ")";
    }
    return "?";
}

TEST(ExtrapolationMode, KindsAndTags) {
    EXPECT_EQ(static_cast<int>(ExtrapolationMode::Linear.kind), 0);
    EXPECT_EQ(static_cast<int>(ExtrapolationMode::EndValues.kind), 1);
    constexpr ExtrapolationMode fixed = ExtrapolationMode::Fixed(-2.5);
    EXPECT_EQ(static_cast<int>(fixed.kind), 2);
    EXPECT_EQ(fixed.value, -2.5);
    EXPECT_EQ(fixed, ExtrapolationMode::Fixed(-2.5));
    EXPECT_NE(fixed, ExtrapolationMode::Fixed(0.0));
    EXPECT_NE(ExtrapolationMode::Linear, ExtrapolationMode::EndValues);
}

struct Case {
    std::string name;
    std::vector<double> x, y;
    double xp;
    ExtrapolationMode mode;
    double expected;  // compared bit for bit (NaN with NaN)
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Documented : public ::testing::TestWithParam<Case> {};

TEST_P(Documented, Value) {
    const auto& c = GetParam();
    const double got = interp(c.x, c.y, c.xp, c.mode);
    if (std::isnan(c.expected)) {
        EXPECT_TRUE(std::isnan(got)) << got;
    } else {
        EXPECT_TRUE(same_bits(got, c.expected)) << describe(c.mode) << ": got " << got << ", expected " << c.expected;
    }
}

const ExtrapolationMode LINEAR = ExtrapolationMode::Linear;
const ExtrapolationMode ENDS = ExtrapolationMode::EndValues;
const ExtrapolationMode ZERO = ExtrapolationMode::Fixed(0.0);

INSTANTIATE_TEST_SUITE_P(
    Interp, Documented,
    ::testing::Values(
        // empty and single-point tables ignore xp and mode
        Case{"empty_linear", {}, {}, 1.0, LINEAR, 0.0}, Case{"empty_fixed", {}, {}, 1.0, ExtrapolationMode::Fixed(9.0), 0.0},
        Case{"empty_y_only", {1.0, 2.0}, {}, 1.5, ENDS, 0.0},
        Case{"one_point_inside", {2.0}, {4.0}, 2.0, LINEAR, 4.0},
        Case{"one_point_far_fixed", {2.0}, {4.0}, 1e300, ZERO, 4.0},
        Case{"one_point_below_ends", {2.0}, {4.0}, -7.0, ENDS, 4.0},
        Case{"one_point_nan", {2.0}, {4.0}, NaN, ZERO, 4.0},
        Case{"one_pair_of_longer_x", {0.0, 1.0, 2.0}, {5.0}, 1.5, ZERO, 5.0},
        // x = [0, 1], y = [1, 3]
        Case{"fixed_middle", {0.0, 1.0}, {1.0, 3.0}, 0.5, ZERO, 2.0},
        Case{"fixed_below", {0.0, 1.0}, {1.0, 3.0}, -0.1, ZERO, 0.0},
        Case{"fixed_above", {0.0, 1.0}, {1.0, 3.0}, 1.1, ZERO, 0.0},
        Case{"fixed_at_last_knot", {0.0, 1.0}, {1.0, 3.0}, 1.0, ZERO, 3.0},
        Case{"fixed_at_first_knot", {0.0, 1.0}, {1.0, 3.0}, 0.0, ZERO, 1.0},
        Case{"fixed_other_value", {0.0, 1.0}, {1.0, 3.0}, 1.1, ExtrapolationMode::Fixed(-4.25), -4.25},
        Case{"ends_below", {0.0, 1.0}, {1.0, 3.0}, -5.0, ENDS, 1.0},
        Case{"ends_above", {0.0, 1.0}, {1.0, 3.0}, 5.0, ENDS, 3.0},
        Case{"ends_inside", {0.0, 1.0}, {1.0, 3.0}, 0.25, ENDS, 1.5},
        Case{"linear_above", {0.0, 1.0}, {1.0, 3.0}, 2.0, LINEAR, 5.0},
        Case{"linear_below", {0.0, 1.0}, {1.0, 3.0}, -2.0, LINEAR, -3.0},
        Case{"linear_plus_infinity", {0.0, 1.0}, {1.0, 3.0}, INF, LINEAR, INF},
        Case{"fixed_plus_infinity", {0.0, 1.0}, {1.0, 3.0}, INF, ZERO, 0.0},
        Case{"ends_minus_infinity", {0.0, 1.0}, {1.0, 3.0}, -INF, ENDS, 1.0},
        // x longer than y: the search runs over all of x, the segment is clamped
        Case{"longer_x_linear", {0.0, 1.0, 2.0, 3.0}, {0.0, 10.0}, 2.5, LINEAR, 25.0},
        Case{"longer_x_fixed", {0.0, 1.0, 2.0, 3.0}, {0.0, 10.0}, 2.5, ZERO, 0.0},
        Case{"longer_x_ends", {0.0, 1.0, 2.0, 3.0}, {0.0, 10.0}, 2.5, ENDS, 10.0},
        // the search covers the x values beyond the table too: an unsorted tail
        // moves it (p = 5 here, segment min(4, 2) = 2: slope 5, intercept -6)
        Case{"search_runs_over_all_of_x", {0.0, 1.0, 2.0, 3.0, -1.0, 50.0, 60.0, 70.0}, {0.0, 1.0, 4.0, 9.0}, 0.5, LINEAR,
             -3.5},
        // y longer than x: the extra y values are ignored
        Case{"longer_y", {0.0, 1.0}, {1.0, 3.0, 100.0}, 1.5, LINEAR, 4.0},
        // several segments: the knot takes the segment to its left
        Case{"second_segment", {0.0, 1.0, 3.0}, {0.0, 2.0, 3.0}, 2.0, ZERO, 2.5},
        Case{"inner_knot", {0.0, 1.0, 3.0}, {0.0, 2.0, 3.0}, 1.0, ZERO, 2.0},
        Case{"linear_beyond_last_segment", {0.0, 1.0, 3.0}, {0.0, 2.0, 3.0}, 5.0, LINEAR, 4.0},
        Case{"linear_before_first_segment", {0.0, 1.0, 3.0}, {0.0, 2.0, 3.0}, -1.0, LINEAR, -2.0},
        // NaN abscissa gives NaN in every mode
        Case{"nan_linear", {0.0, 1.0}, {1.0, 3.0}, NaN, LINEAR, NaN},
        Case{"nan_ends", {0.0, 1.0}, {1.0, 3.0}, NaN, ENDS, NaN},
        Case{"nan_fixed", {0.0, 1.0}, {1.0, 3.0}, NaN, ZERO, NaN},
        // a repeated abscissa gives an infinite slope in its segment
        Case{"repeated_x_at_knot", {0.0, 0.0, 1.0}, {0.0, 1.0, 2.0}, 0.0, ZERO, NaN},
        Case{"repeated_x_elsewhere", {0.0, 0.0, 1.0}, {0.0, 1.0, 2.0}, 0.5, ZERO, 1.5}),
    [](const auto& info) { return info.param.name; });

// Knots reproduce y_k only up to rounding: x_k * m + c with m, c of the left segment.
TEST(Interp, KnotValueFollowsTheLeftSegmentLine) {
    const std::vector<double> x = {0.1, 0.7, 1.3}, y = {0.3, 0.11, 2.9};
    const double m = (y[1] - y[0]) / (x[1] - x[0]);
    const double c = y[0] - x[0] * m;
    EXPECT_TRUE(same_bits(interp(x, y, x[1], ExtrapolationMode::Fixed(0.0)), x[1] * m + c));
    const double m0 = m, c0 = c;
    EXPECT_TRUE(same_bits(interp(x, y, x[0], ExtrapolationMode::Linear), x[0] * m0 + c0));
}

// Reference: the straightforward method, forming every slope and intercept first
// and finding the position by a linear scan (equal to the halving search for
// ascending x).
double interp_all_segments(const std::vector<double>& x, const std::vector<double>& y, double xp,
                           ExtrapolationMode mode) {
    const std::size_t n = std::min(x.size(), y.size());
    if (n == 0) return 0.0;
    if (n == 1) return y[0];
    std::vector<double> dx(n - 1), dy(n - 1), m(n - 1), c(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        dx[i] = x[i + 1] - x[i];
        dy[i] = y[i + 1] - y[i];
        m[i] = dy[i] / dx[i];
        c[i] = y[i] - x[i] * m[i];
    }
    std::size_t p = 0;
    while (p < x.size() && x[p] < xp) ++p;
    const std::size_t i = std::min(p > 0 ? p - 1 : 0, n - 2);
    const double v = xp * m[i] + c[i];
    switch (mode.kind) {
        case ExtrapolationMode::Kind::Linear: return v;
        case ExtrapolationMode::Kind::EndValues: return xp < x[0] ? y[0] : (xp > x[n - 1] ? y[n - 1] : v);
        case ExtrapolationMode::Kind::Fixed: return (xp < x[0] || xp > x[n - 1]) ? mode.value : v;
    }
    return v;
}

TEST(Interp, BitIdenticalToFormingEverySegment) {
    std::mt19937_64 rng(20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const ExtrapolationMode modes[] = {ExtrapolationMode::Linear, ExtrapolationMode::EndValues,
                                       ExtrapolationMode::Fixed(0.0), ExtrapolationMode::Fixed(-1.5)};
    int checked = 0;
    for (int table = 0; table < 200; ++table) {
        const std::size_t nx = 2 + rng() % 40;
        const std::size_t ny = table % 5 == 0 ? 1 + rng() % 45 : nx;  // sometimes of other length
        std::vector<double> x(nx), y(ny);
        double position = unit(rng) * 4.0 - 2.0;
        for (auto& xi : x) xi = position += unit(rng) * 0.5 + 1e-3;
        for (auto& yi : y) yi = std::exp(unit(rng) * 6.0 - 3.0) - 1.0;
        std::vector<double> points = {x.front(), x.back(), x.front() - 1.0, x.back() + 1.0, NaN};
        for (double xi : x) points.push_back(xi);
        for (int k = 0; k < 50; ++k) points.push_back(x.front() - 0.5 + unit(rng) * (x.back() - x.front() + 1.0));
        for (double xp : points) {
            for (auto mode : modes) {
                const double got = interp(x, y, xp, mode);
                const double want = interp_all_segments(x, y, xp, mode);
                ASSERT_TRUE(same_bits(got, want) || (std::isnan(got) && std::isnan(want)))
                    << "table " << table << " xp " << xp << " " << describe(mode) << ": " << got << " vs " << want;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 40000);
}

}  // namespace
