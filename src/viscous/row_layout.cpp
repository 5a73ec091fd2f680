// Boundary-layer rows laid out for a stagnation point: the rebuild of both
// sides for a new row numbering, and the upper side's copies of the wake.
#include "viscous/row_layout.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "viscous/row_refresh.h"
#include "viscous/stagnation.h"
#include "viscous/station_indexing.h"

namespace velaro {

namespace {

double value_or_zero(const std::vector<double>& v, std::size_t i) { return i < v.size() ? v[i] : 0.0; }

}  // namespace

void rebuild_rows_for_numbering(ViscousState& state) {
  locate_stagnation_point(state);
  number_rows_from_stagnation(state);

  const std::size_t n = state.node_count();
  const std::size_t nw = state.wake_count();
  const double eps = n > 0 ? 1e-7 * std::abs(state.s[n - 1] - state.s[0]) : 0.0;

  for (Side side : kBothSides) {
    const std::size_t k = side_index(side);
    // Lower-side rows carry the speeds with the opposite sign (uedg = -q).
    const double sign = side_sign(side);
    const std::vector<BlRow> old = std::move(state.rows[k]);
    const auto previous = [&old](std::size_t r) { return r < old.size() ? &old[r] : nullptr; };
    const auto& ipan = state.ipan[k];
    const std::size_t iblte = std::min(state.iblte[k], ipan.empty() ? 0 : ipan.size() - 1);

    std::vector<BlRow> rows;
    rows.reserve(iblte + 1 + nw);
    rows.push_back(old.empty() ? BlRow{} : old[0]);
    for (std::size_t r = 1; r <= iblte; ++r) {
      const std::size_t i = ipan[r];
      double q = 0.0, q_a = 0.0;
      if (i < n) {
        q = state.qinv[i];
        q_a = state.qinv_a[i];
      } else {
        q = value_or_zero(state.wake_qinv, i - n);
        q_a = value_or_zero(state.wake_qinv_a, i - n);
      }
      const double d = i < n ? (side == Side::Upper ? state.sst - state.s[i] : state.s[i] - state.sst) : eps;
      const double xi = d > eps ? d : eps;  // also eps when d is NaN
      const double px = i < n ? state.x[i] : value_or_zero(state.wake_x, i - n);
      const double py = i < n ? state.y[i] : value_or_zero(state.wake_y, i - n);
      rows.push_back(refresh_or_seed_row(previous(r), i, false, xi, px, py, sign * q, sign * q_a));
    }

    // Wake rows continue the arc length from the last airfoil row.
    double length = rows.back().x;
    for (std::size_t w = 0; w < nw; ++w) {
      if (w > 0) length += std::hypot(state.wake_x[w] - state.wake_x[w - 1], state.wake_y[w] - state.wake_y[w - 1]);
      const std::size_t r = iblte + 1 + w;
      rows.push_back(refresh_or_seed_row(previous(r), n + w, true, length, state.wake_x[w], state.wake_y[w],
                                         sign * value_or_zero(state.wake_qinv, w),
                                         sign * value_or_zero(state.wake_qinv_a, w)));
    }
    state.rows[k] = std::move(rows);
  }

  set_stagnation_anchor(state, Side::Upper, true);
  set_stagnation_anchor(state, Side::Lower, true);
  update_wgap(state);
  set_inviscid_edge_speeds(state);
  for (auto& rows : state.rows)
    for (std::size_t r = 1; r < rows.size(); ++r) rows[r].uedg = rows[r].uinv;
  hold_first_station_speeds(state);
}

void copy_wake_rows_to_upper(ViscousState& state) {
  auto& upper = state.rows[0];
  const auto& lower = state.rows[1];
  for (std::size_t k = 0; k < state.wake_count(); ++k) {
    const std::size_t lo = state.iblte[1] + 1 + k;
    const std::size_t up = state.nbl[0] + k;
    if (lo >= lower.size() || up >= upper.size()) break;
    BlRow copy = lower[lo];
    copy.x_coord = upper[up].x_coord;
    copy.panel = upper[up].panel;
    copy.flow = FlowType::Wake;
    upper[up] = copy;
  }
}

}  // namespace velaro
