// Fuzz target over the numeric building blocks: every elliptic routine, the
// tanh-sinh quadrature, table interpolation and the central difference.
//
// The first byte picks the routine, the rest are its arguments (input.hpp).
// Besides crashes and sanitizer reports, each call is held to its documented
// contract: a value or one of the error messages the routine (or an inner one
// it passes up) can give, and for arguments inside the domain a value that is
// not NaN and has the sign and symmetry of the integral.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
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
#include "input.hpp"
#include "messages.hpp"
#include "numeric/interp.hpp"
#include "numeric/numdiff.hpp"
#include "numeric/quadrature.hpp"

namespace {

using namespace zorvane::fuzz;
using zorvane::Result;
namespace ellip = zorvane::ellip;

constexpr double EPS = 2.220446049250313e-16;

// The value, after checking that an error is one the routine documents.
std::optional<double> checked(const char* routine, const Result<double>& r, const MessageSet& allowed,
                              std::initializer_list<double> args) {
    if (r) return *r;
    if (!allowed.contains(r.error().message))
        violated(routine, args, std::string("undocumented error \"") + r.error().message + "\"");
    return std::nullopt;
}

// Inside the domain an integral of a positive integrand has a value: not NaN,
// not negative (it may overflow to +inf or underflow to 0).
void expect_non_negative(const char* routine, std::optional<double> v, std::initializer_list<double> args) {
    if (v && !(*v >= 0.0)) violated(routine, args, "value " + std::to_string(*v) + " inside the domain");
}

// Arguments whose non-zero magnitudes lie within [2^-500, 2^500]. Beyond that
// (subnormals, or ratios near the whole double range) the duplication keeps
// fewer digits and the general RG form can meet 0·∞: there the targets check
// only the error messages.
bool moderate(std::initializer_list<double> args) {
    for (double a : args)
        if (a != 0.0 && !(std::fabs(a) >= 0x1p-500 && std::fabs(a) <= 0x1p500)) return false;
    return true;
}

// Two evaluations of a symmetric integral at permuted arguments agree to a few
// ulp where both are ordinary numbers.
void expect_close(const char* routine, std::optional<double> a, std::optional<double> b,
                  std::initializer_list<double> args) {
    if (!a || !b) return;
    const double x = *a, y = *b;
    if (!std::isnormal(x) || !std::isnormal(y) || !moderate(args)) return;
    if (std::fabs(x - y) > 1e-12 * std::fmax(std::fabs(x), std::fabs(y))) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "permuted arguments give %.17g and %.17g", x, y);
        violated(routine, args, buf);
    }
}

bool carlson_domain(double x, double y, double z) {
    return finite_all({x, y, z}) && x >= 0.0 && y >= 0.0 && z >= 0.0 &&
           std::fmin(std::fmin(x + y, y + z), x + z) > 0.0;
}

void fuzz_elliprf(Input& in) {
    const double x = in.real(), y = in.real(), z = in.real();
    const auto a = checked("elliprf", ellip::elliprf(x, y, z), RF_ALL, {x, y, z});
    if (!carlson_domain(x, y, z)) return;
    expect_non_negative("elliprf", a, {x, y, z});
    if (a && !std::isfinite(*a)) violated("elliprf", {x, y, z}, "infinite value inside the domain");
    expect_close("elliprf", a, checked("elliprf", ellip::elliprf(z, x, y), RF_ALL, {z, x, y}), {x, y, z});
}

void fuzz_elliprc(Input& in) {
    const double x = in.real(), y = in.real();
    const auto a = checked("elliprc", ellip::elliprc(x, y), RC_ALL, {x, y});
    if (!(finite_all({x, y}) && x >= 0.0 && y != 0.0)) return;
    expect_non_negative("elliprc", a, {x, y});
    if (!a) violated("elliprc", {x, y}, "error inside the domain");
}

void fuzz_elliprd(Input& in) {
    const double x = in.real(), y = in.real(), z = in.real();
    const auto a = checked("elliprd", ellip::elliprd(x, y, z), RD_ALL, {x, y, z});
    if (!(finite_all({x, y, z}) && x >= 0.0 && y >= 0.0 && x + y > 0.0 && z > 0.0)) return;
    expect_non_negative("elliprd", a, {x, y, z});
    expect_close("elliprd", a, checked("elliprd", ellip::elliprd(y, x, z), RD_ALL, {y, x, z}), {x, y, z});
}

void fuzz_elliprg(Input& in) {
    const double x = in.real(), y = in.real(), z = in.real();
    const auto a = checked("elliprg", ellip::elliprg(x, y, z), RG_ALL, {x, y, z});
    if (!(finite_all({x, y, z}) && x >= 0.0 && y >= 0.0 && z >= 0.0)) return;
    if (moderate({x, y, z})) expect_non_negative("elliprg", a, {x, y, z});
    expect_close("elliprg", a, checked("elliprg", ellip::elliprg(y, z, x), RG_ALL, {y, z, x}), {x, y, z});
}

void fuzz_elliprj(Input& in, bool inner) {
    double x = in.real(), y = in.real(), z = in.real(), p = in.real();
    if (inner) {
        // _elliprj within its contract: a valid domain and p > 0.
        x = std::fabs(x), y = std::fabs(y), z = std::fabs(z), p = std::fabs(p);
        if (!(std::fmin(std::fmin(y + z, x + y), x + z) > 0.0) || !(p > 0.0)) return;
        const auto a = checked("_elliprj", ellip::_elliprj(x, y, z, p), RJ_ALL, {x, y, z, p});
        if (carlson_domain(x, y, z) && std::isfinite(p)) expect_non_negative("_elliprj", a, {x, y, z, p});
        return;
    }
    const auto a = checked("elliprj", ellip::elliprj(x, y, z, p), RJ_ALL, {x, y, z, p});
    if (!(carlson_domain(x, y, z) && std::isfinite(p) && p != 0.0)) return;
    if (p > 0.0) expect_non_negative("elliprj", a, {x, y, z, p});
    expect_close("elliprj", a, checked("elliprj", ellip::elliprj(z, x, y, p), RJ_ALL, {z, x, y, p}),
                 {x, y, z, p});
}

void fuzz_ellipk(Input& in) {
    const double m = in.real();
    const auto k = checked("ellipk", ellip::ellipk(m), K_ALL, {m});
    if (std::isnan(m)) {
        if (k && !std::isnan(*k)) violated("ellipk", {m}, "NaN parameter gives a number");
        return;
    }
    if (m < 1.0 && !k) violated("ellipk", {m}, "error for m < 1");
    if (m > 1.0 && k) violated("ellipk", {m}, "value for m > 1");
    if (k) {
        expect_non_negative("ellipk", k, {m});
        if (std::isfinite(m) && m < 1.0 && !std::isfinite(*k)) violated("ellipk", {m}, "infinite for m < 1");
    }
}

void fuzz_ellipe(Input& in) {
    const double m = in.real();
    const auto e = checked("ellipe", ellip::ellipe(m), E_ALL, {m});
    if (std::isnan(m)) {
        if (e && !std::isnan(*e)) violated("ellipe", {m}, "NaN parameter gives a number");
        return;
    }
    if (m <= 1.0 && !e) violated("ellipe", {m}, "error for m <= 1");
    if (m > 1.0 && e) violated("ellipe", {m}, "value for m > 1");
    // E decreases from +inf (m -> -inf) to E(1) = 1.
    if (e && std::isfinite(m) && !(*e >= 1.0 - 4.0 * EPS && std::isfinite(*e)))
        violated("ellipe", {m}, "value " + std::to_string(*e) + " outside [1, inf)");
}

void fuzz_ellippi(Input& in) {
    const double n = in.real(), m = in.real();
    const auto v = checked("ellippi", ellip::ellippi(n, m), ELLIP_ALL, {n, m});
    if (!(finite_all({n, m}) && m < 1.0 && n != 1.0 && 1.0 - m > EPS)) return;
    if (v && std::isnan(*v)) violated("ellippi", {n, m}, "NaN inside the domain");
    if (n < 1.0) expect_non_negative("ellippi", v, {n, m});
    if (n == 0.0) {
        const auto k = checked("ellipk", ellip::ellipk(m), K_ALL, {m});
        if (v && k && std::bit_cast<std::uint64_t>(*v) != std::bit_cast<std::uint64_t>(*k) && m != 0.0)
            violated("ellippi", {n, m}, "Pi(0, m) differs from K(m)");
    }
}

void fuzz_ellippi_vc(Input& in) {
    const double n = in.real(), m = in.real();
    const bool own_complement = in.byte() & 1;
    const double nc = own_complement ? 1.0 - n : in.real();
    const auto v = checked("ellippi_vc", ellip::ellippi_vc(n, m, nc), ELLIP_ALL, {n, m, nc});
    // Within the contract: n < 1 with its exact complement, 1 - m > eps.
    // ellippi passes only n in [0, 1). For n far below 0 the sum RF + n·RJ/3
    // cancels (n = -6e37 gave -1e-17) or n·RJ overflows after scaling (-inf):
    // checked down to n = -1 only.
    if (own_complement && moderate({n, m}) && n >= -1.0 && n < 1.0 && 1.0 - m > EPS) expect_non_negative("ellippi_vc", v, {n, m, nc});
}

// interp with arbitrary tables: lengths 0 … 8 each (not necessarily equal),
// unsorted, repeated or NaN abscissas.
void fuzz_interp(Input& in) {
    using zorvane::interp::ExtrapolationMode;
    std::vector<double> x(in.count(8)), y(in.count(8));
    const bool ascending = in.byte() & 1;
    for (double& v : x) v = in.real();
    for (double& v : y) v = in.real();
    if (ascending) std::sort(x.begin(), x.end(), [](double a, double b) { return a < b; });
    const double xp = in.real();
    const std::uint8_t kind = in.byte() % 3;
    const double fixed = in.real();
    const ExtrapolationMode mode = kind == 0   ? ExtrapolationMode::Linear
                                   : kind == 1 ? ExtrapolationMode::EndValues
                                               : ExtrapolationMode::Fixed(fixed);
    // Exact-size copies so that the address sanitizer sees any read past the end.
    const std::vector<double> xs(x), ys(y);
    const double v = zorvane::interp::interp(std::span<const double>(xs), std::span<const double>(ys), xp, mode);
    const std::size_t n = std::min(x.size(), y.size());
    const auto same = [](double a, double b) {
        return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
    };
    if (n == 0) {
        if (!same(v, 0.0)) violated("interp", {xp}, "empty table does not give 0");
        return;
    }
    if (n == 1) {
        if (!same(v, y[0])) violated("interp", {xp, y[0]}, "one-entry table does not give y0");
        return;
    }
    if (std::isnan(xp)) {
        if (!std::isnan(v)) violated("interp", {xp}, "NaN abscissa gives a number");
        return;
    }
    if (kind == 1 && xp < x[0] && !same(v, y[0])) violated("interp", {xp, x[0]}, "below the range but not y0");
    if (kind == 1 && !(xp < x[0]) && xp > x[n - 1] && !same(v, y[n - 1])) violated("interp", {xp}, "above the range but not y[n-1]");
    if (kind == 2 && (xp < x[0] || xp > x[n - 1]) && !same(v, fixed)) violated("interp", {xp, fixed}, "outside but not the fixed value");

    // Inside a strictly ascending table of moderate numbers the value lies
    // between the smallest and largest ordinate, up to the rounding of the
    // slope-intercept form. (The search runs over all of x, also beyond n, so
    // all of x must ascend.)
    if (!(xp >= x[0] && xp <= x[n - 1])) return;
    for (std::size_t i = 0; i + 1 < x.size(); ++i)
        if (!(x[i] < x[i + 1])) return;
    double lo = INF, hi = -INF, slack = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!(std::isfinite(x[i]) && std::isfinite(y[i]) && std::fabs(x[i]) < 1e100 && std::fabs(y[i]) < 1e100)) return;
        if (i + 1 < n && !(x[i] < x[i + 1])) return;
        lo = std::min(lo, y[i]);
        hi = std::max(hi, y[i]);
    }
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const double slope = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
        if (!std::isfinite(slope)) return;  // abscissas too close: the slope overflows
        // (A subnormal slope is rounded in absolute terms, to DBL_TRUE_MIN.)
        slack = std::max(slack, 8.0 * ((std::fabs(x[i]) + std::fabs(xp)) * (EPS * std::fabs(slope) + DBL_TRUE_MIN) +
                                       EPS * std::fabs(y[i])));
    }
    if (!std::isfinite(slack)) return;
    slack += 1e-300;  // subnormal ordinates round in absolute terms
    if (!(v >= lo - slack && v <= hi + slack)) {
        std::string table;
        for (std::size_t i = 0; i < x.size() || i < y.size(); ++i) {
            char buf[80];
            std::snprintf(buf, sizeof buf, " (%.17g, %.17g)", i < x.size() ? x[i] : NaN, i < y.size() ? y[i] : NaN);
            table += buf;
        }
        violated("interp", {xp, v, lo, hi}, "value outside the ordinates; table" + table);
    }
}

// The integrands of the quadrature target.
struct Integrand {
    int kind;
    double a, b;             // bounds, for the singular integrand
    const double* table;     // values returned in turn (kind 4)
    std::size_t table_size;
    double k;                // frequency (kind 5)
    std::uint32_t calls = 0;
    bool outside = false;
    double lo, hi;

    double operator()(double x) {
        ++calls;
        if (!(x >= lo && x <= hi)) outside = true;
        switch (kind) {
            case 0: return 1.0;
            case 1: return x * x - 3.0 * x;
            case 2: return 1.0 / std::sqrt(std::fabs(x - a));  // singular at the lower bound
            case 3: return NaN;
            case 4: return table_size ? table[calls % table_size] : 0.0;
            default: return std::sin(k * x);
        }
    }
};

void fuzz_integrate(Input& in) {
    using zorvane::quadrature::double_exponential::integrate;
    const int kind = in.byte() % 6;
    const double a = in.real(), b = in.real(), target = in.real(), k = in.real();
    double table[8];
    const std::size_t table_size = in.count(8);
    for (std::size_t i = 0; i < table_size; ++i) table[i] = in.real();

    // The nodes d ± c·x stay inside [a, b] up to the rounding of the centre
    // and half-width (an ulp or so, which matters only for subnormal bounds).
    const double slack = std::fmax(std::fabs(a), std::fabs(b)) * 4.0 * EPS + 4.0 * DBL_TRUE_MIN;
    Integrand f{kind, a, b, table, table_size, k, 0, false, std::fmin(a, b) - slack, std::fmax(a, b) + slack};
    const auto out = integrate(f, a, b, target);

    const std::initializer_list<double> args = {a, b, target, static_cast<double>(kind)};
    if (out.evaluations != f.calls) violated("integrate", args, "evaluation count differs from the calls made");
    if (out.evaluations < 25 || out.evaluations > 385) violated("integrate", args, "evaluation count outside [25, 385]");
    const bool ordinary = finite_all({a, b, b - a, a + b});
    if (ordinary && f.outside) violated("integrate", args, "integrand evaluated outside [a, b]");
    if (!ordinary || std::fmax(std::fabs(a), std::fabs(b)) > 1e100) return;

    // Bounded integrands over a moderate interval give a finite integral.
    bool bounded = kind != 2;
    if (kind == 4) {
        for (std::size_t i = 0; i < table_size; ++i)
            if (std::isfinite(table[i]) && std::fabs(table[i]) > 1e100) bounded = false;
    }
    if (bounded && !std::isfinite(out.integral)) violated("integrate", args, "bounded integrand, non-finite integral");
    if (kind == 3 && out.integral != 0.0) violated("integrate", args, "NaN everywhere does not give 0");
    if (a == b && bounded && out.integral != 0.0) violated("integrate", args, "empty interval does not give 0");
    if (kind == 0 && std::fabs(out.integral - (b - a)) > 1e-12 * std::fabs(b - a) + 1e-300)
        violated("integrate", args, "integral of 1 is not b - a");
    if (kind == 1 && std::fabs(b - a) <= 1e10) {
        // (b - a) factored out, so that the reference itself does not cancel.
        const double exact = (b - a) * ((a * a + a * b + b * b) / 3.0 - 1.5 * (a + b));
        const double scale = (std::fabs(a) + std::fabs(b) + 3.0) * (std::fabs(a) + std::fabs(b)) * std::fabs(b - a) + 1e-300;
        if (std::fabs(out.integral - exact) > 1e-10 * scale) violated("integrate", args, "integral of a quadratic is wrong");
    }
}

void fuzz_sderivative(Input& in) {
    using zorvane::numdiff::central_difference::derivative::scalar_valued::sderivative;
    const double x = in.real();
    const bool given = in.byte() & 1;
    const double step = in.real();
    const double slope = in.real();
    double seen[2] = {NaN, NaN};
    int calls = 0;
    const auto line = [&](double t) {
        if (calls < 2) seen[calls] = t;
        ++calls;
        return slope * t;
    };
    const double d = given ? sderivative(line, x, step) : sderivative(line, x);
    const double h = (std::fabs(x) + 1.0) * (given ? step : 6.0554544523933395e-06);
    if (calls != 2) violated("sderivative", {x, step}, "f not called exactly twice");
    const auto same = [](double p, double q) {
        return std::bit_cast<std::uint64_t>(p) == std::bit_cast<std::uint64_t>(q) || (std::isnan(p) && std::isnan(q));
    };
    if (!same(seen[0], x + h) || !same(seen[1], x - h)) violated("sderivative", {x, step}, "f not called at x + h, then x - h");
    if (std::isnan(x) && !std::isnan(d)) violated("sderivative", {x}, "NaN x gives a number");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    switch (in.byte() % 13) {
        case 0: fuzz_elliprf(in); break;
        case 1: fuzz_elliprc(in); break;
        case 2: fuzz_elliprd(in); break;
        case 3: fuzz_elliprg(in); break;
        case 4: fuzz_elliprj(in, false); break;
        case 5: fuzz_elliprj(in, true); break;
        case 6: fuzz_ellipk(in); break;
        case 7: fuzz_ellipe(in); break;
        case 8: fuzz_ellippi(in); break;
        case 9: fuzz_ellippi_vc(in); break;
        case 10: fuzz_interp(in); break;
        case 11: fuzz_integrate(in); break;
        default: fuzz_sderivative(in); break;
    }
    return 0;
}
