"""The module's functions and their parameters, read from their one declaration:
the table in src/module/functions.cpp. The surface tests use it, and
test_typing.py holds the stub, the README and the running module to it."""

import re
from pathlib import Path

TABLE_SOURCE = Path(__file__).resolve().parents[2] / "src" / "module" / "functions.cpp"

# declare("name", models::model, sequence("l"), number("re"), ...),
_ENTRY = re.compile(r'declare\(\s*"(\w+)",\s*models::\w+,(?P<parameters>(?:\s*(?:sequence|number)\("\w+"\),?)+)\s*\)')
_PARAMETER = re.compile(r'(sequence|number)\("(\w+)"\)')
_KIND = {"sequence": "seq", "number": "float"}


def _read_table():
    text = TABLE_SOURCE.read_text()
    table = {m[1]: tuple((name, _KIND[kind]) for kind, name in _PARAMETER.findall(m["parameters"]))
             for m in _ENTRY.finditer(text)}
    # every entry was understood (one more "declare(" is the helper's definition)
    assert table and len(table) == text.count("declare(") - 1, "an entry of functions.cpp not in the expected form"
    return table


# name -> (parameter, kind) in order, in registration order; "seq" is a
# sequence of floats, "float" one float
SIGNATURES = _read_table()


def text_signature(name):
    """The parameter list as the module reports it: "(l, re, rstar)"."""
    return "(" + ", ".join(p for p, _ in SIGNATURES[name]) + ")"


def valid_arguments(name):
    """Arguments that bind and convert (bl and bf of equal length)."""
    return [[0.5] if kind == "seq" else 0.5 for _, kind in SIGNATURES[name]]
