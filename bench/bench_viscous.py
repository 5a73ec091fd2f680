"""Timing of the viscous analysis: one converged point and a 41-angle batch.

Run with the module on PYTHONPATH:  python3 bench/bench_viscous.py [repeats]
Reports medians of repeated runs for a 160-node NACA 2412 at Re 1e6.
"""

import statistics
import sys
import time

import _velaro


def section():
    raw = [v for p in _velaro.generate_naca4(2412) for v in p]
    return [v for p in _velaro.repanel_kelvo(raw, 160) for v in p]


def median_time(fn, repeats):
    times = []
    result = None
    for _ in range(repeats):
        t0 = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times), result


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    coords = section()
    print(f"NACA 2412, {len(coords) // 2} nodes, Re 1e6, {repeats} repeats (medians)")

    t, d = median_time(lambda: _velaro.analyze_faithful(coords, 4.0), repeats)
    print(f"single point alpha 4: {t * 1e3:8.2f} ms, {d['iterations']} iterations, "
          f"{t * 1e3 / max(d['iterations'], 1):6.2f} ms/iteration, converged {d['converged']}, "
          f"cl {d['cl']:.4f} cd {d['cd']:.5f}")

    alphas = [-8.0 + 0.5 * k for k in range(41)]
    t_batch, batch = median_time(lambda: _velaro.analyze_faithful_batch(coords, alphas), max(1, repeats // 2))
    t_single, _ = median_time(lambda: [_velaro.analyze_faithful(coords, a) for a in alphas], max(1, repeats // 2))
    converged = sum(1 for b in batch if b["converged"])
    iterations = statistics.median(b["iterations"] for b in batch)
    print(f"41 angles -8..12: batch {t_batch * 1e3:9.1f} ms, 41 single calls {t_single * 1e3:9.1f} ms, "
          f"speed-up {t_single / t_batch:4.2f}x, {converged}/41 converged, median {iterations} iterations, "
          f"{t_batch * 1e3 / 41:6.2f} ms per point in the batch")


if __name__ == "__main__":
    main()
