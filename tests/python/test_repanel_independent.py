"""The curvature-based repaneling against an independent implementation.

scripts/trailing_edge_diagnostic.py carries a second implementation of the
repaneling, written in numpy from the algorithm's description (the natural
chord-length spline, the zero-third-derivative curvature spline, the leading
edge search, the curvature smoothing and the node-distribution Newton
iteration). Both evaluate the same double-precision arithmetic in a different
order, so the node coordinates agree to rounding: the bound 1e-12 is four
orders above the differences seen (about 2e-16) and far below any change of
the algorithm (a misplaced constant or branch moves nodes by 1e-6 or more).
The public files cover a coarsely resolved leading edge (E61: 65-degree turn
between points 0.003 apart) and a finely resolved one (MH 32).
"""

import importlib.util
import pathlib

import numpy as np
import pytest

import _velaro

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
DATA = ROOT / "tests" / "data"


def _independent():
    spec = importlib.util.spec_from_file_location("trailing_edge_diagnostic",
                                                  ROOT / "scripts" / "trailing_edge_diagnostic.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.independent_repanel


independent_repanel = _independent()


def flat(points):
    return [v for p in points for v in p]


@pytest.mark.parametrize(
    "source, nodes, params",
    [
        ("e61", 160, (1.0, 0.15, 0.667)),
        ("mh32", 160, (1.0, 0.15, 0.667)),
        ("e61", 200, (1.0, 0.15, 0.667)),
        ("naca4412", 90, (1.3, 0.2, 0.8)),
        ("naca4412", 120, (0.7, 0.1, 1.0)),  # no trailing-edge spacing rows
    ],
)
def test_repanel_matches_independent_implementation(source, nodes, params):
    if source.startswith("naca"):
        points = _velaro.generate_naca4(int(source[4:]))
    else:
        points = _velaro.parse_dat_file(str(DATA / f"{source}.dat"))
    ours = np.array(_velaro.repanel_kelvo(flat(points), nodes, *params))
    theirs = np.array(independent_repanel(points, nodes, *params))
    assert ours.shape == (nodes, 2)
    assert np.abs(ours - theirs).max() < 1e-12
