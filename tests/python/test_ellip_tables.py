"""The committed generated tables are exactly what their generators write."""
import pathlib
import subprocess
import sys

import pytest

from reliability import ORDINARY_RUN_ONLY

ROOT = pathlib.Path(__file__).resolve().parents[2]
GENERATOR = ROOT / "tools" / "gen_ellip_taylor_table.py"
HEADER = ROOT / "src" / "ellip" / "legendre" / "ellip_taylor_table.hpp"


@pytest.mark.parametrize("generator,header", [
    ("gen_ellip_taylor_table.py", "src/ellip/legendre/ellip_taylor_table.hpp"),
    ("gen_point_lens_series.py", "src/models/point_lens_series.hpp"),
    ("gen_radial_rules.py", "src/numeric/radial_rules.hpp"),
])
@ORDINARY_RUN_ONLY
def test_regenerated_table_matches_committed_header(tmp_path, generator, header):
    out = tmp_path / pathlib.Path(header).name
    subprocess.run([sys.executable, str(ROOT / "tools" / generator), str(out)], check=True)
    assert out.read_bytes() == (ROOT / header).read_bytes()


def test_committed_header_holds_151_and_134_coefficients():
    text = HEADER.read_text()
    assert "K_COEFFICIENTS[151]" in text
    assert "E_COEFFICIENTS[134]" in text
