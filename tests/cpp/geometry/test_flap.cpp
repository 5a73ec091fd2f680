#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "geometry/arc_length_spline.h"
#include "geometry/flap.h"
#include "geometry/geometry_fixtures.h"
#include "geometry/naca.h"
#include "geometry/natural_spline.h"

using velaro::deflect_flap_points;
using velaro::Point;
using velaro::ScalarSpline;

using velaro::test::dist;
using velaro::test::flatten;

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

// x(s), y(s) of a contour over its chord length.
struct ContourSplines {
  ScalarSpline x, y;
  std::vector<double> s;
};

ContourSplines splines_of(const std::vector<Point>& pts) {
  std::vector<double> s = velaro::chord_length_knots(pts), xv, yv;
  for (const Point& p : pts) {
    xv.push_back(p.x);
    yv.push_back(p.y);
  }
  return {*ScalarSpline::create(s, xv), *ScalarSpline::create(s, yv), s};
}

// Every interior panel is at least a fifth of each neighbour (zero-length
// panels excepted): the clean-up's stopping condition.
void expect_no_short_interior_panels(const std::vector<Point>& pts) {
  for (std::size_t i = 0; i + 3 < pts.size(); ++i) {
    const double d1 = dist(pts[i], pts[i + 1]);
    const double d2 = dist(pts[i + 1], pts[i + 2]);
    const double d3 = dist(pts[i + 2], pts[i + 3]);
    if (d2 == 0.0) continue;
    EXPECT_GE(d2, 0.2 * d1) << "panel " << i + 1;
    EXPECT_GE(d2, 0.2 * d3) << "panel " << i + 1;
  }
}

}  // namespace

TEST(Flap, Naca0012TenDegreesAtSeventyPercent) {
  const auto input = velaro::generate_naca4(12, 123);
  const auto out = velaro::deflect_flap(flatten(input), 0.7, 10.0);
  ASSERT_FALSE(out.empty());

  // The trailing edge turns about the hinge (0.7, 0): its mid-point drops
  // by 0.3 sin 10 deg and moves forward to 0.7 + 0.3 cos 10 deg. The hinge
  // height is the mean of the two surface heights at x = 0.7, which the
  // symmetric section puts at 0 to rounding; the trailing-edge gap
  // (0.0025) rotates with the flap and averages out exactly.
  const Point te{0.5 * (out.front().x + out.back().x), 0.5 * (out.front().y + out.back().y)};
  EXPECT_NEAR(te.y, -0.3 * std::sin(10.0 * kDeg), 1e-12);
  EXPECT_NEAR(te.x, 0.7 + 0.3 * std::cos(10.0 * kDeg), 1e-12);
  // Flap points keep their distance from the hinge.
  EXPECT_NEAR(dist(out.front(), {0.7, 0.0}), dist(input.front(), {0.7, 0.0}), 1e-12);

  // The fixed part ahead of the hinge region is untouched, point for point.
  std::vector<Point> fixed_in, fixed_out;
  for (const Point& p : input) {
    if (p.x < 0.6) fixed_in.push_back(p);
  }
  for (const Point& p : out) {
    if (p.x < 0.6) fixed_out.push_back(p);
  }
  EXPECT_EQ(fixed_in, fixed_out);

  // The upper surface opens without new points; the lower surface folds
  // and loses the points its two break positions enclose, gaining at most
  // three corner points.
  EXPECT_LE(out.size(), input.size() + 3);
  const auto le = static_cast<std::size_t>(
      std::min_element(out.begin(), out.end(), [](const Point& a, const Point& b) { return a.x < b.x; }) - out.begin());
  EXPECT_EQ(le, 122u);
  for (std::size_t i = 0; i < le; ++i) EXPECT_GT(out[i].x, out[i + 1].x) << i;

  expect_no_short_interior_panels(out);
  for (const Point& p : out) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

TEST(Flap, NegativeDeflectionMirrorsPositiveOnASymmetricSection) {
  const auto input = velaro::generate_naca4(12, 123);
  const auto down = velaro::deflect_flap(flatten(input), 0.7, 10.0);
  const auto up = velaro::deflect_flap(flatten(input), 0.7, -10.0);
  ASSERT_EQ(down.size(), up.size());
  // Mirror in y and reverse the order: the upper surface of one is the
  // lower surface of the other. Only rounding separates them (the splines
  // are built from the two ends in opposite directions).
  for (std::size_t i = 0; i < down.size(); ++i) {
    const Point& m = up[up.size() - 1 - i];
    EXPECT_NEAR(down[i].x, m.x, 1e-9) << i;
    EXPECT_NEAR(down[i].y, -m.y, 1e-9) << i;
  }
}

TEST(Flap, FoldedBreakPointsMeetAfterRotation) {
  // On the folding side the flap break point, once rotated, lands on the
  // fixed break point: both lie at the same distance from the hinge and
  // subtend the deflection angle there.
  const auto input = velaro::generate_naca4(2412, 100);
  const auto cs = splines_of(input);
  const double xbf = 0.75, ybf = 0.01;
  for (double deg : {5.0, 15.0, 30.0}) {
    const double angle = deg * kDeg;
    const double bots = velaro::invert_spline(cs.x, cs.s.back() - (input.back().x - xbf), xbf);
    const auto [s1, s2] = velaro::break_positions(cs.x, cs.y, 2, bots, angle, xbf, ybf);
    const Point p1{cs.x.eval(s1), cs.y.eval(s1)};
    const Point p2{cs.x.eval(s2), cs.y.eval(s2)};
    EXPECT_LT(s1, s2);
    EXPECT_NEAR(dist(p1, {xbf, ybf}), dist(p2, {xbf, ybf}), 1e-7);
    const double dx = p2.x - xbf, dy = p2.y - ybf;
    const Point r{xbf + dx * std::cos(angle) + dy * std::sin(angle), ybf - dx * std::sin(angle) + dy * std::cos(angle)};
    EXPECT_NEAR(r.x, p1.x, 1e-6) << deg;
    EXPECT_NEAR(r.y, p1.y, 1e-6) << deg;
  }
  // A zero angle gives one break position: the surface point nearest the
  // hinge, where the surface tangent is normal to the hinge vector.
  const double tops = velaro::invert_spline(cs.x, cs.s.front() + (input.front().x - xbf), xbf);
  const auto [a, b] = velaro::break_positions(cs.x, cs.y, 1, tops, 0.0, xbf, ybf);
  EXPECT_EQ(a, b);
  const double dot = (cs.x.eval(a) - xbf) * cs.x.deriv(a) + (cs.y.eval(a) - ybf) * cs.y.deriv(a);
  EXPECT_NEAR(dot, 0.0, 1e-8);
  EXPECT_NEAR(cs.x.eval(a), xbf, 0.01);
}

TEST(Flap, BreakResidualJacobianMatchesCentralDifferences) {
  const auto input = velaro::generate_naca4(4412, 80);
  const auto cs = splines_of(input);
  const double xbf = 0.7, ybf = 0.02, h = 1e-6;
  struct Case {
    double sg, sind, s1, s2;
  };
  // Lower-surface positions (s beyond the leading edge near 1.7 of 2.0),
  // inside knot intervals, for the large- and the small-angle residuals.
  const double stot = cs.s.back();
  for (const Case c : {Case{1.0, std::sin(0.1), 0.83 * stot, 0.87 * stot}, Case{1.0, 0.005, 0.84 * stot, 0.853 * stot},
                       Case{-1.0, std::sin(0.2), 0.14 * stot, 0.11 * stot}, Case{-1.0, 0.0, 0.151 * stot, 0.148 * stot}}) {
    const auto r = velaro::break_residual(cs.x, cs.y, c.sg, c.sind, xbf, ybf, c.s1, c.s2);
    ASSERT_TRUE(r.valid);
    const auto p1 = velaro::break_residual(cs.x, cs.y, c.sg, c.sind, xbf, ybf, c.s1 + h, c.s2);
    const auto m1 = velaro::break_residual(cs.x, cs.y, c.sg, c.sind, xbf, ybf, c.s1 - h, c.s2);
    const auto p2 = velaro::break_residual(cs.x, cs.y, c.sg, c.sind, xbf, ybf, c.s1, c.s2 + h);
    const auto m2 = velaro::break_residual(cs.x, cs.y, c.sg, c.sind, xbf, ybf, c.s1, c.s2 - h);
    const auto near = [](double analytic, double fd) { EXPECT_NEAR(analytic, fd, 1e-6 * (1.0 + std::abs(fd))); };
    near(r.j11, (p1.res1 - m1.res1) / (2 * h));
    near(r.j21, (p1.res2 - m1.res2) / (2 * h));
    near(r.j12, (p2.res1 - m2.res1) / (2 * h));
    near(r.j22, (p2.res2 - m2.res2) / (2 * h));
  }
}

TEST(Flap, InverseSplineFindsTheTargetOrKeepsTheGuess) {
  std::vector<double> s{0.0, 1.0, 2.0, 3.0}, x{0.0, 1.0, 4.0, 9.0};
  auto sp = ScalarSpline::create(s, x);
  ASSERT_TRUE(sp);
  const double root = velaro::invert_spline(*sp, 2.5, 6.0);
  EXPECT_NEAR(sp->eval(root), 6.0, 1e-4);
  // A flat spline has no slope to follow: the guess comes back.
  std::vector<double> flat{2.0, 2.0, 2.0, 2.0};
  auto fs = ScalarSpline::create(s, flat);
  EXPECT_EQ(velaro::invert_spline(*fs, 1.3, 5.0), 1.3);
}

TEST(Flap, TrivialCasesReturnTheInput) {
  const auto input = velaro::generate_naca4(12, 40);
  EXPECT_EQ(velaro::deflect_flap(flatten(input), 0.7, 0.0), input);
  EXPECT_EQ(velaro::deflect_flap(flatten(input), 0.2, 5e-11, 0.9), input);
  const std::vector<Point> four{{1, 0}, {0, 0.1}, {0, -0.1}, {1, 0.01}};
  const std::vector<Point> five{{1, 0}, {0.5, 0.1}, {0, 0}, {0.5, -0.1}, {1, 0.01}};
  EXPECT_EQ(velaro::deflect_flap(flatten(four), 0.7, 10.0), four);
  EXPECT_EQ(velaro::deflect_flap(flatten(five), 0.7, 10.0), five);
  EXPECT_EQ(deflect_flap_points(five, 0.7, 0.5, 10.0), five);
  // Three points (six values) and odd counts are refused by the module step.
  EXPECT_TRUE(velaro::deflect_flap(std::vector<double>{1, 0, 0, 0, 1, 0.1}, 0.7, 10.0).empty());
  EXPECT_TRUE(velaro::deflect_flap(std::vector<double>{1, 0, 0, 0, 1, 0.1, 0.5}, 0.7, 10.0).empty());
}

TEST(Flap, HingeHeightIsClampedToTheSection) {
  const auto coords = flatten(velaro::generate_naca4(2412, 60));
  EXPECT_EQ(velaro::deflect_flap(coords, 0.7, 12.0, 1.5), velaro::deflect_flap(coords, 0.7, 12.0, 1.0));
  EXPECT_EQ(velaro::deflect_flap(coords, 0.7, 12.0, -1.0), velaro::deflect_flap(coords, 0.7, 12.0, 0.0));
  EXPECT_NE(velaro::deflect_flap(coords, 0.7, 12.0, 1.0), velaro::deflect_flap(coords, 0.7, 12.0, 0.0));
}

TEST(Flap, CamberedSectionBothSignsStayClean) {
  const auto input = velaro::generate_naca4(4412, 90);
  for (double hx : {0.6, 0.75, 0.85}) {
    for (double deg : {-25.0, -5.0, 3.0, 20.0, 40.0}) {
      const auto out = velaro::deflect_flap(flatten(input), hx, deg, 0.3);
      ASSERT_FALSE(out.empty()) << hx << " " << deg;
      expect_no_short_interior_panels(out);
      // The leading edge stays where it was.
      EXPECT_NE(std::find(out.begin(), out.end(), input[89]), out.end());
      // The trailing edge moves down for positive and up for negative angles.
      const double te_in = 0.5 * (input.front().y + input.back().y);
      const double te_out = 0.5 * (out.front().y + out.back().y);
      if (deg > 0) {
        EXPECT_LT(te_out, te_in);
      } else {
        EXPECT_GT(te_out, te_in);
      }
    }
  }
}

TEST(Flap, BadInputNeverYieldsNonFinitePoints) {
  const auto coords = flatten(velaro::generate_naca4(12, 50));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {nan, inf, -inf}) {
    auto c = coords;
    c[11] = bad;
    EXPECT_TRUE(velaro::deflect_flap(c, 0.7, 10.0).empty());
    EXPECT_TRUE(velaro::deflect_flap(coords, bad, 10.0).empty());
    EXPECT_TRUE(velaro::deflect_flap(coords, 0.7, bad).empty());
    EXPECT_TRUE(velaro::deflect_flap(coords, 0.7, 10.0, bad).empty());
  }
  // A hinge at or behind the trailing edge leaves no flap to deflect.
  EXPECT_TRUE(velaro::deflect_flap(coords, 1.0, 10.0).empty());
  EXPECT_TRUE(velaro::deflect_flap(coords, 1.3, -10.0).empty());
  // Duplicate consecutive points, hinges outside the section and odd
  // shapes: the result is either empty or finite, and the call returns.
  auto dup = coords;
  dup[20] = dup[22];
  dup[21] = dup[23];
  std::vector<std::vector<double>> shapes{dup,
                                          {0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0},
                                          {0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 1, 0.5, 0.5},
                                          {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0},
                                          coords};
  for (const auto& shape : shapes) {
    for (double hx : {-0.5, 0.0, 0.3, 1.0, 2.0}) {
      for (double deg : {-170.0, -30.0, 10.0, 90.0, 720.0}) {
        const auto out = velaro::deflect_flap(shape, hx, deg);
        for (const Point& p : out) ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
      }
    }
  }
}

TEST(Flap, RandomContoursNeverCrashOrLeakNonFinitePoints) {
  // Perturbed and scrambled sections with random hinges and angles: every
  // index the routine computes must stay inside the point list.
  std::uint64_t state = 0x9e3779b97f4a7c15ull;
  const auto uniform = [&state](double lo, double hi) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return lo + (hi - lo) * static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  const auto base = flatten(velaro::generate_naca4(2412, 30));
  for (int trial = 0; trial < 400; ++trial) {
    auto c = base;
    const double noise = (trial % 4 == 0) ? 0.3 : 0.002;
    for (double& v : c) v += uniform(-noise, noise);
    if (trial % 7 == 0) std::swap(c[10], c[40]);
    const auto out = velaro::deflect_flap(c, uniform(-0.2, 1.2), uniform(-90.0, 90.0), uniform(-0.5, 1.5));
    for (const Point& p : out) ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << trial;
  }
}
