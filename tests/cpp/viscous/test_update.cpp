#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "boundary_layer/closures.h"
#include "geometry/naca.h"
#include "viscous/assembly.h"
#include "viscous/block_solve.h"
#include "viscous/driver.h"
#include "viscous/forces.h"
#include "viscous/setup.h"
#include "viscous/station_evaluation.h"
#include "viscous/update.h"
#include "viscous_fixtures.h"

using namespace velaro;
using velaro::testing::make_station;
using velaro::testing::placeholder;

namespace {

// A station on node `panel` at arc length 0.1 (panel + 1) with shape
// factor h.
BlStation station(FlowType flow, std::size_t panel, double u, double theta, double h, double first,
                  double dw = 0.0) {
  return make_station(flow, 0.1 * static_cast<double>(panel + 1), panel, u, theta, h * theta, first, dw);
}

// Upper: stagnation + two laminar stations + a turbulent TE station (nodes
// 2, 1, 0). Lower: stagnation + three airfoil stations (nodes 3, 4, 5) + two
// wake stations (nodes 6, 7). Lines: upper 1..3, lower 4..8 (b = 4).
struct Sides {
  std::vector<BlStation> up, lo;
  // The rows the update stores into, one per station.
  std::vector<BlRow> rows_up, rows_lo;
  std::vector<double> uinv_u, uinv_l;
  Eigen::MatrixXd dij = Eigen::MatrixXd::Zero(8, 8);

  Sides() {
    up = {placeholder(), station(FlowType::Laminar, 2, 0.8, 1e-4, 2.4, 1.0),
          station(FlowType::Laminar, 1, 1.1, 3e-4, 2.5, 3.0), station(FlowType::Turbulent, 0, 0.95, 2e-3, 1.8, 0.08)};
    lo = {placeholder(),
          station(FlowType::Laminar, 3, 0.7, 1.2e-4, 2.5, 2.0),
          station(FlowType::Turbulent, 4, 0.9, 8e-4, 1.6, 0.06),
          station(FlowType::Turbulent, 5, 0.93, 1.5e-3, 1.7, 0.07),
          station(FlowType::Wake, 6, 0.92, 3.4e-3, 1.9, 0.05, 0.002),
          station(FlowType::Wake, 7, 0.95, 3.3e-3, 1.5, 0.04, 0.001)};
    uinv_u.resize(up.size());
    uinv_l.resize(lo.size());
    for (std::size_t i = 0; i < up.size(); ++i) uinv_u[i] = up[i].u;
    for (std::size_t i = 0; i < lo.size(); ++i) uinv_l[i] = lo[i].u;
    rows_up.resize(up.size());
    rows_lo.resize(lo.size());
  }
  UpdateSummary update(const SolveState& sol, const UpdateInputs& in) {
    return apply_global_update(rows_up, rows_lo, up, lo, sol, in);
  }
  DijView view() const {
    return {dij.data(), static_cast<std::size_t>(dij.rows()), static_cast<std::size_t>(dij.cols())};
  }
  // Inputs with no airfoil contour (so the lift terms are all 0) and alpha
  // prescribed.
  UpdateInputs inputs() const {
    UpdateInputs in;
    in.dij = view();
    in.uinv_upper = uinv_u;
    in.uinv_lower = uinv_l;
    in.nsys = 8;
    in.b = 4;
    in.re = 1e6;
    return in;
  }
  static SolveState zero_solution(std::size_t nsys = 8) { return {std::vector<Vec3>(nsys + 1), std::vector<Vec3>(nsys + 1)}; }
};

}  // namespace

TEST(Update, FlattenMapsStationsToSystemLines) {
  const std::vector<double> up{9.0, 1.0, 2.0, 3.0};
  const std::vector<double> lo{9.0, 4.0, 5.0, 6.0, 7.0};
  const std::vector<double> flat = flatten_surface_values(7, 4, up, lo);
  const std::vector<double> expect{0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0};
  EXPECT_EQ(flat, expect);
  // Entries beyond nsys are dropped, missing ones stay 0.
  const std::vector<double> short_flat = flatten_surface_values(5, 4, up, lo);
  EXPECT_EQ(short_flat, (std::vector<double>{0.0, 1.0, 2.0, 3.0, 4.0, 5.0}));
  EXPECT_EQ(flatten_surface_values(3, 4, {}, lo), (std::vector<double>{0.0, 0.0, 0.0, 0.0}));
}

TEST(Update, PanelValuesCarryTheSideSignAndSkipTheWake) {
  const Sides s;
  const std::vector<double> vu{7.0, 0.5, 0.6, 0.7};
  const std::vector<double> vl{7.0, 0.2, 0.3, 0.4, 0.9, 0.9};
  const std::vector<double> q = build_panel_values_from_surface_values(s.up, s.lo, vu, vl, 6);
  ASSERT_EQ(q.size(), 6u);
  EXPECT_EQ(q[2], 0.5);
  EXPECT_EQ(q[1], 0.6);
  EXPECT_EQ(q[0], 0.7);
  EXPECT_EQ(q[3], -0.2);
  EXPECT_EQ(q[4], -0.3);
  EXPECT_EQ(q[5], 0.0);  // last node cleared
  EXPECT_TRUE(build_panel_values_from_surface_values(s.up, s.lo, vu, vl, 0).empty());
}

TEST(Update, ThicknessLimiterRaisesShapeFactor) {
  // At M = 0, Hk = H, so the limiter brings dstar to 1.02 theta on the
  // airfoil and to 1.00005 theta in the wake; thicker layers are untouched.
  BlStation a = station(FlowType::Turbulent, 1, 1.0, 1e-3, 1.5, 0.05);
  a.dstar = 0.9e-3;
  limit_displacement_thickness(a, 0.0);
  EXPECT_NEAR(a.dstar, 1.02e-3, 1e-15);
  BlStation w = station(FlowType::Wake, 6, 1.0, 1e-3, 1.5, 0.05, 0.001);
  w.dstar = 0.5e-3;
  limit_displacement_thickness(w, 0.0);
  EXPECT_NEAR(w.dstar, 1.00005e-3, 1e-15);
  BlStation ok = station(FlowType::Laminar, 1, 1.0, 1e-3, 2.5, 1.0);
  const double before = ok.dstar;
  limit_displacement_thickness(ok, 0.0);
  EXPECT_EQ(ok.dstar, before);
  // With compressibility Hk < H, so the raise is to Hk = 1.02, not H.
  BlStation c = station(FlowType::Turbulent, 1, 1.0, 1e-3, 1.5, 0.05);
  c.dstar = 0.9e-3;
  limit_displacement_thickness(c, 0.25);
  EXPECT_NEAR(kinematic_shape_parameter(c.dstar / c.theta, 0.25).hk, 1.02, 1e-9);
}

TEST(Update, PreviewAddsSolvedMassChangesThroughTheInfluenceMatrix) {
  Sides s;
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> r(-0.2, 0.2);
  for (Eigen::Index i = 0; i < 8; ++i)
    for (Eigen::Index j = 0; j < 8; ++j) s.dij(i, j) = r(gen);
  SolveState sol = Sides::zero_solution();
  for (std::size_t iv = 1; iv <= 8; ++iv) {
    sol.col1[iv][2] = 1e-4 * static_cast<double>(iv);
    sol.col2[iv][2] = -2e-4 * static_cast<double>(iv);
  }
  const std::vector<double> base_u{0.0, 0.3, 0.2, 0.1};
  const std::vector<double> base_l{0.0, -0.1, -0.2, -0.3, -0.4, -0.5};
  const UePreview pv = preview_global_update_ue(s.up, s.lo, sol, 4, s.view(), s.uinv_u, s.uinv_l, base_u, base_l);
  // Expected: u_i = uinv_i - vti_i sum_j vti_j DIJ(i, j) (m_j + dm_j), the
  // coupling of the assembly evaluated at the new masses.
  auto expected = [&](int side, std::size_t i, bool sens) {
    const std::vector<BlStation>& t = side == 0 ? s.up : s.lo;
    const double vi = side == 0 ? 1.0 : -1.0;
    double u = sens ? (side == 0 ? base_u : base_l)[i] : (side == 0 ? s.uinv_u : s.uinv_l)[i];
    for (int sj = 0; sj < 2; ++sj) {
      const std::vector<BlStation>& src = sj == 0 ? s.up : s.lo;
      const double vj = sj == 0 ? 1.0 : -1.0;
      for (std::size_t j = 1; j < src.size(); ++j) {
        const std::size_t line = sj == 0 ? j : 4 + j - 1;
        const double d = s.dij(static_cast<Eigen::Index>(t[i].panel), static_cast<Eigen::Index>(src[j].panel));
        if (sens)
          u += vi * vj * d * sol.col2[line][2];
        else
          u -= vi * vj * d * (src[j].mass + sol.col1[line][2]);
      }
    }
    return u;
  };
  for (std::size_t i = 1; i < s.up.size(); ++i) {
    EXPECT_NEAR(pv.unew_upper[i], expected(0, i, false), 1e-14);
    EXPECT_NEAR(pv.u_ac_upper[i], expected(0, i, true), 1e-14);
  }
  for (std::size_t i = 1; i < s.lo.size(); ++i) {
    EXPECT_NEAR(pv.unew_lower[i], expected(1, i, false), 1e-14);
    EXPECT_NEAR(pv.u_ac_lower[i], expected(1, i, true), 1e-14);
  }
  // Station 0 keeps its speed; a station outside DIJ keeps its own.
  EXPECT_EQ(pv.unew_upper[0], s.up[0].u);
  EXPECT_EQ(pv.u_ac_upper[0], 0.0);
  s.lo[5].panel = 40;
  const UePreview p2 = preview_global_update_ue(s.up, s.lo, sol, 4, s.view(), s.uinv_u, s.uinv_l, {}, {});
  EXPECT_EQ(p2.unew_lower[5], s.lo[5].u);
  EXPECT_EQ(p2.u_ac_lower[5], 0.0);
}

TEST(Update, LaminarAmplificationChangeOf25LowersRelaxationTo06) {
  Sides s;
  SolveState sol = Sides::zero_solution();
  sol.col1[2][0] = 25.0;  // upper station 2 is laminar: dn1 = 25 / 10 = 2.5
  const double ampl0 = s.up[2].ampl;
  const UpdateSummary r = s.update(sol, s.inputs());
  EXPECT_EQ(r.dac, 0.0);
  EXPECT_EQ(r.rlx_cl, 1.0);
  EXPECT_DOUBLE_EQ(r.rlx, 0.6);
  EXPECT_DOUBLE_EQ(s.rows_up[2].ampl, ampl0 + 15.0);
  EXPECT_DOUBLE_EQ(r.max_change, 2.5);
  // rms over 8 stations of four changes each, one of them 2.5.
  EXPECT_DOUBLE_EQ(r.rms_change, std::sqrt(2.5 * 2.5 / 32.0));
  EXPECT_NE(r.limiter.find("upper station 2 ctau"), std::string::npos);
}

TEST(Update, NegativeChangesAreLimitedToMinusHalf) {
  Sides s;
  SolveState sol = Sides::zero_solution();
  sol.col1[5][1] = -0.8 * s.lo[2].theta;  // dn2 = -0.8 -> rlx = 0.625
  const double th0 = s.lo[2].theta;
  const UpdateSummary r = s.update(sol, s.inputs());
  EXPECT_DOUBLE_EQ(r.rlx, 0.625);
  EXPECT_NEAR(s.rows_lo[2].theta, th0 * 0.5, 1e-18);
}

TEST(Update, TurbulentShearIsCappedAndThicknessLimited) {
  Sides s;
  SolveState sol = Sides::zero_solution();
  sol.col1[3][0] = 0.1;  // upper TE: dn1 = 0.1 / 0.08 = 1.25, within the limit
  const UpdateSummary r = s.update(sol, s.inputs());
  EXPECT_EQ(r.rlx, 1.0);
  EXPECT_NEAR(s.rows_up[3].ctau, 0.18, 1e-15);
  Sides t;
  t.up[3].ctau = 0.2;
  compute_secondary_variables(t.up[3], FlowType::Turbulent, 0.0, 1e6);
  SolveState sol2 = Sides::zero_solution();
  sol2.col1[3][0] = 0.1;  // dn1 = 0.5: not limited, but 0.3 > 0.25
  t.update(sol2, t.inputs());
  EXPECT_EQ(t.rows_up[3].ctau, 0.25);
  // A mass change that would drive H of an airfoil station below 1.02 is
  // limited (dn3 = -0.45 keeps rlx at 1; H would become 0.99).
  Sides v;
  SolveState sol3 = Sides::zero_solution();
  const BlStation& st = v.lo[3];
  sol3.col1[6][2] = -0.45 * st.dstar * st.u;
  v.update(sol3, v.inputs());
  const BlRow& limited = v.rows_lo[3];
  EXPECT_NEAR(limited.dstr / limited.theta, 1.02, 1e-12);
  EXPECT_NEAR(limited.mass, limited.dstr * limited.uedg, 1e-18);
}

TEST(Update, WakeStationKeepsItsGapAndMass) {
  // A small change of a wake station's mass defect: the station thickness
  // (without the gap) takes the whole change, the gap is unchanged, and the
  // row carries thickness and mass defect with the gap.
  Sides s;
  SolveState sol = Sides::zero_solution();
  const BlStation& w = s.lo[4];
  const double dstar0 = w.dstar, dw = w.dw, u = w.u;
  sol.col1[7][2] = 1e-5;
  s.update(sol, s.inputs());
  const BlRow& row = s.rows_lo[4];
  EXPECT_EQ(row.dw, dw);
  EXPECT_TRUE(row.wake());
  EXPECT_NEAR(row.dstr - dw, dstar0 + 1e-5 / u, 1e-15);
  EXPECT_NEAR(row.mass, row.dstr * u, 1e-16);
}

TEST(Update, FewerThanTwoLinesStillRelaxFromDac) {
  // nsys < 2: the elimination returns a zero solution, the stations do not
  // move, and rlx comes from dac alone (alpha prescribed: dac = CL change,
  // limited to 0.5 by rlx).
  AssemblyState a;
  a.resize(1);
  const SolveState sol = block_solve(a);
  Sides s;
  UpdateInputs in = s.inputs();
  in.nsys = 1;
  in.cl_current = -2.0;  // no contour: cl_new = 0, so dac = 2
  const BlStation before = s.lo[2];
  const UpdateSummary r = s.update(sol, in);
  EXPECT_DOUBLE_EQ(r.dac, 2.0);
  EXPECT_DOUBLE_EQ(r.rlx, 0.25);
  EXPECT_DOUBLE_EQ(r.rlx_cl, 0.25);
  EXPECT_EQ(s.rows_lo[2].theta, before.theta);
  EXPECT_EQ(s.rows_lo[2].uedg, before.u);
  EXPECT_EQ(r.unew_flat.size(), 2u);
}

TEST(Update, NonFiniteChangesDoNotSpreadIntoRelaxation) {
  Sides s;
  SolveState sol = Sides::zero_solution();
  sol.col1[2][1] = std::numeric_limits<double>::quiet_NaN();
  const UpdateSummary r = s.update(sol, s.inputs());
  EXPECT_EQ(r.rlx, 1.0);  // NaN fails every comparison
  Sides t;
  SolveState inf = Sides::zero_solution();
  inf.col1[5][1] = std::numeric_limits<double>::infinity();
  const BlStation keep = t.lo[2];
  const UpdateSummary ri = t.update(inf, t.inputs());
  EXPECT_EQ(ri.rlx, 0.0);  // an infinite change drives rlx to 0
  // ... and its station keeps its values instead of taking 0 * inf.
  EXPECT_EQ(t.rows_lo[2].theta, keep.theta);
  EXPECT_TRUE(std::isfinite(t.rows_lo[2].mass));
  // A lift that cannot be evaluated gives dac = 0 instead of NaN changes.
  Sides u;
  UpdateInputs in = u.inputs();
  const std::vector<double> x{1.0, 0.5, 0.0, 0.5, 1.0, 1.0}, y{0.0, 0.05, 0.0, -0.05, 0.0, 0.0};
  in.x = x;
  in.y = y;
  u.uinv_u[1] = std::numeric_limits<double>::quiet_NaN();
  in.uinv_upper = u.uinv_u;
  const UpdateSummary rn = u.update(Sides::zero_solution(), in);
  EXPECT_EQ(rn.dac, 0.0);
  EXPECT_TRUE(std::isfinite(u.rows_lo[3].theta));
}

TEST(Update, PrescribedAlphaWithoutSensitivitiesHasZeroLiftSensitivity) {
  // Alpha prescribed and no solution column 2: q_ac is identically zero, so
  // cl_ac is exactly 0 and dac is the plain CL change of the predicted
  // speeds. cl_a is the angle derivative of the pressure integral of qnew.
  Sides s;
  UpdateInputs in = s.inputs();
  const std::vector<double> x{1.0, 0.5, 0.0, 0.5, 1.0, 1.0}, y{0.0, 0.06, 0.0, -0.04, 0.0, 0.0};
  in.x = x;
  in.y = y;
  in.alpha = 0.05;
  in.cl_current = 0.3;
  const UpdateSummary r = s.update(Sides::zero_solution(), in);
  EXPECT_EQ(r.cl_ac, 0.0);
  for (double v : r.q_ac) EXPECT_EQ(v, 0.0);
  const double cl = compute_panel_forces_from_gamma(x, y, r.qnew, 0.05, 0.0).cl;
  EXPECT_EQ(r.cl_new, cl);
  EXPECT_DOUBLE_EQ(r.dac, cl - 0.3);
  const double h = 1e-4;
  const double cla = (compute_panel_forces_from_gamma(x, y, r.qnew, 0.05 + h, 0.0).cl -
                      compute_panel_forces_from_gamma(x, y, r.qnew, 0.05 - h, 0.0).cl) /
                     (2 * h);
  EXPECT_NEAR(r.cl_a, cla, 1e-6);
}

TEST(Update, PrescribedClLimitsAlphaChangeToHalfDegree) {
  Sides s;
  UpdateInputs in = s.inputs();
  const std::vector<double> x{1.0, 0.5, 0.0, 0.5, 1.0, 1.0}, y{0.0, 0.06, 0.0, -0.04, 0.0, 0.0};
  in.x = x;
  in.y = y;
  in.prescribed_cl = true;
  in.cl_spec = 5.0;  // far above anything the speeds give
  const std::vector<double> base_u{0.0, 0.5, 0.5, 0.5}, base_l{0.0, -0.5, -0.5, -0.5, 0.0, 0.0};
  in.base_upper = base_u;
  in.base_lower = base_l;
  const UpdateSummary r = s.update(Sides::zero_solution(), in);
  EXPECT_NE(r.cl_ac, 0.0);
  EXPECT_EQ(std::fabs(r.dac), 0.008726646259971648);
  EXPECT_EQ(r.rlx_cl, 1.0);  // a clamped dac lies inside the limits
}

TEST(Update, RelaxedChangesRespectTheLimitsOnARealState) {
  // NACA 2412 at 4 degrees, Re = 1e6: the first Newton step from the marched
  // boundary layer. After relaxation every normalised change lies inside
  // [-0.5, 1.5] (Ue within 1.5 units of 0.25), and when rlx < 1 one of them
  // sits on its limit.
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  cfg.max_iterations = 1;
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 81), cfg, 4.0);
  ASSERT_TRUE(setup.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(setup->state, setup->system, cfg).has_value());
  ViscousState& st = setup->state;
  const AssemblyState a = assemble_newton_system(st, 2, cfg.reynolds, cfg.ncrit, 0.0);
  const SolveState sol = block_solve(a);
  const std::vector<BlStation> up0 = stations_from_rows(st.rows[0], st.nbl[0], st.iblte[0], st.first_turbulent_row[0], 0.0, 1e6);
  const std::vector<BlStation> lo0 = stations_from_rows(st.rows[1], st.nbl[1], st.iblte[1], st.first_turbulent_row[1], 0.0, 1e6);
  const UpdateSummary out = update_state_from_solution(st, a, sol, 0.0, cfg.reynolds);
  const double rlx = out.rlx;
  EXPECT_EQ(st.rlx, rlx);
  EXPECT_EQ(st.residual, out.rms_change);
  EXPECT_EQ(st.unew_flat.size(), a.nsys + 1);
  double closest = 0.0;
  for (int side = 0; side < 2; ++side) {
    const std::vector<BlStation>& before = side == 0 ? up0 : lo0;
    const std::vector<BlRow>& after = st.rows[side];
    for (std::size_t i = 1; i < before.size(); ++i) {
      const std::size_t line = side == 0 ? i : a.lower_first_line() + i - 1;
      const Vec3& d = sol.col1[line];
      const double c = before[i].laminar() ? 10.0 : before[i].ctau;
      const double dn[3] = {rlx * d[0] / c, rlx * d[1] / before[i].theta,
                            4.0 * std::fabs(after[i].uedg - before[i].u)};
      for (double v : dn) {
        EXPECT_LE(v, 1.5 + 1e-9);
        EXPECT_GE(v, -0.5 - 1e-9);
        closest = std::max(closest, std::max(v / 1.5, -v / 0.5));
      }
    }
  }
  if (rlx < 1.0) { EXPECT_GT(closest, 0.5); }  // the dstar change may be the binding one
}

// Through the workspace the update predicts the edge velocities from the
// assembly's coupling rows; the rows it stores and every figure of the
// update equal, to the bit, those of the update that sums over DIJ, with
// alpha and with CL prescribed (where the extra unknown's sensitivities
// enter). A coupling that no longer fits the stations is not used.
TEST(Update, CouplingRowsGiveTheUpdateOfTheSumsOverDij) {
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  cfg.max_iterations = 2;
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 81), cfg, 4.0);
  ASSERT_TRUE(setup.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(setup->state, setup->system, cfg).has_value());
  auto same_rows = [](const ViscousState& a, const ViscousState& b) {
    std::size_t differing = 0;
    for (std::size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(a.rows[k].size(), b.rows[k].size());
      for (std::size_t i = 0; i < std::min(a.rows[k].size(), b.rows[k].size()); ++i) {
        const BlRow& x = a.rows[k][i];
        const BlRow& y = b.rows[k][i];
        differing += x.uedg != y.uedg || x.theta != y.theta || x.dstr != y.dstr || x.ctau != y.ctau ||
                     x.ampl != y.ampl || x.mass != y.mass;
      }
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(a.unew_flat, b.unew_flat);
    EXPECT_EQ(a.u_ac_flat, b.u_ac_flat);
    EXPECT_EQ(a.rlx, b.rlx);
    EXPECT_EQ(a.dac, b.dac);
    EXPECT_EQ(a.cl_new, b.cl_new);
  };
  for (const bool prescribed_cl : {false, true}) {
    SCOPED_TRACE(prescribed_cl);
    ViscousState st = setup->state;
    if (prescribed_cl) {
      st.mode = OperMode::PrescribedCl;
      st.cl_spec = st.cl + 0.05;
    }
    NewtonWorkspace ws;
    assemble_newton_system(st, 3, cfg.reynolds, cfg.ncrit, 0.0, ws);
    const SolveState sol = block_solve(ws.system.a);
    ViscousState by_coupling = st;
    ViscousState by_sums = st;
    update_state_from_solution(by_coupling, ws.system.a, sol, 0.0, cfg.reynolds, ws);
    update_state_from_solution(by_sums, ws.system.a, sol, 0.0, cfg.reynolds);
    same_rows(by_coupling, by_sums);
    if (prescribed_cl) { EXPECT_NE(by_coupling.u_ac_flat, std::vector<double>(by_coupling.u_ac_flat.size(), 0.0)); }
    // A line whose node no longer matches its station: the sums over DIJ.
    ViscousState stale = st;
    ws.line_panel[2] += 1;
    update_state_from_solution(stale, ws.system.a, sol, 0.0, cfg.reynolds, ws);
    same_rows(stale, by_sums);
  }
}

TEST(Update, AStepWithoutRelaxationKeepsTheRows) {
  // With the relaxation factor bounded to 0 the update stores the rows as
  // their stations carry them: speeds and thicknesses unchanged up to the
  // floors, amplification and shear each in its own field, the wake gap
  // kept in the wake and dropped on the airfoil.
  ViscousConfig cfg;
  cfg.max_iterations = 2;
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 81), cfg, 4.0);
  ASSERT_TRUE(setup.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(setup->state, setup->system, cfg).has_value());
  ViscousState& st = setup->state;
  const AssemblyState a = assemble_newton_system(st, 3, cfg.reynolds, cfg.ncrit, 0.0);
  const SolveState sol = block_solve(a);
  const std::array<std::vector<BlRow>, 2> before = st.rows;
  const UpdateSummary r = update_state_from_solution(st, a, sol, 0.0, cfg.reynolds, nullptr, 0.0);
  EXPECT_EQ(r.rlx, 0.0);
  bool saw_wake = false, saw_laminar = false;
  for (std::size_t k = 0; k < 2; ++k) {
    for (std::size_t i = 1; i < st.nbl[k]; ++i) {
      const BlRow& b = before[k][i];
      const BlRow& now = st.rows[k][i];
      EXPECT_EQ(now.uedg, b.uedg) << k << " " << i;
      EXPECT_EQ(now.theta, b.theta) << k << " " << i;
      EXPECT_NEAR(now.dstr, b.dstr, 1e-15) << k << " " << i;
      EXPECT_NEAR(now.mass, now.dstr * now.uedg, 1e-15) << k << " " << i;
      EXPECT_EQ(now.flow, b.flow) << k << " " << i;
      if (now.laminar()) {
        saw_laminar = true;
        EXPECT_EQ(now.ampl, b.ampl) << k << " " << i;
      } else {
        EXPECT_EQ(now.ctau, b.ctau) << k << " " << i;
      }
      if (now.wake()) {
        saw_wake = true;
        EXPECT_EQ(now.dw, b.dw) << i;
      } else {
        EXPECT_EQ(now.dw, 0.0) << k << " " << i;
      }
    }
  }
  EXPECT_TRUE(saw_wake && saw_laminar);
}

TEST(Update, DegenerateInputsNeverCrashTheNewtonStep) {
  // Stations with zero, negative, huge and non-finite values, panels outside
  // the influence matrix, an empty matrix, mismatched side arrays: the
  // assembly, the elimination and the update must run through and leave a
  // finite system.
  std::mt19937 gen(17);
  std::uniform_int_distribution<int> pick(0, 9);
  std::uniform_real_distribution<double> r(0.0, 1.0);
  const double specials[] = {0.0, -1.0, 1e-300, 1e300, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  auto value = [&](double normal) {
    const int p = pick(gen);
    return p < 7 ? normal : specials[static_cast<std::size_t>(pick(gen)) % 7];
  };
  for (int round = 0; round < 40; ++round) {
    Sides s;
    for (auto* side : {&s.up, &s.lo})
      for (std::size_t i = 1; i < side->size(); ++i) {
        BlStation& t = (*side)[i];
        t.u = value(t.u);
        t.theta = value(t.theta);
        t.dstar = value(t.dstar);
        t.ctau = value(t.ctau);
        t.ampl = value(t.ampl);
        t.x = value(t.x);
        if (pick(gen) == 0) t.panel = 1000;
        compute_secondary_variables(t, t.wake() ? FlowType::Wake : (t.laminar() ? FlowType::Laminar : FlowType::Turbulent), 0.0, 1e6);
        t.mass = value(t.mass);
      }
    if (round % 3 == 0) s.dij.resize(0, 0);
    else
      for (Eigen::Index i = 0; i < s.dij.rows(); ++i)
        for (Eigen::Index j = 0; j < s.dij.cols(); ++j) s.dij(i, j) = value(r(gen) - 0.5);
    if (round % 5 == 1) s.uinv_l.resize(2);
    const std::vector<double> ua_u(s.up.size(), value(0.1)), ua_l(s.lo.size(), 0.0);
    const GlobalNewtonSystem sys =
        build_global_system(SurfaceInput{s.up, s.uinv_u, ua_u, 3}, SurfaceInput{s.lo, s.uinv_l, ua_l, 3}, s.view(),
                            value(0.002), value(0.1), value(-0.1), 0.0, 1e6, 9.0);
    for (double v : sys.a.vm) ASSERT_TRUE(std::isfinite(v));
    for (std::size_t iv = 0; iv <= sys.a.nsys; ++iv)
      for (int k = 0; k < 3; ++k) ASSERT_TRUE(std::isfinite(sys.a.vdel1[iv][k]) && std::isfinite(sys.a.vdel2[iv][k]));
    const SolveState sol = block_solve(sys.a);
    ASSERT_EQ(sol.col1.size(), sys.a.nsys + 1);
    UpdateInputs in = s.inputs();
    const std::vector<double> x{1.0, 0.5, 0.0, 0.5, 1.0, 1.0}, y{0.0, 0.06, 0.0, -0.04, 0.0, 0.0};
    in.x = x;
    in.y = y;
    in.prescribed_cl = round % 2 == 1;
    in.cl_spec = 0.4;
    const UpdateSummary u = s.update(sol, in);
    EXPECT_GE(u.rlx, 0.0);
    EXPECT_LE(u.rlx, 1.0);
    EXPECT_TRUE(std::isfinite(u.dac));
  }
}
