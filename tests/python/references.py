"""High-precision physical references for the magnifications.

Each is built from the point-lens magnification A(u) = (u² + 2)/(u√(u² + 4))
alone, averaged over the source in a way that does not follow the module's own
decomposition, so that they can judge it:

* `disk` and `linear_source`: the source's area average in polar coordinates
  about the lens (mpmath, 30 digits), uniform or linearly limb-darkened;
* `ring`: the average around a thin ring (mpmath);
* `disk_closed_form`: the Witt-Mao closed form evaluated in mpmath;
* `disk_gradient`: its derivatives in u and ρ by central differences in
  mpmath, and `disk_gradient_by_edges` the same from averages around the
  disk's edge;
* `ring_float`, `profile_average`: the ring average and its profile-weighted
  average over the radius by SciPy's adaptive quadrature (any profile);
* `linear_by_parts`: a linear law as nested uniform disks (mpmath);
* `table_source`: a piecewise-linear profile (a flux-map table) exactly, as
  the concentric uniform disks' fluxes integrated over the profile (mpmath,
  the disk's closed form with K, E and Π by the arithmetic-geometric mean);
* `linear_gradient`, `table_gradient`: the linear law's and a table's
  derivatives in u and ρ by central differences in mpmath (50 digits, step
  1e-20) of `linear_source` and `table_source`.

The physics tests (tests/python) import this module as `references`; the
benchmarks, run from the repository root as `python -m bench.NAME`, import it
as `tests.python.references`.
"""

import math

import mpmath as mp
from scipy import integrate

DPS = 30
LINEAR = 0.6   # the linear limb-darkening coefficient used throughout: I(r) = 1 - 0.6 (1 - sqrt(1 - r²))


def point_lens(u):
    """A(u) for a float or an mpf."""
    if isinstance(u, mp.mpf):
        return (u * u + 2) / (u * mp.sqrt(u * u + 4))
    return (u * u + 2.0) / (u * math.sqrt(u * u + 4.0))


def linear_law(r, coeff=LINEAR):
    return 1 - coeff * (1 - math.sqrt(max(0.0, 1 - r * r)))


def linear_source(x, rho, coeff=0.0, dps=DPS):
    """Source of radius rho (Einstein radii) at separation x·rho from the lens,
    brightness I(r) = 1 - coeff·(1 - sqrt(1 - r²)) (r in source radii); coeff = 0
    is the uniform disk.

    In polar coordinates (s, θ) about the lens the circle of radius s crosses the
    source on the arc |θ| < θ₀, cos θ₀ = (s² + u² - ρ²)/(2su), or lies inside it
    whole when s < ρ - u. Integrated over θ, the brightness gives
        (1 - coeff)·2θ₀ + coeff/ρ · J(s),   J(s) = ∫ sqrt(ρ² - s² - u² + 2su cos θ) dθ,
    with J = 8 sqrt(su)·(E(m) - (1 - m) K(m)), m = sin²(θ₀/2), on an arc and
    J = 4 sqrt(ρ² - (s - u)²)·E(4su/(ρ² - (s - u)²)) on a whole circle. The
    area average is the 1-D integral of s·A(s) = (s² + 2)/sqrt(s² + 4) (smooth)
    times that, whose only rough points (s = |u - ρ| and u + ρ) are the ends of
    the integration intervals, divided by πρ²(1 - coeff/3). Returns an mpf.
    """
    with mp.workdps(dps):
        rho = mp.mpf(rho)
        return _linear_source(mp.mpf(x) * rho, rho, mp.mpf(coeff))


def _linear_source(u, rho, c):
    """`linear_source` at separation u (Einstein radii), mpf at the current precision."""
    def s_times_a(s):
        return (s * s + 2) / mp.sqrt(s * s + 4)

    def whole(s):
        w = 2 * mp.pi * (1 - c)
        if c:
            top = (rho - s + u) * (rho + s - u)   # ρ² - (s - u)², without cancellation
            w += c / rho * 4 * mp.sqrt(top) * mp.ellipe(min(4 * s * u / top, mp.mpf(1)))
        return s_times_a(s) * w

    def arc(s):
        su4 = 4 * s * u
        m = (rho - s + u) * (rho + s - u) / su4           # sin²(θ₀/2)
        m1 = (s + u - rho) * (s + u + rho) / su4          # 1 - m
        if m <= 0:
            return mp.mpf(0)
        m, m1 = min(m, mp.mpf(1)), max(m1, mp.mpf(0))   # rounding at the ends of the arc
        w = 4 * (1 - c) * mp.asin(mp.sqrt(m))
        if c:
            w += c / rho * 8 * mp.sqrt(s * u) * (mp.ellipe(m) - (m1 * mp.ellipk(m) if m1 else 0))
        return s_times_a(s) * w

    total = mp.mpf(0)
    if u < rho:
        total += mp.quad(whole, [0, rho - u])
    if u > 0:
        total += mp.quad(arc, [abs(u - rho), u + rho])
    return total / (mp.pi * rho * rho * (1 - c / 3))


def disk(x, rho):
    """Uniform disk of radius rho (Einstein radii) at separation x·rho (an mpf)."""
    return linear_source(x, rho, 0.0)


def disk_closed_form(x, re, rstar, dps=40):
    """The Witt-Mao uniform-disk closed form at the exact inputs (x·rstar/re
    evaluated in mpmath), as a float."""
    with mp.workdps(dps):
        rho = mp.mpf(rstar) / mp.mpf(re)
        u = mp.mpf(x) * rho
        return float(_disk_closed_form(u, rho))


def _disk_closed_form(u, a, agm=False):
    """Uniform disk of radius a at separation u (mpf, at the current precision),
    with mpmath's K, E and Π, or with `_elliptic_by_agm`'s (agm=True)."""
    if u == a:
        # pi/2 + asin((a² - 1)/(a² + 1)) = 2 atan(a), which does not cancel for small a
        r2 = a * a
        return (2 / a + (1 + r2) / r2 * 2 * mp.atan(a)) / mp.pi
    d, s, r2 = u - a, u + a, a * a
    n1 = (d / s) ** 2      # 1 - n, n = 4ua/(u + a)²
    n = 1 - n1             # never above 1 by rounding
    f = mp.sqrt(4 + d * d)
    m = 4 * n / (f * f)
    if agm:
        k, e, p = _elliptic_by_agm(n1, d * d * (s * s + 4) / (s * s * f * f))   # 1 - m without cancellation
    else:
        k, e, p = mp.ellipk(m), mp.ellipe(m), mp.ellippi(n, m)
    return (s * f / (2 * r2) * e - d * (8 + u * u - r2) / (2 * r2 * f) * k
            + 2 * d * d * (1 + r2) / (r2 * s * f) * p) / mp.pi


def _elliptic_by_agm(n1, m1):
    """(K(m), E(m), Π(n|m)) from the complements n1 = 1 - n > 0 and
    m1 = 1 - m > 0, by the arithmetic-geometric mean a, g of 1 and √m1: K =
    π/(2M), E = K·(1 - Σ 2^(j-1) c_j²), and Π = π/(4M)·(2 + n/(1 - n)·Σ Q_j)
    with the companion sequence p_0 = √n1, p_(j+1) = (p_j² + a_j g_j)/(2p_j),
    ε_j = (p_j² - a_j g_j)/(p_j² + a_j g_j), Q_0 = 1, Q_(j+1) = Q_j ε_j/2.
    The sum Σ Q_j cancels to about √n1, so that many digits are added."""
    with mp.workdps(mp.mp.dps + 10 + max(0, int(-mp.log10(n1) / 2))):
        eps = mp.mpf(2) ** -mp.mp.prec
        a, g, p = mp.mpf(1), mp.sqrt(m1), mp.sqrt(n1)
        c2, weight = 1 - m1, mp.mpf(1) / 2        # c_0² = m, weight 2^(j-1)
        q = mp.mpf(1)
        esum, qsum = weight * c2, q
        while True:
            ag = a * g
            ratio = (p * p - ag) / (p * p + ag)
            c2, weight, q = ((a - g) / 2) ** 2, weight * 2, q * ratio / 2
            a, g, p = (a + g) / 2, mp.sqrt(ag), (p * p + ag) / (2 * p)
            esum += weight * c2
            qsum += q
            if c2 < eps * eps * a * a and abs(q) < eps * abs(qsum):
                break
        k = mp.pi / (2 * a)
        return +k, +(k * (1 - esum)), +(mp.pi / (4 * a) * (2 + (1 - n1) / n1 * qsum))


def disk_gradient(x, rho, dps=90):
    """(A, ∂A/∂u, ∂A/∂ρ) of the uniform disk of radius rho (Einstein radii) at
    separation u = x·rho, mpf: central differences of the Witt-Mao closed form
    at `dps` digits, of step 1e-20 times the smallest of rho, u and |u - rho|
    (the distance to the limb, where both derivatives diverge logarithmically),
    or rho at the centre."""
    with mp.workdps(dps):
        r = mp.mpf(rho)
        u = mp.mpf(x) * r
        h = mp.mpf(10) ** -20 * (min(abs(u - r), r, u) if u > 0 else r)
        # A is even in u: no slope at the centre (the closed form has no value for u < 0)
        du = (_disk_closed_form(u + h, r) - _disk_closed_form(u - h, r)) / (2 * h) if u > 0 else mp.mpf(0)
        dr = (_disk_closed_form(u, r + h) - _disk_closed_form(u, r - h)) / (2 * h)
        return _disk_closed_form(u, r), du, dr


def disk_gradient_by_edges(x, rho):
    """(∂A/∂u, ∂A/∂ρ) of the uniform disk from its edge alone, mpf: the disk's
    lensed flux πρ²A changes, as the disk moves or grows, by the flux through
    its moving boundary, so with φ measured at the centre of the source from
    the direction away from the lens,
        ∂A/∂u = (2/ρ)·⟨A_pl cos φ⟩,   ∂A/∂ρ = (2/ρ)·(⟨A_pl⟩ - A),
    the averages taken around the edge (mpmath quadrature) and A the area
    average `disk`."""
    with mp.workdps(DPS):
        r = mp.mpf(rho)
        u = mp.mpf(x) * r

        def around(weight):
            f = lambda phi: point_lens(mp.sqrt((u - r) ** 2 + 4 * u * r * mp.cos(phi / 2) ** 2)) * weight(phi)
            return mp.quad(f, [0, mp.pi / 2, mp.pi * 0.9, mp.pi]) / mp.pi
        return 2 / r * around(mp.cos), 2 / r * (around(lambda phi: 1) - disk(x, rho))


def linear_by_parts(u, rho, dps=DPS):
    """Linear law (coefficient 0.6) by a second route: integrating by parts over
    the nested uniform disks of radius ρ sin t gives
        A = [0.4 A_disk(ρ) + 0.6 ∫₀^{π/2} sin³t A_disk(ρ sin t) dt] / 0.8,
    with the disk closed form at `dps` digits. Returns a float."""
    with mp.workdps(dps):
        uu = mp.mpf(u)

        def disk_at(a):
            # twice the digits inside, so that 1 - n = (d/s)² survives for |d| down to 10^(5 - dps)
            with mp.workdps(2 * dps + 10):
                if a == 0:
                    return mp.mpf(point_lens(float(uu))) if uu > 0 else mp.inf
                # the rim through the lens: the elliptic form is 0·inf there, use its limit
                return +_disk_closed_form(a if abs(uu - a) < mp.mpf(10) ** (5 - dps) else uu, a)
        rho_m = mp.mpf(rho)
        pts = [0, mp.pi / 2]
        if 0 < uu < rho_m:
            pts = [0, mp.asin(uu / rho_m), mp.pi / 2]
        integral = mp.quad(lambda t: mp.sin(t) ** 3 * disk_at(rho_m * mp.sin(t)), pts)
        return float((mp.mpf("0.4") * disk_at(rho_m) + mp.mpf("0.6") * integral) / mp.mpf("0.8"))


def ring(l, r, c):
    """Point-lens magnification averaged around the ring of radius r at separation
    l (lengths in source radii, c = re/rstar), an mpf."""
    with mp.workdps(DPS):
        l, r, c = mp.mpf(l), mp.mpf(r), mp.mpf(c)

        # psi is the angle from the point of the ring nearest the lens, where the
        # magnification peaks with a width of about |r - l|/sqrt(l r).
        def a(psi):
            return point_lens(mp.sqrt((l - r) ** 2 + 4 * l * r * mp.sin(psi / 2) ** 2) / c)

        points = [0, mp.pi]
        if l > 0 and r > 0:
            w = abs(r - l) / mp.sqrt(l * r)
            for k in (100, 10, 1):
                if k * w < mp.pi / 2:
                    points.insert(1, k * w)
        return mp.quad(a, points) / mp.pi


def ring_float(l, r, c, epsrel=1e-13):
    """The same average by SciPy's adaptive quadrature, as a float."""
    u, a = l / c, r / c

    def g(psi):
        # |u - a e^{i psi}|² written so that it keeps its precision near a = u
        dd = (u - a) ** 2 + 4.0 * u * a * math.sin(0.5 * psi) ** 2
        return point_lens(math.sqrt(dd)) if dd > 0 else 0.0
    # Near a = u the integrand peaks at psi = 0 with a width of about |a - u|/u:
    # break points on a geometric grid from that width let QAGP resolve it.
    w = abs(a - u) / max(a, u) if max(a, u) > 0 else 0.0
    pts = []
    while 0.0 < w < math.pi:
        pts.append(w)
        w *= 4.0
    value, _ = integrate.quad(g, 0.0, math.pi, points=pts or None, epsabs=0.0, epsrel=epsrel, limit=400)
    return value / math.pi


def profile_average(l, c, profile=linear_law, epsrel=1e-12, points=()):
    """∫₀¹ 2πr P(r) A_ring(r) dr / ∫₀¹ 2πr P(r) dr by nested adaptive quadrature
    (l in source radii, c = re/rstar), a float; `points` are radii where P is
    rough (a table's), to break the integrals at."""
    pts = sorted({r for r in [l, *points] if 0 < r < 1}) or None
    num, _ = integrate.quad(lambda r: 2 * math.pi * r * profile(r) * ring_float(l, r, c) if r > 0 else 0.0, 0, 1,
                            points=pts, epsabs=0, epsrel=epsrel, limit=400)
    den, _ = integrate.quad(lambda r: 2 * math.pi * r * profile(r), 0, 1, points=pts, epsabs=0, epsrel=2e-14,
                            limit=400)
    return num / den


def linear_gradient(x, rho, dps=50, coeff=LINEAR):
    """(A, ∂A/∂u, ∂A/∂ρ) of the linear law (`linear_source`, of 0.6 unless
    `coeff` says otherwise) for a source of radius rho (Einstein radii) at
    separation u = x·rho, mpf: central differences of `linear_source` at `dps`
    digits (see `_central_differences` for the step)."""
    return _central_differences(lambda u, r: _linear_source(u, r, mp.mpf(coeff)), x, rho, [1.0], dps)


def table_gradient(l, rho, bl, bf, dps=50):
    """(A, ∂A/∂u, ∂A/∂ρ) of the tabulated profile (`table_source`) for a
    source of radius rho (Einstein radii) at separation u = l·rho, mpf: central
    differences of the same exact integral at `dps` digits."""
    return _central_differences(lambda u, r: _table_source(u, r, bl, bf), l, rho, bl, dps)


def _central_differences(f, x, rho, radii, dps, step=mp.mpf(10) ** -20):
    """(f, ∂f/∂u, ∂f/∂ρ) of f(u, ρ) at u = x·rho by central differences. The
    step is `step` times the smallest of ρ, u and the distances |u − ρ·r| to
    the rings of the profile's `radii` (source radii) where a step or a kink in
    the brightness makes the derivatives singular; ρ at the centre, where
    ∂f/∂u = 0 (f is even in u). As the step shrinks below 1e-20 of max(u, ρ),
    and as A - 1 ≈ 2/max(u, ρ)⁴ loses digits far from the source or for a big
    source, the digits are raised by as much, so that the rounding of f,
    divided by the step, stays near 10^(20 - dps) of the derivative."""
    with mp.workdps(dps):
        rho = mp.mpf(rho)
        u = mp.mpf(x) * rho   # exact for two doubles
    scale = max(u, rho)
    gaps = [d for d in (abs(u - rho * mp.mpf(r)) for r in radii) if d > 0]
    near = min([rho] + ([u] if u > 0 else []) + gaps)
    extra = int(mp.log10(scale / near)) + (4 * int(mp.log10(scale)) if scale > 1 else 0)
    with mp.workdps(dps + extra):
        h = step * near
        du = (f(u + h, rho) - f(u - h, rho)) / (2 * h) if u > 0 else mp.mpf(0)
        dr = (f(u, rho + h) - f(u, rho - h)) / (2 * h)
        return +f(u, rho), +du, +dr


def table_source(l, rho, bl, bf, dps=DPS):
    """Source of radius rho (Einstein radii) at separation l (source radii) with
    the piecewise-linear brightness through (bl, bf), zero outside
    [bl[0], bl[-1]] (radii increasing), exactly: with G(r) = πr²·M(r) the lensed
    flux of the concentric uniform disk of radius r, ∫ 2πr·P·A_ring dr = ∫ P dG,
    which on a segment with slope s is [P·G] − s·∫ G dr. G comes from the
    Witt-Mao closed form at twice the digits near the rim; ∫ G dr by
    Gauss-Legendre rules sized for `dps` digits (see `_flux_integral`).
    Divided by the table's exact ∫ 2πr·P dr. Returns a float."""
    with mp.workdps(dps):
        rho = mp.mpf(rho)
        return float(_table_source(mp.mpf(l) * rho, rho, bl, bf))


def _table_source(u, rho, bl, bf):
    """`table_source` at separation u (Einstein radii), mpf at the current precision."""
    dps = mp.mp.dps

    def flux(r):
        if r == 0:
            return mp.mpf(0)
        a = r * rho
        # near the rim the closed form, from the exact complements, loses about
        # the digits of (u - a)/(u + a); at the rim it has its limit
        near = abs(u - a) < mp.mpf(10) ** (5 - dps) * (u + a)
        with mp.workdps(dps + 10 + (0 if near else max(0, int(mp.log10((u + a) / abs(u - a)))))):
            return mp.pi * r * r * _disk_closed_form(a if near else u, a, agm=True)

    if len(bl) == 1:
        return flux(mp.mpf(1)) / mp.pi
    num = mp.mpf(0)
    den = mp.mpf(0)
    for r0, r1, f0, f1 in zip(bl, bl[1:], bf, bf[1:]):
        r0, r1, f0, f1 = (mp.mpf(v) for v in (r0, r1, f0, f1))
        a, b = max(r0, mp.mpf(0)), min(r1, mp.mpf(1))
        if not a < b:
            continue   # also a repeated radius: the step in P is in the [P·G] terms
        slope = (f1 - f0) / (r1 - r0)
        pa, pb = f0 + slope * (a - r0), f0 + slope * (b - r0)
        num += pb * flux(b) - pa * flux(a) - slope * _flux_integral(flux, a, b, u, rho)
        den += 2 * mp.pi * (pa * (b * b - a * a) / 2 + slope * ((b ** 3 - a ** 3) / 3 - a * (b * b - a * a) / 2))
    return num / den


def _flux_integral(flux, a, b, u, rho):
    """∫ G dr over [a, b] to the current precision. G(r) = πr²·M(u, rρ) is even
    in r and analytic but at r = ±l, where the disk's rim crosses the lens
    (G' has a logarithm), and at r = (±u ± 2i)/ρ, where the point-lens factor
    √(s² + 4) vanishes. A piece that holds r = l or ends near it (within a
    quarter of its width) goes to tanh-sinh, split at l; any other to
    Gauss-Legendre with as many nodes as the nearest singular point's Bernstein
    ellipse asks for the current digits, or in halves past 96 nodes."""
    lens = u / rho
    if a < lens < b:
        return mp.quad(flux, [a, lens, b])
    if min(abs(lens - a), abs(lens - b)) < (b - a) / 4:
        return mp.quad(flux, [a, b])
    half, mid = (b - a) / 2, (a + b) / 2
    ellipse = mp.inf
    for z in (lens, -lens, mp.mpc(u, 2) / rho, mp.mpc(-u, 2) / rho):
        w = (z - mid) / half
        e = abs(w + mp.sqrt(w - 1) * mp.sqrt(w + 1))
        ellipse = min(ellipse, max(e, 1 / e))
    need = mp.mp.prec * mp.log(2) / (2 * mp.log(ellipse)) + 4
    if need > 96:
        return _flux_integral(flux, a, mid, u, rho) + _flux_integral(flux, mid, b, u, rho)
    degree = 1
    while 3 * 2 ** (degree - 1) < need:
        degree += 1
    nodes = _LEGENDRE.get_nodes(-1, 1, degree, mp.mp.prec)
    return half * mp.fsum(w * flux(mid + half * x) for x, w in nodes)


_LEGENDRE = mp.calculus.quadrature.GaussLegendre(mp.mp)
