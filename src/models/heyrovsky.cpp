#include "models/heyrovsky.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "ellip/carlson_batch.hpp"
#include "ellip/cel.hpp"
#include "ellip/legendre/ellipk.hpp"
#include "ellip/legendre/ellippi.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/elliprj.hpp"
#include "models/edge_moment.hpp"
#include "models/mean_value.hpp"
#include "models/witt_mao.hpp"

namespace zorvane::models {

namespace {
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Near r = l, n and m tend to 1 together; formed first, their complements
// 1 − n and 1 − m, taken by subtraction inside the elliptic integrals, carry a
// relative error of about ε·((l + r)/(r − l))² (2e-12 at |r − l| = 1e-2·l,
// 6e-14 at 0.1·l, against 60-digit references). Within this distance the
// complements are formed directly (|r − l| < 0.1·(l + r), about 0.2·l), as a
// fraction of l + r so that the test is symmetric in l and r.
constexpr double kLimbZone = 0.1;

// Radii and Einstein radius (in source radii) for which the products of the
// direct complements and of the elliptic form (l·r, (l + r)², (r − l)², c²)
// stay far from overflow and underflow. Rings beyond them are scaled first
// (ring_form).
constexpr double kZoneLow = 1e-150;
constexpr double kZoneHigh = 1e150;

// An Einstein radius beyond this many ring sizes (c > kDeep·(l + r)): the ring
// lies so deep inside the Einstein ring that A(u) = 1/u to the last digit
// around it, and the elliptic form reduces to
//   2π·A = (4c/(l + r))·K(n),  1 − n = ((r − l)/(l + r))²,
// its other terms being (l + r)²/c² ≤ 1e-120 of it. There c² would overflow
// or leave m within rounding of 1.
constexpr double kDeep = 0x1p200;

// Relative width of the band around r = l in which the logarithmic expansion
// replaces the elliptic form, for rings beyond the bounds of the direct
// complements above (within them the complements are exact to the last digits
// down to |r − l| = ε·l). The expansion is a series in (r - l)/l, so the
// band must shrink with l: |r - l| < 1e-5*l. At l = 0 the band is empty and the
// elliptic form is exact (n = m = 0).
constexpr double kDegenerateBand = 1e-5;
// The ring near the lens, 0 < |δ| < kLimbZone·s, from the complements
//   1 − n = (δ/s)²,  1 − m = δ²·(s² + 4c²)/(s²·D),  δ = r − l, s = l + r, D = δ² + 4c²,
// exact identities without subtraction, and Carlson's forms
//   K = RF(0, 1 − m, 1),  Π = K + (n/3)·RJ(0, 1 − m, 1, 1 − n).
// δ is exact this close to l.
struct NearRing {
    double d, big_d, nc, mc;
};
NearRing near_ring_setup(double delta, double s, double g) noexcept {
    const double d = delta * delta;
    const double big_d = d + g * 4.0;
    const double q = delta / s;
    const double nc = q * q;
    const double mc = nc * ((s * s + g * 4.0) / big_d);
    return {d, big_d, nc, mc};
}
double near_ring_finish(const NearRing& v, double s, double g, double big_k, double j) noexcept {
    const double big_p = big_k + ((1.0 - v.nc) * j) / 3.0;
    const double h = (4.0 / (s * std::sqrt(v.big_d))) * ((g + g) * big_k + v.d * big_p);
    return h / kTwoPi;
}
Result<double> near_ring(double delta, double s, double g) noexcept {
    const NearRing v = near_ring_setup(delta, s, g);
    const auto big_k = ellip::elliprf(0.0, v.mc, 1.0);
    if (!big_k) return big_k;
    const auto j = ellip::elliprj(0.0, v.mc, 1.0, v.nc);
    if (!j) return j;
    return near_ring_finish(v, s, g, *big_k, *j);
}

// Where heyrovsky_magnification goes for one ring: a value without elliptic
// integrals (`value`), the near-ring form from (delta, s, g), or the elliptic
// form from its parameters m and n.
struct RingForm {
    enum Kind { value, near, elliptic } kind;
    double result;  // the value, for `value`
    double delta, s, g, d, big_d, m, n;
};

RingForm ring_form(double l, double r, double re, double rstar) noexcept {
    RingForm form{};
    form.kind = RingForm::value;
    double c = re / rstar;

    // A ring through the lens: +inf, as the expansion below gives it. Said
    // here because for a subnormal l the band, relative to l, is empty and the
    // expansion's terms would meet 0·inf; and l = r = 0, a ring shrunk to a
    // point on the lens, is +inf as well (the forms below meet 0/0 there).
    // Without a lens (c = 0, or NaN) or at a negative separation r = l has no
    // such value: the expansion gives it (NaN), not the elliptic form (n = 1).
    if (std::fabs(r - l) == 0.0 && l >= 0.0 && c > 0.0) {
        form.result = std::numeric_limits<double>::infinity();
        return form;
    }

    // The value depends on l, r and c only through their ratios, and scaling
    // all three by a power of two is exact: rings whose radii would under- or
    // overflow in their squares and products are scaled to l + r in [1, 2).
    // (c may then leave the range of doubles: to infinity when the value
    // itself does, to zero when the ring is so far out that A = 1.)
    if (l >= 0.0 && r >= 0.0 && (l + r < kZoneLow || l + r > kZoneHigh) &&
        l + r <= std::numeric_limits<double>::max() && l + r > 0.0) {
        const int scale = -std::ilogb(l + r);
        l = std::ldexp(l, scale);
        r = std::ldexp(r, scale);
        c = std::ldexp(c, scale);
    }
    const double g = c * c;
    const double delta = r - l;
    const double gap = std::fabs(r - l);

    // A ring far from the lens, or around it far from it: the mean-value series
    // in the smaller radius about A at the larger one (the ring average is
    // symmetric in l and r, and so is this).
    if (l >= 0.0 && r >= 0.0) {
        const double big = l > r ? l : r;
        const double small = l > r ? r : l;
        const double u = big / std::fabs(c);
        if (big >= series::kFar * small && u > 0.0 && u <= std::numeric_limits<double>::max()) {
            const double ratio = small / big;
            form.result = series::mean_value(u, ratio * ratio, series::RING_WEIGHT,
                                             series::terms_for(big / small));
            return form;
        }
    }

    const double sum = l + r;
    if (gap > 0.0 && l >= 0.0 && r >= 0.0 && c > kDeep * sum) {
        const double q = delta / sum;
        const auto big_k = ellip::elliprf(0.0, q * q, 1.0);
        form.result = big_k ? ((c / sum) * (*big_k + *big_k)) / std::numbers::pi
                            : std::numeric_limits<double>::quiet_NaN();
        return form;
    }
    if (gap > 0.0 && gap < kLimbZone * sum && l > 0.0 && r > 0.0 && sum > kZoneLow &&
        sum < kZoneHigh && g < kZoneHigh) {
        form.kind = RingForm::near;
        form.delta = delta;
        form.s = sum;
        form.g = g;
        return form;
    }

    if (gap == 0.0 || gap < kDegenerateBand * l) {
        // Ring through the lens's neighbourhood: m and n tend to 1 together, and
        // the expansion of the elliptic form to first order in delta/l is used.
        // At delta = 0 the logarithm is +inf, the magnification of a ring
        // passing through the lens.
        const double a2 = l * l;
        const double s2 = a2 + g;
        const double t = delta / (l + l);
        const double big_l = std::log((l * (c * 8.0)) / (gap * std::sqrt(s2)));
        const double q = (1.0 - t) * ((c + c) / l);
        const double arc = std::atan(l / c);
        const double p = (c * ((a2 + a2) + g)) / (a2 * s2);
        const double h = delta * p + (q * big_l + arc * 4.0);
        form.result = h / kTwoPi;
        return form;
    }

    const double d = delta * delta;
    const double s = sum;
    const double big_d = d + g * 4.0;
    double k = ((c * 4.0) / s) * std::sqrt((l * r) / big_d);
    // For radii near the bottom of the range 4c/s overflows while l·r
    // underflows (∞·0); the same k through ratios that stay in range.
    if (std::isnan(k) && !std::isnan(s) && !std::isnan(big_d)) {
        k = ((c * 4.0) * std::sqrt((l / s) * (r / s))) / std::sqrt(big_d);
    }
    double n = ((l * 4.0) * r) / (s * s);
    // For radii near the bottom of the range l·r and s² underflow to 0/0: the
    // same quotient as a product of two ratios in [0, 1].
    if (std::isnan(n) && !std::isnan(s)) n = (4.0 * (l / s)) * (r / s);
    form.kind = RingForm::elliptic;
    form.s = s;
    form.g = g;
    form.d = d;
    form.big_d = big_d;
    form.m = k * k;
    form.n = n;
    return form;
}

double elliptic_finish(const RingForm& f, double big_k, double big_p) noexcept {
    const double h = (4.0 / (f.s * std::sqrt(f.big_d))) * ((f.g + f.g) * big_k + f.d * big_p);
    return h / kTwoPi;
}

// The ring's value from its form, one ring at a time.
Result<double> ring_value(const RingForm& form) noexcept {
    if (form.kind == RingForm::value) return form.result;
    if (form.kind == RingForm::near) return near_ring(form.delta, form.s, form.g);
    const auto big_k = ellip::ellipk(form.m);
    if (!big_k) return std::unexpected(big_k.error());
    const auto big_p = ellip::ellippi(form.n, form.m);
    if (!big_p) return std::unexpected(big_p.error());
    return elliptic_finish(form, *big_k, *big_p);
}

}  // namespace

// The point-lens magnification A(u) = (u² + 2)/(u·√(u² + 4)) averaged around
// the ring, |l + r·e^{iφ}|² = l² + r² + 2lr·cos φ, reduces to complete elliptic
// integrals (the ring decomposition of limb-darkened sources after Heyrovský;
// with c = re/rstar, in source radii):
//
//   2π·A = 4/((l + r)·√((r − l)² + 4c²))·[2c²·K(m) + (r − l)²·Π(n, m)],
//   n = 4lr/(l + r)²,  m = 16c²·lr/((l + r)²·((r − l)² + 4c²)).
//
// Near r = l, where n and m tend to 1 together, K(m) ≈ ln(4/√(1 − m)) and
// Π's term vanishes with (r − l)²; to first order in δ = r − l,
//
//   2π·A ≈ δ·c(2l² + c²)/(l²(l² + c²)) + (1 − δ/(2l))·(2c/l)·ln(8lc/(|δ|·√(l² + c²)))
//          + 4·atan(l/c).
Result<double> heyrovsky_magnification(double l, double r, double re, double rstar) noexcept {
    return ring_value(ring_form(l, r, re, rstar));
}

void heyrovsky_rings(double l, const double* r, std::size_t count, double re, double rstar,
                     double* out) noexcept {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const ellip::CarlsonZeroKernel kernel = ellip::carlson_zero_kernel();
    if (kernel == nullptr) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto v = heyrovsky_magnification(l, r[i], re, rstar);
            out[i] = v ? *v : kNaN;
        }
        return;
    }
    // The rings that reach RF(0, y, 1) and RJ(0, y, 1, p) wait here, four at a
    // time: the near-ring form, and the elliptic form where Π(n, m) is
    // RF + (n/3)·RJ.
    struct Pending {
        std::size_t at;
        RingForm form;
        NearRing near;
    };
    Pending pending[4];
    std::size_t waiting = 0;
    ellip::CarlsonZeroLanes lanes;
    const auto flush = [&] {
        for (std::size_t j = 0; j < 4; ++j) {
            const Pending& p = pending[j < waiting ? j : 0];
            if (p.form.kind == RingForm::near) {
                lanes.y[j] = p.near.mc;
                lanes.p[j] = p.near.nc;
            } else {
                lanes.y[j] = 1.0 - p.form.m;
                lanes.p[j] = 1.0 - p.form.n;
            }
        }
        lanes.want_rg = 0;
        kernel(lanes);
        for (std::size_t j = 0; j < waiting; ++j) {
            const Pending& p = pending[j];
            const unsigned bit = 1u << j;
            if (!(lanes.ok_rf & lanes.ok_rj & bit)) {
                out[p.at] = kNaN;
            } else if (p.form.kind == RingForm::near) {
                out[p.at] = near_ring_finish(p.near, p.form.s, p.form.g, lanes.rf[j], lanes.rj[j]);
            } else {
                // K(m): the Taylor polynomial for m < 0.9, else RF(0, 1 − m, 1).
                double big_k = lanes.rf[j];
                if (ellip::taylor::interval_of(p.form.m) >= 0) {
                    const auto k = ellip::ellipk(p.form.m);
                    if (!k) {
                        out[p.at] = kNaN;
                        continue;
                    }
                    big_k = *k;
                }
                const double big_p = lanes.rf[j] + (p.form.n * lanes.rj[j]) / 3.0;
                out[p.at] = elliptic_finish(p.form, big_k, big_p);
            }
        }
        waiting = 0;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const RingForm form = ring_form(l, r[i], re, rstar);
        if (form.kind == RingForm::value) {
            out[i] = form.result;
            continue;
        }
        if (form.kind == RingForm::near) {
            pending[waiting++] = {i, form, near_ring_setup(form.delta, form.s, form.g)};
        } else if (ellip::ellippi_is_carlson_sum(form.n, form.m)) {
            pending[waiting++] = {i, form, {}};
        } else {
            const auto v = ring_value(form);
            out[i] = v ? *v : kNaN;
            continue;
        }
        if (waiting == 4) flush();
    }
    if (waiting > 0) flush();
}

namespace {

// The cel forms below take a block of rings at a time: first the plain ones
// (a lens at l > 0 with c² in range, a ring r > 0 off the lens with l + r in
// range) are picked out, their radii into `radius` and indices into `at`,
// the others handed to `other`; then their parameters are formed side by
// side (a loop the compiler vectorises) and the cels taken eight at a time.
constexpr std::size_t kBlock = 64;

template <class Other>
std::size_t pick_plain(double l, const double* r, std::size_t first, std::size_t end, bool plain_lens,
                       double* radius, std::size_t* at, Other other) {
    std::size_t n = 0;
    for (std::size_t i = first; i < end; ++i) {
        const double s = l + r[i];
        if (plain_lens && r[i] > 0.0 && r[i] != l && s > kZoneLow && s < kZoneHigh) {
            radius[n] = r[i];
            at[n++] = i;
        } else {
            other(i);
        }
    }
    return n;
}

}  // namespace

// 2π·A = 4/(s·√D)·[2c²·K(m) + δ²·Π(n, m)] = 4/(s·√D)·cel(kc, p, 2c² + δ², 2c²·p + δ²),
// p = 1 − n = (δ/s)², kc² = 1 − m = p·(s² + 4c²)/D (the near ring's exact
// complements), δ = r − l, s = l + r, D = δ² + 4c².
void ring_magnifications(double l, const double* r, std::size_t count, double re, double rstar,
                         double* out) noexcept {
    const double c = re / rstar;
    const double g = c * c;
    const bool plain_lens = l > 0.0 && g > 0.0 && g < kZoneHigh;
    double radius[kBlock], kc[kBlock], p[kBlock], a[kBlock], b[kBlock], scale[kBlock], value[kBlock];
    std::size_t at[kBlock];
    for (std::size_t first = 0; first < count; first += kBlock) {
        const auto other = [&](std::size_t i) {
            const auto v = heyrovsky_magnification(l, r[i], re, rstar);
            out[i] = v ? *v : std::numeric_limits<double>::quiet_NaN();
        };
        const std::size_t n = pick_plain(l, r, first, std::min(count, first + kBlock), plain_lens, radius, at, other);
        for (std::size_t k = 0; k < n; ++k) {
            const double delta = radius[k] - l;
            const double s = l + radius[k];
            const double d = delta * delta;
            const double big_d = d + g * 4.0;
            const double q = delta / s;
            const double pk = q * q;
            kc[k] = std::sqrt(pk * ((s * s + g * 4.0) / big_d));
            p[k] = pk;
            a[k] = (g + g) + d;
            b[k] = (g + g) * pk + d;
            scale[k] = (4.0 / (s * std::sqrt(big_d))) / kTwoPi;
        }
        ellip::cel_lanes(kc, p, a, b, value, n);
        for (std::size_t k = 0; k < n; ++k) out[at[k]] = scale[k] * value[k];
    }
}

double ring_cosine_moment(double l, double r, double re, double rstar) noexcept {
    const double rho = rstar / re;
    if (r == 0.0 && l >= 0.0 && rho >= 0.0 && rho <= std::numeric_limits<double>::max()) return 0.0;
    const double big_r = r * rho;
    const Slopes disk = witt_mao_gradient_element(l / r, big_r, big_r * big_r);
    return (0.5 * big_r) * disk.du;
}

// With M(m) = (2E − (2 − m)K)/m (edge_moment.hpp), in source radii,
//   C = 2c²·M(m)·4/(2π·s·√D),  M(m) = cel(kc, 1, 1, −1),
// kc² = 1 − m from the exact complements as in ring_magnifications, m itself
// as n·4c²/D (which keeps its digits when it is small). The cel loop's first
// step forms kc − 1 ≈ −m/2, which costs it about ε/m: below kSmallM the
// series takes M instead.
void ring_cosine_moments(double l, const double* r, std::size_t count, double re, double rstar,
                         double* out) noexcept {
    const double c = re / rstar;
    const double g = c * c;
    const bool plain_lens = l > 0.0 && g > 0.0 && g < kZoneHigh;
    double radius[kBlock], kc[kBlock], p[kBlock], a[kBlock], b[kBlock], m[kBlock], scale[kBlock], value[kBlock];
    std::size_t at[kBlock];
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t n = pick_plain(l, r, first, std::min(count, first + kBlock), plain_lens, radius, at,
                                         [&](std::size_t i) { out[i] = ring_cosine_moment(l, r[i], re, rstar); });
        for (std::size_t k = 0; k < n; ++k) {
            const double delta = radius[k] - l;
            const double s = l + radius[k];
            const double big_d = delta * delta + g * 4.0;
            const double q = delta / s;
            kc[k] = std::sqrt((q * q) * ((s * s + g * 4.0) / big_d));
            p[k] = 1.0;
            a[k] = 1.0;
            b[k] = -1.0;
            m[k] = (((l * 4.0) * radius[k]) / (s * s)) * ((g * 4.0) / big_d);
            scale[k] = ((g + g) * (4.0 / (s * std::sqrt(big_d)))) / kTwoPi;
        }
        ellip::cel_lanes(kc, p, a, b, value, n);
        for (std::size_t k = 0; k < n; ++k) {
            const double moment = m[k] < kSmallM ? edge_moment_series(m[k]) : value[k];
            out[at[k]] = scale[k] * moment;
        }
    }
}

}  // namespace zorvane::models
