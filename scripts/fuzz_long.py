#!/usr/bin/env python3
"""Long fuzz run, by hand: random calls of all nine _velaro functions, each
in a forked child process with a timeout. Counts crashes (the child dies by a
signal), hangs (timeout), unexpected exceptions, and non-finite or absurd
values reported as success; prints the seeds of every finding so that a case
can be replayed with --replay NAME:SEED.

  PYTHONPATH=build-py python3 scripts/fuzz_long.py --minutes 5
"""

import argparse
import collections
import multiprocessing as mp
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
import fuzz_cases  # noqa: E402


def child(conn, seed, tmpdir):
    name, args, kwargs = fuzz_cases.random_case(seed, tmpdir)
    conn.send((name,) + fuzz_cases.run_case(name, args, kwargs))
    conn.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--minutes", type=float, default=5.0)
    ap.add_argument("--timeout", type=float, default=30.0, help="seconds per case")
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--replay", help="NAME:SEED of one case to run in this process")
    opts = ap.parse_args()
    if opts.replay:
        _, seed = opts.replay.split(":")
        with tempfile.TemporaryDirectory() as tmp:
            name, args, kwargs = fuzz_cases.random_case(int(seed), tmp)
            print(name, kwargs, fuzz_cases.run_case(name, args, kwargs))
        return 0

    ctx = mp.get_context("fork")
    counts = collections.Counter()
    per_function = collections.Counter()
    findings = []
    end = time.monotonic() + 60 * opts.minutes
    seed = opts.seed
    with tempfile.TemporaryDirectory() as tmp:
        while time.monotonic() < end:
            seed += 1
            parent, conn = ctx.Pipe(duplex=False)
            p = ctx.Process(target=child, args=(conn, seed, tmp))
            p.start()
            conn.close()
            got = parent.poll(opts.timeout)
            if got:
                try:
                    name, status, detail = parent.recv()
                except EOFError:
                    got = False
            if not got:
                p.join(1.0)
                if p.is_alive():
                    p.kill()
                    p.join()
                    name, status, detail = fuzz_cases.random_case(seed)[0], "hang", f"no answer in {opts.timeout} s"
                else:
                    name, status, detail = fuzz_cases.random_case(seed)[0], "crash", f"exit code {p.exitcode}"
            else:
                p.join()
            parent.close()
            counts[status] += 1
            per_function[name] += 1
            if detail == "unconverged absurd":
                counts["unconverged absurd (reported converged=False)"] += 1
            if status not in ("ok", "raised"):
                findings.append((status, name, seed, detail))
                print(f"{status}: {name} seed {seed}: {detail}", flush=True)
    total = sum(per_function.values())
    print(f"\n{total} cases from seed {opts.seed + 1}")
    for k, v in sorted(counts.items()):
        print(f"  {k}: {v}")
    print("  per function: " + ", ".join(f"{k} {v}" for k, v in sorted(per_function.items())))
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
