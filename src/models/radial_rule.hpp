// The radial rule of the limb-darkened forms: for one separation, the nodes and
// weights of ∫ f(r) dr over the radii of the source, for any integrand f with
// the structure of 2πr·P(r)·A_ring(l, r):
//
//  - a logarithmic singularity at r = l (the ring through the lens), smooth on
//    either side; A_ring is even in r, so it is also singular at r = −l, and
//    analytic except there and at r = ±l ± 2ic (c = re/rstar);
//  - the profile's kinks at given radii (the knots of a table), where pieces end;
//  - a square root at the limb, √(1 − r²) = μ, in a law written in μ.
//
// The rule works in θ, r = sin θ, which makes the square root at the limb
// analytic (μ = cos θ) and keeps every other singularity: r = ±l becomes
// θ = ±θ_l and π − θ_l (θ_l = asin l), a lens outside the star becomes the
// pair θ = π/2 ± i·acosh l. [asin lo, asin hi] is cut at θ_l and at the knots;
// a piece that ends at θ_l takes a logarithmic Gauss rule (exact for
// p + q·ln at that end), the others Gauss–Legendre. Each piece is mapped onto
// its rule linearly or, when a singularity lies just beyond one of its ends
// (the mirror −θ_l of a lens near the centre, π − θ_l of a lens just inside
// the limb, π/2 ± i·acosh l just outside it), by θ = end ± d·sinh(s), d the
// distance of that singularity, which spreads the nodes geometrically
// towards it. Of these maps the piece takes the one whose nearest singularity
// lies farthest out in the Bernstein-ellipse sense (ellipse parameter ρ, the
// error of n nodes going like ρ^(−2n)), and as many nodes as its share of the
// integral needs for a relative error of about 1e-14 of the whole; a piece
// that would need more nodes than its rule has is halved (in the mapped
// variable).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace zorvane::models::radial {

// What the rule needs to know about one epoch's integrand.
struct Structure {
    double l = 0.0;                  // separation, in source radii
    double c = 0.0;                  // re/rstar, the Einstein radius in source radii
    double lo = 0.0, hi = 1.0;       // the radii integrated over, 0 <= lo < hi <= 1
    std::span<const double> knots;   // radii where the integrand has kinks (any order)
    // The integrand vanishes like μ at the limb (the μ part of a law in μ):
    // pieces near the limb then weigh less and take fewer nodes.
    bool vanishes_at_limb = false;
    // The caller interpolates the integrand on each piece that does not end at
    // r = l (instead of only summing it), whose error falls like ρ^(−n), not
    // ρ^(−2n): those pieces take twice the nodes.
    bool interpolated = false;
};

// One piece of a rule: nodes first .. first + count − 1, on [a, b] in θ, at
// t ∈ [0, 1] of its map (t[i] below): θ = a + (b − a)·t (linear),
// a + d·sinh(span·t) (left) or b − d·sinh(span·(1 − t)) (right). log_end is
// −1 or +1 where a or b is θ_l (a logarithmic rule), else 0.
struct Piece {
    std::size_t first, count;
    int log_end;
    enum Kind { linear, left, right } kind;
    double a, b, d, span;
};

// t of the piece's map at θ ∈ [a, b].
double parameter(const Piece& piece, double theta) noexcept;

// The nodes (r[i], with μ[i] = √(1 − r[i]²) taken as cos θ, accurate near the
// limb) and weights w[i] such that Σ w[i]·f(r[i]) ≈ ∫_lo^hi f(r) dr. The
// nodes lie strictly inside their pieces (never at r = l or at a knot); t[i]
// is node i's parameter in its piece.
struct Rule {
    std::vector<double> r, mu, w, t;
    std::vector<Piece> pieces;
    std::size_t size() const noexcept { return r.size(); }
};

// Fills `rule` (cleared first) for the structure; never fails. A NaN or
// infinite l or c gives a plain 16-point Gauss–Legendre rule.
void plan(const Structure& structure, Rule& rule);

}  // namespace zorvane::models::radial
