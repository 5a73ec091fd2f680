#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>

#include "geometry/naca.h"


TEST(Naca4, DocumentedPoints) {
  auto pts = velaro::generate_naca4(12, velaro::kNacaDefaultPointsPerSide);
  ASSERT_EQ(pts.size(), 245u);
  EXPECT_EQ(pts.front().x, 1.0);
  EXPECT_NEAR(pts.front().y, 0.00126, 1e-15);
  EXPECT_NEAR(pts.back().y, -0.00126, 1e-15);
  EXPECT_EQ(pts[122].x, 0.0);
  EXPECT_EQ(pts[122].y, 0.0);
  // Symmetric section: lower surface mirrors the upper one exactly.
  for (std::size_t i = 0; i < 122; ++i) {
    EXPECT_EQ(pts[i].x, pts[244 - i].x);
    EXPECT_EQ(pts[i].y, -pts[244 - i].y);
  }
}

TEST(Naca4, CamberAndDegenerateCounts) {
  auto pts = velaro::generate_naca4(2412, 2);
  ASSERT_EQ(pts.size(), 3u);
  const double yc1 = (0.8 + 0.2 - 1.0) * (0.02 / 0.36);
  const double yt1 = 0.0021 * 0.12 / 0.2 / 0.12 * 0.12;
  EXPECT_NEAR(pts[0].y, yc1 + yt1, 1e-15);
  EXPECT_EQ(pts[1].x, 0.0);
  EXPECT_NEAR(pts[2].y, yc1 - yt1, 1e-15);

  auto one = velaro::generate_naca4(2412, 1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].x, 1.0);
  EXPECT_TRUE(velaro::generate_naca4(12, 0).empty());

  // p = 0 means no camber whatever m says.
  auto sym = velaro::generate_naca4(2012, 30);
  for (std::size_t i = 0; i < 29; ++i) EXPECT_EQ(sym[i].y, -sym[58 - i].y);

  // Maximum camber sits at x = p: the mean line of NACA 4412 peaks at 0.04 near x = 0.4.
  auto c = velaro::generate_naca4(4412, 201);
  double best = 0.0;
  for (std::size_t i = 0; i < 200; ++i) best = std::max(best, 0.5 * (c[i].y + c[400 - i].y));
  EXPECT_NEAR(best, 0.04, 1e-4);
}
