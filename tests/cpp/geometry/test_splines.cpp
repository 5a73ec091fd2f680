#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "geometry/arc_length_spline.h"
#include "geometry/natural_spline.h"
#include "geometry/spline_kernels.h"

using velaro::build_natural_spline;
using velaro::CubicSpline;
using velaro::evaluate_spline;
using velaro::ArcLengthSpline;
using velaro::Point;
using velaro::ScalarSpline;

namespace {

// C2 piecewise cubic with S'' = 1 - |t| on [-1, 1]: zero curvature at both
// ends, so it is the natural spline through its samples on any knot set
// that contains 0.
double natural_shape(double t) { return 0.5 * t * t - std::abs(t * t * t) / 6.0 + 0.25 * t - 0.1; }

double natural_second_derivative_left(const velaro::SplineCoeffs& c, std::span<const double> t, std::size_t j) {
  // Second derivative at the right end of segment j.
  const double h = t[j + 1] - t[j];
  return 2.0 * c.c[j] + 6.0 * c.d[j] * h;
}

}  // namespace

TEST(NaturalSpline, DocumentedThreePointValues) {
  std::vector<double> t{0.0, 1.0, 2.0}, y{0.0, 1.0, 0.0};
  auto c = build_natural_spline(t, y);
  ASSERT_TRUE(c);
  ASSERT_EQ(c->a.size(), 2u);
  EXPECT_DOUBLE_EQ(c->c[0], 0.0);
  EXPECT_DOUBLE_EQ(c->c[1], -1.5);
  EXPECT_DOUBLE_EQ(c->b[0], 1.5);
  EXPECT_DOUBLE_EQ(c->d[0], -0.5);
  EXPECT_DOUBLE_EQ(evaluate_spline(t, *c, 0.5), 0.6875);
  // The last knot belongs to the last segment and returns its value.
  EXPECT_NEAR(evaluate_spline(t, *c, 2.0), 0.0, 1e-15);
  EXPECT_DOUBLE_EQ(evaluate_spline(t, *c, 1.0), 1.0);
  // Symmetric data give a symmetric spline, extrapolation included.
  EXPECT_NEAR(evaluate_spline(t, *c, 1.5), 0.6875, 1e-15);
  EXPECT_NEAR(evaluate_spline(t, *c, -0.5), evaluate_spline(t, *c, 2.5), 1e-14);
}

TEST(NaturalSpline, FailuresCarryTheirMessages) {
  std::vector<double> one{0.0};
  auto e1 = build_natural_spline(one, one);
  ASSERT_FALSE(e1);
  EXPECT_EQ(e1.error().to_string(), "Spline interpolation failed: need at least 2 points");

  std::vector<double> t2{0.0, 1e-15}, y2{0.0, 1.0};
  auto e2 = build_natural_spline(t2, y2);
  ASSERT_FALSE(e2);
  EXPECT_EQ(e2.error().to_string(), "Spline interpolation failed: coincident points");

  std::vector<double> t4{0.0, 1.0, 1.0, 2.0}, y4{0.0, 1.0, 2.0, 3.0};
  auto e4 = build_natural_spline(t4, y4);
  ASSERT_FALSE(e4);
  EXPECT_EQ(e4.error().to_string(), "Spline interpolation failed: coincident knots in spline");

  // Two distinct knots give one straight segment.
  std::vector<double> t{1.0, 3.0}, y{2.0, 6.0};
  auto lin = build_natural_spline(t, y);
  ASSERT_TRUE(lin);
  EXPECT_DOUBLE_EQ(evaluate_spline(t, *lin, 2.0), 4.0);
  EXPECT_DOUBLE_EQ(evaluate_spline(t, *lin, 5.0), 10.0);
}

TEST(NaturalSpline, ReproducesANaturalPiecewiseCubicExactly) {
  // Irregular knots including 0; the builder must return the same function.
  std::vector<double> t{-1.0, -0.83, -0.5, -0.21, 0.0, 0.07, 0.4, 0.45, 0.8, 1.0};
  std::vector<double> y;
  for (double v : t) y.push_back(natural_shape(v));
  auto c = build_natural_spline(t, y);
  ASSERT_TRUE(c);
  for (int k = 0; k <= 400; ++k) {
    const double u = -1.0 + 2.0 * k / 400.0;
    EXPECT_NEAR(evaluate_spline(t, *c, u), natural_shape(u), 1e-14) << u;
  }
  // A straight line is reproduced everywhere, extrapolation included.
  std::vector<double> yl;
  for (double v : t) yl.push_back(3.0 * v - 2.0);
  auto cl = build_natural_spline(t, yl);
  ASSERT_TRUE(cl);
  for (double u : {-3.0, -0.6, 0.3, 2.5}) EXPECT_NEAR(evaluate_spline(t, *cl, u), 3.0 * u - 2.0, 1e-12);
}

TEST(NaturalSpline, ValueSlopeAndCurvatureContinuousAtKnots) {
  std::vector<double> t{0.0, 0.3, 0.35, 1.0, 1.8, 2.0, 3.1};
  std::vector<double> y{1.0, -0.5, 0.2, 2.0, 0.0, 0.4, -1.0};
  auto c = build_natural_spline(t, y);
  ASSERT_TRUE(c);
  const std::size_t m = c->a.size();
  for (std::size_t j = 0; j + 1 < m; ++j) {
    const double h = t[j + 1] - t[j];
    const double value_left = c->a[j] + c->b[j] * h + c->c[j] * h * h + c->d[j] * h * h * h;
    const double slope_left = c->b[j] + 2.0 * c->c[j] * h + 3.0 * c->d[j] * h * h;
    EXPECT_NEAR(value_left, y[j + 1], 1e-12);
    EXPECT_NEAR(slope_left, c->b[j + 1], 1e-11);
    EXPECT_NEAR(natural_second_derivative_left(*c, t, j), 2.0 * c->c[j + 1], 1e-11);
  }
  // Natural ends: zero second derivative at both end knots.
  EXPECT_EQ(c->c[0], 0.0);
  EXPECT_NEAR(natural_second_derivative_left(*c, t, m - 1), 0.0, 1e-11);
}

TEST(NaturalSpline, NanParameterGivesNanWithoutSearching) {
  std::vector<double> t{0.0, 1.0, 2.0}, y{0.0, 1.0, 0.0};
  auto c = build_natural_spline(t, y);
  ASSERT_TRUE(c);
  EXPECT_TRUE(std::isnan(evaluate_spline(t, *c, std::numeric_limits<double>::quiet_NaN())));
  EXPECT_TRUE(std::isnan(evaluate_spline(t, velaro::SplineCoeffs{}, 0.5)));
}

TEST(CubicSpline, ChordLengthKnotsAndEndPoints) {
  std::vector<Point> pts{{0, 0}, {3, 4}, {3, 5}, {0, 5}};
  auto sp = CubicSpline::from_points(pts);
  ASSERT_TRUE(sp);
  ASSERT_EQ(sp->knots().size(), 4u);
  EXPECT_DOUBLE_EQ(sp->knots()[1], 5.0);
  EXPECT_DOUBLE_EQ(sp->knots()[3], 9.0);
  EXPECT_DOUBLE_EQ(sp->total_length(), 9.0);
  EXPECT_EQ(sp->evaluate(0.0), pts[0]);
  EXPECT_EQ(sp->evaluate(5.0), pts[1]);
  const Point end = sp->evaluate(9.0);
  EXPECT_NEAR(end.x, 0.0, 1e-14);
  EXPECT_NEAR(end.y, 5.0, 1e-14);

  std::vector<Point> dup{{0, 0}, {1, 0}, {1, 0}, {2, 1}};
  auto bad = CubicSpline::from_points(dup);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().to_string(), "Spline interpolation failed: coincident knots in spline");
}

TEST(ArcLengthSpline, DegenerateCoefficientListsAndSegments) {
  std::vector<double> none, one{2.0};
  EXPECT_EQ(ArcLengthSpline::knot_slopes(none, none), std::vector<double>{0.0});
  EXPECT_EQ(ArcLengthSpline::knot_slopes(one, one), std::vector<double>{0.0});
  std::vector<double> s2{1.0, 3.0}, x2{0.0, 5.0};
  EXPECT_EQ(ArcLengthSpline::knot_slopes(s2, x2), (std::vector<double>{2.5, 2.5}));

  std::vector<double> s{0.0, 1.0, 2.0, 4.0};
  EXPECT_EQ(velaro::spline::find_segment(s, 0.0), 1u);
  EXPECT_EQ(velaro::spline::find_segment(s, 4.0), 3u);
  EXPECT_EQ(velaro::spline::find_segment(s, 2.5), 3u);

  // Collinear, equally spaced: constant slopes and zero curvature.
  auto line = ArcLengthSpline::create({0.0, 1.0, 2.0}, {0.0, 0.6, 1.2}, {1.0, 1.8, 2.6});
  ASSERT_TRUE(line);
  for (double v : line->xs()) EXPECT_NEAR(v, 0.6, 1e-15);
  for (double v : line->ys()) EXPECT_NEAR(v, 0.8, 1e-15);
  EXPECT_NEAR(line->curvature(0.7), 0.0, 1e-13);
  EXPECT_NEAR(line->curvature(1.5), 0.0, 1e-13);

  EXPECT_FALSE(ArcLengthSpline::create({0.0, 1.0}, {0.0}, {0.0, 1.0}));
  auto single = ArcLengthSpline::create({0.0}, {1.0}, {2.0});
  ASSERT_TRUE(single);
  EXPECT_EQ(single->curvature(0.0), 0.0);
}

TEST(ArcLengthSpline, CurvatureOfACircleIsOneOverRadius) {
  // 97 points over three quarters of a circle of radius 2, counter-clockwise.
  // With 1.5 degrees of arc per interval the chord-length parametrisation
  // differs from arc length by O(h^2) (h = 0.026 rad, h^2 / 3 ~ 2e-4), so the
  // interpolated curvature away from the end intervals is within 5e-4 of 1/R
  // relative (the end intervals use the zero-third-derivative condition and
  // are excluded).
  const double r = 2.0;
  std::vector<Point> pts;
  for (int k = 0; k <= 96; ++k) {
    const double a = 0.75 * 2.0 * std::numbers::pi * k / 96.0;
    pts.push_back({1.0 + r * std::cos(a), -3.0 + r * std::sin(a)});
  }
  const ArcLengthSpline ccw = ArcLengthSpline::from_points(pts);
  std::vector<Point> rev(pts.rbegin(), pts.rend());
  const ArcLengthSpline cw = ArcLengthSpline::from_points(rev);
  const auto& s = ccw.s();
  double worst = 0.0;
  for (std::size_t i = 3; i + 4 < s.size(); ++i) {
    for (double f : {0.0, 0.3, 0.5}) {
      const double u = s[i] + f * (s[i + 1] - s[i]);
      EXPECT_NEAR(ccw.curvature(u), 1.0 / r, 5e-4 / r) << u;
      worst = std::max(worst, std::abs(ccw.curvature(u) * r - 1.0));
      EXPECT_NEAR(cw.curvature(u), -1.0 / r, 5e-4 / r) << u;
    }
  }
  EXPECT_LT(worst, 5e-4);
}

TEST(ScalarSpline, CreationRules) {
  std::vector<double> s{0.0, 1.0, 2.0}, x{1.0, 2.0}, one{0.0};
  EXPECT_FALSE(ScalarSpline::create(s, x));
  EXPECT_FALSE(ScalarSpline::create(one, one));
  std::vector<double> s2{0.0, 2.0}, x2{1.0, 5.0};
  auto sp = ScalarSpline::create(s2, x2);
  ASSERT_TRUE(sp);
  EXPECT_DOUBLE_EQ(sp->eval(1.0), 3.0);
  EXPECT_DOUBLE_EQ(sp->deriv(1.7), 2.0);
  EXPECT_DOUBLE_EQ(sp->second_derivative(0.3), 0.0);
  EXPECT_EQ(sp->find_segment(-1.0), 1u);
}

TEST(ScalarSpline, DerivativesMatchCentralDifferences) {
  std::vector<double> s{0.0, 0.2, 0.5, 0.55, 1.1, 1.6, 2.0};
  std::vector<double> x{0.3, -0.2, 0.9, 1.0, -0.4, 0.1, 0.7};
  auto sp = ScalarSpline::create(s, x);
  ASSERT_TRUE(sp);
  const double h = 1e-6;
  for (std::size_t i = 1; i < s.size(); ++i) {
    for (double f : {0.2, 0.5, 0.85}) {
      const double u = s[i - 1] + f * (s[i] - s[i - 1]);
      const double fd1 = (sp->eval(u + h) - sp->eval(u - h)) / (2.0 * h);
      const double fd2 = (sp->deriv(u + h) - sp->deriv(u - h)) / (2.0 * h);
      EXPECT_NEAR(sp->deriv(u), fd1, 1e-6 * (1.0 + std::abs(fd1))) << u;
      EXPECT_NEAR(sp->second_derivative(u), fd2, 1e-5 * (1.0 + std::abs(fd2))) << u;
    }
  }
  // The knot values are interpolated.
  for (std::size_t i = 0; i < s.size(); ++i) EXPECT_NEAR(sp->eval(s[i]), x[i], 1e-14);
}
