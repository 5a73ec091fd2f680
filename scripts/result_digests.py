"""SHA-256 digests of a fixed set of Velaro results, for work that must keep them.

Restructuring and speed work promise unchanged numbers. This script computes
a fixed result set through the public `_velaro` module, prints one SHA-256
digest per group of results (of their JSON, floats written in shortest
round-trip form) and can save the whole set for a tolerance comparison:

    python3 scripts/result_digests.py                     # digests only
    python3 scripts/result_digests.py --save before.json  # digests + the results
    python3 scripts/result_digests.py --compare before.json --rtol 1e-9
    python3 scripts/result_digests.py --compare before.json --rtol 1e-9 --atol 1e-12 --ignore residual

With --compare, every number is checked against the saved set and the worst
relative difference of each group is printed; the exit code is 1 when a group
exceeds the tolerance or its structure differs.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import math
import pathlib
import sys

import _velaro

SECTIONS = (12, 2412, 4412)
POLAR_ALPHAS = [float(a) for a in range(-4, 13)]
INVISCID_ALPHAS = [-4.0, 0.0, 2.5, 8.0]
# Public sections whose trailing edge is closed (sharp), from tests/data.
SHARP_FILES = ("mh32.dat", "e61.dat")
DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"


def flat(points):
    return [v for p in points for v in p]


def repaneled(designation: int, n: int = 160) -> list[float]:
    return flat(_velaro.repanel_kelvo(flat(_velaro.generate_naca4(designation)), n))


def result_groups() -> dict[str, object]:
    groups: dict[str, object] = {}
    contours = {d: repaneled(d) for d in (*SECTIONS, 6409)}

    groups["geometry.naca"] = {str(d): _velaro.generate_naca4(d) for d in (12, 2412, 4412, 6409)}
    groups["geometry.repanel"] = {
        str(d): _velaro.repanel_kelvo(flat(_velaro.generate_naca4(d)), n)
        for d in (12, 2412, 4412) for n in (80, 160)
    }
    groups["geometry.flap"] = {
        f"{d}@{h},{a}": _velaro.deflect_flap(contours[d], h, a)
        for d in (12, 2412) for h, a in ((0.7, 10.0), (0.75, -15.0))
    }
    groups["inviscid"] = {
        str(d): _velaro.analyze_inviscid_batch(contours[d], INVISCID_ALPHAS)
        for d in (12, 2412, 4412, 6409)
    }
    groups["inviscid.raw"] = {
        str(d): _velaro.analyze_inviscid(flat(_velaro.generate_naca4(d)), 3.0) for d in (12, 2412)
    }
    for d in SECTIONS:
        groups[f"viscous.polar.{d}"] = _velaro.analyze_faithful_batch(
            contours[d], POLAR_ALPHAS, reynolds=1.0e6, ncrit=9.0)
    groups["viscous.variants"] = {
        "2412 re3e5 ncrit6": _velaro.analyze_faithful(contours[2412], 3.0, reynolds=3.0e5, ncrit=6.0),
        "4412 re_type2": _velaro.analyze_faithful(contours[4412], 5.0, re_type=2),
        "0012 raw alpha0": _velaro.analyze_faithful(flat(_velaro.generate_naca4(12)), 0.0),
    }
    groups["viscous.mach"] = {
        str(m): _velaro.analyze_faithful(contours[2412], 2.0, mach=m) for m in (0.2, 0.4)
    }
    sharp = {f: flat(_velaro.repanel_kelvo(flat(_velaro.parse_dat_file(str(DATA / f))), 160)) for f in SHARP_FILES}
    groups["viscous.sharp"] = {
        f: _velaro.analyze_faithful_batch(c, [0.0, 4.0, 8.0], reynolds=5.0e5) for f, c in sharp.items()
    }
    groups["bl_distribution"] = {
        "2412@4": _velaro.get_bl_distribution(contours[2412], 4.0),
        "0012@8": _velaro.get_bl_distribution(contours[12], 8.0),
    }
    return groups


def canonical(obj) -> str:
    return json.dumps(obj, separators=(",", ":"), allow_nan=True)


def digest(obj) -> str:
    return hashlib.sha256(canonical(obj).encode()).hexdigest()


def worst_difference(a, b, path="", atol=0.0, ignore=frozenset()) -> tuple[float, str]:
    """Largest relative difference between two JSON-like trees (inf if their shapes differ).

    Differences of at most ``atol`` count as none (values that are zero by
    symmetry carry rounding noise of about 1e-14); dictionary keys in
    ``ignore`` are skipped.
    """
    if isinstance(a, dict) and isinstance(b, dict):
        if list(a) != list(b):
            return math.inf, f"{path}: keys differ"
        return max((worst_difference(a[k], b[k], f"{path}.{k}", atol, ignore) for k in a if k not in ignore),
                   default=(0.0, path))
    if isinstance(a, (list, tuple)) and isinstance(b, (list, tuple)):
        if len(a) != len(b):
            return math.inf, f"{path}: length {len(a)} != {len(b)}"
        return max((worst_difference(x, y, f"{path}[{i}]", atol, ignore) for i, (x, y) in enumerate(zip(a, b))),
                   default=(0.0, path))
    if isinstance(a, bool) or isinstance(b, bool) or not isinstance(a, (int, float)):
        return (0.0, path) if a == b else (math.inf, f"{path}: {a!r} != {b!r}")
    if not isinstance(b, (int, float)):
        return math.inf, f"{path}: {a!r} != {b!r}"
    if math.isnan(a) and math.isnan(b) or a == b or abs(a - b) <= atol:
        return 0.0, path
    scale = max(abs(a), abs(b), 1e-12)
    return abs(a - b) / scale, path


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--save", help="write the full result set as JSON to this file")
    parser.add_argument("--compare", help="compare against a result set saved with --save")
    parser.add_argument("--rtol", type=float, default=0.0, help="relative tolerance for --compare")
    parser.add_argument("--atol", type=float, default=0.0,
                        help="differences of at most this size count as none (for values that are zero by symmetry)")
    parser.add_argument("--ignore", action="append", default=[], metavar="KEY",
                        help="result key left out of --compare (e.g. residual, a convergence measure); repeatable")
    args = parser.parse_args()

    groups = result_groups()
    # Round-trip through JSON so tuples and lists compare alike.
    groups = json.loads(canonical(groups))
    for name, value in groups.items():
        print(f"{digest(value)}  {name}")
    print(f"{digest(groups)}  (all)")

    if args.save:
        with open(args.save, "w", encoding="utf-8") as fh:
            fh.write(canonical(groups))
    status = 0
    if args.compare:
        with open(args.compare, encoding="utf-8") as fh:
            before = json.load(fh)
        for name in sorted(set(before) | set(groups)):
            if name not in before or name not in groups:
                print(f"{name}: only in one set")
                status = 1
                continue
            worst, where = worst_difference(before[name], groups[name], name, args.atol, frozenset(args.ignore))
            flag = "ok" if worst <= args.rtol else "DIFFERS"
            print(f"{flag:7} {name}: worst relative difference {worst:.3g} at {where}")
            if worst > args.rtol:
                status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
