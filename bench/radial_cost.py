"""Cost of one limb-darkened epoch, in uniform-disk elements of the same run.

A disk element is one separation of witt_mao_magnification, with separations
uniform in [0, 2.9) source radii, rho = 0.01, in calls of 30 000. The
limb-darkened epochs use the same rho, with separations uniform in each zone:
inside the star (0 <= l < 1), within 0.1 of the limb (0.9 <= l < 1.1) and
1.1 <= l < 2.9. Tables for the flux maps: the 0.6 law at 5, 50 and 400 knots,
spaced evenly in r and graded towards the limb (evenly in sqrt(1 - r)).

Run with one thread (the script sets RAYON_NUM_THREADS=1 for its child) from
the repository root: python -m bench.radial_cost [--epochs N]
"""

import argparse
import json
import os
import subprocess
import sys

MEASURE = r"""
import json, math, sys, time
import numpy as np
import zorvane
from bench.report import interleaved

EPOCHS = int(sys.argv[1])
rng = np.random.default_rng(20261209)
rho = 0.01
disk_x = list(rng.uniform(0.0, 2.9, 30_000))
zones = {"inside": (0.0, 1.0), "limb": (0.9, 1.1), "outside": (1.1, 2.9)}
epochs = {z: list(rng.uniform(a, b, EPOCHS)) for z, (a, b) in zones.items()}

def table(n, graded):
    s = np.linspace(0.0, 1.0, n)
    r = 1.0 - (1.0 - s) ** 2 if graded else s
    return list(r), [1.0 - 0.6 * (1.0 - math.sqrt(max(0.0, 1.0 - x * x))) for x in r]

forms = {
    "integrated_heyrovsky": lambda x: zorvane.integrated_heyrovsky_magnification(x, 1.0, rho),
    "integrated_witt_mao": lambda x: zorvane.integrated_witt_mao_magnification(x, 1.0, rho),
}
for n in (5, 50, 400):
    for graded in (False, True):
        bl, bf = table(n, graded)
        tag = f"{n}{'g' if graded else 'e'}"
        forms[f"flux_map_heyrovsky_{tag}"] = (lambda bl, bf: lambda x: zorvane.integrated_flux_map_heyrovsky_magnification(x, 1.0, rho, bl, bf))(bl, bf)
        forms[f"flux_map_witt_mao_{tag}"] = (lambda bl, bf: lambda x: zorvane.integrated_flux_map_witt_mao_magnification(x, 1.0, rho, bl, bf))(bl, bf)

disk = lambda: zorvane.witt_mao_magnification(disk_x, 1.0, rho)
out = {}
for name, f in forms.items():
    calls = [disk] + [(lambda z: lambda: f(epochs[z]))(z) for z in zones]
    best = interleaved(calls, rounds=3)
    element = best[0] / len(disk_x)
    out[name] = {z: best[i + 1] / EPOCHS / element for i, z in enumerate(zones)}
    out[name]["disk_ns"] = element * 1e9
print(json.dumps(out))
"""


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--epochs", type=int, default=400)
    args = parser.parse_args()
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    done = subprocess.run([sys.executable, "-c", MEASURE, str(args.epochs)], env=env, check=True,
                          capture_output=True, text=True)
    out = json.loads(done.stdout)
    print(f"cost per epoch in disk elements (one element: {next(iter(out.values()))['disk_ns']:.0f} ns)")
    print(f"{'form':<28} {'inside':>8} {'limb':>8} {'outside':>8}")
    for name, v in out.items():
        print(f"{name:<28} {v['inside']:8.1f} {v['limb']:8.1f} {v['outside']:8.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
