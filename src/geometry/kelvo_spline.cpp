#include "geometry/kelvo_spline.h"

#include <cmath>
#include <utility>

#include "geometry/natural_spline.h"
#include "geometry/spline_kernels.h"

namespace velaro {

std::optional<KelvoSpline> KelvoSpline::create(std::vector<double> s, std::vector<double> x, std::vector<double> y) {
  if (s.size() != x.size() || s.size() != y.size()) return std::nullopt;
  KelvoSpline out;
  out.xs_ = spline_coeffs(s, x);
  out.ys_ = spline_coeffs(s, y);
  out.s_ = std::move(s);
  out.x_ = std::move(x);
  out.y_ = std::move(y);
  return out;
}

KelvoSpline KelvoSpline::from_points(std::span<const Point> points) {
  std::vector<double> x(points.size()), y(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    x[i] = points[i].x;
    y[i] = points[i].y;
  }
  return *create(chord_length_knots(points), std::move(x), std::move(y));
}

std::vector<double> KelvoSpline::spline_coeffs(std::span<const double> s, std::span<const double> x) {
  if (s.size() < 2 || x.size() < s.size()) return {0.0};
  return spline::segspl(s, x.first(s.size()));
}

std::size_t KelvoSpline::find_segment(std::span<const double> s, double u) { return spline::find_segment(s, u); }

double KelvoSpline::seval_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                             double u) {
  return spline::seval_1d(s, x, xs, u);
}

double KelvoSpline::deval_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                             double u) {
  return spline::deval_1d(s, x, xs, u);
}

double KelvoSpline::d2val_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                             double u) {
  return spline::d2val_1d(s, x, xs, u);
}

double KelvoSpline::curvature(double u) const {
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

std::optional<Spline1D> Spline1D::create(std::span<const double> s, std::span<const double> x) {
  if (s.size() < 2 || s.size() != x.size()) return std::nullopt;
  Spline1D out;
  out.s_.assign(s.begin(), s.end());
  out.x_.assign(x.begin(), x.end());
  out.xs_ = spline::segspl(out.s_, out.x_);
  return out;
}

double Spline1D::eval(double u) const { return spline::seval_1d(s_, x_, xs_, u); }
double Spline1D::deriv(double u) const { return spline::deval_1d(s_, x_, xs_, u); }
double Spline1D::d2val(double u) const { return spline::d2val_1d(s_, x_, xs_, u); }
std::size_t Spline1D::find_segment(double u) const { return spline::find_segment(s_, u); }

}  // namespace velaro
