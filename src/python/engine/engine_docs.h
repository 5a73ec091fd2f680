#pragma once
// Docstrings of the _engine module.

namespace velaro::python::engine::doc {

inline constexpr const char* module = R"(Viscous engine of the velaro package (private).

Continuation sweeps over angles of attack or lift coefficients, numpy arrays
in and out. The interpreter lock is released for the whole computation;
Ctrl-C stops it promptly and raises SweepInterrupted with the points that had
finished.)";

inline constexpr const char* sweep_interrupted = R"(Ctrl-C during sweep() or sweeps().

A KeyboardInterrupt whose ``partial`` attribute holds one result dictionary
per task (see sweep()), full length; the points that were not solved carry
the error "viscous analysis interrupted".)";

inline constexpr const char* sweep = R"(Viscous continuation sweep of one contour.

Parameters
----------
coords : array_like, shape (N, 2)
    Contour from the upper trailing edge round the leading edge to the lower
    trailing edge, chord 1; at least 10 finite points.
targets : array_like, shape (M,)
    Angles of attack (degrees) or lift coefficients, finite, any order;
    results come back in this order.
mode : {'alpha', 'cl'}
    What the targets are.
reynolds, mach, ncrit : float
    Chord Reynolds number (> 0), Mach number in [0, 1), critical
    amplification exponent (>= 0).
xtr_upper, xtr_lower : float
    Trip position per side as a chord fraction in [0, 1]; 1 is free
    transition.
max_iterations : int
    Newton iteration limit per point (> 0).
warm_start : bool
    False solves every point from a fresh boundary layer (for comparisons).
progress : callable, optional
    Called on the calling thread with the number of points finished since
    its last call. An exception it raises stops the sweep and propagates.

Returns
-------
dict
    ``mode`` (str); float64 arrays ``targets``, ``alpha`` (the requested
    angle, or the angle found for a lift coefficient), ``cl``, ``cd``,
    ``cm``, ``cd_friction``, ``cd_pressure``, ``x_tr_upper``,
    ``x_tr_lower``, ``residual``; int64 ``iterations``; bool ``converged``;
    uint8 ``start`` (index into START_NAMES: warm, substepped, cold,
    failed); ``errors``, a list with the text of each point's failure or
    None; ``error``, the failure of the whole sweep (the contour could not
    be set up) or None. Unconverged points keep their final iterate; points
    with an error are NaN.

Raises
------
ValueError
    For bad input: wrong shape, non-finite values, empty targets, too few
    points, a contour that is not an airfoil, a trip position outside
    [0, 1], an invalid Reynolds number, Mach number or ncrit.
SweepInterrupted
    On Ctrl-C.)";

inline constexpr const char* sweeps = R"(Independent sweeps in parallel on the worker pool.

Parameters
----------
tasks : sequence of dict
    Each a dict of sweep()'s arguments (``coords`` and ``targets``
    required; the others default as in sweep()). All are checked before any
    work starts.
progress : callable, optional
    As in sweep(), counting the points of all tasks.

Returns
-------
list of dict
    One result dictionary per task (see sweep()), in task order.

Raises
------
ValueError
    For bad input, naming the task ("task 2: ...").
TypeError
    For a task that is not a dict, or has unknown keys.
SweepInterrupted
    On Ctrl-C, with the finished points of every task.)";

inline constexpr const char* boundary_layer = R"(Boundary layer of one operating point, from a cold start.

Parameters
----------
coords : array_like, shape (N, 2)
    Contour as in sweep().
alpha : float
    Angle of attack, degrees.
reynolds, mach, ncrit, xtr_upper, xtr_lower, max_iterations
    As in sweep().

Returns
-------
dict
    ``alpha``, ``converged``, ``iterations``, ``residual``, ``cl``;
    ``error`` (the text of a failure, or None); ``upper`` and ``lower``,
    each a dict of arrays over the stations from the first one after the
    stagnation point to the trailing edge (the wake excluded): float64
    ``s`` (arc length from the stagnation point), ``x``, ``y``, ``ue``
    (edge velocity, positive along the side), ``theta``, ``delta_star``,
    ``h``, ``cf``, ``ctau`` (amplification exponent at laminar stations,
    square root of the shear-stress coefficient at turbulent ones); bool
    ``laminar``; int64 ``node`` (the contour node of the station). Empty
    arrays when the point failed.

Raises
------
ValueError
    For bad input, as sweep(), or a non-finite angle.
KeyboardInterrupt
    On Ctrl-C.)";

}  // namespace velaro::python::engine::doc
