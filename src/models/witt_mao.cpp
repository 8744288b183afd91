#include "models/witt_mao.hpp"

#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

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
// those complements with a relative error of about ε/(x − 1)² (6e-5 at
// |x − 1| = 1e-5, 7e-12 at 1e-2, 5e-14 at 0.1, against 60-digit references).
// Within this distance of the limb the complements are formed directly
// instead; beyond it the direct form loses less than 1e-13.
constexpr double kLimbZone = 0.1;

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
// however near the limb the lens is.
double near_limb_element(double x, double rho, double rho2) noexcept {
    const double d = (x - 1.0) * rho;
    const double u = x * rho;
    const double s = rho + u;
    const double f2 = d * d + 4.0;
    const double q = d / s;
    const double nc = q * q;
    const double mc = nc * ((s * s + 4.0) / f2);
    // d² below the normal range (a source under 1e-140 Einstein radii): the
    // limb value is then exact to the last digit.
    if (mc == 0.0) return limb_value(rho, rho2);
    const double n = ((rho * 4.0) * u) / (s * s);
    const auto k = ellip::elliprf(0.0, mc, 1.0);
    if (!k) return kNaN;
    const auto g = ellip::elliprg(0.0, mc, 1.0);
    if (!g) return kNaN;
    const auto j = ellip::elliprj(0.0, mc, 1.0, nc);
    if (!j) return kNaN;
    return combine(u, d, s, std::sqrt(f2), rho2, *g + *g, *k, *k + (n * *j) / 3.0);
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
    // Far from the source the closed form's three terms grow like x² and
    // cancel (about ε·x²); the mean-value series keeps every digit there.
    if (x >= series::kFar && x <= std::numeric_limits<double>::max() && rho > 0.0 &&
        rho <= std::numeric_limits<double>::max()) {
        return series::mean_value(x * rho, 1.0 / (x * x), series::DISK_WEIGHT, series::terms_for(x));
    }
    if (std::fabs(x - 1.0) < kLimbZone && rho > 0.0 && rho <= std::numeric_limits<double>::max()) {
        if (x == 1.0) return limb_value(rho, rho2);
        return near_limb_element(x, rho, rho2);
    }
    const double u = x * rho;
    const double d = u - rho;
    const double s = rho + u;
    const double n = ((rho * 4.0) * u) / (s * s);
    const double f = std::sqrt(d * d + 4.0);
    // The quotient of the roots is squared (not 4n/f^2), so a negative n gives NaN.
    const double q = std::sqrt(n * 4.0) / f;
    const double m = q * q;
    // A NaN parameter (an infinite separation, NaN or negative scales) can
    // only end in NaN; the elliptic integrals would get there
    // through a hundred fruitless duplication steps.
    if (std::isnan(m)) return kNaN;
    const auto e = ellip::ellipe(m);
    if (!e) return kNaN;
    const auto k = ellip::ellipk(m);
    if (!k) return kNaN;
    const auto p = ellip::ellippi(n, m);
    if (!p) return kNaN;
    return combine(u, d, s, f, rho2, *e, *k, *p);
}

std::vector<double> witt_mao_magnification(std::span<const double> l, double re, double rstar) {
    const double rho = rstar / re;
    const double rho2 = rho * rho;
    // An element costs about 0.3 us: short sequences stay on the calling thread.
    return parallel::map_ordered(
        l, [rho, rho2](double x) { return witt_mao_element(x, rho, rho2); },
        std::chrono::nanoseconds(300));
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
