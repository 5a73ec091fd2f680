import os
import pathlib
import sys

import pytest

import _velaro

ROOT = pathlib.Path(__file__).resolve().parents[2]


def _use_the_source_package():
    """Test this tree's velaro package when _velaro comes from a build tree.

    CMake puts the package's engine module in <build>/velaro/ beside
    <build>/_velaro*.so; with PYTHONPATH=<build> the package itself comes
    from python/ of the source tree (ahead of any installed velaro), also in
    the subprocesses the tests start. An installed layout (velaro/ with its
    __init__.py beside _velaro) is left alone.
    """
    beside = pathlib.Path(_velaro.__file__).resolve().parent / "velaro"
    if (beside / "__init__.py").exists() or not any(beside.glob("_engine*")):
        return
    source = str(ROOT / "python")
    sys.path.insert(0, source)
    rest = [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    os.environ["PYTHONPATH"] = os.pathsep.join([source] + rest)


_use_the_source_package()


def flat(points):
    """Flat [x0, y0, x1, y1, ...] list of a list of (x, y) points."""
    return [v for p in points for v in p]


def naca_coords(designation=12, n=None):
    """Flat [x0, y0, x1, y1, ...] list of a NACA 4-series section."""
    return flat(_velaro.generate_naca4(designation, n))


@pytest.fixture
def naca0012():
    return naca_coords(12)


def pytest_configure(config):
    config.addinivalue_line("markers", "asan: also run against the module built with AddressSanitizer")
