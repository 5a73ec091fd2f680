"""NACA 4-series generator and .dat reader."""

import math

import pytest

import _velaro


def test_naca0012_documented_points():
    pts = _velaro.generate_naca4(12)
    assert len(pts) == 245
    assert all(type(p) is tuple and len(p) == 2 for p in pts)
    assert pts[0][0] == 1.0 and math.isclose(pts[0][1], 0.00126, abs_tol=1e-15)
    assert pts[-1][0] == 1.0 and math.isclose(pts[-1][1], -0.00126, abs_tol=1e-15)
    assert pts[122] == (0.0, 0.0)
    # Maximum thickness of a NACA 0012 is 12% of the chord, near x = 0.3.
    upper = pts[:123]
    xmax, ymax = max(upper, key=lambda p: p[1])
    assert math.isclose(2 * ymax, 0.12, rel_tol=2e-3)
    assert 0.27 < xmax < 0.33


def test_naca_reproducible_and_cambered():
    assert _velaro.generate_naca4(2412) == _velaro.generate_naca4(2412)
    pts = _velaro.generate_naca4(2412, 2)
    assert len(pts) == 3 and pts[1] == (0.0, 0.0)
    assert math.isclose(pts[0][1], 0.00126, abs_tol=1e-15)
    assert _velaro.generate_naca4(2412, 1) == [(1.0, pts[0][1])]
    # p = 0 leaves the section symmetric whatever the camber digit says.
    sym = _velaro.generate_naca4(2012, 20)
    assert all(a[1] == -b[1] for a, b in zip(sym[:19], reversed(sym[20:])))
    # Digits are not range-checked.
    assert len(_velaro.generate_naca4(12345, 10)) == 19


def test_naca_zero_points_per_side_is_refused():
    with pytest.raises(ValueError, match="n_points_per_side"):
        _velaro.generate_naca4(12, 0)


def test_dat_line_rules(tmp_path):
    f = tmp_path / "foil.dat"
    f.write_bytes(
        "NACA 0012 from somewhere\n61. 61.\n1.0 0.0 extra\n1.0\n1.0d0 0.0\n  0.5\t-0.02\r\n\n"
        "inf nan\n+.5 -3.E+1\n0.75 0.01".encode()
    )
    pts = _velaro.parse_dat_file(str(f))
    assert pts[:3] == [(61.0, 61.0), (1.0, 0.0), (0.5, -0.02)]
    assert math.isinf(pts[3][0]) and math.isnan(pts[3][1])
    assert pts[4:] == [(0.5, -30.0), (0.75, 0.01)]


def test_dat_round_trip_of_a_generated_section(tmp_path):
    pts = _velaro.generate_naca4(4412)
    f = tmp_path / "naca4412.dat"
    f.write_text("NACA 4412\n" + "".join(f"{x!r} {y!r}\n" for x, y in pts))
    assert _velaro.parse_dat_file(str(f)) == pts


def test_large_file_parses(tmp_path):
    f = tmp_path / "big.dat"
    n = 200_000
    f.write_text("title\n" + "".join(f"{i * 1e-6:.9f} {-i * 1e-7:.9f}\n" for i in range(n)))
    pts = _velaro.parse_dat_file(str(f))
    assert len(pts) == n and pts[-1] == (pytest.approx((n - 1) * 1e-6), pytest.approx(-(n - 1) * 1e-7))


def test_dat_file_errors(tmp_path):
    with pytest.raises(OSError) as e:
        _velaro.parse_dat_file(str(tmp_path / "missing.dat"))
    assert str(e.value) == "No such file or directory (os error 2)"
    with pytest.raises(OSError) as e:
        _velaro.parse_dat_file(str(tmp_path))
    assert str(e.value) == "Is a directory (os error 21)"
    bad = tmp_path / "bad.dat"
    bad.write_bytes(b"1.0 0.0\n\xff\xfe 1 2\n")
    with pytest.raises(OSError, match=r"\(os error \d+\)$"):
        _velaro.parse_dat_file(str(bad))
    with pytest.raises(OSError, match=r"\(os error 22\)$"):
        _velaro.parse_dat_file("a\0b")
    empty = tmp_path / "empty.dat"
    empty.write_text("only a title\n")
    assert _velaro.parse_dat_file(str(empty)) == []
