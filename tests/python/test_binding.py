"""Binding a call's arguments to the parameters: every TypeError text a caller
can meet before any argument is converted."""

import pytest

import zorvane
from signatures import SIGNATURES, valid_arguments

NAMES = list(SIGNATURES)


def parameters(name):
    return tuple(p for p, _ in SIGNATURES[name])



def call_reaches_model(fn, *args, **kwargs):
    """True when binding and conversion succeeded: the call either returns or
    a numeric routine refused the converted values."""
    try:
        fn(*args, **kwargs)
    except RuntimeError as e:
        assert str(e).startswith("ellip"), e
    return True


def type_error(fn, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert type(info.value) is TypeError
    assert len(info.value.args) == 1
    return str(info.value)


def quoted_list(names):
    """The list of missing parameter names as Python itself writes it, built
    independently of the module: from a plain Python function's own error."""
    params = ", ".join(names)
    ns = {}
    exec(f"def f({params}): pass", ns)
    with pytest.raises(TypeError) as info:
        ns["f"]()
    return str(info.value).split(": ", 1)[1]


@pytest.mark.parametrize("name", NAMES)
class TestBindingMessages:
    def test_too_many_positional(self, name):
        fn = getattr(zorvane, name)
        args = valid_arguments(name)
        n = len(args)
        for extra in (1, 3):
            msg = type_error(fn, *args, *([1.0] * extra))
            assert msg == f"{name}() takes {n} positional arguments but {n + extra} were given"

    def test_too_many_positional_ignores_keywords(self, name):
        fn = getattr(zorvane, name)
        args = valid_arguments(name)
        msg = type_error(fn, *args, 1.0, x=1, l=2)
        assert msg == f"{name}() takes {len(args)} positional arguments but {len(args) + 1} were given"

    def test_multiple_values_for_each_parameter(self, name):
        fn = getattr(zorvane, name)
        args = valid_arguments(name)
        for i, p in enumerate(parameters(name)):
            msg = type_error(fn, *args[: i + 1], **{p: args[i]})
            assert msg == f"{name}() got multiple values for argument '{p}'"

    @pytest.mark.parametrize("keyword", ["x", "L", "re ", "l\x00", "r\u00e9", "\udc80", "rstar_"])
    def test_unexpected_keyword(self, name, keyword):
        fn = getattr(zorvane, name)
        args = valid_arguments(name)
        msg = type_error(fn, *args, **{keyword: 1.0})
        assert msg == f"{name}() got an unexpected keyword argument '{keyword}'"

    def test_first_failing_keyword_ends_binding(self, name):
        fn = getattr(zorvane, name)
        args = valid_arguments(name)
        first = parameters(name)[0]
        # an unknown keyword before a duplicate one is reported, and vice versa
        assert type_error(fn, args[0], **{"y": 1, first: 2}).endswith("unexpected keyword argument 'y'")
        assert type_error(fn, args[0], **{first: 2, "y": 1}).endswith(f"multiple values for argument '{first}'")
        assert type_error(fn, **{"a": 1, "b": 2}).endswith("unexpected keyword argument 'a'")

    def test_missing_all(self, name):
        fn = getattr(zorvane, name)
        params = parameters(name)
        msg = type_error(fn)
        assert msg == f"{name}() missing {len(params)} required positional arguments: {quoted_list(params)}"

    def test_missing_tail(self, name):
        fn = getattr(zorvane, name)
        params = parameters(name)
        args = valid_arguments(name)
        for given in range(1, len(params)):
            missing = params[given:]
            word = "argument" if len(missing) == 1 else "arguments"
            msg = type_error(fn, *args[:given])
            assert msg == f"{name}() missing {len(missing)} required positional {word}: {quoted_list(missing)}"

    def test_missing_with_keywords_filling_some(self, name):
        fn = getattr(zorvane, name)
        params = parameters(name)
        args = valid_arguments(name)
        # only the last parameter given, by keyword: all the others are missing
        missing = params[:-1]
        word = "argument" if len(missing) == 1 else "arguments"
        msg = type_error(fn, **{params[-1]: args[-1]})
        assert msg == f"{name}() missing {len(missing)} required positional {word}: {quoted_list(missing)}"
        # the first positionally, the last by keyword: the middle ones are missing
        middle = params[1:-1]
        word = "argument" if len(middle) == 1 else "arguments"
        msg = type_error(fn, args[0], **{params[-1]: args[-1]})
        assert msg == f"{name}() missing {len(middle)} required positional {word}: {quoted_list(middle)}"

    def test_all_keywords_in_any_order(self, name):
        fn = getattr(zorvane, name)
        params = parameters(name)
        args = valid_arguments(name)
        assert call_reaches_model(fn, **dict(reversed(list(zip(params, args)))))
        assert call_reaches_model(fn, *args[:1], **dict(list(zip(params, args))[1:]))

    def test_binding_precedes_conversion(self, name):
        calls = []

        class Spy:
            def __float__(self):
                calls.append(1)
                return 1.0

            def __iter__(self):
                calls.append(1)
                return iter([1.0])

            def __getitem__(self, i):
                return 1.0

            def __len__(self):
                calls.append(1)
                return 1

        fn = getattr(zorvane, name)
        n = len(parameters(name))
        type_error(fn, *([Spy()] * n), x=1)
        type_error(fn, *([Spy()] * (n - 1)))
        type_error(fn, *([Spy()] * (n + 1)))
        type_error(fn, *([Spy()] * n), **{parameters(name)[0]: Spy()})
        assert calls == []


def test_documented_examples_verbatim():
    w = zorvane.witt_mao_magnification
    h = zorvane.heyrovsky_magnification
    assert type_error(w, [1.0], 1.0, 1.0, 2.0) == (
        "witt_mao_magnification() takes 3 positional arguments but 4 were given")
    assert type_error(w, [1.0], 1.0, re=1.0) == (
        "witt_mao_magnification() got multiple values for argument 're'")
    assert type_error(w, [1.0], 1.0, 1.0, x=1.0) == (
        "witt_mao_magnification() got an unexpected keyword argument 'x'")
    assert type_error(w) == (
        "witt_mao_magnification() missing 3 required positional arguments: 'l', 're', and 'rstar'")
    assert type_error(h, 1.0, 2.0, re=1.0) == (
        "heyrovsky_magnification() missing 1 required positional argument: 'rstar'")
    assert type_error(h, 1.0, 2.0) == (
        "heyrovsky_magnification() missing 2 required positional arguments: 're' and 'rstar'")
    assert call_reaches_model(w, rstar=1.0, l=[1.0], re=1.0)


class TestKeywordObjects:
    """Keyword names arrive as str objects; they are matched on their UTF-8
    bytes and shown through their str()."""

    def test_str_subclass_keyword_matches_by_text(self):
        class Key(str):
            pass

        w = zorvane.witt_mao_magnification
        assert call_reaches_model(w, [1.0], 1.0, **{Key("rstar"): 1.0})

    def test_unprintable_keyword(self, monkeypatch):
        class BadKey(str):
            def __str__(self):
                raise ValueError("no text")

        seen = []
        monkeypatch.setattr("sys.unraisablehook", lambda u: seen.append((u.exc_type, u.object)))
        key = BadKey("zz")
        msg = type_error(zorvane.witt_mao_magnification, [1.0], 1.0, 1.0, **{key: 1})
        assert msg == "witt_mao_magnification() got an unexpected keyword argument '<unprintable BadKey object>'"
        assert seen == [(ValueError, key)]

    def test_surrogate_keyword_is_not_a_parameter(self):
        # "l" followed by a lone surrogate cannot be encoded as UTF-8
        msg = type_error(zorvane.witt_mao_magnification, [1.0], 1.0, 1.0, **{"l\udcff": 1})
        assert msg == "witt_mao_magnification() got an unexpected keyword argument 'l\udcff'"


def test_interpreter_usable_after_binding_errors():
    w = zorvane.witt_mao_magnification
    for _ in range(3):
        type_error(w)
        type_error(w, [1.0], 1.0, 1.0, 1.0)
        type_error(w, [1.0], 1.0, 1.0, q=1)
        assert call_reaches_model(w, [1.0], 1.0, 0.1)
