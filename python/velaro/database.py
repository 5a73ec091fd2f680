"""Polar databases: many sections × conditions, computed on Dask, kept as Parquet.

:func:`build` turns a list of sections (coordinate files, folders and globs
of ``.dat`` files, NACA designations) and lists of Reynolds numbers, Mach
numbers and ncrit values into a folder of Parquet files, one per *task*: one
viscous polar sweep of one section at one condition.  :func:`load` reads the
folder back as one pandas DataFrame.

How a run keeps its promises:

* Each task has a key, the SHA-256 of its section identity (the file stem or
  the NACA designation), the SHA-256 of the section's file, its conditions
  and its angles.  The task's file name is made from that key, so a second
  run with the same arguments finds the files of the tasks already done and
  skips them (resume).
* Workers only compute; the calling process writes every file, to a hidden
  temporary name in the folder that is renamed to the final name once it is
  complete.  A file therefore exists whole or not at all, and a task that a
  dying worker leaves behind is simply run again elsewhere by Dask and
  written once.
* A section that cannot be read and a sweep that raises are recorded, with
  their error, in ``failures.jsonl`` in the folder, and the run goes on.
  Records are appended one line at a time while the run goes; at the end of
  a complete run the file is rewritten (atomically) to hold the failures of
  this run plus those of earlier runs about tasks this run did not consider.
* Ctrl-C cancels the pending tasks, closes the cluster it started and leaves
  no temporary file: the finished tasks are kept for the next run.

dask[distributed], pyarrow and pandas are optional dependencies
(``pip install 'velaro[database]'``); this module imports them only when it
needs them, so the rest of the package works without them.
"""

from __future__ import annotations

import argparse
import contextlib
import fnmatch
import glob as _glob
import hashlib
import json
import logging
import math
import os
import re as _re
import socket
import sys
import textwrap
import time
import uuid
import warnings
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Iterable, Iterator, Optional, Sequence, Union

import numpy as np

__all__ = [
    "FAILURES_FILE",
    "BuildInterrupted",
    "BuildResult",
    "MissingDependencyError",
    "add_arguments",
    "add_subcommand",
    "build",
    "load",
    "main",
    "parse_angles",
    "run",
]

PathLike = Union[str, "os.PathLike[str]"]

FAILURES_FILE = "failures.jsonl"
INSTALL_HINT = "pip install 'velaro[database]'"

# Columns that describe the task; the polar's own columns follow them, then
# the package version and the task key.
_LEADING = ("section", "source", "source_sha256", "re", "mach", "ncrit")
_TRAILING = ("velaro_version", "task")

_TRIM_KEY = "distributed.nanny.pre-spawn-environ.MALLOC_TRIM_THRESHOLD_"

_NACA = _re.compile(r"(?i)\s*(?:naca[\s_-]*)?(\d{4,5})\s*")
_GLOB_CHARS = _re.compile(r"[*?\[]")


class MissingDependencyError(ImportError):
    """An optional dependency of the database is not installed."""


def _require(*modules: str) -> None:
    missing = []
    for name in modules:
        try:
            __import__(name)
        except ImportError:
            missing.append(name)
    if missing:
        raise MissingDependencyError(
            f"velaro database needs {', '.join(missing)}, which {'is' if len(missing) == 1 else 'are'} "
            f"not installed; install the optional dependencies with: {INSTALL_HINT}"
        )


# ---------------------------------------------------------------------------
# Sections and tasks


@dataclass(frozen=True)
class _Section:
    """A section that was read: what a worker needs, and what names it."""

    name: str  # the airfoil's name (title of the file, "NACA 2412")
    ident: str  # identity in task keys and file names (file stem, "naca2412")
    source: Optional[str]  # absolute path of the file; None for a generated section
    sha256: Optional[str]  # SHA-256 of the file's bytes
    coordinates: np.ndarray = field(repr=False, compare=False)


@dataclass(frozen=True)
class _Task:
    key: str
    filename: str
    section: _Section
    re: float
    mach: float
    ncrit: float


def _sha256_file(path: Path) -> str:
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def _error_text(exc: BaseException) -> str:
    text = str(exc)
    return f"{type(exc).__name__}: {text}" if text else type(exc).__name__


def _read_file(path: Path) -> _Section:
    from . import Airfoil

    with warnings.catch_warnings():
        # A contour put into analysis order is no reason to stop; the order
        # used is the one stored with the airfoil.
        warnings.simplefilter("ignore")
        af = Airfoil.from_dat(path)  # refuses non-regular and oversized files before reading
    sha = _sha256_file(path)
    return _Section(af.name or path.stem, path.stem, str(path.resolve()), sha, af.coordinates)


def _read_naca(digits: str) -> _Section:
    from . import Airfoil

    af = Airfoil.naca(digits)
    return _Section(af.name, f"naca{digits}", None, None, af.coordinates)


def _dat_files(folder: Path) -> list[Path]:
    return sorted(
        p for p in folder.iterdir() if p.suffix.lower() == ".dat" and not p.name.startswith(".") and p.is_file()
    )


@dataclass
class _Scope:
    """What a run looked at: the failure records it answers for.

    A record of an earlier run is replaced when this run considered the
    same key (section or task), or when the record is about a file in a
    folder or glob this run read again (the file may be gone or renamed).
    """

    keys: set[str] = field(default_factory=set)
    folders: set[str] = field(default_factory=set)
    patterns: set[str] = field(default_factory=set)

    def add(self, key: str) -> None:
        self.keys.add(key)

    def covers(self, record: dict) -> bool:
        if record.get("key") in self.keys:
            return True
        source = record.get("source")
        if record.get("kind") != "section" or not isinstance(source, str):
            return False
        return os.path.dirname(source) in self.folders or any(fnmatch.fnmatchcase(source, p) for p in self.patterns)


def _resolve_sections(items: Iterable[PathLike]) -> tuple[list[_Section], list[dict], _Scope]:
    """Read every section named by ``items``.

    Returns the sections (duplicates dropped), failure records for what
    could not be read, and the scope of what was considered.
    """
    sections: list[_Section] = []
    failures: list[dict] = []
    considered = _Scope()
    seen: set[tuple[str, Optional[str]]] = set()

    def fail(origin: str, item: str, source: Optional[str], error: str) -> None:
        failures.append({"kind": "section", "key": origin, "section": item, "source": source, "error": error})

    def add_file(path: Path, item: str) -> None:
        origin = f"file:{path.resolve()}"
        considered.add(origin)
        try:
            sec = _read_file(path)
        except Exception as exc:  # any unreadable section is recorded, not fatal
            fail(origin, item, str(path.resolve()), _error_text(exc))
            return
        if (sec.ident, sec.sha256) not in seen:
            seen.add((sec.ident, sec.sha256))
            sections.append(sec)

    if isinstance(items, (str, os.PathLike)):
        items = [items]
    for raw in items:
        item = os.fspath(raw)
        path = Path(item).expanduser()
        if path.is_dir():
            considered.folders.add(str(path.resolve()))
            files = _dat_files(path)
            if not files:
                origin = f"folder:{path.resolve()}"
                considered.add(origin)
                fail(origin, item, str(path.resolve()), "the folder holds no .dat file")
            for f in files:
                add_file(f, item)
        elif path.exists():
            add_file(path, item)
        elif _GLOB_CHARS.search(item):
            considered.patterns.add(os.path.abspath(os.path.expanduser(item)))
            matches = sorted(_glob.glob(os.path.expanduser(item), recursive=True))
            files = []
            for m in map(Path, matches):
                if m.is_dir():
                    files.extend(_dat_files(m))
                elif m.is_file():
                    files.append(m)
            if not files:
                origin = f"glob:{item}"
                considered.add(origin)
                fail(origin, item, None, "no file matches this pattern")
            for f in files:
                add_file(f, item)
        elif (m := _NACA.fullmatch(item)) is not None:
            origin = f"naca:{m.group(1)}"
            considered.add(origin)
            try:
                sec = _read_naca(m.group(1))
            except Exception as exc:
                fail(origin, item, None, _error_text(exc))
                continue
            if (sec.ident, None) not in seen:
                seen.add((sec.ident, None))
                sections.append(sec)
        else:
            origin = f"arg:{item}"
            considered.add(origin)
            fail(origin, item, None, "no such file or folder, no file matches, and not a NACA designation")
    return sections, failures, considered


def _slug(text: str) -> str:
    s = _re.sub(r"[^A-Za-z0-9._-]+", "-", text).strip("-.")
    return s[:60] or "section"


def _number(v: float, digits: int = 6) -> str:
    return f"{v:.{digits}g}".replace("+", "")


def _task(section: _Section, re: float, mach: float, ncrit: float, alpha: np.ndarray) -> _Task:
    ident = {
        "section": section.ident,
        "sha256": section.sha256,
        "re": re,
        "mach": mach,
        "ncrit": ncrit,
        "alpha": [float(a) for a in alpha],
    }
    key = hashlib.sha256(json.dumps(ident, sort_keys=True).encode()).hexdigest()
    name = f"{_slug(section.ident)}_re{_number(re, 3)}_m{_number(mach)}_n{_number(ncrit)}_{key[:16]}.parquet"
    return _Task(key, name, section, re, mach, ncrit)


def _floats(name: str, values: Any, check: Any, what: str) -> list[float]:
    arr = np.atleast_1d(np.asarray(values, dtype=np.float64)).reshape(-1)
    if arr.size == 0:
        raise ValueError(f"{name}: give at least one value")
    out: list[float] = []
    for v in arr.tolist():
        if not math.isfinite(v) or not check(v):
            raise ValueError(f"{name} must be {what}, got {v!r}")
        v += 0.0  # -0.0 and 0.0 are the same condition
        if v not in out:
            out.append(v)
    return out


def parse_angles(tokens: Union[str, Sequence[str]]) -> np.ndarray:
    """Angles from command-line tokens: numbers and ``START:STOP:STEP`` ranges.

    A range includes STOP when it falls on the grid (``-5:15:0.5`` gives 41
    angles).  Values are rounded to 1e-10 degree so that a decimal step
    gives the same angles, and therefore the same task keys, every time.

    Raises
    ------
    ValueError
        For a token that is neither, a zero or wrongly signed step, or a
        non-finite value.
    """
    if isinstance(tokens, str):
        tokens = tokens.replace(",", " ").split()
    out: list[float] = []
    for tok in tokens:
        for part in tok.replace(",", " ").split():
            pieces = part.split(":")
            try:
                nums = [float(p) for p in pieces]
            except ValueError:
                raise ValueError(f"angle {part!r}: expected a number or START:STOP:STEP") from None
            if not all(math.isfinite(x) for x in nums):
                raise ValueError(f"angle {part!r}: values must be finite")
            if len(nums) == 1:
                out.append(nums[0])
            elif len(nums) == 3:
                start, stop, step = nums
                if step == 0 or (stop - start) * step < 0:
                    raise ValueError(f"angle range {part!r}: the step must be non-zero and lead from START to STOP")
                n = int(math.floor((stop - start) / step + 1e-9)) + 1
                if n > 100_000:
                    raise ValueError(f"angle range {part!r}: {n} angles is too many")
                out.extend(start + step * np.arange(n))
            else:
                raise ValueError(f"angle {part!r}: expected a number or START:STOP:STEP")
    if not out:
        raise ValueError("give at least one angle")
    return np.round(np.asarray(out, dtype=np.float64), 10) + 0.0


# ---------------------------------------------------------------------------
# Worker side

def _sweep(coordinates: np.ndarray, name: str, alpha: np.ndarray, re: float, mach: float, ncrit: float) -> dict:
    """One task: the polar of one section at one condition.

    Returns the polar's columns (numpy arrays; text columns as lists) in the
    order of :meth:`velaro.Polar.to_pandas`, with ``start`` after
    ``converged``, the package version that computed them, and the time
    the sweep took on the worker.
    """
    from . import Airfoil, __version__

    t0 = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        af = Airfoil(coordinates, name=name)
    polar = af.polar(alpha=alpha, re=re, mach=mach, ncrit=ncrit)
    frame = polar.to_pandas()
    columns: dict[str, Any] = {}
    for col in frame.columns:
        values = frame[col].to_numpy()
        columns[col] = [None if v is None or v != v else str(v) for v in values] if values.dtype.kind in "OUT" else values
        if col == "converged" and "start" not in frame.columns and getattr(polar, "start", None) is not None:
            columns["start"] = [None if v is None else str(v) for v in polar.start]
    return {"columns": columns, "version": __version__, "seconds": time.perf_counter() - t0}


def _worker_identity() -> tuple[str, str]:
    import pandas  # noqa: F401  (Polar.to_pandas in every task)

    import velaro

    return velaro.__file__, velaro.__version__


# ---------------------------------------------------------------------------
# Storage


def _host() -> str:
    return socket.gethostname().replace(".", "_") or "host"


def _temporary(out: Path, filename: str) -> Path:
    """Hidden name for a file being written: readers of the folder skip it,
    and it says which process on which host writes it."""
    return out / f".{filename}.{_host()}.{os.getpid()}.{uuid.uuid4().hex[:8]}.tmp"


def _remove_stale_temporaries(out: Path) -> None:
    """Remove temporary files left by a run on this host that no longer runs."""
    host = _host()
    for p in out.glob(".*.tmp"):
        parts = p.name.rsplit(".", 4)  # [.final-name, host, pid, random, "tmp"]
        if len(parts) != 5 or parts[1] != host or not parts[2].isdigit():
            continue
        try:
            os.kill(int(parts[2]), 0)
            continue  # that process still runs
        except ProcessLookupError:
            pass
        except PermissionError:
            continue
        with contextlib.suppress(FileNotFoundError):
            p.unlink()


def _write_task(out: Path, task: _Task, computed: dict) -> Path:
    import pyarrow as pa
    import pyarrow.parquet as pq

    polar = computed["columns"]
    n = len(next(iter(polar.values()))) if polar else 0
    text = pa.string()
    columns: dict[str, Any] = {
        "section": pa.array([task.section.name] * n, text),
        "source": pa.array([task.section.source] * n, text),
        "source_sha256": pa.array([task.section.sha256] * n, text),
        "re": pa.array(np.full(n, task.re)),
        "mach": pa.array(np.full(n, task.mach)),
        "ncrit": pa.array(np.full(n, task.ncrit)),
    }
    for k, v in polar.items():
        # Text is one type in every file, even when every value is missing.
        columns[k] = pa.array(v, text) if isinstance(v, list) else pa.array(v)
    columns["velaro_version"] = pa.array([computed.get("version")] * n, text)
    columns["task"] = pa.array([task.key] * n, text)
    table = pa.table(columns)

    final = out / task.filename
    tmp = _temporary(out, task.filename)
    try:
        with open(tmp, "wb") as f:
            pq.write_table(table, f)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, final)
    finally:
        with contextlib.suppress(FileNotFoundError):
            tmp.unlink()
    return final


class _FailureLog:
    """The failures file: appended per record while running, tidied at the end."""

    def __init__(self, out: Path):
        self.path = out / FAILURES_FILE
        self.records: list[dict] = []

    def add(self, record: dict) -> None:
        record = {"time": time.strftime("%Y-%m-%dT%H:%M:%S%z"), **record}
        self.records.append(record)
        line = (json.dumps(record, default=str) + "\n").encode()
        # One write on a file opened for appending: records of concurrent
        # writers do not interleave within a line.
        fd = os.open(self.path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
        try:
            os.write(fd, line)
        finally:
            os.close(fd)

    def finish(self, considered: _Scope) -> None:
        """Keep this run's records and older ones about things not considered now."""
        kept: list[str] = []
        if self.path.exists():
            for line in self.path.read_text(encoding="utf-8", errors="replace").splitlines():
                try:
                    rec = json.loads(line)
                except ValueError:
                    continue
                if isinstance(rec, dict) and not considered.covers(rec):
                    kept.append(line)
        kept.extend(json.dumps(r, default=str) for r in self.records)
        if not kept:
            with contextlib.suppress(FileNotFoundError):
                self.path.unlink()
            return
        tmp = _temporary(self.path.parent, self.path.name)
        try:
            tmp.write_text("\n".join(kept) + "\n", encoding="utf-8")
            os.replace(tmp, self.path)
        finally:
            with contextlib.suppress(FileNotFoundError):
                tmp.unlink()


def load(out: PathLike, columns: Optional[Sequence[str]] = None) -> Any:
    """Read a polar database folder as one pandas DataFrame.

    Parameters
    ----------
    out : path
        The folder :func:`build` wrote.
    columns : sequence of str, optional
        Read only these columns.

    Returns
    -------
    pandas.DataFrame
        One row per angle of every finished task, ordered by file name
        (section, then conditions).  Columns: ``section``, ``source``,
        ``source_sha256``, ``re``, ``mach``, ``ncrit``, the polar columns
        (``alpha`` in degrees, ``cl``, ``cd``, ``cm``, ``cd_friction``,
        ``cd_pressure``, ``x_tr_upper``, ``x_tr_lower`` as x/c,
        ``iterations``, ``residual``, ``converged``, ``start``, ``error``),
        ``velaro_version`` and ``task`` (the task key).  Coefficients of
        points that did not converge are NaN.

    Raises
    ------
    FileNotFoundError
        When the folder does not exist.
    MissingDependencyError
        When pyarrow or pandas is missing.
    """
    _require("pyarrow", "pandas")
    import pandas as pd
    import pyarrow as pa
    import pyarrow.parquet as pq

    folder = Path(out)
    if not folder.is_dir():
        raise FileNotFoundError(f"no polar database folder at {folder}")
    files = sorted(p for p in folder.glob("*.parquet") if not p.name.startswith("."))
    if not files:
        return pd.DataFrame(columns=list(columns) if columns else list(_LEADING + _TRAILING))
    tables = [pq.read_table(p, columns=list(columns) if columns else None) for p in files]
    table = pa.concat_tables(tables, promote_options="permissive")
    return table.to_pandas().reset_index(drop=True)


# ---------------------------------------------------------------------------
# Running


@dataclass
class BuildResult:
    """What one :func:`build` call did.

    Attributes
    ----------
    out : pathlib.Path
        The database folder.
    tasks : int
        Distinct tasks of this run (sections read × conditions).
    skipped : int
        Tasks whose file was already there.
    written : list of pathlib.Path
        Files written by this run, one per task computed.
    failures : list of dict
        This run's records in the failures file: sections that could not be
        read (``kind`` "section") and sweeps that failed (``kind`` "sweep"),
        each with its ``error``.
    compute_seconds : float
        Time the workers spent in the sweeps of the written tasks (wall
        time on each worker, summed).
    """

    out: Path
    tasks: int = 0
    skipped: int = 0
    written: list[Path] = field(default_factory=list)
    failures: list[dict] = field(default_factory=list)
    compute_seconds: float = 0.0

    @property
    def computed(self) -> int:
        """Tasks computed and written by this run."""
        return len(self.written)

    @property
    def ok(self) -> bool:
        """True when nothing failed."""
        return not self.failures

    @property
    def failures_file(self) -> Path:
        return self.out / FAILURES_FILE

    def summary(self) -> str:
        text = (
            f"{self.tasks} tasks: {self.computed} computed, {self.skipped} already in {self.out}, "
            f"{sum(1 for f in self.failures if f['kind'] == 'sweep')} failed"
        )
        bad = sum(1 for f in self.failures if f["kind"] == "section")
        if bad:
            text += f"; {bad} section{'s' if bad != 1 else ''} could not be read"
        if self.failures:
            text += f" (see {self.failures_file})"
        return text


class BuildInterrupted(KeyboardInterrupt):
    """Ctrl-C during :func:`build`; ``result`` tells what had been done."""

    def __init__(self, result: BuildResult):
        super().__init__("interrupted")
        self.result = result


def _cpu_count() -> int:
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not Linux
        return max(1, os.cpu_count() or 1)


@contextlib.contextmanager
def _client(scheduler: Any, workers: Optional[int], tasks: Optional[int] = None) -> Iterator[Any]:
    """A Dask client: to the given scheduler, or to a local cluster made here.

    The local cluster has ``workers`` processes (default one per CPU), but
    no more than ``tasks`` when that is given.
    """
    from distributed import Client, LocalCluster

    if scheduler is not None and not isinstance(scheduler, str):
        _check_workers(scheduler, local=False)
        yield scheduler  # a Client the caller made and keeps
        return
    cluster = None
    client = None
    try:
        if scheduler is None:
            import dask

            n = workers or _cpu_count()
            if tasks is not None:
                n = max(1, min(n, tasks))
            # Worker processes are spawned: they get this process's
            # environment and sys.path, hence the same velaro and _velaro.
            # Dask would also set MALLOC_TRIM_THRESHOLD_ in their environment;
            # with it the allocator returns freed memory to the system at
            # once, and the engine, which allocates and frees its matrices
            # at every iteration, runs about 1.5 times slower.  The workers
            # keep the allocator's default instead (or the caller's setting).
            with dask.config.set({_TRIM_KEY: None}):
                cluster = LocalCluster(
                    n_workers=n,
                    threads_per_worker=1,
                    processes=True,
                    dashboard_address=None,
                    scheduler_port=0,
                    silence_logs=logging.CRITICAL,  # the run reports what went wrong itself
                    preload=["velaro._database_worker"],
                    preload_argv=["--ignore-interrupt"],
                )
            client = Client(cluster, set_as_default=False)
        else:
            try:
                client = Client(scheduler, set_as_default=False, timeout="20s")
            except OSError as exc:
                raise OSError(f"cannot reach the Dask scheduler at {scheduler}: {exc}") from exc
        _check_workers(client, local=cluster is not None)
        yield client
    finally:
        if client is not None:
            with contextlib.suppress(Exception):
                client.close()
        if cluster is not None:
            with contextlib.suppress(Exception):
                cluster.close()


def _check_workers(client: Any, local: bool) -> None:
    """Make sure the workers import velaro, and the same one as here."""
    import velaro

    if not local:
        try:
            client.wait_for_workers(1, timeout=60)
        except TimeoutError:
            raise RuntimeError(f"no Dask worker joined the scheduler at {client.scheduler.address} within 60 s") from None
    try:
        seen = client.run(_worker_identity)
    except Exception as exc:
        raise RuntimeError(
            f"the Dask workers cannot run velaro tasks ({_error_text(exc)}); install velaro with "
            f"{INSTALL_HINT} where the workers run"
        ) from exc
    for address, (path, version) in seen.items():
        if version != velaro.__version__ or (local and os.path.realpath(path) != os.path.realpath(velaro.__file__)):
            warnings.warn(
                f"worker {address} runs velaro {version} from {path}, "
                f"this process velaro {velaro.__version__} from {velaro.__file__}",
                RuntimeWarning,
                stacklevel=4,
            )


def _progress_bar(total: int, initial: int, progress: Optional[bool]) -> Any:
    show = sys.stderr.isatty() if progress is None else bool(progress)
    if not show:
        return None
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, initial=initial, unit="task", desc="polars", file=sys.stderr, dynamic_ncols=True)


def build(
    sections: Union[PathLike, Sequence[PathLike]],
    *,
    re: Union[float, Sequence[float]],
    alpha: Any,
    out: PathLike,
    mach: Union[float, Sequence[float]] = 0.0,
    ncrit: Union[float, Sequence[float]] = 9.0,
    scheduler: Any = None,
    workers: Optional[int] = None,
    progress: Optional[bool] = None,
) -> BuildResult:
    """Compute the polars of many sections at many conditions into a folder.

    One task is the polar sweep of one section at one (re, mach, ncrit)
    combination over the angles ``alpha``; tasks run on a Dask cluster and
    each finished one is stored as one Parquet file in ``out``.  Tasks whose
    file exists are skipped, so running the same call again resumes an
    interrupted or partly failed run.  Read the result with :func:`load`.

    By default the contour is repaneled to 160 nodes before the analysis,
    as :meth:`velaro.Airfoil.polar` does.

    Parameters
    ----------
    sections : path, str, or sequence of them
        Coordinate files, folders (their ``*.dat`` files), glob patterns, and
        NACA designations such as ``"2412"`` or ``"naca0012"``.  An existing
        file or folder wins over a designation of the same name.
    re : float or sequence of float
        Chord Reynolds numbers, > 0.
    alpha : array_like
        Angles of attack, degrees (the same for every task).
    out : path
        Database folder; made when missing.
    mach : float or sequence of float
        Free-stream Mach numbers, in [0, 1).
    ncrit : float or sequence of float
        Critical amplification exponents of the e^N transition model, > 0.
    scheduler : str or distributed.Client, optional
        Address of a running Dask scheduler (``"tcp://host:8786"``) or a
        client to use.  With None, a local cluster with one single-threaded
        worker process per CPU is started and closed at the end; a script
        that calls this needs the usual ``if __name__ == "__main__":`` guard,
        since worker processes import the main module.
    workers : int, optional
        Worker processes of the local cluster (default: one per CPU).
    progress : bool, optional
        Progress bar over the tasks on standard error; by default only when
        standard error is a terminal.

    Returns
    -------
    BuildResult
        Counts, files written and failures; ``result.ok`` is False when a
        section could not be read or a sweep failed.

    Raises
    ------
    ValueError
        For bad conditions or angles.
    MissingDependencyError
        When dask[distributed], pyarrow or pandas is missing.
    BuildInterrupted
        On Ctrl-C, after cancelling the pending tasks and closing the
        cluster; the finished tasks are kept.
    """
    _require("distributed", "pyarrow", "pandas")
    angles = np.asarray(alpha, dtype=np.float64).reshape(-1) + 0.0
    if angles.size == 0 or not np.isfinite(angles).all():
        raise ValueError("alpha: give at least one angle, all finite")
    res = _floats("re", re, lambda v: v > 0, "positive")
    machs = _floats("mach", mach, lambda v: 0 <= v < 1, "in [0, 1)")
    ncrits = _floats("ncrit", ncrit, lambda v: v > 0, "positive")
    if workers is not None and (isinstance(workers, bool) or not isinstance(workers, int) or workers < 1):
        raise ValueError(f"workers must be a positive integer, got {workers!r}")

    folder = Path(out)
    folder.mkdir(parents=True, exist_ok=True)
    result = BuildResult(out=folder)
    try:
        _build(sections, angles, res, machs, ncrits, scheduler, workers, progress, result)
    except BuildInterrupted:
        raise
    except KeyboardInterrupt as exc:
        raise BuildInterrupted(result) from exc
    return result


def _build(sections: Any, angles: np.ndarray, res: list[float], machs: list[float], ncrits: list[float],
           scheduler: Any, workers: Optional[int], progress: Optional[bool], result: BuildResult) -> None:
    folder = result.out
    _remove_stale_temporaries(folder)
    log = _FailureLog(folder)

    found, bad, considered = _resolve_sections(sections)
    for rec in bad:
        log.add(rec)
    result.failures.extend(bad)

    tasks: dict[str, _Task] = {}
    for sec in found:
        for r in res:
            for m in machs:
                for n in ncrits:
                    t = _task(sec, r, m, n, angles)
                    tasks.setdefault(t.key, t)
    considered.keys.update(tasks)
    todo = [t for t in tasks.values() if not (folder / t.filename).exists()]
    result.tasks = len(tasks)
    result.skipped = len(tasks) - len(todo)

    if todo:
        bar = _progress_bar(len(tasks), result.skipped, progress)
        try:
            with _client(scheduler, workers, len(todo)) as client:
                _run(client, todo, angles, folder, log, result, bar)
        finally:
            if bar is not None:
                bar.close()
    log.finish(considered)


def _run(client: Any, todo: list[_Task], angles: np.ndarray, folder: Path,
         log: _FailureLog, result: BuildResult, bar: Any) -> None:
    from distributed import as_completed

    pending = {}
    try:
        for t in todo:
            fut = client.submit(
                _sweep, t.section.coordinates, t.section.name, angles, t.re, t.mach, t.ncrit,
                key=f"velaro-polar-{t.key}",
            )
            pending[fut] = t
        for fut in as_completed(list(pending), loop=client.loop):
            t = pending.pop(fut)
            if fut.status == "finished":
                computed = fut.result()
                result.written.append(_write_task(folder, t, computed))
                result.compute_seconds += float(computed.get("seconds", 0.0))
            else:
                if fut.status == "cancelled":
                    error = "the task was cancelled (the cluster lost it)"
                else:
                    exc = fut.exception()
                    error = _error_text(exc)
                    if type(exc).__name__ == "KilledWorker":
                        error = f"the worker process died each time it ran this sweep ({error})"
                rec = {
                    "kind": "sweep", "key": t.key, "section": t.section.name, "source": t.section.source,
                    "source_sha256": t.section.sha256, "re": t.re, "mach": t.mach, "ncrit": t.ncrit,
                    "file": t.filename, "error": error,
                }
                log.add(rec)
                result.failures.append(rec)
            fut.release()
            if bar is not None:
                bar.update(1)
    except BaseException:
        with contextlib.suppress(Exception):
            client.cancel(list(pending), force=True)
        raise


# ---------------------------------------------------------------------------
# Command line


NAME = "database"
HELP = "polars of many sections at many conditions, on Dask, into a folder of Parquet files"
DESCRIPTION = textwrap.fill(
    "Compute the polar of every section at every combination of Reynolds number, Mach number and "
    "ncrit, one task per polar, on a local Dask cluster (one worker process per CPU) or on the "
    "cluster at --scheduler, and store one Parquet file per task in --out.  Running the same command "
    "again computes only the tasks whose file is missing.  Sections that cannot be read and sweeps "
    f"that fail are listed in OUT/{FAILURES_FILE}.  Read the folder with velaro.database.load(OUT).",
    width=78,
)
EPILOG = f"""examples:
  velaro database airfoils/ naca2412 0012 --re 1e5 3e5 1e6 --alpha=-5:15:0.5 --out polars
  velaro database 'uiuc/*.dat' --re 1e6 --ncrit 5 9 --alpha 0:10:1 --out polars --scheduler tcp://head:8786
exit status: 0 all done, 1 some section or sweep failed (see OUT/{FAILURES_FILE}), 2 bad arguments or
missing dependencies ({INSTALL_HINT}), 130 interrupted (finished tasks are kept)."""


def add_arguments(p: argparse.ArgumentParser) -> None:
    """The arguments of the ``database`` subcommand, added to ``p``."""
    p.add_argument("sections", nargs="+", metavar="SECTION",
                   help=".dat files, folders of .dat files, glob patterns (quoted) and NACA designations (2412, naca0012)")
    p.add_argument("--re", nargs="+", type=float, required=True, metavar="RE", help="chord Reynolds numbers")
    p.add_argument("--alpha", nargs="+", required=True, metavar="A",
                   help="angles of attack in degrees: values and START:STOP:STEP ranges, STOP included "
                        "(write --alpha=-5:15:0.5 when the first value is negative)")
    p.add_argument("--mach", nargs="+", type=float, default=[0.0], metavar="M", help="Mach numbers (default 0)")
    p.add_argument("--ncrit", nargs="+", type=float, default=[9.0], metavar="N",
                   help="critical amplification exponents of the e^N transition model (default 9)")
    p.add_argument("--out", "-o", required=True, metavar="DIR", help="database folder (made when missing)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="address of a running Dask scheduler, e.g. tcp://host:8786 (default: a local cluster)")
    p.add_argument("--workers", type=int, metavar="N", help="worker processes of the local cluster (default: one per CPU)")
    p.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                   help="progress bar over the tasks on standard error (default: when it is a terminal)")


def add_subcommand(subparsers: Any) -> argparse.ArgumentParser:
    """Add the ``database`` subcommand to an argparse subparsers object.

    The new parser's defaults ``func`` and ``run`` are :func:`run`.
    """
    p = subparsers.add_parser(NAME, help=HELP, description=DESCRIPTION, epilog=EPILOG,
                              formatter_class=argparse.RawDescriptionHelpFormatter)
    add_arguments(p)
    p.set_defaults(func=run, run=run)
    return p


def run(args: argparse.Namespace, console: Any = None) -> int:
    """Run the ``database`` subcommand with parsed arguments.

    ``console``, when given, is an object whose ``warn(text)`` shows a note
    on standard error; ``args.quiet`` (when present) turns the progress bar
    off.  Returns the exit status: 0 when every section was read and every
    sweep finished, 1 when some failed (see the failures file), 2 for bad
    arguments, an unreachable cluster or missing dependencies, 130 when
    interrupted.
    """
    def warn(text: str) -> None:
        if console is not None and hasattr(console, "warn"):
            console.warn(text)
        else:
            print(f"velaro database: {text}", file=sys.stderr)

    progress = False if getattr(args, "quiet", False) else args.progress
    try:
        angles = parse_angles(args.alpha)
        result = build(
            args.sections, re=args.re, alpha=angles, out=args.out, mach=args.mach, ncrit=args.ncrit,
            scheduler=args.scheduler, workers=args.workers, progress=progress,
        )
    except MissingDependencyError as exc:
        warn(f"error: {exc}")
        return 2
    except BuildInterrupted as exc:
        r = exc.result
        warn(f"interrupted; {r.skipped + r.computed} of {r.tasks} tasks are in {r.out}; "
             "run the same command again to compute the rest")
        return 130
    except (ValueError, OSError, RuntimeError) as exc:
        warn(f"error: {exc}")
        return 2
    print(result.summary())
    return 0 if result.ok else 1


def main(argv: Optional[Sequence[str]] = None) -> int:
    """``python -m velaro.database SECTION… --re … --alpha … --out DIR``."""
    parser = argparse.ArgumentParser(
        prog="python -m velaro.database",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add_arguments(parser)
    return run(parser.parse_args(argv))


if __name__ == "__main__":
    # Through the package module, so that the functions Dask sends to the
    # workers are found there by name, not sent as code of __main__.
    from velaro.database import main as _main

    sys.exit(_main())
