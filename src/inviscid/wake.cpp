#include "inviscid/wake.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "inviscid/airfoil_influence.h"
#include "inviscid/wake_spacing.h"

namespace velaro {

namespace {

double dot_strengths(const std::vector<double>& coeff, std::span<const double> gamma) {
  const std::size_t m = std::min(coeff.size(), gamma.size());
  double sum = 0.0;
  for (std::size_t j = 0; j < m; ++j) sum += coeff[j] * gamma[j];
  return sum;
}

// Sensitivities of dpsi/dx and dpsi/dy to the node strengths.
struct GradientCoefficients {
  std::vector<double> dx;
  std::vector<double> dy;
};

GradientCoefficients gradient_coefficients(const AirfoilGeometry& geometry, std::size_t field_index, double x,
                                           double y) {
  AirfoilInfluenceRows rows(geometry);
  PanelInfluence r;
  GradientCoefficients c;
  rows.evaluate(field_index, x, y, {.vortex = true, .velocity = true, .nx = 1.0, .ny = 0.0}, r);
  c.dx = std::move(r.dqdg);
  rows.evaluate(field_index, x, y, {.vortex = true, .velocity = true, .nx = 0.0, .ny = 1.0}, r);
  c.dy = std::move(r.dqdg);
  return c;
}

}  // namespace

PsiGradient compute_psi_gradient(const AirfoilGeometry& geometry, std::size_t field_index,
                                 std::span<const double> gamma, double x, double y, double cos_a, double sin_a) {
  const GradientCoefficients c = gradient_coefficients(geometry, field_index, x, y);
  return {-sin_a + dot_strengths(c.dx, gamma), cos_a + dot_strengths(c.dy, gamma)};
}

std::size_t wake_node_count(std::size_t n, double wake_length) {
  if (n < 2 || !(wake_length > 0.0) || !std::isfinite(wake_length)) return 0;
  // The cap only keeps the conversion defined; callers validate the length.
  const double whole = std::min(std::floor(wake_length), 1e6);
  return 10 * static_cast<std::size_t>(whole) + n / 12;
}

WakeGeometry build_wake(const AirfoilGeometry& geometry, std::span<const double> gamma, double alpha,
                        std::size_t nw, double wake_length) {
  WakeGeometry w;
  const std::size_t n = geometry.n;
  if (nw == 0 || n < 2) return w;

  const auto& s = geometry.s;
  const double ds1 = 0.5 * ((s[n - 1] - s[n - 2]) + (s[1] - s[0]));
  w.s = geometric_spacing(nw, ds1, wake_length * geometry.chord);
  w.x.assign(nw, 0.0);
  w.y.assign(nw, 0.0);
  w.nx.assign(nw, 0.0);
  w.ny.assign(nw, 0.0);
  w.apanel.assign(nw, 0.0);

  // First node a hair behind the trailing-edge midpoint, along the mean of
  // the two end tangents of the contour.
  const double sx = 0.5 * (geometry.yp[n - 1] - geometry.yp[0]);
  const double sy = 0.5 * (geometry.xp[0] - geometry.xp[n - 1]);
  const double smod = std::fmax(std::sqrt(sx * sx + sy * sy), 1e-12);
  w.nx[0] = sx / smod;
  w.ny[0] = sy / smod;
  const double x_te = 0.5 * (geometry.x[0] + geometry.x[n - 1]);
  const double y_te = 0.5 * (geometry.y[0] + geometry.y[n - 1]);
  w.x[0] = x_te - 1e-4 * w.ny[0];
  w.y[0] = y_te + 1e-4 * w.nx[0];

  const double ca = std::cos(alpha);
  const double sa = std::sin(alpha);
  for (std::size_t k = 0; k + 1 < nw; ++k) {
    const PsiGradient g = compute_psi_gradient(geometry, n + k, gamma, w.x[k], w.y[k], ca, sa);
    const double gmod = std::fmax(std::sqrt(g.psi_x * g.psi_x + g.psi_y * g.psi_y), 1e-12);
    w.nx[k + 1] = -g.psi_x / gmod;
    w.ny[k + 1] = -g.psi_y / gmod;
    w.apanel[k] = std::atan2(g.psi_y, g.psi_x);
    const double ds = w.s[k + 1] - w.s[k];
    w.x[k + 1] = w.x[k] - ds * w.ny[k + 1];
    w.y[k + 1] = w.y[k] + ds * w.nx[k + 1];
  }
  return w;
}

WakeBaseSpeeds wake_base_speeds(const AirfoilGeometry& geometry, const WakeGeometry& wake,
                                std::span<const double> gamu_0, std::span<const double> gamu_90, double q0_te,
                                double q90_te) {
  WakeBaseSpeeds out;
  const std::size_t nw = wake.size();
  const std::size_t n = geometry.n;
  if (nw == 0 || n < 2) return out;
  out.qinvu_0.assign(nw, 0.0);
  out.qinvu_90.assign(nw, 0.0);
  out.qinvu_0[0] = q0_te;
  out.qinvu_90[0] = q90_te;
  for (std::size_t k = 1; k < nw; ++k) {
    // One pair of coefficient evaluations serves both base solutions:
    // alpha = 0 has free stream (cos, sin) = (1, 0), alpha = 90 has (0, 1).
    const GradientCoefficients c = gradient_coefficients(geometry, n + k, wake.x[k], wake.y[k]);
    const PsiGradient g0{-0.0 + dot_strengths(c.dx, gamu_0), 1.0 + dot_strengths(c.dy, gamu_0)};
    const PsiGradient g90{-1.0 + dot_strengths(c.dx, gamu_90), 0.0 + dot_strengths(c.dy, gamu_90)};
    out.qinvu_0[k] = g0.psi_x * wake.nx[k] + g0.psi_y * wake.ny[k];
    out.qinvu_90[k] = g90.psi_x * wake.nx[k] + g90.psi_y * wake.ny[k];
  }
  return out;
}

}  // namespace velaro
