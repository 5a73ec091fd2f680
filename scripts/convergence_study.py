"""Convergence of viscous polars: continuation sweeps against cold starts.

For every section and Reynolds number, the same angles are solved twice:
once as a cold-start batch of the low-level module (every point from
scratch) and once as a polar of the ``velaro`` package (an engine sweep,
each point warm-started from its converged neighbour).  A point counts when
its angle lies between the angles of the most negative and the most
positive lift coefficient that either method found (the stall angles), so
that deep-stall angles past the lift maximum, where no steady solution need
exist, do not weigh in.

Usage (module and package importable)::

    python3 scripts/convergence_study.py [--quick] [--json out.json]

``--quick`` runs a subset (three sections, two Reynolds numbers) for a
check by hand; the full set takes several minutes on two cores.
"""

from __future__ import annotations

import argparse
import json
import pathlib
import sys
import time

import numpy as np

import _velaro
import velaro

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"
NACA = ("0006", "0012", "2412", "4412", "9412")
FILES = ("mh32.dat", "e61.dat", "sd7062.dat")
REYNOLDS = (1e5, 3e5, 1e6, 3e6, 1e7)
ALPHAS = np.arange(-10.0, 20.5, 1.0)


def sections(quick: bool) -> list[velaro.Airfoil]:
    names = ("0012", "2412", "9412") if quick else NACA
    out = [velaro.Airfoil.naca(n) for n in names]
    if not quick:
        out += [velaro.Airfoil.from_dat(DATA / f) for f in FILES]
    return [af.repanel(160) for af in out]


def cold(af: velaro.Airfoil, re: float) -> tuple[np.ndarray, np.ndarray]:
    """Cold-start batch: converged mask and lift per angle."""
    flat = np.ascontiguousarray(af.coordinates).ravel().tolist()
    results = _velaro.analyze_faithful_batch(flat, ALPHAS.tolist(), reynolds=re)
    conv = np.array([bool(r["success"]) and bool(r.get("converged", True)) for r in results])
    cl = np.array([r["cl"] if r["cl"] is not None else np.nan for r in results], dtype=float)
    return conv, np.where(conv, cl, np.nan)


def window(*cls: np.ndarray) -> np.ndarray:
    """Angles between the most negative and the most positive converged lift."""
    stacked = np.vstack(cls)
    if np.all(np.isnan(stacked)):
        return np.zeros(len(ALPHAS), dtype=bool)
    lo = ALPHAS[np.nanargmin(np.nanmin(stacked, axis=0))]
    hi = ALPHAS[np.nanargmax(np.nanmax(stacked, axis=0))]
    return (ALPHAS >= lo) & (ALPHAS <= hi)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--json", type=pathlib.Path)
    args = ap.parse_args()
    reynolds = (1e5, 1e6) if args.quick else REYNOLDS
    rows = []
    t0 = time.perf_counter()
    for af in sections(args.quick):
        for re in reynolds:
            c_conv, c_cl = cold(af, re)
            polar = af.polar(alpha=ALPHAS, re=re, progress=False)
            s_conv = np.asarray(polar.converged, dtype=bool)
            s_cl = np.where(s_conv, polar.cl, np.nan)
            w = window(c_cl, s_cl)
            rows.append({
                "section": af.name, "re": re, "window": int(w.sum()),
                "cold": int((c_conv & w).sum()), "sweep": int((s_conv & w).sum()),
                "cold_all": int(c_conv.sum()), "sweep_all": int(s_conv.sum()),
                "absurd": int(np.sum(s_conv & (np.abs(s_cl) > 3.0))),
            })
            r = rows[-1]
            print(f"{af.name:>24s} Re {re:8.0e}  window {r['window']:3d}  cold {r['cold']:3d}  "
                  f"sweep {r['sweep']:3d}", flush=True)
    print(f"\n{time.perf_counter() - t0:.0f} s")
    print(f"{'Re':>8s} {'points':>7s} {'cold %':>7s} {'sweep %':>8s}")
    for re in reynolds:
        sel = [r for r in rows if r["re"] == re]
        n = sum(r["window"] for r in sel)
        print(f"{re:8.0e} {n:7d} {100 * sum(r['cold'] for r in sel) / max(n, 1):7.1f} "
              f"{100 * sum(r['sweep'] for r in sel) / max(n, 1):8.1f}")
    n = sum(r["window"] for r in rows)
    print(f"{'all':>8s} {n:7d} {100 * sum(r['cold'] for r in rows) / max(n, 1):7.1f} "
          f"{100 * sum(r['sweep'] for r in rows) / max(n, 1):8.1f}")
    if args.json:
        args.json.write_text(json.dumps(rows, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
