// Interval equations of the integral boundary layer and their Jacobians:
// regular and similarity intervals, and intervals split by transition.
#include "boundary_layer/interval_equations.h"

#include <algorithm>
#include <cmath>

#include "boundary_layer/closures.h"

namespace velaro {

namespace {

using Vec5 = std::array<double, 5>;

// Critical amplification exponent passed where it has no effect: only the
// laminar amplification row uses ncrit, and the intervals that pass this
// value either fix that row (similarity station), discard it (laminar part
// of a transition interval) or have none (turbulent intervals).
inline constexpr double NCRIT_WITHOUT_EFFECT = 9.0;

Vec5 scaled(const Vec5& v, double a) {
  Vec5 r;
  for (int j = 0; j < 5; ++j) r[j] = v[j] * a;
  return r;
}

// Derivatives of the secondary quantities of one station with respect to its
// five variables (first, theta, dstar, u, x).
struct StationGradients {
  Vec5 h{}, hk{}, rt{}, hs{}, hc{}, cf{}, us{}, cq{}, de{}, di{};
};

StationGradients station_gradients(const BlStation& s) {
  StationGradients g;
  g.h = {0.0, s.h_theta, s.h_dstar, 0.0, 0.0};
  g.hk = scaled(g.h, s.hk_h);
  g.rt = {0.0, s.r_theta / std::max(s.theta, 1e-12), 0.0, s.r_theta / std::max(s.u, 1e-12), 0.0};
  for (int j = 0; j < 5; ++j) {
    g.hs[j] = s.hs_hk * g.hk[j] + s.hs_rt * g.rt[j];
    g.hc[j] = s.hc_hk * g.hk[j];
    g.cf[j] = s.cf_hk * g.hk[j] + s.cf_rt * g.rt[j];
  }
  g.us = {0.0, s.us_theta, s.us_dstar, s.us_u, 0.0};
  g.cq = {0.0, s.cq_theta, s.cq_dstar, s.cq_u, 0.0};
  g.de = {0.0, s.de_theta, s.de_dstar, 0.0, 0.0};
  g.di = {s.di_ctau, s.di_theta, s.di_dstar, s.di_u, 0.0};
  return g;
}

// Shear-lag row (row 0) of a turbulent or wake interval.
void shear_lag_row(const BlStation& s1, const BlStation& s2, const StationGradients& g1,
                   const StationGradients& g2, FlowType flow, double upw, const Vec5& upw_1,
                   const Vec5& upw_2, double ulog, bool upstream, IntervalEquations& eq,
                   ShearLagTerms& t) {
  const bool wake = flow == FlowType::Wake;
  const double ald = wake ? DLCON_WAKE : DLCON_TURBULENT;
  const double w1 = 1.0 - upw;
  const double w2 = upw;

  const double sa = w2 * s2.ctau + w1 * s1.ctau;
  const double cqa = w2 * s2.cq + w1 * s1.cq;
  const double cfa = w2 * s2.cf + w1 * s1.cf;
  const double hka = w2 * s2.hk + w1 * s1.hk;
  const double usa = 0.5 * (s1.us + s2.us);
  const double rta = 0.5 * (s1.r_theta + s2.r_theta);
  const double dea = 0.5 * (s1.de + s2.de);
  const double da = std::max(0.5 * (s1.dstar + s2.dstar), 1e-10);

  // Equilibrium-locus term; its dependence on RTA is not carried into the
  // Jacobian.
  double hkc = hka - 1.0;
  double hkc_hka = 1.0;
  if (!wake) {
    hkc = hka - 1.0 - GCCON / std::max(rta, 1.0);
    if (hkc < HKC_FLOOR) {
      hkc = HKC_FLOOR;
      hkc_hka = 0.0;
    }
  }
  const double hr = hkc / (GACON * ald * hka);
  const double uq = (0.5 * cfa - hr * hr) / (GBCON * da);
  const double uq_hka = -2.0 * hr * (hkc_hka / (GACON * ald * hka) - hr / hka) / (GBCON * da);
  const double uq_cfa = 0.5 / (GBCON * da);
  const double uq_da = -uq / da;

  const double scc = SCC_NUMERATOR / (1.0 + usa);
  const double scc_usa = -scc / (1.0 + usa);

  const double slog = std::log(s2.ctau / std::max(s1.ctau, 1e-20));
  const double dxi = s2.x - s1.x;

  t.term1 = scc * (cqa - sa * ald) * dxi;
  t.term2 = -2.0 * dea * slog;
  t.term3 = 2.0 * dea * (uq * dxi - ulog);
  t.residual = t.term1 + t.term2 + t.term3;
  t.scc = scc;
  t.ald = ald;
  t.slog = slog;
  t.ulog = ulog;
  t.dxi = dxi;
  t.s1 = s1.ctau;
  t.s2 = s2.ctau;
  t.sa = sa;
  t.cqa = cqa;
  t.cfa = cfa;
  t.hka = hka;
  t.usa = usa;
  t.rta = rta;
  t.dea = dea;
  t.da = da;
  t.hkc = hkc;
  t.hr = hr;
  t.uq = uq;
  t.upw = upw;

  // Partials of the residual with respect to the averaged quantities.
  const double r_sa = -scc * ald * dxi;
  const double r_slog = -2.0 * dea;
  const double r_ulog = -2.0 * dea;
  const double r_dxi = scc * (cqa - sa * ald) + 2.0 * dea * uq;
  const double r_cqa = scc * dxi;
  const double r_usa = scc_usa * (cqa - sa * ald) * dxi;
  const double r_dea = 2.0 * (uq * dxi - ulog) - 2.0 * slog;
  const double r_uq = 2.0 * dea * dxi;
  const double r_cfa = r_uq * uq_cfa;
  const double r_hka = r_uq * uq_hka;
  const double r_da = r_uq * uq_da;
  const double r_upw = r_cqa * (s2.cq - s1.cq) + r_sa * (s2.ctau - s1.ctau) +
                       r_cfa * (s2.cf - s1.cf) + r_hka * (s2.hk - s1.hk);

  auto fill = [&](const BlStation& s, const StationGradients& g, double w, const Vec5& upw_v,
                  double sign, Vec5& row) {
    for (int j = 0; j < 5; ++j) {
      row[j] = r_cqa * w * g.cq[j] + r_cfa * w * g.cf[j] + r_hka * w * g.hk[j] +
               r_upw * upw_v[j] + r_usa * 0.5 * g.us[j] + r_dea * 0.5 * g.de[j];
    }
    row[COL_FIRST] += w * r_sa + sign * r_slog / std::max(s.ctau, 1e-20);
    row[COL_DSTAR] += r_da * 0.5;
    row[COL_U] += sign * r_ulog / s.u;
    row[COL_X] += sign * r_dxi;
  };
  if (upstream) fill(s1, g1, w1, upw_1, -1.0, eq.d_upstream[0]);
  fill(s2, g2, w2, upw_2, 1.0, eq.d_downstream[0]);
  eq.neg_residual[0] = -t.residual;
}

// Logarithmic differences across the interval; the similarity station
// replaces them by constants and drops their derivatives (ddlog = 0).
struct LogDifferences {
  double xlog = 1.0, ulog = 1.0, tlog = 0.0, hlog = 0.0, ddlog = 0.0;
};

LogDifferences log_differences(const BlStation& s1, const BlStation& s2, bool similarity) {
  LogDifferences d;
  if (!similarity) {
    d.xlog = std::log(s2.x / std::max(s1.x, 1e-20));
    d.ulog = std::log(s2.u / std::max(s1.u, 1e-20));
    d.tlog = std::log(s2.theta / std::max(s1.theta, 1e-20));
    d.hlog = std::log(s2.hs / std::max(s1.hs, 1e-20));
    d.ddlog = 1.0;
  }
  return d;
}

// Upwinding weight of the downstream station in the shear-lag and shape
// averages, from the Hk of both ends, with its gradients with respect to the
// variables of each station.
struct Upwinding {
  double upw;
  Vec5 upw_1, upw_2;
};

Upwinding upwinding(const BlStation& s1, const BlStation& s2, const StationGradients& g1,
                    const StationGradients& g2, FlowType flow, bool upstream) {
  const double hdcon =
      (flow == FlowType::Wake ? UPWIND_HDCON_WAKE : UPWIND_HDCON_BOUNDARY_LAYER) / (s2.hk * s2.hk);
  const double hl = std::log(std::abs((s2.hk - 1.0) / std::max(s1.hk - 1.0, 1e-6)));
  const double hlsq = std::min(hl * hl, 15.0);
  const double ehh = std::exp(-hlsq * hdcon);
  const double upw_hk1 = -hl * ehh * hdcon / std::max(s1.hk - 1.0, 1e-6);
  const double upw_hk2 =
      hl * ehh * hdcon / std::max(s2.hk - 1.0, 1e-6) - 2.0 * hdcon / s2.hk * 0.5 * ehh * hlsq;
  return {1.0 - 0.5 * ehh, upstream ? scaled(g1.hk, upw_hk1) : Vec5{}, scaled(g2.hk, upw_hk2)};
}

// Amplification row (row 0) of a laminar interval: ampl2 - ampl1 equals the
// interval rate times the interval length. At the similarity station the
// amplification is held at zero instead.
void amplification_row(const BlStation& s1, const BlStation& s2, bool similarity, double ncrit,
                       IntervalEquations& eq) {
  if (similarity) {
    eq.neg_residual[0] = -s2.ampl;
    eq.d_downstream[0][COL_FIRST] = 1.0;
    return;
  }
  const IntervalAmplificationRate ax = interval_amplification_rate(
      s1.hk, s1.theta, s1.r_theta, s1.ampl, s2.hk, s2.theta, s2.r_theta, s2.ampl, ncrit);
  const double dx = s2.x - s1.x;
  const double r0 = s2.ampl - s1.ampl - ax.ax * dx;
  eq.neg_residual[0] = -r0;
  Vec5& up = eq.d_upstream[0];
  up[COL_FIRST] = -1.0 - ax.ax_a1 * dx;
  up[COL_THETA] = -dx * (ax.ax_hk1 * s1.hk_h * s1.h_theta + ax.ax_t1 +
                         ax.ax_rt1 * s1.r_theta / std::max(s1.theta, 1e-12));
  up[COL_DSTAR] = -dx * ax.ax_hk1 * s1.hk_h * s1.h_dstar;
  up[COL_U] = -dx * ax.ax_rt1 * s1.r_theta / std::max(s1.u, 1e-12);
  up[COL_X] = ax.ax;
  Vec5& down = eq.d_downstream[0];
  down[COL_FIRST] = 1.0 - ax.ax_a2 * dx;
  down[COL_THETA] = -dx * (ax.ax_hk2 * s2.hk_h * s2.h_theta + ax.ax_t2 +
                           ax.ax_rt2 * s2.r_theta / std::max(s2.theta, 1e-12));
  down[COL_DSTAR] = -dx * ax.ax_hk2 * s2.hk_h * s2.h_dstar;
  down[COL_U] = -dx * ax.ax_rt2 * s2.r_theta / std::max(s2.u, 1e-12);
  down[COL_X] = -ax.ax;
}

// Mean wake-gap thickness ratio dw/theta of the two ends (zero off the wake).
double mean_wake_gap_ratio(const BlStation& s1, const BlStation& s2) {
  return 0.5 * (s1.dw / std::max(s1.theta, 1e-20) + s2.dw / std::max(s2.theta, 1e-20));
}

// Derivative of the mean wake-gap ratio with respect to the theta of one end.
double wake_gap_ratio_theta(const BlStation& s) {
  return -0.5 * s.dw / std::max(s.theta * s.theta, 1e-30);
}

// Momentum row (row 1), with the skin friction of the interval taken both at
// the mean state and as the mean of the two ends.
void momentum_row(const BlStation& s1, const BlStation& s2, const StationGradients& g1,
                  const StationGradients& g2, FlowType flow, double msq, const LogDifferences& lg,
                  bool upstream, IntervalEquations& eq) {
  const double ha = 0.5 * (s1.h + s2.h);
  const double ma = 0.5 * msq;
  const double xa = 0.5 * (s1.x + s2.x);
  const double ta = 0.5 * (s1.theta + s2.theta);
  const double hkm = 0.5 * (s1.hk + s2.hk);
  const double rtm = 0.5 * (s1.r_theta + s2.r_theta);
  const CfResult cfm = skin_friction(flow, hkm, rtm, ma);

  const double cfx = 0.5 * cfm.cf * xa / ta +
                     0.25 * (s1.cf * s1.x / s1.theta + s2.cf * s2.x / s2.theta);
  const double hwa = mean_wake_gap_ratio(s1, s2);
  const double bmom = ha + 2.0 - ma + hwa;
  const double r1 = lg.tlog + bmom * lg.ulog - 0.5 * lg.xlog * cfx;
  eq.neg_residual[1] = -r1;

  auto fill = [&](const BlStation& s, const StationGradients& g, double sign, Vec5& row) {
    Vec5 cfx_v;
    for (int j = 0; j < 5; ++j) {
      const double cfm_j = 0.5 * (cfm.cf_hk * g.hk[j] + cfm.cf_rt * g.rt[j]);
      cfx_v[j] = 0.5 * xa / ta * cfm_j + 0.25 * s.x / s.theta * g.cf[j];
    }
    cfx_v[COL_X] += 0.5 * cfm.cf / ta * 0.5 + 0.25 * s.cf / s.theta;
    cfx_v[COL_THETA] +=
        -0.5 * cfm.cf * xa / (ta * ta) * 0.5 - 0.25 * s.cf * s.x / (s.theta * s.theta);
    for (int j = 0; j < 5; ++j) row[j] = 0.5 * lg.ulog * g.h[j] - 0.5 * lg.xlog * cfx_v[j];
    row[COL_THETA] +=
        sign * lg.ddlog / std::max(s.theta, 1e-20) + lg.ulog * wake_gap_ratio_theta(s);
    row[COL_U] += sign * lg.ddlog / std::max(s.u, 1e-10) * bmom;
    row[COL_X] += sign * lg.ddlog / std::max(s.x, 1e-20) * (-0.5 * cfx);
  };
  if (upstream) fill(s1, g1, -1.0, eq.d_upstream[1]);
  fill(s2, g2, 1.0, eq.d_downstream[1]);
}

// Kinetic-energy shape-parameter row (row 2), with upwinded friction and
// dissipation sources.
void shape_parameter_row(const BlStation& s1, const BlStation& s2, const StationGradients& g1,
                         const StationGradients& g2, const Upwinding& up,
                         const LogDifferences& lg, bool upstream, IntervalEquations& eq) {
  const double ha = 0.5 * (s1.h + s2.h);
  const double hwa = mean_wake_gap_ratio(s1, s2);
  const double hsa = 0.5 * (s1.hs + s2.hs);
  const double hca = 0.5 * (s1.hc + s2.hc);
  const double w1 = 1.0 - up.upw;
  const double w2 = up.upw;
  const double dix1 = s1.di * s1.x / s1.theta;
  const double dix2 = s2.di * s2.x / s2.theta;
  const double cfx1 = s1.cf * s1.x / s1.theta;
  const double cfx2 = s2.cf * s2.x / s2.theta;
  const double dix = w1 * dix1 + w2 * dix2;
  const double cfxu = w1 * cfx1 + w2 * cfx2;
  const double ashape = 2.0 * hca / hsa + 1.0 - ha - hwa;
  const double qsrc = 0.5 * cfxu - dix;
  const double r2 = lg.hlog + ashape * lg.ulog + lg.xlog * qsrc;
  eq.neg_residual[2] = -r2;
  const double q_upw = 0.5 * (cfx2 - cfx1) - (dix2 - dix1);

  auto fill = [&](const BlStation& s, const StationGradients& g, double w, const Vec5& upw_v,
                  double sign, Vec5& row) {
    for (int j = 0; j < 5; ++j) {
      const double a_j = (2.0 / hsa) * 0.5 * g.hc[j] - 2.0 * hca / (hsa * hsa) * 0.5 * g.hs[j] -
                         0.5 * g.h[j];
      const double q_j = w * (0.5 * s.x / s.theta * g.cf[j] - s.x / s.theta * g.di[j]) +
                         q_upw * upw_v[j];
      row[j] = sign * lg.ddlog / std::max(s.hs, 0.01) * g.hs[j] + lg.ulog * a_j + lg.xlog * q_j;
    }
    row[COL_THETA] += -lg.ulog * wake_gap_ratio_theta(s) +
                      lg.xlog * w * (-0.5 * s.cf * s.x + s.di * s.x) / (s.theta * s.theta);
    row[COL_X] += lg.xlog * w * (0.5 * s.cf - s.di) / s.theta;
    row[COL_U] += sign * lg.ddlog / std::max(s.u, 1e-10) * ashape;
    row[COL_X] += sign * lg.ddlog / std::max(s.x, 1e-20) * qsrc;
  };
  if (upstream) fill(s1, g1, w1, up.upw_1, -1.0, eq.d_upstream[2]);
  fill(s2, g2, w2, up.upw_2, 1.0, eq.d_downstream[2]);
}

// The two parts of a transition interval, each evaluated as a station: the
// laminar end at the transition point, and the turbulent start there with
// its initial shear stress S = CTR*CQ and the sensitivities of S to the
// transition-point theta, dstar and u.
struct TransitionPoint {
  BlStation laminar;
  BlStation turbulent;
  double s_theta, s_dstar, s_u;
};

TransitionPoint transition_point(const BlStation& s1, const BlStation& s2,
                                 const TransitionResult& tr, double ampl_t, double msq,
                                 double re) {
  TransitionPoint p;
  BlStation& lam = p.laminar;
  lam.x = tr.xt;
  lam.u = tr.wf1 * s1.u + tr.wf2 * s2.u;
  lam.theta = tr.wf1 * s1.theta + tr.wf2 * s2.theta;
  lam.dstar = tr.wf1 * s1.dstar + tr.wf2 * s2.dstar;
  lam.ampl = ampl_t;
  lam.ctau = 0.0;
  compute_secondary_variables(lam, FlowType::Laminar, msq, re);

  // Initial shear stress from the equilibrium value.
  BlStation& turb = p.turbulent;
  turb = lam;
  turb.ampl = 0.0;
  turb.ctau = 0.0;
  compute_secondary_variables(turb, FlowType::Turbulent, msq, re);
  const double tt = lam.theta;
  const double hkm1 = std::max(turb.hk - 1.0, 0.1);
  const double ctr = TRANSITION_CTR_COEFF * std::exp(-TRANSITION_CTR_EXP / hkm1);
  const double ctr_hk = ctr * TRANSITION_CTR_EXP / (hkm1 * hkm1);
  const double st = ctr * turb.cq;
  p.s_u = ctr * turb.cq_u;
  p.s_dstar = turb.cq * ctr_hk * turb.hk_h / std::max(tt, 1e-20) + ctr * turb.cq_dstar;
  p.s_theta =
      ctr * turb.cq_theta - turb.cq * ctr_hk * turb.hk_h * turb.h / std::max(tt, 1e-20);
  turb.ctau = std::max(st, 1e-4);
  compute_secondary_variables(turb, FlowType::Turbulent, msq, re);
  return p;
}

// Sensitivities of the transition-point variables (rows: S, theta, dstar, u,
// x, as the columns of the turbulent part's upstream block) to the variables
// of one interval end (columns first, theta, dstar, u, x).
using PointSensitivities = std::array<Vec5, 5>;

void set_first_from_state(PointSensitivities& dv, const TransitionPoint& p) {
  for (int j = 0; j < 5; ++j) {
    dv[COL_FIRST][j] =
        p.s_theta * dv[COL_THETA][j] + p.s_dstar * dv[COL_DSTAR][j] + p.s_u * dv[COL_U][j];
  }
}

PointSensitivities upstream_sensitivities(const TransitionResult& tr, const TransitionPoint& p) {
  PointSensitivities dv{};
  dv[COL_X] = {tr.xt_a1, tr.xt_t1, tr.xt_d1, tr.xt_u1, tr.xt_x1};
  dv[COL_THETA] = {tr.tt_a1, tr.tt_t1, tr.tt_d1, tr.tt_u1, tr.tt_x1};
  dv[COL_DSTAR] = {tr.dt_a1, tr.dt_t1, tr.dt_d1, tr.dt_u1, tr.dt_x1};
  dv[COL_U] = {tr.ut_a1, tr.ut_t1, tr.ut_d1, tr.ut_u1, tr.ut_x1};
  set_first_from_state(dv, p);
  return dv;
}

PointSensitivities downstream_sensitivities(const TransitionResult& tr,
                                            const TransitionPoint& p) {
  PointSensitivities dv{};
  dv[COL_X] = {0.0, tr.xt_t2, tr.xt_d2, tr.xt_u2, tr.xt_x2};
  dv[COL_THETA] = {0.0, tr.tt_t2, tr.tt_d2, tr.tt_u2, tr.tt_x2};
  dv[COL_DSTAR] = {0.0, tr.dt_t2, tr.dt_d2, tr.dt_u2, tr.dt_x2};
  dv[COL_U] = {0.0, tr.ut_t2, tr.ut_d2, tr.ut_u2, tr.ut_x2};
  set_first_from_state(dv, p);
  return dv;
}

// Derivative of the residuals with respect to the forced transition
// location: the transition-point state moves along the linear interpolation
// of the interval.
std::array<double, 3> forced_location_derivative(const BlStation& s1, const BlStation& s2,
                                                 const TransitionPoint& p,
                                                 const IntervalEquations& bl,
                                                 const IntervalEquations& bt) {
  const double dx = s2.x - s1.x;
  Vec5 rate{};
  rate[COL_THETA] = (s2.theta - s1.theta) / dx;
  rate[COL_DSTAR] = (s2.dstar - s1.dstar) / dx;
  rate[COL_U] = (s2.u - s1.u) / dx;
  rate[COL_X] = 1.0;
  rate[COL_FIRST] =
      p.s_theta * rate[COL_THETA] + p.s_dstar * rate[COL_DSTAR] + p.s_u * rate[COL_U];
  std::array<double, 3> out{};
  for (int k = 0; k < 3; ++k) {
    double d = 0.0;
    for (int v = 0; v < 5; ++v) {
      d += bt.d_upstream[k][v] * rate[v];
      if (k > 0 && v != COL_FIRST) d += bl.d_downstream[k][v] * rate[v];
    }
    out[k] = d;
  }
  return out;
}

// The interval equations. Without `upstream` the Jacobian of the shear-lag,
// momentum and shape rows with respect to the upstream variables is skipped,
// and with it the upstream station's gradients, which enter nothing else.
IntervalEquationsWithTerms evaluate_interval(const BlStation& s1, const BlStation& s2,
                                             FlowType flow, bool similarity, double msq,
                                             double ncrit, bool upstream) {
  IntervalEquationsWithTerms out;
  const StationGradients g1 = upstream ? station_gradients(s1) : StationGradients{};
  const StationGradients g2 = station_gradients(s2);
  const LogDifferences lg = log_differences(s1, s2, similarity);
  const Upwinding up = upwinding(s1, s2, g1, g2, flow, upstream);

  if (flow == FlowType::Laminar) {
    amplification_row(s1, s2, similarity, ncrit, out.eq);
  } else {
    shear_lag_row(s1, s2, g1, g2, flow, up.upw, up.upw_1, up.upw_2, lg.ulog, upstream, out.eq,
                  out.terms);
  }
  momentum_row(s1, s2, g1, g2, flow, msq, lg, upstream, out.eq);
  shape_parameter_row(s1, s2, g1, g2, up, lg, upstream, out.eq);
  return out;
}

}  // namespace

IntervalEquationsWithTerms interval_equations(const BlStation& s1, const BlStation& s2,
                                              FlowType flow, bool similarity, double msq,
                                              double ncrit) {
  return evaluate_interval(s1, s2, flow, similarity, msq, ncrit, true);
}

IntervalEquations downstream_interval_equations(const BlStation& s1, const BlStation& s2,
                                                FlowType flow, double msq, double ncrit) {
  IntervalEquations eq = evaluate_interval(s1, s2, flow, false, msq, ncrit, false).eq;
  eq.d_upstream = {};
  return eq;
}

IntervalEquations similarity_station_equations(const BlStation& station, FlowType flow,
                                               double msq) {
  IntervalEquations eq =
      interval_equations(station, station, flow, true, msq, NCRIT_WITHOUT_EFFECT).eq;
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 5; ++j) {
      eq.d_downstream[k][j] += eq.d_upstream[k][j];
      eq.d_upstream[k][j] = 0.0;
    }
  }
  return eq;
}

IntervalEquations transition_interval_equations(const BlStation& s1, const BlStation& s2,
                                                const TransitionResult& tr, double ampl_t,
                                                double msq, double re) {
  const double dx = s2.x - s1.x;
  if (!(dx > 1e-20) || !tr.transition) {
    return interval_equations(s1, s2, FlowType::Turbulent, false, msq, NCRIT_WITHOUT_EFFECT).eq;
  }

  const TransitionPoint p = transition_point(s1, s2, tr, ampl_t, msq, re);
  const IntervalEquations bl =
      interval_equations(s1, p.laminar, FlowType::Laminar, false, msq, NCRIT_WITHOUT_EFFECT).eq;
  const IntervalEquations bt =
      interval_equations(p.turbulent, s2, FlowType::Turbulent, false, msq, NCRIT_WITHOUT_EFFECT)
          .eq;
  const PointSensitivities dv1 = upstream_sensitivities(tr, p);
  const PointSensitivities dv2 = downstream_sensitivities(tr, p);

  // The laminar part contributes to the momentum and shape rows through its
  // downstream end; its amplification row is discarded, so the shear-lag row
  // is the turbulent part's alone.
  IntervalEquations eq;
  eq.neg_residual[0] = bt.neg_residual[0];
  eq.neg_residual[1] = bl.neg_residual[1] + bt.neg_residual[1];
  eq.neg_residual[2] = bl.neg_residual[2] + bt.neg_residual[2];
  for (int k = 0; k < 3; ++k) {
    const bool with_laminar = k > 0;
    for (int j = 0; j < 5; ++j) {
      double up = with_laminar ? bl.d_upstream[k][j] : 0.0;
      double down = bt.d_downstream[k][j];
      for (int v = 0; v < 5; ++v) {
        up += bt.d_upstream[k][v] * dv1[v][j];
        down += bt.d_upstream[k][v] * dv2[v][j];
        if (with_laminar && v != COL_FIRST) {
          up += bl.d_downstream[k][v] * dv1[v][j];
          down += bl.d_downstream[k][v] * dv2[v][j];
        }
      }
      eq.d_upstream[k][j] = up;
      eq.d_downstream[k][j] = down;
    }
  }
  if (tr.forced) eq.d_forced_transition = forced_location_derivative(s1, s2, p, bl, bt);
  return eq;
}

}  // namespace velaro
