#include "viscous/forces.h"

#include <algorithm>
#include <cmath>

#include "inviscid/compressibility.h"

#include "viscous/station_evaluation.h"

namespace velaro {

PanelForces compute_panel_forces_from_gamma(std::span<const double> x, std::span<const double> y,
                                            std::span<const double> q, double alpha, double mach) {
  const std::size_t n = std::min({x.size(), y.size(), q.size()});
  PanelForces out;
  if (n < 2) return out;
  const KarmanTsien compressible(mach);
  const double sa = std::sin(alpha);
  const double ca = std::cos(alpha);
  double cp_prev = compressible.pressure_coefficient(1.0 - q[0] * q[0]);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double cp_next = compressible.pressure_coefficient(1.0 - q[i + 1] * q[i + 1]);
    const double ddx = x[i + 1] - x[i];
    const double ddy = y[i + 1] - y[i];
    // Panel vector in wind axes.
    const double dx = ca * ddx + sa * ddy;
    const double dy = ca * ddy - sa * ddx;
    const double ag = 0.5 * (cp_prev + cp_next);
    const double dg = cp_next - cp_prev;
    // Panel midpoint relative to the quarter chord, in wind axes.
    const double xm = 0.5 * (x[i] + x[i + 1]) - 0.25;
    const double ym = 0.5 * (y[i] + y[i + 1]);
    const double ax = ca * xm + sa * ym;
    const double ay = ca * ym - sa * xm;
    out.cl += dx * ag;
    out.cm -= ag * (ax * dx + ay * dy) + dg * (dx * dx + dy * dy) / 12.0;
    cp_prev = cp_next;
  }
  return out;
}

double compute_row_friction_drag(std::span<const BlRow> rows, std::span<const BlStation> stations) {
  const std::size_t count = std::min(rows.size(), stations.size());
  if (count < 5) return 0.0;
  double sum = 0.0;
  for (std::size_t j = 3; j + 1 < count; ++j) {
    const BlStation& a = stations[j];
    const BlStation& b = stations[j + 1];
    if (a.wake() || b.wake()) continue;
    if (a.theta < 1e-10 || b.theta < 1e-10) continue;
    if (a.r_theta < 80.0 || b.r_theta < 80.0) continue;
    double dx = std::fabs(rows[j + 1].x_coord - rows[j].x_coord);
    if (dx < 1e-12) dx = std::fabs(b.x - a.x);
    const double cf_avg = 0.5 * (std::clamp(a.cf, 0.0, 0.02) + std::clamp(b.cf, 0.0, 0.02));
    const double ua = std::max(std::fabs(a.u), 0.01);
    const double ub = std::max(std::fabs(b.u), 0.01);
    const double u2_avg = 0.5 * (ua * ua + ub * ub);
    sum += u2_avg * cf_avg * dx;
  }
  return sum;
}

namespace {

const BlStation* last_airfoil_row(std::span<const BlStation> rows) {
  for (std::size_t i = rows.size(); i-- > 0;)
    if (!rows[i].wake()) return &rows[i];
  return nullptr;
}

const BlStation* last_wake_row(std::span<const BlStation> rows) {
  for (std::size_t i = rows.size(); i-- > 0;)
    if (rows[i].wake()) return &rows[i];
  return nullptr;
}

// 0.99^3.02: the edge-speed factor of the trailing-edge estimate.
constexpr double kTeSpeedFactor = 0.9701039829839554;

}  // namespace

double trailing_edge_drag(std::span<const BlStation> upper, std::span<const BlStation> lower) {
  const BlStation* up = last_airfoil_row(upper);
  const BlStation* lo = last_airfoil_row(lower);
  double t = 0.0;
  if (up && lo) {
    const double u = std::max(std::fabs(up->u) + std::fabs(lo->u), 0.1) * 0.5 / 0.99;
    t = u * u * (up->theta + lo->theta);
  } else if (up) {
    t = up->theta;
  } else if (lo) {
    t = lo->theta;
  } else {
    return 0.0;
  }
  if (std::isfinite(t) && t > 0.0) return 2.0 * t * kTeSpeedFactor;
  return 0.0;
}

double squire_young_drag(std::span<const BlStation> upper, std::span<const BlStation> lower) {
  if (const BlStation* end = last_wake_row(lower)) {
    const double theta = end->theta;
    const double h = theta > 1e-12 ? (end->dstar + std::max(end->dw, 0.0)) / theta : 0.0;
    const double ue = end->u;
    if (std::isfinite(ue) && std::isfinite(theta) && std::isfinite(h) && theta > 0.0) {
      const double cd = 2.0 * theta * std::pow(std::fabs(ue), 0.5 * (5.0 + h));
      if (std::isfinite(cd) && cd > 0.0) return cd;
    }
  }
  return std::max(trailing_edge_drag(upper, lower), 1e-6);
}

namespace {

// A row nothing has been marched into: no wake, node 0, no thickness, no
// edge speed.
bool is_empty_row(const BlRow& r) {
  return !r.wake() && r.panel == 0 && r.theta <= 1e-12 && r.dstr <= 1e-12 && std::fabs(r.uedg) <= 1e-12;
}

}  // namespace

std::size_t active_force_len(std::span<const BlRow> rows, std::size_t count, std::size_t nbl) {
  const std::size_t m = std::min(count, rows.size());
  const std::size_t floor_len = std::min(m, nbl);
  std::size_t k = m;
  while (k > 0 && is_empty_row(rows[k - 1])) --k;
  return (k > 0 && k >= floor_len) ? k : floor_len;
}

ForceView build_force_view(const ViscousState& state, double mach, double re_eff) {
  ForceView view;
  build_force_view(state, mach, re_eff, view);
  return view;
}

void build_force_view(const ViscousState& state, double mach, double re_eff, ForceView& view) {
  const double msq = mach * mach;
  for (Side side : kBothSides) {
    const std::size_t k = side_index(side);
    const auto& rows = state.rows[k];
    const std::size_t len = active_force_len(rows, rows.size(), state.nbl[k]);
    const std::size_t airfoil = std::min(len, state.iblte[k] + 1);
    std::vector<BlStation>& stations = view.stations[k];
    evaluate_stations(rows, airfoil, state.iblte[k], state.first_turbulent_row[k], msq, re_eff, stations);
    // Of the wake only its last station enters the forces.
    if (len > airfoil) stations.push_back(evaluate_station(rows[len - 1], FlowType::Wake, msq, re_eff));
  }
}

ForceCoefficients evaluate_forces(const ViscousState& state, double mach, double re_eff) {
  ForceView view;
  return evaluate_forces(state, mach, re_eff, view);
}

ForceCoefficients evaluate_forces(const ViscousState& state, double mach, double re_eff, ForceView& view) {
  ForceCoefficients f;
  const PanelForces p = compute_panel_forces_from_gamma(state.x, state.y, state.gam, state.alpha, mach);
  f.cl = p.cl;
  f.cm = p.cm;
  build_force_view(state, mach, re_eff, view);
  f.cd_friction = compute_row_friction_drag(state.rows[0], view.stations[0]) +
                  compute_row_friction_drag(state.rows[1], view.stations[1]);
  f.cd = squire_young_drag(view.stations[0], view.stations[1]);
  f.cd_pressure = f.cd - f.cd_friction;
  return f;
}

void store_forces(ViscousState& state, const ForceCoefficients& f) {
  state.cl = f.cl;
  state.cm = f.cm;
  state.cd = f.cd;
  state.cd_friction = f.cd_friction;
  state.cd_pressure = f.cd_pressure;
}

double transition_x(const ViscousState& state, Side which) {
  const std::size_t side = side_index(which);
  const auto& rows = state.rows[side];
  const double xs = state.xssitr[side];
  // A side turbulent only from the row before its trailing-edge row on
  // counts as free of transition.
  if (state.first_turbulent_row[side] + 1 >= state.iblte[side] || !(xs > 0.0) || !std::isfinite(xs) || rows.size() <= 1 ||
      state.x.empty())
    return 1.0;
  const std::size_t last = std::min(rows.size() - 1, state.iblte[side]);
  double px = rows[last].x_coord;
  double py = rows[last].y_coord;
  if (xs <= rows[0].x) {
    px = rows[0].x_coord;
    py = rows[0].y_coord;
  } else {
    for (std::size_t i = 1; i <= last; ++i) {
      if (xs > rows[i].x) continue;
      const BlRow& a = rows[i - 1];
      const BlRow& b = rows[i];
      const double ds = b.x - a.x;
      if (std::fabs(ds) <= 1e-12) {
        px = b.x_coord;
        py = b.y_coord;
      } else {
        const double f = (xs - a.x) / ds;
        px = a.x_coord + f * (b.x_coord - a.x_coord);
        py = a.y_coord + f * (b.y_coord - a.y_coord);
      }
      break;
    }
  }
  if (!std::isfinite(px) || !std::isfinite(py)) return 1.0;
  const double cx = state.x_te - state.x_le;
  const double cy = state.y_te - state.y_le;
  const double c2 = cx * cx + cy * cy;
  if (!(c2 > 1e-12) || !std::isfinite(c2)) return 1.0;
  double t = ((px - state.x_le) * cx + (py - state.y_le) * cy) / c2;
  if (t < 0.0) t = 0.0;
  if (t > 1.0 || !std::isfinite(t)) return 1.0;
  return t;
}

std::optional<double> separation_x(const ViscousState& state, Side which, double mach, double re_eff) {
  const std::size_t side = side_index(which);
  const auto& rows = state.rows[side];
  const std::size_t count = std::min({rows.size(), state.nbl[side], state.iblte[side] + 1});
  for (std::size_t r = 0; r < count; ++r) {
    const FlowType flow = row_flow(r, state.iblte[side], state.first_turbulent_row[side]);
    if (evaluate_station(rows[r], flow, mach * mach, re_eff).cf <= 0.0) return rows[r].x_coord;
  }
  return std::nullopt;
}

}  // namespace velaro
