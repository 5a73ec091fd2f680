"""Random inputs for all nine _velaro functions and the checks a result must
pass, shared by the hypothesis suite (test_fuzz.py) and the long run by hand
(scripts/fuzz_long.py)."""

import math
import random

import _velaro

# What each function may raise for bad arguments; anything else is a fault.
ALLOWED = {
    "analyze_inviscid": (TypeError, OverflowError),
    "analyze_inviscid_batch": (TypeError, OverflowError),
    "analyze_faithful": (TypeError, OverflowError),
    "analyze_faithful_batch": (TypeError, OverflowError),
    "get_bl_distribution": (TypeError, OverflowError),
    "generate_naca4": (TypeError, OverflowError, ValueError),
    "repanel_kelvo": (TypeError, OverflowError, ValueError, MemoryError),
    "deflect_flap": (TypeError, OverflowError),
    "parse_dat_file": (TypeError, OSError, ValueError),
}

FUNCTIONS = sorted(ALLOWED)


class BadFloat:
    def __float__(self):
        raise RuntimeError("no float for you")


class BadIndex:
    def __index__(self):
        raise RuntimeError("no index for you")


def flat(points):
    return [v for p in points for v in p]


SPECIAL = [0.0, -0.0, 1.0, -1.0, 1e-300, -1e-300, 1e300, -1e300, math.inf, -math.inf, math.nan, 5e-324]


def weird_scalar(rng):
    r = rng.random()
    if r < 0.4:
        return rng.choice(SPECIAL)
    if r < 0.8:
        return rng.uniform(-1e3, 1e3) * 10 ** rng.randint(-8, 3)
    return rng.choice([BadFloat(), BadIndex(), "1.0", None, (1.0,), 3, True, -7])


def section(rng):
    """A NACA section, possibly repaneled, flapped, reversed, rotated, noisy,
    closed, scaled, or cut: mostly valid, sometimes not."""
    d = rng.choice([12, 2412, 4412, 6409, 24, 1, 9, 4424, 8830])
    pts = _velaro.generate_naca4(d, rng.choice([4, 8, 20, 40, 60]))
    r = rng.random()
    if r < 0.15:
        pts = _velaro.repanel_kelvo(flat(pts), rng.choice([3, 20, 60, 120]))
    elif r < 0.3:
        out = _velaro.deflect_flap(flat(pts), rng.uniform(0.2, 0.95), rng.uniform(-40, 40))
        pts = out or pts
    if rng.random() < 0.1:
        pts = pts[::-1]
    if rng.random() < 0.1:
        k = rng.randrange(len(pts))
        pts = pts[k:] + pts[:k]
    if rng.random() < 0.1:
        pts = pts + [pts[0]]
    if rng.random() < 0.2:
        s = rng.uniform(0.0, 0.05)
        pts = [(x + rng.gauss(0, s), y + rng.gauss(0, s)) for x, y in pts]
    if rng.random() < 0.1:
        f = 10 ** rng.uniform(-6, 6)
        pts = [(x * f, y * f) for x, y in pts]
    if rng.random() < 0.05:
        pts = pts[: rng.randint(0, len(pts))]
    c = flat(pts)
    if rng.random() < 0.05 and c:
        c[rng.randrange(len(c))] = weird_scalar(rng)
    if rng.random() < 0.03:
        c = c[:-1]
    return c


def coords(rng):
    r = rng.random()
    if r < 0.8:
        return section(rng)
    if r < 0.9:
        return [rng.uniform(-2, 2) for _ in range(2 * rng.randint(0, 12))]
    return rng.choice([[], "1 2 3", None, [(1.0, 0.0)], 7, [1.0] * 6, [0.0] * 8])


def alphas(rng):
    if rng.random() < 0.1:
        return rng.choice([[], "0", None, [BadFloat()]])
    return [rng.choice([rng.uniform(-20, 20), weird_scalar(rng)]) if rng.random() < 0.2 else rng.uniform(-15, 15)
            for _ in range(rng.randint(0, 3))]


def viscous_kwargs(rng):
    kw = {}
    if rng.random() < 0.5:
        kw["reynolds"] = rng.choice([1e5, 1e6, 3e6, weird_scalar(rng)])
    if rng.random() < 0.3:
        kw["mach"] = rng.choice([0.0, 0.3, 0.7, 0.99, 1.0, weird_scalar(rng)])
    if rng.random() < 0.3:
        kw["ncrit"] = rng.choice([9.0, 0.0, 1e-3, 30.0, weird_scalar(rng)])
    kw["max_iterations"] = rng.choice([1, 3, 8, 0, 15]) if rng.random() < 0.95 else weird_scalar(rng)
    if rng.random() < 0.2:
        kw["re_type"] = rng.choice([0, 1, 2, 3, 7, 255, 256, -1])
    return kw


def make_case(rng, name, tmpdir=None):
    """(args, kwargs) for one call of `name`."""
    if name == "analyze_inviscid":
        return (coords(rng), rng.choice([rng.uniform(-20, 20), weird_scalar(rng)])), {}
    if name == "analyze_inviscid_batch":
        return (coords(rng), alphas(rng)), {}
    if name in ("analyze_faithful", "get_bl_distribution"):
        a = rng.uniform(-10, 15) if rng.random() < 0.8 else weird_scalar(rng)
        return (coords(rng), a), viscous_kwargs(rng)
    if name == "analyze_faithful_batch":
        a = alphas(rng)
        return (coords(rng), a[:2] if isinstance(a, list) else a), viscous_kwargs(rng)
    if name == "generate_naca4":
        d = rng.choice([12, 2412, 0, 9999, 12345, 4294967295, 4294967296, -1, rng.randint(0, 99999), "2412", 2.5])
        n = rng.choice([None, 1, 2, 5, 123, 0, -3, 2000, BadIndex()])
        return (d, n), {}
    if name == "repanel_kelvo":
        kw = {}
        if rng.random() < 0.5:
            kw["n_panels"] = rng.choice([0, 1, 2, 3, 10, 160, 500, -1, 2.0, 10**20])
        for k in ("curv_param", "te_le_ratio", "te_spacing_ratio"):
            if rng.random() < 0.2:
                kw[k] = weird_scalar(rng)
        return (coords(rng),), kw
    if name == "deflect_flap":
        h = rng.uniform(-0.5, 1.5) if rng.random() < 0.8 else weird_scalar(rng)
        a = rng.uniform(-90, 90) if rng.random() < 0.8 else weird_scalar(rng)
        kw = {"hinge_y_frac": rng.uniform(-1, 2)} if rng.random() < 0.3 else {}
        return (coords(rng), h, a), kw
    if name == "parse_dat_file":
        r = rng.random()
        if r < 0.1 or tmpdir is None:
            return (rng.choice(["/nonexistent.dat", "/dev/null", "/", "", "a\0b", None, 7]),), {}
        path = f"{tmpdir}/case{rng.randrange(10**9)}.dat"
        text = random_dat_text(rng)
        with open(path, "wb") as f:
            f.write(text)
        return (path,), {}
    raise ValueError(name)


def random_dat_text(rng):
    lines = [rng.choice(["NACA 2412", "61. 61.", ""])]
    for _ in range(rng.randint(0, 30)):
        lines.append(" ".join(rng.choice(["1.0", "-0.5e-3", "nan", "inf", "x", "1d0", "0.25", "\t", "1e400"])
                              for _ in range(rng.randint(0, 4))))
    sep = rng.choice(["\n", "\r\n", "\r"])
    data = sep.join(lines).encode()
    if rng.random() < 0.2:
        data = b"\xef\xbb\xbf" + data
    if rng.random() < 0.1:
        data += bytes([rng.randrange(256) for _ in range(8)])
    return data


def _finite(v):
    return isinstance(v, float) and math.isfinite(v)


def check_result(name, args, result):
    """Problems with a returned result (an empty list when it is fine)."""
    problems = []

    def analysis_dict(d):
        if d.get("success") is not True:
            if not isinstance(d.get("error"), str) or not d["error"]:
                problems.append(f"failure without an error text: {d!r}"[:300])
            return
        for k, v in d.items():
            if isinstance(v, float) and not math.isfinite(v):
                problems.append(f"non-finite {k} reported as success")
            if isinstance(v, list) and not all(map(_finite, v)):
                problems.append(f"non-finite value in {k} reported as success")
        # Plausibility is asked of converged viscous results and of inviscid
        # ones; a viscous run that stopped unconverged says so in
        # "converged" and is counted apart (see unconverged_absurd).
        if d.get("converged") is False:
            return
        size = extent(args[0])
        if "cl" in d and abs(d["cl"]) > 50 * max(1.0, size):
            problems.append(f"absurd cl {d['cl']} for a contour {size} wide")
        if "cd" in d and not (-1e-3 <= d["cd"] < 10):
            problems.append(f"absurd cd {d['cd']}")

    if name in ("analyze_inviscid", "analyze_faithful", "get_bl_distribution"):
        analysis_dict(result)
    elif name in ("analyze_inviscid_batch", "analyze_faithful_batch"):
        if len(result) != len(args[1]):
            problems.append("batch length differs from the angle count")
        for d in result:
            analysis_dict(d)
    else:
        if not isinstance(result, list):
            problems.append("geometry result is not a list")
        elif name != "parse_dat_file" and not all(_finite(x) and _finite(y) for x, y in result):
            problems.append("non-finite point in a geometry result")
    return problems


def unconverged_absurd(name, args, result):
    """True for an unconverged viscous success whose cl or cd is absurd."""
    ds = result if isinstance(result, list) else [result]
    size = extent(args[0])
    for d in ds:
        if isinstance(d, dict) and d.get("success") and d.get("converged") is False:
            if abs(d.get("cl", 0.0)) > 50 * max(1.0, size) or not (-1e-3 <= d.get("cd", 0.0) < 10):
                return True
    return False


def extent(c):
    try:
        xs = [float(v) for v in c[0::2]]
        ys = [float(v) for v in c[1::2]]
        return max(max(xs) - min(xs), max(ys) - min(ys))
    except Exception:
        return 1.0


def run_case(name, args, kwargs):
    """(status, detail): ok, allowed exception, or a problem."""
    try:
        result = getattr(_velaro, name)(*args, **kwargs)
    except ALLOWED[name] as e:
        return "raised", type(e).__name__
    except RuntimeError as e:
        # The argument's own __float__ or __index__ failed: its exception
        # comes through, as from Python's float() and operator.index().
        if str(e) in ("no float for you", "no index for you"):
            return "raised", "RuntimeError"
        return "unexpected exception", f"RuntimeError: {e}"[:300]
    except Exception as e:  # noqa: BLE001 - anything else is a finding
        return "unexpected exception", f"{type(e).__name__}: {e}"[:300]
    problems = check_result(name, args, result)
    if problems:
        return "bad result", "; ".join(problems)
    if unconverged_absurd(name, args, result):
        return "ok", "unconverged absurd"
    return "ok", ""


def random_case(seed, tmpdir=None):
    rng = random.Random(seed)
    name = rng.choice(FUNCTIONS)
    args, kwargs = make_case(rng, name, tmpdir)
    return name, args, kwargs
