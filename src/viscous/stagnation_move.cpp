// The stagnation-point move of the viscous iteration: when the updated
// vorticity puts the stagnation point on another panel, the rows of both
// sides are renumbered and the boundary layer is shifted with the point.
#include "viscous/stagnation_move.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "viscous/row_refresh.h"
#include "viscous/stagnation.h"
#include "viscous/station_evaluation.h"
#include "viscous/station_indexing.h"

namespace velaro {

namespace {

// Edge speed given to rows whose speed has vanished or reversed.
constexpr double kMinEdgeSpeed = 1e-7;

std::size_t minus_floor0(std::size_t a, std::size_t b) { return a > b ? a - b : 0; }

// Moves the boundary-layer profile of `src` into `dst`, which is to be of
// flow type `flow`; the first variable (amplification or shear) goes into
// the field of the new regime. The wake gap goes with the profile: dstr of a
// wake row includes its gap, that of an airfoil row does not, and the row
// views later take dw off the dstr of every airfoil row. A row that turns
// from wake into airfoil row (or back) must therefore not keep the gap of
// its old role, or the trailing-edge station of the growing side would lose
// the whole gap from its displacement thickness.
void take_profile(BlRow& dst, const BlRow& src, FlowType flow) {
  set_first_variable(dst, first_variable(src), flow);
  dst.theta = src.theta;
  dst.dstr = src.dstr;
  dst.uedg = src.uedg;
  dst.dw = src.dw;
}

}  // namespace

void move_stagnation_point(ViscousState& state) {
  const std::size_t ist_old = state.ist;
  locate_stagnation_point(state);
  const std::size_t ist = state.ist;
  if (ist == ist_old) {
    set_row_arc_lengths(state);
    hold_first_station_speeds(state);
    return;
  }

  // The side the stagnation point moves into loses d rows, the other gains d;
  // their transition rows move by the same count.
  const std::size_t d = ist > ist_old ? ist - ist_old : ist_old - ist;
  const std::size_t grows = side_index(ist > ist_old ? Side::Upper : Side::Lower);
  const std::size_t shrinks = side_index(ist > ist_old ? Side::Lower : Side::Upper);
  state.first_turbulent_row[grows] += d;
  state.first_turbulent_row[shrinks] = minus_floor0(state.first_turbulent_row[shrinks], d);

  const std::array<std::vector<BlRow>, 2> old = state.rows;
  number_rows_from_stagnation(state);
  for (Side side : kBothSides) state.rows[side_index(side)].resize(state.ipan[side_index(side)].size());
  set_inviscid_edge_speeds(state);
  set_row_arc_lengths(state);

  // Growing side: rows move downstream by d; the d rows next to the new
  // stagnation point take the profile of the first shifted row with a speed
  // that falls linearly to zero at the stagnation point.
  {
    auto& rows = state.rows[grows];
    const auto& prev = old[grows];
    const std::size_t nb = std::min(state.nbl[grows], rows.size());
    const std::size_t iblte = state.iblte[grows], first_turbulent = state.first_turbulent_row[grows];
    for (std::size_t r = nb; r-- > d + 1;)
      if (r - d < prev.size()) take_profile(rows[r], prev[r - d], row_flow(r, iblte, first_turbulent));
    if (d + 1 < nb) {
      const BlRow ref = rows[d + 1];
      for (std::size_t r = d; r >= 1; --r) {
        set_first_variable(rows[r], first_variable(ref), row_flow(r, iblte, first_turbulent));
        rows[r].theta = ref.theta;
        rows[r].dstr = ref.dstr;
        rows[r].dw = ref.dw;
        rows[r].uedg = std::abs(ref.x) > 1e-12 ? rows[r].x * (ref.uedg / ref.x) : 0.0;
      }
    }
  }
  // Shrinking side: rows move upstream by d.
  {
    auto& rows = state.rows[shrinks];
    const auto& prev = old[shrinks];
    const std::size_t nb = std::min(state.nbl[shrinks], rows.size());
    const std::size_t iblte = state.iblte[shrinks], first_turbulent = state.first_turbulent_row[shrinks];
    for (std::size_t r = 1; r < nb; ++r)
      if (r + d < prev.size()) take_profile(rows[r], prev[r + d], row_flow(r, iblte, first_turbulent));
  }

  // No row may be left with a vanishing or reversed edge speed.
  for (Side side : kBothSides) {
    const double sign = side_sign(side);
    auto& rows = state.rows[side_index(side)];
    const std::size_t nb = std::min(state.nbl[side_index(side)], rows.size());
    for (std::size_t r = 1; r < nb; ++r) {
      if (!(rows[r].uedg > kMinEdgeSpeed)) {
        rows[r].uedg = kMinEdgeSpeed;
        const std::size_t node = rows[r].panel;
        if (node < state.qvis.size()) state.qvis[node] = sign * kMinEdgeSpeed;
        if (node < state.gam.size()) state.gam[node] = sign * kMinEdgeSpeed;
      }
    }
  }

  hold_first_station_speeds(state);

  for (Side side : kBothSides) {
    const std::size_t k = side_index(side);
    refresh_surface_row_views(state.rows[k], state.nbl[k], state.iblte[k], state.first_turbulent_row[k]);
  }
  recompute_mass_from_state(state);
}

}  // namespace velaro
