// Continuation sweeps over angles of attack or lift coefficients: the march
// starts at the target nearest zero lift and goes outward both ways, each
// point warm-started from the last converged point of its branch.
#include "viscous/sweep.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <utility>

#include "boundary_layer/diagnostics.h"
#include "common/angles.h"
#include "viscous/continuation.h"

namespace velaro {

namespace {

constexpr const char* kInterrupted = "viscous analysis interrupted";

// Largest step to the next target, relative to the step between the two
// converged points, that the secant predictor extrapolates over.
constexpr double kMaxPredictorRatio = 1.5;
// Largest step (degrees, or lift coefficient) the predictor extrapolates
// over. Measured on NACA 2412 at Re 1e6 (-2 .. 10 degrees): steps of 0.25
// and 0.3 degrees take a third fewer iterations with the secant start, 0.4
// and 0.5 degrees as many, 1 degree more (transition and the stagnation
// point move over several rows per step, and rows that change flow type
// keep their values beside rows that move). The lift step is 0.3 degrees
// of an attached lift slope.
constexpr double kMaxPredictorStepDeg = 0.3;
constexpr double kMaxPredictorStepCl = 0.03;
// Most Newton iterations of the last point for the predictor to start the
// next one.
constexpr std::uint64_t kMaxPredictorIterations = 10;

// Farthest a second branch's cold start may lie from the zero-lift centre
// of the sweep (degrees, or lift coefficient): well inside the attached
// range, where a cold start converges as readily as a warm one.
// (Measured on NACA 0012, 2412 and 4412 at Re 1e5 to 1e6: cold starts
// converge in 6 to 23 iterations up to 13 degrees from zero lift.)
constexpr double kMaxSplitReachDeg = 10.0;
constexpr double kMaxSplitReachCl = 1.0;
// Iterations the second branch's cold start may take before it hands its
// part back (a cold start needs well under this where it converges at all).
constexpr std::uint64_t kMaxSplitColdIterations = 30;
// Fewest targets for which the march is split over two threads.
constexpr std::size_t kMinSplitTargets = 12;

bool is_interruption(const ViscousError& e) { return e.kind == ViscousError::Kind::Message && e.text == kInterrupted; }

// The target a state was converged at, in the sweep's units.
double target_of(const ViscousState& state, OperMode mode) {
  return mode == OperMode::PrescribedAlpha ? state.alpha * kRadToDeg : state.cl_spec;
}

// A point without a result: coefficients NaN so that nothing passes for one.
OperPointResult no_result(double target, OperMode mode) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  OperPointResult r;
  r.alpha_deg = mode == OperMode::PrescribedAlpha ? target : nan;
  r.cl = mode == OperMode::PrescribedCl ? target : nan;
  r.cd = r.cm = r.cd_friction = r.cd_pressure = nan;
  r.x_tr_upper = r.x_tr_lower = r.residual = r.reynolds_eff = nan;
  r.converged = false;
  return r;
}

// A point the sweep did not reach because it was stopped.
SweepPoint not_reached(double target, OperMode mode) {
  SweepPoint p;
  p.target = target;
  p.start = PointStart::Failed;
  p.result = no_result(target, mode);
  p.error = ViscousError::message(kInterrupted);
  return p;
}

class Sweep {
 public:
  Sweep(const PreparedContour& contour, const ViscousConfig& config, const SweepOptions& sweep_options,
        const DriverOptions& options)
      : contour_(contour), config_(config), sweep_(sweep_options), options_(options) {}

  bool interrupted() const { return interrupted_; }
  void mark_interrupted() { interrupted_ = true; }
  // A sweep of the same contour and settings with bookkeeping of its own,
  // for a branch solved on another thread; `with` replaces the sweep
  // settings (it must outlive the result).
  Sweep fresh() const { return Sweep(contour_, config_, sweep_, options_); }
  Sweep fresh(const SweepOptions& with, const ViscousConfig& config) const {
    return Sweep(contour_, config, with, options_);
  }
  const ViscousConfig& config() const { return config_; }

  // Solves one point. `last` is the last converged state of the branch (none
  // at the start of a sweep or with warm starts off); on convergence it is
  // replaced by the new solution.
  // A retry (allow_cold false) skips the cold starts; without `substeps` it
  // skips the sub-stepping too. `before`, when given, is the converged point
  // before `last` on the branch: the first warm start then begins from the
  // secant through the two (predict_state), the plain one follows if that
  // fails.
  // `already` is what earlier calls spent on the point, counted against
  // the bound SweepOptions::point_iteration_factor sets.
  SweepPoint solve(double target, std::optional<ViscousState>& last, bool allow_cold = true, bool substeps = true,
                   const ViscousState* before = nullptr, std::uint64_t already = 0) {
    SweepPoint point;
    point.target = target;
    // Every Newton iteration spent on the point, failed attempts and
    // intermediate points included.
    spent_ = 0;
    already_ = already;
    if (options_.should_stop && options_.should_stop()) return interrupt(point);
    best_.reset();
    error_.reset();

    if (sweep_.warm_start && last && before && sweep_.predictor) {
      const double b = target_of(*last, sweep_.mode);
      const double t = (target - b) / (b - target_of(*before, sweep_.mode));
      ViscousState state = *last;
      const double limit = sweep_.mode == OperMode::PrescribedAlpha ? kMaxPredictorStepDeg : kMaxPredictorStepCl;
      if (t > 0.0 && t <= kMaxPredictorRatio && std::abs(target - b) <= limit && predict_state(*before, state, t)) {
        if (room() > 0 && attempt(solve_warm(contour_, state, sweep_.mode, target, cap(config_), options_), state))
          return converged(point, PointStart::Warm, std::move(state), last);
        if (interrupted_) return interrupt(point);
      }
    }

    if (sweep_.warm_start && last) {
      ViscousState state = *last;
      if (room() > 0 && attempt(solve_warm(contour_, state, sweep_.mode, target, cap(config_), options_), state))
        return converged(point, PointStart::Warm, std::move(state), last);
      if (interrupted_) return interrupt(point);

      // Smaller steps from the same converged state: 1, 3, 7, ... evenly
      // spaced intermediate points, at most max_substeps of them.
      const double from = target_of(*last, sweep_.mode);
      for (int m = 1; substeps && m <= sweep_.max_substeps && from != target; m = 2 * m + 1) {
        state = *last;
        bool reached = true;
        for (int k = 1; k <= m && reached; ++k) {
          const double step = from + (target - from) * static_cast<double>(k) / static_cast<double>(m + 1);
          reached = room() > 0 &&
                    attempt(solve_warm(contour_, state, sweep_.mode, step, cap(config_), options_), state, false);
        }
        if (interrupted_) return interrupt(point);
        if (reached && room() > 0 &&
            attempt(solve_warm(contour_, state, sweep_.mode, target, cap(config_), options_), state))
          return converged(point, PointStart::SubStepped, std::move(state), last);
        if (interrupted_) return interrupt(point);
      }
    }

    // Near a laminar bubble that bursts or reattaches, a full Newton step
    // can throw transition a few rows forward and the next one back, so that
    // the iteration cycles round a solution it never reaches; damped steps
    // approach it steadily.
    const bool damp = sweep_.damped_relaxation < 1.0;
    ViscousConfig longer = config_;
    const auto factor = static_cast<std::uint64_t>(std::max(1, sweep_.damped_iteration_factor));
    longer.max_iterations = config_.max_iterations > std::numeric_limits<std::uint64_t>::max() / factor
                                ? config_.max_iterations
                                : config_.max_iterations * factor;
    DriverOptions damped = options_;
    damped.max_relaxation = std::min(options_.max_relaxation, sweep_.damped_relaxation);
    if (sweep_.warm_start && last && damp) {
      ViscousState state = *last;
      if (room() > 0 && attempt(solve_warm(contour_, state, sweep_.mode, target, cap(longer), damped), state))
        return converged(point, PointStart::Damped, std::move(state), last);
      if (interrupted_) return interrupt(point);
    }

    if (allow_cold) {
      ViscousState state = cold_state(contour_, sweep_.mode, target);
      if (room() > 0 && attempt(solve_cold(contour_, state, cap(config_), options_), state))
        return converged(point, PointStart::Cold, std::move(state), last);
      if (interrupted_) return interrupt(point);
      if (damp) {
        state = cold_state(contour_, sweep_.mode, target);
        if (room() > 0 && attempt(solve_cold(contour_, state, cap(longer), damped), state))
          return converged(point, PointStart::Damped, std::move(state), last);
        if (interrupted_) return interrupt(point);
      }
    }

    // Failed: the unconverged iterate with the smallest residual stands as
    // the point's values, flagged; with none finite the point has no result.
    point.start = PointStart::Failed;
    if (best_) {
      point.result = *best_;
    } else {
      point.result = no_result(target, sweep_.mode);
      point.error = error_ ? *error_ : ViscousError::message("viscous iteration diverged: non-finite result");
    }
    point.result.converged = false;
    point.result.iterations = spent_;
    return point;
  }

 private:
  // Iterations left to the point under the bound (all there are without one).
  std::uint64_t room() const {
    const auto factor = static_cast<std::uint64_t>(std::max(0, sweep_.point_iteration_factor));
    if (factor == 0 || config_.max_iterations > std::numeric_limits<std::uint64_t>::max() / factor)
      return std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t bound = factor * config_.max_iterations;
    const std::uint64_t used = already_ + spent_;
    return used < bound ? bound - used : 0;
  }

  // `c` with its iteration limit cut to what is left.
  ViscousConfig cap(const ViscousConfig& c) const {
    ViscousConfig out = c;
    out.max_iterations = std::min(c.max_iterations, room());
    return out;
  }

  SweepPoint interrupt(SweepPoint point) {
    interrupted_ = true;
    point.start = PointStart::Failed;
    point.result = no_result(point.target, sweep_.mode);
    point.result.iterations = spent_;
    point.error = ViscousError::message(kInterrupted);
    return point;
  }

  // Books one solve; true when it converged. Only solves at the point's own
  // target (not intermediate points) may stand as its values.
  bool attempt(const std::expected<OperPointResult, ViscousError>& r, const ViscousState& state,
               bool at_target = true) {
    if (!r) {
      spent_ += state.iterations;  // the iterations done before the failure
      if (is_interruption(r.error())) interrupted_ = true;
      if (at_target || !error_) error_ = r.error();
      return false;
    }
    spent_ += r->iterations;
    if (r->converged) {
      last_result_ = *r;
      return true;
    }
    if (at_target && (!best_ || r->residual < best_->residual)) best_ = *r;
    return false;
  }

  SweepPoint converged(SweepPoint point, PointStart start, ViscousState state, std::optional<ViscousState>& last) {
    point.start = start;
    point.result = last_result_;
    point.result.iterations = spent_;
    if (sweep_.warm_start) last = std::move(state);
    return point;
  }

  const PreparedContour& contour_;
  const ViscousConfig& config_;
  const SweepOptions& sweep_;
  const DriverOptions& options_;
  std::uint64_t spent_ = 0;
  std::uint64_t already_ = 0;
  std::optional<OperPointResult> best_;
  std::optional<ViscousError> error_;
  OperPointResult last_result_;
  bool interrupted_ = false;
};

// The bookkeeping of one sweep: the points in target order, the converged
// states kept beside failures, and the (point, start) pairs tried.
class SweepMarch {
 public:
  // (point, start) position pairs already tried.
  using Tried = std::vector<std::pair<std::size_t, std::size_t>>;

  SweepMarch(std::span<const double> targets, const SweepOptions& sweep_options, const SweepProgress& progress,
             Sweep& sweep, const DiagnosticSwitches* switches)
      : targets_(targets), sweep_options_(sweep_options), progress_(progress), sweep_(sweep), switches_(switches),
        points_(targets.size()) {}

  // Non-finite targets cannot be placed on the march: they are refused one
  // by one. The others are ordered by value; returns the position in that
  // order of the one nearest `centre` (zero lift), where the march starts.
  std::optional<std::size_t> order_targets(double centre) {
    for (std::size_t i = 0; i < targets_.size(); ++i) {
      if (std::isfinite(targets_[i])) {
        order_.push_back(i);
        continue;
      }
      SweepPoint p;
      p.target = targets_[i];
      p.start = PointStart::Failed;
      p.result = no_result(targets_[i], sweep_options_.mode);
      p.error = ViscousError::message(sweep_options_.mode == OperMode::PrescribedAlpha
                                          ? "Angle of attack must be finite"
                                          : "Lift coefficient must be finite");
      finish(i, std::move(p));
    }
    std::stable_sort(order_.begin(), order_.end(),
                     [&](std::size_t a, std::size_t b) { return targets_[a] < targets_[b]; });
    if (order_.empty()) return std::nullopt;
    std::size_t start = 0;
    for (std::size_t k = 1; k < order_.size(); ++k)
      if (std::abs(targets_[order_[k]] - centre) < std::abs(targets_[order_[start]] - centre)) start = k;
    kept_.resize(order_.size());
    return start;
  }

  // From the start outward: first upward, then downward from the same
  // converged start. With a way to run two branches at once
  // (SweepOptions::run_both) the two go side by side, the longer one split
  // at a second, cold start when that balances them (march_split).
  void march_outward(std::size_t start, double centre, const Sweep& prototype) {
    std::vector<std::size_t> up, down;
    for (std::size_t k = start + 1; k < order_.size(); ++k) up.push_back(k);
    for (std::size_t k = start; k-- > 0;) down.push_back(k);
    std::optional<ViscousState> last;
    const std::size_t first[] = {start};
    march(first, last, std::nullopt, sweep_, tried_);
    std::optional<ViscousState> at_start = last;
    const std::optional<std::size_t> start_k = last ? std::optional<std::size_t>(start) : std::nullopt;
    if (sweep_options_.run_both && sweep_options_.warm_start && last && !sweep_.interrupted() &&
        order_.size() >= kMinSplitTargets) {
      march_split(up, down, last, start_k, centre, prototype);
      return;
    }
    march(up, last, start_k, sweep_, tried_);
    march(down, at_start, start_k, sweep_, tried_);
  }

  // The two branches from the converged start side by side on two threads.
  // When one is much longer than the other, its far part goes to the second
  // thread, which begins it with a cold start, while the first thread
  // marches the near part and then the other branch: the two threads then
  // have about as many points each. The split point is kept within
  // kMaxSplitReach of the zero-lift centre, where a cold start converges as
  // readily as a warm one; should it fail all the same, the second thread
  // gives up and the first marches on into its part afterwards, as a
  // single march would have. Without a split, every point is solved exactly
  // as in the single march (only the order of finishing differs).
  void march_split(const std::vector<std::size_t>& up, const std::vector<std::size_t>& down,
                   const std::optional<ViscousState>& at_start, std::optional<std::size_t> start_k, double centre,
                   const Sweep& prototype) {
    const bool up_longer = up.size() >= down.size();
    const std::vector<std::size_t>& longer = up_longer ? up : down;
    const std::vector<std::size_t>& other = up_longer ? down : up;
    const double reach =
        sweep_options_.mode == OperMode::PrescribedAlpha ? kMaxSplitReachDeg : kMaxSplitReachCl;
    // Points of the longer branch the first thread takes before the other
    // branch: as many as leave both threads alike, fewer if the split point
    // would lie out of reach.
    std::size_t near = longer.size() > other.size() + 4 ? (longer.size() - other.size()) / 2 : longer.size();
    while (near < longer.size() && near > 1 && !(std::abs(targets_[order_[longer[near]]] - centre) <= reach))
      --near;
    const bool split = near >= 2 && near < longer.size();
    const std::span<const std::size_t> first_part(longer.data(), split ? near : longer.size());
    const std::span<const std::size_t> far_part(longer.data() + first_part.size(),
                                               longer.size() - first_part.size());

    // The branch the second thread takes solves with its own bookkeeping.
    Sweep second = prototype.fresh();
    Tried second_tried;
    // A warm branch from the start may pass failures back to it (kept_ of
    // the start); set it now so that neither thread writes it.
    if (start_k && !kept_[*start_k]) kept_[*start_k] = at_start;

    std::optional<ViscousState> near_last;
    std::optional<std::size_t> near_last_k;
    bool second_gave_up = false;
    std::uint64_t second_spent = 0;
    const auto first_thread = [&] {
      std::optional<ViscousState> last = at_start;
      if (split) {
        near_last_k = march(first_part, last, start_k, sweep_, tried_);
        near_last = last;
        std::optional<ViscousState> from_start = at_start;
        march(other, from_start, start_k, sweep_, tried_);
      } else {
        march(first_part, last, start_k, sweep_, tried_);
      }
    };
    const auto second_thread = [&] {
      const InstalledSwitches switches(switches_);
      if (!split) {
        std::optional<ViscousState> last = at_start;
        march(other, last, start_k, second, second_tried);
        return;
      }
      // The cold start of the far part, plain (no damped retry) and with
      // at most kMaxSplitColdIterations: a failure hands the part back to
      // the first thread.
      SweepOptions plain = sweep_options_;
      plain.damped_relaxation = 1.0;
      ViscousConfig short_config = prototype.config();
      short_config.max_iterations = std::min(short_config.max_iterations, kMaxSplitColdIterations);
      Sweep cold = prototype.fresh(plain, short_config);
      std::optional<ViscousState> last;
      const std::size_t k = far_part.front();
      SweepPoint p = cold.solve(targets_[order_[k]], last);
      if (cold.interrupted()) second.mark_interrupted();
      if (!(p.result.converged && !p.error) || !last) {
        second_gave_up = true;
        second_spent = p.result.iterations;
        return;
      }
      finish(order_[k], std::move(p));
      // Kept for the retries: points the first thread leaves failed just
      // below the split are tried again from this side, which the single
      // march would have reached them from on its way back.
      kept_[k] = last;
      march(far_part.subspan(1), last, k, second, second_tried);
    };
    sweep_options_.run_both(first_thread, second_thread);

    if (second.interrupted()) sweep_.mark_interrupted();
    tried_.insert(tried_.end(), second_tried.begin(), second_tried.end());
    if (second_gave_up) {
      march(far_part, near_last, near_last_k, sweep_, tried_);
      points_[order_[far_part.front()]].result.iterations += second_spent;
    }
  }

  // Retries of the points still failed from converged neighbours they were
  // not yet tried from (a point reached on the way back can start its other
  // neighbour), warm and damped only, while that reaches new points.
  void retry_from_neighbours() {
    for (bool progressed = sweep_options_.warm_start; progressed && !sweep_.interrupted();) {
      progressed = false;
      for (std::size_t k = 0; k < order_.size() && !sweep_.interrupted(); ++k) {
        if (solved(k)) continue;
        for (std::size_t nb : {k - 1, k + 1}) {
          if (k == 0 && nb == k - 1) continue;
          if (nb >= order_.size() || !kept_[nb] || was_tried(k, nb)) continue;
          tried_.emplace_back(k, nb);
          std::optional<ViscousState> from = kept_[nb];
          const std::uint64_t already = points_[order_[k]].result.iterations;
          if (retried(k, sweep_.solve(targets_[order_[k]], from, false, false, nullptr, already), sweep_)) {
            kept_[k] = std::move(from);
            progressed = true;
            break;
          }
        }
      }
    }
  }

  std::vector<SweepPoint> take_points() { return std::move(points_); }

 private:
  void finish(std::size_t i, SweepPoint point) {
    points_[i] = std::move(point);
    const std::size_t done = finished_.fetch_add(1) + 1;
    if (progress_) progress_(done);
  }

  bool solved(std::size_t k) const { return points_[order_[k]].result.converged && !points_[order_[k]].error; }

  bool was_tried(std::size_t k, std::size_t from) const {
    return std::find(tried_.begin(), tried_.end(), std::make_pair(k, from)) != tried_.end();
  }

  // Replaces the failed point k by q if q converged; the iterations of both
  // count. True when q converged.
  bool retried(std::size_t k, SweepPoint q, const Sweep& sweep) {
    SweepPoint& old = points_[order_[k]];
    if (!(q.result.converged && !q.error)) {
      if (!sweep.interrupted()) old.result.iterations += q.result.iterations;
      return false;
    }
    q.result.iterations += old.result.iterations;
    old = std::move(q);
    return true;
  }

  // Marches over order[k] for k in `ks` from `last` (converged at position
  // last_k). A point that converges after failed ones also marches back
  // over them, warm starts only: near stall a solution out of reach from one
  // side is sometimes reached from the other. A point reached so replaces
  // the failure, its iterations added to those already spent. A failure on
  // the way back is stepped over, the next one tried from the last point
  // reached: past a bursting laminar bubble the iteration cycles at some
  // angles and converges at angles in between, depending on where it starts.
  // Returns the position of the last point converged in the march (or
  // last_k when none did). `sweep` solves the points and `tried` books the
  // starts: a branch running beside another has its own of both.
  std::optional<std::size_t> march(std::span<const std::size_t> ks, std::optional<ViscousState>& last,
                                   std::optional<std::size_t> last_k, Sweep& sweep, Tried& tried) {
    std::vector<std::size_t> failed;  // positions since the last converged point, in march order
    std::optional<ViscousState> before;  // the converged point before `last`, when they are neighbours
    for (std::size_t k : ks) {
      const std::size_t i = order_[k];
      if (sweep.interrupted()) {
        finish(i, not_reached(targets_[i], sweep_options_.mode));
        continue;
      }
      std::optional<ViscousState> prior = sweep_options_.warm_start ? last : std::nullopt;
      SweepPoint p = sweep.solve(targets_[i], last, true, true, before ? &*before : nullptr);
      const bool ok = p.result.converged && !p.error;
      // The predictor extrapolates only between neighbours converged in turn,
      // the later one by a quick warm start: a point that took long to reach
      // lies where the solution changes fast (a bubble forming or bursting),
      // and a secant through it can lead the next one onto another branch.
      const bool smooth = ok && p.start == PointStart::Warm && p.result.iterations <= kMaxPredictorIterations;
      if (smooth && failed.empty() && prior) {
        before = std::move(prior);
      } else {
        before.reset();
      }
      finish(i, std::move(p));
      if (!sweep_options_.warm_start) continue;
      if (!ok) {
        if (last_k) {
          tried.emplace_back(k, *last_k);
          if (!kept_[*last_k]) kept_[*last_k] = last;
        }
        failed.push_back(k);
        continue;
      }
      if (!failed.empty()) kept_[k] = last;
      march_back(failed, last, k, sweep, tried);
      failed.clear();
      last_k = k;
    }
    return last_k;
  }

  // Back from the point just reached at position `reached` over the points
  // that failed before it (in march order), warm starts only.
  void march_back(const std::vector<std::size_t>& failed, const std::optional<ViscousState>& last,
                  std::size_t reached, Sweep& sweep, Tried& tried) {
    std::optional<ViscousState> back = last;
    std::size_t back_k = reached;
    for (auto it = failed.rbegin(); it != failed.rend() && !sweep.interrupted(); ++it) {
      tried.emplace_back(*it, back_k);
      const std::uint64_t already = points_[order_[*it]].result.iterations;
      if (retried(*it, sweep.solve(targets_[order_[*it]], back, false, true, nullptr, already), sweep)) {
        back_k = *it;
        kept_[back_k] = back;
      }
    }
  }

  std::span<const double> targets_;
  const SweepOptions& sweep_options_;
  const SweepProgress& progress_;
  Sweep& sweep_;
  const DiagnosticSwitches* switches_;
  std::vector<SweepPoint> points_;
  std::atomic<std::size_t> finished_{0};
  std::vector<std::size_t> order_;  // indices into targets_, by value
  // Converged states next to failed points (by position in order_), the
  // starts of the retries, and the (point, start) pairs already tried.
  std::vector<std::optional<ViscousState>> kept_;
  Tried tried_;
};

}  // namespace

std::expected<std::vector<SweepPoint>, ViscousError> run_sweep(const std::string& name, std::span<const Point> nodes,
                                                              const ViscousConfig& config,
                                                              std::span<const double> targets,
                                                              const SweepOptions& sweep_options,
                                                              const DriverOptions& options,
                                                              const SweepProgress& progress) {
  if (sweep_options.mode != OperMode::PrescribedAlpha && sweep_options.mode != OperMode::PrescribedCl)
    return std::unexpected(ViscousError::message("sweep mode must be prescribed alpha or prescribed cl"));
  if (!(options.max_relaxation > 0.0 && options.max_relaxation <= 1.0))
    return std::unexpected(ViscousError::message("relaxation bound must lie in (0, 1]"));
  if (!(sweep_options.damped_relaxation > 0.0 && sweep_options.damped_relaxation <= 1.0))
    return std::unexpected(ViscousError::message("damped relaxation factor must lie in (0, 1]"));
  auto contour = prepare_contour(name, nodes, config);
  if (!contour) return std::unexpected(contour.error());

  Sweep sweep(*contour, config, sweep_options, options);
  SweepMarch run(targets, sweep_options, progress, sweep, options.switches ? &*options.switches : nullptr);
  const double centre =
      sweep_options.mode == OperMode::PrescribedAlpha ? contour->alpha_zero_lift * kRadToDeg : 0.0;
  if (const auto start = run.order_targets(centre)) {
    run.march_outward(*start, centre, sweep);
    run.retry_from_neighbours();
  }
  return run.take_points();
}

}  // namespace velaro
