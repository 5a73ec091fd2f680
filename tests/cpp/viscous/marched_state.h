#pragma once
// Test fixture shared by the march and force tests: a viscous state of a
// NACA section set up as the iteration driver does it (inviscid speeds at
// alpha, wake, stagnation point, row numbering, arc lengths, inviscid edge
// speeds), with every row's edge velocity set to the inviscid one, and the
// two sides marched as the first Newton assembly marches them.
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "geometry/naca.h"
#include "geometry/point.h"
#include "viscous/march.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/station_indexing.h"
#include "viscous/wake_setup.h"

namespace velaro::testing {

inline std::optional<OperPointSetup> prepared_state(const std::vector<Point>& nodes, double alpha_deg,
                                                    double reynolds, double ncrit = 9.0) {
  ViscousConfig config;
  config.reynolds = reynolds;
  config.ncrit = ncrit;
  auto setup = build_state_from_coords("test", nodes, config, alpha_deg);
  if (!setup) return std::nullopt;
  ViscousState& st = setup->state;
  combine_base_solutions_at_alpha(st, st.alpha);
  refresh_wake_geometry(st, setup->system, config);
  compute_wake_inviscid_speeds(st, setup->system);
  locate_stagnation_point(st);
  number_rows_from_stagnation(st);
  for (int side = 0; side < 2; ++side) st.rows[side].assign(st.ipan[side].size(), BlRow{});
  set_row_arc_lengths(st);
  set_inviscid_edge_speeds(st);
  for (int side = 0; side < 2; ++side)
    for (BlRow& r : st.rows[side]) r.uedg = r.uinv;
  return std::move(*setup);
}

inline std::optional<OperPointSetup> prepared_naca(std::uint32_t designation, double alpha_deg,
                                                   double reynolds, double ncrit = 9.0,
                                                   std::size_t per_side = 81) {
  return prepared_state(generate_naca4(designation, per_side), alpha_deg, reynolds, ncrit);
}

// The direct march of both sides, upper first, the lower side starting its
// wake from the upper trailing-edge values; stores itran and xssitr.
inline void march_both_ue(ViscousState& st, double reynolds, double ncrit) {
  const MarchResult up = march_direct_side(Side::Upper, st.rows[0], st.rows[0].size(), st.nbl[0], st.iblte[0],
                                       te_values_of(st.rows[1], st.iblte[1]), st.ante, reynolds, ncrit);
  const MarchResult lo = march_direct_side(Side::Lower, st.rows[1], st.rows[1].size(), st.nbl[1], st.iblte[1],
                                       te_values_of(st.rows[0], st.iblte[0]), st.ante, reynolds, ncrit);
  st.itran = {up.itran, lo.itran};
  st.xssitr = {up.xssitr, lo.xssitr};
}

// The mixed march of both sides from the current rows.
inline void march_both_du(ViscousState& st, double reynolds, double ncrit) {
  const MarchResult up = march_mixed_side(Side::Upper, st.rows[0], st.rows[0].size(), st.nbl[0], st.ante, reynolds, ncrit,
                                       st.iblte[0], te_values_of(st.rows[1], st.iblte[1]), st.itran[0]);
  const MarchResult lo = march_mixed_side(Side::Lower, st.rows[1], st.rows[1].size(), st.nbl[1], st.ante, reynolds, ncrit,
                                       st.iblte[1], te_values_of(st.rows[0], st.iblte[0]), st.itran[1]);
  st.itran = {up.itran, lo.itran};
  st.xssitr = {up.xssitr, lo.xssitr};
}

}  // namespace velaro::testing
