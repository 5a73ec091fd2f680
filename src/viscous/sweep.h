#pragma once
// Continuation sweeps: a list of operating points (angles or lift
// coefficients) of one contour solved in turn, each warm-started from the
// converged boundary layer of its neighbour, with bounded sub-stepping and a
// cold start as fall-backs. The angle-independent work of the contour is done
// once and shared by every point.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "geometry/point.h"
#include "viscous/driver.h"
#include "viscous/state.h"
#include "viscous/viscous_error.h"

namespace velaro {

// How a sweep point was reached.
enum class PointStart : std::uint8_t {
  Warm,        // re-solved from the converged neighbour in one step
  SubStepped,  // reached from the converged neighbour through intermediate points
  Cold,        // solved from a fresh boundary layer
  Failed,      // none of the above converged
  Damped,      // re-solved from the converged neighbour or from scratch with damped Newton steps
};

// One point of a sweep. result.iterations counts every Newton iteration
// spent on the point: failed attempts, intermediate sub-step points and the
// cold start included. A converged point holds its solution. A Failed point
// without error holds the last iterate of the attempt that ended with the
// smallest residual, with converged = false: numbers, not a solution. A
// point with an error has no result (its coefficients are NaN): every attempt
// diverged to non-finite values, its target was not finite, or the sweep was
// stopped before or while solving it.
struct SweepPoint {
  double target = 0.0;     // requested alpha (degrees) or cl
  OperPointResult result;  // alpha_deg, cl, cd, cm, cd_friction, cd_pressure, x_tr_*, iterations, residual, converged
  PointStart start = PointStart::Cold;
  std::optional<ViscousError> error;  // set when the point has no result
};

struct SweepOptions {
  OperMode mode = OperMode::PrescribedAlpha;  // targets are angles (degrees) or lift coefficients
  int max_substeps = 4;                       // bounded sub-stepping before the cold start
  bool warm_start = true;                     // false: every point a cold start (for comparisons)
  // Start a warm step from the secant through the last two converged points
  // (predict_state) when they were solved one after the other.
  bool predictor = true;
  // Last fall-backs: the warm start (when there is a converged neighbour),
  // then the cold start, again with every Newton step damped to at most this
  // relaxation factor and damped_iteration_factor times the iteration budget
  // (a damped iteration converges linearly). 1 switches them off.
  double damped_relaxation = 0.5;
  int damped_iteration_factor = 2;
  // Bound on the Newton iterations spent on one point, every attempt and
  // retry counted, as a multiple of the configured iteration limit; an
  // attempt that would pass it is cut short (and then fails unless it has
  // converged by then). 0: no bound.
  int point_iteration_factor = 16;
  // Runs the two functions it is given, possibly at the same time on two
  // threads, and returns when both have returned. When set, the sweep
  // marches its two branches side by side (see run_sweep); unset, it
  // marches them one after the other.
  std::function<void(const std::function<void()>&, const std::function<void()>&)> run_both;
};

// Progress: called after each finished point with the number finished so far.
using SweepProgress = std::function<void(std::size_t)>;

// Runs a sweep over `targets` (any order; results come back in input order)
// on the contour `nodes` (solver node order, as build_state_from_coords takes
// them; the contour is checked and a blunt closing point dropped as
// solve_body_oper_point does, so a cold start gives that function's result
// bit for bit). Errors of the whole call (invalid contour or configuration)
// are the unexpected value; per-point failures are flagged in the points.
//
// The march starts at the target nearest zero lift (the zero-lift angle of
// the inviscid solution, or cl = 0) with a cold start and goes up through the
// larger targets, then down from the start through the smaller ones. Each
// point starts from the last converged point of its branch (Warm); failing
// that, from the same state through 1, then 3 evenly spaced intermediate
// points (up to max_substeps; SubStepped); failing that, from the same state
// with damped steps (Damped); failing that, from scratch (Cold), then from
// scratch with damped steps (Damped).
// A point that converges after failed ones also marches back over them from
// its own solution (warm, sub-stepped and damped starts; a failure on the way
// back is stepped over). Last, every point still failed is retried, warm and
// damped, from each converged neighbour (in target order) it was not yet
// started from, for as long as that reaches new points. All attempts at one
// point together stay within options.point_iteration_factor times the
// iteration limit. With warm_start false every point is a cold start.
//
// With sweep_options.run_both (and warm starts, at least 12 targets) the two
// branches are marched side by side. Where one branch is much longer than
// the other, its far part is begun with a cold start of its own, at the
// point that leaves both threads about as many points, but no farther than
// 10 degrees (or a lift coefficient of 1) from the zero-lift centre; the
// first thread marches the near part and then the other branch. The points
// of that far part are converged solutions as any other, reached from
// another start than the single march would use; everything else is solved
// exactly as in the single march. Should the cold start fail, the far part
// is marched from the near part afterwards, as the single march does.
//
// options.should_stop is polled; when it answers true the sweep stops and the
// points not reached carry the error "viscous analysis interrupted". progress
// is called from the threads that solve the points, with the number finished
// so far.
std::expected<std::vector<SweepPoint>, ViscousError> run_sweep(const std::string& name, std::span<const Point> nodes,
                                                              const ViscousConfig& config,
                                                              std::span<const double> targets,
                                                              const SweepOptions& sweep_options,
                                                              const DriverOptions& options = {},
                                                              const SweepProgress& progress = {});

}  // namespace velaro
