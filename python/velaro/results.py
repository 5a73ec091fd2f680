"""Result types: operating points, distributions and polars.

Units: angles in degrees; lengths (x, y, s, θ, δ*) as fractions of the chord;
edge velocity ``ue`` over the free-stream speed; coefficients are based on the
chord and the free-stream dynamic pressure.

An operating point that did not converge is never reported as a result: its
coefficients and transition positions are NaN and ``converged`` is False;
the iteration count, the residual and the error text (if any) are kept.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Iterator, Optional, Sequence, overload

import numpy as np

__all__ = [
    "SurfacePressure",
    "BoundaryLayerSide",
    "BoundaryLayer",
    "OperatingPoint",
    "InviscidPoint",
    "Polar",
    "PolarSet",
]


def _frozen(values: Any, dtype: Any = np.float64) -> np.ndarray:
    arr = np.array(values, dtype=dtype, copy=True)
    arr.setflags(write=False)
    return arr


@dataclass(frozen=True, eq=False)
class SurfacePressure:
    """Pressure coefficient at the surface nodes, in contour order.

    Attributes
    ----------
    x, y : numpy.ndarray
        Node coordinates, fractions of the chord.
    cp : numpy.ndarray
        Pressure coefficient, dimensionless: ``1 - (q / V∞)²`` in
        incompressible flow; at a Mach number above 0 that value corrected
        by the Karman-Tsien rule (the pressure the lift and moment integrate).
    """

    x: np.ndarray
    y: np.ndarray
    cp: np.ndarray


@dataclass(frozen=True, eq=False)
class BoundaryLayerSide:
    """Boundary layer of one side, from the first station after the
    stagnation point to the trailing edge (wake excluded).

    Attributes
    ----------
    s : numpy.ndarray
        Arc length from the stagnation point along the surface, chords.
    x, y : numpy.ndarray
        Station coordinates, chords.
    ue : numpy.ndarray
        Edge velocity over the free-stream speed, positive along the side.
    theta : numpy.ndarray
        Momentum thickness θ, chords.
    delta_star : numpy.ndarray
        Displacement thickness δ*, chords.
    H : numpy.ndarray
        Shape factor δ*/θ, dimensionless.
    cf : numpy.ndarray
        Skin-friction coefficient based on the free-stream dynamic pressure.
    amplification : numpy.ndarray or None
        Amplification exponent ñ of the e^N model at laminar stations (NaN at
        turbulent ones); None when the engine does not report it.
    shear : numpy.ndarray or None
        Square root of the maximum shear-stress coefficient, √Cτ, at turbulent
        stations (NaN at laminar ones); None when the engine does not report it.
    """

    s: np.ndarray
    x: np.ndarray
    y: np.ndarray
    ue: np.ndarray
    theta: np.ndarray
    delta_star: np.ndarray
    H: np.ndarray
    cf: np.ndarray
    amplification: Optional[np.ndarray] = None
    shear: Optional[np.ndarray] = None


@dataclass(frozen=True, eq=False)
class BoundaryLayer:
    """Boundary layer of both sides."""

    upper: BoundaryLayerSide
    lower: BoundaryLayerSide


@dataclass(frozen=True, eq=False)
class OperatingPoint:
    """Viscous solution at one operating point.

    At a Mach number above 0 the lift and moment integrate the surface
    pressure corrected for compressibility (Karman-Tsien) and the
    boundary-layer closures see the Mach number; the correction is valid
    while ``supercritical`` is False.

    Attributes
    ----------
    alpha : float
        Angle of attack, degrees (NaN when a prescribed lift coefficient was
        not reached).
    cl, cd, cm : float
        Lift, drag and quarter-chord pitching-moment coefficients (NaN when
        not converged).
    cd_friction, cd_pressure : float
        Friction and pressure parts of the drag coefficient.
    x_tr_upper, x_tr_lower : float
        Transition positions, x over chord (1 when the side stays laminar).
    converged : bool
        True only when the viscous iteration met its tolerance.
    iterations : int
        Newton iterations spent on the point, every attempt included (a
        point that fails is retried: cold, then with damped steps at twice
        the iteration budget).
    residual : float
        Final rms residual of the Newton iteration.
    error : str or None
        Why the point failed, when the engine reported a failure.
    re, mach, ncrit : float
        Chord Reynolds number, free-stream Mach number, critical amplification
        exponent of the e^N transition model.
    xtr : tuple of float
        Trip positions (upper, lower), x over chord; 1 is free transition.
    cl_target : float or None
        The prescribed lift coefficient, for a point solved at given lift.
    start : str or None
        How the engine reached the point: ``"warm"`` (from the converged
        neighbour of its sweep), ``"substepped"`` (from it through
        intermediate points), ``"cold"`` (from a fresh boundary layer),
        ``"damped"`` (with shortened Newton steps, after the others failed)
        or ``"failed"``.
    supercritical : bool or None
        True when the flow reaches sonic speed somewhere on the surface: the
        corrected minimum pressure coefficient lies below the critical value
        Cp*(M) (isentropic, gamma 1.4), and the compressibility correction,
        like the analysis, no longer holds.  The check uses the inviscid
        pressure at the point's angle.  Always False at Mach 0; None when
        the point has no result (not converged).
    pressure : SurfacePressure or None
        Viscous surface pressure, on request (``distributions=True``).
    boundary_layer : BoundaryLayer or None
        Boundary-layer arrays of both sides, on request.
    """

    alpha: float
    cl: float
    cd: float
    cm: float
    cd_friction: float
    cd_pressure: float
    x_tr_upper: float
    x_tr_lower: float
    converged: bool
    iterations: int
    residual: float
    error: Optional[str] = None
    re: float = math.nan
    mach: float = 0.0
    ncrit: float = 9.0
    xtr: tuple[float, float] = (1.0, 1.0)
    cl_target: Optional[float] = None
    start: Optional[str] = None
    supercritical: Optional[bool] = None
    pressure: Optional[SurfacePressure] = None
    boundary_layer: Optional[BoundaryLayer] = None

    @property
    def cl_cd(self) -> float:
        """Lift-to-drag ratio (NaN when not converged)."""
        return self.cl / self.cd if self.converged and self.cd != 0 else math.nan


@dataclass(frozen=True, eq=False)
class InviscidPoint:
    """Inviscid (potential-flow) solution at one angle of attack.

    Attributes
    ----------
    alpha : float
        Angle of attack, degrees.
    cl, cm : float
        Lift and quarter-chord moment coefficients (NaN on failure).
    pressure : SurfacePressure or None
        Pressure coefficient at the surface nodes.
    error : str or None
        Why the solution failed, if it did.
    mach : float
        Free-stream Mach number (0: incompressible).  Above 0 the pressure
        is corrected by the Karman-Tsien rule and cl, cm integrate the
        corrected pressure.
    supercritical : bool or None
        True when the corrected minimum pressure coefficient lies below the
        critical value Cp*(M): the flow is locally supersonic and the
        correction no longer holds.  False at Mach 0; None on failure.
    """

    alpha: float
    cl: float
    cm: float
    pressure: Optional[SurfacePressure]
    error: Optional[str] = None
    mach: float = 0.0
    supercritical: Optional[bool] = None

    @property
    def converged(self) -> bool:
        """True when the solution exists (the inviscid solve has no iteration)."""
        return self.error is None


_COEFFICIENTS = ("cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper", "x_tr_lower")
_COLUMNS = ("alpha",) + _COEFFICIENTS + ("iterations", "residual")


class Polar:
    """A viscous polar: one row per requested angle (or lift coefficient).

    Columns are read-only numpy arrays in the order requested: ``alpha``
    (deg), ``cl``, ``cd``, ``cm``, ``cd_friction``, ``cd_pressure``,
    ``x_tr_upper``, ``x_tr_lower`` (x/c), ``iterations``, ``residual``, the
    mask ``converged`` and the mask ``supercritical`` (converged points
    whose flow reaches sonic speed, see :attr:`OperatingPoint.supercritical`;
    False where a point did not converge).  Rows that did not converge hold NaN coefficients
    (and NaN alpha in a prescribed-lift sweep that failed); ``errors`` keeps
    the failure text per row.

    Derived quantities (``cl_max``, ``alpha_zero_lift``, ``lift_slope``,
    ``cd_min``, ``ld_max`` ...) use the converged rows only and are NaN when
    there are none (or too few).

    Parameters
    ----------
    alpha, cl, cd : array_like
        Required columns, one value per row.
    cm, cd_friction, cd_pressure, x_tr_upper, x_tr_lower, residual : array_like, optional
        Further columns; NaN when omitted.
    iterations : array_like of int, optional
        Zero when omitted.
    converged : array_like of bool, optional
        All True when omitted.
    errors, start : sequence, optional
        Per-row failure text and start method.
    cl_target : array_like, optional
        Prescribed lift coefficients of a sweep at given lift.
    supercritical : array_like of bool, optional
        Per-row flag of locally supersonic flow; all False when omitted.
    name : str
        Section name.
    re, mach, ncrit : float
        Conditions of the polar.
    xtr : tuple of float
        Trip positions (upper, lower), x/c.
    """

    def __init__(
        self,
        alpha: Any,
        cl: Any,
        cd: Any,
        cm: Any = None,
        cd_friction: Any = None,
        cd_pressure: Any = None,
        x_tr_upper: Any = None,
        x_tr_lower: Any = None,
        iterations: Any = None,
        residual: Any = None,
        converged: Any = None,
        errors: Optional[Sequence[Optional[str]]] = None,
        start: Optional[Sequence[Optional[str]]] = None,
        cl_target: Any = None,
        supercritical: Any = None,
        *,
        name: str = "airfoil",
        re: float = math.nan,
        mach: float = 0.0,
        ncrit: float = 9.0,
        xtr: tuple[float, float] = (1.0, 1.0),
    ) -> None:
        n = len(np.atleast_1d(alpha))

        def column(values: Any, default: float) -> np.ndarray:
            if values is None:
                return np.full(n, default, dtype=np.float64)
            arr = np.array(values, dtype=np.float64).reshape(-1)
            if arr.shape != (n,):
                raise ValueError(f"Polar: every column needs {n} values, got {arr.shape[0]}")
            return arr

        mask = np.ones(n, dtype=bool) if converged is None else np.array(converged, dtype=bool).reshape(-1)
        if mask.shape != (n,):
            raise ValueError(f"Polar: converged needs {n} values, got {mask.shape[0]}")
        cols = {
            "alpha": column(alpha, math.nan),
            "cl": column(cl, math.nan),
            "cd": column(cd, math.nan),
            "cm": column(cm, math.nan),
            "cd_friction": column(cd_friction, math.nan),
            "cd_pressure": column(cd_pressure, math.nan),
            "x_tr_upper": column(x_tr_upper, math.nan),
            "x_tr_lower": column(x_tr_lower, math.nan),
            "residual": column(residual, math.nan),
        }
        # A point that did not converge carries no coefficients.
        for key in _COEFFICIENTS:
            cols[key][~mask] = math.nan
        # ... and a converged point must have finite ones.
        for key in ("alpha", "cl", "cd"):
            mask &= np.isfinite(cols[key])
        its = np.zeros(n, dtype=np.int64) if iterations is None else np.array(iterations, dtype=np.int64).reshape(-1)
        self._cols = {k: _frozen(v) for k, v in cols.items()}
        self._cols["iterations"] = _frozen(its, np.int64)
        self._converged = _frozen(mask, bool)
        sc = np.zeros(n, dtype=bool) if supercritical is None else np.array(supercritical, dtype=bool).reshape(-1)
        if sc.shape != (n,):
            raise ValueError(f"Polar: supercritical needs {n} values, got {sc.shape[0]}")
        self._supercritical = _frozen(sc & mask, bool)
        self._cl_target = None if cl_target is None else _frozen(column(cl_target, math.nan))
        self.errors: tuple[Optional[str], ...] = tuple(errors) if errors is not None else (None,) * n
        self.start: tuple[Optional[str], ...] = tuple(start) if start is not None else (None,) * n
        self.name = name
        self.re = float(re)
        self.mach = float(mach)
        self.ncrit = float(ncrit)
        self.xtr = (float(xtr[0]), float(xtr[1]))

    # -- columns ---------------------------------------------------------
    alpha = property(lambda self: self._cols["alpha"], doc="Angle of attack, degrees.")
    cl = property(lambda self: self._cols["cl"], doc="Lift coefficient.")
    cd = property(lambda self: self._cols["cd"], doc="Drag coefficient.")
    cm = property(lambda self: self._cols["cm"], doc="Quarter-chord pitching-moment coefficient.")
    cd_friction = property(lambda self: self._cols["cd_friction"], doc="Friction drag coefficient.")
    cd_pressure = property(lambda self: self._cols["cd_pressure"], doc="Pressure drag coefficient.")
    x_tr_upper = property(lambda self: self._cols["x_tr_upper"], doc="Upper-side transition, x/c.")
    x_tr_lower = property(lambda self: self._cols["x_tr_lower"], doc="Lower-side transition, x/c.")
    iterations = property(lambda self: self._cols["iterations"], doc="Newton iterations per point.")
    residual = property(lambda self: self._cols["residual"], doc="Final rms residual per point.")
    converged = property(lambda self: self._converged, doc="True where the point converged.")
    supercritical = property(
        lambda self: self._supercritical,
        doc="True where a converged point's flow reaches sonic speed (outside the method's validity).",
    )
    cl_target = property(lambda self: self._cl_target, doc="Prescribed lift coefficients (None for an angle sweep).")

    def __len__(self) -> int:
        return len(self._converged)

    def __repr__(self) -> str:
        return (
            f"Polar({self.name!r}, re={self.re:g}, mach={self.mach:g}, ncrit={self.ncrit:g}, "
            f"{len(self)} points, {int(self._converged.sum())} converged)"
        )

    def point(self, i: int) -> OperatingPoint:
        """Row ``i`` as an :class:`OperatingPoint` (without distributions)."""
        c = self._cols
        return OperatingPoint(
            alpha=float(c["alpha"][i]), cl=float(c["cl"][i]), cd=float(c["cd"][i]), cm=float(c["cm"][i]),
            cd_friction=float(c["cd_friction"][i]), cd_pressure=float(c["cd_pressure"][i]),
            x_tr_upper=float(c["x_tr_upper"][i]), x_tr_lower=float(c["x_tr_lower"][i]),
            converged=bool(self._converged[i]), iterations=int(c["iterations"][i]), residual=float(c["residual"][i]),
            error=self.errors[i], re=self.re, mach=self.mach, ncrit=self.ncrit, xtr=self.xtr,
            cl_target=None if self._cl_target is None else float(self._cl_target[i]), start=self.start[i],
            supercritical=bool(self._supercritical[i]) if self._converged[i] else None,
        )

    def __iter__(self) -> Iterator[OperatingPoint]:
        return (self.point(i) for i in range(len(self)))

    # -- export ----------------------------------------------------------
    def as_dict(self) -> dict[str, Any]:
        """Columns as lists, plus the conditions (for JSON and the like)."""
        out: dict[str, Any] = {
            "name": self.name, "re": self.re, "mach": self.mach, "ncrit": self.ncrit, "xtr": list(self.xtr),
        }
        for k in _COLUMNS:
            out[k] = self._cols[k].tolist()
        out["converged"] = self._converged.tolist()
        out["supercritical"] = self._supercritical.tolist()
        if self._cl_target is not None:
            out["cl_target"] = self._cl_target.tolist()
        out["error"] = list(self.errors)
        return out

    def to_pandas(self) -> "Any":
        """The columns as a :class:`pandas.DataFrame`.

        Columns: alpha, cl, cd, cm, cd_friction, cd_pressure, x_tr_upper,
        x_tr_lower, iterations, residual, converged, supercritical, error (and
        cl_target for a sweep at given lift).  The conditions are in ``DataFrame.attrs``.

        Raises
        ------
        ImportError
            When pandas is not installed.
        """
        try:
            import pandas as pd
        except ImportError as exc:  # pragma: no cover - depends on the environment
            raise ImportError(
                "Polar.to_pandas() needs pandas, an optional dependency: pip install 'velaro[pandas]'"
            ) from exc
        data: dict[str, Any] = {k: self._cols[k] for k in _COLUMNS}
        data["converged"] = self._converged
        data["supercritical"] = self._supercritical
        if self._cl_target is not None:
            data["cl_target"] = self._cl_target
        data["error"] = list(self.errors)
        frame = pd.DataFrame(data)
        frame.attrs.update({"name": self.name, "re": self.re, "mach": self.mach, "ncrit": self.ncrit, "xtr": self.xtr})
        return frame

    # -- derived quantities ------------------------------------------------
    def _sorted_converged(self) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
        idx = np.flatnonzero(self._converged)
        order = idx[np.argsort(self._cols["alpha"][idx], kind="stable")]
        return order, self._cols["alpha"][order], self._cols["cl"][order]

    def _argbest(self, values: np.ndarray, largest: bool) -> int:
        idx = np.flatnonzero(self._converged & np.isfinite(values))
        if idx.size == 0:
            return -1
        pick = np.argmax(values[idx]) if largest else np.argmin(values[idx])
        return int(idx[pick])

    def _at(self, i: int, column: np.ndarray) -> float:
        return float(column[i]) if i >= 0 else math.nan

    @property
    def cl_max(self) -> float:
        """Largest converged lift coefficient."""
        return self._at(self._argbest(self.cl, True), self.cl)

    @property
    def alpha_cl_max(self) -> float:
        """Angle of the largest converged lift coefficient, degrees."""
        return self._at(self._argbest(self.cl, True), self.alpha)

    @property
    def cd_min(self) -> float:
        """Smallest converged drag coefficient."""
        return self._at(self._argbest(self.cd, False), self.cd)

    @property
    def alpha_cd_min(self) -> float:
        """Angle of the smallest converged drag coefficient, degrees."""
        return self._at(self._argbest(self.cd, False), self.alpha)

    def _ld(self) -> np.ndarray:
        # Lift-to-drag ratio where the lift is positive (NaN elsewhere): a
        # polar of negative lift only has no meaningful (cl/cd)_max.
        with np.errstate(divide="ignore", invalid="ignore"):
            return np.where((self.cl > 0) & (self.cd > 0), self.cl / self.cd, np.nan)

    @property
    def ld_max(self) -> float:
        """Largest lift-to-drag ratio cl/cd over the converged points with
        positive lift (NaN when there are none)."""
        ld = self._ld()
        return self._at(self._argbest(ld, True), ld)

    @property
    def alpha_ld_max(self) -> float:
        """Angle of :attr:`ld_max`, degrees."""
        return self._at(self._argbest(self._ld(), True), self.alpha)

    def linear_range(self, tolerance: float = 0.02) -> np.ndarray:
        """Mask of the rows that make up the linear part of the lift curve.

        The converged rows are taken in order of angle.  The range starts
        with the two neighbouring rows that straddle zero lift (or, if none
        do, the neighbouring pair of smallest lift magnitude) and grows one
        row at a time, toward whichever neighbour lies closer to the
        least-squares line through the rows taken so far, as long as that
        neighbour's lift lies within ``tolerance`` of the line (the line is
        refitted after each addition).  At low Reynolds numbers the lift
        curve near zero lift can bend (laminar separation near the trailing
        edge), and the range found is then short.

        Parameters
        ----------
        tolerance : float
            Largest departure from the fitted line, in lift coefficient.

        Returns
        -------
        numpy.ndarray
            Boolean mask over all rows (empty selection when fewer than two
            rows converged).
        """
        order, a, c = self._sorted_converged()
        mask = np.zeros(len(self), dtype=bool)
        if len(order) < 2:
            return mask
        pair_size = np.abs(c[:-1]) + np.abs(c[1:])
        straddle = c[:-1] * c[1:] <= 0
        seeds = np.flatnonzero(straddle) if straddle.any() else np.arange(len(c) - 1)
        k = int(seeds[np.argmin(pair_size[seeds])])
        lo, hi = k, k + 1
        while True:
            slope, intercept = np.polyfit(a[lo : hi + 1], c[lo : hi + 1], 1)
            options = []
            if lo > 0:
                options.append((abs(c[lo - 1] - (slope * a[lo - 1] + intercept)), lo - 1, hi))
            if hi < len(c) - 1:
                options.append((abs(c[hi + 1] - (slope * a[hi + 1] + intercept)), lo, hi + 1))
            if not options:
                break
            dev, new_lo, new_hi = min(options)
            if dev > tolerance:
                break
            lo, hi = new_lo, new_hi
        mask[order[lo : hi + 1]] = True
        return mask

    def _fit(self, tolerance: float) -> tuple[float, float]:
        m = self.linear_range(tolerance)
        if m.sum() < 2:
            return math.nan, math.nan
        slope, intercept = np.polyfit(self.alpha[m], self.cl[m], 1)
        return float(slope), float(intercept)

    @property
    def lift_slope(self) -> float:
        """Lift-curve slope dcl/dα per degree, fitted on :meth:`linear_range`."""
        return self._fit(0.02)[0]

    @property
    def alpha_zero_lift(self) -> float:
        """Zero-lift angle, degrees.

        Linear interpolation between the two neighbouring converged rows
        (in angle order) whose lift changes sign, choosing the crossing
        nearest the linear range; when no converged rows straddle zero lift,
        the zero of the line fitted on the linear range.
        """
        order, a, c = self._sorted_converged()
        if len(order) < 2:
            return math.nan
        crossings = np.flatnonzero((c[:-1] <= 0) & (c[1:] >= 0) | (c[:-1] >= 0) & (c[1:] <= 0))
        crossings = [k for k in crossings if c[k] != c[k + 1]]
        if crossings:
            lin = self.linear_range()
            centre = float(np.mean(self.alpha[lin])) if lin.any() else 0.0
            k = min(crossings, key=lambda k: abs(0.5 * (a[k] + a[k + 1]) - centre))
            return float(a[k] - c[k] * (a[k + 1] - a[k]) / (c[k + 1] - c[k]))
        slope, intercept = self._fit(0.02)
        return -intercept / slope if slope and math.isfinite(slope) else math.nan

    def summary(self) -> dict[str, float]:
        """The derived quantities by name."""
        return {
            "cl_max": self.cl_max,
            "alpha_cl_max": self.alpha_cl_max,
            "alpha_zero_lift": self.alpha_zero_lift,
            "lift_slope": self.lift_slope,
            "cd_min": self.cd_min,
            "alpha_cd_min": self.alpha_cd_min,
            "ld_max": self.ld_max,
            "alpha_ld_max": self.alpha_ld_max,
        }


class PolarSet(Sequence[Polar]):
    """Several polars of one call (several Reynolds or Mach numbers), in the
    order the values were given: Reynolds numbers outermost, then Mach
    numbers, then ncrit."""

    def __init__(self, polars: Sequence[Polar]) -> None:
        self._polars = tuple(polars)

    @overload
    def __getitem__(self, i: int) -> Polar: ...
    @overload
    def __getitem__(self, i: slice) -> "PolarSet": ...
    def __getitem__(self, i: Any) -> Any:
        if isinstance(i, slice):
            return PolarSet(self._polars[i])
        return self._polars[i]

    def __len__(self) -> int:
        return len(self._polars)

    def __repr__(self) -> str:
        return "PolarSet([" + ", ".join(repr(p) for p in self._polars) + "])"

    def to_pandas(self) -> "Any":
        """One long DataFrame with the columns name, re, mach, ncrit in front."""
        frames = []
        for p in self._polars:
            f = p.to_pandas()
            f.insert(0, "ncrit", p.ncrit)
            f.insert(0, "mach", p.mach)
            f.insert(0, "re", p.re)
            f.insert(0, "name", p.name)
            f.attrs = {}
            frames.append(f)
        import pandas as pd

        return pd.concat(frames, ignore_index=True) if frames else pd.DataFrame()
