"""velaro._engine, the package's sweep module: arrays out, input order, bad
input, the interpreter lock, parallel against serial, Ctrl-C and fork."""

import math
import time

import numpy as np
import pytest

import _velaro
import velaro._backend  # noqa: F401  (loads the engine module from a build tree too)
from velaro import _engine
from conftest import assert_forked_child_passes, ticks_during

N2412 = np.array(_velaro.generate_naca4(2412, None), dtype=np.float64)
N0012 = np.array(_velaro.generate_naca4(12, None), dtype=np.float64)
ALPHAS = np.array([-2.0, 0.0, 1.0, 2.5, 4.0, 6.0])

FLOAT_KEYS = ("targets", "alpha", "cl", "cd", "cm", "cd_friction", "cd_pressure", "x_tr_upper", "x_tr_lower",
              "residual")


def assert_same(a, b):
    """Two result dictionaries equal bit for bit."""
    assert a.keys() == b.keys()
    for k in a:
        if isinstance(a[k], np.ndarray):
            np.testing.assert_array_equal(a[k], b[k], err_msg=k)
        else:
            assert a[k] == b[k], k


@pytest.fixture(scope="module")
def polar():
    return _engine.sweep(N2412, ALPHAS, reynolds=1e6)


class TestResults:
    def test_arrays_and_dtypes(self, polar):
        n = len(ALPHAS)
        for k in FLOAT_KEYS:
            assert polar[k].dtype == np.float64 and polar[k].shape == (n,), k
        assert polar["iterations"].dtype == np.int64 and polar["converged"].dtype == np.bool_
        assert polar["start"].dtype == np.uint8
        assert polar["mode"] == "alpha" and polar["error"] is None and polar["errors"] == [None] * n
        assert polar["converged"].all()
        assert {_engine.START_NAMES[k] for k in polar["start"]} <= {"warm", "substepped", "cold"}
        assert "warm" in {_engine.START_NAMES[k] for k in polar["start"]}  # continuation is used
        np.testing.assert_array_equal(polar["alpha"], ALPHAS)
        assert np.all(np.diff(polar["cl"]) > 0)  # below stall the lift rises with the angle

    def test_input_order_is_kept(self, polar):
        # The sweep marches in its own order; a shuffled request gives the
        # same solutions, in the order asked.
        order = np.array([4, 0, 5, 2, 1, 3])
        shuffled = _engine.sweep(N2412, ALPHAS[order], reynolds=1e6)
        for k in FLOAT_KEYS + ("iterations", "converged", "start"):
            np.testing.assert_array_equal(shuffled[k], polar[k][order], err_msg=k)

    def test_warm_starts_reach_the_cold_solutions(self, polar):
        # Independent cold starts at the same angles: the same converged
        # solutions, to well inside the Newton tolerance (cl 1e-6, cd 1e-5
        # relative).
        cold = _engine.sweep(N2412, ALPHAS, reynolds=1e6, warm_start=False)
        assert cold["converged"].all()
        assert {_engine.START_NAMES[k] for k in cold["start"]} == {"cold"}
        np.testing.assert_allclose(polar["cl"], cold["cl"], rtol=0, atol=1e-6)
        np.testing.assert_allclose(polar["cd"], cold["cd"], rtol=1e-5)
        batch = _velaro.analyze_faithful_batch(N2412.ravel().tolist(), ALPHAS.tolist(), reynolds=1e6)
        np.testing.assert_allclose(cold["cl"], [d["cl"] for d in batch], rtol=0, atol=1e-6)

    @pytest.mark.parametrize("warm_start", [False, True])
    def test_prescribed_lift(self, warm_start):
        targets = np.array([0.3, 0.6])
        r = _engine.sweep(N2412, targets, mode="cl", reynolds=1e6, warm_start=warm_start)
        assert r["mode"] == "cl" and r["converged"].all()
        np.testing.assert_array_equal(r["targets"], targets)
        # Converged to the Newton tolerance, the lift lies within a few
        # thousandths of the target (the package refines it further) ...
        np.testing.assert_allclose(r["cl"], targets, atol=2e-3)
        # ... and a solution at the angle found has that lift. Both solutions
        # are converged to the default rms residual of 1e-4 only, from
        # different starts, which leaves each lift uncertain by about 1e-4.
        at_alpha = _engine.sweep(N2412, r["alpha"], reynolds=1e6, warm_start=False)
        np.testing.assert_allclose(at_alpha["cl"], r["cl"], rtol=0, atol=3e-4)

    def test_progress_counts_every_point(self):
        counts = []
        _engine.sweeps([{"coords": N2412, "targets": ALPHAS[:3]}, {"coords": N0012, "targets": ALPHAS[:2]}],
                       progress=counts.append)
        assert sum(counts) == 5 and all(c > 0 for c in counts)

    def test_progress_that_raises_stops_the_sweep(self):
        def boom(_):
            raise RuntimeError("stop here")

        with pytest.raises(RuntimeError, match="stop here"):
            _engine.sweep(N2412, np.arange(-4.0, 12.0, 0.5), progress=boom)


class TestBoundaryLayer:
    def test_the_stations_of_the_distribution_function(self):
        d = _engine.boundary_layer(N2412, 4.0, reynolds=1e6)
        assert d["converged"] and d["error"] is None
        ref = _velaro.get_bl_distribution(N2412.ravel().tolist(), 4.0, reynolds=1e6)
        for side in ("upper", "lower"):
            r = d[side]
            n = len(r["x"])
            for k in ("s", "x", "y", "ue", "theta", "delta_star", "h", "cf", "ctau"):
                assert r[k].dtype == np.float64 and r[k].shape == (n,), k
            assert r["laminar"].dtype == np.bool_ and r["node"].dtype == np.int64
            # The same solve as _velaro's, without its placeholder row 0.
            for k, name in (("x", "x"), ("theta", "theta"), ("delta_star", "delta_star"), ("cf", "cf"), ("ue", "ue")):
                np.testing.assert_array_equal(r[k], ref[f"{name}_{side}"][1:], err_msg=f"{side} {k}")
            np.testing.assert_array_equal(r["x"], N2412[r["node"], 0])
            assert r["s"][0] > 0 and np.all(np.diff(r["s"]) > 0)
        assert len(d["upper"]["x"]) + len(d["lower"]["x"]) == len(N2412)

    def test_bad_input(self):
        with pytest.raises(ValueError, match="alpha"):
            _engine.boundary_layer(N2412, math.nan)
        with pytest.raises(ValueError, match="xtr_lower"):
            _engine.boundary_layer(N2412, 1.0, xtr_lower=2.0)
        with pytest.raises(ValueError, match="shape"):
            _engine.boundary_layer(N2412.T, 1.0)


class TestBadInput:
    @pytest.mark.asan
    @pytest.mark.parametrize(
        "coords, targets, kwargs, match",
        [
            (N2412[:, :1], ALPHAS, {}, "shape"),
            (N2412.ravel(), ALPHAS, {}, "shape"),
            (np.zeros((4, 2, 2)), ALPHAS, {}, "shape"),
            (N2412[:5], ALPHAS, {}, "at least"),
            (np.where(np.arange(len(N2412))[:, None] == 7, np.nan, N2412), ALPHAS, {}, "finite"),
            ([["a", "b"]] * 20, ALPHAS, {}, "numbers"),
            (N2412[::-1], ALPHAS, {}, "geometry"),
            (N2412, [], {}, "empty"),
            (N2412, [0.0, math.nan], {}, "finite"),
            (N2412, [[0.0, 1.0]], {}, "one-dimensional"),
            (N2412, "0 1", {}, "string"),
            (N2412, ALPHAS, {"mode": "beta"}, "mode"),
            (N2412, ALPHAS, {"xtr_upper": 1.5}, "xtr_upper"),
            (N2412, ALPHAS, {"xtr_lower": -0.01}, "xtr_lower"),
            (N2412, ALPHAS, {"xtr_upper": math.nan}, "xtr_upper"),
            (N2412, ALPHAS, {"reynolds": 0.0}, "Reynolds"),
            (N2412, ALPHAS, {"reynolds": math.inf}, "reynolds"),
            (N2412, ALPHAS, {"mach": 1.0}, "Mach"),
            (N2412, ALPHAS, {"ncrit": -1.0}, "Ncrit"),
            (N2412, ALPHAS, {"max_iterations": 0}, "max_iterations"),
        ],
    )
    def test_value_error_not_a_crash(self, coords, targets, kwargs, match):
        with pytest.raises(ValueError, match=match):
            _engine.sweep(coords, targets, **kwargs)

    def test_sweeps_names_the_bad_task_before_any_work(self):
        good = {"coords": N2412, "targets": ALPHAS}
        with pytest.raises(ValueError, match="task 1: xtr_upper"):
            _engine.sweeps([good, dict(good, xtr_upper=2.0)])
        with pytest.raises(TypeError, match="unknown key 'alphas'"):
            _engine.sweeps([{"coords": N2412, "alphas": ALPHAS}])
        with pytest.raises(TypeError):
            _engine.sweeps(good)
        with pytest.raises(TypeError):
            _engine.sweep(N2412, ALPHAS, progress=3)
        assert _engine.sweeps([]) == []


class TestThreads:
    def test_the_interpreter_lock_is_released(self):
        ticks, elapsed = ticks_during(lambda: _engine.sweep(N2412, ALPHAS), 0.002)
        # Up to 500 ticks a second; holding the lock would leave a tick or two.
        assert ticks >= 0.25 * elapsed / 0.002 and ticks >= 10, (ticks, elapsed)

    def test_parallel_sweeps_equal_serial_ones(self):
        tasks = [
            {"coords": N2412, "targets": ALPHAS, "reynolds": 3e5},
            {"coords": N2412, "targets": ALPHAS, "reynolds": 3e6, "mach": 0.3},
            {"coords": N0012, "targets": ALPHAS, "ncrit": 5.0, "xtr_upper": 0.3},
            {"coords": N0012, "targets": [0.2, 0.5], "mode": "cl"},
        ]
        together = _engine.sweeps(tasks)
        assert len(together) == len(tasks)
        for task, result in zip(tasks, together):
            alone = _engine.sweep(task.pop("coords"), task.pop("targets"), **task)
            assert_same(result, alone)


@pytest.mark.asan
def test_ctrl_c_stops_promptly_and_keeps_the_finished_points(sigint_after):
    # The sweep marches upward from zero lift: 0 to 3 degrees converge, then
    # 40 degrees with no iteration limit never ends; only Ctrl-C does.
    targets = [3.0, 40.0, 0.0, 1.0, 2.0]
    tasks = [{"coords": N0012, "targets": targets, "max_iterations": 10**12},
             {"coords": N0012, "targets": [40.0], "max_iterations": 10**12}]
    fired = {}
    done = 0

    def progress(n):
        # Ctrl-C once the four easy points are in, however slow the build.
        nonlocal done, fired
        armed = done >= 4
        done += n
        if done >= 4 and not armed:
            fired = sigint_after(0.2)

    with pytest.raises(_engine.SweepInterrupted) as info:
        _engine.sweeps(tasks, progress=progress)
        time.sleep(10)  # reached only if the call returned before the signal
    latency = time.perf_counter() - fired["at"]
    assert latency < 1.0, latency
    assert isinstance(info.value, KeyboardInterrupt)
    first, second = info.value.partial
    assert first["converged"].tolist() == [True, False, True, True, True]
    assert first["errors"][1] == "viscous analysis interrupted"
    assert second["errors"] == ["viscous analysis interrupted"] and not second["converged"].any()
    # The engine is usable afterwards, with the same results.
    again = _engine.sweep(N0012, [0.0, 1.0, 2.0, 3.0])
    np.testing.assert_array_equal(again["cl"], first["cl"][[2, 3, 4, 0]])


@pytest.mark.asan
def test_ctrl_c_stops_a_boundary_layer_solve(sigint_after):
    fired = sigint_after(0.3)
    with pytest.raises(KeyboardInterrupt):
        _engine.boundary_layer(N0012, 40.0, max_iterations=10**12)
        time.sleep(5)
    assert time.perf_counter() - fired["at"] < 1.0


@pytest.mark.filterwarnings("ignore:.*fork.*:DeprecationWarning")
def test_child_forked_during_sweeps_runs_its_own():
    tasks = [{"coords": N0012, "targets": [1.0, 3.0]}, {"coords": N2412, "targets": [1.0, 3.0]}]
    expected = _engine.sweeps(tasks)

    def long_sweeps():
        _engine.sweeps([{"coords": N0012, "targets": np.arange(-6.0, 10.0, 0.5)},
                        {"coords": N2412, "targets": np.arange(-6.0, 10.0, 0.5)}])

    def same_sweeps():
        got = _engine.sweeps(tasks)
        return all(np.array_equal(g["cl"], e["cl"]) and np.array_equal(g["cd"], e["cd"])
                   for g, e in zip(got, expected))

    # Forked 0.3 s into the long sweeps.
    assert_forked_child_passes(long_sweeps, same_sweeps, delay=0.3, timeout=30)
