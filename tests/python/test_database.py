"""Polar databases: tasks on a Dask cluster, one Parquet file per task.

The cluster tests start real worker processes (2 of them, one per core of
the CI machine) and are marked slow; each runs under a time limit so that a
hung cluster fails the test instead of the whole run.  Sweeps are kept
short (a handful of angles) so that a task takes about a second.
"""

from __future__ import annotations

import contextlib
import hashlib
import json
import logging
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import velaro
from velaro import database

DATA = Path(__file__).resolve().parents[1] / "data"
ALPHA = [-2.0, 0.0, 2.0, 4.0]
POLAR_COLUMNS = [
    "alpha", "cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper", "x_tr_lower",
    "iterations", "residual", "converged",
]
TIME_LIMIT = 300  # seconds per cluster test, on a loaded two-core machine

needs_dask = pytest.mark.skipif(
    any(__import__("importlib").util.find_spec(m) is None for m in ("distributed", "pyarrow", "pandas")),
    reason="the 'database' extra (dask[distributed], pyarrow, pandas) is not installed",
)


@contextlib.contextmanager
def time_limit(seconds: int):
    """Raise TimeoutError in the main thread after ``seconds``."""

    def expire(signum, frame):
        raise TimeoutError(f"the test took more than {seconds} s")

    old = signal.signal(signal.SIGALRM, expire)
    signal.alarm(seconds)
    try:
        yield
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, old)


@pytest.fixture
def bounded():
    with time_limit(TIME_LIMIT):
        yield


@pytest.fixture(scope="module")
def client():
    """The local cluster build() makes by default, with 2 workers."""
    pytest.importorskip("distributed")
    with contextlib.ExitStack() as stack:
        with time_limit(TIME_LIMIT):
            c = stack.enter_context(database._client(None, 2))
        yield c


def temporaries(folder: Path) -> list[str]:
    return [p.name for p in folder.iterdir() if p.name.startswith(".")]


def failures(folder: Path) -> list[dict]:
    path = folder / database.FAILURES_FILE
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text().splitlines()]


def assert_each_task_once(frame, n_tasks: int, n_alpha: int) -> None:
    per_task = frame.groupby("task").size()
    assert len(per_task) == n_tasks
    assert (per_task == n_alpha).all()
    conditions = frame.drop_duplicates("task")[["section", "source_sha256", "re", "mach", "ncrit"]]
    assert not conditions.duplicated().any()


# ---------------------------------------------------------------------------
# Without a cluster


def test_angles_from_command_line_tokens():
    a = database.parse_angles(["-5:15:0.5"])
    assert len(a) == 41 and a[0] == -5.0 and a[-1] == 15.0
    # A decimal step gives the decimal values (no 0.30000000000000004), so
    # the task keys of a rerun match.
    assert database.parse_angles("0:1:0.1").tolist() == [0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0]
    assert database.parse_angles(["3", "-1", "0:4:3"]).tolist() == [3.0, -1.0, 0.0, 3.0]
    assert database.parse_angles(["2:-2:-2"]).tolist() == [2.0, 0.0, -2.0]
    for bad in (["a"], ["0:1"], ["0:4:0"], ["0:4:-1"], ["nan"], []):
        with pytest.raises(ValueError):
            database.parse_angles(bad)


def test_missing_extra_gets_an_install_hint(monkeypatch, tmp_path, capsys):
    monkeypatch.setitem(sys.modules, "distributed", None)  # import distributed now fails
    with pytest.raises(database.MissingDependencyError, match=r"distributed.*pip install 'velaro\[database\]'"):
        database.build(["0012"], re=[1e6], alpha=[0.0], out=tmp_path / "db")
    assert database.main(["0012", "--re", "1e6", "--alpha", "0", "--out", str(tmp_path / "db")]) == 2
    assert "pip install 'velaro[database]'" in capsys.readouterr().err
    assert not (tmp_path / "db").exists()
    # The package itself does not need the extra.
    assert velaro.Airfoil.naca("0012").name == "NACA 0012"


@needs_dask
def test_bad_conditions_are_refused_before_anything_runs(tmp_path):
    for kwargs in ({"re": [0.0]}, {"re": [1e6], "mach": [1.2]}, {"re": [1e6], "ncrit": [float("nan")]}):
        with pytest.raises(ValueError):
            database.build(["0012"], alpha=[0.0], out=tmp_path / "db", **kwargs)
    with pytest.raises(ValueError):
        database.build(["0012"], re=[1e6], alpha=[], out=tmp_path / "db")


@needs_dask
def test_leftover_temporaries_of_dead_runs_are_removed_and_never_read(tmp_path):
    out = tmp_path / "db"
    out.mkdir()
    dead = subprocess.run([sys.executable, "-c", "import os; print(os.getpid())"], capture_output=True, text=True)
    host = database._host()
    stale = out / f".a.parquet.{host}.{int(dead.stdout)}.0123abcd.tmp"
    live = out / f".b.parquet.{host}.{os.getpid()}.0123abcd.tmp"  # a run still writing
    for p in (stale, live):
        p.write_bytes(b"PAR1 half a file")
    assert len(database.load(out)) == 0
    # A run with nothing to compute (the one section does not exist) still tidies up.
    result = database.build(["no-such-section.dat"], re=[1e6], alpha=[0.0], out=out)
    assert not result.ok and result.tasks == 0
    assert sorted(temporaries(out)) == [live.name]
    (rec,) = failures(out)
    assert rec["kind"] == "section" and rec["section"] == "no-such-section.dat"


@needs_dask
def test_failed_sweep_is_recorded_and_the_run_goes_on(tmp_path, monkeypatch):
    """A sweep that raises (here: a stand-in engine for one section) is a
    failure record; the other tasks are written.  In-process workers see
    the stand-in."""
    import distributed

    real = database._sweep

    def sweep(coordinates, name, *args):
        if name == "NACA 2412":
            raise RuntimeError("engine gave up")
        return real(coordinates, name, *args)

    monkeypatch.setattr(database, "_sweep", sweep)
    with distributed.Client(processes=False, n_workers=1, threads_per_worker=1, dashboard_address=None,
                            set_as_default=False) as c, time_limit(TIME_LIMIT):
        out = tmp_path / "db"
        result = database.build(["0012", "2412"], re=[1e6], alpha=[0.0, 2.0], out=out, scheduler=c)
    assert not result.ok and result.computed == 1
    (rec,) = failures(out)
    assert rec["kind"] == "sweep" and rec["section"] == "NACA 2412" and rec["re"] == 1e6
    assert "RuntimeError: engine gave up" in rec["error"]
    assert set(database.load(out)["section"]) == {"NACA 0012"}


# ---------------------------------------------------------------------------
# On a cluster


@needs_dask
@pytest.mark.slow
def test_local_cluster_builds_every_task_once_with_the_numbers_of_a_direct_polar(tmp_path, bounded):
    out = tmp_path / "db"
    e61 = DATA / "e61.dat"
    # A designation given twice (two spellings) and a glob: 3 sections.
    sections = ["naca0012", "NACA 2412", str(DATA / "e6?.dat"), "0012"]
    res = [5e5, 1e6]
    result = database.build(sections, re=res, alpha=ALPHA, out=out, scheduler=None, workers=2)
    assert result.ok, result.failures
    assert (result.tasks, result.computed, result.skipped) == (6, 6, 0)
    assert sorted(p.name for p in out.glob("*.parquet")) == sorted(p.name for p in result.written)
    assert temporaries(out) == []
    assert not (out / database.FAILURES_FILE).exists()

    frame = database.load(out)
    assert_each_task_once(frame, 6, len(ALPHA))
    assert set(frame["section"]) == {"NACA 0012", "NACA 2412", velaro.Airfoil.from_dat(e61).name}
    assert (frame["velaro_version"] == velaro.__version__).all()
    from_file = frame[frame["source"].notna()]
    assert set(from_file["source"]) == {str(e61.resolve())}
    assert set(from_file["source_sha256"]) == {hashlib.sha256(e61.read_bytes()).hexdigest()}
    assert frame.loc[frame["source"].isna(), "source_sha256"].isna().all()
    assert set(frame["start"]) <= {"cold", "warm", "substepped", "failed"}

    airfoils = {"NACA 0012": velaro.Airfoil.naca("0012"), "NACA 2412": velaro.Airfoil.naca("2412")}
    airfoils[velaro.Airfoil.from_dat(e61).name] = velaro.Airfoil.from_dat(e61)
    for (name, re), rows in frame.groupby(["section", "re"]):
        direct = airfoils[name].polar(alpha=ALPHA, re=re).to_pandas()
        for col in POLAR_COLUMNS:
            # Same contour, same engine, same angles: the same numbers.
            np.testing.assert_array_equal(rows[col].to_numpy(), direct[col].to_numpy(), err_msg=f"{name} {re} {col}")
    assert frame["converged"].mean() > 0.8


def _worker_setup(i):
    import threading

    return os.sched_getaffinity(0), os.environ.get("MALLOC_TRIM_THRESHOLD_"), threading.current_thread().name


@needs_dask
@pytest.mark.slow
def test_local_workers_keep_to_one_cpu_each_with_the_default_allocator(client, bounded):
    """One engine thread per worker, and no allocator setting that slows the engine."""
    seen = client.gather(client.map(_worker_setup, range(8), key=[f"setup-{i}" for i in range(8)]))
    by_worker = {thread: frozenset(cpus) for cpus, _, thread in seen}  # one task thread per worker
    assert all(len(cpus) == 1 for cpus in by_worker.values())
    if len(os.sched_getaffinity(0)) >= len(by_worker):
        assert len(set(by_worker.values())) == len(by_worker)  # not on the same CPU
    if "MALLOC_TRIM_THRESHOLD_" not in os.environ:
        assert {m for _, m, _ in seen} == {None}


@needs_dask
@pytest.mark.slow
def test_killed_worker_loses_no_task_and_leaves_no_partial_file(tmp_path, client, bounded):
    out = tmp_path / "db"
    sections = ["0006", "0012", "2412", "4412"]
    alpha = np.arange(-2.0, 6.5, 1.0)
    pids = client.run(os.getpid)
    killed = {}

    def kill_a_busy_worker():
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and not killed:
            busy = [w for w, keys in client.processing().items()
                    if any(str(k).startswith("velaro-polar-") for k in keys)]
            if busy and busy[0] in pids:
                os.kill(pids[busy[0]], signal.SIGKILL)
                killed["worker"] = busy[0]
                killed["files"] = len(list(out.glob("*.parquet")))
                return
            time.sleep(0.05)

    killer = threading.Thread(target=kill_a_busy_worker, daemon=True)
    killer.start()
    result = database.build(sections, re=[5e5, 1e6], alpha=alpha, out=out, scheduler=client)
    killer.join(5)
    assert killed, "no worker was running a task to kill"
    assert killed["files"] < 8  # killed before the run was over
    assert result.ok, result.failures
    assert result.computed == 8
    assert_each_task_once(database.load(out), 8, len(alpha))
    assert temporaries(out) == []
    # The cluster lost the worker and runs a new one in its place.
    client.wait_for_workers(2, timeout=60)


@needs_dask
@pytest.mark.slow
def test_interrupted_run_resumes_with_only_the_missing_tasks(tmp_path, client, bounded):
    out = tmp_path / "db"
    sections = ["0006", "0012", "2412"]
    res = ["5e5", "1e6"]
    args = [*sections, "--re", *res, "--alpha=-2:4:1", "--out", str(out), "--workers", "2", "--no-progress"]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    # Ctrl-C in a terminal: SIGINT to every process of the group, workers included.
    proc = subprocess.Popen([sys.executable, "-m", "velaro.database", *args], env=env, start_new_session=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 180
        while time.monotonic() < deadline and not list(out.glob("*.parquet")) and proc.poll() is None:
            time.sleep(0.05)
        os.killpg(proc.pid, signal.SIGINT)
        _, err = proc.communicate(timeout=120)
    finally:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(proc.pid, signal.SIGKILL)
    assert proc.returncode == 130, err
    assert "interrupted" in err
    assert temporaries(out) == []
    kept = {p.name: p.stat().st_mtime_ns for p in out.glob("*.parquet")}
    assert 1 <= len(kept) < 6

    result = database.build(sections, re=[float(r) for r in res], alpha=database.parse_angles("-2:4:1"),
                            out=out, scheduler=client)
    assert result.ok and result.tasks == 6
    assert result.skipped == len(kept)
    assert result.computed == 6 - len(kept)
    assert not set(kept) & {p.name for p in result.written}
    assert {p.name: p.stat().st_mtime_ns for p in out.glob("*.parquet") if p.name in kept} == kept
    assert_each_task_once(database.load(out), 6, 7)

    again = database.build(sections, re=[float(r) for r in res], alpha=database.parse_angles("-2:4:1"),
                           out=out, scheduler=client)
    assert (again.computed, again.skipped) == (0, 6)


@needs_dask
@pytest.mark.slow
def test_folder_with_unreadable_files(tmp_path, client, bounded, capsys):
    folder = tmp_path / "sections"
    folder.mkdir()
    for name in ("e61.dat", "mh32.dat"):
        shutil.copy(DATA / name, folder / name)
    (folder / "binary.dat").write_bytes(bytes(range(256)) * 4)
    (folder / "empty.dat").write_bytes(b"")
    (folder / "notes.txt").write_text("not a section\n")  # not a .dat file: not a section either
    out = tmp_path / "db"
    argv = [str(folder), "--re", "1e6", "--alpha", "0", "2", "--out", str(out), "--scheduler", client.scheduler.address]

    assert database.main(argv) == 1  # some failed
    assert "2 sections could not be read" in capsys.readouterr().out
    recs = failures(out)
    assert sorted(Path(r["source"]).name for r in recs) == ["binary.dat", "empty.dat"]
    assert all(r["kind"] == "section" and r["error"] for r in recs)
    frame = database.load(out)
    assert_each_task_once(frame, 2, 2)
    assert {Path(s).name for s in frame["source"]} == {"e61.dat", "mh32.dat"}

    # A second run: nothing to compute, the same two failures (not four).
    assert database.main(argv) == 1
    assert sorted(Path(r["source"]).name for r in failures(out)) == ["binary.dat", "empty.dat"]
    # Once the bad files are gone, so are their records and the failure.
    (folder / "binary.dat").unlink()
    (folder / "empty.dat").unlink()
    assert database.main(argv) == 0
    assert not (out / database.FAILURES_FILE).exists()
