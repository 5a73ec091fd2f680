#pragma once
// Natural cubic splines (zero second derivative at both ends) and the
// contour spline built on them, parametrised by cumulative chord length.
#include <cstddef>
#include <expected>
#include <span>
#include <vector>

#include "geometry/geometry_error.h"
#include "geometry/point.h"

namespace velaro {

// Piecewise cubic of one coordinate over m + 1 knots: on segment j the value
// at u is a[j] + b[j] w + c[j] w^2 + d[j] w^3 with w = u - t[j].
struct SplineCoeffs {
  std::vector<double> a;
  std::vector<double> b;
  std::vector<double> c;
  std::vector<double> d;
};

// Natural cubic spline through (t[i], y[i]). Fails with SplineInterpolation
// for fewer than two knots or knots closer than 1e-14.
std::expected<SplineCoeffs, GeometryError> build_natural_spline(std::span<const double> t,
                                                                std::span<const double> y);

// Value at u; the end cubics are extrapolated outside the knot range. A NaN
// parameter (or an empty spline) gives NaN without searching the knots.
double evaluate_spline(std::span<const double> t, const SplineCoeffs& coeffs, double u);

// x(s), y(s) through a contour, s being the cumulative chord length.
class CubicSpline {
 public:
  // Fails like build_natural_spline (fewer than two points, or consecutive
  // points closer than 1e-14).
  static std::expected<CubicSpline, GeometryError> from_points(std::span<const Point> points);

  const std::vector<double>& knots() const { return s_; }
  const std::vector<Point>& points() const { return points_; }
  const SplineCoeffs& x_coeffs() const { return x_; }
  const SplineCoeffs& y_coeffs() const { return y_; }
  double total_length() const { return s_.empty() ? 0.0 : s_.back(); }

  Point evaluate(double u) const;

 private:
  std::vector<double> s_;
  std::vector<Point> points_;
  SplineCoeffs x_;
  SplineCoeffs y_;
};

// Cumulative chord length of a point list: s[0] = 0, s[i] = s[i-1] + |p[i] - p[i-1]|.
std::vector<double> chord_length_knots(std::span<const Point> points);

}  // namespace velaro
