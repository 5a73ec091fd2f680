#include "geometry/spline_kernels.h"

#include <algorithm>
#include <cmath>

namespace velaro::spline {

std::vector<double> knot_slopes(std::span<const double> s, std::span<const double> x) {
  const std::size_t n = s.size();
  std::vector<double> xs(n, 0.0);
  if (n < 2) return xs;
  if (n == 2) {
    const double slope = (x[1] - x[0]) / (s[1] - s[0]);
    xs[0] = xs[1] = slope;
    return xs;
  }
  // Tridiagonal system: sub-diagonal lo, diagonal di, super-diagonal up.
  std::vector<double> lo(n, 0.0), di(n, 0.0), up(n, 0.0);
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const double dsm = s[i] - s[i - 1];
    const double dsp = s[i + 1] - s[i];
    lo[i] = dsp;
    di[i] = 2.0 * (dsm + dsp);
    up[i] = dsm;
    xs[i] = 3.0 * ((x[i + 1] - x[i]) * dsm / dsp + (x[i] - x[i - 1]) * dsp / dsm);
  }
  // Zero third derivative in the first and last intervals.
  di[0] = 1.0;
  up[0] = 1.0;
  xs[0] = 2.0 * (x[1] - x[0]) / (s[1] - s[0]);
  lo[n - 1] = 1.0;
  di[n - 1] = 1.0;
  xs[n - 1] = 2.0 * (x[n - 1] - x[n - 2]) / (s[n - 1] - s[n - 2]);

  // Forward elimination and back substitution without pivoting.
  for (std::size_t j = 1; j < n; ++j) {
    const double f = lo[j] / di[j - 1];
    di[j] -= up[j - 1] * f;
    xs[j] -= f * xs[j - 1];
  }
  xs[n - 1] /= di[n - 1];
  for (std::size_t j = n - 1; j-- > 0;) xs[j] = (xs[j] - up[j] * xs[j + 1]) / di[j];
  return xs;
}

std::size_t find_segment(std::span<const double> s, double u) {
  const std::size_t n = s.size();
  if (n < 2 || u <= s[0]) return 1;
  if (u >= s[n - 1]) return n - 1;
  std::size_t lo = 0;
  std::size_t hi = n - 1;
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    if (u < s[mid]) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return hi;
}

HermiteInterval hermite_interval(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                                 std::size_t i, double u) {
  const double ds = s[i] - s[i - 1];
  const double t = (u - s[i - 1]) / ds;
  const double cx1 = ds * xs[i - 1] - x[i] + x[i - 1];
  const double cx2 = ds * xs[i] - x[i] + x[i - 1];
  return {ds, t, cx1, cx2};
}

double value_at(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u) {
  if (s.size() < 2) return x.empty() ? 0.0 : x[0];
  const std::size_t i = find_segment(s, u);
  const auto h = hermite_interval(s, x, xs, i, u);
  const double t = h.t;
  return t * x[i] + (1.0 - t) * x[i - 1] + (t - t * t) * ((1.0 - t) * h.cx1 - t * h.cx2);
}

double slope_at(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u) {
  if (s.size() < 2) return 0.0;
  const std::size_t i = find_segment(s, u);
  const auto h = hermite_interval(s, x, xs, i, u);
  const double t = h.t;
  return (x[i] - x[i - 1] + (1.0 - 4.0 * t + 3.0 * t * t) * h.cx1 + t * (3.0 * t - 2.0) * h.cx2) / h.ds;
}

double second_derivative_at(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                            double u) {
  if (s.size() < 2) return 0.0;
  const std::size_t i = find_segment(s, u);
  const auto h = hermite_interval(s, x, xs, i, u);
  const double t = h.t;
  return ((6.0 * t - 4.0) * h.cx1 + (6.0 * t - 2.0) * h.cx2) / (h.ds * h.ds);
}

double leading_edge_arc(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                        std::span<const double> y, std::span<const double> ys, double x_te, double y_te) {
  const std::size_t n = s.size();
  if (n == 0) return 0.0;

  std::size_t start = n / 2;
  for (std::size_t k = 2; k + 3 <= n; ++k) {
    const double dot = (x[k] - x_te) * (x[k + 1] - x[k]) + (y[k] - y_te) * (y[k + 1] - y[k]);
    if (dot < 0.0) {
      start = k;
      break;
    }
  }
  double sle = s[start];
  if (start != 0 && !(std::abs(s[start] - s[start - 1]) >= 1e-12)) return sle;

  const double tolerance = 1e-5 * (s[n - 1] - s[0]);
  for (int iter = 0; iter < 50; ++iter) {
    const double xc = value_at(s, x, xs, sle) - x_te;
    const double yc = value_at(s, y, ys, sle) - y_te;
    const double xd = slope_at(s, x, xs, sle);
    const double yd = slope_at(s, y, ys, sle);
    const double xdd = second_derivative_at(s, x, xs, sle);
    const double ydd = second_derivative_at(s, y, ys, sle);
    const double res = xc * xd + yc * yd;
    const double der = xd * xd + yd * yd + xc * xdd + yc * ydd;
    if (std::abs(der) < 1e-20) break;
    const double limit = 0.02 * std::abs(xc + yc);
    const double step = std::clamp(-res / der, -limit, limit);
    sle += step;
    // A non-finite step cannot improve the estimate; stop rather than spin.
    if (!(std::abs(step) >= tolerance)) break;
  }
  return sle;
}

}  // namespace velaro::spline
