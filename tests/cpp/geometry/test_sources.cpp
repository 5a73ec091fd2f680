#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "geometry/dat_file.h"
#include "geometry/naca.h"

using velaro::Point;

TEST(Naca4, DocumentedPoints) {
  auto pts = velaro::generate_naca4(12, velaro::kNacaDefaultPointsPerSide);
  ASSERT_EQ(pts.size(), 245u);
  const double yte = 0.0021 * 0.12 / 0.12 * 0.12 / 0.2 * (0.12 / 0.12);
  EXPECT_EQ(pts.front().x, 1.0);
  EXPECT_NEAR(pts.front().y, 0.00126, 1e-15);
  EXPECT_NEAR(pts.back().y, -0.00126, 1e-15);
  EXPECT_NEAR(yte, 0.00126, 1e-15);
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

TEST(DatFile, LineRules) {
  const std::string text =
      "NACA 0012 title\n"
      "61. 61.\n"
      "1.0 0.0 extra\n"
      "1.0\n"
      "1.0d0 0.0\n"
      "  0.5\t-0.02\r\n"
      "\n"
      "\u00a0.25\u2003-1e-2\u3000\n"
      "inf NaN\n"
      "+.5 -3.E+1\n"
      "0x1p3 0\n"
      "1e 2\n"
      "0.75 0.01";  // no final newline
  auto pts = velaro::parse_dat_text(text);
  ASSERT_EQ(pts.size(), 7u);
  EXPECT_EQ(pts[0], (Point{61.0, 61.0}));
  EXPECT_EQ(pts[1], (Point{1.0, 0.0}));
  EXPECT_EQ(pts[2], (Point{0.5, -0.02}));
  EXPECT_EQ(pts[3], (Point{0.25, -0.01}));
  EXPECT_TRUE(std::isinf(pts[4].x));
  EXPECT_TRUE(std::isnan(pts[4].y));
  EXPECT_EQ(pts[5], (Point{0.5, -30.0}));
  EXPECT_EQ(pts[6], (Point{0.75, 0.01}));
}

TEST(DatFile, FileErrors) {
  auto missing = velaro::parse_dat_file("/nonexistent/velaro.dat");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "No such file or directory (os error 2)");

  auto dir = velaro::parse_dat_file("/tmp");
  ASSERT_FALSE(dir);
  EXPECT_EQ(dir.error().message, "Is a directory (os error 21)");

  const std::string path = testing::TempDir() + "velaro_bad_utf8.dat";
  {
    std::ofstream f(path, std::ios::binary);
    f << "1.0 0.0\n\xff\xfe 0.5 0.1\n";
  }
  auto bad = velaro::parse_dat_file(path);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().code, EILSEQ);
  std::remove(path.c_str());
}
