#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "geometry/naca.h"
#include "boundary_layer/interval_equations.h"
#include "boundary_layer/transition.h"
#include "viscous/assembly.h"
#include "viscous/block_solve.h"
#include "viscous/driver.h"
#include "viscous/setup.h"
#include "viscous/station_evaluation.h"
#include "viscous/trace_printer.h"
#include "viscous/update.h"
#include "viscous_fixtures.h"

using namespace velaro;
using velaro::testing::make_station;
using velaro::testing::placeholder;

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

FlowType flow_of(const BlStation& s) {
  return s.wake() ? FlowType::Wake : (s.laminar() ? FlowType::Laminar : FlowType::Turbulent);
}

// A synthetic two-sided boundary layer with the structure of a real one: the
// upper side laminar up to its last airfoil station, where transition is
// forced at the trailing edge; the lower side with a free transition in the
// interval from station 4 to 5; five wake stations behind the lower TE.
// DIJ is random; the inviscid speeds are chosen so that every edge velocity
// equals the one implied by the masses.
struct Fixture {
  double msq = 0.04;
  double re = 2e6;
  double ncrit = 9.0;
  double ante = 0.002;
  double xi1 = 0.4, xi2 = -0.3;
  std::size_t iblte_u = 11, iblte_l = 10;
  double trip_u = kNoTrip, trip_l = kNoTrip;  // arc lengths of the trips
  std::vector<BlStation> up, lo;
  std::vector<double> uinv_u, uinv_l, ua_u, ua_l;
  Eigen::MatrixXd dij;

  Fixture() {
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> r(-1.0, 1.0);
    const std::size_t nodes = 26;
    dij.resize(nodes, nodes);
    for (std::size_t i = 0; i < nodes; ++i)
      for (std::size_t j = 0; j < nodes; ++j) dij(i, j) = 0.3 * r(gen) + (i == j ? 1.5 : 0.0);

    up.push_back(placeholder());
    for (std::size_t i = 1; i <= iblte_u; ++i) {
      const double x = 0.01 + 0.099 * (i - 1);
      const double u = 1.35 - 0.4 * x;
      const bool turb = i == iblte_u;
      const double th = turb ? 1.6e-3 : 8e-5 + 2.5e-4 * x;
      const double h = turb ? 1.7 : 2.45 + 0.3 * x;
      const double first = turb ? 0.07 : 0.5 * i;  // ampl stays below ncrit
      up.push_back(make_station(turb ? FlowType::Turbulent : FlowType::Laminar, x, 11 - i, u, th, h * th, first,
                                0.0, msq, re));
    }
    lo.push_back(placeholder());
    for (std::size_t i = 1; i <= 15; ++i) {
      FlowType f;
      double x, u, th, h, first, dw = 0.0;
      if (i <= iblte_l) {
        x = 0.012 + 0.11 * (i - 1);
        u = 1.1 - 0.15 * x;
        const bool lam = i <= 4;
        f = lam ? FlowType::Laminar : FlowType::Turbulent;
        th = lam ? 1.5e-4 + 2e-4 * x : 3e-4 + 8e-4 * x;
        h = lam ? 2.7 : 1.55 + 0.1 * x;
        first = lam ? (i == 4 ? 8.7 : 2.0 * i) : 0.06 + 0.01 * x;
      } else {
        const std::size_t k = i - iblte_l - 1;
        f = FlowType::Wake;
        x = 1.0 + 0.012 + 0.2 * static_cast<double>(k);
        u = 0.9 + 0.02 * static_cast<double>(k);
        th = 2.9e-3 + 1e-4 * static_cast<double>(k);
        h = 1.9 - 0.1 * static_cast<double>(k);
        first = 0.05;
        dw = 0.002 * std::max(0.0, 1.0 - 0.3 * static_cast<double>(k));
      }
      lo.push_back(make_station(f, x, 10 + i, u, th, h * th, first, dw, msq, re));
    }
    ua_u.assign(up.size(), 0.0);
    ua_l.assign(lo.size(), 0.0);
    for (std::size_t i = 1; i < up.size(); ++i) ua_u[i] = 0.2 + 0.05 * r(gen);
    for (std::size_t i = 1; i < lo.size(); ++i) ua_l[i] = -0.3 + 0.05 * r(gen);
    uinv_u = consistent_uinv(up, 0);
    uinv_l = consistent_uinv(lo, 1);
  }

  // The stations of a viscous state (rows converted at Mach 0 and `re`),
  // its influence matrix, stagnation sensitivities and inviscid alpha
  // sensitivities. The inviscid speeds are replaced by the mass-consistent
  // ones so that the right-hand side is exactly the negated residual.
  Fixture(const ViscousState& st, double reynolds) {
    msq = 0.0;
    re = reynolds;
    ante = st.ante;
    xi1 = st.sst_go;
    xi2 = st.sst_gp;
    iblte_u = st.iblte[0];
    iblte_l = st.iblte[1];
    trip_u = trip_arc_length(st, Side::Upper);
    trip_l = trip_arc_length(st, Side::Lower);
    dij = st.dij;
    up = stations_from_rows(st.rows[0], std::min(st.nbl[0], st.rows[0].size()), iblte_u, st.first_turbulent_row[0], msq, re);
    lo = stations_from_rows(st.rows[1], std::min(st.nbl[1], st.rows[1].size()), iblte_l, st.first_turbulent_row[1], msq, re);
    ua_u.assign(up.size(), 0.0);
    ua_l.assign(lo.size(), 0.0);
    for (std::size_t i = 1; i < up.size(); ++i) ua_u[i] = st.rows[0][i].uinv_a;
    for (std::size_t i = 1; i < lo.size(); ++i) ua_l[i] = st.rows[1][i].uinv_a;
    uinv_u = consistent_uinv(up, 0);
    uinv_l = consistent_uinv(lo, 1);
  }

  DijView view() const {
    return {dij.data(), static_cast<std::size_t>(dij.rows()), static_cast<std::size_t>(dij.cols())};
  }
  std::size_t nsys() const { return up.size() - 1 + lo.size() - 1; }
  std::size_t offset() const { return up.size() - 1; }
  // Edge-velocity change of station i of `side` per unit mass of line L.
  double coupling(int side, std::size_t i, std::size_t L) const {
    const std::size_t pi = (side == 0 ? up : lo)[i].panel;
    const bool upper_src = L <= offset();
    const std::size_t pj = upper_src ? up[L].panel : lo[L - offset()].panel;
    if (pi == kNone || pj == kNone) return 0.0;
    const double vi = side == 0 ? 1.0 : -1.0;
    const double vj = upper_src ? 1.0 : -1.0;
    return -vi * vj * dij(static_cast<Eigen::Index>(pi), static_cast<Eigen::Index>(pj));
  }
  double line_mass(std::size_t L) const { return L <= offset() ? up[L].mass : lo[L - offset()].mass; }
  std::vector<double> consistent_uinv(const std::vector<BlStation>& st, int side) const {
    std::vector<double> out(st.size(), 0.0);
    for (std::size_t i = 1; i < st.size(); ++i) {
      double s = 0.0;
      for (std::size_t L = 1; L <= nsys(); ++L) s += coupling(side, i, L) * line_mass(L);
      out[i] = st[i].u - s;
    }
    return out;
  }

  GlobalNewtonSystem build(const std::vector<BlStation>& u, const std::vector<BlStation>& l,
                           const std::vector<double>& uiu, const std::vector<double>& uil, double tu,
                           double tl) const {
    const SurfaceInput su{u, uiu, ua_u, iblte_u, tu};
    const SurfaceInput sl{l, uil, ua_l, iblte_l, tl};
    return build_global_system(su, sl, view(), ante, xi1, xi2, msq, re, ncrit);
  }
  GlobalNewtonSystem build() const { return build(up, lo, uinv_u, uinv_l, trip_u, trip_l); }

  // The system at a perturbed point of the unknowns: first variable, theta
  // and mass of every line, plus the extra unknown (alpha) that moves the
  // inviscid speeds. Edge speeds, displacement thicknesses and arc lengths
  // follow as the coupling prescribes; the trips move with the arc lengths.
  GlobalNewtonSystem perturbed(const std::vector<Vec3>& d, double dalpha) const {
    std::vector<BlStation> u = up, l = lo;
    std::vector<double> uiu = uinv_u, uil = uinv_l;
    auto du_of = [&](int side, std::size_t i) {
      double s = (side == 0 ? ua_u : ua_l)[i] * dalpha;
      for (std::size_t L = 1; L <= nsys(); ++L) s += coupling(side, i, L) * d[L][2];
      return s;
    };
    const double dx = xi1 * du_of(0, 1) - xi2 * du_of(1, 1);
    for (int side = 0; side < 2; ++side) {
      std::vector<BlStation>& st = side == 0 ? u : l;
      std::vector<double>& ui = side == 0 ? uiu : uil;
      const double sigma = side == 0 ? 1.0 : -1.0;
      for (std::size_t i = 1; i < st.size(); ++i) {
        const std::size_t line = side == 0 ? i : offset() + i;
        BlStation& s = st[i];
        const double m = s.mass + d[line][2];
        s.u += du_of(side, i);
        ui[i] += (side == 0 ? ua_u : ua_l)[i] * dalpha;
        s.dstar = m / s.u - s.dw;
        s.theta += d[line][1];
        if (s.laminar())
          s.ampl += d[line][0];
        else
          s.ctau += d[line][0];
        s.x += sigma * dx;
        compute_secondary_variables(s, flow_of(s), msq, re);
      }
    }
    return build(u, l, uiu, uil, trip_u + dx, trip_l - dx);
  }

  // The system after the stagnation point moved by dx along the contour:
  // every arc length (and the trips) shifts, nothing else changes.
  GlobalNewtonSystem shifted(double dx) const {
    std::vector<BlStation> u = up, l = lo;
    for (std::size_t i = 1; i < u.size(); ++i) u[i].x += dx;
    for (std::size_t i = 1; i < l.size(); ++i) l[i].x -= dx;
    return build(u, l, uinv_u, uinv_l, trip_u + dx, trip_l - dx);
  }
};

// Jacobian entry of equation k of line iv with respect to unknown c of
// line L, as assembled (VA, VB, VZ, VM).
double assembled_entry(const AssemblyState& a, std::size_t iv, int k, std::size_t L, int c) {
  if (c == 2) return a.vm_at(iv, L, k);
  double v = 0.0;
  if (L == iv) v += a.va[iv][k][c];
  if (L + 1 == iv) v += a.vb[iv][k][c];
  if (iv == a.ivz && L == a.ivte1) v += a.vz[k][c];
  return v;
}

// Relative tolerance of the finite-difference checks for equation k of line
// iv (see JacobianMatchesCentralDifferencesOnSyntheticState).
double row_tolerance(const Fixture& f, std::size_t iv, int k) {
  const bool lower = iv > f.offset();
  const std::vector<BlStation>& side = lower ? f.lo : f.up;
  const std::size_t i = lower ? iv - f.offset() : iv;
  const BlStation& st = side[i];
  if (i == 1) return 1e-5;
  if (side[i - 1].laminar() && !st.laminar() && !st.wake()) return 1e-3;  // transition interval
  if (lower && i == f.iblte_l + 1) return 1e-5;                              // junction
  if (st.turbulent() && !st.wake() && k == 0) return 5e-2;
  return 1e-5;
}

}  // namespace

TEST(Assembly, SyntheticStateHasTheIntendedStructure) {
  const Fixture f;
  // The lower transition interval really contains a free transition, and the
  // upper one is forced at the trailing edge.
  const BlStation& a = f.lo[4];
  const BlStation& b = f.lo[5];
  const TransitionResult tr = check_interval_for_transition(true, a.x, b.x, a.theta, b.theta, a.dstar, b.dstar, a.u, b.u, a.hk,
                                           b.hk, a.r_theta, b.r_theta, a.ampl, f.ncrit, f.lo[f.iblte_l].x, f.msq,
                                           f.re);
  EXPECT_TRUE(tr.transition);
  EXPECT_FALSE(tr.forced);
  const BlStation& c = f.up[f.iblte_u - 1];
  const BlStation& d = f.up[f.iblte_u];
  const TransitionResult tf = check_interval_for_transition(true, c.x, d.x, c.theta, d.theta, c.dstar, d.dstar, c.u, d.u, c.hk,
                                           d.hk, c.r_theta, d.r_theta, c.ampl, f.ncrit, d.x, f.msq, f.re);
  EXPECT_TRUE(tf.transition);
  EXPECT_TRUE(tf.forced);

  const GlobalNewtonSystem sys = f.build();
  const AssemblyState& s = sys.a;
  EXPECT_EQ(s.nsys, 26u);
  EXPECT_EQ(s.lower_offset, 11u);
  EXPECT_EQ(s.lower_first_line(), 12u);
  EXPECT_EQ(s.ivte1, 11u);
  EXPECT_EQ(s.ivz, 22u);
  EXPECT_EQ(s.span, 1.0);
  // Line 1 of each side has no upstream block.
  for (int k = 0; k < 3; ++k)
    for (int c2 = 0; c2 < 3; ++c2) {
      EXPECT_EQ(s.vb[1][k][c2], 0.0);
      EXPECT_EQ(s.vb[12][k][c2], 0.0);
    }
  // Junction line: identity on the first two unknowns, unit dstar columns.
  EXPECT_EQ(s.va[22][0][0], 1.0);
  EXPECT_EQ(s.va[22][1][1], 1.0);
  EXPECT_EQ(s.va[22][0][1], 0.0);
  EXPECT_EQ(s.vb[22][1][1], -1.0);
  EXPECT_EQ(s.vs1_dstar[22][2], -1.0);
  EXPECT_EQ(s.vs2_dstar[22][2], 1.0);
  EXPECT_EQ(s.vz[1][1], -1.0);
  EXPECT_EQ(s.vz[2][0], 0.0);
  // Prescribed alpha is not assumed here: the fixture has inviscid
  // sensitivities, so column 2 carries them.
  double norm2 = 0.0;
  for (std::size_t iv = 1; iv <= s.nsys; ++iv)
    for (int k = 0; k < 3; ++k) norm2 += std::fabs(s.vdel2[iv][k]);
  EXPECT_GT(norm2, 0.0);
}

TEST(Assembly, RightHandSideIsTheNegatedResidualWhenSpeedsAreMassConsistent) {
  // With every edge velocity equal to its mass-implied value (DUE = 0) the
  // forced changes vanish and VDEL column 1 is exactly the interval
  // equations' right-hand side.
  const Fixture f;
  const AssemblyState s = f.build().a;
  const IntervalEquations e1 = similarity_station_equations(f.up[1], FlowType::Laminar, f.msq);
  const IntervalEquations e5 = interval_equations(f.up[4], f.up[5], FlowType::Laminar, false, f.msq, f.ncrit).eq;
  const IntervalEquations e8 =
      interval_equations(f.lo[7], f.lo[8], FlowType::Turbulent, false, f.msq, f.ncrit).eq;
  const IntervalEquations ew =
      interval_equations(f.lo[13], f.lo[14], FlowType::Wake, false, f.msq, f.ncrit).eq;
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(s.vdel1[1][k], e1.neg_residual[k], 1e-12 * (1 + std::fabs(e1.neg_residual[k])));
    EXPECT_NEAR(s.vdel1[5][k], e5.neg_residual[k], 1e-12 * (1 + std::fabs(e5.neg_residual[k])));
    EXPECT_NEAR(s.vdel1[11 + 8][k], e8.neg_residual[k], 1e-12 * (1 + std::fabs(e8.neg_residual[k])));
    EXPECT_NEAR(s.vdel1[11 + 14][k], ew.neg_residual[k], 1e-12 * (1 + std::fabs(ew.neg_residual[k])));
    EXPECT_EQ(s.va[5][k][0], e5.d_downstream[k][0]);
    EXPECT_EQ(s.vb[5][k][1], e5.d_upstream[k][1]);
  }
}

TEST(Assembly, ForcedChangesLineariseTowardMassImpliedSpeeds) {
  // Raising one station's edge velocity above its mass-implied value by du
  // moves the right-hand side by the u and dstar columns times du (at fixed
  // mass dstar falls by m/u^2 du).
  Fixture f;
  const AssemblyState base = f.build().a;
  const double du = 1e-3;
  std::vector<BlStation> lo = f.lo;
  lo[7].u += du;
  lo[7].dstar = lo[7].mass / lo[7].u;  // same mass
  compute_secondary_variables(lo[7], FlowType::Turbulent, f.msq, f.re);
  const AssemblyState s = f.build(f.up, lo, f.uinv_u, f.uinv_l, f.trip_u, f.trip_l).a;
  const std::size_t iv = 11 + 7;
  for (int k = 0; k < 3; ++k) {
    // The right-hand side at the mass-implied speed is (to first order) the
    // same as before the change of u.
    EXPECT_NEAR(s.vdel1[iv][k], base.vdel1[iv][k], 1e-4 * (1 + std::fabs(base.vdel1[iv][k])));
    EXPECT_NEAR(s.vdel1[iv + 1][k], base.vdel1[iv + 1][k], 1e-4 * (1 + std::fabs(base.vdel1[iv + 1][k])));
  }
}

TEST(Assembly, JacobianMatchesCentralDifferencesOnSyntheticState) {
  // Every first-variable, theta and mass column of every line, against
  // central differences of the assembled right-hand side (which is minus the
  // residual). Step 1e-6 relative to each variable's scale; the difference
  // formula's truncation error is then ~1e-12 relative and rounding ~1e-9, so
  // 1e-5 of the column's scale (plus 1e-5 relative) separates a wrong entry
  // (errors of order one) from noise. The free-transition interval's point is
  // found iteratively (stop on a step below 5e-5), which adds a little
  // noise; its line gets 1e-3 relative.
  // The shear-lag row of a turbulent interval carries an interval Jacobian
  // that is approximate by construction of the boundary-layer model, not of
  // the assembly: the Reynolds-number term of its equilibrium shape parameter
  // is not differentiated. Its theta and u derivatives are off by up to ~1%
  // at the interval level already, so that row gets 5e-2 relative: still far
  // below the size of a misplaced or mis-signed entry.
  const Fixture f;
  const AssemblyState a = f.build().a;
  const std::size_t n = a.nsys;
  double worst = 0.0;
  for (std::size_t L = 1; L <= n; ++L) {
    const BlStation& st = L <= f.offset() ? f.up[L] : f.lo[L - f.offset()];
    const double scales[3] = {st.laminar() ? 1.0 : st.ctau, st.theta, st.mass};
    for (int c = 0; c < 3; ++c) {
      const double h = 1e-6 * scales[c];
      std::vector<Vec3> d(n + 1, Vec3{});
      d[L][c] = h;
      const AssemblyState p = f.perturbed(d, 0.0).a;
      d[L][c] = -h;
      const AssemblyState m = f.perturbed(d, 0.0).a;
      double colscale = 0.0;
      for (std::size_t iv = 1; iv <= n; ++iv)
        for (int k = 0; k < 3; ++k) colscale = std::max(colscale, std::fabs(assembled_entry(a, iv, k, L, c)));
      for (std::size_t iv = 1; iv <= n; ++iv)
        for (int k = 0; k < 3; ++k) {
          const double fd = -(p.vdel1[iv][k] - m.vdel1[iv][k]) / (2 * h);
          const double an = assembled_entry(a, iv, k, L, c);
          const double tol = row_tolerance(f, iv, k) * (colscale + std::fabs(an)) + 1e-9;
          worst = std::max(worst, std::fabs(fd - an) / tol);
          EXPECT_NEAR(fd, an, tol) << "line " << iv << " eq " << k << " wrt line " << L << " var " << c;
        }
    }
  }
  RecordProperty("worst_ratio", std::to_string(worst));
}

TEST(Assembly, ExtraUnknownColumnMatchesCentralDifferences) {
  // VDEL column 2 is the derivative of the residual with respect to the
  // extra unknown that moves the inviscid speeds by uinv_a.
  const Fixture f;
  const AssemblyState a = f.build().a;
  const double h = 1e-6;
  const std::vector<Vec3> zero(a.nsys + 1, Vec3{});
  const AssemblyState p = f.perturbed(zero, h).a;
  const AssemblyState m = f.perturbed(zero, -h).a;
  double scale = 0.0;
  for (std::size_t iv = 1; iv <= a.nsys; ++iv)
    for (int k = 0; k < 3; ++k) scale = std::max(scale, std::fabs(a.vdel2[iv][k]));
  for (std::size_t iv = 1; iv <= a.nsys; ++iv)
    for (int k = 0; k < 3; ++k) {
      const double fd = -(p.vdel1[iv][k] - m.vdel1[iv][k]) / (2 * h);
      EXPECT_NEAR(fd, a.vdel2[iv][k], row_tolerance(f, iv, k) * (scale + std::fabs(fd)) + 1e-9)
          << "line " << iv << " eq " << k;
    }
}

TEST(Assembly, JunctionResidualsVanishForMatchingWakeStart) {
  // Both TE stations at S = 0.1, theta = 0.002 and the first wake station at
  // S = 0.1, theta = 0.004: the shear and momentum junction residuals are 0.
  Fixture f;
  const double msq = f.msq, re = f.re;
  f.up[f.iblte_u] = make_station(FlowType::Turbulent, f.up[f.iblte_u].x, f.up[f.iblte_u].panel, 0.9, 0.002,
                                 0.0035, 0.1, 0.0, msq, re);
  f.lo[f.iblte_l] = make_station(FlowType::Turbulent, f.lo[f.iblte_l].x, f.lo[f.iblte_l].panel, 0.92, 0.002,
                                 0.0033, 0.1, 0.0, msq, re);
  BlStation& w = f.lo[f.iblte_l + 1];
  w = make_station(FlowType::Wake, w.x, w.panel, 0.9, 0.004, 0.0068 + f.ante - w.dw, 0.1, w.dw, msq, re);
  f.uinv_u = f.consistent_uinv(f.up, 0);
  f.uinv_l = f.consistent_uinv(f.lo, 1);
  const GlobalNewtonSystem sys = f.build();
  TeWakeTerms te;
  ASSERT_TRUE(te_wake_terms(sys, SurfaceInput{f.up, f.uinv_u, f.ua_u, f.iblte_u},
                            SurfaceInput{f.lo, f.uinv_l, f.ua_l, f.iblte_l}, te));
  EXPECT_DOUBLE_EQ(te.tte, 0.004);
  EXPECT_DOUBLE_EQ(te.cte, 0.1);
  EXPECT_DOUBLE_EQ(te.dte, 0.0035 + 0.0033 + f.ante);
  EXPECT_DOUBLE_EQ(te.cte_s_up, 0.5);
  EXPECT_NEAR(te.cte_th_up, 0.0, 1e-12);
  const std::size_t iv = sys.a.ivz;
  EXPECT_NEAR(sys.a.vdel1[iv][0], 0.0, 1e-15);
  EXPECT_NEAR(sys.a.vdel1[iv][1], 0.0, 1e-15);
  EXPECT_NEAR(sys.a.vdel1[iv][2], 0.0, 1e-12);
}

TEST(Assembly, JunctionNeedsBothTrailingEdgesAndAWakeStation) {
  Fixture f;
  f.lo.resize(f.iblte_l + 1);  // no wake station
  f.ua_l.resize(f.lo.size());
  f.uinv_u = f.consistent_uinv(f.up, 0);
  f.uinv_l = f.consistent_uinv(f.lo, 1);
  const GlobalNewtonSystem sys = f.build();
  TeWakeTerms te;
  EXPECT_FALSE(te_wake_terms(sys, SurfaceInput{f.up, f.uinv_u, f.ua_u, f.iblte_u},
                             SurfaceInput{f.lo, f.uinv_l, f.ua_l, f.iblte_l}, te));
  EXPECT_GT(sys.a.ivz, sys.a.nsys);
  for (const auto& r : sys.a.vz)
    for (double v : r) EXPECT_EQ(v, 0.0);
  // The elimination still runs on it.
  const SolveState s = block_solve(sys.a);
  for (std::size_t iv = 1; iv <= sys.a.nsys; ++iv)
    for (double v : s.col1[iv]) EXPECT_TRUE(std::isfinite(v));
}

TEST(Assembly, SideWithOnlyTheStagnationRowHasNoLines) {
  Fixture f;
  f.lo.resize(1);
  f.uinv_l.resize(1);
  f.ua_l.resize(1);
  const GlobalNewtonSystem sys = f.build();
  EXPECT_EQ(sys.a.nsys, f.up.size() - 1);
  EXPECT_GT(sys.a.ivz, sys.a.nsys);
  std::vector<BlStation> none;
  std::vector<double> empty;
  const GlobalNewtonSystem z = build_global_system(SurfaceInput{none, empty, empty, 0},
                                                   SurfaceInput{none, empty, empty, 0}, f.view(), 0, 0, 0, 0, 1e6, 9);
  EXPECT_EQ(z.a.nsys, 0u);
  EXPECT_EQ(z.a.vdel1.size(), 1u);
}

TEST(Assembly, NonFiniteCoefficientsAreStoredAsZero) {
  Fixture f;
  f.lo[6].theta = std::numeric_limits<double>::quiet_NaN();
  compute_secondary_variables(f.lo[6], FlowType::Turbulent, f.msq, f.re);
  f.up[3].u = std::numeric_limits<double>::infinity();
  const AssemblyState a = f.build().a;
  for (std::size_t iv = 0; iv <= a.nsys; ++iv) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(std::isfinite(a.vdel1[iv][k]));
      EXPECT_TRUE(std::isfinite(a.vdel2[iv][k]));
      for (int c = 0; c < 3; ++c) {
        EXPECT_TRUE(std::isfinite(a.va[iv][k][c]));
        EXPECT_TRUE(std::isfinite(a.vb[iv][k][c]));
      }
    }
  }
  for (double v : a.vm) EXPECT_TRUE(std::isfinite(v));
}

TEST(Assembly, CoupledEdgeVelocityMatchesMassImpliedVelocity) {
  const Fixture f;
  const SurfaceInput su{f.up, f.uinv_u, f.ua_u, f.iblte_u};
  const SurfaceInput sl{f.lo, f.uinv_l, f.ua_l, f.iblte_l};
  std::vector<MassSource> src;
  for (std::size_t j = 1; j < f.up.size(); ++j) src.push_back({1.0, f.up[j].panel, f.up[j].mass});
  for (std::size_t j = 1; j < f.lo.size(); ++j) src.push_back({-1.0, f.lo[j].panel, f.lo[j].mass});
  const std::vector<double> ul = compute_ue_from_mass_both(su, sl, f.view(), Side::Lower);
  for (std::size_t i = 1; i < f.lo.size(); ++i) {
    EXPECT_NEAR(coupled_uedg(f.lo[i].panel, 21, src, f.view(), f.uinv_l[i], -1.0), ul[i], 1e-13);
    // The fixture's speeds are mass consistent.
    EXPECT_NEAR(ul[i], f.lo[i].u, 1e-13);
  }
  // Panels outside DIJ contribute nothing; station 0 gets its uinv alone.
  const std::vector<MassSource> far{{1.0, 500, 1.0}, {-1.0, kNone, 2.0}};
  EXPECT_EQ(coupled_uedg(3, 21, far, f.view(), 0.7, 1.0), 0.7);
  EXPECT_EQ(coupled_uedg(kNone, 21, src, f.view(), 0.25, 1.0), 0.25);
  EXPECT_EQ(compute_ue_from_mass_both(su, sl, f.view(), Side::Upper)[0], f.uinv_u[0]);
}

namespace {

// Checks the assembled Jacobian columns of `lines` (every unknown of each)
// against central differences; returns the number of columns checked.
int check_columns_by_differences(const Fixture& f, const std::vector<std::size_t>& lines) {
  const AssemblyState a = f.build().a;
  const std::size_t n = a.nsys;
  int checked = 0;
  for (std::size_t L : lines) {
    const BlStation& st = L <= f.offset() ? f.up[L] : f.lo[L - f.offset()];
    const double scales[3] = {st.laminar() ? 1.0 : st.ctau, st.theta, st.mass};
    for (int c = 0; c < 3; ++c) {
      const double h = 1e-6 * scales[c];
      std::vector<Vec3> d(n + 1, Vec3{});
      d[L][c] = h;
      const AssemblyState p = f.perturbed(d, 0.0).a;
      d[L][c] = -h;
      const AssemblyState m = f.perturbed(d, 0.0).a;
      double colscale = 0.0;
      for (std::size_t iv = 1; iv <= n; ++iv)
        for (int k = 0; k < 3; ++k) colscale = std::max(colscale, std::fabs(assembled_entry(a, iv, k, L, c)));
      for (std::size_t iv = 1; iv <= n; ++iv)
        for (int k = 0; k < 3; ++k) {
          const double fd = -(p.vdel1[iv][k] - m.vdel1[iv][k]) / (2 * h);
          const double an = assembled_entry(a, iv, k, L, c);
          if (iv == a.ivz && k == 0 && c == 0 && st.laminar() && (L == a.ivte1 || L + 1 == a.ivz)) {
            // A TE station that is still laminar enters the wake's shear
            // junction with the fixed shear value of a laminar station, yet
            // the junction couples to its first unknown (the amplification)
            // by d(CTE)/dS = -theta_TE/TTE as prescribed. The residual does
            // not move; the coupling only shapes the Newton path.
            EXPECT_EQ(fd, 0.0);
            EXPECT_NEAR(an, -st.theta / std::max(f.up[f.iblte_u].theta + f.lo[f.iblte_l].theta, 1e-12), 1e-12);
            continue;
          }
          const double tol = row_tolerance(f, iv, k) * (colscale + std::fabs(an)) + 1e-9;
          EXPECT_NEAR(fd, an, tol) << "line " << iv << " eq " << k << " wrt line " << L << " var " << c;
        }
      ++checked;
    }
  }
  return checked;
}

}  // namespace

TEST(Assembly, JacobianMatchesCentralDifferencesOnNaca2412) {
  // A real state: NACA 2412 at 4 degrees, Re = 1e6, after set-up, the first
  // marches and two Newton iterations of the driver. The checked columns
  // cover the first, a middle and the last station of the upper side, the
  // stations around its transition point, the first, a middle and the TE
  // station of the lower side, the first two wake stations (the junction and
  // the line after it) and the last wake station. Tolerances as in the
  // synthetic check.
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  cfg.max_iterations = 2;
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 81), cfg, 4.0);
  ASSERT_TRUE(setup.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(setup->state, setup->system, cfg).has_value());
  // One more assembly marches the rows to the current edge velocities, so
  // that the transition points of the stations are those the equations see.
  const AssemblyState marched = assemble_newton_system(setup->state, 3, cfg.reynolds, cfg.ncrit, 0.0);
  EXPECT_TRUE(setup->state.bl_initialised);
  const Fixture f(setup->state, cfg.reynolds);
  EXPECT_EQ(marched.nsys, f.nsys());
  const std::size_t b = f.offset();
  const std::size_t tr = setup->state.first_turbulent_row[0];  // first turbulent upper station
  ASSERT_GT(tr, 2u);
  ASSERT_LT(tr, f.iblte_u);
  const std::vector<std::size_t> lines{1,     2,         tr - 1,          tr,          tr + 1,
                                       f.iblte_u / 2, f.iblte_u, b + 1, b + 2,      b + f.iblte_l / 2,
                                       b + f.iblte_l, b + f.iblte_l + 1, b + f.iblte_l + 2, f.nsys()};
  EXPECT_EQ(check_columns_by_differences(f, lines), 3 * static_cast<int>(lines.size()));
}

TEST(Assembly, JacobianMatchesCentralDifferencesWithTrips) {
  // NACA 2412 at 2 degrees, Re = 1e6, both sides tripped well ahead of their
  // free transition points, after two Newton iterations: the transition
  // lines are forced ones, whose transition point moves with the stagnation
  // point (the columns of the first station of each side carry that motion).
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  cfg.max_iterations = 2;
  cfg.trip_x = {0.1, 0.15};
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 81), cfg, 2.0);
  ASSERT_TRUE(setup.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(setup->state, setup->system, cfg).has_value());
  assemble_newton_system(setup->state, 3, cfg.reynolds, cfg.ncrit, 0.0);
  const Fixture f(setup->state, cfg.reynolds);
  ASSERT_TRUE(std::isfinite(f.trip_u) && std::isfinite(f.trip_l));
  const std::size_t b = f.offset();
  const std::size_t tu = setup->state.first_turbulent_row[0];
  const std::size_t tl = setup->state.first_turbulent_row[1];
  // The transition intervals contain the trips.
  ASSERT_TRUE(tu > 2 && tu < f.iblte_u);
  ASSERT_TRUE(tl > 2 && tl < f.iblte_l);
  EXPECT_LT(f.up[tu - 1].x, f.trip_u);
  EXPECT_GE(f.up[tu].x, f.trip_u);
  EXPECT_LT(f.lo[tl - 1].x, f.trip_l);
  EXPECT_GE(f.lo[tl].x, f.trip_l);
  const std::vector<std::size_t> lines{1, tu - 1, tu, tu + 1, b + 1, b + tl - 1, b + tl, b + tl + 1};
  EXPECT_EQ(check_columns_by_differences(f, lines), 3 * static_cast<int>(lines.size()));

  // The motion of the stagnation point alone, on the forced transition lines
  // (exact equations, so a tight tolerance): the residuals change by the
  // combined arc-length column, trip included. The speeds are
  // mass-consistent, so the right-hand side is the negated residual.
  const AssemblyState a = f.build().a;
  const double h = 1e-7;
  const AssemblyState p = f.shifted(h).a, m = f.shifted(-h).a;
  for (const std::size_t iv : {tu, b + tl}) {
    const double sigma = iv <= b ? 1.0 : -1.0;
    for (int k = 0; k < 3; ++k) {
      const double fd = -(p.vdel1[iv][k] - m.vdel1[iv][k]) / (2 * h);
      const double an = sigma * (a.vs1_x[iv][k] + a.vs2_x[iv][k]);
      EXPECT_NEAR(fd, an, 1e-5 * std::fabs(an) + 1e-6) << "line " << iv << " eq " << k;
    }
  }
}

TEST(Assembly, ReusedWorkspaceAssemblesTheSameSystemAsAFreshOne) {
  // The driver assembles every iteration (and every operating point of a
  // thread) into the same workspace. A workspace that last held a larger
  // system must give exactly the system a fresh assembly gives.
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  cfg.max_iterations = 2;
  auto large = build_state_from_coords("naca4412", generate_naca4(4412, 101), cfg, 2.0);
  auto small = build_state_from_coords("naca2412", generate_naca4(2412, 61), cfg, 4.0);
  ASSERT_TRUE(large.has_value() && small.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(large->state, large->system, cfg).has_value());
  ASSERT_TRUE(solve_operating_point_from_state(small->state, small->system, cfg).has_value());

  NewtonWorkspace ws;
  ViscousState first = large->state;
  assemble_newton_system(first, 3, cfg.reynolds, cfg.ncrit, 0.0, ws);
  const std::size_t large_nsys = ws.system.a.nsys;
  ViscousState reused = small->state;
  assemble_newton_system(reused, 3, cfg.reynolds, cfg.ncrit, 0.0, ws);
  ViscousState fresh_state = small->state;
  const AssemblyState fresh = assemble_newton_system(fresh_state, 3, cfg.reynolds, cfg.ncrit, 0.0);

  const AssemblyState& a = ws.system.a;
  ASSERT_GT(large_nsys, a.nsys);
  ASSERT_EQ(a.nsys, fresh.nsys);
  EXPECT_EQ(a.ivte1, fresh.ivte1);
  EXPECT_EQ(a.ivz, fresh.ivz);
  EXPECT_EQ(a.va, fresh.va);
  EXPECT_EQ(a.vb, fresh.vb);
  EXPECT_EQ(a.vdel1, fresh.vdel1);
  EXPECT_EQ(a.vdel2, fresh.vdel2);
  EXPECT_EQ(a.vz, fresh.vz);
  ASSERT_EQ(a.vm.size(), fresh.vm.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < a.vm.size(); ++i) differing += a.vm[i] != fresh.vm[i];
  EXPECT_EQ(differing, 0u);
}

// The assembly forms the mass-implied edge velocities from its coupling rows
// (the negated, signed DIJ entries), four stations at a time; they equal, to
// the bit, the sums over mass sources of compute_ue_from_mass_both, on both
// sides, through the iterations of a point.
TEST(Assembly, MassImpliedSpeedsFromTheCouplingRowsEqualTheSumsOverSources) {
  struct Recorder : NewtonObserver {
    std::size_t compared = 0, differing = 0;
    void mass_implied_speeds(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij, Side side,
                             std::span<const double> ue) override {
      const std::vector<double> expected = compute_ue_from_mass_both(upper, lower, dij, side);
      EXPECT_EQ(expected.size(), ue.size());
      for (std::size_t i = 0; i < std::min(expected.size(), ue.size()); ++i) {
        ++compared;
        // Bit patterns, so that a signed zero would count too.
        differing += std::memcmp(&expected[i], &ue[i], sizeof(double)) != 0;
      }
    }
  };
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 81), cfg, 4.0);
  ASSERT_TRUE(setup.has_value());
  ViscousState st = setup->state;
  ASSERT_TRUE(solve_operating_point_from_state(st, setup->system, cfg).has_value());
  Recorder recorder;
  NewtonWorkspace ws;
  for (unsigned it = 1; it <= 3; ++it) {
    assemble_newton_system(st, it, cfg.reynolds, cfg.ncrit, 0.0, ws, &recorder);
    const SolveState sol = block_solve(ws.system.a);
    update_state_from_solution(st, ws.system.a, sol, 0.0, cfg.reynolds, ws);
  }
  EXPECT_GT(recorder.compared, 3u * 80u);
  EXPECT_EQ(recorder.differing, 0u);
}

// The workspace keeps DIJ's row-by-row copy from one iteration to the next.
// A new operating point (iteration 1) copies it again even when the new
// matrix sits in the same memory, and so does a later iteration given a
// matrix elsewhere; either way the system is the one a fresh workspace gives.
TEST(Assembly, WorkspaceTakesUpANewInfluenceMatrix) {
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  cfg.max_iterations = 2;
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 61), cfg, 4.0);
  ASSERT_TRUE(setup.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(setup->state, setup->system, cfg).has_value());
  auto same_as_fresh = [&](const ViscousState& assembled_from, const AssemblyState& a) {
    ViscousState copy = assembled_from;
    const AssemblyState fresh = assemble_newton_system(copy, 2, cfg.reynolds, cfg.ncrit, 0.0);
    EXPECT_EQ(a.vdel1, fresh.vdel1);
    EXPECT_EQ(a.vdel2, fresh.vdel2);
    ASSERT_EQ(a.vm.size(), fresh.vm.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < a.vm.size(); ++i) differing += a.vm[i] != fresh.vm[i];
    EXPECT_EQ(differing, 0u);
  };

  NewtonWorkspace ws;
  ViscousState st = setup->state;
  assemble_newton_system(st, 1, cfg.reynolds, cfg.ncrit, 0.0, ws);
  assemble_newton_system(st, 2, cfg.reynolds, cfg.ncrit, 0.0, ws);
  // The matrix changed in place: same memory, same size.
  const double* before = st.dij.data();
  st.dij *= 1.25;
  ASSERT_EQ(st.dij.data(), before);
  ViscousState in_place = st;
  assemble_newton_system(st, 1, cfg.reynolds, cfg.ncrit, 0.0, ws);
  same_as_fresh(in_place, ws.system.a);
  // A changed matrix in other memory on a later iteration.
  Eigen::MatrixXd moved = st.dij * 0.8;
  st.dij.swap(moved);
  ASSERT_NE(st.dij.data(), before);
  ViscousState elsewhere = st;
  assemble_newton_system(st, 2, cfg.reynolds, cfg.ncrit, 0.0, ws);
  same_as_fresh(elsewhere, ws.system.a);
}

// Tracing observes the numerics and never changes them: with every switch
// of the printer on, the assembled system, its solution and the update are
// bit-identical to those of an unobserved run, and the printer writes.
TEST(Assembly, TracePrinterLeavesTheSystemUnchanged) {
  const Fixture f;
  const AssemblyState quiet = f.build().a;
  const SolveState quiet_sol = block_solve(quiet);
  DiagnosticSwitches all;
  for (std::size_t k = 0; k < kDiagnosticSwitchCount; ++k) all.set(static_cast<DiagnosticSwitch>(k));
  const InstalledSwitches guard(&all);
  TracePrinter printer;
  ASSERT_TRUE(printer.active());
  const SurfaceInput su{f.up, f.uinv_u, f.ua_u, f.iblte_u};
  const SurfaceInput sl{f.lo, f.uinv_l, f.ua_l, f.iblte_l};
  ::testing::internal::CaptureStderr();
  const AssemblyState loud =
      build_global_system(su, sl, f.view(), f.ante, f.xi1, f.xi2, f.msq, f.re, f.ncrit, &printer).a;
  const SolveState loud_sol = block_solve(loud, &printer);
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(out.empty());
  EXPECT_EQ(loud.vm, quiet.vm);
  for (std::size_t iv = 0; iv <= quiet.nsys; ++iv) {
    EXPECT_EQ(loud.vdel1[iv], quiet.vdel1[iv]);
    EXPECT_EQ(loud.vdel2[iv], quiet.vdel2[iv]);
    EXPECT_EQ(loud_sol.col1[iv], quiet_sol.col1[iv]);
    EXPECT_EQ(loud_sol.col2[iv], quiet_sol.col2[iv]);
  }
}

TEST(Assembly, PrinterWithoutSwitchesIsInactive) {
  const DiagnosticSwitches none;
  const InstalledSwitches guard(&none);
  EXPECT_FALSE(TracePrinter().active());
}

TEST(Assembly, SetblObservedKeepsTheSystemAndTheDenseCopy) {
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  cfg.max_iterations = 1;
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 61), cfg, 4.0);
  ASSERT_TRUE(setup.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(setup->state, setup->system, cfg).has_value());
  ViscousState quiet_state = setup->state;
  const AssemblyState quiet = assemble_newton_system(quiet_state, 2, cfg.reynolds, cfg.ncrit, 0.0);
  DiagnosticSwitches all;
  for (std::size_t k = 0; k < kDiagnosticSwitchCount; ++k) all.set(static_cast<DiagnosticSwitch>(k));
  const InstalledSwitches guard(&all);
  TracePrinter printer;
  ::testing::internal::CaptureStderr();
  ViscousState loud_state = setup->state;
  const AssemblyState loud = assemble_newton_system(loud_state, 2, cfg.reynolds, cfg.ncrit, 0.0, &printer);
  EXPECT_FALSE(::testing::internal::GetCapturedStderr().empty());
  EXPECT_EQ(loud.vm, quiet.vm);
  EXPECT_FALSE(quiet.full_vm.has_value());
  ASSERT_TRUE(loud.full_vm.has_value());
  ASSERT_EQ(loud.full_vm->size(), loud.nsys + 1);
  EXPECT_EQ((*loud.full_vm)[5][7][2], loud.vm_at(5, 7, 2));
}
