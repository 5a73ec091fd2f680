"""Type stub for the _velaro extension module."""

from typing import Any, Optional, Sequence, SupportsFloat, SupportsIndex

Coords = Sequence[SupportsFloat]
Point = tuple[float, float]

def analyze_faithful(
    coords: Coords,
    alpha_deg: SupportsFloat,
    reynolds: SupportsFloat = 1.0e6,
    mach: SupportsFloat = 0.0,
    ncrit: SupportsFloat = 9.0,
    max_iterations: SupportsIndex = 100,
    re_type: SupportsIndex = 1,
) -> dict[str, Any]: ...
def analyze_inviscid(coords: Coords, alpha_deg: SupportsFloat) -> dict[str, Any]: ...
def analyze_faithful_batch(
    coords: Coords,
    alphas: Sequence[SupportsFloat],
    reynolds: SupportsFloat = 1.0e6,
    mach: SupportsFloat = 0.0,
    ncrit: SupportsFloat = 9.0,
    max_iterations: SupportsIndex = 100,
    re_type: SupportsIndex = 1,
) -> list[dict[str, Any]]: ...
def analyze_inviscid_batch(coords: Coords, alphas: Sequence[SupportsFloat]) -> list[dict[str, Any]]: ...
def generate_naca4(designation: SupportsIndex, n_points_per_side: Optional[SupportsIndex] = None) -> list[Point]: ...
def repanel_kelvo(
    coords: Coords,
    n_panels: SupportsIndex = 160,
    curv_param: SupportsFloat = 1.0,
    te_le_ratio: SupportsFloat = 0.15,
    te_spacing_ratio: SupportsFloat = 0.667,
) -> list[Point]: ...
def deflect_flap(
    coords: Coords, hinge_x_frac: SupportsFloat, deflection_deg: SupportsFloat, hinge_y_frac: SupportsFloat = 0.5
) -> list[Point]: ...
def parse_dat_file(path: str) -> list[Point]: ...
def get_bl_distribution(
    coords: Coords,
    alpha_deg: SupportsFloat,
    reynolds: SupportsFloat = 1.0e6,
    mach: SupportsFloat = 0.0,
    ncrit: SupportsFloat = 9.0,
    max_iterations: SupportsIndex = 100,
    re_type: SupportsIndex = 1,
) -> dict[str, Any]: ...
