"""The velaro package at Mach numbers above 0: the Karman-Tsien corrected
inviscid analysis, the supercritical flag and warning, and results left
unchanged at Mach 0.

The references below are computed here from the incompressible pressure of
``_velaro`` with the textbook formulas, written out again rather than taken
from the package:

* Karman-Tsien (von Karman 1941, Tsien 1939):
  Cp = Cp0 / (beta + M^2 Cp0 / (2 (1 + beta))), beta = sqrt(1 - M^2);
* the critical pressure coefficient from the isentropic relations,
  Cp* = 2 / (gamma M^2) [((2 + (gamma - 1) M^2) / (gamma + 1))^(gamma / (gamma - 1)) - 1].
"""

from __future__ import annotations

import math
import warnings

import numpy as np
import pytest

import _velaro
import velaro

GAMMA = 1.4


def kt(cp0, mach):
    beta = math.sqrt(1.0 - mach * mach)
    cp0 = np.asarray(cp0, dtype=float)
    return cp0 / (beta + mach * mach * cp0 / (2.0 * (1.0 + beta)))


def cp_star(mach):
    m2 = mach * mach
    return 2.0 / (GAMMA * m2) * (((2.0 + (GAMMA - 1.0) * m2) / (GAMMA + 1.0)) ** (GAMMA / (GAMMA - 1.0)) - 1.0)


def incompressible(points, alpha):
    d = _velaro.analyze_inviscid(np.asarray(points).ravel().tolist(), alpha)
    assert d["success"]
    return d


def lift_body_axes(points, cp, alpha):
    """Lift of a nodal pressure, linear along each side of the closed polygon
    through the nodes, from the normal and axial forces in body axes."""
    x = np.append(points[: len(cp), 0], points[0, 0])
    y = np.append(points[: len(cp), 1], points[0, 1])
    c = np.append(cp, cp[0])
    # Force on the body: -(closed integral of Cp n ds), n outward; on a
    # counter-clockwise contour n ds = (dy, -dx).
    normal = np.sum(0.5 * (c[1:] + c[:-1]) * np.diff(x))
    axial = -np.sum(0.5 * (c[1:] + c[:-1]) * np.diff(y))
    a = math.radians(alpha)
    return normal * math.cos(a) - axial * math.sin(a)


@pytest.fixture(scope="module")
def naca0006():
    return velaro.Airfoil.naca("0006").repanel(160)


@pytest.fixture(scope="module")
def naca0012():
    return velaro.Airfoil.naca("0012").repanel(160)


# ---------------------------------------------------------------------------
# Inviscid lift of a thin section


class TestThinSectionLift:
    MACHS = (0.2, 0.4, 0.6)

    def test_pressure_is_the_karman_tsien_image_of_the_incompressible_one(self, naca0006):
        cp0 = np.array(incompressible(naca0006.coordinates, 1.0)["cp"])
        for m in self.MACHS:
            p = naca0006.analyze_inviscid(1.0, mach=m)
            np.testing.assert_allclose(p.pressure.cp, kt(cp0, m), rtol=1e-14, atol=1e-15)
            assert p.mach == m and p.supercritical is False

    def test_lift_ratio_against_karman_tsien_on_the_incompressible_pressure(self, naca0006):
        # The reference integrates the corrected pressure itself, in body
        # axes.  Both integrals are exact for the same piecewise-linear
        # pressure on the same closed polygon, so they may differ by
        # rounding only: 1e-12 relative.
        pts = naca0006.coordinates
        cp0 = np.array(incompressible(pts, 1.0)["cp"])
        base = naca0006.analyze_inviscid(1.0).cl
        ref_base = lift_body_axes(pts, cp0, 1.0)
        assert base == pytest.approx(ref_base, rel=1e-12)
        for m in self.MACHS:
            ratio = naca0006.analyze_inviscid(1.0, mach=m).cl / base
            expected = lift_body_axes(pts, kt(cp0, m), 1.0) / ref_base
            assert ratio == pytest.approx(expected, rel=1e-12), m

    def test_lift_ratio_within_a_band_above_prandtl_glauert(self, naca0006):
        # Karman-Tsien is Cp = f(Cp0) = (Cp0 / beta) / (1 + e Cp0), with
        # e = M^2 / (2 beta (1 + beta)), so f' = 1 / (beta (1 + e Cp0)^2).
        # The lift comes from pressure differences; by the mean value
        # theorem each is scaled by f' somewhere between the extreme Cp0 of
        # the solution, so beta * cl(M)/cl(0) cannot exceed 1/(1 + e Cp0_min)^2.
        # On a thin symmetric section the load sits where the thickness
        # pressure is suction (the mean of upper and lower Cp0 is negative
        # over most of the chord), where f' > 1/beta: the lift grows faster
        # than 1/beta (measured: 0.3%, 1.3% and 3.7% faster at M 0.2, 0.4, 0.6).
        cp0 = np.array(incompressible(naca0006.coordinates, 1.0)["cp"])
        base = naca0006.analyze_inviscid(1.0).cl
        for m in self.MACHS:
            beta = math.sqrt(1.0 - m * m)
            e = m * m / (2.0 * beta * (1.0 + beta))
            excess = beta * naca0006.analyze_inviscid(1.0, mach=m).cl / base
            assert 1.0 < excess <= 1.0 / (1.0 + e * cp0.min()) ** 2, (m, excess)

    def test_moment_is_integrated_from_the_corrected_pressure(self):
        # NACA 2412 near zero lift (-2 deg): the camber moment grows about as
        # 1/beta; the nonlinear part of the rule adds a few percent, as it
        # does to the lift (measured: 0.7% at M 0.3, 2.5% at 0.5).
        af = velaro.Airfoil.naca("2412").repanel(160)
        cm0 = af.analyze_inviscid(-2.0).cm
        assert cm0 < -0.04
        for m in (0.3, 0.5):
            scaled = af.analyze_inviscid(-2.0, mach=m).cm * math.sqrt(1.0 - m * m) / cm0
            assert 1.0 < scaled < 1.0 + m * m / 5.0, (m, scaled)


# ---------------------------------------------------------------------------
# Critical Mach number


def _crossing(points, alpha):
    """Grid Mach numbers just below and above the one where the corrected
    minimum Cp reaches Cp*."""
    cp0_min = min(incompressible(points, alpha)["cp"])
    grid = np.round(np.arange(0.30, 0.95, 0.005), 3)
    gap = np.array([float(kt(cp0_min, m)) - cp_star(m) for m in grid])
    # Subcritical (gap > 0) at low Mach, supercritical beyond one crossing.
    assert gap[0] > 0 > gap[-1]
    k = int(np.argmax(gap < 0))
    assert (gap[:k] > 0).all() and (gap[k:] < 0).all(), "a single crossing is expected"
    return grid[:k], grid[k]


class TestCriticalMach:
    def test_inviscid_flag_appears_at_the_crossing_and_not_below(self, naca0012):
        below, above = _crossing(naca0012.coordinates, 2.0)
        # NACA 0012 at 2 degrees: between 0.62 and 0.67 by the usual charts.
        assert 0.60 < below[-1] < above < 0.70
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # no warning below the crossing
            flags = [naca0012.analyze_inviscid(2.0, mach=m).supercritical for m in below[::4].tolist() + [below[-1]]]
        assert flags == [False] * len(flags)
        with pytest.warns(velaro.SupercriticalWarning, match="Mach 0.6"):
            assert naca0012.analyze_inviscid(2.0, mach=float(above)).supercritical is True

    def test_viscous_flag_appears_at_the_same_crossing(self, naca0012):
        below, above = _crossing(naca0012.coordinates, 2.0)
        with pytest.warns(velaro.SupercriticalWarning) as caught:
            polars = naca0012.polar(alpha=[0.0, 2.0], re=1e6, mach=[0.5, float(below[-1]), float(above)])
        assert len(caught) == 1  # one warning per polar with flagged points
        assert "1 of 2 converged points, at alpha 2 deg" in str(caught[0].message)
        assert all(p.converged.all() for p in polars)
        assert [p.supercritical.tolist() for p in polars] == [[False, False], [False, False], [False, True]]
        # A single point agrees with the polar row.
        with pytest.warns(velaro.SupercriticalWarning):
            point = naca0012.analyze(alpha=2.0, re=1e6, mach=float(above))
        assert point.supercritical is True and point.cl == pytest.approx(polars[2].cl[1], abs=1e-6)
        assert polars[2].point(1).supercritical is True and polars[2].point(0).supercritical is False

    def test_flag_at_a_prescribed_lift(self, naca0012):
        with pytest.warns(velaro.SupercriticalWarning, match="at cl 0.4"):
            p = naca0012.polar(cl=[0.1, 0.4], re=1e6, mach=0.7)
        assert p.converged.all() and p.supercritical.tolist() == [False, True]


# ---------------------------------------------------------------------------
# Flag conventions


class TestFlagConventions:
    def test_no_result_no_flag(self, naca0012):
        # An iteration limit too small to converge: no result, nothing checked.
        p = naca0012.analyze(alpha=4.0, re=1e6, mach=0.7, max_iterations=2)
        assert not p.converged and p.supercritical is None
        pol = naca0012.polar(alpha=[4.0], re=1e6, mach=0.7, max_iterations=2)
        assert pol.supercritical.tolist() == [False] and pol.point(0).supercritical is None

    def test_polar_column_in_exports(self, naca0012):
        with pytest.warns(velaro.SupercriticalWarning):
            p = naca0012.polar(alpha=[0.0, 4.0], re=1e6, mach=0.7)
        assert p.as_dict()["supercritical"] == [False, True]
        pytest.importorskip("pandas")
        assert p.to_pandas()["supercritical"].tolist() == [False, True]

    def test_polar_without_flags_is_all_false(self):
        p = velaro.Polar(alpha=[0.0, 1.0], cl=[0.0, 0.1], cd=[0.01, 0.01], mach=0.5)
        assert p.supercritical.tolist() == [False, False] and p.supercritical.dtype == bool
        with pytest.raises(ValueError, match="supercritical"):
            velaro.Polar(alpha=[0.0, 1.0], cl=[0.0, 0.1], cd=[0.01, 0.01], supercritical=[True])

    def test_polar_check_takes_every_angle_from_three_solutions(self, naca0012):
        # A polar's minimum Cp per angle comes from the solutions at 0, 45
        # and 90 degrees (the flow is linear in the free stream).  Against a
        # direct solve at each angle it may differ by rounding only; 1e-12
        # leaves room for the square roots and the division involved.
        from velaro import _backend

        for af in (naca0012, velaro.Airfoil.naca("4412").repanel(120)):
            angles = np.arange(-15.0, 20.5, 0.5)
            direct = [min(d["cp"]) for d in _velaro.analyze_inviscid_batch(af.coordinates.ravel().tolist(),
                                                                          angles.tolist())]
            np.testing.assert_allclose(_backend._min_cp0(af.coordinates, angles), direct, rtol=1e-12, atol=1e-12)

    def test_warning_is_a_user_warning_of_the_package(self):
        assert issubclass(velaro.SupercriticalWarning, UserWarning)

    @pytest.mark.parametrize("mach", [-0.1, 1.0, 1.5, math.nan])
    def test_mach_out_of_range_is_refused(self, naca0012, mach):
        with pytest.raises(ValueError, match="mach"):
            naca0012.analyze_inviscid(1.0, mach=mach)
        with pytest.raises(ValueError, match="mach"):
            naca0012.analyze(alpha=1.0, mach=mach)
        with pytest.raises(ValueError, match="mach"):
            naca0012.polar(alpha=[1.0], mach=[0.3, mach])


# ---------------------------------------------------------------------------
# Viscous pressure


def _integrate_open(x, y, cp, alpha):
    """Lift and quarter-chord moment of a nodal pressure over the open
    contour's panels, wind axes (the viscous analysis' integral)."""
    a = math.radians(alpha)
    ca, sa = math.cos(a), math.sin(a)
    ddx, ddy = np.diff(x), np.diff(y)
    dx, dy = ca * ddx + sa * ddy, ca * ddy - sa * ddx
    ag, dg = 0.5 * (cp[:-1] + cp[1:]), np.diff(cp)
    xm, ym = 0.5 * (x[:-1] + x[1:]) - 0.25, 0.5 * (y[:-1] + y[1:])
    ax, ay = ca * xm + sa * ym, ca * ym - sa * xm
    return float(np.sum(dx * ag)), float(-np.sum(ag * (ax * dx + ay * dy) + dg * (dx * dx + dy * dy) / 12.0))


def test_viscous_pressure_is_corrected_and_carries_the_lift():
    # The reported surface pressure is the one the lift and moment integrate:
    # its integral gives the engine's cl and cm (to rounding).
    af = velaro.Airfoil.naca("2412").repanel(160)
    p = af.analyze(alpha=3.0, re=3e6, mach=0.5, distributions=True)
    assert p.converged and p.supercritical is False
    ue = np.concatenate([p.boundary_layer.upper.ue[::-1], p.boundary_layer.lower.ue])
    np.testing.assert_allclose(p.pressure.cp, kt(1.0 - ue * ue, 0.5), rtol=1e-14, atol=1e-15)
    cl, cm = _integrate_open(p.pressure.x, p.pressure.y, p.pressure.cp, 3.0)
    assert cl == pytest.approx(p.cl, rel=1e-12) and cm == pytest.approx(p.cm, rel=1e-11)


# ---------------------------------------------------------------------------
# Mach 0: results as the engine gives them


class TestMachZeroUnchanged:
    def test_inviscid(self, naca0012):
        for alpha in (-3.0, 0.0, 5.0):
            d = incompressible(naca0012.coordinates, alpha)
            p = naca0012.analyze_inviscid(alpha, mach=0.0)
            assert (p.cl, p.cm) == (d["cl"], d["cm"]) and p.pressure.cp.tolist() == d["cp"]
            assert p.supercritical is False

    def test_viscous_point_and_distributions(self):
        af = velaro.Airfoil.naca("2412").repanel(160)
        coords = af.coordinates.ravel().tolist()
        d = _velaro.analyze_faithful_batch(coords, [4.0], reynolds=1e6, mach=0.0)[0]
        p = af.analyze(alpha=4.0, re=1e6, mach=0.0, distributions=True)
        assert (p.cl, p.cd, p.cm, p.cd_friction, p.x_tr_upper) == (d["cl"], d["cd"], d["cm"], d["cd_friction"],
                                                                  d["x_tr_upper"])
        assert p.supercritical is False
        bl = _velaro.get_bl_distribution(coords, 4.0, reynolds=1e6, mach=0.0)
        ue = np.array(bl["ue_upper"][1:][::-1] + bl["ue_lower"][1:])
        assert p.pressure.cp.tolist() == (1.0 - ue * ue).tolist()

    def test_polar(self):
        af = velaro.Airfoil.naca("0012").repanel(160)
        alphas = [-2.0, 0.0, 3.0, 6.0]
        ref = _velaro.analyze_faithful_batch(af.coordinates.ravel().tolist(), alphas, reynolds=2e6, mach=0.0)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            p = af.polar(alpha=alphas, re=2e6, mach=0.0)
        # Warm starts reach the cold solutions to the Newton tolerance.
        np.testing.assert_allclose(p.cl, [d["cl"] for d in ref], rtol=0, atol=1e-6)
        np.testing.assert_allclose(p.cd, [d["cd"] for d in ref], rtol=1e-5)
        np.testing.assert_allclose(p.cm, [d["cm"] for d in ref], rtol=1e-5)
        assert p.supercritical.tolist() == [False] * 4
