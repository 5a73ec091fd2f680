// Assembly of the global Newton system: one three-equation line per
// boundary-layer station beyond the stagnation point of each side, with the
// edge velocity tied to all mass defects through the influence matrix DIJ.
//
// Unknowns of a line: the first variable (amplification or sqrt(Ctau)), theta
// and the mass defect m = u (dstar + dw). The station's edge velocity and
// displacement thickness follow from the masses:
//   u_i = uinv_i + sum_j c_ij m_j,  c_ij = -vti_i vti_j DIJ(panel_i, panel_j),
//   dstar_i + dw_i = m_i / u_i,
// and the arc length of every station moves with the stagnation point, which
// in turn moves with the edge velocities of the first station of each side.
#include <algorithm>
#include <cmath>

#include "boundary_layer/interval_equations.h"
#include "boundary_layer/transition.h"
#include "viscous/march.h"
#include "viscous/newton_system.h"
#include "viscous/newton_trace.h"
#include "viscous/state.h"
#include "viscous/state_conversions.h"

namespace velaro {

namespace {

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

FlowType flow_of(const BlStation& s) {
  if (s.is_wake) return FlowType::Wake;
  if (s.is_laminar) return FlowType::Laminar;
  return FlowType::Turbulent;
}

double vti_of(int side) { return side == 0 ? 1.0 : -1.0; }

// -m/u^2: change of dstar (+gap) per unit change of u at fixed mass.
double dstar_per_u(const BlStation& s) { return -s.mass / (s.u * s.u); }

// The equations of one line as built from the interval (or junction)
// equations, before the mass coupling is formed.
struct LineCoefficients {
  Vec3 vsrez{};
  Block3 va{}, vb{};
  Vec3 vs1_dstar{}, vs1_u{}, vs1_x{}, vs2_dstar{}, vs2_u{}, vs2_x{};
};

LineCoefficients from_interval(const IntervalEquations& eq) {
  LineCoefficients c;
  for (int k = 0; k < 3; ++k) {
    c.vsrez[k] = finite_or_zero(eq.neg_residual[k]);
    c.va[k] = {finite_or_zero(eq.d_downstream[k][COL_FIRST]), finite_or_zero(eq.d_downstream[k][COL_THETA]), 0.0};
    c.vb[k] = {finite_or_zero(eq.d_upstream[k][COL_FIRST]), finite_or_zero(eq.d_upstream[k][COL_THETA]), 0.0};
    c.vs1_dstar[k] = finite_or_zero(eq.d_upstream[k][COL_DSTAR]);
    c.vs1_u[k] = finite_or_zero(eq.d_upstream[k][COL_U]);
    c.vs1_x[k] = finite_or_zero(eq.d_upstream[k][COL_X]);
    c.vs2_dstar[k] = finite_or_zero(eq.d_downstream[k][COL_DSTAR]);
    c.vs2_u[k] = finite_or_zero(eq.d_downstream[k][COL_U]);
    // The forced-transition column moves with the downstream arc length.
    c.vs2_x[k] = finite_or_zero(eq.d_downstream[k][COL_X] + eq.d_forced_transition[k]);
  }
  return c;
}

// Junction conditions of the first wake station w fed by both TE stations:
// S_w = CTE, theta_w = TTE, dstar_w + dw_w = DTE.
LineCoefficients from_junction(const TeWakeTerms& te, const BlStation& w) {
  LineCoefficients c;
  c.vsrez = {finite_or_zero(te.cte - w.ctau), finite_or_zero(te.tte - w.theta),
             finite_or_zero(te.dte - (w.dstar + w.dw))};
  c.va[0][0] = 1.0;
  c.va[1][1] = 1.0;
  c.vb[0][0] = finite_or_zero(-te.cte_s_lo);
  c.vb[0][1] = finite_or_zero(-te.cte_th_lo);
  c.vb[1][1] = -1.0;
  c.vs1_dstar = {0.0, 0.0, -1.0};
  c.vs2_dstar = {0.0, 0.0, 1.0};
  return c;
}

// Equations of the interval ending at station i of one side.
// Switches of the per-interval trace lines.
struct IntervalTraces {
  bool bldif = newton_trace::enabled("VELARO_BLDIF_DEBUG");
  bool branch = newton_trace::enabled("VELARO_TRANSITION_BRANCH_DEBUG");
  bool block = newton_trace::enabled("VELARO_TRANSITION_BLOCK_DEBUG");
};

std::string jacobian_text(const std::array<double, 5>& r) {
  using newton_trace::num;
  return text::printf("[%s, %s, %s, %s, %s]", num(r[0]).c_str(), num(r[1]).c_str(), num(r[2]).c_str(),
                      num(r[3]).c_str(), num(r[4]).c_str());
}

void trace_interval(const IntervalTraces& t, const BlStation& s1, const BlStation& s2, FlowType flow,
                    const IntervalEquations& eq, const TransitionResult* tr) {
  using newton_trace::num;
  if (t.bldif) {
    newton_trace::line(text::printf("[BLDIF DEBUG] flow=%s x1=%s x2=%s ampl1=%s ampl2=%s ctau1=%s ctau2=%s theta1=%s "
                                    "theta2=%s dstar1=%s dstar2=%s u1=%s u2=%s res=%s",
                                    flow_type_name(flow), num(s1.x).c_str(), num(s2.x).c_str(), num(s1.ampl).c_str(),
                                    num(s2.ampl).c_str(), num(s1.ctau).c_str(), num(s2.ctau).c_str(),
                                    num(s1.theta).c_str(), num(s2.theta).c_str(), num(s1.dstar).c_str(),
                                    num(s2.dstar).c_str(), num(s1.u).c_str(), num(s2.u).c_str(),
                                    newton_trace::vec(eq.neg_residual).c_str()));
    for (int k = 0; k < 3; ++k)
      newton_trace::line(text::printf("[BLDIF DEBUG FULL] row=%d VS1=%s VS2=%s", k, jacobian_text(eq.d_upstream[k]).c_str(),
                                      jacobian_text(eq.d_downstream[k]).c_str()));
  }
  if (tr == nullptr) return;
  if (t.branch) {
    newton_trace::line(text::printf("[TRANSITION BRANCH] flow=%s has_transition=%s transition_flag=%s "
                                    "live_transition=%s xt=%s ampl2=%s",
                                    flow_type_name(flow), tr->transition ? "true" : "false",
                                    tr->forced ? "forced" : "free",
                                    tr->transition && s2.x - s1.x > 1e-20 ? "true" : "false", num(tr->xt).c_str(),
                                    num(tr->ampl2).c_str()));
    newton_trace::line(text::printf("[TRANSITION DERIVS] xt_x1=%s xt_x2=%s tt_x2=%s dt_x2=%s ut_x2=%s",
                                    num(tr->xt_x1).c_str(), num(tr->xt_x2).c_str(), num(tr->tt_x2).c_str(),
                                    num(tr->dt_x2).c_str(), num(tr->ut_x2).c_str()));
  }
  if (t.block) {
    newton_trace::line(text::printf("[NATIVE TRANSITION REGION BLOCK] res=%s", newton_trace::vec(eq.neg_residual).c_str()));
    for (int k = 0; k < 3; ++k)
      newton_trace::line(text::printf("[NATIVE TRANSITION REGION BLOCK] row=%d VS1=%s VS2=%s", k,
                                      jacobian_text(eq.d_upstream[k]).c_str(), jacobian_text(eq.d_downstream[k]).c_str()));
  }
}

IntervalEquations interval_equations(std::span<const BlStation> st, std::size_t i, std::size_t iblte, double msq,
                                     double re, double ncrit, const IntervalTraces& traces) {
  const BlStation& s2 = st[i];
  const FlowType flow2 = flow_of(s2);
  const bool any = traces.bldif || traces.branch || traces.block;
  if (i == 1) {
    const IntervalEquations eq = similarity_station_equations(s2, flow2, msq);
    if (any) trace_interval(traces, s2, s2, flow2, eq, nullptr);
    return eq;
  }
  const BlStation& s1 = st[i - 1];
  if (s1.is_laminar && flow2 == FlowType::Turbulent) {
    // Transition interval; transition is forced at the TE at the latest.
    const bool te_exists = iblte < st.size();
    const double x_forced = te_exists ? st[iblte].x : 0.0;
    const TransitionResult tr =
        check_interval_for_transition(te_exists, s1.x, s2.x, s1.theta, s2.theta, s1.dstar, s2.dstar, s1.u, s2.u, s1.hk, s2.hk,
                     s1.r_theta, s2.r_theta, s1.ampl, ncrit, x_forced, msq, re);
    const IntervalEquations eq = transition_interval_equations(s1, s2, tr, ncrit, msq, re);
    if (any) trace_interval(traces, s1, s2, flow2, eq, &tr);
    return eq;
  }
  const IntervalEquations eq = interval_equations(s1, s2, flow2, false, msq, ncrit).eq;
  if (any) trace_interval(traces, s1, s2, flow2, eq, nullptr);
  return eq;
}

// Diagnostic switches of the assembly, looked up once per assembly.
struct AssemblyTraces {
  bool newton = newton_trace::enabled("VELARO_NEWTON_DEBUG");
  bool newton_cmp = newton_trace::enabled("VELARO_NEWTON_CMP");
  bool raw_res = newton_trace::enabled("VELARO_RAW_RES_DEBUG");
  bool trans = newton_trace::enabled("VELARO_TRANS_DEBUG");
  bool due = newton_trace::enabled("VELARO_DUE_DEBUG");
  bool forced = newton_trace::enabled("VELARO_FORCED_DEBUG");
  bool fc = newton_trace::enabled("VELARO_FC_DEBUG");
  bool tesys = newton_trace::enabled("VELARO_TESYS_DEBUG");
  bool setbl_vdel = newton_trace::enabled("VELARO_SETBL_VDEL_DEBUG");
  bool vm_focus = newton_trace::enabled("VELARO_VM_FOCUS_DEBUG");
};

const char* side_name(int side) { return side == 0 ? "upper" : "lower"; }

std::string block_rows(const Block3& b) {
  return text::printf("%s %s %s", newton_trace::vec(b[0]).c_str(), newton_trace::vec(b[1]).c_str(),
                      newton_trace::vec(b[2]).c_str());
}

// One row of a 3x5 interval Jacobian rebuilt from the stored columns.
std::string jacobian_row(double first, double theta, double dstar, double u, double x) {
  using newton_trace::num;
  return text::printf("  [%s, %s, %s, %s, %s]", num(first).c_str(), num(theta).c_str(), num(dstar).c_str(),
                      num(u).c_str(), num(x).c_str());
}

// Diagnostics of the mass-implied edge velocities of one side: the upper
// and lower source contributions per station (VELARO_DUI_DEBUG, with a
// running breakdown of the first upper station) and the contributions to the
// first station (VELARO_UESET_FIRST_DEBUG).
void trace_mass_implied_speeds(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij, int side,
                               std::span<const double> ue) {
  const bool dui = newton_trace::enabled("VELARO_DUI_DEBUG");
  const bool first = newton_trace::enabled("VELARO_UESET_FIRST_DEBUG");
  if (!dui && !first) return;
  using newton_trace::num;
  const SurfaceInput& target = side == 0 ? upper : lower;
  const double vti_i = vti_of(side);
  for (std::size_t i = 1; i < target.stations.size(); ++i) {
    const std::size_t pi = target.stations[i].panel;
    double part[2] = {0.0, 0.0};
    for (int s = 0; s < 2; ++s) {
      const SurfaceInput& src = s == 0 ? upper : lower;
      const bool breakdown = dui && side == 0 && i == 1 && s == 0;
      if (breakdown) newton_trace::line("[DUI TRACE] Breaking down upper[1] DIJ sum:");
      for (std::size_t j = 1; j < src.stations.size(); ++j) {
        const std::size_t pj = src.stations[j].panel;
        if (!dij.contains(pi, pj)) continue;
        const double c = -vti_i * vti_of(s) * dij.at(pi, pj) * src.stations[j].mass;
        part[s] += c;
        if (breakdown && j % 20 == 0)
          newton_trace::line(text::printf("  ... cumulative after j=%zu: %s", j, num(part[0]).c_str()));
        if (first && i == 1)
          newton_trace::line(text::printf("[UESET FIRST] %s j=%zu panel_j=%zu dij=%s mass=%s contrib=%s",
                                          s == 0 ? "upper" : "lower", j, pj, num(dij.at(pi, pj)).c_str(),
                                          num(src.stations[j].mass).c_str(), num(c).c_str()));
      }
      if (breakdown) {
        newton_trace::line(text::printf("  TOTAL dui_upper: %s", num(part[0]).c_str()));
      }
    }
    if (dui && side == 0 && i == 1) newton_trace::line(text::printf("  TOTAL dui_lower: %s", num(part[1]).c_str()));
    const double uinv = i < target.uinv.size() ? target.uinv[i] : 0.0;
    if (dui)
      newton_trace::line(text::printf("[DUI DEBUG] %s[%zu] ue_inv=%s dui_upper=%s dui_lower=%s dui_total=%s dij_diag=%s",
                                      side == 0 ? "upper" : "lower", i, num(uinv).c_str(), num(part[0]).c_str(),
                                      num(part[1]).c_str(), num(part[0] + part[1]).c_str(),
                                      num(dij.at(pi, pi)).c_str()));
    if (first && i == 1)
      newton_trace::line(text::printf("[UESET FIRST] panel_i=%zu side=%s ue_inv=%s dui_upper=%s dui_lower=%s ue_after=%s "
                                      "mass=%s",
                                      pi, side == 0 ? "upper" : "lower", num(uinv).c_str(), num(part[0]).c_str(),
                                      num(part[1]).c_str(), num(ue[i]).c_str(),
                                      num(target.stations[i].mass).c_str()));
  }
}

}  // namespace

double coupled_uedg(std::size_t panel_i, std::size_t n_airfoil, std::span<const MassSource> sources, DijView dij,
                    double uinv_i, double vti_i) {
  (void)n_airfoil;  // the bounds of DIJ decide which terms exist
  double sum = 0.0;
  if (panel_i < dij.rows)
    for (const MassSource& src : sources)
      if (src.panel < dij.cols) sum += src.vti * dij.at(panel_i, src.panel) * src.mass;
  return uinv_i - vti_i * sum;
}

std::vector<double> compute_ue_from_mass_both(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                              int side) {
  const SurfaceInput& target = side == 0 ? upper : lower;
  const double vti_i = vti_of(side);
  std::vector<MassSource> sources;
  sources.reserve(upper.stations.size() + lower.stations.size());
  for (int s = 0; s < 2; ++s) {
    const SurfaceInput& src = s == 0 ? upper : lower;
    for (std::size_t j = 1; j < src.stations.size(); ++j)
      sources.push_back({vti_of(s), src.stations[j].panel, src.stations[j].mass});
  }
  std::vector<double> ue(target.stations.size(), 0.0);
  for (std::size_t i = 0; i < ue.size(); ++i) {
    const double uinv = i < target.uinv.size() ? target.uinv[i] : 0.0;
    ue[i] = coupled_uedg(target.stations[i].panel, 0, sources, dij, uinv, vti_i);
  }
  trace_mass_implied_speeds(upper, lower, dij, side, ue);
  return ue;
}

bool te_wake_terms(const GlobalNewtonSystem& sys, const SurfaceInput& upper, const SurfaceInput& lower,
                   TeWakeTerms& out) {
  const std::size_t iu = sys.a.ivte1;
  const std::size_t il = sys.iblte_lower;
  if (iu == 0 || iu >= upper.stations.size() || il == 0 || il + 1 >= lower.stations.size()) return false;
  const BlStation& up = upper.stations[iu];
  const BlStation& lo = lower.stations[il];
  TeWakeTerms t;
  t.tte = std::max(up.theta + lo.theta, 1e-12);
  t.dte = up.dstar + lo.dstar + sys.ante;
  t.cte = (lo.theta * lo.ctau + up.theta * up.ctau) / t.tte;
  const double uu = std::max(up.u, 1e-12);
  const double ul = std::max(lo.u, 1e-12);
  t.dte_m_up = 1.0 / uu;
  t.dte_u_up = -up.dstar / uu;
  t.dte_m_lo = 1.0 / ul;
  t.dte_u_lo = -lo.dstar / ul;
  t.cte_s_up = up.theta / t.tte;
  t.cte_s_lo = lo.theta / t.tte;
  t.cte_th_up = (up.ctau - t.cte) / t.tte;
  t.cte_th_lo = (lo.ctau - t.cte) / t.tte;
  out = t;
  return true;
}

GlobalNewtonSystem build_global_system(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                       double ante, double xi_ule1, double xi_ule2, double msq, double re,
                                       double ncrit) {
  const std::array<const SurfaceInput*, 2> sides{&upper, &lower};
  const std::size_t nu = upper.stations.size();
  const std::size_t nl = lower.stations.size();
  const std::size_t lines_u = nu > 0 ? nu - 1 : 0;
  const std::size_t lines_l = nl > 0 ? nl - 1 : 0;

  GlobalNewtonSystem sys;
  AssemblyState& a = sys.a;
  a.resize(lines_u + lines_l);
  const std::size_t nsys = a.nsys;
  a.lower_offset = lines_u;
  a.span = 1.0;
  a.ivte1 = (upper.iblte >= 1 && upper.iblte < nu) ? upper.iblte : 0;
  a.ivz = lines_u + lower.iblte + 1;
  if (a.ivz > nsys || lower.iblte + 1 >= nl) a.ivz = nsys + 1;
  sys.upper_count = nu;
  sys.iblte_lower = lower.iblte;
  sys.ante = ante;
  sys.xi_ule1 = finite_or_zero(xi_ule1);
  sys.xi_ule2 = finite_or_zero(xi_ule2);
  sys.msq = msq;
  sys.re = re;
  sys.ncrit = ncrit;
  if (nsys == 0) return sys;

  auto line_of = [&](int side, std::size_t i) { return side == 0 ? i : lines_u + i; };
  auto station_of = [&](std::size_t line) -> const BlStation& {
    return line <= lines_u ? upper.stations[line] : lower.stations[line - lines_u];
  };

  const AssemblyTraces trace;
  const IntervalTraces interval_trace;
  using newton_trace::num;
  using newton_trace::vec;

  // Edge-velocity offsets from the mass-implied values.
  std::array<std::vector<double>, 2> due;
  for (int s = 0; s < 2; ++s) {
    const std::vector<double> ue_mass = compute_ue_from_mass_both(upper, lower, dij, s);
    due[s].resize(ue_mass.size());
    for (std::size_t i = 0; i < ue_mass.size(); ++i) due[s][i] = sides[s]->stations[i].u - ue_mass[i];
    if (trace.due) {
      newton_trace::line(s == 0 ? "[DUE DEBUG] Upper surface DUE at first stations:"
                                : "[DUE DEBUG] Lower surface DUE at first stations:");
      for (std::size_t i = 1; i < ue_mass.size() && i <= 5; ++i)
        newton_trace::line(text::printf("  %s[%zu] ue_curr=%s ue_mass=%s DUE=%s", s == 0 ? "Upper" : "Lower", i,
                                        num(sides[s]->stations[i].u).c_str(), num(ue_mass[i]).c_str(),
                                        num(due[s][i]).c_str()));
    }
  }

  // Edge-velocity sensitivity of the station of every line to every mass
  // unknown, cpl[line * w + L]; line 0 (the stagnation point) stays zero.
  const std::size_t w = nsys + 1;
  std::vector<double> cpl(w * w, 0.0);
  for (std::size_t line = 1; line <= nsys; ++line) {
    const std::size_t pi = station_of(line).panel;
    if (pi >= dij.rows) continue;
    const double vi = line <= lines_u ? 1.0 : -1.0;
    for (std::size_t L = 1; L <= nsys; ++L) {
      const std::size_t pj = station_of(L).panel;
      if (pj >= dij.cols) continue;
      const double vj = L <= lines_u ? 1.0 : -1.0;
      cpl[line * w + L] = -vi * vj * dij.at(pi, pj);
    }
  }
  // The first station of each side carries the stagnation point's movement.
  const std::size_t ule1_line = nu >= 2 ? 1 : 0;
  const std::size_t ule2_line = nl >= 2 ? lines_u + 1 : 0;
  const double* ule1 = cpl.data() + ule1_line * w;
  const double* ule2 = cpl.data() + ule2_line * w;
  const double dule1 = nu >= 2 ? due[0][1] : 0.0;
  const double dule2 = nl >= 2 ? due[1][1] : 0.0;
  const double ua1 = upper.uinv_a.size() >= 2 && nu >= 2 ? upper.uinv_a[1] : 0.0;
  const double ua2 = lower.uinv_a.size() >= 2 && nl >= 2 ? lower.uinv_a[1] : 0.0;

  TeWakeTerms te;
  const bool has_junction = te_wake_terms(sys, upper, lower, te) && a.ivz <= nsys;
  const std::size_t lower_te_line = lines_u + lower.iblte;
  if (trace.tesys && has_junction) {
    const BlStation& ut = upper.stations[a.ivte1];
    const BlStation& lt = lower.stations[lower.iblte];
    newton_trace::line(text::printf(
        "[TESYS DEBUG] iv=%zu wake_ibl=%zu upper_te: theta=%s dstar=%s ctau=%s ue=%s lower_te: theta=%s dstar=%s "
        "ctau=%s ue=%s tte=%s dte=%s cte=%s",
        a.ivz, lower.iblte + 2, num(ut.theta).c_str(), num(ut.dstar).c_str(), num(ut.ctau).c_str(),
        num(ut.u).c_str(), num(lt.theta).c_str(), num(lt.dstar).c_str(), num(lt.ctau).c_str(), num(lt.u).c_str(),
        num(te.tte).c_str(), num(te.dte).c_str(), num(te.cte).c_str()));
  }
  std::vector<Vec3> raw_vdel;  // right-hand sides before the forced changes (diagnostics)
  if (trace.newton) raw_vdel.assign(nsys + 1, Vec3{});

  for (int side = 0; side < 2; ++side) {
    const SurfaceInput& in = *sides[side];
    const std::span<const BlStation> st = in.stations;
    const double sigma = side == 0 ? 1.0 : -1.0;
    for (std::size_t i = 1; i < st.size(); ++i) {
      const std::size_t iv = line_of(side, i);
      const bool junction = side == 1 && has_junction && iv == a.ivz;
      const LineCoefficients c = junction ? from_junction(te, st[i])
                                          : from_interval(interval_equations(st, i, in.iblte, msq, re, ncrit, interval_trace));
      a.va[iv] = c.va;
      a.vb[iv] = c.vb;
      a.vs1_dstar[iv] = c.vs1_dstar;
      a.vs1_u[iv] = c.vs1_u;
      a.vs1_x[iv] = c.vs1_x;
      a.vs2_dstar[iv] = c.vs2_dstar;
      a.vs2_u[iv] = c.vs2_u;
      a.vs2_x[iv] = c.vs2_x;

      const BlStation& s2 = st[i];
      const BlStation& s1 = st[i - 1];
      if (trace.newton || trace.newton_cmp || trace.raw_res || trace.trans) {
        if (trace.raw_res)
          newton_trace::line(text::printf("[RAW RES] side=%s station=%zu IV=%zu res=%s", side_name(side), i, iv,
                                          vec(c.vsrez).c_str()));
        if (trace.trans) {
          const bool transition = i > 1 && !junction && s1.is_laminar && !s2.is_laminar && !s2.is_wake;
          newton_trace::line(text::printf("[VSREZ DEBUG] side=%s station=%zu res=%s ctau=%s cq=%s%s", side_name(side),
                                          i, vec(c.vsrez).c_str(), num(s2.ctau).c_str(), num(s2.cq).c_str(),
                                          transition ? " <-- TRANSITION" : ""));
        }
        if (trace.newton) {
          raw_vdel[iv] = c.vsrez;
          newton_trace::line(text::printf("[NEWTON DEBUG] %s IBL=%zu IV=%zu", side_name(side), i + 1, iv));
          newton_trace::labelled("  VA (stored in system): ", block_rows(c.va));
          newton_trace::labelled("  VB (stored in system): ", block_rows(c.vb));
          newton_trace::labelled("  VSREZ (raw residuals): ", vec(c.vsrez));
        }
        if (trace.newton_cmp && side == 0 && i == 2) {
          newton_trace::line("=== Velaro Newton System at i=2 (KELVO IBL=3) ===");
          newton_trace::line("VS1 (upstream Jacobian, 3x5):");
          for (int k = 0; k < 3; ++k)
            newton_trace::line(jacobian_row(c.vb[k][0], c.vb[k][1], c.vs1_dstar[k], c.vs1_u[k], c.vs1_x[k]));
          newton_trace::line("VS2 (downstream Jacobian, 3x5):");
          for (int k = 0; k < 3; ++k)
            newton_trace::line(jacobian_row(c.va[k][0], c.va[k][1], c.vs2_dstar[k], c.vs2_u[k], c.vs2_x[k]));
          newton_trace::line("VDEL (raw residuals):");
          newton_trace::labelled("  ", vec(c.vsrez));
        }
      }
      const bool first = i == 1;
      const double d2u = dstar_per_u(s2);
      const double d1u = first ? 0.0 : dstar_per_u(s1);
      Vec3 xsum;
      for (int k = 0; k < 3; ++k) xsum[k] = sigma * (c.vs1_x[k] + c.vs2_x[k]);

      // Mass coupling.
      const double* u2m = cpl.data() + iv * w;
      const double* u1m = cpl.data() + (first ? 0 : iv - 1) * w;
      const double* ute1 = cpl.data() + (junction ? a.ivte1 : 0) * w;
      const double* ute2 = cpl.data() + (junction ? lower_te_line : 0) * w;
      for (std::size_t L = 1; L <= nsys; ++L) {
        const double U2 = u2m[L];
        const double D2 = d2u * U2 + (L == iv ? 1.0 / s2.u : 0.0);
        double U1 = 0.0, D1 = 0.0;
        if (junction) {
          D1 = te.dte_u_up * ute1[L] + te.dte_u_lo * ute2[L];
          if (L == a.ivte1) D1 += te.dte_m_up;
          if (L == lower_te_line) D1 += te.dte_m_lo;
        } else if (!first) {
          U1 = u1m[L];
          D1 = d1u * U1 + (L == iv - 1 ? 1.0 / s1.u : 0.0);
        }
        const double xs = sys.xi_ule1 * ule1[L] - sys.xi_ule2 * ule2[L];
        for (int k = 0; k < 3; ++k)
          a.vm_at(iv, L, k) = finite_or_zero(c.vs1_dstar[k] * D1 + c.vs1_u[k] * U1 + c.vs2_dstar[k] * D2 +
                                             c.vs2_u[k] * U2 + xsum[k] * xs);
      }

      // Sensitivity to the extra global unknown (inviscid edge velocities
      // change with it).
      {
        const double u2a = i < in.uinv_a.size() ? in.uinv_a[i] : 0.0;
        const double d2 = std::fabs(s2.u) <= 1e-20 ? 0.0 : d2u;
        double u1a = 0.0, dds1_a = 0.0;
        if (junction) {
          const double uate = a.ivte1 < upper.uinv_a.size() ? upper.uinv_a[a.ivte1] : 0.0;
          const double lote = lower.iblte < lower.uinv_a.size() ? lower.uinv_a[lower.iblte] : 0.0;
          dds1_a = te.dte_u_up * uate + te.dte_u_lo * lote;
        } else if (!first) {
          u1a = i - 1 < in.uinv_a.size() ? in.uinv_a[i - 1] : 0.0;
          dds1_a = (std::fabs(s1.u) <= 1e-20 ? 0.0 : d1u) * u1a;
        }
        const double xs = sys.xi_ule1 * ua1 - sys.xi_ule2 * ua2;
        for (int k = 0; k < 3; ++k)
          a.vdel2[iv][k] = finite_or_zero(c.vs1_u[k] * u1a + c.vs1_dstar[k] * dds1_a + c.vs2_u[k] * u2a +
                                          c.vs2_dstar[k] * d2 * u2a + xsum[k] * xs);
      }

      // Forced changes: the residual is taken at the mass-implied edge
      // velocities, linearised from the current ones.
      {
        const double due2 = due[side][i];
        const double dds2 = d2u * due2;
        double due1 = 0.0, dds1 = 0.0;
        if (junction) {
          const double due_up = a.ivte1 < due[0].size() ? due[0][a.ivte1] : 0.0;
          const double due_lo = lower.iblte < due[1].size() ? due[1][lower.iblte] : 0.0;
          dds1 = te.dte_u_up * due_up + te.dte_u_lo * due_lo;
        } else if (!first) {
          due1 = due[side][i - 1];
          dds1 = d1u * due1;
        }
        const double xs = sys.xi_ule1 * dule1 - sys.xi_ule2 * dule2;
        Vec3 fc;
        for (int k = 0; k < 3; ++k) {
          fc[k] = c.vs1_dstar[k] * dds1 + c.vs1_u[k] * due1 + c.vs2_dstar[k] * dds2 + c.vs2_u[k] * due2 +
                  xsum[k] * xs;
          a.vdel1[iv][k] = finite_or_zero(c.vsrez[k] + finite_or_zero(fc[k]));
        }
        if (trace.fc) {
          newton_trace::line(text::printf("[FC DEBUG] %s[%zu] due1=%s due2=%s dds1=%s dds2=%s", side_name(side), i,
                                          num(due1).c_str(), num(due2).c_str(), num(dds1).c_str(),
                                          num(dds2).c_str()));
          newton_trace::labelled("[FC DEBUG]   vs1_ue=", vec(c.vs1_u));
          newton_trace::labelled("[FC DEBUG]   vs2_ue=", vec(c.vs2_u));
          newton_trace::labelled("[FC DEBUG]   forced_change=", vec(fc));
        }
        if (trace.forced) {
          const char* tag = side == 0 ? "" : " LOWER";
          const double ue1 = first ? 0.0 : s1.u;
          const double ue1_mass = first ? 0.0 : s1.u - due[side][i - 1];
          newton_trace::line(text::printf("[FORCED DEBUG%s] %s[%zu] due1=%s due2=%s dds1=%s dds2=%s fc=%s", tag,
                                          side_name(side), i, num(due1).c_str(), num(due2).c_str(),
                                          num(dds1).c_str(), num(dds2).c_str(), vec(fc).c_str()));
          newton_trace::line(text::printf("[FORCED DEBUG UE%s] %s[%zu] ue_prev=%s ue_prev_mass=%s ue=%s ue_mass=%s",
                                          tag, side_name(side), i, num(ue1).c_str(), num(ue1_mass).c_str(),
                                          num(s2.u).c_str(), num(s2.u - due2).c_str()));
          newton_trace::line(text::printf("[FORCED DEBUG XI%s] %s[%zu] vs_x=%s xi_term=%s", tag, side_name(side), i,
                                          vec(xsum).c_str(), num(xs).c_str()));
        }
      }
    }
  }

  if (has_junction) {
    a.vz[0][0] = finite_or_zero(-te.cte_s_up);
    a.vz[0][1] = finite_or_zero(-te.cte_th_up);
    a.vz[1][1] = -1.0;
  }

  if (trace.newton) {
    for (int pass = 0; pass < 2; ++pass) {
      newton_trace::line(pass == 0 ? "[NEWTON DEBUG] Before forced changes:"
                                   : "[NEWTON DEBUG] After forced changes (FINAL VDEL):");
      for (std::size_t iv = 1; iv <= nsys; ++iv) {
        const bool up = iv <= lines_u;
        const std::size_t i = up ? iv : iv - lines_u;
        newton_trace::line(text::printf("  %s IBL=%zu IV=%zu vdel=%s", up ? "upper" : "lower", i + 1, iv,
                                        vec(pass == 0 ? raw_vdel[iv] : a.vdel1[iv]).c_str()));
      }
    }
  }
  if (trace.setbl_vdel)
    for (std::size_t iv : {27u, 28u, 29u, 30u, 159u, 160u, 161u, 162u, 163u})
      if (iv <= nsys) newton_trace::line(text::printf("[NATIVE SETBL VDEL] iv=%zu vdel=%s", iv, vec(a.vdel1[iv]).c_str()));
  if (trace.vm_focus)
    for (std::size_t iv : {24u, 25u, 26u}) {
      if (iv > nsys) continue;
      for (std::size_t L = 1; L <= nsys; ++L) {
        const Vec3 v{a.vm_at(iv, L, 0), a.vm_at(iv, L, 1), a.vm_at(iv, L, 2)};
        if (std::fabs(v[0]) > 1e-6 || std::fabs(v[1]) > 1e-6 || std::fabs(v[2]) > 1e-6)
          newton_trace::line(text::printf("[VM FOCUS ENTRY] row=%zu col=%zu vals=%s", iv, L, vec(v).c_str()));
      }
    }
  return sys;
}

namespace {

// VELARO_SETBL_DEBUG: station values of selected stations (the first three
// upper stations, the upper transition station, the middle lower station
// and the last three lower stations).
void trace_setbl_stations(const KelvoState& state, const std::array<std::vector<BlStation>, 2>& stations,
                          unsigned iteration) {
  if (!newton_trace::enabled("VELARO_SETBL_DEBUG")) return;
  using newton_trace::num;
  auto emit = [&](const char* label, int side, std::size_t i, bool exact, bool tail) {
    if (i == 0 || i >= stations[side].size()) return;
    const BlStation& s = stations[side][i];
    if (exact)
      newton_trace::line(text::printf("[SETBL DEBUG EXACT%s] iter=%u %s i=%zu x=%.17e u=%.17e theta=%.17e dstar=%.17e "
                                      "mass=%.17e dw=%.17e",
                                      tail ? " TAIL" : "", iteration, label, i, s.x, s.u, s.theta, s.dstar, s.mass, s.dw));
    else
      newton_trace::line(text::printf("[SETBL DEBUG] iter=%u %s i=%zu x=%s u=%s theta=%s dstar=%s mass=%s dw=%s",
                                      iteration, label, i, num(s.x).c_str(), num(s.u).c_str(), num(s.theta).c_str(),
                                      num(s.dstar).c_str(), num(s.mass).c_str(), num(s.dw).c_str()));
  };
  for (std::size_t i = 1; i <= 3; ++i) emit("upper", 0, i, false, false);
  if (state.itran[0] >= 2) emit("upper_transition", 0, state.itran[0] - 1, false, false);
  const std::size_t nl = stations[1].size();
  emit("lower_mid", 1, nl / 2, false, false);
  for (std::size_t k = 3; k >= 1; --k)
    if (nl > k) emit("lower_tail", 1, nl - k, false, false);
  emit("upper", 0, 1, true, false);
  if (nl > 1) emit("lower_tail", 1, nl - 1, true, true);
}

// VELARO_UESET_STATE_DEBUG / VELARO_UESET_DETAIL_DEBUG: every row's edge
// velocity from the mass defects of the rows of both sides, split into the
// upper, lower-airfoil and lower-wake contributions.
void trace_coupled_rows(const KelvoState& state, DijView dij) {
  using newton_trace::num;
  const bool detail = newton_trace::enabled("VELARO_UESET_DETAIL_DEBUG");
  const bool summary = newton_trace::enabled("VELARO_UESET_STATE_DEBUG");
  std::vector<MassSource> sources;
  std::vector<int> group;  // 0 upper, 1 lower airfoil, 2 wake
  for (int side = 0; side < 2; ++side) {
    const std::vector<BlRow>& rows = state.rows[side];
    const std::size_t count = std::min(state.nbl[side], rows.size());
    for (std::size_t r = 1; r < count; ++r) {
      sources.push_back({vti_of(side), rows[r].panel, rows[r].mass});
      group.push_back(side == 0 ? 0 : (r > state.iblte[1] ? 2 : 1));
    }
  }
  static constexpr const char* kDetail[3] = {"[STATE UESET DETAIL UPPER]", "[STATE UESET DETAIL LOWER]",
                                             "[STATE UESET DETAIL WAKE]"};
  for (int side = 0; side < 2; ++side) {
    const std::vector<BlRow>& rows = state.rows[side];
    const std::size_t count = std::min(state.nbl[side], rows.size());
    const double vti = vti_of(side);
    for (std::size_t r = 1; r < count; ++r) {
      const std::size_t pi = rows[r].panel;
      double part[3] = {0.0, 0.0, 0.0};
      for (std::size_t k = 0; k < sources.size(); ++k) {
        if (!dij.contains(pi, sources[k].panel)) continue;
        const double d = dij.at(pi, sources[k].panel);
        const double c = -vti * sources[k].vti * d * sources[k].mass;
        part[group[k]] += c;
        if (detail)
          newton_trace::line(text::printf("%s panel=%zu other_panel=%zu dij=%s mass=%s contrib=%s", kDetail[group[k]],
                                          pi, sources[k].panel, num(d).c_str(), num(sources[k].mass).c_str(),
                                          num(c).c_str()));
      }
      const double uedg = coupled_uedg(pi, state.node_count(), sources, dij, rows[r].uinv, vti);
      if (summary)
        newton_trace::line(text::printf("[STATE UESET] panel=%zu vti=%s uinv=%s upper=%s lower=%s wake=%s uedg=%s", pi,
                                        num(vti).c_str(), num(rows[r].uinv).c_str(), num(part[0]).c_str(),
                                        num(part[1]).c_str(), num(part[2]).c_str(), num(uedg).c_str()));
    }
  }
}

}  // namespace

AssemblyState setbl(KelvoState& state, unsigned iteration, double re_eff, double ncrit, double mach) {
  const double msq = mach * mach;
  std::vector<BlRow>& upper_rows = state.rows[0];
  std::vector<BlRow>& lower_rows = state.rows[1];

  // 1. Marching: the direct march creates the boundary layer once; the mixed
  // march re-establishes the transition points on every call. The upper side
  // goes first so that the lower side's wake starts from its TE values.
  if (!state.bl_initialised) {
    const MarchResult mu = march_ue_side(1, upper_rows, upper_rows.size(), state.nbl[0], state.iblte[0],
                                         te_values_of(lower_rows, state.iblte[1]), state.ante, re_eff, ncrit, msq);
    state.itran[0] = mu.itran;
    state.xssitr[0] = mu.xssitr;
    const MarchResult ml = march_ue_side(2, lower_rows, lower_rows.size(), state.nbl[1], state.iblte[1],
                                         te_values_of(upper_rows, state.iblte[0]), state.ante, re_eff, ncrit, msq);
    state.itran[1] = ml.itran;
    state.xssitr[1] = ml.xssitr;
    state.bl_initialised = true;
    if (newton_trace::enabled("VELARO_SETBL_HANDOFF_DEBUG"))
      for (std::size_t r = 1; r < std::min(state.nbl[0], upper_rows.size()); ++r) {
        const BlRow& w = upper_rows[r];
        newton_trace::line(text::printf("[SETBL AFTER MRCHUE] upper[%zu] panel=%zu x=%s ue=%s theta=%s dstr=%s mass=%s "
                                        "ampl=%s",
                                        r, w.panel, newton_trace::num(w.x).c_str(), newton_trace::num(w.uedg).c_str(),
                                        newton_trace::num(w.theta).c_str(), newton_trace::num(w.dstr).c_str(),
                                        newton_trace::num(w.mass).c_str(), newton_trace::num(w.ampl).c_str()));
      }
  }
  {
    const MarchResult mu =
        march_du_side(1, upper_rows, upper_rows.size(), state.nbl[0], state.ante, re_eff, ncrit, state.iblte[0],
                      te_values_of(lower_rows, state.iblte[1]), state.itran[0], msq);
    state.itran[0] = mu.itran;
    state.xssitr[0] = mu.xssitr;
    const MarchResult ml =
        march_du_side(2, lower_rows, lower_rows.size(), state.nbl[1], state.ante, re_eff, ncrit, state.iblte[1],
                      te_values_of(upper_rows, state.iblte[0]), state.itran[1], msq);
    state.itran[1] = ml.itran;
    state.xssitr[1] = ml.xssitr;
  }

  // 2. Mass defects from the marched rows.
  recompute_mass_from_state(state);

  // 3. Stations of both sides at the operating point's Mach number.
  std::array<std::vector<BlStation>, 2> stations;
  std::array<std::vector<double>, 2> uinv, uinv_a;
  const bool prescribed_cl = state.mode == OperMode::PrescribedCl;
  for (int side = 0; side < 2; ++side) {
    const std::vector<BlRow>& rows = state.rows[side];
    const std::size_t count = std::min(state.nbl[side], rows.size());
    stations[side] = rows_to_stations(rows, count, state.iblte[side], state.itran[side], msq, re_eff);
    uinv[side].assign(stations[side].size(), 0.0);
    uinv_a[side].assign(stations[side].size(), 0.0);
    for (std::size_t i = 0; i < stations[side].size(); ++i) {
      uinv[side][i] = rows[i].uinv;
      // The inviscid speeds move with the extra unknown only when alpha is
      // free.
      if (prescribed_cl) uinv_a[side][i] = rows[i].uinv_a;
    }
  }

  const DijView dij{state.dij.data(), static_cast<std::size_t>(state.dij.rows()),
                    static_cast<std::size_t>(state.dij.cols())};
  trace_setbl_stations(state, stations, iteration);

  // 4. The edge velocity each row would have from the mass defects (on a
  // working copy: the system below takes it only through the difference
  // from the current velocity). Computed only for its trace lines.
  if (newton_trace::enabled("VELARO_UESET_STATE_DEBUG") || newton_trace::enabled("VELARO_UESET_DETAIL_DEBUG"))
    trace_coupled_rows(state, dij);

  // 5. The system. The edge velocities implied by the masses enter through
  // their differences from the current ones.
  const SurfaceInput upper{stations[0], uinv[0], uinv_a[0], state.iblte[0]};
  const SurfaceInput lower{stations[1], uinv[1], uinv_a[1], state.iblte[1]};
  GlobalNewtonSystem sys =
      build_global_system(upper, lower, dij, state.ante, state.sst_go, state.sst_gp, msq, re_eff, ncrit);
  if (newton_trace::enabled("VELARO_SETBL_FULL_VM")) {
    AssemblyState& a = sys.a;
    std::vector<std::vector<Vec3>> full(a.nsys + 1, std::vector<Vec3>(a.nsys + 1));
    for (std::size_t iv = 0; iv <= a.nsys; ++iv)
      for (std::size_t L = 0; L <= a.nsys; ++L) full[iv][L] = {a.vm_at(iv, L, 0), a.vm_at(iv, L, 1), a.vm_at(iv, L, 2)};
    a.full_vm = std::move(full);
  }
  return std::move(sys.a);
}

}  // namespace velaro
