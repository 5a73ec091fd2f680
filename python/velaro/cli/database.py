"""Polars of many sections at many conditions, on Dask, into a folder of Parquet files."""
from velaro.database import EPILOG, HELP, NAME, add_arguments, run  # noqa: F401
