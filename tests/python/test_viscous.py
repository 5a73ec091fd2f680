"""Viscous analysis entry points: schemas, failures, batches and threads."""

import math
import os
import threading
import time

import pytest

import _velaro
from conftest import flat, ticks_during

SINGLE_KEYS = [
    "cl", "cd", "cm", "converged", "iterations", "residual", "x_tr_upper", "x_tr_lower",
    "cd_friction", "cd_pressure", "alpha_deg", "reynolds_eff", "success", "error",
]
BATCH_KEYS = [
    "alpha_deg", "cl", "cd", "cm", "converged", "iterations", "residual", "x_tr_upper", "x_tr_lower",
    "cd_friction", "cd_pressure", "reynolds_eff", "success", "error",
]
BL_KEYS = [
    "x_upper", "x_lower", "theta_upper", "theta_lower", "delta_star_upper", "delta_star_lower",
    "h_upper", "h_lower", "cf_upper", "cf_lower", "ue_upper", "ue_lower",
    "x_tr_upper", "x_tr_lower", "converged", "iterations", "residual", "success", "error",
]


def section(designation):
    """NACA section with 160 nodes (the raw generator points without a repaneler)."""
    raw = flat(_velaro.generate_naca4(designation))
    if hasattr(_velaro, "repanel_kelvo"):
        pts = _velaro.repanel_kelvo(raw, 160)
        if pts:
            return flat(pts)
    return raw


@pytest.fixture(scope="module")
def n2412():
    return section(2412)


@pytest.fixture(scope="module")
def n0012():
    return section(12)


def assert_finite_success(d):
    assert d["success"] is True
    assert d["error"] is None
    for key, value in d.items():
        if isinstance(value, float):
            assert math.isfinite(value), key


# ---- Schemas --------------------------------------------------------------------


def test_single_point_schema_and_values(n2412):
    d = _velaro.analyze_faithful(n2412, 4.0)
    assert list(d) == SINGLE_KEYS
    assert_finite_success(d)
    assert type(d["iterations"]) is int and type(d["converged"]) is bool
    assert d["converged"] is True and d["residual"] <= 1e-4
    assert d["alpha_deg"] == pytest.approx(4.0, abs=1e-12)
    assert d["reynolds_eff"] == 1e6
    # NACA 2412 at 4 degrees, Re 1e6: measured cl about 0.65, cd about 0.0070.
    assert 0.55 < d["cl"] < 0.75
    assert 0.005 < d["cd"] < 0.010
    assert d["cd"] == pytest.approx(d["cd_friction"] + d["cd_pressure"], abs=1e-15)
    assert 0.0 <= d["x_tr_upper"] < d["x_tr_lower"] <= 1.0


def same_value(a, b):
    return a == b or (isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b))


@pytest.mark.parametrize("reynolds", [1e6, 3e5])
def test_batch_matches_single_calls_bit_for_bit(n2412, reynolds):
    # The batch shares the contour's set-up between its angles; every angle
    # must still come out as a single call gives it: attached, near and past
    # stall, and angles that are refused.
    alphas = [-2.0, 4.0, 1.5, 15.0, 19.0, math.nan, math.inf]
    batch = _velaro.analyze_faithful_batch(n2412, alphas, reynolds=reynolds)
    assert len(batch) == len(alphas)
    for alpha, b in zip(alphas, batch):
        assert list(b) == BATCH_KEYS
        s = _velaro.analyze_faithful(n2412, alpha, reynolds=reynolds)
        if not s["success"]:
            # A refused single call returns only its error.
            assert not b["success"] and b["error"] == s["error"]
            continue
        assert set(s) == set(b)
        for key in s:
            assert same_value(s[key], b[key]), (alpha, key, s[key], b[key])


def test_empty_batch_is_an_empty_list(n2412):
    assert _velaro.analyze_faithful_batch(n2412, []) == []
    assert _velaro.analyze_faithful_batch([0.0] * 5, []) == []


def test_re_type_selects_the_effective_reynolds_number(n2412):
    base = _velaro.analyze_faithful(n2412, 2.0, re_type=1)
    for code in (0, 4, 255):
        assert _velaro.analyze_faithful(n2412, 2.0, re_type=code) == base
    t2 = _velaro.analyze_faithful(n2412, 2.0, re_type=2)
    t3 = _velaro.analyze_faithful(n2412, 2.0, re_type=3)
    assert t2["reynolds_eff"] == pytest.approx(1e6 / math.sqrt(abs(t2["cl"])), rel=1e-15)
    assert t3["reynolds_eff"] == pytest.approx(1e6 / abs(t3["cl"]), rel=1e-15)
    assert t2["reynolds_eff"] != base["reynolds_eff"] and t3["reynolds_eff"] != base["reynolds_eff"]
    with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
        _velaro.analyze_faithful(n2412, 2.0, re_type=256)
    with pytest.raises(OverflowError):
        _velaro.analyze_faithful(n2412, 2.0, max_iterations=-1)
    with pytest.raises(TypeError, match="argument 'max_iterations'"):
        _velaro.analyze_faithful(n2412, 2.0, max_iterations=10.0)


def test_iteration_limit_is_reported_not_failed(n2412):
    d = _velaro.analyze_faithful(n2412, 4.0, max_iterations=2)
    assert_finite_success(d)
    assert d["iterations"] == 2 and d["converged"] is False


# ---- Failures -------------------------------------------------------------------


def test_invalid_coordinate_lists():
    five = [1.0, 0.0, 0.5, 0.1, 0.0]
    assert _velaro.analyze_faithful(five, 0.0) == {
        "success": False, "error": "Invalid coordinates: need at least 3 points (6 values)"}
    assert _velaro.get_bl_distribution(five, 0.0) == {"success": False, "error": "Invalid coordinates"}
    batch = _velaro.analyze_faithful_batch(five, [0, 5], reynolds=3e5)
    assert len(batch) == 2
    for alpha, d in zip([0.0, 5.0], batch):
        assert list(d) == BATCH_KEYS
        assert d == {
            "alpha_deg": alpha, "cl": 0.0, "cd": 0.0, "cm": 0.0, "converged": False, "iterations": 0,
            "residual": 0.0, "x_tr_upper": 1.0, "x_tr_lower": 1.0, "cd_friction": 0.0, "cd_pressure": 0.0,
            "reynolds_eff": 3e5, "success": False, "error": "Invalid coordinates"}


@pytest.mark.parametrize("kwargs, message", [
    ({"reynolds": 0.0}, "Reynolds number must be positive"),
    ({"reynolds": -1e6}, "Reynolds number must be positive"),
    ({"reynolds": float("nan")}, "Reynolds number must be positive"),
    ({"mach": 1.0}, "Mach number must be in [0, 1)"),
    ({"mach": float("nan")}, "Mach number must be in [0, 1)"),
    ({"ncrit": -0.5}, "Ncrit must be non-negative"),
    ({"max_iterations": 0}, "max_iterations must be non-zero"),
])
def test_configuration_errors_reach_the_caller(n0012, kwargs, message):
    for fn in (_velaro.analyze_faithful, _velaro.get_bl_distribution):
        assert fn(n0012, 2.0, **kwargs) == {"success": False, "error": message}
    (b,) = _velaro.analyze_faithful_batch(n0012, [2.0], **kwargs)
    assert b["success"] is False and b["error"] == message and b["alpha_deg"] == 2.0


def test_bad_geometry_never_reports_success(n0012):
    nine = flat(_velaro.generate_naca4(12, 5))
    assert len(nine) == 18
    d = _velaro.analyze_faithful(nine, 0.0)
    assert d == {"success": False, "error": "inviscid solver error: Insufficient points: need at least 10, got 9"}

    coincident = list(n0012)
    coincident[20:22] = coincident[18:20]  # node 10 on node 9
    d = _velaro.analyze_faithful(coincident, 0.0)
    assert d["success"] is False and d["error"].startswith("Geometry error: ")
    assert list(d) == ["success", "error"]

    with_nan = list(n0012)
    with_nan[31] = float("nan")
    for fn in (_velaro.analyze_faithful, _velaro.get_bl_distribution):
        d = fn(with_nan, 0.0)
        assert d["success"] is False and d["error"].startswith("Geometry error: ")

    for alpha in (float("nan"), float("inf")):
        d = _velaro.analyze_faithful(n0012, alpha)
        assert d["success"] is False and list(d) == ["success", "error"]


def test_degenerate_contours_fail_cleanly_or_give_finite_results():
    shapes = [
        [math.cos(t), 0.3 * math.sin(t)] for t in [2 * math.pi * k / 40 for k in range(40)]
    ]
    zigzag = [[1.0 - k / 20.0, 0.05 * (-1) ** k] for k in range(21)] + [[k / 20.0, -0.02] for k in range(1, 21)]
    flat_plate = [[1.0 - k / 15.0, 0.0] for k in range(16)] + [[k / 15.0, -1e-3] for k in range(1, 16)]
    for pts in (shapes, zigzag, flat_plate):
        coords = [v for p in pts for v in p]
        for alpha in (0.0, 8.0):
            d = _velaro.analyze_faithful(coords, alpha, max_iterations=15)
            if d["success"]:
                assert_finite_success(d)
            else:
                assert isinstance(d["error"], str) and d["error"]


# ---- Boundary-layer distribution ---------------------------------------------------


def test_bl_distribution_lists(n2412):
    d = _velaro.get_bl_distribution(n2412, 4.0)
    assert list(d) == BL_KEYS
    assert d["success"] is True and d["error"] is None and d["converged"] is True
    single = _velaro.analyze_faithful(n2412, 4.0)
    for key in ("x_tr_upper", "x_tr_lower", "iterations", "residual", "converged"):
        assert d[key] == single[key], key
    for side in ("upper", "lower"):
        lists = [d[f"{q}_{side}"] for q in ("x", "theta", "delta_star", "h", "cf", "ue")]
        assert len({len(v) for v in lists}) == 1
        x, theta, dstar, h, cf, ue = lists
        assert len(x) > 40
        # Row 0 is the stagnation placeholder: no thickness, no speed (the
        # station floors 1e-12 and 1e-9 at most).
        assert 0.0 <= theta[0] <= 1e-12 and 0.0 <= dstar[0] <= 1e-12 and 0.0 <= ue[0] <= 1e-9
        for i in range(1, len(x)):
            assert theta[i] > 0.0 and ue[i] > 0.0
            assert h[i] == pytest.approx(dstar[i] / theta[i], rel=1e-12)
            assert all(math.isfinite(v[i]) for v in lists)
        # The rows end at the trailing edge.
        assert x[-1] == pytest.approx(1.0, abs=2e-3)
    # Upper and lower rows start at the same stagnation point near the nose.
    assert d["x_upper"][0] == d["x_lower"][0] < 0.02


def test_skin_friction_changes_sign_at_separation():
    coords = section(4412)
    # At 4 degrees the upper laminar layer separates just ahead of
    # transition and reattaches (a laminar separation bubble); at 12 degrees
    # the turbulent layer also separates ahead of the trailing edge.
    d = _velaro.get_bl_distribution(coords, 4.0)
    assert d["success"] is True
    cf, x = d["cf_upper"], d["x_upper"]
    negative = [i for i in range(1, len(cf)) if cf[i] <= 0.0]
    assert negative
    first, last = negative[0], negative[-1]
    assert all(c > 0.0 for c in cf[1:first])
    assert x[first] <= d["x_tr_upper"] + 0.01 and last + 1 < len(cf) and cf[last + 1] > 0.0

    d = _velaro.get_bl_distribution(coords, 12.0)
    assert d["success"] is True
    cf, x = d["cf_upper"], d["x_upper"]
    aft = [i for i in range(1, len(cf)) if cf[i] <= 0.0 and x[i] > 0.5]
    assert aft and aft[-1] == len(cf) - 1
    assert cf[aft[0] - 1] > 0.0 and 0.7 < x[aft[0]] < 1.0


# ---- Threads ----------------------------------------------------------------------


def test_concurrent_batches_agree(n0012):
    alphas = [0.0, 2.0, 5.0]
    expected = _velaro.analyze_faithful_batch(n0012, alphas)
    results = [None] * 4

    def run(k):
        results[k] = _velaro.analyze_faithful_batch(n0012, alphas)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in results:
        assert r == expected


def test_batch_releases_the_interpreter_lock(n2412):
    during, _ = ticks_during(lambda: _velaro.analyze_faithful_batch(n2412, [0.0, 2.0, 4.0, 6.0]), 0)
    # The counter thread runs thousands of times while the solves work;
    # with the lock held it would get at most the interpreter's switch
    # interval slices around the call.
    assert during > 100


def test_stagnation_switch_is_read_safely_while_threads_change_it(n0012):
    stop = threading.Event()

    def flip():
        while not stop.is_set():
            os.environ["VELARO_DISABLE_STMOVE"] = "1"
            os.environ.pop("VELARO_DISABLE_STMOVE", None)

    t = threading.Thread(target=flip)
    t.start()
    try:
        results = _velaro.analyze_faithful_batch(n0012, [1.0, 2.0, 4.0, 5.0])
    finally:
        stop.set()
        t.join()
    for d in results:
        assert_finite_success(d)


def test_disabled_stagnation_move_still_solves(n2412, monkeypatch):
    monkeypatch.setenv("VELARO_DISABLE_STMOVE", "1")
    d = _velaro.analyze_faithful(n2412, 4.0)
    assert_finite_success(d)
    monkeypatch.delenv("VELARO_DISABLE_STMOVE")
    assert _velaro.analyze_faithful(n2412, 4.0)["success"] is True


def test_contour_too_large_for_memory_is_refused():
    n = 200000
    coords = []
    for i in range(n):
        t = 2.0 * math.pi * i / n
        coords += [0.5 + 0.5 * math.cos(t), 0.06 * math.sin(t)]
    for fn in (_velaro.analyze_faithful, _velaro.get_bl_distribution):
        d = fn(coords, 2.0)
        assert d["success"] is False
        assert d["error"].startswith("Too many nodes for the viscous analysis: 200000 nodes")
    (b,) = _velaro.analyze_faithful_batch(coords, [2.0])
    assert b["success"] is False and b["error"].startswith("Too many nodes")


def test_interrupt_stops_a_long_single_point_run(n0012):
    # NACA 0012 at 40 degrees never converges; with an iteration limit of
    # 10**12 only the user's interrupt can end the call. A real signal
    # (here SIGALRM whose handler raises KeyboardInterrupt, as Ctrl-C's
    # does) is delivered while the call holds the interpreter lock.
    import signal

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, 0.5)
    t0 = time.perf_counter()
    try:
        with pytest.raises(KeyboardInterrupt):
            _velaro.analyze_faithful(n0012, 40.0, max_iterations=10**12)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert time.perf_counter() - t0 < 10.0


def test_drag_parts_add_up_to_the_total(n2412):
    # cd_pressure is cd - cd_friction in double precision, so the two parts
    # add back to the total within the rounding of that one subtraction
    # (a few units in the last place), at every angle of a polar.
    for d in _velaro.analyze_faithful_batch(n2412, [a * 1.0 for a in range(-6, 15)], reynolds=3e5):
        assert d["success"]
        scale = max(abs(d["cd"]), abs(d["cd_friction"]), abs(d["cd_pressure"]))
        assert abs(d["cd"] - (d["cd_friction"] + d["cd_pressure"])) <= 4 * 2.0**-52 * scale


def test_repeated_calls_repeat_their_numbers_whatever_ran_before():
    # Calls run on job threads kept between calls, which keep their
    # workspaces and whose allocations land at different addresses from one
    # call to the next; the numbers must not depend on either.
    small = flat(_velaro.generate_naca4(12, 30))
    first_inviscid = _velaro.analyze_inviscid(small, 0.0)
    first_viscous = _velaro.analyze_faithful(small, 2.0)
    for n in range(20, 120, 13):
        other = flat(_velaro.generate_naca4(2412, n))
        _velaro.analyze_inviscid(other, 3.0)
        _velaro.analyze_faithful(other, 3.0)
        assert _velaro.analyze_inviscid(small, 0.0) == first_inviscid
        assert _velaro.analyze_faithful(small, 2.0) == first_viscous
