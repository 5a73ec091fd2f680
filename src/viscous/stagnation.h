#pragma once
// Inviscid speeds at the current angle of attack and the stagnation point on
// the vorticity distribution.
#include "viscous/state.h"

namespace velaro {

// Sets alpha (radians) and combines the alpha = 0 and 90 degree base
// solutions into qinv, qinv_a, gam, gam_a and, where the wake speeds exist,
// wake_qinv and wake_qinv_a.
void combine_base_solutions_at_alpha(ViscousState& state, double alpha);

// Locates the stagnation point: ist is the node before the first sign change
// of gam from >= 0 to < 0 (n/2 - 1 when there is none); sst is interpolated
// linearly on that panel, kept 1e-7 inside it, with its sensitivities sst_go
// and sst_gp to gam[ist] and gam[ist+1]. A vanishing (or non-finite) jump of
// gam, or a panel too short to keep sst inside, puts sst at the panel
// midpoint with zero sensitivities.
void locate_stagnation_point(ViscousState& state);

}  // namespace velaro
