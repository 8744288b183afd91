// Fuzz target over the per-element model formulas: the uniform disk, the thin
// ring, both limb-darkened families for one separation, and the three forms
// with a tabulated profile on short inputs (tables of at most four entries,
// at most three separations), so that each input stays cheap.
//
// Contracts: an error is one of the elliptic integrals' messages; a NaN or
// negative separation gives NaN where the documentation says so; for a valid
// configuration (separations and radii non-negative and finite, scales
// positive with a finite, normal ratio) the value is not NaN, and inside the
// documented accuracy range a magnification is at least 1.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "input.hpp"
#include "messages.hpp"
#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

namespace {

using namespace zorvane::fuzz;
namespace models = zorvane::models;

// Zero, or a magnitude within [1e-30, 1e30]. Separations or scales beyond
// that (l = 1e300, rho = 1e80, subnormal radii) make squares and products in the formulas
// overflow or underflow; there the targets check only crashes and messages.
bool ordinary(double v) { return v == 0.0 || (std::fabs(v) >= 1e-30 && std::fabs(v) <= 1e30); }

// Scales whose ratio the formulas can use: positive and ordinary, with an
// ordinary ratio.
bool valid_scales(double re, double rstar) {
    return re > 0.0 && rstar > 0.0 && ordinary(re) && ordinary(rstar) && ordinary(re / rstar);
}

bool valid_length(double l) { return l >= 0.0 && ordinary(l); }

// The range in which the documentation promises accuracy: ρ = rstar/re in
// [1e-4, 10] and separations up to 10 source radii.
bool documented(double rho, double l) { return rho >= 1e-4 && rho <= 10.0 && l >= 0.0 && l <= 10.0; }

void expect_magnification(const char* routine, double v, std::initializer_list<double> args, double tolerance) {
    if (!(v >= 1.0 - tolerance)) violated(routine, args, "magnification " + std::to_string(v) + " below 1");
}

void fuzz_witt_mao(Input& in) {
    const double x = in.real(), re = in.real(), rstar = in.real();
    const double rho = rstar / re;
    const double v = models::witt_mao_element(x, rho, rho * rho);
    const std::initializer_list<double> args = {x, re, rstar};
    if (std::isnan(x) || x < 0.0) {
        if (!std::isnan(v)) violated("witt_mao_element", args, "no NaN for a NaN or negative separation");
        return;
    }
    if (!(valid_length(x) && valid_scales(re, rstar))) return;
    if (std::isnan(v)) violated("witt_mao_element", args, "NaN for a valid configuration");
    if (documented(rho, x)) expect_magnification("witt_mao_element", v, args, 1e-4);
}

void fuzz_heyrovsky(Input& in) {
    const double l = in.real(), r = in.real(), re = in.real(), rstar = in.real();
    const std::initializer_list<double> args = {l, r, re, rstar};
    const auto ring = models::heyrovsky_magnification(l, r, re, rstar);
    if (!ring && !ELLIP_ALL.contains(ring.error().message))
        violated("heyrovsky_magnification", args, std::string("undocumented error \"") + ring.error().message + "\"");
    if (!(valid_length(l) && valid_length(r) && valid_scales(re, rstar))) return;
    if (!ring) violated("heyrovsky_magnification", args, std::string("error \"") + ring.error().message + "\" for a valid ring");
    if (std::isnan(*ring)) violated("heyrovsky_magnification", args, "NaN for a valid ring");
    if (r == l && l > 0.0 && *ring != INF) violated("heyrovsky_magnification", args, "ring through the lens is not inf");
    if (documented(rstar / re, std::fmax(l, r)) && std::fabs(r - l) >= 0.01 * (l + r))
        expect_magnification("heyrovsky_magnification", *ring, args, 1e-9);
}

void fuzz_integrated_element(Input& in, bool rings) {
    const double l = in.real(), re = in.real(), rstar = in.real();
    const std::initializer_list<double> args = {l, re, rstar};
    const char* routine = rings ? "integrated_heyrovsky_element" : "integrated_witt_mao_element";
    const auto element = [&](auto family) {
        return models::integrated_element(family, l, re, rstar, models::LinearLaw{});
    };
    const double v = rings ? element(models::RingFamily{}) : element(models::DiskFamily{});
    if (std::isnan(l)) {
        if (!std::isnan(v)) violated(routine, args, "no NaN for a NaN separation");
        return;
    }
    if (!(valid_length(l) && valid_scales(re, rstar))) return;
    if (std::isnan(v)) violated(routine, args, "NaN for a valid configuration");
    if (documented(rstar / re, l)) expect_magnification(routine, v, args, 1e-4);
}

// A short tabulated profile; `sorted` tables have ascending radii in [0, 1]
// and non-negative brightness.
struct Table {
    std::vector<double> bl, bf;
    bool sorted;
};

Table table(Input& in) {
    Table t;
    const std::size_t n = in.count(4);
    t.sorted = in.byte() & 1;
    for (std::size_t i = 0; i < n; ++i) {
        double r = in.real(), b = in.real();
        if (t.sorted) {
            r = std::isfinite(r) ? std::fmod(std::fabs(r), 1.0) : 0.5;
            b = std::isfinite(b) && std::fabs(b) <= 1e100 ? std::fabs(b) : 1.0;
        }
        t.bl.push_back(r);
        t.bf.push_back(b);
    }
    if (t.sorted) std::sort(t.bl.begin(), t.bl.end());
    return t;
}

// At least one table segment (or a one-entry table) carries positive brightness
// over a stretch of radii of positive length, so that the normalisation is positive.
bool shines(const Table& t) {
    if (t.bl.size() == 1) return t.bf[0] > 0.0;
    for (std::size_t i = 0; i + 1 < t.bl.size(); ++i)
        if (t.bl[i + 1] - t.bl[i] > 1e-3 && (t.bf[i] > 1e-3 || t.bf[i + 1] > 1e-3)) return true;
    return false;
}

void fuzz_flux_map(Input& in, int form) {
    const double l = in.real(), re = in.real(), rstar = in.real();
    const Table t = table(in);
    const char* routine = form == 0   ? "integrated_flux_map_witt_mao_magnification"
                          : form == 1 ? "integrated_flux_map_heyrovsky_magnification"
                                      : "discrete_flux_map_heyrovsky_magnification";
    std::vector<double> ls = {l};
    if (form == 2) {
        // The discrete sum is cheap: several separations.
        const std::size_t extra = in.count(2);
        for (std::size_t i = 0; i < extra; ++i) ls.push_back(in.real());
    }
    const zorvane::Result<std::vector<double>> r =
        form == 0   ? models::integrated_flux_map_witt_mao_magnification(ls, re, rstar, t.bl, t.bf)
        : form == 1 ? models::integrated_flux_map_heyrovsky_magnification(ls, re, rstar, t.bl, t.bf)
                    : models::discrete_flux_map_heyrovsky_magnification(ls, re, rstar, t.bl, t.bf);
    const std::initializer_list<double> args = {l, re, rstar, static_cast<double>(t.bl.size())};
    if (!r) {
        if (form != 2) violated(routine, args, "integrated form returned an error");
        if (!ELLIP_ALL.contains(r.error().message))
            violated(routine, args, std::string("undocumented error \"") + r.error().message + "\"");
        return;
    }
    if (r->size() != ls.size()) violated(routine, args, "one result per separation expected");
    if (!(valid_scales(re, rstar) && t.sorted)) return;
    for (std::size_t i = 0; i < ls.size(); ++i) {
        if (!valid_length(ls[i])) continue;
        const double v = (*r)[i];
        if (form == 2) {
            // Rings not through the lens, with finite weights, sum to a number.
            // (A ring of subnormal radius around the lens is +inf, and +inf
            // times a zero weight NaN, as the sum is defined.)
            bool through = false;
            for (double b : t.bl) through = through || b == ls[i] || !ordinary(b);
            if (!through && std::isnan(v)) violated(routine, {ls[i], re, rstar}, "NaN for valid rings");
            continue;
        }
        if (!shines(t)) continue;
        if (std::isnan(v)) violated(routine, {ls[i], re, rstar}, "NaN for a valid profile");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    switch (in.byte() % 7) {
        case 0: fuzz_witt_mao(in); break;
        case 1: fuzz_heyrovsky(in); break;
        case 2: fuzz_integrated_element(in, true); break;
        case 3: fuzz_integrated_element(in, false); break;
        case 4: fuzz_flux_map(in, 0); break;
        case 5: fuzz_flux_map(in, 1); break;
        default: fuzz_flux_map(in, 2); break;
    }
    return 0;
}
