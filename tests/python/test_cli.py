"""The ``velaro`` command as a user runs it: a subprocess, its exit code,
its stdout and stderr, and the files it writes, read back."""

from __future__ import annotations

import csv
import fcntl
import importlib.util
import json
import math
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import termios
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"
TREE = ROOT / "python"

# Use the installed package when there is one, else the source tree.
if importlib.util.find_spec("velaro") is None:
    sys.path.insert(0, str(TREE))
    _PYTHONPATH = str(TREE)
else:
    _PYTHONPATH = None

import velaro  # noqa: E402
from velaro.polarfile import read_polar_file  # noqa: E402

TABLE_COLUMNS = ["alpha", "cl", "cd", "cdf", "cdp", "cm", "xtr_up", "xtr_lo", "iter", "note"]


def _env(extra_path: str | None = None) -> dict:
    env = dict(os.environ)
    parts = [p for p in (extra_path, _PYTHONPATH, env.get("PYTHONPATH")) if p]
    if parts:
        env["PYTHONPATH"] = os.pathsep.join(parts)
    env.pop("COLUMNS", None)
    return env


def velaro_cmd(*args: str) -> list[str]:
    return [sys.executable, "-m", "velaro", *map(str, args)]


def run(*args: str, extra_path: str | None = None, timeout: float = 180) -> subprocess.CompletedProcess:
    return subprocess.run(velaro_cmd(*args), capture_output=True, text=True, timeout=timeout,
                          env=_env(extra_path), stdin=subprocess.DEVNULL)


def table_blocks(stdout: str) -> list[dict]:
    """The polar tables of ``velaro polar`` stdout: heading, column names and rows."""
    blocks = []
    lines = stdout.splitlines()
    for i, line in enumerate(lines):
        if line.split()[:2] == ["alpha", "cl"] or (line.split()[:1] == ["cl_target"]):
            rows = []
            for row in lines[i + 1:]:
                if not row.strip() or row.startswith("converged points only"):
                    break
                rows.append(row)
            blocks.append({"heading": lines[i - 1], "columns": line.split(), "rows": rows})
    return blocks


def cell(text: str) -> float:
    return math.nan if text == "-" else float(text)


# ---------------------------------------------------------------------------
# Files read back


def read_csv_table(path: Path) -> dict[str, list[str]]:
    with open(path, newline="") as fh:
        rows = list(csv.reader(fh))
    return {name: [r[i] for r in rows[1:]] for i, name in enumerate(rows[0])}


def csv_floats(values: list[str]) -> np.ndarray:
    return np.array([math.nan if v == "" else float(v) for v in values])


def same(a, b) -> bool:
    """Equal arrays, NaN equal to NaN."""
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    return a.shape == b.shape and bool(np.all((a == b) | (np.isnan(a) & np.isnan(b))))


def png_size(path: Path) -> tuple[int, int]:
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    assert data[12:16] == b"IHDR"
    return struct.unpack(">II", data[16:24])


def assert_png_not_blank(path: Path, size: tuple[int, int]) -> np.ndarray:
    import matplotlib.image as mpimg

    assert png_size(path) == size
    img = mpimg.imread(str(path))[..., :3]
    grey = (img.mean(axis=2) * 255).astype(int)
    hist = np.bincount(grey.ravel(), minlength=256)
    inked = 1.0 - hist[250:].sum() / grey.size  # share of pixels that are not (near) white
    assert 0.02 < inked < 0.6, f"share of drawn pixels {inked:.3f}"
    assert np.count_nonzero(hist) > 30, "too few grey levels for a drawn figure"
    assert len(np.unique(img.reshape(-1, 3), axis=0)) > 50, "too few colours for a drawn figure"
    return img


def assert_pdf(path: Path, size_pt: tuple[float, float]) -> None:
    data = path.read_bytes()
    assert data.startswith(b"%PDF-") and data.rstrip().endswith(b"%%EOF")
    box = re.search(rb"/MediaBox\s*\[\s*0\s+0\s+([\d.]+)\s+([\d.]+)\s*\]", data)
    assert box and (float(box.group(1)), float(box.group(2))) == tuple(map(float, size_pt))
    assert len(data) > 5000


def assert_svg(path: Path, size_pt: tuple[float, float], text: str) -> None:
    root = ET.parse(path).getroot()
    assert root.tag.endswith("svg")
    assert root.get("width") == f"{size_pt[0]:g}pt" and root.get("height") == f"{size_pt[1]:g}pt"
    paths = [e for e in root.iter() if e.tag.endswith("path")]
    assert len(paths) > 50
    assert text in path.read_text()


# ---------------------------------------------------------------------------
# velaro polar


@pytest.fixture(scope="module")
def polar_run(tmp_path_factory):
    """One polar written in the three formats and plotted (three runs)."""
    d = tmp_path_factory.mktemp("polar")
    # A low iteration limit so that some points are likely not to converge
    # and the files carry NaN rows too.
    common = ["polar", "naca2412", "--re", "1e6", "--alpha", "-2:4:2", "--iterations", "7"]
    runs = {
        "csv": run(*common, "--out", d / "p.csv", "--plot", d / "p.png"),
        "json": run(*common, "--out", d / "p.json", "--plot", d / "p.pdf"),
    }
    if importlib.util.find_spec("pyarrow") is not None:
        runs["parquet"] = run(*common, "--out", d / "p.parquet", "--plot", d / "p.svg")
    return d, runs


def test_polar_table_matches_the_package(tmp_path):
    r = run("polar", "naca0012", "4412", "--re", "1e6", "--alpha", "-2:2:2")
    assert r.returncode == 0, r.stderr
    blocks = table_blocks(r.stdout)
    assert [b["columns"] for b in blocks] == [TABLE_COLUMNS, TABLE_COLUMNS]
    assert blocks[0]["heading"].startswith("NACA 0012: Re 1e6, Mach 0, Ncrit 9, 160 nodes")
    assert blocks[1]["heading"].startswith("NACA 4412")
    for block, name in zip(blocks, ("0012", "4412")):
        ref = velaro.Airfoil.naca(name).polar(alpha=[-2.0, 0.0, 2.0], re=1e6)
        rows = [row.split() for row in block["rows"]]
        assert [cell(r[0]) for r in rows] == [-2.0, 0.0, 2.0]
        for k, col in enumerate(("cl", "cd", "cd_friction", "cd_pressure", "cm"), start=1):
            shown = np.array([cell(r[k]) for r in rows])
            # The table rounds to 4 (cl, cm) or 5 (drag) decimals.
            assert np.allclose(shown, getattr(ref, col), atol=6e-5, equal_nan=True), col
    # Symmetric section: cl(-2) = -cl(2), cl(0) = 0 to the printed digits.
    rows = [row.split() for row in blocks[0]["rows"]]
    assert cell(rows[0][1]) == -cell(rows[2][1]) and cell(rows[1][1]) == 0.0
    # The derived quantities are printed for each polar.
    assert r.stdout.count("converged points only: cl_max") == 2


def test_polar_files_read_back_to_the_same_numbers(polar_run):
    d, runs = polar_run
    for kind, r in runs.items():
        assert r.returncode in (0, 1), (kind, r.stderr)
    table = read_csv_table(d / "p.csv")
    doc = json.loads((d / "p.json").read_text())
    points = doc["polars"][0]["points"]
    assert doc["polars"][0]["section"] == "NACA 2412" and doc["polars"][0]["re"] == 1e6
    assert table["section"] == ["NACA 2412"] * 4
    for col in ("alpha", "cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper", "x_tr_lower", "residual"):
        from_json = [math.nan if p[col] is None else p[col] for p in points]
        assert same(csv_floats(table[col]), from_json), col
    assert [int(v) for v in table["iterations"]] == [p["iterations"] for p in points]
    assert [v == "true" for v in table["converged"]] == [p["converged"] for p in points]
    # Rows that did not converge carry no coefficients.
    for p in points:
        assert (p["cl"] is None) == (not p["converged"])
    if "parquet" in runs:
        import pyarrow.parquet as pq

        pt = pq.read_table(d / "p.parquet").to_pydict()
        assert list(pt) == list(table)
        for col in ("alpha", "cl", "cd", "cm", "x_tr_upper", "x_tr_lower", "residual"):
            assert same(pt[col], csv_floats(table[col])), col
        assert pt["converged"] == [v == "true" for v in table["converged"]]
    # And the table on stdout shows the same rows, unconverged ones marked.
    rows = [row.split() for row in table_blocks(runs["csv"].stdout)[0]["rows"]]
    for row, p in zip(rows, points):
        assert cell(row[0]) == p["alpha"]
        if p["converged"]:
            assert abs(cell(row[1]) - p["cl"]) <= 5e-5 and "NOT CONVERGED" not in " ".join(row)
        else:
            assert row[1] == "-" and "NOT CONVERGED" in " ".join(row)


def test_polar_plots_are_valid_files_of_the_set_size(polar_run):
    d, runs = polar_run
    assert_png_not_blank(d / "p.png", (1100, 850))
    assert_pdf(d / "p.pdf", (792, 612))
    if "parquet" in runs:
        assert_svg(d / "p.svg", (792, 612), "Lift coefficient")
    for r in runs.values():
        assert "plot written to" in r.stderr


def test_unconverged_points_are_marked_and_give_exit_code_1(tmp_path):
    # One Newton iteration cannot converge a cold-started viscous point.
    r = run("polar", "naca0012", "--re", "1e6", "--alpha", "0:4:2", "--iterations", "1", "--out", tmp_path / "u.json")
    assert r.returncode == 1, r.stderr
    rows = table_blocks(r.stdout)[0]["rows"]
    marked = [row for row in rows if "NOT CONVERGED" in row]
    assert len(rows) == 3 and marked
    for row in marked:
        assert row.split()[1] == "-"  # no cl shown for it
    assert "not converged: NACA 0012 Re 1e6" in r.stderr
    assert "not converged:" in r.stdout
    doc = json.loads((tmp_path / "u.json").read_text())
    pol = doc["polars"][0]
    converged_cl = [p["cl"] for p in pol["points"] if p["converged"]]
    # The derived quantities come from the converged rows only.
    assert pol["summary"]["cl_max"] == (max(converged_cl) if converged_cl else None)


def test_unconverged_single_points_give_exit_code_1_and_no_files(tmp_path):
    r = run("bl", "naca0012", "--alpha", "2", "--iterations", "1", "--out", tmp_path / "bl.csv")
    assert r.returncode == 1 and "NOT CONVERGED" in r.stdout and "not converged" in r.stderr
    assert not (tmp_path / "bl.csv").exists()
    r = run("cp", "naca0012", "--alpha", "2", "--iterations", "1", "--out", tmp_path / "cp.json")
    assert r.returncode == 1 and "viscous Re 1e6: NOT CONVERGED" in r.stdout
    doc = json.loads((tmp_path / "cp.json").read_text())
    assert doc["viscous"][0]["converged"] is False and doc["viscous"][0]["cp"] == []
    assert len(doc["inviscid"]["cp"]) == 160  # the inviscid solution is still there


def test_polar_at_prescribed_lift(tmp_path):
    r = run("polar", "naca0012", "--cl", "0.1,0.3", "--re", "1e6")
    assert r.returncode == 0, r.stderr
    block = table_blocks(r.stdout)[0]
    assert block["columns"] == ["cl_target"] + TABLE_COLUMNS
    rows = [row.split() for row in block["rows"]]
    assert [float(row[0]) for row in rows] == [0.1, 0.3]
    assert [abs(float(row[2]) - float(row[0])) <= 1e-4 for row in rows] == [True, True]
    assert 0.5 < float(rows[0][1]) < 1.5 and float(rows[1][1]) > float(rows[0][1])  # alpha of cl 0.1, 0.3


def test_several_reynolds_numbers_overlaid_with_compare_data(tmp_path):
    classic = DATA / "polar_classic_handwritten.txt"
    published = DATA / "e61_re5e5_published.csv"
    r = run("polar", "naca2412", "--re", "5e5", "1e6", "--alpha", "0:4:2", "--out", tmp_path / "p.csv",
            "--compare", classic, "--compare", published, "--plot", tmp_path / "with.png")
    assert r.returncode in (0, 1), r.stderr
    assert [b["heading"].split(",")[0] for b in table_blocks(r.stdout)] == ["NACA 2412: Re 5e5", "NACA 2412: Re 1e6"]
    with_compare = assert_png_not_blank(tmp_path / "with.png", (1100, 850))
    # The CSV that velaro writes is itself a comparison file.
    r2 = run("polar", "naca2412", "--re", "5e5", "--alpha", "0:4:2", "--compare", tmp_path / "p.csv",
             "--plot", tmp_path / "own.png", "-q")
    assert r2.returncode in (0, 1), r2.stderr
    assert r2.stderr.strip() == "" or "not converged" in r2.stderr
    without = run("polar", "naca2412", "--re", "5e5", "1e6", "--alpha", "0:4:2", "--plot", tmp_path / "without.png")
    assert without.returncode in (0, 1)
    # The overlay adds markers: the pictures differ.
    import matplotlib.image as mpimg

    assert np.abs(mpimg.imread(str(tmp_path / "without.png"))[..., :3] - with_compare).max() > 0.2


# ---------------------------------------------------------------------------
# Comparison files


def test_classic_polar_file_reads_columns_and_conditions():
    (ref,) = read_polar_file(DATA / "polar_classic_handwritten.txt")
    assert ref.label == "Hand Test 2412"
    assert (ref.re, ref.mach, ref.ncrit) == (1e6, 0.0, 9.0)
    assert list(ref.alpha) == [-4.0, -2.0, 0.0, 2.0, 4.0, 6.0, 8.0]
    assert ref.cl[2] == 0.24 and ref.cd[2] == 0.00565 and ref.cd_pressure[2] == 0.0016
    assert ref.cm[0] == -0.055 and ref.x_tr_upper[6] == 0.066 and ref.x_tr_lower[4] == 1.0


def test_csv_polar_file_reads_by_column_name(tmp_path):
    (ref,) = read_polar_file(DATA / "e61_re5e5_published.csv")
    assert len(ref) == 12 and ref.alpha[0] == -4 and ref.cl[0] == 0.1764 and ref.x_tr_upper[-1] == 0.0069
    assert ref.has("cm") and not ref.has("cd_pressure") and ref.re is None
    # Other column order and names, a comment line, an unconverged row dropped, two Reynolds numbers.
    f = tmp_path / "mixed.csv"
    f.write_text("# exported by hand\nRe,AoA,converged,Cd,Cl\n2e5,0,true,0.01,0.1\n2e5,2,false,,\n"
                 "5e5,0,true,0.008,0.12\n")
    low, high = read_polar_file(f)
    assert (low.re, list(low.alpha), list(low.cl)) == (2e5, [0.0], [0.1])
    assert (high.re, list(high.cd)) == (5e5, [0.008])


@pytest.mark.parametrize("text, where", [
    ("alpha,cl\n1,0.1\n2,abc\n", "line 3"),
    ("alpha,cd\n1,0.01\n", "no cl column"),
    ("alpha CL CD\n0 0.1 0.01\n1 0.2\n", "line 3"),
    ("just some text\nwithout columns\n", "no line of column names"),
    ("", "empty"),
])
def test_bad_comparison_files_name_the_problem(tmp_path, text, where):
    f = tmp_path / ("bad.csv" if "," in text else "bad.txt")
    f.write_text(text)
    with pytest.raises(ValueError, match=where):
        read_polar_file(f)
    r = run("polar", "naca0012", "--alpha", "0", "--compare", f)
    assert r.returncode == 2
    assert r.stderr.count("\n") == 1 and where in r.stderr and "Traceback" not in r.stderr


# ---------------------------------------------------------------------------
# Errors


def _bad_dat(tmp_path: Path) -> Path:
    f = tmp_path / "bad.dat"
    f.write_text("title\n1.0 0.0\n0.5 oops\n0.0 0.0\n")
    return f


@pytest.mark.parametrize("args, says", [
    (["polar", "naca24x2"], "unknown section"),
    (["polar", "clarky"], "unknown section"),
    (["polar", "missing_file.dat"], "not found"),
    (["polar", "naca2412", "--alpha", "-4:16"], "malformed alpha range"),
    (["polar", "naca2412", "--alpha", "0:5:-1"], "malformed alpha range"),
    (["polar", "naca2412", "--alpha", "1:2:0"], "step must not be zero"),
    (["polar", "naca2412", "--alpha", "nan"], "finite"),
    (["polar", "naca2412", "--re", "nan"], "finite"),
    (["polar", "naca2412", "--re", "-1e6"], "Reynolds number must be positive"),
    (["polar", "naca2412", "--re", "1e6", "-3e5"], "Reynolds number must be positive"),
    (["polar", "naca2412", "--mach", "1"], "Mach number"),
    (["polar", "naca2412", "--ncrit", "-1"], "ncrit"),
    (["polar", "naca2412", "--alpha", "0", "--cl", "0.5"], "not allowed with"),
    (["polar", "naca2412", "--out", "polar.xlsx"], "unknown file type"),
    (["polar", "naca2412", "--plot", "/no/such/folder/p.png"], "does not exist"),
    (["polar", "naca2412", "--compare", "no_such_polar.txt"], "not found"),
    (["polar", "naca2412", "--alpha", "0", "--xtr", "1.5", "1"], "trip position"),
    (["polar"], "required"),
    (["nosuchcommand"], "invalid choice"),
    (["cp", "naca2412"], "--alpha"),
    (["bl", "naca2412", "--alpha", "2", "--re", "0"], "Reynolds number must be positive"),
    (["geometry", "naca2412", "--repanel", "1"], "node count"),
    (["geometry", "naca2412", "0012", "--out", "two.dat"], "one section"),
    (["geometry", "BAD_DAT"], "line 3"),
    (["geometry", "DIR"], "directory"),
])
def test_bad_input_gives_exit_2_and_one_line(tmp_path, args, says):
    args = [str(_bad_dat(tmp_path)) if a == "BAD_DAT" else str(tmp_path) if a == "DIR" else a for a in args]
    r = run(*args)
    assert r.returncode == 2, r.stderr
    assert r.stderr.endswith("\n") and r.stderr.count("\n") == 1, r.stderr
    assert r.stderr.startswith("velaro: error:") and says in r.stderr
    assert "Traceback" not in r.stderr
    assert r.stdout == ""


def test_debug_shows_the_traceback(tmp_path):
    r = run("geometry", _bad_dat(tmp_path), "--debug")
    assert r.returncode == 2
    assert "Traceback" in r.stderr and r.stderr.rstrip().splitlines()[-1].startswith("velaro: error:")


def test_parquet_without_pyarrow_says_how_to_get_it(tmp_path):
    fake = tmp_path / "fake"
    (fake / "pyarrow").mkdir(parents=True)
    (fake / "pyarrow" / "__init__.py").write_text("raise ImportError('pyarrow hidden for this test')\n")
    r = run("polar", "naca0012", "--alpha", "0", "--out", tmp_path / "p.parquet", extra_path=str(fake))
    assert r.returncode == 2
    assert r.stderr.count("\n") == 1 and "pyarrow" in r.stderr and "pip install" in r.stderr
    assert not (tmp_path / "p.parquet").exists()


# ---------------------------------------------------------------------------
# Progress and interruption


def test_no_progress_output_when_stderr_is_not_a_terminal():
    r = run("polar", "naca0012", "--re", "1e6", "--alpha", "0:4:2")
    assert r.returncode == 0
    assert "\r" not in r.stderr and "%|" not in r.stderr and "pt/s" not in r.stderr
    assert r.stderr == ""


def _run_with_tty_stderr(*args: str) -> tuple[int, str]:
    master, slave = pty.openpty()
    # A terminal of 100 columns (a new pty has 0, and tqdm then draws an empty bar).
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    proc = subprocess.Popen(velaro_cmd(*args), stdout=subprocess.DEVNULL, stderr=slave, stdin=subprocess.DEVNULL,
                            env=_env())
    os.close(slave)
    chunks = []
    deadline = time.monotonic() + 180
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                data = os.read(master, 4096)
            except OSError:  # the other end closed
                break
            if not data:
                break
            chunks.append(data)
        elif proc.poll() is not None:
            break
    os.close(master)
    return proc.wait(timeout=60), b"".join(chunks).decode(errors="replace")


def test_progress_bar_on_a_terminal_and_not_with_quiet():
    # Two sections at four Reynolds numbers, 161 angles each (several seconds
    # even with warm-started sweeps on a fast machine, well past the bar's
    # one-second delay): one bar counts all 1288 points, named after the
    # polar in progress.
    args = ("polar", "naca0012", "naca2412", "--re", "2e5", "5e5", "1e6", "3e6", "--alpha", "-4:12:0.1")
    code, err = _run_with_tty_stderr(*args)
    assert code == 0
    assert "%|" in err and "NACA" in err
    totals = set(re.findall(r"\d+/(\d+) \[", err))
    assert totals == {"1288"}, totals
    code, err = _run_with_tty_stderr(*args, "--quiet")
    assert code == 0
    assert err == ""


def test_no_progress_bar_for_a_run_under_a_second():
    # One point: the bar would appear only after a second, so it never does.
    code, err = _run_with_tty_stderr("polar", "naca0012", "--re", "1e6", "--alpha", "2")
    assert code == 0
    assert err == ""


def test_ctrl_c_keeps_the_finished_polars(tmp_path):
    out = tmp_path / "p.csv"
    res = ["1e6", "1.5e6", "2e6", "2.5e6", "3e6", "3.5e6", "4e6", "4.5e6"]
    proc = subprocess.Popen(velaro_cmd("polar", "naca0012", "--re", *res, "--alpha", "0:6:1", "--out", out),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=_env())
    deadline = time.monotonic() + 120
    while not out.exists() and proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.02)
    assert out.exists(), "no polar finished"
    if proc.poll() is not None:
        pytest.skip("the run finished before it could be interrupted")
    sent = time.monotonic()
    proc.send_signal(signal.SIGINT)
    stdout, stderr = proc.communicate(timeout=60)
    assert time.monotonic() - sent < 10, "did not stop promptly"
    assert proc.returncode == 130, stderr
    assert "interrupted" in stderr and "Traceback" not in stderr
    table = read_csv_table(out)
    re_kept = sorted(set(float(v) for v in table["re"]))
    assert 1 <= len(re_kept) < len(res)
    assert len(table["alpha"]) == 7 * len(re_kept)  # every polar with all its rows
    # Finished polars are whole; a polar cut short has its missing points
    # marked as not converged, with the reason.
    for i, re in enumerate(re_kept):
        rows = [k for k, v in enumerate(table["re"]) if float(v) == re]
        for k in rows:
            assert table["converged"][k] == "true" or table["error"][k] != ""
        if i < len(re_kept) - 1:
            assert all(table["error"][k] != "cancelled" for k in rows)
    assert not list(tmp_path.glob(".*part"))  # no half-written temporary file left


# ---------------------------------------------------------------------------
# velaro cp, bl, geometry


def test_cp_prints_writes_and_plots_both_analyses(tmp_path):
    r = run("cp", "naca2412", "--alpha", "4", "--re", "1e6", "--out", tmp_path / "cp.csv", "--plot", tmp_path / "cp.png")
    assert r.returncode == 0, r.stderr
    assert "inviscid: cl" in r.stdout and "viscous Re 1e6: cl" in r.stdout
    header = next(line for line in r.stdout.splitlines() if line.split()[:2] == ["x", "y"])
    assert header.split() == ["x", "y", "cp_inviscid", "cp_viscous"]
    t = read_csv_table(tmp_path / "cp.csv")
    assert set(t["analysis"]) == {"inviscid", "viscous"}
    ref = velaro.Airfoil.naca("2412").analyze_inviscid(4.0)
    inv = [i for i, a in enumerate(t["analysis"]) if a == "inviscid"]
    assert same(csv_floats([t["cp"][i] for i in inv]), ref.pressure.cp)
    # Cp = 1 at the stagnation point at most; suction peak on the upper side near the nose.
    cp = csv_floats(t["cp"])
    assert cp.max() <= 1.0 + 1e-9 and cp.min() < -1.0
    assert_png_not_blank(tmp_path / "cp.png", (800, 700))


def test_cp_of_a_dat_file_as_given_inviscid_only(tmp_path):
    dat = DATA / "mh32.dat"
    r = run("cp", dat, "--alpha", "2", "--panels", "0", "--inviscid", "--out", tmp_path / "cp.json")
    assert r.returncode == 0, r.stderr
    ref = velaro.Airfoil.from_dat(dat).analyze_inviscid(2.0, repanel=False)
    assert r.stdout.splitlines()[0].endswith(", 68 nodes")  # the file's own points
    assert f"inviscid: cl {ref.cl:.4f}, cm {ref.cm:.4f}" in r.stdout and "viscous" not in r.stdout
    doc = json.loads((tmp_path / "cp.json").read_text())
    assert doc["viscous"] == [] and same(doc["inviscid"]["cp"], ref.pressure.cp)


def test_bl_writes_both_sides_and_plots(tmp_path):
    r = run("bl", "naca0012", "--alpha", "0", "--re", "1e6", "--out", tmp_path / "bl.json", "--plot", tmp_path / "bl.svg")
    assert r.returncode == 0, r.stderr
    assert "upper side: transition x/c" in r.stdout and "lower side: transition x/c" in r.stdout
    doc = json.loads((tmp_path / "bl.json").read_text())
    up, lo = doc["upper"], doc["lower"]
    # Symmetric section at zero incidence: the two sides agree.
    assert np.allclose(up["theta"], lo["theta"], rtol=1e-6) and np.allclose(up["x"], lo["x"], atol=1e-9)
    assert np.allclose(np.array(up["H"]), np.array(up["delta_star"]) / np.array(up["theta"]), rtol=1e-9)
    assert all(v > 0 for v in up["theta"])  # the stagnation placeholder row is not passed on
    assert_svg(tmp_path / "bl.svg", (576, 720), "Skin friction")


def test_geometry_prints_properties_and_round_trips_the_contour(tmp_path):
    r = run("geometry", "naca2412", "--repanel", "120", "--out", tmp_path / "g.dat", "--plot", tmp_path / "g.pdf")
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[0] == "NACA 2412: 120 points"
    thickness = float(lines[1].split()[2])
    camber, camber_x = float(lines[2].split()[2]), float(lines[2].split()[-1])
    ref = velaro.Airfoil.naca("2412").repanel(120)
    assert (thickness, camber, camber_x) == (round(ref.max_thickness, 5), round(ref.max_camber, 5),
                                             round(ref.max_camber_x, 4))
    assert abs(thickness - 0.12) < 2e-3 and abs(camber - 0.02) < 2e-3 and abs(camber_x - 0.4) < 0.05
    back = velaro.Airfoil.from_dat(tmp_path / "g.dat")
    assert np.allclose(back.coordinates, ref.coordinates, atol=1e-9)
    assert_pdf(tmp_path / "g.pdf", (720, 288))
    # A flap after the repaneling: trailing edge down by about sin(10 deg) of the flap chord.
    r = run("geometry", "naca2412", "--repanel", "120", "--flap", "0.75", "10", "--out", tmp_path / "f.json")
    assert r.returncode == 0, r.stderr
    sec = json.loads((tmp_path / "f.json").read_text())["sections"][0]
    assert "flap +10" in sec["section"] and r.stdout.startswith(sec["section"])
    te_y = 0.5 * (sec["y"][0] + sec["y"][-1])
    assert abs(te_y - (-0.25 * math.sin(math.radians(10)))) < 0.01


# ---------------------------------------------------------------------------
# Compressibility: supercritical points


def test_polar_marks_supercritical_points_in_the_table_and_files(tmp_path):
    # NACA 0012 at Mach 0.7: subcritical at 0 degrees (Cp_min -0.62 against
    # Cp* -0.78), supercritical at 2 and 4 degrees.
    args = ["polar", "naca0012", "--re", "1e6", "--mach", "0.7", "--alpha", "0:4:2"]
    r = run(*args, "--out", tmp_path / "p.csv")
    assert r.returncode == 0, r.stderr  # converged: a warning, not a failure
    rows = table_blocks(r.stdout)[0]["rows"]
    assert ["SUPERCRITICAL" in row for row in rows] == [False, True, True]
    assert "supercritical" in r.stderr and "Mach 0.7" in r.stderr
    t = read_csv_table(tmp_path / "p.csv")
    assert t["supercritical"] == ["false", "true", "true"]
    ref = velaro.Airfoil.naca("0012")
    with pytest.warns(velaro.SupercriticalWarning):
        pol = ref.polar(alpha=[0.0, 2.0, 4.0], re=1e6, mach=0.7)
    assert same(csv_floats(t["cl"]), pol.cl) and pol.supercritical.tolist() == [False, True, True]
    r = run(*args, "--out", tmp_path / "p.json")
    doc = json.loads((tmp_path / "p.json").read_text())
    assert [p["supercritical"] for p in doc["polars"][0]["points"]] == [False, True, True]
    # Below the critical Mach number nothing is marked.
    r = run("polar", "naca0012", "--re", "1e6", "--mach", "0.5", "--alpha", "0:4:2")
    assert r.returncode == 0 and "SUPERCRITICAL" not in r.stdout and r.stderr == ""


def test_cp_and_bl_mark_a_supercritical_point(tmp_path):
    r = run("cp", "naca0012", "--alpha", "4", "--mach", "0.7", "--re", "1e6", "--out", tmp_path / "cp.json")
    assert r.returncode == 0, r.stderr
    assert "inviscid: SUPERCRITICAL" in r.stdout and "viscous Re 1e6: SUPERCRITICAL" in r.stdout
    doc = json.loads((tmp_path / "cp.json").read_text())
    assert doc["inviscid"]["supercritical"] is True and doc["viscous"][0]["supercritical"] is True
    # The inviscid pressure written is the corrected one.
    with pytest.warns(velaro.SupercriticalWarning):
        ref = velaro.Airfoil.naca("0012").analyze_inviscid(4.0, mach=0.7)
    assert same(doc["inviscid"]["cp"], ref.pressure.cp)
    r = run("bl", "naca0012", "--alpha", "4", "--mach", "0.7", "--re", "1e6")
    assert r.returncode == 0 and "SUPERCRITICAL" in r.stdout
    r = run("cp", "naca0012", "--alpha", "1", "--mach", "0.3", "--inviscid")
    assert r.returncode == 0 and "SUPERCRITICAL" not in r.stdout
