// Branch and bit-level behaviour of the magnification models. The physics
// (agreement with area and ring averages of the point-lens magnification) is
// checked against independent quadratures in tests/python.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "panics.hpp"
#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

namespace {

using namespace zorvane::models;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::int64_t ulp_distance(double a, double b) {
    auto key = [](double x) {
        const auto bits = std::bit_cast<std::int64_t>(x);
        return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
    };
    const std::int64_t d = key(a) - key(b);
    return d < 0 ? -d : d;
}

using V = std::vector<double>;

double wm(double x, double re, double rstar) {
    return witt_mao_magnification(V{x}, re, rstar).at(0);
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// --- uniform disk -----------------------------------------------------------

TEST(WittMao, CentredLensGivesTheClosedForm) {
    // x = 0: n = m = 0 and A = sqrt(rho^2 + 4)/rho.
    EXPECT_LE(ulp_distance(wm(0.0, 1.0, 0.1), std::sqrt(401.0)), 4);
    EXPECT_LE(ulp_distance(wm(0.0, 1.0, 1.0), std::sqrt(5.0)), 4);
}

TEST(WittMao, LensOnTheLimbOfAnEinsteinSizedSource) {
    EXPECT_LE(ulp_distance(wm(1.0, 1.0, 1.0), 1.0 + 2.0 / 3.141592653589793), 2);
}

TEST(WittMao, TheLimbIsApproachedContinuouslyFromBothSides) {
    // Near the limb the elliptic form is evaluated from its exact complements,
    // so separations just off the limb are their own values, which tend to the
    // closed limb value (the correction is of order |x - 1|·ln|x - 1|).
    for (double rstar : {1.0, 1e-3, 1e-5}) {
        const double limb = wm(1.0, 1.0, rstar);
        for (double dx : {1e-12, 1e-8}) {
            EXPECT_FALSE(same_bits(wm(1.0 + dx, 1.0, rstar), limb)) << rstar;
            EXPECT_NEAR(wm(1.0 + dx, 1.0, rstar) / limb, 1.0, 30 * dx) << rstar;
            EXPECT_NEAR(wm(1.0 - dx, 1.0, rstar) / limb, 1.0, 30 * dx) << rstar;
        }
    }
}

TEST(WittMao, DependsOnTheScalesOnlyThroughTheirRatio) {
    const std::vector<double> l = {0.0, 0.3, 0.999, 1.0, 1.2, 3.0, 10.0};
    const auto base = witt_mao_magnification(l, 1.0, 0.01);
    for (int e : {-40, -3, 1, 7, 60}) {
        const double s = std::ldexp(1.0, e);
        const auto scaled = witt_mao_magnification(l, s, 0.01 * s);
        for (std::size_t i = 0; i < l.size(); ++i) EXPECT_TRUE(same_bits(scaled[i], base[i])) << e << " " << i;
    }
}

TEST(WittMao, ApproachesThePointSourceFromAbove) {
    const double rho = 0.01;
    for (double x : {20.0, 50.0, 200.0}) {
        const double u = x * rho;
        const double point = (u * u + 2.0) / (u * std::sqrt(u * u + 4.0));
        const double a = wm(x, 1.0, rho);
        // The finite-source excess falls off like (rho/u)^2.
        EXPECT_GT(a, point) << x;
        EXPECT_LT(a / point - 1.0, (rho / u) * (rho / u)) << x;
    }
}

struct NaNCase {
    double x, re, rstar;
};
class WittMaoNaN : public ::testing::TestWithParam<NaNCase> {};
TEST_P(WittMaoNaN, ElementIsNaN) {
    const auto c = GetParam();
    EXPECT_TRUE(std::isnan(wm(c.x, c.re, c.rstar)));
}
INSTANTIATE_TEST_SUITE_P(
    OutOfDomain, WittMaoNaN,
    ::testing::Values(NaNCase{0.5, 1.0, 0.0}, NaNCase{1.0, 1.0, 0.0}, NaNCase{kNaN, 1.0, 0.1},
                      NaNCase{kInf, 1.0, 0.1}, NaNCase{-3.0, 1.0, 0.1}, NaNCase{0.5, 0.0, 0.1},
                      NaNCase{1.0, 0.0, 0.1}, NaNCase{2.0, kNaN, 0.1}));

TEST(WittMao, EmptyInputGivesEmptyOutput) {
    EXPECT_TRUE(witt_mao_magnification(V{}, 1.0, 0.1).empty());
}

TEST(WittMaoBatch, PairsInOrderAndEqualToSingleEvaluations) {
    const std::vector<double> l = {0.0, 0.5, 1.0, 2.5};
    const std::vector<double> re = {1.0, 2.0};
    const std::vector<double> rstar = {0.1, 0.2, 0.3};
    const auto batch = multi_witt_mao_magnification(l, re, rstar);
    ASSERT_EQ(batch.size(), 6u);
    for (std::size_t i = 0; i < re.size(); ++i) {
        for (std::size_t j = 0; j < rstar.size(); ++j) {
            const auto single = witt_mao_magnification(l, re[i], rstar[j]);
            const auto& got = batch[i * rstar.size() + j];
            ASSERT_EQ(got.size(), l.size());
            for (std::size_t k = 0; k < l.size(); ++k) EXPECT_TRUE(same_bits(got[k], single[k]));
        }
    }
    EXPECT_TRUE(multi_witt_mao_magnification(l, V{}, rstar).empty());
    const auto empty_l = multi_witt_mao_magnification(V{}, re, rstar);
    ASSERT_EQ(empty_l.size(), 6u);
    for (const auto& v : empty_l) EXPECT_TRUE(v.empty());
}

// --- ring -------------------------------------------------------------------

TEST(Heyrovsky, RingThroughTheLensIsInfinite) {
    EXPECT_EQ(heyrovsky_magnification(0.7, 0.7, 10.0, 1.0).value(), kInf);
    EXPECT_EQ(heyrovsky_magnification(1.0, 1.0, 1.0, 1.0).value(), kInf);
}

TEST(Heyrovsky, RingCentredOnTheLensIsThePointLensMagnification) {
    for (double r : {1e-9, 1e-6, 0.01, 0.5, 1.0}) {
        for (double c : {0.1, 1.0, 30.0}) {
            const double u = r / c;
            const double point = (u * u + 2.0) / (u * std::sqrt(u * u + 4.0));
            EXPECT_NEAR(heyrovsky_magnification(0.0, r, c, 1.0).value() / point, 1.0, 1e-15) << r << " " << c;
        }
    }
}

TEST(Heyrovsky, SwappingSeparationAndRadiusOutsideTheBandChangesNoBit) {
    for (auto [l, r] : {std::pair{0.3, 0.9}, {1.0, 0.5}, {2.0, 0.1}, {0.999, 1.0}}) {
        EXPECT_TRUE(same_bits(heyrovsky_magnification(l, r, 10.0, 1.0).value(),
                              heyrovsky_magnification(r, l, 10.0, 1.0).value()));
    }
}

TEST(Heyrovsky, BandIsRelativeToTheSeparation) {
    // A lens near the centre of the source: the expansion in (r - l)/l does not
    // apply 4e-6 away from l = 1e-8. The value is the point-lens magnification
    // near u = r/c, about 2.49e6.
    const double a = heyrovsky_magnification(1e-8, 1e-8 + 4e-6, 10.0, 1.0).value();
    EXPECT_NEAR(a / 2.49e6, 1.0, 0.01);
    // Inside the relative band, the two branches agree across its edge.
    const double l = 0.5;
    const double below = heyrovsky_magnification(l, l + 0.99999e-5 * l, 10.0, 1.0).value();
    const double above = heyrovsky_magnification(l, l + 1.00001e-5 * l, 10.0, 1.0).value();
    EXPECT_NEAR(below / above, 1.0, 1e-5);
}

TEST(Heyrovsky, DependsOnTheScalesOnlyThroughTheirRatio) {
    for (int e : {-20, 3, 50}) {
        const double s = std::ldexp(1.0, e);
        EXPECT_TRUE(same_bits(heyrovsky_magnification(0.4, 0.8, 10.0 * s, s).value(),
                              heyrovsky_magnification(0.4, 0.8, 10.0, 1.0).value()));
    }
}

// The cosine moments of the plain rings by Bulirsch's cel (or the series for
// small m): against the same moment from the uniform disk's derivative in u
// (Carlson's integrals; both lose some 1e-14 to cancellation for m just above
// 0.1), whose separation l/r in the ring's radii carries a
// rounding that costs it about ε·l/|r − l|; and next to the lens, where only
// the cel's exact complements hold, against 40-digit quadratures of
// ⟨A·cos φ⟩ around the ring (l = 0.4, r = 0.4·(1 − d)).
TEST(Heyrovsky, CosineMomentsAgreeWithTheDiskDerivativeAndTheRingAverage) {
    std::vector<double> r;
    for (const double d : {1e-3, 0.05, 0.3, 0.9}) {
        r.push_back(0.4 * (1.0 - d));
        r.push_back(0.4 * (1.0 + d));
    }
    r.push_back(1.2);
    for (const double c : {1e-3, 0.1, 1.0, 30.0, 1e4}) {
        std::vector<double> out(r.size());
        ring_cosine_moments(0.4, r.data(), r.size(), c, 1.0, out.data());
        for (std::size_t i = 0; i < r.size(); ++i) {
            const double slow = ring_cosine_moment(0.4, r[i], c, 1.0);
            const double tolerance = 3e-14 + 1e-15 * 0.4 / std::fabs(r[i] - 0.4);
            EXPECT_LT(std::fabs(out[i] - slow), tolerance * std::fabs(slow)) << "c " << c << " r " << r[i];
        }
    }
    struct Case {
        double c, d, moment;
    };
    for (const Case& k : {Case{1e-3, 1e-12, -0.0172834004846473}, Case{1e-3, 1e-6, -0.00628939644461423},
                          Case{1.0, 1e-12, -21.9922045229272}, Case{1.0, 1e-6, -10.9982022658224},
                          Case{1e4, 1e-12, -220512.589659613}, Case{1e4, 1e-6, -110572.566835023}}) {
        const double radius = 0.4 * (1.0 - k.d);
        double out;
        ring_cosine_moments(0.4, &radius, 1, k.c, 1.0, &out);
        EXPECT_NEAR(out / k.moment, 1.0, 2e-14) << "c " << k.c << " d " << k.d;
    }
    EXPECT_EQ(ring_cosine_moment(0.4, 0.0, 1.0, 1.0), 0.0);
    EXPECT_EQ(ring_cosine_moment(0.4, 0.4, 1.0, 1.0), -kInf);
}

TEST(Heyrovsky, FailingEllipticIntegralIsReportedWithItsMessage) {
    const auto a = heyrovsky_magnification(-0.5, 0.7, 10.0, 1.0);
    ASSERT_FALSE(a.has_value());
    EXPECT_EQ(std::string(a.error().message).find(':') != std::string::npos, true);
    EXPECT_EQ(std::string(a.error().message).rfind("ellip", 0), 0u) << a.error().message;
}

TEST(Heyrovsky, FinitePositiveInputNeverFails) {
    // Outside the relative band 1 - m and 1 - n stay above about 2.5e-11, so
    // rounding cannot push either parameter to 1.
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> exponent(-6.0, 6.0);
    std::uniform_real_distribution<double> near(-3e-5, 3e-5);
    for (int i = 0; i < 200000; ++i) {
        const double l = std::pow(10.0, exponent(rng));
        const double r = (i % 2 == 0) ? std::pow(10.0, exponent(rng)) : l * (1.0 + near(rng));
        const double re = std::pow(10.0, exponent(rng));
        const double rstar = std::pow(10.0, exponent(rng));
        const auto a = heyrovsky_magnification(l, r, re, rstar);
        ASSERT_TRUE(a.has_value()) << l << " " << r << " " << re << " " << rstar << ": " << a.error().message;
        ASSERT_FALSE(std::isnan(*a)) << l << " " << r << " " << re << " " << rstar;
    }
}

// --- profile-weighted forms --------------------------------------------------

TEST(FluxMap, TableLengthsMustMatchBeforeAnyWork) {
    const V bl = {0.0, 1.0}, bf = {1.0, 1.0, 1.0};
    for (int form = 0; form < 3; ++form) {
        EXPECT_EQ(zorvane::testing::panic_of([&] {
                      if (form == 0) (void)integrated_flux_map_witt_mao_magnification(V{}, 1.0, 0.1, bl, bf);
                      if (form == 1) (void)integrated_flux_map_heyrovsky_magnification(V{}, 1.0, 0.1, bl, bf);
                      if (form == 2) (void)discrete_flux_map_heyrovsky_magnification(V{}, 1.0, 0.1, bl, bf);
                  }),
                  "assertion `left == right` failed\n  left: 2\n right: 3");
    }
}

TEST(FluxMap, DiscreteSingleRingIsTheRingMagnification) {
    const std::vector<double> l = {0.0, 0.3, 0.8, 2.0};
    const auto out = discrete_flux_map_heyrovsky_magnification(l, 10.0, 1.0, V{0.6}, V{1.0}).value();
    for (std::size_t i = 0; i < l.size(); ++i) {
        EXPECT_TRUE(same_bits(out[i], heyrovsky_magnification(l[i], 0.6, 10.0, 1.0).value()));
    }
    const auto empty = discrete_flux_map_heyrovsky_magnification(l, 10.0, 1.0, V{}, V{}).value();
    for (double v : empty) EXPECT_EQ(v, 0.0);
    const auto failed = discrete_flux_map_heyrovsky_magnification(V{0.5, -1.0}, 10.0, 1.0, V{0.2, 0.4}, V{1.0, 1.0});
    EXPECT_FALSE(failed.has_value());
}

TEST(Integrated, UniformTableReproducesTheUniformDisk) {
    const std::vector<double> l = {0.0, 0.4, 0.95, 1.05, 2.0, 4.0};
    const double re = 1.0, rstar = 0.05;
    const auto disk = witt_mao_magnification(l, re, rstar);
    const auto ring_family = integrated_flux_map_heyrovsky_magnification(l, re, rstar, V{0.0, 1.0}, V{1.0, 1.0});
    const auto disk_family = integrated_flux_map_witt_mao_magnification(l, re, rstar, V{0.0, 1.0}, V{1.0, 1.0});
    for (std::size_t i = 0; i < l.size(); ++i) {
        EXPECT_NEAR(ring_family[i] / disk[i], 1.0, 1e-9) << l[i];
        EXPECT_NEAR(disk_family[i] / disk[i], 1.0, 2e-5) << l[i];
    }
}

TEST(Integrated, FailuresAreNaNNotZero) {
    const std::vector<double> l = {kNaN, 0.5};
    for (const auto& out : {integrated_witt_mao_magnification(l, 1.0, 0.1),
                            integrated_heyrovsky_magnification(l, 1.0, 0.1),
                            integrated_heyrovsky_magnification(V{0.5}, kNaN, 0.1),
                            integrated_witt_mao_magnification(V{0.5}, 1.0, kInf)}) {
        EXPECT_TRUE(std::isnan(out[0]));
    }
    EXPECT_FALSE(std::isnan(integrated_heyrovsky_magnification(l, 1.0, 0.1)[1]));
    // A profile that is zero everywhere leaves nothing to normalise by.
    const auto unnormalised = integrated_flux_map_heyrovsky_magnification(V{0.5, 2.0}, 1.0, 0.1, V{}, V{});
    for (double v : unnormalised) EXPECT_TRUE(std::isnan(v));
    EXPECT_TRUE(integrated_witt_mao_magnification(V{}, 1.0, 0.1).empty());
}

}  // namespace
