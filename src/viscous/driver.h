#pragma once
// The viscous iteration driver: converges one operating point of the coupled
// boundary-layer / inviscid system by a global Newton iteration, and the
// composite entry that builds the operating point from a body first.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>

#include "boundary_layer/diagnostics.h"
#include "geometry/body.h"
#include "inviscid/factored_system.h"
#include "viscous/viscous_error.h"
#include "viscous/state.h"

namespace velaro {

// Integrated result of one viscous operating point.
struct OperPointResult {
  std::optional<double> x_sep;  // x of the first separated station (upper side first)
  double alpha_deg = 0.0;
  double cl = 0.0;
  double cd = 0.0;
  double cm = 0.0;
  double x_tr_upper = 1.0;  // transition positions as chord fractions
  double x_tr_lower = 1.0;
  std::uint64_t iterations = 0;
  double residual = 0.0;  // rms Newton residual of the last iteration
  double cd_friction = 0.0;
  double cd_pressure = 0.0;
  double reynolds_eff = 0.0;
  bool converged = false;
};

// Switches of the driver that come from the process environment. They are
// read once by the caller, on the thread that owns the environment (the
// Python entry points read them with the interpreter lock held), and handed
// to the driver, which never looks at the environment itself: worker threads
// reading the environment while another thread changes it is a data race.
struct DriverOptions {
  // Move the stagnation point (and shift the boundary layer with it) after
  // every update; VELARO_DISABLE_STMOVE switches this off.
  bool stagnation_move = true;
  // Polled once per Newton iteration when set; answering true stops the
  // iteration and the call fails with "viscous analysis interrupted". Lets a
  // caller honour a user's interrupt during a long run (a large
  // max_iterations on a point that does not converge).
  std::function<bool()> should_stop;
  // The diagnostic trace switches of this call. When present, the driver
  // installs them on its thread for the duration of the call, so that no
  // trace point reads the environment; when absent, trace points read the
  // environment themselves (only safe where nothing changes it meanwhile).
  std::optional<DiagnosticSwitches> switches;
  // Upper bound of the relaxation factor of every Newton update, in (0, 1].
  // 1 (the default) leaves the step limits alone; a smaller value damps
  // every step, which turns an iteration that cycles round a solution (a
  // laminar bubble whose transition point jumps between rows) into a slower
  // but steady approach to it. A damped iteration that converges satisfies
  // the same equations to the same tolerance.
  double max_relaxation = 1.0;
};

// Takes one snapshot of every diagnostic switch from the environment and
// derives the stagnation move from it: VELARO_DISABLE_STMOVE set (present
// with a valid UTF-8 value, empty included) disables the move. Call it only
// where nothing can change the environment concurrently.
DriverOptions driver_options_from_environment();

// Rough peak memory (bytes) of one viscous operating point of n airfoil
// nodes: the airfoil matrix and its factors, the mass-defect influence
// matrix of airfoil and wake, and the dense mass coupling of the Newton
// system with the elimination's working copy.
double viscous_memory_estimate(std::size_t n, const ViscousConfig& config);

// Refuses operating points whose dense matrices would take more than half of
// the machine's physical memory: such a contour would otherwise end in an
// allocation failure or in the process being killed part-way.
std::optional<ViscousError> check_viscous_size(std::size_t n, const ViscousConfig& config);

// Effective Reynolds number for the lift coefficient cl: the base number for
// Type1 and whenever |cl| < 1e-6; reynolds / sqrt(|cl|) for Type2 and
// reynolds / |cl| for Type3.
double effective_reynolds(const ViscousConfig& config, double cl);

// rms of the three right-hand-side components of system lines
// 1 .. min(nsys, rhs.size() - 1), divided by 3 * nsys.
double newton_residual_norm(std::span<const std::array<double, 3>> rhs, std::size_t nsys);

// Converges the operating point held by `state` (built by
// build_state_from_coords for `system`). On return the state holds the final
// boundary layer, forces and bookkeeping. Non-convergence is not an error
// (converged = false); a diverged iteration whose residual or forces are no
// longer finite is reported as an error rather than as a result. The large
// arrays of the set-up and the iteration come from the calling thread's
// workspace and go back to it (viscous/point_workspace.h); the state's
// influence matrix stays with the state.
std::expected<OperPointResult, ViscousError> solve_operating_point_from_state(ViscousState& state,
                                                                           const FactorizedSystem& system,
                                                                           const ViscousConfig& config,
                                                                           const DriverOptions& options = {});

// The Newton iteration alone, on a state whose set-up is complete: inviscid
// speeds at its angle, wake, rows and the influence matrix current (as
// solve_operating_point_from_state leaves them before its first iteration, or
// a restart from a converged state prepares them). The configuration is
// taken as validated; a state whose influence matrix is missing, stale or of
// the wrong size is refused. Results and errors as
// solve_operating_point_from_state.
std::expected<OperPointResult, ViscousError> iterate_operating_point(ViscousState& state, const ViscousConfig& config,
                                                                   const DriverOptions& options = {});

// Set-up and iteration of one operating point of `body` at alpha_deg; the
// storage of its system and influence matrix goes back to the thread's
// workspace at the end.
std::expected<OperPointResult, ViscousError> solve_body_oper_point(const Body& body, const ViscousConfig& config,
                                                                 double alpha_deg, const DriverOptions& options = {});

}  // namespace velaro
