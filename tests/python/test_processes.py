"""The functions in other processes: they pickle by reference, and give the same
bits in worker processes (fork, spawn, forkserver; a Dask LocalCluster) as in
this one."""

import concurrent.futures as cf
import copy
import multiprocessing
import os
import sys
import pickle
import struct

import pytest

import zorvane
from signatures import SIGNATURES

TIMEOUT = 120  # seconds for any one result from another process

# Arguments for each function that exercise its interesting branches: the
# centre, the limb (l = 1), both sides of it, far away, and a NaN element. The
# long sequence makes the uniform-disk forms fan out over the thread pool.
L = ([0.0, 1e-3, 0.3, 0.999, 1.0, 1.001, 2.5, 40.0, float("nan")]
     + [0.001 * k for k in range(3000)])
L_SHORT = [0.0, 0.3, 0.999, 1.0, 1.001, 2.5, 40.0]
BL = [0.05, 0.25, 0.5, 0.75, 1.0]
BF = [1.0, 0.95, 0.8, 0.6, 0.3]

CASES = {
    "witt_mao_magnification": (L, 1.0, 0.05),
    "integrated_witt_mao_magnification": (L_SHORT, 1.0, 0.05),
    "integrated_flux_map_witt_mao_magnification": (L_SHORT, 1.0, 0.05, BL, BF),
    "multi_witt_mao_magnification": (L, [1.0, 2.0], [0.01, 0.05, 0.3]),
    "heyrovsky_magnification": (0.7, 0.4, 1.0, 0.05),
    "integrated_heyrovsky_magnification": (L_SHORT, 1.0, 0.05),
    "integrated_flux_map_heyrovsky_magnification": (L_SHORT, 1.0, 0.05, BL, BF),
    "discrete_flux_map_heyrovsky_magnification": (L_SHORT, 1.0, 0.05, BL, BF),
    "witt_mao_magnification_gradient": (L, 1.0, 0.05),
    "integrated_heyrovsky_magnification_gradient": (L_SHORT, 1.0, 0.05),
    "integrated_flux_map_heyrovsky_magnification_gradient": (L_SHORT, 1.0, 0.05, BL, BF),
}
assert set(CASES) == set(SIGNATURES)
NAMES = list(SIGNATURES)


def bits(value):
    """The exact bit patterns of a float, a list of floats or a list of lists."""
    if isinstance(value, float):
        return struct.pack("<d", value)
    return tuple(bits(v) for v in value)


@pytest.fixture(scope="module")
def expected():
    """Every case computed here, in this process (which also starts the pool)."""
    return {name: bits(getattr(zorvane, name)(*CASES[name])) for name in NAMES}


# ---- pickling


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("name", NAMES)
def test_pickles_by_reference(name, protocol):
    fn = getattr(zorvane, name)
    data = pickle.dumps(fn, protocol=protocol)
    assert b"zorvane" in data and len(data) < 200  # a reference, not a payload
    assert pickle.loads(data) is fn
    assert copy.copy(fn) is fn and copy.deepcopy(fn) is fn


def test_pickled_reference_imports_the_module_in_a_fresh_process():
    # A fresh interpreter that has not imported zorvane resolves the reference.
    data = pickle.dumps(zorvane.heyrovsky_magnification)
    import subprocess
    import sys
    code = ("import pickle, sys; f = pickle.loads(sys.stdin.buffer.read()); "
            "print(f.__module__, f.__name__, f(0.7, 0.4, 1.0, 0.05).hex())")
    out = subprocess.run([sys.executable, "-c", code], input=data, capture_output=True,
                         timeout=TIMEOUT, check=True)
    here = zorvane.heyrovsky_magnification(0.7, 0.4, 1.0, 0.05).hex()
    assert out.stdout.decode().split() == ["zorvane", "heyrovsky_magnification", here]


# ---- concurrent.futures.ProcessPoolExecutor


def _executor(method, **kwargs):
    if method not in multiprocessing.get_all_start_methods():
        pytest.skip(f"start method {method} not available")
    return cf.ProcessPoolExecutor(max_workers=2, mp_context=multiprocessing.get_context(method),
                                  **kwargs)


def _results_in(executor):
    futures = {name: executor.submit(getattr(zorvane, name), *CASES[name]) for name in NAMES}
    try:
        return {name: bits(f.result(timeout=TIMEOUT)) for name, f in futures.items()}
    except BaseException:
        # a hung worker must not hang the test run: stop the workers first
        for p in list(getattr(executor, "_processes", {}).values()):
            p.kill()
        raise


# fork() from this process, whose thread pool already runs (the fixture made
# it), is exactly the case to test: the child must build a pool of its own.
@pytest.mark.filterwarnings("ignore:.*multi-threaded.*fork.*:DeprecationWarning")
@pytest.mark.parametrize("method", ["fork", "spawn", "forkserver"])
def test_process_pool_gives_the_same_bits(method, expected):
    with _executor(method) as executor:
        assert _results_in(executor) == expected


def test_process_pool_with_one_pool_thread_per_worker(expected):
    # Workers told to use one pool thread (as a survey with one worker per CPU
    # would), set before their pool exists; the bits do not depend on it.
    with _executor("spawn", initializer=os.putenv,
                   initargs=("RAYON_NUM_THREADS", "1")) as executor:
        assert _results_in(executor) == expected


@pytest.mark.filterwarnings("ignore:.*multi-threaded.*fork.*:DeprecationWarning")
@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_errors_come_back_from_a_worker(method):
    with _executor(method) as executor:
        # a numeric error is a RuntimeError with its message, as in this process
        with pytest.raises(RuntimeError) as here:
            zorvane.heyrovsky_magnification(-1.0, 0.5, 1.0, 0.1)
        future = executor.submit(zorvane.heyrovsky_magnification, -1.0, 0.5, 1.0, 0.1)
        with pytest.raises(RuntimeError) as there:
            future.result(timeout=TIMEOUT)
        assert str(there.value) == str(here.value)
        # a type error names the argument there too
        future = executor.submit(zorvane.witt_mao_magnification, [0.5], "1", 0.1)
        with pytest.raises(TypeError, match="re"):
            future.result(timeout=TIMEOUT)
        # the workers stay usable
        f = executor.submit(zorvane.heyrovsky_magnification, 0.7, 0.4, 1.0, 0.05)
        assert f.result(timeout=TIMEOUT) == zorvane.heyrovsky_magnification(0.7, 0.4, 1.0, 0.05)


# ---- Dask


@pytest.fixture(scope="module")
def dask_client():
    if not getattr(sys, "_is_gil_enabled", lambda: True)():
        # A free-threaded 3.13 with the lock forced off (PYTHON_GIL=0) crashes
        # in Dask's own sampling profiler, which walks other threads' frames
        # (seen as a segmentation fault in distributed/profile.py, with no
        # zorvane frame on any thread). The process pools above still run.
        pytest.skip("Dask's profiler is not safe on a free-threaded interpreter with the lock off")
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, timeout=TIMEOUT) as cluster:
        with distributed.Client(cluster, timeout=TIMEOUT) as client:
            pids = set(client.run(os.getpid).values())
            assert len(pids) == 2 and os.getpid() not in pids
            yield client
    # the cluster is closed: its worker processes are gone, not left behind
    for pid in pids:
        assert not _alive(pid), f"Dask worker process {pid} still runs"


def _alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def test_dask_local_cluster_gives_the_same_bits(dask_client, expected):
    futures = {name: dask_client.submit(getattr(zorvane, name), *CASES[name], pure=False)
               for name in NAMES}
    got = {name: bits(f.result(timeout=TIMEOUT)) for name, f in futures.items()}
    assert got == expected


def test_dask_spreads_a_map_over_the_workers(dask_client):
    # many small calls, as a survey makes them: each lands on some worker
    ls = [[0.1 * k + 0.01 * j for j in range(50)] for k in range(40)]
    futures = dask_client.map(zorvane.witt_mao_magnification, ls, re=1.0, rstar=0.02, pure=False)
    got = dask_client.gather(futures)
    assert [bits(g) for g in got] == [bits(zorvane.witt_mao_magnification(l, 1.0, 0.02)) for l in ls]
    who = dask_client.who_has(futures)
    assert len({w for ws in who.values() for w in ws}) == 2


def test_dask_reports_a_numeric_error(dask_client):
    future = dask_client.submit(zorvane.heyrovsky_magnification, -1.0, 0.5, 1.0, 0.1, pure=False)
    with pytest.raises(RuntimeError, match="^elliprj: "):
        future.result(timeout=TIMEOUT)
