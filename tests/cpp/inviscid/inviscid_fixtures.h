#pragma once
// Set-up shared by the inviscid units: the factored airfoil system of a
// contour and its vorticity at an angle of attack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "geometry/point.h"
#include "inviscid/factored_system.h"
#include "inviscid/panel_geometry.h"

namespace velaro::test {

// Panel geometry and factored system of `pts`; a failure is reported on the
// calling test.
inline FactorizedSystem factored_system_of(const std::vector<Point>& pts) {
  auto g = AirfoilGeometry::from_points(pts);
  EXPECT_TRUE(g.has_value());
  auto sys = FactorizedSystem::build(std::move(*g));
  EXPECT_TRUE(sys.has_value());
  return std::move(*sys);
}

// Nodal vorticity at angle of attack alpha (radians): the superposition of
// the two base solutions.
inline std::vector<double> gamma_at(const FactorizedSystem& sys, double alpha) {
  std::vector<double> g(sys.gamu_0.size());
  for (std::size_t i = 0; i < g.size(); ++i) g[i] = std::cos(alpha) * sys.gamu_0[i] + std::sin(alpha) * sys.gamu_90[i];
  return g;
}

inline double max_abs(const std::vector<double>& v) {
  double m = 0.0;
  for (double e : v) m = std::max(m, std::abs(e));
  return m;
}

}  // namespace velaro::test
