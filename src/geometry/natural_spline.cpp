#include "geometry/natural_spline.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velaro {

std::expected<SplineCoeffs, GeometryError> build_natural_spline(std::span<const double> t,
                                                                std::span<const double> y) {
  const std::size_t n = std::min(t.size(), y.size());
  if (n < 2) return std::unexpected(GeometryError::spline_interpolation("need at least 2 points"));
  if (n == 2) {
    const double h = t[1] - t[0];
    if (std::abs(h) < 1e-14) return std::unexpected(GeometryError::spline_interpolation("coincident points"));
    return SplineCoeffs{{y[0]}, {(y[1] - y[0]) / h}, {0.0}, {0.0}};
  }

  std::vector<double> h(n - 1);
  for (std::size_t j = 0; j + 1 < n; ++j) {
    h[j] = t[j + 1] - t[j];
    if (std::abs(h[j]) < 1e-14) {
      return std::unexpected(GeometryError::spline_interpolation("coincident knots in spline"));
    }
  }

  // Continuity of the first derivative at the interior knots gives a
  // tridiagonal system for c[1..n-2]; c[0] = c[n-1] = 0 (natural ends).
  const std::size_t m = n - 2;
  std::vector<double> diag(m), rhs(m), l(m), z(m);
  for (std::size_t j = 0; j < m; ++j) {
    diag[j] = 2.0 * (h[j] + h[j + 1]);
    rhs[j] = 3.0 * ((y[j + 2] - y[j + 1]) / h[j + 1] - (y[j + 1] - y[j]) / h[j]);
  }
  l[0] = (m > 1) ? h[1] / diag[0] : 0.0;
  z[0] = rhs[0] / diag[0];
  for (std::size_t k = 1; k < m; ++k) {
    const double p = diag[k] - l[k - 1] * h[k];
    l[k] = (k + 1 < m) ? h[k + 1] / p : 0.0;
    z[k] = (rhs[k] - h[k] * z[k - 1]) / p;
  }
  std::vector<double> c(n, 0.0);
  c[m] = z[m - 1];
  for (std::size_t k = m - 1; k-- > 0;) c[k + 1] = z[k] - l[k] * c[k + 2];

  SplineCoeffs out;
  out.a.resize(n - 1);
  out.b.resize(n - 1);
  out.c.resize(n - 1);
  out.d.resize(n - 1);
  for (std::size_t j = 0; j + 1 < n; ++j) {
    out.a[j] = y[j];
    out.b[j] = (y[j + 1] - y[j]) / h[j] - h[j] * (2.0 * c[j] + c[j + 1]) / 3.0;
    out.c[j] = c[j];
    out.d[j] = (c[j + 1] - c[j]) / (3.0 * h[j]);
  }
  return out;
}

double evaluate_spline(std::span<const double> t, const SplineCoeffs& coeffs, double u) {
  const std::size_t segments = std::min({coeffs.a.size(), coeffs.b.size(), coeffs.c.size(), coeffs.d.size()});
  if (segments == 0 || t.empty() || std::isnan(u)) return std::numeric_limits<double>::quiet_NaN();
  // Segment j holds u when t[j] <= u < t[j+1]; below the first knot the first
  // segment, beyond the last the last one is used.
  const auto knots = t.first(std::min(t.size(), segments + 1));
  const std::size_t above = static_cast<std::size_t>(std::upper_bound(knots.begin(), knots.end(), u) - knots.begin());
  const std::size_t j = std::min(above == 0 ? std::size_t{0} : above - 1, segments - 1);
  const double w = u - t[j];
  return coeffs.d[j] * w * w * w + (coeffs.c[j] * w * w + (coeffs.b[j] * w + coeffs.a[j]));
}

std::vector<double> chord_length_knots(std::span<const Point> points) {
  std::vector<double> s(points.size(), 0.0);
  for (std::size_t i = 1; i < points.size(); ++i) {
    const double dx = points[i].x - points[i - 1].x;
    const double dy = points[i].y - points[i - 1].y;
    s[i] = s[i - 1] + std::sqrt(dx * dx + dy * dy);
  }
  return s;
}

std::expected<CubicSpline, GeometryError> CubicSpline::from_points(std::span<const Point> points) {
  CubicSpline spline;
  spline.s_ = chord_length_knots(points);
  spline.points_.assign(points.begin(), points.end());
  std::vector<double> xv(points.size()), yv(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    xv[i] = points[i].x;
    yv[i] = points[i].y;
  }
  auto xc = build_natural_spline(spline.s_, xv);
  if (!xc) return std::unexpected(xc.error());
  auto yc = build_natural_spline(spline.s_, yv);
  if (!yc) return std::unexpected(yc.error());
  spline.x_ = std::move(*xc);
  spline.y_ = std::move(*yc);
  return spline;
}

Point CubicSpline::evaluate(double u) const { return {evaluate_spline(s_, x_, u), evaluate_spline(s_, y_, u)}; }

}  // namespace velaro
