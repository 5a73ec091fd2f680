#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "geometry/naca.h"
#include "viscous/row_refresh.h"
#include "viscous/trace_printer.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/station_indexing.h"
#include "viscous/wake_setup.h"

#include "viscous_fixtures.h"

using namespace velaro;
using velaro::testing::closed_naca00;

namespace {

OperPointSetup setup_for(const std::vector<Point>& pts, double alpha_deg) {
  auto s = build_state_from_coords("test", pts, ViscousConfig{}, alpha_deg);
  EXPECT_TRUE(s.has_value());
  return std::move(*s);
}

// Inviscid speeds, wake, stagnation point, numbering and rows (zero
// boundary layer) of a fresh operating point.
OperPointSetup laid_out(const std::vector<Point>& pts, double alpha_deg) {
  OperPointSetup op = setup_for(pts, alpha_deg);
  ViscousState& st = op.state;
  combine_base_solutions_at_alpha(st, st.alpha);
  refresh_wake_geometry(st, op.system, ViscousConfig{});
  compute_wake_inviscid_speeds(st, op.system);
  locate_stagnation_point(st);
  number_rows_from_stagnation(st);
  for (std::size_t side = 0; side < 2; ++side) st.rows[side].assign(st.ipan[side].size(), BlRow{});
  set_row_arc_lengths(st);
  set_inviscid_edge_speeds(st);
  return op;
}

}  // namespace

TEST(Specal, CombinesBaseSolutions) {
  OperPointSetup op = laid_out(generate_naca4(2412, 41), 3.0);
  ViscousState& st = op.state;
  const std::size_t n = st.node_count();
  combine_base_solutions_at_alpha(st, std::numbers::pi / 2.0);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_NEAR(st.qinv[i], st.qinvu_90[i], 1e-15);
    EXPECT_NEAR(st.qinv_a[i], -st.qinvu_0[i], 1e-15);
    EXPECT_NEAR(st.gam[i], st.gamu_90[i], 1e-15);
  }
  const double a = 0.3;
  combine_base_solutions_at_alpha(st, a);
  EXPECT_EQ(st.alpha, a);
  ASSERT_EQ(st.wake_qinv.size(), st.wake_count());
  for (std::size_t k = 0; k < st.wake_count(); ++k)
    EXPECT_NEAR(st.wake_qinv[k], std::cos(a) * st.wake_qinvu_0[k] + std::sin(a) * st.wake_qinvu_90[k], 1e-15);
  // The alpha derivative is the derivative of the combination.
  for (std::size_t i = 0; i < n; i += 7) EXPECT_NEAR(st.qinv_a[i], std::cos(a) * st.qinvu_90[i] - std::sin(a) * st.qinvu_0[i], 1e-15);
}

TEST(Stfind, SymmetricSectionAtZeroAlphaStagnatesAtTheLeadingEdge) {
  OperPointSetup op = laid_out(closed_naca00(0.12, 61), 0.0);
  const ViscousState& st = op.state;
  const std::size_t n = st.node_count();
  // Odd node count: the leading edge is the middle node, where gamma
  // vanishes by symmetry; sst sits on it up to the 1e-7 nudge.
  EXPECT_EQ(n % 2, 1u);
  EXPECT_NEAR(st.sst, st.s[n / 2], 2e-7);
  EXPECT_TRUE(st.ist == n / 2 || st.ist + 1 == n / 2);
  EXPECT_NEAR(st.sst, op.system.geometry.s_le, 1e-4);
}

TEST(Stfind, StagnationPointMovesOntoTheLowerSurfaceAsAlphaGrows) {
  const auto pts = closed_naca00(0.12, 61);
  double prev_sst = 0.0;
  std::size_t prev_ist = 0;
  for (double deg : {0.0, 2.0, 5.0, 10.0}) {
    OperPointSetup op = laid_out(pts, deg);
    const ViscousState& st = op.state;
    if (deg > 0.0) {
      EXPECT_GT(st.sst, prev_sst) << deg;
      EXPECT_GE(st.ist, prev_ist) << deg;
      EXPECT_GT(st.sst, op.system.geometry.s_le) << deg;  // lower surface
    }
    // gam changes sign across the stagnation panel.
    EXPECT_GE(st.gam[st.ist], 0.0);
    EXPECT_LT(st.gam[st.ist + 1], 0.0);
    EXPECT_GE(st.sst, st.s[st.ist]);
    EXPECT_LE(st.sst, st.s[st.ist + 1]);
    prev_sst = st.sst;
    prev_ist = st.ist;
  }
}

TEST(Stfind, SensitivitiesMatchFiniteDifferences) {
  OperPointSetup op = laid_out(generate_naca4(2412, 41), 4.0);
  ViscousState& st = op.state;
  locate_stagnation_point(st);
  const std::size_t ist = st.ist;
  const double go = st.sst_go, gp = st.sst_gp;
  const double h = 1e-7 * std::abs(st.gam[ist] - st.gam[ist + 1]);
  auto sst_with = [&](std::size_t i, double delta) {
    ViscousState c = st;
    c.gam[i] += delta;
    locate_stagnation_point(c);
    EXPECT_EQ(c.ist, ist);
    return c.sst;
  };
  EXPECT_NEAR((sst_with(ist, h) - sst_with(ist, -h)) / (2 * h), go, 1e-6 * std::abs(go) + 1e-12);
  EXPECT_NEAR((sst_with(ist + 1, h) - sst_with(ist + 1, -h)) / (2 * h), gp, 1e-6 * std::abs(gp) + 1e-12);
}

TEST(Stfind, DegenerateDistributions) {
  ViscousState st;
  st.x.assign(10, 0.0);
  st.s = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  // No + to - change anywhere: n/2 - 1.
  st.gam.assign(10, 1.0);
  locate_stagnation_point(st);
  EXPECT_EQ(st.ist, 4u);
  EXPECT_DOUBLE_EQ(st.sst, 4.5);  // equal gamma: the midpoint
  EXPECT_EQ(st.sst_go, 0.0);
  EXPECT_EQ(st.sst_gp, 0.0);
  // gamma exactly 0 after a positive value is no sign change; the first
  // strict change is taken.
  st.gam = {3, 2, 1, 0, -0.0, -1, -2, -3, -4, -5};
  locate_stagnation_point(st);
  EXPECT_EQ(st.ist, 4u);  // -0.0 >= 0 and -1 < 0
  // Panel shorter than the 2e-7 clamp interval: the midpoint, no NaN.
  st.gam = {3, 2, 1, 0.5, -0.25, -1, -2, -3, -4, -5};
  st.s = {0, 1, 2, 3, 3 + 1e-7, 4, 5, 6, 7, 8};
  locate_stagnation_point(st);
  EXPECT_EQ(st.ist, 3u);
  EXPECT_DOUBLE_EQ(st.sst, 3 + 0.5e-7);
  EXPECT_EQ(st.sst_go, 0.0);
  // Non-finite vorticity: midpoint, never NaN.
  st.s = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  st.gam = {3, 2, 1, 0.5, -std::numeric_limits<double>::infinity(), -1, -2, -3, -4, -5};
  locate_stagnation_point(st);
  EXPECT_EQ(st.ist, 3u);
  EXPECT_DOUBLE_EQ(st.sst, 3.5);
  // Near a node the estimate is nudged 1e-7 inside the panel.
  st.gam = {3, 2, 1, 1e-12, -1, -1, -2, -3, -4, -5};
  locate_stagnation_point(st);
  EXPECT_EQ(st.ist, 3u);
  EXPECT_DOUBLE_EQ(st.sst, 3 + 1e-7);
}

TEST(Iblpan, NumberingInvariantsForSeveralAngles) {
  const auto pts = generate_naca4(4412, 61);
  for (double deg : {-6.0, 0.0, 4.0, 12.0}) {
    OperPointSetup op = laid_out(pts, deg);
    const ViscousState& st = op.state;
    const std::size_t n = st.node_count(), nw = st.wake_count(), ist = st.ist;
    ASSERT_EQ(nw, 10u + n / 12u);
    EXPECT_EQ(st.iblte[0], ist + 1);
    EXPECT_EQ(st.nbl[0], ist + 2);
    EXPECT_EQ(st.iblte[1], n - ist - 1);
    EXPECT_EQ(st.nbl[1], n - ist + nw);
    EXPECT_EQ(st.ipan[0][0], kNoPanel);
    EXPECT_EQ(st.ipan[1][0], kNoPanel);
    // Upper rows walk from ist back to node 0, lower rows from ist+1 to
    // n-1 and on into the wake; every airfoil node has exactly one row.
    std::multiset<std::size_t> seen;
    for (std::size_t r = 1; r <= st.iblte[0]; ++r) {
      EXPECT_EQ(st.ipan[0][r], ist + 1 - r);
      seen.insert(st.ipan[0][r]);
    }
    for (std::size_t r = 1; r < st.nbl[1]; ++r) {
      EXPECT_EQ(st.ipan[1][r], ist + r);
      if (r <= st.iblte[1]) seen.insert(st.ipan[1][r]);
    }
    EXPECT_EQ(seen.size(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(seen.count(i), 1u);
    // Upper wake copies name the same wake nodes.
    ASSERT_EQ(st.ipan[0].size(), st.nbl[0] + nw);
    for (std::size_t k = 0; k < nw; ++k) EXPECT_EQ(st.ipan[0][st.nbl[0] + k], n + k);
    // Newton lines: upper rows first, then lower, none for row 0 and the
    // upper wake copies.
    std::size_t line = 0;
    for (std::size_t side = 0; side < 2; ++side) {
      ASSERT_EQ(st.isys[side].size(), st.ipan[side].size());
      EXPECT_FALSE(st.isys[side][0].has_value());
      for (std::size_t r = 1; r < st.isys[side].size(); ++r) {
        if (r < st.nbl[side]) {
          ASSERT_TRUE(st.isys[side][r].has_value());
          EXPECT_EQ(*st.isys[side][r], line++);
        } else {
          EXPECT_FALSE(st.isys[side][r].has_value());
        }
      }
    }
    EXPECT_EQ(line, st.nbl[0] - 1 + st.nbl[1] - 1);
  }
}

TEST(Iblpan, StagnationAtTheFirstPanel) {
  ViscousState st;
  st.x.assign(12, 0.0);
  st.ist = 0;
  number_rows_from_stagnation(st);
  EXPECT_EQ(st.ipan[0], (std::vector<std::size_t>{kNoPanel, 0}));
  EXPECT_EQ(st.iblte[0], 1u);
  EXPECT_EQ(st.nbl[0], 2u);
  EXPECT_EQ(st.iblte[1], 11u);
  EXPECT_EQ(st.nbl[1], 12u);
}

TEST(Xicalc, ArcLengthsPositionsAndSpeeds) {
  OperPointSetup op = laid_out(generate_naca4(2412, 61), 5.0);
  const ViscousState& st = op.state;
  const std::size_t n = st.node_count();
  const double eps = 1e-7 * (st.s[n - 1] - st.s[0]);
  for (std::size_t side = 0; side < 2; ++side) {
    const auto& rows = st.rows[side];
    EXPECT_EQ(rows[0].x, 0.0);
    EXPECT_EQ(rows[0].panel, kNoPanel);
    EXPECT_EQ(rows[0].uinv, 0.0);
    for (std::size_t r = 1; r < st.nbl[side]; ++r) {
      const std::size_t node = st.ipan[side][r];
      EXPECT_EQ(rows[r].panel, node);
      EXPECT_GE(rows[r].x, eps);
      // Strictly increasing, except the first wake row, which sits at the
      // trailing-edge row's arc length.
      if (r > 1 && r != st.iblte[side] + 1) { EXPECT_GT(rows[r].x, rows[r - 1].x) << side << " " << r; }
      if (node < n) {
        EXPECT_EQ(rows[r].x_coord, st.x[node]);
        EXPECT_NEAR(rows[r].x, std::abs(st.s[node] - st.sst), 1e-15);
        EXPECT_EQ(rows[r].uinv, (side == 0 ? 1.0 : -1.0) * st.qinv[node]);
      } else {
        EXPECT_EQ(rows[r].x_coord, st.wake_x[node - n]);
        EXPECT_EQ(rows[r].uinv, -st.wake_qinv[node - n]);
      }
    }
  }
  // Away from the stagnation point the edge speeds are positive on both
  // sides and along the wake.
  for (std::size_t r = 3; r < st.nbl[1]; ++r) EXPECT_GT(st.rows[1][r].uinv, 0.0) << r;
  for (std::size_t r = 3; r < st.nbl[0]; ++r) EXPECT_GT(st.rows[0][r].uinv, 0.0) << r;
  // The wake arc length continues from the lower trailing-edge row.
  const std::size_t te = st.iblte[1];
  EXPECT_NEAR(st.rows[1][te + 1].x, st.rows[1][te].x, 0.0);
  EXPECT_NEAR(st.rows[1][te + 2].x - st.rows[1][te + 1].x,
              std::hypot(st.wake_x[1] - st.wake_x[0], st.wake_y[1] - st.wake_y[0]), 1e-15);
}

TEST(WakeGap, BluntEdgeGapDecaysOverTwoAndAHalfGapLengths) {
  OperPointSetup op = laid_out(generate_naca4(12, 61), 2.0);
  ViscousState& st = op.state;
  ASSERT_FALSE(st.sharp_te);
  ASSERT_GT(st.ante, 0.0);
  const std::size_t te = st.iblte[1];
  // The cubic starts at the full gap (aa + bb = 1) and is zero beyond
  // 2.5 gap lengths.
  EXPECT_NEAR(st.wgap[0], st.ante, 1e-15);
  for (std::size_t k = 0; k < st.wake_count(); ++k) {
    const double u = st.rows[1][te + 1 + k].x - st.rows[1][te].x;
    if (u > 2.5 * st.ante) { EXPECT_EQ(st.wgap[k], 0.0) << k; }
    EXPECT_GE(st.wgap[k], 0.0);
    if (k > 0) { EXPECT_LE(st.wgap[k], st.wgap[k - 1]); }
    EXPECT_EQ(st.rows[1][te + 1 + k].dw, st.wgap[k]);
  }
  // Applying the gap again does not add it twice to a wake row.
  for (std::size_t k = 0; k < st.wake_count(); ++k) {
    st.rows[1][te + 1 + k].flow = velaro::FlowType::Wake;
    st.rows[1][te + 1 + k].dstr = 0.01 + st.rows[1][te + 1 + k].dw;
  }
  update_wgap(st);
  update_wgap(st);
  for (std::size_t k = 0; k < st.wake_count(); ++k)
    EXPECT_NEAR(st.rows[1][te + 1 + k].dstr, 0.01 + st.wgap[k], 1e-15);
}

TEST(WakeGap, SharpEdgeHasNoGap) {
  OperPointSetup op = laid_out(closed_naca00(0.12, 41), 2.0);
  ViscousState& st = op.state;
  ASSERT_TRUE(st.sharp_te);
  const std::size_t te = st.iblte[1];
  st.rows[1][te + 2].dstr = 0.004;
  update_wgap(st);
  for (double g : st.wgap) EXPECT_EQ(g, 0.0);
  EXPECT_EQ(st.rows[1][te + 2].dstr, 0.004);
}

TEST(RowRefresh, StagnationAnchor) {
  OperPointSetup op = laid_out(generate_naca4(12, 31), 1.0);
  ViscousState& st = op.state;
  st.rows[1][0].theta = 5.0;
  set_stagnation_anchor(st, Side::Lower, true);
  const BlRow& r = st.rows[1][0];
  EXPECT_EQ(r.x, 0.0);
  EXPECT_EQ(r.x_coord, st.x[st.ist + 1]);
  EXPECT_EQ(r.panel, kNoPanel);
  EXPECT_EQ(r.theta, 0.0);
  EXPECT_EQ(r.ampl, 0.0);
  EXPECT_TRUE(r.laminar());
  EXPECT_FALSE(r.wake());
  st.rows[0][1].x_coord = 0.123;
  set_stagnation_anchor(st, Side::Upper, false);
  EXPECT_EQ(st.rows[0][0].x_coord, 0.123);
  // Fewer than two rows: untouched.
  st.rows[0].resize(1);
  st.rows[0][0].theta = 7.0;
  set_stagnation_anchor(st, Side::Upper, true);
  EXPECT_EQ(st.rows[0][0].theta, 7.0);
}

TEST(RowRefresh, SeededAndReusedRows) {
  const BlRow seeded = refresh_or_seed_row(nullptr, 12, false, 0.02, 0.5, 0.06, 1.2, 0.3);
  const double theta = std::sqrt(0.45 * 0.02 / (6.0 * 1.2 * 1e6));
  EXPECT_NEAR(seeded.theta, theta, 1e-18);
  EXPECT_NEAR(seeded.dstr, 2.2 * theta, 1e-18);
  EXPECT_NEAR(seeded.mass, 1.2 * 2.2 * theta, 1e-18);
  EXPECT_EQ(seeded.uedg, 1.2);
  EXPECT_EQ(seeded.panel, 12u);
  EXPECT_EQ(seeded.uinv_a, 0.3);
  EXPECT_EQ(seeded.ampl, 0.0);
  EXPECT_TRUE(seeded.laminar());
  // Stagnation-region floors: vanishing speed and arc length stay finite.
  const BlRow floor = refresh_or_seed_row(nullptr, 3, false, 0.0, 0.0, 0.0, -0.5, 0.0);
  EXPECT_NEAR(floor.theta, std::sqrt(0.45 * 1e-6 / (6.0 * 0.01 * 1e6)), 1e-18);

  const BlRow wake = refresh_or_seed_row(nullptr, 70, true, 1.1, 1.05, 0.0, 0.9, 0.0);
  EXPECT_EQ(wake.ctau, 0.03);
  EXPECT_TRUE(wake.wake());
  EXPECT_FALSE(wake.laminar());

  BlRow old = seeded;
  old.theta = 0.004;
  old.ctau = 0.2;
  const BlRow reused = refresh_or_seed_row(&old, 14, true, 0.5, 0.7, 0.01, 0.8, -0.1);
  EXPECT_EQ(reused.theta, 0.004);
  EXPECT_EQ(reused.ctau, 0.2);
  EXPECT_EQ(reused.uedg, 1.2);  // boundary-layer values kept
  EXPECT_EQ(reused.uinv, 0.8);
  EXPECT_EQ(reused.x, 0.5);
  EXPECT_EQ(reused.panel, 14u);
  EXPECT_TRUE(reused.wake() && !reused.laminar());
}

TEST(RowRefresh, SurfaceRowViews) {
  std::vector<BlRow> rows(8);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    rows[r].dstr = 0.01;
    rows[r].ctau = 0.5 + static_cast<double>(r);
  }
  rows[3].dw = 0.004;  // a former wake row now on the airfoil
  rows[3].flow = velaro::FlowType::Wake;
  rows[5].flow = velaro::FlowType::Laminar;  // a laminar row that turns into a wake row
  rows[5].ampl = 2.5;
  refresh_surface_row_views(rows, 7, 4, 2);  // iblte 4, first turbulent row 2
  // A row turning laminar takes its first variable as the amplification.
  EXPECT_TRUE(rows[1].laminar());
  EXPECT_EQ(rows[1].ampl, 1.5);
  EXPECT_TRUE(!rows[2].laminar());
  EXPECT_EQ(rows[2].ctau, 2.5);
  EXPECT_EQ(rows[2].ampl, 0.0);
  EXPECT_FALSE(rows[3].wake());
  EXPECT_EQ(rows[3].dw, 0.0);
  EXPECT_NEAR(rows[3].dstr, 0.006, 1e-15);
  // A laminar row turning turbulent takes its amplification as the shear
  // variable, as the row's first unknown carries over.
  EXPECT_TRUE(rows[5].wake() && !rows[5].laminar());
  EXPECT_EQ(rows[5].ctau, 2.5);
  EXPECT_EQ(rows[5].dstr, 0.01);
  EXPECT_FALSE(rows[7].wake());  // beyond the limit
  EXPECT_FALSE(rows[0].laminar());   // row 0 untouched
}

TEST(RowRefresh, StagnationMoveTraceOnlyWhenSwitchedOn) {
  OperPointSetup op = laid_out(generate_naca4(12, 31), 1.0);
  const ViscousState& st = op.state;
  unsetenv("VELARO_STMOVE_DEBUG");
  ::testing::internal::CaptureStderr();
  trace_stagnation_move_rows(st, "after_stfind", 3, 4);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  setenv("VELARO_STMOVE_DEBUG", "", 1);  // an empty value also counts as set
  ::testing::internal::CaptureStderr();
  trace_stagnation_move_rows(st, "after_stfind", 3, 4);
  const std::string out = ::testing::internal::GetCapturedStderr();
  unsetenv("VELARO_STMOVE_DEBUG");
  // Rows 1-5 and the last six below nbl of each side, each once, plus the header.
  std::size_t lines = 0;
  for (char c : out) lines += c == '\n';
  const auto per_side = [](std::size_t nbl) { return std::min<std::size_t>(nbl - 1, 11); };
  EXPECT_EQ(lines, 1 + per_side(st.nbl[0]) + per_side(st.nbl[1]));
}
