"""Reading polars from other sources, to compare against.

Two file kinds are read:

* CSV with a header row.  Column names are matched without regard to case
  and with common aliases (``alpha``/``aoa``, ``cl``/``CL``, ``top_xtr``/
  ``x_tr_upper`` ...).  Optional ``section``/``name``, ``re``, ``mach`` and
  ``ncrit`` columns split the rows into several polars, and a ``converged``
  column, when present, drops the rows marked false.  So the CSV that
  ``velaro polar --out`` writes reads back here.
* The plain-text polar that airfoil tools commonly exchange: a free-form
  header block (which may give the section name and the Reynolds number,
  Mach number and ncrit as ``Re = 1.000 e 6`` and the like), a line of column
  names, an optional line of dashes, then whitespace-separated columns alpha,
  CL, CD, CDp, CM, Top_Xtr, Bot_Xtr (further columns are ignored).

Both give :class:`ReferencePolar` objects; every column a file lacks is NaN.
Errors are ``OSError`` for files that cannot be read and ``ValueError``, with
the file name and line number, for contents that make no sense.
"""

from __future__ import annotations

import csv
import io
import math
import os
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Union

import numpy as np

__all__ = ["ReferencePolar", "read_polar_file", "MAX_FILE_BYTES"]

PathLike = Union[str, "os.PathLike[str]"]

#: Largest polar file accepted, in bytes.  A polar of a few hundred points is
#: a few tens of kilobytes.
MAX_FILE_BYTES = 16 * 1024 * 1024

#: Columns of a reference polar, in this order.
COLUMNS = ("alpha", "cl", "cd", "cm", "cd_pressure", "x_tr_upper", "x_tr_lower")

# Names seen in the wild for each column (lower case, with spaces,
# hyphens and dots turned into underscores).
_ALIASES = {
    "alpha": ("alpha", "aoa", "alpha_deg", "a", "angle"),
    "cl": ("cl", "c_l", "lift"),
    "cd": ("cd", "c_d", "drag"),
    "cm": ("cm", "c_m", "cm_c/4", "cm_c4", "cm25", "moment"),
    "cd_pressure": ("cdp", "cd_pressure", "cd_p"),
    "x_tr_upper": ("top_xtr", "x_tr_upper", "xtr_upper", "xtr_top", "xtr_up", "top_xtr/c"),
    "x_tr_lower": ("bot_xtr", "x_tr_lower", "xtr_lower", "xtr_bot", "xtr_lo", "bot_xtr/c"),
}
_GROUP_ALIASES = {
    "section": ("section", "name", "airfoil"),
    "re": ("re", "reynolds", "reynolds_number"),
    "mach": ("mach", "m"),
    "ncrit": ("ncrit", "n_crit"),
}
_CONVERGED = ("converged",)

# The classic text layout: its standard column order.
_CLASSIC_ORDER = ("alpha", "cl", "cd", "cd_pressure", "cm", "x_tr_upper", "x_tr_lower")


@dataclass(frozen=True, eq=False)
class ReferencePolar:
    """A polar read from a file.

    Attributes
    ----------
    label : str
        Section name (or the file name) for a legend.
    alpha : numpy.ndarray
        Angle of attack, degrees.
    cl, cd, cm, cd_pressure : numpy.ndarray
        Coefficients; NaN where the file has no such column.
    x_tr_upper, x_tr_lower : numpy.ndarray
        Transition positions, x/c; NaN where the file has none.
    re, mach, ncrit : float or None
        Conditions, when the file states them.
    source : str
        The file the polar came from.
    """

    label: str
    alpha: np.ndarray
    cl: np.ndarray
    cd: np.ndarray
    cm: np.ndarray
    cd_pressure: np.ndarray
    x_tr_upper: np.ndarray
    x_tr_lower: np.ndarray
    re: Optional[float] = None
    mach: Optional[float] = None
    ncrit: Optional[float] = None
    source: str = ""
    columns: tuple[str, ...] = field(default=())

    def __len__(self) -> int:
        return len(self.alpha)

    def has(self, column: str) -> bool:
        """True when the file gave this column (it is not all NaN)."""
        return bool(np.isfinite(getattr(self, column)).any())


def _normalise(name: str) -> str:
    return re.sub(r"[\s\-.]+", "_", name.strip().lower()).strip("_")


def _lookup(name: str, table: dict[str, tuple[str, ...]]) -> Optional[str]:
    key = _normalise(name)
    for canonical, aliases in table.items():
        if key in aliases:
            return canonical
    return None


def _read_text(path: PathLike) -> tuple[str, str]:
    """The file's text and a name for messages; OSError or ValueError when unusable."""
    where = os.fspath(path)
    p = Path(where)
    if p.is_dir():
        raise IsADirectoryError(21, "is a directory, not a polar file", where)
    with open(p, "rb") as fh:  # FileNotFoundError / PermissionError as open() raises them
        if not p.is_file():
            raise OSError(22, "not a regular file", where)
        data = fh.read(MAX_FILE_BYTES + 1)
    if len(data) > MAX_FILE_BYTES:
        raise ValueError(f"{where}: larger than {MAX_FILE_BYTES} bytes; not a polar file")
    if b"\x00" in data:
        line = data[: data.index(b"\x00")].count(b"\n") + 1
        raise ValueError(f"{where}, line {line}: binary data (NUL byte); not a polar file")
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as exc:
        line = data[: exc.start].count(b"\n") + 1
        raise ValueError(f"{where}, line {line}: not UTF-8 text") from None
    if not text.strip():
        raise ValueError(f"{where}: the file is empty")
    return text, where


def _number(token: str) -> Optional[float]:
    try:
        return float(token)
    except ValueError:
        return None


def _bool(token: str) -> Optional[bool]:
    t = token.strip().lower()
    if t in ("true", "1", "yes", "y", "t"):
        return True
    if t in ("false", "0", "no", "n", "f"):
        return False
    return None


def _make(label: str, rows: dict[str, list[float]], n: int, where: str, **conditions) -> ReferencePolar:
    cols = {c: np.array(rows[c], dtype=np.float64) if c in rows else np.full(n, np.nan) for c in COLUMNS}
    for c, arr in cols.items():
        arr.setflags(write=False)
    return ReferencePolar(label=label, source=where, columns=tuple(c for c in COLUMNS if c in rows),
                          **cols, **conditions)


# ---------------------------------------------------------------------------
# CSV


def _read_csv(text: str, where: str, stem: str) -> list[ReferencePolar]:
    reader = csv.reader(io.StringIO(text))
    header: Optional[list[str]] = None
    header_line = 0
    records: list[tuple[int, list[str]]] = []
    for row in reader:
        line = reader.line_num
        if not row or all(not cell.strip() for cell in row):
            continue
        if header is None:
            if row[0].lstrip().startswith("#"):
                continue
            header, header_line = row, line
            continue
        records.append((line, row))
    if header is None:
        raise ValueError(f"{where}: no header row")

    index: dict[str, int] = {}
    groups: dict[str, int] = {}
    converged_col: Optional[int] = None
    for i, name in enumerate(header):
        c = _lookup(name, _ALIASES)
        if c is not None and c not in index:
            index[c] = i
            continue
        g = _lookup(name, _GROUP_ALIASES)
        if g is not None and g not in groups:
            groups[g] = i
            continue
        if _normalise(name) in _CONVERGED and converged_col is None:
            converged_col = i
    for needed in ("alpha", "cl"):
        if needed not in index:
            raise ValueError(
                f"{where}, line {header_line}: no {needed} column among {', '.join(h.strip() for h in header)}"
            )
    if not records:
        raise ValueError(f"{where}: a header but no data rows")

    order: list[tuple] = []
    data: dict[tuple, dict[str, list[float]]] = {}
    for line, row in records:
        if len(row) != len(header):
            raise ValueError(f"{where}, line {line}: {len(row)} fields where the header has {len(header)}")
        if converged_col is not None:
            ok = _bool(row[converged_col])
            if ok is None:
                raise ValueError(f"{where}, line {line}: converged must be true or false, got {row[converged_col]!r}")
            if not ok:
                continue
        key_parts = []
        for g in ("section", "re", "mach", "ncrit"):
            if g not in groups:
                key_parts.append(None)
                continue
            cell = row[groups[g]].strip()
            if g == "section":
                key_parts.append(cell)
            else:
                v = _number(cell) if cell else math.nan
                if v is None:
                    raise ValueError(f"{where}, line {line}: {header[groups[g]].strip()} is not a number: {cell!r}")
                key_parts.append(v)
        key = tuple(key_parts)
        if key not in data:
            data[key] = {c: [] for c in index}
            order.append(key)
        for c, i in index.items():
            cell = row[i].strip()
            v = math.nan if cell == "" else _number(cell)
            if v is None:
                raise ValueError(f"{where}, line {line}: {header[i].strip()} is not a number: {cell!r}")
            data[key][c].append(v)
    out = []
    for key in order:
        section, re_, mach, ncrit = key
        rows = data[key]
        n = len(rows["alpha"])
        opt = lambda v: None if v is None or not math.isfinite(v) else float(v)  # noqa: E731
        out.append(_make(section or stem, rows, n, where, re=opt(re_), mach=opt(mach), ncrit=opt(ncrit)))
    if not out:
        raise ValueError(f"{where}: no converged rows")
    return out


# ---------------------------------------------------------------------------
# Whitespace columns


def _condition(header: str, name: str) -> Optional[float]:
    """A value such as ``Re = 1.000 e 6`` or ``Ncrit = 9.0`` from the header block."""
    m = re.search(rf"\b{name}\s*=\s*([-+]?\d+(?:\.\d*)?)(?:\s*[eE]\s*([-+]?\d+))?", header)
    if not m:
        return None
    value = float(m.group(1))
    if m.group(2):
        value *= 10.0 ** int(m.group(2))
    return value


def _title(lines: list[str], stem: str) -> str:
    for line in lines:
        m = re.search(r"\bfor\s*:\s*(\S.*?)\s*$", line, flags=re.IGNORECASE)
        if m:
            return m.group(1)
    return stem


def _read_columns(text: str, where: str, stem: str) -> ReferencePolar:
    lines = text.splitlines()
    header_at: Optional[int] = None
    names: list[str] = []
    for i, line in enumerate(lines):
        tokens = line.split()
        keys = [_lookup(t, _ALIASES) for t in tokens]
        if "alpha" in keys and "cl" in keys:
            header_at, names = i, tokens
            break
    if header_at is None:
        raise ValueError(f"{where}: no line of column names with alpha and CL (is this a polar file?)")
    mapped = [_lookup(t, _ALIASES) for t in names]
    columns: dict[str, list[float]] = {}
    width: Optional[int] = None
    for j in range(header_at + 1, len(lines)):
        stripped = lines[j].strip()
        if not stripped or set(stripped) <= set("-= \t"):
            continue
        tokens = stripped.split()
        values = [_number(t) for t in tokens]
        if any(v is None for v in values):
            raise ValueError(f"{where}, line {j + 1}: not a row of numbers: {stripped[:60]!r}")
        if width is None:
            width = len(values)
            if width == len(names):
                # A name that occurs twice counts once, at its first place.
                layout = [c if c not in mapped[:k] else None for k, c in enumerate(mapped)]
            elif width >= len(_CLASSIC_ORDER):
                layout = list(_CLASSIC_ORDER) + [None] * (width - len(_CLASSIC_ORDER))
            else:
                raise ValueError(
                    f"{where}, line {j + 1}: {width} numbers, but the header names {len(names)} columns"
                )
            columns = {c: [] for c in layout if c is not None}
        elif len(values) != width:
            raise ValueError(f"{where}, line {j + 1}: {len(values)} numbers where earlier rows have {width}")
        for c, v in zip(layout, values):
            if c is not None:
                columns[c].append(float(v))
    if width is None:
        raise ValueError(f"{where}: column names but no data rows")
    head = "\n".join(lines[:header_at])
    return _make(
        _title(lines[:header_at], stem), columns, len(columns["alpha"]), where,
        re=_condition(head, "Re"), mach=_condition(head, "Mach"), ncrit=_condition(head, "Ncrit"),
    )


def read_polar_file(path: PathLike) -> list[ReferencePolar]:
    """Read the polar(s) in a CSV or whitespace-column text file.

    A file whose name ends in ``.csv``, or whose first non-blank,
    non-comment line holds a comma, is read as CSV; any other as the
    whitespace-column layout.

    Returns
    -------
    list of ReferencePolar
        One per section and condition found (the text layout holds one).

    Raises
    ------
    OSError
        When the file cannot be opened or read.
    ValueError
        When its contents are not a polar; the message names the line.
    """
    text, where = _read_text(path)
    stem = Path(where).stem
    first = next((ln for ln in text.splitlines() if ln.strip() and not ln.lstrip().startswith("#")), "")
    if where.lower().endswith(".csv") or "," in first:
        return _read_csv(text, where, stem)
    return [_read_columns(text, where, stem)]
