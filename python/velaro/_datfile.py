"""Reading and writing airfoil coordinate files (``.dat``).

Two text layouts are in common use and both are read here:

* the *contour* layout: an optional title line, then one ``x y`` pair per
  line, running round the section from the trailing edge over the upper
  surface to the leading edge and back over the lower surface;
* the *two-surface* layout: a title line, a line with the number of upper
  and lower points (often written as ``61. 61.``), then the upper surface and
  the lower surface, each from the leading edge to the trailing edge, usually
  separated by blank lines.

The reader converts the second layout to the first, with the leading-edge
point that both surfaces share written once.  It refuses anything that is
not a regular file and any file larger than :data:`MAX_FILE_BYTES` before
reading it, so a FIFO, a device or a huge sparse file cannot hang or exhaust
the process.
"""

from __future__ import annotations

import errno
import os
import re
import stat
from dataclasses import dataclass
from pathlib import Path
from typing import Union

import numpy as np

PathLike = Union[str, "os.PathLike[str]"]

#: Largest coordinate file the reader accepts, in bytes (4 MiB).  Real airfoil
#: files hold at most a few thousand points, well under 100 kB.
MAX_FILE_BYTES = 4 * 1024 * 1024

# A decimal number: optional sign, digits with an optional fraction (or a
# fraction alone), optional exponent.  Fortran-style "D" exponents occur in
# old files and are read as "E".
_NUMBER = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eEdD][+-]?\d+)?\Z")
# Separators between the two numbers of a line: white space, optionally one
# comma (some files are written as "x, y").
_SEPARATOR = re.compile(r"\s*,\s*|\s+")

# Two leading-edge points closer than this (in chords) are one point.
_SAME_POINT = 1e-9


@dataclass(frozen=True)
class DatContents:
    """What a coordinate file holds, in contour order.

    Attributes
    ----------
    name : str
        The title line, or the file name without its suffix when the file has
        no title.
    coordinates : numpy.ndarray
        ``(N, 2)`` float64 array, trailing edge over the upper surface to the
        leading edge and back along the lower surface.
    layout : str
        ``"contour"`` or ``"two-surface"``: the layout the file was written in.
    """

    name: str
    coordinates: np.ndarray
    layout: str


def _parse_number(token: str) -> float | None:
    if not _NUMBER.match(token):
        return None
    return float(token.replace("d", "e").replace("D", "e"))


def _parse_pair(line: str) -> tuple[float, float] | None:
    """The two numbers of a data line, or None when the line is not one."""
    tokens = [t for t in _SEPARATOR.split(line.strip()) if t]
    if len(tokens) != 2:
        return None
    x = _parse_number(tokens[0])
    y = _parse_number(tokens[1])
    if x is None or y is None:
        return None
    return x, y


def _read_bytes(path: PathLike) -> bytes:
    """Read a regular file of bounded size without blocking on special files.

    The file is opened non-blocking (opening a FIFO for reading would wait
    for a writer), then checked through its open descriptor, so the checks
    and the read concern the same file.
    """
    fspath = os.fspath(path)
    flags = os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0)
    fd = os.open(fspath, flags)  # FileNotFoundError, PermissionError as open() raises them
    try:
        info = os.fstat(fd)
        if stat.S_ISDIR(info.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), fspath)
        if not stat.S_ISREG(info.st_mode):
            raise OSError(errno.EINVAL, "not a regular file (a FIFO, socket or device is refused)", fspath)
        if info.st_size > MAX_FILE_BYTES:
            raise OSError(
                errno.EFBIG,
                f"file is {info.st_size} bytes; coordinate files over {MAX_FILE_BYTES} bytes are refused",
                fspath,
            )
        chunks = []
        remaining = MAX_FILE_BYTES + 1
        while remaining > 0:
            chunk = os.read(fd, min(remaining, 1 << 20))
            if not chunk:
                break
            chunks.append(chunk)
            remaining -= len(chunk)
        data = b"".join(chunks)
        if len(data) > MAX_FILE_BYTES:  # the file grew after fstat
            raise OSError(errno.EFBIG, f"file is over {MAX_FILE_BYTES} bytes; refused", fspath)
        return data
    finally:
        os.close(fd)


def _decode(data: bytes, where: str) -> str:
    if b"\x00" in data:
        line = data[: data.index(b"\x00")].count(b"\n") + 1
        raise ValueError(f"{where}, line {line}: NUL byte; this is a binary file, not a coordinate file")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as exc:
        line = data[: exc.start].count(b"\n") + 1
        raise ValueError(f"{where}, line {line}: not UTF-8 text ({exc.reason} at byte {exc.start})") from None
    if text.startswith("\ufeff"):
        text = text[1:]
    return text


def parse_dat_text(text: str, where: str = "<text>", default_name: str = "airfoil") -> DatContents:
    """Parse the text of a coordinate file in either layout.

    Parameters
    ----------
    text : str
        File contents.  Line ends may be LF, CRLF or CR.
    where : str
        Name of the source used in error messages (usually the path).
    default_name : str
        Name to use when the file has no title line.

    Returns
    -------
    DatContents

    Raises
    ------
    ValueError
        For a malformed file; the message names the offending line (1-based).
    """
    lines = text.splitlines()
    # (line number, (x, y)) for every data line after the title.
    name = default_name
    rows: list[tuple[int, tuple[float, float]]] = []
    seen_title = False
    for number, raw in enumerate(lines, start=1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        pair = _parse_pair(line)
        if pair is None:
            if not seen_title and not rows:
                name = line
                seen_title = True
                continue
            raise ValueError(f"{where}, line {number}: expected two numbers 'x y', found {line[:60]!r}")
        if not (np.isfinite(pair[0]) and np.isfinite(pair[1])):
            raise ValueError(f"{where}, line {number}: coordinates must be finite, found {line[:60]!r}")
        rows.append((number, pair))
        seen_title = True  # a title can only come first

    if not rows:
        raise ValueError(f"{where}: no coordinate lines found")

    first_line, (a, b) = rows[0]
    is_count = lambda v: v >= 2 and float(v).is_integer()  # noqa: E731
    body = rows[1:]
    two_surface = False
    if is_count(a) and is_count(b):
        n_upper, n_lower = int(a), int(b)
        if n_upper + n_lower == len(body):
            two_surface = True
        else:
            extent = max((max(abs(x), abs(y)) for _, (x, y) in body), default=0.0)
            if max(a, b) > 2.0 * extent:
                # Far outside the contour: a point-count line that does not
                # match the file, not a coordinate.
                raise ValueError(
                    f"{where}, line {first_line}: gives {n_upper} upper and {n_lower} lower points, "
                    f"but {len(body)} coordinate lines follow"
                )
    if two_surface:
        upper = np.array([p for _, p in body[:n_upper]], dtype=np.float64)
        lower = np.array([p for _, p in body[n_upper:]], dtype=np.float64)
        # Both surfaces start at the leading edge; the contour runs the upper
        # one backwards, then the lower one, with a shared first point once.
        if np.max(np.abs(upper[0] - lower[0])) <= _SAME_POINT:
            lower = lower[1:]
        coordinates = np.concatenate([upper[::-1], lower])
        layout = "two-surface"
    else:
        coordinates = np.array([p for _, p in rows], dtype=np.float64)
        layout = "contour"

    if len(coordinates) < 3:
        raise ValueError(f"{where}: {len(coordinates)} coordinate points; an airfoil needs at least 3")
    return DatContents(name=name, coordinates=coordinates, layout=layout)


def read_dat(path: PathLike) -> DatContents:
    """Read a coordinate file in either layout.

    Parameters
    ----------
    path : str or os.PathLike
        File to read.

    Returns
    -------
    DatContents

    Raises
    ------
    FileNotFoundError, PermissionError, IsADirectoryError
        As :func:`open` raises them.
    OSError
        For a file that is not a regular file, or is larger than
        :data:`MAX_FILE_BYTES`.
    ValueError
        For a binary, non-UTF-8 or malformed file; the message names the line.
    """
    fspath = os.fspath(path)
    data = _read_bytes(fspath)
    text = _decode(data, fspath)
    return parse_dat_text(text, where=fspath, default_name=Path(fspath).stem or "airfoil")


def format_dat(name: str, coordinates: np.ndarray, digits: int = 10) -> str:
    """Text of a contour-layout file: the title line, then one ``x y`` line per point."""
    title = " ".join(name.split()) or "airfoil"
    lines = [title]
    lines.extend(f"{x: .{digits}f} {y: .{digits}f}" for x, y in coordinates)
    return "\n".join(lines) + "\n"


def write_dat(path: PathLike, name: str, coordinates: np.ndarray, digits: int = 10) -> None:
    """Write a contour-layout coordinate file (see :func:`format_dat`)."""
    with open(path, "w", encoding="utf-8", newline="\n") as fh:
        fh.write(format_dat(name, coordinates, digits))
