#include "models/radial_rule.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#include "numeric/radial_rules.hpp"

namespace zorvane::models::radial {

namespace {

namespace rules = quadrature::radial_rules;
using Complex = std::complex<double>;

constexpr double kHalfPi = std::numbers::pi / 2.0;

// Relative error aimed at for the whole integral, and the nodes added to what
// the ellipse estimate asks for (its constant is unknown). Measured against
// 30-digit references over the zones of the separation (lens at the centre,
// inside, at the limb down to |l − 1| = 1e-12 on both sides, outside) and
// sources from 1e-6 to 10 Einstein radii, these keep every result within
// 1e-13.
#ifdef RADIAL_TUNE
}  // namespace
double tune_tol = 1e-14, tune_margin = 2.0, tune_slow = 0.0, tune_extra = 1.0;
namespace {
#define kTolerance tune_tol
#define kMargin tune_margin
#else
constexpr double kTolerance = 1e-14;
constexpr double kMargin = 2.0;
#endif
// A large source (c = re/rstar) brings the singularities at r = ±l ± 2ic,
// where (r ∓ l)² + 4c² vanishes, towards the real axis. There the ring
// behaves like an inverse square root, and at the node counts used (6 to 12)
// the error falls like ρ^(−2n·kNearLensRate) rather than ρ^(−2n): measured at
// l = 1, 0.75 fits c = 1 (ρ 4.2, seen 3.1) and c = 3.3 (ρ 6.9, seen 4.2).
// Taken into account up to c = kNearLens, beyond which they lie farther out
// than the integrand's entire parts already ask for.
constexpr double kNearLens = 30.0;
constexpr double kNearLensRate = 0.75;
// The integrand's entire parts (sin θ, cos θ, the profile, the lens far
// away) need nodes too: they count as a singularity kEntire off the middle
// of each piece (8 nodes on [0, π/2] then reach 1e-15, as a centred lens
// shows, and a short piece of a table still takes 4 or 5).
constexpr double kEntire = 3.0;
// A logarithmic piece whose ellipse parameter exceeds this counts as short
// (see Planner::piece).
constexpr double kShortPiece = 20.0;
// Nodes added to every logarithmic piece: the error of these rules has a
// larger constant than Gauss–Legendre's (measured: with the tolerance above,
// one node more takes the fixed law inside the star from 6e-14 to 2e-14 and
// a table's last piece with the lens on the limb from 4e-12 to 1e-14, for
// half a node per epoch).
constexpr double kLogExtra = 1.0;
// Halvings of a piece at most (a piece that asks for more nodes than its rule
// has is halved).
constexpr int kDepth = 8;

// Bernstein-ellipse parameter of a point z for [−1, 1]: with a the ellipse's
// semi-major axis, half the sum of the distances to ±1, ρ = a + √(a² − 1).
double ellipse(Complex z) noexcept {
    const double x = z.real(), y = std::fabs(z.imag());
    const double a = y == 0.0 ? std::fabs(x) : 0.5 * (std::sqrt((x - 1.0) * (x - 1.0) + y * y) + std::sqrt((x + 1.0) * (x + 1.0) + y * y));
    return a <= 1.0 ? 1.0 : a + std::sqrt((a - 1.0) * (a + 1.0));
}

// sin θ and cos θ for θ ∈ [0, π/2], to about an ulp: Taylor polynomials on
// [0, π/4] in θ, or in π/2 − θ above π/4 (exact there by Sterbenz's lemma,
// with π/2's low part added), so that μ = cos θ keeps its relative digits
// at the limb. Basic operations only: the same bits on every machine (the
// library's sincos picks code by processor), and no call, so that a loop
// over the nodes runs without one.
// sin x for x ∈ [0, π/2], to about an ulp: its Taylor series to x²³ (the
// next term is below 1e-20 there). Basic operations only, so the same bits
// on every machine (the library's sin picks code by processor), and no call
// or branch, so that a loop over the nodes vectorises.
inline double sine(double x) noexcept {
    const double x2 = x * x;
    double sum = -1.0 / 25852016738884976640000.0;  // −1/23!
    for (const double c : {1.0 / 51090942171709440000.0, -1.0 / 121645100408832000.0, 1.0 / 355687428096000.0,
                           -1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0, 1.0 / 362880.0,
                           -1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0}) {
        sum = c + x2 * sum;
    }
    return x + x * (x2 * sum);
}

// sin θ and cos θ = sin(π/2 − θ) for θ ∈ [0, π/2], π/2 − θ formed to the
// last digit (π/2 in two parts), so that μ = cos θ keeps its relative digits
// at the limb.
inline void sin_cos(double theta, double& s, double& c) noexcept {
    constexpr double kPio2Hi = 1.5707963267948966, kPio2Lo = 6.123233995736766e-17;
    s = sine(theta);
    c = sine((kPio2Hi - theta) + kPio2Lo);
}

// θ[i] (in r) to r[i] = sin θ and μ[i] = cos θ, and the weights from dθ to dr.
void to_radii(double* __restrict r, double* __restrict mu, double* __restrict w, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        double sine, cosine;
        sin_cos(r[i], sine, cosine);
        r[i] = sine;
        mu[i] = cosine;
        w[i] = w[i] * cosine;
    }
}

// sinh x and cosh x for 0 <= x <= 700, to a few ulps, from basic operations
// (as sin_cos): the Taylor series below 1, else e^x = 2^k·e^f with
// |f| <= ln2/2.
inline void sinh_cosh(double x, double& sh, double& ch) noexcept {
    if (x < 1.0) {
        const double x2 = x * x;
        const double series =
            1.0 / 6.0 +
            x2 * (1.0 / 120.0 +
                  x2 * (1.0 / 5040.0 +
                        x2 * (1.0 / 362880.0 +
                              x2 * (1.0 / 39916800.0 +
                                    x2 * (1.0 / 6227020800.0 +
                                          x2 * (1.0 / 1307674368000.0 +
                                                x2 * (1.0 / 355687428096000.0 + x2 * (1.0 / 121645100408832000.0))))))));
        sh = x + x * (x2 * series);
        ch = std::sqrt(1.0 + sh * sh);
        return;
    }
    constexpr double kLn2Hi = 6.93147180369123816490e-01, kLn2Lo = 1.90821492927058770002e-10;
    const double k = std::floor(std::min(x, 700.0) * 1.4426950408889634 + 0.5);
    const double f = (x - k * kLn2Hi) - k * kLn2Lo;
    // e^f to f¹³ (the next term is below 1e-17 for |f| <= ln2/2).
    double e = 1.0 / 6227020800.0;
    for (const double coefficient : {1.0 / 479001600.0, 1.0 / 39916800.0, 1.0 / 3628800.0, 1.0 / 362880.0,
                                     1.0 / 40320.0, 1.0 / 5040.0, 1.0 / 720.0, 1.0 / 120.0, 1.0 / 24.0,
                                     1.0 / 6.0, 0.5, 1.0, 1.0}) {
        e = coefficient + f * e;
    }
    const double big = std::ldexp(e, static_cast<int>(k));
    const double small = 1.0 / big;
    sh = 0.5 * (big - small);
    ch = 0.5 * (big + small);
}

// A piece [a, b] in θ mapped from t ∈ [0, 1]: linearly, or θ = a + d·sinh(S·t)
// (towards a singularity beyond a), or θ = b − d·sinh(S·(1 − t)) (beyond b).
struct Map {
    using Kind = Piece::Kind;
    static constexpr Kind linear = Piece::linear, left = Piece::left, right = Piece::right;
    Kind kind = linear;
    double a = 0.0, b = 0.0, d = 0.0, span = 0.0;

    static Map make(Kind kind, double a, double b, double d) noexcept {
        Map m{kind, a, b, d, 0.0};
        m.span = kind == linear ? b - a : std::asinh((b - a) / d);
        return m;
    }
    // θ(t) and dθ/dt.
    void at(double t, double& theta, double& slope) const noexcept {
        if (kind == linear) {
            theta = a + span * t;
            slope = span;
            return;
        }
        const double s = kind == left ? span * t : span * (1.0 - t);
        double sinh, cosh;
        sinh_cosh(s, sinh, cosh);
        theta = kind == left ? a + d * sinh : b - d * sinh;
        slope = span * (d * cosh);
    }
    // The smallest ellipse parameter, in t mapped onto [−1, 1], of the
    // preimages of z (for a sinh map: asinh w and ±iπ − asinh w).
    double rho(Complex z) const noexcept {
        if (kind == linear) return ellipse((2.0 * (z - a)) / span - 1.0);
        const Complex w = kind == left ? (z - a) / d : (b - z) / d;
        // A real w has a real asinh, and ±iπ − asinh w lie on one ellipse.
        const Complex s0 = w.imag() == 0.0 ? Complex(std::asinh(w.real())) : std::asinh(w);
        const Complex ipi(0.0, std::numbers::pi);
        const auto at = [&](Complex s) {
            const Complex t = kind == left ? s / span : 1.0 - s / span;
            return ellipse(2.0 * t - 1.0);
        };
        const double first = std::min(at(s0), at(ipi - s0));
        return w.imag() == 0.0 ? first : std::min(first, at(-ipi - s0));
    }
};

// The singularities of the ring's integrand in θ (conjugates left out: they
// lie on the same ellipse).
struct Singularities {
    std::array<Complex, 6> z;
    std::size_t count = 0;
    std::size_t lens_from = 6;  // z[lens_from..] are the r = ±l ± 2ic ones
    void add(Complex v) noexcept { z[count++] = v; }
};

Singularities singularities(double l, double asin_l, double c) {
    Singularities s;
    if (l > 0.0 && l <= 1.0) {
        const double t = asin_l;
        s.add(t);
        s.add(-t);
        s.add(std::numbers::pi - t);
    } else if (l > 1.0) {
        s.add(Complex(kHalfPi, std::acosh(l)));
    }
    // r = ±l ± 2ic, where (r − l)² + 4c² or its mirror vanishes. For c ≥ 4
    // they lie beyond asinh 8 from the real axis, farther than the growth of
    // the integrand's entire parts (kEntire) already allow for.
    if (c > 0.0 && c < kNearLens) {
        const Complex z = std::asin(Complex(l, 2.0 * c));
        s.lens_from = s.count;
        s.add(z);
        s.add(-std::conj(z));
        s.add(std::numbers::pi - z);
    }
    return s;
}

// A rough size of the integrand over [a, b] in θ, to share the tolerance out:
// r·μ (one μ more for an integrand that vanishes at the limb) times the
// point-lens magnification at the larger of r and l, 1 + c/max(r, l), times
// dr/dθ = μ, at the piece's middle.
double weight(double a, double b, double l, double c, bool vanishes) noexcept {
    double r, mu;
    sin_cos(0.5 * (a + b), r, mu);
    const double lens = 1.0 + std::min(c, 1e150) / std::max({r, l, 1e-300});
    return (b - a) * (r * mu * (vanishes ? mu : 1.0) * lens);
}

struct Planner {
    const Singularities& sing;
    double l, c, total;
    bool vanishes;
    Rule& rule;

    // Piece [a, b]; log_end is −1 (a is θ_l), +1 (b is θ_l) or 0.
    bool interpolated;

    void piece(double a, double b, int log_end, int depth, double size) {
        const double end = log_end < 0 ? a : b;
        // The singularity at the logarithmic end is the rule's own.
        const auto skip = [&](Complex z) { return log_end != 0 && z.imag() == 0.0 && z.real() == end; };
        const auto distance = [](Complex z, double x) { return std::sqrt(std::norm(z - x)); };
        const auto worst = [&](const Map& m) {
            double rho = std::numeric_limits<double>::infinity();
            for (std::size_t k = 0; k < sing.count; ++k) {
                if (skip(sing.z[k])) continue;
                const double r = m.rho(sing.z[k]);
                rho = std::min(rho, k >= sing.lens_from ? std::pow(r, kNearLensRate) : r);
            }
            return rho;
        };
        Map best = Map::make(Map::linear, a, b, 0.0);
        double rho = worst(best);
        // The sinh maps towards the nearest singularity beyond either end.
        double near_a = std::numeric_limits<double>::infinity(), near_b = near_a;
        for (std::size_t k = 0; k < sing.count; ++k) {
            if (skip(sing.z[k])) continue;
            const Complex z = sing.z[k];
            if (z.real() <= a) near_a = std::min(near_a, distance(z, a));
            if (z.real() >= b) near_b = std::min(near_b, distance(z, b));
        }
        for (const Map::Kind kind : {Map::left, Map::right}) {
            const double d = kind == Map::left ? near_a : near_b;
            if (!(d > 0.0 && d < b - a)) continue;
            const Map m = Map::make(kind, a, b, d);
            const double r = worst(m);
            if (r > rho) {
                rho = r;
                best = m;
            }
        }
        // A piece's share of the whole, at most all of it: the rough sizes
        // overflow for a lens of extreme size (c/l beyond 1e308), and then the
        // piece takes the whole tolerance.
        const double ratio = size / total;
        const double share = ratio <= 1.0 ? std::max(ratio, 1e-300) : 1.0;
        // Gauss–Legendre's error falls like ρ^(−2n). The logarithmic rule is
        // exact for p + q·ln with p and q of degree < n only, so its error may
        // fall as slowly as ρ^(−n). Measured: on the long pieces of a lens
        // inside the star it follows ρ^(−2n) (with kLogExtra nodes more, down
        // to 2e-14 for the whole integral); on a short piece (a knot next to
        // the lens, ρ > kShortPiece) it falls like ρ^(−n) (3 nodes leave 7e-11
        // on a piece of 0.01 at l = 0.76, 6 leave nothing), and so it does on
        // the last piece of a lens on the limb (θ_l = π/2, where r − l =
        // sin θ − 1 vanishes to second order: a table's last segment of 0.25
        // kept 5e-12 with the nodes of ρ^(−2n)).
        const double digits = (std::max(0.0, std::log(share / kTolerance)) / 2.0 + kMargin) *
                              (interpolated && log_end == 0 ? 2.0 : 1.0);
        const double far = (2.0 * kEntire) / (b - a);
        const double rho_entire = far + std::sqrt(far * far + 1.0);
        const auto nodes_for = [&](double r) {
#ifdef RADIAL_TUNE
            const double slow = log_end != 0 && (r > (tune_slow > 0 ? tune_slow : kShortPiece) || end == kHalfPi) ? 2.0 : 1.0;
            return r > 1.0 ? std::ceil(slow * digits / std::log(r) + (log_end != 0 ? tune_extra : 0.0)) : 1e9;
#else
            const double slow = log_end != 0 && (r > kShortPiece || end == kHalfPi) ? 2.0 : 1.0;
            return r > 1.0 ? std::ceil(slow * digits / std::log(r) + (log_end != 0 ? kLogExtra : 0.0)) : 1e9;
#endif
        };
        const double by_ellipse = nodes_for(rho);
        const double entire = nodes_for(rho_entire);
        const double wanted = std::max({1.0, by_ellipse, entire});
        const std::size_t most = log_end != 0 ? rules::GAUSS_LOG_MAX : rules::GAUSS_LEGENDRE_MAX;
        if (wanted > static_cast<double>(most) && depth < kDepth) {
            double mid, slope;
            best.at(0.5, mid, slope);
            piece(a, mid, log_end < 0 ? -1 : 0, depth + 1, weight(a, mid, l, c, vanishes));
            piece(mid, b, log_end > 0 ? 1 : 0, depth + 1, weight(mid, b, l, c, vanishes));
            return;
        }
        const std::size_t n = wanted < static_cast<double>(most) ? static_cast<std::size_t>(wanted) : most;
        const auto& table = log_end != 0 ? rules::GAUSS_LOG.data() : rules::GAUSS_LEGENDRE.data();
        const std::size_t first = log_end != 0 ? rules::GAUSS_LOG_START[n - 1] : rules::GAUSS_LEGENDRE_START[n - 1];
        const std::size_t base = rule.size();
        rule.pieces.push_back({base, n, log_end, best.kind, best.a, best.b, best.d, best.span});
        rule.r.resize(base + n);
        rule.mu.resize(base + n);
        rule.w.resize(base + n);
        rule.t.resize(base + n);
        double* __restrict const r = rule.r.data() + base;
        double* __restrict const mu = rule.mu.data() + base;
        double* __restrict const w = rule.w.data() + base;
        for (std::size_t i = 0; i < n; ++i) {
            // The log rule has its singular end at t = 0: mirrored for a piece
            // whose b is θ_l.
            const auto& node = log_end > 0 ? table[first + (n - 1 - i)] : table[first + i];
            const double t = log_end > 0 ? 1.0 - node.x : node.x;
            double slope;
            best.at(t, r[i], slope);  // θ, for now
            w[i] = node.w * slope;
            rule.t[base + i] = t;
        }
        to_radii(r, mu, w, n);
    }
};

}  // namespace

double parameter(const Piece& p, double theta) noexcept {
    if (p.kind == Piece::linear) return (theta - p.a) / p.span;
    if (p.kind == Piece::left) return std::asinh((theta - p.a) / p.d) / p.span;
    return 1.0 - std::asinh((p.b - theta) / p.d) / p.span;
}

void plan(const Structure& s, Rule& rule) {
    rule.r.clear();
    rule.mu.clear();
    rule.w.clear();
    rule.t.clear();
    rule.pieces.clear();
    rule.r.reserve(64);
    rule.mu.reserve(64);
    rule.w.reserve(64);
    rule.t.reserve(64);
    const double a = std::asin(s.lo);
    const double b = s.hi >= 1.0 ? kHalfPi : std::asin(s.hi);
    if (!std::isfinite(s.l) || !(s.c >= 0.0) || !(s.c <= std::numeric_limits<double>::max())) {
        // No structure to follow: the values are NaN or the lens absent.
        const std::size_t n = 16, first = rules::GAUSS_LEGENDRE_START[n - 1];
        rule.pieces.push_back({0, n, 0, Piece::linear, a, b, 0.0, b - a});
        for (std::size_t i = 0; i < n; ++i) {
            rule.t.push_back(rules::GAUSS_LEGENDRE[first + i].x);
            const double theta = a + (b - a) * rules::GAUSS_LEGENDRE[first + i].x;
            double r, mu;
            sin_cos(theta, r, mu);
            rule.r.push_back(r);
            rule.mu.push_back(mu);
            rule.w.push_back((rules::GAUSS_LEGENDRE[first + i].w * (b - a)) * mu);
        }
        return;
    }
    // The cuts in θ: the ends, θ_l, the knots.
    thread_local std::vector<double> cuts, sizes;
    cuts.assign({a, b});
    const bool has_log = s.l > 0.0 && s.l >= s.lo && s.l <= s.hi;
    const double asin_l = s.l > 0.0 && s.l <= 1.0 ? std::asin(s.l) : 0.0;
    const double theta_l = has_log ? (s.l >= 1.0 ? kHalfPi : asin_l) : 0.0;
    if (has_log) cuts.push_back(theta_l);
    for (const double k : s.knots) {
        if (k > s.lo && k < s.hi) cuts.push_back(std::asin(k));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    const Singularities sing = singularities(s.l, asin_l, s.c);
    double total = 0.0;
    sizes.resize(cuts.size() - 1);
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        sizes[i] = weight(cuts[i], cuts[i + 1], s.l, s.c, s.vanishes_at_limb);
        total += sizes[i];
    }
    Planner planner{sing, s.l, s.c, total, s.vanishes_at_limb, rule, s.interpolated};
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        const int log_end = has_log && cuts[i] == theta_l ? -1 : has_log && cuts[i + 1] == theta_l ? 1 : 0;
        planner.piece(cuts[i], cuts[i + 1], log_end, 0, sizes[i]);
    }
}

}  // namespace zorvane::models::radial
