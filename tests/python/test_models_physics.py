"""The magnifications against the physics they stand for.

References are independent of the code under test: high-precision mpmath or
SciPy quadratures of the point-lens magnification A(u) = (u² + 2)/(u√(u² + 4)),
averaged over the source disk (uniform disk), around a ring (ring form), or over
the disk with a brightness profile (limb-darkened forms), from references.py.
"""

import functools
import math
import os
import subprocess
import sys
import textwrap

import pytest

import zorvane
from references import linear_law, linear_source, table_source
from references import disk as disk_reference
from references import disk_closed_form
from references import ring as ring_reference


def rel(a, b):
    return abs(a - b) / abs(b)


# --- uniform disk ---------------------------------------------------------

DISK_X = [0.0, 0.2, 0.5, 0.8, 0.9, 0.92, 0.99, 0.998, 0.9995, 0.99995, 1.0 - 1e-6, 1.0 - 1e-10, 1.0, 1.0 + 1e-10,
          1.0 + 1e-7, 1.00003, 1.0005, 1.002, 1.02, 1.08, 1.2, 1.3, 1.6, 2.0, 2.99, 3.0, 4.0, 6.0, 10.0, 30.0,
          1e3, 1e6]


def disk_tolerance(x):
    # Near the limb (|x - 1| < 0.5) the complements 1 - n and 1 - m are formed
    # directly and far from the source the mean-value series takes over, so
    # every digit stays; in between the closed form loses up to 8e-15.
    return 2e-15 if x >= 3 or abs(x - 1.0) < 0.5 else 1e-14


@pytest.mark.parametrize("rho", [1e-6, 1e-4, 1e-3, 1e-2, 0.1, 1.0, 10.0])
def test_disk_is_the_area_average_of_the_point_lens(rho):
    got = zorvane.witt_mao_magnification(DISK_X, 1.0, rho)
    for x, value in zip(DISK_X, got):
        ref = disk_reference(x, rho)
        assert rel(value, ref) < disk_tolerance(x), (rho, x, value, float(ref))


def test_disk_special_values():
    a0, a1 = zorvane.witt_mao_magnification([0.0, 1.0], 1.0, 1.0)
    assert a0 == pytest.approx(math.sqrt(5.0), rel=1e-15)
    assert a1 == pytest.approx(1 + 2 / math.pi, rel=1e-15)
    assert zorvane.witt_mao_magnification([0.0], 1, 0.1)[0] == pytest.approx(math.sqrt(401), rel=1e-15)
    assert all(math.isnan(v) for v in zorvane.witt_mao_magnification([0.5, 1.0, 3.0], 1.0, 0.0))


@pytest.mark.parametrize("rho", [1e-300, 1e-120, 1e80, 1e300])
def test_disk_of_a_source_at_the_ends_of_the_range(rho):
    # Products like (l + 1)·rho³ leave the range of doubles there.
    x = [0.0, 0.5, 0.95, 1.0, 1.05, 2.0]
    for xi, value in zip(x, zorvane.witt_mao_magnification(x, 1.0, rho)):
        assert rel(value, disk_closed_form(xi, 1.0, rho, dps=60)) < disk_tolerance(xi), (xi, value)


# --- ring -----------------------------------------------------------------

RING_CASES = [
    (l, r, c)
    for c in (0.3, 1.0, 10.0, 1000.0)
    for (l, r) in [(0.0, 0.5), (0.2, 0.9), (0.5, 0.2), (1.0, 0.3), (0.9, 1.0), (2.0, 0.7), (5.0, 1.0),
                   (0.5, 0.51), (0.5, 0.5005), (1.0, 1.00002), (1e-8, 1e-8 + 4e-6), (1e-6, 0.3),
                   (1.0, 1.0 - 1e-8), (3.0, 3.0 + 3e-5), (0.2, 0.198),
                   (3.0, 1.0), (0.3, 0.9), (30.0, 1.0), (0.7, 30.0), (1e3, 0.2)]
]


@pytest.mark.parametrize("l,r,c", RING_CASES)
def test_ring_is_the_average_around_the_ring(l, r, c):
    value = zorvane.heyrovsky_magnification(l, r, c, 1.0)
    ref = ring_reference(l, r, c)
    if max(l, r) >= 3 * min(l, r):
        tol = 2e-15   # the mean-value series
    else:
        tol = 1e-12 if abs(r - l) < 0.1 * (l + r) else 1e-10
    assert rel(value, ref) < tol, (l, r, c, value, float(ref))


@pytest.mark.parametrize("l,r,c", [
    (1e-300, 2e-300, 1e-8), (1e-300, 2e-300, 1.0), (1e-160, 1.1e-160, 1.0), (1e-300, 1.0000001e-300, 1.0),
    (1e-300, 5e-301, 1e-300), (2.2250738585072014e-308, 3e-308, 1.0), (1.0, 1.05, 1e80), (1e300, 1.05e300, 1e300)])
def test_ring_at_the_ends_of_the_range(l, r, c):
    # Squares and products of such lengths under- or overflow; the value
    # depends only on their ratios.
    value = zorvane.heyrovsky_magnification(l, r, c, 1.0)
    assert rel(value, ring_reference(l, r, c)) < 1e-15, value


def test_ring_band_is_relative_to_the_separation():
    # A lens near the centre of the source, ring 4e-6 away: a band of fixed
    # width would apply an expansion in (r - l)/l far outside its validity.
    value = zorvane.heyrovsky_magnification(1e-8, 1e-8 + 4e-6, 10, 1)
    assert rel(value, ring_reference(1e-8, 1e-8 + 4e-6, 10)) < 1e-9
    assert zorvane.heyrovsky_magnification(0.7, 0.7, 10, 1) == math.inf
    # r = l without a lens, or at a negative separation, has no value
    assert math.isnan(zorvane.heyrovsky_magnification(0.7, 0.7, 0.0, 1))
    assert math.isnan(zorvane.heyrovsky_magnification(-0.7, -0.7, 10, 1))


def test_ring_failure_carries_the_elliptic_message():
    with pytest.raises(RuntimeError) as info:
        zorvane.heyrovsky_magnification(-0.5, 0.7, 10, 1)
    assert len(info.value.args) == 1
    assert info.value.args[0].startswith("ellip")


# --- limb-darkened forms ----------------------------------------------------


# Separations (source radii) by zone of the radial rule: the lens at or near the
# centre, inside, at the limb from 1e-1 down to 1e-12 on both sides, and out to
# where the far-field series takes over.
LD_ZONES = {
    "centre": [0.0, 1e-6, 1e-3],
    "inside": [0.2, 0.6, 0.88],
    "limb": [1.0] + [1.0 + s * d for d in (1e-1, 1e-4, 1e-8, 1e-12) for s in (-1.0, 1.0)],
    "outside": [1.15, 1.8, 2.999],
}


@pytest.mark.parametrize("rho", [1e-6, 0.01, 1.0, 10.0])
@pytest.mark.parametrize("zone", LD_ZONES)
def test_limb_darkened_families_by_zone(zone, rho):
    # The ring family keeps some 1e-14; the disk family differences its disks
    # in the radius, which costs it digits: 3e-11.
    ls = LD_ZONES[zone]
    rings = zorvane.integrated_heyrovsky_magnification(ls, 1.0, rho)
    disks = zorvane.integrated_witt_mao_magnification(ls, 1.0, rho)
    for l, a_ring, a_disk in zip(ls, rings, disks):
        ref = linear_source(l, rho, 0.6)
        assert rel(a_ring, ref) < 1e-13, (rho, l, a_ring, ref)
        assert rel(a_disk, ref) < 5e-11, (rho, l, a_disk, ref)


@pytest.mark.parametrize("rho", [1e-5, 0.01, 10.0])
def test_limb_darkened_families_far_from_the_source(rho):
    # From 3 source radii out both families take the profile's mean-value
    # series; both quadratures meet it without a visible step.
    ls = [3.0, 30.0, 1e3]
    for f in (zorvane.integrated_heyrovsky_magnification, zorvane.integrated_witt_mao_magnification):
        for l, value in zip(ls, f(ls, 1.0, rho)):
            ref = linear_source(l, rho, 0.6)
            assert rel(value, ref) < 1e-14, (f.__name__, rho, l, value, ref)
        near, far = f([math.nextafter(3.0, 0.0), 3.0], 1.0, rho)
        assert rel(near, far) < 1e-14, f.__name__
    # A table's moments are exact: a uniform table is the uniform disk's series.
    for f in (zorvane.integrated_flux_map_heyrovsky_magnification, zorvane.integrated_flux_map_witt_mao_magnification):
        assert f(ls, 1.0, rho, [0.0, 1.0], [1.0, 1.0]) == zorvane.witt_mao_magnification(ls, 1.0, rho)


def test_profile_changes_the_disk_family():
    # Limb darkening concentrates light near the centre, so a lens near the
    # centre magnifies a darkened source more than a uniform one.
    dark = zorvane.integrated_witt_mao_magnification([0.05], 1.0, 0.1)[0]
    uniform = zorvane.witt_mao_magnification([0.05], 1.0, 0.1)[0]
    assert dark > uniform * 1.05


@pytest.mark.parametrize("u", [0.3, 0.6, 0.9])
def test_any_linear_coefficient_from_two_calls(u):
    # I(mu) = 1 - u(1 - mu) is a mix of the uniform disk and the fixed law of
    # 0.6: A_u = (1 - 2g)·A_uniform + 2g·A_0.6, g = 2u/(3 - u) (g = 1/2 at 0.6).
    # The same law tabulated at radii equally spaced in sqrt(1 - r) agrees to the
    # interpolation error of 400 radii, in both families.
    n = 400
    knots = [1 - (1 - j / (n - 1)) ** 2 for j in range(n)]
    values = [1 - u * (1 - math.sqrt(1 - r * r)) for r in knots]
    g = 2 * u / (3 - u)
    l = [0.0, 0.5, 0.99, 1.5, 3.0]
    uniform = zorvane.witt_mao_magnification(l, 1.0, 0.05)
    for tab, fixed in ((zorvane.integrated_flux_map_heyrovsky_magnification, zorvane.integrated_heyrovsky_magnification),
                       (zorvane.integrated_flux_map_witt_mao_magnification, zorvane.integrated_witt_mao_magnification)):
        for a, b, t in zip(uniform, fixed(l, 1.0, 0.05), tab(l, 1.0, 0.05, knots, values)):
            assert rel((1 - 2 * g) * a + 2 * g * b, t) < 1e-6, (u, tab.__name__, a, b, t)


# Both families of flux maps with what they keep of the exact magnification of
# the interpolated table: the ring family its rounding, the disk family the
# error of its difference in the radius (4e-11: the whole profile goes through
# the difference).
FLUX_MAPS = [pytest.param(zorvane.integrated_flux_map_heyrovsky_magnification, 1e-13, id="rings"),
             pytest.param(zorvane.integrated_flux_map_witt_mao_magnification, 5e-11, id="disks")]


def graded(n):
    """n radii from 0 to 1, equally spaced in sqrt(1 - r)."""
    return [1 - (1 - j / (n - 1)) ** 2 for j in range(n)]


def law_table(bl):
    return bl, [linear_law(r) for r in bl]


# A table's kinks at its radii, a step at a repeated radius, and a dense table
# (from 24 radii on the rule crosses the knots away from the lens).
TABLES = {
    "5 even": law_table([j / 4 for j in range(5)]),
    "5 graded": law_table(graded(5)),
    "step": ([0.0, 0.5, 0.5, 1.0], [1.0, 1.0, 0.4, 0.3]),
    "30 graded": law_table(graded(30)),
}


@functools.cache
def table_reference(table, l):
    return table_source(l, 0.01, *TABLES[table])


@pytest.mark.parametrize("table", TABLES)
@pytest.mark.parametrize("flux_map,tol", FLUX_MAPS)
def test_flux_maps_are_exact_for_their_table(flux_map, tol, table):
    # At the centre, on a knot (0.5), next to the limb and outside.
    bl, bf = TABLES[table]
    ls = [0.0, 0.5, 0.999, 2.73]
    for l, value in zip(ls, flux_map(ls, 1.0, 0.01, bl, bf)):
        ref = table_reference(table, l)
        assert rel(value, ref) < tol, (table, l, value, ref)


@pytest.mark.parametrize("flux_map,tol", FLUX_MAPS)
def test_flux_maps_of_a_faint_lens_meet_their_far_series(flux_map, tol):
    # A big source (A - 1 about 1e-6 at 3 radii): never below 1, and no step
    # where the series takes over.
    for table in ("5 graded", "30 graded"):
        bl, bf = TABLES[table]
        assert min(flux_map([k / 100 for k in range(500)], 1.0, 10.0, bl, bf)) >= 1.0
        near, far = flux_map([math.nextafter(3.0, 0.0), 3.0], 1.0, 0.01, bl, bf)
        assert rel(near, far) < 1e-14, table


@pytest.mark.parametrize("table", [([0.5], [2.0]), ([0.0, 1.0], [1.0, 1.0])], ids=["one entry", "flat"])
@pytest.mark.parametrize("flux_map,tol", FLUX_MAPS)
def test_uniform_tables_are_the_uniform_disk(flux_map, tol, table):
    # One entry means the same brightness at every radius, not only at bl[0].
    l = [0.0, 0.5, 1.5, 3.0]
    for a, b in zip(flux_map(l, 1.0, 0.05, *table), zorvane.witt_mao_magnification(l, 1.0, 0.05)):
        assert rel(a, b) < tol


@pytest.mark.parametrize("flux_map,tol", FLUX_MAPS)
def test_table_ending_at_half_radius_is_the_inner_disk(flux_map, tol):
    # Nothing shines beyond r = 0.5: the source is a uniform disk of half the radius.
    l = [0.0, 0.25, 0.8, 2.0]
    inner = zorvane.witt_mao_magnification([x / 0.5 for x in l], 1.0, 0.05 * 0.5)
    for a, b in zip(flux_map(l, 1.0, 0.05, [0.0, 0.5], [1.0, 1.0]), inner):
        assert rel(a, b) < tol


def test_integrated_failures_are_nan():
    out = zorvane.integrated_heyrovsky_magnification([float("nan"), 0.5], 1.0, 0.1)
    assert math.isnan(out[0]) and out[1] > 1
    assert math.isnan(zorvane.integrated_witt_mao_magnification([float("nan")], 1.0, 0.1)[0])
    for f in (zorvane.integrated_flux_map_heyrovsky_magnification, zorvane.integrated_flux_map_witt_mao_magnification):
        assert all(math.isnan(v) for v in f([0.3, 2.0], 1.0, 0.1, [], []))


# --- pool size --------------------------------------------------------------

POOL_SCRIPT = textwrap.dedent(
    """
    import zorvane, random
    random.seed(7)
    l = [random.uniform(0, 5) for _ in range(3001)] + [1.0, 0.0]
    out = [zorvane.witt_mao_magnification(l, 1.0, 0.01),
           zorvane.multi_witt_mao_magnification(l[:301], [1.0, 2.0, 0.5], [0.01, 0.1]),
           zorvane.integrated_witt_mao_magnification(l[:40], 1.0, 0.05),
           zorvane.integrated_heyrovsky_magnification(l[:40], 1.0, 0.05)]
    print(repr([[v.hex() for v in x] if isinstance(x[0], float) else [[v.hex() for v in y] for y in x] for x in out]))
    """
)


def test_results_do_not_depend_on_the_pool_size():
    outputs = []
    for n in ("1", "2", "3"):
        env = dict(os.environ, RAYON_NUM_THREADS=n)
        outputs.append(subprocess.run([sys.executable, "-c", POOL_SCRIPT], env=env, check=True,
                                      capture_output=True, text=True).stdout)
    assert outputs[0] == outputs[1] == outputs[2]


def test_batch_equals_single_evaluations():
    l = [0.0, 0.5, 1.0, 2.5, 7.0]
    batch = zorvane.multi_witt_mao_magnification(l, [1.0, 2.0], [0.1, 0.2, 0.3])
    assert len(batch) == 6
    for k, (re, rstar) in enumerate((a, b) for a in (1.0, 2.0) for b in (0.1, 0.2, 0.3)):
        assert batch[k] == zorvane.witt_mao_magnification(l, re, rstar)


FORK_SCRIPT = textwrap.dedent(
    """
    import multiprocessing as mp, os, warnings, zorvane
    warnings.simplefilter("ignore", DeprecationWarning)   # forking a process that has threads
    l = [0.1 * k for k in range(200)]
    expected = zorvane.witt_mao_magnification(l, 1.0, 0.05)   # the parent's pool is running

    def work(scale):
        return zorvane.witt_mao_magnification(l, scale, 0.05 * scale)

    if __name__ == "__main__":
        with mp.get_context("fork").Pool(2) as pool:
            results = pool.map_async(work, [1.0, 2.0, 4.0, 0.5], chunksize=1).get(timeout=60)
        assert all(r == expected for r in results)
        pid = os.fork()
        if pid == 0:
            os._exit(0 if zorvane.witt_mao_magnification(l, 1.0, 0.05) == expected else 1)
        assert os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 0
        assert zorvane.witt_mao_magnification(l, 1.0, 0.05) == expected
        print("ok")
    """
)


def test_forked_children_get_their_own_pool(tmp_path):
    # A child forked while the parent's workers run inherits no worker threads;
    # it must build its own pool instead of waiting for threads that do not exist.
    script = tmp_path / "fork_children.py"
    script.write_text(FORK_SCRIPT)
    out = subprocess.run([sys.executable, str(script)], check=True, capture_output=True, text=True, timeout=120)
    assert out.stdout.strip() == "ok"
