"""Outputs pinned bit for bit: reading, evaluating and comparing the stored sample.

The sample (data/pinned_outputs.txt) holds one evaluation a line, inputs
included, every number in Python's shortest form that reads back to the same
double, so that the test needs nothing that could give other bits on another
machine (NumPy's transcendental functions do: on a processor with AVX-512 its
log10 and power take other routes, and np.geomspace gives other separations).
A line "[kind a b ...]" starts a section whose evaluations share the scalar
arguments a, b, ...; under it each line holds the remaining arguments and the
value:

    [disk re rstar]       x value      witt_mao_magnification([x, ...], re, rstar)
    [multi re rstar]      x value      multi_witt_mao_magnification(xs, res, rstars)
    [ring re rstar]       l r value    heyrovsky_magnification(l, r, re, rstar)

`tools/pin_outputs.py` writes the values of the current build for the stored
inputs; it is run only with a deliberate change of results, recorded in the
commit that changes the file.
"""

import math
import struct
from pathlib import Path
from typing import NamedTuple

import zorvane

PATH = Path(__file__).with_name("data") / "pinned_outputs.txt"


class Entry(NamedTuple):
    kind: str
    args: tuple[float, ...]  # in the function's order: the line's arguments, then the section's
    value: float


def read(path=PATH):
    header, entries = [], []
    kind, shared = None, ()
    for line in path.read_text().splitlines():
        if line.startswith("#") or not line.strip():
            header.append(line)
        elif line.startswith("["):
            kind, *numbers = line.strip("[]").split()
            shared = tuple(float(v) for v in numbers)
        else:
            *args, value = (float(v) for v in line.split())
            entries.append(Entry(kind, tuple(args) + shared, value))
    return header, entries


def write(header, entries, values, path=PATH):
    lines, section = list(header), None
    for e, v in zip(entries, values):
        own = {"disk": 1, "multi": 1, "ring": 2}[e.kind]
        if (e.kind, e.args[own:]) != section:
            section = (e.kind, e.args[own:])
            lines.append("[" + " ".join([e.kind, *map(repr, e.args[own:])]) + "]")
        lines.append(" ".join(map(repr, [*e.args[:own], v])))
    path.write_text("\n".join(lines) + "\n")


def evaluate(entries):
    """The current build's values for the stored inputs, each function called
    as the sample was made: the disk a sequence per (re, rstar), the batch once."""
    out = [math.nan] * len(entries)
    disks: dict[tuple[float, float], list[int]] = {}
    multi: list[int] = []
    for i, e in enumerate(entries):
        if e.kind == "disk":
            disks.setdefault(e.args[1:], []).append(i)
        elif e.kind == "multi":
            multi.append(i)
        elif e.kind == "ring":
            out[i] = zorvane.heyrovsky_magnification(*e.args)
        else:
            raise ValueError(f"unknown kind {e.kind!r}")
    for (re, rstar), at in disks.items():
        for i, v in zip(at, zorvane.witt_mao_magnification([entries[i].args[0] for i in at], re, rstar)):
            out[i] = v
    if multi:
        def ordered(k):
            return list(dict.fromkeys(entries[i].args[k] for i in multi))
        xs, res, rstars = ordered(0), ordered(1), ordered(2)
        lists = zorvane.multi_witt_mao_magnification(xs, res, rstars)
        for i in multi:
            x, re, rstar = entries[i].args
            out[i] = lists[res.index(re) * len(rstars) + rstars.index(rstar)][xs.index(x)]
    return out


def ulps(a, b):
    """Distance in units in the last place (doubles as ordered integers)."""
    def key(x):
        n = struct.unpack("<q", struct.pack("<d", x))[0]
        return n if n >= 0 else -(n & 0x7FFFFFFFFFFFFFFF)
    return abs(key(a) - key(b))


def differences(entries, values):
    """One line per element whose bits differ: the call, the stored and the new value, ulps apart."""
    report = []
    for e, v in zip(entries, values):
        if struct.pack("<d", v) != struct.pack("<d", e.value):
            apart = "NaN" if math.isnan(v) or math.isnan(e.value) else f"{ulps(v, e.value)} ulp"
            args = ", ".join(repr(a) for a in e.args)
            report.append(f"{e.kind}({args}): pinned {e.value!r}, now {v!r} ({apart})")
    return report
