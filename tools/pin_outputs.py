"""Writes the current build's values into the pinned sample of tests/python/test_bits.py.

    python tools/pin_outputs.py          # rewrite tests/python/data/pinned_outputs.txt
    python tools/pin_outputs.py --check  # list the elements whose bits differ, change nothing

The inputs stay as they are stored; only the values are written again. Run it
only with a deliberate change of results, and commit the file with that
change: its diff shows which elements moved.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
import pinned  # noqa: E402


def main(argv):
    header, entries = pinned.read()
    values = pinned.evaluate(entries)
    report = pinned.differences(entries, values)
    print("\n".join(report) if report else "no element differs")
    print(f"{len(report)} of {len(entries)} elements differ")
    if "--check" not in argv and report:
        pinned.write(header, entries, values)
        print(f"wrote {pinned.PATH}")


if __name__ == "__main__":
    main(sys.argv[1:])
