import pytest

import _velaro


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
