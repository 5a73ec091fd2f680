// A viscous operating point at a non-zero Mach number: the marches and the
// Newton assembly evaluate the boundary layer at the same Mach number, so the
// iteration has a fixed point and converges as it does in incompressible flow.
#include <gtest/gtest.h>

#include <vector>

#include "geometry/body.h"
#include "geometry/naca.h"
#include "geometry/repanel.h"
#include "viscous/driver.h"

namespace velaro {
namespace {

Body naca0012_160() {
  const std::vector<Point> raw = generate_naca4(12, kNacaDefaultPointsPerSide);
  std::vector<double> flat;
  for (const Point& p : raw) {
    flat.push_back(p.x);
    flat.push_back(p.y);
  }
  auto nodes = repanel_coordinates(flat, 160, RepanelParams{});
  EXPECT_TRUE(nodes.has_value());
  return *Body::from_points(*nodes);
}

OperPointResult solve_at(const Body& body, double mach, double alpha_deg) {
  ViscousConfig c;
  c.reynolds = 3e6;
  c.mach = mach;
  c.ncrit = 9.0;
  c.max_iterations = 60;
  c.tolerance = 1e-4;
  c.wake_length = 1.0;
  c.re_type = ReynoldsType::Type1;
  auto r = solve_body_oper_point(body, c, alpha_deg);
  EXPECT_TRUE(r.has_value());
  return r ? *r : OperPointResult{};
}

TEST(CompressibleViscous, ConvergesAtModerateMachNumbers) {
  const Body body = naca0012_160();
  const OperPointResult incompressible = solve_at(body, 0.0, 2.0);
  ASSERT_TRUE(incompressible.converged);
  for (double mach : {0.2, 0.4}) {
    const OperPointResult r = solve_at(body, mach, 2.0);
    EXPECT_TRUE(r.converged) << "M = " << mach << " residual " << r.residual;
    // The panel method carries no compressibility correction, so the lift
    // stays within a few percent of the incompressible value; the boundary
    // layer changes only through the Mach terms of its closures, which move
    // the drag by a few percent at these Mach numbers.
    EXPECT_NEAR(r.cl, incompressible.cl, 0.05 * incompressible.cl) << "M = " << mach;
    EXPECT_NEAR(r.cd, incompressible.cd, 0.15 * incompressible.cd) << "M = " << mach;
  }
}

}  // namespace
}  // namespace velaro
