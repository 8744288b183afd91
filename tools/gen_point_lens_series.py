#!/usr/bin/env python3
"""Writes src/models/point_lens_series.hpp: the iterated Laplacians of the
point-lens magnification, for the mean-value series of sources far from the lens.

The average of a smooth function g over a disk or ring of radius a centred at
distance u is a series in its iterated 2-D Laplacians ΔᵏA, Δg = g'' + g'/u for a
radial g:

    disk:     Σₖ a²ᵏ·ΔᵏA(u) / (4ᵏ·k!·(k+1)!)
    ring:     Σₖ a²ᵏ·ΔᵏA(u) / (4ᵏ·(k!)²)
    profile:  Σₖ a²ᵏ·Mₖ·ΔᵏA(u) / (4ᵏ·(k!)²),  Mₖ the profile's moments of r²ᵏ.

For A(u) = (u² + 2)/(u·w), w = √(u² + 4), exact polynomial arithmetic in SymPy
gives for k ≥ 1

    ΔᵏA = Pₖ(u²) / (u^(2k+1)·w^(4k+1)),

Pₖ a polynomial of degree 2k − 1 (its negative coefficients, from k = 4 on, never
cancel much: the generator checks that rounding is amplified less than 9ᵏ times
for every u, in terms that are themselves below (a/u)²ᵏ ≤ 9⁻ᵏ of the total from
3 radii out, so that no term's rounding reaches ε of the total). With s = u²/(u² + 4)
and s' = 4/(u² + 4) (both in [0, 1], s + s' = 1) this is

    ΔᵏA = Qₖ(s, s') / (u^(2k+1)·w³),   Qₖ = Σⱼ qₖⱼ·sʲ·s'^(2k−1−j),

a homogeneous polynomial in two numbers of [0, 1]: no overflow for any u. The header stores qₖⱼ/4ᵏ, so that with z = (a/u)²

    a²ᵏ·ΔᵏA/4ᵏ = zᵏ·Qₖ(s, s')/4ᵏ / (u·w³),

the factorials of the three series, and the moments of the linear law with
coefficient 0.6.

For the gradient of the disk's series it also stores the u-derivatives of the
terms. With ds/du = 2ss'/u = −ds'/du and d(u^−(2k+1)·w^−3)/du = −((2k+1) + 3s)/u
times the same,

    d(ΔᵏA/4ᵏ)/du = Rₖ(s, s') / (u^(2k+2)·w³),
    Rₖ = 2ss'(∂Qₖ/∂s − ∂Qₖ/∂s') − ((2k + 1)(s + s') + 3s)·Qₖ,

homogeneous of degree 2k: rₖᵢ = qₖᵢ·(2i − 2k − 1) + qₖ,ᵢ₋₁·(2i − 6k − 4), and for
k = 0 (A itself) A′(u) = −8/(u²·w³), R₀ = −8. The ρ-derivative of the disk's
series needs only the weights k/(k!·(k+1)!). Every number is an exact rational
rounded once to the nearest double.

Usage: gen_point_lens_series.py [OUTPUT]   (default: the header in the source tree)
"""

from __future__ import annotations

import math
import sys
from fractions import Fraction
from pathlib import Path

import sympy as sp

TERMS = 16
DEFAULT_OUTPUT = Path(__file__).resolve().parent.parent / "src" / "models" / "point_lens_series.hpp"


def laplacian_polynomials(terms):
    """[[c_kj], k = 1..terms]: ΔᵏA = Σⱼ c_kj·t^j / (t^((2k+1)/2)·(t + 4)^((4k+1)/2)), t = u².

    In t = u² the radial Laplacian is Δg = 4·(t·g_t)_t. For g = P·t^(−α)·(t + 4)^(−β),
    t·g_t = R·t^(−α)·(t + 4)^(−β−1) with R = t(t + 4)P' − α(t + 4)P − βtP, and once more
    Δg = 4·S·t^(−α−1)·(t + 4)^(−β−2) with S = t(t + 4)R' − α(t + 4)R − (β + 1)tR:
    exact polynomial arithmetic over the rationals, starting from A = (t + 2)·t^(−1/2)·(t + 4)^(−1/2)."""
    t = sp.symbols("t")
    poly = sp.Poly(t + 2, t, domain=sp.QQ)
    alpha, beta = sp.Rational(1, 2), sp.Rational(1, 2)
    quad = sp.Poly(t * (t + 4), t, domain=sp.QQ)
    out = []
    for k in range(1, terms + 1):
        r = quad * poly.diff(t) - poly * sp.Poly(alpha * (t + 4) + beta * t, t, domain=sp.QQ)
        s_ = quad * r.diff(t) - r * sp.Poly(alpha * (t + 4) + (beta + 1) * t, t, domain=sp.QQ)
        poly = 4 * s_
        alpha, beta = alpha + 1, beta + 2
        coeffs = [Fraction(int(c.p), int(c.q)) for c in poly.all_coeffs()[::-1]]
        assert len(coeffs) == 2 * k, (k, len(coeffs))
        assert condition(coeffs) < 9**k, (k, condition(coeffs))
        out.append(coeffs)
    return out


def condition(c):
    """max over t ≥ 0 of Σ|cⱼ|tʲ / |Σ cⱼtʲ|: how much rounding the sum can amplify.

    From k = 4 on, Pₖ has negative coefficients (5t⁷ − 10t⁶ + 105t⁵ + … for k = 4),
    but they cancel only where positive terms dominate (about 12 for k = 8, 140
    for k = 15)."""
    # Both sums divided by (t + 4)^(2k−1), as the homogeneous form in s, s' (no overflow).
    return homogeneous_condition(homogeneous(len(c) // 2, c))


def homogeneous(k, c):
    """q_kj: Pₖ(t)/(t+4)^(2k-1) = Σ q_kj sʲ s'^(2k-1-j) with t = 4s/s'."""
    return [c[j] * Fraction(4) ** (j - 2 * k + 1) for j in range(2 * k)]


def slope_polynomials(polys):
    """[[r_ki], k = 0..terms-1]: the homogeneous coefficients (4⁻ᵏ included) of Rₖ."""
    out = [[Fraction(-8)]]
    for k, c in enumerate(polys[:-1], start=1):
        q = [x / Fraction(4) ** k for x in homogeneous(k, c)]
        r = [(q[i] * (2 * i - 2 * k - 1) if i < len(q) else 0) + (q[i - 1] * (2 * i - 6 * k - 4) if i > 0 else 0)
             for i in range(2 * k + 1)]
        assert homogeneous_condition(r) < 9**k, (k, homogeneous_condition(r))
        out.append(r)
    return out


def homogeneous_condition(q):
    """max over t ≥ 0 of Σ|terms| / |Σ terms| for Σⱼ qⱼ·sʲ·s'^(deg−j), s = t/(t + 4), s' = 4/(t + 4)."""
    q = [float(x) for x in q]
    worst = 1.0
    for i in range(-400, 401):
        t = 10.0 ** (i / 40)
        s, sc = t / (t + 4.0), 4.0 / (t + 4.0)
        terms = [x * s**j * sc ** (len(q) - 1 - j) for j, x in enumerate(q)]
        worst = max(worst, sum(abs(x) for x in terms) / abs(sum(terms)))
    return worst


def linear_law_moments(terms, coeff=Fraction(3, 5)):
    """Mₖ = ∫₀¹ r²ᵏ I(r) 2r dr / ∫₀¹ I(r) 2r dr for I = 1 - coeff·(1 - √(1 - r²)).

    With t = r², ∫₀¹ tᵏ dt = 1/(k+1) and ∫₀¹ tᵏ √(1-t) dt = B(k+1, 3/2) = k!/∏ⱼ₌₁ᵏ⁺¹ (j + 1/2)."""
    def beta(k):
        value = Fraction(math.factorial(k))
        for j in range(1, k + 2):
            value /= Fraction(2 * j + 1, 2)
        return value

    def raw(k):
        return (1 - coeff) / (k + 1) + coeff * beta(k)

    return [raw(k) / raw(0) for k in range(terms + 1)]


def fmt(x: Fraction) -> str:
    return repr(float(x))


def render(terms):
    polys = laplacian_polynomials(terms)
    lines = [
        "// Generated by tools/gen_point_lens_series.py; do not edit.",
        "//",
        "// Iterated Laplacians of the point-lens magnification A(u) = (u² + 2)/(u·√(u² + 4)):",
        "// for k ≥ 1, ΔᵏA(u)/4ᵏ = Qₖ(s, s')/(u^(2k+1)·w³), w = √(u² + 4), s = u²/(u² + 4),",
        "// s' = 4/(u² + 4), Qₖ = Σⱼ Q[k][j]·sʲ·s'^(2k−1−j) (Q[k] holds the 4⁻ᵏ).",
        "// Also the u-derivatives of those terms, 1/(k!(k+1)!), 1/(k!)², k/(k!(k+1)!) and the moments",
        "// Mₖ of the linear limb-darkening law with coefficient 0.6.",
        "#pragma once",
        "",
        "namespace zorvane::models::series {",
        "",
        f"inline constexpr int kTerms = {terms};",
        "",
        "// Q[k − 1][j], j = 0 … 2k − 1; unused entries are 0.",
        f"inline constexpr double Q[{terms}][{2 * terms}] = {{",
    ]
    for k, c in enumerate(polys, start=1):
        q = [x / Fraction(4) ** k for x in homogeneous(k, c)]
        q += [Fraction(0)] * (2 * terms - len(q))
        lines.append("    {" + ", ".join(fmt(x) for x in q) + "},")
    lines.append("};")
    lines.append("")
    lines.append("// R[k][i], i = 0 … 2k: dₖ(u) = d(ΔᵏA/4ᵏ)/du = Rₖ(s, s')/(u^(2k+2)·w³),")
    lines.append("// Rₖ = Σᵢ R[k][i]·sⁱ·s'^(2k−i), k = 0 … kTerms − 1 (R₀ = −8: A′ = −8/(u²w³)).")
    lines.append(f"inline constexpr double R[{terms}][{2 * terms}] = {{")
    for r in slope_polynomials(polys):
        r = r + [Fraction(0)] * (2 * terms - len(r))
        lines.append("    {" + ", ".join(fmt(x) for x in r) + "},")
    lines.append("};")
    lines.append("")
    lines.append("// 1/(k!·(k+1)!) and 1/(k!)², k = 0 … kTerms.")
    lines.append(f"inline constexpr double DISK_WEIGHT[{terms + 1}] = {{"
                 + ", ".join(fmt(Fraction(1, math.factorial(k) * math.factorial(k + 1))) for k in range(terms + 1)) + "};")
    lines.append(f"inline constexpr double RING_WEIGHT[{terms + 1}] = {{"
                 + ", ".join(fmt(Fraction(1, math.factorial(k) ** 2)) for k in range(terms + 1)) + "};")
    lines.append("// k/(k!·(k+1)!): ρ·∂/∂ρ of the disk's series is twice the series with these weights.")
    lines.append(f"inline constexpr double DISK_RHO_WEIGHT[{terms + 1}] = {{"
                 + ", ".join(fmt(Fraction(k, math.factorial(k) * math.factorial(k + 1))) for k in range(terms + 1)) + "};")
    lines.append("")
    lines.append("// Mₖ/(k!)² for I(r) = 1 − 0.6·(1 − √(1 − r²)), k = 0 … kTerms.")
    lines.append(f"inline constexpr double LINEAR_LAW_WEIGHT[{terms + 1}] = {{"
                 + ", ".join(fmt(m / math.factorial(k) ** 2) for k, m in enumerate(linear_law_moments(terms))) + "};")
    lines.append("")
    lines.append("}  // namespace zorvane::models::series")
    return "\n".join(lines) + "\n"


def main(argv):
    out = Path(argv[1]) if len(argv) > 1 else DEFAULT_OUTPUT
    out.write_text(render(TERMS))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
