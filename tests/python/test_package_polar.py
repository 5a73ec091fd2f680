"""The velaro package's Polar: derived quantities, export, parallel sweeps."""

import math
import sys
import threading

import numpy as np
import pytest

import _velaro
import velaro
from velaro import _backend


def synthetic():
    """A polar whose derived quantities are known by hand.

    cl = 0.1 (alpha + 2) from -6 to 8 degrees (slope 0.1 per degree, zero
    lift at -2 degrees); beyond, the curve bends away by 0.05 or more at the
    first point outside, so the linear range is exactly -6 ... 8 degrees.
    cl peaks at 1.09 at 11 degrees.  cd = 0.006 + 0.0005 (alpha - 1)^2 has its
    minimum 0.006 at 1 degree; cl/cd is largest at 3 degrees: 0.5 / 0.008 = 62.5.
    Two rows did not converge; one carries absurd values that must be ignored.
    """
    alpha = np.arange(-10.0, 21.0)
    cl = np.where(
        alpha > 8, 1.0 + 0.06 * (alpha - 8) - 0.01 * (alpha - 8) ** 2,
        np.where(alpha < -6, -0.4 - 0.05 * (-6 - alpha), 0.1 * (alpha + 2)),
    )
    cd = 0.006 + 0.0005 * (alpha - 1) ** 2
    converged = np.ones(alpha.size, dtype=bool)
    cl[alpha == 6] = 6.96  # an unconverged iterate, as the engine may leave it
    cd[alpha == 6] = 1e-4
    converged[alpha == 6] = False
    converged[alpha == 15] = False
    return velaro.Polar(alpha=alpha, cl=cl, cd=cd, cm=-0.05 * np.ones_like(alpha), converged=converged,
                        iterations=np.full(alpha.size, 7), name="synthetic", re=1e6)


class TestDerivedQuantities:
    def test_hand_computed_values(self):
        p = synthetic()
        assert p.cl_max == pytest.approx(1.09, abs=1e-12) and p.alpha_cl_max == 11.0
        assert p.cd_min == pytest.approx(0.006, abs=1e-15) and p.alpha_cd_min == 1.0
        assert p.ld_max == pytest.approx(62.5, rel=1e-12) and p.alpha_ld_max == 3.0
        assert p.lift_slope == pytest.approx(0.1, rel=1e-12)
        assert p.alpha_zero_lift == pytest.approx(-2.0, abs=1e-12)
        lin = p.linear_range()
        np.testing.assert_array_equal(p.alpha[lin], [a for a in range(-6, 9) if a != 6])
        assert set(p.summary()) >= {"cl_max", "alpha_zero_lift", "lift_slope", "cd_min", "ld_max"}

    def test_ld_max_counts_positive_lift_only(self):
        # Negative lift only: the ratio of largest value (-0.1 / 0.2 = -0.5)
        # is no lift-to-drag maximum; there is none.
        neg = velaro.Polar(alpha=[-4.0, -3.0, -2.0], cl=[-0.3, -0.2, -0.1], cd=[0.01, 0.02, 0.2])
        assert math.isnan(neg.ld_max) and math.isnan(neg.alpha_ld_max)
        # Mixed: the largest ratio among cl > 0, however large the negative
        # ratios' magnitude; an unconverged row with a larger ratio is ignored.
        mixed = velaro.Polar(alpha=[-2.0, 0.0, 1.0, 2.0, 3.0], cl=[-0.9, 0.0, 0.1, 0.2, 5.0],
                             cd=[0.001, 0.01, 0.01, 0.01, 0.01], converged=[True, True, True, True, False])
        assert mixed.ld_max == pytest.approx(20.0, rel=1e-12) and mixed.alpha_ld_max == 2.0

    def test_unconverged_rows_are_nan_and_ignored(self):
        p = synthetic()
        bad = ~p.converged
        assert bad.sum() == 2
        for col in (p.cl, p.cd, p.cm, p.cd_friction, p.x_tr_upper):
            assert np.isnan(col[bad]).all()
        assert p.iterations[bad].tolist() == [7, 7]  # kept

    def test_zero_lift_without_a_sign_change_comes_from_the_fit(self):
        alpha = np.arange(0.0, 6.0)
        p = velaro.Polar(alpha=alpha, cl=0.11 * (alpha + 3.0), cd=np.full(6, 0.01))
        assert p.alpha_zero_lift == pytest.approx(-3.0, abs=1e-12)
        assert p.lift_slope == pytest.approx(0.11, rel=1e-12)

    def test_noise_within_the_tolerance_keeps_the_range(self):
        alpha = np.arange(-4.0, 9.0)
        wiggle = 0.004 * np.where(np.arange(alpha.size) % 2, 1.0, -1.0)
        p = velaro.Polar(alpha=alpha, cl=0.1 * alpha + wiggle, cd=np.full(alpha.size, 0.01))
        assert p.linear_range().all()
        assert p.lift_slope == pytest.approx(0.1, abs=2e-3)

    def test_too_few_converged_points(self):
        p = velaro.Polar(alpha=[1.0, 2.0, 3.0], cl=[0.1, 0.2, 0.3], cd=[0.01] * 3, converged=[False, True, False])
        assert p.cl_max == 0.2 and math.isnan(p.lift_slope) and math.isnan(p.alpha_zero_lift)
        none = velaro.Polar(alpha=[1.0], cl=[0.1], cd=[0.01], converged=[False])
        assert all(math.isnan(v) for v in none.summary().values())

    def test_columns_are_read_only_and_checked(self):
        p = synthetic()
        with pytest.raises(ValueError):
            p.cl[0] = 1.0
        with pytest.raises(ValueError):
            velaro.Polar(alpha=[1.0, 2.0], cl=[0.1], cd=[0.01, 0.01])


class TestExport:
    def test_to_pandas(self):
        pd = pytest.importorskip("pandas")
        p = synthetic()
        df = p.to_pandas()
        assert isinstance(df, pd.DataFrame)
        assert list(df.columns[:11]) == ["alpha", "cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper",
                                         "x_tr_lower", "iterations", "residual", "converged"]
        np.testing.assert_array_equal(df["cl"].to_numpy(), p.cl)
        assert df.attrs["re"] == 1e6 and df.attrs["name"] == "synthetic"
        both = velaro.PolarSet([p, p]).to_pandas()
        assert len(both) == 2 * len(p) and {"name", "re", "mach", "ncrit"} <= set(both.columns)

    def test_to_pandas_without_pandas(self, monkeypatch):
        monkeypatch.setitem(sys.modules, "pandas", None)
        with pytest.raises(ImportError, match="optional"):
            synthetic().to_pandas()

    def test_as_dict(self):
        d = synthetic().as_dict()
        assert d["name"] == "synthetic" and len(d["alpha"]) == 31 and d["converged"].count(False) == 2


@pytest.fixture(scope="module")
def paneled():
    return velaro.Airfoil.naca("2412").repanel(160)


class TestSweeps:
    def test_polar_rows_equal_single_points(self, paneled):
        alphas = [-2.0, 1.0, 4.0, 7.5]
        p = paneled.polar(alpha=alphas, re=1e6)
        assert isinstance(p, velaro.Polar) and len(p) == 4 and p.converged.all()
        # Warm-started rows reach the cold starts' solutions: cl to 1e-6,
        # cd and cm to 1e-5 relative (both converge to the Newton tolerance).
        raw = _velaro.analyze_faithful_batch(paneled.coordinates.ravel().tolist(), alphas, reynolds=1e6)
        assert p.alpha.tolist() == alphas
        np.testing.assert_allclose(p.cl, [d["cl"] for d in raw], rtol=0, atol=1e-6)
        np.testing.assert_allclose(p.cd, [d["cd"] for d in raw], rtol=1e-5)
        np.testing.assert_allclose(p.cm, [d["cm"] for d in raw], rtol=1e-5)
        assert set(p.start) <= {"warm", "substepped", "cold"}
        assert p.point(2).cl == pytest.approx(paneled.analyze(4.0).cl, abs=1e-6)
        assert (p.re, p.mach, p.ncrit, p.xtr, p.name) == (1e6, 0.0, 9.0, (1.0, 1.0), "NACA 2412")

    def test_several_reynolds_numbers_in_parallel(self, paneled):
        alphas = np.arange(-2.0, 8.1, 2.0)
        many = paneled.polar(alpha=alphas, re=[2e5, 1e6, 3e6], mach=[0.0, 0.3])
        assert isinstance(many, velaro.PolarSet) and len(many) == 6
        assert [(p.re, p.mach) for p in many] == [(r, m) for r in (2e5, 1e6, 3e6) for m in (0.0, 0.3)]
        for p in many[::2]:  # each equals the same polar run alone
            alone = paneled.polar(alpha=alphas, re=p.re, mach=p.mach)
            np.testing.assert_array_equal(p.cl, alone.cl)
            np.testing.assert_array_equal(p.cd, alone.cd)
        # Drag falls with Reynolds number at small angles (all converged here).
        cd0 = [p.cd[1] for p in many[::2]]
        assert cd0[0] > cd0[1] > cd0[2]
        one = paneled.polar(alpha=[0.0], re=[1e6])
        assert isinstance(one, velaro.PolarSet) and len(one) == 1

    def test_unconverged_rows_from_the_engine(self, paneled):
        p = paneled.polar(alpha=[2.0, 4.0], max_iterations=1)
        # Every attempt of a failing point is counted: warm, sub-steps, cold
        # and damped retries, each within its own budget of one or two.
        assert not p.converged.any() and ((p.iterations >= 1) & (p.iterations <= 20)).all()
        for col in (p.cl, p.cd, p.cm, p.cd_friction, p.cd_pressure, p.x_tr_upper, p.x_tr_lower):
            assert np.isnan(col).all()
        np.testing.assert_array_equal(p.alpha, [2.0, 4.0])
        assert np.isfinite(p.residual).all() and all(e is None for e in p.errors)

    def test_prescribed_lift_sweep(self, paneled):
        targets = [0.2, 0.6, 1.0]
        p = paneled.polar(cl=targets, re=1e6)
        np.testing.assert_array_equal(p.cl_target, targets)
        assert p.converged.all()
        assert np.max(np.abs(p.cl - targets)) <= 1e-4
        assert np.all(np.diff(p.alpha) > 0)

    def test_default_angles_and_progress(self, paneled, monkeypatch, capsys):
        seen = {}

        def fake_sweeps(tasks, workers=None, progress=None):
            seen["values"] = tasks[0].values
            if progress:
                progress(len(tasks[0].values))
            n = len(tasks[0].values)
            recs = [_backend.PointRecord(alpha=a, cl=0.1 * a, cd=0.01, cm=0.0, cd_friction=0.005,
                                         cd_pressure=0.005, x_tr_upper=0.5, x_tr_lower=0.9, iterations=5,
                                         residual=1e-5, converged=True) for a in tasks[0].values]
            assert len(recs) == n
            return [_backend.SweepRecord.from_points("alpha", tasks[0].values, recs)]

        monkeypatch.setattr(_backend, "sweeps", fake_sweeps)
        p = paneled.polar(progress=True)
        np.testing.assert_array_equal(seen["values"], np.arange(-5, 20.25, 0.25))
        assert len(p) == 101 and p.lift_slope == pytest.approx(0.1)
        assert "101" in capsys.readouterr().err  # the bar reached its total

    def test_progress_to_a_callable_or_a_bar_of_the_caller(self, paneled):
        # Real sweeps, two Reynolds numbers in parallel: every point is
        # reported once, whatever the thread it finished on.
        lock = threading.Lock()
        counts = []

        def count(n):
            with lock:
                counts.append(n)

        paneled.polar(alpha=[0.0, 2.0, 4.0], re=[1e6, 2e6], progress=count)
        assert sum(counts) == 6

        class Bar:  # the part of a tqdm bar the package uses
            n = 0

            def update(self, k):
                with lock:
                    self.n += k

        bar = Bar()
        paneled.polar(alpha=[0.0, 2.0], re=1e6, progress=bar)
        paneled.polar(cl=[0.2, 0.4], re=1e6, progress=bar)  # one bar across calls
        assert bar.n == 4
        for bad in ("yes", 3, object()):
            with pytest.raises(ValueError, match="progress"):
                paneled.polar(alpha=[0.0], progress=bad)

    def test_cancelled_sweep_marks_the_rest(self, paneled):
        cancel = threading.Event()
        cancel.set()
        task = _backend.SweepTask(points=paneled.coordinates, mode="alpha", values=np.array([0.0, 1.0]),
                                  conditions=_backend.Conditions(reynolds=1e6))
        rec = _backend.sweep(task, cancel=cancel)
        assert not rec.converged.any() and rec.errors == ["cancelled", "cancelled"]

    @pytest.mark.parametrize(
        "kwargs",
        [
            {"alpha": []},
            {"alpha": [0.0, math.nan]},
            {"alpha": [0.0], "cl": [0.5]},
            {"cl": "lots"},
            {"alpha": [0.0], "re": [1e6, 0.0]},
            {"alpha": [0.0], "re": []},
            {"alpha": [0.0], "mach": [0.2, 1.5]},
            {"alpha": [0.0], "workers": 0},
            {"alpha": [0.0], "xtr": (1.0, 0.0)},
        ],
    )
    def test_invalid_arguments(self, paneled, kwargs):
        with pytest.raises(ValueError):
            paneled.polar(**kwargs)


def test_interrupt_keeps_the_finished_points(paneled):
    import os
    import signal
    import time

    alphas = np.arange(-4.0, 12.0, 0.25)
    # Ctrl-C shortly after the first points have finished, however fast or
    # loaded the machine is.
    timer = threading.Timer(0.05, lambda: os.kill(os.getpid(), signal.SIGINT))

    once = threading.Lock()

    def first_progress(_):
        if once.acquire(blocking=False):
            timer.start()

    start = time.monotonic()
    try:
        with pytest.raises(velaro.PolarInterrupted) as info:
            paneled.polar(alpha=alphas, re=[1e6, 2e6], progress=first_progress)
    finally:
        timer.cancel()
    assert time.monotonic() - start < 4.0  # promptly, not after the whole run
    polars = info.value.polars
    assert isinstance(polars, velaro.PolarSet) and len(polars) == 2
    finished = 0
    for p in polars:
        assert len(p) == len(alphas)
        done = p.converged | np.array([e is None or e != "cancelled" for e in p.errors])
        finished += done.sum()
        assert done.sum() < len(alphas)  # cancelled before the end
        # The finished rows are the real results (the same solutions, reached
        # along another path of warm starts: to the Newton tolerance).
        if p.converged.any():
            alone = paneled.polar(alpha=p.alpha[p.converged], re=p.re)
            np.testing.assert_allclose(alone.cl, p.cl[p.converged], rtol=0, atol=1e-4)
    # The two polars run side by side; one may still be on its first point.
    assert finished > 0
