// Airfoil contour checks: orientation, trailing-edge start, crossings, and
// the blunt base closed by a repeated first point.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "geometry/contour_checks.h"
#include "geometry/naca.h"

namespace velaro {
namespace {

std::vector<Point> naca(unsigned d, std::size_t n = 60) { return generate_naca4(d, n); }

TEST(ContourChecks, UsualSectionsPass) {
  for (unsigned d : {12u, 2412u, 4412u, 24u, 9u}) {
    EXPECT_FALSE(check_airfoil_contour(naca(d)).has_value()) << d;
    auto closed = naca(d);
    closed.front() = closed.back() = {1.0, 0.0};
    EXPECT_FALSE(check_airfoil_contour(closed).has_value()) << d;
  }
}

TEST(ContourChecks, ReversedRotatedAndCrossedContoursAreRefused) {
  auto pts = naca(2412);
  std::vector<Point> reversed(pts.rbegin(), pts.rend());
  auto e = check_airfoil_contour(reversed);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, GeometryError::Kind::ClockwiseContour);

  std::vector<Point> from_nose(pts.begin() + 59, pts.end());
  from_nose.insert(from_nose.end(), pts.begin() + 1, pts.begin() + 60);
  e = check_airfoil_contour(from_nose);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, GeometryError::Kind::NotAtTrailingEdge);
  EXPECT_EQ(e->index, 0u);

  const std::vector<Point> eight{{1, 0}, {0.5, 0.05}, {0, -0.05}, {-0.5, 0}, {0, 0.05}, {0.5, -0.05}, {1, 1e-4}};
  e = check_airfoil_contour(eight);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, GeometryError::Kind::SelfIntersecting);
  EXPECT_EQ(e->to_string(), "Contour intersects itself: panels 1 and 4 cross");
}

TEST(ContourChecks, TouchingOrBarelyCrossingTrailingEdgesAreNotCrossings) {
  // Lower surface ending 1e-5 chord behind the upper one and crossing it by
  // well under 1e-4 chord, as in files rounded to five decimals.
  std::vector<Point> pts = naca(12);
  pts.front() = {1.0, 0.0};
  pts.back() = {1.00001, 0.0};
  pts[pts.size() - 2].y = std::abs(pts[pts.size() - 2].y) * 0.1;
  EXPECT_FALSE(find_crossing_panels(pts).has_value());
}

TEST(ContourChecks, CrossingSearchIsFastOnLargeContours) {
  const auto pts = naca(2412, 100000);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(check_airfoil_contour(pts).has_value());
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0);
  // A spike from the upper surface through the lower one is found.
  auto bad = pts;
  bad[50000].y = -0.5;
  EXPECT_TRUE(find_crossing_panels(bad).has_value());
}

TEST(ContourChecks, BluntBaseClosingPointIsDroppedSharpOneKept) {
  auto blunt = naca(2412);
  blunt.push_back(blunt.front());
  const auto open = without_blunt_closing_point(blunt);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->size(), blunt.size() - 1);
  EXPECT_EQ(open->back(), blunt[blunt.size() - 2]);

  auto sharp = naca(2412);
  sharp.front() = sharp.back() = {1.0, 0.0};
  EXPECT_FALSE(without_blunt_closing_point(sharp).has_value());
  EXPECT_FALSE(without_blunt_closing_point(naca(2412)).has_value());  // open

  auto body = airfoil_body(blunt);
  ASSERT_TRUE(body);
  EXPECT_EQ(body->panels().size(), blunt.size() - 2);
}

}  // namespace
}  // namespace velaro
