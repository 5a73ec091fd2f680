#include "inviscid/panel_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/text_format.h"
#include "geometry/spline_kernels.h"

namespace velaro {

std::expected<AirfoilGeometry, InviscidError> AirfoilGeometry::from_points(std::span<const Point> points) {
  const std::size_t n = points.size();
  if (n < kMinNodes) return std::unexpected(InviscidError::insufficient_points(n));
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y))
      return std::unexpected(InviscidError::spline_failed(text::printf("non-finite coordinate at node %zu", i)));
  }

  AirfoilGeometry g;
  g.n = n;
  g.x.resize(n);
  g.y.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    g.x[i] = points[i].x;
    g.y[i] = points[i].y;
  }

  g.s.assign(n, 0.0);
  for (std::size_t k = 1; k < n; ++k) {
    const double dx = g.x[k] - g.x[k - 1];
    const double dy = g.y[k] - g.y[k - 1];
    g.s[k] = g.s[k - 1] + std::sqrt(dx * dx + dy * dy);
  }
  // Coincident consecutive nodes would give zero-length spline intervals.
  for (std::size_t j = 0; j + 1 < n; ++j) {
    if (std::abs(g.s[j + 1] - g.s[j]) < 1e-12) return std::unexpected(InviscidError::duplicate_points(j));
  }

  g.xp = spline::knot_slopes(g.s, g.x);
  g.yp = spline::knot_slopes(g.s, g.y);

  g.nx.resize(n);
  g.ny.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double m = std::sqrt(g.xp[i] * g.xp[i] + g.yp[i] * g.yp[i]);
    if (m < 1e-12) {
      g.nx[i] = -1.0;
      g.ny[i] = 0.0;
    } else {
      g.nx[i] = g.yp[i] / m;
      g.ny[i] = -g.xp[i] / m;
    }
  }

  g.apanel.resize(n);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double dx = g.x[i + 1] - g.x[i];
    const double dy = g.y[i + 1] - g.y[i];
    if (std::abs(dx) < 1e-12 && std::abs(dy) < 1e-12) {
      g.apanel[i] = std::atan2(-g.ny[i], -g.nx[i]);
    } else {
      g.apanel[i] = std::atan2(dx, -dy);
    }
  }
  g.apanel[n - 1] = std::atan2(-(g.x[0] - g.x[n - 1]), g.y[0] - g.y[n - 1]) + std::numbers::pi;

  g.x_te = (g.x[0] + g.x[n - 1]) / 2.0;
  g.y_te = (g.y[0] + g.y[n - 1]) / 2.0;
  const double gx = g.x[n - 1] - g.x[0];
  const double gy = g.y[n - 1] - g.y[0];
  g.dste = std::sqrt(gx * gx + gy * gy);
  // Bisector direction from the first and last airfoil panels.
  const double a = (std::sin(g.apanel[0]) - std::sin(g.apanel[n - 2])) / 2.0;
  const double b = (std::cos(g.apanel[n - 2]) - std::cos(g.apanel[0])) / 2.0;
  g.ante = gy * a - gx * b;
  g.aste = b * gy + a * gx;

  g.s_le = spline::leading_edge_arc(g.s, g.x, g.xp, g.y, g.yp, g.x_te, g.y_te);
  g.x_le = spline::value_at(g.s, g.x, g.xp, g.s_le);
  g.y_le = spline::value_at(g.s, g.y, g.yp, g.s_le);

  g.chord = std::sqrt((g.x_te - g.x_le) * (g.x_te - g.x_le) + (g.y_te - g.y_le) * (g.y_te - g.y_le));
  if (g.chord == 0.0 || !std::isfinite(g.chord)) return std::unexpected(InviscidError::invalid_chord(g.chord));
  g.sharp = 0.0001 * g.chord > g.dste;
  return g;
}

std::optional<BisectorControl> sharp_te_bisector_control(const AirfoilGeometry& geom) {
  const std::size_t n = geom.n;
  if (n <= 2 || !geom.sharp) return std::nullopt;
  const double bx = geom.xp[n - 1] - geom.xp[0];
  const double by = geom.yp[n - 1] - geom.yp[0];
  const double len = std::max(std::sqrt(bx * bx + by * by), 1e-12);
  const double cb = bx / len;
  const double sb = by / len;
  const double fx = geom.x[1] - geom.x[0], fy = geom.y[1] - geom.y[0];
  const double lx = geom.x[n - 1] - geom.x[n - 2], ly = geom.y[n - 1] - geom.y[n - 2];
  const double d_first = std::sqrt(fx * fx + fy * fy);
  const double d_last = std::sqrt(lx * lx + ly * ly);
  const double dmin = 0.1 * std::fmin(d_first, d_last);
  return BisectorControl{geom.x_te - dmin * cb, geom.y_te - dmin * sb, -sb, cb};
}

}  // namespace velaro
