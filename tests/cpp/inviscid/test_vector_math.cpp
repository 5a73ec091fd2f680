#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "inviscid/vector_math.h"

using namespace velaro;

namespace {

// Distance in units in the last place of the reference value.
double ulps(double value, double reference) {
  if (value == reference) return 0.0;
  const double ulp = std::nextafter(std::fabs(reference), std::numeric_limits<double>::infinity()) - std::fabs(reference);
  return std::fabs(value - reference) / ulp;
}

}  // namespace

// The array kernels (whichever the processor selects) stay within their
// stated one ulp of the exact value, and so within two of the C library's
// scalar functions (themselves within one). Every count from 0 to 9 exercises the
// partial last vector; the inputs span many decades and all four quadrants.
TEST(VectorMath, LogAndArcTangentWithinTheirStatedAccuracy) {
  std::vector<double> x, y;
  for (int e = -30; e <= 30; ++e)
    for (int k = 0; k < 16; ++k) {
      const double r = std::ldexp(1.0 + k / 16.0, e);
      const double a = 2.0 * std::numbers::pi * (k + 0.37) / 16.0 - std::numbers::pi;
      x.push_back(r * std::cos(a));
      y.push_back(r * std::sin(a));
    }
  x.push_back(-1.0), y.push_back(0.0);   // on the branch cut from above
  x.push_back(-1.0), y.push_back(-0.0);  // and from below
  x.push_back(0.0), y.push_back(1.0);
  std::vector<double> rs(x.size()), lg(x.size()), th(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) rs[i] = x[i] * x[i] + y[i] * y[i];
  vmath::log_array(rs.data(), lg.data(), rs.size());
  vmath::atan2_array(y.data(), x.data(), th.data(), x.size());
  double worst_log = 0.0, worst_atan2 = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    worst_log = std::max(worst_log, ulps(lg[i], std::log(rs[i])));
    worst_atan2 = std::max(worst_atan2, ulps(th[i], std::atan2(y[i], x[i])));
  }
  EXPECT_LE(worst_log, 2.0) << vmath::kernel_name();
  EXPECT_LE(worst_atan2, 2.0) << vmath::kernel_name();
  EXPECT_EQ(th[th.size() - 3], std::numbers::pi);
  EXPECT_EQ(th[th.size() - 2], -std::numbers::pi);

  // Short arrays: the tail handling gives the values of the full arrays.
  for (std::size_t count = 0; count <= 9; ++count) {
    std::vector<double> l(count + 1, -7.0), t(count + 1, -7.0);
    vmath::log_array(rs.data() + 5, l.data(), count);
    vmath::atan2_array(y.data() + 5, x.data() + 5, t.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(l[i], lg[5 + i]) << count;
      EXPECT_EQ(t[i], th[5 + i]) << count;
    }
    EXPECT_EQ(l[count], -7.0) << "wrote past the end";
    EXPECT_EQ(t[count], -7.0) << "wrote past the end";
  }
}
