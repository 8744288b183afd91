// Accuracy of the elliptic integrals against mpmath over their whole domains.
//
// The arguments come from a deterministic recipe (splitmix64 integers turned
// into doubles by exact operations), the same as in tools/gen_ellip_reference.py;
// tests/cpp/data/ellip_reference.txt holds, per point, the double nearest to the
// exact value (mpmath, 70 digits) and the rest in thousandths of an ulp. Each
// section's header carries a hash of the argument bits, so a recipe that drifts
// from the generator's fails loudly instead of comparing unrelated numbers.
#include <gtest/gtest.h>

#include "splitmix.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

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
using Args = std::vector<double>;

using Rng = zorvane::testing::SplitMix64;

using Region = std::function<Args(Rng&)>;

// Scale s drawn first, then the factors left to right, as in the generator.
Args scaled(Rng& r, int s0, int s1, std::vector<std::pair<int, int>> spreads) {
    const double s = r.mag(s0, s1);
    Args a;
    for (auto [e0, e1] : spreads) a.push_back(s * r.mag(e0, e1));
    return a;
}

// ---- the recipes (mirror tools/gen_ellip_reference.py)
std::vector<Region> rf_regions() {
    return {
        [](Rng& r) { double a = r.uniform(0, 4), b = r.uniform(0, 4), c = r.uniform(0, 4); return Args{a, b, c}; },
        [](Rng& r) { return scaled(r, -950, 950, {{-40, 40}, {-40, 40}, {-40, 40}}); },
        [](Rng& r) { auto a = scaled(r, -900, 900, {{-60, 60}, {-60, 60}}); return Args{0.0, a[0], a[1]}; },
        [](Rng& r) {
            const double s = r.mag(-800, 800);
            double a = s * r.mag(-150, 150), b = s * r.mag(-150, 150);
            return Args{a, b, s};
        },
        [](Rng& r) {
            const double s = r.mag(-996, 990);
            double b = s * r.uniform(0.5, 2), c = s * r.uniform(0.5, 2);
            return Args{s, b, c};
        },
    };
}

std::vector<Region> rc_regions() {
    return {
        [](Rng& r) { double a = r.uniform(0, 4), b = r.uniform(0, 4); return Args{a, b}; },
        [](Rng& r) { return scaled(r, -900, 900, {{-60, 60}, {-60, 60}}); },
        [](Rng& r) { auto a = scaled(r, -900, 900, {{-60, 60}, {-60, 60}}); return Args{a[0], -a[1]}; },
        [](Rng& r) { return Args{0.0, r.mag(-996, 996)}; },
        [](Rng& r) { const double x = r.mag(-996, 990); return Args{x, x * r.uniform(0.999, 1.001)}; },
    };
}

std::vector<Region> rd_regions() {
    return {
        [](Rng& r) { double a = r.uniform(0, 4), b = r.uniform(0, 4), c = r.uniform(0.001, 4); return Args{a, b, c}; },
        [](Rng& r) { return scaled(r, -600, 600, {{-40, 40}, {-40, 40}, {-40, 40}}); },
        [](Rng& r) { auto a = scaled(r, -580, 580, {{-60, 60}, {-60, 60}}); return Args{0.0, a[0], a[1]}; },
        [](Rng& r) { auto a = scaled(r, -580, 580, {{-60, 60}, {-60, 60}}); return Args{a[0], 0.0, a[1]}; },
        [](Rng& r) {
            const double s = r.mag(-640, 640);
            double b = s * r.uniform(0.5, 2), c = s * r.uniform(0.5, 2);
            return Args{s, b, c};
        },
    };
}

std::vector<Region> rg_regions() {
    return {
        [](Rng& r) { double a = r.uniform(0, 4), b = r.uniform(0, 4), c = r.uniform(0, 4); return Args{a, b, c}; },
        [](Rng& r) { return scaled(r, -950, 950, {{-40, 40}, {-40, 40}, {-40, 40}}); },
        [](Rng& r) { auto a = scaled(r, -900, 900, {{-60, 60}, {-60, 60}}); return Args{0.0, a[0], a[1]}; },
        [](Rng& r) { const double s = r.mag(-900, 900); return Args{s * r.mag(-60, 60), s, s}; },
        [](Rng& r) {
            const double s = r.mag(-996, 990);
            double b = s * r.uniform(0.5, 2), c = s * r.uniform(0.5, 2);
            return Args{s, b, c};
        },
    };
}

std::vector<Region> rj_regions() {
    return {
        [](Rng& r) {
            double a = r.uniform(0, 4), b = r.uniform(0, 4), c = r.uniform(0, 4), p = r.uniform(0.001, 4);
            return Args{a, b, c, p};
        },
        [](Rng& r) { return scaled(r, -600, 600, {{-30, 30}, {-30, 30}, {-30, 30}, {-30, 30}}); },
        [](Rng& r) { auto a = scaled(r, -600, 600, {{-30, 30}, {-30, 30}, {-30, 30}}); return Args{0.0, a[0], a[1], a[2]}; },
        [](Rng& r) {
            auto a = scaled(r, -600, 600, {{-20, 20}, {-20, 20}, {-20, 20}, {-20, 20}});
            return Args{a[0], a[1], a[2], -a[3]};
        },
        [](Rng& r) {
            double a = r.uniform(0, 4), b = r.uniform(0, 4), c = r.uniform(0.1, 4), p = -r.uniform(0.001, 8);
            return Args{a, b, c, p};
        },
        [](Rng& r) {
            const double s = r.mag(-600, 600);
            double z = s * r.mag(-20, 20), p = s * r.mag(-20, 20);
            return Args{s, s, z, p};
        },
    };
}

std::vector<Region> k_regions() {
    return {
        [](Rng& r) { return Args{r.uniform(-0.05, 0.9)}; },
        [](Rng& r) { return Args{r.uniform(-0.05, 0.9)}; },
        [](Rng& r) { return Args{1.0 - r.mag(-53, -4)}; },
        [](Rng& r) { return Args{-r.mag(-996, 996)}; },
        [](Rng& r) { return Args{r.mag(-996, -5)}; },
    };
}

std::vector<Region> pi_regions() {
    return {
        [](Rng& r) { double n = r.uniform(0, 1), m = r.uniform(-1, 1); return Args{n, m}; },
        [](Rng& r) { double n = -r.mag(-40, 40), m = r.uniform(-1, 1); return Args{n, m}; },
        [](Rng& r) { double n = 1.0 + r.mag(-45, 20), m = r.uniform(-1, 1); return Args{n, m}; },
        [](Rng& r) { double n = r.mag(0, 990), m = -r.mag(-20, 300); return Args{n, m}; },
        [](Rng& r) { double n = 1.0 - r.mag(-50, -3), m = r.uniform(-1, 1); return Args{n, m}; },
        [](Rng& r) { double n = r.uniform(-2, 1), m = 1.0 - r.mag(-50, -3); return Args{n, m}; },
        [](Rng& r) { double n = r.uniform(-2, 1), m = -r.mag(-20, 990); return Args{n, m}; },
    };
}

struct Routine {
    std::function<std::vector<Region>()> regions;
    std::function<zorvane::Result<double>(const Args&)> call;
    // Largest error allowed per region, in ulp. Where it exceeds a few ulp the
    // documented algorithm loses digits by design; the comments say where.
    std::vector<double> max_ulps;
    // A point-wise override (a region within a region), or a negative number.
    std::function<double(const Args&)> special = [](const Args&) { return -1.0; };
};

const std::map<std::string, Routine>& routines() {
    static const std::map<std::string, Routine> table = {
        {"elliprf", {rf_regions, [](const Args& a) { return elliprf(a[0], a[1], a[2]); }, {5, 5, 5, 5, 5}}},
        {"elliprc", {rc_regions, [](const Args& a) { return elliprc(a[0], a[1]); }, {3, 3, 3, 3, 3}}},
        // Region 2 is the AGM branch (x = 0): its bracket cancels when y >> z.
        {"elliprd", {rd_regions, [](const Args& a) { return elliprd(a[0], a[1], a[2]); }, {6, 6, 32, 6, 6}}},
        // Region 2 is the AGM branch (one zero): (a0 + b0)^2/4 - s cancels for very unequal a, b.
        {"elliprg", {rg_regions, [](const Args& a) { return elliprg(a[0], a[1], a[2]); }, {4, 6, 24, 4, 4}}},
        // Regions 3 and 4 are principal values (p < 0), which pass through zero
        // as p varies: near that zero the transformation's terms cancel.
        // Region 5 holds pairs x = y, whose two-RC closed form cancels when the
        // odd argument is far from both y and p.
        {"elliprj",
         {rj_regions, [](const Args& a) { return elliprj(a[0], a[1], a[2], a[3]); }, {5, 6, 6, 48, 500, 32}}},
        // -0.05 < m < 0 evaluates the first polynomial outside its interval.
        {"ellipk",
         {k_regions, [](const Args& a) { return ellipk(a[0]); }, {3, 3, 3, 4, 1},
          [](const Args& a) { return a[0] < 0.0 && a[0] > -0.05 ? 320.0 : -1.0; }}},
        // Region 2 (m -> 1) and 3 (m -> -inf) go through RG's AGM branch.
        {"ellipe", {k_regions, [](const Args& a) { return ellipe(a[0]); }, {2, 2, 9, 9, 1}}},
        // Region 3: n > 1e30 with m << 0, RJ at extremely spread arguments.
        {"ellippi", {pi_regions, [](const Args& a) { return ellippi(a[0], a[1]); }, {3, 6, 9, 64, 4, 4, 4}}},
    };
    return table;
}

std::uint64_t fnv1a(std::uint64_t h, double x) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    for (int i = 0; i < 8; ++i) {
        h ^= (bits >> (8 * i)) & 0xFF;
        h *= 0x100000001B3ULL;
    }
    return h;
}

struct Section {
    std::string name;
    std::uint64_t seed = 0;
    std::size_t count = 0;
    std::uint64_t hash = 0;
    std::vector<double> nearest;
    std::vector<double> rest;  // ulps
};

std::vector<Section> load() {
    std::ifstream in(ZORVANE_SOURCE_DIR "/tests/cpp/data/ellip_reference.txt");
    EXPECT_TRUE(in.good()) << "missing reference data";
    std::vector<Section> sections;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        if (std::isalpha(static_cast<unsigned char>(line[0])) && line.find(' ') < 10) {
            Section s;
            std::string hash;
            fields >> s.name >> s.seed >> s.count >> hash;
            s.hash = std::stoull(hash, nullptr, 16);
            sections.push_back(std::move(s));
            continue;
        }
        std::string bits;
        long rest = 0;
        fields >> bits >> rest;
        sections.back().nearest.push_back(std::bit_cast<double>(std::stoull(bits, nullptr, 16)));
        sections.back().rest.push_back(static_cast<double>(rest) / 1000.0);
    }
    return sections;
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

class Accuracy : public ::testing::TestWithParam<std::string> {};

TEST_P(Accuracy, WithinAFewUlpOfMpmath) {
    static const std::vector<Section> sections = load();
    const auto found = std::find_if(sections.begin(), sections.end(),
                                    [&](const Section& s) { return s.name == GetParam(); });
    ASSERT_NE(found, sections.end()) << "no reference section for " << GetParam();
    const Section& section = *found;
    ASSERT_EQ(section.nearest.size(), section.count);
    ASSERT_GE(section.count, 2000u);

    const Routine& routine = routines().at(section.name);
    Rng rng{section.seed};
    const auto regions = routine.regions();
    std::vector<Args> points;
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (std::size_t i = 0; i < section.count; ++i) {
        points.push_back(regions[i % regions.size()](rng));
        for (double v : points.back()) hash = fnv1a(hash, v);
    }
    ASSERT_EQ(hash, section.hash) << "argument recipe differs from the generator's";

    std::vector<std::vector<double>> by_region(regions.size());
    std::vector<double> all, special_errors;
    for (std::size_t i = 0; i < section.count; ++i) {
        const auto got = routine.call(points[i]);
        std::ostringstream where;
        where.precision(17);
        where << section.name << "(";
        for (double v : points[i]) where << v << ",";
        where << ")";
        if (!got) {
            ADD_FAILURE() << where.str() << " failed: " << got.error().message;
            continue;
        }
        const double near = section.nearest[i];
        const double spacing = std::nextafter(std::fabs(near), INFINITY) - std::fabs(near);
        double err = std::fabs((*got - near) / spacing - section.rest[i]);
        if (std::isnan(err)) err = INFINITY;  // a NaN result counts as infinitely wrong
        const std::size_t region = i % regions.size();
        const double special = routine.special(points[i]);
        const double limit = special >= 0.0 ? special : routine.max_ulps[region];
        if (special >= 0.0) {
            special_errors.push_back(err);
        } else {
            by_region[region].push_back(err);
        }
        EXPECT_LE(err, limit) << where.str() << " = " << *got << ", region " << region
                                                  << ", " << err << " ulp";
        all.push_back(err);
    }
    std::printf("%-8s  all       median %5.2f  p99 %6.2f  max %7.2f ulp (%zu points)\n", section.name.c_str(),
                percentile(all, 0.5), percentile(all, 0.99), percentile(all, 1.0), all.size());
    for (std::size_t k = 0; k < by_region.size(); ++k) {
        std::printf("%-8s  region %zu  median %5.2f  p99 %6.2f  max %7.2f ulp\n", section.name.c_str(), k,
                    percentile(by_region[k], 0.5), percentile(by_region[k], 0.99), percentile(by_region[k], 1.0));
    }
    if (!special_errors.empty()) {
        std::printf("%-8s  special   median %5.2f  p99 %6.2f  max %7.2f ulp (%zu points)\n", section.name.c_str(),
                    percentile(special_errors, 0.5), percentile(special_errors, 0.99),
                    percentile(special_errors, 1.0), special_errors.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Ellip, Accuracy,
                         ::testing::Values("elliprf", "elliprc", "elliprd", "elliprg", "elliprj", "ellipk", "ellipe",
                                           "ellippi"));

}  // namespace
