#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "viscous/driver.h"
#include "viscous/gauss4.h"

using velaro::Side;
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

// ---------------------------------------------------------------------------
// Station builder and row storage

#include <algorithm>
#include <vector>

#include "boundary_layer/closures.h"
#include "boundary_layer/interval_equations.h"
#include "viscous/forces.h"
#include "viscous/march.h"
#include "viscous/station_evaluation.h"
#include "geometry/body.h"
#include "geometry/naca.h"
#include "geometry/repanel.h"
#include "viscous_fixtures.h"

using velaro::BlRow;
using velaro::BlStation;
using velaro::FlowType;
using velaro::ViscousState;
using velaro::MarchResult;
using velaro::TeValues;
using velaro::build_and_fill_station;
using velaro::march_mixed_side;
using velaro::march_direct_side;
using velaro::store_to_row;
using velaro::testing::march_both_du;
using velaro::testing::march_both_ue;
using velaro::testing::prepared_naca;

namespace {

// Kinematic shape factor of a row's station (incompressible).
double row_hk(const BlRow& r) { return velaro::kinematic_shape_parameter((r.dstr - r.dw) / r.theta, 0.0).hk; }

bool row_finite(const BlRow& r) {
  return std::isfinite(r.uedg) && std::isfinite(r.theta) && std::isfinite(r.dstr) && std::isfinite(r.ctau) &&
         std::isfinite(r.ampl) && std::isfinite(r.mass);
}

// Thwaites' laminar momentum thickness on the rows' own edge velocity:
// theta^2 = 0.45 / (Re Ue^6) * integral of Ue^5 dxi from the stagnation
// point (trapezoidal on the row arc lengths, Ue = 0 at xi = 0).
std::vector<double> thwaites_theta(const std::vector<BlRow>& rows, std::size_t last, double re) {
  std::vector<double> th(last + 1, 0.0);
  double integral = 0.0;
  for (std::size_t r = 1; r <= last; ++r) {
    const double u1 = r == 1 ? 0.0 : std::fabs(rows[r - 1].uedg);
    const double u2 = std::fabs(rows[r].uedg);
    const double x1 = r == 1 ? 0.0 : rows[r - 1].x;
    integral += 0.5 * (std::pow(u1, 5) + std::pow(u2, 5)) * (rows[r].x - x1);
    th[r] = std::sqrt(0.45 * integral / (re * std::pow(u2, 6)));
  }
  return th;
}

}  // namespace

TEST(MarchStation, BuilderFloorsAndWakeMass) {
  const BlStation s = build_and_fill_station(FlowType::Wake, 1.5, -0.8, 0.0, 0.0, 0.002, 0.05, 3.0, 1e6);
  EXPECT_DOUBLE_EQ(s.u, 0.8);
  EXPECT_DOUBLE_EQ(s.theta, 1e-12);
  EXPECT_DOUBLE_EQ(s.dstar, 1e-12);
  EXPECT_DOUBLE_EQ(s.x, 1.5);
  EXPECT_EQ(s.panel, 0u);
  EXPECT_NEAR(s.mass, 0.8 * (1e-12 + 0.002), 1e-18);
  EXPECT_TRUE(s.wake() && s.turbulent() && !s.laminar());
  EXPECT_DOUBLE_EQ(s.ampl, 3.0);

  const BlStation l = build_and_fill_station(FlowType::Laminar, 0.1, 1e-9, 1e-4, 2.6e-4, 0.0, 0.03, 1.0, 1e6);
  EXPECT_DOUBLE_EQ(l.u, 1e-6);
  EXPECT_NEAR(l.h, 2.6, 1e-12);
  EXPECT_NEAR(l.mass, 1e-6 * 2.6e-4, 1e-20);
  EXPECT_TRUE(l.laminar() && !l.turbulent() && !l.wake());
  EXPECT_NEAR(l.r_theta, 1e6 * 1e-6 * 1e-4, 1e-15);  // compute_secondary_variables ran
}

TEST(MarchStation, StoreToRowColumnsAndFlags) {
  const BlStation s = build_and_fill_station(FlowType::Laminar, 0.2, 1.1, 2e-4, 5e-4, 0.0, 0.03, 4.5, 1e6);
  BlRow row;
  row.dw = 0.7;  // an airfoil row loses any gap
  const bool lam = store_to_row(s, row, 5, 9, false, 5e-4, 1.1, 0.03, 4.5);
  EXPECT_TRUE(lam);
  EXPECT_TRUE(row.laminar() && !row.wake());
  EXPECT_DOUBLE_EQ(row.ctau, 0.03);  // each variable in its own field
  EXPECT_DOUBLE_EQ(row.ampl, 4.5);
  EXPECT_DOUBLE_EQ(velaro::first_variable(row), 4.5);
  EXPECT_EQ(row.dw, 0.0);
  EXPECT_DOUBLE_EQ(row.mass, 5e-4 * 1.1);
  // Row 9 is the first turbulent row.
  EXPECT_FALSE(store_to_row(s, row, 9, 9, false, 5e-4, 1.1, 0.07, 4.5));
  EXPECT_DOUBLE_EQ(row.ctau, 0.07);
  EXPECT_DOUBLE_EQ(velaro::first_variable(row), 0.07);
  EXPECT_TRUE(!row.laminar());

  const BlStation w = build_and_fill_station(FlowType::Wake, 1.2, 0.9, 2e-3, 3e-3, 0.001, 0.04, 9.0, 1e6);
  EXPECT_FALSE(store_to_row(w, row, 3, 99, true, 4e-3, 0.9, 0.04, 9.0));
  EXPECT_DOUBLE_EQ(row.dw, 0.001);
  EXPECT_DOUBLE_EQ(row.dstr, 4e-3);
  EXPECT_DOUBLE_EQ(row.mass, 4e-3 * 0.9);
  EXPECT_TRUE(row.wake() && !row.laminar());
}

TEST(MarchStation, TrailingEdgeValuesOfASide) {
  std::vector<BlRow> rows(4);
  rows[3].theta = 2e-3;
  rows[3].dstr = 3e-3;
  rows[3].ctau = 0.06;
  TeValues te = velaro::te_values_of(rows, 3);
  EXPECT_DOUBLE_EQ(te.theta, 2e-3);
  EXPECT_DOUBLE_EQ(te.dstr, 3e-3);
  EXPECT_DOUBLE_EQ(te.ctau, 0.06);
  rows[3].flow = velaro::FlowType::Laminar;
  rows[3].ampl = 7.5;
  EXPECT_DOUBLE_EQ(velaro::te_values_of(rows, 3).ctau, 0.03);
  te = velaro::te_values_of(rows, 4);
  EXPECT_EQ(te.theta, 0.0);
  EXPECT_EQ(te.dstr, 0.0);
  EXPECT_EQ(te.ctau, 0.03);
}

// ---------------------------------------------------------------------------
// Marches on real edge-velocity distributions

TEST(MarchUe, TooFewRowsReturnsAtOnce) {
  std::vector<BlRow> rows(1);
  rows[0].theta = 0.5;
  const MarchResult r = march_direct_side(Side::Upper, rows, 1, 1, 7, TeValues{}, 0.0, 1e6, 9.0);
  EXPECT_EQ(r.first_turbulent_row, 7u);
  EXPECT_EQ(r.xssitr, 0.0);
  EXPECT_EQ(rows[0].theta, 0.5);
  const MarchResult d = march_mixed_side(Side::Upper, rows, 1, 1, 0.0, 1e6, 9.0, 7, TeValues{}, 2);
  EXPECT_EQ(d.first_turbulent_row, 7u);
}

TEST(MarchUe, LaminarMomentumThicknessAgreesWithThwaites) {
  const double re = 1e6;
  auto setup = prepared_naca(12, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, 9.0);
  for (int side = 0; side < 2; ++side) {
    const auto& rows = st.rows[side];
    const std::size_t last_laminar = st.first_turbulent_row[side] - 1;
    const auto thw = thwaites_theta(rows, last_laminar, re);
    int checked = 0;
    for (std::size_t r = 1; r <= last_laminar; ++r) {
      // Leave out the start-up from the stagnation-point estimate (first 2%
      // of chord) and the last laminar rows, where the amplification has
      // nearly reached ncrit and Hk approaches laminar separation values
      // that Thwaites' one-parameter correlation does not follow.
      if (rows[r].x_coord < 0.02 || rows[r].x_coord > 0.5) continue;
      // Thwaites' correlation reproduces exact similarity solutions to a few
      // per cent in favourable and mild adverse gradients, and the
      // two-equation laminar closure differs from its linearised shear and
      // shape relations by a similar amount: 5% covers both.
      EXPECT_NEAR(rows[r].theta / thw[r], 1.0, 0.05) << "side " << side << " row " << r;
      EXPECT_TRUE(rows[r].laminar());
      ++checked;
    }
    EXPECT_GT(checked, 20);
  }
}

TEST(MarchUe, ThinSectionApproachesBlasius) {
  // NACA 0002 at alpha = 0: between 10% and 60% chord the edge velocity
  // stays within 2% of 1.03, so theta * sqrt(Re Ue / xi) should approach the
  // Blasius value 0.664. The residual mild adverse gradient raises the value
  // by up to 3% there; tolerance 5%.
  const double re = 1e6;
  auto setup = prepared_naca(2, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, 9.0);
  const auto& rows = st.rows[0];  // the side that does not start on the leading-edge node
  int checked = 0;
  for (std::size_t r = 1; r < st.nbl[0]; ++r) {
    if (rows[r].x_coord < 0.1 || rows[r].x_coord > 0.6) continue;
    ASSERT_TRUE(rows[r].laminar());
    const double blasius = rows[r].theta * std::sqrt(re * std::fabs(rows[r].uedg) / rows[r].x);
    EXPECT_NEAR(blasius, 0.664, 0.05 * 0.664) << "row " << r;
    ++checked;
  }
  EXPECT_GT(checked, 20);
}

TEST(MarchUe, StationsSatisfyTheirIntervalEquations) {
  // Independent of the march's Newton loop: rebuild the stored laminar and
  // turbulent stations and evaluate the interval equations between them.
  // Each converged station leaves a residual of the order of its last
  // normalised change (1e-5) times the equation's scale; 1e-3 is far below
  // the O(1) residuals of an unconverged step.
  const double re = 1e6;
  auto setup = prepared_naca(12, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, 9.0);
  const auto& rows = st.rows[0];
  const std::size_t first_turbulent = st.first_turbulent_row[0];
  auto station = [&](std::size_t r) {
    const FlowType f = r < first_turbulent ? FlowType::Laminar : FlowType::Turbulent;
    const double first = f == FlowType::Laminar ? 0.03 : rows[r].ctau;
    BlStation s = build_and_fill_station(f, rows[r].x, rows[r].uedg, rows[r].theta, rows[r].dstr, 0.0, first,
                                         rows[r].ampl, re);
    return s;
  };
  int checked = 0;
  for (std::size_t r = 5; r + 3 < st.iblte[0]; ++r) {
    if (r == first_turbulent || r + 1 == first_turbulent) continue;  // transition interval
    const double hk = row_hk(rows[r]);
    if (std::fabs(hk - 3.8) < 1e-9 || std::fabs(hk - 2.5) < 1e-9) continue;  // inverse
    const FlowType f = r < first_turbulent ? FlowType::Laminar : FlowType::Turbulent;
    const auto eq = velaro::interval_equations(station(r - 1), station(r), f, false, 0.0, 9.0).eq;
    for (int k = (f == FlowType::Laminar ? 1 : 0); k < 3; ++k)
      EXPECT_LT(std::fabs(eq.neg_residual[k]), 1e-3) << "row " << r << " eq " << k;
    ++checked;
  }
  EXPECT_GT(checked, 50);
}

TEST(MarchUe, Naca0012TransitionAndSquireYoungDrag) {
  const double re = 1e6;
  auto run = [&](double ncrit) {
    auto setup = prepared_naca(12, 0.0, re, ncrit);
    EXPECT_TRUE(setup);
    ViscousState& st = setup->state;
    march_both_ue(st, re, ncrit);
    const auto f = velaro::evaluate_forces(st, 0.0, re);
    return std::array<double, 4>{velaro::transition_x(st, velaro::Side::Upper), velaro::transition_x(st, velaro::Side::Lower), f.cd, f.cd_friction};
  };
  const auto n9 = run(9.0);
  // Symmetric section at alpha = 0: the same transition point on both sides
  // (the sides differ only by the stagnation point's place inside its panel).
  EXPECT_NEAR(n9[0], n9[1], 1e-3);
  EXPECT_GT(n9[0], 0.5);
  EXPECT_LT(n9[0], 0.9);
  // Measured drag of this section near Re = 1e6 lies between 0.004 and 0.007.
  EXPECT_GT(n9[2], 0.004);
  EXPECT_LT(n9[2], 0.007);
  // Attached flow: friction is positive and smaller than the total drag.
  EXPECT_GT(n9[3], 0.0);
  EXPECT_LT(n9[3], n9[2]);

  const auto n4 = run(4.0);  // a noisier free stream: earlier transition, more drag
  EXPECT_LT(n4[0], n9[0] - 0.05);
  EXPECT_LT(n4[1], n9[1] - 0.05);
  EXPECT_GT(n4[2], n9[2]);
}

TEST(MarchUe, TransitionMovesForwardAsReynoldsRises) {
  double previous = 2.0;
  for (double re : {3e5, 1e6, 3e6, 1e7}) {
    auto setup = prepared_naca(12, 2.0, re);
    ASSERT_TRUE(setup);
    ViscousState& st = setup->state;
    march_both_ue(st, re, 9.0);
    const double xtr = velaro::transition_x(st, velaro::Side::Upper);
    EXPECT_LT(xtr, previous) << "Re " << re;
    previous = xtr;
  }
}

TEST(MarchUe, SymmetricSectionGivesSymmetricLayers) {
  // Tolerance: the lower side starts on the leading-edge node, 1e-7 of
  // contour length from the stagnation point, with one more row than the
  // upper side; after the start-up the two layers coincide to well under
  // 1e-3 (relative TE theta) and 1e-3 chord (transition).
  for (std::uint32_t naca : {12u, 15u}) {
    const double re = 2e6;
    auto setup = prepared_naca(naca, 0.0, re);
    ASSERT_TRUE(setup);
    ViscousState& st = setup->state;
    march_both_ue(st, re, 9.0);
    EXPECT_NEAR(velaro::transition_x(st, velaro::Side::Upper), velaro::transition_x(st, velaro::Side::Lower), 1e-3) << naca;
    const double th_u = st.rows[0][st.iblte[0]].theta;
    const double th_l = st.rows[1][st.iblte[1]].theta;
    EXPECT_NEAR(th_u / th_l, 1.0, 1e-3) << naca;
  }
}

TEST(MarchUe, EvenPanelingGivesMirrorImageLayers) {
  // 160 nodes from the curvature-based repaneler: no node on the leading
  // edge, so at alpha = 0 the stagnation point sits mid-panel and the two
  // sides have the same rows; the layers agree to round-off of the mirrored
  // geometry and inviscid solution (1e-6 relative is far above it and far
  // below any real asymmetry).
  const auto nodes = velaro::testing::repaneled_naca(12);
  ASSERT_TRUE(nodes && nodes->size() == 160u);
  const double re = 1e6;
  auto setup = velaro::testing::prepared_state(*nodes, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, 9.0);
  ASSERT_EQ(st.iblte[0], st.iblte[1]);
  EXPECT_EQ(st.first_turbulent_row[0], st.first_turbulent_row[1]);
  EXPECT_NEAR(velaro::transition_x(st, velaro::Side::Upper), velaro::transition_x(st, velaro::Side::Lower), 1e-6);
  for (std::size_t r = 1; r <= st.iblte[0]; ++r) {
    EXPECT_NEAR(st.rows[0][r].theta / st.rows[1][r].theta, 1.0, 1e-6) << r;
    EXPECT_NEAR(st.rows[0][r].dstr / st.rows[1][r].dstr, 1.0, 1e-6) << r;
  }
}

TEST(MarchUe, WakeStartsFromMergedTrailingEdgeAndStaysBounded) {
  const double re = 1e6;
  auto setup = prepared_naca(12, 3.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, 9.0);
  const BlRow& tu = st.rows[0][st.iblte[0]];
  const BlRow& tl = st.rows[1][st.iblte[1]];
  const BlRow& w1 = st.rows[1][st.iblte[1] + 1];
  EXPECT_TRUE(w1.wake());
  EXPECT_NEAR(w1.theta, tu.theta + tl.theta, 1e-12);
  EXPECT_NEAR(w1.dstr, tu.dstr + tl.dstr + st.ante, 1e-12);
  EXPECT_NEAR(w1.ctau, (tu.ctau * tu.theta + tl.ctau * tl.theta) / (tu.theta + tl.theta), 1e-9);

  for (int side = 0; side < 2; ++side) {
    for (std::size_t r = 1; r < st.nbl[side]; ++r) {
      const BlRow& row = st.rows[side][r];
      ASSERT_TRUE(row_finite(row)) << side << " " << r;
      EXPECT_GT(row.theta, 0.0);
      const double h = (row.dstr - row.dw) / row.theta;
      EXPECT_GE(h, (row.wake() ? 1.00005 : 1.02) - 1e-9) << side << " " << r;
      if (!row.laminar()) {
        EXPECT_GE(row.ctau, 1e-7);
        EXPECT_LE(row.ctau, 0.3);
      }
      EXPECT_NEAR(row.mass, row.dstr * row.uedg, 1e-15);
    }
  }
}

TEST(MarchUe, SeparatingEdgeVelocitySwitchesToInverseMode) {
  // A deceleration (edge velocity cut by 20% between 30% and 50% chord) that
  // the laminar layer cannot follow attached: the march must switch those
  // stations to a prescribed shape factor, change their edge velocity, and
  // carry on to the trailing edge and through the wake with finite values.
  const double re = 1e6;
  auto setup = prepared_naca(12, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  auto& rows = st.rows[0];
  std::vector<double> prescribed(rows.size());
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const double xc = rows[r].x_coord;
    const double f = xc < 0.3 ? 1.0 : (xc > 0.5 ? 0.8 : 1.0 - 0.2 * (xc - 0.3) / 0.2);
    rows[r].uedg *= f;
    prescribed[r] = rows[r].uedg;
  }
  march_both_ue(st, re, 9.0);
  int inverse = 0;
  for (std::size_t r = 1; r < st.nbl[0]; ++r) {
    ASSERT_TRUE(row_finite(rows[r])) << r;
    if (std::fabs(rows[r].uedg - prescribed[r]) > 1e-9) {
      ++inverse;
      // Inverse-mode targets never go below the direct-mode limits.
      EXPECT_GE(row_hk(rows[r]), (rows[r].laminar() ? 3.8 : 2.5) - 1e-6) << r;
    }
  }
  EXPECT_GT(inverse, 0);
  for (std::size_t r = 1; r < st.nbl[1]; ++r) ASSERT_TRUE(row_finite(st.rows[1][r])) << r;
  const auto f = velaro::evaluate_forces(st, 0.0, re);
  EXPECT_TRUE(std::isfinite(f.cd));
  EXPECT_GT(f.cd, 0.0);
  // The separated region shows up as the first station with Cf <= 0.
  const auto xs = velaro::separation_x(st, velaro::Side::Upper, 0.0, re);
  ASSERT_TRUE(xs.has_value());
  EXPECT_GT(*xs, 0.28);
  EXPECT_LT(*xs, 0.45);
}

TEST(MarchDu, MixedMarchKeepsTheDirectSolution) {
  // Run on the rows the direct march produced, the mixed march's Ue-Hk
  // relation is satisfied at the reference values it starts from, so it
  // must return the same layer (to its convergence tolerance) and the same
  // transition station.
  const double re = 1e6;
  auto setup = prepared_naca(12, 2.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, 9.0);
  const auto before = st.rows;
  const auto first_turbulent = st.first_turbulent_row;
  march_both_du(st, re, 9.0);
  EXPECT_EQ(st.first_turbulent_row[0], first_turbulent[0]);
  EXPECT_EQ(st.first_turbulent_row[1], first_turbulent[1]);
  for (int side = 0; side < 2; ++side) {
    for (std::size_t r = 1; r < st.nbl[side]; ++r) {
      const BlRow& a = before[side][r];
      const BlRow& b = st.rows[side][r];
      ASSERT_TRUE(row_finite(b));
      EXPECT_NEAR(b.theta / a.theta, 1.0, 2e-3) << side << " " << r;
      EXPECT_NEAR(b.uedg, a.uedg, 2e-3 * std::fabs(a.uedg) + 1e-9) << side << " " << r;
    }
  }
}

TEST(MarchDu, FollowsAChangedEdgeVelocity) {
  // Raising the edge velocity over the whole upper surface thins the
  // laminar layer (theta ~ 1/sqrt(Ue) for a uniform scale); the mixed
  // march moves Ue and Hk together, so theta must fall, though by less
  // than the full direct-march response.
  const double re = 1e6;
  auto setup = prepared_naca(12, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, 9.0);
  const std::size_t probe = 30;
  const double theta0 = st.rows[0][probe].theta;
  for (std::size_t r = 1; r < st.nbl[0]; ++r) st.rows[0][r].uedg *= 1.2;
  march_both_du(st, re, 9.0);
  const double theta1 = st.rows[0][probe].theta;
  EXPECT_LT(theta1, theta0);
  EXPECT_GT(theta1, theta0 / std::sqrt(1.2) * 0.98);
  for (std::size_t r = 1; r < st.nbl[0]; ++r) ASSERT_TRUE(row_finite(st.rows[0][r]));
}

namespace {

struct CountingDiagnostics : velaro::MarchDiagnostics {
  std::size_t stored = 0;
  std::size_t checks = 0;
  std::size_t transitions = 0;
  void station_stored(velaro::MarchKind, velaro::Side side, std::size_t, const BlRow&) override {
    EXPECT_EQ(side, velaro::Side::Lower);
    ++stored;
  }
  void transition_checked(velaro::MarchKind kind, velaro::Side, std::size_t row, std::size_t,
                          std::size_t first_turbulent,
                          const BlStation& up, const BlStation& down,
                          const velaro::TransitionResult& tr) override {
    EXPECT_EQ(kind, velaro::MarchKind::Direct);
    EXPECT_LT(up.x, down.x);
    if (tr.transition) {
      ++transitions;
      EXPECT_EQ(first_turbulent, row);
    }
    ++checks;
  }
};

}  // namespace

TEST(MarchUe, ReportsEveryStoredStation) {
  const double re = 1e6;
  auto setup = prepared_naca(12, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  CountingDiagnostics diag;
  march_direct_side(Side::Lower, st.rows[1], st.rows[1].size(), st.nbl[1], st.iblte[1], TeValues{}, st.ante, re, 9.0, 0.0, &diag);
  EXPECT_EQ(diag.stored, st.nbl[1] - 1);
  EXPECT_GT(diag.checks, 10u);
  EXPECT_GT(diag.transitions, 0u);
}

TEST(MarchUe, HostileRowsStayFinite) {
  // Non-finite or zero edge velocities, a zero arc length and an nbl beyond
  // the rows: nothing may crash or leave a non-finite row behind.
  const double re = 1e6;
  auto setup = prepared_naca(12, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  auto& up = st.rows[0];
  up[20].uedg = std::numeric_limits<double>::quiet_NaN();
  up[40].uedg = 0.0;
  up[41].uedg = std::numeric_limits<double>::infinity();
  up[50].x = up[49].x;  // empty interval
  const MarchResult r = march_direct_side(Side::Upper, up, up.size(), up.size() + 50, st.iblte[0], TeValues{}, st.ante, re, 9.0);
  EXPECT_LE(r.first_turbulent_row, st.iblte[0] + 2);
  for (std::size_t i = 1; i < st.nbl[0]; ++i) EXPECT_TRUE(row_finite(up[i])) << i;
  const MarchResult d = march_mixed_side(Side::Upper, up, up.size(), up.size() + 50, st.ante, re, 9.0, st.iblte[0], TeValues{},
                                      r.first_turbulent_row);
  EXPECT_LE(d.first_turbulent_row, st.iblte[0] + 2);
  for (std::size_t i = 1; i < st.nbl[0]; ++i) EXPECT_TRUE(row_finite(up[i])) << i;
}

// ---------------------------------------------------------------------------
// Transition bookkeeping shared with the Newton assembly

TEST(MarchUe, TransitionIsForcedAtTheTrailingEdgeAtTheLatest) {
  // With ncrit far above what the attached layer of a thin section reaches,
  // no free transition occurs; the trailing-edge interval must then carry a
  // forced transition at the trailing-edge station, as the Newton assembly
  // builds it, so that the trailing-edge station is turbulent in both.
  const double re = 1e6;
  const double ncrit = 200.0;  // beyond the amplification even a separated laminar layer reaches
  auto setup = prepared_naca(12, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, ncrit);
  for (int side = 0; side < 2; ++side) {
    const std::size_t te = st.iblte[side];
    const BlRow& row = st.rows[side][te];
    EXPECT_LT(row.ampl, ncrit) << side;
    EXPECT_EQ(st.first_turbulent_row[side], te) << side;
    EXPECT_DOUBLE_EQ(st.xssitr[side], row.x) << side;
    EXPECT_FALSE(row.laminar()) << side;
    EXPECT_GE(row.ctau, 1e-7) << side;
    EXPECT_LE(row.ctau, 0.3) << side;
    EXPECT_TRUE(st.rows[side][te - 1].laminar()) << side;
    EXPECT_LT(st.rows[side][te - 1].ampl, ncrit) << side;
  }

  // The mixed march on the same rows keeps the forced transition.
  const auto first_turbulent = st.first_turbulent_row;
  march_both_du(st, re, ncrit);
  EXPECT_EQ(st.first_turbulent_row[0], first_turbulent[0]);
  EXPECT_EQ(st.first_turbulent_row[1], first_turbulent[1]);

  // And the assembly's equations of the trailing-edge interval (forced
  // transition check, then the split interval equations) hold at the
  // marched stations: the residuals are of the order of the march's
  // convergence tolerance, far below the O(1e-1) that a laminar trailing-edge
  // station would leave in the turbulent shear-lag equation.
  const std::size_t te = st.iblte[0];
  auto stations = velaro::stations_from_rows(st.rows[0], st.nbl[0], te, st.first_turbulent_row[0], 0.0, re);
  const BlStation& s1 = stations[te - 1];
  const BlStation& s2 = stations[te];
  ASSERT_TRUE(s1.laminar());
  ASSERT_FALSE(s2.laminar());
  const auto tr = velaro::check_interval_for_transition(true, s1.x, s2.x, s1.theta, s2.theta, s1.dstar, s2.dstar, s1.u, s2.u, s1.hk,
                                       s2.hk, s1.r_theta, s2.r_theta, s1.ampl, ncrit, s2.x, 0.0, re);
  EXPECT_TRUE(tr.transition);
  EXPECT_TRUE(tr.forced);
  const auto eq = velaro::transition_interval_equations(s1, s2, tr, ncrit, 0.0, re);
  for (int k = 0; k < 3; ++k) EXPECT_LT(std::fabs(eq.neg_residual[k]), 1e-4) << k;
}

TEST(MarchDu, PreviousTransitionStationTurningLaminarKeepsItsLayer) {
  // A converged laminar layer, marched again with the previous assembly's
  // first turbulent row at a mid-chord row r0: row r0 was that assembly's
  // first turbulent station but its interval was laminar, so
  // nothing about it has changed and the mixed march must leave it (and
  // everything upstream) where it is. Taking the shape-factor reference
  // from the row upstream instead would move it along the Ue-Hk relation.
  const double re = 1e6;
  const double ncrit = 200.0;  // beyond the amplification even a separated laminar layer reaches
  auto setup = prepared_naca(12, 0.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, ncrit);
  auto& rows = st.rows[0];
  std::size_t r0 = 0;
  for (std::size_t r = 1; r < st.iblte[0]; ++r)
    if (rows[r].x_coord > 0.6) {
      r0 = r;
      break;
    }
  ASSERT_GT(r0, 10u);
  // Downstream of the pressure minimum the laminar shape factor grows, so
  // the row upstream has a lower Hk than r0 itself.
  ASSERT_LT(row_hk(rows[r0 - 1]), row_hk(rows[r0]) - 1e-3);
  const auto before = rows;
  const MarchResult d = march_mixed_side(Side::Upper, rows, rows.size(), st.nbl[0], st.ante, re, ncrit, st.iblte[0],
                                      velaro::te_values_of(st.rows[1], st.iblte[1]), r0);
  EXPECT_EQ(d.first_turbulent_row, st.first_turbulent_row[0]);
  for (std::size_t r = 1; r <= r0; ++r) {
    EXPECT_NEAR(rows[r].theta / before[r].theta, 1.0, 1e-4) << r;
    EXPECT_NEAR(rows[r].dstr / before[r].dstr, 1.0, 1e-4) << r;
    EXPECT_NEAR(rows[r].uedg / before[r].uedg, 1.0, 1e-5) << r;
    EXPECT_TRUE(rows[r].laminar()) << r;
  }
}

TEST(MarchUe, FailedTrailingEdgeStationKeepsTheUpstreamLayer) {
  // NACA 4412 at 8 degrees on the generator's own points: the inviscid speed
  // drops by a quarter over the last upper panel and the direct march cannot
  // converge the upper trailing-edge station, which is then replaced by the
  // upstream layer. The mixed march must keep it close to that layer; a
  // replacement at the row's own low edge velocity would let it settle on a
  // root with Hk ~ 14 and five times the displacement thickness.
  const double re = 1e6;
  auto setup = prepared_naca(4412, 8.0, re);
  ASSERT_TRUE(setup);
  ViscousState& st = setup->state;
  march_both_ue(st, re, 9.0);
  const std::size_t te = st.iblte[0];
  const auto& up = st.rows[0];
  ASSERT_LT(up[te].uinv, 0.85 * up[te - 1].uedg);  // the steep drop that defeats the direct march
  EXPECT_NEAR(up[te].uedg, up[te - 1].uedg, 1e-12);
  march_both_du(st, re, 9.0);
  EXPECT_LT(row_hk(up[te]), 4.0);
  EXPECT_LT(up[te].dstr, 1.5 * up[te - 1].dstr);
  EXPECT_NEAR(up[te].uedg / up[te - 1].uedg, 1.0, 0.1);
  // The wake starts from the merged trailing-edge layers.
  const BlRow& w = st.rows[1][st.iblte[1] + 1];
  EXPECT_NEAR(w.theta, up[te].theta + st.rows[1][st.iblte[1]].theta, 1e-3 * w.theta);
  EXPECT_LT(row_hk(w), 4.0);
}

TEST(MarchInIteration, GeneratorPanelingKeepsAPhysicalWake) {
  // The whole iteration on the generator's 81 points per side, where the
  // upper trailing-edge station once started from a blown-up march and the
  // Newton iteration then settled on a wake whose edge velocity collapsed
  // at its end (with a far too small Squire-Young drag). Measured drag of
  // both sections grows steadily with angle above the drag bucket, and NACA
  // 2412 at Re 1e6 and 10 degrees has cd of about 0.012 to 0.016 in
  // wind-tunnel data.
  velaro::ViscousConfig c;
  c.reynolds = 1e6;
  c.mach = 0.0;
  c.ncrit = 9.0;
  c.max_iterations = 100;
  c.tolerance = 1e-4;
  c.wake_length = 1.0;
  c.re_type = velaro::ReynoldsType::Type1;
  for (std::uint32_t d : {2412u, 4412u}) {
    auto body = velaro::Body::from_points(velaro::generate_naca4(d, 81));
    ASSERT_TRUE(body.has_value());
    double previous = 0.0;
    for (int a = 6; a <= 11; ++a) {
      auto r = velaro::solve_body_oper_point(*body, c, a, {});
      ASSERT_TRUE(r.has_value()) << d << " " << a;
      EXPECT_TRUE(r->converged) << d << " " << a;
      EXPECT_GT(r->cd, previous) << d << " " << a;
      if (d == 2412u && a == 10) {
        EXPECT_GT(r->cd, 0.012);
        EXPECT_LT(r->cd, 0.016);
      }
      previous = r->cd;
    }
  }
}
