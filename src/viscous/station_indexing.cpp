#include "viscous/station_indexing.h"

#include <algorithm>
#include <cmath>

namespace velaro {

void number_rows_from_stagnation(ViscousState& state) {
  const std::size_t n = state.node_count();
  const std::size_t nw = state.wake_count();
  auto& up = state.ipan[0];
  auto& lo = state.ipan[1];
  up.assign(1, kNoPanel);
  lo.assign(1, kNoPanel);
  if (n < 2) {
    state.iblte = {0, 0};
    state.nbl = {1, 1};
  } else {
    const std::size_t ist = std::min(state.ist, n - 2);
    for (std::size_t i = ist + 1; i-- > 0;) up.push_back(i);
    state.iblte[0] = ist + 1;
    state.nbl[0] = ist + 2;
    for (std::size_t i = ist + 1; i < n; ++i) lo.push_back(i);
    state.iblte[1] = lo.size() - 1;
    for (std::size_t k = 0; k < nw; ++k) {
      lo.push_back(n + k);
      up.push_back(n + k);
    }
    state.nbl[1] = lo.size();
  }

  std::size_t line = 0;
  for (Side side : kBothSides) {
    const std::size_t k = side_index(side);
    auto& isys = state.isys[k];
    isys.assign(state.ipan[k].size(), std::nullopt);
    const std::size_t m = std::min(state.nbl[k], isys.size());
    for (std::size_t r = 1; r < m; ++r) isys[r] = line++;
  }
}

void set_row_arc_lengths(ViscousState& state) {
  const std::size_t n = state.node_count();
  const std::size_t nw = state.wake_count();
  if (n == 0) return;
  const double eps = 1e-7 * std::abs(state.s[n - 1] - state.s[0]);

  for (Side side : kBothSides) {
    auto& rows = state.rows[side_index(side)];
    if (rows.empty()) continue;
    rows[0].x = 0.0;
    rows[0].panel = kNoPanel;
    if (side == Side::Lower) {
      const std::size_t i = std::min(n - 1, state.ist + 1);
      rows[0].x_coord = state.x[i];
      rows[0].y_coord = state.y[i];
    }
  }

  for (Side side : kBothSides) {
    const std::size_t k = side_index(side);
    auto& rows = state.rows[k];
    const auto& ipan = state.ipan[k];
    const std::size_t last = std::min({state.iblte[k] + 1, rows.size(), ipan.size()});
    for (std::size_t r = 1; r < last; ++r) {
      const std::size_t i = ipan[r];
      if (i >= n) continue;
      const double d = side == Side::Upper ? state.sst - state.s[i] : state.s[i] - state.sst;
      BlRow& row = rows[r];
      row.x = d > eps ? d : eps;  // also eps when d is NaN
      row.x_coord = state.x[i];
      row.y_coord = state.y[i];
      row.panel = i;
    }
  }

  for (Side side : kBothSides) {
    auto& rows = state.rows[side_index(side)];
    const std::size_t te = state.iblte[side_index(side)];
    double length = te < rows.size() ? rows[te].x : 0.0;
    for (std::size_t k = 0; k < nw; ++k) {
      if (k > 0)
        length += std::hypot(state.wake_x[k] - state.wake_x[k - 1], state.wake_y[k] - state.wake_y[k - 1]);
      const std::size_t r = te + 1 + k;
      if (r >= rows.size()) continue;
      rows[r].x = length;
      rows[r].x_coord = state.wake_x[k];
      rows[r].y_coord = state.wake_y[k];
      rows[r].panel = n + k;
    }
  }

  update_wgap(state);
}

double trip_arc_length(const ViscousState& state, Side side) {
  const double trip = state.trip_x[side_index(side)];
  if (!(trip < 1.0)) return kNoTrip;
  const auto& rows = state.rows[side_index(side)];
  const std::size_t last = std::min(state.iblte[side_index(side)], rows.size() - (rows.empty() ? 0 : 1));
  if (last < 2) return kNoTrip;
  const double target = state.x_le + trip * state.chord;
  // At or behind the trailing edge the trip changes nothing: transition is
  // forced there anyway.
  if (!(target < rows[last].x_coord)) return kNoTrip;
  for (std::size_t r = last; r > 2; --r) {
    const BlRow& a = rows[r - 1];
    const BlRow& b = rows[r];
    if (a.x_coord <= target && target <= b.x_coord) {
      const double dxc = b.x_coord - a.x_coord;
      const double f = dxc > 0.0 ? (target - a.x_coord) / dxc : 1.0;
      return a.x + f * (b.x - a.x);
    }
  }
  return rows[2].x;
}

namespace {

void node_speed(const ViscousState& state, std::size_t node, double& q, double& q_a) {
  const std::size_t n = state.node_count();
  q = 0.0;
  q_a = 0.0;
  if (node < n) {
    if (node < state.qinv.size()) q = state.qinv[node];
    if (node < state.qinv_a.size()) q_a = state.qinv_a[node];
  } else if (node != kNoPanel) {
    const std::size_t k = node - n;
    if (k < state.wake_qinv.size()) q = state.wake_qinv[k];
    if (k < state.wake_qinv_a.size()) q_a = state.wake_qinv_a[k];
  }
}

}  // namespace

void set_inviscid_edge_speeds(ViscousState& state) {
  for (Side side : kBothSides) {
    const std::size_t k = side_index(side);
    auto& rows = state.rows[k];
    if (rows.empty()) continue;
    rows[0].uinv = 0.0;
    rows[0].uinv_a = 0.0;
    const double sign = side_sign(side);
    const std::size_t m = std::min({rows.size(), state.nbl[k], state.ipan[k].size()});
    for (std::size_t r = 1; r < m; ++r) {
      double q = 0.0, q_a = 0.0;
      node_speed(state, state.ipan[k][r], q, q_a);
      rows[r].uinv = sign * q;
      rows[r].uinv_a = sign * q_a;
    }
  }
}

namespace {

// Edge speed that the mass defects of all rows induce at `node` on a row of
// side sign `vi` (the mass-defect part of the coupled edge speed).
double induced_speed(const ViscousState& state, std::size_t node, double vi) {
  const auto& dij = state.dij;
  if (node >= static_cast<std::size_t>(dij.rows())) return 0.0;
  double sum = 0.0;
  for (Side side : kBothSides) {
    const double vj = side_sign(side);
    const auto& rows = state.rows[side_index(side)];
    const std::size_t m = std::min(rows.size(), state.nbl[side_index(side)]);
    for (std::size_t r = 1; r < m; ++r) {
      const std::size_t pj = rows[r].panel;
      if (pj >= static_cast<std::size_t>(dij.cols())) continue;
      sum += vj * dij(static_cast<Eigen::Index>(node), static_cast<Eigen::Index>(pj)) * rows[r].mass;
    }
  }
  return -vi * sum;
}

}  // namespace

std::size_t hold_first_station_speeds(ViscousState& state) {
  const std::size_t n = state.node_count();
  if (n < 2 || state.s.size() < n) return 0;
  const double eps = 1e-7 * std::abs(state.s[n - 1] - state.s[0]);
  std::size_t changed = 0;
  for (Side side : kBothSides) {
    const std::size_t k = side_index(side);
    auto& rows = state.rows[k];
    if (rows.size() < 2 || state.iblte[k] < 1 || state.ipan[k].size() < 2) continue;
    const std::size_t node = state.ipan[k][1];
    if (node >= n) continue;
    const double sign = side_sign(side);
    BlRow& row = rows[1];
    const double inviscid = node < state.qinv.size() ? sign * state.qinv[node] : 0.0;
    const double d = side == Side::Upper ? state.sst - state.s[node] : state.s[node] - state.sst;
    // Only where the floor on x is active: elsewhere x and ue follow the
    // interpolated stagnation point together, and the row keeps the
    // inviscid speed of its node.
    if (!(d < eps)) {
      row.uinv = inviscid;
      continue;
    }
    const double slope = side == Side::Upper ? state.sst_go : state.sst_gp;  // d x / d ue of this station
    double ue = 0.0;
    if (std::isfinite(slope) && slope > 1e-12) {
      ue = row.x / slope;
    } else if (state.iblte[k] >= 2 && rows.size() > 2 && rows[2].x > row.x) {
      ue = row.x * (rows[2].uedg / rows[2].x);
    }
    if (!std::isfinite(ue) || !(ue > 0.0)) {
      row.uinv = inviscid;
      continue;
    }
    row.uedg = ue;
    row.mass = row.dstr * ue;
    // The mass defects would pull the speed back towards zero at every
    // update; the row's inviscid part absorbs the difference so that the
    // coupled speed of this row is the held one.
    row.uinv = state.dij.size() > 0 ? ue - induced_speed(state, node, sign) : inviscid;
    if (node < state.qvis.size()) state.qvis[node] = sign * ue;
    if (node < state.gam.size()) state.gam[node] = sign * ue;
    ++changed;
  }
  return changed;
}

void update_wgap(ViscousState& state) {
  const std::size_t n = state.node_count();
  const std::size_t nw = state.wake_count();
  state.wgap.assign(nw, 0.0);
  if (nw == 0 || n < 2 || state.sharp_te || !(std::abs(state.ante) > 1e-12)) return;

  const double xp0 = state.xp[0], yp0 = state.yp[0];
  const double xpn = state.xp[n - 1], ypn = state.yp[n - 1];
  const double den = std::sqrt((xpn * xpn + ypn * ypn) * (xp0 * xp0 + yp0 * yp0));
  if (!(den > 1e-12)) return;
  const double cross = (xp0 * ypn - yp0 * xpn) / den;

  // Slope of the gap at the trailing edge from the angle between the two
  // end tangents, limited so that the cubic stays monotone.
  const double dwdx = std::clamp(cross / std::sqrt(std::fmax(1.0 - cross * cross, 1e-12)), -1.2, 1.2);
  const double aa = 3.0 + 2.5 * dwdx;
  const double bb = -2.0 - 2.5 * dwdx;

  auto& lower = state.rows[1];
  auto& upper = state.rows[0];
  const std::size_t te_lo = state.iblte[1];
  const std::size_t te_up = state.iblte[0];
  const double m = te_lo < lower.size() ? lower[te_lo].x : 0.0;
  for (std::size_t k = 0; k < nw; ++k) {
    const std::size_t r = te_lo + 1 + k;
    const double u = r < lower.size() ? lower[r].x : m;
    const double zn = 1.0 - (u - m) / (2.5 * state.ante);
    state.wgap[k] = zn >= 0.0 ? state.ante * (aa + bb * zn) * zn * zn : 0.0;
  }

  auto apply = [&](BlRow& row, double gap) {
    const double base = row.wake() ? row.dstr - row.dw : row.dstr;
    row.dw = gap;
    row.dstr = std::fmax(base, 1e-12) + gap;
  };
  for (std::size_t k = 0; k < nw; ++k) {
    if (te_lo + 1 + k < lower.size()) apply(lower[te_lo + 1 + k], state.wgap[k]);
    if (te_up + 1 + k < upper.size()) apply(upper[te_up + 1 + k], state.wgap[k]);
  }
}

}  // namespace velaro
