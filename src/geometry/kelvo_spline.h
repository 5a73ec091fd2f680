#pragma once
// Knot-value-plus-slope cubic splines with zero third derivative in the end
// intervals, evaluated in Hermite form: KelvoSpline carries x(s) and y(s)
// over one arc-length parameter, Spline1D a single coordinate. Both evaluate
// through the shared kernels of geometry/spline_kernels.h.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "geometry/point.h"

namespace velaro {

class KelvoSpline {
 public:
  // Spline through (s[i], x[i], y[i]); nothing when the lengths differ.
  static std::optional<KelvoSpline> create(std::vector<double> s, std::vector<double> x, std::vector<double> y);
  // Spline through a point list over its cumulative chord length.
  static KelvoSpline from_points(std::span<const Point> points);

  // Slopes dx/ds at the knots. Fewer than two knots give a single 0.0.
  // Knot spacing is not checked: coincident knots give non-finite slopes.
  static std::vector<double> spline_coeffs(std::span<const double> s, std::span<const double> x);
  // Interval index i (the interval [s[i-1], s[i]]) holding u.
  static std::size_t find_segment(std::span<const double> s, double u);
  static double seval_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u);
  static double deval_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u);
  static double d2val_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u);

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

class Spline1D {
 public:
  // Spline of x over s; nothing when there are fewer than two knots or the
  // lengths differ.
  static std::optional<Spline1D> create(std::span<const double> s, std::span<const double> x);

  double eval(double u) const;
  double deriv(double u) const;
  double d2val(double u) const;
  std::size_t find_segment(double u) const;

  const std::vector<double>& s() const { return s_; }
  const std::vector<double>& x() const { return x_; }
  const std::vector<double>& xs() const { return xs_; }

 private:
  std::vector<double> s_, x_, xs_;
};

}  // namespace velaro
