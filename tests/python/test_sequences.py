"""Every kind of sequence a user is likely to pass gives, in every sequence
parameter of every function, the same results as a list of the same numbers,
bit for bit."""

import array
import collections
import collections.abc
import math

import numpy as np
import pytest

import zorvane
from signatures import SIGNATURES

# Values per parameter. The float sets are exact in float32 as well; the int
# sets are consecutive, so that range and bytes can hold them.
FLOATS = {"l": [0.0, 0.5, 0.75, 2.5], "re": [0.5, 1.0, 2.0], "rstar": [0.0625, 0.125, 0.5],
          "bl": [0.0, 0.25, 0.5, 1.0], "bf": [1.0, 0.75, 0.5, 0.25]}
INTS = {"l": [0, 1, 2, 3], "re": [1, 2, 3], "rstar": [1, 2], "bl": [0, 1], "bf": [1, 2]}

# The other arguments while one parameter varies (the tables are given with
# the length of the varied one). No separation is 0: a ring of radius 0 about
# a lens at the centre has no value.
BASE = {"l": [0.3, 1.5], "re": 1.0, "rstar": 0.125}


class PlainSequence(collections.abc.Sequence):
    """A user-defined sequence class."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class IndexedOnly:
    """Indexed until IndexError, with neither __len__ nor __iter__."""

    def __init__(self, items):
        self.items = list(items)

    def __getitem__(self, i):
        return self.items[i]


class ListSubclass(list):
    pass


def strided(values, dtype=np.float64):
    return np.repeat(np.asarray(values, dtype=dtype), 2)[::2]


FLOAT_CONTAINERS = {
    "tuple": tuple,
    "list_subclass": ListSubclass,
    "ndarray_float64": lambda v: np.asarray(v, dtype=np.float64),
    "ndarray_strided": strided,
    "ndarray_float32": lambda v: np.asarray(v, dtype=np.float32),
    "ndarray_big_endian": lambda v: np.asarray(v, dtype=">f8"),
    "ndarray_readonly": lambda v: np.frombuffer(np.asarray(v, dtype=np.float64).tobytes()),
    "ndarray_column_slice": lambda v: np.asarray([v, v], dtype=np.float64).T[:, 1],
    "list_of_numpy_scalars": lambda v: [np.float64(x) for x in v],
    "array_d": lambda v: array.array("d", v),
    "array_f": lambda v: array.array("f", v),
    "memoryview_d": lambda v: memoryview(array.array("d", v)),
    "deque": collections.deque,
    "userlist": collections.UserList,
    "abc_sequence": PlainSequence,
    "indexed_only": IndexedOnly,
}

INT_CONTAINERS = {
    "list_of_ints": list,
    "range": lambda v: range(v[0], v[-1] + 1),
    "bytes": bytes,
    "bytearray": bytearray,
    "memoryview_bytes": lambda v: memoryview(bytes(v)),
    "array_i": lambda v: array.array("i", v),
    "ndarray_int64": lambda v: np.asarray(v, dtype=np.int64),
    "ndarray_uint8": lambda v: np.asarray(v, dtype=np.uint8),
}

CONTAINERS = [(k, FLOATS, f) for k, f in FLOAT_CONTAINERS.items()] + \
             [(k, INTS, f) for k, f in INT_CONTAINERS.items()]

SLOTS = [(name, i, p) for name, sig in SIGNATURES.items() for i, (p, kind) in enumerate(sig)
         if kind == "seq"]


def arguments(name, varied, value, length):
    """Arguments of `name` with `value` for parameter `varied`; a table
    parameter not varied is a list of `length` ones."""
    args = []
    for p, kind in SIGNATURES[name]:
        if p == varied:
            args.append(value)
        elif p in ("bl", "bf"):
            args.append([0.5 + 0.5 * (p == "bl") * k / max(length, 1) for k in range(length)])
        elif kind == "seq" and p != "l":
            args.append([BASE[p]])   # re and rstar of the batch
        else:
            args.append(BASE[p])
    return args


def bits(result):
    if isinstance(result, float):
        return result.hex()
    return [bits(x) for x in result]


@pytest.mark.parametrize("container,data,build", CONTAINERS, ids=[c[0] for c in CONTAINERS])
@pytest.mark.parametrize("name,index,param", SLOTS, ids=[f"{s[0]}:{s[2]}" for s in SLOTS])
def test_same_result_as_a_list(name, index, param, container, data, build):
    values = data[param]
    seq = build(values)
    assert [float(x) for x in seq] == [float(x) for x in values], "container built wrongly"
    fn = getattr(zorvane, name)
    expected = fn(*arguments(name, param, [float(x) for x in values], len(values)))
    got = fn(*arguments(name, param, seq, len(values)))
    assert bits(got) == bits(expected)
    assert not all(math.isnan(x) for x in np.ravel(expected)), "values chosen badly"


@pytest.mark.parametrize("name,index,param", SLOTS, ids=[f"{s[0]}:{s[2]}" for s in SLOTS])
def test_sequence_is_left_unchanged(name, index, param):
    """The module only reads what it is given."""
    arr = np.asarray(FLOATS[param], dtype=np.float64)
    before = arr.copy()
    getattr(zorvane, name)(*arguments(name, param, arr, len(arr)))
    assert np.array_equal(arr, before) and arr.flags.writeable
