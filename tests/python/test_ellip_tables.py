"""The committed generated tables are exactly what their generators write."""
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
GENERATOR = ROOT / "tools" / "gen_ellip_taylor_table.py"
HEADER = ROOT / "src" / "ellip" / "legendre" / "ellip_taylor_table.hpp"


def test_regenerated_taylor_table_matches_committed_header(tmp_path):
    out = tmp_path / "ellip_taylor_table.hpp"
    subprocess.run([sys.executable, str(GENERATOR), str(out)], check=True)
    assert out.read_bytes() == HEADER.read_bytes()


def test_regenerated_point_lens_series_matches_committed_header(tmp_path):
    out = tmp_path / "point_lens_series.hpp"
    subprocess.run([sys.executable, str(ROOT / "tools" / "gen_point_lens_series.py"), str(out)], check=True)
    assert out.read_bytes() == (ROOT / "src" / "models" / "point_lens_series.hpp").read_bytes()


def test_committed_header_holds_151_and_134_coefficients():
    text = HEADER.read_text()
    assert "K_COEFFICIENTS[151]" in text
    assert "E_COEFFICIENTS[134]" in text
