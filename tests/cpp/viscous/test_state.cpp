#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "viscous/state.h"
#include "viscous/station_evaluation.h"

using namespace velaro;

namespace {

BlRow row(double x, double uedg, double theta, double dstr, double ctau, double ampl, double dw = 0.0) {
  BlRow r;
  r.x = x;
  r.x_coord = 10.0 * x;
  r.panel = 4;
  r.uedg = uedg;
  r.theta = theta;
  r.dstr = dstr;
  r.mass = dstr * uedg;
  r.ctau = ctau;
  r.ampl = ampl;
  r.dw = dw;
  return r;
}

// rows: 0 placeholder, 1-2 laminar, 3 turbulent (first turbulent row), 4 = iblte, 5-6 wake.
std::vector<BlRow> side_rows() {
  return {BlRow{},
          row(0.01, 0.8, 2e-4, 5e-4, 3.5, 3.5),
          row(0.05, -1.1, 3e-4, 8e-4, 5.0, 5.0),
          row(0.2, 1.2, 1e-3, 1.6e-3, 0.08, 9.0),
          row(0.9, 1.0, 2e-3, 3.5e-3, 0.1, 9.0),
          row(1.0, 0.95, 3e-3, 0.005, 0.07, 0.0, 0.002),
          row(1.2, 0.97, 3e-3, 0.004, 0.06, 0.0, 0.0)};
}

}  // namespace

TEST(RowsToStations, PrimaryVariablesFloorsAndRegimes) {
  const auto rows = side_rows();
  const auto st = stations_from_rows(rows, rows.size(), 4, 3, 0.01, 2e6);
  ASSERT_EQ(st.size(), rows.size());
  // Negative edge velocity becomes a positive speed.
  EXPECT_EQ(st[2].u, 1.1);
  // Placeholder row: floors keep every value usable.
  EXPECT_EQ(st[0].u, 1e-9);
  EXPECT_EQ(st[0].theta, 1e-12);
  EXPECT_EQ(st[0].dstar, 1e-12);
  // Regimes: r < first turbulent row laminar, wake beyond iblte.
  EXPECT_TRUE(st[1].laminar() && !st[1].turbulent());
  EXPECT_TRUE(st[2].laminar());
  EXPECT_TRUE(st[3].turbulent() && !st[3].laminar() && !st[3].wake());
  EXPECT_TRUE(st[5].wake() && st[5].turbulent());
  // Laminar stations carry the fixed shear variable and the amplification.
  EXPECT_EQ(st[1].ctau, 0.03);
  EXPECT_EQ(st[1].ampl, 3.5);
  EXPECT_EQ(st[3].ctau, 0.08);
  // A wake row with dw = 0.002 and dstr = 0.005 is a station with
  // displacement thickness 0.003 plus the gap.
  EXPECT_NEAR(st[5].dstar, 0.003, 1e-15);
  EXPECT_EQ(st[5].dw, 0.002);
  // The secondaries are compute_secondary_variables's for the row's regime, Mach and Reynolds number.
  BlStation ref = st[3];
  compute_secondary_variables(ref, FlowType::Turbulent, 0.01, 2e6);
  EXPECT_EQ(ref.cf, st[3].cf);
  EXPECT_EQ(ref.r_theta, st[3].r_theta);
  EXPECT_NEAR(st[3].r_theta, 2e6 * 1.2 * 1e-3, 1e-9);
  BlStation wref = st[5];
  compute_secondary_variables(wref, FlowType::Wake, 0.01, 2e6);
  EXPECT_EQ(wref.di, st[5].di);
  EXPECT_EQ(st[5].cf, 0.0);
  // Count limits the stations.
  EXPECT_EQ(stations_from_rows(rows, 3, 4, 3, 0.0, 1e6).size(), 3u);
  EXPECT_EQ(stations_from_rows(rows, 99, 4, 3, 0.0, 1e6).size(), rows.size());
}

TEST(RowsToStations, NonFiniteRowValuesAreFloored) {
  std::vector<BlRow> rows{BlRow{}, row(0.1, std::nan(""), std::nan(""), std::nan(""), std::nan(""), std::nan(""))};
  const auto st = stations_from_rows(rows, rows.size(), 5, 0, 0.0, 1e6);
  EXPECT_EQ(st[1].theta, 1e-12);
  EXPECT_EQ(st[1].dstar, 1e-12);
  EXPECT_EQ(st[1].ctau, 1e-7);
  EXPECT_EQ(st[1].ampl, 0.0);
}

TEST(StateRebuild, QvisGamAndMassFromRows) {
  ViscousState st;
  const std::size_t n = 6, nw = 2;
  st.x.assign(n, 0.0);
  st.wake_x.assign(nw, 0.0);
  st.qinv_a = {1, 2, 3, 4, 5, 6};
  // Stagnation between nodes 2 and 3.
  st.ipan[0] = {kNoPanel, 2, 1, 0, 6, 7};
  st.ipan[1] = {kNoPanel, 3, 4, 5, 6, 7};
  st.nbl = {4, 6};
  st.iblte = {3, 3};
  for (std::size_t side = 0; side < 2; ++side) {
    st.rows[side].resize(st.ipan[side].size());
    for (std::size_t r = 1; r < st.rows[side].size(); ++r) {
      st.rows[side][r].uedg = 0.1 * static_cast<double>(r) + (side == 0 ? 0.0 : 1.0);
      st.rows[side][r].dstr = 0.01;
    }
  }
  rebuild_qvis_from_rows(st);
  ASSERT_EQ(st.qvis.size(), n + nw);
  EXPECT_DOUBLE_EQ(st.qvis[2], 0.1);
  EXPECT_DOUBLE_EQ(st.qvis[0], 0.3);
  EXPECT_DOUBLE_EQ(st.qvis[3], -1.1);
  EXPECT_DOUBLE_EQ(st.qvis[5], -1.3);
  EXPECT_DOUBLE_EQ(st.qvis[7], -1.5);  // wake from the lower side, not the upper copies
  rebuild_gam_from_qvis(st);
  ASSERT_EQ(st.gam.size(), n);
  EXPECT_EQ(st.gam[3], st.qvis[3]);
  EXPECT_EQ(st.gam_a, st.qinv_a);
  recompute_mass_from_state(st);
  EXPECT_DOUBLE_EQ(st.rows[1][5].mass, 0.01 * 1.5);
  EXPECT_DOUBLE_EQ(st.rows[0][3].mass, 0.01 * 0.3);
  EXPECT_EQ(st.rows[0][4].mass, 0.0);  // upper wake copies are beyond nbl
  EXPECT_EQ(st.rows[0][0].mass, 0.0);
  // A node index outside the arrays is skipped, not written.
  st.ipan[1][2] = 99;
  rebuild_qvis_from_rows(st);
  EXPECT_EQ(st.qvis[4], 0.0);
}
