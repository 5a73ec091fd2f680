#include "geometry/arc_length_spline.h"

#include <cmath>
#include <utility>

#include "geometry/natural_spline.h"
#include "geometry/spline_kernels.h"

namespace velaro {

std::optional<ArcLengthSpline> ArcLengthSpline::create(std::vector<double> s, std::vector<double> x,
                                                       std::vector<double> y) {
  if (s.size() != x.size() || s.size() != y.size()) return std::nullopt;
  ArcLengthSpline out;
  out.xs_ = knot_slopes(s, x);
  out.ys_ = knot_slopes(s, y);
  out.s_ = std::move(s);
  out.x_ = std::move(x);
  out.y_ = std::move(y);
  return out;
}

ArcLengthSpline ArcLengthSpline::from_points(std::span<const Point> points) {
  std::vector<double> x(points.size()), y(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    x[i] = points[i].x;
    y[i] = points[i].y;
  }
  return *create(chord_length_knots(points), std::move(x), std::move(y));
}

std::vector<double> ArcLengthSpline::knot_slopes(std::span<const double> s, std::span<const double> x) {
  if (s.size() < 2 || x.size() < s.size()) return {0.0};
  return spline::knot_slopes(s, x.first(s.size()));
}

double ArcLengthSpline::curvature(double u) const {
  if (s_.size() < 2) return 0.0;
  const std::size_t i = spline::find_segment(s_, u);
  const auto hx = spline::hermite_interval(s_, x_, xs_, i, u);
  const auto hy = spline::hermite_interval(s_, y_, ys_, i, u);
  const double t = hx.t;
  // Derivatives with respect to the local coordinate t; the curvature does
  // not depend on the parametrisation.
  const double xd = x_[i] - x_[i - 1] + (1.0 - 4.0 * t + 3.0 * t * t) * hx.cx1 + t * (3.0 * t - 2.0) * hx.cx2;
  const double xdd = (6.0 * t - 4.0) * hx.cx1 + (6.0 * t - 2.0) * hx.cx2;
  const double yd = y_[i] - y_[i - 1] + (1.0 - 4.0 * t + 3.0 * t * t) * hy.cx1 + t * (3.0 * t - 2.0) * hy.cx2;
  const double ydd = (6.0 * t - 4.0) * hy.cx1 + (6.0 * t - 2.0) * hy.cx2;
  double sd = std::sqrt(xd * xd + yd * yd);
  const double floor = 0.001 * hx.ds;
  if (std::isnan(sd) || sd < floor) sd = floor;
  return (xd * ydd - yd * xdd) / (sd * sd * sd);
}

std::optional<ScalarSpline> ScalarSpline::create(std::span<const double> s, std::span<const double> x) {
  if (s.size() < 2 || s.size() != x.size()) return std::nullopt;
  ScalarSpline out;
  out.s_.assign(s.begin(), s.end());
  out.x_.assign(x.begin(), x.end());
  out.xs_ = spline::knot_slopes(out.s_, out.x_);
  return out;
}

double ScalarSpline::eval(double u) const { return spline::value_at(s_, x_, xs_, u); }
double ScalarSpline::deriv(double u) const { return spline::slope_at(s_, x_, xs_, u); }
double ScalarSpline::second_derivative(double u) const { return spline::second_derivative_at(s_, x_, xs_, u); }
std::size_t ScalarSpline::find_segment(double u) const { return spline::find_segment(s_, u); }

}  // namespace velaro
