#include "viscous/forces.h"

#include <algorithm>
#include <cmath>

namespace velaro {

PanelForces compute_panel_forces_from_gamma(std::span<const double> x, std::span<const double> y,
                                            std::span<const double> q, double alpha) {
  const std::size_t n = std::min({x.size(), y.size(), q.size()});
  PanelForces out;
  if (n < 2) return out;
  const double sa = std::sin(alpha);
  const double ca = std::cos(alpha);
  double cp_prev = 1.0 - q[0] * q[0];
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double cp_next = 1.0 - q[i + 1] * q[i + 1];
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

double compute_row_friction_drag(std::span<const ViscousRow> rows) {
  const std::size_t count = rows.size();
  if (count < 5) return 0.0;
  double sum = 0.0;
  for (std::size_t j = 3; j + 1 < count; ++j) {
    const ViscousRow& a = rows[j];
    const ViscousRow& b = rows[j + 1];
    if (a.wake || b.wake) continue;
    if (a.theta < 1e-10 || b.theta < 1e-10) continue;
    if (a.r_theta < 80.0 || b.r_theta < 80.0) continue;
    double dx = std::fabs(b.x_coord - a.x_coord);
    if (dx < 1e-12) dx = std::fabs(b.x - a.x);
    const double cf_avg = 0.5 * (std::clamp(a.cf, 0.0, 0.02) + std::clamp(b.cf, 0.0, 0.02));
    const double ua = std::max(std::fabs(a.ue), 0.01);
    const double ub = std::max(std::fabs(b.ue), 0.01);
    const double u2_avg = 0.5 * (ua * ua + ub * ub);
    sum += u2_avg * cf_avg * dx;
  }
  return sum;
}

namespace {

const ViscousRow* last_airfoil_row(std::span<const ViscousRow> rows) {
  for (std::size_t i = rows.size(); i-- > 0;)
    if (!rows[i].wake) return &rows[i];
  return nullptr;
}

const ViscousRow* last_wake_row(std::span<const ViscousRow> rows) {
  for (std::size_t i = rows.size(); i-- > 0;)
    if (rows[i].wake) return &rows[i];
  return nullptr;
}

// 0.99^3.02: the edge-speed factor of the trailing-edge estimate.
constexpr double kTeSpeedFactor = 0.9701039829839554;

}  // namespace

double trailing_edge_drag(std::span<const ViscousRow> upper, std::span<const ViscousRow> lower) {
  const ViscousRow* up = last_airfoil_row(upper);
  const ViscousRow* lo = last_airfoil_row(lower);
  double t = 0.0;
  if (up && lo) {
    const double u = std::max(std::fabs(up->ue) + std::fabs(lo->ue), 0.1) * 0.5 / 0.99;
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

double squire_young_drag(std::span<const ViscousRow> upper, std::span<const ViscousRow> lower) {
  if (const ViscousRow* end = last_wake_row(lower)) {
    const double theta = end->theta;
    const double h = theta > 1e-12 ? (end->dstar + std::max(end->dw, 0.0)) / theta : 0.0;
    const double ue = end->ue;
    if (std::isfinite(ue) && std::isfinite(theta) && std::isfinite(h) && theta > 0.0) {
      const double cd = 2.0 * theta * std::pow(std::fabs(ue), 0.5 * (5.0 + h));
      if (std::isfinite(cd) && cd > 0.0) return cd;
    }
  }
  return std::max(trailing_edge_drag(upper, lower), 1e-6);
}

}  // namespace velaro
