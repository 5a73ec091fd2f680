#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "geometry/body.h"

using velaro::Body;
using velaro::GeometryError;
using velaro::Point;

TEST(Body, ThreePointsTwoPanelsAndLeTieGoesToLowestIndex) {
  std::vector<Point> pts{{0, 0}, {1, 0}, {0, 1}};
  auto body = Body::from_points(pts);
  ASSERT_TRUE(body);
  EXPECT_EQ(body->panels().size(), 2u);
  EXPECT_EQ(body->le_index(), 0u);
  EXPECT_EQ(body->te_last_panel(), 1u);
  EXPECT_EQ(body->te_first_panel(), 0u);
  EXPECT_EQ(body->name(), "airfoil");
}

TEST(Body, PanelFieldsAndNormalDirection) {
  std::vector<Point> pts{{1, 0}, {0, 0}, {1, 0.1}};
  auto body = Body::from_points(pts);
  ASSERT_TRUE(body);
  const auto& p = body->panels()[0];
  EXPECT_DOUBLE_EQ(p.length, 1.0);
  EXPECT_DOUBLE_EQ(p.mid.x, 0.5);
  EXPECT_DOUBLE_EQ(p.t.x, -1.0);
  EXPECT_DOUBLE_EQ(p.normal.x, 0.0);
  EXPECT_DOUBLE_EQ(p.normal.y, -1.0);
  EXPECT_EQ(body->le_index(), 1u);
  EXPECT_EQ(body->points(), pts);
}

TEST(Body, Errors) {
  std::vector<Point> two{{0, 0}, {1, 0}};
  auto e = Body::from_points(two);
  ASSERT_FALSE(e);
  EXPECT_EQ(e.error().to_string(), "Insufficient points: required 3, provided 2");

  std::vector<Point> dup{{1, 0}, {0, 0}, {0, 0}, {1, 0.1}};
  e = Body::from_points(dup);
  ASSERT_FALSE(e);
  EXPECT_EQ(e.error().to_string(), "Degenerate panel at index 1 (zero length)");

  // The 1e-12 threshold is inclusive on the accepting side.
  std::vector<Point> tiny{{0, 0}, {1e-12, 0}, {1, 1}};
  EXPECT_TRUE(Body::from_points(tiny));
  std::vector<Point> tinier{{0, 0}, {9.9e-13, 0}, {1, 1}};
  EXPECT_FALSE(Body::from_points(tinier));

  EXPECT_EQ(GeometryError::spline_interpolation("coincident points").to_string(),
            "Spline interpolation failed: coincident points");
}

TEST(Body, ClosedContourAcceptedAndNonFiniteRejected) {
  std::vector<Point> closed{{1, 0}, {0.5, 0.1}, {0, 0}, {0.5, -0.1}, {1, 0}};
  auto body = Body::from_points(closed);
  ASSERT_TRUE(body);
  EXPECT_EQ(body->panels().size(), 4u);

  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    std::vector<Point> pts{{1, 0}, {0, bad}, {1, 0.1}};
    auto r = Body::from_points(pts);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "Non-finite coordinate at point 1");
  }
}
