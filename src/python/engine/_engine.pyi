"""Type stub for velaro._engine, the package's private viscous engine module."""

from typing import Any, Callable, Literal, Optional, Sequence, SupportsFloat, SupportsIndex, TypedDict

import numpy as np
import numpy.typing as npt

START_NAMES: tuple[str, str, str, str, str]

class SweepResult(TypedDict):
    mode: Literal["alpha", "cl"]
    targets: npt.NDArray[np.float64]
    alpha: npt.NDArray[np.float64]
    cl: npt.NDArray[np.float64]
    cd: npt.NDArray[np.float64]
    cm: npt.NDArray[np.float64]
    cd_friction: npt.NDArray[np.float64]
    cd_pressure: npt.NDArray[np.float64]
    x_tr_upper: npt.NDArray[np.float64]
    x_tr_lower: npt.NDArray[np.float64]
    iterations: npt.NDArray[np.int64]
    residual: npt.NDArray[np.float64]
    converged: npt.NDArray[np.bool_]
    start: npt.NDArray[np.uint8]
    errors: list[Optional[str]]
    error: Optional[str]

class SweepInterrupted(KeyboardInterrupt):
    partial: list[SweepResult]

def sweep(
    coords: npt.ArrayLike,
    targets: npt.ArrayLike,
    *,
    mode: Literal["alpha", "cl"] = "alpha",
    reynolds: SupportsFloat = 1.0e6,
    mach: SupportsFloat = 0.0,
    ncrit: SupportsFloat = 9.0,
    xtr_upper: SupportsFloat = 1.0,
    xtr_lower: SupportsFloat = 1.0,
    max_iterations: SupportsIndex = 100,
    warm_start: bool = True,
    progress: Optional[Callable[[int], Any]] = None,
) -> SweepResult: ...
def sweeps(
    tasks: Sequence[dict[str, Any]], *, progress: Optional[Callable[[int], Any]] = None
) -> list[SweepResult]: ...

class SideLayer(TypedDict):
    s: npt.NDArray[np.float64]
    x: npt.NDArray[np.float64]
    y: npt.NDArray[np.float64]
    ue: npt.NDArray[np.float64]
    theta: npt.NDArray[np.float64]
    delta_star: npt.NDArray[np.float64]
    h: npt.NDArray[np.float64]
    cf: npt.NDArray[np.float64]
    ctau: npt.NDArray[np.float64]
    laminar: npt.NDArray[np.bool_]
    node: npt.NDArray[np.int64]

class BoundaryLayerResult(TypedDict):
    alpha: float
    converged: bool
    iterations: int
    residual: float
    cl: float
    error: Optional[str]
    upper: SideLayer
    lower: SideLayer

def boundary_layer(
    coords: npt.ArrayLike,
    alpha: SupportsFloat,
    *,
    reynolds: SupportsFloat = 1.0e6,
    mach: SupportsFloat = 0.0,
    ncrit: SupportsFloat = 9.0,
    xtr_upper: SupportsFloat = 1.0,
    xtr_lower: SupportsFloat = 1.0,
    max_iterations: SupportsIndex = 100,
) -> BoundaryLayerResult: ...
