#pragma once
// The wake of a viscous operating point: its trajectory for the state's
// angle of attack and the inviscid speeds along it.
#include "inviscid/factored_system.h"
#include "viscous/state.h"

namespace velaro {

// Lays out the wake along the streamline leaving the trailing edge when it
// is stale (never built, or built for an angle more than 1e-5 rad away) and
// the configuration asks for one, together with the speeds of both base
// solutions along it (wake_qinvu_0, wake_qinvu_90), which come from the same
// stream-function coefficients. A rebuilt wake marks the influence matrix as
// not current. Returns true when the wake was rebuilt.
bool refresh_wake_geometry(ViscousState& state, const FactorizedSystem& system, const ViscousConfig& config);

// Inviscid speeds of both base solutions at every wake node (kept from the
// laying of the wake, computed when missing) and their combination at the
// state's angle of attack (wake_qinv, wake_qinv_a).
void compute_wake_inviscid_speeds(ViscousState& state, const FactorizedSystem& system);

}  // namespace velaro
