#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "viscous/gauss4.h"

using velaro::gauss_4x4;
using velaro::Matrix4;
using velaro::Vector4;

// ---------------------------------------------------------------------------
// 4x4 station solve

TEST(Gauss4, SolvesGeneralSystemNeedingRowExchanges) {
  // Zero leading diagonal forces a row exchange in the first column.
  const Matrix4 a0{{{0.0, 2.0, 1.0, -1.0}, {3.0, 1.0, 0.0, 2.0}, {1.0, -1.0, 4.0, 0.5}, {2.0, 0.0, 1.0, 3.0}}};
  const Vector4 x{1.5, -2.0, 0.25, 4.0};
  Vector4 b{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) b[i] += a0[i][j] * x[j];
  Matrix4 a = a0;
  gauss_4x4(a, b);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(b[i], x[i], 1e-13);
}

TEST(Gauss4, SingularColumnGivesZeroComponentNotInfinity) {
  // Third column all zero: that component cannot be determined and must come
  // back as 0; the others are still solved.
  Matrix4 a{{{2.0, 0.0, 0.0, 0.0}, {0.0, 4.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 5.0}}};
  Vector4 b{2.0, 8.0, 3.0, 10.0};
  gauss_4x4(a, b);
  EXPECT_DOUBLE_EQ(b[0], 1.0);
  EXPECT_DOUBLE_EQ(b[1], 2.0);
  EXPECT_EQ(b[2], 0.0);
  EXPECT_DOUBLE_EQ(b[3], 2.0);
}

TEST(Gauss4, AllZeroAndNaNPivotsStayFinite) {
  Matrix4 z{};
  Vector4 b{1.0, 2.0, 3.0, 4.0};
  gauss_4x4(z, b);
  for (double v : b) EXPECT_EQ(v, 0.0);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  Matrix4 a{{{nan, 0.0, 0.0, 0.0}, {0.0, 1.0, 0.0, 0.0}, {0.0, 0.0, 1.0, 0.0}, {0.0, 0.0, 0.0, 1.0}}};
  Vector4 c{1.0, 2.0, 3.0, 4.0};
  gauss_4x4(a, c);
  EXPECT_EQ(c[0], 0.0);
  EXPECT_DOUBLE_EQ(c[3], 4.0);
}
