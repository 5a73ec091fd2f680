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
#include "viscous/assembly.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "boundary_layer/interval_equations.h"
#include "boundary_layer/transition.h"
#include "viscous/march.h"
#include "viscous/newton_observer.h"
#include "viscous/state.h"
#include "viscous/station_evaluation.h"
#include "viscous/station_indexing.h"
#include "viscous/vector_clones.h"

namespace velaro {

namespace {

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

// -m/u^2: change of dstar (+gap) per unit change of u at fixed mass.
double dstar_per_u(const BlStation& s) { return -s.mass / (s.u * s.u); }

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
    // The forced transition point (trailing edge or trip) moves with the
    // stagnation point as the arc lengths of the stations do, so its column
    // joins the downstream arc-length column.
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
IntervalEquations interval_equations(std::span<const BlStation> st, std::size_t i, std::size_t iblte, double trip,
                                     double msq, double re, double ncrit, NewtonObserver* observer) {
  const BlStation& s2 = st[i];
  const FlowType flow2 = s2.flow;
  if (i == 1) {
    const IntervalEquations eq = similarity_station_equations(s2, flow2, msq);
    if (observer) observer->interval_evaluated(s2, s2, flow2, eq, nullptr);
    return eq;
  }
  const BlStation& s1 = st[i - 1];
  if (s1.laminar() && flow2 == FlowType::Turbulent) {
    // Transition interval; transition is forced at the trip, and at the TE
    // at the latest.
    const bool te_exists = iblte < st.size();
    const ForcedTransition forced = forced_transition_point(te_exists, te_exists ? st[iblte].x : 0.0, trip);
    const TransitionResult tr =
        check_interval_for_transition(forced.enabled, s1.x, s2.x, s1.theta, s2.theta, s1.dstar, s2.dstar, s1.u, s2.u, s1.hk, s2.hk,
                     s1.r_theta, s2.r_theta, s1.ampl, ncrit, forced.x, msq, re);
    const IntervalEquations eq = transition_interval_equations(s1, s2, tr, ncrit, msq, re);
    if (observer) observer->interval_evaluated(s1, s2, flow2, eq, &tr);
    return eq;
  }
  const IntervalEquations eq = interval_equations(s1, s2, flow2, false, msq, ncrit).eq;
  if (observer) observer->interval_evaluated(s1, s2, flow2, eq, nullptr);
  return eq;
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

namespace {

// DIJ copied row by row: the sums over mass sources run along a row of DIJ,
// which the column-major matrix holds one column length apart.
struct DijRows {
  std::span<const double> data;  // data[i * cols + j] = DIJ(i, j)
  std::size_t rows = 0;
  std::size_t cols = 0;
  const double* row(std::size_t i) const { return data.data() + i * cols; }
};

DijRows copy_by_rows(DijView dij, std::vector<double>& out) {
  if (dij.data == nullptr) return {};
  out.resize(dij.rows * dij.cols);
  // In tiles, so that both matrices are walked through whole cache lines.
  constexpr std::size_t kTile = 16;
  for (std::size_t j0 = 0; j0 < dij.cols; j0 += kTile)
    for (std::size_t i0 = 0; i0 < dij.rows; i0 += kTile)
      for (std::size_t j = j0; j < std::min(j0 + kTile, dij.cols); ++j)
        for (std::size_t i = i0; i < std::min(i0 + kTile, dij.rows); ++i) out[i * dij.cols + j] = dij.data[j * dij.rows + i];
  return {out, dij.rows, dij.cols};
}

// Mass-implied edge velocities of every station of `side` into `ue`, with
// `sources` as scratch: coupled_uedg of every station, reading DIJ from its
// row-by-row copy.
void ue_from_mass(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij, const DijRows& by_rows,
                  Side side, std::vector<MassSource>& sources, std::vector<double>& ue, NewtonObserver* observer) {
  const SurfaceInput& target = side == Side::Upper ? upper : lower;
  const double vti_i = side_sign(side);
  sources.clear();
  sources.reserve(upper.stations.size() + lower.stations.size());
  for (Side s : kBothSides) {
    const SurfaceInput& src = s == Side::Upper ? upper : lower;
    for (std::size_t j = 1; j < src.stations.size(); ++j)
      if (src.stations[j].panel < by_rows.cols)
        sources.push_back({side_sign(s), src.stations[j].panel, src.stations[j].mass});
  }
  ue.assign(target.stations.size(), 0.0);
  for (std::size_t i = 0; i < ue.size(); ++i) {
    const double uinv = i < target.uinv.size() ? target.uinv[i] : 0.0;
    const std::size_t pi = target.stations[i].panel;
    double sum = 0.0;
    if (pi < by_rows.rows) {
      const double* d = by_rows.row(pi);
      for (const MassSource& src : sources) sum += src.vti * d[src.panel] * src.mass;
    }
    ue[i] = uinv - vti_i * sum;
  }
  if (observer) observer->mass_implied_speeds(upper, lower, dij, side, ue);
}

}  // namespace

std::vector<double> compute_ue_from_mass_both(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                              Side side, NewtonObserver* observer) {
  std::vector<double> by_rows, ue;
  std::vector<MassSource> sources;
  ue_from_mass(upper, lower, dij, copy_by_rows(dij, by_rows), side, sources, ue, observer);
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

namespace {

// out[L] = finite_or_zero(a D1[L] + b U1[L] + c D2[L] + d U2[L] + e XS[L]) for
// L = from .. to: one equation's couplings to every mass.
VELARO_VECTOR_CLONES void combine_coupling_columns(double* __restrict out, const double* __restrict d1,
                                                   const double* __restrict u1, const double* __restrict d2,
                                                   const double* __restrict u2, const double* __restrict xs,
                                                   double a, double b, double c, double d, double e, std::size_t from,
                                                   std::size_t to) {
  for (std::size_t L = from; L <= to; ++L) {
    const double v = a * d1[L] + b * u1[L] + c * d2[L] + d * u2[L] + e * xs[L];
    out[L] = std::isfinite(v) ? v : 0.0;
  }
}

// One system line while it is assembled: its station, the upstream station
// (or the trailing-edge junction) and the coefficients of its equations.
struct LineInProgress {
  Side side = Side::Upper;
  std::size_t i = 0;   // station index on its side
  std::size_t iv = 0;  // system line
  bool junction = false;  // the first wake line, fed by both trailing-edge stations
  bool first = false;     // the first station of its side: no upstream station
  const BlStation* s1 = nullptr;
  const BlStation* s2 = nullptr;
  double d1u = 0.0, d2u = 0.0;  // dstar change per unit u at fixed mass, upstream and own
  Vec3 xsum{};                  // combined arc-length column with the side's sign
  LineCoefficients c;
};

// The assembly of one system from the stations of both sides.
class SystemBuilder {
 public:
  SystemBuilder(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij, DijRows dij_rows, double msq,
                double re, double ncrit, NewtonObserver* observer, NewtonWorkspace& ws)
      : upper_(upper), lower_(lower), dij_(dij), dij_rows_(dij_rows), msq_(msq), re_(re),
        ncrit_(ncrit), observer_(observer), sys_(ws.system), a_(ws.system.a), lines_u_(ws.system.a.lower_offset),
        w_(ws.system.a.nsys + 1), sources_(ws.sources), ue_mass_(ws.ue_mass), due_(ws.due), cpl_(ws.coupling),
        panel_(ws.line_panel), sign_(ws.line_sign), coupling_current_(ws.coupling_current), xs_(ws.coupling_xs),
        d1_(ws.coupling_d1), d2_(ws.coupling_d2), mass_(ws.line_mass) {}

  void run();

 private:
  const SurfaceInput& side_input(Side side) const { return side == Side::Upper ? upper_ : lower_; }
  std::size_t line_of(Side side, std::size_t i) const { return side == Side::Upper ? i : lines_u_ + i; }
  const BlStation& station_of(std::size_t line) const {
    return line <= lines_u_ ? upper_.stations[line] : lower_.stations[line - lines_u_];
  }
  // Row of cpl_ of system line `line`.
  const double* coupling_row(std::size_t line) const { return cpl_.data() + line * w_; }

  void mass_implied_speeds(Side side);
  void edge_speed_offsets();
  void edge_speed_coupling();
  LineInProgress line_coefficients(Side side, std::size_t i) const;
  void mass_coupling_row(const LineInProgress& l);
  void extra_unknown_column(const LineInProgress& l);
  void forced_change(const LineInProgress& l);

  const SurfaceInput& upper_;
  const SurfaceInput& lower_;
  DijView dij_;
  DijRows dij_rows_;
  double msq_, re_, ncrit_;
  NewtonObserver* observer_;
  GlobalNewtonSystem& sys_;
  AssemblyState& a_;
  std::size_t lines_u_;
  std::size_t w_;

  // Scratch of the mass-implied edge velocities.
  std::vector<MassSource>& sources_;
  std::vector<double>& ue_mass_;
  // Offsets of the current edge velocities from the mass-implied ones.
  std::array<std::vector<double>, 2>& due_;
  // Edge-velocity sensitivity of the station of every line to every mass
  // unknown, cpl_[line * w + L]; line 0 (the stagnation point) stays zero.
  std::vector<double>& cpl_;
  std::vector<std::size_t>& panel_;
  std::vector<double>& sign_;
  bool& coupling_current_;
  // Per mass: the arc-length change of every station, and a line's changes
  // of its upstream and own displacement thickness.
  std::vector<double>& xs_;
  std::vector<double>& d1_;
  std::vector<double>& d2_;
  std::vector<double>& mass_;  // mass defect of every line's station
  TeWakeTerms te_;
  bool has_junction_ = false;
  std::size_t lower_te_line_ = 0;
  // The line whose own displacement-thickness changes d2_ holds (0: none).
  std::size_t d2_line_ = 0;
};

// The mass-implied edge velocity of every station (as ue_from_mass gives
// it), from the coupling rows: for the station of line i,
// ue = uinv + sum over L of cpl[i][L] m_L, in the order of the lines. Each
// term is the negative of ue_from_mass's vti_j DIJ m_j times vti_i (the signs
// are exact), so the sum is its negative times vti_i, to the bit. Rows are
// taken four at a time: their sums are independent, and the processor
// overlaps them instead of waiting on one chain of additions.
void SystemBuilder::mass_implied_speeds(Side side) {
  const SurfaceInput& in = side_input(side);
  const std::size_t count = in.stations.size();
  const std::size_t nsys = a_.nsys;
  const double* m = mass_.data();
  ue_mass_.assign(count, 0.0);
  auto uinv = [&](std::size_t i) { return i < in.uinv.size() ? in.uinv[i] : 0.0; };
  // The stagnation station has no line: its sum is formed as ue_from_mass
  // forms it.
  if (count > 0) {
    double sum = 0.0;
    const std::size_t pi = in.stations[0].panel;
    if (pi < dij_rows_.rows) {
      const double* d = dij_rows_.row(pi);
      for (std::size_t L = 1; L <= nsys; ++L)
        if (panel_[L] < dij_rows_.cols) sum += sign_[L] * d[panel_[L]] * m[L];
    }
    ue_mass_[0] = uinv(0) - side_sign(side) * sum;
  }
  std::size_t i = 1;
  for (; i + 4 <= count; i += 4) {
    const double* c0 = coupling_row(line_of(side, i));
    const double* c1 = coupling_row(line_of(side, i + 1));
    const double* c2 = coupling_row(line_of(side, i + 2));
    const double* c3 = coupling_row(line_of(side, i + 3));
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (std::size_t L = 1; L <= nsys; ++L) {
      const double mL = m[L];
      s0 += c0[L] * mL;
      s1 += c1[L] * mL;
      s2 += c2[L] * mL;
      s3 += c3[L] * mL;
    }
    ue_mass_[i] = uinv(i) + s0;
    ue_mass_[i + 1] = uinv(i + 1) + s1;
    ue_mass_[i + 2] = uinv(i + 2) + s2;
    ue_mass_[i + 3] = uinv(i + 3) + s3;
  }
  for (; i < count; ++i) {
    const double* c = coupling_row(line_of(side, i));
    double sum = 0.0;
    for (std::size_t L = 1; L <= nsys; ++L) sum += c[L] * m[L];
    ue_mass_[i] = uinv(i) + sum;
  }
  if (observer_) observer_->mass_implied_speeds(upper_, lower_, dij_, side, ue_mass_);
}

void SystemBuilder::edge_speed_offsets() {
  mass_.resize(w_);
  mass_[0] = 0.0;
  for (std::size_t line = 1; line < w_; ++line) mass_[line] = station_of(line).mass;
  for (Side side : kBothSides) {
    mass_implied_speeds(side);
    const std::vector<double>& ue_mass = ue_mass_;
    std::vector<double>& due = due_[side_index(side)];
    due.resize(ue_mass.size());
    for (std::size_t i = 0; i < ue_mass.size(); ++i) due[i] = side_input(side).stations[i].u - ue_mass[i];
    if (observer_) observer_->edge_speed_offsets(side, side_input(side).stations, ue_mass, due);
  }
}

void SystemBuilder::edge_speed_coupling() {
  const std::size_t nsys = a_.nsys;
  // The coupling depends on DIJ and on the node and side of every line's
  // station alone. DIJ stays the same through the iterations of a point, and
  // so do the nodes unless the stagnation point moves to another panel: the
  // array built on an earlier iteration then holds every entry already.
  bool same = coupling_current_ && cpl_.size() == w_ * w_ && panel_.size() == w_ && sign_.size() == w_;
  panel_.resize(w_);
  sign_.resize(w_);
  for (std::size_t line = 1; line <= nsys; ++line) {
    const std::size_t pi = station_of(line).panel;
    const double si = line <= lines_u_ ? 1.0 : -1.0;
    if (panel_[line] != pi || sign_[line] != si) {
      same = false;
      panel_[line] = pi;
      sign_[line] = si;
    }
  }
  coupling_current_ = true;
  if (same) return;
  // Every entry is written exactly once below (zero where a line or a mass
  // has no node in the matrix), so the array is not cleared first.
  cpl_.resize(w_ * w_);
  std::fill_n(cpl_.begin(), w_, 0.0);
  for (std::size_t line = 1; line <= nsys; ++line) {
    double* out = cpl_.data() + line * w_;
    const std::size_t pi = panel_[line];
    if (pi >= dij_rows_.rows) {
      std::fill_n(out, w_, 0.0);
      continue;
    }
    const double* d = dij_rows_.row(pi);
    const double vi = sign_[line];
    out[0] = 0.0;
    for (std::size_t L = 1; L <= nsys; ++L) {
      const std::size_t pj = panel_[L];
      out[L] = pj < dij_rows_.cols ? -vi * sign_[L] * d[pj] : 0.0;
    }
  }
}

LineInProgress SystemBuilder::line_coefficients(Side side, std::size_t i) const {
  const SurfaceInput& in = side_input(side);
  const std::span<const BlStation> st = in.stations;
  LineInProgress l;
  l.side = side;
  l.i = i;
  l.iv = line_of(side, i);
  l.junction = side == Side::Lower && has_junction_ && l.iv == a_.ivz;
  l.first = i == 1;
  l.s1 = &st[i - 1];
  l.s2 = &st[i];
  l.c = l.junction ? from_junction(te_, st[i])
                   : from_interval(interval_equations(st, i, in.iblte, in.trip, msq_, re_, ncrit_, observer_));
  l.d2u = dstar_per_u(*l.s2);
  l.d1u = l.first ? 0.0 : dstar_per_u(*l.s1);
  const double sigma = side == Side::Upper ? 1.0 : -1.0;
  for (int k = 0; k < 3; ++k) l.xsum[k] = sigma * (l.c.vs1_x[k] + l.c.vs2_x[k]);
  return l;
}

// Derivatives of the line's equations with respect to every mass unknown,
// through the edge velocities, the displacement thicknesses and the arc
// lengths (which move with the stagnation point).
void SystemBuilder::mass_coupling_row(const LineInProgress& l) {
  const LineCoefficients& c = l.c;
  const BlStation& s1 = *l.s1;
  const BlStation& s2 = *l.s2;
  const std::size_t iv = l.iv;
  const std::size_t nsys = a_.nsys;
  // Per mass L: the changes of the upstream dstar (D1) and u (U1) and of the
  // own dstar (D2) and u (U2); the arc-length term (xs_) is common to all
  // lines.
  const double* u2m = coupling_row(iv);
  const double* zero = coupling_row(0);
  const double* u1 = zero;
  const double* d1 = zero;
  if (!l.junction && !l.first && d2_line_ == iv - 1) {
    // The upstream station is the previous line's own station: its changes
    // are that line's own changes, already at hand (the same products).
    u1 = coupling_row(iv - 1);
    std::swap(d1_, d2_);
    d1 = d1_.data();
  } else if (l.junction) {
    double* w = d1_.data();
    const double* ute1 = coupling_row(a_.ivte1);
    const double* ute2 = coupling_row(lower_te_line_);
    for (std::size_t L = 1; L <= nsys; ++L) w[L] = te_.dte_u_up * ute1[L] + te_.dte_u_lo * ute2[L];
    if (a_.ivte1 >= 1 && a_.ivte1 <= nsys) w[a_.ivte1] += te_.dte_m_up;
    if (lower_te_line_ >= 1 && lower_te_line_ <= nsys) w[lower_te_line_] += te_.dte_m_lo;
    d1 = w;
  } else if (!l.first) {
    double* w = d1_.data();
    u1 = coupling_row(iv - 1);
    // "+ 0.0" as for every mass but the own: the same arithmetic as the
    // single expression this replaces, signed zeros included.
    for (std::size_t L = 1; L <= nsys; ++L) w[L] = l.d1u * u1[L] + 0.0;
    w[iv - 1] = l.d1u * u1[iv - 1] + 1.0 / s1.u;
    d1 = w;
  }
  double* d2 = d2_.data();
  for (std::size_t L = 1; L <= nsys; ++L) d2[L] = l.d2u * u2m[L] + 0.0;
  d2[iv] = l.d2u * u2m[iv] + 1.0 / s2.u;
  d2_line_ = iv;
  for (std::size_t k = 0; k < 3; ++k)
    combine_coupling_columns(&a_.vm_at(iv, 0, k), d1, u1, d2, u2m, xs_.data(), c.vs1_dstar[k], c.vs1_u[k],
                             c.vs2_dstar[k], c.vs2_u[k], l.xsum[k], 1, nsys);
}

// Sensitivity of the line to the extra global unknown (the inviscid edge
// velocities change with it).
void SystemBuilder::extra_unknown_column(const LineInProgress& l) {
  const LineCoefficients& c = l.c;
  const SurfaceInput& in = side_input(l.side);
  const std::size_t i = l.i;
  const std::size_t nu = upper_.stations.size();
  const std::size_t nl = lower_.stations.size();
  const double ua1 = upper_.uinv_a.size() >= 2 && nu >= 2 ? upper_.uinv_a[1] : 0.0;
  const double ua2 = lower_.uinv_a.size() >= 2 && nl >= 2 ? lower_.uinv_a[1] : 0.0;
  const double u2a = i < in.uinv_a.size() ? in.uinv_a[i] : 0.0;
  const double d2 = std::fabs(l.s2->u) <= 1e-20 ? 0.0 : l.d2u;
  double u1a = 0.0, dds1_a = 0.0;
  if (l.junction) {
    const double uate = a_.ivte1 < upper_.uinv_a.size() ? upper_.uinv_a[a_.ivte1] : 0.0;
    const double lote = lower_.iblte < lower_.uinv_a.size() ? lower_.uinv_a[lower_.iblte] : 0.0;
    dds1_a = te_.dte_u_up * uate + te_.dte_u_lo * lote;
  } else if (!l.first) {
    u1a = i - 1 < in.uinv_a.size() ? in.uinv_a[i - 1] : 0.0;
    dds1_a = (std::fabs(l.s1->u) <= 1e-20 ? 0.0 : l.d1u) * u1a;
  }
  const double xs = sys_.xi_ule1 * ua1 - sys_.xi_ule2 * ua2;
  for (int k = 0; k < 3; ++k)
    a_.vdel2[l.iv][k] = finite_or_zero(c.vs1_u[k] * u1a + c.vs1_dstar[k] * dds1_a + c.vs2_u[k] * u2a +
                                       c.vs2_dstar[k] * d2 * u2a + l.xsum[k] * xs);
}

// Forced changes: the residual is taken at the mass-implied edge
// velocities, linearised from the current ones.
void SystemBuilder::forced_change(const LineInProgress& l) {
  const LineCoefficients& c = l.c;
  const std::vector<double>& due = due_[side_index(l.side)];
  const std::size_t i = l.i;
  const std::size_t nu = upper_.stations.size();
  const std::size_t nl = lower_.stations.size();
  const double dule1 = nu >= 2 ? due_[0][1] : 0.0;
  const double dule2 = nl >= 2 ? due_[1][1] : 0.0;
  const double due2 = due[i];
  const double dds2 = l.d2u * due2;
  double due1 = 0.0, dds1 = 0.0;
  if (l.junction) {
    const double due_up = a_.ivte1 < due_[0].size() ? due_[0][a_.ivte1] : 0.0;
    const double due_lo = lower_.iblte < due_[1].size() ? due_[1][lower_.iblte] : 0.0;
    dds1 = te_.dte_u_up * due_up + te_.dte_u_lo * due_lo;
  } else if (!l.first) {
    due1 = due[i - 1];
    dds1 = l.d1u * due1;
  }
  const double xs = sys_.xi_ule1 * dule1 - sys_.xi_ule2 * dule2;
  Vec3 fc;
  for (int k = 0; k < 3; ++k) {
    fc[k] = c.vs1_dstar[k] * dds1 + c.vs1_u[k] * due1 + c.vs2_dstar[k] * dds2 + c.vs2_u[k] * due2 + l.xsum[k] * xs;
    a_.vdel1[l.iv][k] = finite_or_zero(c.vsrez[k] + finite_or_zero(fc[k]));
  }
  if (observer_)
    observer_->forced_change({l.side, i, l.first, due1, due2, dds1, dds2, l.first ? 0.0 : due[i - 1],
                              l.first ? 0.0 : l.s1->u, l.s2->u, fc, c.vs1_u, c.vs2_u, l.xsum, xs});
}

void SystemBuilder::run() {
  edge_speed_coupling();
  edge_speed_offsets();
  // The first station of each side carries the stagnation point's movement,
  // and with it the arc length of every station.
  {
    const double* ule1 = coupling_row(upper_.stations.size() >= 2 ? 1 : 0);
    const double* ule2 = coupling_row(lower_.stations.size() >= 2 ? lines_u_ + 1 : 0);
    xs_.assign(w_, 0.0);
    for (std::size_t L = 1; L < w_; ++L) xs_[L] = sys_.xi_ule1 * ule1[L] - sys_.xi_ule2 * ule2[L];
    d1_.assign(w_, 0.0);
    d2_.assign(w_, 0.0);
  }

  has_junction_ = te_wake_terms(sys_, upper_, lower_, te_) && a_.ivz <= a_.nsys;
  lower_te_line_ = lines_u_ + lower_.iblte;
  if (observer_ && has_junction_)
    observer_->junction_formed(a_.ivz, lower_.iblte, upper_.stations[a_.ivte1], lower_.stations[lower_.iblte], te_);

  for (Side side : kBothSides) {
    for (std::size_t i = 1; i < side_input(side).stations.size(); ++i) {
      const LineInProgress l = line_coefficients(side, i);
      const std::size_t iv = l.iv;
      a_.va[iv] = l.c.va;
      a_.vb[iv] = l.c.vb;
      a_.vs1_dstar[iv] = l.c.vs1_dstar;
      a_.vs1_u[iv] = l.c.vs1_u;
      a_.vs1_x[iv] = l.c.vs1_x;
      a_.vs2_dstar[iv] = l.c.vs2_dstar;
      a_.vs2_u[iv] = l.c.vs2_u;
      a_.vs2_x[iv] = l.c.vs2_x;
      if (observer_) {
        const BlStation& s1 = *l.s1;
        const BlStation& s2 = *l.s2;
        const bool transition = i > 1 && !l.junction && s1.laminar() && !s2.laminar() && !s2.wake();
        observer_->line_equations(side, i, iv, transition, l.c, s2);
      }
      mass_coupling_row(l);
      extra_unknown_column(l);
      forced_change(l);
    }
  }

  if (has_junction_) {
    a_.vz[0][0] = finite_or_zero(-te_.cte_s_up);
    a_.vz[0][1] = finite_or_zero(-te_.cte_th_up);
    a_.vz[1][1] = -1.0;
  }
  if (observer_) observer_->system_assembled(a_);
}

// build_global_system with DIJ's row-by-row copy at hand.
void build_system(NewtonWorkspace& ws, const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                  DijRows dij_rows, double ante, double xi_ule1, double xi_ule2, double msq, double re, double ncrit,
                  NewtonObserver* observer) {
  const std::size_t nu = upper.stations.size();
  const std::size_t nl = lower.stations.size();
  const std::size_t lines_u = nu > 0 ? nu - 1 : 0;
  const std::size_t lines_l = nl > 0 ? nl - 1 : 0;

  GlobalNewtonSystem& sys = ws.system;
  AssemblyState& a = sys.a;
  // The lines below write every mass coupling of lines 1.. at columns 1..,
  // so those keep their old values until then.
  a.resize_for_assembly(lines_u + lines_l);
  a.full_vm.reset();
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
  if (nsys == 0) return;
  SystemBuilder(upper, lower, dij, dij_rows, msq, re, ncrit, observer, ws).run();
}

}  // namespace

void build_global_system(NewtonWorkspace& ws, const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                         double ante, double xi_ule1, double xi_ule2, double msq, double re, double ncrit,
                         NewtonObserver* observer) {
  const DijRows rows = copy_by_rows(dij, ws.dij_rows);
  ws.dij_rows_of = nullptr;  // not known to stay the same until the next call
  ws.coupling_current = false;
  build_system(ws, upper, lower, dij, rows, ante, xi_ule1, xi_ule2, msq, re, ncrit, observer);
}

GlobalNewtonSystem build_global_system(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                       double ante, double xi_ule1, double xi_ule2, double msq, double re,
                                       double ncrit, NewtonObserver* observer) {
  NewtonWorkspace ws;
  build_global_system(ws, upper, lower, dij, ante, xi_ule1, xi_ule2, msq, re, ncrit, observer);
  return std::move(ws.system);
}

AssemblyState assemble_newton_system(ViscousState& state, unsigned iteration, double re_eff, double ncrit, double mach,
                    NewtonObserver* observer) {
  NewtonWorkspace ws;
  assemble_newton_system(state, iteration, re_eff, ncrit, mach, ws, observer);
  return std::move(ws.system.a);
}

void assemble_newton_system(ViscousState& state, unsigned iteration, double re_eff, double ncrit, double mach,
                            NewtonWorkspace& ws, NewtonObserver* observer) {
  const double msq = mach * mach;
  std::vector<BlRow>& upper_rows = state.rows[0];
  std::vector<BlRow>& lower_rows = state.rows[1];

  // 1. Marching: the direct march creates the boundary layer once; the mixed
  // march re-establishes the transition points on every call. The upper side
  // goes first so that the lower side's wake starts from its TE values.
  const std::array<double, 2> trip{trip_arc_length(state, Side::Upper), trip_arc_length(state, Side::Lower)};
  if (!state.bl_initialised) {
    const MarchResult mu = march_direct_side(Side::Upper, upper_rows, upper_rows.size(), state.nbl[0], state.iblte[0],
                                         te_values_of(lower_rows, state.iblte[1]), state.ante, re_eff, ncrit, msq,
                                         nullptr, trip[0]);
    state.first_turbulent_row[0] = mu.first_turbulent_row;
    state.xssitr[0] = mu.xssitr;
    const MarchResult ml = march_direct_side(Side::Lower, lower_rows, lower_rows.size(), state.nbl[1], state.iblte[1],
                                         te_values_of(upper_rows, state.iblte[0]), state.ante, re_eff, ncrit, msq,
                                         nullptr, trip[1]);
    state.first_turbulent_row[1] = ml.first_turbulent_row;
    state.xssitr[1] = ml.xssitr;
    state.bl_initialised = true;
    if (observer) observer->direct_march_done(state);
  }
  {
    const MarchResult mu =
        march_mixed_side(Side::Upper, upper_rows, upper_rows.size(), state.nbl[0], state.ante, re_eff, ncrit, state.iblte[0],
                      te_values_of(lower_rows, state.iblte[1]), state.first_turbulent_row[0], msq, nullptr,
                      trip[0]);
    state.first_turbulent_row[0] = mu.first_turbulent_row;
    state.xssitr[0] = mu.xssitr;
    const MarchResult ml =
        march_mixed_side(Side::Lower, lower_rows, lower_rows.size(), state.nbl[1], state.ante, re_eff, ncrit, state.iblte[1],
                      te_values_of(upper_rows, state.iblte[0]), state.first_turbulent_row[1], msq, nullptr,
                      trip[1]);
    state.first_turbulent_row[1] = ml.first_turbulent_row;
    state.xssitr[1] = ml.xssitr;
  }

  // 2. Mass defects from the marched rows.
  recompute_mass_from_state(state);

  // 3. Stations of both sides at the operating point's Mach number.
  std::array<std::vector<BlStation>, 2>& stations = ws.stations;
  std::array<std::vector<double>, 2>& uinv = ws.uinv;
  std::array<std::vector<double>, 2>& uinv_a = ws.uinv_a;
  evaluate_both_sides(state, msq, re_eff, stations, uinv, uinv_a);

  const DijView dij{state.dij.data(), static_cast<std::size_t>(state.dij.rows()),
                    static_cast<std::size_t>(state.dij.cols())};
  if (observer) observer->stations_prepared(state, stations, iteration, dij);

  // 4. The system. The edge velocities implied by the masses enter through
  // their differences from the current ones.
  const SurfaceInput upper{stations[0], uinv[0], uinv_a[0], state.iblte[0], trip[0]};
  const SurfaceInput lower{stations[1], uinv[1], uinv_a[1], state.iblte[1], trip[1]};
  // DIJ changes only when the wake is laid again, between operating points:
  // its row-by-row copy is made on the first iteration of a point and kept.
  if (iteration <= 1 || ws.dij_rows_of != dij.data || ws.dij_rows.size() != dij.rows * dij.cols) {
    copy_by_rows(dij, ws.dij_rows);
    ws.dij_rows_of = dij.data;
    ws.coupling_current = false;
  }
  const DijRows dij_rows = dij.data ? DijRows{ws.dij_rows, dij.rows, dij.cols} : DijRows{};
  build_system(ws, upper, lower, dij, dij_rows, state.ante, state.sst_go, state.sst_gp, msq, re_eff, ncrit, observer);
  if (observer && observer->keeps_dense_mass_coupling()) {
    AssemblyState& a = ws.system.a;
    std::vector<std::vector<Vec3>> full(a.nsys + 1, std::vector<Vec3>(a.nsys + 1));
    for (std::size_t iv = 0; iv <= a.nsys; ++iv)
      for (std::size_t L = 0; L <= a.nsys; ++L) full[iv][L] = {a.vm_at(iv, L, 0), a.vm_at(iv, L, 1), a.vm_at(iv, L, 2)};
    a.full_vm = std::move(full);
  }
}

}  // namespace velaro
