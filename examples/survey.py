"""A survey of many microlensing events, spread over worker processes.

Each event (random impact parameter u0, Einstein time tE, source radius rho) is
one task: its light curve at a few hundred epochs, for a uniform and for a
limb-darkened source. The tasks go to a Dask cluster (by default a LocalCluster
of worker processes on this machine) or, with --backend processes, to a
concurrent.futures.ProcessPoolExecutor; --backend serial computes them here.
Every backend gives the same numbers to the last bit, and the script prints a
checksum of all light curves to show it.

How a survey spreads beyond one machine: start a Dask scheduler and workers on
the machines of a cluster, each with zorvane installed from this repository
(pip install /path/to/zorvane, or a wheel built from it with
pip wheel /path/to/zorvane; the package is not on any public index):

    dask scheduler                                  # on host, listens on :8786
    RAYON_NUM_THREADS=1 dask worker tcp://host:8786 --nworkers 8 --nthreads 1

and point this script at the scheduler; nothing else changes:

    python examples/survey.py --scheduler tcp://host:8786

which inside the script is just `Client("tcp://host:8786")` in place of the
LocalCluster.

Threads: the uniform-disk magnification spreads each call over a process-wide
thread pool sized from RAYON_NUM_THREADS (else the number of CPUs). With one
worker process per CPU that would start CPUs x CPUs threads, so the workers
started here get RAYON_NUM_THREADS=1 unless you set it yourself.

Run:  python examples/survey.py [--events 200] [--epochs 300] [--backend dask]
"""

import argparse
import hashlib
import os
import struct
import time

# Set before any worker process starts (and before zorvane builds its pool in
# this process): one pool thread per worker process; see the docstring.
os.environ.setdefault("RAYON_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import zorvane  # noqa: E402


def make_events(n_events, seed):
    """Random events: (t0 [d], tE [d], u0 [Einstein radii], rho [Einstein radii])."""
    rng = np.random.default_rng(seed)
    t0 = rng.uniform(0.0, 365.0, n_events)
    t_e = np.exp(rng.uniform(np.log(5.0), np.log(100.0), n_events))
    u0 = rng.uniform(0.0, 0.3, n_events)
    rho = np.exp(rng.uniform(np.log(1e-3), np.log(0.05), n_events))
    return [tuple(map(float, e)) for e in zip(t0, t_e, u0, rho)]


def light_curve(event, n_epochs):
    """One event's light curve at n_epochs epochs within t0 +- 2 tE.

    Runs in a worker process: it takes and returns plain Python values, so it
    pickles cheaply, and calls the zorvane functions there (they pickle by
    reference too, should you pass them around).
    """
    t0, t_e, u0, rho = event
    re, rstar = 1.0, rho                       # only the ratio rstar / re enters
    t = np.linspace(t0 - 2.0 * t_e, t0 + 2.0 * t_e, n_epochs)
    u = np.hypot(u0, (t - t0) / t_e)           # separation in Einstein radii
    l = u / rho                                # ... in source radii, as zorvane expects
    point = (u * u + 2.0) / (u * np.sqrt(u * u + 4.0))
    uniform = zorvane.witt_mao_magnification(l, re, rstar)
    darkened = zorvane.integrated_heyrovsky_magnification(l, re, rstar)
    return {
        "event": event,
        "uniform": uniform,
        "darkened": darkened,
        # how much the finite, limb-darkened source changes the light curve
        "finite_source_effect": float(np.max(np.abs(np.asarray(darkened) / point - 1.0))),
    }


def run_serial(events, n_epochs, workers=None):
    return [light_curve(e, n_epochs) for e in events]


def run_processes(events, n_epochs, workers):
    from concurrent.futures import ProcessPoolExecutor
    from functools import partial

    with ProcessPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(partial(light_curve, n_epochs=n_epochs), events, chunksize=4))


def run_dask(events, n_epochs, workers, scheduler=None):
    import dask
    from dask.distributed import Client, LocalCluster

    if scheduler:
        # A running cluster, e.g. scheduler = "tcp://host:8786".
        with Client(scheduler) as client:
            return _map_on(client, events, n_epochs)
    # Worker processes here on this machine; pre-spawn-environ is applied to
    # each worker process before it starts.
    with dask.config.set({"distributed.nanny.pre-spawn-environ.RAYON_NUM_THREADS":
                          os.environ["RAYON_NUM_THREADS"]}):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            return _map_on(client, events, n_epochs)


def _map_on(client, events, n_epochs):
    futures = client.map(light_curve, events, n_epochs=n_epochs, pure=False)
    return client.gather(futures)


def checksum(results):
    """SHA-256 of every magnification, in event order, as IEEE 754 doubles."""
    h = hashlib.sha256()
    for r in results:
        for key in ("uniform", "darkened"):
            h.update(struct.pack(f"<{len(r[key])}d", *r[key]))
    return h.hexdigest()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--events", type=int, default=200, help="number of events (%(default)s)")
    parser.add_argument("--epochs", type=int, default=300, help="epochs per event (%(default)s)")
    parser.add_argument("--seed", type=int, default=2026, help="random seed (%(default)s)")
    parser.add_argument("--backend", choices=("dask", "processes", "serial"), default="dask",
                        help="where the events are computed (%(default)s)")
    parser.add_argument("--workers", type=int, default=len(os.sched_getaffinity(0)),
                        help="worker processes for a local cluster or pool (%(default)s)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="address of a running Dask scheduler, e.g. tcp://host:8786")
    args = parser.parse_args(argv)

    events = make_events(args.events, args.seed)
    start = time.perf_counter()
    if args.backend == "dask":
        results = run_dask(events, args.epochs, args.workers, args.scheduler)
    elif args.backend == "processes":
        results = run_processes(events, args.epochs, args.workers)
    else:
        results = run_serial(events, args.epochs)
    seconds = time.perf_counter() - start

    where = args.scheduler or f"{args.workers} local worker process(es)"
    if args.backend == "serial":
        where = "this process"
    print(f"{len(events)} events x {args.epochs} epochs, backend {args.backend} on {where}: "
          f"{seconds:.1f} s")
    strong = sorted(results, key=lambda r: r["finite_source_effect"], reverse=True)
    n_strong = sum(r["finite_source_effect"] > 0.01 for r in results)
    print(f"{n_strong} events where the finite source changes the magnification by more than 1%;"
          f" the strongest:")
    print(f"{'t0 [d]':>8} {'tE [d]':>7} {'u0':>7} {'rho':>7} {'peak (LD)':>10} {'effect':>8}")
    for r in strong[:5]:
        t0, t_e, u0, rho = r["event"]
        print(f"{t0:8.1f} {t_e:7.1f} {u0:7.4f} {rho:7.4f} {max(r['darkened']):10.2f} "
              f"{100 * r['finite_source_effect']:7.1f}%")
    print(f"checksum {checksum(results)}")


if __name__ == "__main__":
    main()
