#pragma once
// The boundary-layer stations the closures evaluate, derived from the rows
// of the viscous state, and the rebuilding of the node speeds and mass
// defects from the rows.
#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "viscous/state.h"

namespace velaro {

// The boundary-layer station of a row of flow type `flow`: the row's primary
// variables as the closures take them, with the secondary variables of
// compute_secondary_variables at Mach^2 `msq` and Reynolds number `re`. The
// station's speed is |uedg|; speed, thicknesses and shear variable are
// floored, a wake station's displacement thickness is the row's without the
// wake gap, and a laminar station carries the initial shear variable.
BlStation evaluate_station(const BlRow& row, FlowType flow, double msq, double re);

// The stations of the first `count` rows of a side into `out` (resized,
// its storage reused). Rows beyond iblte are wake stations; row r is
// laminar when r < first_turbulent and it is not a wake row.
void evaluate_stations(std::span<const BlRow> rows, std::size_t count, std::size_t iblte,
                       std::size_t first_turbulent, double msq, double re, std::vector<BlStation>& out);

// The same as a new array.
std::vector<BlStation> stations_from_rows(std::span<const BlRow> rows, std::size_t count, std::size_t iblte,
                                          std::size_t first_turbulent, double msq, double re);

// The stations of the first nbl rows of both sides (evaluate_stations), the
// rows' inviscid edge velocities, and their sensitivities to the extra
// unknown (uinv_a of the rows when the lift is prescribed, zeros when alpha
// is), each array indexed like the stations; the arrays' storage is reused.
void evaluate_both_sides(const ViscousState& state, double msq, double re,
                         std::array<std::vector<BlStation>, 2>& stations, std::array<std::vector<double>, 2>& uinv,
                         std::array<std::vector<double>, 2>& uinv_a);

// qvis (n + nw values) from the row edge velocities: +uedg on the upper
// side, -uedg on the lower side and in the wake, 0 at nodes without a row.
void rebuild_qvis_from_rows(ViscousState& state);

// gam := qvis and gam_a := qinv_a on the n airfoil nodes.
void rebuild_gam_from_qvis(ViscousState& state);

// mass := dstr * uedg on rows 1..nbl-1 of both sides.
void recompute_mass_from_state(ViscousState& state);

}  // namespace velaro
