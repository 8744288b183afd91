"""Argument conversion: the float rule, the sequence rule, the argument error
rule, the order in which parameters are converted, and result conversion."""

import array
import collections
import math
import sys
import warnings

import numpy as np
import pytest

import zorvane
from signatures import SIGNATURES, valid_arguments

SLOTS = [(name, i, p, kind) for name, sig in SIGNATURES.items() for i, (p, kind) in enumerate(sig)]
SEQUENCE_SLOTS = [s for s in SLOTS if s[3] == "seq"]
FLOAT_SLOTS = [s for s in SLOTS if s[3] == "float"]


def slot_id(slot):
    return f"{slot[0]}:{slot[2]}"



def call_with(name, index, value):
    args = valid_arguments(name)
    args[index] = value
    return getattr(zorvane, name)(*args)


def call_accepted(name, args):
    """Binding and conversion succeed: the call returns, or the model itself
    refuses the values (a RuntimeError carrying a numeric routine's message,
    for example for a negative ring radius)."""
    try:
        getattr(zorvane, name)(*args)
    except RuntimeError as e:
        assert str(e).startswith("ellip"), e
    return True


def accepted(name, index, value):
    args = valid_arguments(name)
    args[index] = value
    return call_accepted(name, args)


def raised(name, index, value, exc_type=TypeError):
    with pytest.raises(BaseException) as info:
        call_with(name, index, value)
    assert type(info.value) is exc_type, repr(info.value)
    return info.value


def float_error_text(value):
    """What the interpreter's float conversion says about `value`: math.fabs
    goes through the same PyFloat_AsDouble."""
    try:
        math.fabs(value)
    except BaseException as e:
        return type(e), str(e)
    raise AssertionError(f"{value!r} converts to float")


# ---------------------------------------------------------------- float rule

class IndexOnly:
    def __index__(self):
        return 7


class MinusOne:
    def __float__(self):
        return -1.0


class FloatSubclass(float):
    def __float__(self):
        raise AssertionError("__float__ of a float subclass must not be called")


@pytest.mark.parametrize("slot", FLOAT_SLOTS, ids=slot_id)
class TestFloatParameter:
    @pytest.mark.parametrize("value", [1.0, 3, True, False, -0.0, float("nan"), float("inf"),
                                       2**53 + 1, np.float64(2.5), np.int64(3), np.float32(0.5),
                                       IndexOnly(), MinusOne(), FloatSubclass(4.0)],
                             ids=lambda v: type(v).__name__)
    def test_accepted(self, slot, value):
        assert accepted(slot[0], slot[1], value)

    @pytest.mark.parametrize("value", ["1.0", b"1", None, [1.0], (1.0,), 1j, object(), {}],
                             ids=lambda v: type(v).__name__)
    def test_type_error_is_prefixed(self, slot, value):
        name, index, p, _ = slot
        exc_type, text = float_error_text(value)
        assert exc_type is TypeError
        e = raised(name, index, value)
        assert str(e) == f"argument '{p}': {text}"
        assert e.args == (f"argument '{p}': {text}",)

    def test_overflow_passes_unchanged(self, slot):
        name, index, _, _ = slot
        e = raised(name, index, 10**400, OverflowError)
        assert str(e) == float_error_text(10**400)[1]

    def test_float_returning_non_float(self, slot):
        class Bad:
            def __float__(self):
                return "x"

        name, index, p, _ = slot
        assert str(raised(name, index, Bad())) == f"argument '{p}': {float_error_text(Bad())[1]}"


class TestFloatRuleDetails:
    def test_minus_one_without_error_is_a_value(self):
        # -1.0 is both a value and PyFloat_AsDouble's error marker
        assert accepted("heyrovsky_magnification", 0, MinusOne())
        assert accepted("heyrovsky_magnification", 0, -1)

    def test_float_subclass_uses_stored_value(self):
        assert accepted("heyrovsky_magnification", 2, FloatSubclass(1.0))
        assert accepted("witt_mao_magnification", 0, [FloatSubclass(1.0)])

    @pytest.mark.parametrize("exc", [ValueError("v"), ZeroDivisionError("z"), KeyError("k"),
                                     OverflowError("o"), MemoryError("m")],
                             ids=lambda e: type(e).__name__)
    def test_other_errors_pass_unchanged(self, exc):
        class Raises:
            def __float__(self):
                raise exc

        with pytest.raises(type(exc)) as info:
            zorvane.heyrovsky_magnification(1.0, Raises(), 1.0, 1.0)
        assert info.value is exc

    def test_type_error_subclass_passes_unchanged(self):
        class MyTypeError(TypeError):
            pass

        exc = MyTypeError("mine")

        class Raises:
            def __float__(self):
                raise exc

        with pytest.raises(MyTypeError) as info:
            zorvane.witt_mao_magnification([1.0], Raises(), 1.0)
        assert info.value is exc and str(exc) == "mine"

    def test_type_error_keeps_its_cause(self):
        root = ValueError("root")

        class Raises:
            def __float__(self):
                raise TypeError("bad float") from root

        with pytest.raises(TypeError) as info:
            zorvane.witt_mao_magnification([1.0], 1.0, Raises())
        assert str(info.value) == "argument 'rstar': bad float"
        assert info.value.__cause__ is root

    def test_type_error_without_cause(self):
        class Raises:
            def __float__(self):
                raise TypeError("plain")

        with pytest.raises(TypeError) as info:
            zorvane.witt_mao_magnification([1.0], 1.0, Raises())
        assert str(info.value) == "argument 'rstar': plain"
        assert info.value.__cause__ is None
        assert info.value.__suppress_context__

    def test_unprintable_type_error(self, monkeypatch):
        class NoText:
            def __str__(self):
                raise RuntimeError("str failed")

        exc = TypeError(NoText())

        class Raises:
            def __float__(self):
                raise exc

        seen = []
        monkeypatch.setattr(sys, "unraisablehook", lambda u: seen.append((u.exc_type, u.object)))
        with pytest.raises(TypeError) as info:
            zorvane.witt_mao_magnification([Raises()], 1.0, 1.0)
        assert str(info.value) == "argument 'l': <unprintable TypeError object>"
        assert seen == [(RuntimeError, exc)]

    def test_message_keeps_non_utf8_text(self):
        class Raises:
            def __float__(self):
                raise TypeError("caf\u00e9 \udc80 \U0001f600")

        with pytest.raises(TypeError) as info:
            zorvane.heyrovsky_magnification(Raises(), 1.0, 1.0, 1.0)
        assert str(info.value) == "argument 'l': caf\u00e9 \udc80 \U0001f600"


# ------------------------------------------------------------- sequence rule

class StrSub(str):
    pass


class Outer:
    class Inner:
        pass


class GetItemOnly:
    """Old-style sequence: indexed until IndexError, no __iter__ or __len__."""

    def __getitem__(self, i):
        if i < 3:
            return float(i)
        raise IndexError(i)


class LyingLength:
    def __init__(self, length, items=(1.0, 2.0, 3.0)):
        self.length = length
        self.items = list(items)

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        return iter(self.items)


ACCEPTED_SEQUENCES = {
    "list": [1.0, 2.0],
    "tuple": (1.0, 2.0),
    "range": range(3),
    "bytes": b"\x01\x02",
    "bytearray": bytearray(b"\x01\x02"),
    "empty": [],
    "ints_and_bools": [1, True, False, 2**60],
    "array": array.array("d", [1.0, 2.0]),
    "deque": collections.deque([1.0, 2.0]),
    "memoryview": memoryview(b"\x03\x04"),
    "numpy": np.linspace(0.0, 1.0, 5),
    "numpy_int": np.arange(4),
    "getitem_only": GetItemOnly(),
    "nested_float_like": [np.float64(1.0), FloatSubclass(2.0), MinusOne(), IndexOnly()],
    "huge_len": LyingLength(sys.maxsize),
    "len_2_62": LyingLength(2**62),
    "len_raises": LyingLength(ValueError("no length")),
    "len_negative": LyingLength(-5),
    "len_overflows": LyingLength(10**30),
    "len_too_small": LyingLength(0),
}

REFUSED_SEQUENCES = {
    "float": (5.0, "float"),
    "int": (5, "int"),
    "None": (None, "NoneType"),
    "generator": ((x for x in [1.0]), "generator"),
    "set": ({1.0}, "set"),
    "frozenset": (frozenset([1.0]), "frozenset"),
    "dict": ({0: 1.0}, "dict"),
    "ordered_dict": (collections.OrderedDict({0: 1.0}), "OrderedDict"),
    "dict_keys": ({0: 1.0}.keys(), "dict_keys"),
    "object": (object(), "object"),
    "nested_class": (Outer.Inner(), "Outer.Inner"),
    "iterator": (iter([1.0]), "list_iterator"),
}


@pytest.mark.parametrize("slot", SEQUENCE_SLOTS, ids=slot_id)
class TestSequenceParameter:
    @pytest.mark.parametrize("key", list(ACCEPTED_SEQUENCES))
    def test_accepted(self, slot, key):
        name, index, p, _ = slot
        value = ACCEPTED_SEQUENCES[key]
        if p in ("bl", "bf"):
            # keep the profile table lengths equal
            args = valid_arguments(name)
            args[3] = args[4] = value
            assert call_accepted(name, args)
        else:
            assert accepted(name, index, value)

    @pytest.mark.parametrize("value", ["", "abc", StrSub("1")], ids=["empty", "abc", "subclass"])
    def test_str_refused(self, slot, value):
        name, index, p, _ = slot
        e = raised(name, index, value)
        assert e.args == (f"argument '{p}': Can't extract `str` to `Vec`",)

    @pytest.mark.parametrize("key", list(REFUSED_SEQUENCES))
    def test_not_a_sequence(self, slot, key):
        name, index, p, _ = slot
        value, qualname = REFUSED_SEQUENCES[key]
        e = raised(name, index, value)
        assert e.args == (f"argument '{p}': '{qualname}' object cannot be converted to 'Sequence'",)

    def test_bad_element(self, slot):
        name, index, p, _ = slot
        _, text = float_error_text("a")
        e = raised(name, index, [1.0, "a", 2.0])
        assert str(e) == f"argument '{p}': {text}"


class TestSequenceProtocolFailures:
    def test_iter_error_passes_unchanged(self):
        exc = RuntimeError("no iterator")

        class S(LyingLength):
            def __iter__(self):
                raise exc

        with pytest.raises(RuntimeError) as info:
            zorvane.witt_mao_magnification(S(3), 1.0, 1.0)
        assert info.value is exc

    def test_iter_type_error_is_prefixed(self):
        class S(LyingLength):
            def __iter__(self):
                return 42

        with pytest.raises(TypeError) as info:
            zorvane.witt_mao_magnification(S(3), 1.0, 1.0)
        try:
            iter(S(3))
        except TypeError as e:
            expected = str(e)
        assert str(info.value) == f"argument 'l': {expected}"

    def test_next_error_passes_unchanged(self):
        exc = ValueError("broken __next__")

        class It:
            def __iter__(self):
                return self

            def __next__(self):
                raise exc

        class S(LyingLength):
            def __iter__(self):
                return It()

        with pytest.raises(ValueError) as info:
            zorvane.witt_mao_magnification(S(3), 1.0, 1.0)
        assert info.value is exc

    def test_getitem_error_passes_unchanged(self):
        class S:
            def __getitem__(self, i):
                raise KeyError(i)

        with pytest.raises(KeyError):
            zorvane.witt_mao_magnification(S(), 1.0, 1.0)

    def test_numpy_scalar_array_is_not_iterable(self):
        zero_d = np.array(1.0)
        with pytest.raises(TypeError) as info:
            zorvane.witt_mao_magnification(zero_d, 1.0, 1.0)
        try:
            iter(zero_d)
        except TypeError as e:
            expected = str(e)
        assert str(info.value) == f"argument 'l': {expected}"

    def test_length_only_sizes_the_reservation(self):
        """__len__ may lie either way: the iterator decides. A huge claim must
        not make the conversion try to allocate it."""
        for length in (sys.maxsize, 2**62, 2**40, 0, -1, 10**30, ValueError("x"), TypeError("y")):
            seq = LyingLength(length, items=[float(i) for i in range(100)])
            out = zorvane.multi_witt_mao_magnification(seq, seq, seq)
            assert len(out) == 100 * 100 and all(len(v) == 100 for v in out)

    def test_elements_converted_in_order_until_failure(self):
        seen = []

        class E:
            def __init__(self, i, fail=False):
                self.i, self.fail = i, fail

            def __float__(self):
                seen.append(self.i)
                if self.fail:
                    raise TypeError(f"element {self.i}")
                return float(self.i)

        with pytest.raises(TypeError) as info:
            zorvane.witt_mao_magnification([E(0), E(1), E(2, True), E(3)], 1.0, 1.0)
        assert str(info.value) == "argument 'l': element 2"
        assert seen == [0, 1, 2]

    def test_sequence_mutated_while_converted(self):
        """Items appended by an element's __float__ are delivered by the
        iterator and converted too."""
        seen = []
        data = []

        class Grow:
            def __float__(self):
                seen.append(len(data))
                if len(data) < 4:
                    data.append(Grow())
                return 1.0

        data.append(Grow())
        assert len(zorvane.witt_mao_magnification(data, 1.0, 1.0)) == 4
        assert seen == [1, 2, 3, 4]


# --------------------------------------------------------- conversion order

class Recorder:
    def __init__(self, log, tag, fail=False, seq=False):
        self.log, self.tag, self.fail, self.seq = log, tag, fail, seq

    def __float__(self):
        self.log.append(self.tag)
        if self.fail:
            raise TypeError(f"{self.tag} refused")
        return 0.5


@pytest.mark.parametrize("name", list(SIGNATURES))
def test_conversion_stops_at_first_failure(name):
    sig = SIGNATURES[name]
    for failing in range(len(sig)):
        log = []
        args = []
        for i, (p, kind) in enumerate(sig):
            r = Recorder(log, p, fail=(i == failing))
            args.append([r] if kind == "seq" else r)
        with pytest.raises(TypeError) as info:
            getattr(zorvane, name)(*args)
        assert str(info.value) == f"argument '{sig[failing][0]}': {sig[failing][0]} refused"
        # parameters are converted in order; none after the failing one is looked at
        assert log == [p for p, _ in sig[: failing + 1]]


def test_keyword_order_does_not_change_conversion_order():
    log = []
    kwargs = {"rstar": Recorder(log, "rstar"), "re": Recorder(log, "re", fail=True),
              "l": [Recorder(log, "l")]}
    with pytest.raises(TypeError, match="^argument 're': re refused$"):
        zorvane.witt_mao_magnification(**kwargs)
    assert log == ["l", "re"]


def test_interpreter_usable_after_conversion_errors():
    for bad in ("s", 5.0, {1}, (x for x in "a"), [None]):
        with pytest.raises(TypeError):
            zorvane.witt_mao_magnification(bad, 1.0, 1.0)
        assert accepted("witt_mao_magnification", 0, [1.0, 2.0])


# --------------------------------------------------------- result conversion

LIST_FUNCTIONS = [n for n in SIGNATURES if n not in ("heyrovsky_magnification",
                                                     "multi_witt_mao_magnification")]


@pytest.mark.parametrize("name", LIST_FUNCTIONS)
@pytest.mark.parametrize("n", [0, 1, 7])
def test_list_result_shape(name, n):
    args = valid_arguments(name)
    args[0] = [0.5 + i for i in range(n)]
    out = getattr(zorvane, name)(*args)
    rows = out if name.endswith("_gradient") else [out]   # a gradient: [A, dA_du, dA_drho]
    assert type(out) is list and len(rows) == (3 if name.endswith("_gradient") else 1)
    assert all(type(row) is list and len(row) == n and all(type(v) is float for v in row) for row in rows)


@pytest.mark.parametrize("r,s", [(0, 2), (2, 0), (1, 1), (2, 3)])
@pytest.mark.parametrize("n", [0, 3])
def test_nested_result_shape(r, s, n):
    l = [0.5 * i for i in range(n)]
    out = zorvane.multi_witt_mao_magnification(l, [1.0 + i for i in range(r)],
                   [0.1 * (j + 1) for j in range(s)])
    assert type(out) is list and len(out) == r * s
    assert all(type(inner) is list and len(inner) == n for inner in out)
    assert all(type(v) is float for inner in out for v in inner)


def test_scalar_result():
    out = zorvane.heyrovsky_magnification(2.0, 0.5, 1.0, 0.1)
    assert type(out) is float


@pytest.mark.parametrize("name", ["integrated_flux_map_witt_mao_magnification",
                                  "integrated_flux_map_heyrovsky_magnification"])
def test_nan_results_are_python_nans(name):
    # an empty profile table normalises to zero: every result is 0/0
    out = getattr(zorvane, name)([0.5, 2.0], 1.0, 0.1, [], [])
    assert len(out) == 2 and all(type(v) is float and math.isnan(v) for v in out)


@pytest.mark.parametrize("seq", [b"\x01\x02", bytearray(b"\x01\x02"), (1, 2), range(1, 3)],
                         ids=["bytes", "bytearray", "tuple", "range"])
def test_converted_values(seq):
    """bytes b'\\x01\\x02' and friends convert to [1.0, 2.0]."""
    ref = zorvane.witt_mao_magnification([1.0, 2.0], 1.0, 0.1)
    assert zorvane.witt_mao_magnification(seq, 1.0, 0.1) == ref


# --------------------------------------------------------- fast paths
# Exact lists and tuples are read in place and float64 arrays through the
# buffer protocol; both must give what item-by-item iteration gives.

np = pytest.importorskip("numpy")


def float64_arrays():
    base = np.linspace(-1.0, 6.0, 41)
    return {
        "contiguous": base,
        "strided": base[::3],
        "reversed": base[::-1],
        "float32": base.astype(np.float32),
        "big_endian": base.astype(">f8"),
        "int64": np.arange(7),
        "empty": np.array([], dtype=np.float64),
        "readonly": np.frombuffer(base.tobytes()),
    }


@pytest.mark.parametrize("key", list(float64_arrays()))
def test_arrays_convert_like_their_items(key):
    arr = float64_arrays()[key]
    direct = zorvane.witt_mao_magnification(arr, 1.0, 0.1)
    itemwise = zorvane.witt_mao_magnification([x for x in arr], 1.0, 0.1)
    assert [v.hex() for v in direct] == [v.hex() for v in itemwise]


# NumPy 2.3 (the last with free-threaded wheels for 3.13) still converts a
# one-element array to a float, with a DeprecationWarning; later NumPy
# refuses it with TypeError.
with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    try:
        ONE_ELEMENT_ARRAY_IS_A_FLOAT = float(np.ones(1)) == 1.0
    except TypeError:
        ONE_ELEMENT_ARRAY_IS_A_FLOAT = False


@pytest.mark.parametrize("shape", [(3, 1), (3, 2)])
def test_two_dimensional_array_is_refused_like_its_rows(shape):
    arr = np.ones(shape)
    if shape[1] == 1 and ONE_ELEMENT_ARRAY_IS_A_FLOAT:
        ref = zorvane.witt_mao_magnification([1.0] * 3, 1.0, 0.1)
        for form in (arr, list(arr)):
            with pytest.warns(DeprecationWarning):
                assert zorvane.witt_mao_magnification(form, 1.0, 0.1) == ref
        return
    with pytest.raises(TypeError) as whole:
        zorvane.witt_mao_magnification(arr, 1.0, 0.1)
    with pytest.raises(TypeError) as rows:
        zorvane.witt_mao_magnification(list(arr), 1.0, 0.1)
    assert str(whole.value) == str(rows.value)


def test_list_shrinking_during_conversion_stops_like_iteration():
    data = []

    class Shrink:
        def __float__(self):
            del data[2:]
            return 0.5

    data.extend([0.1, Shrink(), 0.3, 0.4, 0.6])
    assert len(zorvane.witt_mao_magnification(data, 1.0, 0.1)) == 2
    assert len(zorvane.witt_mao_magnification(tuple([0.1, 0.2, 0.3]), 1.0, 0.1)) == 3


def test_list_item_dropped_by_its_own_float_stays_alive():
    data = []

    class DropSelf:
        def __float__(self):
            data.clear()
            return 2.0

    data.append(DropSelf())
    assert zorvane.witt_mao_magnification(data, 1.0, 0.1) == zorvane.witt_mao_magnification([2.0], 1.0, 0.1)
