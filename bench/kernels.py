"""The four-lane (AVX2) kernels against the scalar ones, on one thread.

Three workloads:
  disk        witt_mao_magnification, 200 000 separations uniform in [0, 3]
              source radii (re = 1, rstar = 0.01): the limb zone and the
              elliptic forms on both sides of it;
  integrated  integrated_heyrovsky_magnification (linear limb darkening),
              400 separations uniform in [0, 1] source radii, the lens inside
              the source;
  int-disk    integrated_witt_mao_magnification (the same profile through
              nested disks), 100 separations uniform in [0, 1] source radii.

Each kernel set runs in its own process (ZORVANE_KERNELS=scalar or avx2,
RAYON_NUM_THREADS=1), the two alternating for several rounds; a process keeps
the best of a few timings per workload. Reported, in ns per element, are the
median and the best over the rounds (the machine may be shared, and the best
is the least disturbed), with the ratios scalar / avx2. Both sets give the
same bits, which every round checks by a digest of the outputs.

Usage (from the repository root): python -m bench.kernels [--rounds R]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

MEASURE = r"""
import hashlib, json, time
import numpy as np
import zorvane

rng = np.random.default_rng(20261208)
disk_x = rng.uniform(0.0, 3.0, 200_000)
integ_x = rng.uniform(0.0, 1.0, 400)
idisk_x = rng.uniform(0.0, 1.0, 100)
work = {
    "disk": (len(disk_x), lambda: zorvane.witt_mao_magnification(disk_x, 1.0, 0.01)),
    "integrated": (len(integ_x), lambda: zorvane.integrated_heyrovsky_magnification(integ_x, 1.0, 0.01)),
    "int-disk": (len(idisk_x), lambda: zorvane.integrated_witt_mao_magnification(idisk_x, 1.0, 0.01)),
}
out = {}
for name, (n, f) in work.items():
    f()
    best = float("inf")
    for _ in range(REPEATS):
        t = time.perf_counter()
        values = f()
        best = min(best, time.perf_counter() - t)
    out[name] = {"ns": best / n * 1e9,
                 "digest": hashlib.sha256(np.asarray(values).tobytes()).hexdigest()[:16]}
print(json.dumps(out))
"""


def run(kernels, repeats):
    env = dict(os.environ, ZORVANE_KERNELS=kernels, RAYON_NUM_THREADS="1")
    code = MEASURE.replace("REPEATS", str(repeats))
    proc = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    return json.loads(proc.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()

    times = {"scalar": {}, "avx2": {}}
    for _ in range(args.rounds):
        results = {k: run(k, args.repeats) for k in ("scalar", "avx2")}
        for name in results["scalar"]:
            if results["scalar"][name]["digest"] != results["avx2"][name]["digest"]:
                sys.exit(f"{name}: the two kernel sets gave different bits")
            for k in times:
                times[k].setdefault(name, []).append(results[k][name]["ns"])

    print(f"one thread, {args.rounds} rounds of best-of-{args.repeats} per process; same bits both ways")
    print(f"{'workload':<12} {'':>7} {'scalar ns/el':>13} {'avx2 ns/el':>11} {'speed-up':>9}")
    for name in times["scalar"]:
        for label, pick in (("median", statistics.median), ("best", min)):
            s = pick(times["scalar"][name])
            v = pick(times["avx2"][name])
            print(f"{name:<12} {label:>7} {s:13.1f} {v:11.1f} {s / v:8.2f}x")

if __name__ == "__main__":
    main()
