"""Surface pressure of a section at one angle of attack, inviscid and viscous.

Prints the force coefficients and the pressure coefficient at every node;
writes the distribution to --out and plots it (negative Cp up, the contour
below) to --plot.  Several --re values give one viscous curve each.
"""

from __future__ import annotations

import argparse
import math
from dataclasses import dataclass
from typing import Any, Optional

import numpy as np

from . import _common as c
from ._files import write_table

NAME = "cp"
HELP = "surface pressure at one angle: inviscid and viscous"
EPILOG = """examples:
  velaro cp naca2412 --alpha 4 --plot cp.png
  velaro cp mh32.dat --alpha 2 --re 2e5 1e6 --out cp.csv"""

OUT_KINDS = ("csv", "json", "parquet")
PLOT_KINDS = ("png", "pdf", "svg")


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("section", metavar="SECTION", help="NACA designation or .dat file")
    cond = c.add_condition_arguments(p, several_re=True)
    cond.add_argument("--alpha", type=c.finite("alpha"), required=True, metavar="DEG", help="angle of attack, degrees")
    cond.add_argument("--inviscid", action="store_true", help="the inviscid solution only (no viscous analysis)")
    c.add_geometry_arguments(p)
    out = p.add_argument_group("output")
    out.add_argument("--out", metavar="FILE", help="write the distributions to FILE: .csv, .json or .parquet")
    out.add_argument("--plot", metavar="FILE", help="plot to FILE: .png, .pdf or .svg")


@dataclass
class Viscous:
    re: float
    point: Any  # OperatingPoint


def _distribution_lines(inviscid: Any, viscous: list[Viscous]) -> list[str]:
    """Cp per node; analyses on the same nodes share a row."""
    curves: list[tuple[str, Any]] = []
    if inviscid is not None and inviscid.pressure is not None:
        curves.append(("cp_inviscid", inviscid.pressure))
    for v in viscous:
        if v.point.pressure is not None:
            name = "cp_viscous" if len(viscous) == 1 else f"cp_Re_{c.compact(v.re)}"
            curves.append((name, v.point.pressure))
    if not curves:
        return []
    base = max((pr for _, pr in curves), key=lambda pr: len(pr.x))
    n = len(base.x)

    def aligned(pr: Any) -> bool:
        k = len(pr.x)
        return k <= n and np.array_equal(pr.x, base.x[:k]) and np.array_equal(pr.y, base.y[:k])

    lines = []
    if all(aligned(pr) for _, pr in curves):
        lines.append(f"{'x':>9} {'y':>9} " + " ".join(f"{name:>13}" for name, _ in curves))
        for i in range(n):
            cells = [f"{c.fmt(pr.cp[i], '13.5f') if i < len(pr.cp) else '-':>13}" for _, pr in curves]
            lines.append(f"{base.x[i]:9.5f} {base.y[i]:9.5f} " + " ".join(cells))
        return lines
    for name, pr in curves:  # different nodes: one table each
        lines.append(f"{'x':>9} {'y':>9} {name:>13}")
        lines += [f"{x:9.5f} {y:9.5f} {c.fmt(cp, '13.5f'):>13}" for x, y, cp in zip(pr.x, pr.y, pr.cp)]
        lines.append("")
    return lines


def _min_cp(pressure: Any) -> str:
    i = int(np.nanargmin(pressure.cp))
    return f"Cp_min {pressure.cp[i]:.4f} at x/c {pressure.x[i]:.4f}"


def summary_lines(af: Any, args: argparse.Namespace, inviscid: Any, viscous: list[Viscous]) -> list[str]:
    trip = "" if tuple(args.xtr) == (1.0, 1.0) else f", trips x/c {args.xtr[0]:g}/{args.xtr[1]:g}"
    lines = [f"{af.name}: alpha {args.alpha:g} deg, Mach {args.mach:g}, Ncrit {args.ncrit:g}{trip}, {len(af)} nodes"]
    if inviscid is not None:
        if inviscid.error is None:
            lines.append(f"inviscid: cl {inviscid.cl:.4f}, cm {inviscid.cm:.4f}, {_min_cp(inviscid.pressure)}")
            if getattr(inviscid, "supercritical", None):
                lines.append("inviscid: SUPERCRITICAL: the flow reaches sonic speed on the surface")
        else:
            lines.append(f"inviscid: FAILED ({inviscid.error})")
    for v in viscous:
        p = v.point
        head = f"viscous Re {c.compact(v.re)}:"
        if p.converged:
            extra = f", {_min_cp(p.pressure)}" if p.pressure is not None else ""
            lines.append(
                f"{head} cl {p.cl:.4f}, cd {p.cd:.5f}, cm {p.cm:.4f}, transition x/c {p.x_tr_upper:.4f} (upper) "
                f"{p.x_tr_lower:.4f} (lower), {p.iterations} iterations{extra}"
            )
            if getattr(p, "supercritical", None):
                lines.append(f"{head} SUPERCRITICAL: the flow reaches sonic speed on the surface")
        else:
            lines.append(f"{head} NOT CONVERGED after {p.iterations} iterations"
                         + (f" ({p.error})" if p.error else ""))
    return lines


def table(af: Any, args: argparse.Namespace, inviscid: Any, viscous: list[Viscous]) -> tuple[dict, dict]:
    names = ["section", "alpha", "analysis", "re", "mach", "ncrit", "x", "y", "cp"]
    cols: dict[str, list] = {k: [] for k in names}

    def add(analysis: str, re: float, pressure: Any) -> None:
        n = len(pressure.x)
        cols["section"] += [af.name] * n
        cols["alpha"] += [float(args.alpha)] * n
        cols["analysis"] += [analysis] * n
        cols["re"] += [re] * n
        cols["mach"] += [float(args.mach)] * n
        cols["ncrit"] += [float(args.ncrit)] * n
        for k in ("x", "y", "cp"):
            cols[k] += [float(v) for v in getattr(pressure, k)]

    if inviscid is not None and inviscid.pressure is not None:
        add("inviscid", math.nan, inviscid.pressure)
    for v in viscous:
        if v.point.pressure is not None:
            add("viscous", float(v.re), v.point.pressure)
    types = {k: "float64" for k in names}
    types.update(section="string", analysis="string")
    return cols, types


def document(af: Any, args: argparse.Namespace, inviscid: Any, viscous: list[Viscous]) -> dict:
    from velaro import __version__

    def curve(pressure: Any) -> dict:
        if pressure is None:
            return {"x": [], "y": [], "cp": []}
        return {"x": pressure.x, "y": pressure.y, "cp": pressure.cp}

    doc: dict[str, Any] = {
        "velaro_version": __version__, "command": "cp", "section": af.name, "source": args.section,
        "nodes": len(af), "alpha": args.alpha, "mach": args.mach, "ncrit": args.ncrit,
        "trip_upper": args.xtr[0], "trip_lower": args.xtr[1],
    }
    if inviscid is not None:
        doc["inviscid"] = {"cl": inviscid.cl, "cm": inviscid.cm, "error": inviscid.error,
                           "supercritical": inviscid.supercritical, **curve(inviscid.pressure)}
    doc["viscous"] = [
        {"re": v.re, "converged": v.point.converged, "cl": v.point.cl, "cd": v.point.cd, "cm": v.point.cm,
         "x_tr_upper": v.point.x_tr_upper, "x_tr_lower": v.point.x_tr_lower, "iterations": v.point.iterations,
         "supercritical": v.point.supercritical, "error": v.point.error, **curve(v.point.pressure)}
        for v in viscous
    ]
    return doc


def run(args: argparse.Namespace, console: c.Console) -> int:
    out_kind = c.check_outputs(args, OUT_KINDS, PLOT_KINDS)
    with c.package_warnings(console):
        af = c.prepare_section(args.section, args.panels, args.flap)

    with c.package_warnings(console):
        inviscid = af.analyze_inviscid(args.alpha, mach=args.mach, repanel=c.repanel_option(args))
    viscous: list[Viscous] = []
    if not args.inviscid:
        for re in args.re:
            with c.package_warnings(console):
                point = af.analyze(alpha=args.alpha, re=re, mach=args.mach, ncrit=args.ncrit, xtr=tuple(args.xtr),
                                   max_iterations=args.iterations, distributions=True,
                                   repanel=c.repanel_option(args))
            viscous.append(Viscous(re=re, point=point))

    for line in summary_lines(af, args, inviscid, viscous):
        console.print(line)
    console.print()
    for line in _distribution_lines(inviscid, viscous):
        console.print(line)

    if args.out:
        cols, types = table(af, args, inviscid, viscous)
        write_table(args.out, out_kind, cols, types, document(af, args, inviscid, viscous))
        console.note(f"pressure distribution written to {args.out}")
    if args.plot:
        from velaro import plotting

        curves = [(("viscous" if len(viscous) == 1 else "viscous") + f", Re {c.compact(v.re)}", v.point.pressure)
                  for v in viscous if v.point.pressure is not None]
        cond = [f"alpha {args.alpha:g} deg"]
        if len(args.re) == 1 and not args.inviscid:
            cond.append(f"Re {c.compact(args.re[0])}")
        cond += [f"Mach {args.mach:g}"] + ([] if args.inviscid else [f"Ncrit {args.ncrit:g}"])
        fig = plotting.pressure_figure(
            af.coordinates, curves, inviscid.pressure if inviscid is not None else None,
            title=f"{af.name}: " + ", ".join(cond),
        )
        plotting.save_figure(fig, args.plot)
        console.note(f"plot written to {args.plot}")

    bad = [v for v in viscous if not v.point.converged]
    if bad:
        which = ", ".join(f"Re {c.compact(v.re)}" for v in bad)
        console.warn(f"not converged: the viscous solution of {af.name} at alpha {args.alpha:g} deg, {which}")
        return c.EXIT_UNCONVERGED
    if inviscid is not None and inviscid.error is not None:
        console.warn(f"the inviscid solution failed: {inviscid.error}")
        return c.EXIT_UNCONVERGED
    return c.EXIT_OK
