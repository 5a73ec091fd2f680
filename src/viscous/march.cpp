#include "viscous/march.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>

#include "boundary_layer/closures.h"
#include "boundary_layer/interval_equations.h"
#include "boundary_layer/transition.h"
#include "viscous/gauss4.h"

namespace velaro {

namespace {

constexpr int kMaxStationIterations = 25;
constexpr double kUeTolerance = 1e-5;        // direct march, largest normalised change
constexpr double kDuTolerance = 5e-6;        // mixed march
constexpr double kRelaxThreshold = 0.3;      // largest normalised change per step
constexpr double kAcceptUnconverged = 0.1;   // keep an unconverged iterate up to this change
constexpr double kCtauMin = 1e-7;
constexpr double kCtauMax = 0.3;
constexpr double kCtauAfterFailure = 0.05;
constexpr double kHkMaxLaminar = 3.8;        // direct mode limit, laminar
constexpr double kHkMaxTurbulent = 2.5;      // direct mode limit, turbulent and wake
constexpr double kHkGrowthLaminar = 0.03;    // inverse-mode targets
constexpr double kHkDecayTurbulent = 0.15;
constexpr double kHkFloorWakeTarget = 1.01;
constexpr double kUeHkWeight = 1000.0;       // mixed-mode Ue-Hk sensitivity weight

double hk_limit(bool wake) { return wake ? HK_LIMIT_WAKE : HK_LIMIT_AIRFOIL; }

// Flow type of row r for the side's first turbulent row.
FlowType station_flow(std::size_t r, std::size_t first_turbulent, std::size_t iblte) {
  if (r > iblte) return FlowType::Wake;
  if (r >= first_turbulent) return FlowType::Turbulent;
  return FlowType::Laminar;
}

bool all_finite(std::initializer_list<double> values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

// Combined values of the two trailing-edge rows that start the wake.
struct TeMerge {
  double tte = 0.0;  // momentum thickness
  double dte = 0.0;  // displacement thickness including the TE gap
  double cte = INITIAL_SHEAR;  // momentum-weighted shear variable
};

TeMerge merge_te(const TeValues& self, const TeValues& other, double ante) {
  TeMerge m;
  m.tte = self.theta + other.theta;
  m.dte = self.dstr + other.dstr + ante;
  m.cte = m.tte > 0.0 ? (self.ctau * self.theta + other.ctau * other.theta) / m.tte : INITIAL_SHEAR;
  return m;
}

// Raises dstar so that the kinematic shape factor of the layer (without the
// wake gap) is at least the limit of the airfoil or the wake.
void limit_dstar(double& dstar, double theta, double dsw, bool wake, double msq) {
  const double th = std::max(theta, 1e-12);
  const KinematicShapeResult k = kinematic_shape_parameter((dstar - dsw) / th, msq);
  dstar = dsw + (dstar - dsw) + std::max(hk_limit(wake) - k.hk, 0.0) / std::max(k.hk_h, 1e-12) * th;
}

// The primary values of the station being solved. dstar includes the wake
// gap dsw on wake rows.
struct Working {
  double xi = 0.0;
  double ue = 0.0;
  double theta = 0.0;
  double dstar = 0.0;
  double ctau = INITIAL_SHEAR;
  double ampl = 0.0;
  double dsw = 0.0;
};

BlStation build(FlowType flow, const Working& w, double re, double msq) {
  return build_and_fill_station(flow, w.xi, w.ue, w.theta, w.dstar - w.dsw, w.dsw, w.ctau, w.ampl, re, msq);
}

// The three boundary-layer equations of a station as rows of the 4x4 system
// (columns: first variable, theta, dstar, ue) with their right-hand sides.
struct StationRows {
  std::array<std::array<double, 4>, 3> a{};
  std::array<double, 3> rhs{};
};

StationRows from_interval(const IntervalEquations& eq) {
  StationRows s;
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 4; ++j) s.a[k][j] = eq.d_downstream[k][j];
    s.rhs[k] = eq.neg_residual[k];
  }
  return s;
}

// Everything one side's march carries from station to station.
class SideMarch {
 public:
  SideMarch(Side side, std::vector<BlRow>& rows, std::size_t row_count, std::size_t nbl,
            std::size_t iblte, const TeValues& other_te, double ante, double re, double ncrit,
            double msq, MarchDiagnostics* diag, double trip)
      : side_(side),
        rows_(rows),
        last_(std::min({nbl, row_count, rows.size()})),
        nbl_(nbl),
        iblte_(iblte),
        other_te_(other_te),
        ante_(ante),
        re_(re),
        ncrit_(ncrit),
        msq_(msq),
        diag_(diag),
        trip_(trip),
        first_turbulent_(iblte) {}

  MarchResult run_ue();
  MarchResult run_du(std::size_t first_turbulent_old);

 private:
  // How the fourth equation of a station's 4x4 system closes it: edge
  // velocity prescribed (direct), shape factor prescribed (inverse), or the
  // two tied by one linear relation (mixed).
  enum class Closure { Direct, Inverse, Mixed };
  // The state of one station's Newton iteration besides the station values.
  struct StationIteration {
    Closure closure = Closure::Direct;
    double hk_target = 0.0;                      // inverse closure
    double ueref = 0.0, hkref = 0.0, sens = 0.0;  // mixed closure
    double dmax = 0.0;                           // largest normalised change of the last step
    bool converged = false;
    bool blew_up = false;
  };

  // The station solve shared by both marches: Newton iterations of row r
  // from `w` until converged, blown up (w then holds the last finite
  // iterate) or out of iterations.
  void solve_station(std::size_t r, Working& w, StationIteration& it);
  // Mixed closure, first iteration: the references of the Ue-Hk relation,
  // and a restarted shear variable where the row turned turbulent.
  void mixed_references(std::size_t r, Working& w, const BlStation& cur, StationIteration& it);
  // The closing fourth row of the system.
  void closure_row(std::size_t r, int iter, const BlStation& cur, Matrix4& a, Vector4& b,
                   StationIteration& it) const;
  // Applies the relaxed solution b to w and sets it.dmax; false when the
  // direct closure gave way to the inverse one and the step is to be redone.
  bool take_step(std::size_t r, Working& w, const Vector4& b, bool laminar, StationIteration& it) const;

  bool is_wake(std::size_t r) const { return r > iblte_; }
  bool first_wake(std::size_t r) const { return r == iblte_ + 1; }

  // Transition check of the interval ending at row r; updates the first
  // turbulent row and the
  // amplification, and rebuilds the station when its flow type changed.
  void check_transition(std::size_t r, Working& w, BlStation& cur, FlowType& flow);
  StationRows equations(std::size_t r, const BlStation& cur, FlowType flow) const;
  double inverse_target(std::size_t r, double xi) const;
  // `ue` when finite, else the first finite of the row's own edge velocity,
  // the previous station's, and the speed floor 1e-6: a failed station never
  // stores a non-finite edge velocity.
  double finite_speed(std::size_t r, double ue) const {
    if (std::isfinite(ue)) return ue;
    if (std::isfinite(rows_[r].uedg)) return rows_[r].uedg;
    if (r > 1 && std::isfinite(prev_w_.ue)) return prev_w_.ue;
    return 1e-6;
  }
  // Replaces a failed station by values extrapolated from upstream.
  void extrapolate(std::size_t r, Working& w, double ue) const;
  // Final evaluation, storage and the bookkeeping after a station.
  void finish_station(std::size_t r, Working& w);

  Side side_;
  std::vector<BlRow>& rows_;
  std::size_t last_;
  std::size_t nbl_;
  std::size_t iblte_;
  TeValues other_te_;
  double ante_;
  double re_;
  double ncrit_;
  double msq_;
  MarchDiagnostics* diag_;
  double trip_;  // arc length of the trip, kNoTrip for free transition

  std::size_t first_turbulent_;  // first turbulent row
  MarchKind kind_ = MarchKind::Direct;
  std::size_t first_turbulent_old_ = 0;  // mixed march: the previous assembly's
  double xssitr_ = 0.0;
  bool turbulent_side_ = false;
  BlStation prev_{};          // last stored station
  Working prev_w_{};          // its primary values
  TransitionResult tr_{};     // last transition check of the current station
  bool tr_valid_ = false;
  TeMerge te_{};
};

void SideMarch::check_transition(std::size_t r, Working& w, BlStation& cur, FlowType& flow) {
  // Transition is forced at the trip, and at the trailing edge at the
  // latest, exactly as the Newton assembly checks the interval: a march that
  // left the trailing-edge station laminar would hand the assembly an
  // interval it never checks, and a trailing-edge amplification close to
  // ncrit would then flip the station between laminar and turbulent from one
  // iteration to the next.
  const bool te_exists = iblte_ < last_;
  const ForcedTransition forced = forced_transition_point(te_exists, te_exists ? rows_[iblte_].x : 0.0, trip_);
  tr_ = check_interval_for_transition(forced.enabled, prev_.x, cur.x, prev_.theta, cur.theta, prev_.dstar, cur.dstar, prev_.u,
                     cur.u, prev_.hk, cur.hk, prev_.r_theta, cur.r_theta, prev_.ampl, ncrit_, forced.x,
                     msq_, re_);
  tr_valid_ = true;
  w.ampl = tr_.ampl2;
  if (tr_.transition) {
    first_turbulent_ = r;
    if (w.ctau <= 0.0) w.ctau = INITIAL_SHEAR;
  } else {
    first_turbulent_ = r + 2;
  }
  const FlowType next = station_flow(r, first_turbulent_, iblte_);
  if (next != flow) {
    flow = next;
    cur = build(flow, w, re_, msq_);
  }
  cur.ampl = w.ampl;
  if (diag_) diag_->transition_checked(kind_, side_, r, first_turbulent_old_, first_turbulent_, prev_, cur, tr_);
}

StationRows SideMarch::equations(std::size_t r, const BlStation& cur, FlowType flow) const {
  if (first_wake(r)) {
    // Trailing-edge merging: the first wake station takes the combined
    // momentum and displacement thickness of both trailing-edge rows and
    // their momentum-weighted shear variable.
    StationRows s;
    s.a[0][0] = 1.0;
    s.a[1][1] = 1.0;
    s.a[2][2] = 1.0;
    s.rhs[0] = te_.cte - cur.ctau;
    s.rhs[1] = te_.tte - cur.theta;
    s.rhs[2] = te_.dte - cur.dstar - cur.dw;
    return s;
  }
  if (r == 1) return from_interval(similarity_station_equations(cur, flow, msq_));
  if (tr_valid_ && tr_.transition) return from_interval(transition_interval_equations(prev_, cur, tr_, ncrit_, msq_, re_));
  // The operating point's ncrit, as in the Newton assembly: with a different
  // value here the march and the assembly solve different amplification
  // equations and the Newton iteration stalls whenever ncrit is not 9.
  return from_interval(downstream_interval_equations(prev_, cur, flow, msq_, ncrit_));
}

double SideMarch::inverse_target(std::size_t r, double xi) const {
  const bool have_prev = r > 1;
  const double hmax = (r < first_turbulent_) ? kHkMaxLaminar : kHkMaxTurbulent;
  if (!have_prev) return hmax;
  const double x1 = prev_.x;
  const double th1 = std::max(prev_.theta, 1e-12);
  const double hk1 = prev_.hk;
  const double x2 = xi;
  const double dx = std::max(x2 - x1, 1e-12);
  if (is_wake(r)) {
    // Hk2 + c (Hk2 - 1)^3 = Hk1: the wake shape factor relaxes towards 1.
    const double c = kHkGrowthLaminar * dx / th1;
    double hk2 = hk1;
    for (int i = 0; i < 3; ++i) {
      const double d = hk2 - 1.0;
      hk2 -= (hk2 + c * d * d * d - hk1) / (1.0 + 3.0 * c * d * d);
    }
    return std::max(hk2, kHkFloorWakeTarget);
  }
  double target;
  if (r < first_turbulent_) {
    target = hk1 + kHkGrowthLaminar * dx / th1;
  } else if (r == first_turbulent_ && tr_valid_ && tr_.transition) {
    const double xt = tr_.xt;
    target = hk1 + (kHkGrowthLaminar * (xt - x1) - kHkDecayTurbulent * (x2 - xt)) / th1;
  } else {
    target = hk1 - kHkDecayTurbulent * dx / th1;
  }
  return std::max(target, hmax);
}

void SideMarch::extrapolate(std::size_t r, Working& w, double ue) const {
  if (!is_wake(r)) {
    double f = std::sqrt(w.xi / std::max(prev_w_.xi, 1e-12));
    if (!std::isfinite(f)) f = 1.0;  // a station upstream of its predecessor
    w.theta = prev_w_.theta * f;
    w.dstar = prev_w_.dstar * f;
  } else if (first_wake(r)) {
    w.ctau = te_.cte;
    w.theta = te_.tte;
    w.dstar = te_.dte;
  } else {
    w.theta = prev_w_.theta;
    const double l = (w.xi - prev_w_.xi) / (10.0 * std::max(prev_w_.dstar, 1e-12));
    w.dstar = (prev_w_.dstar + w.theta * l) / (1.0 + l);
  }
  if (r == first_turbulent_) {
    w.ctau = kCtauAfterFailure;
  } else if (r > first_turbulent_) {
    w.ctau = rows_[r - 1].ctau;
  }
  w.ue = ue;
}

void SideMarch::finish_station(std::size_t r, Working& w) {
  const bool wake = is_wake(r);
  const FlowType flow = station_flow(r, first_turbulent_, iblte_);
  BlStation st = build(flow, w, re_, msq_);
  st.ampl = w.ampl;
  store_to_row(st, rows_[r], r, first_turbulent_, wake, w.dstar, w.ue, w.ctau, w.ampl);
  if (diag_) diag_->station_stored(kind_, side_, r, rows_[r]);
  const bool transition_here = tr_valid_ && tr_.transition;
  if (transition_here) xssitr_ = tr_.xt;
  prev_ = st;
  prev_w_ = w;
  if (transition_here) turbulent_side_ = true;
  if (r == iblte_) {
    turbulent_side_ = true;
    te_ = merge_te(TeValues{w.theta, w.dstar, w.ctau}, other_te_, ante_);
    // Initial guess of the first wake station.
    w.theta = te_.tte;
    w.dstar = te_.dte;
  }
}

void SideMarch::mixed_references(std::size_t r, Working& w, const BlStation& cur, StationIteration& it) {
  it.ueref = cur.u;
  it.hkref = cur.hk;
  if (r < first_turbulent_ && r > first_turbulent_old_) {
    // Turbulent before, laminar now: the row holds a turbulent shape
    // factor, too low for a laminar layer, so the reference is taken
    // from the laminar row upstream. The previous transition station
    // (r == first_turbulent_old_) is exempt: its interval was laminar up to
    // the old transition point, its shape factor is a laminar one, and
    // raising the reference to the upstream value pushes the
    // amplification back across ncrit, so that march and Newton update
    // undo each other's change of this station from one iteration to
    // the next.
    const BlRow& up = rows_[r - 1];
    it.hkref = kinematic_shape_parameter(up.dstr / std::max(up.theta, 1e-12), msq_).hk;
  }
  const bool now_turbulent = (tr_valid_ && tr_.transition) || turbulent_side_;
  if (r < first_turbulent_old_ && now_turbulent && !is_wake(r)) {
    // Laminar before, turbulent now: restart the shear variable.
    BlRow& row = rows_[r];
    row.ctau = turbulent_side_ ? rows_[r - 1].ctau : INITIAL_SHEAR;
    w.ctau = row.ctau;
  }
}

void SideMarch::closure_row(std::size_t r, int iter, const BlStation& cur, Matrix4& a, Vector4& b,
                            StationIteration& it) const {
  switch (it.closure) {
    case Closure::Direct:
      a[3] = {0.0, 0.0, 0.0, 1.0};
      b[3] = 0.0;
      return;
    case Closure::Inverse:
      a[3] = {0.0, cur.hk_h * cur.h_theta, cur.hk_h * cur.h_dstar, 0.0};
      b[3] = it.hk_target - cur.hk;
      return;
    case Closure::Mixed:
      break;
  }
  const double hk_t = cur.hk_h * cur.h_theta;
  const double hk_d = cur.hk_h * cur.h_dstar;
  if (r == 1 || first_wake(r)) {
    a[3] = {0.0, 0.0, 0.0, 1.0};
    b[3] = it.ueref - cur.u;
    return;
  }
  // Response of ue to a unit change of Hk with the three boundary-layer
  // equations held, which weights the Ue-Hk relation.
  Matrix4 as = a;
  as[3] = {0.0, hk_t, hk_d, 0.0};
  Vector4 bs{0.0, 0.0, 0.0, 1.0};
  gauss_4x4(as, bs);
  const double uref = std::max(std::fabs(it.ueref), 1e-6);
  const double sens_new = kUeHkWeight * bs[3] * it.hkref / uref;
  if (iter <= 5) {
    it.sens = sens_new;
  } else if (iter <= 15) {
    it.sens = 0.5 * (it.sens + sens_new);
  }
  const double ueref_f = std::copysign(uref, it.ueref);
  a[3] = {0.0, it.hkref * hk_t, it.hkref * hk_d, it.sens / ueref_f};
  b[3] = -it.hkref * it.hkref * (cur.hk / it.hkref - 1.0) - it.sens * (cur.u / ueref_f - 1.0);
}

bool SideMarch::take_step(std::size_t r, Working& w, const Vector4& b, bool laminar, StationIteration& it) const {
  const double d1 = b[0], dth = b[1], dds = b[2], due = b[3];
  double& dmax = it.dmax;
  switch (it.closure) {
    case Closure::Direct: {
      dmax = std::max(std::fabs(dth / w.theta), std::fabs(dds / w.dstar));
      dmax = std::max(dmax, laminar ? std::fabs(d1) / 10.0 : std::fabs(d1 / std::max(w.ctau, 1e-12)));
      const double rlx = dmax > kRelaxThreshold ? kRelaxThreshold / dmax : 1.0;
      if (!first_wake(r)) {
        const double hk_test = kinematic_shape_parameter((w.dstar + rlx * dds) / (w.theta + rlx * dth), msq_).hk;
        const double hmax = (r < first_turbulent_) ? kHkMaxLaminar : kHkMaxTurbulent;
        if (hk_test >= hmax) {
          // The prescribed edge velocity would separate the layer: solve
          // for a prescribed shape factor instead.
          it.closure = Closure::Inverse;
          it.hk_target = inverse_target(r, w.xi);
          return false;
        }
      }
      if (!laminar) w.ctau += rlx * d1;
      w.theta += rlx * dth;
      w.dstar += rlx * dds;
      if (!laminar) w.ctau = std::clamp(w.ctau, kCtauMin, kCtauMax);
      return true;
    }
    case Closure::Inverse: {
      dmax = std::max({std::fabs(dth / w.theta), std::fabs(dds / w.dstar),
                       std::fabs(due) / std::max(std::fabs(w.ue), 1e-6)});
      if (!laminar) dmax = std::max(dmax, std::fabs(d1) / std::max(w.ctau, 1e-12));
      const double rlx = dmax > kRelaxThreshold ? kRelaxThreshold / dmax : 1.0;
      if (!laminar) w.ctau += rlx * d1;
      w.theta += rlx * dth;
      w.dstar += rlx * dds;
      w.ue += rlx * due;
      if (!laminar) w.ctau = std::clamp(w.ctau, kCtauMin, kCtauMax);
      return true;
    }
    case Closure::Mixed:
      break;
  }
  dmax = std::max({std::fabs(dth / w.theta), std::fabs(dds / w.dstar),
                   std::fabs(due) / std::max(std::fabs(w.ue), 1e-6)});
  if (!laminar) dmax = std::max(dmax, std::fabs(d1) / (10.0 * std::max(w.ctau, 1e-12)));
  const double rlx = dmax > kRelaxThreshold ? kRelaxThreshold / dmax : 1.0;
  w.ue += rlx * due;
  w.theta += rlx * dth;
  w.dstar += rlx * dds;
  if (laminar) {
    w.ampl += rlx * d1;
  } else {
    w.ctau = std::clamp(w.ctau + rlx * d1, kCtauMin, kCtauMax);
  }
  return true;
}

void SideMarch::solve_station(std::size_t r, Working& w, StationIteration& it) {
  const bool wake = is_wake(r);
  const bool mixed = it.closure == Closure::Mixed;
  const double tolerance = mixed ? kDuTolerance : kUeTolerance;
  tr_valid_ = false;
  Working good = w;
  for (int iter = 1; iter <= kMaxStationIterations; ++iter) {
    FlowType flow = station_flow(r, first_turbulent_, iblte_);
    BlStation cur = build(flow, w, re_, msq_);
    if (r != 1 && !turbulent_side_) check_transition(r, w, cur, flow);
    const StationRows eq = equations(r, cur, flow);
    if (mixed && iter == 1) mixed_references(r, w, cur, it);

    Matrix4 a{};
    Vector4 b{};
    for (int k = 0; k < 3; ++k) {
      for (int j = 0; j < 4; ++j) a[k][j] = eq.a[k][j];
      b[k] = eq.rhs[k];
    }
    closure_row(r, iter, cur, a, b, it);
    gauss_4x4(a, b);
    if (!take_step(r, w, b, flow == FlowType::Laminar, it)) continue;
    limit_dstar(w.dstar, w.theta, w.dsw, wake, msq_);

    if (!all_finite({w.theta, w.dstar, w.ue, w.ctau, w.ampl, it.dmax})) {
      it.blew_up = true;
      break;
    }
    good = w;
    if (diag_) diag_->station_iteration(kind_, side_, r, iter, cur, it.dmax, it.closure == Closure::Inverse);
    if (it.dmax <= tolerance) {
      it.converged = true;
      break;
    }
  }
  if (it.blew_up) w = good;
}

MarchResult SideMarch::run_ue() {
  if (nbl_ < 2 || last_ < 2) return {iblte_, 0.0};
  kind_ = MarchKind::Direct;
  first_turbulent_old_ = first_turbulent_;

  // Similarity station: Thwaites' stagnation-flow estimate.
  Working w;
  {
    const double xi = std::max(rows_[1].x, 1e-12);
    const double ue = std::max(std::fabs(rows_[1].uedg), 1e-6);
    w.theta = std::max(std::sqrt(std::max(0.45 * xi / (6.0 * ue * re_), 0.0)), 1e-12);
    w.dstar = 2.2 * w.theta;
    w.ampl = 0.0;
    w.ctau = INITIAL_SHEAR;
  }
  const Working similarity_start = w;

  for (std::size_t r = 1; r < last_; ++r) {
    w.dsw = is_wake(r) ? rows_[r].dw : 0.0;
    if (r == 1) {
      w.xi = std::max(rows_[r].x, 1e-12);
      w.ue = std::max(std::fabs(rows_[r].uedg), 1e-6);
    } else {
      w.xi = rows_[r].x;
      w.ue = rows_[r].uedg;
    }
    StationIteration it;
    it.closure = Closure::Direct;
    solve_station(r, w, it);

    const bool failed = it.blew_up || (!it.converged && it.dmax > kAcceptUnconverged);
    if ((failed && r > 2) || (it.blew_up && r == 2)) {
      // Edge velocity of the replacement station: the mean of both
      // neighbours, or, at the last row of the side (the upper trailing
      // edge), the upstream neighbour's. The row's own prescribed value does
      // not fit the thicknesses carried on from upstream there: at a
      // trailing edge it lies well below the upstream speed, and the mixed
      // march would take that inconsistent state as the reference of its
      // Ue-Hk relation and settle on a spurious, massively thickened
      // trailing-edge station.
      double ue = rows_[r - 1].uedg;
      if (r + 1 < nbl_ && r + 1 < last_) ue = 0.5 * (rows_[r - 1].uedg + rows_[r + 1].uedg);
      extrapolate(r, w, finite_speed(r, ue));
      FlowType flow = station_flow(r, first_turbulent_, iblte_);
      BlStation cur = build(flow, w, re_, msq_);
      if (!turbulent_side_) check_transition(r, w, cur, flow);
    } else if (it.blew_up && r == 1) {
      w = similarity_start;
      w.xi = std::fmax(rows_[r].x, 1e-12);
      w.ue = finite_speed(r, rows_[r].uedg);
    }
    finish_station(r, w);
  }
  return {first_turbulent_, xssitr_};
}

MarchResult SideMarch::run_du(std::size_t first_turbulent_old) {
  if (nbl_ < 2 || last_ < 2) return {iblte_, 0.0};
  kind_ = MarchKind::Mixed;
  first_turbulent_old_ = first_turbulent_old;

  Working w;
  for (std::size_t r = 1; r < last_; ++r) {
    const bool wake = is_wake(r);
    const BlRow& row = rows_[r];
    w.dsw = wake ? row.dw : 0.0;
    w.xi = row.x;
    w.ue = row.uedg;
    w.theta = row.theta;
    w.dstar = row.dstr;
    if (r < first_turbulent_old) {
      // A laminar row: its shear variable starts from the initial value
      // should the row turn turbulent.
      w.ampl = row.ampl;
      w.ctau = INITIAL_SHEAR;
    } else {
      w.ctau = row.ctau > 0.0 ? row.ctau : INITIAL_SHEAR;
      w.ampl = row.ampl;
    }
    w.dstar = w.dsw + std::max(w.dstar - w.dsw, hk_limit(wake) * w.theta);

    StationIteration it;
    it.closure = Closure::Mixed;
    solve_station(r, w, it);

    const bool failed = it.blew_up || (!it.converged && it.dmax > kAcceptUnconverged);
    if ((failed && r > 2) || (it.blew_up && r == 2)) {
      extrapolate(r, w, finite_speed(r, rows_[r - 1].uedg));
      FlowType flow = station_flow(r, first_turbulent_, iblte_);
      BlStation cur = build(flow, w, re_, msq_);
      if (!turbulent_side_) check_transition(r, w, cur, flow);
    } else if (it.blew_up && r == 1) {
      w.ue = finite_speed(r, w.ue);
      w.theta = std::isfinite(w.theta) && w.theta > 0.0 ? w.theta : 1e-12;
      w.dstar = std::isfinite(w.dstar) && w.dstar > 0.0 ? w.dstar : 2.2 * w.theta;
      w.ctau = std::isfinite(w.ctau) ? w.ctau : INITIAL_SHEAR;
      w.ampl = std::isfinite(w.ampl) ? w.ampl : 0.0;
    }
    finish_station(r, w);
  }
  return {first_turbulent_, xssitr_};
}

}  // namespace

ForcedTransition forced_transition_point(bool te_exists, double x_te, double trip) {
  if (te_exists) return {true, std::min(x_te, trip)};
  return {trip != kNoTrip, trip};
}

TeValues te_values_of(const std::vector<BlRow>& rows, std::size_t iblte) {
  if (iblte >= rows.size()) return TeValues{};
  const BlRow& te = rows[iblte];
  // The wake behind a laminar trailing-edge row starts from the initial shear
  // variable.
  const double ctau = te.laminar() ? INITIAL_SHEAR : te.ctau;
  return TeValues{te.theta, te.dstr, ctau};
}

BlStation build_and_fill_station(FlowType flow, double xi, double ue, double theta,
                                 double dstar_no_gap, double gap, double ctau, double ampl,
                                 double re, double msq) {
  BlStation s;
  s.x = xi;
  s.panel = 0;
  s.u = std::max(std::fabs(ue), 1e-6);
  s.theta = std::max(theta, 1e-12);
  s.dstar = std::max(dstar_no_gap, 1e-12);
  s.ctau = ctau;
  s.ampl = ampl;
  s.dw = gap;
  compute_secondary_variables(s, flow, msq, re);
  return s;
}

bool store_to_row(const BlStation& station, BlRow& row, std::size_t row_index, std::size_t first_turbulent,
                  bool is_wake, double dstar, double ue, double ctau, double ampl) {
  row.theta = station.theta;
  row.dstr = dstar;
  row.dw = is_wake ? std::max(station.dw, 0.0) : 0.0;
  row.uedg = ue;
  row.mass = dstar * ue;
  const bool turbulent = is_wake || row_index >= first_turbulent;
  row.ctau = ctau;
  row.ampl = ampl;
  row.flow = is_wake ? FlowType::Wake : (turbulent ? FlowType::Turbulent : FlowType::Laminar);
  return !turbulent;
}

MarchResult march_direct_side(Side side, std::vector<BlRow>& rows, std::size_t row_count,
                          std::size_t nbl, std::size_t iblte, const TeValues& other_te,
                          double ante, double re, double ncrit, double msq, MarchDiagnostics* diagnostics,
                          double trip) {
  SideMarch m(side, rows, row_count, nbl, iblte, other_te, ante, re, ncrit, msq, diagnostics, trip);
  return m.run_ue();
}

MarchResult march_mixed_side(Side side, std::vector<BlRow>& rows, std::size_t row_count,
                          std::size_t nbl, double ante, double re, double ncrit, std::size_t iblte,
                          const TeValues& other_te, std::size_t first_turbulent_old, double msq,
                          MarchDiagnostics* diagnostics, double trip) {
  SideMarch m(side, rows, row_count, nbl, iblte, other_te, ante, re, ncrit, msq, diagnostics, trip);
  return m.run_du(first_turbulent_old);
}

}  // namespace velaro
