#include "geometry/naca.h"

#include <cmath>

namespace velaro {

std::vector<Point> generate_naca4(std::uint32_t designation, std::size_t n_points_per_side) {
  const double m = static_cast<double>(designation / 1000) / 100.0;
  const double p = static_cast<double>((designation % 1000) / 100) / 10.0;
  const double t = static_cast<double>(designation % 100) / 100.0;

  if (n_points_per_side == 0) return {};
  const std::size_t nint = n_points_per_side - 1;

  std::vector<double> x(nint + 1), upper(nint + 1), lower(nint + 1);
  for (std::size_t i = 0; i < nint; ++i) {
    const double f = static_cast<double>(i) / static_cast<double>(nint);
    x[i] = 1.0 - 2.5 * f * std::pow(1.0 - f, 1.5) - std::pow(1.0 - f, 2.5);
  }
  x[nint] = 1.0;

  for (std::size_t i = 0; i <= nint; ++i) {
    const double xi = x[i];
    // The quartic coefficient -0.1015 leaves the trailing edge open.
    const double x2 = xi * xi;
    const double x3 = x2 * xi;
    const double x4 = x2 * x2;
    const double yt = (0.2969 * std::sqrt(xi) - 0.126 * xi - 0.3516 * x2 + 0.2843 * x3 - 0.1015 * x4) * t / 0.2;
    double yc = 0.0;
    if (p > 0.0) {
      if (xi < p) {
        yc = (2.0 * p * xi - xi * xi) * (m / (p * p));
      } else {
        yc = (2.0 * p * xi + (1.0 - 2.0 * p) - xi * xi) * (m / ((1.0 - p) * (1.0 - p)));
      }
    }
    upper[i] = yc + yt;
    lower[i] = yc - yt;
  }

  std::vector<Point> pts;
  pts.reserve(2 * nint + 1);
  for (std::size_t i = nint + 1; i-- > 0;) pts.push_back({x[i], upper[i]});
  for (std::size_t i = 1; i <= nint; ++i) pts.push_back({x[i], lower[i]});
  return pts;
}

}  // namespace velaro
