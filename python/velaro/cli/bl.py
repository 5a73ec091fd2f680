"""Boundary layer of both sides of a section at one operating point.

Prints δ*, θ, H and cf along each side with the transition and separation
positions; writes the arrays to --out and plots them to --plot.
"""

from __future__ import annotations

import argparse
from typing import Any

import numpy as np

from . import _common as c
from ._files import write_table

NAME = "bl"
HELP = "boundary layer at one angle: delta*, theta, H, cf on both sides"
EPILOG = """examples:
  velaro bl naca2412 --alpha 4 --re 1e6 --plot bl.png
  velaro bl e61.dat --alpha 6 --re 2e5 --out bl.csv"""

OUT_KINDS = ("csv", "json", "parquet")
PLOT_KINDS = ("png", "pdf", "svg")
ARRAYS = ("s", "x", "y", "ue", "theta", "delta_star", "H", "cf")


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("section", metavar="SECTION", help="NACA designation or .dat file")
    cond = c.add_condition_arguments(p, several_re=False)
    cond.add_argument("--alpha", type=c.finite("alpha"), required=True, metavar="DEG", help="angle of attack, degrees")
    c.add_geometry_arguments(p)
    out = p.add_argument_group("output")
    out.add_argument("--out", metavar="FILE", help="write the arrays to FILE: .csv, .json or .parquet")
    out.add_argument("--plot", metavar="FILE", help="plot to FILE: .png, .pdf or .svg")


def separation_text(side: Any) -> str:
    from velaro.plotting import separated_spans

    spans = separated_spans(side.x, side.cf)
    if not spans:
        return "none"
    return ", ".join(f"x/c {a:.4f} to {b:.4f}" for a, b in spans)


def lines(af: Any, args: argparse.Namespace, point: Any) -> list[str]:
    trip = "" if tuple(args.xtr) == (1.0, 1.0) else f", trips x/c {args.xtr[0]:g}/{args.xtr[1]:g}"
    out = [f"{af.name}: alpha {args.alpha:g} deg, Re {c.compact(args.re)}, Mach {args.mach:g}, "
           f"Ncrit {args.ncrit:g}{trip}, {len(af)} nodes"]
    if not point.converged:
        out.append(f"NOT CONVERGED after {point.iterations} iterations" + (f" ({point.error})" if point.error else ""))
        return out
    out.append(f"cl {point.cl:.4f}, cd {point.cd:.5f}, cm {point.cm:.4f}, {point.iterations} iterations")
    if getattr(point, "supercritical", None):
        out.append("SUPERCRITICAL: the flow reaches sonic speed on the surface")
    bl = point.boundary_layer
    for name, side, xt in (("upper", bl.upper, point.x_tr_upper), ("lower", bl.lower, point.x_tr_lower)):
        out.append(f"{name} side: transition x/c {xt:.4f}; separated (cf < 0): {separation_text(side)}")
    out.append("")
    out.append(f"{'side':<5} {'x':>8} {'s':>8} {'ue':>8} {'delta*':>10} {'theta':>10} {'H':>7} {'cf':>10}")
    for name, side in (("upper", bl.upper), ("lower", bl.lower)):
        for i in range(len(side.x)):
            out.append(
                f"{name:<5} {side.x[i]:8.5f} {side.s[i]:8.5f} {side.ue[i]:8.5f} {c.fmt(side.delta_star[i], '10.3e')} "
                f"{c.fmt(side.theta[i], '10.3e')} {c.fmt(side.H[i], '7.3f')} {c.fmt(side.cf[i], '10.3e')}"
            )
    return out


def table(af: Any, args: argparse.Namespace, point: Any) -> tuple[dict, dict]:
    names = ["section", "alpha", "re", "mach", "ncrit", "side"] + list(ARRAYS)
    cols: dict[str, list] = {k: [] for k in names}
    for name in ("upper", "lower"):
        side = getattr(point.boundary_layer, name)
        n = len(side.x)
        cols["section"] += [af.name] * n
        cols["alpha"] += [float(args.alpha)] * n
        cols["re"] += [float(args.re)] * n
        cols["mach"] += [float(args.mach)] * n
        cols["ncrit"] += [float(args.ncrit)] * n
        cols["side"] += [name] * n
        for k in ARRAYS:
            cols[k] += [float(v) for v in getattr(side, k)]
    types = {k: "float64" for k in names}
    types.update(section="string", side="string")
    return cols, types


def document(af: Any, args: argparse.Namespace, point: Any) -> dict:
    from velaro import __version__

    bl = point.boundary_layer
    return {
        "velaro_version": __version__, "command": "bl", "section": af.name, "source": args.section,
        "nodes": len(af), "alpha": args.alpha, "re": args.re, "mach": args.mach, "ncrit": args.ncrit,
        "trip_upper": args.xtr[0], "trip_lower": args.xtr[1],
        "cl": point.cl, "cd": point.cd, "cm": point.cm, "iterations": point.iterations,
        "x_tr_upper": point.x_tr_upper, "x_tr_lower": point.x_tr_lower,
        "upper": {k: np.asarray(getattr(bl.upper, k)) for k in ARRAYS},
        "lower": {k: np.asarray(getattr(bl.lower, k)) for k in ARRAYS},
    }


def run(args: argparse.Namespace, console: c.Console) -> int:
    out_kind = c.check_outputs(args, OUT_KINDS, PLOT_KINDS)
    with c.package_warnings(console):
        af = c.prepare_section(args.section, args.panels, args.flap)
        point = af.analyze(alpha=args.alpha, re=args.re, mach=args.mach, ncrit=args.ncrit, xtr=tuple(args.xtr),
                           max_iterations=args.iterations, distributions=True,
                           repanel=c.repanel_option(args))
    for line in lines(af, args, point):
        console.print(line)
    if not point.converged or point.boundary_layer is None:
        # Nothing trustworthy to write or draw.
        why = f" ({point.error})" if point.error else ""
        console.warn(f"not converged: {af.name} at alpha {args.alpha:g} deg, Re {c.compact(args.re)}{why}; "
                     "no boundary layer written or plotted")
        return c.EXIT_UNCONVERGED
    if args.out:
        cols, types = table(af, args, point)
        write_table(args.out, out_kind, cols, types, document(af, args, point))
        console.note(f"boundary layer written to {args.out}")
    if args.plot:
        from velaro import plotting

        title = (f"{af.name}: alpha {args.alpha:g} deg, Re {c.compact(args.re)}, Mach {args.mach:g}, "
                 f"Ncrit {args.ncrit:g}; cl {point.cl:.3f}, cd {point.cd:.5f}")
        fig = plotting.boundary_layer_figure(point.boundary_layer, (point.x_tr_upper, point.x_tr_lower), title=title)
        plotting.save_figure(fig, args.plot)
        console.note(f"plot written to {args.plot}")
    return c.EXIT_OK
