"""Outputs away from the limb, pinned bit for bit.

Changes meant for one zone (the limb, far separations) must leave every other
output as it was: these digests were taken before such changes and hold the
exact bits of a fixed sample outside those zones. A digest may change only with
a deliberate change of results there, recorded in the commit that changes it.
"""

import hashlib
import struct

import numpy as np

import zorvane


def digest(values):
    return hashlib.sha256(struct.pack(f"<{len(values)}d", *values)).hexdigest()[:16]


def sample_separations():
    # Away from the limb (|x - 1| >= 0.1), out to 30 source radii.
    x = np.concatenate([np.geomspace(1e-6, 0.899, 300), np.geomspace(1.101, 29.9, 300), [0.0]])
    return x.tolist()


def test_disk_and_batch_outside_the_limb_zone():
    x = sample_separations()
    values = [v for rho in (1e-6, 1e-3, 0.1, 1.0, 10.0) for v in zorvane.witt_mao_magnification(x, 1.0, rho)]
    values += [v for lst in zorvane.multi_witt_mao_magnification(x[::7], [1.0, 3.0], [0.01, 2.0]) for v in lst]
    assert digest(values) == "2c0611821a3c3a52"


def test_rings_away_from_the_lens():
    values = []
    for c in (0.01, 1.0, 100.0, 1e4):
        for l in np.geomspace(1e-3, 20.0, 25):
            for ratio in (0.05, 0.3, 0.75, 1.3, 2.0, 9.0, 25.0):
                values.append(zorvane.heyrovsky_magnification(l, l * ratio, c, 1.0))
    assert digest(values) == "9a91506acb667e50"


def test_limb_darkened_forms_outside_the_source():
    l = np.geomspace(1.3, 29.0, 12).tolist()
    table = (np.linspace(0.0, 1.0, 20).tolist(), (1.0 - 0.5 * np.linspace(0.0, 1.0, 20) ** 2).tolist())
    values = []
    for rho in (1e-3, 0.1, 2.0):
        values += zorvane.integrated_heyrovsky_magnification(l, 1.0, rho)
        values += zorvane.integrated_witt_mao_magnification(l, 1.0, rho)
        values += zorvane.integrated_flux_map_heyrovsky_magnification(l, 1.0, rho, *table)
        values += zorvane.integrated_flux_map_witt_mao_magnification(l, 1.0, rho, *table)
        values += zorvane.discrete_flux_map_heyrovsky_magnification(l, 1.0, rho, *table)
    assert digest(values) == "c8e4b1119fcd52be"
