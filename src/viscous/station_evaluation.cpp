#include "boundary_layer/closures.h"
#include "viscous/station_evaluation.h"

#include <algorithm>
#include <cmath>

namespace velaro {

BlStation evaluate_station(const BlRow& row, FlowType flow, double msq, double re) {
  BlStation st;
  st.x = row.x;
  st.panel = row.panel;
  st.u = std::fmax(std::abs(row.uedg), 1e-9);
  st.theta = std::fmax(row.theta, 1e-12);
  st.dw = std::fmax(row.dw, 0.0);
  double dstar = std::fmax(row.dstr, 1e-12);
  if (flow == FlowType::Wake) dstar = std::fmax(dstar - st.dw, 1e-12);
  st.dstar = dstar;
  st.ctau = flow == FlowType::Laminar ? INITIAL_SHEAR : std::fmax(row.ctau, 1e-7);
  st.ampl = std::fmax(row.ampl, 0.0);
  compute_secondary_variables(st, flow, msq, re);
  return st;
}

void evaluate_stations(std::span<const BlRow> rows, std::size_t count, std::size_t iblte,
                       std::size_t first_turbulent, double msq, double re, std::vector<BlStation>& out) {
  count = std::min(count, rows.size());
  out.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = evaluate_station(rows[i], row_flow(i, iblte, first_turbulent), msq, re);
  }
}

std::vector<BlStation> stations_from_rows(std::span<const BlRow> rows, std::size_t count, std::size_t iblte,
                                          std::size_t first_turbulent, double msq, double re) {
  std::vector<BlStation> out;
  evaluate_stations(rows, count, iblte, first_turbulent, msq, re, out);
  return out;
}

void evaluate_both_sides(const ViscousState& state, double msq, double re,
                         std::array<std::vector<BlStation>, 2>& stations, std::array<std::vector<double>, 2>& uinv,
                         std::array<std::vector<double>, 2>& uinv_a) {
  const bool prescribed_cl = state.mode == OperMode::PrescribedCl;
  for (Side s : kBothSides) {
    const std::size_t side = side_index(s);
    const std::vector<BlRow>& rows = state.rows[side];
    const std::size_t count = std::min(state.nbl[side], rows.size());
    evaluate_stations(rows, count, state.iblte[side], state.first_turbulent_row[side], msq, re, stations[side]);
    uinv[side].assign(stations[side].size(), 0.0);
    uinv_a[side].assign(stations[side].size(), 0.0);
    for (std::size_t i = 0; i < stations[side].size(); ++i) {
      uinv[side][i] = rows[i].uinv;
      // The inviscid speeds move with the extra unknown only when alpha is
      // free.
      if (prescribed_cl) uinv_a[side][i] = rows[i].uinv_a;
    }
  }
}

void rebuild_qvis_from_rows(ViscousState& state) {
  const std::size_t total = state.node_count() + state.wake_count();
  state.qvis.assign(total, 0.0);
  for (Side side : kBothSides) {
    const std::size_t k = side_index(side);
    const double sign = side_sign(side);
    const std::size_t m = std::min({state.rows[k].size(), state.nbl[k], state.ipan[k].size()});
    for (std::size_t r = 1; r < m; ++r) {
      const std::size_t node = state.ipan[k][r];
      if (node < total) state.qvis[node] = sign * state.rows[k][r].uedg;
    }
  }
}

void rebuild_gam_from_qvis(ViscousState& state) {
  const std::size_t n = state.node_count();
  state.gam.assign(n, 0.0);
  state.gam_a.assign(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    if (i < state.qvis.size()) state.gam[i] = state.qvis[i];
    if (i < state.qinv_a.size()) state.gam_a[i] = state.qinv_a[i];
  }
}

void recompute_mass_from_state(ViscousState& state) {
  for (Side side : kBothSides) {
    auto& rows = state.rows[side_index(side)];
    const std::size_t m = std::min(rows.size(), state.nbl[side_index(side)]);
    for (std::size_t r = 1; r < m; ++r) rows[r].mass = rows[r].dstr * rows[r].uedg;
  }
}

}  // namespace velaro
