#include "models/witt_mao.hpp"

#include <chrono>
#include <cmath>
#include <limits>
#include <span>
#include <utility>

#include "ellip/legendre/ellipe.hpp"
#include "ellip/legendre/ellipk.hpp"
#include "ellip/legendre/ellippi.hpp"
#include "parallel/map.hpp"

namespace zorvane::models {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Width of the band around the limb, as a fraction of the source radius, in
// which the closed limb value replaces the elliptic form. The elliptic form
// loses accuracy as m -> 1 according to |x - 1|, whatever the source size, so
// the band is relative to the source: |u - rho| < 1e-5*rho, i.e. |x - 1| < 1e-5.
constexpr double kEdgeBand = 1e-5;
}  // namespace

double witt_mao_element(double x, double rho, double rho2) noexcept {
    // No value for a NaN or negative separation. (Below, a negative x whose
    // product with rho underflows to −0 would otherwise pass as the centre.)
    if (!(x >= 0.0)) return kNaN;
    const double u = x * rho;
    if (std::fabs(u - rho) < kEdgeBand * rho) {
        // Lens on the limb: the limit of the elliptic form as u -> rho, where
        // m -> 1 and K(m) diverges while its coefficient vanishes.
        const double a = 2.0 / rho;
        const double b = (rho2 + 1.0) / rho2;
        const double c = std::asin((rho2 - 1.0) / (rho2 + 1.0));
        return (a + b * (c + kHalfPi)) / kPi;
    }
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
    const double t1 = ((s * f) / (rho2 + rho2)) * *e;
    const double t2 = ((d * ((u * u - rho2) * 0.5 + 4.0)) / (f * rho2)) * *k;
    const double dd = d * d;
    const double t3 = (((dd + dd) * (rho2 + 1.0)) / (f * (s * rho2))) * *p;
    return ((t1 - t2) + t3) / kPi;
}

Result<std::vector<double>> witt_mao_magnification(std::vector<double> l, double re, double rstar) {
    const double rho = rstar / re;
    const double rho2 = rho * rho;
    // An element costs about 0.3 us: short sequences stay on the calling thread.
    return parallel::map_ordered(
        std::span<const double>(l), [rho, rho2](double x) { return witt_mao_element(x, rho, rho2); },
        std::chrono::nanoseconds(300));
}

Result<std::vector<std::vector<double>>> multi_witt_mao_magnification(
    const std::vector<double>& l, const std::vector<double>& re, const std::vector<double>& rstar) {
    std::vector<std::pair<double, double>> pairs;
    pairs.reserve(re.size() * rstar.size());
    for (double a : re) {
        for (double b : rstar) pairs.emplace_back(a, b);
    }
    // Each pair gets its own copy of l and runs its own map over it, nested in
    // the map over the pairs; both share the one pool.
    auto per_pair = parallel::map_ordered(
        std::span<const std::pair<double, double>>(pairs),
        [&l](const std::pair<double, double>& pair) {
            return witt_mao_magnification(l, pair.first, pair.second);
        },
        std::chrono::nanoseconds(300) * l.size());
    std::vector<std::vector<double>> out;
    out.reserve(per_pair.size());
    for (auto& result : per_pair) {
        if (!result) return std::unexpected(result.error());
        out.push_back(std::move(*result));
    }
    return out;
}

}  // namespace zorvane::models
