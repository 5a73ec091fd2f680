#pragma once
// Envelope e^N transition prediction.
//
// The amplification exponent ampl (n~) grows along a laminar layer at a rate
// that depends on Hk, theta and rt = Re*u*theta; transition happens where it
// reaches ncrit. `amplification_rate` is the local rate dn/dx at one
// station, `interval_amplification_rate` the rate averaged over an interval,
// and `check_interval_for_transition` solves implicitly for the downstream
// amplification of an interval and, when it crosses ncrit (or a forced
// transition point lies in the interval), locates the transition point
// together with its sensitivities to the interval ends.
#include <cstdint>

namespace velaro {

// Local amplification rate and its partials.
struct AmplificationRate {
  double ax = 0.0;
  double ax_hk = 0.0;
  double ax_theta = 0.0;
  double ax_rt = 0.0;
};

// Interval-averaged amplification rate and its partials with respect to the
// upstream (1) and downstream (2) station arguments.
struct IntervalAmplificationRate {
  double ax = 0.0;
  double ax_hk1 = 0.0;
  double ax_t1 = 0.0;
  double ax_rt1 = 0.0;
  double ax_a1 = 0.0;
  double ax_hk2 = 0.0;
  double ax_t2 = 0.0;
  double ax_rt2 = 0.0;
  double ax_a2 = 0.0;
};

// Outcome of the transition check over one interval. Sensitivity suffixes:
// a1 upstream amplification, x/t/d/u 1 and 2 the arc length, theta, dstar and
// edge velocity of the upstream and downstream station, ms the Mach number
// squared, re the reference Reynolds number. The xt sensitivities come in the
// order a1, x1, t1, d1, u1, x2, t2, d2, u2, ms, re; those of the transition
// point's theta (tt), dstar (dt) and edge velocity (ut) in the order a1, x1,
// x2, t1, t2, d1, d2, u1, u2, ms, re. All are 0 when there is no transition.
struct TransitionResult {
  double ncrit = 0.0;
  double xt = 0.0;
  double ampl2 = 0.0;
  double ax = 0.0;
  std::int64_t iterations = 0;
  double wf1 = 0.0;
  double wf2 = 0.0;

  double xt_a1 = 0.0, xt_x1 = 0.0, xt_t1 = 0.0, xt_d1 = 0.0, xt_u1 = 0.0, xt_x2 = 0.0,
         xt_t2 = 0.0, xt_d2 = 0.0, xt_u2 = 0.0, xt_ms = 0.0, xt_re = 0.0;
  double tt_a1 = 0.0, tt_x1 = 0.0, tt_x2 = 0.0, tt_t1 = 0.0, tt_t2 = 0.0, tt_d1 = 0.0,
         tt_d2 = 0.0, tt_u1 = 0.0, tt_u2 = 0.0, tt_ms = 0.0, tt_re = 0.0;
  double dt_a1 = 0.0, dt_x1 = 0.0, dt_x2 = 0.0, dt_t1 = 0.0, dt_t2 = 0.0, dt_d1 = 0.0,
         dt_d2 = 0.0, dt_u1 = 0.0, dt_u2 = 0.0, dt_ms = 0.0, dt_re = 0.0;
  double ut_a1 = 0.0, ut_x1 = 0.0, ut_x2 = 0.0, ut_t1 = 0.0, ut_t2 = 0.0, ut_d1 = 0.0,
         ut_d2 = 0.0, ut_u1 = 0.0, ut_u2 = 0.0, ut_ms = 0.0, ut_re = 0.0;

  bool transition = false;  // free or forced transition inside this interval
  bool forced = false;      // the transition is the forced one
  bool converged = false;   // the amplification iteration converged (or stopped on ax <= 0)
};

// Local spatial growth rate dn/dx. Zero for Hk <= 1, theta <= 0, rt <= 0 and
// below the critical rt (non-finite arguments also give zeros).
AmplificationRate amplification_rate(double hk, double theta, double rt);

// Root-mean-square of the two station rates plus a small term that keeps the
// amplification growing as the mean exponent approaches ncrit.
IntervalAmplificationRate interval_amplification_rate(double hk1, double t1, double rt1,
                                                      double a1, double hk2, double t2,
                                                      double rt2, double a2, double ncrit);

// Transition check of the interval [x1, x2]. hk1, hk2, rt1, rt2 are the
// station values from compute_secondary_variables; a1 the upstream amplification. Forced transition
// at x_forced applies when forced_enabled and x_forced < x2. `re` relates
// rt to u*theta.
TransitionResult check_interval_for_transition(bool forced_enabled, double x1, double x2,
                                               double t1, double t2, double d1, double d2,
                                               double u1, double u2, double hk1, double hk2,
                                               double rt1, double rt2, double a1, double ncrit,
                                               double x_forced, double msq, double re);

}  // namespace velaro
