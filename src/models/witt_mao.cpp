#include "models/witt_mao.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

#include "ellip/carlson_batch.hpp"
#include "ellip/legendre/ellipe.hpp"
#include "ellip/legendre/ellipk.hpp"
#include "ellip/legendre/ellippi.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/elliprg.hpp"
#include "ellip/elliprj.hpp"
#include "models/mean_value.hpp"
#include "parallel/map.hpp"

namespace zorvane::models {

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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
double limb_value(double rho, double rho2) noexcept {
    const double a = 2.0 / rho;
    const double b = (rho2 + 1.0) / rho2;
    const double c = std::atan(rho);
    return (a + b * (c + c)) / kPi;
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
double near_limb_finish(const NearLimb& v, double rho2, double k, double g, double j) noexcept {
    return combine(v.u, v.d, v.s, std::sqrt(v.f2), rho2, g + g, k, k + (v.n * j) / 3.0);
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

double near_limb_element(double x, double rho, double rho2) noexcept {
    const NearLimb v = near_limb_setup(x, rho);
    // d² below the normal range (a source under 1e-140 Einstein radii): the
    // limb value is then exact to the last digit.
    if (v.mc == 0.0) return limb_value(rho, rho2);
    const auto k = ellip::elliprf(0.0, v.mc, 1.0);
    if (!k) return kNaN;
    const auto g = ellip::elliprg(0.0, v.mc, 1.0);
    if (!g) return kNaN;
    const auto j = ellip::elliprj(0.0, v.mc, 1.0, v.nc);
    if (!j) return kNaN;
    return near_limb_finish(v, rho2, *k, *g, *j);
}

// Far from the source the closed form's three terms grow like x² and cancel
// (about ε·x²); the disk's mean-value series keeps every digit there.
bool is_far(double x, double rho) noexcept {
    return x >= series::kFar && x <= std::numeric_limits<double>::max() && rho > 0.0 &&
           rho <= std::numeric_limits<double>::max();
}

double far_element(double x, double rho) noexcept {
    return series::mean_value(x * rho, 1.0 / (x * x), series::DISK_WEIGHT, series::terms_for(x));
}

// Sources at the ends of the range, where the closed form's products (s·rho²,
// about rho³) under- or overflow.
//  - Below kTinySource Einstein radii the lens sees A(u) = 1/u to the last
//    digit over the whole source: A·rho is a function of x and rho² whose
//    dependence on rho² is below 1e-150 there, so A(x, rho) is
//    A(x, kTinySource)·kTinySource/rho, the first product exact.
//  - From kHugeSource on, A − 1 is about 2/rho² ≤ 1e-38: A is 1 to the last bit.
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
double witt_mao_element(double x, double rho, double rho2) noexcept {
    // No value for a NaN or negative separation. (Below, a negative x whose
    // product with rho underflows to −0 would otherwise pass as the centre.)
    if (!(x >= 0.0)) return kNaN;
    if (is_far(x, rho)) return far_element(x, rho);
    if (is_extreme(rho) && x <= std::numeric_limits<double>::max()) {
        if (rho >= kHugeSource) return 1.0;
        return (witt_mao_element(x, kTinySource, kTinySource * kTinySource) * kTinySource) / rho;
    }
    if (std::fabs(x - 1.0) < kLimbZone && rho > 0.0 && rho <= std::numeric_limits<double>::max()) {
        if (x == 1.0) return limb_value(rho, rho2);
        return near_limb_element(x, rho, rho2);
    }
    const Ordinary v = ordinary_setup(x, rho);
    // A NaN parameter (an infinite separation, NaN or negative scales) can
    // only end in NaN; the elliptic integrals would get there
    // through a hundred fruitless duplication steps.
    if (std::isnan(v.m)) return kNaN;
    const auto e = ellip::ellipe(v.m);
    if (!e) return kNaN;
    const auto k = ellip::ellipk(v.m);
    if (!k) return kNaN;
    const auto p = ellip::ellippi(v.n, v.m);
    if (!p) return kNaN;
    return combine(v.u, v.d, v.s, v.f, rho2, *e, *k, *p);
}

namespace {

// Separations are taken in blocks of this many; within a block, those that
// reach the elliptic forms are gathered and go through the four-lane kernel
// four at a time.
constexpr std::size_t kBlock = 64;

// The elliptic form of witt_mao_element with K, E and Π from the kernel's
// RF(0, 1 − m, 1), RG(0, 1 − m, 1) and RJ(0, 1 − m, 1, 1 − n): for 0 ≤ m < 0.9
// ellipe and ellipk are the Taylor polynomials, beyond it K = RF and
// E = 2·RG; for 0 < n < 1 and m, n at least ε from 1, Π(n, m) = RF + (n/3)·RJ.
// Any error makes the value NaN, as in witt_mao_element.
double ordinary_finish(const Ordinary& v, double rho2, const ellip::CarlsonZeroLanes& lanes, int i) noexcept {
    const unsigned bit = 1u << i;
    if (!(lanes.ok_rf & bit) || !(lanes.ok_rj & bit)) return kNaN;
    double e, k;
    if (lanes.want_rg & bit) {
        if (!(lanes.ok_rg & bit)) return kNaN;
        e = lanes.rg[i] + lanes.rg[i];
        k = lanes.rf[i];
    } else {
        const auto pe = ellip::ellipe(v.m);
        if (!pe) return kNaN;
        const auto pk = ellip::ellipk(v.m);
        if (!pk) return kNaN;
        e = *pe;
        k = *pk;
    }
    const double p = lanes.rf[i] + (v.n * lanes.rj[i]) / 3.0;
    return combine(v.u, v.d, v.s, v.f, rho2, e, k, p);
}

// witt_mao_element(x[i], rho[i·stride], rho2[i·stride]) into out[i] for
// i < len <= kBlock (stride 0: one source for all), with the elliptic
// integrals of the near-limb and ordinary forms four at a time.
void witt_mao_block(ellip::CarlsonZeroKernel kernel, const double* x, const double* rho_of,
                    const double* rho2_of, std::size_t stride, double* out, std::size_t len) noexcept {
    std::size_t limb_at[kBlock], ordinary_at[kBlock];
    NearLimb limb[kBlock];
    Ordinary ordinary[kBlock];
    std::size_t limbs = 0, ordinaries = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const double xi = x[i];
        const double rho = rho_of[i * stride];
        const double rho2 = rho2_of[i * stride];
        if (is_far(xi, rho)) {
            out[i] = far_element(xi, rho);
            continue;
        }
        // NaN, negative or infinite separations, the far field, the limb
        // itself, and sources without a finite positive size: element by
        // element.
        if (!(xi >= 0.0) || xi >= series::kFar || xi == 1.0 ||
            !(rho > 0.0 && rho <= std::numeric_limits<double>::max()) || is_extreme(rho)) {
            out[i] = witt_mao_element(xi, rho, rho2);
            continue;
        }
        if (std::fabs(xi - 1.0) < kLimbZone) {
            const NearLimb v = near_limb_setup(xi, rho);
            if (v.mc == 0.0) {
                out[i] = limb_value(rho, rho2);
                continue;
            }
            limb_at[limbs] = i;
            limb[limbs++] = v;
            continue;
        }
        const Ordinary v = ordinary_setup(xi, rho);
        if (!ellip::ellippi_is_carlson_sum(v.n, v.m)) {
            out[i] = witt_mao_element(xi, rho, rho2);
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
            out[at] = (lanes.ok_rf & lanes.ok_rg & lanes.ok_rj & bit)
                          ? near_limb_finish(limb[first + j], rho2_of[at * stride], lanes.rf[j], lanes.rg[j],
                                             lanes.rj[j])
                          : kNaN;
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
            out[at] = ordinary_finish(ordinary[first + j], rho2_of[at * stride], lanes, static_cast<int>(j));
        }
    }
}

}  // namespace

std::vector<double> witt_mao_magnification(std::span<const double> l, double re, double rstar) {
    const double rho = rstar / re;
    const double rho2 = rho * rho;
    const ellip::CarlsonZeroKernel kernel = ellip::carlson_zero_kernel();
    if (kernel == nullptr || !(rho > 0.0 && rho <= std::numeric_limits<double>::max())) {
        // An element costs about 0.3 us: short sequences stay on the calling thread.
        return parallel::map_ordered(
            l, [rho, rho2](double x) { return witt_mao_element(x, rho, rho2); },
            std::chrono::nanoseconds(300));
    }
    std::vector<double> out(l.size());
    std::vector<std::size_t> starts;
    starts.reserve(l.size() / kBlock + 1);
    for (std::size_t start = 0; start < l.size(); start += kBlock) starts.push_back(start);
    const double* in = l.data();
    double* result = out.data();
    const std::size_t len = l.size();
    parallel::map_ordered(
        std::span<const std::size_t>(starts),
        [kernel, in, result, len, rho, rho2](std::size_t start) {
            witt_mao_block(kernel, in + start, &rho, &rho2, 0, result + start, std::min(kBlock, len - start));
            return 0;
        },
        std::chrono::nanoseconds(300) * kBlock);
    return out;
}

void witt_mao_elements(const double* x, const double* rho, const double* rho2, std::size_t count,
                       double* out) noexcept {
    const ellip::CarlsonZeroKernel kernel = ellip::carlson_zero_kernel();
    if (kernel == nullptr) {
        for (std::size_t i = 0; i < count; ++i) out[i] = witt_mao_element(x[i], rho[i], rho2[i]);
        return;
    }
    for (std::size_t start = 0; start < count; start += kBlock) {
        witt_mao_block(kernel, x + start, rho + start, rho2 + start, 1, out + start,
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
