#include "models/flux_map.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <span>
#include <vector>

#include "common/panic.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/integrated_gradient.hpp"
#include "models/mean_value.hpp"
#include "numeric/interp.hpp"
#include "numeric/quadrature.hpp"
#include "numeric/radial_rules.hpp"

namespace zorvane::models {

namespace {

// From this many radii on, a table (with increasing radii) is dense: the
// rule's pieces end only at the two knots around the lens, and across the
// others the ring integrand is interpolated on each piece and integrated
// exactly against every linear segment. Cut at every knot, each segment
// would need its own few nodes (some 1000 rings for 400 knots); crossed, the
// pieces need twice the nodes of a smooth profile, and each knot costs the
// two antiderivatives of the piece's interpolants there.
constexpr std::size_t kDenseKnots = 24;

constexpr std::size_t kMostNodes = quadrature::radial_rules::GAUSS_LEGENDRE_MAX;

// The Legendre three-term recurrence P_{k+1} = (A_k·x)·P_k + B_k·P_{k−1},
// A_k = (2k + 1)/(k + 1), B_k = −k/(k + 1), for k up to the most nodes.
struct Recurrence {
    double a[kMostNodes + 2], b[kMostNodes + 2];
    constexpr Recurrence() : a(), b() {
        for (std::size_t k = 0; k < kMostNodes + 2; ++k) {
            a[k] = (2.0 * k + 1.0) / (k + 1.0);
            b[k] = -static_cast<double>(k) / (k + 1.0);
        }
    }
};
constexpr Recurrence kLegendre{};

// The interpolants of one piece of the rule, of h = g·dr/dt and of h·r in the
// piece's parameter t (x = 2t − 1), as Legendre series of their
// antiderivatives F(x) = (1/2)·∫₋₁ˣ (so F(−1) = 0 and F(1) is the piece's
// integral): e[j] for j <= n, from the Gauss coefficients
// c_k = (2k + 1)·Σᵢ Wᵢ·hᵢ·P_k(xᵢ) through ∫₋₁ˣ P_k = (P_{k+1} − P_{k−1})/(2k + 1).
template <std::size_t S>
struct PieceSeries {
    std::size_t terms;
    double e[S][kMostNodes + 1];
};

// v[s][i] = Wᵢ·hᵢ for each of the S integrands h (the rule's weight times
// g, say, and g·r), x[i] the nodes in [−1, 1]; n <= kMostNodes. The series
// share the recurrence and are otherwise independent: each has the bits it
// would have alone.
template <std::size_t S>
void piece_series(const std::array<const double*, S>& v, const double* x, std::size_t n, PieceSeries<S>& out) noexcept {
    double c[S][kMostNodes + 2] = {};
    double prev[kMostNodes], cur[kMostNodes];
    for (std::size_t i = 0; i < n; ++i) {
        prev[i] = 1.0;
        cur[i] = x[i];
    }
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t q = 0; q < S; ++q) c[q][0] = c[q][0] + v[q][i];
    }
    for (std::size_t k = 1; k < n; ++k) {
        double sum[S] = {};
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t q = 0; q < S; ++q) sum[q] = sum[q] + v[q][i] * cur[i];
            const double next = (kLegendre.a[k] * x[i]) * cur[i] + kLegendre.b[k] * prev[i];
            prev[i] = cur[i];
            cur[i] = next;
        }
        for (std::size_t q = 0; q < S; ++q) c[q][k] = sum[q] * (2.0 * k + 1.0);
    }
    // (1/2)·[c₀·(P₀ + P₁) + Σ_{k>=1} c_k·(P_{k+1} − P_{k−1})/(2k + 1)].
    out.terms = n + 1;
    for (std::size_t j = 0; j <= n; ++j) {
        for (std::size_t q = 0; q < S; ++q) {
            const double from_below = j == 0 ? c[q][0] : c[q][j - 1] / (2.0 * j - 1.0);
            out.e[q][j] = 0.5 * (from_below - c[q][j + 1] / (2.0 * j + 3.0));
        }
    }
}

// The antiderivatives at the points x[m], m < count, into f[s][m], by
// Clenshaw's sums (all points side by side).
template <std::size_t S>
void antiderivatives(const PieceSeries<S>& s, const double* x, std::size_t count,
                     const std::array<double*, S>& f) noexcept {
    constexpr std::size_t kChunk = 64;
    for (std::size_t first = 0; first < count; first += kChunk) {
        const std::size_t m = std::min(kChunk, count - first);
        double b[S][kChunk], c[S][kChunk];  // b_{j+1}, b_{j+2}
        for (std::size_t q = 0; q < S; ++q) {
            for (std::size_t i = 0; i < m; ++i) b[q][i] = c[q][i] = 0.0;
        }
        for (std::size_t j = s.terms; j-- > 0;) {
            const double a = kLegendre.a[j], beta = kLegendre.b[j + 1];
            for (std::size_t i = 0; i < m; ++i) {
                const double ax = a * x[first + i];
                for (std::size_t q = 0; q < S; ++q) {
                    const double next = s.e[q][j] + ax * b[q][i] + beta * c[q][i];
                    c[q][i] = b[q][i];
                    b[q][i] = next;
                }
            }
        }
        for (std::size_t q = 0; q < S; ++q) {
            for (std::size_t i = 0; i < m; ++i) f[q][first + i] = b[q][i];
        }
    }
}

// The table as a profile for integrated_element: no uniform part, kinks at
// its radii. For a dense table `angle` holds asin of the radii in [0, 1] and
// `line_intercept`, `line_slope` each segment's line P = intercept + slope·r.
// For the gradients: its steps (a jump at each end of the radii that shine and
// at each repeated radius) and whether it has them (increasing finite radii,
// finite values and a positive integral).
struct TabulatedProfile {
    static constexpr double uniform = 0.0;
    static constexpr bool vanishes_at_limb = false;
    std::span<const double> radius;
    std::span<const double> brightness;
    Support covered;
    double norm;
    bool sorted;
    std::span<const double> angle, line_intercept, line_slope;
    double operator()(double r, double /*mu*/) const noexcept { return at(r); }
    double at(double r) const noexcept {
        return interp::interp(radius, brightness, r, interp::ExtrapolationMode::Fixed(0.0));
    }
    Support support() const noexcept { return covered; }
    std::span<const double> knots() const noexcept { return radius; }
    bool dense() const noexcept { return sorted && radius.size() >= kDenseKnots; }

    // The nearest knots strictly below and above l (none, one or two), into
    // `out`: the segment or the two segments that hold the lens.
    std::span<const double> knots_around(double l, double* out) const noexcept {
        const auto below = std::lower_bound(radius.begin(), radius.end(), l);
        const auto above = std::upper_bound(below, radius.end(), l);
        std::size_t k = 0;
        if (below != radius.begin()) out[k++] = *(below - 1);
        if (above != radius.end()) out[k++] = *above;
        return {out, k};
    }

    // Σ over the rule of the dense form. A piece at r = l lies within one
    // segment, where P is linear: its nodes as they are. Any other piece: its
    // interpolants (PieceSeries) integrated exactly against each segment it
    // crosses, through their antiderivatives at the knots inside it.
    double dense_integral(const radial::Rule& rule, const double* g, bool& any_finite) const {
        double sum = 0.0;
        over_pieces<2>(
            rule, {g, nullptr}, any_finite,
            [&](std::size_t i) {
                const double v = g[i] * at(rule.r[i]);
                if (!std::isfinite(v)) return;
                any_finite = true;
                sum = sum + rule.w[i] * v;
            },
            [&](std::size_t j, const double* d) { sum = sum + (line_intercept[j] * d[0] + line_slope[j] * d[1]); });
        return sum;
    }

    // The same sum with, in the same pass, the gradient's two integrals over
    // the rule (integrated_gradient.hpp): Σ P'·gc·w and Σ P'·r·g·w, gc the
    // cosine moments' integrand.
    double dense_integral(const radial::Rule& rule, const double* g, bool& any_finite, const double* gc,
                          double& for_u, double& for_rho) const {
        double sum = 0.0, su = 0.0, sr = 0.0;
        over_pieces<3>(
            rule, {g, nullptr, gc}, any_finite,
            [&](std::size_t i) {
                const double weight = rule.w[i] * slope_at(rule.r[i]);
                const double tu = weight * gc[i], tr = weight * (rule.r[i] * g[i]);
                if (std::isfinite(tu)) su = su + tu;
                if (std::isfinite(tr)) sr = sr + tr;
                const double v = g[i] * at(rule.r[i]);
                if (!std::isfinite(v)) return;
                any_finite = true;
                sum = sum + rule.w[i] * v;
            },
            [&](std::size_t j, const double* d) {
                sum = sum + (line_intercept[j] * d[0] + line_slope[j] * d[1]);
                su = su + line_slope[j] * d[2];
                sr = sr + line_slope[j] * d[1];
            });
        for_u = su;
        for_rho = sr;
        return sum;
    }

    // P'(r) of an ordered table, 0 outside it (r never on a knot).
    double slope_at(double r) const noexcept {
        const std::size_t j = static_cast<std::size_t>(std::upper_bound(radius.begin(), radius.end(), r) - radius.begin());
        if (j == 0 || j >= radius.size()) return 0.0;
        return line_slope[j - 1];
    }

    // What the gradients read besides the dense form (integrated_gradient.hpp).
    double slope(double r, double /*mu*/) const noexcept { return sorted ? slope_at(r) : 0.0; }
    std::span<const Jump> jumps() const noexcept { return steps; }
    bool differentiable() const noexcept { return has_moments; }

  private:
    // The pieces of the rule: node(i) for each node of a piece at r = l (or
    // one too long for the series); for any other piece the interpolants of
    // w·h for the integrands h (h[1] null: w·h[0]·r), integrated across each
    // segment j it crosses (segment(j, d), d[s] the part of integrand s in
    // the segment from knot j to j + 1, j < size − 1). A non-finite w·h[0]
    // counts as 0 (and as not finite in any_finite), as do the others.
    template <std::size_t S, class Node, class Segment>
    void over_pieces(const radial::Rule& rule, const std::array<const double*, S>& h, bool& any_finite, Node node,
                     Segment segment) const {
        thread_local std::vector<double> x;
        thread_local std::vector<double> f[S];
        for (const radial::Piece& piece : rule.pieces) {
            const std::size_t n = piece.count;
            if (piece.log_end != 0 || n > kMostNodes) {
                for (std::size_t i = piece.first; i < piece.first + n; ++i) node(i);
                continue;
            }
            double v[S][kMostNodes], xs[kMostNodes];
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t k = piece.first + i;
                const double value = rule.w[k] * h[0][k];
                const bool finite = std::isfinite(value);
                any_finite = any_finite || finite;
                v[0][i] = finite ? value : 0.0;
                v[1][i] = v[0][i] * rule.r[k];
                for (std::size_t q = 2; q < S; ++q) {
                    const double other = rule.w[k] * h[q][k];
                    v[q][i] = std::isfinite(other) ? other : 0.0;
                }
                xs[i] = 2.0 * rule.t[k] - 1.0;
            }
            std::array<const double*, S> rows;
            for (std::size_t q = 0; q < S; ++q) rows[q] = v[q];
            PieceSeries<S> series;
            piece_series<S>(rows, xs, n, series);
            // The knots strictly inside the piece, in θ, and the segment that
            // holds the piece's start.
            const auto first = std::upper_bound(angle.begin(), angle.end(), piece.a);
            const auto last = std::lower_bound(first, angle.end(), piece.b);
            const std::size_t inside = static_cast<std::size_t>(last - first);
            x.resize(inside + 1);
            std::array<double*, S> out;
            for (std::size_t q = 0; q < S; ++q) {
                f[q].resize(inside + 1);
                out[q] = f[q].data();
            }
            for (std::size_t q = 0; q < inside; ++q) x[q] = 2.0 * radial::parameter(piece, first[q]) - 1.0;
            antiderivatives<S>(series, x.data(), inside, out);
            // F(1) of each: the piece's integrals Σ v[s].
            for (std::size_t q = 0; q < S; ++q) {
                double total = 0.0;
                for (std::size_t i = 0; i < n; ++i) total = total + v[q][i];
                f[q][inside] = total;
            }
            // Segment j (from knot j to j + 1) holds the piece from its start
            // (or knot q − 1) to knot q; j < 0 or past the last knot: P = 0.
            std::size_t j = static_cast<std::size_t>(first - angle.begin());
            double below[S] = {}, part[S];
            for (std::size_t q = 0; q <= inside; ++q, ++j) {
                for (std::size_t k = 0; k < S; ++k) part[k] = f[k][q] - below[k];
                if (j >= 1 && j < radius.size()) segment(j - 1, part);
                for (std::size_t k = 0; k < S; ++k) below[k] = f[k][q];
            }
        }
    }

  public:
    std::span<const Jump> steps;
    bool has_moments = false;
};

// The table is zero below its first radius and above its last (a one-entry
// table is constant), so only the part of [0, 1] between them shines.
Support support_of(std::span<const double> bl) {
    if (bl.size() < 2) return {};
    const double lo = std::max(bl.front(), 0.0);
    const double hi = std::min(bl.back(), 1.0);
    if (!(lo < hi)) return {};  // nothing shines (or NaN radii): N = 0 either way
    return {lo, hi};
}

// The weights Mₖ/(k!)² of the profile's mean-value series, Mₖ its normalised
// moments of r²ᵏ over the radii that shine, exact for the piecewise-linear
// table: on a segment [r0, r1] with brightness I0 + b·(r − r0),
//   ∫ r^(2k+1)·I dr = I0·D(2k+2)/(2k+2) + b·(D(2k+3)/(2k+3) − r0·D(2k+2)/(2k+2)),
// with D(n) = r1ⁿ − r0ⁿ = (r1 − r0)·Σᵢ r1ⁱ·r0^(n−1−i), a sum of positive terms,
// so that narrow segments lose nothing to cancellation. None (no series) for a
// table whose radii decrease somewhere (a repeated radius is a step), that
// holds a value that is not finite, or whose light does not add up to a
// positive amount.
// The weights hold one term more than the series of A takes, for the
// gradients' series in rho (and rho_weight[k] = k·weight[k] its weights).
inline constexpr int kMoments = series::kTerms + 1;
using FarWeights = std::array<double, kMoments>;

// The raw moments ∫ r^(2k+1)·P dr over [0, 1] (raw[0]·2π is the table's exact
// normalisation N), and from them the weights.
struct Moments {
    FarWeights raw, weight, rho_weight;
};

std::optional<Moments> far_weights(std::span<const double> bl, std::span<const double> bf) {
    constexpr int kPowers = 2 * kMoments + 1;
    FarWeights raw{};
    if (bl.size() == 1) {
        // One entry: the same brightness over the whole disk.
        if (!std::isfinite(bf[0])) return std::nullopt;
        for (int k = 0; k < kMoments; ++k) raw[k] = bf[0] / (2.0 * k + 2.0);  // ∫₀¹ r^(2k+1)·I dr
    } else {
        for (std::size_t j = 0; j < bl.size(); ++j) {
            if (!std::isfinite(bl[j]) || !std::isfinite(bf[j])) return std::nullopt;
            if (j > 0 && !(bl[j] >= bl[j - 1])) return std::nullopt;
        }
        for (std::size_t j = 0; j + 1 < bl.size(); ++j) {
            double r0 = bl[j], r1 = bl[j + 1], i0 = bf[j];
            // A repeated radius is a step in the profile: no segment.
            if (r1 <= 0.0 || r0 >= 1.0 || r1 == r0) continue;
            const double b = (bf[j + 1] - i0) / (r1 - r0);
            if (r0 < 0.0) {
                i0 = i0 + b * (0.0 - r0);
                r0 = 0.0;
            }
            r1 = std::min(r1, 1.0);
            const double width = r1 - r0;
            std::array<double, kPowers + 1> d{};  // d[n] = r1ⁿ − r0ⁿ
            double sum = 1.0, power = 1.0;        // Σᵢ r1ⁱ·r0^(n−1−i) and r1^(n−1) for n = 1
            for (int n = 1; n <= kPowers; ++n) {
                d[n] = width * sum;
                power = power * r1;
                sum = power + r0 * sum;
            }
            for (int k = 0; k < kMoments; ++k) {
                const int m = 2 * k + 2;
                const double flat = d[m] / m;
                raw[k] = raw[k] + (i0 * flat + b * (d[m + 1] / (m + 1) - r0 * flat));
            }
        }
    }
    if (!(raw[0] > 0.0) || !std::isfinite(raw[0])) return std::nullopt;
    FarWeights weight{}, rho_weight{};
    for (int k = 0; k < kMoments; ++k) {
        weight[k] = (raw[k] / raw[0]) * series::RING_WEIGHT[k];
        rho_weight[k] = k * weight[k];
    }
    return Moments{raw, weight, rho_weight};
}

// The table as a profile, with its series weights and, for a dense table,
// the knots' angles and the segments' lines (bound into the profile by
// bind(), once the table has its place).
struct Table {
    TabulatedProfile profile;
    std::optional<Moments> far;
    std::vector<double> angle, intercept, slope;
    std::vector<Jump> steps;
    void bind() noexcept {
        profile.angle = angle;
        profile.line_intercept = intercept;
        profile.line_slope = slope;
        profile.steps = steps;
    }
};

// The jumps of a table with moments in (0, 1]: up to its first value at its
// first radius, at each repeated radius, and down to 0 at its last radius or
// at the limb. (Those at r <= 0 weigh nothing in the gradients.)
std::vector<Jump> steps_of(std::span<const double> bl, std::span<const double> bf, const TabulatedProfile& profile) {
    std::vector<Jump> steps;
    if (bl.size() == 1) {
        steps.push_back({1.0, -bf[0]});
        return steps;
    }
    const auto add = [&](double r, double dp) {
        if (r > 0.0 && r <= 1.0 && dp != 0.0) steps.push_back({r, dp});
    };
    if (bl.front() < 1.0) add(bl.front(), bf.front());
    for (std::size_t j = 0; j + 1 < bl.size(); ++j) {
        if (bl[j + 1] == bl[j] && bl[j] < 1.0) add(bl[j], bf[j + 1] - bf[j]);
    }
    if (bl.back() <= 1.0) add(bl.back(), -bf.back());
    else if (bl.front() < 1.0) add(1.0, -profile.at(1.0));
    return steps;
}

// Asserts equal lengths first (a Panic, before any other work). The
// normalisation is the table's exact integral where its moments exist
// (increasing finite radii); otherwise (radii out of order, which interp
// reads its own way) the tanh-sinh rule's over the radii it covers.
Table tabulated(std::span<const double> bl, std::span<const double> bf) {
    assert_eq(static_cast<long long>(bl.size()), static_cast<long long>(bf.size()));
    const std::optional<Moments> far = far_weights(bl, bf);
    Table table{{bl, bf, support_of(bl), 0.0, far.has_value() && bl.size() > 1, {}, {}, {}, {}, far.has_value()},
                far, {}, {}, {}, {}};
    TabulatedProfile& profile = table.profile;
    if (far) table.steps = steps_of(bl, bf, profile);
    if (far) {
        profile.norm = far->raw[0] * detail::kTwoPi;
    } else {
        profile.norm = quadrature::double_exponential::integrate(
                           [&](double r) { return (r * detail::kTwoPi) * profile.at(r); },
                           profile.covered.lo, profile.covered.hi, 1e-16)
                           .integral;
    }
    // Each segment's line, for the dense form and for every ordered table's
    // slopes in the gradients; the knots' angles for the dense form.
    if (profile.dense()) {
        for (const double r : bl) table.angle.push_back(std::asin(std::clamp(r, -1.0, 1.0)));
    }
    if (profile.sorted) {
        for (std::size_t j = 0; j + 1 < bl.size(); ++j) {
            // A repeated radius (a step) has no width to integrate over.
            const bool wide = bl[j + 1] > bl[j];
            const double s = wide ? (bf[j + 1] - bf[j]) / (bl[j + 1] - bl[j]) : 0.0;
            table.slope.push_back(s);
            table.intercept.push_back(wide ? bf[j] - s * bl[j] : 0.0);
        }
    }
    return table;
}

template <class Family>
std::vector<double> integrated_flux_map(Family family, std::span<const double> l, double re,
                                        double rstar, std::span<const double> bl,
                                        std::span<const double> bf) {
    Table table = tabulated(bl, bf);
    table.bind();
    return integrated_magnification(family, l, re, rstar, table.profile,
                                    table.far ? table.far->weight.data() : nullptr);
}

}  // namespace

std::vector<double> integrated_flux_map_witt_mao_magnification(std::span<const double> l, double re,
                                                               double rstar,
                                                               std::span<const double> bl,
                                                               std::span<const double> bf) {
    return integrated_flux_map(DiskFamily{}, l, re, rstar, bl, bf);
}

std::vector<double> integrated_flux_map_heyrovsky_magnification(std::span<const double> l,
                                                                double re, double rstar,
                                                                std::span<const double> bl,
                                                                std::span<const double> bf) {
    return integrated_flux_map(RingFamily{}, l, re, rstar, bl, bf);
}

Gradient integrated_flux_map_heyrovsky_magnification_gradient(std::span<const double> l, double re,
                                                              double rstar, std::span<const double> bl,
                                                              std::span<const double> bf) {
    Table table = tabulated(bl, bf);
    table.bind();
    return integrated_gradient(l, re, rstar, table.profile, table.far ? table.far->weight.data() : nullptr,
                               table.far ? table.far->rho_weight.data() : nullptr);
}

Result<std::vector<double>> discrete_flux_map_heyrovsky_magnification(std::span<const double> l,
                                                                      double re, double rstar,
                                                                      std::span<const double> bl,
                                                                      std::span<const double> bf) {
    assert_eq(static_cast<long long>(bl.size()), static_cast<long long>(bf.size()));
    std::vector<double> out;
    out.reserve(l.size());
    for (const double x : l) {
        double sum = 0.0;
        for (std::size_t j = 0; j < bl.size(); ++j) {
            const auto ring = heyrovsky_magnification(x, bl[j], re, rstar);
            if (!ring) return std::unexpected(ring.error());
            sum = sum + *ring * bf[j];
        }
        out.push_back(sum);
    }
    return out;
}

}  // namespace zorvane::models
