"""Figures of polars, pressure distributions, boundary layers and contours.

Every function returns a :class:`matplotlib.figure.Figure` made without
pyplot, so nothing here selects or needs an interactive backend: the figures
render with Agg (PNG) or the vector backends (PDF, SVG) on a machine with no
display.  :func:`save_figure` writes one to a file whose extension gives the
format.

Units on every axis: angles in degrees, lengths over the chord, coefficients
on the chord and the free-stream dynamic pressure.
"""

from __future__ import annotations

import functools
import math
from pathlib import Path
from typing import Any, Callable, Iterable, Optional, Sequence

import numpy as np
from matplotlib.figure import Figure

__all__ = [
    "FIGURE_DPI",
    "POLAR_SIZE",
    "PRESSURE_SIZE",
    "BOUNDARY_LAYER_SIZE",
    "CONTOUR_SIZE",
    "polar_figure",
    "pressure_figure",
    "boundary_layer_figure",
    "contour_figure",
    "save_figure",
]

#: Resolution of raster output, dots per inch.
FIGURE_DPI = 100
#: Figure sizes in inches (width, height).  PNG files are these times FIGURE_DPI.
POLAR_SIZE = (11.0, 8.5)
PRESSURE_SIZE = (8.0, 7.0)
BOUNDARY_LAYER_SIZE = (8.0, 10.0)
CONTOUR_SIZE = (10.0, 4.0)

_STYLE = {
    "axes.grid": True,
    "grid.alpha": 0.3,
    "grid.linewidth": 0.6,
    "axes.spines.top": False,
    "axes.spines.right": False,
    "legend.frameon": False,
    "legend.fontsize": 8,
    "axes.titlesize": 10,
    "axes.labelsize": 9,
    "xtick.labelsize": 8,
    "ytick.labelsize": 8,
}
_MARKERS = ("o", "s", "^", "D", "v", "P", "X", "<", ">")


def _styled(build: Callable[..., Figure]) -> Callable[..., Figure]:
    """Run a figure builder with the house style (rc settings are read as
    artists are made, so the whole builder runs inside the context)."""

    @functools.wraps(build)
    def wrapper(*args: Any, **kw: Any) -> Figure:
        import matplotlib

        with matplotlib.rc_context(_STYLE):
            return build(*args, **kw)

    return wrapper


def _figure(size: tuple[float, float]) -> Figure:
    return Figure(figsize=size, dpi=FIGURE_DPI, layout="constrained")


def _sci(v: float) -> str:
    """Reynolds numbers as 1e6, 2.5e5; other values as %g."""
    if v is None or not math.isfinite(v):
        return "?"
    if v == 0:
        return "0"
    exp = math.floor(math.log10(abs(v)))
    if abs(exp) >= 4:
        return f"{v / 10.0 ** exp:.6g}e{exp}"
    return f"{v:g}"


def conditions_text(re: Optional[float] = None, mach: Optional[float] = None, ncrit: Optional[float] = None,
                    alpha: Optional[float] = None) -> str:
    parts = []
    if alpha is not None:
        parts.append(f"α = {alpha:g}°")
    if re is not None:
        parts.append(f"Re = {_sci(re)}")
    if mach is not None:
        parts.append(f"M = {mach:g}")
    if ncrit is not None:
        parts.append(f"Ncrit = {ncrit:g}")
    return ", ".join(parts)


# ---------------------------------------------------------------------------
# Polars


@_styled
def polar_figure(
    polars: Sequence[tuple[str, Any]],
    compare: Sequence[tuple[str, Any]] = (),
    title: Optional[str] = None,
) -> Figure:
    """The four views of a polar: cl–α, cl–cd, cm–α and transition–α.

    Parameters
    ----------
    polars : sequence of (label, Polar)
        Computed polars, drawn as lines; rows that did not converge hold NaN
        and leave gaps.
    compare : sequence of (label, ReferencePolar)
        Measured or published data, drawn as markers.
    title : str, optional
        Figure title.
    """
    fig = _figure(POLAR_SIZE)
    (ax_cl, ax_drag), (ax_cm, ax_tr) = fig.subplots(2, 2)
    colours = [f"C{i % 10}" for i in range(len(polars))]
    for (label, p), colour in zip(polars, colours):
        a, cl, cd, cm = (np.asarray(v, dtype=float) for v in (p.alpha, p.cl, p.cd, p.cm))
        kw = dict(color=colour, lw=1.4, marker=".", ms=3)
        ax_cl.plot(a, cl, label=label, **kw)
        ax_drag.plot(cd, cl, label=label, **kw)
        ax_cm.plot(a, cm, label=label, **kw)
        ax_tr.plot(a, np.asarray(p.x_tr_upper, float), color=colour, lw=1.4, marker=".", ms=3)
        ax_tr.plot(a, np.asarray(p.x_tr_lower, float), color=colour, lw=1.2, ls="--", marker=".", ms=3)
    for k, (label, ref) in enumerate(compare):
        colour = "black" if len(compare) == 1 else f"C{(len(polars) + k) % 10}"
        marker = _MARKERS[k % len(_MARKERS)]
        kw = dict(ls="none", marker=marker, mfc="none", mec=colour, ms=5, mew=1.0)
        if ref.has("cl"):
            ax_cl.plot(ref.alpha, ref.cl, label=label, **kw)
        if ref.has("cl") and ref.has("cd"):
            ax_drag.plot(ref.cd, ref.cl, label=label, **kw)
        if ref.has("cm"):
            ax_cm.plot(ref.alpha, ref.cm, label=label, **kw)
        if ref.has("x_tr_upper"):
            ax_tr.plot(ref.alpha, ref.x_tr_upper, **kw)
        if ref.has("x_tr_lower"):
            kw_lo = dict(kw, mfc=colour, ms=3)
            ax_tr.plot(ref.alpha, ref.x_tr_lower, **kw_lo)

    ax_cl.set(xlabel="Angle of attack α (deg)", ylabel="Lift coefficient cl", title="Lift")
    ax_drag.set(xlabel="Drag coefficient cd", ylabel="Lift coefficient cl", title="Drag polar")
    ax_cm.set(xlabel="Angle of attack α (deg)", ylabel="Moment coefficient cm (c/4)", title="Pitching moment")
    ax_tr.set(xlabel="Angle of attack α (deg)", ylabel="Transition position x/c", title="Transition")
    ax_tr.set_ylim(-0.03, 1.05)
    for ax in (ax_cl, ax_drag, ax_cm):
        ax.axhline(0.0, color="0.5", lw=0.6)
    ax_cl.axvline(0.0, color="0.5", lw=0.6)
    ax_cm.axvline(0.0, color="0.5", lw=0.6)
    if polars or compare:
        ax_cl.legend(loc="best")
        # The colours are named in the lift legend; this one says which side is which.
        from matplotlib.lines import Line2D

        sides = [
            Line2D([], [], color="0.3", lw=1.4, marker="o" if compare else None, mfc="none", ms=5, label="upper side"),
            Line2D([], [], color="0.3", lw=1.2, ls="--", marker="o" if compare else None, ms=3, label="lower side"),
        ]
        ax_tr.legend(handles=sides, loc="best")
    if title:
        fig.suptitle(title, fontsize=12)
    return fig


# ---------------------------------------------------------------------------
# Surface pressure


def _contour_axes(ax: Any, coordinates: np.ndarray) -> None:
    xy = np.asarray(coordinates, dtype=float)
    ax.fill(xy[:, 0], xy[:, 1], color="0.85", lw=0)
    ax.plot(np.append(xy[:, 0], xy[0, 0]), np.append(xy[:, 1], xy[0, 1]), color="0.2", lw=1.0)
    ax.set_aspect("equal", adjustable="datalim")
    ax.set_xlabel("x/c")
    ax.set_ylabel("y/c")


@_styled
def pressure_figure(
    coordinates: np.ndarray,
    viscous: Sequence[tuple[str, Any]] = (),
    inviscid: Optional[Any] = None,
    title: Optional[str] = None,
) -> Figure:
    """Surface pressure, negative Cp up, over the contour.

    Parameters
    ----------
    coordinates : numpy.ndarray
        ``(N, 2)`` contour drawn below the pressure plot.
    viscous : sequence of (label, SurfacePressure)
        Viscous distributions (``x`` and ``cp`` arrays in contour order),
        one per condition; may be empty (no viscous point converged).
    inviscid : SurfacePressure, optional
        The inviscid distribution.
    title : str, optional
        Figure title.
    """
    fig = _figure(PRESSURE_SIZE)
    ax_cp, ax_geo = fig.subplots(2, 1, sharex=True, gridspec_kw={"height_ratios": [3, 1]})
    if inviscid is not None:
        ax_cp.plot(inviscid.x, inviscid.cp, color="0.45", lw=1.2, ls="--", label="inviscid")
    for k, (label, pressure) in enumerate(viscous):
        ax_cp.plot(pressure.x, pressure.cp, color=f"C{k % 10}", lw=1.6, label=label)
    ax_cp.invert_yaxis()
    ax_cp.axhline(0.0, color="0.5", lw=0.6)
    ax_cp.set_ylabel("Pressure coefficient Cp (negative up)")
    ax_cp.set_title("Surface pressure")
    if viscous or inviscid is not None:
        ax_cp.legend(loc="best")
    ax_cp.tick_params(labelbottom=True)
    ax_cp.set_xlabel("x/c")
    _contour_axes(ax_geo, coordinates)
    if title:
        fig.suptitle(title, fontsize=12)
    return fig


# ---------------------------------------------------------------------------
# Boundary layer


def separated_spans(x: np.ndarray, cf: np.ndarray) -> list[tuple[float, float]]:
    """Ranges of x where the skin friction is negative (reversed flow)."""
    x = np.asarray(x, float)
    neg = np.asarray(cf, float) < 0
    spans = []
    i = 0
    while i < len(neg):
        if neg[i]:
            j = i
            while j + 1 < len(neg) and neg[j + 1]:
                j += 1
            spans.append((float(x[i]), float(x[j])))
            i = j + 1
        else:
            i += 1
    return spans


@_styled
def boundary_layer_figure(
    boundary_layer: Any,
    x_tr: tuple[float, float] = (math.nan, math.nan),
    title: Optional[str] = None,
) -> Figure:
    """δ*, θ, H and cf along x for both sides, transition and separation marked.

    Parameters
    ----------
    boundary_layer : BoundaryLayer
        With ``upper`` and ``lower`` sides holding ``x``, ``delta_star``,
        ``theta``, ``H`` and ``cf`` arrays.
    x_tr : (float, float)
        Transition positions (upper, lower), x/c; NaN or 1 draws nothing.
    title : str, optional
        Figure title.
    """
    fig = _figure(BOUNDARY_LAYER_SIZE)
    axes = fig.subplots(4, 1, sharex=True)
    rows = (
        ("delta_star", "Displacement thickness δ*/c"),
        ("theta", "Momentum thickness θ/c"),
        ("H", "Shape factor H = δ*/θ"),
        ("cf", "Skin friction cf"),
    )
    sides = (("upper", boundary_layer.upper, "C0"), ("lower", boundary_layer.lower, "C3"))
    for ax, (key, label) in zip(axes, rows):
        for name, side, colour in sides:
            ax.plot(side.x, getattr(side, key), color=colour, lw=1.4, label=f"{name} side")
        ax.set_ylabel(label)
    axes[3].axhline(0.0, color="0.5", lw=0.6)
    for (name, side, colour), xt in zip(sides, x_tr):
        if xt is not None and math.isfinite(xt) and xt < 1.0:
            for ax in axes:
                ax.axvline(xt, color=colour, lw=0.9, ls=":",
                           label=f"transition ({name}) x/c = {xt:.3f}" if ax is axes[0] else None)
        for k, (x0, x1) in enumerate(separated_spans(side.x, side.cf)):
            for ax in axes:
                ax.axvspan(x0, max(x1, x0 + 1e-3), color=colour, alpha=0.12, lw=0,
                           label=f"separated ({name}, cf < 0)" if (ax is axes[3] and k == 0) else None)
    # Near the stagnation point cf is large (the edge speed tends to zero);
    # scale the axis to the rest of the surface so the distribution shows.
    cf_all = np.concatenate([np.asarray(s.cf, float)[np.asarray(s.x, float) > 0.05] for _, s, _ in sides])
    cf_all = cf_all[np.isfinite(cf_all)]
    if cf_all.size:
        top = 1.3 * max(float(cf_all.max()), 1e-6)
        low = min(float(cf_all.min()) * 1.3, -0.1 * top)
        axes[3].set_ylim(low, top)
    axes[0].legend(loc="upper left")
    axes[3].legend(loc="best")
    axes[3].set_xlabel("x/c")
    if title:
        fig.suptitle(title, fontsize=12)
    return fig


# ---------------------------------------------------------------------------
# Contours


@_styled
def contour_figure(contours: Iterable[tuple[str, np.ndarray]], title: Optional[str] = None) -> Figure:
    """One or more section contours, equal axis scales, nodes marked."""
    fig = _figure(CONTOUR_SIZE)
    ax = fig.subplots(1, 1)
    for k, (label, xy) in enumerate(contours):
        xy = np.asarray(xy, float)
        ax.plot(np.append(xy[:, 0], xy[0, 0]), np.append(xy[:, 1], xy[0, 1]), color=f"C{k % 10}", lw=1.2,
                marker=".", ms=2.5, label=f"{label} ({len(xy)} points)")
    ax.set_aspect("equal", adjustable="datalim")
    ax.set_xlabel("x/c")
    ax.set_ylabel("y/c")
    ax.legend(loc="upper right")
    if title:
        fig.suptitle(title, fontsize=12)
    return fig


def save_figure(fig: Figure, path: str) -> None:
    """Write a figure; the extension (.png, .pdf, .svg) chooses the format."""
    fmt = Path(path).suffix.lower().lstrip(".")
    fig.savefig(path, format=fmt, dpi=FIGURE_DPI, metadata=_metadata(fmt))


def _metadata(fmt: str) -> Optional[dict]:
    # Keep the files free of dates so the same plot gives the same bytes.
    if fmt == "pdf":
        return {"CreationDate": None, "Creator": "velaro"}
    if fmt == "svg":
        return {"Date": None, "Creator": "velaro"}
    if fmt == "png":
        return {"Software": "velaro"}
    return None
