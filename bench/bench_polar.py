"""A whole polar through the velaro package against the cold-start batch.

NACA 2412 repaneled to 160 nodes, Re 1e6, alpha -5 to 20 degrees by 0.25:
``Airfoil.polar`` (the engine's continuation sweep, each point warm-started
from its converged neighbour) against ``_velaro.analyze_faithful_batch`` of
the same angles (every point a cold start, the angles spread over the
worker pool). Prints the wall time, the mean Newton iterations per point
(over the converged points and over all), the converged fraction and how
the sweep reached its points.

Run from the source tree with the modules built:
  PYTHONPATH=build-py:python python3 bench/bench_polar.py
or against an installed package:  python3 bench/bench_polar.py
"""

import collections
import os
import sys
import time

import numpy as np

import _velaro
import velaro


def row(name, seconds, iterations, converged):
    n = len(converged)
    mean_conv = iterations[converged].mean() if converged.any() else float("nan")
    print(f"{name:<28} {seconds:8.2f} {mean_conv:10.1f} {iterations.mean():10.1f} "
          f"{converged.sum():5d}/{n:<4d} {converged.mean():7.1%}")


def main():
    alphas = np.arange(-5.0, 20.0 + 1e-9, 0.25)
    from velaro import _backend

    print(f"velaro from {os.path.dirname(velaro.__file__)}, engine {_backend.ENGINE}, warm start {_backend.WARM_START}")
    af = velaro.Airfoil.naca("2412").repanel(160)
    print(f"NACA 2412, 160 nodes, Re 1e6, alpha {alphas[0]:g} .. {alphas[-1]:g} by 0.25 ({len(alphas)} points), "
          f"{os.cpu_count()} processors")
    print(f"{'':<28} {'time s':>8} {'it/conv':>10} {'it/point':>10} {'converged':>10} {'fraction':>7}")

    t0 = time.perf_counter()
    polar = af.polar(alpha=alphas, re=1e6)
    t_sweep = time.perf_counter() - t0
    row("sweep (package, warm)", t_sweep, np.asarray(polar.iterations), np.asarray(polar.converged))

    coords = af.coordinates.ravel().tolist()
    t0 = time.perf_counter()
    batch = _velaro.analyze_faithful_batch(coords, alphas.tolist(), reynolds=1e6)
    t_batch = time.perf_counter() - t0
    row("cold batch (_velaro)", t_batch, np.array([d["iterations"] for d in batch]),
        np.array([bool(d["success"] and d["converged"]) for d in batch]))

    starts = collections.Counter(polar.start)
    print("sweep starts: " + ", ".join(f"{k} {v}" for k, v in sorted(starts.items())))
    both = np.asarray(polar.converged) & np.array([bool(d["success"] and d["converged"]) for d in batch])
    if both.any():
        dcl = np.abs(np.asarray(polar.cl) - np.array([d["cl"] for d in batch]))
        dcl[~both] = 0.0
        k = int(np.argmax(dcl))
        small = np.median(dcl[both])
        print(f"|cl difference| where both converged: median {small:.1e}, largest {dcl[k]:.2e} "
              f"at alpha {alphas[k]:g} (sweep {polar.cl[k]:.4f}, cold {batch[k]['cl']:.4f})")
    print(f"sweep: cl_max {polar.cl_max:.4f} at alpha {polar.alpha_cl_max:.2f} deg")
    return 0


if __name__ == "__main__":
    sys.exit(main())
