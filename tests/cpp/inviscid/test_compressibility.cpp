#include <gtest/gtest.h>

#include <cmath>

#include "inviscid/compressibility.h"

namespace {

using velaro::critical_pressure_coefficient;
using velaro::KarmanTsien;

TEST(KarmanTsien, IsTheIdentityAtZeroMach) {
  const KarmanTsien kt(0.0);
  for (double cp0 : {-12.5, -1.0, -1e-300, 0.0, 0.37, 1.0}) EXPECT_EQ(kt.pressure_coefficient(cp0), cp0);
}

// For small disturbances the rule reduces to Prandtl-Glauert, Cp0 / beta; the
// next term is O(Cp0^2), so at Cp0 = 1e-4 the two agree to about 1e-4
// relative.
TEST(KarmanTsien, TendsToPrandtlGlauertForSmallPressures) {
  for (double m : {0.2, 0.5, 0.7}) {
    const double beta = std::sqrt(1.0 - m * m);
    const KarmanTsien kt(m);
    for (double cp0 : {-1e-4, 1e-4}) EXPECT_NEAR(kt.pressure_coefficient(cp0) / (cp0 / beta), 1.0, 2e-4) << m;
  }
}

// Suction is amplified more than pressure: the rule's hallmark against the
// linear Prandtl-Glauert factor, and pressure less (at the stagnation point
// it gives 1.072 at M 0.5, against 1.064 from isentropic compression).
TEST(KarmanTsien, AmplifiesSuctionMoreThanPressure) {
  const double m = 0.5, beta = std::sqrt(1.0 - m * m);
  const KarmanTsien kt(m);
  EXPECT_LT(kt.pressure_coefficient(-1.0), -1.0 / beta);
  EXPECT_GT(kt.pressure_coefficient(0.5), 0.5);
  EXPECT_LT(kt.pressure_coefficient(0.5), 0.5 / beta);
  EXPECT_GT(kt.pressure_coefficient(1.0), 1.0);
  EXPECT_NEAR(kt.pressure_coefficient(1.0), 1.0 + m * m / 4.0 + std::pow(m, 4) / 40.0, 0.01);
}

TEST(KarmanTsien, StaysFiniteFarBeyondCritical) {
  const KarmanTsien kt(0.9);
  for (double cp0 : {-5.0, -50.0, -1e6}) EXPECT_TRUE(std::isfinite(kt.pressure_coefficient(cp0)));
}

// Tabulated Cp* for gamma 1.4 (e.g. the critical-pressure chart of Anderson,
// Fundamentals of Aerodynamics, ch. 11): -0.779 at M 0.7, -2.133 at M 0.5;
// and Cp* = 0 at M = 1.
TEST(CriticalPressure, MatchesTabulatedValues) {
  EXPECT_NEAR(critical_pressure_coefficient(0.7), -0.779, 5e-4);
  EXPECT_NEAR(critical_pressure_coefficient(0.5), -2.133, 5e-4);
  EXPECT_NEAR(critical_pressure_coefficient(1.0), 0.0, 1e-15);
  EXPECT_TRUE(std::isinf(critical_pressure_coefficient(0.0)));
  EXPECT_LT(critical_pressure_coefficient(0.3), critical_pressure_coefficient(0.6));
}

}  // namespace
