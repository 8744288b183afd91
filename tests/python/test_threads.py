"""Concurrency: eight Python threads calling all eight functions at once get
exactly the single-thread results (values bit for bit, and the same
exceptions for the failing calls), with the default pool and with a pool of
one worker, and finish; a child forked after all that works too.

Each scenario runs in a child process: the worker pool is created once per
process (RAYON_NUM_THREADS is read then), and a hang must fail the test by a
timeout instead of blocking the run."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

from reliability import SANITIZED, scaled

ROUNDS = scaled(30, 3)
TIMEOUT = 900 if SANITIZED else 180

SCRIPT = textwrap.dedent(r'''
    import json, os, random, sys, threading, zorvane

    rounds, threads_n, switch = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    z = zorvane
    rng = random.Random(11)
    l_long = [rng.uniform(0.0, 5.0) for _ in range(600)] + [0.0, 1.0, float("nan"), -1.0]
    l_short = [0.0, 0.7, 1.0, 2.5]
    table = ([0.0, 0.3, 0.6, 0.9, 1.0], [1.0, 0.9, 0.7, 0.5, 0.4])

    class Boom:
        def __float__(self):
            raise ValueError("boom")

    WORKLOAD = [
        ("witt_mao_magnification", (l_long, 1.0, 0.01)),
        ("witt_mao_magnification", (l_long[:50], 2.0, 0.3)),
        ("multi_witt_mao_magnification", (l_long[:120], [1.0, 2.0, 0.5], [0.01, 0.1])),
        ("heyrovsky_magnification", (0.5, 0.3, 1.0, 0.1)),
        ("heyrovsky_magnification", (0.5, 0.5, 1.0, 0.1)),
        ("heyrovsky_magnification", (2.0, 0.99, 10.0, 0.1)),
        ("heyrovsky_magnification", (-0.5, 0.3, 1.0, 0.1)),                    # RuntimeError
        ("integrated_witt_mao_magnification", (l_short[:2], 1.0, 0.05)),
        ("integrated_heyrovsky_magnification", (l_short, 1.0, 0.05)),
        ("integrated_flux_map_witt_mao_magnification", (l_short[:2], 1.0, 0.05, *table)),
        ("integrated_flux_map_heyrovsky_magnification", (l_short[1:3], 1.0, 0.05, *table)),
        ("discrete_flux_map_heyrovsky_magnification", (l_long[:40], 1.0, 0.05, *table)),
        ("discrete_flux_map_heyrovsky_magnification", (l_short, 1.0, 0.05, [0.3, -1.0], [1.0, 1.0])),
        ("discrete_flux_map_heyrovsky_magnification", (l_short, 1.0, 0.05, [0.3, 0.5], [1.0])),
        ("witt_mao_magnification", ("abc", 1.0, 0.01)),                         # TypeError
        ("witt_mao_magnification", ([0.5, Boom()], 1.0, 0.01)),                 # ValueError
    ]

    def encode(v):
        if isinstance(v, float):
            return v.hex()
        return [encode(x) for x in v]

    def run(item):
        name, args = item
        try:
            return ["ok", encode(getattr(z, name)(*args))]
        except BaseException as e:
            return ["err", type(e).__name__, [str(a) for a in e.args]]

    expected = [run(w) for w in WORKLOAD]      # single thread first
    sys.setswitchinterval(switch)
    mismatches, finished = [], [False] * threads_n
    barrier = threading.Barrier(threads_n)

    def worker(k):
        order_rng = random.Random(k)
        barrier.wait()
        for _ in range(rounds):
            order = list(range(len(WORKLOAD)))
            order_rng.shuffle(order)
            for i in order:
                got = run(WORKLOAD[i])
                if got != expected[i]:
                    mismatches.append([k, i, got[:2]])
        finished[k] = True

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(threads_n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()

    # a child forked now (the parent's pool exists) computes the same
    sys.stderr.flush()
    pid = os.fork()
    if pid == 0:
        ok = [run(w) for w in WORKLOAD] == expected
        os._exit(0 if ok else 3)
    child = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    again = [run(w) for w in WORKLOAD] == expected
    print(json.dumps({"expected": expected, "mismatches": mismatches[:20],
                      "finished": all(finished), "child": child, "parent_after_fork": again}))
''')


def run_scenario(rounds, threads, switch, env_extra):
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(env_extra)
    proc = subprocess.run([sys.executable, "-c", SCRIPT, str(rounds), str(threads), str(switch)],
                          env=env, capture_output=True, text=True, timeout=TIMEOUT)
    assert proc.returncode == 0, proc.stderr[-4000:]
    return json.loads(proc.stdout.strip().splitlines()[-1])


@pytest.fixture(scope="module")
def single_thread_reference():
    """The workload computed by one thread in a pool of one worker."""
    return run_scenario(0, 1, 0.005, {"RAYON_NUM_THREADS": "1"})["expected"]


def check_expected_kinds(expected):
    kinds = [e[:2] if e[0] == "err" else e[:1] for e in expected]
    # the failing entries of the workload fail the documented way
    assert kinds.count(["ok"]) == 11
    assert sorted(k[1] for k in kinds if k[0] == "err") == [
        "PanicException", "RuntimeError", "RuntimeError", "TypeError", "ValueError"]


@pytest.mark.parametrize("pool,switch", [
    ("default", 0.005),
    ("default", 1e-6),      # switch Python threads as often as the interpreter allows
    ("1", 1e-6),
    ("3", 0.005),
], ids=["default-pool", "default-pool-fast-switching", "one-worker", "three-workers"])
def test_eight_threads_get_the_single_thread_results(pool, switch, single_thread_reference):
    env = {} if pool == "default" else {"RAYON_NUM_THREADS": pool}
    out = run_scenario(ROUNDS, 8, switch, env)
    check_expected_kinds(out["expected"])
    assert out["expected"] == single_thread_reference     # independent of the pool size
    assert out["finished"]
    assert out["mismatches"] == []
    assert out["child"] == 0 and out["parent_after_fork"]


MUTATION_SCRIPT = textwrap.dedent(r'''
    import json, re, sys, threading, time, zorvane

    calls = int(sys.argv[1])
    sys.setswitchinterval(1e-6)
    VALUES = [0.5, 1.5, 2.5]

    class Yields:
        """An element whose conversion lets other threads run."""
        def __init__(self, v):
            self.v = v
        def __float__(self):
            time.sleep(0)
            return self.v

    allowed = {zorvane.witt_mao_magnification([v], 1.0, 0.1)[0] for v in VALUES}
    shared = [Yields(v) for v in VALUES * 20]
    stop = threading.Event()

    def mutate():
        k = 0
        while not stop.is_set():
            k += 1
            op = k % 4
            if op == 0:
                shared.clear()
            elif op == 1:
                shared.extend(Yields(VALUES[k % 3]) for _ in range(k % 50))
            elif op == 2:
                shared[:] = [Yields(v) for v in VALUES * (k % 7)]
            elif shared:
                del shared[k % len(shared)]
            time.sleep(0)

    # A daemon, so that a failing call ends the process instead of leaving it
    # waiting for the mutator.
    mutator = threading.Thread(target=mutate, daemon=True)
    mutator.start()
    wrong, longest, panics, tables = 0, 0, 0, 0
    for _ in range(calls):
        out = zorvane.witt_mao_magnification(shared, 1.0, 0.1)
        longest = max(longest, len(out))
        wrong += sum(1 for v in out if v not in allowed)
        # bl and bf read at different moments: equal lengths or the length assertion
        try:
            out = zorvane.discrete_flux_map_heyrovsky_magnification([0.7], 1.0, 0.1, shared, shared)
            tables += 1
            wrong += len(out) != 1
        except BaseException as e:
            if type(e).__name__ != "PanicException" or not re.fullmatch(
                    r"assertion `left == right` failed\n  left: \d+\n right: \d+", str(e)):
                raise
            panics += 1
    stop.set()
    mutator.join()
    print(json.dumps({"wrong": wrong, "longest": longest, "panics": panics, "tables": tables}))
''')


def test_a_list_changed_by_another_thread_while_it_is_read():
    # Elements whose __float__ lets another thread run: that thread empties,
    # grows, replaces and shortens the list in the middle of the conversion.
    # Every call returns values of elements that were in the list, or the
    # length assertion when bl and bf were read at different lengths.
    env = dict(os.environ, PYTHONFAULTHANDLER="1")
    proc = subprocess.run([sys.executable, "-c", MUTATION_SCRIPT, str(scaled(3000, 100))], env=env,
                          capture_output=True, text=True, timeout=TIMEOUT)
    assert proc.returncode == 0, proc.stderr[-4000:]
    out = json.loads(proc.stdout.strip().splitlines()[-1])
    assert out["wrong"] == 0
    assert out["longest"] > 0 and out["panics"] + out["tables"] == scaled(3000, 100)


SIZES_SCRIPT = textwrap.dedent(r'''
    import json, zorvane
    # A call stays on the calling thread when its estimated work is under
    # 50 us (disk elements count 0.3 us, so up to 166 separations, or pairs x
    # separations up to 166 in the batch); a 1-separation call always does.
    # The sizes straddle that limit; the reference is the 1-separation calls.
    z = zorvane
    l = [0.0137 * i for i in range(398)] + [1.0, 0.0, float("nan"), -1.0]
    one = [z.witt_mao_magnification([x], 1.0, 0.01)[0].hex() for x in l]
    wrong = []
    for n in (2, 100, 165, 166, 167, 168, 400):
        if [v.hex() for v in z.witt_mao_magnification(l[-n:], 1.0, 0.01)] != one[-n:]:
            wrong.append(n)
    re = [1.0, 1.0, 1.0, 1.0]
    for pairs in (3, 4):  # 3 x 50 separations under the limit, 4 x 50 over
        rows = z.multi_witt_mao_magnification(l[-50:], re[:pairs], [0.01])
        if any([v.hex() for v in row] != one[-50:] for row in rows) or len(rows) != pairs:
            wrong.append(("pairs", pairs))
    print(json.dumps(wrong))
''')


@pytest.mark.parametrize("pool", ["1", "2", "3"])
def test_results_do_not_depend_on_where_a_call_runs(pool):
    env = {k: v for k, v in os.environ.items() if k != "RAYON_RS_NUM_CPUS"}
    env["RAYON_NUM_THREADS"] = pool
    proc = subprocess.run([sys.executable, "-c", SIZES_SCRIPT], env=env, capture_output=True, text=True,
                          timeout=TIMEOUT)
    assert proc.returncode == 0, proc.stderr[-4000:]
    assert json.loads(proc.stdout) == []


POOL_REFUSED = r'''
import resource, zorvane
z = zorvane

def vm_size():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[0]) * resource.getpagesize()

def outcome(name, *args):
    try:
        return repr(getattr(z, name)(*args))
    except BaseException as e:
        return type(e).__name__ + ": " + str(e)

outcome("discrete_flux_map_heyrovsky_magnification", [], 1.0, 0.1, [0.5], [])  # the exception type exists
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (vm_size() + 2**20, hard))  # no room for a worker's stack
print(outcome("integrated_heyrovsky_magnification", [0.5, 1.5], 1.0, 0.1))
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(outcome("integrated_flux_map_heyrovsky_magnification", [0.5, 1.5], 1.0, 0.1, [0.0, 1.0], [1.0, 1.0]))
print(outcome("witt_mao_magnification", [0.5] * 1000, 1.0, 0.1))
print(outcome("discrete_flux_map_heyrovsky_magnification", [0.5], 1.0, 0.1, [0.3], [1.0]))
'''


@pytest.mark.skipif(SANITIZED, reason="an address-space limit does not work under a sanitizer")
@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_pool_creation_failure_reaches_the_ring_family_as_for_the_disk_family():
    # The integrated ring forms run on the worker pool too (from two
    # separations on): when its threads cannot start, the call fails with the
    # pool's assertion, and every later use of the pool with the second
    # message; the rest of the module works.
    env = dict(os.environ, RAYON_NUM_THREADS="2")
    proc = subprocess.run([sys.executable, "-c", POOL_REFUSED], env=env, capture_output=True,
                          text=True, timeout=TIMEOUT)
    assert proc.returncode == 0, proc.stderr[-4000:]
    lines = proc.stdout.splitlines()
    refused = "PanicException: The global thread pool has not been initialized.: ThreadPoolBuildError "
    assert lines[0].startswith(refused + "{ kind: IOError(Os { code: ")
    assert lines[1:3] == [refused + "{ kind: GlobalPoolAlreadyInitialized }"] * 2
    assert float(lines[3][1:-1]) > 1.0
