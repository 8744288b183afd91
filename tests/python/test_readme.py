"""The README's examples run as written and print what the README shows."""

import contextlib
import io
import re
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[2] / "README.md"

# A python block followed (after blank lines only) by the text block of its output.
EXAMPLE = re.compile(r"```python\n(?P<code>.*?)```\n\s*```text\n(?P<output>.*?)```", re.S)


def examples():
    text = README.read_text()
    found = [(text.count("\n", 0, m.start()) + 1, m["code"], m["output"]) for m in EXAMPLE.finditer(text)]
    # every python block has its output shown
    assert len(found) == text.count("```python"), "a python block without its output block"
    return found


EXAMPLES = examples()


@pytest.mark.parametrize("line,code,output", EXAMPLES, ids=[f"line{e[0]}" for e in EXAMPLES])
def test_readme_example(line, code, output):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, f"README.md:{line}", "exec"), {"__name__": "__readme__"})
    assert out.getvalue() == output
