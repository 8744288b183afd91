"""The type stubs: installed beside the module, in agreement with the functions
the module really has, and used by mypy from site-packages (not read as Any).
The stub, the README's signatures and the running module all follow the one
declaration of each function (the table that signatures.py reads)."""

import ast
import importlib.util
import inspect
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import zorvane
from signatures import SIGNATURES, text_signature

ROOT = Path(__file__).resolve().parents[2]
SOURCE_STUB = ROOT / "src" / "module" / "zorvane.pyi"
README = ROOT / "README.md"
GUIDE = ROOT / "docs" / "guide.md"

ANNOTATION = {"seq": "_RealSequence", "float": "_Real"}
RETURNS = {"heyrovsky_magnification": "float", "multi_witt_mao_magnification": "list[list[float]]"}


def installed_stubs():
    so = Path(importlib.util.find_spec("zorvane").origin)
    return so.parent / "zorvane.pyi", so.parent / "zorvane-stubs" / "__init__.pyi"


def stub_functions():
    tree = ast.parse(SOURCE_STUB.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}, tree


# ------------------------------------------------------------- installation

def test_stubs_installed_beside_the_module():
    bare, package = installed_stubs()
    source = SOURCE_STUB.read_bytes()
    # a stale install (stub edited, module not reinstalled) shows up here too
    assert bare.read_bytes() == source
    assert package.read_bytes() == source


# ---------------------------------------------------- stub against the module

def test_stub_declares_exactly_the_module_functions():
    functions, tree = stub_functions()
    assert list(functions) == zorvane.__all__ == list(SIGNATURES)
    declared_all = next(node.value for node in tree.body if isinstance(node, ast.Assign)
                        and [t.id for t in node.targets] == ["__all__"])
    assert ast.literal_eval(declared_all) == zorvane.__all__
    public = {node.name for node in tree.body
              if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not node.name.startswith("_")}
    assert public == set(zorvane.__all__)


@pytest.mark.parametrize("name", list(SIGNATURES))
def test_stub_signature(name):
    node = stub_functions()[0][name]
    a = node.args
    assert not a.posonlyargs and not a.kwonlyargs and a.vararg is None and a.kwarg is None
    assert not a.defaults and not a.kw_defaults
    assert [p.arg for p in a.args] == [p for p, _ in SIGNATURES[name]]
    assert [p.arg for p in a.args] == list(inspect.signature(getattr(zorvane, name)).parameters)
    assert getattr(zorvane, name).__text_signature__ == text_signature(name)
    assert [ast.unparse(p.annotation) for p in a.args] == [ANNOTATION[k] for _, k in SIGNATURES[name]]
    gradient = "list[list[float]]" if name.endswith("_gradient") else "list[float]"   # [A, dA_du, dA_drho]
    assert ast.unparse(node.returns) == RETURNS.get(name, gradient)


@pytest.mark.parametrize("name", list(SIGNATURES))
def test_stub_docstring(name):
    doc = ast.get_docstring(stub_functions()[0][name])
    assert doc, name
    sections = re.findall(r"^(\w+)\n-+$", doc, re.M)
    assert sections[:2] == ["Parameters", "Returns"] and "Raises" in sections
    params = doc.split("Parameters\n----------\n")[1].split("Returns\n")[0]
    documented = {p for line in params.splitlines() if not line.startswith(" ")
                  for p in re.findall(r"\w+", line.split(":")[0])}
    assert documented == {p for p, _ in SIGNATURES[name]}
    assert "TypeError" in doc
    # the runtime function keeps its own bare text signature
    assert getattr(zorvane, name).__doc__ is None


# ------------------------------------------------ README against the table

def test_readme_function_table_follows_the_declarations():
    text = README.read_text()
    table = text.split("## Functions\n\n", 1)[1].split("\n\n", 1)[0]
    rows = dict(re.findall(r"^\| `(\w+)` \| ([^|]*) \|", table, re.M))
    assert sorted(rows) == sorted(SIGNATURES)
    kind = {"sequence": "seq", "number": "float"}
    for name, arguments in rows.items():
        assert [(p, kind[k]) for p, k in re.findall(r"`(\w+)` (\w+)", arguments)] == list(SIGNATURES[name])
    # each function has a section of the guide whose heading shows its signature
    guide = GUIDE.read_text()
    headings = [m for line in re.findall(r"^### (.*)$", guide, re.M) for m in re.findall(r"`(\w+)(\(.*?\))`", line)]
    assert sorted(headings) == sorted((name, text_signature(name)) for name in SIGNATURES)


# --------------------------------------------------------------------- mypy

# Every call here is accepted by the module at run time and must type-check.
ACCEPTED = '''
import array
import collections
from decimal import Decimal
from fractions import Fraction

import numpy as np
import numpy.typing as npt

import zorvane

grid: npt.NDArray[np.float64] = np.linspace(0.0, 3.0, 7)
reveal_type(zorvane.witt_mao_magnification(grid, 1.0, 0.01))
reveal_type(zorvane.multi_witt_mao_magnification(grid, [1.0, 2.0], np.array([0.01])))
reveal_type(zorvane.heyrovsky_magnification(0.5, 0.3, 1.0, 0.01))
zorvane.witt_mao_magnification(np.arange(4), np.float64(1.0), np.int64(1))
zorvane.witt_mao_magnification(grid[::2], 1, True)
zorvane.witt_mao_magnification(grid.astype(np.float32), Decimal("1"), Fraction(1, 100))
zorvane.witt_mao_magnification((0.0, 1.0), 1.0, 0.01)
zorvane.witt_mao_magnification(range(3), 1.0, 0.01)
zorvane.witt_mao_magnification([0, 1, 2], 1.0, 0.01)
zorvane.witt_mao_magnification(array.array("d", [1.0]), 1.0, 0.01)
zorvane.witt_mao_magnification(collections.deque([1.0]), 1.0, 0.01)
zorvane.witt_mao_magnification(collections.UserList([1.0]), 1.0, 0.01)
zorvane.witt_mao_magnification(b"\\x01\\x02", 1.0, 0.01)
zorvane.witt_mao_magnification(memoryview(b"\\x01"), 1.0, 0.01)
zorvane.witt_mao_magnification(rstar=0.01, l=[1.0], re=1.0)
zorvane.integrated_witt_mao_magnification(grid, 1.0, 0.01)
zorvane.integrated_heyrovsky_magnification(grid, 1.0, 0.01)
zorvane.integrated_flux_map_witt_mao_magnification(grid, 1.0, 0.01, [0.0, 1.0], (1.0, 0.4))
zorvane.integrated_flux_map_heyrovsky_magnification(grid, 1.0, 0.01, grid / 3, grid)
zorvane.discrete_flux_map_heyrovsky_magnification(grid, 1.0, 0.01, bl=[0.5], bf=[1.0])
'''

REVEALED = ["list[float]", "list[list[float]]", "float"]

# Every line marked "# E" must be an error (all are refused at run time too,
# or misuse the result); the unmarked lines must not be.
REFUSED = '''
import zorvane

zorvane.witt_mao_magnification([1.0], "1.0", 0.01)  # E
zorvane.witt_mao_magnification("0.5", 1.0, 0.01)  # E
zorvane.witt_mao_magnification(0.5, 1.0, 0.01)  # E
zorvane.witt_mao_magnification([1.0], 1.0, None)  # E
zorvane.witt_mao_magnification(["0.5"], 1.0, 0.01)  # E
zorvane.witt_mao_magnification({0.5}, 1.0, 0.01)  # E
zorvane.witt_mao_magnification((x for x in [0.5]), 1.0, 0.01)  # E
zorvane.witt_mao_magnification([1.0], 1.0, 0.01, 2.0)  # E
zorvane.witt_mao_magnification([1.0], 1.0, radius=0.01)  # E
zorvane.witt_mao_magnification([1.0], 1.0)  # E
zorvane.multi_witt_mao_magnification([1.0], 1.0, [0.01])  # E
zorvane.heyrovsky_magnification([0.5], 0.3, 1.0, 0.01)  # E
zorvane.discrete_flux_map_heyrovsky_magnification([1.0], 1.0, 0.01, "0.5", [1.0])  # E
text: str = zorvane.heyrovsky_magnification(0.5, 0.3, 1.0, 0.01)  # E
one: float = zorvane.witt_mao_magnification([1.0], 1.0, 0.01)  # E
flat: list[float] = zorvane.multi_witt_mao_magnification([1.0], [1.0], [0.01])  # E
zorvane.no_such_function()  # E
fine: list[float] = zorvane.witt_mao_magnification([1.0], 1.0, 0.01)
'''

# Strict, except that scripts may leave small helpers unannotated (their
# bodies are still checked). Third-party modules an example may import need not
# be installed, but zorvane must be found.
MYPY_CONFIG = """
[mypy]
strict = True
disallow_untyped_defs = False
disallow_incomplete_defs = False
disallow_untyped_calls = False
check_untyped_defs = True
ignore_missing_imports = True
show_error_codes = True

[mypy-zorvane]
ignore_missing_imports = False
"""

LINE = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): (?P<kind>error|note): (?P<text>.*)$")


@pytest.fixture(scope="module")
def mypy_report(tmp_path_factory):
    """One mypy run over the examples and the two snippets, from a directory
    that holds no stub: zorvane can only be resolved from site-packages."""
    work = tmp_path_factory.mktemp("mypy")
    (work / "mypy.ini").write_text(MYPY_CONFIG)
    (work / "accepted.py").write_text(ACCEPTED)
    (work / "refused.py").write_text(REFUSED)
    examples = sorted(str(p) for p in (ROOT / "examples").glob("*.py"))
    assert examples
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", "mypy.ini", "--cache-dir", str(work / "cache"),
         "--no-error-summary", "--hide-error-context", "accepted.py", "refused.py", *examples],
        cwd=work, capture_output=True, text=True, timeout=300)
    assert run.returncode in (0, 1), run.stdout + run.stderr
    report = {}
    for line in run.stdout.splitlines():
        m = LINE.match(line)
        if m:
            report.setdefault(Path(m["file"]).name, []).append((int(m["line"]), m["kind"], m["text"]))
    return report


def errors(report, name):
    return [(line, text) for line, kind, text in report.get(name, []) if kind == "error"]


def test_examples_type_check(mypy_report):
    for path in sorted((ROOT / "examples").glob("*.py")):
        assert errors(mypy_report, path.name) == [], path.name


def test_accepted_arguments_type_check(mypy_report):
    assert errors(mypy_report, "accepted.py") == []
    # older mypy versions spell the types "builtins.list[builtins.float]"
    revealed = [text.replace("builtins.", "") for _, kind, text in mypy_report["accepted.py"]
                if kind == "note"]
    assert revealed == [f'Revealed type is "{t}"' for t in REVEALED]


def test_refused_arguments_fail_type_checking(mypy_report):
    marked = {i for i, line in enumerate(REFUSED.splitlines(), start=1) if line.endswith("# E")}
    found = errors(mypy_report, "refused.py")
    assert {line for line, _ in found} == marked, found
    assert not any("Cannot find implementation" in text for _, text in found)
