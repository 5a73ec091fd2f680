"""What every subcommand shares: argument types, sections, progress, files."""

from __future__ import annotations

import argparse
import contextlib
import math
import os
import re
import sys
import tempfile
import warnings
from pathlib import Path
from typing import Any, Callable, Iterator, Optional, Sequence

import numpy as np


class CliError(Exception):
    """A usage or input error: reported as one line on stderr, exit code 2."""


#: Exit codes.
EXIT_OK = 0
EXIT_UNCONVERGED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

#: Most points one range may hold; more is a typing slip, not a polar.
MAX_RANGE_POINTS = 10000


# ---------------------------------------------------------------------------
# Argument types (raise argparse.ArgumentTypeError with a plain message)


def _float(text: str, what: str) -> float:
    try:
        v = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{what} must be a number, got {text!r}") from None
    if not math.isfinite(v):
        raise argparse.ArgumentTypeError(f"{what} must be a finite number, got {text!r}")
    return v


def finite(what: str) -> Callable[[str], float]:
    def parse(text: str) -> float:
        return _float(text, what)

    parse.__name__ = what  # argparse names the type in some messages
    return parse


def positive(what: str) -> Callable[[str], float]:
    def parse(text: str) -> float:
        v = _float(text, what)
        if v <= 0:
            raise argparse.ArgumentTypeError(f"{what} must be positive, got {text}")
        return v

    parse.__name__ = what
    return parse


def non_negative(what: str) -> Callable[[str], float]:
    def parse(text: str) -> float:
        v = _float(text, what)
        if v < 0:
            raise argparse.ArgumentTypeError(f"{what} must not be negative, got {text}")
        return v

    parse.__name__ = what
    return parse


def mach_number(text: str) -> float:
    v = _float(text, "Mach number")
    if not 0.0 <= v < 1.0:
        raise argparse.ArgumentTypeError(f"Mach number must be in [0, 1), got {text}")
    return v


def count(what: str, low: int, high: int) -> Callable[[str], int]:
    def parse(text: str) -> int:
        try:
            v = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{what} must be a whole number, got {text!r}") from None
        if not low <= v <= high:
            raise argparse.ArgumentTypeError(f"{what} must be in [{low}, {high}], got {v}")
        return v

    parse.__name__ = what
    return parse


def values(what: str) -> Callable[[str], np.ndarray]:
    """Parse ``START:STOP:STEP`` (STOP included), ``A,B,C`` or a single value."""

    def parse(text: str) -> np.ndarray:
        given = text.strip()
        if ":" in given:
            parts = given.split(":")
            if len(parts) != 3 or not all(p.strip() for p in parts):
                raise argparse.ArgumentTypeError(
                    f"malformed {what} range {text!r}: expected START:STOP:STEP such as -4:16:0.5"
                )
            start, stop, step = (_float(p, f"{what} range {text!r}:") for p in parts)
            if step == 0:
                raise argparse.ArgumentTypeError(f"malformed {what} range {text!r}: the step must not be zero")
            if (stop - start) * step < 0:
                raise argparse.ArgumentTypeError(
                    f"malformed {what} range {text!r}: a step of {step:g} never reaches {stop:g} from {start:g}"
                )
            n = math.floor((stop - start) / step + 1e-9) + 1
            if n > MAX_RANGE_POINTS:
                raise argparse.ArgumentTypeError(f"{what} range {text!r} has {n} points; at most {MAX_RANGE_POINTS}")
            # start + k*step rather than accumulated sums: -4:16:0.5 gives
            # exactly -4.0, -3.5, ... 16.0.
            out = start + step * np.arange(n, dtype=np.float64)
            return np.round(out, 12)
        parts = [p for p in given.split(",")]
        if not given or not all(p.strip() for p in parts):
            raise argparse.ArgumentTypeError(f"malformed {what} {text!r}: expected a value, A,B,C or START:STOP:STEP")
        return np.array([_float(p, what) for p in parts], dtype=np.float64)

    parse.__name__ = what
    return parse


def join_values(chunks: Optional[list]) -> Optional[np.ndarray]:
    """The values of an option given as one or more ranges or lists."""
    if not chunks:
        return None
    return np.concatenate([np.atleast_1d(c) for c in chunks])


# ---------------------------------------------------------------------------
# Sections

_NACA = re.compile(r"(?:naca)?[\s_-]*(\d{4})", re.IGNORECASE)


def looks_like_file(given: str) -> bool:
    return (
        os.sep in given
        or (os.altsep is not None and os.altsep in given)
        or Path(given).suffix.lower() in (".dat", ".txt", ".csv")
        or Path(given).exists()
    )


def load_section(given: str) -> Any:
    """An :class:`velaro.Airfoil` from a NACA designation or a coordinate file."""
    from velaro import Airfoil

    if _NACA.fullmatch(given.strip()) and not Path(given).exists():
        try:
            return Airfoil.naca(given)
        except ValueError as exc:
            raise CliError(f"section {given!r}: {exc}") from None
    if looks_like_file(given):
        try:
            return Airfoil.from_dat(given)
        except FileNotFoundError:
            raise CliError(f"section file not found: {given}") from None
        except IsADirectoryError:
            raise CliError(f"section {given}: is a directory, not a coordinate file") from None
        except OSError as exc:
            raise CliError(f"section {given}: cannot read: {exc.strerror or exc}") from None
        except ValueError as exc:
            text = str(exc)
            raise CliError(text if given in text else f"section {given}: {text}") from None
    raise CliError(
        f"unknown section {given!r}: give a NACA 4-digit designation (naca2412, 0012) or a .dat coordinate file"
    )


def prepare_section(given: str, panels: int, flap: Optional[Sequence[float]] = None) -> Any:
    """The section as analysed: loaded, repaneled to ``panels`` nodes (0: as
    given), then flapped."""
    af = load_section(given)
    try:
        if panels:
            af = af.repanel(panels)
        if flap:
            af = af.with_flap(flap[0], flap[1])
    except ValueError as exc:
        raise CliError(f"section {given}: {exc}") from None
    return af


def panel_count(text: str) -> int:
    n = count("panel node count", 0, 2000)(text)
    if 0 < n < 3:
        raise argparse.ArgumentTypeError(f"panel node count must be 0 (as given) or in [3, 2000], got {n}")
    return n


def repanel_option(args: argparse.Namespace) -> Optional[bool]:
    """What the analyses are told about paneling: False keeps the contour as given."""
    return False if args.panels == 0 else None


def add_geometry_arguments(p: argparse.ArgumentParser, default_panels: Optional[int] = 160) -> None:
    geo = p.add_argument_group("geometry")
    geo.add_argument("--panels", type=panel_count, default=default_panels, metavar="N",
                     help="repanel the section to N nodes before the analysis (default 160; 0 analyses the "
                     "contour as given)")
    geo.add_argument("--flap", nargs=2, type=finite("flap value"), metavar=("HINGE_X", "DEFLECTION"),
                     help="plain flap: hinge at x/c, deflection in degrees (positive trailing edge down)")


def add_condition_arguments(p: argparse.ArgumentParser, several_re: bool) -> Any:
    cond = p.add_argument_group("conditions")
    if several_re:
        cond.add_argument("--re", nargs="+", type=positive("Reynolds number"), default=[1e6], metavar="RE",
                          help="chord Reynolds number(s) (default 1e6)")
    else:
        cond.add_argument("--re", type=positive("Reynolds number"), default=1e6, metavar="RE",
                          help="chord Reynolds number (default 1e6)")
    cond.add_argument("--mach", type=mach_number, default=0.0,
                      help="free-stream Mach number in [0, 1) (default 0); corrects the pressure, lift and moment "
                      "(Karman-Tsien); points where the flow reaches sonic speed are marked SUPERCRITICAL")
    cond.add_argument("--ncrit", type=non_negative("ncrit"), default=9.0,
                      help="critical amplification exponent of the e^N transition model (default 9)")
    cond.add_argument("--xtr", nargs=2, type=finite("trip position"), metavar=("UPPER", "LOWER"),
                      default=(1.0, 1.0), help="trip positions x/c per side (default 1 1: free transition)")
    cond.add_argument("--iterations", type=count("iteration limit", 1, 10000), default=100, metavar="N",
                      help="Newton iteration limit per point (default 100)")
    return cond


# ---------------------------------------------------------------------------
# Messages and progress


class Console:
    """Where the command's messages go.

    Tables go to stdout; notes, warnings and progress to stderr.  Progress
    bars appear only when stderr is a terminal and ``--quiet`` is not given,
    so piped or logged runs stay clean.
    """

    def __init__(self, quiet: bool = False, stdout: Any = None, stderr: Any = None) -> None:
        self.quiet = quiet
        self.out = stdout or sys.stdout
        self.err = stderr or sys.stderr
        self.bar: Any = None  # the progress bar of the run, while there is one

    @contextlib.contextmanager
    def _bar_hidden(self) -> Iterator[None]:
        """Take a visible progress bar off the terminal while a line is written."""
        bar = self.bar
        shown = bar is not None and getattr(bar, "last_print_t", 0.0) >= getattr(bar, "start_t", 0.0) + getattr(
            bar, "delay", 0.0)
        if shown:
            bar.clear()
        try:
            yield
        finally:
            if shown:
                bar.refresh()

    @property
    def progress(self) -> bool:
        if self.quiet:
            return False
        try:
            return bool(self.err.isatty())
        except (AttributeError, ValueError):
            return False

    def print(self, text: str = "") -> None:
        try:
            with self._bar_hidden():
                print(text, file=self.out, flush=self.bar is not None)
        except BrokenPipeError:
            # The reader went away (velaro polar ... | head): stop printing
            # but finish the run, so --out and --plot files are still written.
            devnull = os.open(os.devnull, os.O_WRONLY)
            try:
                os.dup2(devnull, self.out.fileno())
            except (AttributeError, OSError, ValueError):
                pass
            finally:
                os.close(devnull)

    def note(self, text: str) -> None:
        """An informational line on stderr (suppressed by --quiet)."""
        if not self.quiet:
            with self._bar_hidden():
                print(f"velaro: {text}", file=self.err, flush=True)

    def warn(self, text: str) -> None:
        """A line on stderr that is always shown."""
        with self._bar_hidden():
            print(f"velaro: {text}", file=self.err, flush=True)


@contextlib.contextmanager
def progress_bar(console: Console, total: int, desc: str = "") -> Iterator[Optional[Any]]:
    """One progress bar on stderr for a whole run (None when progress is off).

    It appears only once the run has taken a second, so quick runs leave no
    trace; the package's analyses report to it through ``update(n)``, from
    worker threads too (tqdm serialises its output).
    """
    if not console.progress:
        yield None
        return
    from tqdm import tqdm

    bar = tqdm(total=total, desc=desc, unit="pt", file=console.err, delay=1.0, leave=False, dynamic_ncols=True)
    console.bar = bar
    try:
        yield bar
    finally:
        console.bar = None
        bar.close()


@contextlib.contextmanager
def package_warnings(console: Console) -> Iterator[None]:
    """Show the package's warnings (a reordered contour ...) as one-line notes."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            yield
        finally:
            seen = set()
            for w in caught:
                if issubclass(w.category, (DeprecationWarning, PendingDeprecationWarning)):
                    continue
                text = str(w.message).splitlines()[0] if str(w.message) else w.category.__name__
                if text not in seen:
                    seen.add(text)
                    console.note(f"note: {text}")


# ---------------------------------------------------------------------------
# Output files


def output_kind(path: str, allowed: tuple[str, ...], option: str = "--out") -> str:
    """The file kind from the extension (lower case, without the dot)."""
    ext = Path(path).suffix.lower().lstrip(".")
    if ext not in allowed:
        shown = ", ".join("." + a for a in allowed)
        got = f"'.{ext}'" if ext else "no extension"
        raise CliError(f"{option} {path}: unknown file type ({got}); use one of {shown}")
    parent = Path(path).resolve().parent
    if not parent.is_dir():
        raise CliError(f"{option} {path}: the folder {parent} does not exist")
    if Path(path).is_dir():
        raise CliError(f"{option} {path}: is a directory")
    if not os.access(parent, os.W_OK | os.X_OK) or (Path(path).exists() and not os.access(path, os.W_OK)):
        raise CliError(f"{option} {path}: no permission to write there")
    return ext


def check_outputs(args: Any, out_kinds: tuple[str, ...], plot_kinds: tuple[str, ...]) -> Optional[str]:
    """Checks --out and --plot before any work; returns the --out file kind (None without --out)."""
    out_kind = output_kind(args.out, out_kinds) if args.out else None
    if out_kind == "parquet":
        require_pyarrow()
    if args.plot:
        output_kind(args.plot, plot_kinds, "--plot")
    return out_kind


def require_pyarrow(option: str = "--out") -> None:
    try:
        import pyarrow  # noqa: F401
        import pyarrow.parquet  # noqa: F401
    except ImportError:
        raise CliError(
            f"{option}: writing Parquet needs pyarrow, an optional dependency; "
            "install it (pip install pyarrow, or pip install 'velaro[pandas]') or write .csv or .json instead"
        ) from None


def write_atomic(path: str, write: Callable[[str], None]) -> None:
    """Write through a temporary file in the same folder, then rename.

    A reader (or a Ctrl-C) sees either the old file, or none, or the whole
    new one, never a half-written file.
    """
    target = Path(path)
    fd, tmp = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".part", dir=str(target.resolve().parent))
    os.close(fd)
    try:
        write(tmp)
        os.replace(tmp, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(tmp)
        raise


def fmt(v: Any, given: str) -> str:
    """A table cell: the number formatted, or '-' for NaN/None."""
    if v is None:
        return "-"
    try:
        f = float(v)
    except (TypeError, ValueError):
        return str(v)
    if not math.isfinite(f):
        return "-"
    s = format(f, given)
    if f < 0 and float(s) == 0.0:  # no "-0.0000" for a tiny negative value
        s = format(0.0, given)
    return s


def compact(v: float) -> str:
    """1e6 rather than 1000000.0; 2.5e5; 0.15."""
    if v == 0:
        return "0"
    exp = math.floor(math.log10(abs(v)))
    if abs(exp) >= 4:
        mant = v / 10.0**exp
        m = f"{mant:.6g}"
        return f"{m}e{exp}"
    return f"{v:g}"
