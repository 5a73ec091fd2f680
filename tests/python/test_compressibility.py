"""Compressibility: the viscous lift and moment respond to the Mach number.

The surface pressure is corrected by the Karman-Tsien rule before the lift
and moment integrals, so the lift slope of a thin section grows about as the
Prandtl-Glauert factor 1/beta. Karman-Tsien amplifies the suction peaks a
little more than Prandtl-Glauert, and the boundary layer thickens slightly
with Mach, so the band is [0.995, 1.07] x 1/beta for M <= 0.5 (measured:
1.006 at M 0.2, 1.03 at 0.4, 1.05 at 0.5 for NACA 0012 and 2412).
"""

import math

import pytest

import _velaro


def flat(points):
    return [v for p in points for v in p]


@pytest.fixture(scope="module", params=[12, 2412])
def section(request):
    return flat(_velaro.repanel_kelvo(flat(_velaro.generate_naca4(request.param)), 160))


def lift_slope(coords, mach):
    lo, hi = _velaro.analyze_faithful_batch(coords, [1.0, 3.0], reynolds=3e6, mach=mach)
    assert lo["converged"] and hi["converged"]
    return (hi["cl"] - lo["cl"]) / 2.0


def test_lift_slope_grows_about_as_one_over_beta(section):
    base = lift_slope(section, 0.0)
    previous = 1.0
    for mach in (0.2, 0.4, 0.5):
        ratio = lift_slope(section, mach) / base
        beta = math.sqrt(1.0 - mach * mach)
        assert 0.995 / beta <= ratio <= 1.07 / beta, (mach, ratio, 1.0 / beta)
        assert ratio > previous
        previous = ratio


def test_moment_grows_with_mach_on_a_cambered_section():
    coords = flat(_velaro.repanel_kelvo(flat(_velaro.generate_naca4(2412)), 160))
    cms = [_velaro.analyze_faithful(coords, 2.0, reynolds=3e6, mach=m)["cm"] for m in (0.0, 0.3, 0.5)]
    assert cms[0] < 0.0
    assert cms[2] < cms[1] < cms[0]
