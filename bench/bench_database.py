"""Throughput of velaro.database: points per second with 1 and 2 workers.

Default case: 20 NACA 4-digit sections x 2 Reynolds numbers (1e6, 3e6),
alpha -5 .. 15 deg by 0.5 (41 angles): 40 tasks, 1640 points.

For each worker count a local cluster is started (its start-up time is
reported apart), the database is built into a fresh temporary folder and
timed (after one warm-up task per worker), and the cluster is closed.  Then the same sweeps run one after the
other in this process, on one CPU, with Airfoil.polar; the difference to
the 1-worker build, per task, is the cost of the cluster (scheduling,
shipping the contour and the result, writing the Parquet file).  On a
machine with other load the sweeps themselves run at varying speed, so the
worker time spent outside the sweeps (build time x workers - time in the
sweeps, per task) is printed as well: it does not depend on sweep speed.

    PYTHONPATH=python python3 bench/bench_database.py            # full case
    PYTHONPATH=python python3 bench/bench_database.py --quick    # 2 sections, 1 Re, 5 angles
"""

from __future__ import annotations

import argparse
import os
import sys
import tempfile
import time

from velaro import Airfoil, database

SECTIONS = [
    "0006", "0009", "0010", "0012", "0015", "0018", "0021", "0024", "1408", "1410",
    "1412", "2408", "2410", "2412", "2415", "2418", "4412", "4415", "4418", "6412",
]


def build_timed(sections, res, alpha, workers):
    t0 = time.perf_counter()
    with database._client(None, workers) as client:
        startup = time.perf_counter() - t0
        # One small task per worker first: the first sweep and the first file
        # written pay one-off costs (engine and Parquet start-up).
        with tempfile.TemporaryDirectory(prefix="velaro-bench-db-") as out:
            database.build(sections[:workers], re=res[:1], alpha=alpha[:1], out=out, scheduler=client, progress=False)
        with tempfile.TemporaryDirectory(prefix="velaro-bench-db-") as out:
            t1 = time.perf_counter()
            result = database.build(sections, re=res, alpha=alpha, out=out, scheduler=client, progress=False)
            elapsed = time.perf_counter() - t1
            frame = database.load(out)
    assert result.ok and result.computed == len(sections) * len(res), result.summary()
    return startup, elapsed, result.compute_seconds, int(frame["converged"].sum()), len(frame)


def in_process_timed(sections, res, alpha):
    # One CPU, as one worker of the local cluster has.
    try:
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    except (AttributeError, OSError):
        pass
    airfoils = [Airfoil.naca(s) for s in sections]
    airfoils[0].polar(alpha=alpha[:1], re=res[0])  # the same warm-up
    t0 = time.perf_counter()
    converged = 0
    for af in airfoils:
        for r in res:
            converged += int(af.polar(alpha=alpha, re=r).converged.sum())
    return time.perf_counter() - t0, converged


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--sections", type=int, default=20, help="number of NACA sections (at most 20)")
    p.add_argument("--re", type=float, nargs="+", default=[1e6, 3e6])
    p.add_argument("--alpha", default="-5:15:0.5", help="START:STOP:STEP, degrees")
    p.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    p.add_argument("--quick", action="store_true", help="a tiny case to check that the script works")
    args = p.parse_args(argv)
    if args.quick:
        args.sections, args.re, args.alpha = 2, [1e6], "0:4:1"
    sections = SECTIONS[: max(1, min(args.sections, len(SECTIONS)))]
    alpha = database.parse_angles(args.alpha)
    tasks = len(sections) * len(args.re)
    points = tasks * len(alpha)
    print(f"{len(sections)} sections x {len(args.re)} Re x {len(alpha)} angles = {tasks} tasks, {points} points; "
          f"{len(os.sched_getaffinity(0))} CPUs, load average {os.getloadavg()[0]:.1f}")

    rates = {}
    for n in args.workers:
        startup, elapsed, busy, conv, rows = build_timed(sections, args.re, alpha, n)
        rates[n] = points / elapsed
        # Worker time not spent in sweeps: scheduling, transfers, writing, idling.
        overhead = (elapsed * n - busy) / tasks
        print(f"{n} worker{'s' if n > 1 else ' '}: cluster start {startup:6.1f} s, build {elapsed:7.2f} s, "
              f"{rates[n]:7.1f} points/s, {conv}/{rows} converged; sweeps {busy:7.2f} s of worker time, "
              f"{overhead * 1e3:7.1f} ms per task outside them")
    if 1 in rates:
        for n in args.workers:
            if n > 1:
                print(f"scaling efficiency 1 -> {n} workers: {rates[n] / rates[1] / n:.2f}")

    t_in, conv = in_process_timed(sections, args.re, alpha)
    print(f"in process (1 CPU): {t_in:7.2f} s, {points / t_in:7.1f} points/s, {conv}/{points} converged")
    if 1 in rates:
        t1 = points / rates[1]
        print(f"cluster overhead per task (1 worker against in process): {(t1 - t_in) / tasks * 1e3:8.1f} ms "
              f"({(t1 - t_in) / t_in * 100:+.1f}% of the in-process time)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
