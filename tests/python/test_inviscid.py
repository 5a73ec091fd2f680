"""Inviscid analysis entry points: result schema, failures, batch order."""

import math
import threading

import pytest

import _velaro
from conftest import naca_coords

KEYS = ["cl", "cm", "cp", "cp_x", "success", "error"]


def closed_naca(designation=12, n=100):
    """NACA section whose last point repeats the first (a closed contour)."""
    pts = _velaro.generate_naca4(designation, n)
    pts[0] = (pts[0][0], 0.0)
    pts[-1] = pts[0]
    return [v for p in pts for v in p]


def test_success_schema_and_lengths(naca0012):
    r = _velaro.analyze_inviscid(naca0012, 3.0)
    assert list(r.keys()) == KEYS
    assert r["success"] is True and r["error"] is None
    assert isinstance(r["cl"], float) and isinstance(r["cm"], float)
    # 245 points with an open trailing edge: one node per point, one
    # midpoint per panel.
    assert len(naca0012) // 2 == 245
    assert len(r["cp"]) == 245
    assert len(r["cp_x"]) == 244
    assert all(isinstance(v, float) for v in r["cp"] + r["cp_x"])
    assert max(r["cp"]) <= 1.0
    pts = list(zip(naca0012[0::2], naca0012[1::2]))
    assert r["cp_x"][0] == (pts[0][0] + pts[1][0]) / 2
    # Lift near 2 pi (1 + 0.77 t/c) per radian for a 12% section (3%).
    assert r["cl"] == pytest.approx(2 * math.pi * 1.0924 * math.radians(3.0), rel=0.03)


def test_closed_contour_keeps_one_trailing_edge_node():
    coords = closed_naca()
    r = _velaro.analyze_inviscid(coords, 0.0)
    n = len(coords) // 2
    assert len(r["cp"]) == n - 1 and len(r["cp_x"]) == n - 1
    # Symmetric section at zero incidence: no lift, no moment.
    assert abs(r["cl"]) < 1e-12 and abs(r["cm"]) < 1e-12


def test_keywords_in_any_order(naca0012):
    a = _velaro.analyze_inviscid(naca0012, 2.0)
    b = _velaro.analyze_inviscid(alpha_deg=2.0, coords=naca0012)
    assert a == b
    c = _velaro.analyze_inviscid_batch(alphas=[2.0], coords=tuple(naca0012))
    assert c == [a]


@pytest.mark.parametrize("coords", [[1.0, 0.0, 0.0, 0.0, 1.0], [], [1.0, 0.0, 0.0, 0.0]])
def test_invalid_coordinates(coords):
    assert _velaro.analyze_inviscid(coords, 1.0) == {"success": False, "error": "Invalid coordinates"}
    batch = _velaro.analyze_inviscid_batch(coords, [1.0, 2.0, 3.0])
    assert batch == [{"success": False, "error": "Invalid coordinates"}] * 3
    assert all(list(d.keys()) == ["success", "error"] for d in batch)
    assert _velaro.analyze_inviscid_batch(coords, []) == []


def test_geometry_errors():
    dup = [1.0, 0.0, 0.5, 0.1, 0.5, 0.1, 0.0, 0.0, 1.0, -0.1]
    expected = {"success": False, "error": "Geometry error: Degenerate panel at index 1 (zero length)"}
    r = _velaro.analyze_inviscid(dup, 0.0)
    assert r == expected and list(r.keys()) == ["success", "error"]
    assert _velaro.analyze_inviscid_batch(dup, [0.0, 1.0]) == [expected, expected]
    bad = [1.0, 0.0, float("nan"), 0.1, 0.0, 0.0, 1.0, -0.1]
    r = _velaro.analyze_inviscid(bad, 0.0)
    assert r["success"] is False and r["error"].startswith("Geometry error: ")


def test_solver_errors():
    # Three points give two panels: too few for the solver.
    r = _velaro.analyze_inviscid([1.0, 0.0, 0.0, 0.0, 1.0, 0.1], 0.0)
    assert r == {"success": False, "error": "Solver error: Insufficient panels (need at least 3)"}
    batch = _velaro.analyze_inviscid_batch([1.0, 0.0, 0.0, 0.0, 1.0, 0.1], [0.0])
    assert batch == [
        {
            "cl": 0.0,
            "cm": 0.0,
            "cp": [],
            "cp_x": [],
            "success": False,
            "error": "Solver error: Insufficient panels (need at least 3)",
        }
    ]
    assert list(batch[0].keys()) == KEYS


@pytest.mark.parametrize("alpha", [float("nan"), float("inf"), float("-inf")])
def test_non_finite_angle_is_a_failure(naca0012, alpha):
    r = _velaro.analyze_inviscid(naca0012, alpha)
    assert r["success"] is False
    assert r["error"].startswith("Invalid angle of attack: ")
    assert list(r.keys()) == ["success", "error"]
    batch = _velaro.analyze_inviscid_batch(naca0012, [1.0, alpha, 2.0])
    assert [d["success"] for d in batch] == [True, False, True]
    assert list(batch[1].keys()) == KEYS
    assert batch[1]["cp"] == [] and batch[1]["cl"] == 0.0
    assert batch[1]["error"].startswith("Invalid angle of attack: ")


def test_argument_errors(naca0012):
    with pytest.raises(TypeError, match="argument 'coords'"):
        _velaro.analyze_inviscid("1 2 3 4 5 6", 0.0)
    with pytest.raises(TypeError, match="argument 'alphas'"):
        _velaro.analyze_inviscid_batch(naca0012, "0 1")
    with pytest.raises(TypeError, match="argument 'alpha_deg'"):
        _velaro.analyze_inviscid(naca0012, [1.0])
    with pytest.raises(TypeError):
        _velaro.analyze_inviscid(naca0012)
    with pytest.raises(TypeError):
        _velaro.analyze_inviscid(naca0012, 1.0, alpha=2.0)


ALPHAS = [-10.0 + 0.5 * k for k in range(41)]


def test_batch_equals_single_calls_bit_for_bit():
    coords = naca_coords(2412, 80)
    batch = _velaro.analyze_inviscid_batch(coords, ALPHAS)
    assert len(batch) == len(ALPHAS)
    for alpha, got in zip(ALPHAS, batch):
        assert got == _velaro.analyze_inviscid(coords, alpha)
    assert _velaro.analyze_inviscid_batch(coords, []) == []


def test_batch_from_several_threads():
    coords = naca_coords(4412, 60)
    reference = [_velaro.analyze_inviscid(coords, a) for a in ALPHAS]
    results = {}
    errors = []

    def work(k):
        try:
            alphas = ALPHAS[k:] + ALPHAS[:k]  # each thread its own order
            results[k] = (alphas, _velaro.analyze_inviscid_batch(coords, alphas))
        except Exception as exc:  # pragma: no cover - reported below
            errors.append(exc)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for k in range(4):
        alphas, got = results[k]
        for alpha, d in zip(alphas, got):
            assert d == reference[ALPHAS.index(alpha)]
