#pragma once
// The stagnation-point move of the viscous iteration.
#include "viscous/state.h"

namespace velaro {

// Moves the stagnation point to the current vorticity distribution and, when
// it changed panels, renumbers the rows and shifts the boundary layer with
// it (rows near the new stagnation point are extrapolated).
void move_stagnation_point(ViscousState& state);

}  // namespace velaro
