"""The gradients [A, dA/du, dA/drho] of the uniform disk, the linear law of 0.6
and a tabulated profile: the derivatives against mpmath zone by zone, the value
bit for bit that of the plain magnification, the limb and a table's steps, and
the inputs without a value."""

import math

import mpmath as mp
import numpy as np
import pytest

import zorvane
from references import disk_gradient, disk_gradient_by_edges, linear_gradient, linear_law, linear_source, table_gradient
from reliability import ORDINARY_RUN_ONLY

gradient = zorvane.witt_mao_magnification_gradient
law_gradient = zorvane.integrated_heyrovsky_magnification_gradient
map_gradient = zorvane.integrated_flux_map_heyrovsky_magnification_gradient

RHOS = [1e-6, 1e-3, 0.1, 10.0]
ZONES = {
    "centre": [0.0, 1e-7, 0.004],
    "inside": [0.3, 0.85],
    "near the limb": [0.95, 1 - 1e-4, 1 - 1e-7, 1 + 1e-6, 1 + 1e-3, 1.09],
    "within 1e-8 of the limb": [1 - 1e-12, 1 + 3e-9],
    "outside": [1.2, 2.2, math.nextafter(3.0, 0.0)],
    "far": [3.0, 4.5, 40.0, 3e4],
}


def scaled_errors(x, rho, du, drho, reference):
    """|error|·max(u, rho)/A of both derivatives."""
    a, rdu, rdrho = reference
    scale = max(x * rho, rho) / a
    return float(abs(du - rdu) * scale), float(abs(drho - rdrho) * scale)


@pytest.mark.parametrize("zone", ZONES)
def test_derivatives_against_mpmath(zone):
    # Measured over 80 random sources per zone: at most 7e-14 (the goal is 1e-11).
    xs = ZONES[zone]
    for rho in RHOS:
        _, du, drho = gradient(xs, 1.0, rho)
        for x, a, b in zip(xs, du, drho):
            errors = scaled_errors(x, rho, a, b, disk_gradient(x, rho))
            assert max(errors) < 2e-13, (zone, rho, x, errors)


@pytest.mark.parametrize("x,rho", [(0.0, 0.1), (0.6, 1e-4), (1.7, 1.0), (6.0, 0.01)])
def test_derivatives_are_those_of_the_edge(x, rho):
    # The flux through the moving and growing boundary, averaged around the
    # edge: a reference that does not use the closed form.
    _, du, drho = gradient([x], 1.0, rho)
    a, _, _ = disk_gradient(x, rho)
    by_edges = (a, *disk_gradient_by_edges(x, rho))
    assert max(scaled_errors(x, rho, du[0], drho[0], by_edges)) < 2e-13


# The limb-darkened references are 50-digit area averages, dearer than the
# disk's closed form: each zone takes a few (x, rho), every rho in some zone.
LAW_ZONES = {
    "centre": [(0.0, 0.1), (1e-7, 1e-6), (0.004, 10.0)],
    "inside": [(0.3, 1e-6), (0.3, 10.0), (0.85, 1e-3)],
    "near the limb": [(0.95, 0.1), (1 - 1e-4, 1e-6), (1 - 1e-7, 10.0), (1 + 1e-6, 1e-3), (1.09, 1e-6)],
    "within 1e-8 of the limb": [(1 - 1e-12, 0.1)],
    "outside": [(1.2, 10.0), (2.2, 1e-3), (math.nextafter(3.0, 0.0), 0.1)],
    "far": [(3.0, 1e-6), (40.0, 0.1), (3e4, 10.0)],
}
# Measured over 40 random sources per zone (bench.accuracy_gradient
# --limb-darkened): at most 6e-14 inside the source, 1.2e-12 within 0.1 of the
# limb, 8e-13 from 1.1 to 3 (7e-13 at x = 2.5 for small sources) and 5e-16
# beyond; within 1e-8 of the limb it grows as the limb nears, 4.3e-11 at
# |x - 1| = 1e-12 (and 3e-8 at 1e-15).
LAW_BOUNDS = {"near the limb": 5e-12, "within 1e-8 of the limb": 1e-10, "outside": 2e-12}


@ORDINARY_RUN_ONLY
@pytest.mark.parametrize("zone", LAW_ZONES)
def test_limb_darkened_derivatives_against_mpmath(zone):
    for x, rho in LAW_ZONES[zone]:
        _, du, drho = law_gradient([x], 1.0, rho)
        errors = scaled_errors(x, rho, du[0], drho[0], linear_gradient(x, rho))
        assert max(errors) < LAW_BOUNDS.get(zone, 2e-13), (zone, rho, x, errors)


def graded(n):
    """n radii from 0 to 1, equally spaced in sqrt(1 - r)."""
    return [1 - (1 - j / (n - 1)) ** 2 for j in range(n)]


# A uniform star, a step at a repeated radius, jumps at both ends (a dark
# centre and a dark rim), and a dense table of the law (from 24 radii on the
# rings cross the knots away from the lens).
TABLES = {
    "one radius": ([0.5], [2.0]),
    "step": ([0.0, 0.5, 0.5, 1.0], [1.0, 1.0, 0.4, 0.3]),
    "from 0.2 to 0.9": ([0.2, 0.6, 0.9], [1.0, 0.7, 0.5]),
    "30 graded": (graded(30), [linear_law(r) for r in graded(30)]),
}
# The centre or inside, next to a step, and outside.
TABLE_CASES = {
    "one radius": [(0.0, 0.1), (0.6, 1e-6), (1 - 1e-6, 10.0), (5.0, 1e-3)],
    "step": [(0.3, 0.01), (0.5 + 1e-3, 10.0), (1.5, 1e-3)],
    "from 0.2 to 0.9": [(0.1, 0.01), (0.2 + 1e-6, 1e-6), (0.9 - 1e-6, 0.1), (3.5, 10.0)],
    "30 graded": [(0.0, 0.01), (0.999, 0.1), (4.0, 10.0)],
}


@ORDINARY_RUN_ONLY
@pytest.mark.parametrize("table", TABLES)
def test_table_derivatives_against_mpmath(table):
    # Measured over 6 random sources per zone and table (bench.accuracy_gradient
    # --tables): at most 9e-14 inside, 6e-14 near and within 1e-8 of a step,
    # 3.6e-13 from 1.1 to 3.
    bl, bf = TABLES[table]
    for x, rho in TABLE_CASES[table]:
        _, du, drho = map_gradient([x], 1.0, rho, bl, bf)
        errors = scaled_errors(x, rho, du[0], drho[0], table_gradient(x, rho, bl, bf))
        assert max(errors) < 1e-12, (table, rho, x, errors)


AWKWARD = [0.0, -0.0, 5e-324, 1e-300, 0.5, 0.9, 1.0, 1 + 1e-15, 1.1, 2.9999, 3.0, 40.0, 1e7, 1e300,
           -1.0, math.inf, -math.inf, math.nan]
KINDS = {
    "disk": (gradient, zorvane.witt_mao_magnification, ()),
    "law": (law_gradient, zorvane.integrated_heyrovsky_magnification, ()),
    "table": (map_gradient, zorvane.integrated_flux_map_heyrovsky_magnification, TABLES["from 0.2 to 0.9"]),
    "dense table": (map_gradient, zorvane.integrated_flux_map_heyrovsky_magnification, TABLES["30 graded"]),
}


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("re,rstar", [(1.0, 1e-6), (1.0, 0.01), (1.0, 1.0), (1.0, 10.0), (1.0, 1e-300),
                                      (1.0, 1e30), (1.0, 0.0), (0.0, 1.0), (-1.0, 0.5), (math.nan, 1.0)])
def test_value_is_the_plain_magnification_bit_for_bit(kind, re, rstar):
    f, plain, table = KINDS[kind]
    value, du, drho = f(AWKWARD * 8, re, rstar, *table)
    assert np.asarray(value).tobytes() == np.asarray(plain(AWKWARD * 8, re, rstar, *table)).tobytes()
    # where A has no value, neither have its derivatives
    assert np.isnan(du)[np.isnan(value)].all() and np.isnan(drho)[np.isnan(value)].all()


@pytest.mark.parametrize("kind", ["disk", "law"])
@pytest.mark.parametrize("rho", [1e-8, 0.01, 1.0, 10.0])
def test_limb_gives_the_limits_of_both_sides(kind, rho):
    f, plain, _ = KINDS[kind]
    a, du, drho = f([1 - 1e-9, 1.0, 1 + 1e-9], 1.0, rho)
    assert a[1] == plain([1.0], 1.0, rho)[0]
    assert du[1] == -math.inf and drho[1] == math.inf
    # both diverge like ln|u - rho|, the same way from either side; their sum does not
    assert du[0] < 0 and du[2] < 0 and drho[0] > 0 and drho[2] > 0
    assert abs((du[0] + drho[0]) - (du[2] + drho[2])) < 1e-6 * abs(du[0])


def test_steps_of_a_table_give_infinities():
    # A step down outwards (the rim at 0.9, the repeated radius 0.5) acts as the
    # limb; the step up at the dark centre's edge (0.2) the other way round.
    for (bl, bf), radius, sign in [(TABLES["from 0.2 to 0.9"], 0.9, 1), (TABLES["step"], 0.5, 1),
                                   (TABLES["from 0.2 to 0.9"], 0.2, -1)]:
        a, du, drho = map_gradient([radius - 1e-9, radius, radius + 1e-9], 1.0, 0.01, bl, bf)
        assert du[1] == -sign * math.inf and drho[1] == sign * math.inf
        assert all(math.isfinite(v) for v in (du[0], du[2], drho[0], drho[2]))
        assert sign * du[0] < 0 and sign * du[2] < 0 and sign * drho[0] > 0 and sign * drho[2] > 0


def test_unordered_or_non_finite_table_has_no_derivatives():
    # A table whose radii decrease somewhere keeps its plain value (the
    # function's), but no derivatives; a value that is not finite has neither.
    x = [0.0, 0.5, 1.0, 2.0, 5.0]
    bl, bf = [0.0, 0.6, 0.5, 1.0], [1.0, 0.9, 0.8, 0.7]
    a, du, drho = map_gradient(x, 1.0, 0.01, bl, bf)
    assert a == zorvane.integrated_flux_map_heyrovsky_magnification(x, 1.0, 0.01, bl, bf)
    assert np.isnan(du).all() and np.isnan(drho).all()
    for bad in (math.inf, math.nan):
        assert np.isnan(map_gradient(x, 1.0, 0.01, [0.0, 0.5, 1.0], [1.0, bad, 1.0])).all()


@ORDINARY_RUN_ONLY
@pytest.mark.parametrize("x,rho", [(0.5, 0.01), (1.5, 0.1)])
def test_any_linear_coefficient_from_two_gradients(x, rho):
    # I(mu) = 1 - c(1 - mu): A_c = (1 - 2g)·A_uniform + 2g·A_0.6, g = 2c/(3 - c),
    # the same for both derivatives, and dA_c/dc = 12(A_0.6 - A_uniform)/(3 - c)²
    # (scaled as the others, by c/A).
    c = 0.9
    g = 2 * c / (3 - c)
    uniform, fixed = (np.array(f([x], 1.0, rho)).ravel() for f in (gradient, law_gradient))
    combined = (1 - 2 * g) * uniform + 2 * g * fixed
    reference = linear_gradient(x, rho, coeff=c)
    assert max(scaled_errors(x, rho, combined[1], combined[2], reference)) < 1e-12
    h = mp.mpf(10) ** -20
    with mp.workdps(50):
        by_c = (linear_source(x, rho, c + h, 50) - linear_source(x, rho, c - h, 50)) / (2 * h)
    assert abs(12 * (fixed[0] - uniform[0]) / (3 - c) ** 2 - by_c) * c / reference[0] < 1e-13


@pytest.mark.parametrize("kind", KINDS)
def test_sources_at_the_ends_of_the_range(kind):
    # Below 2^-256 Einstein radii A·rho is a function of x alone, so rho²
    # times either derivative is too; it joins the ordinary form continuously.
    f, _, table = KINDS[kind]
    x = [0.0, 0.4, 0.999, 1.5, 5.0]
    rows = [np.array(f(x, 1.0, rho, *table)[1:]) * rho * rho for rho in (1e-70, 1e-90, 1e-120)]
    assert np.allclose(rows[1], rows[0], rtol=1e-13, atol=0) and np.allclose(rows[2], rows[0], rtol=1e-13, atol=0)
    # from 2^64 on the derivatives (below 1e-57) are 0, and A is 1 (for the
    # disk to the last bit)
    a, du, drho = f([0.5, 2.0], 1.0, 1e30, *table)
    assert du == [0.0, 0.0] and drho == [0.0, 0.0]
    assert a == [1.0, 1.0] if kind == "disk" else max(abs(v - 1) for v in a) < 4e-15
