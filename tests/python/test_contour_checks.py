"""Contours the analyses must refuse (clockwise, not starting at the trailing
edge, crossing themselves), a repeated closing point on a blunt base, and
the valid sections that must still pass."""

import pathlib

import pytest

import _velaro
from conftest import naca_coords

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"
VISCOUS = dict(max_iterations=5)


def flat(points):
    return [v for p in points for v in p]


def points_of(coords):
    return list(zip(coords[0::2], coords[1::2]))


def all_analyses(coords):
    """Every analysis of one contour, as (name, failure dict) pairs."""
    yield "analyze_inviscid", _velaro.analyze_inviscid(coords, 4.0)
    yield "analyze_faithful", _velaro.analyze_faithful(coords, 4.0, **VISCOUS)
    yield "get_bl_distribution", _velaro.get_bl_distribution(coords, 4.0, **VISCOUS)
    yield "analyze_inviscid_batch", _velaro.analyze_inviscid_batch(coords, [4.0])[0]
    yield "analyze_faithful_batch", _velaro.analyze_faithful_batch(coords, [4.0], **VISCOUS)[0]


NACA2412 = points_of(naca_coords(2412))
FIGURE_OF_EIGHT = [(1.0, 0.0), (0.5, 0.05), (0.0, -0.05), (-0.5, 0.0), (0.0, 0.05), (0.5, -0.05), (1.0, 0.0001)]

BAD_CONTOURS = {
    # The same section in reverse order: lift of the wrong sign and absurd size.
    "clockwise": (NACA2412[::-1], "Geometry error: Contour runs clockwise"),
    # Started at the leading edge (the list rotated by half).
    "leading-edge start": (NACA2412[122:] + NACA2412[:122], "Geometry error: Contour must start and end at the trailing edge"),
    # Started half-way along the upper surface.
    "upper-surface start": (NACA2412[60:] + NACA2412[:60], "Geometry error: Contour must start and end at the trailing edge"),
    "figure of eight": (FIGURE_OF_EIGHT, "Geometry error: Contour intersects itself"),
}


@pytest.mark.asan
@pytest.mark.parametrize("case", sorted(BAD_CONTOURS))
def test_bad_contours_are_refused_by_every_analysis(case):
    points, prefix = BAD_CONTOURS[case]
    for name, r in all_analyses(flat(points)):
        assert r["success"] is False, name
        assert r["error"].startswith(prefix), (name, r["error"])


def test_refusal_dictionaries_keep_their_schemas():
    coords = flat(NACA2412[::-1])
    assert list(_velaro.analyze_inviscid(coords, 1.0)) == ["success", "error"]
    assert list(_velaro.analyze_inviscid_batch(coords, [1.0, 2.0])[1]) == ["success", "error"]
    batch = _velaro.analyze_faithful_batch(coords, [1.0, 2.0])
    assert [r["alpha_deg"] for r in batch] == [1.0, 2.0] and len(batch[0]) == 14


def valid_sections():
    for d in (12, 2412, 4412, 6409, 24, 4424):
        for n in (20, 60, 123):
            yield f"naca{d}/{n}", naca_coords(d, n)
    # The files in the contour layout that parse_dat_file reads (the
    # two-surface layout is the package's to convert).
    for path in (DATA / name for name in ("mh32.dat", "e61.dat", "sd7062.dat")):
        yield path.name, flat(_velaro.parse_dat_file(str(path)))
    for d in (12, 2412, 6409):
        base = naca_coords(d)
        rep = flat(_velaro.repanel_kelvo(base, 160))
        yield f"repaneled{d}", rep
        for hinge in (0.6, 0.75, 0.85):
            for angle in (-30, -10, 5, 20, 30):
                yield f"flap{d}@{hinge},{angle}", flat(_velaro.deflect_flap(rep, hinge, angle))
                yield f"flap{d}raw@{hinge},{angle}", flat(_velaro.deflect_flap(base, hinge, angle))
        pts = points_of(base)
        pts[0] = pts[-1] = (1.0, 0.0)
        yield f"closed-sharp{d}", flat(pts)
        pts = points_of(base)
        pts[0], pts[-1] = (1.0, 1e-9), (1.0, -1e-9)
        yield f"tiny-gap{d}", flat(pts)
        # Pitched by 30 degrees about the leading edge.
        import math

        c, s = math.cos(math.radians(30)), math.sin(math.radians(30))
        yield f"pitched{d}", flat([(x * c + y * s, -x * s + y * c) for x, y in points_of(base)])


def test_valid_sections_still_pass():
    failures = []
    for name, coords in valid_sections():
        r = _velaro.analyze_inviscid(coords, 2.0)
        if not r["success"]:
            failures.append((name, r["error"]))
    assert failures == []


def closed_blunt(points):
    return points + [points[0]]


def test_blunt_closing_point_is_the_trailing_edge_gap():
    # A repeated first point closes the blunt trailing edge with a vertical
    # base panel: analysed as the open contour it repeats.
    open_coords = flat(NACA2412)
    closed = flat(closed_blunt(NACA2412))
    inv_open, inv_closed = _velaro.analyze_inviscid(open_coords, 4.0), _velaro.analyze_inviscid(closed, 4.0)
    assert inv_closed == inv_open
    # Thin-airfoil-like lift of NACA 2412 at 4 degrees, not the 0.21-0.25 of
    # the base-panel reading.
    assert 0.70 < inv_closed["cl"] < 0.78
    v_open, v_closed = _velaro.analyze_faithful(open_coords, 4.0), _velaro.analyze_faithful(closed, 4.0)
    assert v_closed == v_open and v_closed["converged"]
    assert _velaro.analyze_inviscid_batch(closed, [4.0]) == _velaro.analyze_inviscid_batch(open_coords, [4.0])


def test_closed_sharp_trailing_edge_keeps_its_single_node():
    # The last panel runs along the lower surface into the repeated point:
    # not a base, so the contour stays closed, one trailing-edge node.
    pts = points_of(naca_coords(2412, 100))
    pts[0] = pts[-1] = (1.0, 0.0)
    r = _velaro.analyze_inviscid(flat(pts), 4.0)
    assert r["success"] and len(r["cp"]) == len(pts) - 1 == len(r["cp_x"])
