#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "viscous/forces.h"

using velaro::compute_panel_forces_from_gamma;
using velaro::compute_row_friction_drag;
using velaro::squire_young_drag;
using velaro::trailing_edge_drag;
using velaro::ViscousRow;

namespace {

// Circular cylinder of radius r centred on the quarter-chord point, nodes
// running counter-clockwise from the rear point (upper surface first), with
// the exact potential-flow surface speed for a free stream at alpha plus a
// clockwise circulation 2*pi*r*g.
struct Cylinder {
  std::vector<double> x, y, q;
};

Cylinder cylinder(int n, double r, double g, double alpha) {
  Cylinder c;
  for (int i = 0; i <= n; ++i) {
    const double phi = 2.0 * std::numbers::pi * i / n;
    c.x.push_back(0.25 + r * std::cos(phi));
    c.y.push_back(r * std::sin(phi));
    c.q.push_back(2.0 * std::sin(phi - alpha) + g);
  }
  return c;
}

ViscousRow airfoil_row(double xc, double ue, double theta, double cf, double rt = 1000.0) {
  ViscousRow r;
  r.x = xc;
  r.x_coord = xc;
  r.ue = ue;
  r.theta = theta;
  r.dstar = 2.0 * theta;
  r.cf = cf;
  r.r_theta = rt;
  r.turbulent = true;
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Lift and moment

TEST(PanelForces, CylinderWithCirculationMatchesKuttaJoukowski) {
  // Exact: L' = rho U Gamma, so with unit chord CL = 2 Gamma = 4 pi r g, and
  // the pressure resultant passes through the centre (CM about it = 0).
  // 800 trapezoidal panels integrate the smooth Cp to about 1e-5 relative;
  // 1e-4 leaves margin.
  const double r = 0.5, g = 0.3;
  for (double alpha : {0.0, 0.1, -0.2}) {
    const Cylinder c = cylinder(800, r, g, alpha);
    const auto f = compute_panel_forces_from_gamma(c.x, c.y, c.q, alpha);
    const double exact = 4.0 * std::numbers::pi * r * g;
    EXPECT_NEAR(f.cl, exact, 1e-4 * exact) << "alpha " << alpha;
    EXPECT_NEAR(f.cm, 0.0, 1e-5) << "alpha " << alpha;
  }
}

TEST(PanelForces, FlatPlateMomentAndDegenerateInput) {
  // Two-node plate from x = 1 to x = 0 (upper-surface order) carrying
  // Cp = -1 at both ends: CL = (0 - 1) * -1 = 1, acting at the midpoint
  // 0.25 behind the reference point: CM = -0.25.
  const std::vector<double> x{1.0, 0.0}, y{0.0, 0.0}, q{std::sqrt(2.0), std::sqrt(2.0)};
  const auto f = compute_panel_forces_from_gamma(x, y, q, 0.0);
  EXPECT_NEAR(f.cl, 1.0, 1e-14);
  EXPECT_NEAR(f.cm, -0.25, 1e-14);

  const std::vector<double> one{1.0};
  const auto z = compute_panel_forces_from_gamma(one, one, one, 0.3);
  EXPECT_EQ(z.cl, 0.0);
  EXPECT_EQ(z.cm, 0.0);
  // A speed array shorter than the coordinates is cut, not overrun.
  const std::vector<double> q1{1.0};
  const auto s = compute_panel_forces_from_gamma(x, y, q1, 0.0);
  EXPECT_EQ(s.cl, 0.0);
}

// ---------------------------------------------------------------------------
// Friction drag

TEST(FrictionDrag, TrapezoidSumFromRowThreeWithClampsAndExclusions) {
  std::vector<ViscousRow> rows;
  for (int i = 0; i < 7; ++i) rows.push_back(airfoil_row(0.1 * i, 1.0, 1e-3, 0.004));
  // Pairs (3,4), (4,5), (5,6): each 1 * 0.004 * 0.1.
  EXPECT_NEAR(compute_row_friction_drag(rows), 3 * 0.0004, 1e-15);

  // Fewer than five rows contribute nothing.
  EXPECT_EQ(compute_row_friction_drag(std::span(rows).first(4)), 0.0);

  auto clamped = rows;
  clamped[4].cf = 0.05;    // clamped to 0.02
  clamped[5].cf = -0.01;   // clamped to 0
  clamped[6].ue = 0.001;   // raised to 0.01
  // (3,4): 1 * 0.012 * 0.1; (4,5): 1 * 0.01 * 0.1; (5,6): (1 + 1e-4)/2 * 0.002 * 0.1
  const double expect = 0.0012 + 0.001 + 0.5 * (1.0 + 1e-4) * 0.002 * 0.1;
  EXPECT_NEAR(compute_row_friction_drag(clamped), expect, 1e-15);

  auto excluded = rows;
  excluded[4].r_theta = 79.0;  // removes (3,4) and (4,5)
  excluded[6].wake = true;     // removes (5,6)
  EXPECT_EQ(compute_row_friction_drag(excluded), 0.0);
  excluded = rows;
  excluded[5].theta = 5e-11;  // removes (4,5) and (5,6)
  EXPECT_NEAR(compute_row_friction_drag(excluded), 0.0004, 1e-15);

  // Coincident x_coord falls back to the arc-length step.
  auto vertical = rows;
  for (auto& r : vertical) r.x_coord = 1.0;
  EXPECT_NEAR(compute_row_friction_drag(vertical), 3 * 0.0004, 1e-15);
}

// ---------------------------------------------------------------------------
// Total drag at the wake end

TEST(SquireYoung, WakeEndFormulaIncludesGapInShapeFactor) {
  std::vector<ViscousRow> upper{airfoil_row(1.0, 0.9, 2e-3, 0.003)};
  std::vector<ViscousRow> lower{airfoil_row(1.0, 0.9, 1e-3, 0.003)};
  ViscousRow w = airfoil_row(2.0, 0.95, 3e-3, 0.0);
  w.wake = true;
  w.dstar = 3.6e-3;
  w.dw = 0.9e-3;  // H = (3.6 + 0.9) / 3 = 1.5
  lower.push_back(w);
  const double expect = 2.0 * 3e-3 * std::pow(0.95, 0.5 * (5.0 + 1.5));
  EXPECT_NEAR(squire_young_drag(upper, lower), expect, 1e-15);

  // A negative gap is ignored.
  lower.back().dw = -1.0;
  lower.back().dstar = 4.5e-3;
  EXPECT_NEAR(squire_young_drag(upper, lower), expect, 1e-15);
}

TEST(SquireYoung, FallsBackToTrailingEdgeEstimate) {
  std::vector<ViscousRow> upper{airfoil_row(1.0, 0.9, 2e-3, 0.003)};
  std::vector<ViscousRow> lower{airfoil_row(1.0, 0.8, 1e-3, 0.003)};
  const double u = (0.9 + 0.8) * 0.5 / 0.99;
  const double te = 2.0 * u * u * 3e-3 * std::pow(0.99, 3.02);
  EXPECT_NEAR(trailing_edge_drag(upper, lower), te, 1e-15);
  EXPECT_NEAR(squire_young_drag(upper, lower), te, 1e-15);  // no wake rows

  // A wake end with zero theta is unusable.
  ViscousRow w = airfoil_row(2.0, 0.95, 0.0, 0.0);
  w.wake = true;
  lower.push_back(w);
  EXPECT_NEAR(squire_young_drag(upper, lower), te, 1e-15);

  // One side only: T = its theta; nothing at all: at least 1e-6.
  EXPECT_NEAR(trailing_edge_drag(upper, {}), 2.0 * 2e-3 * std::pow(0.99, 3.02), 1e-15);
  EXPECT_EQ(trailing_edge_drag({}, {}), 0.0);
  EXPECT_EQ(squire_young_drag({}, {}), 1e-6);
  std::vector<ViscousRow> nan_rows{airfoil_row(1.0, 1.0, std::nan(""), 0.0)};
  EXPECT_EQ(squire_young_drag(nan_rows, {}), 1e-6);
}
