"""The :class:`Airfoil`: an immutable section contour and its analyses."""

from __future__ import annotations

import math
import numbers
import re as _re
import warnings
from functools import cached_property
from itertools import product
from typing import Any, Callable, Literal, Optional, Sequence, Union, overload

import numpy as np

from . import _backend, _compressible
from ._contour import as_points, find_self_intersection, order_contour, section_properties
from ._datfile import PathLike, read_dat, write_dat
from .results import (
    BoundaryLayer,
    BoundaryLayerSide,
    InviscidPoint,
    OperatingPoint,
    Polar,
    PolarSet,
    SurfacePressure,
)

__all__ = [
    "Airfoil", "ContourOrderWarning", "SupercriticalWarning", "PolarInterrupted", "DEFAULT_PANELS", "MAX_ANALYSIS_NODES",
]

#: Nodes of the contour the analyses use unless told otherwise.
DEFAULT_PANELS = 160
#: Largest contour the analyses accept (the work grows as the cube of it).
MAX_ANALYSIS_NODES = 2000
#: Largest contour the flap deflection accepts.
MAX_FLAP_POINTS = 10000

Repanel = Union[bool, int, None]


class PolarInterrupted(KeyboardInterrupt):
    """Ctrl-C during :meth:`Airfoil.polar`.

    ``polars`` holds what the call would have returned (a :class:`Polar` or a
    :class:`PolarSet`), with the points that had not finished marked as not
    converged and ``"cancelled"`` in ``errors``.
    """

    def __init__(self, polars: Union[Polar, PolarSet]):
        super().__init__("polar interrupted")
        self.polars = polars


class ContourOrderWarning(UserWarning):
    """The contour was reordered (reversed, restarted at the trailing edge,
    or its repeated closing point dropped) before use."""


class SupercriticalWarning(UserWarning):
    """The flow reaches sonic speed on the surface (``supercritical`` is True):
    the compressibility correction, and with it the analysis, no longer holds
    at that point."""


ProgressArg = Union[bool, None, Callable[[int], Any], Any]


def _progress_callback(progress: ProgressArg) -> Optional[Callable[[int], Any]]:
    """The function to call with the number of points just finished, from a
    ``progress`` argument that is not True (True makes a bar of its own)."""
    if progress is None or (isinstance(progress, (bool, np.bool_)) and not progress):
        return None
    update = getattr(progress, "update", None)
    if callable(update):  # a tqdm-like bar
        return update
    if callable(progress):
        return progress
    raise ValueError(
        f"progress must be a bool, a callable taking the number of points finished, or an object with "
        f"an update(n) method such as a tqdm bar; got {progress!r}"
    )


def _finite(name: str, value: Any) -> float:
    try:
        v = float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a number, got {value!r}") from None
    if not math.isfinite(v):
        raise ValueError(f"{name} must be finite, got {v}")
    return v


def _check_re(v: Any) -> float:
    r = _finite("re", v)
    if r <= 0:
        raise ValueError(f"re (Reynolds number) must be positive, got {r:g}")
    return r


def _check_mach(v: Any) -> float:
    m = _finite("mach", v)
    if not 0.0 <= m < 1.0:
        raise ValueError(f"mach must be in [0, 1), got {m:g}")
    return m


def _check_ncrit(v: Any) -> float:
    n = _finite("ncrit", v)
    if n < 0:
        raise ValueError(f"ncrit must be non-negative, got {n:g}")
    return n


def _check_xtr(xtr: Any) -> tuple[float, float]:
    try:
        upper, lower = xtr
    except (TypeError, ValueError):
        raise ValueError(f"xtr must be a pair (upper, lower) of chord fractions, got {xtr!r}") from None
    out = (_finite("xtr upper", upper), _finite("xtr lower", lower))
    for side, v in zip(("upper", "lower"), out):
        if not 0.0 < v <= 1.0:
            raise ValueError(f"xtr {side} trip position must be in (0, 1] (1 = free transition), got {v:g}")
    return out


def _check_iterations(v: Any) -> int:
    if isinstance(v, bool) or not isinstance(v, numbers.Integral) or v < 1:
        raise ValueError(f"max_iterations must be a positive integer, got {v!r}")
    return int(v)


def _values(name: str, values: Any) -> np.ndarray:
    try:
        arr = np.array(values, dtype=np.float64).reshape(-1)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a number or a sequence of numbers, got {values!r}") from None
    if arr.size == 0:
        raise ValueError(f"{name} is empty")
    if not np.isfinite(arr).all():
        raise ValueError(f"{name} must be finite, got {arr[~np.isfinite(arr)][0]}")
    return arr


def _scalar_or_list(name: str, value: Any, check: Any) -> tuple[list, bool]:
    if np.ndim(value) == 0:
        return [check(value)], False
    vals = list(np.asarray(value, dtype=object).reshape(-1))
    if not vals:
        raise ValueError(f"{name} is empty")
    return [check(v) for v in vals], True


class Airfoil:
    """An airfoil section: an immutable contour with a name.

    The contour is kept in the order the analyses expect: the first point at
    the upper trailing edge, over the upper surface to the leading edge and
    back along the lower surface, counter-clockwise, with the chord roughly
    along +x.  A contour given in another order (clockwise, starting
    elsewhere, or closed by repeating the first point across a blunt base)
    is put in that order when the airfoil is made, with a
    :class:`ContourOrderWarning` that says what changed.  A sharp trailing
    edge is one point that appears first and last.

    Parameters
    ----------
    coordinates : array_like
        ``(N, 2)`` array of x, y in chord units, N >= 3, all finite.
    name : str
        Section name.

    Raises
    ------
    ValueError
        For a wrong shape, a non-finite value, fewer than 3 distinct points,
        a contour that encloses no area, or one that crosses itself.
    """

    __slots__ = ("_points", "_name", "_paneled", "__dict__")

    def __init__(self, coordinates: Any, name: str = "airfoil") -> None:
        self._init(coordinates, name, paneled=False, stacklevel=3)

    def _init(self, coordinates: Any, name: str, paneled: bool, stacklevel: int) -> None:
        pts = as_points(coordinates)
        ordered = order_contour(pts)
        if ordered.changes:
            warnings.warn(ContourOrderWarning(f"{name}: " + "; ".join(ordered.changes)), stacklevel=stacklevel)
        crossing = find_self_intersection(ordered.points)
        if crossing is not None:
            i, j = crossing
            raise ValueError(f"{name}: the contour crosses itself (segments {i} and {j} intersect)")
        points = ordered.points.copy()
        points.setflags(write=False)
        object.__setattr__(self, "_points", points)
        object.__setattr__(self, "_name", str(name))
        object.__setattr__(self, "_paneled", bool(paneled) and not ordered.changes)

    @classmethod
    def _derived(cls, points: np.ndarray, name: str, paneled: bool) -> "Airfoil":
        obj = cls.__new__(cls)
        obj._init(points, name, paneled, stacklevel=4)
        return obj

    def __setattr__(self, key: str, value: Any) -> None:
        raise AttributeError(f"Airfoil is immutable; cannot set {key!r}")

    def __delattr__(self, key: str) -> None:
        raise AttributeError(f"Airfoil is immutable; cannot delete {key!r}")

    # -- constructors ------------------------------------------------------
    @classmethod
    def naca(cls, designation: Union[str, int], points_per_side: int = 123) -> "Airfoil":
        """NACA 4-series section.

        Parameters
        ----------
        designation : str or int
            Four digits, with or without a ``"NACA"``/``"naca"`` prefix:
            ``"2412"``, ``"naca2412"``, ``"NACA 0012"``.  (An int loses leading
            zeros: ``12`` is read as ``"0012"``.)
        points_per_side : int
            Points per surface, leading and trailing edge included; the
            contour has ``2 * points_per_side - 1`` points and an open
            (blunt) trailing edge.

        Raises
        ------
        ValueError
            For anything but four digits, zero thickness, or a camber
            position of 0 with non-zero camber.
        """
        text = f"{designation:04d}" if isinstance(designation, numbers.Integral) else str(designation)
        m = _re.fullmatch(r"\s*(?:naca)?[\s_-]*(\d{4})\s*", text, flags=_re.IGNORECASE)
        if not m:
            raise ValueError(f"NACA designation must be four digits such as '2412' or 'naca0012', got {designation!r}")
        digits = m.group(1)
        camber, position, thickness = int(digits[0]), int(digits[1]), int(digits[2:])
        if thickness == 0:
            raise ValueError(f"NACA {digits}: thickness must be positive")
        if camber > 0 and position == 0:
            raise ValueError(f"NACA {digits}: camber {camber}% needs a camber position digit of 1 to 9")
        if isinstance(points_per_side, bool) or not isinstance(points_per_side, numbers.Integral) or not 3 <= points_per_side <= 5000:
            raise ValueError(f"points_per_side must be an integer in [3, 5000], got {points_per_side!r}")
        pts = _backend.naca4(int(digits), int(points_per_side))
        return cls._derived(pts, f"NACA {digits}", paneled=False)

    @classmethod
    def from_dat(cls, path: PathLike) -> "Airfoil":
        """Read a coordinate file.

        Both common layouts are detected: the contour layout (a title line,
        then ``x y`` pairs from the trailing edge over the upper surface to
        the leading edge and back), and the two-surface layout (a title, a
        line with the upper and lower point counts, then each surface from
        the leading edge).  The title becomes the name (the file name when
        there is none).  LF, CRLF and CR line ends and a UTF-8 byte-order
        mark are accepted.

        Raises
        ------
        FileNotFoundError, PermissionError, IsADirectoryError
            As :func:`open` raises them.
        OSError
            For a FIFO, device or other non-regular file, or a file over
            :data:`velaro.MAX_FILE_BYTES`; these are refused before reading.
        ValueError
            For a binary, non-UTF-8 or malformed file (the message names the
            line), or coordinates that do not make an airfoil.
        """
        contents = read_dat(path)
        obj = cls.__new__(cls)
        obj._init(contents.coordinates, contents.name, paneled=False, stacklevel=3)
        return obj

    # -- contour -----------------------------------------------------------
    @property
    def coordinates(self) -> np.ndarray:
        """Read-only float64 ``(N, 2)`` array of the contour, chord units."""
        return self._points

    @property
    def name(self) -> str:
        """Section name."""
        return self._name

    @property
    def paneled(self) -> bool:
        """True when the contour came from :meth:`repanel` (the analyses then
        use it as it is)."""
        return self._paneled

    def __len__(self) -> int:
        return len(self._points)

    def __repr__(self) -> str:
        return f"Airfoil({self._name!r}, {len(self._points)} points{', paneled' if self._paneled else ''})"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Airfoil):
            return NotImplemented
        return self._name == other._name and np.array_equal(self._points, other._points)

    def __hash__(self) -> int:
        return hash((self._name, self._points.tobytes()))

    def repanel(
        self, n: int = DEFAULT_PANELS, *, curvature: float = 1.0, te_le_ratio: float = 0.15, te_spacing_ratio: float = 0.667
    ) -> "Airfoil":
        """Redistribute the nodes along a spline through the contour.

        Nodes cluster where the curvature is high (the leading edge) and at
        the trailing edge.  The analyses use a repaneled contour as it is.

        Parameters
        ----------
        n : int
            Number of nodes of the result (``n - 1`` panels), 3 to
            :data:`MAX_ANALYSIS_NODES`.
        curvature : float
            Strength of the clustering toward high curvature (0: none).
        te_le_ratio : float
            Trailing-edge node density relative to the leading edge's.
        te_spacing_ratio : float
            Length of the trailing-edge panel over the next one's.

        Raises
        ------
        ValueError
            For an ``n`` out of range or a contour that cannot be splined.
        """
        if isinstance(n, bool) or not isinstance(n, numbers.Integral) or not 3 <= n <= MAX_ANALYSIS_NODES:
            raise ValueError(f"n must be an integer in [3, {MAX_ANALYSIS_NODES}], got {n!r}")
        args = [_finite(k, v) for k, v in (("curvature", curvature), ("te_le_ratio", te_le_ratio),
                                          ("te_spacing_ratio", te_spacing_ratio))]
        if args[0] < 0 or args[1] <= 0 or args[2] <= 0:
            raise ValueError("curvature must be non-negative; te_le_ratio and te_spacing_ratio positive")
        pts = _backend.repanel(self._points, int(n), *args)
        return Airfoil._derived(pts, self._name, paneled=True)

    def with_flap(self, hinge_x: float, deflection_deg: float, hinge_y: float = 0.5) -> "Airfoil":
        """Plain trailing-edge flap: the contour aft of the hinge rotated.

        Parameters
        ----------
        hinge_x : float
            Hinge position as a fraction of the x extent of the contour, in (0, 1).
        deflection_deg : float
            Flap angle, degrees; positive moves the trailing edge down.
        hinge_y : float
            Hinge height as a fraction of the local thickness (0: lower
            surface, 1: upper surface).

        Returns
        -------
        Airfoil
            Named after the source with the flap added.  It counts as
            repaneled when the source was (flap after paneling is the usual
            order: ``af.repanel().with_flap(0.7, 10)``).

        Raises
        ------
        ValueError
            For arguments out of range, a contour over 10000 points, or a
            flap the geometry routine cannot make.
        """
        hx = _finite("hinge_x", hinge_x)
        d = _finite("deflection_deg", deflection_deg)
        hy = _finite("hinge_y", hinge_y)
        if not 0.0 < hx < 1.0:
            raise ValueError(f"hinge_x must be in (0, 1), got {hx:g}")
        if not 0.0 <= hy <= 1.0:
            raise ValueError(f"hinge_y must be in [0, 1], got {hy:g}")
        if abs(d) >= 90.0:
            raise ValueError(f"deflection_deg must be within (-90, 90), got {d:g}")
        if len(self._points) > MAX_FLAP_POINTS:
            raise ValueError(f"with_flap: {len(self._points)} points; repanel to at most {MAX_FLAP_POINTS} first")
        pts = _backend.deflect_flap(self._points, hx, d, hy)
        name = f"{self._name} flap {d:+g} deg at x={hx:g}"
        return Airfoil._derived(pts, name, paneled=self._paneled)

    @cached_property
    def _properties(self) -> Any:
        return section_properties(self._points)

    @property
    def max_thickness(self) -> float:
        """Largest thickness, fraction of the chord (measured normal to the chord line)."""
        return self._properties.max_thickness

    @property
    def max_thickness_x(self) -> float:
        """Chordwise position of the largest thickness, x/c."""
        return self._properties.max_thickness_x

    @property
    def max_camber(self) -> float:
        """Camber of largest magnitude (signed), fraction of the chord."""
        return self._properties.max_camber

    @property
    def max_camber_x(self) -> float:
        """Chordwise position of the largest camber, x/c."""
        return self._properties.max_camber_x

    @property
    def trailing_edge_gap(self) -> float:
        """Distance between the first and last points over the chord (0 for a sharp edge)."""
        return self._properties.trailing_edge_gap

    @property
    def chord(self) -> float:
        """Distance from the leading edge to the trailing-edge midpoint, coordinate units."""
        return self._properties.chord

    def to_dat(self, path: PathLike, digits: int = 10) -> None:
        """Write the contour as a coordinate file in the contour layout.

        Parameters
        ----------
        path : str or os.PathLike
            File to write (overwritten).
        digits : int
            Decimal places of each coordinate.
        """
        write_dat(path, self._name, self._points, digits)

    # -- analysis ------------------------------------------------------------
    def _analysis_points(self, repanel: Repanel) -> np.ndarray:
        if repanel is None:
            n = None if self._paneled else DEFAULT_PANELS
        elif repanel is False:
            n = None
        elif repanel is True:
            n = DEFAULT_PANELS
        elif isinstance(repanel, numbers.Integral):
            n = int(repanel)
        else:
            raise ValueError(f"repanel must be None, True, False or a node count, got {repanel!r}")
        if n == DEFAULT_PANELS:
            return self._default_panels
        if n is not None:
            return self.repanel(n).coordinates
        if len(self._points) > MAX_ANALYSIS_NODES:
            raise ValueError(
                f"{self._name}: {len(self._points)} nodes; the analyses accept at most {MAX_ANALYSIS_NODES} "
                "(repanel the contour)"
            )
        return self._points

    @cached_property
    def _default_panels(self) -> np.ndarray:
        return self.repanel(DEFAULT_PANELS).coordinates

    @staticmethod
    def _conditions(re: Any, mach: Any, ncrit: Any, xtr: Any, max_iterations: Any) -> _backend.Conditions:
        upper, lower = _check_xtr(xtr)
        return _backend.Conditions(
            reynolds=_check_re(re), mach=_check_mach(mach), ncrit=_check_ncrit(ncrit),
            xtr_upper=upper, xtr_lower=lower, max_iterations=_check_iterations(max_iterations),
        )

    @staticmethod
    def _point(rec: _backend.PointRecord, cond: _backend.Conditions) -> OperatingPoint:
        ok = bool(rec.converged) and rec.error is None
        nan = math.nan

        def coef(v: float) -> float:
            return float(v) if ok else nan

        pressure = boundary_layer = None
        dist = rec.distributions if ok else None
        if dist is not None:
            pressure = SurfacePressure(*(np.array(a, copy=True) for a in (dist.x, dist.y, dist.cp)))
            for a in (pressure.x, pressure.y, pressure.cp):
                a.setflags(write=False)

            def side(s: _backend.SideArrays) -> BoundaryLayerSide:
                arrays = [s.s, s.x, s.y, s.ue, s.theta, s.delta_star, s.h, s.cf, s.amplification, s.shear]
                frozen = []
                for a in arrays:
                    if a is not None:
                        a = np.array(a, dtype=np.float64, copy=True)
                        a.setflags(write=False)
                    frozen.append(a)
                return BoundaryLayerSide(*frozen)

            boundary_layer = BoundaryLayer(upper=side(dist.upper), lower=side(dist.lower))
        return OperatingPoint(
            alpha=float(rec.alpha), cl=coef(rec.cl), cd=coef(rec.cd), cm=coef(rec.cm),
            cd_friction=coef(rec.cd_friction), cd_pressure=coef(rec.cd_pressure),
            x_tr_upper=coef(rec.x_tr_upper), x_tr_lower=coef(rec.x_tr_lower),
            converged=ok, iterations=int(rec.iterations), residual=float(rec.residual), error=rec.error,
            re=cond.reynolds, mach=cond.mach, ncrit=cond.ncrit, xtr=(cond.xtr_upper, cond.xtr_lower),
            cl_target=rec.cl_target, start=rec.start, supercritical=rec.supercritical if ok else None,
            pressure=pressure, boundary_layer=boundary_layer,
        )

    @overload
    def analyze(self, alpha: Optional[float] = ..., *, cl: Optional[float] = ..., re: float = ..., mach: float = ...,
                ncrit: float = ..., xtr: tuple[float, float] = ..., distributions: bool = ...,
                viscous: Literal[True] = ..., repanel: Repanel = ..., max_iterations: int = ...,
                cl_tolerance: float = ...) -> OperatingPoint: ...
    @overload
    def analyze(self, alpha: Optional[float] = ..., *, cl: Optional[float] = ..., re: float = ..., mach: float = ...,
                ncrit: float = ..., xtr: tuple[float, float] = ..., distributions: bool = ...,
                viscous: Literal[False], repanel: Repanel = ..., max_iterations: int = ...,
                cl_tolerance: float = ...) -> InviscidPoint: ...

    def analyze(
        self,
        alpha: Optional[float] = None,
        *,
        cl: Optional[float] = None,
        re: float = 1e6,
        mach: float = 0.0,
        ncrit: float = 9.0,
        xtr: tuple[float, float] = (1.0, 1.0),
        distributions: bool = False,
        viscous: bool = True,
        repanel: Repanel = None,
        max_iterations: int = 100,
        cl_tolerance: float = _backend.CL_TOLERANCE,
    ) -> Union[OperatingPoint, InviscidPoint]:
        """Viscous analysis at one angle of attack or one lift coefficient.

        By default the contour is first repaneled to 160 nodes
        (:meth:`repanel`), unless it already came from :meth:`repanel` or
        ``repanel=False`` is passed; ``repanel=N`` repanels to N nodes.

        Parameters
        ----------
        alpha : float, optional
            Angle of attack, degrees.  Give exactly one of ``alpha`` and ``cl``.
        cl : float, optional
            Prescribed lift coefficient; the angle is solved for until the
            lift is within ``cl_tolerance`` of it.
        re : float
            Chord Reynolds number, > 0.
        mach : float
            Free-stream Mach number in [0, 1).  The surface pressure is
            corrected for compressibility by the Karman-Tsien rule and the
            lift and moment are integrated from the corrected pressure; the
            boundary-layer closures see the Mach number too.  The correction
            holds only while the flow stays subsonic everywhere: when the
            corrected minimum Cp falls below the critical value Cp*(M) (local
            Mach number 1), the point is flagged ``supercritical`` and a
            :class:`SupercriticalWarning` is issued; its results are then
            outside the method's validity.  The check uses the inviscid
            pressure at the same angle (conservative in attached flow).
            At 0 nothing is corrected and nothing is flagged.  Negative
            values and values of 1 or more raise ValueError.
        ncrit : float
            Critical amplification exponent of the e^N transition model
            (9: a clean wind tunnel), >= 0.
        xtr : (float, float)
            Trip positions (upper, lower) as chord fractions in (0, 1]; 1 is
            free transition.  Transition happens at the trip or earlier, where
            the e^N criterion is met first.
        distributions : bool
            Also return the surface pressure and the boundary-layer arrays of
            both sides (a second solve of the same point, from a cold start).
        viscous : bool
            False runs :meth:`analyze_inviscid` instead (``alpha`` only).
        repanel : None, bool or int
            See above.
        max_iterations : int
            Newton iteration limit of the viscous solver.
        cl_tolerance : float
            Tolerance on a prescribed lift coefficient.

        Returns
        -------
        OperatingPoint
            With ``converged`` False and NaN coefficients when the solver did
            not converge (or a prescribed ``cl`` was not reached); the reason
            is in ``error`` when the engine gave one.  ``supercritical`` is
            True when the flow reaches sonic speed somewhere (see ``mach``).

        Warns
        -----
        SupercriticalWarning
            When the converged point is supercritical.

        Raises
        ------
        ValueError
            For invalid arguments, among them a Mach number that is negative
            or 1 or more.
        """
        if not viscous:
            if cl is not None:
                raise ValueError("the inviscid analysis takes alpha, not cl")
            if alpha is None:
                raise ValueError("give alpha")
            return self.analyze_inviscid(alpha, mach=mach, repanel=repanel)
        if (alpha is None) == (cl is None):
            raise ValueError("give exactly one of alpha and cl")
        cond = self._conditions(re, mach, ncrit, xtr, max_iterations)
        points = self._analysis_points(repanel)
        if cl is not None:
            target = _finite("cl", cl)
            tol = _finite("cl_tolerance", cl_tolerance)
            if tol <= 0:
                raise ValueError(f"cl_tolerance must be positive, got {tol:g}")
            rec = _backend.point_at_cl(points, target, cond, distributions=bool(distributions), tolerance=tol)
        else:
            rec = _backend.point_at_alpha(points, _finite("alpha", alpha), cond, distributions=bool(distributions))
        point = self._point(rec, cond)
        if point.supercritical:
            self._warn_supercritical(
                f"alpha {point.alpha:.4g} deg: inviscid Cp_min {rec.cp_min:.3f} at that angle is below the "
                f"critical Cp* {_compressible.critical_pressure_coefficient(cond.mach):.3f}", cond.mach)
        return point

    def _warn_supercritical(self, what: str, mach: float, stacklevel: int = 3) -> None:
        warnings.warn(SupercriticalWarning(
            f"{self._name} at Mach {mach:g}: supercritical, the flow reaches sonic speed on the surface ({what}); "
            "the compressibility correction and the analysis do not hold there"), stacklevel=stacklevel)

    def analyze_inviscid(self, alpha: float, *, mach: float = 0.0, repanel: Repanel = None) -> InviscidPoint:
        """Inviscid panel solution at one angle of attack.

        Paneling as in :meth:`analyze`: repaneled to 160 nodes unless the
        contour came from :meth:`repanel` or ``repanel=False``.

        Parameters
        ----------
        alpha : float
            Angle of attack, degrees.
        mach : float
            Free-stream Mach number in [0, 1).  Above 0 the pressure
            coefficient of the incompressible solution is corrected by the
            Karman-Tsien rule, and the lift and moment are integrated from
            the corrected pressure (at 0 the incompressible solution is
            returned unchanged).  The correction holds only while the flow
            stays subsonic everywhere: when the corrected minimum Cp falls
            below the critical value Cp*(M), ``supercritical`` is True and a
            :class:`SupercriticalWarning` is issued.  Negative values and
            values of 1 or more raise ValueError.
        repanel : None, bool or int
            See :meth:`analyze`.

        Returns
        -------
        InviscidPoint
            cl, cm and the (corrected) pressure coefficient at the surface
            nodes.

        Warns
        -----
        SupercriticalWarning
            When the solution is supercritical.

        Raises
        ------
        ValueError
            For a non-finite angle, or a Mach number that is negative or 1 or
            more.
        """
        a = _finite("alpha", alpha)
        m = _check_mach(mach)
        rec = _backend.inviscid_at_alpha(self._analysis_points(repanel), a, m)
        if rec.error is not None:
            return InviscidPoint(alpha=a, cl=math.nan, cm=math.nan, pressure=None, error=rec.error, mach=m)
        arrays = [np.array(v, copy=True) for v in (rec.x, rec.y, rec.cp)]
        for v in arrays:
            v.setflags(write=False)
        if rec.supercritical:
            self._warn_supercritical(
                f"alpha {a:.4g} deg, inviscid: Cp_min {rec.cp_min:.3f} is below the critical Cp* "
                f"{_compressible.critical_pressure_coefficient(m):.3f}", m)
        return InviscidPoint(alpha=a, cl=rec.cl, cm=rec.cm, pressure=SurfacePressure(*arrays), mach=m,
                             supercritical=rec.supercritical)

    def polar(
        self,
        alpha: Any = None,
        *,
        cl: Any = None,
        re: Union[float, Sequence[float]] = 1e6,
        mach: Union[float, Sequence[float]] = 0.0,
        ncrit: Union[float, Sequence[float]] = 9.0,
        xtr: tuple[float, float] = (1.0, 1.0),
        repanel: Repanel = None,
        max_iterations: int = 100,
        workers: Optional[int] = None,
        progress: ProgressArg = False,
    ) -> Union[Polar, PolarSet]:
        """Viscous polar over a list of angles or of lift coefficients.

        By default the contour is first repaneled to 160 nodes, unless it
        already came from :meth:`repanel` or ``repanel=False`` is passed.

        Each polar is one continuation sweep of the engine: it starts near
        zero lift and marches outward in both directions, each point
        warm-started from the last converged one; a point that fails is
        retried with smaller steps, then from a cold start, later again from
        the converged points on either side of it, and otherwise flagged
        while the sweep goes on from the last converged state.
        :attr:`Polar.start` records how each point was reached.  With fewer
        polars than processors, a polar's two branches are marched side by
        side, a much longer one split at a second cold start within 10
        degrees of zero lift.  Lift
        coefficients are solved in the engine's prescribed-lift mode, with an
        angle search where that misses the tolerance of 1e-4.

        Parameters
        ----------
        alpha : array_like, optional
            Angles of attack, degrees; default ``np.arange(-5, 20.25, 0.25)``
            when ``cl`` is not given.
        cl : array_like, optional
            Lift coefficients instead of angles (each solved for its angle).
        re, mach, ncrit : float or sequence of float
            Conditions as in :meth:`analyze`.  A sequence for any of them asks
            for one polar per value (per combination, Reynolds numbers
            outermost); these run in parallel and come back as a
            :class:`PolarSet`.  The Mach number corrects the surface pressure
            of lift and moment (Karman-Tsien) and enters the boundary-layer
            closures; converged points whose flow reaches sonic speed are
            marked in the column :attr:`Polar.supercritical` (see ``mach``
            in :meth:`analyze`), with one :class:`SupercriticalWarning` per
            polar that has any.
        xtr : (float, float)
            Trip positions; see :meth:`analyze`.
        repanel : None, bool or int
            See above.
        max_iterations : int
            Newton iteration limit per point.
        workers : int, optional
            How many polars run at once (default: all of them).  They run on
            the engine's worker pool, one thread per processor, without the
            interpreter lock.
        progress : bool, callable or tqdm-like object
            True shows a progress bar of its own (tqdm) on standard error.
            A callable is called with the number of points just finished; an
            object with an ``update(n)`` method (a ``tqdm`` bar made by the
            caller, which may span several calls) has that method called.
            Either is called on the calling thread, about ten times a second
            while points finish.

        Returns
        -------
        Polar or PolarSet
            A :class:`Polar` when re, mach and ncrit are all scalars.

        Warns
        -----
        SupercriticalWarning
            Once per polar with supercritical points.

        Raises
        ------
        ValueError
            For invalid arguments, among them a Mach number that is negative
            or 1 or more.
        PolarInterrupted
            On Ctrl-C (a ``KeyboardInterrupt``), carrying the points that had
            finished.
        """
        if alpha is not None and cl is not None:
            raise ValueError("give alpha or cl, not both")
        if cl is not None:
            mode, values = "cl", _values("cl", cl)
        else:
            mode = "alpha"
            values = _values("alpha", np.arange(-5.0, 20.25, 0.25) if alpha is None else alpha)
        res, many_re = _scalar_or_list("re", re, _check_re)
        machs, many_mach = _scalar_or_list("mach", mach, _check_mach)
        ncrits, many_n = _scalar_or_list("ncrit", ncrit, _check_ncrit)
        upper, lower = _check_xtr(xtr)
        iters = _check_iterations(max_iterations)
        if workers is not None and (isinstance(workers, bool) or not isinstance(workers, numbers.Integral) or workers < 1):
            raise ValueError(f"workers must be a positive integer, got {workers!r}")
        points = self._analysis_points(repanel)
        conds = [
            _backend.Conditions(reynolds=r, mach=m, ncrit=n, xtr_upper=upper, xtr_lower=lower, max_iterations=iters)
            for r, m, n in product(res, machs, ncrits)
        ]
        tasks = [_backend.SweepTask(points=points, mode=mode, values=values, conditions=c) for c in conds]

        bar = None
        if isinstance(progress, (bool, np.bool_)) and progress:
            from tqdm.auto import tqdm

            bar = tqdm(total=len(values) * len(tasks), desc=self._name, unit="pt", leave=False)
            callback = bar.update
        else:
            callback = _progress_callback(progress)
        many = many_re or many_mach or many_n
        try:
            records = _backend.sweeps(tasks, workers=workers, progress=callback)
        except _backend.SweepInterrupted as stop:
            partial = [self._polar(rec, c) for rec, c in zip(stop.partial, conds)]
            raise PolarInterrupted(PolarSet(partial) if many else partial[0]) from None
        finally:
            if bar is not None:
                bar.close()

        polars = [self._polar(rec, c) for rec, c in zip(records, conds)]
        for p in polars:
            flagged = np.flatnonzero(p.supercritical)
            if flagged.size:
                where = ("cl " + ", ".join(f"{v:g}" for v in p.cl_target[flagged]) if p.cl_target is not None
                         else "alpha " + ", ".join(f"{v:g}" for v in p.alpha[flagged]) + " deg")
                self._warn_supercritical(f"Re {p.re:g}: {flagged.size} of {int(p.converged.sum())} converged "
                                         f"points, at {where}", p.mach)
        return PolarSet(polars) if many else polars[0]

    def _polar(self, rec: _backend.SweepRecord, cond: _backend.Conditions) -> Polar:
        ok = rec.converged & np.array([e is None for e in rec.errors], dtype=bool)
        return Polar(
            alpha=rec.alpha, cl=rec.cl, cd=rec.cd, cm=rec.cm, cd_friction=rec.cd_friction,
            cd_pressure=rec.cd_pressure, x_tr_upper=rec.x_tr_upper, x_tr_lower=rec.x_tr_lower,
            iterations=rec.iterations, residual=rec.residual, converged=ok, errors=rec.errors, start=rec.start,
            cl_target=rec.targets if rec.mode == "cl" else None, supercritical=rec.supercritical,
            name=self._name, re=cond.reynolds, mach=cond.mach, ncrit=cond.ncrit,
            xtr=(cond.xtr_upper, cond.xtr_lower),
        )
