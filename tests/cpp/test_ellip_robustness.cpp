// Every routine meets a million arbitrary doubles per argument slot: raw bit
// patterns mixed with the values that break numerics (±0, ±∞, NaN, subnormals,
// ±DBL_MAX, neighbours of 1). Each call must come back, quickly, with a value
// or one of the errors the routine documents (its own or one of an inner
// routine, passed up unchanged).
#include <gtest/gtest.h>

#include "splitmix.hpp"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "../../fuzz/messages.hpp"
#include "ellip/elliprc.hpp"
#include "ellip/elliprd.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/elliprg.hpp"
#include "ellip/elliprj.hpp"
#include "ellip/legendre/ellipe.hpp"
#include "ellip/legendre/ellipk.hpp"
#include "ellip/legendre/ellippi.hpp"

namespace {

using namespace zorvane::ellip;
using namespace zorvane::fuzz;

using Rng = zorvane::testing::SplitMix64;

const std::vector<double>& specials() {
    static const std::vector<double> v = [] {
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        std::vector<double> s = {0.0, 1.0, 2.0, 0.5, 0.9, 0.875, -0.05, 0.05, 1e-300, 1e300,
                                 DBL_MIN, DBL_TRUE_MIN, DBL_MAX, inf, nan, std::nextafter(1.0, 0.0),
                                 std::nextafter(1.0, 2.0), 1.0 - 2.220446049250313e-16, 1e-16, 4.9e-324 * 3};
        const std::size_t n = s.size();
        for (std::size_t i = 0; i < n; ++i) s.push_back(-s[i]);
        return s;
    }();
    return v;
}

// Half raw bit patterns, a quarter special values, a quarter small ordinary numbers.
double arbitrary(Rng& r) {
    const std::uint64_t u = r.next();
    switch (u & 3) {
        case 0:
        case 1: return std::bit_cast<double>(r.next());
        case 2: return specials()[(u >> 2) % specials().size()];
        default: return std::ldexp(static_cast<double>(r.next() >> 11), -53) * 4.0 - 1.0;
    }
}

struct Case {
    const char* name;
    int arity;
    std::function<zorvane::Result<double>(const double*)> call;
    MessageSet allowed;
};

class Robustness : public ::testing::TestWithParam<Case> {};

TEST_P(Robustness, MillionArbitraryInputsGiveValuesOrDocumentedErrors) {
    const Case& c = GetParam();
    Rng rng{0x5EED0000ULL + static_cast<std::uint64_t>(c.arity) * 7919ULL + std::strlen(c.name)};
    std::size_t values = 0, errors = 0, unexpected = 0;
    for (int i = 0; i < 1'000'000; ++i) {
        double a[4];
        for (int k = 0; k < c.arity; ++k) a[k] = arbitrary(rng);
        const auto r = c.call(a);
        if (r) {
            ++values;
        } else {
            ++errors;
            if (!c.allowed.count(r.error().message) && unexpected++ < 5) {
                ADD_FAILURE() << c.name << ": undocumented error \"" << r.error().message << "\" for "
                              << a[0] << ", " << a[1] << ", " << a[2] << ", " << a[3];
            }
        }
    }
    EXPECT_EQ(unexpected, 0u);
    EXPECT_EQ(values + errors, 1'000'000u);
}

INSTANTIATE_TEST_SUITE_P(
    Ellip, Robustness,
    ::testing::Values(
        Case{"elliprf", 3, [](const double* a) { return elliprf(a[0], a[1], a[2]); }, RF_ALL},
        // The arithmetic-geometric means have no step cap: feed them directly.
        Case{"elliprf_agm", 2, [](const double* a) { return elliprf(0.0, a[0], a[1]); }, RF_ALL},
        Case{"elliprd_agm", 2, [](const double* a) { return elliprd(0.0, a[0], a[1]); }, RD_ALL},
        Case{"elliprg_agm", 2, [](const double* a) { return elliprg(0.0, a[0], a[1]); }, RG_ALL},
        Case{"elliprc", 2, [](const double* a) { return elliprc(a[0], a[1]); }, RC_ALL},
        Case{"elliprd", 3, [](const double* a) { return elliprd(a[0], a[1], a[2]); }, RD_ALL},
        Case{"elliprg", 3, [](const double* a) { return elliprg(a[0], a[1], a[2]); }, RG_ALL},
        Case{"elliprj", 4, [](const double* a) { return elliprj(a[0], a[1], a[2], a[3]); }, RJ_ALL},
        Case{"_elliprj", 4,
             [](const double* a) {
                 // Within its contract: a valid domain and p > 0.
                 const double x = std::fabs(a[0]), y = std::fabs(a[1]), z = std::fabs(a[2]), p = std::fabs(a[3]);
                 if (!(std::fmin(std::fmin(y + z, x + y), x + z) > 0.0) || !(p > 0.0)) return elliprj(x, y, z, p);
                 return _elliprj(x, y, z, p);
             }, RJ_ALL},
        Case{"ellipk", 1, [](const double* a) { return ellipk(a[0]); }, K_ALL},
        Case{"ellipe", 1, [](const double* a) { return ellipe(a[0]); }, E_ALL},
        Case{"ellippi", 2, [](const double* a) { return ellippi(a[0], a[1]); }, ELLIP_ALL},
        Case{"ellippi_vc", 3,
             [](const double* a) { return ellippi_vc(a[0], a[1], a[2]); }, ELLIP_ALL}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string n = info.param.name;
        return n[0] == '_' ? "underscore" + n : n;
    });

}  // namespace
