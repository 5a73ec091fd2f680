"""The velaro package's Airfoil: construction, contour order, geometry."""

import pathlib
import warnings

import numpy as np
import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import _velaro
import velaro
from velaro._contour import find_self_intersection, order_contour

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"


def naca_points(designation=2412, per_side=None):
    return np.array(_velaro.generate_naca4(designation, per_side))


def quiet(fn, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        return fn(*args, **kwargs)


class TestContourOrder:
    """Each disordered variant must come back as the well-ordered contour."""

    @pytest.fixture(scope="class")
    def blunt(self):
        return naca_points(2412)

    @pytest.fixture(scope="class")
    def sharp(self):
        return np.array(quiet(velaro.Airfoil.from_dat, DATA / "mh32.dat").coordinates)

    def variants(self, pts, closed_sharp):
        ring = pts[:-1] if closed_sharp else pts
        le = int(np.argmin(ring[:, 0]))
        start_le = np.roll(ring, -le, axis=0)
        out = {
            "clockwise": pts[::-1],
            "starts at the leading edge": start_le,
            "starts at the leading edge, clockwise": start_le[::-1],
            "closed, starting at the leading edge": np.vstack([start_le, start_le[:1]]),
        }
        if not closed_sharp:
            out["repeated closing point across the base"] = np.vstack([pts, pts[:1]])
            out["repeated closing point, clockwise"] = np.vstack([pts, pts[:1]])[::-1]
        return out

    def test_blunt_variants(self, blunt):
        for label, pts in self.variants(blunt, closed_sharp=False).items():
            with pytest.warns(velaro.ContourOrderWarning):
                af = velaro.Airfoil(pts)
            np.testing.assert_array_equal(af.coordinates, blunt, err_msg=label)

    def test_sharp_variants(self, sharp):
        for label, pts in self.variants(sharp, closed_sharp=True).items():
            with pytest.warns(velaro.ContourOrderWarning):
                af = velaro.Airfoil(pts)
            np.testing.assert_array_equal(af.coordinates, sharp, err_msg=label)
            # The sharp trailing edge keeps its closing point.
            np.testing.assert_array_equal(af.coordinates[0], af.coordinates[-1])

    def test_well_ordered_contours_are_left_alone(self, blunt, sharp):
        for pts in (blunt, sharp):
            np.testing.assert_array_equal(quiet(velaro.Airfoil, pts).coordinates, pts)
        # A 1e-5 chord gap at a sharp edge is not a reason to reorder.
        gap = quiet(velaro.Airfoil.from_dat, DATA / "sd7062.dat")
        assert gap.coordinates[-1, 0] == pytest.approx(1.00001)

    @settings(max_examples=40, deadline=None)
    @given(shift=st.integers(0, 10_000), flip=st.booleans(), which=st.sampled_from(["blunt", "sharp"]))
    def test_any_start_and_direction(self, blunt, sharp, shift, flip, which):
        pts = blunt if which == "blunt" else sharp
        ring = pts if which == "blunt" else pts[:-1]
        variant = np.roll(ring, -(shift % len(ring)), axis=0)
        if which == "sharp":  # a closed contour that starts anywhere
            variant = np.vstack([variant, variant[:1]])
        if flip:
            variant = variant[::-1]
        np.testing.assert_array_equal(order_contour(variant).points, pts)

    def test_reordered_contours_analyse_like_the_original(self, blunt):
        reference = quiet(velaro.Airfoil, blunt)
        inv = reference.analyze_inviscid(4.0)
        visc = reference.analyze(4.0, re=1e6)
        assert visc.converged
        for label, pts in self.variants(blunt, closed_sharp=False).items():
            with pytest.warns(velaro.ContourOrderWarning):
                af = velaro.Airfoil(pts)
            assert af.analyze_inviscid(4.0).cl == inv.cl, label
            if label in ("clockwise", "starts at the leading edge", "repeated closing point across the base"):
                p = af.analyze(4.0, re=1e6)
                assert (p.cl, p.cd, p.cm) == (visc.cl, visc.cd, visc.cm), label
        # The well-ordered result itself is the familiar one, not the value a
        # clockwise or leading-edge start would give.
        assert inv.cl == pytest.approx(0.74, abs=0.01)


class TestBadInput:
    @pytest.mark.parametrize(
        "coords",
        [
            [],
            [[0.0, 0.0], [1.0, 0.0]],
            np.zeros((5, 3)),
            np.zeros(10),
            [[1.0, 0.0], [0.0, np.nan], [1.0, -0.1]],
            [[1.0, 0.0], [0.0, np.inf], [1.0, -0.1]],
            [[0.5, 0.5]] * 4,
            [[1.0, 0.0], [0.5, 0.0], [0.0, 0.0]],
            "1 0 0 0 1 -0.1",
            [["a", "b"], ["c", "d"], ["e", "f"]],
        ],
        ids=["empty", "two points", "three columns", "flat", "nan", "inf", "one point", "collinear", "string", "words"],
    )
    def test_refused_with_value_error(self, coords):
        with pytest.raises(ValueError):
            velaro.Airfoil(coords)

    @pytest.mark.filterwarnings("ignore::velaro.ContourOrderWarning")
    def test_self_intersecting_contour(self):
        # A lopsided figure of eight (non-zero area, so only the crossing test catches it).
        t = np.linspace(0.0, 2.0 * np.pi, 120, endpoint=False)
        pts = np.column_stack([0.5 + 0.5 * np.cos(t), 0.1 * np.sin(2 * t) + 0.05 * np.sin(t)])
        assert find_self_intersection(pts) is not None
        with pytest.raises(ValueError, match="crosses itself"):
            velaro.Airfoil(pts)

    @pytest.mark.parametrize("designation", ["241", "24120", "abcd", "NACA", "0000", "2012", "", 12345])
    def test_bad_naca_designations(self, designation):
        with pytest.raises(ValueError):
            velaro.Airfoil.naca(designation)

    def test_repanel_and_flap_arguments(self):
        af = velaro.Airfoil.naca("0012")
        for n in (0, 1, 2, 2.5, True, 10**6):
            with pytest.raises(ValueError):
                af.repanel(n)
        for args in ((0.0, 10.0), (1.0, 10.0), (0.7, np.nan), (0.7, 95.0), (0.7, 10.0, 1.5)):
            with pytest.raises(ValueError):
                af.with_flap(*args)

    def test_collapsed_flap_is_an_error_not_a_contour(self):
        # A dense NACA 0012 (1999 points) with a 20 degree flap at 0.7 chord
        # comes back from the flap routine with a handful of points.
        dense = velaro.Airfoil.naca("0012", points_per_side=1000)
        out = _velaro.deflect_flap(dense.coordinates.ravel().tolist(), 0.7, 20.0)
        if len(out) >= len(dense) // 2:
            pytest.skip("the flap routine no longer collapses this contour")
        with pytest.raises(ValueError, match="flap deflection failed"):
            dense.with_flap(0.7, 20.0)


class TestAirfoil:
    def test_naca_spellings(self):
        ref = velaro.Airfoil.naca("2412")
        for spelling in ("naca2412", "NACA 2412", "NACA-2412", 2412):
            assert velaro.Airfoil.naca(spelling) == ref
        assert ref.name == "NACA 2412"
        assert velaro.Airfoil.naca(12) == velaro.Airfoil.naca("0012")
        np.testing.assert_array_equal(ref.coordinates, naca_points(2412))

    def test_immutable(self):
        af = velaro.Airfoil.naca("0012")
        with pytest.raises(ValueError):
            af.coordinates[0, 0] = 2.0
        with pytest.raises(AttributeError):
            af.name = "other"
        assert af.coordinates.dtype == np.float64 and af.coordinates.shape == (245, 2)

    def test_caller_array_is_copied(self):
        pts = naca_points(12)
        af = velaro.Airfoil(pts, name="mine")
        pts[:] = 0.0
        assert af.coordinates[0, 0] == 1.0 and af.name == "mine"

    @pytest.mark.parametrize(
        "designation, t, xt, camber, xc",
        [("0012", 0.12, 0.30, 0.0, None), ("2412", 0.12, 0.30, 0.02, 0.4), ("4415", 0.15, 0.30, 0.04, 0.4),
         ("6409", 0.09, 0.30, 0.06, 0.4)],
    )
    def test_thickness_and_camber_of_naca_sections(self, designation, t, xt, camber, xc):
        # The 4-digit formulas put the largest thickness at x = 0.2998 and
        # the largest camber at x = p; thickness is laid off normal to the
        # camber line, so measured normal to the chord it is 0.12003 for
        # NACA xx12.
        af = velaro.Airfoil.naca(designation)
        assert af.max_thickness == pytest.approx(t, abs=2e-4)
        assert af.max_thickness_x == pytest.approx(xt, abs=0.01)
        assert af.max_camber == pytest.approx(camber, abs=2e-4)
        if xc is not None:
            assert af.max_camber_x == pytest.approx(xc, abs=0.01)
        # Open trailing edge: 2 * 0.0021 * t / 0.2 ... = 0.021 * t.
        assert af.trailing_edge_gap == pytest.approx(0.021 * t, rel=1e-6)

    @pytest.mark.parametrize("designation, camber", [("2412", 0.02), ("4415", 0.04), ("6409", 0.06)])
    def test_coarse_contours_measure_like_fine_ones(self, designation, camber):
        # Leading edge and surfaces come from a spline through the points,
        # whose error at a node spacing h near 0.03 c (80 nodes) is of order
        # h^4 times the fourth derivative of the surface: about 1e-6 c.  Hence
        # 1e-5 c on camber (against the designation's) and on thickness
        # (against the same section with 9999 points), 0.01 on positions,
        # where the curves are flat.  Picking the leading edge among the
        # nodes instead tilted the chord: NACA 2412 at 120 nodes measured a
        # camber of 0.01935.
        fine = velaro.Airfoil.naca(designation, 5000)
        assert fine.max_camber == pytest.approx(camber, abs=1e-7)
        for n in (80, 120, 160, 200):
            af = velaro.Airfoil.naca(designation).repanel(n)
            assert af.max_camber == pytest.approx(camber, abs=1e-5), n
            assert af.max_camber_x == pytest.approx(0.4, abs=0.01), n
            assert af.max_thickness == pytest.approx(fine.max_thickness, abs=1e-5), n
            assert af.max_thickness_x == pytest.approx(fine.max_thickness_x, abs=0.01), n

    def test_sharp_edge_has_no_gap(self):
        assert quiet(velaro.Airfoil.from_dat, DATA / "mh32.dat").trailing_edge_gap == 0.0

    def test_repanel(self):
        af = velaro.Airfoil.naca("2412")
        assert not af.paneled
        p = af.repanel(100)
        assert p.paneled and len(p) == 100 and p.name == af.name
        np.testing.assert_array_equal(p.coordinates, np.array(_velaro.repanel_kelvo(af.coordinates.ravel().tolist(), 100)))
        assert p.max_thickness == pytest.approx(af.max_thickness, abs=5e-4)

    def test_flap(self):
        base = velaro.Airfoil.naca("0012").repanel(160)
        flapped = base.with_flap(0.7, 10.0)
        assert flapped.paneled
        # Trailing edge down, leading part untouched.
        assert flapped.coordinates[0, 1] < base.coordinates[0, 1] - 0.03
        front = base.coordinates[np.abs(base.coordinates[:, 0]) < 0.5]
        assert all(np.any(np.all(flapped.coordinates == p, axis=1)) for p in front)
        # A flap down raises the lift at a given angle.
        assert flapped.analyze_inviscid(0.0).cl > base.analyze_inviscid(0.0).cl + 0.3


@settings(max_examples=200, deadline=None)
@given(
    st.lists(
        st.tuples(st.floats(allow_nan=True, allow_infinity=True, width=32), st.floats(allow_nan=True, width=32)),
        max_size=12,
    )
)
# What looks like a blunt base, dropped, leaves three points on a line.
@example([(0.0, 0.0), (6.096246515171328e16, 0.0), (0.0, 1828875.0), (0.0, 2.3610663586758656e17)])
def test_arbitrary_points_give_an_airfoil_or_a_clear_error(points):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", velaro.ContourOrderWarning)
        try:
            af = velaro.Airfoil(np.array(points, dtype=np.float64).reshape(-1, 2))
        except ValueError:
            return
    pts = af.coordinates
    assert np.isfinite(pts).all() and len(pts) >= 3
    # What is accepted is in the expected order: counter-clockwise.
    ring = pts[:-1] if np.array_equal(pts[0], pts[-1]) else pts
    area = 0.5 * np.sum(ring[:, 0] * np.roll(ring[:, 1], -1) - np.roll(ring[:, 0], -1) * ring[:, 1])
    assert area > 0
