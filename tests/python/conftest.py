import pytest

import _velaro


def naca_coords(designation=12, n=None):
    """Flat [x0, y0, x1, y1, ...] list of a NACA 4-series section."""
    pts = _velaro.generate_naca4(designation, n)
    return [v for p in pts for v in p]


@pytest.fixture
def naca0012():
    return naca_coords(12)


def pytest_configure(config):
    config.addinivalue_line("markers", "asan: also run against the module built with AddressSanitizer")
