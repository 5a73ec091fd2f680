"""Speed of the main cases beside an in-run floor, growth with the node count, peak memory.

Run with the module (and, for the floor and the set-up timings, the
benchmark helper library) built in one build directory:

    cmake -S . -B build-py -G Ninja -DVELARO_BUILD_PYTHON=ON -DVELARO_BUILD_BENCH=ON \\
          -Dpybind11_DIR=$(python3 -m pybind11 --cmakedir)
    cmake --build build-py --target _velaro velaro_bench_native -j2
    PYTHONPATH=build-py:python python3 bench/bench_speed.py

Every figure is a median of repeated runs. Single-point cases report wall
clock and the CPU time of the process (the point runs on one thread; CPU
time is less disturbed by other load on a shared machine); batch and sweep
cases report wall clock.

The floor is measured in this process with the engine's build flags, by the
helper library: a partial-pivot LU of a dense 161^2 matrix, its solve for
185 right-hand sides, and a 161^2 fill with one log and one atan2 per pair.
Their sum F is the dense work one 160-node viscous point cannot avoid; each
case is printed as a ratio to F (batch and sweep: to the points' share of F
on the cores used), the figure that carries from machine to machine.
"""

from __future__ import annotations

import argparse
import ctypes
import math
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

import _velaro


def flat(points):
    return [v for p in points for v in p]


def naca2412(n: int) -> list[float]:
    return flat(_velaro.repanel_kelvo(flat(_velaro.generate_naca4(2412)), n))


def timed(fn, repeats: int, warm: bool = True):
    """Median wall and process-CPU milliseconds of fn over repeats runs, and fn's last result."""
    result = fn() if warm else None
    wall, cpu = [], []
    for _ in range(repeats):
        c0, w0 = time.process_time(), time.perf_counter()
        result = fn()
        wall.append(time.perf_counter() - w0)
        cpu.append(time.process_time() - c0)
    return statistics.median(wall) * 1e3, statistics.median(cpu) * 1e3, result


def load_native(path: str | None):
    candidates = [Path(path)] if path else [Path(_velaro.__file__).parent / "libvelaro_bench_native.so"]
    for c in candidates:
        if c.exists():
            lib = ctypes.CDLL(str(c))
            lib.vb_floor.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_double)]
            lib.vb_setup.argtypes = [ctypes.POINTER(ctypes.c_double), ctypes.c_int, ctypes.c_double, ctypes.c_int,
                                     ctypes.POINTER(ctypes.c_double)]
            lib.vb_setup.restype = ctypes.c_int
            lib.vb_kernels.restype = ctypes.c_char_p
            return lib
    return None


def native_floor(lib, repeats: int) -> dict[str, tuple[float, float]]:
    out = (ctypes.c_double * 6)()
    lib.vb_floor(160, 185, repeats, out)
    return {"LU 161^2": (out[0], out[1]), "solve, 185 rhs": (out[2], out[3]),
            "fill 161^2, log+atan2": (out[4], out[5])}


def native_setup(lib, coords: list[float], repeats: int) -> tuple[float, float]:
    arr = (ctypes.c_double * len(coords))(*coords)
    out = (ctypes.c_double * 2)()
    if lib.vb_setup(arr, len(coords) // 2, 4.0, repeats, out) < 0:
        return math.nan, math.nan
    return out[0], out[1]


def exponent(ns, ts) -> float:
    """Least-squares slope of log t against log n."""
    xs = [math.log(n) for n in ns]
    ys = [math.log(t) for t in ts]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


PEAK_CHILD = r"""
import sys, _velaro
n = int(sys.argv[1])
c = [v for p in _velaro.repanel_kelvo([v for p in _velaro.generate_naca4(2412) for v in p], n) for v in p]
if sys.argv[2] == "run":
    _velaro.analyze_faithful(c, 4.0)
for line in open("/proc/self/status"):
    if line.startswith("VmHWM"):
        print(int(line.split()[1]))
"""


def peak_rss_kib(n: int, run: bool) -> int:
    out = subprocess.run([sys.executable, "-c", PEAK_CHILD, str(n), "run" if run else "idle"],
                         capture_output=True, text=True, check=True, env=os.environ)
    return int(out.stdout.split()[-1])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=9, help="repeats of the single-point cases")
    parser.add_argument("--batch-repeats", type=int, default=3, help="repeats of the batch and the sweep")
    parser.add_argument("--native", help="path of libvelaro_bench_native.so (default: beside _velaro)")
    parser.add_argument("--skip-sweep", action="store_true", help="leave out the polar sweep")
    parser.add_argument("--skip-growth", action="store_true", help="leave out the growth and memory parts")
    args = parser.parse_args()

    lib = load_native(args.native)
    cores = len(os.sched_getaffinity(0))
    print(f"module {_velaro.__file__}")
    print(f"processors available: {cores}; load average {os.getloadavg()[0]:.1f}"
          + (f"; vector kernels {lib.vb_kernels().decode()}" if lib else ""))

    floor_total = None
    if lib:
        print("\nfloor (this process, engine build flags)      wall ms    cpu ms")
        floor = native_floor(lib, max(args.repeats, 21))
        for name, (w, c) in floor.items():
            print(f"  {name:42s} {w:8.3f}  {c:8.3f}")
        floor_total = (sum(w for w, _ in floor.values()), sum(c for _, c in floor.values()))
        print(f"  {'F = sum':42s} {floor_total[0]:8.3f}  {floor_total[1]:8.3f}")
    else:
        print("\n(no libvelaro_bench_native.so: floor and set-up timings left out)")

    def ratio(ms, which, points=1, threads=1):
        if not floor_total:
            return ""
        return f"{ms / (floor_total[which] * points / threads):7.2f} F"

    c160 = naca2412(160)
    print("\ncase                                          wall ms    cpu ms   wall/F    cpu/F")
    w, c, d = timed(lambda: _velaro.analyze_faithful(c160, 4.0), args.repeats)
    print(f"  {'viscous point 2412, 160, Re 1e6, a 4':42s} {w:8.2f}  {c:8.2f}  {ratio(w, 0)}  {ratio(c, 1)}"
          f"   ({d['iterations']} iterations, cl {d['cl']:.4f})")
    if lib:
        w, c = native_setup(lib, c160, args.repeats)
        print(f"  {'  of which set-up (geometry..DIJ)':42s} {w:8.2f}  {c:8.2f}  {ratio(w, 0)}  {ratio(c, 1)}")
    w, c, _ = timed(lambda: _velaro.analyze_inviscid(c160, 4.0), max(args.repeats, 41))
    print(f"  {'inviscid point, 160':42s} {w:8.3f}  {c:8.3f}  {ratio(w, 0)}  {ratio(c, 1)}")
    alphas = [-8.0 + 0.5 * k for k in range(41)]
    w, _, b = timed(lambda: _velaro.analyze_faithful_batch(c160, alphas), args.batch_repeats, warm=False)
    conv = sum(1 for r in b if r["converged"])
    print(f"  {'41-angle cold-start batch, -8..12':42s} {w:8.1f}  {'':8s}  "
          f"{ratio(w, 0, 41, min(cores, 2))}             ({conv}/41 converged, {cores} cores)")
    if not args.skip_sweep:
        try:
            import velaro

            foil = velaro.Airfoil.naca("2412")
            sweep = list(float(a) for a in [-5.0 + 0.25 * k for k in range(101)])
            w, _, pol = timed(lambda: foil.polar(sweep, re=1e6), args.batch_repeats, warm=False)
            print(f"  {'polar sweep -5..20 by 0.25 (package)':42s} {w:8.1f}  {'':8s}  "
                  f"{ratio(w, 0, 101, min(cores, 2))}             ({len(sweep)} points)")
        except ImportError:
            print("  polar sweep: package velaro not importable (add python/ to PYTHONPATH)")

    if not args.skip_growth:
        ns = (120, 160, 240, 320, 480)
        print("\ngrowth        n    viscous wall ms  cpu ms  iterations  cpu/iteration   set-up cpu ms")
        pts, setups, per_it = [], [], []
        for n in ns:
            cn = naca2412(n)
            w, c, d = timed(lambda: _velaro.analyze_faithful(cn, 4.0), 3)
            sw, sc = native_setup(lib, cn, 5) if lib else (math.nan, math.nan)
            it = max(d["iterations"], 1)
            pts.append(c)
            per_it.append(c / it)
            setups.append(sc)
            print(f"          {n:5d}    {w:13.2f}  {c:7.2f}  {it:10d}  {c / it:13.3f}   {sc:13.3f}")
        print(f"  exponents (least squares on log n): viscous point {exponent(ns, pts):.2f}, "
              f"per iteration {exponent(ns, per_it):.2f}"
              + (f", set-up {exponent(ns, setups):.2f}" if lib else ""))

        idle = peak_rss_kib(160, False)
        print(f"\npeak resident memory (VmHWM of a child process): import + contour only {idle / 1024:.1f} MiB")
        for n in (160, 480):
            kib = peak_rss_kib(n, True)
            print(f"  viscous point, {n} nodes: {kib / 1024:.1f} MiB ({(kib - idle) / 1024:+.1f} MiB over idle)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
