#pragma once
// Boundary-layer rows laid out for a stagnation point: the rebuild of both
// sides for a new row numbering, and the upper side's copies of the wake.
#include "viscous/state.h"

namespace velaro {

// Locates the stagnation point, renumbers the rows of both sides and rebuilds
// them for the new numbering (reusing the old row at the same index where
// there is one), anchors row 0, applies the wake gap and sets the edge
// velocity of every row to its inviscid value.
void rebuild_rows_for_numbering(ViscousState& state);

// Copies the lower wake rows onto the upper side's wake copies (kept for
// output only), flagged wake and turbulent.
void copy_wake_rows_to_upper(ViscousState& state);

}  // namespace velaro
