"""Velaro: two-dimensional airfoil analysis.

A panel method for the inviscid flow, coupled to an integral boundary layer
with e^N transition for the viscous flow.  Start from an :class:`Airfoil`::

    import numpy as np
    import velaro

    af = velaro.Airfoil.naca("2412")
    point = af.analyze(alpha=4.0, re=1e6)          # OperatingPoint
    polar = af.polar(alpha=np.arange(-4, 16.5, 0.5), re=1e6)
    print(polar.cl_max, polar.alpha_cl_max, polar.cd_min)

Units: angles in degrees, lengths in chords, coefficients on the chord and
the free-stream dynamic pressure.

A Mach number above 0 (``mach=``, below 1) corrects the surface pressure,
and with it lift and moment, for compressibility by the Karman-Tsien rule;
the correction holds while the flow stays subsonic everywhere, and points
where it does not are flagged ``supercritical`` with a
:class:`SupercriticalWarning`.
"""

from ._datfile import MAX_FILE_BYTES
from .airfoil import (
    DEFAULT_PANELS,
    MAX_ANALYSIS_NODES,
    Airfoil,
    ContourOrderWarning,
    PolarInterrupted,
    SupercriticalWarning,
)
from .results import (
    BoundaryLayer,
    BoundaryLayerSide,
    InviscidPoint,
    OperatingPoint,
    Polar,
    PolarSet,
    SurfacePressure,
)

__version__ = "0.1.0"

__all__ = [
    "Airfoil",
    "BoundaryLayer",
    "BoundaryLayerSide",
    "ContourOrderWarning",
    "DEFAULT_PANELS",
    "InviscidPoint",
    "MAX_ANALYSIS_NODES",
    "MAX_FILE_BYTES",
    "OperatingPoint",
    "Polar",
    "PolarInterrupted",
    "PolarSet",
    "SupercriticalWarning",
    "SurfacePressure",
    "__version__",
]
