#pragma once
// The derivative block of a boundary-layer station as stored in a row.
#include <array>

#include "boundary_layer/bl_station.h"
#include "viscous/state.h"

namespace velaro {

// The station's derivative fields in declaration order (h_theta .. de_dstar);
// the spare last slot is 0.
std::array<double, BlRow::kDerivCount> pack_station_derivs(const BlStation& station);

}  // namespace velaro
