// The relaxed Newton update: predicted edge speeds through the mass-defect
// influence matrix, the change of the extra global unknown from a CL
// balance, one under-relaxation factor for the whole system from limits on
// the normalised changes, and the station-by-station application with the
// minimum-shape-factor limiter.
#include "viscous/update.h"

#include <algorithm>
#include <cmath>

#include "boundary_layer/closures.h"
#include "common/text_format.h"
#include "viscous/assembly.h"
#include "viscous/forces.h"
#include "viscous/newton_observer.h"
#include "viscous/state.h"
#include "viscous/station_evaluation.h"

namespace velaro {

namespace {

// Limits of the normalised changes.
constexpr double kDhi = 1.5;
constexpr double kDlo = -0.5;

double value_or(std::span<const double> v, std::size_t i, double fallback) { return i < v.size() ? v[i] : fallback; }

// Line of station i of a side; b is the first lower line.
std::size_t line_of(Side side, std::size_t i, std::size_t b) { return side == Side::Upper ? i : b + i - 1; }

double lift_of(std::span<const double> x, std::span<const double> y, std::span<const double> q, double alpha,
               double mach) {
  return compute_panel_forces_from_gamma(x, y, q, alpha, mach).cl;
}

// The changes of one station for the chosen dac, before relaxation.
struct StationChange {
  bool active = false;
  double d1 = 0.0, d_theta = 0.0, d_mass = 0.0;
  double du = 0.0;
  double dstar_t = 0.0;  // displacement thickness including the wake gap
};

}  // namespace

namespace {

// The predicted edge velocities from the assembly's coupling rows (see
// UpdateInputs::coupling): the coupling is minus the sign times DIJ of
// preview_ue's sums (the signs are exact), so adding coupling times the mass
// gives, to the bit, what subtracting sign times DIJ times the mass gives,
// in the same order. Four stations are summed side by side: their chains of
// additions are independent, and the processor overlaps them.
void preview_from_coupling(std::span<const BlStation> st, Side side, std::size_t b,
                           std::size_t nsys, DijView dij, std::span<const double> coupling,
                           std::span<const double> uinv, std::span<const double> base,
                           std::span<const double> m_new, std::span<const double> dm2, std::vector<double>& unew,
                           std::vector<double>& uac, NewtonObserver* observer) {
  const std::size_t w = nsys + 1;
  const double* m = m_new.data();
  const double* d2 = dm2.data();
  auto finish = [&](std::size_t i, double u, double ua) {
    unew[i] = u;
    uac[i] = ua;
    if (observer) observer->edge_speed_predicted(side, i, value_or(uinv, i, st[i].u), u, st[i].u);
  };
  std::size_t i = 1;
  while (i < st.size()) {
    // A group of four stations inside DIJ, else one station at a time.
    bool group = i + 4 <= st.size();
    for (std::size_t k = 0; group && k < 4; ++k) group = st[i + k].panel < dij.rows;
    if (group) {
      const double* c[4];
      double u[4], ua[4];
      for (std::size_t k = 0; k < 4; ++k) {
        c[k] = coupling.data() + line_of(side, i + k, b) * w;
        u[k] = value_or(uinv, i + k, st[i + k].u);
        ua[k] = value_or(base, i + k, 0.0);
      }
      for (std::size_t L = 1; L <= nsys; ++L) {
        const double mL = m[L], dL = d2[L];
        u[0] += c[0][L] * mL;
        ua[0] -= c[0][L] * dL;
        u[1] += c[1][L] * mL;
        ua[1] -= c[1][L] * dL;
        u[2] += c[2][L] * mL;
        ua[2] -= c[2][L] * dL;
        u[3] += c[3][L] * mL;
        ua[3] -= c[3][L] * dL;
      }
      for (std::size_t k = 0; k < 4; ++k) finish(i + k, u[k], ua[k]);
      i += 4;
      continue;
    }
    if (st[i].panel >= dij.rows) {
      unew[i] = st[i].u;
    } else {
      const double* c = coupling.data() + line_of(side, i, b) * w;
      double u = value_or(uinv, i, st[i].u);
      double ua = value_or(base, i, 0.0);
      for (std::size_t L = 1; L <= nsys; ++L) {
        u += c[L] * m[L];
        ua -= c[L] * d2[L];
      }
      finish(i, u, ua);
    }
    ++i;
  }
}

UePreview preview_ue(std::span<const BlStation> upper, std::span<const BlStation> lower, const SolveState& sol,
                     std::size_t b, DijView dij, std::span<const double> dij_rows,
                     std::span<const double> uinv_upper, std::span<const double> uinv_lower,
                     std::span<const double> base_upper, std::span<const double> base_lower,
                     NewtonObserver* observer, std::span<const double> coupling = {}) {
  const std::array<std::span<const BlStation>, 2> st{upper, lower};
  const std::array<std::span<const double>, 2> uinv{uinv_upper, uinv_lower};
  const std::array<std::span<const double>, 2> base{base_upper, base_lower};
  const bool by_rows = dij.data != nullptr && dij_rows.size() == dij.rows * dij.cols;

  // Sources: every station j >= 1 of both sides inside DIJ's columns, with
  // its current mass plus the solved change (column 1) and the change's
  // sensitivity (column 2); vti_j is +1 upper, -1 lower.
  struct Source {
    std::size_t panel;
    double vti;
    double m_new;
    double dm2;
  };
  std::vector<Source> sources;
  sources.reserve(upper.size() + lower.size());
  for (Side side : kBothSides) {
    const std::size_t s = side_index(side);
    for (std::size_t j = 1; j < st[s].size(); ++j) {
      const std::size_t pj = st[s][j].panel;
      if (pj >= dij.cols) continue;
      const std::size_t line = line_of(side, j, b);
      const bool solved = line >= 1 && line < sol.col1.size();
      const double dm1 = solved ? sol.col1[line][2] : 0.0;
      const double dm2 = solved && line < sol.col2.size() ? sol.col2[line][2] : 0.0;
      sources.push_back({pj, side == Side::Upper ? 1.0 : -1.0, st[s][j].mass + dm1, dm2});
    }
  }

  UePreview out;
  std::array<std::vector<double>*, 2> unew{&out.unew_upper, &out.unew_lower};
  std::array<std::vector<double>*, 2> uac{&out.u_ac_upper, &out.u_ac_lower};
  const std::size_t nsys = (upper.empty() ? 0 : upper.size() - 1) + (lower.empty() ? 0 : lower.size() - 1);
  if (!coupling.empty() && coupling.size() == (nsys + 1) * (nsys + 1) && b == (upper.empty() ? 1 : upper.size())) {
    // The masses by line, as the sources above carry them (0 for a station
    // outside DIJ's columns, whose couplings are 0).
    std::vector<double> m_new(nsys + 1, 0.0), dm2(nsys + 1, 0.0);
    for (Side side : kBothSides) {
      const std::size_t s = side_index(side);
      for (std::size_t j = 1; j < st[s].size(); ++j) {
        const std::size_t line = line_of(side, j, b);
        const bool solved = line >= 1 && line < sol.col1.size();
        m_new[line] = st[s][j].mass + (solved ? sol.col1[line][2] : 0.0);
        dm2[line] = solved && line < sol.col2.size() ? sol.col2[line][2] : 0.0;
      }
    }
    for (Side side : kBothSides) {
      const std::size_t s = side_index(side);
      unew[s]->assign(st[s].size(), 0.0);
      uac[s]->assign(st[s].size(), 0.0);
      if (!st[s].empty()) (*unew[s])[0] = st[s][0].u;
      preview_from_coupling(st[s], side, b, nsys, dij, coupling, uinv[s], base[s], m_new, dm2, *unew[s],
                            *uac[s], observer);
    }
    return out;
  }
  for (Side side : kBothSides) {
    const std::size_t s = side_index(side);
    const double vti = side == Side::Upper ? 1.0 : -1.0;
    unew[s]->assign(st[s].size(), 0.0);
    uac[s]->assign(st[s].size(), 0.0);
    if (!st[s].empty()) (*unew[s])[0] = st[s][0].u;
    for (std::size_t i = 1; i < st[s].size(); ++i) {
      const std::size_t pi = st[s][i].panel;
      if (pi >= dij.rows) {
        (*unew[s])[i] = st[s][i].u;
        continue;
      }
      double u = value_or(uinv[s], i, st[s][i].u);
      double ua = value_or(base[s], i, 0.0);
      const double* row = by_rows ? dij_rows.data() + pi * dij.cols : nullptr;
      for (const Source& src : sources) {
        const double d = row ? row[src.panel] : dij.at(pi, src.panel);
        const double sign = vti * src.vti;  // +1 for same side
        u -= sign * d * src.m_new;
        ua += sign * d * src.dm2;
      }
      (*unew[s])[i] = u;
      (*uac[s])[i] = ua;
      if (observer) observer->edge_speed_predicted(side, i, value_or(uinv[s], i, st[s][i].u), u, st[s][i].u);
    }
  }
  return out;
}

}  // namespace

UePreview preview_global_update_ue(std::span<const BlStation> upper, std::span<const BlStation> lower,
                                   const SolveState& sol, std::size_t b, DijView dij,
                                   std::span<const double> uinv_upper, std::span<const double> uinv_lower,
                                   std::span<const double> base_upper, std::span<const double> base_lower,
                                   NewtonObserver* observer) {
  return preview_ue(upper, lower, sol, b, dij, {}, uinv_upper, uinv_lower, base_upper, base_lower, observer);
}

std::vector<double> build_panel_values_from_surface_values(std::span<const BlStation> upper,
                                                           std::span<const BlStation> lower,
                                                           std::span<const double> values_upper,
                                                           std::span<const double> values_lower, std::size_t n) {
  std::vector<double> q(n, 0.0);
  for (Side side : kBothSides) {
    const std::span<const BlStation> st = side == Side::Upper ? upper : lower;
    const std::span<const double> v = side == Side::Upper ? values_upper : values_lower;
    const double sign = side == Side::Upper ? 1.0 : -1.0;
    for (std::size_t i = 0; i < st.size() && i < v.size(); ++i)
      if (!st[i].wake() && st[i].panel < n) q[st[i].panel] = sign * v[i];
  }
  if (n > 0) q[n - 1] = 0.0;
  return q;
}

void limit_displacement_thickness(BlStation& station, double msq) {
  const double hklim = station.wake() ? HK_LIMIT_WAKE : HK_LIMIT_AIRFOIL;
  const double th = std::max(station.theta, 1e-12);
  const KinematicShapeResult hk = kinematic_shape_parameter(station.dstar / th, msq);
  if (std::fabs(hk.hk_h) > 1e-12) station.dstar += th * std::max(hklim - hk.hk, 0.0) / hk.hk_h;
}

std::vector<double> flatten_surface_values(std::size_t nsys, std::size_t b, std::span<const double> upper,
                                           std::span<const double> lower) {
  std::vector<double> out(nsys + 1, 0.0);
  for (std::size_t i = 1; i < upper.size() && i <= nsys; ++i) out[i] = upper[i];
  for (std::size_t i = 1; i < lower.size(); ++i) {
    const std::size_t line = b + i - 1;
    if (line <= nsys) out[line] = lower[i];
  }
  return out;
}

namespace {

// Lift of the predicted speeds and its sensitivities to alpha (cl_a) and to
// the extra unknown (cl_ac).
void predicted_lift(std::span<const BlStation> upper, std::span<const BlStation> lower, const UePreview& pv,
                    const UpdateInputs& in, UpdateSummary& r) {
  const std::size_t n = std::min(in.x.size(), in.y.size());
  r.qnew = build_panel_values_from_surface_values(upper, lower, pv.unew_upper, pv.unew_lower, n);
  r.q_ac = build_panel_values_from_surface_values(upper, lower, pv.u_ac_upper, pv.u_ac_lower, n);
  r.cl_new = lift_of(in.x, in.y, r.qnew, in.alpha, in.mach);
  r.cl_a = (lift_of(in.x, in.y, r.qnew, in.alpha + 1e-6, in.mach) - lift_of(in.x, in.y, r.qnew, in.alpha - 1e-6, in.mach)) / 2e-6;
  const bool any_qac = std::any_of(r.q_ac.begin(), r.q_ac.end(), [](double v) { return v != 0.0; });
  if (any_qac) {
    std::vector<double> qp(std::min(r.qnew.size(), r.q_ac.size()));
    for (std::size_t i = 0; i < qp.size(); ++i) qp[i] = r.qnew[i] + 1e-6 * r.q_ac[i];
    r.cl_ac = (lift_of(in.x, in.y, qp, in.alpha, in.mach) - r.cl_new) / 1e-6;
  }
}

// Change of the extra unknown (dac) and the relaxation factor it allows.
double extra_unknown_change(const UpdateInputs& in, UpdateSummary& r) {
  double lo, hi;
  if (in.prescribed_cl) {
    const double den = r.cl_a + r.cl_ac;
    r.dac = std::fabs(den) >= 1e-12 ? std::clamp((r.cl_new - in.cl_spec) / -den, -kMaxAngleStep, kMaxAngleStep) : 0.0;
    lo = -kMaxAngleStep;
    hi = kMaxAngleStep;
  } else {
    const double den = 1.0 - r.cl_ac;
    r.dac = std::fabs(den) >= 1e-12 ? (r.cl_new - in.cl_current) / den : 0.0;
    lo = -0.5;
    hi = 0.5;
  }
  // A lift that cannot be evaluated (non-finite speeds) must not spread
  // into every station through dac * column 2.
  if (!std::isfinite(r.dac)) r.dac = 0.0;
  double rlx = 1.0;
  if (std::fabs(r.dac) > 1e-12) {
    double f = r.dac > hi ? hi / r.dac : 1.0;
    if (f * r.dac < lo) f = lo / r.dac;
    rlx = std::clamp(f, 0.0, 1.0);
  }
  return rlx;
}

// The changes of every station for the chosen dac, and one relaxation
// factor for all of them from limits on the normalised changes (starting
// from `rlx`); fills rlx, rms_change, max_change and limiter.
std::array<std::vector<StationChange>, 2> station_changes(const std::array<std::span<const BlStation>, 2>& sides,
                                                          const UePreview& pv, const SolveState& sol,
                                                          const UpdateInputs& in, double rlx, UpdateSummary& r) {
  std::array<const std::vector<double>*, 2> unew{&pv.unew_upper, &pv.unew_lower};
  std::array<const std::vector<double>*, 2> uac{&pv.u_ac_upper, &pv.u_ac_lower};
  std::array<std::vector<StationChange>, 2> changes;
  double sum = 0.0;
  std::size_t count = 0;
  double largest = 0.0;
  static constexpr const char* kVar[4] = {"ctau", "theta", "dstar", "Ue"};
  static constexpr const char* kDn[4] = {"dn1", "dn2", "dn3", "dn4"};
  for (Side side : kBothSides) {
    const std::size_t s = side_index(side);
    const std::span<const BlStation> st = sides[s];
    changes[s].assign(st.size(), StationChange{});
    for (std::size_t i = 1; i < st.size(); ++i) {
      const std::size_t line = line_of(side, i, in.b);
      if (line >= sol.col1.size()) continue;
      const BlStation& t = st[i];
      StationChange& c = changes[s][i];
      c.active = true;
      const Vec3 c2 = line < sol.col2.size() ? sol.col2[line] : Vec3{};
      c.d1 = sol.col1[line][0] - r.dac * c2[0];
      c.d_theta = sol.col1[line][1] - r.dac * c2[1];
      c.d_mass = sol.col1[line][2] - r.dac * c2[2];
      const double scale1 = t.laminar() ? 10.0 : (std::fabs(t.ctau) <= 1e-10 ? INITIAL_SHEAR : t.ctau);
      const double dn1 = c.d1 / scale1;
      const double un = i < unew[s]->size() ? (*unew[s])[i] : t.u;
      const double ua = i < uac[s]->size() ? (*uac[s])[i] : 0.0;
      c.du = un + r.dac * ua - t.u;
      c.dstar_t = t.wake() ? t.dstar + t.dw : t.dstar;
      const double dn2 = std::fabs(t.theta) <= 1e-12 ? 0.0 : c.d_theta / t.theta;
      const double d_dstar = (c.d_mass - c.du * c.dstar_t) / std::max(t.u, 1e-12);
      const double dn3 = std::fabs(c.dstar_t) <= 1e-12 ? 0.0 : d_dstar / c.dstar_t;
      const double dn4 = 4.0 * std::fabs(c.du);
      const double dn[4] = {dn1, dn2, dn3, dn4};
      for (int v = 0; v < 3; ++v) {
        if (rlx * dn[v] > kDhi) {
          rlx = kDhi / dn[v];
        } else if (rlx * dn[v] < kDlo) {
          rlx = kDlo / dn[v];
        } else {
          continue;
        }
        r.limiter = text::printf("%s station %zu %s (%s)", side_name(side), i, kVar[v], kDn[v]);
      }
      if (rlx * dn4 > 1.5) {
        rlx = 1.5 / dn4;
        r.limiter = text::printf("%s station %zu %s (%s)", side_name(side), i, kVar[3], kDn[3]);
      }
      sum += dn1 * dn1 + dn2 * dn2 + dn3 * dn3 + dn4 * dn4;
      ++count;
      for (double d : dn) largest = std::max(largest, std::fabs(d));
    }
  }
  rlx = std::clamp(rlx, 0.0, in.max_relaxation);  // a NaN rlx stays NaN and is caught below
  if (std::isnan(rlx)) rlx = 0.0;
  r.rlx = rlx;
  r.rms_change = count > 0 ? std::sqrt(sum / (4.0 * static_cast<double>(count))) : 0.0;
  r.max_change = largest;
  if (!(rlx < 0.99 * r.rlx_cl)) r.limiter.clear();
  return changes;
}

// Applies the relaxed change `c` to station `t`, with the minimum-shape-factor
// limiter. A change that is not finite (a NaN passes the limits untouched, an
// infinite one has set rlx to 0, and 0 * inf is NaN) would poison the
// station: such a station keeps its values and false is returned.
bool apply_change(BlStation& t, const StationChange& c, double rlx, double msq) {
  const double d_dstar = (c.d_mass - c.du * c.dstar_t) / t.u;  // old ue; stations carry ue >= 1e-9
  if (!std::isfinite(rlx * c.d1) || !std::isfinite(rlx * c.d_theta) || !std::isfinite(rlx * d_dstar) ||
      !std::isfinite(rlx * c.du))
    return false;
  if (t.laminar())
    t.ampl += rlx * c.d1;
  else
    t.ctau = std::min(t.ctau + rlx * c.d1, 0.25);
  t.theta += rlx * c.d_theta;
  t.u += rlx * c.du;
  // The limiter works on the thickness without the wake gap taken off
  // twice; the gap is added back once afterwards.
  t.dstar = c.dstar_t + rlx * d_dstar - t.dw - (t.wake() ? t.dw : 0.0);
  limit_displacement_thickness(t, msq);
  t.dstar += t.dw;
  t.h = std::fabs(t.theta) <= 1e-20 ? 2.0 : t.dstar / t.theta;
  t.mass = (t.wake() ? t.dstar + t.dw : t.dstar) * t.u;
  return true;
}

// Stores the updated primary variables of the first `stations.size()` rows:
// each station of the assembly with its relaxed change applied (station 0
// and stations without a change as they are). The rows take the values the
// stations carry, floors included; a wake row's displacement thickness and
// mass defect include its gap, an airfoil row carries none.
void store_updated_rows(std::vector<BlRow>& rows, std::span<const BlStation> stations,
                        std::span<const StationChange> changes, double rlx, double msq) {
  const std::size_t count = std::min(rows.size(), stations.size());
  for (std::size_t i = 0; i < count; ++i) {
    BlStation t = stations[i];
    if (i >= 1 && i < changes.size() && changes[i].active) apply_change(t, changes[i], rlx, msq);
    BlRow& row = rows[i];
    row.uedg = t.u;
    row.theta = t.theta;
    if (t.wake()) {
      row.dw = std::fmax(t.dw, 0.0);
      row.dstr = t.dstar + t.dw;
    } else {
      row.dw = 0.0;
      row.dstr = t.dstar;
    }
    row.ampl = t.ampl;
    row.ctau = t.ctau;
    // The mass defect as the secondary variables define it.
    row.mass = t.wake() ? t.u * (t.dstar + t.dw) : t.u * t.dstar;
    row.flow = t.flow;
  }
}

// The update before it is applied: the bookkeeping and the change of every
// station.
struct PlannedUpdate {
  UpdateSummary summary;
  std::array<std::vector<StationChange>, 2> changes;
};

PlannedUpdate plan_update(std::span<const BlStation> upper, std::span<const BlStation> lower, const SolveState& sol,
                          const UpdateInputs& in, NewtonObserver* observer) {
  PlannedUpdate p;
  UpdateSummary& r = p.summary;
  const UePreview pv = preview_ue(upper, lower, sol, in.b, in.dij, in.dij_rows, in.uinv_upper, in.uinv_lower,
                                  in.base_upper, in.base_lower, observer, in.coupling);
  predicted_lift(upper, lower, pv, in, r);
  r.rlx_cl = extra_unknown_change(in, r);

  // Normalised changes: one relaxation factor for every station.
  p.changes = station_changes({upper, lower}, pv, sol, in, r.rlx_cl, r);
  if (observer) observer->update_relaxed(r);

  r.unew_flat = flatten_surface_values(in.nsys, in.b, pv.unew_upper, pv.unew_lower);
  r.u_ac_flat = flatten_surface_values(in.nsys, in.b, pv.u_ac_upper, pv.u_ac_lower);
  return p;
}

}  // namespace

UpdateSummary apply_global_update(std::vector<BlRow>& upper_rows, std::vector<BlRow>& lower_rows,
                                  std::span<const BlStation> upper, std::span<const BlStation> lower,
                                  const SolveState& sol, const UpdateInputs& in, NewtonObserver* observer) {
  PlannedUpdate p = plan_update(upper, lower, sol, in, observer);
  store_updated_rows(upper_rows, upper, p.changes[0], p.summary.rlx, in.msq);
  store_updated_rows(lower_rows, lower, p.changes[1], p.summary.rlx, in.msq);
  return std::move(p.summary);
}

namespace {

// The edge-velocity couplings the assembly built for the stations of `ws`,
// when they are current for every line's node and side; else empty.
std::span<const double> assembled_coupling(const NewtonWorkspace& ws, const AssemblyState& a) {
  const std::size_t w = a.nsys + 1;
  if (!ws.coupling_current || ws.coupling.size() != w * w || ws.line_panel.size() != w || ws.line_sign.size() != w)
    return {};
  const std::size_t nu = ws.stations[0].size();
  for (std::size_t line = 1; line < w; ++line) {
    const bool upper = line < nu;
    const std::size_t i = upper ? line : line - (nu > 0 ? nu - 1 : 0);
    const auto& side = ws.stations[upper ? 0 : 1];
    if (i >= side.size() || ws.line_panel[line] != side[i].panel || ws.line_sign[line] != (upper ? 1.0 : -1.0))
      return {};
  }
  return ws.coupling;
}

// The update of the rows of `state` from the stations the assembly evaluated
// from them, with their inviscid edge velocities and sensitivities.
UpdateSummary update_rows(ViscousState& state, const AssemblyState& a, const SolveState& sol, double mach,
                          double re_eff, const std::array<std::vector<BlStation>, 2>& stations,
                          const std::array<std::vector<double>, 2>& uinv,
                          const std::array<std::vector<double>, 2>& base, std::span<const double> dij_rows,
                          std::span<const double> coupling, NewtonObserver* observer, double max_relaxation) {
  UpdateInputs in;
  in.prescribed_cl = state.mode == OperMode::PrescribedCl;
  in.cl_spec = state.cl_spec;
  in.cl_current = state.cl;
  in.alpha = state.alpha;
  in.mach = mach;
  in.x = state.x;
  in.y = state.y;
  in.dij = DijView{state.dij.data(), static_cast<std::size_t>(state.dij.rows()),
                   static_cast<std::size_t>(state.dij.cols())};
  in.dij_rows = dij_rows;
  in.coupling = coupling;
  in.uinv_upper = uinv[0];
  in.uinv_lower = uinv[1];
  in.base_upper = base[0];
  in.base_lower = base[1];
  in.nsys = a.nsys;
  in.b = a.lower_first_line();
  in.msq = mach * mach;
  in.re = re_eff;
  in.max_relaxation = max_relaxation;
  UpdateSummary r = apply_global_update(state.rows[0], state.rows[1], stations[0], stations[1], sol, in, observer);

  state.dac = r.dac;
  state.rlx = r.rlx;
  state.rms_change = r.rms_change;
  state.max_change = r.max_change;
  state.cl_new = r.cl_new;
  state.cl_a = r.cl_a;
  state.cl_ac = r.cl_ac;
  state.cl_spare = 0.0;
  state.qnew = r.qnew;
  state.q_ac = r.q_ac;
  state.unew_flat = r.unew_flat;
  state.u_ac_flat = r.u_ac_flat;
  state.residual = r.rms_change;  // replaced by the iteration's Newton residual
  return r;
}

}  // namespace

UpdateSummary update_state_from_solution(ViscousState& state, const AssemblyState& a, const SolveState& sol,
                                         double mach, double re_eff, NewtonObserver* observer,
                                         double max_relaxation) {
  std::array<std::vector<BlStation>, 2> stations;
  std::array<std::vector<double>, 2> uinv, base;
  evaluate_both_sides(state, mach * mach, re_eff, stations, uinv, base);
  return update_rows(state, a, sol, mach, re_eff, stations, uinv, base, {}, {}, observer, max_relaxation);
}

UpdateSummary update_state_from_solution(ViscousState& state, const AssemblyState& a, const SolveState& sol,
                                         double mach, double re_eff, const NewtonWorkspace& ws,
                                         NewtonObserver* observer, double max_relaxation) {
  return update_rows(state, a, sol, mach, re_eff, ws.stations, ws.uinv, ws.uinv_a, ws.dij_rows,
                     assembled_coupling(ws, a), observer, max_relaxation);
}

}  // namespace velaro
