// Amplification rate, its interval average and the transition check:
// partials and sensitivities against central differences, the branch
// guards, and the flat-plate transition Reynolds number.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "boundary_layer/closures.h"
#include "boundary_layer/station_fixtures.h"
#include "boundary_layer/transition.h"

using namespace velaro;
using bl_test::central_difference;
using bl_test::expect_close;

// ---- amplification_rate ----------------------------------------------------

TEST(AmplificationRate, DegenerateArgumentsGiveZeros) {
  for (auto [hk, th, rt] : std::vector<std::array<double, 3>>{
           {1.0, 1e-3, 1e5}, {0.9, 1e-3, 1e5}, {2.5, 0.0, 1e5}, {2.5, -1e-3, 1e5},
           {2.5, 1e-3, 0.0}, {2.5, 1e-3, -5.0}, {std::nan(""), 1e-3, 1e5},
           {2.5, std::nan(""), 1e5}, {2.5, 1e-3, std::nan("")}}) {
    const AmplificationRate r = amplification_rate(hk, th, rt);
    EXPECT_EQ(r.ax, 0.0);
    EXPECT_EQ(r.ax_hk, 0.0);
    EXPECT_EQ(r.ax_theta, 0.0);
    EXPECT_EQ(r.ax_rt, 0.0);
  }
  // Sub-critical: log10(10) = 1 lies below the onset (about 2.78 at Hk = 2.5).
  const AmplificationRate sub = amplification_rate(2.5, 1e-3, 10.0);
  EXPECT_EQ(sub.ax, 0.0);
  EXPECT_EQ(sub.ax_hk, 0.0);
}

TEST(AmplificationRate, ZeroBelowCriticalAndGrowingPastIt) {
  // Blasius profile (Hk = 2.59). Linear stability puts the critical Rtheta
  // of the flat plate near 200 (R_delta* = 520); the onset ramp of this
  // correlation starts near 237 and is complete near 343. Well below both
  // the rate must vanish; through the ramp it must rise monotonically and
  // then stay positive.
  const double hk = 2.59, th = 1e-3;
  EXPECT_EQ(amplification_rate(hk, th, 150.0).ax, 0.0);
  EXPECT_EQ(amplification_rate(hk, th, 230.0).ax, 0.0);
  EXPECT_GT(amplification_rate(hk, th, 250.0).ax, 0.0);
  double prev = 0.0;
  for (double rt = 200.0; rt <= 500.0; rt += 5.0) {
    const double ax = amplification_rate(hk, th, rt).ax;
    EXPECT_GE(ax, prev) << rt;
    prev = ax;
  }
  EXPECT_GT(prev, 0.0);
  EXPECT_GT(amplification_rate(hk, th, 1e4).ax, 0.0);
  // Past the ramp the rate no longer depends on Rtheta.
  EXPECT_EQ(amplification_rate(hk, th, 1e4).ax_rt, 0.0);
  EXPECT_DOUBLE_EQ(amplification_rate(hk, th, 1e4).ax, amplification_rate(hk, th, 1e5).ax);
  // Adverse pressure gradients (higher Hk) amplify faster.
  EXPECT_GT(amplification_rate(3.5, th, 1e4).ax, amplification_rate(2.59, th, 1e4).ax);
}

TEST(AmplificationRate, FullRampNearUnitShapeFactor) {
  // Hk just above 1 has a very high onset; a huge Rtheta is past the ramp.
  const AmplificationRate r = amplification_rate(1.05, 1e-3, 1e13);
  EXPECT_EQ(r.ax_rt, 0.0);
  EXPECT_TRUE(std::isfinite(r.ax));
}

TEST(AmplificationRate, PartialsMatchCentralDifferences) {
  // States inside the onset ramp (RN in (0,1)) and past it, for attached and
  // near-separated laminar profiles.
  const std::vector<std::array<double, 3>> states = {
      {2.59, 4e-4, 300.0}, {2.59, 4e-4, 330.0}, {2.59, 4e-4, 2000.0}, {2.2, 1e-3, 5000.0},
      {3.2, 2e-4, 150.0},  {3.8, 2e-3, 400.0},  {4.5, 1e-3, 120.0},   {2.9, 5e-4, 5e3}};
  for (const auto& s : states) {
    const double hk = s[0], th = s[1], rt = s[2];
    const AmplificationRate r = amplification_rate(hk, th, rt);
    ASSERT_GT(r.ax, 0.0) << hk << " " << rt;
    expect_close(r.ax_hk, central_difference([&](double v) { return amplification_rate(v, th, rt).ax; }, hk),
                 1e-6, 1e-9, "ax_hk");
    expect_close(r.ax_theta,
                 central_difference([&](double v) { return amplification_rate(hk, v, rt).ax; }, th), 1e-6,
                 1e-9, "ax_theta");
    expect_close(r.ax_rt, central_difference([&](double v) { return amplification_rate(hk, th, v).ax; }, rt),
                 1e-6, 1e-12, "ax_rt");
  }
}

TEST(AmplificationRate, RepeatedStatesGiveTheValuesOfAFreshEvaluation) {
  // Rates are remembered per thread for the last few states. Interleave more
  // states than are remembered, including ones that share one or two of the
  // three arguments, and compare every field with the rate evaluated on a
  // thread of its own (nothing remembered there) bit for bit.
  const std::vector<std::array<double, 3>> states = {
      {2.59, 4e-4, 2000.0}, {2.59, 4e-4, 330.0}, {2.59, 5e-4, 2000.0}, {3.2, 4e-4, 2000.0},
      {2.2, 1e-3, 5000.0},  {3.8, 2e-3, 400.0},  {0.9, 1e-3, 5000.0},  {2.59, 4e-4, 2000.0}};
  std::vector<AmplificationRate> fresh(states.size());
  for (std::size_t i = 0; i < states.size(); ++i) {
    std::thread([&, i] { fresh[i] = amplification_rate(states[i][0], states[i][1], states[i][2]); }).join();
  }
  const std::vector<std::size_t> order = {0, 1, 0, 2, 3, 0, 4, 5, 6, 1, 2, 7, 3, 3, 6, 0, 5, 4, 1};
  for (std::size_t i : order) {
    const AmplificationRate r = amplification_rate(states[i][0], states[i][1], states[i][2]);
    EXPECT_EQ(r.ax, fresh[i].ax) << i;
    EXPECT_EQ(r.ax_hk, fresh[i].ax_hk) << i;
    EXPECT_EQ(r.ax_theta, fresh[i].ax_theta) << i;
    EXPECT_EQ(r.ax_rt, fresh[i].ax_rt) << i;
  }
  // A NaN argument is never taken for a remembered state.
  const AmplificationRate n = amplification_rate(std::numeric_limits<double>::quiet_NaN(), 4e-4, 2000.0);
  EXPECT_EQ(n.ax, 0.0);
}

// ---- interval_amplification_rate -------------------------------------------------------------

TEST(IntervalAmplificationRate, NearCriticalTermAndRmsAverage) {
  const double nc = 9.0;
  // At ncrit the extra growth term is 0.002/(t1 + t2) on top of the RMS rate.
  const AmplificationRate a1 = amplification_rate(2.6, 5e-4, 800.0);
  const AmplificationRate a2 = amplification_rate(2.8, 6e-4, 900.0);
  const double rms = std::sqrt(0.5 * (a1.ax * a1.ax + a2.ax * a2.ax));
  const IntervalAmplificationRate at = interval_amplification_rate(2.6, 5e-4, 800.0, nc, 2.8, 6e-4, 900.0, nc, nc);
  EXPECT_NEAR(at.ax, rms + 0.002 / (5e-4 + 6e-4), 1e-12 * at.ax);
  EXPECT_EQ(at.ax_a1, 0.0);
  // Far below ncrit the term uses exp(-20).
  const IntervalAmplificationRate far = interval_amplification_rate(2.6, 5e-4, 800.0, 0.0, 2.8, 6e-4, 900.0, 0.0, nc);
  EXPECT_NEAR(far.ax, rms + 0.002 * std::exp(-20.0) / (5e-4 + 6e-4), 1e-12 * far.ax);
  // Both stations sub-critical: only the extra term remains, derivatives finite.
  const IntervalAmplificationRate sub = interval_amplification_rate(2.6, 5e-4, 50.0, 8.0, 2.6, 5e-4, 50.0, 8.5, nc);
  EXPECT_NEAR(sub.ax, 0.002 * std::exp(-20.0 * (nc - 8.25)) / 1e-3, 1e-15);
  EXPECT_EQ(sub.ax_hk1, 0.0);
  EXPECT_EQ(sub.ax_rt2, 0.0);
  // Non-positive thickness sum: no extra term.
  EXPECT_EQ(interval_amplification_rate(2.6, 0.0, 800.0, nc, 2.6, 0.0, 900.0, nc, nc).ax, 0.0);
}

TEST(IntervalAmplificationRate, PartialsMatchCentralDifferences) {
  struct Case {
    std::array<double, 8> v;
    double nc;
  };
  const std::vector<Case> cases = {
      {{2.6, 5e-4, 310.0, 3.0, 2.8, 6e-4, 420.0, 4.0}, 9.0},
      {{2.6, 5e-4, 800.0, 8.5, 3.4, 7e-4, 1200.0, 8.8}, 9.0},
      {{3.9, 1e-3, 500.0, 6.0, 4.2, 1.2e-3, 600.0, 6.9}, 7.5},
      {{2.3, 4e-4, 250.0, 0.5, 2.5, 4.4e-4, 330.0, 1.0}, 9.0}};
  for (const Case& c : cases) {
    auto eval = [&](const std::array<double, 8>& v) {
      return interval_amplification_rate(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], c.nc);
    };
    const IntervalAmplificationRate r = eval(c.v);
    const std::array<double, 8> an = {r.ax_hk1, r.ax_t1, r.ax_rt1, r.ax_a1,
                                      r.ax_hk2, r.ax_t2, r.ax_rt2, r.ax_a2};
    // The near-critical term is capped at exp(-20) when the mean exponent
    // lies 1 or more below ncrit; its amplification partials are then left
    // at 10*exp(-20) rather than zeroed, so they are compared only below
    // the cap.
    const bool capped = 20.0 * (c.nc - 0.5 * (c.v[3] + c.v[7])) >= 20.0;
    for (int k = 0; k < 8; ++k) {
      if (capped && (k == 3 || k == 7)) {
        EXPECT_NEAR(an[k], 0.002 * 10.0 * std::exp(-20.0) / (c.v[1] + c.v[5]), 1e-20);
        continue;
      }
      auto f = [&](double x) {
        auto v = c.v;
        v[k] = x;
        return eval(v).ax;
      };
      expect_close(an[k], central_difference(f, c.v[k]), 1e-6, 1e-8, "interval rate partial");
    }
  }
}

// ---- check_interval_for_transition -------------------------------------------------------------

namespace {

// Interval ends in primary variables; hk and rt are derived as compute_secondary_variables does
// (no floor is active at these states).
struct Ends {
  double a1, x1, x2, t1, t2, d1, d2, u1, u2, msq, re;
};

TransitionResult check(const Ends& e, double ncrit, bool forced = false, double xf = 0.0) {
  const double hk1 = kinematic_shape_parameter(e.d1 / e.t1, e.msq).hk;
  const double hk2 = kinematic_shape_parameter(e.d2 / e.t2, e.msq).hk;
  return check_interval_for_transition(forced, e.x1, e.x2, e.t1, e.t2, e.d1, e.d2, e.u1, e.u2, hk1, hk2,
                      e.re * e.u1 * e.t1, e.re * e.u2 * e.t2, e.a1, ncrit, xf, e.msq, e.re);
}

// Parameter access in the tt/dt/ut order: a1, x1, x2, t1, t2, d1, d2, u1, u2, ms, re.
double& param(Ends& e, int k) {
  double* p[] = {&e.a1, &e.x1, &e.x2, &e.t1, &e.t2, &e.d1, &e.d2, &e.u1, &e.u2, &e.msq, &e.re};
  return *p[k];
}

std::array<double, 11> xt_sens(const TransitionResult& r) {
  // reordered from a1, x1, t1, d1, u1, x2, t2, d2, u2, ms, re
  return {r.xt_a1, r.xt_x1, r.xt_x2, r.xt_t1, r.xt_t2, r.xt_d1, r.xt_d2, r.xt_u1, r.xt_u2,
          r.xt_ms, r.xt_re};
}
std::array<double, 11> tt_sens(const TransitionResult& r) {
  return {r.tt_a1, r.tt_x1, r.tt_x2, r.tt_t1, r.tt_t2, r.tt_d1, r.tt_d2, r.tt_u1, r.tt_u2,
          r.tt_ms, r.tt_re};
}
std::array<double, 11> dt_sens(const TransitionResult& r) {
  return {r.dt_a1, r.dt_x1, r.dt_x2, r.dt_t1, r.dt_t2, r.dt_d1, r.dt_d2, r.dt_u1, r.dt_u2,
          r.dt_ms, r.dt_re};
}
std::array<double, 11> ut_sens(const TransitionResult& r) {
  return {r.ut_a1, r.ut_x1, r.ut_x2, r.ut_t1, r.ut_t2, r.ut_d1, r.ut_d2, r.ut_u1, r.ut_u2,
          r.ut_ms, r.ut_re};
}

// Compares the 44 sensitivities with central differences of the
// transition-point values. The amplification iteration stops once its step
// is below 5e-5 without taking that step, so the converged exponent may be
// off by up to 5e-5 out of a crossing span of a few tenths: the differenced
// iterate and the sensitivities (formed at that iterate) then agree to a
// few 1e-4 relative (or 1e-4 of the largest response where a sensitivity
// is a small difference of large terms), while a wrong chain term would be
// off by O(1).
void check_sensitivities(const Ends& base, double ncrit, bool forced, double xf) {
  const TransitionResult r0 = check(base, ncrit, forced, xf);
  ASSERT_TRUE(r0.transition);
  const std::array<std::array<double, 11>, 4> an = {xt_sens(r0), tt_sens(r0), dt_sens(r0),
                                                    ut_sens(r0)};
  // Characteristic size of each parameter (M^2 may be 0).
  std::array<double, 11> size{};
  for (int k = 0; k < 11; ++k) {
    Ends e = base;
    size[k] = std::max(std::abs(param(e, k)), k == 9 ? 1.0 : 1e-3);
  }
  std::array<std::array<double, 11>, 4> fd{};
  for (int k = 0; k < 11; ++k) {
    Ends p = base, m = base;
    const double h = 1e-6 * size[k];
    param(p, k) += h;
    param(m, k) -= h;
    const TransitionResult rp = check(p, ncrit, forced, xf), rm = check(m, ncrit, forced, xf);
    ASSERT_TRUE(rp.transition && rm.transition);
    ASSERT_EQ(rp.forced, r0.forced);
    auto pt = [](const TransitionResult& r, double a, double b) { return r.wf1 * a + r.wf2 * b; };
    fd[0][k] = (rp.xt - rm.xt) / (2 * h);
    fd[1][k] = (pt(rp, p.t1, p.t2) - pt(rm, m.t1, m.t2)) / (2 * h);
    fd[2][k] = (pt(rp, p.d1, p.d2) - pt(rm, m.d1, m.d2)) / (2 * h);
    fd[3][k] = (pt(rp, p.u1, p.u2) - pt(rm, m.u1, m.u2)) / (2 * h);
  }
  const char* names[] = {"xt", "theta_t", "dstar_t", "u_t"};
  for (int q = 0; q < 4; ++q) {
    // Largest response to a unit relative change of any parameter.
    double scale = 0.0;
    for (int k = 0; k < 11; ++k) scale = std::max(scale, std::abs(fd[q][k]) * size[k]);
    for (int k = 0; k < 11; ++k) {
      SCOPED_TRACE(k);
      expect_close(an[q][k], fd[q][k], 1e-3, 1e-4 * scale / size[k] + 1e-14, names[q]);
    }
  }
}

// Downstream amplification of a free crossing solved independently by
// bisection of a2 - a1 - ax(transition point)*dx = 0 for a2 > ncrit.
double exact_free_ampl2(const Ends& e, double nc) {
  const double hk1 = kinematic_shape_parameter(e.d1 / e.t1, e.msq).hk, rt1 = e.re * e.u1 * e.t1;
  auto res = [&](double a2) {
    const double w = (nc - e.a1) / (a2 - e.a1);
    const double tt = e.t1 + w * (e.t2 - e.t1), dt = e.d1 + w * (e.d2 - e.d1);
    const double ut = e.u1 + w * (e.u2 - e.u1);
    const double ax =
        interval_amplification_rate(hk1, e.t1, rt1, e.a1, kinematic_shape_parameter(dt / tt, e.msq).hk, tt, tt * e.re * ut, nc, nc).ax;
    return a2 - e.a1 - ax * (e.x2 - e.x1);
  };
  double lo = nc, hi = nc + 100.0;
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    (res(mid) < 0.0 ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

}  // namespace

TEST(TransitionCheck, EmptyIntervalGivesAllZeros) {
  for (double x2 : {0.3, 0.2, std::nan("")}) {
    const TransitionResult r = check_interval_for_transition(true, 0.3, x2, 1e-3, 1e-3, 2.6e-3, 2.6e-3, 1.0, 1.0,
                                            2.6, 2.6, 1000.0, 1000.0, 8.0, 9.0, 0.1, 0.0, 1e6);
    EXPECT_FALSE(r.transition);
    EXPECT_FALSE(r.forced);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(r.ncrit, 0.0);
    EXPECT_EQ(r.xt, 0.0);
    EXPECT_EQ(r.ampl2, 0.0);
    EXPECT_EQ(r.iterations, 0);
    EXPECT_EQ(r.wf2, 0.0);
  }
}

TEST(TransitionCheck, NoCrossingSatisfiesTheRateEquation) {
  const Ends e{2.0, 0.30, 0.32, 4.0e-4, 4.2e-4, 1.04e-3, 1.10e-3, 1.0, 0.99, 0.0, 2e6};
  const double nc = 9.0;
  const TransitionResult r = check(e, nc);
  EXPECT_FALSE(r.transition);
  EXPECT_TRUE(r.converged);
  EXPECT_EQ(r.wf2, 1.0);
  EXPECT_EQ(r.wf1, 0.0);
  EXPECT_DOUBLE_EQ(r.xt, e.x2);
  EXPECT_EQ(r.ncrit, nc);
  EXPECT_GT(r.ampl2, e.a1);
  const IntervalAmplificationRate ax = interval_amplification_rate(kinematic_shape_parameter(e.d1 / e.t1, 0.0).hk, e.t1, e.re * e.u1 * e.t1, e.a1,
                                    kinematic_shape_parameter(e.d2 / e.t2, 0.0).hk, e.t2, e.re * e.u2 * e.t2, r.ampl2,
                                    nc);
  EXPECT_NEAR(r.ampl2, e.a1 + ax.ax * (e.x2 - e.x1), 5e-5);
  for (double s : xt_sens(r)) EXPECT_EQ(s, 0.0);
  for (double s : tt_sens(r)) EXPECT_EQ(s, 0.0);
  for (double s : ut_sens(r)) EXPECT_EQ(s, 0.0);
}

TEST(TransitionCheck, FreeTransitionSensitivities) {
  // Crossing inside the interval for an attached and a near-separated
  // laminar layer, incompressible and at M^2 = 0.2.
  const std::vector<std::pair<Ends, double>> cases = {
      {{8.8, 0.30, 0.36, 4.0e-4, 4.4e-4, 1.04e-3, 1.16e-3, 1.00, 0.98, 0.0, 2e6}, 9.0},
      {{8.92, 0.30, 0.36, 4.0e-4, 4.4e-4, 1.04e-3, 1.16e-3, 1.00, 0.98, 0.2, 2e6}, 9.0},
      {{6.5, 0.50, 0.53, 6.0e-4, 6.6e-4, 2.2e-3, 2.5e-3, 0.95, 0.93, 0.0, 1e6}, 7.0}};
  for (const auto& [e, nc] : cases) {
    const TransitionResult r = check(e, nc);
    ASSERT_TRUE(r.transition);
    EXPECT_FALSE(r.forced);
    EXPECT_TRUE(r.converged);
    EXPECT_GT(r.wf2, 0.05);
    EXPECT_LT(r.wf2, 0.95);
    EXPECT_GE(r.ampl2, nc);
    EXPECT_NEAR(r.xt, e.x1 + r.wf2 * (e.x2 - e.x1), 1e-14);
    EXPECT_NEAR(r.ampl2, exact_free_ampl2(e, nc), 1e-4);
    check_sensitivities(e, nc, false, 0.0);
  }
}

TEST(TransitionCheck, ForcedTransitionBeforeTheFreePoint) {
  const Ends e{3.0, 0.30, 0.36, 4.0e-4, 4.4e-4, 1.04e-3, 1.16e-3, 1.00, 0.98, 0.0, 2e6};
  const double xf = 0.345;
  const TransitionResult r = check(e, 9.0, true, xf);
  ASSERT_TRUE(r.transition);
  EXPECT_TRUE(r.forced);
  EXPECT_EQ(r.xt, xf);
  EXPECT_NEAR(r.wf2, (xf - e.x1) / (e.x2 - e.x1), 1e-15);
  EXPECT_DOUBLE_EQ(r.wf1, 1.0 - r.wf2);
  for (double s : xt_sens(r)) EXPECT_EQ(s, 0.0);
  check_sensitivities(e, 9.0, true, xf);

  // The forced point at x2 itself is still inside the interval.
  const TransitionResult at_end = check(e, 9.0, true, e.x2);
  EXPECT_TRUE(at_end.forced);
  EXPECT_DOUBLE_EQ(at_end.wf2, 1.0);
  // Forcing disabled, or the forced point beyond x2: no transition here.
  EXPECT_FALSE(check(e, 9.0, false, xf).transition);
  EXPECT_FALSE(check(e, 9.0, true, 0.5).transition);
}

TEST(TransitionCheck, FreeTransitionAheadOfTheForcedPoint) {
  const Ends e{8.8, 0.30, 0.36, 4.0e-4, 4.4e-4, 1.04e-3, 1.16e-3, 1.00, 0.98, 0.0, 2e6};
  const TransitionResult free_r = check(e, 9.0);
  ASSERT_TRUE(free_r.transition);
  // A forced point downstream of the free one does not win.
  const double xf = 0.5 * (free_r.xt + e.x2);
  const TransitionResult r = check(e, 9.0, true, xf);
  EXPECT_TRUE(r.transition);
  EXPECT_FALSE(r.forced);
  EXPECT_NEAR(r.xt, free_r.xt, 1e-12);
  // A forced point upstream of it wins.
  const TransitionResult r2 = check(e, 9.0, true, 0.5 * (e.x1 + free_r.xt));
  EXPECT_TRUE(r2.forced);
}

TEST(TransitionCheck, TransitionPointStaysInsideTheInterval) {
  // Upstream amplification already past ncrit: the transition point is held
  // at the upstream station instead of being extrapolated upstream.
  const Ends e{9.5, 0.30, 0.36, 4.0e-4, 4.4e-4, 1.04e-3, 1.16e-3, 1.00, 0.98, 0.0, 2e6};
  const TransitionResult r = check(e, 9.0);
  EXPECT_TRUE(r.transition);
  EXPECT_GE(r.wf2, 0.0);
  EXPECT_LE(r.wf2, 1.0);
  EXPECT_GE(r.xt, e.x1);
  // A forced point upstream of the interval does not extrapolate either.
  const Ends lo{2.0, 0.30, 0.36, 4.0e-4, 4.4e-4, 1.04e-3, 1.16e-3, 1.00, 0.98, 0.0, 2e6};
  const TransitionResult f = check(lo, 9.0, true, 0.1);
  EXPECT_GE(f.xt, lo.x1);
  EXPECT_FALSE(f.forced);
  EXPECT_TRUE(std::isfinite(f.ampl2));
}

TEST(TransitionCheck, NonFiniteInputIsNotReportedAsConverged) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {nan, inf}) {
    const TransitionResult r = check_interval_for_transition(false, 0.3, 0.36, bad, 4.4e-4, 1.04e-3, 1.16e-3, 1.0,
                                            0.98, 2.6, 2.6, 800.0, 880.0, 8.6, 9.0, 0.0, 0.0, 2e6);
    EXPECT_FALSE(r.converged);
    EXPECT_FALSE(r.transition);
    EXPECT_TRUE(std::isnan(r.ampl2));
    const TransitionResult r2 = check_interval_for_transition(false, 0.3, 0.36, 4e-4, 4.4e-4, 1.04e-3, 1.16e-3, 1.0,
                                             0.98, 2.6, 2.6, 800.0, 880.0, 8.6, 9.0, 0.0, 0.0, bad);
    EXPECT_FALSE(r2.converged);
    EXPECT_FALSE(r2.transition);
  }
  // An infinite forced location simply never forces.
  const TransitionResult r3 = check_interval_for_transition(true, 0.3, 0.36, 4e-4, 4.4e-4, 1.04e-3, 1.16e-3, 1.0,
                                           0.98, 2.6, 2.6, 800.0, 880.0, 3.0, 9.0, inf, 0.0, 2e6);
  EXPECT_TRUE(r3.converged);
  EXPECT_FALSE(r3.forced);
}

TEST(TransitionCheck, FlatPlateTransitionReynoldsNumber) {
  // March a Blasius layer (theta = 0.664 x / sqrt(Re_x), H = 2.59, u = 1)
  // interval by interval. The e^9 envelope method is known to put flat-plate
  // transition near Re_x = 3e6 (2.5e6 to 3.6e6 depending on the onset
  // correlation).
  const double re = 1e7, nc = 9.0, h = 2.59;
  auto theta = [&](double x) { return 0.664 * x / std::sqrt(re * x); };
  double a = 0.0, x1 = 0.005, xt = -1.0;
  for (int i = 0; i < 2000 && xt < 0.0; ++i) {
    const double x2 = x1 + 0.002;
    const double t1 = theta(x1), t2 = theta(x2);
    const TransitionResult r = check_interval_for_transition(false, x1, x2, t1, t2, h * t1, h * t2, 1.0, 1.0, h, h,
                                            re * t1, re * t2, a, nc, 0.0, 0.0, re);
    ASSERT_TRUE(r.converged);
    if (r.transition) xt = r.xt;
    a = r.ampl2;
    x1 = x2;
  }
  ASSERT_GT(xt, 0.0);
  EXPECT_GT(xt * re, 2.5e6);
  EXPECT_LT(xt * re, 3.6e6);
}
