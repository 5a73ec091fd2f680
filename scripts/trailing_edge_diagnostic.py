"""Sharp versus open trailing edges in the viscous analysis.

Two reports, both built only on the public `_velaro` functions:

    python3 scripts/trailing_edge_diagnostic.py polars [--sections mh32 e61] [--re 2e5 5e5 1e6]
        Runs the sections of tests/data (repaneled to 160 nodes, ncrit 9, M 0)
        at the integer angles of tests/data/reference_polars.md from -1 deg
        to the angle of maximum cl, and prints per polar: cl RMS, mean cl
        error, cd RMS (relative), max |cm error| and the converged count;
        then the same cl and cd figures over the points whose transition
        points agree with the published ones (upper within 0.01, lower within
        0.02 chord). Misses at angles where the laminar bubble moves (and
        transition with it) dominate the full figures and say nothing about
        the trailing edge; the second set isolates the rest. --gap opens the
        closed edge first (the open treatment at a small gap), as the gap
        report does.

    python3 scripts/trailing_edge_diagnostic.py gap [--section e61] [--alpha 4] [--re 1e6]
        Opens the closed trailing edge of a section by a sequence of gaps that
        shrink towards zero (both end points moved apart along the normal to
        the chord, the leading edge fixed) and prints cl, cd, cm and, station
        by station over the last stations of both surfaces, the edge velocity
        and displacement thickness. A consistent sharp treatment continues the
        open results smoothly as the gap goes to zero; a step between the gaps
        just above and just below the 1e-4-chord sharp threshold points at the
        sharp-edge path.

    python3 scripts/trailing_edge_diagnostic.py threshold [--sections mh32 e61] [--alphas 0 4 8]
        The size of that step: cl, cd and cm with the edge opened by 1.01e-4
        (open treatment) and 0.99e-4 chord (sharp treatment) and closed, per
        section, Reynolds number and angle.

    python3 scripts/trailing_edge_diagnostic.py geometry [--sections mh32 e61]
        The contour the analyses see: checks of the raw file (coincident and
        near-coincident points, the shortest and longest segments, the
        sharpest turns, x monotone on each surface), the repaneled contour
        against an independent implementation of the curvature-based
        repaneling written from its description (largest node difference),
        the trailing-edge wedge (panel lengths, included angle, whether the
        bisector control point lies inside it) and the inviscid cl and cm at
        160, 200, 300 and 400 nodes.

    python3 scripts/trailing_edge_diagnostic.py bubble [--section e61] [--re 1e6] [--alphas 4 5]
        The upper-surface laminar layer from the stagnation point to
        transition, station by station: edge speed, theta, Hk, Rtheta, the
        amplification exponent, the local amplification rate and each
        interval's increment. A short leading-edge bubble (Hk well above 3.5
        over one or two stations) adds several units of amplification in a
        few thousandths of a chord; the summary gives the exponent after the
        leading-edge region and the transition point against the published
        one.

    python3 scripts/trailing_edge_diagnostic.py conditioning [--sections e61] [--re ..] [--noise 1e-7] [--copies 5]
        How well each published point is posed for this comparison: the
        spread (max - min) of cl over copies of the repaneled contour with
        independent random perturbations of size --noise added to every
        coordinate. Points whose spread is comparable to the target (0.0015)
        measure the ill-conditioning of the flow (a bursting bubble at
        maximum lift), not the method.

    python3 scripts/trailing_edge_diagnostic.py leading-edge [--section e61] [--re 2e5 1e6] [--alphas 1 4 5 6 7]
        The same published points with the raw file interpolated differently
        between its points before the repaneling (chord-length spline sampled
        densely, centripetal and uniform parametrisations). Where a file
        resolves its leading edge coarsely, the shape between its points is
        not fixed by the data; the inviscid cl barely moves, but a short
        leading-edge bubble, and with it the transition point, can.
"""

from __future__ import annotations

import argparse
import math
import pathlib
import re
import sys

import numpy as np

import _velaro

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"


def flat(points):
    return [v for p in points for v in p]


def section_coords(name: str, nodes: int = 160) -> list[float]:
    raw = _velaro.parse_dat_file(str(DATA / f"{name}.dat"))
    return flat(_velaro.repanel_kelvo(flat(raw), nodes))


def read_reference_polars(path: pathlib.Path = DATA / "reference_polars.md") -> dict:
    """{(section, reynolds): {"max_cl_alpha": a, "rows": [(alpha, cl, cd, cm, xtu, xtl), ...]}}"""
    polars: dict = {}
    key = None
    head = re.compile(r"^## (\w+)\.dat, Re ([0-9.e+]+) \(max cl [0-9.]+ at ([-0-9.]+) deg\)")
    for line in path.read_text().splitlines():
        m = head.match(line)
        if m:
            key = (m.group(1), float(m.group(2)))
            polars[key] = {"max_cl_alpha": float(m.group(3)), "rows": []}
            continue
        if key and line.startswith("|") and not line.startswith("|-") and "alpha" not in line:
            cells = [c.strip() for c in line.strip("|").split("|")]
            polars[key]["rows"].append(tuple(float(c) for c in cells))
    return polars


# Transition points that agree with the published ones, in chords.
XTR_AGREE_UPPER = 0.01
XTR_AGREE_LOWER = 0.02


def compare_polar(coords, rows, reynolds, max_iterations=100):
    alphas = [r[0] for r in rows]
    results = _velaro.analyze_faithful_batch(coords, alphas, reynolds=reynolds, mach=0.0, ncrit=9.0,
                                             max_iterations=max_iterations)
    dcl, dcd, dcm, agree, conv, points = [], [], [], [], 0, []
    for ref, res in zip(rows, results):
        ok = res["success"] and res["converged"]
        points.append((ref, res))
        if not ok:
            continue
        conv += 1
        dcl.append(res["cl"] - ref[1])
        dcd.append(res["cd"] / ref[2] - 1.0)
        dcm.append(res["cm"] - ref[3])
        if abs(res["x_tr_upper"] - ref[4]) <= XTR_AGREE_UPPER and abs(res["x_tr_lower"] - ref[5]) <= XTR_AGREE_LOWER:
            agree.append((dcl[-1], dcd[-1]))

    def rms(values):
        return math.sqrt(sum(v * v for v in values) / len(values)) if values else float("nan")

    summary = {
        "n": len(rows),
        "converged": conv,
        "cl_rms": rms(dcl),
        "cl_mean": sum(dcl) / len(dcl) if dcl else float("nan"),
        "cd_rms": rms(dcd),
        "cm_max": max((abs(d) for d in dcm), default=float("nan")),
        "agree": len(agree),
        "agree_cl_rms": rms([a for a, _ in agree]),
        "agree_cl_mean": sum(a for a, _ in agree) / len(agree) if agree else float("nan"),
        "agree_cd_rms": rms([b for _, b in agree]),
    }
    return summary, points


def selected_polars(args):
    """The published polars the command line selects (--sections, --re), each
    with its rows from -1 degree to the angle of maximum lift."""
    for (name, reynolds), polar in read_reference_polars().items():
        if args.sections and name not in args.sections:
            continue
        if args.re and not any(abs(reynolds - r) < 1.0 for r in args.re):
            continue
        yield name, reynolds, [r for r in polar["rows"] if -1.0 <= r[0] <= polar["max_cl_alpha"]]


def polars_report(args):
    print(f"{'polar':<16}{'pts':>4}{'conv':>5}{'cl rms':>9}{'cl mean':>9}{'cd rms':>8}{'max|dcm|':>9}"
          f"   | xtr agree:{'pts':>4}{'cl rms':>9}{'cl mean':>9}{'cd rms':>8}")
    for name, reynolds, rows in selected_polars(args):
        coords = section_coords(name)
        if args.gap > 0:
            coords = opened(coords, args.gap)
        s, points = compare_polar(coords, rows, reynolds)
        print(f"{name + ' ' + format(reynolds, '.0e'):<16}{s['n']:>4}{s['converged']:>5}{s['cl_rms']:>9.4f}"
              f"{s['cl_mean']:>+9.4f}{100 * s['cd_rms']:>7.2f}%{s['cm_max']:>9.4f}"
              f"   |           {s['agree']:>4}{s['agree_cl_rms']:>9.4f}{s['agree_cl_mean']:>+9.4f}{100 * s['agree_cd_rms']:>7.2f}%")
        if args.verbose:
            for ref, res in points:
                print(f"    a={ref[0]:>5.1f} cl {res['cl']:.4f} ({res['cl'] - ref[1]:+.4f})"
                      f" cd {res['cd']:.5f} ({100 * (res['cd'] / ref[2] - 1):+.1f}%)"
                      f" cm {res['cm']:+.4f} ({res['cm'] - ref[3]:+.4f})"
                      f" xtr {res['x_tr_upper']:.3f}/{res['x_tr_lower']:.3f} ref {ref[4]:.3f}/{ref[5]:.3f}"
                      f" conv {res['converged']} it {res['iterations']}")


def opened(coords: list[float], gap: float) -> list[float]:
    """The contour with its trailing-edge points moved apart by `gap` (in chords).

    Each point is moved along y by +-gap/2 times x/x_te of its position
    (measured from the leading-edge x), upper surface up, lower down: a linear
    thickening that leaves the leading edge where it is and opens the edge by
    exactly `gap` when the edge was closed.
    """
    xs = coords[0::2]
    ys = coords[1::2]
    n = len(xs)
    ile = min(range(n), key=lambda i: xs[i])
    x_le = xs[ile]
    x_te = 0.5 * (xs[0] + xs[-1])
    out = []
    for i, (x, y) in enumerate(zip(xs, ys)):
        t = (x - x_le) / (x_te - x_le)
        sign = 1.0 if i < ile else (-1.0 if i > ile else 0.0)
        out += [x, y + sign * 0.5 * gap * t]
    return out


def gap_report(args):
    base = section_coords(args.section)
    gaps = [float(g) for g in args.gaps]
    tail = args.stations
    print(f"{args.section}, alpha {args.alpha}, Re {args.re:.0e}")
    dists = []
    for gap in gaps:
        coords = opened(base, gap) if gap > 0 else base
        d = _velaro.get_bl_distribution(coords, args.alpha, reynolds=args.re, mach=0.0, ncrit=9.0,
                                        max_iterations=args.max_iterations)
        r = _velaro.analyze_faithful(coords, args.alpha, reynolds=args.re, mach=0.0, ncrit=9.0,
                                     max_iterations=args.max_iterations)
        inv = _velaro.analyze_inviscid(coords, args.alpha)
        dists.append((gap, d, r, inv))
        print(f"gap {gap:9.3e}: cl {r['cl']:.5f} cd {r['cd']:.6f} cm {r['cm']:+.5f} inviscid cl {inv['cl']:.5f}"
              f" xtr {r['x_tr_upper']:.4f}/{r['x_tr_lower']:.4f} conv {r['converged']} it {r['iterations']}")
    for side in ("upper", "lower"):
        print(f"\n{side} surface, last {tail} stations (trailing edge last): ue / delta*")
        for gap, d, _, _ in dists:
            ue = d[f"ue_{side}"][-tail:]
            ds = d[f"delta_star_{side}"][-tail:]
            cells = " ".join(f"{u:.4f}/{s:.5f}" for u, s in zip(ue, ds))
            print(f"  gap {gap:9.3e}: {cells}")


def threshold_jumps(name, alphas, reynolds, gaps=(1.01e-4, 0.99e-4, 0.0)):
    """{gap: batch results} for the section opened by each gap."""
    base = section_coords(name)
    out = {}
    for gap in gaps:
        coords = opened(base, gap) if gap > 0 else base
        out[gap] = _velaro.analyze_faithful_batch(coords, alphas, reynolds=reynolds, mach=0.0, ncrit=9.0)
    return out


def threshold_report(args):
    print(f"{'section':<8}{'Re':>7}{'alpha':>6}{'cl open':>9}{'cl sharp':>9}{'jump':>8}{'cl closed':>10}"
          f"{'cd jump':>9}{'cm jump':>9}")
    for name in args.sections:
        for reynolds in args.re:
            res = threshold_jumps(name, args.alphas, reynolds)
            for i, alpha in enumerate(args.alphas):
                o, s, c = res[1.01e-4][i], res[0.99e-4][i], res[0.0][i]
                flag = "" if (o["converged"] and s["converged"] and c["converged"]) else "  (not converged)"
                print(f"{name:<8}{reynolds:>7.0e}{alpha:>6.1f}{o['cl']:>9.4f}{s['cl']:>9.4f}{s['cl'] - o['cl']:>+8.4f}"
                      f"{c['cl']:>10.4f}{s['cd'] / o['cd'] - 1:>+8.1%}{s['cm'] - o['cm']:>+9.4f}{flag}")


# ---- Independent repaneling --------------------------------------------------------
#
# The curvature-based repaneling written again from its description, in plain
# numpy, to check the engine's contour node for node. Kept deliberately
# literal: loops and names follow the description's steps.


def _natural_spline(t, y):
    """Coefficients (a, b, c, d) per segment of the natural cubic spline."""
    n = len(t)
    h = np.diff(t)
    c = np.zeros(n)
    if n >= 3:
        m = n - 2
        diag = np.array([2.0 * (h[j] + h[j + 1]) for j in range(m)])
        rhs = np.array([3.0 * ((y[j + 2] - y[j + 1]) / h[j + 1] - (y[j + 1] - y[j]) / h[j]) for j in range(m)])
        lo, z = np.zeros(m), np.zeros(m)
        lo[0] = h[1] / diag[0] if m > 1 else 0.0
        z[0] = rhs[0] / diag[0]
        for k in range(1, m):
            piv = diag[k] - lo[k - 1] * h[k]
            lo[k] = h[k + 1] / piv if k < m - 1 else 0.0
            z[k] = (rhs[k] - h[k] * z[k - 1]) / piv
        cc = np.zeros(m)
        cc[m - 1] = z[m - 1]
        for k in range(m - 2, -1, -1):
            cc[k] = z[k] - lo[k] * cc[k + 1]
        c[1:n - 1] = cc
    b = np.array([(y[j + 1] - y[j]) / h[j] - h[j] * (2.0 * c[j] + c[j + 1]) / 3.0 for j in range(n - 1)])
    d = np.array([(c[j + 1] - c[j]) / (3.0 * h[j]) for j in range(n - 1)])
    return y[:-1].copy(), b, c[:-1], d


def _natural_value(t, coeffs, u):
    a, b, c, d = coeffs
    j = min(max(int(np.searchsorted(t, u, side="right")) - 1, 0), len(t) - 2)
    w = u - t[j]
    return d[j] * w ** 3 + (c[j] * w ** 2 + (b[j] * w + a[j]))


def _slopes(s, x):
    """Knot slopes of the cubic with zero third derivative at both ends."""
    n = len(s)
    lo, di, up, r = np.zeros(n), np.zeros(n), np.zeros(n), np.zeros(n)
    for i in range(1, n - 1):
        dsm, dsp = s[i] - s[i - 1], s[i + 1] - s[i]
        lo[i], di[i], up[i] = dsp, 2.0 * (dsm + dsp), dsm
        r[i] = 3.0 * ((x[i + 1] - x[i]) * dsm / dsp + (x[i] - x[i - 1]) * dsp / dsm)
    di[0], up[0], r[0] = 1.0, 1.0, 2.0 * (x[1] - x[0]) / (s[1] - s[0])
    lo[n - 1], di[n - 1], r[n - 1] = 1.0, 1.0, 2.0 * (x[n - 1] - x[n - 2]) / (s[n - 1] - s[n - 2])
    for j in range(1, n):
        f = lo[j] / di[j - 1]
        di[j] -= up[j - 1] * f
        r[j] -= f * r[j - 1]
    r[n - 1] /= di[n - 1]
    for j in range(n - 2, -1, -1):
        r[j] = (r[j] - up[j] * r[j + 1]) / di[j]
    return r


def _segment(s, u):
    n = len(s)
    if u <= s[0]:
        return 1
    if u >= s[n - 1]:
        return n - 1
    lo, hi = 0, n - 1
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if u < s[mid]:
            hi = mid
        else:
            lo = mid
    return hi


def _hermite(s, x, xs, u):
    """Value, first and second derivative of the slope-defined cubic at u."""
    i = _segment(s, u)
    ds = s[i] - s[i - 1]
    t = (u - s[i - 1]) / ds
    cx1 = ds * xs[i - 1] - x[i] + x[i - 1]
    cx2 = ds * xs[i] - x[i] + x[i - 1]
    value = t * x[i] + (1 - t) * x[i - 1] + (t - t * t) * ((1 - t) * cx1 - t * cx2)
    first = (x[i] - x[i - 1] + (1 - 4 * t + 3 * t * t) * cx1 + t * (3 * t - 2) * cx2) / ds
    second = ((6 * t - 4) * cx1 + (6 * t - 2) * cx2) / ds ** 2
    return value, first, second


def _curvature(s, x, xs, y, ys, u):
    i = _segment(s, u)
    ds = s[i] - s[i - 1]
    t = (u - s[i - 1]) / ds

    def parts(v, vs):
        c1 = ds * vs[i - 1] - v[i] + v[i - 1]
        c2 = ds * vs[i] - v[i] + v[i - 1]
        return v[i] - v[i - 1] + (1 - 4 * t + 3 * t * t) * c1 + t * (3 * t - 2) * c2, (6 * t - 4) * c1 + (6 * t - 2) * c2

    xd, xdd = parts(x, xs)
    yd, ydd = parts(y, ys)
    sd = math.sqrt(xd * xd + yd * yd)
    if not sd >= 0.001 * ds:
        sd = 0.001 * ds
    return (xd * ydd - yd * xdd) / sd ** 3


def _solve_tridiagonal(a, b, c, r):
    """Elimination without pivoting; rows from a vanishing pivot on are zero.
    Returns (solution, complete)."""
    n = len(b)
    c, r = c.copy(), r.copy()
    done = n
    for k in range(n):
        piv = b[k] - (a[k] * c[k - 1] if k > 0 else 0.0)
        if not abs(piv) >= 1e-14:
            done = k
            break
        c[k] /= piv
        r[k] = (r[k] - (a[k] * r[k - 1] if k > 0 else 0.0)) / piv
    r[done:] = 0.0
    for k in range(done - 2, -1, -1):
        r[k] -= c[k] * r[k + 1]
    return r, done == n


def independent_repanel(points, nodes, curv_param=1.0, te_le_ratio=0.15, te_spacing_ratio=0.667):
    p = np.asarray(points, float)
    n = len(p)
    x, y = p[:, 0], p[:, 1]
    s = np.concatenate([[0.0], np.cumsum(np.hypot(np.diff(x), np.diff(y)))])
    natural_x, natural_y = _natural_spline(s, x), _natural_spline(s, y)
    xs, ys = _slopes(s, x), _slopes(s, y)
    total = s[-1]
    sbref = 0.5 * total
    w = np.array([abs(_curvature(s, x, xs, y, ys, si)) * sbref for si in s])

    # Leading edge: where the chord line from the trailing edge is normal to the contour.
    xte, yte = 0.5 * (x[0] + x[-1]), 0.5 * (y[0] + y[-1])
    start = next((i for i in range(2, n - 2) if (x[i] - xte) * (x[i + 1] - x[i]) + (y[i] - yte) * (y[i + 1] - y[i]) < 0),
                 None) if n > 4 else None
    if start is None:
        start = n // 2
    sle = s[start]
    if start == 0 or abs(s[start] - s[start - 1]) >= 1e-12:
        for _ in range(50):
            xl, xd, xdd = _hermite(s, x, xs, sle)
            yl, yd, ydd = _hermite(s, y, ys, sle)
            cx, cy = xl - xte, yl - yte
            res = cx * xd + cy * yd
            ress = xd * xd + yd * yd + cx * xdd + cy * ydd
            if abs(ress) < 1e-20:
                break
            limit = 0.02 * abs(cx + cy)
            step = max(-limit, min(limit, -res / ress))
            sle += step
            if abs(step) < 1e-5 * (s[-1] - s[0]):
                break
    cvle = abs(_curvature(s, x, xs, y, ys, sle)) * sbref
    cvavg = np.mean([abs(_curvature(s, x, xs, y, ys, sle + (k / 3) * sbref / max(cvle, 20.0))) * sbref
                     for k in range(-3, 4)])
    w[0] = w[-1] = max(cvavg, 10.0) * te_le_ratio

    # Smoothing of the curvature, the leading edge pinned to cvle.
    sl = max(1.0 / max(cvavg, 20.0), 0.25 / (nodes * 0.5))
    sm = (sl * sbref) ** 2
    a, b, c, r = np.zeros(n), np.zeros(n), np.zeros(n), w.copy()
    b[0] = b[-1] = 1.0
    for i in range(1, n - 1):
        dsm, dsp = s[i] - s[i - 1], s[i + 1] - s[i]
        if abs(dsm) < 1e-12 or abs(dsp) < 1e-12:
            b[i] = 1.0
            continue
        dso = 0.5 * (s[i + 1] - s[i - 1])
        a[i], b[i], c[i] = -(1 / dsm) * sm / dso, (1 / dsm + 1 / dsp) * sm / dso + 1, -(1 / dsp) * sm / dso
    for i in range(1, n - 1):
        if abs(s[i] - sle) < 1e-10:
            a[i], b[i], c[i], r[i] = 0.0, 1.0, 0.0, cvle
            continue
        if s[i - 1] < sle < s[i]:
            if i >= 2 and abs(sle - s[i - 1]) > 1e-12 and abs(s[i - 1] - s[i - 2]) > 1e-12:
                dsm, dsp, dso = s[i - 1] - s[i - 2], sle - s[i - 1], 0.5 * (sle - s[i - 2])
                a[i - 1], b[i - 1], c[i - 1] = -(1 / dsm) * sm / dso, (1 / dsm + 1 / dsp) * sm / dso + 1, 0.0
                r[i - 1] += cvle * sm / (dsp * dso)
            if i + 1 < n and abs(s[i] - sle) > 1e-12 and abs(s[i + 1] - s[i]) > 1e-12:
                dsm, dsp, dso = s[i] - sle, s[i + 1] - s[i], 0.5 * (s[i + 1] - sle)
                a[i], b[i], c[i] = 0.0, (1 / dsm + 1 / dsp) * sm / dso + 1, -(1 / dsp) * sm / dso
                r[i] += cvle * sm / (dsm * dso)
            break
    smoothed, complete = _solve_tridiagonal(a, b, c, r)
    if complete:
        w = smoothed
    w = w / max(np.max(np.abs(w)), 1e-10)
    ws = _slopes(s, w)

    # Node distribution: (1 + cc*curvature)*spacing equal on both sides of every node.
    nn = 5 * nodes - 4
    rtf = (te_spacing_ratio - 1.0) * 2.0 + 1.0
    cc = 6.0 * curv_param
    u = np.array([0.0] + [total / (nn - 3 + 2 * rtf) * (j - 1 + rtf) for j in range(1, nn - 1)] + [total])
    for _ in range(20):
        cv = np.empty(nn)
        cvs = np.empty(nn)
        for j in range(nn):
            cv[j], cvs[j], _ = _hermite(s, w, ws, u[j])
        cav = np.hypot(cv[:-1], cv[1:])
        big = cav > 1e-12
        cav_l = np.where(big, cvs[:-1] * cv[:-1] / np.where(big, cav, 1.0), 0.0)
        cav_r = np.where(big, cvs[1:] * cv[1:] / np.where(big, cav, 1.0), 0.0)
        A, B, C, R = np.zeros(nn), np.zeros(nn), np.zeros(nn), np.zeros(nn)
        for j in range(1, nn - 1):
            dsm, dsp = u[j] - u[j - 1], u[j] - u[j + 1]
            fm, fp = cc * cav[j - 1] + 1, cc * cav[j] + 1
            A[j] = -fm + cc * dsm * cav_l[j - 1]
            B[j] = fp + fm + cc * (dsp * cav_l[j] + dsm * cav_r[j - 1])
            C[j] = -fp + cc * dsp * cav_r[j]
            R[j] = -(dsp * fp + dsm * fm)
        B[0] = B[-1] = 1.0
        if abs(rtf - 1.0) > 1e-10:
            A[1], B[1], C[1] = -1.0, 1 + rtf, -rtf
            R[1] = -((u[1] - u[0]) + (u[1] - u[2]) * rtf)
            A[nn - 2], B[nn - 2], C[nn - 2] = -rtf, 1 + rtf, -1.0
            R[nn - 2] = -((u[nn - 2] - u[nn - 3]) * rtf + (u[nn - 2] - u[nn - 1]))
        d, _ = _solve_tridiagonal(A, B, C, R)
        rlx = 1.0
        for j in range(nn - 1):
            ds = u[j + 1] - u[j]
            if abs(ds) > 1e-12:
                dds = d[j + 1] - d[j]
                ratio = 1 + rlx * dds / ds
                if ratio > 4:
                    rlx = 3 * ds / dds
                elif ratio < 0.2:
                    rlx = -0.8 * ds / dds
        dmax = np.max(np.abs(d[:nn - 1]))
        u[1:nn - 1] += rlx * d[1:nn - 1]
        if dmax < 0.001:
            break
    return [(_natural_value(s, natural_x, u[5 * k]), _natural_value(s, natural_y, u[5 * k])) for k in range(nodes)]


def geometry_report(args):
    for name in args.sections:
        raw = np.array(_velaro.parse_dat_file(str(DATA / f"{name}.dat")))
        seg = np.hypot(*np.diff(raw, axis=0).T)
        turn = np.degrees(np.diff(np.unwrap(np.arctan2(*np.diff(raw, axis=0).T[::-1]))))
        ile = int(np.argmin(raw[:, 0]))
        upper_monotone = bool(np.all(np.diff(raw[:ile + 1, 0]) < 0))
        lower_monotone = bool(np.all(np.diff(raw[ile:, 0]) > 0))
        close = int(np.sum(seg < 1e-4))
        k = np.argsort(-np.abs(turn))[:3]
        print(f"{name}: {len(raw)} points, first {tuple(raw[0].tolist())} last {tuple(raw[-1].tolist())}, segments {seg.min():.5f}"
              f" (at {int(seg.argmin())}) to {seg.max():.5f}, segments below 1e-4: {close}")
        print(f"  leftmost point {ile} {tuple(raw[ile].tolist())}; x monotone: upper {upper_monotone}, lower {lower_monotone};"
              f" sharpest turns " + ", ".join(f"{turn[i]:+.1f} deg at point {i + 1}" for i in k))
        ours = np.array(_velaro.repanel_kelvo(flat(raw.tolist()), 160))
        theirs = np.array(independent_repanel(raw, 160))
        print(f"  160-node contour against the independent repaneling: largest node difference"
              f" {np.abs(ours - theirs).max():.1e}")
        d0, d1 = np.hypot(*(ours[0] - ours[1])), np.hypot(*(ours[-1] - ours[-2]))
        tu, tl = (ours[1] - ours[0]) / d0, (ours[-2] - ours[-1]) / d1
        s = np.concatenate([[0.0], np.cumsum(np.hypot(*np.diff(ours, axis=0).T))])
        xp, yp = _slopes(s, ours[:, 0]), _slopes(s, ours[:, 1])
        cb, sb = xp[-1] - xp[0], yp[-1] - yp[0]
        norm = max(math.hypot(cb, sb), 1e-12)
        control = 0.5 * (ours[0] + ours[-1]) - 0.1 * min(d0, d1) * np.array([cb, sb]) / norm
        side_u = tu[0] * (control - ours[0])[1] - tu[1] * (control - ours[0])[0]
        side_l = tl[0] * (control - ours[-1])[1] - tl[1] * (control - ours[-1])[0]
        inside = side_u * side_l < 0
        print(f"  trailing edge: panels {d0:.5f}/{d1:.5f} (next {np.hypot(*(ours[1] - ours[2])):.5f}),"
              f" included angle {math.degrees(math.acos(float(np.dot(tu, tl)))):.2f} deg,"
              f" bisector control point {'inside' if inside else 'OUTSIDE'} the wedge")
        for nodes in (160, 200, 300, 400):
            coords = section_coords(name, nodes)
            cells = []
            for alpha in (0.0, 4.0, 8.0):
                r = _velaro.analyze_inviscid(coords, alpha)
                cells.append(f"a={alpha:.0f}: cl {r['cl']:.5f} cm {r['cm']:+.5f}")
            print(f"  inviscid, {nodes} nodes: " + "  ".join(cells))


# ---- Leading-edge bubble -----------------------------------------------------------


def amplification_rate(hk, theta, rt):
    """Local growth rate d(n)/dx of the envelope method (Hk, theta, Rtheta)."""
    if not (hk > 1.0 and theta > 0.0 and rt > 0.0):
        return 0.0
    hmi = 1.0 / (hk - 1.0)
    grc = 2.492 * hmi ** 0.43 + 0.7 * (math.tanh(14.0 * hmi - 9.24) + 1.0) - 0.08
    gr = math.log10(rt)
    if gr < grc:
        return 0.0
    rn = (gr - grc) / 0.16
    rfac = 1.0 if rn >= 1.0 else 3.0 * rn * rn - 2.0 * rn ** 3
    arg = 3.87 * hmi - 2.52
    dadr = 0.028 * (hk - 1.0) - 0.0345 * math.exp(-arg * arg)
    af = -0.05 + 2.7 * hmi - 5.5 * hmi ** 2 + 3.0 * hmi ** 3
    return af * dadr / theta * rfac


def bubble_report(args):
    from velaro import _engine  # the package's engine module exposes the amplification column

    polars = read_reference_polars()
    published = {r[0]: r for r in polars.get((args.section, args.re), {"rows": []})["rows"]}
    coords = np.array(section_coords(args.section)).reshape(-1, 2)
    for alpha in args.alphas:
        d = _engine.boundary_layer(coords, float(alpha), reynolds=args.re)
        u = d["upper"]
        print(f"\n{args.section} Re {args.re:.0e} alpha {alpha}: cl {d['cl']:.4f} converged {d['converged']}")
        print(f"{'row':>4}{'x':>8}{'s':>9}{'ue':>8}{'theta':>10}{'Hk':>7}{'Rtheta':>8}{'n':>8}{'rate':>9}{'dn':>7}")
        prev = None
        n_after_le = None
        hk_peak = 0.0
        for i in range(len(u["s"])):
            if not u["laminar"][i]:
                break
            hk, th, ue = u["h"][i], u["theta"][i], u["ue"][i]
            rt = args.re * ue * th
            rate = amplification_rate(hk, th, rt)
            dn = u["ctau"][i] - prev if prev is not None else 0.0
            prev = u["ctau"][i]
            if u["x"][i] < 0.02:
                hk_peak = max(hk_peak, hk)
            elif n_after_le is None:
                n_after_le = u["ctau"][i]
            if u["x"][i] < args.x_max:
                print(f"{i + 1:>4}{u['x'][i]:>8.4f}{u['s'][i]:>9.5f}{ue:>8.4f}{th:>10.3e}{hk:>7.3f}{rt:>8.1f}"
                      f"{u['ctau'][i]:>8.4f}{rate:>9.1f}{dn:>+7.3f}")
        r = _velaro.analyze_faithful(flat(coords.tolist()), float(alpha), reynolds=args.re)
        ref = published.get(float(alpha))
        ref_text = f"published {ref[4]:.3f} (cl {ref[1]:.4f})" if ref else "no published point"
        print(f"  peak Hk before x = 0.02: {hk_peak:.2f}; exponent at the first station past x = 0.02:"
              f" {n_after_le if n_after_le is not None else float('nan'):.3f};"
              f" upper transition {r['x_tr_upper']:.3f}, {ref_text}")


# ---- Conditioning of the published points ------------------------------------------


def conditioning_report(args):
    rng = np.random.default_rng(args.seed)
    for name, reynolds, rows in selected_polars(args):
        alphas = [r[0] for r in rows]
        base = np.array(section_coords(name))
        cls = []
        for k in range(args.copies + 1):
            coords = base + (rng.normal(size=base.shape) * args.noise if k else 0.0)
            res = _velaro.analyze_faithful_batch(coords.tolist(), alphas, reynolds=reynolds, mach=0.0, ncrit=9.0)
            cls.append([r["cl"] if r["success"] and r["converged"] else float("nan") for r in res])
        cls = np.array(cls)
        spread = np.nanmax(cls, axis=0) - np.nanmin(cls, axis=0)
        print(f"{name} {reynolds:.0e}: cl error and spread over {args.copies} copies with {args.noise:.0e} noise")
        for ref, c0, sp in zip(rows, cls[0], spread):
            flag = "  ill-conditioned" if sp > 0.0015 else ""
            print(f"    a={ref[0]:>5.1f} cl {c0:.4f} ({c0 - ref[1]:+.4f}) spread {sp:.4f}{flag}")


# ---- Leading-edge interpolation ----------------------------------------------------


def _resampled(points, power, dense_points=3000):
    """The contour through `points` as a natural spline over the cumulative
    chord length raised to `power` (1: chord length, 0.5: centripetal, 0:
    uniform), sampled densely (evenly in the parameter, plus 1000 extra
    samples over the 2% of the parameter range round the leftmost point)."""
    p = np.asarray(points, float)
    t = np.concatenate([[0.0], np.cumsum(np.hypot(*np.diff(p, axis=0).T) ** power)])
    cx, cy = _natural_spline(t, p[:, 0]), _natural_spline(t, p[:, 1])
    ile = int(np.argmin(p[:, 0]))
    half = 0.01 * t[-1]
    u = np.concatenate([np.linspace(0.0, t[-1], dense_points), np.linspace(t[ile] - half, t[ile] + half, 1000)])
    u = np.unique(u[(u >= 0.0) & (u <= t[-1])])
    return [(_natural_value(t, cx, v), _natural_value(t, cy, v)) for v in u]


def leading_edge_report(args):
    """Results at the published points for different interpolations of the raw
    file between its points: the analysis repanels the raw points through a
    chord-length spline; a raw file with a coarsely resolved leading edge
    leaves the shape between its points open, and the other parametrisations
    show how much the results depend on it."""
    polars = read_reference_polars()
    raw = _velaro.parse_dat_file(str(DATA / f"{args.section}.dat"))
    variants = [("raw file (as analysed)", raw), ("chord length, dense", _resampled(raw, 1.0)),
                ("centripetal, dense", _resampled(raw, 0.5)), ("uniform, dense", _resampled(raw, 0.0))]
    for label, points in variants:
        coords = flat(_velaro.repanel_kelvo(flat(points), 160))
        inv = _velaro.analyze_inviscid(coords, 0.0)
        print(f"{label:<24} inviscid cl at 0 deg {inv['cl']:.4f}")
        for reynolds in args.re:
            polar = polars.get((args.section, reynolds))
            if not polar:
                continue
            rows = [r for r in polar["rows"] if r[0] in args.alphas]
            res = _velaro.analyze_faithful_batch(coords, [r[0] for r in rows], reynolds=reynolds, mach=0.0, ncrit=9.0)
            cells = [f"a={ref[0]:.0f} cl {r['cl'] - ref[1]:+.4f} xtr {r['x_tr_upper']:.3f}/{r['x_tr_lower']:.3f}"
                     f" ({ref[4]:.3f}/{ref[5]:.3f})" for ref, r in zip(rows, res)]
            print(f"    Re {reynolds:.0e}: " + "; ".join(cells))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("polars")
    p.add_argument("--sections", nargs="*")
    p.add_argument("--re", nargs="*", type=float)
    p.add_argument("-v", "--verbose", action="store_true")
    p.add_argument("--gap", type=float, default=0.0,
                   help="open the closed trailing edge by this gap (chords) first, as the gap report does")
    g = sub.add_parser("gap")
    g.add_argument("--section", default="e61")
    g.add_argument("--alpha", type=float, default=4.0)
    g.add_argument("--re", type=float, default=1e6)
    g.add_argument("--stations", type=int, default=5)
    g.add_argument("--max-iterations", type=int, default=100)
    g.add_argument("--gaps", nargs="*", default=["1e-3", "3e-4", "1.01e-4", "0.99e-4", "3e-5", "0"])
    t = sub.add_parser("threshold")
    t.add_argument("--sections", nargs="*", default=["mh32", "e61"])
    t.add_argument("--re", nargs="*", type=float, default=[2e5, 1e6])
    t.add_argument("--alphas", nargs="*", type=float, default=[0.0, 4.0, 8.0, 10.0])
    geo = sub.add_parser("geometry")
    geo.add_argument("--sections", nargs="*", default=["mh32", "e61"])
    b = sub.add_parser("bubble")
    b.add_argument("--section", default="e61")
    b.add_argument("--re", type=float, default=1e6)
    b.add_argument("--alphas", nargs="*", type=float, default=[4.0, 5.0])
    b.add_argument("--x-max", type=float, default=0.05, help="print stations up to this x (chords)")
    c = sub.add_parser("conditioning")
    c.add_argument("--sections", nargs="*")
    c.add_argument("--re", nargs="*", type=float)
    c.add_argument("--noise", type=float, default=1e-7)
    c.add_argument("--copies", type=int, default=5)
    c.add_argument("--seed", type=int, default=1)
    le = sub.add_parser("leading-edge")
    le.add_argument("--section", default="e61")
    le.add_argument("--re", nargs="*", type=float, default=[2e5, 1e6])
    le.add_argument("--alphas", nargs="*", type=float, default=[1.0, 4.0, 5.0, 6.0, 7.0])
    args = parser.parse_args(argv)
    if args.command == "polars":
        polars_report(args)
    elif args.command == "threshold":
        threshold_report(args)
    elif args.command == "geometry":
        geometry_report(args)
    elif args.command == "bubble":
        bubble_report(args)
    elif args.command == "conditioning":
        conditioning_report(args)
    elif args.command == "leading-edge":
        leading_edge_report(args)
    else:
        gap_report(args)


if __name__ == "__main__":
    sys.exit(main())
