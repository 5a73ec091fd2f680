"""Compressibility correction of the inviscid surface pressure.

The panel method solves incompressible potential flow.  For a subsonic free
stream at Mach number M the Karman-Tsien rule (von Karman, J. Aero. Sci. 8,
1941; Tsien, J. Aero. Sci. 6, 1939) maps its pressure coefficient
Cp0 = 1 - q^2 to the compressible one:

    Cp = Cp0 / (beta + M^2 Cp0 / (2 (1 + beta))),    beta = sqrt(1 - M^2).

The viscous engine applies the same rule inside its lift and moment; this
module applies it to the inviscid solution, whose engine entry point knows
no Mach number, and integrates the corrected pressure the way that solution
integrates its own.

The rule holds while the flow stays subsonic everywhere.  Once the corrected
minimum Cp falls below the critical value Cp*(M), where the local Mach number
reaches 1 (isentropic flow, gamma = 1.4), the flow is locally supersonic and
neither the correction nor the analysis applies: such a point is flagged
"supercritical".  The correction is monotonic in Cp0, so the corrected
minimum is the correction of the incompressible minimum; the check needs only
the smallest Cp0 of a solution.
"""

from __future__ import annotations

import math

import numpy as np

#: Ratio of specific heats of air.
GAMMA = 1.4
# The Karman-Tsien denominator vanishes only for suction far past the
# critical value; it is kept above this floor, as in the viscous engine, so
# that the integrals stay finite there.
_MIN_DENOMINATOR = 1e-3
# Degrees to radians, the factor the engine uses.
_DEG = 0.017453292519943295


def karman_tsien(cp0: np.ndarray, mach: float) -> np.ndarray:
    """Compressible pressure coefficient from the incompressible ``cp0``.

    The identity, to the last bit, at ``mach`` 0.
    """
    cp0 = np.asarray(cp0, dtype=np.float64)
    if mach == 0.0:
        return cp0.copy()
    beta = math.sqrt(1.0 - mach * mach)
    factor = mach * mach / (2.0 * (1.0 + beta))
    denominator = beta + factor * cp0
    return cp0 / np.where(denominator > _MIN_DENOMINATOR, denominator, _MIN_DENOMINATOR)


def critical_pressure_coefficient(mach: float) -> float:
    """Cp* at free-stream Mach number ``mach``: the isentropic pressure
    coefficient where the local Mach number is 1 (-inf at ``mach`` 0, where no
    pressure is critical)."""
    if not mach > 0.0:
        return -math.inf
    m2 = mach * mach
    ratio = ((2.0 + (GAMMA - 1.0) * m2) / (GAMMA + 1.0)) ** (GAMMA / (GAMMA - 1.0))
    return 2.0 / (GAMMA * m2) * (ratio - 1.0)


def is_supercritical(cp0_min: float, mach: float) -> bool:
    """Whether a solution whose smallest incompressible Cp is ``cp0_min``
    reaches sonic speed at Mach ``mach`` (always False at ``mach`` 0)."""
    if mach == 0.0:
        return False
    return bool(float(karman_tsien(np.float64(cp0_min), mach)) < critical_pressure_coefficient(mach))


def pressure_forces(points: np.ndarray, cp: np.ndarray, alpha_deg: float) -> tuple[float, float]:
    """Lift and quarter-chord moment coefficients of a nodal pressure.

    The integral of the inviscid solution: the pressure is taken linear along
    each panel of the closed polygon through the nodes (the last node joined
    back to the first), forces are resolved in wind axes, and the moment is
    taken about (0.25 c, 0) and divided by the reference chord c, the
    distance from the first node to the first node of smallest x.

    Parameters
    ----------
    points : numpy.ndarray
        ``(N, 2)`` contour as analysed; its first ``len(cp)`` rows are the
        nodes.
    cp : numpy.ndarray
        Pressure coefficient at each node.
    alpha_deg : float
        Angle of attack, degrees.
    """
    cp = np.asarray(cp, dtype=np.float64)
    n = len(cp)
    nodes = np.asarray(points, dtype=np.float64)[:n]
    x, y = nodes[:, 0], nodes[:, 1]
    # The solver's reference chord: first point to the leftmost point (the
    # first one on a tie), the latter taken among the panel start points.
    le = min(int(np.argmin(points[:, 0])), len(points) - 2)
    chord = math.hypot(points[le, 0] - points[0, 0], points[le, 1] - points[0, 1])
    alpha = alpha_deg * _DEG
    ca, sa = math.cos(alpha), math.sin(alpha)
    km = np.arange(n)
    kk = (km + 1) % n
    dx = x[kk] - x[km]
    dy = y[kk] - y[km]
    DX = dx * ca + dy * sa
    DY = dy * ca - dx * sa
    ag = (cp[km] + cp[kk]) / 2.0
    dg = cp[kk] - cp[km]
    mx = (x[km] + x[kk]) / 2.0 - 0.25 * chord
    my = (y[km] + y[kk]) / 2.0
    ax = mx * ca + my * sa
    ay = my * ca - mx * sa
    # Summed in panel order (cumsum adds left to right), like the solver.
    cl = np.cumsum(DX * ag)[-1]
    moment = ag * (DX * ax + DY * ay) / chord + dg * (DX * DX) / (12.0 * chord) + dg * (DY * DY) / (12.0 * chord)
    cm = -np.cumsum(moment)[-1]
    return float(cl), float(cm)
