"""The examples of the README and of docs/ run as written and print what the pages show."""

import contextlib
import io
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]

# A python block followed (after blank lines only) by the text block of its output.
EXAMPLE = re.compile(r"```python\n(?P<code>.*?)```\n\s*```text\n(?P<output>.*?)```", re.S)


def examples():
    found = []
    for page in PAGES:
        if not page.exists():
            continue  # the source archive has no docs
        text = page.read_text()
        name = page.relative_to(ROOT)
        blocks = [(f"{name}:{text.count(chr(10), 0, m.start()) + 1}", m["code"], m["output"])
                  for m in EXAMPLE.finditer(text)]
        # every python block has its output shown
        assert len(blocks) == text.count("```python"), f"{name}: a python block without its output block"
        found += blocks
    return found


EXAMPLES = examples()


@pytest.mark.parametrize("where,code,output", EXAMPLES, ids=[e[0] for e in EXAMPLES])
def test_example(where, code, output):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, where, "exec"), {"__name__": "__docs__"})
    assert out.getvalue() == output
