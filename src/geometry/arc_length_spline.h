#pragma once
// Knot-value-plus-slope cubic splines with zero third derivative in the end
// intervals, evaluated in Hermite form: ArcLengthSpline carries x(s) and y(s)
// of a contour over its cumulative chord length s (the polygon's arc
// length), ScalarSpline a single value over a parameter. Both evaluate
// through the shared kernels of geometry/spline_kernels.h.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "geometry/point.h"

namespace velaro {

class ArcLengthSpline {
 public:
  // Spline through (s[i], x[i], y[i]); nothing when the lengths differ.
  static std::optional<ArcLengthSpline> create(std::vector<double> s, std::vector<double> x,
                                               std::vector<double> y);
  // Spline through a point list over its cumulative chord length.
  static ArcLengthSpline from_points(std::span<const Point> points);

  // Slopes dx/ds at the knots. Fewer than two knots give a single 0.0.
  // Knot spacing is not checked: coincident knots give non-finite slopes.
  static std::vector<double> knot_slopes(std::span<const double> s, std::span<const double> x);

  // Signed curvature at u, positive where the curve turns counter-clockwise
  // with increasing s; 0 with fewer than two knots.
  double curvature(double u) const;

  const std::vector<double>& s() const { return s_; }
  const std::vector<double>& x() const { return x_; }
  const std::vector<double>& y() const { return y_; }
  const std::vector<double>& xs() const { return xs_; }
  const std::vector<double>& ys() const { return ys_; }

 private:
  std::vector<double> s_, x_, y_, xs_, ys_;
};

class ScalarSpline {
 public:
  // Spline of x over s; nothing when there are fewer than two knots or the
  // lengths differ.
  static std::optional<ScalarSpline> create(std::span<const double> s, std::span<const double> x);

  // Value, first and second derivative at u; the end cubics extrapolate.
  double eval(double u) const;
  double deriv(double u) const;
  double second_derivative(double u) const;
  // Interval index i (the interval [s[i-1], s[i]]) holding u.
  std::size_t find_segment(double u) const;

  const std::vector<double>& s() const { return s_; }
  const std::vector<double>& x() const { return x_; }
  const std::vector<double>& xs() const { return xs_; }

 private:
  std::vector<double> s_, x_, xs_;
};

}  // namespace velaro
