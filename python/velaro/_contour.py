"""Contour checks, ordering and section properties, in plain numpy.

The analyses expect one point order: the first point at the upper trailing
edge, then over the upper surface to the leading edge and back along the
lower surface, that is counter-clockwise with the chord along +x.  A sharp
trailing edge is one point that appears first and again last; a blunt one is
two points (upper and lower) joined by the implicit base segment from the
last point back to the first.

:func:`order_contour` brings a valid contour into that order and says what it
changed; :func:`find_self_intersection` finds a crossing of two segments;
:func:`section_properties` measures thickness, camber and the trailing-edge
gap.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

# Points closer than this fraction of the contour's size are the same point.
_SAME_POINT = 1e-9


class ContourError(ValueError):
    """A contour that cannot be an airfoil section (raised as ValueError)."""


def as_points(coordinates: object, what: str = "coordinates") -> np.ndarray:
    """Validate and copy an ``(N, 2)`` coordinate array.

    Raises
    ------
    ValueError
        For a wrong shape, fewer than 3 points, or a non-finite value.
    """
    try:
        points = np.array(coordinates, dtype=np.float64)
    except (TypeError, ValueError) as exc:
        raise ValueError(f"{what}: cannot be read as an (N, 2) array of numbers ({exc})") from None
    if points.ndim != 2 or points.shape[1] != 2:
        raise ValueError(f"{what}: expected an array of shape (N, 2), got shape {points.shape}")
    if len(points) < 3:
        raise ValueError(f"{what}: an airfoil needs at least 3 points, got {len(points)}")
    bad = ~np.isfinite(points).all(axis=1)
    if bad.any():
        i = int(np.argmax(bad))
        raise ValueError(f"{what}: point {i} is not finite: ({points[i, 0]}, {points[i, 1]})")
    return points


def _signed_area(points: np.ndarray) -> float:
    x, y = points[:, 0], points[:, 1]
    return 0.5 * float(np.dot(x, np.roll(y, -1)) - np.dot(np.roll(x, -1), y))


def _is_steep(edge: np.ndarray, chord: np.ndarray) -> bool:
    """True when an edge makes more than 45 degrees with the chord line."""
    cross = abs(edge[0] * chord[1] - edge[1] * chord[0])
    dot = abs(edge[0] * chord[0] + edge[1] * chord[1])
    return bool(cross > dot)


@dataclass(frozen=True)
class OrderedContour:
    """Result of :func:`order_contour`: the points and what changed."""

    points: np.ndarray
    changes: tuple[str, ...]


def order_contour(points: np.ndarray) -> OrderedContour:
    """Bring a contour into the order the analyses expect.

    The steps, each reported in ``changes`` when it alters the points:

    1. consecutive repeated points are removed;
    2. a clockwise contour (negative enclosed area) is reversed;
    3. the start is moved to the trailing edge: the point of largest x, or,
       for a blunt trailing edge, the upper end of the base (the run of
       segments through that point that are steeper than 45 degrees to the
       chord);
    4. a repeated closing point is dropped when the closing segment is a
       blunt base; a sharp trailing edge keeps (or gets) its closing point.

    Parameters
    ----------
    points : numpy.ndarray
        ``(N, 2)`` finite coordinates, N >= 3 (see :func:`as_points`).

    Returns
    -------
    OrderedContour

    Raises
    ------
    ValueError
        For a contour that encloses no area or has too few distinct points.
    """
    changes: list[str] = []
    size = float(max(np.ptp(points[:, 0]), np.ptp(points[:, 1])))
    if size == 0.0:
        raise ContourError("coordinates: all points coincide")
    tol = _SAME_POINT * size

    step = np.hypot(*np.diff(points, axis=0).T)
    repeated = step <= tol
    if repeated.any():
        points = points[np.concatenate([[True], ~repeated])]
        changes.append(f"removed {int(repeated.sum())} repeated consecutive point(s)")

    closed = bool(np.hypot(*(points[-1] - points[0])) <= tol)
    ring = points[:-1] if closed else points  # each point once, in cyclic order
    if len(ring) < 3:
        raise ContourError(f"coordinates: only {len(ring)} distinct points; an airfoil needs at least 3")

    area = _signed_area(ring)
    if abs(area) <= 1e-12 * size * size:
        raise ContourError("coordinates: the contour encloses no area")
    if area < 0.0:
        # Reverse the list as given, so that a contour that merely ran the
        # wrong way keeps its start point.
        points = points[::-1]
        ring = points[:-1] if closed else points
        changes.append("reversed the point order (the contour ran clockwise)")

    m = len(ring)
    i_te = int(np.argmax(ring[:, 0]))
    i_le = int(np.argmax(np.hypot(*(ring - ring[i_te]).T)))
    chord_vec = ring[i_te] - ring[i_le]
    chord = float(np.hypot(*chord_vec))

    def edge(i: int) -> np.ndarray:  # segment from point i to the next one, cyclically
        return ring[(i + 1) % m] - ring[i % m]

    def base_edge(i: int) -> bool:
        e = edge(i)
        return _is_steep(e, chord_vec) and float(np.hypot(*e)) < 0.25 * chord

    # The base of a blunt trailing edge: the run of steep, short segments
    # through the point of largest x.  Counter-clockwise, it runs upward from
    # the lower trailing-edge point `low` to the upper one `up`.
    low = up = i_te
    for _ in range(m // 4):
        if not base_edge(low - 1):
            break
        low = (low - 1) % m
    for _ in range(m // 4):
        if not base_edge(up):
            break
        up = (up + 1) % m
    blunt = low != up

    x_max = float(ring[i_te, 0])
    near_te = lambda p: float(p[0]) >= x_max - 1e-6 * chord  # noqa: E731

    if closed:
        # Already ordered when the repeated point is the trailing edge.
        first = ring[0]
        if blunt and up == 0 and low == m - 1:
            # Closed by the base: analyse as the open contour.
            changes.append("dropped the repeated closing point (the closing segment is a blunt base)")
            return OrderedContour(ring.copy(), tuple(changes))
        if not blunt and near_te(first) and not base_edge(0) and not base_edge(m - 1):
            return OrderedContour(np.vstack([ring, ring[:1]]), tuple(changes))
    else:
        # Open: already ordered when the gap from the last point to the first
        # is at the trailing edge (a base, or a short gap at a sharp edge).
        gap = ring[0] - ring[-1]
        gap_at_te = near_te(ring[0]) or near_te(ring[-1])
        if gap_at_te and (base_edge(m - 1) or float(np.hypot(*gap)) <= 0.05 * chord):
            if not blunt or (up == 0 and low == m - 1):
                return OrderedContour(ring.copy(), tuple(changes))

    # General case: restart the contour at the trailing edge.
    if blunt:
        count = (low - up) % m + 1
        order = (up + np.arange(count)) % m
        dropped = m - count
        ordered = ring[order]
        where = f"({ring[up, 0]:.6g}, {ring[up, 1]:.6g})"
        changes.append(f"moved the start to the upper trailing-edge point {where}")
        if dropped:
            changes.append(f"dropped {dropped} point(s) inside the trailing-edge base")
        if closed:
            changes.append("dropped the repeated closing point (the trailing edge is a blunt base)")
    else:
        order = (i_te + np.arange(m + 1)) % m
        ordered = ring[order]
        where = f"({ring[i_te, 0]:.6g}, {ring[i_te, 1]:.6g})"
        changes.append(f"moved the start to the sharp trailing-edge point {where}")
        if not closed:
            changes.append("closed the contour at the sharp trailing edge")
    # Dropping points inside what looked like a blunt base can leave a
    # contour of a few points that no longer encloses area (points far apart
    # on a line): that is no airfoil either.
    kept = ordered[:-1] if np.array_equal(ordered[0], ordered[-1]) else ordered
    if len(kept) < 3 or not _signed_area(kept) > 1e-12 * size * size:
        raise ContourError("coordinates: the contour encloses no area")
    return OrderedContour(ordered, tuple(changes))


def find_self_intersection(points: np.ndarray, te_radius: float = 0.002) -> tuple[int, int] | None:
    """First pair of crossing segments of the closed polygon, or None.

    The polygon includes the closing segment from the last point to the first
    (the trailing-edge base or gap).  Only proper crossings count: segments
    that merely touch, or share an end point, do not.  Crossings within
    ``te_radius`` chords of the trailing edge are ignored: published files
    whose coordinates are rounded near a sharp trailing edge often cross
    there by a few millionths of the chord.  Segments are sorted by their
    smallest x so that each is tested only against those whose x range
    overlaps its own.
    """
    ring = points[:-1] if np.array_equal(points[-1], points[0]) else points
    m = len(ring)
    a = ring
    b = np.roll(ring, -1, axis=0)
    xmin = np.minimum(a[:, 0], b[:, 0])
    xmax = np.maximum(a[:, 0], b[:, 0])
    ymin = np.minimum(a[:, 1], b[:, 1])
    ymax = np.maximum(a[:, 1], b[:, 1])
    order = np.argsort(xmin, kind="stable")
    xmin_sorted = xmin[order]
    te = 0.5 * (ring[0] + ring[-1])
    chord = float(np.max(np.hypot(*(ring - te).T)))

    def orient(p: np.ndarray, q: np.ndarray, r: np.ndarray) -> np.ndarray:
        return (q[..., 0] - p[..., 0]) * (r[..., 1] - p[..., 1]) - (q[..., 1] - p[..., 1]) * (r[..., 0] - p[..., 0])

    for rank, k in enumerate(order):
        hi = int(np.searchsorted(xmin_sorted, xmax[k], side="right"))
        cand = order[rank + 1 : hi]
        if cand.size == 0:
            continue
        # Neighbouring segments share an end point.
        diff = np.abs(cand - k)
        cand = cand[(diff != 1) & (diff != m - 1)]
        cand = cand[(ymin[cand] <= ymax[k]) & (ymax[cand] >= ymin[k])]
        if cand.size == 0:
            continue
        o1 = orient(a[k], b[k], a[cand])
        o2 = orient(a[k], b[k], b[cand])
        o3 = orient(a[cand], b[cand], a[k])
        o4 = orient(a[cand], b[cand], b[k])
        hit = (o1 * o2 < 0) & (o3 * o4 < 0)
        if hit.any():
            t = o3[hit] / (o3[hit] - o4[hit])
            where = a[k] + np.outer(t, b[k] - a[k])
            far = np.hypot(*(where - te).T) > te_radius * chord
            if far.any():
                j = int(cand[hit][np.argmax(far)])
                return (min(int(k), j), max(int(k), j))
    return None


class _Spline:
    """Natural cubic spline through points in the plane, parametrised by the
    length of the polygon through them (the usual choice for contours)."""

    def __init__(self, points: np.ndarray) -> None:
        self.s = np.concatenate([[0.0], np.cumsum(np.hypot(*np.diff(points, axis=0).T))])
        self.p = np.asarray(points, dtype=np.float64)
        self.m = self._second_derivatives(self.s, self.p)

    @staticmethod
    def _second_derivatives(s: np.ndarray, f: np.ndarray) -> np.ndarray:
        # Continuity of the first derivative at the inner knots, zero second
        # derivative at the ends: a tridiagonal system, solved by elimination.
        n = len(s)
        m = np.zeros_like(f)
        if n < 3:
            return m
        h = np.diff(s)
        diag = 2.0 * (h[:-1] + h[1:])
        rhs = 6.0 * ((f[2:] - f[1:-1]) / h[1:, None] - (f[1:-1] - f[:-2]) / h[:-1, None])
        for i in range(1, n - 2):
            w = h[i] / diag[i - 1]
            diag[i] -= w * h[i]
            rhs[i] -= w * rhs[i - 1]
        inner = np.empty_like(rhs)
        inner[-1] = rhs[-1] / diag[-1]
        for i in range(n - 4, -1, -1):
            inner[i] = (rhs[i] - h[i + 1] * inner[i + 1]) / diag[i]
        m[1:-1] = inner
        return m

    def __call__(self, t: np.ndarray, derivative: int = 0) -> np.ndarray:
        """Points (or their first or second derivatives) at parameters ``t``."""
        t = np.atleast_1d(np.asarray(t, dtype=np.float64))
        i = np.clip(np.searchsorted(self.s, t, side="right") - 1, 0, len(self.s) - 2)
        h = (self.s[i + 1] - self.s[i])[:, None]
        a = (self.s[i + 1][:, None] - t[:, None]) / h
        b = 1.0 - a
        p0, p1, m0, m1 = self.p[i], self.p[i + 1], self.m[i], self.m[i + 1]
        if derivative == 0:
            return a * p0 + b * p1 + ((a**3 - a) * m0 + (b**3 - b) * m1) * h * h / 6.0
        if derivative == 1:
            return (p1 - p0) / h + ((1.0 - 3.0 * a * a) * m0 + (3.0 * b * b - 1.0) * m1) * h / 6.0
        return a * m0 + b * m1


def _farthest(spline: _Spline, target: np.ndarray, i: int) -> float:
    """Parameter of the point of the spline farthest from ``target``, near knot ``i``."""
    lo = spline.s[max(i - 1, 0)]
    hi = spline.s[min(i + 1, len(spline.s) - 1)]
    t = np.linspace(lo, hi, 65)
    d = np.sum((spline(t) - target) ** 2, axis=1)
    best = float(t[int(np.argmax(d))])
    # Newton steps on the derivative of half the squared distance.
    for _ in range(8):
        r = spline(best)[0] - target
        d1 = spline(best, 1)[0]
        d2 = spline(best, 2)[0]
        g = float(r @ d1)
        gg = float(d1 @ d1 + r @ d2)
        if gg >= 0.0:  # not a maximum here; keep the sampled one
            break
        step = g / gg
        best = min(max(best - step, lo), hi)
        if abs(step) <= 1e-15 * (hi - lo + 1.0):
            break
    return best


def _peak(xs: np.ndarray, values: np.ndarray, i: int) -> tuple[float, float]:
    """Position and value of the extremum of ``values`` at station ``i``,
    refined by the parabola through it and its neighbours."""
    if 0 < i < len(xs) - 1:
        (x0, x1, x2), (f0, f1, f2) = xs[i - 1 : i + 2], values[i - 1 : i + 2]
        den = (x1 - x0) * (f1 - f2) - (x1 - x2) * (f1 - f0)
        if den != 0.0:
            xv = x1 - 0.5 * ((x1 - x0) ** 2 * (f1 - f2) - (x1 - x2) ** 2 * (f1 - f0)) / den
            if x0 < xv < x2:
                # Value of the parabola at its vertex (Lagrange form).
                fv = (f0 * (xv - x1) * (xv - x2) / ((x0 - x1) * (x0 - x2))
                      + f1 * (xv - x0) * (xv - x2) / ((x1 - x0) * (x1 - x2))
                      + f2 * (xv - x0) * (xv - x1) / ((x2 - x0) * (x2 - x1)))
                return float(xv), float(fv)
    return float(xs[i]), float(values[i])


@dataclass(frozen=True)
class SectionProperties:
    """Thickness, camber and trailing-edge gap, as fractions of the chord.

    Measured in the chord frame (leading edge at 0, trailing-edge midpoint at
    1), with thickness and camber taken normal to the chord between the two
    surfaces.  The leading edge is the point of the contour farthest from
    the trailing-edge midpoint.  Both are found on a cubic spline through
    the points, not on the polygon, so that a coarse contour (a few dozen
    points per side) measures like a fine one: a leading edge picked among
    the nodes would tilt the chord by up to a node spacing near the nose,
    and with it the camber.
    """

    chord: float
    max_thickness: float
    max_thickness_x: float
    max_camber: float
    max_camber_x: float
    trailing_edge_gap: float


def section_properties(points: np.ndarray, stations: int = 2001, refine: int = 8) -> SectionProperties:
    """Measure an ordered contour (see :class:`SectionProperties`).

    ``stations`` chordwise stations (cosine spacing) compare the surfaces;
    each surface is evaluated at ``refine`` points per spline interval.
    """
    closed = np.array_equal(points[-1], points[0])
    te = 0.5 * (points[0] + points[-1])
    spline = _Spline(points)
    i_le = int(np.argmax(np.hypot(*(points - te).T)))
    s_le = _farthest(spline, te, i_le)
    le = spline(s_le)[0]
    chord_vec = te - le
    chord = float(np.hypot(*chord_vec))
    cos_a, sin_a = chord_vec / chord

    def local(p: np.ndarray) -> np.ndarray:
        # Chord frame: x along the chord, y normal to it, both over the chord.
        rel = p - le
        return np.column_stack([rel[:, 0] * cos_a + rel[:, 1] * sin_a, -rel[:, 0] * sin_a + rel[:, 1] * cos_a]) / chord

    def samples(a: float, b: float) -> np.ndarray:
        knots = spline.s[(spline.s > a) & (spline.s < b)]
        ends = np.concatenate([[a], knots, [b]])
        fine = [np.linspace(u, v, refine, endpoint=False) for u, v in zip(ends[:-1], ends[1:])]
        return local(spline(np.concatenate(fine + [[b]])))

    upper = samples(0.0, s_le)
    lower = samples(s_le, float(spline.s[-1]))
    xs = 0.5 * (1.0 - np.cos(np.linspace(0.0, np.pi, stations)))

    def surface(p: np.ndarray) -> np.ndarray:
        o = np.argsort(p[:, 0], kind="stable")
        return np.interp(xs, p[o, 0], p[o, 1])

    yu, yl = surface(upper), surface(lower)
    thickness = yu - yl
    camber = 0.5 * (yu + yl)
    xt, t = _peak(xs, thickness, int(np.argmax(thickness)))
    ic = int(np.argmax(np.abs(camber)))
    xc, cmax = _peak(xs, camber, ic)
    gap = 0.0 if closed else float(np.hypot(*(points[0] - points[-1]))) / chord
    return SectionProperties(
        chord=chord,
        max_thickness=t,
        max_thickness_x=xt,
        max_camber=cmax,
        max_camber_x=xc,
        trailing_edge_gap=gap,
    )
