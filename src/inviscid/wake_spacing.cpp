#include "inviscid/wake_spacing.h"

#include <algorithm>
#include <cmath>

namespace velaro {

std::vector<double> geometric_spacing(std::size_t count, double ds1, double smax) {
  if (count == 0) return {};
  if (count == 1) return {0.0};

  const double sigma = smax / std::fmax(ds1, 1e-12);
  const double m = static_cast<double>(count - 1);

  // Starting ratio from the series sum truncated after its cubic term.
  double r = 1.0;
  if (count == 3) {
    r = 1.0 - (m - sigma) / (m * (m - 1.0) / 2.0);
  } else if (count > 3) {
    const double a = m * (m - 1.0) * (m - 2.0) / 6.0;
    const double b = m * (m - 1.0) / 2.0;
    const double disc = std::fmax(0.0, b * b - 4.0 * a * (m - sigma));
    r = (std::sqrt(disc) - b) / (2.0 * a) + 1.0;
  }
  if (!std::isfinite(r)) r = 1.0;

  if (std::abs(r - 1.0) > 1e-12) {
    const double sigma_root = std::pow(sigma, 1.0 / m);
    for (int iter = 0; iter < 100; ++iter) {
      const double rm = std::pow(r, m);
      const double sigman = (rm - 1.0) / (r - 1.0);
      const double sigman_root = std::pow(sigman, 1.0 / m);
      const double res = sigman_root - sigma_root;
      const double dres = sigman_root * (m * std::pow(r, m - 1.0) - sigman) / (rm - 1.0) / m;
      const double step = res / dres;
      // A ratio driven out of the domain (no positive solution exists, or a
      // vanishing derivative) keeps the last usable value.
      if (!std::isfinite(step) || !std::isfinite(r - step)) break;
      r -= step;
      if (std::abs(step) < 1e-5) break;
    }
  }

  std::vector<double> s(count);
  s[0] = 0.0;
  double ds = ds1;
  for (std::size_t k = 0; k + 1 < count; ++k) {
    s[k + 1] = s[k] + ds;
    ds *= r;
  }
  return s;
}

}  // namespace velaro
