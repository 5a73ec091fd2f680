#include "viscous/row_refresh.h"

#include <algorithm>
#include <cmath>

#include "boundary_layer/closures.h"

namespace velaro {

void set_stagnation_anchor(ViscousState& state, Side side, bool coords_from_geometry) {
  auto& rows = state.rows[side_index(side)];
  if (rows.size() < 2) return;
  BlRow& row = rows[0];
  row.x = 0.0;
  const std::size_t n = state.node_count();
  if (coords_from_geometry && n > 0) {
    const std::size_t i = std::min(n - 1, state.ist + 1);
    row.x_coord = state.x[i];
    row.y_coord = state.y[i];
  } else if (!coords_from_geometry) {
    row.x_coord = rows[1].x_coord;
    row.y_coord = rows[1].y_coord;
  }
  row.panel = kNoPanel;
  row.uedg = row.uinv = row.uinv_a = 0.0;
  row.theta = row.dstr = row.mass = 0.0;
  row.ctau = row.ampl = 0.0;
  row.dw = 0.0;
  row.flow = FlowType::Laminar;
}

BlRow refresh_or_seed_row(const BlRow* previous, std::size_t node, bool is_wake, double xi, double x, double y,
                          double uinv, double uinv_a) {
  BlRow row;
  if (previous) {
    row = *previous;
  } else {
    const double useed = std::fmax(uinv, 0.01);
    const double theta = std::fmax(std::sqrt(0.45 * std::fmax(xi, 1e-6) / (6.0 * useed * 1e6)), 1e-12);
    row.theta = theta;
    row.uedg = uinv;
    row.dstr = 2.2 * theta;
    row.mass = uinv * row.dstr;
    row.ctau = is_wake ? INITIAL_SHEAR : 0.0;
    row.ampl = 0.0;
    row.dw = 0.0;
    row.flow = is_wake ? FlowType::Wake : FlowType::Laminar;
  }
  row.x = xi;
  row.x_coord = x;
  row.y_coord = y;
  row.panel = node;
  row.uinv = uinv;
  row.uinv_a = uinv_a;
  // A row that leaves the wake keeps the regime it had before it got there.
  if (is_wake) {
    row.flow = FlowType::Wake;
  } else if (row.wake()) {
    row.flow = FlowType::Turbulent;
  }
  return row;
}

void refresh_surface_row_views(std::span<BlRow> rows, std::size_t limit, std::size_t iblte,
                               std::size_t first_turbulent) {
  const std::size_t m = std::min(rows.size(), limit);
  for (std::size_t r = 1; r < m; ++r) {
    BlRow& row = rows[r];
    if (r > iblte) {
      set_first_variable(row, first_variable(row), FlowType::Wake);
      continue;
    }
    if (row.dw != 0.0) {
      row.dstr = std::fmax(row.dstr - row.dw, 1e-12);
      row.dw = 0.0;
    }
    set_first_variable(row, first_variable(row), row_flow(r, iblte, first_turbulent));
  }
}

}  // namespace velaro
