"""The disk and ring forms between the limb and the far field, pinned bit for bit.

Changes meant for one zone (the limb, far separations) must leave every other
output as it was: data/pinned_outputs.txt holds the exact bits of a fixed
sample outside those zones, inputs included (the limb-darkened forms integrate
across all zones, so they are checked for accuracy instead). Every machine of
this kind reproduces them: the module's arithmetic is IEEE basic operations,
correctly rounded square roots and glibc's atan and log, with no contraction
into FMA and no code chosen by the processor that changes a bit (the four-lane
kernels give the scalar bits, below). The values may change only with a
deliberate change of results there, written by tools/pin_outputs.py and
recorded in the commit that changes them.
"""

import os
import subprocess
import sys

import pytest

import pinned

HEADER, ENTRIES = pinned.read()


@pytest.mark.parametrize("kind", ["disk", "multi", "ring"])
def test_outputs_between_the_limb_and_the_far_field_keep_their_bits(kind):
    entries = [e for e in ENTRIES if e.kind == kind]
    assert entries
    report = pinned.differences(entries, pinned.evaluate(entries))
    assert not report, f"{len(report)} of {len(entries)} elements differ:\n" + "\n".join(report[:40])


KERNEL_SAMPLE = """
import hashlib, sys
import numpy as np
import zorvane
rng = np.random.default_rng(7)
x = np.concatenate([
    np.geomspace(1e-8, 1e7, 3000), rng.uniform(0.0, 8.0, 6000),
    1.0 + np.concatenate([s * np.geomspace(1e-13, 0.1, 1500) for s in (-1.0, 1.0)]),
    [0.0, -0.0, 1.0, -1.0, 5e-324, 1e-310, 1e300, np.inf, -np.inf, np.nan],
])
h = hashlib.sha256()
for re, rstar in [(1.0, r) for r in (1e-8, 1e-3, 0.01, 0.5, 1.0, 10.0)] + [
        (1.0, 0.0), (0.0, 1.0), (-1.0, 0.5), (np.nan, 1.0), (1.0, 1e-310), (1e-300, 1e300)]:
    h.update(np.asarray(zorvane.witt_mao_magnification(x, re, rstar)).tobytes())
    h.update(np.asarray(zorvane.witt_mao_magnification_gradient(x, re, rstar)).tobytes())
for v in zorvane.multi_witt_mao_magnification(x[::5], [1.0, 7.0], [0.01, 3.0]):
    h.update(np.asarray(v).tobytes())
# The limb-darkened forms (rings, and disks differenced in the radius): the lens
# inside the source, near its limb, outside it, and the awkward inputs.
xl = np.concatenate([np.linspace(0.0, 1.5, 24), 1.0 + np.geomspace(1e-9, 1e-2, 4), [2.5, 7.0, np.nan, np.inf]])
# Tables of 12 radii (cut at every knot) and of 40 (dense: crossed).
tables = [np.linspace(0.0, 1.0, n) for n in (12, 40)]
for rho in (1e-4, 0.01, 1.0):
    h.update(np.asarray(zorvane.integrated_heyrovsky_magnification(xl, 1.0, rho)).tobytes())
    h.update(np.asarray(zorvane.integrated_heyrovsky_magnification_gradient(xl, 1.0, rho)).tobytes())
    h.update(np.asarray(zorvane.integrated_witt_mao_magnification(xl[::2], 1.0, rho)).tobytes())
    for name in ("integrated_flux_map_heyrovsky_magnification", "integrated_flux_map_witt_mao_magnification",
                 "integrated_flux_map_heyrovsky_magnification_gradient"):
        for r in tables:
            h.update(np.asarray(getattr(zorvane, name)(xl[::4], 1.0, rho, r, 1.0 - 0.5 * r * r)).tobytes())
print(h.hexdigest())
"""


def test_vector_and_scalar_kernels_give_the_same_bits():
    # The four-lane kernels (where the processor has AVX2) against the scalar
    # ones, forced with ZORVANE_KERNELS, on the limb zone, the elliptic forms,
    # the far field and the awkward inputs, for the disk (with its gradient)
    # and for the limb-darkened forms.
    digests = {}
    for kernels in ("scalar", None):
        env = dict(os.environ)
        env.pop("ZORVANE_KERNELS", None)
        if kernels is not None:
            env["ZORVANE_KERNELS"] = kernels
        proc = subprocess.run([sys.executable, "-c", KERNEL_SAMPLE], env=env, capture_output=True,
                              text=True, check=True)
        digests[kernels] = proc.stdout.strip()
    assert digests["scalar"] == digests[None]
