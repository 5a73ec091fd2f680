"""A section's contour: thickness, camber and trailing-edge gap.

Optionally repaneled (--repanel N) and flapped (--flap HINGE_X DEFLECTION);
the contour can be written as a coordinate file (--out) and drawn (--plot).
"""

from __future__ import annotations

import argparse
from typing import Any

from . import _common as c
from ._files import write_table

NAME = "geometry"
HELP = "section contour: thickness, camber, trailing-edge gap; repanel, flap, write, plot"
EPILOG = """examples:
  velaro geometry naca4412
  velaro geometry mh32.dat --repanel 160 --flap 0.75 10 --out mh32_flap.dat --plot mh32_flap.png"""

OUT_KINDS = ("dat", "csv", "json")
PLOT_KINDS = ("png", "pdf", "svg")


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("sections", nargs="+", metavar="SECTION", help="NACA designation or .dat file")
    geo = p.add_argument_group("geometry")
    geo.add_argument("--repanel", type=c.count("node count", 3, 2000), metavar="N",
                     help="redistribute the nodes: N nodes clustered at the leading and trailing edges")
    geo.add_argument("--flap", nargs=2, type=c.finite("flap value"), metavar=("HINGE_X", "DEFLECTION"),
                     help="plain flap: hinge at x/c, deflection in degrees (positive trailing edge down)")
    out = p.add_argument_group("output")
    out.add_argument("--out", metavar="FILE",
                     help="write the contour to FILE: .dat (coordinate file; one section only), .csv or .json")
    out.add_argument("--plot", metavar="FILE", help="draw the contour(s) to FILE: .png, .pdf or .svg")


def prepare(given: str, args: argparse.Namespace) -> Any:
    af = c.load_section(given)
    try:
        if args.repanel:
            af = af.repanel(args.repanel)
        if args.flap:
            af = af.with_flap(args.flap[0], args.flap[1])
    except ValueError as exc:
        raise c.CliError(f"section {given}: {exc}") from None
    return af


def lines(af: Any) -> list[str]:
    return [
        f"{af.name}: {len(af)} points",
        f"  max thickness      {af.max_thickness:.5f} c at x/c {af.max_thickness_x:.4f}",
        f"  max camber         {af.max_camber:.5f} c at x/c {af.max_camber_x:.4f}",
        f"  trailing-edge gap  {af.trailing_edge_gap:.5f} c",
    ]


def properties(af: Any, given: str) -> dict:
    return {
        "section": af.name, "source": given, "points": len(af), "max_thickness": af.max_thickness,
        "max_thickness_x": af.max_thickness_x, "max_camber": af.max_camber, "max_camber_x": af.max_camber_x,
        "trailing_edge_gap": af.trailing_edge_gap,
    }


def run(args: argparse.Namespace, console: c.Console) -> int:
    out_kind = c.output_kind(args.out, OUT_KINDS) if args.out else None
    if out_kind == "dat" and len(args.sections) > 1:
        raise c.CliError("--out FILE.dat holds one section; give one SECTION, or write .csv or .json")
    if args.plot:
        c.output_kind(args.plot, PLOT_KINDS, "--plot")
    with c.package_warnings(console):
        sections = [(given, prepare(given, args)) for given in args.sections]
    for given, af in sections:
        for line in lines(af):
            console.print(line)
    if args.out:
        if out_kind == "dat":
            sections[0][1].to_dat(args.out)
        else:
            from velaro import __version__

            cols: dict[str, list] = {"section": [], "index": [], "x": [], "y": []}
            for given, af in sections:
                xy = af.coordinates
                cols["section"] += [af.name] * len(xy)
                cols["index"] += list(range(len(xy)))
                cols["x"] += [float(v) for v in xy[:, 0]]
                cols["y"] += [float(v) for v in xy[:, 1]]
            doc = {"velaro_version": __version__, "command": "geometry",
                   "sections": [dict(properties(af, given), x=af.coordinates[:, 0], y=af.coordinates[:, 1])
                                for given, af in sections]}
            write_table(args.out, out_kind, cols, {"section": "string", "index": "int64"}, doc)
        console.note(f"contour written to {args.out}")
    if args.plot:
        from velaro import plotting

        names = ", ".join(af.name for _, af in sections)
        if len(sections) == 1:
            af = sections[0][1]
            title = (f"{af.name}: thickness {100 * af.max_thickness:.2f}% at {af.max_thickness_x:.3f}, "
                     f"camber {100 * af.max_camber:.2f}% at {af.max_camber_x:.3f}")
        else:
            title = names
        fig = plotting.contour_figure([(af.name, af.coordinates) for _, af in sections], title=title)
        plotting.save_figure(fig, args.plot)
        console.note(f"plot written to {args.plot}")
    return c.EXIT_OK
