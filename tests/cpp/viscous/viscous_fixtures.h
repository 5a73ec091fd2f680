#pragma once
// Fixtures shared by the viscous tests: test contours (a closed symmetric
// NACA 00xx section, repaneled NACA sections) and a viscous state of a NACA
// section set up as the iteration driver does it (inviscid speeds at alpha,
// wake, stagnation point, row numbering, arc lengths, inviscid edge speeds),
// with every row's edge velocity set to the inviscid one, and the two sides
// marched as the first Newton assembly marches them.
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <utility>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "boundary_layer/closures.h"
#include "geometry/naca.h"
#include "geometry/point.h"
#include "geometry/repanel.h"
#include "viscous/march.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/state.h"
#include "viscous/station_indexing.h"
#include "viscous/wake_setup.h"

namespace velaro::testing {

// Symmetric NACA 00xx of thickness t with a closed trailing edge (last point
// on the first), per_side cosine-spaced points per side.
inline std::vector<Point> closed_naca00(double t, std::size_t per_side) {
  std::vector<Point> pts;
  std::vector<double> x(per_side);
  for (std::size_t i = 0; i < per_side; ++i)
    x[i] = 0.5 * (1.0 - std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(per_side - 1)));
  auto yt = [t](double v) {
    return 5.0 * t * (0.2969 * std::sqrt(v) - 0.126 * v - 0.3516 * v * v + 0.2843 * v * v * v - 0.1036 * v * v * v * v);
  };
  for (std::size_t i = per_side; i-- > 0;) pts.push_back({x[i], yt(x[i])});
  for (std::size_t i = 1; i < per_side; ++i) pts.push_back({x[i], -yt(x[i])});
  pts.back() = pts.front();
  return pts;
}

// A NACA section from the generator's default points, repaneled to `nodes`
// nodes; none when the repaneler refuses it.
inline std::optional<std::vector<Point>> repaneled_naca(std::uint32_t designation, std::size_t nodes = 160) {
  std::vector<double> flat;
  for (const Point& p : generate_naca4(designation, kNacaDefaultPointsPerSide)) {
    flat.push_back(p.x);
    flat.push_back(p.y);
  }
  auto out = repanel_coordinates(flat, nodes, RepanelParams{});
  if (!out) return std::nullopt;
  return std::move(*out);
}

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
// wake from the upper trailing-edge values; stores the first turbulent rows and xssitr.
inline void march_both_ue(ViscousState& st, double reynolds, double ncrit) {
  const MarchResult up = march_direct_side(Side::Upper, st.rows[0], st.rows[0].size(), st.nbl[0], st.iblte[0],
                                       te_values_of(st.rows[1], st.iblte[1]), st.ante, reynolds, ncrit);
  const MarchResult lo = march_direct_side(Side::Lower, st.rows[1], st.rows[1].size(), st.nbl[1], st.iblte[1],
                                       te_values_of(st.rows[0], st.iblte[0]), st.ante, reynolds, ncrit);
  st.first_turbulent_row = {up.first_turbulent_row, lo.first_turbulent_row};
  st.xssitr = {up.xssitr, lo.xssitr};
}

// The mixed march of both sides from the current rows.
inline void march_both_du(ViscousState& st, double reynolds, double ncrit) {
  const MarchResult up = march_mixed_side(Side::Upper, st.rows[0], st.rows[0].size(), st.nbl[0], st.ante, reynolds, ncrit,
                                       st.iblte[0], te_values_of(st.rows[1], st.iblte[1]), st.first_turbulent_row[0]);
  const MarchResult lo = march_mixed_side(Side::Lower, st.rows[1], st.rows[1].size(), st.nbl[1], st.ante, reynolds, ncrit,
                                       st.iblte[1], te_values_of(st.rows[0], st.iblte[0]), st.first_turbulent_row[1]);
  st.first_turbulent_row = {up.first_turbulent_row, lo.first_turbulent_row};
  st.xssitr = {up.xssitr, lo.xssitr};
}

// A station of `flow` at arc length x (also its x coordinate) on node
// `panel`, with its secondary variables computed. `first` is the
// amplification of a laminar station (whose shear stays at the initial
// value) and the shear of a turbulent or wake one.
inline BlStation make_station(FlowType flow, double x, std::size_t panel, double u, double theta, double dstar,
                              double first, double dw = 0.0, double msq = 0.0, double re = 1e6) {
  BlStation s;
  s.x = x;
  s.panel = panel;
  s.u = u;
  s.theta = theta;
  s.dstar = dstar;
  s.dw = dw;
  s.flow = flow;
  if (s.laminar()) {
    s.ampl = first;
    s.ctau = 0.03;
  } else {
    s.ctau = first;
  }
  compute_secondary_variables(s, flow, msq, re);
  return s;
}

// The stagnation station (index 0) of a side: no node, next to no speed and
// no thickness, laminar.
inline BlStation placeholder() {
  BlStation s;
  s.panel = kNoPanel;
  s.u = 1e-9;
  s.theta = 1e-12;
  s.dstar = 1e-12;
  s.flow = FlowType::Laminar;
  return s;
}

}  // namespace velaro::testing
