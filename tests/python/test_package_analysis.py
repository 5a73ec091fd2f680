"""The velaro package's single-point analyses, checked against _velaro itself
and against physical expectations."""

import math

import numpy as np
import pytest

import _velaro
import velaro
from velaro import _backend


@pytest.fixture(scope="module")
def naca2412():
    return velaro.Airfoil.naca("2412")


@pytest.fixture(scope="module")
def paneled(naca2412):
    return naca2412.repanel(160)


def flat(af):
    return af.coordinates.ravel().tolist()


COEFFICIENTS = ("cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper", "x_tr_lower")


class TestViscousPoint:
    def test_same_numbers_as_the_engine(self, naca2412, paneled):
        # Default paneling: 160 nodes, the same contour as repanel(160).
        p = naca2412.analyze(4.0, re=1e6, mach=0.2, ncrit=7.0)
        d = _velaro.analyze_faithful(flat(paneled), 4.0, reynolds=1e6, mach=0.2, ncrit=7.0)
        assert p.converged and d["converged"]
        for k in COEFFICIENTS + ("iterations", "residual"):
            assert getattr(p, k) == d[k], k
        assert (p.alpha, p.re, p.mach, p.ncrit) == (4.0, 1e6, 0.2, 7.0)

    def test_repanel_false_uses_the_contour_as_given(self, naca2412):
        p = naca2412.analyze(2.0, repanel=False)
        d = _velaro.analyze_faithful(flat(naca2412), 2.0)
        assert p.cl == d["cl"] and p.cd == d["cd"]

    def test_paneled_contour_is_not_repaneled_again(self, paneled):
        coarse = paneled.repanel(120)
        p = coarse.analyze(2.0)
        d = _velaro.analyze_faithful(flat(coarse), 2.0)
        assert p.cl == d["cl"]

    def test_unconverged_point_has_nan_coefficients(self, paneled):
        p = paneled.analyze(4.0, max_iterations=1)
        assert p.converged is False
        assert all(math.isnan(getattr(p, k)) for k in COEFFICIENTS)
        # One iteration cold, then two in the damped retry (twice the budget).
        assert p.iterations == 3 and math.isfinite(p.residual) and p.residual > 1e-4
        assert math.isnan(p.cl_cd)

    def test_engine_failure_becomes_an_unconverged_point(self, paneled, monkeypatch):
        def failing_sweeps(tasks, progress=None):
            out = []
            for t in tasks:
                n = len(t["targets"])
                absurd = np.full(n, 6.96)
                out.append({"mode": t["mode"], "targets": np.asarray(t["targets"], dtype=float),
                            "alpha": np.asarray(t["targets"], dtype=float), "cl": absurd, "cd": absurd,
                            "cm": absurd, "cd_friction": absurd, "cd_pressure": absurd, "x_tr_upper": absurd,
                            "x_tr_lower": absurd, "iterations": np.zeros(n, dtype=np.int64), "residual": absurd,
                            "converged": np.zeros(n, dtype=bool), "start": np.full(n, 3, dtype=np.uint8),
                            "errors": ["inviscid solver error: singular matrix"] * n,
                            "error": "inviscid solver error: singular matrix"})
            return out

        monkeypatch.setattr(_backend, "_engine_sweeps", failing_sweeps)
        p = paneled.analyze(3.0)
        assert not p.converged and p.error == "inviscid solver error: singular matrix"
        assert all(math.isnan(getattr(p, k)) for k in COEFFICIENTS)
        polar = paneled.polar(alpha=[1.0, 2.0])
        assert not polar.converged.any() and polar.errors[0].startswith("inviscid solver error")
        assert math.isnan(polar.cl_max)

    def test_engine_nonconvergence_with_absurd_values_is_not_a_result(self, paneled, monkeypatch):
        real = _backend._engine_sweeps

        def unconverged(tasks, progress=None):
            out = real(tasks, progress)
            for d in out:
                d["converged"][:] = False
                d["cl"][:] = 6.96
            return out

        monkeypatch.setattr(_backend, "_engine_sweeps", unconverged)
        p = paneled.analyze(3.0)
        assert not p.converged and math.isnan(p.cl) and p.iterations > 0


class TestDistributions:
    @pytest.fixture(scope="class")
    def point(self, paneled):
        return paneled.analyze(4.0, re=1e6, distributions=True)

    def test_placeholder_row_is_dropped(self, paneled, point):
        d = _velaro.get_bl_distribution(flat(paneled), 4.0, reynolds=1e6)
        bl = point.boundary_layer
        for side, name in ((bl.upper, "upper"), (bl.lower, "lower")):
            raw_cf = np.array(d[f"cf_{name}"])
            assert raw_cf[0] > 1e10  # the engine's placeholder row is there ...
            assert len(side.cf) == len(raw_cf) - 1  # ... and not passed on
            np.testing.assert_array_equal(side.cf, raw_cf[1:])
            np.testing.assert_array_equal(side.theta, d[f"theta_{name}"][1:])
            assert np.all(side.theta > 1e-7) and np.all(np.abs(side.cf) < 1.0)
            assert np.all(side.ue > 0) and np.all(side.H > 1.0)
            np.testing.assert_allclose(side.H, side.delta_star / side.theta, rtol=1e-12)
            # Arc length from the stagnation point grows along the side.
            assert side.s[0] > 0 and np.all(np.diff(side.s) > 0)
            for a in (side.s, side.x, side.cf):
                assert not a.flags.writeable
        # One station per node: the two sides cover the 160 nodes.
        assert len(bl.upper.x) + len(bl.lower.x) == 160

    def test_stations_lie_on_the_contour(self, paneled, point):
        bl = point.boundary_layer
        nodes = paneled.coordinates
        n_up = len(bl.upper.x)
        np.testing.assert_array_equal(np.column_stack([bl.upper.x, bl.upper.y]), nodes[n_up - 1 :: -1])
        np.testing.assert_array_equal(np.column_stack([bl.lower.x, bl.lower.y]), nodes[n_up:])
        # Arc length: panel lengths between consecutive stations.
        steps = np.hypot(np.diff(bl.upper.x), np.diff(bl.upper.y))
        np.testing.assert_allclose(np.diff(bl.upper.s), steps, rtol=1e-12)

    def test_surface_pressure(self, paneled, point):
        cp = point.pressure
        np.testing.assert_array_equal(np.column_stack([cp.x, cp.y]), paneled.coordinates)
        ue = np.concatenate([point.boundary_layer.upper.ue[::-1], point.boundary_layer.lower.ue])
        np.testing.assert_allclose(cp.cp, 1.0 - ue**2, rtol=1e-12)
        # Near the inviscid pressure away from the trailing edge (the displacement
        # effect changes it by a few hundredths of a unit of Cp).
        inv = paneled.analyze_inviscid(4.0)
        mid = (cp.x > 0.1) & (cp.x < 0.8)
        assert np.max(np.abs(cp.cp[mid] - inv.pressure.cp[mid])) < 0.15

    def test_transition_matches_the_amplification_jump(self, point):
        # Upstream of transition the flow is laminar: H is above 2 there.
        up = point.boundary_layer.upper
        laminar = up.x < point.x_tr_upper - 0.05
        assert np.median(up.H[laminar & (up.x > 0.1)]) > 2.0
        # The amplification grows from 0 towards ncrit over the laminar
        # stations and is NaN past transition, where √Cτ takes over.
        for side, x_tr in ((up, point.x_tr_upper), (point.boundary_layer.lower, point.x_tr_lower)):
            lam = ~np.isnan(side.amplification)
            assert np.array_equal(lam, np.isnan(side.shear))
            assert lam[0] and not lam[-1]
            n = side.amplification[lam]
            assert n[0] < 0.5 and np.all(n <= point.ncrit + 1e-9) and np.all(np.diff(n) >= -1e-9)
            assert np.all((side.shear[~lam] > 0) & (side.shear[~lam] < 0.3))
            # The last laminar station lies just ahead of the transition point.
            assert side.x[lam][-1] <= x_tr + 1e-9 and side.x[~lam][0] >= x_tr - 0.05

    def test_sharp_trailing_edge(self):
        import pathlib

        af = velaro.Airfoil.from_dat(pathlib.Path(__file__).resolve().parents[1] / "data" / "mh32.dat").repanel(160)
        p = af.analyze(3.0, re=5e5, distributions=True)
        bl = p.boundary_layer
        assert p.converged and bl is not None
        # The closed contour's 160 nodes (the trailing edge twice) are all stations.
        assert len(bl.upper.x) + len(bl.lower.x) == 160 == len(p.pressure.cp)
        assert (bl.upper.x[-1], bl.upper.y[-1]) == (bl.lower.x[-1], bl.lower.y[-1]) == (1.0, 0.0)

    def test_unconverged_point_carries_no_distributions(self, paneled):
        p = paneled.analyze(4.0, max_iterations=1, distributions=True)
        assert not p.converged and p.boundary_layer is None and p.pressure is None


class TestPrescribedLift:
    # A converged point is accepted when |cl - target| <= 1e-4 (the default
    # cl_tolerance); the viscous iteration itself resolves cl far finer.
    @pytest.mark.parametrize("target", [-0.2, 0.0, 0.5, 1.0, 1.3])
    def test_reaches_the_target(self, paneled, target):
        p = paneled.analyze(cl=target, re=1e6)
        assert p.converged, p.error
        assert abs(p.cl - target) <= 1e-4
        assert p.cl_target == target
        again = paneled.analyze(p.alpha, re=1e6)
        assert again.cl == p.cl and again.cd == p.cd

    def test_tighter_tolerance(self, paneled):
        p = paneled.analyze(cl=0.6, re=3e6, cl_tolerance=1e-6)
        assert p.converged and abs(p.cl - 0.6) <= 1e-6

    def test_unreachable_target_is_reported(self, paneled):
        p = paneled.analyze(cl=3.0, re=1e6)
        assert not p.converged and math.isnan(p.cl) and math.isnan(p.alpha)
        assert "not reached" in p.error

    def test_distributions_at_prescribed_lift(self, paneled):
        p = paneled.analyze(cl=0.4, distributions=True)
        assert p.converged and p.boundary_layer is not None
        assert len(p.boundary_layer.upper.x) + len(p.boundary_layer.lower.x) == 160


class TestInviscid:
    def test_same_numbers_as_the_engine(self, naca2412, paneled):
        p = naca2412.analyze_inviscid(4.0)
        d = _velaro.analyze_inviscid(flat(paneled), 4.0)
        assert (p.cl, p.cm) == (d["cl"], d["cm"])
        np.testing.assert_array_equal(p.pressure.cp, d["cp"])
        np.testing.assert_array_equal(p.pressure.x, paneled.coordinates[:, 0])
        q = naca2412.analyze(4.0, viscous=False)
        assert isinstance(q, velaro.InviscidPoint) and q.cl == p.cl

    def test_thin_airfoil_lift_slope(self):
        # Thin-aerofoil theory: dcl/dalpha = 2 pi per radian, raised by about
        # 0.77 t/c for a section of thickness t/c (a 9% rise at 12%).
        af = velaro.Airfoil.naca("0012")
        slope = (af.analyze_inviscid(2.0).cl - af.analyze_inviscid(-2.0).cl) / math.radians(4.0)
        assert slope == pytest.approx(2 * math.pi * (1 + 0.77 * 0.12), rel=0.02)

    def test_closed_sharp_contour(self):
        import pathlib

        af = velaro.Airfoil.from_dat(pathlib.Path(__file__).resolve().parents[1] / "data" / "mh32.dat")
        p = af.analyze_inviscid(2.0, repanel=False)
        # One pressure value per distinct node: the closing point repeats the first.
        assert len(p.pressure.cp) == len(af) - 1 and p.converged


class TestArguments:
    @pytest.mark.parametrize(
        "kwargs",
        [
            {},
            {"alpha": 1.0, "cl": 0.5},
            {"alpha": math.nan},
            {"alpha": "four"},
            {"cl": math.inf},
            {"alpha": 1.0, "re": 0.0},
            {"alpha": 1.0, "re": -1e6},
            {"alpha": 1.0, "re": math.nan},
            {"alpha": 1.0, "mach": 1.0},
            {"alpha": 1.0, "mach": -0.1},
            {"alpha": 1.0, "ncrit": -1.0},
            {"alpha": 1.0, "max_iterations": 0},
            {"alpha": 1.0, "max_iterations": 2.5},
            {"alpha": 1.0, "xtr": (0.0, 1.0)},
            {"alpha": 1.0, "xtr": (1.0, 1.2)},
            {"alpha": 1.0, "xtr": (-0.1, 0.5)},
            {"alpha": 1.0, "xtr": (math.nan, 1.0)},
            {"alpha": 1.0, "xtr": 0.5},
            {"alpha": 1.0, "repanel": "yes"},
            {"alpha": 1.0, "repanel": 2},
            {"cl": 0.5, "cl_tolerance": 0.0},
        ],
    )
    def test_invalid_arguments(self, paneled, kwargs):
        with pytest.raises(ValueError):
            paneled.analyze(**kwargs)

    def test_too_many_nodes_without_repaneling(self):
        dense = velaro.Airfoil.naca("0012", points_per_side=1500)
        with pytest.raises(ValueError, match="at most"):
            dense.analyze(1.0, repanel=False)


class TestForcedTransition:
    def test_trips_reach_the_engine(self, paneled):
        assert _backend.FORCED_TRANSITION
        p = paneled.analyze(0.0, xtr=(0.05, 0.05))
        assert p.converged and p.xtr == (0.05, 0.05)
        polar = paneled.polar(alpha=[0.0, 2.0], xtr=(0.5, 1.0))
        assert polar.converged.all() and polar.xtr == (0.5, 1.0)
        for bad in ((1.5, 1.0), (math.nan, 1.0), (1.0, -0.1)):
            with pytest.raises(ValueError):
                paneled.analyze(0.0, xtr=bad)
        tripped = paneled.analyze(0.0, xtr=(0.05, 0.05), distributions=True)
        assert tripped.converged and tripped.boundary_layer is not None

    def test_trip_at_five_percent_gives_turbulent_flat_plate_drag(self):
        # Both sides tripped at 5% chord, NACA 0012, alpha 0, Re 1e6: about
        # twice the turbulent flat-plate friction 0.074 Re^-0.2 over the
        # tripped length, times a thickness form factor 1 + 2 t + 60 t^4.
        af = velaro.Airfoil.naca("0012")
        p = af.analyze(0.0, re=1e6, xtr=(0.05, 0.05))
        t = 0.12
        estimate = 2 * 0.074 * (0.95e6) ** -0.2 * 0.95 * (1 + 2 * t + 60 * t**4)
        assert p.converged and p.cd == pytest.approx(estimate, rel=0.15)


class TestAngleSearch:
    """The prescribed-lift search of the adapter, driven by model lift curves."""

    @staticmethod
    def run(curve, target, fails=lambda a: False, tol=1e-4):
        def evaluate(a):
            ok = not fails(a)
            return _backend.PointRecord(alpha=a, cl=curve(a), cd=0.01, cm=0.0, cd_friction=0.005, cd_pressure=0.005,
                                        x_tr_upper=0.5, x_tr_lower=0.5, iterations=10, residual=1e-5, converged=ok)

        solve = _backend._ClSolve(target, guess=target / 0.1, slope=0.1, tol=tol, budget=_backend.CL_MAX_EVALUATIONS)
        while True:
            angles = solve.propose()
            if not angles:
                return solve.result(), solve.evaluations
            for a in angles:
                solve.record(evaluate(a))

    @staticmethod
    def stalling(a):
        # Linear to 10 degrees, then rounding over smoothly to cl_max = 1.54
        # at 14 degrees, and falling beyond.
        return 0.11 * (a + 2.0) if a < 10 else 1.32 + 0.11 * (a - 10.0) - 0.01375 * (a - 10.0) ** 2

    @pytest.mark.parametrize("target", [-0.5, 0.0, 0.4, 1.0, 1.25, 1.5, 1.539])
    def test_reaches_reachable_targets(self, target):
        rec, n = self.run(self.stalling, target)
        assert rec.converged and abs(rec.cl - target) <= 1e-4 and n <= 16
        assert abs(self.stalling(rec.alpha) - rec.cl) < 1e-15  # the reported alpha gives the reported cl

    def test_failed_evaluations_are_worked_around(self):
        # Every angle between 2 and 5.5 degrees fails to converge except a
        # narrow window around the answer (cl 0.6 at 3.4545 degrees).
        fails = lambda a: 2.0 < a < 5.5 and abs(a - 3.4545) > 0.3
        rec, _ = self.run(self.stalling, 0.6, fails=fails)
        assert rec.converged and abs(rec.cl - 0.6) <= 1e-4

    def test_target_above_the_maximum(self):
        rec, n = self.run(self.stalling, 1.7)
        assert not rec.converged and math.isnan(rec.alpha) and math.isnan(rec.cl)
        assert "1.5400" in rec.error and n <= _backend.CL_MAX_EVALUATIONS

    def test_jump_in_the_lift_curve(self):
        jump = lambda a: 0.1 * a + (0.2 if a > 5.0 else 0.0)  # no angle gives cl 0.6
        rec, _ = self.run(jump, 0.6)
        assert not rec.converged and "jumps" in rec.error

    def test_nothing_converges(self):
        rec, n = self.run(self.stalling, 0.5, fails=lambda a: True)
        assert not rec.converged and n <= _backend.CL_MAX_EVALUATIONS and "no angle converged" in rec.error
