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

// Sensitivities of dpsi/dx and dpsi/dy to the node strengths at one field
// point, evaluated with rows built once for the geometry.
class GradientCoefficients {
 public:
  explicit GradientCoefficients(const AirfoilGeometry& geometry) : rows_(geometry) {}

  // Both components from one evaluation: the logarithms, angles and panel
  // frames of the field point are shared by the two directions.
  void evaluate(std::size_t field_index, double x, double y) {
    rows_.evaluate(field_index, x, y,
                   {.vortex = true,
                    .velocity = true,
                    .nx = 1.0,
                    .ny = 0.0,
                    .second_velocity = true,
                    .nx2 = 0.0,
                    .ny2 = 1.0},
                   r_);
    dx.swap(r_.dqdg);
    dy.swap(r_.dqdg2);
  }
  PsiGradient gradient(std::span<const double> gamma, double cos_a, double sin_a) const {
    return {-sin_a + dot_strengths(dx, gamma), cos_a + dot_strengths(dy, gamma)};
  }

  std::vector<double> dx, dy;

 private:
  AirfoilInfluenceRows rows_;
  PanelInfluence r_;
};

// Speeds of the two base solutions along the normal (nx, ny) from the
// coefficients at a wake node: alpha = 0 has free stream (cos, sin) = (1, 0),
// alpha = 90 has (0, 1).
void base_speeds_at(const GradientCoefficients& c, std::span<const double> gamu_0, std::span<const double> gamu_90,
                    double nx, double ny, double& q0, double& q90) {
  const PsiGradient g0{-0.0 + dot_strengths(c.dx, gamu_0), 1.0 + dot_strengths(c.dy, gamu_0)};
  const PsiGradient g90{-1.0 + dot_strengths(c.dx, gamu_90), 0.0 + dot_strengths(c.dy, gamu_90)};
  q0 = g0.psi_x * nx + g0.psi_y * ny;
  q90 = g90.psi_x * nx + g90.psi_y * ny;
}

// Lays out the wake (see build_wake); `at_node(k, wake)` is called once the
// coefficients of node k (k = 0 .. nw - 2), which place node k + 1, are in
// `c`.
template <typename AtNode>
WakeGeometry lay_wake(const AirfoilGeometry& geometry, GradientCoefficients& c, std::span<const double> gamma,
                      double alpha, std::size_t nw, double wake_length, AtNode&& at_node) {
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
    c.evaluate(n + k, w.x[k], w.y[k]);
    at_node(k, w);
    const PsiGradient g = c.gradient(gamma, ca, sa);
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

WakeBaseSpeeds first_base_speeds(std::size_t nw, double q0_te, double q90_te) {
  WakeBaseSpeeds out;
  out.qinvu_0.assign(nw, 0.0);
  out.qinvu_90.assign(nw, 0.0);
  out.qinvu_0[0] = q0_te;
  out.qinvu_90[0] = q90_te;
  return out;
}

}  // namespace

PsiGradient compute_psi_gradient(const AirfoilGeometry& geometry, std::size_t field_index,
                                 std::span<const double> gamma, double x, double y, double cos_a, double sin_a) {
  GradientCoefficients c(geometry);
  c.evaluate(field_index, x, y);
  return c.gradient(gamma, cos_a, sin_a);
}

std::size_t wake_node_count(std::size_t n, double wake_length) {
  if (n < 2 || !(wake_length > 0.0) || !std::isfinite(wake_length)) return 0;
  // The cap only keeps the conversion defined; callers validate the length.
  const double whole = std::min(std::floor(wake_length), 1e6);
  return 10 * static_cast<std::size_t>(whole) + n / 12;
}

WakeGeometry build_wake(const AirfoilGeometry& geometry, std::span<const double> gamma, double alpha,
                        std::size_t nw, double wake_length) {
  if (nw == 0 || geometry.n < 2) return {};
  GradientCoefficients c(geometry);
  return lay_wake(geometry, c, gamma, alpha, nw, wake_length, [](std::size_t, const WakeGeometry&) {});
}

WakeBaseSpeeds wake_base_speeds(const AirfoilGeometry& geometry, const WakeGeometry& wake,
                                std::span<const double> gamu_0, std::span<const double> gamu_90, double q0_te,
                                double q90_te) {
  const std::size_t nw = wake.size();
  const std::size_t n = geometry.n;
  if (nw == 0 || n < 2) return {};
  WakeBaseSpeeds out = first_base_speeds(nw, q0_te, q90_te);
  GradientCoefficients c(geometry);
  for (std::size_t k = 1; k < nw; ++k) {
    c.evaluate(n + k, wake.x[k], wake.y[k]);
    base_speeds_at(c, gamu_0, gamu_90, wake.nx[k], wake.ny[k], out.qinvu_0[k], out.qinvu_90[k]);
  }
  return out;
}

WakeWithSpeeds build_wake_with_base_speeds(const AirfoilGeometry& geometry, std::span<const double> gamma,
                                           double alpha, std::size_t nw, double wake_length,
                                           std::span<const double> gamu_0, std::span<const double> gamu_90,
                                           double q0_te, double q90_te) {
  const std::size_t n = geometry.n;
  if (nw == 0 || n < 2) return {};
  WakeWithSpeeds out;
  out.speeds = first_base_speeds(nw, q0_te, q90_te);
  GradientCoefficients c(geometry);
  // The coefficients that place node k + 1 are those of node k's speeds.
  out.wake = lay_wake(geometry, c, gamma, alpha, nw, wake_length, [&](std::size_t k, const WakeGeometry& w) {
    if (k >= 1) base_speeds_at(c, gamu_0, gamu_90, w.nx[k], w.ny[k], out.speeds.qinvu_0[k], out.speeds.qinvu_90[k]);
  });
  const std::size_t last = nw - 1;
  if (last >= 1) {
    c.evaluate(n + last, out.wake.x[last], out.wake.y[last]);
    base_speeds_at(c, gamu_0, gamu_90, out.wake.nx[last], out.wake.ny[last], out.speeds.qinvu_0[last],
                   out.speeds.qinvu_90[last]);
  }
  return out;
}

}  // namespace velaro
