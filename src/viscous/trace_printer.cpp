#include "viscous/trace_printer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "common/text_format.h"

namespace velaro {

namespace {

// Switches this printer serves (VELARO_STMOVE_DEBUG is read by
// trace_stagnation_move_rows itself).
constexpr DiagnosticSwitch kPrinted[] = {
    DiagnosticSwitch::BldifDebug,       DiagnosticSwitch::NewtonDebug,          DiagnosticSwitch::NewtonCmp,
    DiagnosticSwitch::RawResDebug,      DiagnosticSwitch::TransDebug,           DiagnosticSwitch::TransitionBranchDebug,
    DiagnosticSwitch::TransitionBlockDebug, DiagnosticSwitch::DueDebug,         DiagnosticSwitch::ForcedDebug,
    DiagnosticSwitch::FcDebug,          DiagnosticSwitch::TesysDebug,           DiagnosticSwitch::DuiDebug,
    DiagnosticSwitch::UesetFirstDebug,  DiagnosticSwitch::UesetStateDebug,      DiagnosticSwitch::UesetDetailDebug,
    DiagnosticSwitch::SetblDebug,       DiagnosticSwitch::SetblHandoffDebug,    DiagnosticSwitch::SetblVdelDebug,
    DiagnosticSwitch::SetblFullVm,      DiagnosticSwitch::VmFocusDebug,         DiagnosticSwitch::BlsolvStepDebug,
    DiagnosticSwitch::FinalDeltaDebug,  DiagnosticSwitch::UpdateDebug,          DiagnosticSwitch::LeUpdateDebug,
};

std::string num(double v) { return text::display(v); }

std::string vec(const std::array<double, 3>& v) {
  return text::printf("[%s, %s, %s]", num(v[0]).c_str(), num(v[1]).c_str(), num(v[2]).c_str());
}

// A label followed by a value text.
// Each trace line goes out in one write, so lines of analyses running on
// several threads at once never interleave.
void line(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 1);
  out.append(text).push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stderr);
}

void labelled(const char* label, const std::string& value) { line(label + value); }

std::string jacobian_text(const std::array<double, 5>& r) {
  return text::printf("[%s, %s, %s, %s, %s]", num(r[0]).c_str(), num(r[1]).c_str(), num(r[2]).c_str(),
                      num(r[3]).c_str(), num(r[4]).c_str());
}

std::string block_rows(const Block3& b) {
  return text::printf("%s %s %s", vec(b[0]).c_str(), vec(b[1]).c_str(), vec(b[2]).c_str());
}

// One row of a 3x5 interval Jacobian rebuilt from the stored columns.
std::string jacobian_row(double first, double theta, double dstar, double u, double x) {
  return text::printf("  [%s, %s, %s, %s, %s]", num(first).c_str(), num(theta).c_str(), num(dstar).c_str(),
                      num(u).c_str(), num(x).c_str());
}

// System lines whose right-hand sides VELARO_SETBL_VDEL_DEBUG prints, and
// whose mass couplings VELARO_VM_FOCUS_DEBUG prints.
constexpr std::size_t kVdelLines[] = {27, 28, 29, 30, 159, 160, 161, 162, 163};
constexpr std::size_t kVmFocusLines[] = {24, 25, 26};
// Line and mass column of the elimination trace (VELARO_BLSOLV_STEP_DEBUG).
constexpr std::size_t kTraceLine = 24;
constexpr std::size_t kTraceCol = 26;

}  // namespace

TracePrinter::TracePrinter() {
  for (DiagnosticSwitch s : kPrinted) {
    const bool set = diagnostic_switch_enabled(s);
    switches_.set(s, set);
    active_ = active_ || set;
  }
}

// VELARO_SETBL_HANDOFF_DEBUG: the upper rows as the direct march left them.
void TracePrinter::direct_march_done(const ViscousState& state) {
  if (!on(DiagnosticSwitch::SetblHandoffDebug)) return;
  const std::vector<BlRow>& upper_rows = state.rows[0];
  for (std::size_t r = 1; r < std::min(state.nbl[0], upper_rows.size()); ++r) {
    const BlRow& w = upper_rows[r];
    line(text::printf("[SETBL AFTER MRCHUE] upper[%zu] panel=%zu x=%s ue=%s theta=%s dstr=%s mass=%s "
                      "ampl=%s",
                      r, w.panel, num(w.x).c_str(), num(w.uedg).c_str(), num(w.theta).c_str(), num(w.dstr).c_str(),
                      num(w.mass).c_str(), num(w.ampl).c_str()));
  }
}

// VELARO_SETBL_DEBUG: station values of selected stations (the first three
// upper stations, the upper transition station, the middle lower station
// and the last three lower stations).
// VELARO_UESET_STATE_DEBUG / VELARO_UESET_DETAIL_DEBUG: every row's edge
// velocity from the mass defects of the rows of both sides, split into the
// upper, lower-airfoil and lower-wake contributions.
void TracePrinter::stations_prepared(const ViscousState& state, const std::array<std::vector<BlStation>, 2>& stations,
                                     unsigned iteration, DijView dij) {
  if (on(DiagnosticSwitch::SetblDebug)) {
    auto emit = [&](const char* label, Side side, std::size_t i, bool exact, bool tail) {
      const std::vector<BlStation>& on_side = stations[side_index(side)];
      if (i == 0 || i >= on_side.size()) return;
      const BlStation& s = on_side[i];
      if (exact)
        line(text::printf("[SETBL DEBUG EXACT%s] iter=%u %s i=%zu x=%.17e u=%.17e theta=%.17e dstar=%.17e "
                          "mass=%.17e dw=%.17e",
                          tail ? " TAIL" : "", iteration, label, i, s.x, s.u, s.theta, s.dstar, s.mass, s.dw));
      else
        line(text::printf("[SETBL DEBUG] iter=%u %s i=%zu x=%s u=%s theta=%s dstar=%s mass=%s dw=%s", iteration, label,
                          i, num(s.x).c_str(), num(s.u).c_str(), num(s.theta).c_str(), num(s.dstar).c_str(),
                          num(s.mass).c_str(), num(s.dw).c_str()));
    };
    for (std::size_t i = 1; i <= 3; ++i) emit("upper", Side::Upper, i, false, false);
    if (state.first_turbulent_row[0] >= 1)
      emit("upper_transition", Side::Upper, state.first_turbulent_row[0], false, false);
    const std::size_t nl = stations[1].size();
    emit("lower_mid", Side::Lower, nl / 2, false, false);
    for (std::size_t k = 3; k >= 1; --k)
      if (nl > k) emit("lower_tail", Side::Lower, nl - k, false, false);
    emit("upper", Side::Upper, 1, true, false);
    if (nl > 1) emit("lower_tail", Side::Lower, nl - 1, true, true);
  }

  const bool detail = on(DiagnosticSwitch::UesetDetailDebug);
  const bool summary = on(DiagnosticSwitch::UesetStateDebug);
  if (!detail && !summary) return;
  std::vector<MassSource> sources;
  std::vector<int> group;  // 0 upper, 1 lower airfoil, 2 wake
  for (Side side : kBothSides) {
    const std::vector<BlRow>& rows = state.rows[side_index(side)];
    const std::size_t count = std::min(state.nbl[side_index(side)], rows.size());
    for (std::size_t r = 1; r < count; ++r) {
      sources.push_back({side_sign(side), rows[r].panel, rows[r].mass});
      group.push_back(side == Side::Upper ? 0 : (r > state.iblte[1] ? 2 : 1));
    }
  }
  static constexpr const char* kDetail[3] = {"[STATE UESET DETAIL UPPER]", "[STATE UESET DETAIL LOWER]",
                                             "[STATE UESET DETAIL WAKE]"};
  for (Side side : kBothSides) {
    const std::vector<BlRow>& rows = state.rows[side_index(side)];
    const std::size_t count = std::min(state.nbl[side_index(side)], rows.size());
    const double vti = side_sign(side);
    for (std::size_t r = 1; r < count; ++r) {
      const std::size_t pi = rows[r].panel;
      double part[3] = {0.0, 0.0, 0.0};
      for (std::size_t k = 0; k < sources.size(); ++k) {
        if (!dij.contains(pi, sources[k].panel)) continue;
        const double d = dij.at(pi, sources[k].panel);
        const double c = -vti * sources[k].vti * d * sources[k].mass;
        part[group[k]] += c;
        if (detail)
          line(text::printf("%s panel=%zu other_panel=%zu dij=%s mass=%s contrib=%s", kDetail[group[k]], pi,
                            sources[k].panel, num(d).c_str(), num(sources[k].mass).c_str(), num(c).c_str()));
      }
      const double uedg = coupled_uedg(pi, state.node_count(), sources, dij, rows[r].uinv, vti);
      if (summary)
        line(text::printf("[STATE UESET] panel=%zu vti=%s uinv=%s upper=%s lower=%s wake=%s uedg=%s", pi,
                          num(vti).c_str(), num(rows[r].uinv).c_str(), num(part[0]).c_str(), num(part[1]).c_str(),
                          num(part[2]).c_str(), num(uedg).c_str()));
    }
  }
}

void TracePrinter::interval_evaluated(const BlStation& s1, const BlStation& s2, FlowType flow,
                                      const IntervalEquations& eq, const TransitionResult* tr) {
  if (on(DiagnosticSwitch::BldifDebug)) {
    line(text::printf("[BLDIF DEBUG] flow=%s x1=%s x2=%s ampl1=%s ampl2=%s ctau1=%s ctau2=%s theta1=%s "
                      "theta2=%s dstar1=%s dstar2=%s u1=%s u2=%s res=%s",
                      flow_type_name(flow), num(s1.x).c_str(), num(s2.x).c_str(), num(s1.ampl).c_str(),
                      num(s2.ampl).c_str(), num(s1.ctau).c_str(), num(s2.ctau).c_str(), num(s1.theta).c_str(),
                      num(s2.theta).c_str(), num(s1.dstar).c_str(), num(s2.dstar).c_str(), num(s1.u).c_str(),
                      num(s2.u).c_str(), vec(eq.neg_residual).c_str()));
    for (int k = 0; k < 3; ++k)
      line(text::printf("[BLDIF DEBUG FULL] row=%d VS1=%s VS2=%s", k, jacobian_text(eq.d_upstream[k]).c_str(),
                        jacobian_text(eq.d_downstream[k]).c_str()));
  }
  if (tr == nullptr) return;
  if (on(DiagnosticSwitch::TransitionBranchDebug)) {
    line(text::printf("[TRANSITION BRANCH] flow=%s has_transition=%s transition_flag=%s "
                      "live_transition=%s xt=%s ampl2=%s",
                      flow_type_name(flow), tr->transition ? "true" : "false", tr->forced ? "forced" : "free",
                      tr->transition && s2.x - s1.x > 1e-20 ? "true" : "false", num(tr->xt).c_str(),
                      num(tr->ampl2).c_str()));
    line(text::printf("[TRANSITION DERIVS] xt_x1=%s xt_x2=%s tt_x2=%s dt_x2=%s ut_x2=%s", num(tr->xt_x1).c_str(),
                      num(tr->xt_x2).c_str(), num(tr->tt_x2).c_str(), num(tr->dt_x2).c_str(),
                      num(tr->ut_x2).c_str()));
  }
  if (on(DiagnosticSwitch::TransitionBlockDebug)) {
    line(text::printf("[NATIVE TRANSITION REGION BLOCK] res=%s", vec(eq.neg_residual).c_str()));
    for (int k = 0; k < 3; ++k)
      line(text::printf("[NATIVE TRANSITION REGION BLOCK] row=%d VS1=%s VS2=%s", k, jacobian_text(eq.d_upstream[k]).c_str(),
                        jacobian_text(eq.d_downstream[k]).c_str()));
  }
}

// Diagnostics of the mass-implied edge velocities of one side: the upper
// and lower source contributions per station (VELARO_DUI_DEBUG, with a
// running breakdown of the first upper station) and the contributions to the
// first station (VELARO_UESET_FIRST_DEBUG).
void TracePrinter::mass_implied_speeds(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                       Side which, std::span<const double> ue) {
  const Side side = which;
  const bool dui = on(DiagnosticSwitch::DuiDebug);
  const bool first = on(DiagnosticSwitch::UesetFirstDebug);
  if (!dui && !first) return;
  const SurfaceInput& target = side == Side::Upper ? upper : lower;
  const double vti_i = side_sign(side);
  for (std::size_t i = 1; i < target.stations.size(); ++i) {
    const std::size_t pi = target.stations[i].panel;
    double part[2] = {0.0, 0.0};
    for (Side s : kBothSides) {
      const SurfaceInput& src = s == Side::Upper ? upper : lower;
      const bool breakdown = dui && side == Side::Upper && i == 1 && s == Side::Upper;
      if (breakdown) line("[DUI TRACE] Breaking down upper[1] DIJ sum:");
      for (std::size_t j = 1; j < src.stations.size(); ++j) {
        const std::size_t pj = src.stations[j].panel;
        if (!dij.contains(pi, pj)) continue;
        const double c = -vti_i * side_sign(s) * dij.at(pi, pj) * src.stations[j].mass;
        part[side_index(s)] += c;
        if (breakdown && j % 20 == 0) line(text::printf("  ... cumulative after j=%zu: %s", j, num(part[0]).c_str()));
        if (first && i == 1)
          line(text::printf("[UESET FIRST] %s j=%zu panel_j=%zu dij=%s mass=%s contrib=%s", side_name(s),
                            j, pj, num(dij.at(pi, pj)).c_str(), num(src.stations[j].mass).c_str(), num(c).c_str()));
      }
      if (breakdown) {
        line(text::printf("  TOTAL dui_upper: %s", num(part[0]).c_str()));
      }
    }
    if (dui && side == Side::Upper && i == 1) line(text::printf("  TOTAL dui_lower: %s", num(part[1]).c_str()));
    const double uinv = i < target.uinv.size() ? target.uinv[i] : 0.0;
    if (dui)
      line(text::printf("[DUI DEBUG] %s[%zu] ue_inv=%s dui_upper=%s dui_lower=%s dui_total=%s dij_diag=%s",
                        side_name(side), i, num(uinv).c_str(), num(part[0]).c_str(),
                        num(part[1]).c_str(), num(part[0] + part[1]).c_str(), num(dij.at(pi, pi)).c_str()));
    if (first && i == 1)
      line(text::printf("[UESET FIRST] panel_i=%zu side=%s ue_inv=%s dui_upper=%s dui_lower=%s ue_after=%s "
                        "mass=%s",
                        pi, side_name(side), num(uinv).c_str(), num(part[0]).c_str(),
                        num(part[1]).c_str(), num(ue[i]).c_str(), num(target.stations[i].mass).c_str()));
  }
}

void TracePrinter::edge_speed_offsets(Side which, std::span<const BlStation> stations, std::span<const double> ue_mass,
                                      std::span<const double> due) {
  if (!on(DiagnosticSwitch::DueDebug)) return;
  const bool upper = which == Side::Upper;
  line(upper ? "[DUE DEBUG] Upper surface DUE at first stations:" : "[DUE DEBUG] Lower surface DUE at first stations:");
  for (std::size_t i = 1; i < ue_mass.size() && i <= 5; ++i)
    line(text::printf("  %s[%zu] ue_curr=%s ue_mass=%s DUE=%s", upper ? "Upper" : "Lower", i,
                      num(stations[i].u).c_str(), num(ue_mass[i]).c_str(), num(due[i]).c_str()));
}

void TracePrinter::junction_formed(std::size_t ivz, std::size_t iblte_lower, const BlStation& ut, const BlStation& lt,
                                   const TeWakeTerms& te) {
  if (!on(DiagnosticSwitch::TesysDebug)) return;
  line(text::printf(
      "[TESYS DEBUG] iv=%zu wake_ibl=%zu upper_te: theta=%s dstar=%s ctau=%s ue=%s lower_te: theta=%s dstar=%s "
      "ctau=%s ue=%s tte=%s dte=%s cte=%s",
      ivz, iblte_lower + 2, num(ut.theta).c_str(), num(ut.dstar).c_str(), num(ut.ctau).c_str(), num(ut.u).c_str(),
      num(lt.theta).c_str(), num(lt.dstar).c_str(), num(lt.ctau).c_str(), num(lt.u).c_str(), num(te.tte).c_str(),
      num(te.dte).c_str(), num(te.cte).c_str()));
}

void TracePrinter::line_equations(Side side, std::size_t i, std::size_t iv, bool transition, const LineCoefficients& c,
                                  const BlStation& s2) {
  if (on(DiagnosticSwitch::RawResDebug))
    line(text::printf("[RAW RES] side=%s station=%zu IV=%zu res=%s", side_name(side), i, iv, vec(c.vsrez).c_str()));
  if (on(DiagnosticSwitch::TransDebug))
    line(text::printf("[VSREZ DEBUG] side=%s station=%zu res=%s ctau=%s cq=%s%s", side_name(side), i,
                      vec(c.vsrez).c_str(), num(s2.ctau).c_str(), num(s2.cq).c_str(),
                      transition ? " <-- TRANSITION" : ""));
  if (on(DiagnosticSwitch::NewtonDebug)) {
    if (raw_vdel_.size() <= iv) raw_vdel_.resize(iv + 1, Vec3{});
    raw_vdel_[iv] = c.vsrez;
    line(text::printf("[NEWTON DEBUG] %s IBL=%zu IV=%zu", side_name(side), i + 1, iv));
    labelled("  VA (stored in system): ", block_rows(c.va));
    labelled("  VB (stored in system): ", block_rows(c.vb));
    labelled("  VSREZ (raw residuals): ", vec(c.vsrez));
  }
  if (on(DiagnosticSwitch::NewtonCmp) && side == Side::Upper && i == 2) {
    line("=== Velaro Newton System at i=2 (KELVO IBL=3) ===");
    line("VS1 (upstream Jacobian, 3x5):");
    for (int k = 0; k < 3; ++k) line(jacobian_row(c.vb[k][0], c.vb[k][1], c.vs1_dstar[k], c.vs1_u[k], c.vs1_x[k]));
    line("VS2 (downstream Jacobian, 3x5):");
    for (int k = 0; k < 3; ++k) line(jacobian_row(c.va[k][0], c.va[k][1], c.vs2_dstar[k], c.vs2_u[k], c.vs2_x[k]));
    line("VDEL (raw residuals):");
    labelled("  ", vec(c.vsrez));
  }
}

void TracePrinter::forced_change(const ForcedChange& f) {
  const Side side = f.side;
  const std::size_t i = f.station;
  if (on(DiagnosticSwitch::FcDebug)) {
    line(text::printf("[FC DEBUG] %s[%zu] due1=%s due2=%s dds1=%s dds2=%s", side_name(side), i, num(f.due1).c_str(),
                      num(f.due2).c_str(), num(f.dds1).c_str(), num(f.dds2).c_str()));
    labelled("[FC DEBUG]   vs1_ue=", vec(f.vs1_u));
    labelled("[FC DEBUG]   vs2_ue=", vec(f.vs2_u));
    labelled("[FC DEBUG]   forced_change=", vec(f.change));
  }
  if (on(DiagnosticSwitch::ForcedDebug)) {
    const char* tag = side == Side::Upper ? "" : " LOWER";
    const double ue1 = f.first ? 0.0 : f.u1;
    const double ue1_mass = f.first ? 0.0 : f.u1 - f.due_upstream;
    line(text::printf("[FORCED DEBUG%s] %s[%zu] due1=%s due2=%s dds1=%s dds2=%s fc=%s", tag, side_name(side), i,
                      num(f.due1).c_str(), num(f.due2).c_str(), num(f.dds1).c_str(), num(f.dds2).c_str(),
                      vec(f.change).c_str()));
    line(text::printf("[FORCED DEBUG UE%s] %s[%zu] ue_prev=%s ue_prev_mass=%s ue=%s ue_mass=%s", tag, side_name(side),
                      i, num(ue1).c_str(), num(ue1_mass).c_str(), num(f.u2).c_str(), num(f.u2 - f.due2).c_str()));
    line(text::printf("[FORCED DEBUG XI%s] %s[%zu] vs_x=%s xi_term=%s", tag, side_name(side), i, vec(f.vs_x).c_str(),
                      num(f.xi_term).c_str()));
  }
}

void TracePrinter::system_assembled(const AssemblyState& a) {
  const std::size_t nsys = a.nsys;
  const std::size_t lines_u = a.lower_offset;
  if (on(DiagnosticSwitch::NewtonDebug)) {
    raw_vdel_.resize(std::max(raw_vdel_.size(), nsys + 1), Vec3{});
    for (int pass = 0; pass < 2; ++pass) {
      line(pass == 0 ? "[NEWTON DEBUG] Before forced changes:" : "[NEWTON DEBUG] After forced changes (FINAL VDEL):");
      for (std::size_t iv = 1; iv <= nsys; ++iv) {
        const bool up = iv <= lines_u;
        const std::size_t i = up ? iv : iv - lines_u;
        line(text::printf("  %s IBL=%zu IV=%zu vdel=%s", up ? "upper" : "lower", i + 1, iv,
                          vec(pass == 0 ? raw_vdel_[iv] : a.vdel1[iv]).c_str()));
      }
    }
    raw_vdel_.clear();
  }
  if (on(DiagnosticSwitch::SetblVdelDebug))
    for (std::size_t iv : kVdelLines)
      if (iv <= nsys) line(text::printf("[NATIVE SETBL VDEL] iv=%zu vdel=%s", iv, vec(a.vdel1[iv]).c_str()));
  if (on(DiagnosticSwitch::VmFocusDebug))
    for (std::size_t iv : kVmFocusLines) {
      if (iv > nsys) continue;
      for (std::size_t L = 1; L <= nsys; ++L) {
        const Vec3 v{a.vm_at(iv, L, 0), a.vm_at(iv, L, 1), a.vm_at(iv, L, 2)};
        if (std::fabs(v[0]) > 1e-6 || std::fabs(v[1]) > 1e-6 || std::fabs(v[2]) > 1e-6)
          line(text::printf("[VM FOCUS ENTRY] row=%zu col=%zu vals=%s", iv, L, vec(v).c_str()));
      }
    }
}

// VELARO_BLSOLV_STEP_DEBUG: the eliminated couplings of two lines to a later
// mass, and the back substitution into the first equation of line 24.
void TracePrinter::forward_sweep_done(const EliminationView& v) {
  if (!on(DiagnosticSwitch::BlsolvStepDebug) || kTraceCol > v.nsys) return;
  for (std::size_t r = kTraceLine; r <= kTraceLine + 1; ++r)
    line(text::printf("[NATIVE BLSOLV BACK COEF] row=%zu col=%zu vals=%s", r, kTraceCol,
                      vec({v.coefficient(r, 0, kTraceCol), v.coefficient(r, 1, kTraceCol),
                           v.coefficient(r, 2, kTraceCol)})
                          .c_str()));
}

void TracePrinter::mass_back_substituted(std::size_t iv, const EliminationView& v, double dm1) {
  if (!on(DiagnosticSwitch::BlsolvStepDebug) || iv <= kTraceLine) return;
  const double c = v.coefficient(kTraceLine, 0, iv);
  line(text::printf("[NATIVE BLSOLV BACK MASS] iv=%zu coef=%s mass=%s contrib=%s", iv, num(c).c_str(),
                    num(dm1).c_str(), num(c * dm1).c_str()));
}

void TracePrinter::elimination_done(std::span<const Vec3> d1) {
  if (!on(DiagnosticSwitch::FinalDeltaDebug)) return;
  for (std::size_t iv = 1; iv < d1.size(); ++iv)
    line(text::printf("[NATIVE FINAL DELTA] iv=%zu delta=%s", iv, vec(d1[iv]).c_str()));
}

void TracePrinter::edge_speed_predicted(Side s, std::size_t i, double ui, double u, double current) {
  if (!on(DiagnosticSwitch::LeUpdateDebug) || i > 3) return;
  line(text::printf("[DEBUG compute_new_ue] %s i=%zu uinv=%s dui=%s ue_new=%s current_u=%s", side_name(s),
                    i, num(ui).c_str(), num(u - ui).c_str(), num(u).c_str(), num(current).c_str()));
}

void TracePrinter::update_relaxed(const UpdateSummary& r) {
  if (!on(DiagnosticSwitch::UpdateDebug)) return;
  line(text::printf("[UPDATE DEBUG] cl_new=%s cl_a=%s cl_ac=%s dac=%s rlx=%s", num(r.cl_new).c_str(),
                    num(r.cl_a).c_str(), num(r.cl_ac).c_str(), num(r.dac).c_str(), num(r.rlx).c_str()));
}

namespace {

const char* flag(bool b) { return b ? "true" : "false"; }

void print_row(std::string_view phase, const char* side, std::size_t r, const BlRow& row) {
  const std::string text = text::printf(
      "[STMOVE DEBUG] phase=%.*s %s ibl=%zu panel=%zu x=%s uinv=%s uedg=%s theta=%s dstr=%s mass=%s dw=%s "
      "wake=%s lam=%s turb=%s\n",
      static_cast<int>(phase.size()), phase.data(), side, r + 1, row.panel, text::scientific(row.x, 8).c_str(),
      text::scientific(row.uinv, 8).c_str(), text::scientific(row.uedg, 8).c_str(),
      text::scientific(row.theta, 8).c_str(), text::scientific(row.dstr, 8).c_str(),
      text::scientific(row.mass, 8).c_str(), text::scientific(row.dw, 8).c_str(), flag(row.wake()), flag(row.laminar()),
      flag(!row.laminar()));
  std::fputs(text.c_str(), stderr);
}

}  // namespace

void trace_stagnation_move_rows(const ViscousState& state, std::string_view phase, std::size_t old_ist,
                             std::size_t new_ist) {
  if (!diagnostic_switch_enabled(DiagnosticSwitch::StmoveDebug)) return;
  const std::string head = text::printf(
      "[STMOVE DEBUG] phase=%.*s old_ist=%zu new_ist=%zu nbl_upper=%zu iblte_upper=%zu nbl_lower=%zu "
      "iblte_lower=%zu\n",
      static_cast<int>(phase.size()), phase.data(), old_ist + 1, new_ist + 1, state.nbl[0], state.iblte[0],
      state.nbl[1], state.iblte[1]);
  std::fputs(head.c_str(), stderr);
  for (Side side : kBothSides) {
    const auto& rows = state.rows[side_index(side)];
    const std::size_t m = std::min(rows.size(), state.nbl[side_index(side)]);
    const std::size_t tail = m > 6 ? m - 6 : 1;
    for (std::size_t r = 1; r < m; ++r) {
      if (r <= 5 || r >= tail) print_row(phase, side_name(side), r, rows[r]);
    }
  }
}

}  // namespace velaro
