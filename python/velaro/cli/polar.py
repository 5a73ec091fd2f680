"""Viscous polars of one or more sections at one or more Reynolds numbers.

Prints one table per section and Reynolds number, rows that did not converge
marked; writes them to --out (CSV, JSON or Parquet) and draws the four views
of a polar to --plot, with measured or published data from --compare as
markers.
"""

from __future__ import annotations

import argparse
import math
from dataclasses import dataclass
from typing import Any, Optional

import numpy as np

from . import _common as c
from ._files import write_table

NAME = "polar"
HELP = "viscous polar: table, file (--out) and plot (--plot)"
EPILOG = """examples:
  velaro polar naca2412 --re 1e6 --alpha -4:16:0.5 --plot naca2412.png
  velaro polar 0012 4412 --re 3e5 1e6 --alpha 0:12:1 --out polars.csv
  velaro polar mh32.dat --re 2e5 --cl 0.2:1.2:0.1 --compare measured.txt --plot mh32.svg
SECTION is a NACA 4-digit designation (naca2412, 2412) or a .dat coordinate file.
Ranges are START:STOP:STEP with STOP included, a single value, or a comma list."""

OUT_KINDS = ("csv", "json", "parquet")
PLOT_KINDS = ("png", "pdf", "svg")


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("sections", nargs="+", metavar="SECTION", help="NACA designation or .dat file")
    cond = c.add_condition_arguments(p, several_re=True)
    sweep = cond.add_mutually_exclusive_group()
    sweep.add_argument("--alpha", nargs="+", type=c.values("alpha"), metavar="RANGE",
                       help=f"angles of attack in degrees (default {DEFAULT_ALPHA})")
    sweep.add_argument("--cl", nargs="+", type=c.values("cl"), metavar="RANGE",
                       help="lift coefficients instead of angles (each solved for its angle)")
    c.add_geometry_arguments(p)
    out = p.add_argument_group("output")
    out.add_argument("--out", metavar="FILE", help="write the polars to FILE: .csv, .json or .parquet")
    out.add_argument("--plot", metavar="FILE", help="draw cl-alpha, cl-cd, cm-alpha and transition to FILE: "
                     ".png, .pdf or .svg")
    out.add_argument("--compare", action="append", default=[], metavar="FILE",
                     help="overlay a polar from a CSV or whitespace-column text file (repeatable)")


@dataclass
class Run:
    """One finished polar and where it came from."""

    source: str
    nodes: int
    polar: Any


# ---------------------------------------------------------------------------
# Table


def _supercritical(p: Any) -> Optional[np.ndarray]:
    sc = getattr(p, "supercritical", None)
    if sc is None:
        return None
    try:
        arr = np.asarray(sc, dtype=object).reshape(-1)
    except (TypeError, ValueError):
        return None
    return arr if arr.shape == (len(p),) else None


def heading(run: Run) -> str:
    p = run.polar
    trip = "" if tuple(p.xtr) == (1.0, 1.0) else f", trips x/c {p.xtr[0]:g} (upper) {p.xtr[1]:g} (lower)"
    return f"{p.name}: Re {c.compact(p.re)}, Mach {p.mach:g}, Ncrit {p.ncrit:g}{trip}, {run.nodes} nodes"


def table_lines(run: Run) -> list[str]:
    p = run.polar
    targets = p.cl_target
    sc = _supercritical(p)
    head = (f"{'cl_target':>9} " if targets is not None else "") + (
        f"{'alpha':>7} {'cl':>8} {'cd':>9} {'cdf':>9} {'cdp':>9} {'cm':>8} {'xtr_up':>7} {'xtr_lo':>7} {'iter':>5}  note"
    )
    lines = [heading(run), head]
    for i in range(len(p)):
        note = []
        if not p.converged[i]:
            err = p.errors[i]
            note.append("NOT CONVERGED" + (f" ({err})" if err else ""))
        if sc is not None and sc[i]:
            note.append("SUPERCRITICAL")
        row = (f"{c.fmt(targets[i], '9.4f')} " if targets is not None else "") + " ".join([
            f"{c.fmt(p.alpha[i], '7.2f'):>7}",
            f"{c.fmt(p.cl[i], '8.4f'):>8}",
            f"{c.fmt(p.cd[i], '9.5f'):>9}",
            f"{c.fmt(p.cd_friction[i], '9.5f'):>9}",
            f"{c.fmt(p.cd_pressure[i], '9.5f'):>9}",
            f"{c.fmt(p.cm[i], '8.4f'):>8}",
            f"{c.fmt(p.x_tr_upper[i], '7.4f'):>7}",
            f"{c.fmt(p.x_tr_lower[i], '7.4f'):>7}",
            f"{int(p.iterations[i]):5d}",
        ])
        lines.append(row + ("  " + "; ".join(note) if note else ""))
    lines.append(summary_line(p))
    bad = unconverged_text(p)
    if bad:
        lines.append(f"not converged: {bad}")
    return lines


def summary_line(p: Any) -> str:
    s = p.summary()
    f = c.fmt
    return (
        "converged points only: "
        f"cl_max {f(s['cl_max'], '.4f')} at {f(s['alpha_cl_max'], '.2f')} deg; "
        f"zero-lift angle {f(s['alpha_zero_lift'], '.2f')} deg; "
        f"lift slope {f(s['lift_slope'], '.4f')} /deg; "
        f"cd_min {f(s['cd_min'], '.5f')} at {f(s['alpha_cd_min'], '.2f')} deg; "
        f"(cl/cd)_max {f(s['ld_max'], '.1f')} at {f(s['alpha_ld_max'], '.2f')} deg"
    )


def unconverged_text(p: Any) -> str:
    idx = np.flatnonzero(~np.asarray(p.converged))
    if idx.size == 0:
        return ""
    if p.cl_target is not None:
        vals = ", ".join(f"{p.cl_target[i]:g}" for i in idx)
        return f"{idx.size} of {len(p)} points, at cl {vals}"
    vals = ", ".join(f"{p.alpha[i]:g}" for i in idx)
    return f"{idx.size} of {len(p)} points, at alpha {vals} deg"


# ---------------------------------------------------------------------------
# Files

POINT_COLUMNS = ("alpha", "cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper", "x_tr_lower",
                 "iterations", "residual", "converged", "start", "error")


def table(runs: list[Run]) -> tuple[dict[str, list], dict[str, str]]:
    """All polars as one long table (one row per point) and its column types."""
    with_target = any(r.polar.cl_target is not None for r in runs)
    with_sc = any(_supercritical(r.polar) is not None for r in runs)
    names = ["section", "source", "nodes", "re", "mach", "ncrit", "trip_upper", "trip_lower"]
    if with_target:
        names.append("cl_target")
    names += list(POINT_COLUMNS)
    if with_sc:
        names.append("supercritical")
    cols: dict[str, list] = {k: [] for k in names}
    for r in runs:
        p = r.polar
        n = len(p)
        sc = _supercritical(p)
        cols["section"] += [p.name] * n
        cols["source"] += [r.source] * n
        cols["nodes"] += [r.nodes] * n
        cols["re"] += [float(p.re)] * n
        cols["mach"] += [float(p.mach)] * n
        cols["ncrit"] += [float(p.ncrit)] * n
        cols["trip_upper"] += [float(p.xtr[0])] * n
        cols["trip_lower"] += [float(p.xtr[1])] * n
        if with_target:
            cols["cl_target"] += [math.nan] * n if p.cl_target is None else [float(v) for v in p.cl_target]
        for k in ("alpha", "cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper", "x_tr_lower", "residual"):
            cols[k] += [float(v) for v in getattr(p, k)]
        cols["iterations"] += [int(v) for v in p.iterations]
        cols["converged"] += [bool(v) for v in p.converged]
        cols["start"] += [None if s is None else str(s) for s in p.start]
        cols["error"] += [None if e is None else str(e) for e in p.errors]
        if with_sc:
            cols["supercritical"] += [None] * n if sc is None else [None if v is None else bool(v) for v in sc]
    types = {k: "float64" for k in names}
    types.update(section="string", source="string", nodes="int64", iterations="int64", converged="bool",
                 start="string", error="string", supercritical="bool")
    return cols, types


def document(runs: list[Run]) -> dict:
    from velaro import __version__

    polars = []
    cols, _ = table(runs)
    point_keys = [k for k in cols if k not in ("section", "source", "nodes", "re", "mach", "ncrit",
                                                  "trip_upper", "trip_lower")]
    start = 0
    for r in runs:
        p = r.polar
        n = len(p)
        points = [{k: cols[k][start + i] for k in point_keys} for i in range(n)]
        start += n
        polars.append({
            "section": p.name, "source": r.source, "nodes": r.nodes, "re": p.re, "mach": p.mach,
            "ncrit": p.ncrit, "trip_upper": p.xtr[0], "trip_lower": p.xtr[1],
            "summary": p.summary(), "points": points,
        })
    return {"velaro_version": __version__, "command": "polar", "polars": polars}


def save(path: str, kind: str, runs: list[Run]) -> None:
    from velaro import __version__

    cols, types = table(runs)
    write_table(path, kind, cols, types, document(runs), metadata={"velaro_version": __version__})


# ---------------------------------------------------------------------------
# Plot


def labels(runs: list[Run]) -> tuple[list[str], str]:
    """Legend labels that tell the polars apart, and a title with what they share."""
    names = [r.polar.name for r in runs]
    res = [r.polar.re for r in runs]
    many_names = len(set(names)) > 1
    many_re = len(set(res)) > 1
    out = []
    for r in runs:
        parts = []
        if many_names or not many_re:
            parts.append(r.polar.name)
        if many_re or not many_names:
            parts.append(f"Re {c.compact(r.polar.re)}")
        out.append(", ".join(parts))
    p = runs[0].polar
    title = [] if many_names else [p.name]
    cond = [] if many_re else [f"Re {c.compact(p.re)}"]
    cond += [f"Mach {p.mach:g}", f"Ncrit {p.ncrit:g}"]
    if tuple(p.xtr) != (1.0, 1.0):
        cond.append(f"trips x/c {p.xtr[0]:g}/{p.xtr[1]:g}")
    title_text = (" - ".join(title) + ": " if title else "") + ", ".join(cond)
    return out, title_text


def plot(path: str, runs: list[Run], compare: list[Any]) -> None:
    from velaro import plotting

    names, title = labels(runs)
    refs = []
    for ref in compare:
        label = ref.label + (f", Re {c.compact(ref.re)}" if ref.re else "") + " (compare)"
        refs.append((label, ref))
    fig = plotting.polar_figure(list(zip(names, (r.polar for r in runs))), refs, title=title)
    plotting.save_figure(fig, path)


# ---------------------------------------------------------------------------


#: Angles of a polar when neither --alpha nor --cl is given.
DEFAULT_ALPHA = "-5:20:0.25"


def run(args: argparse.Namespace, console: c.Console) -> int:
    alpha = c.join_values(args.alpha)
    cl = c.join_values(args.cl)
    if alpha is None and cl is None:
        alpha = c.values("alpha")(DEFAULT_ALPHA)
    out_kind = c.check_outputs(args, OUT_KINDS, PLOT_KINDS)
    compare = []
    for path in args.compare:
        from velaro.polarfile import read_polar_file

        try:
            compare += read_polar_file(path)
        except FileNotFoundError:
            raise c.CliError(f"--compare: file not found: {path}") from None
        except OSError as exc:
            raise c.CliError(f"--compare {path}: cannot read: {exc.strerror or exc}") from None
        except ValueError as exc:
            raise c.CliError(f"--compare: {exc}") from None
    with c.package_warnings(console):
        sections = [(given, c.prepare_section(given, args.panels, args.flap))
                    for given in args.sections]

    runs: list[Run] = []
    saved = 0  # polars in the --out file
    points = len(cl) if cl is not None else len(alpha)

    def finish(run: Run) -> None:
        nonlocal saved
        runs.append(run)
        if args.out:
            # Rewritten after every polar, so an interrupted run keeps what it finished.
            save(args.out, out_kind, runs)
            saved = len(runs)
        # One write, so that a progress bar is taken off the terminal once.
        console.print("\n".join(table_lines(run)) + "\n")

    try:
        # One bar for the whole run, across sections and Reynolds numbers.
        with c.progress_bar(console, total=len(sections) * len(args.re) * points) as bar:
            for given, af in sections:
                for re in args.re:
                    if bar is not None:
                        bar.set_description_str(f"{af.name} Re {c.compact(re)}", refresh=False)
                    try:
                        with c.package_warnings(console):
                            polar = af.polar(
                                alpha=None if cl is not None else alpha, cl=cl, re=re, mach=args.mach,
                                ncrit=args.ncrit, xtr=tuple(args.xtr), max_iterations=args.iterations,
                                progress=bar, repanel=c.repanel_option(args),
                            )
                    except KeyboardInterrupt as stop:
                        # The package hands over the points it finished; the
                        # others are marked not converged ("cancelled").
                        partial = getattr(stop, "polars", None)
                        if partial is not None and len(partial) and np.any(partial.converged):
                            finish(Run(source=given, nodes=len(af), polar=partial))
                        raise
                    finish(Run(source=given, nodes=len(af), polar=polar))
    except KeyboardInterrupt:
        if args.out:
            kept = sum(int(np.count_nonzero(r.polar.converged)) for r in runs[:saved])
            where = (f"; {kept} converged points of {saved} polars kept in {args.out}" if saved
                     else f"; nothing written to {args.out}")
        else:
            where = ""
        console.warn(f"interrupted{where}")
        return c.EXIT_INTERRUPTED

    if args.out:
        console.note(f"polars written to {args.out}")
    if args.plot:
        plot(args.plot, runs, compare)
        console.note(f"plot written to {args.plot}")

    bad = [(r, unconverged_text(r.polar)) for r in runs]
    bad = [(r, t) for r, t in bad if t]
    if bad:
        for r, text in bad:
            console.warn(f"not converged: {r.polar.name} Re {c.compact(r.polar.re)}: {text}")
        return c.EXIT_UNCONVERGED
    return c.EXIT_OK
