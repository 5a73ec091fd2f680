#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/spline_kernels.h"

namespace sp = velaro::spline;

TEST(SplineKernels, SegmentSearchEnds) {
  std::vector<double> s{0.0, 1.0, 2.0, 3.0};
  EXPECT_EQ(sp::find_segment(s, 0.0), 1u);
  EXPECT_EQ(sp::find_segment(s, -5.0), 1u);
  EXPECT_EQ(sp::find_segment(s, 3.0), 3u);
  EXPECT_EQ(sp::find_segment(s, 9.0), 3u);
  EXPECT_EQ(sp::find_segment(s, 1.0), 2u);
  EXPECT_EQ(sp::find_segment(s, 1.5), 2u);
}

TEST(SplineKernels, TwoPointsLinearAndCollinearConstantSlope) {
  std::vector<double> s{0.0, 2.0}, x{1.0, 5.0};
  auto xs = sp::knot_slopes(s, x);
  EXPECT_DOUBLE_EQ(xs[0], 2.0);
  EXPECT_DOUBLE_EQ(xs[1], 2.0);
  EXPECT_DOUBLE_EQ(sp::value_at(s, x, xs, 0.5), 2.0);

  std::vector<double> s3{0.0, 1.0, 2.0}, x3{0.0, 3.0, 6.0};
  auto xs3 = sp::knot_slopes(s3, x3);
  for (double v : xs3) EXPECT_NEAR(v, 3.0, 1e-14);
  EXPECT_NEAR(sp::second_derivative_at(s3, x3, xs3, 0.7), 0.0, 1e-13);
}

TEST(SplineKernels, DerivativesAreConsistentAndCubicEndsHoldQuadratics) {
  // Zero-third-derivative end conditions reproduce a quadratic exactly.
  std::vector<double> s, x;
  for (int i = 0; i <= 12; ++i) {
    const double u = 0.1 * i + 0.01 * i * i;
    s.push_back(u);
    x.push_back(1.0 - 2.0 * u + 0.75 * u * u);
  }
  auto xs = sp::knot_slopes(s, x);
  for (double u : {0.05, 0.33, 0.9, 1.7, 2.6}) {
    EXPECT_NEAR(sp::value_at(s, x, xs, u), 1.0 - 2.0 * u + 0.75 * u * u, 1e-12);
    EXPECT_NEAR(sp::slope_at(s, x, xs, u), -2.0 + 1.5 * u, 1e-11);
    EXPECT_NEAR(sp::second_derivative_at(s, x, xs, u), 1.5, 1e-9);
  }
  // second_derivative is the derivative of deval inside an interval.
  std::vector<double> y;
  for (double u : s) y.push_back(std::sin(3.0 * u));
  auto ys = sp::knot_slopes(s, y);
  for (double u : {0.15, 0.62, 1.33, 2.2}) {
    const double h = 1e-6;
    const double fd = (sp::slope_at(s, y, ys, u + h) - sp::slope_at(s, y, ys, u - h)) / (2 * h);
    EXPECT_NEAR(sp::second_derivative_at(s, y, ys, u), fd, 1e-6);
    const double fd1 = (sp::value_at(s, y, ys, u + h) - sp::value_at(s, y, ys, u - h)) / (2 * h);
    EXPECT_NEAR(sp::slope_at(s, y, ys, u), fd1, 1e-7);
  }
}
