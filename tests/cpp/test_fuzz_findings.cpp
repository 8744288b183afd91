// Inputs on which the coverage-guided fuzzers (fuzz/) found wrong results,
// written out with their decoded arguments. The byte inputs themselves are kept
// in fuzz/regressions/ and replayed by fuzz/run.sh. References: mpmath at 40
// digits.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "ellip/elliprc.hpp"
#include "ellip/elliprd.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/elliprj.hpp"
#include "ellip/legendre/ellippi.hpp"
#include "models/heyrovsky.hpp"
#include "models/witt_mao.hpp"

namespace {

using namespace zorvane::ellip;
using zorvane::Result;

constexpr double EPS = 2.220446049250313e-16;

struct Finding {
    const char* name;
    Result<double> (*call)();
    double reference;  // mpmath, rounded to double
    double tolerance;  // relative
};

class FuzzFinding : public ::testing::TestWithParam<Finding> {};

TEST_P(FuzzFinding, AgreesWithMpmath) {
    const Finding& f = GetParam();
    const auto r = f.call();
    ASSERT_TRUE(r.has_value()) << r.error().message;
    if (std::isinf(f.reference)) {
        EXPECT_EQ(*r, f.reference);
    } else {
        EXPECT_NEAR(*r, f.reference, f.tolerance * std::fabs(f.reference)) << f.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ellip, FuzzFinding,
    ::testing::Values(
        // x − y overflowed: NaN.
        Finding{"rc_difference_overflows", [] { return elliprc(DBL_MAX, -1e300); },
                7.60507586658037292021009209619e-154, 4 * EPS},
        // The logarithm's quotient overflowed: +inf (also through RF(x, y, y)).
        Finding{"rc_log_quotient_overflows", [] { return elliprc(DBL_MAX, 1.4821969375237396e-323); },
                5.42411732957098051916486459813e-152, 4 * EPS},
        Finding{"rf_equal_pair_log_quotient_overflows",
                [] { return elliprf(DBL_MAX, 1.4821969375237396e-323, 1.4821969375237396e-323); },
                5.42411732957098051916486459813e-152, 4 * EPS},
        // The AGM form of RD with a subnormal z met ∞ − ∞: NaN.
        Finding{"rd_agm_subnormal_z_overflows", [] { return elliprd(0.0, 0.1, 1.072122451475505e-321); },
                std::numeric_limits<double>::infinity(), 0.0},
        Finding{"rd_agm_subnormal_z_finite", [] { return elliprd(0.0, 1.157920892373172e+77, 4.9406564584124654e-324); },
                1.78442029017333194905015713873e+285, 1e-12},
        // z·(y − z) underflowed to 0: −inf where the value is finite, or +inf.
        Finding{"rd_agm_product_underflows", [] { return elliprd(0.0, 1e-70, 1e-260); },
                3.00000000000000012217320776012e+295, 1e-13},
        Finding{"rj_through_rd_agm_product_underflows", [] { return elliprj(0.0, 1e-70, 1e-260, 1e-260); },
                3.00000000000000012217320776012e+295, 1e-13},
        Finding{"rd_agm_product_underflows_overflowing_value",
                [] { return elliprd(0.0, 8.6361685550944465e-78, 1.3100039655023898e-284); },
                std::numeric_limits<double>::infinity(), 0.0},
        // Π(n, m) with m near a negative n: the transformation to a positive
        // characteristic divided a cancelling difference by m − n (−34 here).
        Finding{"pi_negative_n_near_m", [] { return ellippi(-0.049999999999999899, -0.049999999999999996); },
                1.51452470139893797855258264501, 4 * EPS},
        Finding{"pi_negative_n_near_m_moderate", [] { return ellippi(-100.0, -120.0); },
                0.0979365991410024576048508759613, 4 * EPS},
        Finding{"pi_huge_negative_n_near_m", [] { return ellippi(-1.4679178779048806e+115, -1.4679178779048922e+115); },
                2.6100517609618276051598403443e-58, 1e-12},
        // Beyond |n| = 1e150 the same, with n·RJ scaled (−0 here, then up to
        // the largest doubles). The direct form's two terms cancel by a factor
        // of up to about a thousand at such sizes.
        Finding{"pi_huger_negative_n_near_m", [] { return ellippi(-4.4621394287847869e+157, -4.4621394287847881e+157); },
                1.4970228582792940568e-79, 1e-12},
        Finding{"pi_largest_negative_n_near_m", [] { return ellippi(-1.7e308, -1.6e308); },
                7.7469055362399761539e-155, 1e-12},
        // The closed form of RJ(x, x, x, p) cancels as p nears x: −6 here.
        Finding{"rj_equal_arguments_p_one_ulp_below", [] { return elliprj(0.9, 0.9, 0.9, std::nextafter(0.9, 0.0)); },
                1.17121394821051090704691697419, 2 * EPS},
        Finding{"rj_equal_arguments_p_below", [] { return elliprj(2.0, 2.0, 2.0, 1.9); },
                0.364554160206899325240848580457, 4 * EPS},
        Finding{"rj_equal_arguments_p_above", [] { return elliprj(2.0, 2.0, 2.0, 2.1); },
                0.34331144289779109291865063006, 4 * EPS},
        Finding{"rj_equal_arguments_small", [] { return elliprj(1e-3, 1e-3, 1e-3, 1.2e-3); },
                28297.6287236534883092916257332, 4 * EPS},
        Finding{"rj_equal_arguments_p_near", [] { return elliprj(5.0, 5.0, 5.0, 4.999999); },
                0.0894427298331194146596070043915, 4 * EPS},
        // Radii so small that l·r and (l + r)² underflow gave n = 0/0 and the
        // RJ convergence error; the ring is a point at separation l, whose
        // magnification is the point-lens A(u), u = l·rstar/re.
        Finding{"ring_underflowing_radii",
                [] { return zorvane::models::heyrovsky_magnification(1e-300, 1.4821969375237396e-323,
                                                                     1.4821969375237396e-323, 2.0181593501323239e-319); },
                7.34430082256169194286800943589e+295, 1e-9}),
    [](const ::testing::TestParamInfo<Finding>& info) { return std::string(info.param.name); });

// A ring through the lens is +inf also when l is subnormal (the band around
// r = l, relative to l, is empty there); it used to end in the RJ convergence error.
TEST(FuzzFinding, RingThroughLensAtSubnormalSeparation) {
    const double tiny = 4.9406564584124654e-324;
    const auto r = zorvane::models::heyrovsky_magnification(tiny, tiny, tiny, tiny);
    ASSERT_TRUE(r.has_value()) << r.error().message;
    EXPECT_EQ(*r, std::numeric_limits<double>::infinity());
}

// A ring of radius 0 on the lens is a point source on it: +inf, like a ring
// through the lens (it used to end in the RJ convergence error).
TEST(FuzzFinding, ZeroRingOnTheLensIsInfinite) {
    for (const double c : {0.01, 1.0, 65.86328125}) {
        const auto r = zorvane::models::heyrovsky_magnification(0.0, 0.0, c, 1.0);
        ASSERT_TRUE(r.has_value()) << r.error().message;
        EXPECT_EQ(*r, std::numeric_limits<double>::infinity()) << c;
    }
}

// A ring around the lens so small that 4c/s overflows and l·r, s² underflow
// (∞·0, 0/0: the RJ convergence error) is the point lens at u = r/c.
TEST(FuzzFinding, TinyRingAroundTheLensIsThePointLens) {
    for (const double r : {1e-300, 1e-305}) {
        const auto v = zorvane::models::heyrovsky_magnification(0.0, r, 1.0, 1.0);
        ASSERT_TRUE(v.has_value()) << v.error().message;
        EXPECT_NEAR(*v * r, 1.0, 1e-14) << r;  // A(u) = 1/u to double precision
    }
    // Subnormal radius: the point-lens value overflows.
    const auto v = zorvane::models::heyrovsky_magnification(0.0, 2.6e-322, 1.0, 1.0);
    ASSERT_TRUE(v.has_value()) << v.error().message;
    EXPECT_EQ(*v, std::numeric_limits<double>::infinity());
}

// A negative separation has no magnification, also when its product with rho
// underflows to −0.
TEST(FuzzFinding, NegativeSubnormalSeparationIsNaN) {
    for (const double x : {-3.9031186021458477e-322, -4.9406564584124654e-324}) {
        for (const double rho : {1e-8, 0.01, 1.0}) {
            EXPECT_TRUE(std::isnan(zorvane::models::witt_mao_element(x, rho, rho * rho))) << x << " " << rho;
        }
    }
}

}  // namespace
