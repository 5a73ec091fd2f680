"""Repaneling and flap deflection through the module interface."""

import math

import pytest

import _velaro

from conftest import flat, naca_coords


# --- repanel_kelvo ---------------------------------------------------------


def test_repanel_defaults_and_ends(naca0012):
    pts = _velaro.repanel_kelvo(naca0012)
    assert len(pts) == 160
    assert all(type(p) is tuple and len(p) == 2 and all(type(v) is float for v in p) for p in pts)
    assert pts[0] == (naca0012[0], naca0012[1])
    assert math.isclose(pts[-1][0], naca0012[-2], abs_tol=1e-12)
    assert math.isclose(pts[-1][1], naca0012[-1], abs_tol=1e-12)
    # Positional defaults equal the explicit values.
    assert pts == _velaro.repanel_kelvo(naca0012, 160, 1.0, 0.15, 0.667)


def test_repanel_keywords_in_any_order(naca0012):
    positional = _velaro.repanel_kelvo(naca0012, 90, 1.3, 0.2, 0.8)
    keywords = _velaro.repanel_kelvo(
        te_spacing_ratio=0.8, n_panels=90, coords=naca0012, te_le_ratio=0.2, curv_param=1.3
    )
    assert positional == keywords
    assert len(keywords) == 90


def test_repanel_output_feeds_back_after_flattening():
    coords = naca_coords(2412)
    once = _velaro.repanel_kelvo(coords, 120)
    with pytest.raises(TypeError, match="argument 'coords'"):
        _velaro.repanel_kelvo(once)
    twice = _velaro.repanel_kelvo(flat(once), 120)
    assert len(twice) == 120
    # Resampling a resampled contour keeps it on the same curve: the leading
    # edge (smallest x) stays within spline accuracy of the first pass's.
    assert math.isclose(min(p[0] for p in twice), min(p[0] for p in once), abs_tol=1e-4)


@pytest.mark.parametrize(
    "coords",
    [
        [],
        [1.0, 0.0, 0.0, 0.0, 1.0],  # five values
        [1.0, 0.0, 0.0, 0.0, 1.0, 0.1, 0.5],  # odd count
        [1.0, 0.0, 0.5, 0.1, 0.5, 0.1, 0.0, 0.0],  # repeated consecutive point
        [1.0, 0.0, float("nan"), 0.1, 0.0, 0.0, 1.0, -0.1],
        [1.0, 0.0, 0.5, float("inf"), 0.0, 0.0, 1.0, -0.1],
    ],
)
def test_repanel_degenerate_input_gives_empty_list(coords):
    assert _velaro.repanel_kelvo(coords) == []


def test_repanel_non_finite_parameters_give_empty_list(naca0012):
    assert _velaro.repanel_kelvo(naca0012, 50, curv_param=float("nan")) == []
    assert _velaro.repanel_kelvo(naca0012, 50, te_spacing_ratio=float("inf")) == []


def test_repanel_argument_errors(naca0012):
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        _velaro.repanel_kelvo("1, 0, 0, 0, 1, 0")
    with pytest.raises(TypeError, match="^argument 'coords': "):
        _velaro.repanel_kelvo(42)
    with pytest.raises(TypeError, match="^argument 'n_panels': "):
        _velaro.repanel_kelvo(naca0012, 160.0)
    with pytest.raises(OverflowError):
        _velaro.repanel_kelvo(naca0012, -1)
    with pytest.raises(TypeError, match="^argument 'curv_param': "):
        _velaro.repanel_kelvo(naca0012, 100, "1.0")
    with pytest.raises(TypeError):
        _velaro.repanel_kelvo(naca0012, panels=100)
    with pytest.raises(TypeError):
        _velaro.repanel_kelvo()


@pytest.mark.parametrize("n", [2**62, 2**64 - 1, 10**12])
def test_repanel_absurd_node_counts_raise_memory_error(naca0012, n):
    with pytest.raises(MemoryError, match="too large"):
        _velaro.repanel_kelvo(naca0012, n)


# --- deflect_flap -----------------------------------------------------------


def test_flap_moves_trailing_edge_down_by_the_rotation(naca0012):
    pts = _velaro.deflect_flap(naca0012, 0.7, 10.0)
    # The trailing-edge mid-point turns about the hinge at (0.7, 0); the
    # symmetric section puts the mid-height hinge at y = 0 to rounding, so
    # the drop equals 0.3 sin 10 deg to 1e-12.
    te_y = 0.5 * (pts[0][1] + pts[-1][1])
    te_x = 0.5 * (pts[0][0] + pts[-1][0])
    assert math.isclose(te_y, -0.3 * math.sin(math.radians(10.0)), abs_tol=1e-12)
    assert math.isclose(te_x, 0.7 + 0.3 * math.cos(math.radians(10.0)), abs_tol=1e-12)
    # The nose is untouched.
    nose_in = [(naca0012[2 * i], naca0012[2 * i + 1]) for i in range(len(naca0012) // 2) if naca0012[2 * i] < 0.6]
    assert [p for p in pts if p[0] < 0.6] == nose_in


def test_flap_keywords_any_order_and_default_hinge_height(naca0012):
    a = _velaro.deflect_flap(naca0012, 0.75, 8.0)
    b = _velaro.deflect_flap(deflection_deg=8.0, coords=naca0012, hinge_x_frac=0.75)
    c = _velaro.deflect_flap(naca0012, 0.75, 8.0, 0.5)
    d = _velaro.deflect_flap(hinge_y_frac=0.5, deflection_deg=8.0, hinge_x_frac=0.75, coords=naca0012)
    assert a == b == c == d


def test_flap_zero_deflection_returns_the_input(naca0012):
    pts = _velaro.deflect_flap(naca0012, 0.3, 0.0, 0.9)
    assert flat(pts) == naca0012


def test_flap_coordinate_count_rules():
    # Three points (six values) are refused although an analysis accepts them.
    assert _velaro.deflect_flap([1.0, 0.0, 0.0, 0.0, 1.0, 0.1], 0.7, 10.0) == []
    assert _velaro.deflect_flap([1.0, 0.0, 0.0, 0.0, 1.0, 0.1, 0.5], 0.7, 10.0) == []
    # Four or five points pass the check and come back unchanged.
    four = [1.0, 0.0, 0.0, 0.1, 0.0, -0.1, 1.0, 0.01]
    assert flat(_velaro.deflect_flap(four, 0.7, 10.0)) == four


def test_flap_non_finite_input_gives_empty_list(naca0012):
    bad = list(naca0012)
    bad[9] = float("nan")
    assert _velaro.deflect_flap(bad, 0.7, 10.0) == []
    assert _velaro.deflect_flap(naca0012, float("inf"), 10.0) == []
    assert _velaro.deflect_flap(naca0012, 0.7, float("nan")) == []


def test_flap_argument_errors(naca0012):
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        _velaro.deflect_flap("abc", 0.7, 10.0)
    with pytest.raises(TypeError, match="^argument 'hinge_x_frac': "):
        _velaro.deflect_flap(naca0012, None, 10.0)
    with pytest.raises(TypeError, match="^argument 'deflection_deg': "):
        _velaro.deflect_flap(naca0012, 0.7, [10.0])
    with pytest.raises(TypeError):
        _velaro.deflect_flap(naca0012, 0.7)
    with pytest.raises(TypeError, match="argument 'coords'"):
        _velaro.deflect_flap(_velaro.generate_naca4(12), 0.7, 10.0)

