"""The velaro package's coordinate-file reader and writer."""

import errno
import os
import pathlib
import threading
import warnings

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import velaro

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"


def contour_layout_lines(path):
    """Title and (x, y) text pairs of a contour-layout file, as written."""
    lines = [l.strip() for l in path.read_text().splitlines() if l.strip()]
    return lines[0], [tuple(l.split()[:2]) for l in lines[1:]]


def write_two_surface(path, title, pairs):
    """Rewrite contour-layout text pairs in the two-surface layout.

    The leading edge is the pair of smallest x; each surface is written from
    it to the trailing edge, the leading-edge pair in both.
    """
    xs = [float(x) for x, _ in pairs]
    le = int(np.argmin(xs))
    upper = pairs[: le + 1][::-1]
    lower = pairs[le:]
    text = [title, f"{len(upper)}. {len(lower)}.", ""]
    text += [f"{x} {y}" for x, y in upper]
    text += [""]
    text += [f"{x} {y}" for x, y in lower]
    path.write_text("\n".join(text) + "\n")


class TestLayouts:
    @pytest.mark.parametrize("name", ["e61.dat", "mh32.dat", "sd7062.dat"])
    def test_two_surface_layout_gives_the_same_contour(self, tmp_path, name):
        title, pairs = contour_layout_lines(DATA / name)
        other = tmp_path / "two_surface.dat"
        write_two_surface(other, title, pairs)
        a = velaro.Airfoil.from_dat(DATA / name)
        b = velaro.Airfoil.from_dat(other)
        np.testing.assert_array_equal(a.coordinates, b.coordinates)
        assert a.name == b.name == title

    def test_hand_made_two_surface_file_matches_the_formula(self):
        af = velaro.Airfoil.from_dat(DATA / "naca0012_two_surface.dat")
        x = np.array([0, 0.0125, 0.025, 0.05, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0])
        yt = 0.6 * (0.2969 * np.sqrt(x) - 0.126 * x - 0.3516 * x**2 + 0.2843 * x**3 - 0.1015 * x**4)
        expected = np.concatenate([np.column_stack([x, yt])[::-1], np.column_stack([x, -yt])[1:]])
        # 27 points: the shared leading-edge point once, trailing edge first.
        assert af.coordinates.shape == (27, 2)
        np.testing.assert_allclose(af.coordinates, expected, atol=5e-7, rtol=0)
        assert af.name.startswith("NACA 0012")

    @settings(max_examples=25, deadline=None)
    @given(
        thickness=st.integers(4, 30),
        camber=st.integers(0, 6),
        position=st.integers(2, 6),
        per_side=st.integers(5, 60),
    )
    def test_layouts_agree_for_generated_sections(self, tmp_path_factory, thickness, camber, position, per_side):
        af = velaro.Airfoil.naca(f"{camber}{position if camber else 0}{thickness:02d}", points_per_side=per_side)
        d = tmp_path_factory.mktemp("dat")
        af.to_dat(d / "contour.dat")
        title, pairs = contour_layout_lines(d / "contour.dat")
        write_two_surface(d / "two.dat", title, pairs)
        a = velaro.Airfoil.from_dat(d / "contour.dat")
        b = velaro.Airfoil.from_dat(d / "two.dat")
        np.testing.assert_array_equal(a.coordinates, b.coordinates)
        np.testing.assert_allclose(a.coordinates, af.coordinates, atol=1e-10, rtol=0)

    @pytest.mark.parametrize("newline", ["\n", "\r\n", "\r"])
    @pytest.mark.parametrize("bom", [b"", b"\xef\xbb\xbf"])
    def test_line_ends_and_byte_order_mark(self, tmp_path, newline, bom):
        reference = velaro.Airfoil.from_dat(DATA / "e61.dat")
        text = (DATA / "e61.dat").read_text().replace("\r\n", "\n")
        path = tmp_path / "variant.dat"
        path.write_bytes(bom + text.replace("\n", newline).encode())
        af = velaro.Airfoil.from_dat(path)
        np.testing.assert_array_equal(af.coordinates, reference.coordinates)
        assert af.name == reference.name

    def test_file_without_title_is_named_after_the_file(self, tmp_path):
        _, pairs = contour_layout_lines(DATA / "mh32.dat")
        path = tmp_path / "untitled_section.dat"
        path.write_text("\n".join(f"{x} {y}" for x, y in pairs) + "\n")
        af = velaro.Airfoil.from_dat(path)
        assert af.name == "untitled_section"
        assert len(af) == len(pairs)

    def test_to_dat_round_trip(self, tmp_path):
        af = velaro.Airfoil.naca("4412").repanel(120)
        af.to_dat(tmp_path / "out.dat")
        back = velaro.Airfoil.from_dat(tmp_path / "out.dat")
        assert back.name == af.name
        np.testing.assert_allclose(back.coordinates, af.coordinates, atol=1e-10, rtol=0)


class TestBadFiles:
    @pytest.mark.parametrize(
        "content, line",
        [
            ("", None),
            ("just a title\n", None),
            ("title\n1.0 0.0\n0.0 0.0\n", None),  # two points
            ("title\n1.0 0.0\n0.5 oops\n0.0 0.0\n0.5 -0.1\n", 3),
            ("title\n1.0 0.0\n0.5 0.1\nnan 0.0\n0.5 -0.1\n", 4),
            ("title\n1.0 0.0\n0.5 0.1 0.2\n0.0 0.0\n", 3),
            ("title\n61. 61.\n0.0 0.0\n0.5 0.1\n1.0 0.0\n", 2),  # counts do not match
            ("title\n1.0 0.0\n0.5 0.1\n0.0 0.0\nsecond title\n0.5 -0.1\n", 5),
        ],
    )
    def test_malformed_text_names_the_line(self, tmp_path, content, line):
        path = tmp_path / "bad.dat"
        path.write_text(content)
        with pytest.raises(ValueError) as info:
            velaro.Airfoil.from_dat(path)
        if line is not None:
            assert f"line {line}" in str(info.value)

    def test_binary_file(self, tmp_path):
        path = tmp_path / "binary.dat"
        path.write_bytes(bytes(range(256)) * 4)
        with pytest.raises(ValueError, match="binary"):
            velaro.Airfoil.from_dat(path)

    def test_not_utf8(self, tmp_path):
        path = tmp_path / "latin1.dat"
        path.write_bytes("profil \xe9\n1.0 0.0\n0.0 0.0\n1.0 -0.1\n".encode("latin-1"))
        with pytest.raises(ValueError, match="line 1"):
            velaro.Airfoil.from_dat(path)

    def test_missing_file_is_file_not_found(self, tmp_path):
        with pytest.raises(FileNotFoundError) as info:
            velaro.Airfoil.from_dat(tmp_path / "nope.dat")
        assert info.value.errno == errno.ENOENT

    def test_directory(self, tmp_path):
        with pytest.raises(IsADirectoryError):
            velaro.Airfoil.from_dat(tmp_path)

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
    def test_unreadable_file(self, tmp_path):
        path = tmp_path / "secret.dat"
        path.write_text("t\n1 0\n0 0\n1 -0.1\n")
        path.chmod(0)
        with pytest.raises(PermissionError):
            velaro.Airfoil.from_dat(path)

    def test_fifo_is_refused_without_blocking(self, tmp_path):
        fifo = tmp_path / "pipe.dat"
        os.mkfifo(fifo)
        outcome = {}

        def read():
            try:
                velaro.Airfoil.from_dat(fifo)
            except Exception as exc:  # noqa: BLE001 - recorded for the assertion
                outcome["error"] = exc

        worker = threading.Thread(target=read, daemon=True)
        worker.start()
        worker.join(5.0)
        if worker.is_alive():  # unblock the reader before failing
            with open(fifo, "w"):
                pass
            pytest.fail("reading a FIFO blocked")
        assert isinstance(outcome.get("error"), OSError)
        assert "regular file" in str(outcome["error"])

    def test_device_is_refused(self):
        with pytest.raises(OSError, match="regular file"):
            velaro.Airfoil.from_dat("/dev/zero")

    def test_oversized_file_is_refused_before_reading(self, tmp_path):
        path = tmp_path / "huge.dat"
        with open(path, "wb") as fh:
            fh.truncate(velaro.MAX_FILE_BYTES + 1)  # sparse: nothing to read quickly
        with pytest.raises(OSError) as info:
            velaro.Airfoil.from_dat(path)
        assert info.value.errno == errno.EFBIG

    def test_bad_coordinates_in_a_good_file(self, tmp_path):
        # Three collinear points: parse fine, but enclose no area.
        path = tmp_path / "flat.dat"
        path.write_text("flat\n1.0 0.0\n0.5 0.0\n0.0 0.0\n")
        with pytest.raises(ValueError, match="area"):
            velaro.Airfoil.from_dat(path)


def test_reordered_file_warns(tmp_path):
    title, pairs = contour_layout_lines(DATA / "e61.dat")
    path = tmp_path / "reversed.dat"
    path.write_text(title + "\n" + "\n".join(f"{x} {y}" for x, y in pairs[::-1]) + "\n")
    with pytest.warns(velaro.ContourOrderWarning, match="reversed"):
        af = velaro.Airfoil.from_dat(path)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        reference = velaro.Airfoil.from_dat(DATA / "e61.dat")
    np.testing.assert_array_equal(af.coordinates, reference.coordinates)


@settings(max_examples=200, deadline=None)
@given(st.binary(max_size=400) | st.text(alphabet="0123456789.eE+- \t\r\n,#naNifINF-d", max_size=300))
def test_arbitrary_file_contents_give_an_airfoil_or_a_clear_error(tmp_path_factory, content):
    path = tmp_path_factory.mktemp("fuzz") / "f.dat"
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", velaro.ContourOrderWarning)
        try:
            af = velaro.Airfoil.from_dat(path)
        except ValueError:
            return
    assert np.isfinite(af.coordinates).all() and len(af) >= 3
