"""Writing result tables as CSV, JSON or Parquet.

A table is an ordered mapping of column name to a list of values (str,
float, int, bool or None).  CSV writes floats with ``repr`` (so they read
back bit for bit) and leaves NaN and None cells empty; JSON writes NaN as
null; Parquet keeps the column types (float64, int64, bool, string).
"""

from __future__ import annotations

import csv
import json
import math
from typing import Any, Mapping, Sequence

from ._common import write_atomic

Table = Mapping[str, Sequence[Any]]


def _cell(v: Any) -> str:
    if v is None:
        return ""
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, float):
        return "" if math.isnan(v) else repr(v)
    return str(v)


def write_csv(path: str, table: Table) -> None:
    names = list(table)
    n = len(next(iter(table.values()))) if names else 0

    def write(tmp: str) -> None:
        with open(tmp, "w", newline="", encoding="utf-8") as fh:
            w = csv.writer(fh)
            w.writerow(names)
            for i in range(n):
                w.writerow([_cell(table[k][i]) for k in names])

    write_atomic(path, write)


def jsonable(obj: Any) -> Any:
    """NaN and infinities become None; numpy scalars and arrays become Python ones."""
    if isinstance(obj, dict):
        return {str(k): jsonable(v) for k, v in obj.items()}
    if isinstance(obj, (list, tuple)):
        return [jsonable(v) for v in obj]
    if hasattr(obj, "tolist"):  # numpy arrays and scalars
        return jsonable(obj.tolist())
    if isinstance(obj, float) and not math.isfinite(obj):
        return None
    return obj


def write_json(path: str, document: Any) -> None:
    def write(tmp: str) -> None:
        with open(tmp, "w", encoding="utf-8") as fh:
            json.dump(jsonable(document), fh, indent=1, allow_nan=False)
            fh.write("\n")

    write_atomic(path, write)


def write_parquet(path: str, table: Table, types: Mapping[str, str], metadata: Mapping[str, str] = {}) -> None:
    """``types`` maps each column to 'float64', 'int64', 'bool' or 'string'."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    kinds = {"float64": pa.float64(), "int64": pa.int64(), "bool": pa.bool_(), "string": pa.string()}
    arrays = {}
    for name, values in table.items():
        kind = types.get(name, "float64")
        if kind == "float64":
            # NaN stays NaN (a number), None becomes null.
            arrays[name] = pa.array([math.nan if v is None else float(v) for v in values], type=pa.float64())
        else:
            arrays[name] = pa.array(list(values), type=kinds[kind])
    t = pa.table(arrays)
    if metadata:
        t = t.replace_schema_metadata({**(t.schema.metadata or {}), **{k: str(v) for k, v in metadata.items()}})
    write_atomic(path, lambda tmp: pq.write_table(t, tmp))


def write_table(path: str, kind: str, table: Table, types: Mapping[str, str], document: Any,
                metadata: Mapping[str, str] = {}) -> None:
    """Write ``table`` as CSV or Parquet, or ``document`` as JSON, by ``kind``."""
    if kind == "csv":
        write_csv(path, table)
    elif kind == "json":
        write_json(path, document)
    elif kind == "parquet":
        write_parquet(path, table, types, metadata)
    else:  # pragma: no cover - kinds are checked when the arguments are read
        raise ValueError(f"unknown output kind {kind!r}")
