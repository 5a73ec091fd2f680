"""Type stub for the _velaro extension module."""

from typing import Any, Optional, Sequence, SupportsFloat, SupportsIndex

Coords = Sequence[SupportsFloat]
Point = tuple[float, float]

def generate_naca4(designation: SupportsIndex, n_points_per_side: Optional[SupportsIndex] = None) -> list[Point]: ...
def parse_dat_file(path: str) -> list[Point]: ...
