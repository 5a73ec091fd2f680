"""Flap deflection keeps the points of dense and thick sections and stays
fast on large ones; the repaneler refuses fewer than three nodes."""

import time

import pytest

import _velaro
from conftest import naca_coords


def flat(points):
    return [v for p in points for v in p]


def points_of(coords):
    return list(zip(coords[0::2], coords[1::2]))


# --- flap and repaneler -----------------------------------------------------


@pytest.mark.parametrize(
    "designation, per_side, hinge, angle",
    [(12, 1000, 0.7, 20), (40, 300, 0.5, 10), (2412, 2000, 0.75, -15), (12, 1000, 0.3, 25)],
)
def test_flap_keeps_the_points_of_dense_and_thick_sections(designation, per_side, hinge, angle):
    coords = naca_coords(designation, per_side)
    n = len(coords) // 2
    out = _velaro.deflect_flap(coords, hinge, angle)
    # Only the surface buried inside the fold goes (a few percent of a side).
    assert len(out) > 0.95 * n
    # Points ahead of the hinge are untouched.
    fixed = [p for p in points_of(coords) if p[0] < hinge - 0.1]
    assert set(fixed) <= set(out)
    # Still an airfoil the analyses accept, once brought to a usual size.
    r = _velaro.analyze_inviscid(flat(_velaro.repanel_kelvo(flat(out), 160)), 0.0)
    assert r["success"], r["error"]


def test_flap_on_a_hundred_thousand_points_is_fast():
    coords = naca_coords(2412, 50000)
    start = time.perf_counter()
    out = _velaro.deflect_flap(coords, 0.7, 20.0)
    elapsed = time.perf_counter() - start
    assert len(out) > 0.95 * len(coords) // 2
    assert elapsed < 1.0


@pytest.mark.parametrize("n", [0, 1, 2])
def test_repanel_refuses_fewer_than_three_nodes(naca0012, n):
    with pytest.raises(ValueError, match="n_panels must be at least 3"):
        _velaro.repanel_kelvo(naca0012, n)
    assert len(_velaro.repanel_kelvo(naca0012, 3)) == 3
