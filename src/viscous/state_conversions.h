#pragma once
// Conversions between the compact boundary-layer rows of the viscous state
// and the station records the boundary-layer equations work on, and the
// rebuilding of the node speeds and mass defects from the rows.
#include <cstddef>
#include <span>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "viscous/state.h"

namespace velaro {

// One station per row (the first `count` rows), with the secondary values
// recomputed by compute_secondary_variables at Mach^2 `msq` and Reynolds number `re`. Rows beyond
// iblte are wake stations and carry the displacement thickness without the
// wake gap; row r is laminar when r < first_turbulent and it is not a wake
// row.
std::vector<BlStation> stations_from_rows(std::span<const BlRow> rows, std::size_t count, std::size_t iblte,
                                        std::size_t first_turbulent, double msq, double re);

// qvis (n + nw values) from the row edge velocities: +uedg on the upper
// side, -uedg on the lower side and in the wake, 0 at nodes without a row.
void rebuild_qvis_from_rows(ViscousState& state);

// gam := qvis and gam_a := qinv_a on the n airfoil nodes.
void rebuild_gam_from_qvis(ViscousState& state);

// mass := dstr * uedg on rows 1..nbl-1 of both sides.
void recompute_mass_from_state(ViscousState& state);

}  // namespace velaro
