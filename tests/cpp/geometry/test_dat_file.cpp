#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "geometry/dat_file.h"

using velaro::Point;

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
