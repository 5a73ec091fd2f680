"""The one place where the package calls the compiled engine.

Everything else in :mod:`velaro` talks to the engine through the functions
and records of this module, never to an extension module directly.  Two
engine modules serve it: ``velaro._engine``, the package's own (continuation
sweeps and boundary layers, numpy arrays in and out), for every viscous
analysis, and the flat module ``_velaro`` (lists in, dictionaries out) for
geometry and the inviscid solutions.

What the engine must provide
============================
The package relies on exactly the functions below, with these shapes.  Points
are float64 arrays of shape ``(N, 2)`` in contour order (upper trailing edge,
upper surface, leading edge, lower surface, lower trailing edge); angles are
in degrees; the reference length is the chord.

Geometry
    ``naca4(designation, points_per_side) -> (N, 2) array``
    ``repanel(points, nodes, curvature, te_le_ratio, te_spacing_ratio) -> (nodes, 2) array``
    ``deflect_flap(points, hinge_x, deflection_deg, hinge_y) -> (M, 2) array``
    Each raises ``ValueError`` instead of returning an empty or collapsed list.

Inviscid
    ``inviscid_at_alpha(points, alpha, mach) -> InviscidRecord``: lift and
    moment coefficients and the pressure coefficient at every surface node,
    corrected for compressibility at ``mach`` > 0, and whether the flow is
    supercritical.

Viscous, one operating point
    ``point_at_alpha(points, alpha, conditions, distributions) -> PointRecord``
    ``point_at_cl(points, cl, conditions, distributions) -> PointRecord``
    ``conditions`` is a :class:`Conditions` (Reynolds number, Mach number,
    critical amplification exponent, trip positions per side as chord
    fractions with 1 meaning free transition, iteration limit).  With
    ``distributions`` the record carries the boundary layer of both sides
    from the first real station (not the stagnation placeholder) to the
    trailing edge, and the surface pressure at every node: per side the arc
    length from the stagnation point, x, y, edge velocity, θ, δ*, H, cf and
    the first boundary-layer variable (ñ at laminar stations, √Cτ at
    turbulent ones; :class:`SideArrays` ``amplification`` and ``shear``).
    ``point_at_cl`` returns a converged point within ``tolerance`` of the
    target, or an unconverged record whose ``error`` says why.

Viscous, sweeps
    ``sweep(task, progress, cancel) -> SweepRecord``: one ordered list of
    angles or of lift coefficients at one set of conditions.  The engine
    marches from near zero lift outward in both directions, warm starting
    each point from the last converged one, retrying a failed point with
    sub-steps, then cold, then with damped Newton steps, and records per
    point how it was reached (``"warm"``, ``"substepped"``, ``"cold"``,
    ``"damped"``, ``"failed"``).  Results come
    back in input order.  With fewer sweeps in a call than pool threads,
    each marches its two branches on two threads, a much longer branch
    split at a second cold start (within 10 degrees, or a lift coefficient
    of 1, of zero lift).
    ``sweeps(tasks, workers, progress) -> list[SweepRecord]``: independent
    sweeps (several Reynolds or Mach numbers, several contours) run in
    parallel, the interpreter lock released for the whole computation.
    ``progress(n)`` is called on the calling thread with the number of
    points just finished; a Ctrl-C in the calling thread stops the run
    promptly and raises :class:`SweepInterrupted` (a ``KeyboardInterrupt``)
    with the points finished so far.

Conventions of every viscous record: ``converged`` is the engine's own
verdict; the coefficients are those of the final iterate (the package turns
them into NaN when the point did not converge); ``error`` holds the text of a
failure (invalid input, solver breakdown), in which case ``converged`` is
False.

Compressibility: the engine corrects the surface pressure of its lift and
moment for the Mach number (Karman-Tsien).  Records flag a supercritical
point (see below); that check is the adapter's, not the engine's.

Capabilities
    :data:`FORCED_TRANSITION` and :data:`WARM_START` tell the package what the
    engine in use can do.

How the engines are used
========================
* ``velaro._engine`` is found in the package directory (installed), or else
  in ``velaro/`` beside ``_velaro`` (a CMake build tree, with the package
  from the source tree): see :func:`_load_engine`.
* Every viscous evaluation is an engine sweep (:func:`_engine_sweeps`).
  Polars are one warm-started sweep each, all tasks of a call in one engine
  call (``workers`` only limits how many go in at once).  A single point
  (``analyze``) is a one-point sweep, a cold start.  Several independent cold
  starts (the angle search below) are one-point sweeps in one parallel call.
* A prescribed lift coefficient is first solved in the engine's
  prescribed-lift mode.  The engine converges on its Newton residual, which
  leaves the lift some 1e-3 from the target, and it may report a point
  converged whose lift is further off; any point not within the tolerance is
  refined by searching the angle with converged angle solutions (see
  :class:`_ClSolve`), starting from the engine's point: secant steps, then
  regula falsi with bisection safeguards once a bracket is found, spread
  retries around angles that failed to converge, and a parabolic search for
  the lift maximum when the target may lie beyond it.  All pending targets
  of a sweep advance together, one parallel engine call per round.
* Trip positions go to the engine as they are (chord fractions, 1 = free).
  The engine refuses values outside [0, 1] with ValueError.
* Points that an interrupt left unsolved carry ``error="cancelled"``.
* Boundary-layer arrays come from ``_engine.boundary_layer``, which solves
  the point again from a cold start (at the angle found, for a prescribed
  lift), trips included.  It leaves out the placeholder row at the
  stagnation point; its first variable is split into the amplification
  (laminar stations) and √Cτ (turbulent ones).  The arc length is measured
  along the panels from the stagnation point, which is placed between the
  two nodes that straddle it by linear interpolation of the edge velocity.
* ``analyze_inviscid_batch`` knows no Mach number.  At M > 0 the adapter
  corrects its nodal Cp with the Karman-Tsien rule and integrates lift and
  moment of the corrected pressure itself, with the solver's own integral
  (:func:`velaro._compressible.pressure_forces`); at M = 0 the solver's cl
  and cm are used as they are.  The viscous surface pressure of
  ``distributions`` is corrected likewise (1 - ue^2, then Karman-Tsien).
* Supercritical flag of a viscous point: the smallest Cp of the inviscid
  solution at the point's angle, corrected, against Cp*(M).  The inviscid
  solution stands in for the viscous one because it is cheap (one small
  solve for a point; for the polars of one contour, one batch of three
  angles from which every angle's pressure follows, see :func:`_min_cp0`),
  and because the flag then does not depend on whether
  distributions were asked for: a point gets the same flag from ``analyze``
  and from a polar.  At the same angle the inviscid suction peak is, in
  attached flow, a little stronger than the viscous one (the boundary layer
  decambers the section), so the flag errs on the safe side; past the lift
  maximum it can flag a point whose separated flow stays subsonic.  The flag
  is None for a point without a result (not converged) and False at M = 0.
"""

from __future__ import annotations

import math
import os
import threading
from dataclasses import dataclass, field, replace
from typing import Callable, Literal, Optional, Sequence

import numpy as np

import _velaro

from . import _compressible


def _load_engine():
    """``velaro._engine``: from the package directory when installed, else
    from a build tree, where CMake puts it in ``velaro/`` beside ``_velaro``
    (the package itself then comes from the source tree)."""
    try:
        from . import _engine as engine  # type: ignore[attr-defined]

        return engine
    except ImportError as missing:
        import glob
        import importlib.machinery
        import importlib.util
        import sys

        here = os.path.join(os.path.dirname(os.path.abspath(_velaro.__file__)), "velaro")
        if os.path.realpath(here) == os.path.realpath(os.path.dirname(os.path.abspath(__file__))):
            raise  # an installed package: the module is missing or broken, not elsewhere
        for suffix in importlib.machinery.EXTENSION_SUFFIXES:
            for path in glob.glob(os.path.join(glob.escape(here), "_engine" + suffix)):
                spec = importlib.util.spec_from_file_location(__package__ + "._engine", path)
                if spec is None or spec.loader is None:
                    continue
                engine = importlib.util.module_from_spec(spec)
                spec.loader.exec_module(engine)
                sys.modules[spec.name] = engine
                setattr(sys.modules[__package__], "_engine", engine)
                return engine
        raise ImportError(
            f"velaro._engine not found in the package nor beside _velaro ({here}); build the target _engine"
        ) from missing


_engine = _load_engine()

#: Name of the engine module used for viscous analyses.
ENGINE = "velaro._engine"
#: Whether trip positions other than 1 (free transition) are honoured.
FORCED_TRANSITION = True
#: Whether sweeps warm-start each point from the previous one.
WARM_START = True
#: Default tolerance on a prescribed lift coefficient.
CL_TOLERANCE = 1e-4
#: Largest number of viscous evaluations spent on one prescribed lift coefficient.
CL_MAX_EVALUATIONS = 24

ProgressCallback = Optional[Callable[[int], None]]
Mode = Literal["alpha", "cl"]


@dataclass(frozen=True)
class Conditions:
    """Operating conditions of a viscous analysis (already validated)."""

    reynolds: float
    mach: float = 0.0
    ncrit: float = 9.0
    xtr_upper: float = 1.0
    xtr_lower: float = 1.0
    max_iterations: int = 100


@dataclass
class SideArrays:
    """Boundary layer of one side, first real station to the trailing edge."""

    s: np.ndarray
    x: np.ndarray
    y: np.ndarray
    ue: np.ndarray
    theta: np.ndarray
    delta_star: np.ndarray
    h: np.ndarray
    cf: np.ndarray
    amplification: Optional[np.ndarray] = None
    shear: Optional[np.ndarray] = None


@dataclass
class Distributions:
    """Boundary layer of both sides and the surface pressure at the nodes."""

    upper: SideArrays
    lower: SideArrays
    x: np.ndarray
    y: np.ndarray
    cp: np.ndarray


@dataclass
class PointRecord:
    """One viscous operating point as the engine reports it."""

    alpha: float
    cl: float
    cd: float
    cm: float
    cd_friction: float
    cd_pressure: float
    x_tr_upper: float
    x_tr_lower: float
    iterations: int
    residual: float
    converged: bool
    error: Optional[str] = None
    start: str = "cold"
    cl_target: Optional[float] = None
    distributions: Optional[Distributions] = None
    #: Flow locally supersonic (None: no result to check).
    supercritical: Optional[bool] = None
    #: Smallest corrected Cp of the solution the flag was taken from (NaN: none).
    cp_min: float = math.nan


_FLOAT_COLUMNS = ("alpha", "cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper", "x_tr_lower", "residual")


@dataclass
class SweepRecord:
    """A sweep as the engine reports it: one entry per requested value, in input order."""

    mode: str
    targets: np.ndarray
    alpha: np.ndarray
    cl: np.ndarray
    cd: np.ndarray
    cm: np.ndarray
    cd_friction: np.ndarray
    cd_pressure: np.ndarray
    x_tr_upper: np.ndarray
    x_tr_lower: np.ndarray
    residual: np.ndarray
    iterations: np.ndarray
    converged: np.ndarray
    errors: list = field(default_factory=list)
    start: list = field(default_factory=list)
    #: Per point: flow locally supersonic (False where not converged).
    supercritical: Optional[np.ndarray] = None
    #: Per point: smallest corrected Cp behind the flag (NaN where not checked).
    cp_min: Optional[np.ndarray] = None

    @classmethod
    def from_points(cls, mode: str, targets: np.ndarray, points: Sequence[PointRecord]) -> "SweepRecord":
        cols = {name: np.array([getattr(p, name) for p in points], dtype=np.float64) for name in _FLOAT_COLUMNS}
        return cls(
            mode=mode,
            targets=np.asarray(targets, dtype=np.float64),
            iterations=np.array([p.iterations for p in points], dtype=np.int64),
            converged=np.array([p.converged for p in points], dtype=bool),
            errors=[p.error for p in points],
            start=[p.start for p in points],
            **cols,
        )

    def point(self, i: int) -> PointRecord:
        return PointRecord(
            **{name: float(getattr(self, name)[i]) for name in _FLOAT_COLUMNS},
            iterations=int(self.iterations[i]),
            converged=bool(self.converged[i]),
            error=self.errors[i],
            start=self.start[i],
            cl_target=float(self.targets[i]) if self.mode == "cl" else None,
            supercritical=(None if self.supercritical is None or not self.converged[i]
                           else bool(self.supercritical[i])),
            cp_min=math.nan if self.cp_min is None else float(self.cp_min[i]),
        )


@dataclass(frozen=True)
class SweepTask:
    """One sweep to run: a contour, a list of angles or lift coefficients, conditions."""

    points: np.ndarray
    mode: str
    values: np.ndarray
    conditions: Conditions


@dataclass
class InviscidRecord:
    """Inviscid solution at one angle: coefficients and nodal pressure
    (corrected for compressibility at ``mach`` > 0)."""

    alpha: float
    cl: float
    cm: float
    x: np.ndarray
    y: np.ndarray
    cp: np.ndarray
    error: Optional[str] = None
    mach: float = 0.0
    #: Flow locally supersonic (None on failure, False at M = 0).
    supercritical: Optional[bool] = None
    #: Smallest corrected Cp (NaN on failure).
    cp_min: float = math.nan


# ---------------------------------------------------------------------------
# Geometry


def _flat(points: np.ndarray) -> list:
    return np.ascontiguousarray(points, dtype=np.float64).ravel().tolist()


def _array(point_list: list) -> np.ndarray:
    return np.array(point_list, dtype=np.float64).reshape(-1, 2)


def naca4(designation: int, points_per_side: int) -> np.ndarray:
    """NACA 4-series contour (open, blunt trailing edge)."""
    return _array(_velaro.generate_naca4(int(designation), int(points_per_side)))


def repanel(
    points: np.ndarray, nodes: int, curvature: float, te_le_ratio: float, te_spacing_ratio: float
) -> np.ndarray:
    """New nodes along the contour's spline, clustered by curvature.

    Raises
    ------
    ValueError
        When the spline cannot be built (coincident points) or the result has
        the wrong size.
    """
    out = _array(_velaro.repanel_kelvo(_flat(points), int(nodes), float(curvature), float(te_le_ratio), float(te_spacing_ratio)))
    if len(out) != nodes:
        raise ValueError(
            f"repaneling failed ({len(out)} points returned for {nodes} requested): "
            "the contour has coincident consecutive points or cannot be splined"
        )
    if not np.isfinite(out).all():
        raise ValueError("repaneling failed: the result is not finite")
    return out


def deflect_flap(points: np.ndarray, hinge_x: float, deflection_deg: float, hinge_y: float) -> np.ndarray:
    """Contour with the part aft of the hinge rotated (positive: trailing edge down).

    Raises
    ------
    ValueError
        When the engine returns nothing or a contour that lost most of its
        points (a failure of the flap routine, not a valid result).
    """
    out = _array(_velaro.deflect_flap(_flat(points), float(hinge_x), float(deflection_deg), float(hinge_y)))
    if len(out) == 0:
        raise ValueError("flap deflection failed: the contour needs at least 4 points")
    # The flap routine removes only the few points that the rotation buries;
    # a result with under half the points is a collapse, not a flap.
    if len(out) < max(4, len(points) // 2) or not np.isfinite(out).all():
        raise ValueError(
            f"flap deflection failed: {len(points)} points came back as {len(out)}; "
            "try fewer points (repanel first) or a smaller deflection"
        )
    return out


# ---------------------------------------------------------------------------
# Inviscid


def inviscid_at_alpha(points: np.ndarray, alpha: float, mach: float = 0.0) -> InviscidRecord:
    """Inviscid panel solution at one angle (degrees) and Mach number.

    At ``mach`` 0 the engine's solution as it is; above, its nodal pressure
    corrected by the Karman-Tsien rule and the lift and moment integrated
    from the corrected pressure (see the module notes).
    """
    d = _velaro.analyze_inviscid_batch(_flat(points), [float(alpha)])[0]
    if not d["success"]:
        empty = np.empty(0)
        return InviscidRecord(float(alpha), math.nan, math.nan, empty, empty, empty, error=d["error"], mach=mach)
    cp0 = np.array(d["cp"], dtype=np.float64)
    nodes = points[: len(cp0)]  # one value per node; a closed contour's last node repeats the first
    if mach == 0.0:
        cp, cl, cm = cp0, float(d["cl"]), float(d["cm"])
    else:
        cp = _compressible.karman_tsien(cp0, mach)
        cl, cm = _compressible.pressure_forces(points, cp, float(alpha))
    return InviscidRecord(
        float(alpha), cl, cm, nodes[:, 0].copy(), nodes[:, 1].copy(), cp, mach=mach,
        supercritical=_compressible.is_supercritical(float(cp0.min()), mach), cp_min=float(cp.min()),
    )


def _min_cp0(points: np.ndarray, alphas: Sequence[float]) -> np.ndarray:
    """Smallest incompressible Cp of the inviscid solution at each angle
    (NaN where it fails).

    Up to three angles are solved directly.  For more, the solutions at 0,
    45 and 90 degrees give all others: the potential flow is linear in the
    free stream, so the surface speed at angle a is
    q(a) = cos(a) q0 + sin(a) q90, and Cp = 1 - q^2.  The solver reports
    only Cp, that is q^2; the speeds at 0 and 90 degrees follow up to sign,
    and their relative sign from q45^2 = (q0 + q90)^2 / 2.  Three solves then
    serve a whole polar.
    """
    alphas = [float(a) for a in alphas]
    if len(alphas) == 0:
        return np.empty(0)
    if len(alphas) <= 3:
        out = _velaro.analyze_inviscid_batch(_flat(points), alphas)
        return np.array([min(d["cp"]) if d["success"] and d["cp"] else math.nan for d in out], dtype=np.float64)
    base = _velaro.analyze_inviscid_batch(_flat(points), [0.0, 45.0, 90.0])
    if not all(d["success"] and d["cp"] for d in base):
        return np.full(len(alphas), math.nan)
    q2_0, q2_45, q2_90 = (1.0 - np.array(d["cp"], dtype=np.float64) for d in base)
    product = q2_45 - 0.5 * (q2_0 + q2_90)  # q0 * q90
    # Take the larger of the two speeds as positive (the overall sign does
    # not matter) and the other from the product, so that no division by a
    # speed near zero (a stagnation point) occurs.
    first = q2_0 >= q2_90
    q0 = np.where(first, np.sqrt(np.maximum(q2_0, 0.0)), 0.0)
    q90 = np.where(first, 0.0, np.sqrt(np.maximum(q2_90, 0.0)))
    with np.errstate(divide="ignore", invalid="ignore"):
        q0 = np.where(first, q0, np.where(q90 > 0.0, product / q90, 0.0))
        q90 = np.where(first, np.where(q0 > 0.0, product / q0, 0.0), q90)
    a = np.radians(np.array(alphas))
    q = np.outer(np.cos(a), q0) + np.outer(np.sin(a), q90)
    return 1.0 - np.max(q * q, axis=1)


def _flag(cp0_min: float, mach: float) -> tuple[Optional[bool], float]:
    """Supercritical flag and corrected minimum Cp from the incompressible minimum."""
    if not math.isfinite(cp0_min):
        return None, math.nan
    cp_min = float(_compressible.karman_tsien(np.float64(cp0_min), mach))
    return _compressible.is_supercritical(cp0_min, mach), cp_min


def _flag_point(points: np.ndarray, rec: PointRecord, mach: float) -> PointRecord:
    """The record with its supercritical flag (one inviscid solve when converged)."""
    if not rec.converged or rec.error is not None or not math.isfinite(rec.alpha):
        return rec
    if mach == 0.0:
        rec.supercritical = False  # nothing is critical in incompressible flow; no solve needed
        return rec
    rec.supercritical, rec.cp_min = _flag(float(_min_cp0(points, [rec.alpha])[0]), mach)
    return rec


def _flag_sweeps(tasks: Sequence["SweepTask"], records: Sequence["SweepRecord"]) -> None:
    """Set the supercritical flags of finished sweeps, in place.

    The smallest Cp0 at an angle does not depend on the Reynolds or Mach
    number, so the sweeps of one contour share one inviscid batch over the
    converged angles of all of them.
    """
    groups: dict[int, list[int]] = {}
    for k, t in enumerate(tasks):
        r = records[k]
        r.supercritical = np.zeros(len(r.alpha), dtype=bool)
        r.cp_min = np.full(len(r.alpha), math.nan)
        if t.conditions.mach > 0.0:  # at M = 0 nothing is critical: no solve needed
            groups.setdefault(id(t.points), []).append(k)
    for members in groups.values():
        wanted: set[float] = set()
        for k in members:
            r = records[k]
            wanted.update(float(a) for a in r.alpha[r.converged & np.isfinite(r.alpha)])
        angles = sorted(wanted)
        minima = dict(zip(angles, _min_cp0(tasks[members[0]].points, angles)))
        for k in members:
            r, mach = records[k], tasks[k].conditions.mach
            for i in np.flatnonzero(r.converged & np.isfinite(r.alpha)):
                flag, r.cp_min[i] = _flag(float(minima[float(r.alpha[i])]), mach)
                r.supercritical[i] = bool(flag)


def _inviscid_line(points: np.ndarray) -> tuple[float, float]:
    """Zero-lift angle (deg) and lift slope (per deg) of the inviscid solution."""
    a, b = _velaro.analyze_inviscid_batch(_flat(points), [0.0, 4.0])
    if not (a["success"] and b["success"]) or b["cl"] == a["cl"]:
        return 0.0, 0.1
    slope = (b["cl"] - a["cl"]) / 4.0
    return -a["cl"] / slope, slope


# ---------------------------------------------------------------------------
# Viscous


def _check_conditions(c: Conditions) -> None:
    # Trip positions are chord fractions; the engine refuses anything outside
    # [0, 1] with a ValueError of its own, so only the adapter's part is here.
    if not (0.0 <= c.xtr_upper <= 1.0 and 0.0 <= c.xtr_lower <= 1.0):
        raise ValueError(f"trip positions must be chord fractions in [0, 1], got ({c.xtr_upper:g}, {c.xtr_lower:g})")


#: Text the engine gives the points a stop request left unsolved.
_ENGINE_INTERRUPTED = "viscous analysis interrupted"


def _task_dict(points: np.ndarray, mode: str, values: Sequence[float], c: Conditions, warm_start: bool = True) -> dict:
    return {
        "coords": points, "targets": np.asarray(values, dtype=np.float64), "mode": mode,
        "reynolds": c.reynolds, "mach": c.mach, "ncrit": c.ncrit, "xtr_upper": c.xtr_upper,
        "xtr_lower": c.xtr_lower, "max_iterations": c.max_iterations, "warm_start": warm_start,
    }


def _engine_sweeps(tasks: list, progress: ProgressCallback = None) -> list:
    """The one call of the engine's sweeps (parallel on its worker pool)."""
    return _engine.sweeps(tasks, progress=progress)


def _record_from_engine(d: dict) -> SweepRecord:
    names = _engine.START_NAMES
    return SweepRecord(
        mode=d["mode"], targets=d["targets"], alpha=d["alpha"], cl=d["cl"], cd=d["cd"], cm=d["cm"],
        cd_friction=d["cd_friction"], cd_pressure=d["cd_pressure"], x_tr_upper=d["x_tr_upper"],
        x_tr_lower=d["x_tr_lower"], residual=d["residual"], iterations=np.asarray(d["iterations"], dtype=np.int64),
        converged=np.asarray(d["converged"], dtype=bool),
        errors=["cancelled" if e == _ENGINE_INTERRUPTED else e for e in d["errors"]],
        start=[names[int(k)] for k in d["start"]],
    )


def _batch(points: np.ndarray, alphas: Sequence[float], c: Conditions) -> list[PointRecord]:
    """Independent cold starts at several angles, in parallel."""
    if len(alphas) == 0:
        return []
    tasks = [_task_dict(points, "alpha", [float(a)], c, warm_start=False) for a in alphas]
    return [_record_from_engine(d).point(0) for d in _engine_sweeps(tasks)]


def _distributions(points: np.ndarray, alpha: float, c: Conditions) -> Optional[Distributions]:
    d = _engine.boundary_layer(
        points, float(alpha), reynolds=c.reynolds, mach=c.mach, ncrit=c.ncrit, xtr_upper=c.xtr_upper,
        xtr_lower=c.xtr_lower, max_iterations=c.max_iterations,
    )
    if d["error"] is not None:
        return None
    up, lo = d["upper"], d["lower"]
    # Station k of the upper side is node n_up - 1 - k, station k of the
    # lower side node n_up + k.
    n_up, n_lo = len(up["x"]), len(lo["x"])
    if n_up < 1 or n_lo < 1 or n_up + n_lo > len(points):
        return None
    up_nodes = points[n_up - 1 :: -1]
    lo_nodes = points[n_up : n_up + n_lo]
    if not (np.array_equal(up["node"], np.arange(n_up - 1, -1, -1))
            and np.array_equal(lo["node"], np.arange(n_up, n_up + n_lo))
            and np.allclose(up_nodes[:, 0], up["x"], rtol=0, atol=1e-12)
            and np.allclose(lo_nodes[:, 0], lo["x"], rtol=0, atol=1e-12)):
        return None  # stations do not sit on the nodes as expected; refuse to guess
    # Stagnation point between the first node of each side, where the edge
    # velocity (positive along each side) changes sign.
    a, b = abs(up["ue"][0]), abs(lo["ue"][0])
    f = a / (a + b) if a + b > 0 else 0.5
    stag = up_nodes[0] + f * (lo_nodes[0] - up_nodes[0])

    def arc(nodes: np.ndarray) -> np.ndarray:
        steps = np.hypot(*np.diff(np.vstack([stag, nodes]), axis=0).T)
        return np.cumsum(steps)

    def side(r: dict, nodes: np.ndarray) -> SideArrays:
        laminar = np.asarray(r["laminar"], dtype=bool)
        return SideArrays(
            s=arc(nodes), x=r["x"], y=nodes[:, 1].copy(), ue=r["ue"], theta=r["theta"],
            delta_star=r["delta_star"], h=r["h"], cf=r["cf"],
            amplification=np.where(laminar, r["ctau"], np.nan), shear=np.where(laminar, np.nan, r["ctau"]),
        )

    # Surface pressure at the nodes, in contour order (free-stream speed 1).
    node_x = np.concatenate([up_nodes[::-1, 0], lo_nodes[:, 0]])
    node_y = np.concatenate([up_nodes[::-1, 1], lo_nodes[:, 1]])
    ue = np.concatenate([up["ue"][::-1], lo["ue"]])
    cp = _compressible.karman_tsien(1.0 - ue * ue, c.mach)
    return Distributions(upper=side(up, up_nodes), lower=side(lo, lo_nodes), x=node_x, y=node_y, cp=cp)


def point_at_alpha(points: np.ndarray, alpha: float, conditions: Conditions, distributions: bool = False) -> PointRecord:
    """Viscous solution at one angle of attack (degrees), from a cold start."""
    _check_conditions(conditions)
    rec = _flag_point(points, _batch(points, [alpha], conditions)[0], conditions.mach)
    if distributions and rec.converged:
        rec.distributions = _distributions(points, alpha, conditions)
    return rec


class _ClSolve:
    """Angle search for one prescribed lift coefficient.

    Proposes angles, is told the result of each, and stops when a converged
    point lies within the tolerance of the target, when the target is shown
    to be out of reach, or when the evaluation budget is spent.

    * With two converged angles whose lift straddles the target, the next
      angle comes from linear interpolation inside that bracket (bisection
      when the interpolation hugs an end or keeps moving the same end).
    * Without a bracket, a secant step from the converged point nearest the
      target (the assumed slope with a single point), at most 2 degrees.
    * After a round in which every proposal failed to converge, two angles
      are tried on either side of the estimate, further apart each time
      (0.25, 0.5, 1 degree ...): a cold start that fails at one angle often
      converges at a neighbouring one.
    * Where the lift stops rising, the maximum is located (outward steps of
      a degree until it is bracketed, then the vertex of the parabola
      through the three best points); a target above the largest lift found
      there, and 1 and 2 degrees beyond it, is reported as out of reach
      (likewise below the minimum).
    """

    def __init__(self, target: float, guess: float, slope: float, tol: float, budget: int):
        self.target = target
        self.guess = guess
        self.slope = slope if slope > 1e-3 else 0.1
        self.tol = tol
        self.budget = budget
        self.good: list[PointRecord] = []  # converged evaluations
        self.failed: list[float] = []  # angles that did not converge
        self.evaluations = 0
        self.done: Optional[PointRecord] = None
        self.reason: Optional[str] = None
        self._streak = 0  # consecutive rounds without a converged evaluation
        self._round_converged: Optional[bool] = None
        self._jumped = False  # looked beyond a maximum or minimum
        self._bracket: Optional[tuple[float, float]] = None  # last bracket used
        self._one_sided = 0  # bracket steps in a row that kept one end

    def _seen(self, a: float) -> bool:
        return any(abs(a - p.alpha) < 1e-7 for p in self.good) or any(abs(a - f) < 1e-7 for f in self.failed)

    def _fresh(self, angles: list[float]) -> list[float]:
        out: list[float] = []
        for a in angles:
            if not self._seen(a) and all(abs(a - b) >= 1e-7 for b in out):
                out.append(a)
        return out[: max(0, self.budget - self.evaluations)]

    def propose(self) -> list[float]:
        if self.done is not None or self.reason is not None:
            return []
        if self._round_converged is not None:
            self._streak = 0 if self._round_converged else self._streak + 1
            self._round_converged = None
        if self.evaluations >= self.budget:
            self.reason = f"{self.budget} evaluations spent" + self._closest()
            return []
        t = self.target
        if not self.good:
            if not self.failed:
                return self._fresh([self.guess, self.guess + (1.0 if t >= 0.0 else -1.0)])
            # Nothing converged yet: spread outward from the guess.
            k = 0.5 * self._streak
            return self._fresh([self.guess - k, self.guess + k]) or self._stall()
        pts = sorted(self.good, key=lambda p: p.alpha)
        best = min(pts, key=lambda p: abs(p.cl - t))
        brackets = [(p, q) for p, q in zip(pts, pts[1:]) if (p.cl - t) * (q.cl - t) < 0]
        if brackets:
            lo, hi = min(brackets, key=lambda pq: abs(pq[0].alpha - best.alpha) + abs(pq[1].alpha - best.alpha))
            width = hi.alpha - lo.alpha
            if width < 1e-4:
                self.reason = (
                    f"the lift jumps across the target between alpha {lo.alpha:.4f} and {hi.alpha:.4f} deg "
                    f"(cl {lo.cl:.4f} to {hi.cl:.4f})"
                )
                return []
            # Regula falsi; bisection when it hugs an end, or when the same
            # end has been kept twice running (slow one-sided convergence,
            # or a jump in the lift curve).
            kept = (lo.alpha, hi.alpha)
            if self._bracket is not None and (kept[0] == self._bracket[0] or kept[1] == self._bracket[1]):
                self._one_sided += 1
            else:
                self._one_sided = 0
            self._bracket = kept
            a = lo.alpha + (t - lo.cl) * width / (hi.cl - lo.cl)
            if self._one_sided >= 2 or not (lo.alpha + 0.05 * width < a < hi.alpha - 0.05 * width):
                a = 0.5 * (lo.alpha + hi.alpha)
                self._one_sided = 0
            if self._streak:
                # Failures inside the bracket: try fresh angles spread over
                # it, the two nearest the estimate first.
                spread = lo.alpha + width * np.arange(1, 8) / 8.0
                spread = sorted(spread, key=lambda b: abs(b - a))
                return self._fresh([b for b in spread if min((abs(b - f) for f in self.failed), default=1.0) > 1e-3 * width])[:2] or self._stall()
            return self._fresh([a]) or self._fresh([0.5 * (lo.alpha + hi.alpha)]) or self._stall()
        # No bracket: secant through the two converged points nearest the
        # target, or the assumed slope with a single point.
        if len(pts) >= 2:
            near = sorted(pts, key=lambda p: abs(p.cl - t))[:2]
            da = near[0].alpha - near[1].alpha
            slope = (near[0].cl - near[1].cl) / da if da != 0 else 0.0
        else:
            slope = self.slope
        top = max(pts, key=lambda p: p.cl)
        bottom = min(pts, key=lambda p: p.cl)
        if slope <= 1e-3 and (t > top.cl or t < bottom.cl):
            # Past the maximum (or minimum) of the lift curve: locate it.
            sign = 1.0 if t > top.cl else -1.0
            probe = self._extremum(pts, sign)
            if probe:
                return probe
            if not self._jumped:
                # A plateau can hide a further rise (low Reynolds numbers):
                # look once 1 and 2 degrees beyond it.
                self._jumped = True
                peak = top if sign > 0 else bottom
                jump = self._fresh([peak.alpha + sign, peak.alpha + 2.0 * sign])
                if jump:
                    return jump
            return self._stall()
        if slope <= 1e-3:
            slope = self.slope
        step = max(-2.0, min(2.0, (t - best.cl) / slope))
        a = best.alpha + step
        if self._streak:
            d = min(0.25 * 2 ** (self._streak - 1), 2.0)
            return self._fresh([a - d, a + d]) or self._stall()
        return self._fresh([a]) or self._fresh([best.alpha + 0.5 * step]) or self._stall()

    def _extremum(self, pts: list[PointRecord], sign: float) -> list[float]:
        """Next angle toward the largest (sign +1) or smallest (-1) lift, or
        [] once it is located to 0.001 degree."""
        values = [sign * p.cl for p in pts]
        i = int(np.argmax(values))
        if i == 0 or i == len(pts) - 1:
            # At the end of the angles tried: step outward by a degree.
            step = -1.0 if i == 0 and len(pts) > 1 else 1.0
            if len(pts) == 1:
                step = sign
            return self._fresh([pts[i].alpha + step])
        (a0, f0), (a1, f1), (a2, f2) = [(pts[j].alpha, values[j]) for j in (i - 1, i, i + 1)]
        # Vertex of the parabola through the three points around the extremum.
        den = (a1 - a0) * (f1 - f2) - (a1 - a2) * (f1 - f0)
        if den == 0:
            return []
        vertex = a1 - 0.5 * ((a1 - a0) ** 2 * (f1 - f2) - (a1 - a2) ** 2 * (f1 - f0)) / den
        lo, hi = a0 + 0.01 * (a1 - a0), a2 - 0.01 * (a2 - a1)
        vertex = min(max(vertex, lo), hi)
        if abs(vertex - a1) < 1e-3:
            return []
        return self._fresh([vertex])

    def _stall(self) -> list[float]:
        if self.good:
            top = max(self.good, key=lambda p: p.cl)
            bottom = min(self.good, key=lambda p: p.cl)
            if self.target > top.cl:
                self.reason = f"the largest lift found is cl {top.cl:.4f} at alpha {top.alpha:.3f} deg"
                return []
            if self.target < bottom.cl:
                self.reason = f"the smallest lift found is cl {bottom.cl:.4f} at alpha {bottom.alpha:.3f} deg"
                return []
        self.reason = "the angle search stalled" + self._closest()
        return []

    def _closest(self) -> str:
        if not self.good:
            return "; no angle converged"
        b = min(self.good, key=lambda p: abs(p.cl - self.target))
        return f"; closest converged cl {b.cl:.4f} at alpha {b.alpha:.3f} deg"

    def record(self, rec: PointRecord) -> None:
        self.evaluations += 1
        ok = bool(rec.converged) and math.isfinite(rec.cl)
        self._round_converged = bool(self._round_converged) or ok
        if ok:
            self.good.append(rec)
            if abs(rec.cl - self.target) <= self.tol and (
                self.done is None or abs(rec.cl - self.target) < abs(self.done.cl - self.target)
            ):
                self.done = rec
        else:
            self.failed.append(rec.alpha)

    def result(self) -> PointRecord:
        if self.done is not None:
            return replace(self.done, cl_target=self.target)
        reason = self.reason or "the angle search did not finish"
        return PointRecord(
            alpha=math.nan, cl=math.nan, cd=math.nan, cm=math.nan, cd_friction=math.nan, cd_pressure=math.nan,
            x_tr_upper=math.nan, x_tr_lower=math.nan, iterations=0, residual=math.nan, converged=False,
            error=f"prescribed cl {self.target:g} not reached: {reason}", start="failed", cl_target=self.target,
        )


def _solve_cls(
    points: np.ndarray, targets: Sequence[float], c: Conditions, tol: float,
    seeds: Optional[Sequence[Optional[PointRecord]]] = None,
) -> list[PointRecord]:
    """Angles for several lift coefficients by search on angle-of-attack
    solutions; all targets advance together, one parallel batch per round.

    ``seeds`` are points the engine's prescribed-lift mode already found
    (one per target, or None): a converged one within the tolerance is the
    answer, one outside it is the search's first point.
    """
    alpha0, slope = _inviscid_line(points)
    slope *= 0.9  # the boundary layer lowers the lift slope a little
    solves = []
    for k, t in enumerate(targets):
        seed = seeds[k] if seeds is not None else None
        guess = alpha0 + t / slope
        if seed is not None and seed.converged and math.isfinite(seed.alpha):
            guess = seed.alpha
        s = _ClSolve(t, guess, slope, tol, CL_MAX_EVALUATIONS)
        if seed is not None and seed.converged and math.isfinite(seed.alpha) and math.isfinite(seed.cl):
            s.record(seed)
        solves.append(s)
    while True:
        jobs: list[tuple[int, float]] = []
        for i, s in enumerate(solves):
            for a in s.propose():
                jobs.append((i, a))
        if not jobs:
            break
        for (i, _), rec in zip(jobs, _batch(points, [a for _, a in jobs], c)):
            solves[i].record(rec)
    return [s.result() for s in solves]


def _refine_cls(task: SweepTask, rec: SweepRecord, tol: float = CL_TOLERANCE) -> None:
    """Points of a prescribed-lift sweep that the engine did not bring within
    ``tol`` of their target, searched for by angle (see :class:`_ClSolve`);
    ``rec`` is updated in place."""
    missed = [
        i for i in range(len(rec.targets))
        if rec.errors[i] != "cancelled"
        and not (rec.converged[i] and abs(rec.cl[i] - rec.targets[i]) <= tol)
    ]
    if not missed:
        return
    seeds = [rec.point(i) for i in missed]
    found = _solve_cls(task.points, [float(rec.targets[i]) for i in missed], task.conditions, tol, seeds)
    for i, p in zip(missed, found):
        for name in _FLOAT_COLUMNS:
            getattr(rec, name)[i] = getattr(p, name)
        rec.iterations[i] = p.iterations
        rec.converged[i] = p.converged
        rec.errors[i] = p.error
        rec.start[i] = p.start


def point_at_cl(
    points: np.ndarray, cl: float, conditions: Conditions, distributions: bool = False, tolerance: float = CL_TOLERANCE
) -> PointRecord:
    """Viscous solution at a prescribed lift coefficient.

    The converged point found lies within ``tolerance`` of ``cl``; otherwise
    the record has ``converged`` False and an error saying why.
    """
    _check_conditions(conditions)
    task = SweepTask(points=points, mode="cl", values=np.array([float(cl)]), conditions=conditions)
    sweep_rec = _record_from_engine(_engine_sweeps([_task_dict(points, "cl", [float(cl)], conditions)])[0])
    _refine_cls(task, sweep_rec, tolerance)
    rec = _flag_point(points, sweep_rec.point(0), conditions.mach)
    if distributions and rec.converged:
        rec.distributions = _distributions(points, rec.alpha, conditions)
    return rec


class SweepInterrupted(KeyboardInterrupt):
    """Ctrl-C during :func:`sweeps`; ``partial`` holds what had finished.

    One :class:`SweepRecord` per task, full length, with the points that had
    not finished marked ``error="cancelled"``.
    """

    def __init__(self, partial: list[SweepRecord]):
        super().__init__("interrupted")
        self.partial = partial


def _all_cancelled(task: SweepTask) -> SweepRecord:
    values = np.asarray(task.values, dtype=np.float64)
    n = len(values)
    nan = np.full(n, math.nan)
    return SweepRecord(
        mode=task.mode, targets=values, alpha=values.copy() if task.mode == "alpha" else nan.copy(),
        **{name: nan.copy() for name in _FLOAT_COLUMNS if name != "alpha"},
        iterations=np.zeros(n, dtype=np.int64), converged=np.zeros(n, dtype=bool),
        errors=["cancelled"] * n, start=["failed"] * n,
    )


def _cancel_unrefined(task: SweepTask, rec: SweepRecord) -> None:
    """Marks the points of a prescribed-lift record that are not within the
    tolerance as cancelled (their search was interrupted)."""
    if task.mode != "cl":
        return
    for i in range(len(rec.targets)):
        if rec.errors[i] is None and not (rec.converged[i] and abs(rec.cl[i] - rec.targets[i]) <= CL_TOLERANCE):
            rec.converged[i] = False
            rec.errors[i] = "cancelled"


def _run(tasks: Sequence[SweepTask], progress: ProgressCallback) -> list[SweepRecord]:
    """One engine call for all tasks, then the prescribed-lift refinements."""
    try:
        out = _engine_sweeps([_task_dict(t.points, t.mode, t.values, t.conditions) for t in tasks], progress)
    except _engine.SweepInterrupted as stop:
        partial = [_record_from_engine(d) for d in stop.partial]
        for t, r in zip(tasks, partial):
            _cancel_unrefined(t, r)
        raise SweepInterrupted(partial) from None
    records = [_record_from_engine(d) for d in out]
    try:
        for t, r in zip(tasks, records):
            if t.mode == "cl":
                _refine_cls(t, r)
    except KeyboardInterrupt:
        for t, r in zip(tasks, records):
            _cancel_unrefined(t, r)
        raise SweepInterrupted(records) from None
    return records


def sweep(
    task: SweepTask,
    progress: ProgressCallback = None,
    cancel: Optional[threading.Event] = None,
) -> SweepRecord:
    """Run one sweep (see the module notes); results in input order.

    ``cancel``, when set before the sweep starts, marks every point
    cancelled.  The supercritical flags are left unset (None): :func:`sweeps`
    sets them, with one inviscid batch per contour.  Ctrl-C raises
    :class:`SweepInterrupted`.
    """
    _check_conditions(task.conditions)
    if cancel is not None and cancel.is_set():
        return _all_cancelled(task)
    return _run([task], progress)[0]


def sweeps(tasks: Sequence[SweepTask], workers: Optional[int] = None, progress: ProgressCallback = None) -> list[SweepRecord]:
    """Run independent sweeps in parallel; results in task order.

    The engine runs the sweeps of one call in parallel on its worker pool
    (one thread per processor) with the interpreter lock released;
    ``workers`` limits how many tasks go to the engine at once.
    ``progress`` is called on the calling thread.  On Ctrl-C the engine
    stops within a moment and :class:`SweepInterrupted` (a
    ``KeyboardInterrupt``) is raised with the points finished so far.  The
    records come back with their supercritical flags set
    (:func:`_flag_sweeps`).
    """
    for t in tasks:
        _check_conditions(t.conditions)
    if not tasks:
        return []
    size = len(tasks) if workers is None else max(1, int(workers))
    records: list[SweepRecord] = []
    for lo in range(0, len(tasks), size):
        try:
            records.extend(_run(tasks[lo : lo + size], progress))
        except SweepInterrupted as stop:
            partial = records + list(stop.partial)
            partial += [_all_cancelled(t) for t in tasks[len(partial):]]
            _flag_sweeps(tasks, partial)
            raise SweepInterrupted(partial) from None
    _flag_sweeps(tasks, records)
    return records
