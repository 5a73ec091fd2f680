"""parse_dat_file on things that are not airfoil files, and on the text
variants real files come in."""

import errno
import os
import subprocess
import sys
import textwrap
import time

import pytest

import _velaro

MODULE_DIR = os.path.dirname(_velaro.__file__)


def parse_in_child(path, timeout=10):
    """Runs parse_dat_file(path) in a child process, so that a call that
    never returns fails the test instead of hanging it; returns the child's
    last output line: the exception type and errno, or the point count."""
    code = textwrap.dedent(
        f"""
        import sys
        sys.path.insert(0, {MODULE_DIR!r})
        import _velaro
        try:
            print(len(_velaro.parse_dat_file({str(path)!r})))
        except OSError as e:
            print(type(e).__name__, e.errno, str(e))
        """
    )
    start = time.perf_counter()
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout)
    return out.stdout.strip(), time.perf_counter() - start


@pytest.mark.asan
def test_fifo_is_refused_without_waiting_for_a_writer(tmp_path):
    fifo = tmp_path / "pipe.dat"
    os.mkfifo(fifo)
    line, elapsed = parse_in_child(fifo)
    assert line.startswith("OSError None Not a regular file:") and "a FIFO" in line
    assert elapsed < 5


@pytest.mark.parametrize("device", ["/dev/zero", "/dev/urandom"])
def test_endless_devices_are_refused_before_reading(device):
    line, elapsed = parse_in_child(device)
    assert line.startswith("OSError None Not a regular file:") and "character device" in line
    assert elapsed < 5


@pytest.mark.asan
def test_huge_sparse_file_is_refused_before_reading(tmp_path):
    big = tmp_path / "huge.dat"
    with open(big, "wb") as f:
        f.truncate(2 << 30)
    start = time.perf_counter()
    with pytest.raises(OSError) as e:
        _velaro.parse_dat_file(str(big))
    assert time.perf_counter() - start < 1.0
    assert e.value.errno == errno.EFBIG
    assert str(e.value).startswith("File too large (os error 27): 2147483648 bytes")
    # Just below the limit is still read (and holds no points).
    with open(big, "wb") as f:
        f.truncate((16 << 20) - 1)
    assert _velaro.parse_dat_file(str(big)) == []


@pytest.mark.asan
def test_byte_order_mark_and_line_ends(tmp_path):
    rows = ["1.0 0.001", "0.5 0.05", "0.0 0.0", "0.5 -0.05", "1.0 -0.001"]
    expected = [tuple(map(float, r.split())) for r in rows]
    for name, data in {
        "bom-lf": "\ufeff" + "\n".join(rows) + "\n",
        "bom-title": "\ufeffNACA test\r\n" + "\r\n".join(rows),
        "cr": "title\r" + "\r".join(rows) + "\r",
        "crlf": "title\r\n" + "\r\n".join(rows) + "\r\n",
        "mixed": "title\r" + rows[0] + "\n" + rows[1] + "\r\n" + "\r".join(rows[2:]),
    }.items():
        f = tmp_path / f"{name}.dat"
        f.write_bytes(data.encode("utf-8"))
        assert _velaro.parse_dat_file(str(f)) == expected, name


def test_errors_are_the_os_error_subclasses_of_open(tmp_path):
    with pytest.raises(FileNotFoundError) as e:
        _velaro.parse_dat_file(str(tmp_path / "missing.dat"))
    assert e.value.errno == errno.ENOENT == 2
    assert str(e.value) == "No such file or directory (os error 2)"
    with pytest.raises(IsADirectoryError) as e:
        _velaro.parse_dat_file(str(tmp_path))
    assert e.value.errno == errno.EISDIR
    assert str(e.value) == "Is a directory (os error 21)"


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")
def test_unreadable_file_raises_permission_error(tmp_path):
    f = tmp_path / "secret.dat"
    f.write_text("1 0\n")
    f.chmod(0)
    with pytest.raises(PermissionError) as e:
        _velaro.parse_dat_file(str(f))
    assert e.value.errno == errno.EACCES
