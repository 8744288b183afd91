#include "models/witt_mao.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <type_traits>
#include <utility>
#include <vector>

#include "ellip/carlson_batch.hpp"
#include "ellip/legendre/ellipe.hpp"
#include "ellip/legendre/ellipk.hpp"
#include "ellip/legendre/ellippi.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/elliprg.hpp"
#include "ellip/elliprj.hpp"
#include "models/edge_moment.hpp"
#include "models/mean_value.hpp"
#include "parallel/map.hpp"

namespace zorvane::models {

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Every form below is written once for both results: the magnification alone
// (Slopes = false, a double) and the magnification with its derivatives
// ∂A/∂u and ∂A/∂rho (Slopes = true). The magnification is the same expression
// in both, so it has the same bits.
using DiskSlopes = Slopes;
template <bool Slopes>
using Value = std::conditional_t<Slopes, DiskSlopes, double>;

// Where A has no value (out-of-range inputs can leave finite numbers in the
// derivatives' formulas) neither have its derivatives.
DiskSlopes masked(const DiskSlopes& v) noexcept {
    return std::isnan(v.a) ? DiskSlopes{v.a, kNaN, kNaN} : v;
}

template <bool Slopes>
Value<Slopes> all_nan() noexcept {
    if constexpr (Slopes) return {kNaN, kNaN, kNaN};
    else return kNaN;
}

// Near the limb (x = 1) n and m both tend to 1, and forming them first and
// letting the elliptic integrals take 1 − n and 1 − m by subtraction leaves
// the value with a relative error of about 5ε/(x − 1)² (6e-5 at
// |x − 1| = 1e-5, 7e-12 at 1e-2, 1e-13 at 0.1, 1e-14 at 0.3, against 60-digit
// references). Within this distance of the limb the complements are formed
// directly instead, which keeps every separation there within 1e-15 (and
// costs no more); at the edge the subtracted form is down to 4e-15, what it
// loses anywhere else short of the far field. x − 1 is exact in this zone.
constexpr double kLimbZone = 0.5;

// Lens on the limb: the limit of the elliptic form as u -> rho, where m -> 1
// and K(m) diverges while its coefficient vanishes. With rho = tan θ,
// asin((rho² − 1)/(rho² + 1)) + π/2 = 2θ = 2·atan(rho): the sum, written
// that way, cancels for small sources (4e-10 at rho = 1e-4), the arctangent
// does not.
//
// Both derivatives diverge there like ln|u − rho|, ∂A/∂u to −∞ and ∂A/∂rho to
// +∞, the same from either side: the ring through the lens is infinitely
// bright, and moving the source outward or growing it sweeps that ring past
// the lens. (Their sum, which moves the near edge with the lens, stays finite.)
// The limb gives those limits.
template <bool Slopes>
Value<Slopes> limb_value(double rho, double rho2) noexcept {
    const double a = 2.0 / rho;
    const double b = (rho2 + 1.0) / rho2;
    const double c = std::atan(rho);
    const double value = (a + b * (c + c)) / kPi;
    if constexpr (Slopes) return {value, -kInf, kInf};
    else return value;
}

// The three terms of the elliptic form, given E(m), K(m) and Π(n, m).
double combine(double u, double d, double s, double f, double rho2, double e, double k,
               double p) noexcept {
    const double t1 = ((s * f) / (rho2 + rho2)) * e;
    const double t2 = ((d * ((u * u - rho2) * 0.5 + 4.0)) / (f * rho2)) * k;
    const double dd = d * d;
    const double t3 = (((dd + dd) * (rho2 + 1.0)) / (f * (s * rho2))) * p;
    return ((t1 - t2) + t3) / kPi;
}

// The quantities of the elliptic form that its finish reads: separation,
// d = u − rho, s = u + rho, f = √(d² + 4) and m.
struct Elliptic {
    double u, d, s, f, m;
};

// The disk from E, K and Π, and with Slopes its derivatives from the same
// three (d/dm of K and E and ∂Π/∂n, ∂Π/∂m collected and simplified):
//
//   ∂A/∂u   = 8/(π·rho·s·f)·(2E − (2 − m)K)/m,
//   ∂A/∂rho = (2/rho)·(A_edge − A),  A_edge = (2/π)·(2K + d²Π)/(s·f),
//
// the second because the lensed flux πrho²A of the disk grows with its radius
// by 2πrho times the magnification of its edge, the ring of radius rho, whose
// n and m are the disk's. The first is (2/rho) times the average of the
// point-lens magnification around that edge weighted by cos φ (φ from the
// direction away from the lens): the disk's boundary moving with it.
template <bool Slopes>
Value<Slopes> finish(const Elliptic& v, double rho, double rho2, double e, double k, double p) noexcept {
    const double a = combine(v.u, v.d, v.s, v.f, rho2, e, k, p);
    if constexpr (Slopes) {
        const double sf = v.s * v.f;
        const double du = (edge_moment(v.m, e, k) * 8.0) / (kPi * (rho * sf));
        const double edge = (((k + k) + (v.d * v.d) * p) / sf) * (2.0 / kPi);
        const double drho = ((edge - a) + (edge - a)) / rho;
        return {a, du, drho};
    } else {
        return a;
    }
}

// The elliptic form near the limb (0 < rho < ∞, x ≠ 1), from the complements
//   1 − n = (d/s)²,  1 − m = d²·(s² + 4)/(s²·f²),  d = u − rho, s = u + rho, f² = d² + 4,
// exact identities that involve no subtraction, with Carlson's forms
//   K = RF(0, 1 − m, 1),  E = 2·RG(0, 1 − m, 1),  Π = K + (n/3)·RJ(0, 1 − m, 1, 1 − n).
// x − 1 is exact so close to 1, so d = (x − 1)·rho carries one rounding
// however near the limb the lens is. The form is split in two around the
// elliptic integrals (setup, finish), which the blocks below evaluate four
// separations at a time.
struct NearLimb {
    double d, u, s, f2, nc, mc, n;
};
NearLimb near_limb_setup(double x, double rho) noexcept {
    const double d = (x - 1.0) * rho;
    const double u = x * rho;
    const double s = rho + u;
    const double f2 = d * d + 4.0;
    const double q = d / s;
    const double nc = q * q;
    const double mc = nc * ((s * s + 4.0) / f2);
    const double n = ((rho * 4.0) * u) / (s * s);
    return {d, u, s, f2, nc, mc, n};
}
template <bool Slopes>
Value<Slopes> near_limb_finish(const NearLimb& v, double rho, double rho2, double k, double g,
                               double j) noexcept {
    // m itself only for the slopes: 4n/f², which keeps its relative digits
    // when m is small (a large source), where 1 − (1 − m) would not.
    return finish<Slopes>({v.u, v.d, v.s, std::sqrt(v.f2), (v.n * 4.0) / v.f2}, rho, rho2, g + g, k,
                          k + (v.n * j) / 3.0);
}

// The quantities of the elliptic form away from the limb at one separation.
// The quotient of the roots is squared (not 4n/f²), so a negative n gives NaN.
struct Ordinary {
    double u, d, s, n, f, m;
};
Ordinary ordinary_setup(double x, double rho) noexcept {
    const double u = x * rho;
    const double d = u - rho;
    const double s = rho + u;
    const double n = ((rho * 4.0) * u) / (s * s);
    const double f = std::sqrt(d * d + 4.0);
    const double q = std::sqrt(n * 4.0) / f;
    return {u, d, s, n, f, q * q};
}
template <bool Slopes>
Value<Slopes> ordinary_finish(const Ordinary& v, double rho, double rho2, double e, double k,
                              double p) noexcept {
    return finish<Slopes>({v.u, v.d, v.s, v.f, v.m}, rho, rho2, e, k, p);
}

template <bool Slopes>
Value<Slopes> near_limb_element(double x, double rho, double rho2) noexcept {
    const NearLimb v = near_limb_setup(x, rho);
    // d² below the normal range (a source under 1e-140 Einstein radii): the
    // limb value is then exact to the last digit.
    if (v.mc == 0.0) return limb_value<Slopes>(rho, rho2);
    const auto k = ellip::elliprf(0.0, v.mc, 1.0);
    if (!k) return all_nan<Slopes>();
    const auto g = ellip::elliprg(0.0, v.mc, 1.0);
    if (!g) return all_nan<Slopes>();
    const auto j = ellip::elliprj(0.0, v.mc, 1.0, v.nc);
    if (!j) return all_nan<Slopes>();
    return near_limb_finish<Slopes>(v, rho, rho2, *k, *g, *j);
}

// Far from the source the closed form's three terms grow like x² and cancel
// (about ε·x²); the disk's mean-value series keeps every digit there, and so
// do its derivatives, the series differentiated term by term.
bool is_far(double x, double rho) noexcept {
    return x >= series::kFar && x <= std::numeric_limits<double>::max() && rho > 0.0 &&
           rho <= std::numeric_limits<double>::max();
}

template <bool Slopes>
Value<Slopes> far_element(double x, double rho) noexcept {
    const double u = x * rho;
    const double z = 1.0 / (x * x);
    const int terms = series::terms_for(x);
    if constexpr (Slopes) {
        const series::SeriesSlopes v = series::disk_with_slopes(u, z, rho, terms);
        return {v.a, v.du, v.da};
    } else {
        return series::mean_value(u, z, series::DISK_WEIGHT, terms);
    }
}

// Sources at the ends of the range, where the closed form's products (s·rho²,
// about rho³) under- or overflow.
//  - Below kTinySource Einstein radii the lens sees A(u) = 1/u to the last
//    digit over the whole source: A·rho is a function of x and rho² whose
//    dependence on rho² is below 1e-150 there, so A(x, rho) is
//    A(x, kTinySource)·kTinySource/rho, the first product exact. Then
//    A = F(u/rho)/rho, and both derivatives are G(x)/rho²: those at
//    kTinySource times (kTinySource/rho)².
//  - From kHugeSource on, A − 1 is about 2/rho² ≤ 1e-38: A is 1 to the last
//    bit, and the derivatives, below 4/rho³ (under 1e-38·A/rho), are 0.
constexpr double kTinySource = 0x1p-256;
constexpr double kHugeSource = 0x1p64;

bool is_extreme(double rho) noexcept {
    return (rho > 0.0 && rho < kTinySource) ||
           (rho >= kHugeSource && rho <= std::numeric_limits<double>::max());
}
}  // namespace

// Witt & Mao (1994, ApJ 430, 505): with u the separation and rho the
// source radius in Einstein radii, n = 4u·rho/(u + rho)², m = 4n/(4 + (u − rho)²),
//
//   pi·A = (u + rho)·√(4 + (u − rho)²)/(2rho²)·E(m)
//        − (u − rho)·(8 + u² − rho²)/(2rho²·√(4 + (u − rho)²))·K(m)
//        + 2(u − rho)²·(1 + rho²)/(rho²·(u + rho)·√(4 + (u − rho)²))·Π(n, m),
//
// and on the limb (u = rho, where K diverges and its coefficient vanishes)
//
//   pi·A = 2/rho + (1 + rho²)/rho²·(pi/2 + asin((rho² − 1)/(rho² + 1)))
//        = 2/rho + (1 + rho²)/rho²·2·atan(rho).
namespace {
template <bool Slopes>
Value<Slopes> element(double x, double rho, double rho2) noexcept {
    // No value for a NaN or negative separation. (Below, a negative x whose
    // product with rho underflows to −0 would otherwise pass as the centre.)
    if (!(x >= 0.0)) return all_nan<Slopes>();
    if (is_far(x, rho)) return far_element<Slopes>(x, rho);
    if (is_extreme(rho) && x <= std::numeric_limits<double>::max()) {
        if (rho >= kHugeSource) {
            if constexpr (Slopes) return {1.0, 0.0, 0.0};
            else return 1.0;
        }
        const Value<Slopes> tiny = element<Slopes>(x, kTinySource, kTinySource * kTinySource);
        if constexpr (Slopes) {
            const double q = kTinySource / rho;
            return {(tiny.a * kTinySource) / rho, (tiny.du * q) * q, (tiny.drho * q) * q};
        } else {
            return (tiny * kTinySource) / rho;
        }
    }
    if (std::fabs(x - 1.0) < kLimbZone && rho > 0.0 && rho <= std::numeric_limits<double>::max()) {
        if (x == 1.0) return limb_value<Slopes>(rho, rho2);
        return near_limb_element<Slopes>(x, rho, rho2);
    }
    const Ordinary v = ordinary_setup(x, rho);
    // A NaN parameter (an infinite separation, NaN or negative scales) can
    // only end in NaN; the elliptic integrals would get there
    // through a hundred fruitless duplication steps.
    if (std::isnan(v.m)) return all_nan<Slopes>();
    const auto e = ellip::ellipe(v.m);
    if (!e) return all_nan<Slopes>();
    const auto k = ellip::ellipk(v.m);
    if (!k) return all_nan<Slopes>();
    const auto p = ellip::ellippi(v.n, v.m);
    if (!p) return all_nan<Slopes>();
    return ordinary_finish<Slopes>(v, rho, rho2, *e, *k, *p);
}
}  // namespace

double witt_mao_element(double x, double rho, double rho2) noexcept { return element<false>(x, rho, rho2); }

Slopes witt_mao_gradient_element(double x, double rho, double rho2) noexcept {
    return masked(element<true>(x, rho, rho2));
}

namespace {

// Separations are taken in blocks of this many; within a block, those that
// reach the elliptic forms are gathered and go through the four-lane kernel
// four at a time.
constexpr std::size_t kBlock = 64;

// Where a block's results go: the magnifications alone, or with their
// derivatives, each a list of the block's length.
template <bool Slopes>
struct Sink;
template <>
struct Sink<false> {
    double* a;
    void put(std::size_t i, double v) const noexcept { a[i] = v; }
    Sink at(std::size_t start) const noexcept { return {a + start}; }
};
template <>
struct Sink<true> {
    double *a, *du, *drho;
    void put(std::size_t i, const DiskSlopes& v) const noexcept {
        const DiskSlopes m = masked(v);
        a[i] = m.a;
        du[i] = m.du;
        drho[i] = m.drho;
    }
    Sink at(std::size_t start) const noexcept { return {a + start, du + start, drho + start}; }
};

// The elliptic form of element<Slopes> with K, E and Π from the kernel's
// RF(0, 1 − m, 1), RG(0, 1 − m, 1) and RJ(0, 1 − m, 1, 1 − n): for 0 ≤ m < 0.9
// ellipe and ellipk are the Taylor polynomials, beyond it K = RF and
// E = 2·RG; for 0 < n < 1 and m, n at least ε from 1, Π(n, m) = RF + (n/3)·RJ.
// Any error makes the value NaN, as in element.
template <bool Slopes>
Value<Slopes> ordinary_lane(const Ordinary& v, double rho, double rho2, const ellip::CarlsonZeroLanes& lanes,
                            int i) noexcept {
    const unsigned bit = 1u << i;
    if (!(lanes.ok_rf & bit) || !(lanes.ok_rj & bit)) return all_nan<Slopes>();
    double e, k;
    if (lanes.want_rg & bit) {
        if (!(lanes.ok_rg & bit)) return all_nan<Slopes>();
        e = lanes.rg[i] + lanes.rg[i];
        k = lanes.rf[i];
    } else {
        const auto pe = ellip::ellipe(v.m);
        if (!pe) return all_nan<Slopes>();
        const auto pk = ellip::ellipk(v.m);
        if (!pk) return all_nan<Slopes>();
        e = *pe;
        k = *pk;
    }
    const double p = lanes.rf[i] + (v.n * lanes.rj[i]) / 3.0;
    return ordinary_finish<Slopes>(v, rho, rho2, e, k, p);
}

// element<Slopes>(x[i], rho[i·stride], rho2[i·stride]) into out at i for
// i < len <= kBlock (stride 0: one source for all), with the elliptic
// integrals of the near-limb and ordinary forms four at a time (without a
// kernel, element by element).
template <bool Slopes>
void block(ellip::CarlsonZeroKernel kernel, const double* x, const double* rho_of, const double* rho2_of,
           std::size_t stride, Sink<Slopes> out, std::size_t len) noexcept {
    if (kernel == nullptr) {
        for (std::size_t i = 0; i < len; ++i) out.put(i, element<Slopes>(x[i], rho_of[i * stride], rho2_of[i * stride]));
        return;
    }
    std::size_t limb_at[kBlock], ordinary_at[kBlock];
    NearLimb limb[kBlock];
    Ordinary ordinary[kBlock];
    std::size_t limbs = 0, ordinaries = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const double xi = x[i];
        const double rho = rho_of[i * stride];
        const double rho2 = rho2_of[i * stride];
        if (is_far(xi, rho)) {
            out.put(i, far_element<Slopes>(xi, rho));
            continue;
        }
        // NaN, negative or infinite separations, the far field, the limb
        // itself, and sources without a finite positive size: element by
        // element.
        if (!(xi >= 0.0) || xi >= series::kFar || xi == 1.0 ||
            !(rho > 0.0 && rho <= std::numeric_limits<double>::max()) || is_extreme(rho)) {
            out.put(i, element<Slopes>(xi, rho, rho2));
            continue;
        }
        if (std::fabs(xi - 1.0) < kLimbZone) {
            const NearLimb v = near_limb_setup(xi, rho);
            if (v.mc == 0.0) {
                out.put(i, limb_value<Slopes>(rho, rho2));
                continue;
            }
            limb_at[limbs] = i;
            limb[limbs++] = v;
            continue;
        }
        const Ordinary v = ordinary_setup(xi, rho);
        if (!ellip::ellippi_is_carlson_sum(v.n, v.m)) {
            out.put(i, element<Slopes>(xi, rho, rho2));
            continue;
        }
        ordinary_at[ordinaries] = i;
        ordinary[ordinaries++] = v;
    }

    ellip::CarlsonZeroLanes lanes;
    for (std::size_t first = 0; first < limbs; first += 4) {
        const std::size_t count = std::min<std::size_t>(4, limbs - first);
        for (std::size_t j = 0; j < 4; ++j) {
            const NearLimb& v = limb[first + (j < count ? j : 0)];
            lanes.y[j] = v.mc;
            lanes.p[j] = v.nc;
        }
        lanes.want_rg = (1u << count) - 1u;
        kernel(lanes);
        for (std::size_t j = 0; j < count; ++j) {
            const unsigned bit = 1u << j;
            const std::size_t at = limb_at[first + j];
            out.put(at, (lanes.ok_rf & lanes.ok_rg & lanes.ok_rj & bit)
                            ? near_limb_finish<Slopes>(limb[first + j], rho_of[at * stride], rho2_of[at * stride],
                                                       lanes.rf[j], lanes.rg[j], lanes.rj[j])
                            : all_nan<Slopes>());
        }
    }
    for (std::size_t first = 0; first < ordinaries; first += 4) {
        const std::size_t count = std::min<std::size_t>(4, ordinaries - first);
        lanes.want_rg = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const Ordinary& v = ordinary[first + (j < count ? j : 0)];
            lanes.y[j] = 1.0 - v.m;
            lanes.p[j] = 1.0 - v.n;
            if (j < count && ellip::taylor::interval_of(v.m) < 0) lanes.want_rg |= 1u << j;
        }
        kernel(lanes);
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t at = ordinary_at[first + j];
            out.put(at, ordinary_lane<Slopes>(ordinary[first + j], rho_of[at * stride], rho2_of[at * stride], lanes,
                                              static_cast<int>(j)));
        }
    }
}

// Every separation of l into out, in blocks on the worker pool.
template <bool Slopes>
void over_blocks(std::span<const double> l, double re, double rstar, Sink<Slopes> out) {
    const double rho = rstar / re;
    const double rho2 = rho * rho;
    const ellip::CarlsonZeroKernel kernel = ellip::carlson_zero_kernel();
    std::vector<std::size_t> starts;
    starts.reserve(l.size() / kBlock + 1);
    for (std::size_t start = 0; start < l.size(); start += kBlock) starts.push_back(start);
    const double* in = l.data();
    const std::size_t len = l.size();
    // An element costs about 0.3 us: short sequences stay on the calling thread.
    parallel::map_ordered(
        std::span<const std::size_t>(starts),
        [kernel, in, out, len, rho, rho2](std::size_t start) {
            block<Slopes>(kernel, in + start, &rho, &rho2, 0, out.at(start), std::min(kBlock, len - start));
            return 0;
        },
        std::chrono::nanoseconds(300) * kBlock);
}

}  // namespace

std::vector<double> witt_mao_magnification(std::span<const double> l, double re, double rstar) {
    std::vector<double> out(l.size());
    over_blocks<false>(l, re, rstar, {out.data()});
    return out;
}

Gradient witt_mao_magnification_gradient(std::span<const double> l, double re, double rstar) {
    Gradient out{std::vector<double>(l.size()), std::vector<double>(l.size()), std::vector<double>(l.size())};
    over_blocks<true>(l, re, rstar, {out.value.data(), out.du.data(), out.drho.data()});
    return out;
}

void witt_mao_elements(const double* x, const double* rho, const double* rho2, std::size_t count,
                       double* out) noexcept {
    const ellip::CarlsonZeroKernel kernel = ellip::carlson_zero_kernel();
    for (std::size_t start = 0; start < count; start += kBlock) {
        block<false>(kernel, x + start, rho + start, rho2 + start, 1, Sink<false>{out + start},
                     std::min(kBlock, count - start));
    }
}

std::vector<std::vector<double>> multi_witt_mao_magnification(std::span<const double> l,
                                                              std::span<const double> re,
                                                              std::span<const double> rstar) {
    std::vector<std::pair<double, double>> pairs;
    pairs.reserve(re.size() * rstar.size());
    for (double a : re) {
        for (double b : rstar) pairs.emplace_back(a, b);
    }
    // Each pair runs its own map over l, nested in the map over the pairs; both
    // share the one pool and only read l.
    return parallel::map_ordered(
        std::span<const std::pair<double, double>>(pairs),
        [l](const std::pair<double, double>& pair) {
            return witt_mao_magnification(l, pair.first, pair.second);
        },
        std::chrono::nanoseconds(300) * l.size());
}

}  // namespace zorvane::models
