"""Evaluates all eight functions on a large fixed sample and records the bits.

    python tools/hash_outputs.py save FILE.npz      # evaluate and store
    python tools/hash_outputs.py compare OLD.npz NEW.npz

The sample covers the whole physical range: separations from 1e-8 to 1e7
source radii with dense sets at the limb (|x - 1| down to 1e-13), rings just
inside and outside the lens and far from it, source radii from 1e-8 to 10,
and the awkward values (0, NaN, infinities, negatives, subnormals). An error
raised by a call is recorded as the hash of its type and message, so error
paths take part too.

Its separations come from NumPy, whose transcendental functions give other bits
on other processors (AVX-512 or not): compare two builds on one machine.

`compare` prints a digest per function and, where bits differ, how many
elements differ and the range of the inputs they sit at, so that a change meant
for one zone (the limb, far separations) can be shown to touch nothing else.
"""

from __future__ import annotations

import hashlib
import sys

import numpy as np

import zorvane

RHOS = [1e-8, 1e-5, 1e-4, 1e-3, 1e-2, 0.1, 0.5, 1.0, 3.0, 10.0]
SPECIAL = [0.0, 1.0, -0.0, -1.0, 5e-324, 1e300, np.inf, -np.inf, np.nan]


def _separations(rng, n_log, n_limb):
    far = np.geomspace(1e-8, 1e7, n_log)
    mid = rng.uniform(0.0, 40.0, n_log)
    limb = 1.0 + np.concatenate([
        sign * np.geomspace(1e-13, 1e-1, n_limb) for sign in (-1.0, 1.0)
    ])
    return np.concatenate([far, mid, limb, SPECIAL])


def _error_marker(exc):
    h = hashlib.sha256(f"{type(exc).__name__}:{exc}".encode()).digest()
    return np.frombuffer(h[:8], dtype=np.float64)[0]


def _call(f, *args):
    try:
        return f(*args)
    except Exception as exc:  # recorded, not raised: errors are outputs too
        return _error_marker(exc)


def sample():
    """Returns {function: (inputs, outputs)} as float64 arrays."""
    rng = np.random.default_rng(20261208)
    out = {}

    x = _separations(rng, 4000, 400)
    ins, res = [], []
    for rho in RHOS:
        ins.append(np.stack([x, np.full_like(x, rho)], axis=1))
        res.append(np.asarray(zorvane.witt_mao_magnification(x, 1.0, rho)))
    for re, rstar in [(0.0, 1.0), (1.0, 0.0), (np.inf, 1.0), (np.nan, 1.0), (-1.0, 0.5)]:
        ins.append(np.stack([x, np.full_like(x, rstar / re if re else np.inf)], axis=1))
        res.append(np.asarray(zorvane.witt_mao_magnification(x, re, rstar)))
    out["witt_mao_magnification"] = (np.concatenate(ins), np.concatenate(res))

    xs = _separations(rng, 300, 40)
    multi = zorvane.multi_witt_mao_magnification(xs, [1.0, 7.0, 100.0], [0.01, 1.0, 3.0])
    out["multi_witt_mao_magnification"] = (
        np.tile(xs, 9)[:, None], np.concatenate([np.asarray(v) for v in multi]))

    # Rings: l and r from 1e-6 to 1e6 source radii, r near l on both sides,
    # c = re/rstar from 0.01 to 1e4.
    ls = np.concatenate([np.geomspace(1e-6, 1e6, 25), [0.0, 1.0, 0.3]])
    rel = np.concatenate([[0.0], -np.geomspace(1e-12, 0.9, 14), np.geomspace(1e-12, 1e4, 18)])
    hin, hres = [], []
    for c in [0.01, 0.1, 1.0, 10.0, 1e3, 1e4]:
        for l in ls:
            for d in rel:
                r = l * (1.0 + d) if l else d
                hin.append((l, r, c))
                hres.append(_call(zorvane.heyrovsky_magnification, l, r, c, 1.0))
    for args in [(1.0, 1.0, 0.0, 1.0), (-1.0, -1.0, 1.0, 1.0), (np.nan, 1.0, 1.0, 1.0),
                 (1.0, np.inf, 1.0, 1.0), (5e-324, 5e-324, 1.0, 1.0), (-2.0, 1.0, 1.0, 1.0)]:
        hin.append(args[:2] + (args[2],))
        hres.append(_call(zorvane.heyrovsky_magnification, *args))
    out["heyrovsky_magnification"] = (np.asarray(hin), np.asarray(hres, dtype=float))

    # Integrated forms: l from 0 to 1e5 source radii, dense through the source.
    li = np.concatenate([np.geomspace(1e-3, 1e5, 120), np.linspace(0.0, 1.5, 91),
                         1.0 + np.array([-1e-6, 1e-6]), [np.nan, np.inf, -1.0]])
    for name in ["integrated_witt_mao_magnification", "integrated_heyrovsky_magnification"]:
        f = getattr(zorvane, name)
        ins, res = [], []
        for rho in [1e-5, 1e-2, 0.1, 1.0, 10.0]:
            ins.append(np.stack([li, np.full_like(li, rho)], axis=1))
            res.append(np.asarray(f(li, 1.0, rho)))
        out[name] = (np.concatenate(ins), np.concatenate(res))

    # Flux maps: a 0.6 linear table, a short uneven table and a table that
    # stops short of the limb.
    tables = []
    r50 = np.linspace(0.0, 1.0, 50)
    tables.append((r50, 1.0 - 0.6 * (1.0 - np.sqrt(1.0 - r50 ** 2))))
    tables.append((np.array([0.0, 0.2, 0.7, 1.0]), np.array([1.0, 0.9, 0.5, 0.1])))
    tables.append((np.array([0.1, 0.5, 0.8]), np.array([0.3, 1.0, 0.2])))
    # (NaN is tried apart: the discrete sum raises for the whole call on it.)
    lf = np.concatenate([np.geomspace(1e-3, 1e5, 40), np.linspace(0.0, 1.5, 31)])
    for name in ["integrated_flux_map_witt_mao_magnification",
                 "integrated_flux_map_heyrovsky_magnification",
                 "discrete_flux_map_heyrovsky_magnification"]:
        f = getattr(zorvane, name)
        ins, res = [], []
        for k, (bl, bf) in enumerate(tables):
            for rho in [1e-4, 1e-2, 1.0]:
                ins.append(np.stack([lf, np.full_like(lf, rho), np.full_like(lf, k)], axis=1))
                v = _call(f, lf, 1.0, rho, bl, bf)
                res.append(np.asarray(v, dtype=float) * np.ones_like(lf))
                ins.append(np.array([[np.nan, rho, k]]))
                res.append(np.atleast_1d(np.asarray(_call(f, [np.nan], 1.0, rho, bl, bf), dtype=float)))
        out[name] = (np.concatenate(ins), np.concatenate(res))
    return out


def digest(a):
    return hashlib.sha256(np.ascontiguousarray(a, dtype=np.float64).tobytes()).hexdigest()[:16]


def main(argv):
    if argv[:1] == ["save"] and len(argv) == 2:
        data = sample()
        np.savez(argv[1], **{f"{k}__in": v[0] for k, v in data.items()},
                 **{f"{k}__out": v[1] for k, v in data.items()})
        for k, (_, o) in data.items():
            print(f"{digest(o)}  {k} ({o.size} values)")
        return 0
    if argv[:1] == ["compare"] and len(argv) == 3:
        old, new = np.load(argv[1]), np.load(argv[2])
        same = True
        for key in sorted(k[:-5] for k in old.files if k.endswith("__out")):
            a, b = old[key + "__out"], new[key + "__out"]
            ins = old[key + "__in"].reshape(len(a), -1)
            diff = a.view(np.uint64) != b.view(np.uint64)
            print(f"{digest(a)} {digest(b)}  {key}: {int(diff.sum())} of {a.size} differ")
            if diff.any():
                same = False
                rows = ins[diff]
                for col in range(rows.shape[1]):
                    print(f"    input column {col}: {np.nanmin(rows[:, col]):.17g} .. "
                          f"{np.nanmax(rows[:, col]):.17g}")
        print("identical" if same else "DIFFERENT")
        return 0 if same else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
