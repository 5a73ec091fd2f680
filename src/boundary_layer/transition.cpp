// Amplification rate, its interval average and the transition check.
#include "boundary_layer/transition.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <limits>

#include "boundary_layer/closures.h"

namespace velaro {

namespace {

AmplificationRate evaluate_amplification_rate(double hk, double theta, double rt) {
  // Written as negated comparisons so that NaN arguments also give zeros.
  if (!(hk > 1.0) || !(theta > 0.0) || !(rt > 0.0)) return {};

  const double hmi = 1.0 / (hk - 1.0);
  const double hmi_hk = -hmi * hmi;
  const double aa = 2.492 * std::pow(hmi, 0.43);
  const double bb = std::tanh(14.0 * hmi - 9.24);

  // Critical log10(rt), lowered by the half-width of the onset ramp.
  const double grc = aa + 0.7 * (bb + 1.0) - 0.08;
  const double gr = std::log10(rt);
  if (gr < grc) return {};

  // Smooth cubic ramp from 0 to 1 over 0.16 decades above the lowered onset.
  const double rn = (gr - grc) / 0.16;
  double rfac = 1.0, rfac_hk = 0.0, rfac_rt = 0.0;
  if (rn < 1.0) {
    rfac = 3.0 * rn * rn - 2.0 * rn * rn * rn;
    const double rfac_rn = 6.0 * rn - 6.0 * rn * rn;
    rfac_hk = rfac_rn * (0.7 * (1.0 - bb * bb) * 14.0 * hmi_hk + 0.43 * aa / hmi * hmi_hk) / (-0.16);
    rfac_rt = rfac_rn * 1.0 / (rt * LN10) / 0.16;
  }

  // Envelope slope dn/dRtheta times dRtheta/dx.
  const double arg = 3.87 * hmi - 2.52;
  const double ex = std::exp(-arg * arg);
  const double dadr = 0.028 * (hk - 1.0) - 0.0345 * ex;
  const double af = -0.05 + 2.7 * hmi - 5.5 * hmi * hmi + 3.0 * hmi * hmi * hmi;
  const double af_hmi = 2.7 - 11.0 * hmi + 9.0 * hmi * hmi;

  const double base = af * dadr / theta;
  AmplificationRate r;
  r.ax = base * rfac;
  r.ax_hk = base * rfac_hk + rfac * (af * (0.028 + 0.0345 * ex * 2.0 * arg * 3.87 * hmi_hk) / theta +
                                     af_hmi * hmi_hk * dadr / theta);
  r.ax_theta = -r.ax / theta;
  r.ax_rt = base * rfac_rt;
  return r;
}

// The same station state enters many rates in a row: the upstream end of an
// interval in the first guess and in every trial point of its transition
// check and again in its equations, at every Newton iteration of the march at
// one station, and a station shared by two neighbouring intervals of the
// assembly. The rates of the last few distinct states evaluated on this
// thread are kept; a hit returns exactly what a fresh evaluation gives (equal
// arguments, and a NaN argument never matches).
class RateMemo {
 public:
  AmplificationRate get(double hk, double theta, double rt) {
    for (const Entry& e : entries_) {
      if (e.hk == hk && e.theta == theta && e.rt == rt) return e.rate;
    }
    Entry& e = entries_[next_];
    next_ = (next_ + 1) % kEntries;
    e = {hk, theta, rt, evaluate_amplification_rate(hk, theta, rt)};
    return e.rate;
  }

 private:
  static constexpr std::size_t kEntries = 4;
  struct Entry {
    double hk = std::numeric_limits<double>::quiet_NaN();
    double theta = 0.0;
    double rt = 0.0;
    AmplificationRate rate{};
  };
  std::array<Entry, kEntries> entries_{};
  std::size_t next_ = 0;
};

}  // namespace

AmplificationRate amplification_rate(double hk, double theta, double rt) {
  thread_local RateMemo memo;
  return memo.get(hk, theta, rt);
}

IntervalAmplificationRate interval_amplification_rate(double hk1, double t1, double rt1,
                                                      double a1, double hk2, double t2,
                                                      double rt2, double a2, double ncrit) {
  const AmplificationRate r1 = amplification_rate(hk1, t1, rt1);
  const AmplificationRate r2 = amplification_rate(hk2, t2, rt2);

  // Root-mean-square of the two rates.
  double axa = 0.0, axa_ax1 = 0.0, axa_ax2 = 0.0;
  const double msq = 0.5 * (r1.ax * r1.ax + r2.ax * r2.ax);
  if (msq > 0.0) {
    axa = std::sqrt(msq);
    axa_ax1 = 0.5 * r1.ax / axa;
    axa_ax2 = 0.5 * r2.ax / axa;
  }

  // Small extra growth that switches on as the mean exponent nears ncrit.
  const double arg = std::min(20.0 * (ncrit - 0.5 * (a1 + a2)), 20.0);
  double exn = 1.0, exn_a = 0.0;
  if (arg > 0.0) {
    exn = std::exp(-arg);
    exn_a = 10.0 * exn;
  }
  const double tsum = t1 + t2;
  double dax = 0.0, dax_t = 0.0, dax_a = 0.0;
  if (tsum > 0.0) {
    dax = 0.002 * exn / tsum;
    dax_t = -dax / tsum;
    dax_a = 0.002 * exn_a / tsum;
  }

  IntervalAmplificationRate r;
  r.ax = axa + dax;
  r.ax_hk1 = axa_ax1 * r1.ax_hk;
  r.ax_t1 = axa_ax1 * r1.ax_theta + dax_t;
  r.ax_rt1 = axa_ax1 * r1.ax_rt;
  r.ax_a1 = dax_a;
  r.ax_hk2 = axa_ax2 * r2.ax_hk;
  r.ax_t2 = axa_ax2 * r2.ax_theta + dax_t;
  r.ax_rt2 = axa_ax2 * r2.ax_rt;
  r.ax_a2 = dax_a;
  return r;
}

namespace {

// Newton iteration for the downstream amplification: it stops once a step is
// below AMPLIFICATION_TOLERANCE, or after MAX_TRANSITION_ITERATIONS
// evaluations; each step moves the transition point by at most
// MAX_TRANSITION_STEP of the interval length.
inline constexpr double AMPLIFICATION_TOLERANCE = 5e-5;
inline constexpr std::int64_t MAX_TRANSITION_ITERATIONS = 30;
inline constexpr double MAX_TRANSITION_STEP = 0.05;

// Parameters of the transition sensitivities, in the order of the theta,
// dstar and edge-velocity sensitivities of TransitionResult.
enum Param { A1, X1, X2, T1, T2, D1, D2, U1, U2, MS, RE, NPARAM };
using ParamVec = std::array<double, NPARAM>;

// Fixed data of one transition check.
struct Interval {
  double x1, x2, t1, t2, d1, d2, u1, u2, hk1, hk2, rt1, rt2, a1, ncrit, msq, re;
  double dx;
  double forced_weight;              // forced-transition weight (1 when not forced)
  double forced_weight_x1, forced_weight_x2;   // its partials (0 when not forced)
};

// The transition-point state for one trial downstream amplification a2.
struct TrialPoint {
  double ampl_t, ampl_t_a2;              // amplification at the transition point
  double crossing_weight;                        // weight of the ncrit crossing (1 without one)
  double wf1, wf2;                   // interpolation weights
  double wf2_a1, wf2_a2, wf2_x1, wf2_x2;
  double xt, tt, dt, ut;
  bool ratio_form;                   // Hkt from dt/tt (false: from interpolated Hk)
  KinematicShapeResult hkt;
  double ht;
  double rtt;
  IntervalAmplificationRate ax;
  double ax_wf2;                     // d ax / d wf2 at fixed amplifications
  double res, res_a2;                // residual a2 - a1 - ax*dx and its derivative
};

TrialPoint evaluate_trial(const Interval& iv, double a2) {
  TrialPoint p{};
  double crossing_weight = 1.0, crossing_weight_a1 = 0.0, crossing_weight_a2 = 0.0;
  if (a2 <= iv.ncrit) {
    p.ampl_t = a2;
    p.ampl_t_a2 = 1.0;
  } else {
    p.ampl_t = iv.ncrit;
    p.ampl_t_a2 = 0.0;
    const double span = a2 - iv.a1;
    const double den = std::max(span, 1e-20);
    crossing_weight = (iv.ncrit - iv.a1) / den;
    if (span > 1e-20) {
      crossing_weight_a1 = (crossing_weight - 1.0) / den;
      crossing_weight_a2 = -crossing_weight / den;
    } else {
      crossing_weight_a1 = -1.0 / den;
    }
    // An upstream amplification already past ncrit would put the crossing
    // upstream of x1; the transition point is held at x1 instead.
    if (crossing_weight < 0.0) {
      crossing_weight = 0.0;
      crossing_weight_a1 = crossing_weight_a2 = 0.0;
    }
  }

  p.crossing_weight = crossing_weight;
  if (crossing_weight < iv.forced_weight) {
    p.wf2 = crossing_weight;
    p.wf2_a1 = crossing_weight_a1;
    p.wf2_a2 = crossing_weight_a2;
  } else {
    p.wf2 = iv.forced_weight;
    p.wf2_x1 = iv.forced_weight_x1;
    p.wf2_x2 = iv.forced_weight_x2;
  }
  p.wf1 = 1.0 - p.wf2;

  p.xt = iv.x1 * p.wf1 + iv.x2 * p.wf2;
  p.tt = iv.t1 * p.wf1 + iv.t2 * p.wf2;
  p.dt = iv.d1 * p.wf1 + iv.d2 * p.wf2;
  p.ut = iv.u1 * p.wf1 + iv.u2 * p.wf2;

  double hkt_wf2;
  if (p.tt > 1e-20) {
    p.ratio_form = true;
    p.ht = p.dt / p.tt;
    p.hkt = kinematic_shape_parameter(p.ht, iv.msq);
    hkt_wf2 = p.hkt.hk_h * ((iv.d2 - iv.d1) - p.ht * (iv.t2 - iv.t1)) / p.tt;
  } else {
    p.ratio_form = false;
    p.ht = 0.0;
    p.hkt = kinematic_shape_parameter(iv.hk1 * p.wf1 + iv.hk2 * p.wf2, iv.msq);
    hkt_wf2 = p.hkt.hk_h * (iv.hk2 - iv.hk1);
  }
  p.rtt = p.tt * iv.re * p.ut;
  const double rtt_wf2 = iv.re * (p.ut * (iv.t2 - iv.t1) + p.tt * (iv.u2 - iv.u1));

  p.ax = interval_amplification_rate(iv.hk1, iv.t1, iv.rt1, iv.a1, p.hkt.hk, p.tt, p.rtt,
                                     p.ampl_t, iv.ncrit);
  p.ax_wf2 = p.ax.ax_hk2 * hkt_wf2 + p.ax.ax_t2 * (iv.t2 - iv.t1) + p.ax.ax_rt2 * rtt_wf2;

  p.res = a2 - iv.a1 - p.ax.ax * iv.dx;
  const double ax_a2 = p.ax_wf2 * p.wf2_a2 + p.ax.ax_a2 * p.ampl_t_a2;
  p.res_a2 = 1.0 - ax_a2 * iv.dx;
  return p;
}

// Sensitivities of a free transition point from the implicit relation
// res(a2, params) = 0 at the final trial point.
void free_transition_sensitivities(const Interval& iv, const TrialPoint& p, TransitionResult& r) {
  const KinematicShapeResult hk1d =
      kinematic_shape_parameter(iv.d1 / std::max(iv.t1, 1e-20), iv.msq);
  const double h1 = iv.d1 / std::max(iv.t1, 1e-20);

  ParamVec hk1_p{}, rt1_p{};
  hk1_p[T1] = hk1d.hk_h * (-h1 / std::max(iv.t1, 1e-20));
  hk1_p[D1] = hk1d.hk_h / std::max(iv.t1, 1e-20);
  hk1_p[MS] = hk1d.hk_msq;
  rt1_p[T1] = iv.re * iv.u1;
  rt1_p[U1] = iv.re * iv.t1;
  rt1_p[RE] = iv.u1 * iv.t1;

  // Downstream Hk partials, needed only when Hkt is interpolated directly.
  ParamVec hk2_p{};
  if (!p.ratio_form) {
    const double h2 = iv.d2 / std::max(iv.t2, 1e-20);
    const KinematicShapeResult hk2d = kinematic_shape_parameter(h2, iv.msq);
    hk2_p[T2] = hk2d.hk_h * (-h2 / std::max(iv.t2, 1e-20));
    hk2_p[D2] = hk2d.hk_h / std::max(iv.t2, 1e-20);
    hk2_p[MS] = hk2d.hk_msq;
  }

  // Explicit partials of the weight (a2 held fixed).
  ParamVec wf2_p{};
  wf2_p[A1] = p.wf2_a1;
  wf2_p[X1] = p.wf2_x1;
  wf2_p[X2] = p.wf2_x2;

  // Transition-point values at fixed a2.
  auto interp = [&](Param end1, Param end2, double v1, double v2) {
    ParamVec d = {};
    for (int k = 0; k < NPARAM; ++k) d[k] = (v2 - v1) * wf2_p[k];
    d[end1] += p.wf1;
    d[end2] += p.wf2;
    return d;
  };
  const ParamVec tt_p = interp(T1, T2, iv.t1, iv.t2);
  const ParamVec dt_p = interp(D1, D2, iv.d1, iv.d2);
  const ParamVec ut_p = interp(U1, U2, iv.u1, iv.u2);

  ParamVec res_p{};
  for (int k = 0; k < NPARAM; ++k) {
    double hkt_k;
    if (p.ratio_form) {
      hkt_k = p.hkt.hk_h * (dt_p[k] - p.ht * tt_p[k]) / p.tt;
    } else {
      hkt_k = p.hkt.hk_h * (p.wf1 * hk1_p[k] + p.wf2 * hk2_p[k] + (iv.hk2 - iv.hk1) * wf2_p[k]);
    }
    double rtt_k = iv.re * (p.ut * tt_p[k] + p.tt * ut_p[k]);
    if (k == MS) hkt_k += p.hkt.hk_msq;
    if (k == RE) rtt_k += p.tt * p.ut;

    double ax_k = p.ax.ax_hk1 * hk1_p[k] + p.ax.ax_rt1 * rt1_p[k] + p.ax.ax_hk2 * hkt_k +
                  p.ax.ax_t2 * tt_p[k] + p.ax.ax_rt2 * rtt_k;
    if (k == T1) ax_k += p.ax.ax_t1;
    if (k == A1) ax_k += p.ax.ax_a1;

    double dx_k = 0.0;
    if (k == X1) dx_k = -1.0;
    if (k == X2) dx_k = 1.0;
    res_p[k] = -ax_k * iv.dx - p.ax.ax * dx_k;
    if (k == A1) res_p[k] -= 1.0;
  }

  const double res_inv = std::abs(p.res_a2) <= 1e-20 ? 0.0 : 1.0 / p.res_a2;
  ParamVec wf2_tot{}, xt_s{}, tt_s{}, dt_s{}, ut_s{};
  for (int k = 0; k < NPARAM; ++k) {
    const double a2_k = -res_p[k] * res_inv;
    wf2_tot[k] = wf2_p[k] + p.wf2_a2 * a2_k;
  }
  for (int k = 0; k < NPARAM; ++k) {
    xt_s[k] = iv.dx * wf2_tot[k];
    tt_s[k] = (iv.t2 - iv.t1) * wf2_tot[k];
    dt_s[k] = (iv.d2 - iv.d1) * wf2_tot[k];
    ut_s[k] = (iv.u2 - iv.u1) * wf2_tot[k];
  }
  xt_s[X1] += p.wf1;
  xt_s[X2] += p.wf2;
  tt_s[T1] += p.wf1;
  tt_s[T2] += p.wf2;
  dt_s[D1] += p.wf1;
  dt_s[D2] += p.wf2;
  ut_s[U1] += p.wf1;
  ut_s[U2] += p.wf2;

  r.xt_a1 = xt_s[A1]; r.xt_x1 = xt_s[X1]; r.xt_t1 = xt_s[T1]; r.xt_d1 = xt_s[D1];
  r.xt_u1 = xt_s[U1]; r.xt_x2 = xt_s[X2]; r.xt_t2 = xt_s[T2]; r.xt_d2 = xt_s[D2];
  r.xt_u2 = xt_s[U2]; r.xt_ms = xt_s[MS]; r.xt_re = xt_s[RE];

  auto store = [](const ParamVec& s, double& a1, double& x1, double& x2, double& t1, double& t2,
                  double& d1, double& d2, double& u1, double& u2, double& ms, double& re) {
    a1 = s[A1]; x1 = s[X1]; x2 = s[X2]; t1 = s[T1]; t2 = s[T2]; d1 = s[D1];
    d2 = s[D2]; u1 = s[U1]; u2 = s[U2]; ms = s[MS]; re = s[RE];
  };
  store(tt_s, r.tt_a1, r.tt_x1, r.tt_x2, r.tt_t1, r.tt_t2, r.tt_d1, r.tt_d2, r.tt_u1, r.tt_u2,
        r.tt_ms, r.tt_re);
  store(dt_s, r.dt_a1, r.dt_x1, r.dt_x2, r.dt_t1, r.dt_t2, r.dt_d1, r.dt_d2, r.dt_u1, r.dt_u2,
        r.dt_ms, r.dt_re);
  store(ut_s, r.ut_a1, r.ut_x1, r.ut_x2, r.ut_t1, r.ut_t2, r.ut_d1, r.ut_d2, r.ut_u1, r.ut_u2,
        r.ut_ms, r.ut_re);
}

// Outcome of the Newton iteration for the downstream amplification.
struct AmplificationIteration {
  double a2;             // last iterate
  TrialPoint last;       // trial point of the last evaluated iterate
  bool converged;
  std::int64_t count;    // number of evaluations
};

// Solves a2 - a1 - ax(a2)*dx = 0, starting from `a2`. Steps are limited so
// that the transition point moves by at most MAX_TRANSITION_STEP of the
// interval and the amplification by at most 1, and they stop at ncrit when
// they would cross it.
AmplificationIteration solve_downstream_amplification(const Interval& iv, double a2) {
  AmplificationIteration it{a2, {}, false, 1};
  while (true) {
    it.last = evaluate_trial(iv, it.a2);
    if (it.last.ax.ax <= 0.0) {
      it.converged = true;
      break;
    }
    const double da = -it.last.res / std::max(it.last.res_a2, 1e-20);
    const double dxt = iv.dx * it.last.wf2_a2 * da;
    const double relaxation = std::abs(dxt) / iv.dx > MAX_TRANSITION_STEP
                                  ? MAX_TRANSITION_STEP * iv.dx / std::max(std::abs(dxt), 1e-20)
                                  : 1.0;
    if (std::abs(da) < AMPLIFICATION_TOLERANCE) {
      it.converged = true;
      break;
    }
    double next = it.a2 + da * (relaxation * std::abs(da) > 1.0 ? 1.0 / std::abs(da) : relaxation);
    if ((it.a2 < iv.ncrit && next > iv.ncrit) || (it.a2 > iv.ncrit && next < iv.ncrit)) {
      next = iv.ncrit;
    }
    ++it.count;
    it.a2 = next;
    if (it.count > MAX_TRANSITION_ITERATIONS) {
      it.count = MAX_TRANSITION_ITERATIONS;
      break;
    }
  }
  return it;
}

// Transition at the prescribed point x_forced; the interpolated state moves
// with the interval ends at the fixed forced weight.
void set_forced_transition(const Interval& iv, double x_forced, TransitionResult& r) {
  r.transition = true;
  r.forced = true;
  r.xt = x_forced;
  r.wf2 = iv.forced_weight;
  r.wf1 = 1.0 - iv.forced_weight;
  const double sx1 = (iv.forced_weight - 1.0) / iv.dx;
  const double sx2 = -iv.forced_weight / iv.dx;
  r.tt_x1 = (iv.t2 - iv.t1) * sx1;
  r.tt_x2 = (iv.t2 - iv.t1) * sx2;
  r.tt_t1 = r.wf1;
  r.tt_t2 = r.wf2;
  r.dt_x1 = (iv.d2 - iv.d1) * sx1;
  r.dt_x2 = (iv.d2 - iv.d1) * sx2;
  r.dt_d1 = r.wf1;
  r.dt_d2 = r.wf2;
  r.ut_x1 = (iv.u2 - iv.u1) * sx1;
  r.ut_x2 = (iv.u2 - iv.u1) * sx2;
  r.ut_u1 = r.wf1;
  r.ut_u2 = r.wf2;
}

}  // namespace

TransitionResult check_interval_for_transition(bool forced_enabled, double x1, double x2,
                                               double t1, double t2, double d1, double d2,
                                               double u1, double u2, double hk1, double hk2,
                                               double rt1, double rt2, double a1, double ncrit,
                                               double x_forced, double msq, double re) {
  TransitionResult r;
  const double dx = x2 - x1;
  // Empty (or inverted, or non-finite) interval: nothing to check.
  if (!(dx > 1e-20)) return r;
  r.ncrit = ncrit;
  // Non-finite state: report an unconverged check with a non-finite
  // amplification rather than a result that looks valid.
  for (double v : {x1, x2, t1, t2, d1, d2, u1, u2, hk1, hk2, rt1, rt2, a1, ncrit, msq, re}) {
    if (!std::isfinite(v)) {
      r.ampl2 = std::numeric_limits<double>::quiet_NaN();
      r.xt = std::numeric_limits<double>::quiet_NaN();
      return r;
    }
  }

  Interval iv{x1, x2, t1, t2, d1, d2, u1, u2, hk1, hk2, rt1, rt2, a1, ncrit, msq, re, dx,
              1.0, 0.0, 0.0};
  const bool forced_in_range = forced_enabled && x_forced < x2;
  if (forced_in_range) {
    iv.forced_weight = (x_forced - x1) / dx;
    iv.forced_weight_x1 = (iv.forced_weight - 1.0) / dx;
    iv.forced_weight_x2 = -iv.forced_weight / dx;
    // A forced point upstream of x1 would extrapolate the interval; hold it at x1.
    if (iv.forced_weight < 0.0) {
      iv.forced_weight = 0.0;
      iv.forced_weight_x1 = iv.forced_weight_x2 = 0.0;
    }
  }

  // Initial guess from the rate with the upstream amplification at both ends.
  const IntervalAmplificationRate ax0 =
      interval_amplification_rate(hk1, t1, rt1, a1, hk2, t2, rt2, a1, ncrit);
  const AmplificationIteration it = solve_downstream_amplification(iv, a1 + ax0.ax * dx);
  const double a2 = it.a2;

  r.ampl2 = a2;
  r.ax = it.last.ax.ax;
  r.iterations = it.count;
  r.converged = it.converged;
  r.xt = it.last.xt;
  r.wf1 = it.last.wf1;
  r.wf2 = it.last.wf2;

  // The forced point wins when there is no free crossing or when it lies
  // strictly before the free crossing. The iterate's own xt cannot decide
  // the second case: its weight is already capped at the forced one, so
  // the crossing weight itself is compared.
  const bool forced_outcome = forced_enabled && x1 < x_forced && x_forced <= x2 &&
                              (a2 < ncrit || iv.forced_weight < it.last.crossing_weight);
  if (forced_outcome) {
    set_forced_transition(iv, x_forced, r);
    return r;
  }
  if (!(a2 >= ncrit)) return r;  // no crossing (a NaN iterate also lands here)

  // Free transition: evaluate once more at the final amplification.
  const TrialPoint fin = evaluate_trial(iv, a2);
  r.transition = true;
  r.ax = fin.ax.ax;
  free_transition_sensitivities(iv, fin, r);
  return r;
}

}  // namespace velaro
