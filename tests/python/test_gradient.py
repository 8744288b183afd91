"""The uniform disk's gradient [A, dA/du, dA/drho]: the derivatives against
mpmath zone by zone, the value bit for bit that of witt_mao_magnification, the
limb, and the inputs without a value."""

import math

import numpy as np
import pytest

import zorvane
from references import disk_gradient, disk_gradient_by_edges

gradient = zorvane.witt_mao_magnification_gradient

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


AWKWARD = [0.0, -0.0, 5e-324, 1e-300, 0.5, 0.9, 1.0, 1 + 1e-15, 1.1, 2.9999, 3.0, 40.0, 1e7, 1e300,
           -1.0, math.inf, -math.inf, math.nan]


@pytest.mark.parametrize("re,rstar", [(1.0, 1e-6), (1.0, 0.01), (1.0, 1.0), (1.0, 10.0), (1.0, 1e-300),
                                      (1.0, 1e30), (1.0, 0.0), (0.0, 1.0), (-1.0, 0.5), (math.nan, 1.0)])
def test_value_is_the_plain_magnification_bit_for_bit(re, rstar):
    value, du, drho = gradient(AWKWARD * 8, re, rstar)
    plain = zorvane.witt_mao_magnification(AWKWARD * 8, re, rstar)
    assert np.asarray(value).tobytes() == np.asarray(plain).tobytes()
    # where A has no value, neither have its derivatives
    assert np.isnan(du)[np.isnan(value)].all() and np.isnan(drho)[np.isnan(value)].all()


@pytest.mark.parametrize("rho", [1e-8, 0.01, 1.0, 10.0])
def test_limb_gives_the_limits_of_both_sides(rho):
    a, du, drho = gradient([1 - 1e-9, 1.0, 1 + 1e-9], 1.0, rho)
    assert a[1] == zorvane.witt_mao_magnification([1.0], 1.0, rho)[0]
    assert du[1] == -math.inf and drho[1] == math.inf
    # both diverge like ln|u - rho|, the same way from either side; their sum does not
    assert du[0] < 0 and du[2] < 0 and drho[0] > 0 and drho[2] > 0
    assert abs((du[0] + drho[0]) - (du[2] + drho[2])) < 1e-6 * abs(du[0])


def test_sources_at_the_ends_of_the_range():
    # Below 2^-256 Einstein radii A·rho is a function of x alone, so rho²
    # times either derivative is too; it joins the ordinary form continuously.
    x = [0.0, 0.4, 0.999, 1.5, 5.0]
    rows = [np.array(gradient(x, 1.0, rho)[1:]) * rho * rho for rho in (1e-70, 1e-90, 1e-120)]
    assert np.allclose(rows[1], rows[0], rtol=1e-13, atol=0) and np.allclose(rows[2], rows[0], rtol=1e-13, atol=0)
    # from 2^64 on A is 1 to the last bit, and its derivatives (below 1e-57) 0
    assert gradient([0.5, 2.0], 1.0, 1e30) == [[1.0, 1.0], [0.0, 0.0], [0.0, 0.0]]
