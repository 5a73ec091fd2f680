#pragma once
// Numbering of the boundary-layer rows of both sides from the stagnation
// point, their arc-length coordinates, inviscid edge speeds and the wake gap.
#include "viscous/state.h"

namespace velaro {

// Rebuilds ipan, isys, nbl and iblte from ist, the node count and the wake
// node count. Upper rows run from node ist back to node 0, lower rows from
// node ist+1 to node n-1 and on through the wake; both sides list the wake
// nodes (the upper copies serve output only). Newton lines number the upper
// rows 1..nbl[0]-1, then the lower rows 1..nbl[1]-1.
void number_rows_from_stagnation(ViscousState& state);

// Arc length from the stagnation point (floored at 1e-7 of the contour
// length), position and node of rows 0..iblte and of the wake rows of both
// sides, then update_wgap.
void set_row_arc_lengths(ViscousState& state);

// Arc length from the stagnation point of the trip of `side`, kNoTrip when
// its transition is free (trip_x of 1). The trip lies where the side's
// surface, followed from the trailing edge towards the stagnation point,
// first reaches x = x_le + trip_x * chord; its arc length is interpolated
// linearly in x between the rows there. It moves with the stagnation point
// as every row's arc length does. A trip ahead of the second row is placed
// on the second row, the first interval that a transition check sees; one
// at or behind the trailing-edge row is no trip.
double trip_arc_length(const ViscousState& state, Side side);

// uinv and uinv_a of every row from the node speeds (negated on the lower
// side); 0 for row 0 and for nodes without a speed.
void set_inviscid_edge_speeds(ViscousState& state);

// Keeps the first station of each side consistent with its arc length when
// the stagnation point sits (almost) on that station's node, closer than the
// arc-length floor: the station then keeps x at the floor while its edge
// speed, interpolated from a vanishing vorticity, would go to zero, and the
// similarity station (which sees only the ratio x/ue) degenerates. Its edge
// speed is raised to the value that linear stagnation flow gives at the
// floored x: x / (d sst / d gam) with the stagnation point's sensitivity to
// the node's vorticity (ue_2 * x / x_2 from the next station when that is not
// available). The node's qvis and gam follow (with the side's sign), and the
// row's mass is recomputed. Rows whose speed is already at least that value
// are left alone. Returns the number of rows changed.
std::size_t hold_first_station_speeds(ViscousState& state);

// Rebuilds wgap, the thickness of the dead-air region behind a blunt
// trailing edge, a cubic that decays from the gap to zero over 2.5 gap
// lengths, and applies it to the wake rows' dw and dstr. A sharp trailing
// edge, no wake or a vanishing gap give an all-zero wgap and leave the rows
// alone.
void update_wgap(ViscousState& state);

}  // namespace velaro
