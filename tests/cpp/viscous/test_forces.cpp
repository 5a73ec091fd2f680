#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "viscous/forces.h"

using velaro::compute_panel_forces_from_gamma;
using velaro::compute_row_friction_drag;
using velaro::squire_young_drag;
using velaro::trailing_edge_drag;
using velaro::BlStation;

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

BlStation airfoil_row(double xc, double ue, double theta, double cf, double rt = 1000.0) {
  BlStation r;
  r.x = xc;
  r.u = ue;
  r.theta = theta;
  r.dstar = 2.0 * theta;
  r.cf = cf;
  r.r_theta = rt;
  r.flow = velaro::FlowType::Turbulent;
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
    const auto f = compute_panel_forces_from_gamma(c.x, c.y, c.q, alpha, 0.0);
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
  const auto f = compute_panel_forces_from_gamma(x, y, q, 0.0, 0.0);
  EXPECT_NEAR(f.cl, 1.0, 1e-14);
  EXPECT_NEAR(f.cm, -0.25, 1e-14);

  const std::vector<double> one{1.0};
  const auto z = compute_panel_forces_from_gamma(one, one, one, 0.3, 0.0);
  EXPECT_EQ(z.cl, 0.0);
  EXPECT_EQ(z.cm, 0.0);
  // A speed array shorter than the coordinates is cut, not overrun.
  const std::vector<double> q1{1.0};
  const auto s = compute_panel_forces_from_gamma(x, y, q1, 0.0, 0.0);
  EXPECT_EQ(s.cl, 0.0);
}

// ---------------------------------------------------------------------------
// Friction drag

TEST(FrictionDrag, TrapezoidSumFromRowThreeWithClampsAndExclusions) {
  std::vector<BlStation> rows;
  std::vector<velaro::BlRow> placed(7);
  for (int i = 0; i < 7; ++i) {
    rows.push_back(airfoil_row(0.1 * i, 1.0, 1e-3, 0.004));
    placed[i].x = placed[i].x_coord = 0.1 * i;
  }
  // Pairs (3,4), (4,5), (5,6): each 1 * 0.004 * 0.1.
  EXPECT_NEAR(compute_row_friction_drag(placed, rows), 3 * 0.0004, 1e-15);

  // Fewer than five rows contribute nothing.
  EXPECT_EQ(compute_row_friction_drag(placed, std::span(rows).first(4)), 0.0);

  auto clamped = rows;
  clamped[4].cf = 0.05;    // clamped to 0.02
  clamped[5].cf = -0.01;   // clamped to 0
  clamped[6].u = 0.001;   // raised to 0.01
  // (3,4): 1 * 0.012 * 0.1; (4,5): 1 * 0.01 * 0.1; (5,6): (1 + 1e-4)/2 * 0.002 * 0.1
  const double expect = 0.0012 + 0.001 + 0.5 * (1.0 + 1e-4) * 0.002 * 0.1;
  EXPECT_NEAR(compute_row_friction_drag(placed, clamped), expect, 1e-15);

  auto excluded = rows;
  excluded[4].r_theta = 79.0;  // removes (3,4) and (4,5)
  excluded[6].flow = velaro::FlowType::Wake;  // removes (5,6)
  EXPECT_EQ(compute_row_friction_drag(placed, excluded), 0.0);
  excluded = rows;
  excluded[5].theta = 5e-11;  // removes (4,5) and (5,6)
  EXPECT_NEAR(compute_row_friction_drag(placed, excluded), 0.0004, 1e-15);

  // Coincident x_coord falls back to the arc-length step.
  auto vertical = placed;
  for (auto& r : vertical) r.x_coord = 1.0;
  EXPECT_NEAR(compute_row_friction_drag(vertical, rows), 3 * 0.0004, 1e-15);
}

// ---------------------------------------------------------------------------
// Total drag at the wake end

TEST(SquireYoung, WakeEndFormulaIncludesGapInShapeFactor) {
  std::vector<BlStation> upper{airfoil_row(1.0, 0.9, 2e-3, 0.003)};
  std::vector<BlStation> lower{airfoil_row(1.0, 0.9, 1e-3, 0.003)};
  BlStation w = airfoil_row(2.0, 0.95, 3e-3, 0.0);
  w.flow = velaro::FlowType::Wake;
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
  std::vector<BlStation> upper{airfoil_row(1.0, 0.9, 2e-3, 0.003)};
  std::vector<BlStation> lower{airfoil_row(1.0, 0.8, 1e-3, 0.003)};
  const double u = (0.9 + 0.8) * 0.5 / 0.99;
  const double te = 2.0 * u * u * 3e-3 * std::pow(0.99, 3.02);
  EXPECT_NEAR(trailing_edge_drag(upper, lower), te, 1e-15);
  EXPECT_NEAR(squire_young_drag(upper, lower), te, 1e-15);  // no wake rows

  // A wake end with zero theta is unusable.
  BlStation w = airfoil_row(2.0, 0.95, 0.0, 0.0);
  w.flow = velaro::FlowType::Wake;
  lower.push_back(w);
  EXPECT_NEAR(squire_young_drag(upper, lower), te, 1e-15);

  // One side only: T = its theta; nothing at all: at least 1e-6.
  EXPECT_NEAR(trailing_edge_drag(upper, {}), 2.0 * 2e-3 * std::pow(0.99, 3.02), 1e-15);
  EXPECT_EQ(trailing_edge_drag({}, {}), 0.0);
  EXPECT_EQ(squire_young_drag({}, {}), 1e-6);
  std::vector<BlStation> nan_rows{airfoil_row(1.0, 1.0, std::nan(""), 0.0)};
  EXPECT_EQ(squire_young_drag(nan_rows, {}), 1e-6);
}

// ---------------------------------------------------------------------------
// Forces of real states

#include <array>
#include <numbers>

#include "common/angles.h"
#include "geometry/body.h"
#include "inviscid/inviscid_solver.h"
#include "viscous/station_evaluation.h"
#include "viscous_fixtures.h"

using velaro::BlRow;
using velaro::ViscousState;
using velaro::active_force_len;
using velaro::testing::march_both_ue;
using velaro::testing::prepared_naca;
using velaro::testing::prepared_state;

TEST(PanelForces, VorticityOfTheViscousSetUpReproducesInviscidLift) {
  // The lift integral on the set-up's vortex strengths against the
  // standalone inviscid solver on the same contour: two separate solutions
  // of the same panel problem, which differ only in how the trailing-edge
  // gap panel enters (1e-4 in CL); 5e-4 leaves margin.
  for (std::uint32_t naca : {12u, 2412u, 4415u}) {
    for (double alpha : {-3.0, 0.0, 4.0}) {
      const auto pts = velaro::generate_naca4(naca, 81);
      auto setup = prepared_state(pts, alpha, 1e6);
      ASSERT_TRUE(setup);
      const ViscousState& st = setup->state;
      const auto f = compute_panel_forces_from_gamma(st.x, st.y, st.gam, st.alpha, 0.0);
      auto body = velaro::Body::from_points(pts);
      ASSERT_TRUE(body);
      const auto sol = velaro::InviscidSolver::solve(*body, velaro::FlowConditions{alpha * velaro::kDegToRad, 1.0});
      ASSERT_TRUE(sol);
      EXPECT_NEAR(f.cl, sol->cl, 5e-4) << naca << " " << alpha;
      EXPECT_NEAR(f.cm, sol->cm, 5e-4) << naca << " " << alpha;
    }
  }
  // Thin-airfoil theory with the first-order thickness correction:
  // dCL/dalpha = 2 pi (1 + 0.77 t/c) for a symmetric section; the panel
  // result agrees to about 1%, tolerance 2%.
  auto setup = prepared_naca(12, 4.0, 1e6);
  ASSERT_TRUE(setup);
  const ViscousState& st = setup->state;
  const double cl = compute_panel_forces_from_gamma(st.x, st.y, st.gam, st.alpha, 0.0).cl;
  const double theory = 2.0 * std::numbers::pi * (1.0 + 0.77 * 0.12) * st.alpha;
  EXPECT_NEAR(cl / theory, 1.0, 0.02);
}

TEST(ForceEvaluation, AttachedFlowDragSplit) {
  // NACA 0012 at alpha = 0 and 3 degrees, Re = 1e6, after the direct march:
  // friction is positive and below the total; the pressure part is the
  // difference. The only stations with Cf <= 0 belong to the short laminar
  // bubble just ahead of transition.
  for (double alpha : {0.0, 3.0}) {
    const double re = 1e6;
    auto setup = prepared_naca(12, alpha, re);
    ASSERT_TRUE(setup);
    ViscousState& st = setup->state;
    march_both_ue(st, re, 9.0);
    const auto f = velaro::evaluate_forces(st, 0.0, re);
    EXPECT_GT(f.cd_friction, 0.0);
    EXPECT_LT(f.cd_friction, f.cd);
    EXPECT_DOUBLE_EQ(f.cd_pressure, f.cd - f.cd_friction);
    // The view evaluates only the stations the drag needs; the drag is that
    // of the stations of every active row.
    std::array<std::vector<BlStation>, 2> all;
    for (std::size_t k = 0; k < 2; ++k)
      all[k] = velaro::stations_from_rows(st.rows[k], active_force_len(st.rows[k], st.rows[k].size(), st.nbl[k]),
                                          st.iblte[k], st.first_turbulent_row[k], 0.0, re);
    EXPECT_EQ(f.cd, squire_young_drag(all[0], all[1]));
    EXPECT_EQ(f.cd_friction,
              compute_row_friction_drag(st.rows[0], all[0]) + compute_row_friction_drag(st.rows[1], all[1]));
    EXPECT_NEAR(f.cl, compute_panel_forces_from_gamma(st.x, st.y, st.gam, st.alpha, 0.0).cl, 0.0);
    for (std::size_t side = 0; side < 2; ++side) {
      const auto xs = velaro::separation_x(st, velaro::side_at(side), 0.0, re);
      if (xs) {
        EXPECT_LT(*xs, velaro::transition_x(st, velaro::side_at(side)) + 0.01);
        EXPECT_GT(*xs, velaro::transition_x(st, velaro::side_at(side)) - 0.1);
      }
    }
    velaro::store_forces(st, f);
    EXPECT_EQ(st.cd, f.cd);
    EXPECT_EQ(st.cd_friction, f.cd_friction);
    EXPECT_EQ(st.cd_pressure, f.cd_pressure);
    EXPECT_EQ(st.cl, f.cl);
    EXPECT_EQ(st.cm, f.cm);

    // The force view: the airfoil stations of each side, and on the lower
    // side the last wake station.
    const auto view = velaro::build_force_view(st, 0.0, re);
    ASSERT_EQ(view.stations[1].size(), st.iblte[1] + 2);
    EXPECT_TRUE(view.stations[1].back().wake());
    EXPECT_FALSE(view.stations[1][st.iblte[1]].wake());
  }
}

TEST(ForceEvaluation, ActiveRowCount) {
  std::vector<BlRow> rows(8);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    rows[i].panel = i;
    rows[i].theta = 1e-3;
    rows[i].dstr = 2e-3;
    rows[i].uedg = 1.0;
  }
  EXPECT_EQ(active_force_len(rows, 8, 8), 8u);
  // Two trailing empty rows beyond nbl are dropped, but never below nbl.
  BlRow empty;
  empty.panel = 0;
  rows[6] = empty;
  rows[7] = empty;
  EXPECT_EQ(active_force_len(rows, 8, 5), 6u);
  EXPECT_EQ(active_force_len(rows, 8, 7), 7u);
  // A wake row is never empty.
  rows[7].flow = velaro::FlowType::Wake;
  EXPECT_EQ(active_force_len(rows, 8, 5), 8u);
  // Nothing but empty rows (row 0 has no node and counts as not empty).
  std::vector<BlRow> none(4, empty);
  EXPECT_EQ(active_force_len(none, 4, 3), 3u);
  EXPECT_EQ(active_force_len(none, 10, 20), 4u);  // counts beyond the rows are cut
  EXPECT_EQ(active_force_len({}, 3, 3), 0u);
}

namespace {

// A state whose upper side runs along the chord line y = 0 from x = 0 (the
// LE) to x = 1, with rows every 0.1 in arc length.
ViscousState straight_side_state() {
  ViscousState st;
  st.x = {1.0, 0.0, 1.0};
  st.y = {0.0, 0.0, 0.0};
  st.x_le = 0.0;
  st.y_le = 0.0;
  st.x_te = 1.0;
  st.y_te = 0.0;
  st.rows[0].resize(11);
  for (std::size_t r = 0; r < 11; ++r) {
    st.rows[0][r].x = 0.1 * r;
    st.rows[0][r].x_coord = 0.1 * r;
    st.rows[0][r].y_coord = 0.0;
  }
  st.iblte = {10, 0};
  st.nbl = {11, 0};
  st.first_turbulent_row = {5, 0};
  st.xssitr = {0.55, 0.0};
  return st;
}

}  // namespace

TEST(TransitionPosition, InterpolatesAndProjectsOnTheChord) {
  ViscousState st = straight_side_state();
  EXPECT_NEAR(velaro::transition_x(st, velaro::Side::Upper), 0.55, 1e-12);
  // Rows carrying a vertical offset: the projection ignores it.
  for (auto& r : st.rows[0]) r.y_coord = 0.3;
  EXPECT_NEAR(velaro::transition_x(st, velaro::Side::Upper), 0.55, 1e-12);
  // Coincident arc lengths take the downstream row's node.
  st.rows[0][6].x = st.rows[0][5].x;
  st.xssitr[0] = 0.5;
  EXPECT_NEAR(velaro::transition_x(st, velaro::Side::Upper), 0.5, 1e-12);
}

TEST(TransitionPosition, FallsBackToOneOrZero) {
  ViscousState st = straight_side_state();
  st.first_turbulent_row[0] = 9;  // turbulent from the row before the trailing edge: free
  EXPECT_EQ(velaro::transition_x(st, velaro::Side::Upper), 1.0);
  st = straight_side_state();
  st.xssitr[0] = 0.0;
  EXPECT_EQ(velaro::transition_x(st, velaro::Side::Upper), 1.0);
  st.xssitr[0] = std::nan("");
  EXPECT_EQ(velaro::transition_x(st, velaro::Side::Upper), 1.0);
  st = straight_side_state();
  st.xssitr[0] = 5.0;  // beyond the last row: the TE row's node
  EXPECT_NEAR(velaro::transition_x(st, velaro::Side::Upper), 1.0, 1e-12);
  st.x_le = 0.5;  // a chord from 0.5 to 1: a point at x = 0.25 projects ahead of the LE
  st.xssitr[0] = 0.25;
  EXPECT_EQ(velaro::transition_x(st, velaro::Side::Upper), 0.0);
  st.x_le = 0.0;
  st.x_te = 0.5;  // a point at 0.75 projects beyond the TE
  st.xssitr[0] = 0.75;
  EXPECT_EQ(velaro::transition_x(st, velaro::Side::Upper), 1.0);
  st.x_te = 0.0;  // degenerate chord
  EXPECT_EQ(velaro::transition_x(st, velaro::Side::Upper), 1.0);
  st = straight_side_state();
  st.x.clear();  // no airfoil
  EXPECT_EQ(velaro::transition_x(st, velaro::Side::Upper), 1.0);
  EXPECT_EQ(velaro::transition_x(st, velaro::Side::Lower), 1.0);  // side without rows
}

TEST(SeparationPoint, FirstAirfoilStationWithoutSkinFriction) {
  // Laminar rows at H = 2.6 (attached, Cf > 0) and one at H = 6 (Cf < 0 by
  // the laminar closure); wake rows never count.
  ViscousState st;
  st.rows[0].resize(8);
  for (std::size_t r = 1; r < 8; ++r) {
    BlRow& row = st.rows[0][r];
    row.x = 0.1 * r;
    row.x_coord = 0.1 * r;
    row.panel = r;
    row.uedg = 1.0;
    row.theta = 1e-4;
    row.dstr = 2.6e-4;
  }
  st.iblte = {5, 0};
  st.nbl = {8, 0};
  st.first_turbulent_row = {99, 0};
  EXPECT_FALSE(velaro::separation_x(st, velaro::Side::Upper, 0.0, 1e6).has_value());
  st.rows[0][6].dstr = 6e-4;  // a wake row: ignored
  EXPECT_FALSE(velaro::separation_x(st, velaro::Side::Upper, 0.0, 1e6).has_value());
  st.rows[0][4].dstr = 6e-4;
  st.rows[0][5].dstr = 6e-4;
  const auto xs = velaro::separation_x(st, velaro::Side::Upper, 0.0, 1e6);
  ASSERT_TRUE(xs.has_value());
  EXPECT_DOUBLE_EQ(*xs, 0.4);
  st.nbl[0] = 4;  // rows beyond nbl are not scanned
  EXPECT_FALSE(velaro::separation_x(st, velaro::Side::Upper, 0.0, 1e6).has_value());
  EXPECT_FALSE(velaro::separation_x(st, velaro::Side::Lower, 0.0, 1e6).has_value());
}

namespace {

// A flat plate at incidence 0 carrying a small, smooth load: q = 1 + eps f(x)
// above and 1 - eps f(x) below. Lift is linear in eps, and the Karman-Tsien
// rule reduces to Prandtl-Glauert, Cp0 / beta, as the disturbance vanishes:
// with eps = 1e-4 the next term is O(eps), so the ratio matches 1/beta to
// about 1e-4. At M = 0 the lift is the incompressible integral to the bit.
TEST(CompressibleLift, SmallDisturbancesFollowPrandtlGlauert) {
  const int m = 101;
  std::vector<double> x, y, q;
  const double eps = 1e-4;
  auto load = [](double xc) { return std::sqrt(std::max(xc * (1.0 - xc), 0.0)); };
  for (int i = 0; i < m; ++i) {  // upper surface, trailing edge to leading edge
    const double xc = 1.0 - static_cast<double>(i) / (m - 1);
    x.push_back(xc);
    y.push_back(0.0);
    q.push_back(1.0 + eps * load(xc));
  }
  for (int i = 1; i < m; ++i) {  // lower surface back to the trailing edge
    const double xc = static_cast<double>(i) / (m - 1);
    x.push_back(xc);
    y.push_back(0.0);
    q.push_back(1.0 - eps * load(xc));
  }
  const auto f0 = velaro::compute_panel_forces_from_gamma(x, y, q, 0.0, 0.0);
  ASSERT_GT(f0.cl, 0.0);
  for (double mach : {0.3, 0.5, 0.7}) {
    const auto f = velaro::compute_panel_forces_from_gamma(x, y, q, 0.0, mach);
    EXPECT_NEAR(f.cl / f0.cl * std::sqrt(1.0 - mach * mach), 1.0, 3e-4) << mach;
    EXPECT_NEAR(f.cm / f0.cm * std::sqrt(1.0 - mach * mach), 1.0, 3e-4) << mach;
  }
}

}  // namespace
