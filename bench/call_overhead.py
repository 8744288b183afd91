#!/usr/bin/env python3
"""Per-call cost of witt_mao_magnification for 1, 2, 10, 100 and 1000 separations.

Four settings, each in its own process: one worker (RAYON_NUM_THREADS=1) and
the default pool (all CPUs), on the machine as it is ("quiet") and with two
busy-loop processes keeping the cores busy ("busy"). Each size is timed in
short batches of calls, the sizes interleaved, and the median per call is kept;
the two settings of a load run alternately, several rounds each, and the
median over the rounds is reported: the machine may be shared, so single
timings are noisy and its speed drifts between processes.

The check: a call of n <= 100 separations should cost at most the 1-separation
call plus n times the cost of one element, within 20 %. The element cost comes
from the one-worker process of the same load: (t(1000) - t(1)) / 999, which
runs on the calling thread. Printed are the medians, the ratios to the
1-separation call, and t(n) / (t(1) + n c).

Usage: python bench/call_overhead.py [--rounds R] [--seconds S]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

SIZES = (1, 2, 10, 100, 1000)
BUSY_PROCESSES = 2


def measure(seconds):
    """Runs in the measuring process: medians of the per-call time in us."""
    import numpy as np

    import zorvane

    arrays = {n: np.linspace(0.05, 4.0, n) for n in SIZES}
    re, rstar = 1.0, 0.01
    # Batches of about 200 us, so that the clock's cost is negligible.
    batch = {n: max(1, 200 // (1 + n // 3)) for n in SIZES}
    for n in SIZES:  # creates the pool, warms the caches
        for _ in range(batch[n]):
            zorvane.witt_mao_magnification(arrays[n], re, rstar)
    samples = {n: [] for n in SIZES}
    deadline = time.perf_counter() + seconds
    rounds = 0
    while rounds < 20 or time.perf_counter() < deadline:
        rounds += 1
        for n in SIZES:
            a, k, f = arrays[n], batch[n], zorvane.witt_mao_magnification
            t0 = time.perf_counter_ns()
            for _ in range(k):
                f(a, re, rstar)
            samples[n].append((time.perf_counter_ns() - t0) / k / 1000)
    return {str(n): statistics.median(samples[n]) for n in SIZES} | {"batches": rounds}


def run_setting(threads, args):
    env = dict(os.environ)
    env.pop("RAYON_NUM_THREADS", None)
    env.pop("RAYON_RS_NUM_CPUS", None)
    if threads is not None:
        env["RAYON_NUM_THREADS"] = str(threads)
    out = subprocess.run([sys.executable, __file__, "--measure", "--seconds", str(args.seconds / args.rounds)],
                         env=env, check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=8.0, help="per setting and load")
    parser.add_argument("--measure", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        print(json.dumps(measure(args.seconds)))
        return 0

    cpus = len(os.sched_getaffinity(0))
    print(f"{cpus} CPUs, load average {os.getloadavg()[0]:.1f}; medians over batches of calls, "
          f"rho = 0.01, float64 array of separations in [0.05, 4]")
    worst = 0.0
    for load in ("quiet", "busy"):
        busy = []
        if load == "busy":
            busy = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                    for _ in range(BUSY_PROCESSES)]
            time.sleep(0.5)
        settings = (("1 worker", 1), (f"all ({cpus})", None))
        try:
            rounds = [{label: run_setting(threads, args) for label, threads in settings}
                      for _ in range(args.rounds)]
        finally:
            for p in busy:
                p.kill()
                p.wait()
        results = {label: {key: statistics.median(r[label][key] for r in rounds) for key in rounds[0][label]}
                   for label, _ in settings}
        element = statistics.median((r["1 worker"]["1000"] - r["1 worker"]["1"]) / 999 for r in rounds)
        print(f"\n{load}{' (%d busy-loop processes)' % BUSY_PROCESSES if busy else ''}: "
              f"cost of one element {element * 1000:.0f} ns")
        print(f"  {'setting':<10}" + "".join(f"{'n = ' + str(n):>12}" for n in SIZES) + "   batches")
        for label, t in results.items():
            print(f"  {label:<10}" + "".join(f"{t[str(n)]:>9.2f} us" for n in SIZES) + f"   {t['batches']:.0f}")
            print(f"  {'  / t(1)':<10}" + "".join(f"{t[str(n)] / t['1']:>12.2f}" for n in SIZES))
            bound = [t[str(n)] / (t["1"] + n * element) for n in SIZES]
            print(f"  {'  / bound':<10}" + "".join(f"{b:>12.2f}" for b in bound)
                  + "   (bound: t(1) + n x element)")
            worst = max(worst, *(b for n, b in zip(SIZES, bound) if n <= 100))
    print(f"\nlargest t(n) / (t(1) + n x element) for n <= 100: {worst:.2f} (target: <= 1.20)")
    return 0 if worst <= 1.2 else 1


if __name__ == "__main__":
    sys.exit(main())
