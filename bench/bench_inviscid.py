"""Timing of the inviscid entry points (medians over repeated runs).

Run with the module on the path, e.g.
    PYTHONPATH=build-py python3 bench/bench_inviscid.py
"""

import argparse
import os
import statistics
import time

import _velaro


def flat(points):
    return [v for p in points for v in p]


def median_seconds(fn, repeats):
    fn()  # warm-up (pool creation, page faults)
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=15)
    args = parser.parse_args()

    naca = flat(_velaro.generate_naca4(2412))  # 245 points
    contours = {"245 nodes": naca}
    if hasattr(_velaro, "repanel_kelvo"):
        repaneled = _velaro.repanel_kelvo(naca, 160)
        contours[f"{len(repaneled)} nodes (repaneled)"] = flat(repaneled)
    else:
        contours["161 nodes"] = flat(_velaro.generate_naca4(2412, 81))

    print(f"processors available: {len(os.sched_getaffinity(0))}")
    for name, coords in contours.items():
        t = median_seconds(lambda: _velaro.analyze_inviscid(coords, 4.0), args.repeats)
        print(f"analyze_inviscid, {name}: {t * 1e3:.2f} ms")

    alphas = [-10.0 + 0.5 * k for k in range(41)]
    t_single = median_seconds(lambda: [_velaro.analyze_inviscid(naca, a) for a in alphas], max(3, args.repeats // 3))
    t_batch = median_seconds(lambda: _velaro.analyze_inviscid_batch(naca, alphas), max(3, args.repeats // 3))
    print(f"41 single calls, 245 nodes: {t_single * 1e3:.1f} ms")
    print(f"41-angle batch, 245 nodes:  {t_batch * 1e3:.1f} ms")
    print(f"pool speed-up: {t_single / t_batch:.2f}x")


if __name__ == "__main__":
    main()
