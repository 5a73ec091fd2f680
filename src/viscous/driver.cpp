// The global Newton iteration of one viscous operating point: set-up of the
// wake, the row layout and the mass-defect influence matrix, then per
// iteration assembly, residual, elimination, relaxed update, stagnation-point
// move, forces and the convergence test.
#include "viscous/driver.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <unistd.h>

#include "common/angles.h"
#include "common/text_format.h"
#include "geometry/contour_checks.h"
#include "inviscid/mass_defect.h"
#include "inviscid/wake.h"
#include "viscous/assembly.h"
#include "viscous/block_solve.h"
#include "viscous/forces.h"
#include "viscous/point_workspace.h"
#include "viscous/row_layout.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/stagnation_move.h"
#include "viscous/station_evaluation.h"
#include "viscous/station_indexing.h"
#include "viscous/trace_printer.h"
#include "viscous/update.h"
#include "viscous/wake_setup.h"

namespace velaro {

namespace {

// |CL| below which the CL-scaled Reynolds numbers fall back to the base one.
constexpr double kMinClForScaledRe = 1e-6;

bool all_finite(const OperPointResult& r) {
  const double values[] = {r.alpha_deg,   r.cl,          r.cd,       r.cm,          r.x_tr_upper, r.x_tr_lower,
                           r.residual,    r.cd_friction, r.cd_pressure, r.reynolds_eff};
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return !r.x_sep || std::isfinite(*r.x_sep);
}

OperPointResult assemble_result(const ViscousState& state, const ViscousConfig& config) {
  OperPointResult r;
  r.reynolds_eff = effective_reynolds(config, state.cl);
  r.x_tr_upper = transition_x(state, Side::Upper);
  r.x_tr_lower = transition_x(state, Side::Lower);
  r.x_sep = separation_x(state, Side::Upper, config.mach, r.reynolds_eff);
  if (!r.x_sep) r.x_sep = separation_x(state, Side::Lower, config.mach, r.reynolds_eff);
  r.alpha_deg = state.alpha * kRadToDeg;
  r.cl = state.cl;
  r.cd = state.cd;
  r.cm = state.cm;
  r.iterations = state.iterations;
  r.residual = state.residual;
  r.cd_friction = state.cd_friction;
  r.cd_pressure = state.cd_pressure;
  r.converged = state.converged;
  return r;
}

}  // namespace

DriverOptions driver_options_from_environment() {
  DriverOptions options;
  options.switches = DiagnosticSwitches::from_environment();
  options.stagnation_move = !options.switches->is_set(DiagnosticSwitch::DisableStmove);
  return options;
}

double viscous_memory_estimate(std::size_t n, const ViscousConfig& config) {
  const double airfoil = static_cast<double>(n) + 1.0;
  const double nodes = static_cast<double>(n) + static_cast<double>(wake_node_count(n, config.wake_length));
  // Matrix and factors; influence matrix and its right-hand sides; mass
  // coupling (three values per line pair) and the elimination's copy.
  return 8.0 * (2.0 * airfoil * airfoil + 2.0 * nodes * nodes + 6.0 * (nodes + 1.0) * (nodes + 1.0));
}

std::optional<ViscousError> check_viscous_size(std::size_t n, const ViscousConfig& config) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return std::nullopt;
  const double physical = static_cast<double>(pages) * static_cast<double>(page_size);
  const double need = viscous_memory_estimate(n, config);
  if (need <= 0.5 * physical) return std::nullopt;
  return ViscousError::message(text::printf("Too many nodes for the viscous analysis: %zu nodes need about %.1f GB",
                                          n, need / 1e9));
}

double effective_reynolds(const ViscousConfig& config, double cl) {
  const double a = std::abs(cl);
  if (a >= kMinClForScaledRe) {
    if (config.re_type == ReynoldsType::Type2) return config.reynolds / std::sqrt(a);
    if (config.re_type == ReynoldsType::Type3) return config.reynolds / a;
  }
  return config.reynolds;
}

double newton_residual_norm(std::span<const std::array<double, 3>> rhs, std::size_t nsys) {
  if (rhs.empty()) return std::sqrt(0.0 / static_cast<double>(3 * nsys));
  const std::size_t last = std::min(nsys, rhs.size() - 1);
  double sum = 0.0;
  for (std::size_t iv = 1; iv <= last; ++iv)
    for (double v : rhs[iv]) sum += v * v;
  // nsys = 0 gives 0/0: no equation, so nothing can be called converged.
  return std::sqrt(sum / static_cast<double>(3 * nsys));
}

namespace {

std::expected<OperPointResult, ViscousError> iterate(ViscousState& state, const ViscousConfig& config,
                                                    const DriverOptions& options, PointWorkspace& ws);

std::expected<OperPointResult, ViscousError> solve_from_state(ViscousState& state, const FactorizedSystem& system,
                                                             const ViscousConfig& config, const DriverOptions& options,
                                                             PointWorkspace& ws) {
  // Every trace point of this call answers from the caller's snapshot.
  const InstalledSwitches switches(options.switches ? &*options.switches : nullptr);
  // The set-up has validated these already; a direct caller may not have.
  // max_iterations = 0 is allowed here: it asks for the set-up result alone.
  ViscousConfig checked = config;
  checked.max_iterations = 1;
  if (auto bad = validate_oper_point(checked, state.alpha * kRadToDeg)) return std::unexpected(*bad);
  const std::size_t n = state.node_count();
  if (n < 2 || n != system.node_count() || state.y.size() != n || state.s.size() != n ||
      state.gamu_0.size() != n || state.gamu_90.size() != n || state.qinvu_0.size() != n ||
      state.qinvu_90.size() != n || state.xp.size() != n || state.yp.size() != n)
    return std::unexpected(ViscousError::message("viscous state does not match its factored system"));
  if (auto too_big = check_viscous_size(n, config)) return std::unexpected(*too_big);

  state.trip_x = config.trip_x;
  // Set-up: inviscid solution at alpha, wake, row layout, influence matrix.
  combine_base_solutions_at_alpha(state, state.alpha);
  refresh_wake_geometry(state, system, config);
  compute_wake_inviscid_speeds(state, system);
  state.cl = compute_panel_forces_from_gamma(state.x, state.y, state.qinv, state.alpha, config.mach).cl;
  rebuild_rows_for_numbering(state);
  if (!(state.dij_built && state.dij_current)) {
    // Built in the workspace's spare storage and swapped in on success, so
    // that a failure leaves the state's matrix as it was; the state's old
    // storage becomes the spare.
    if (auto built = mass_defect_matrix_with_wake(system, state.wake_x, state.wake_y, state.wake_nx, state.wake_ny,
                                                  state.wake_apanel, ws.mass_defect, ws.dij);
        !built)
      return std::unexpected(ViscousError::from(built.error()));
    state.dij.swap(ws.dij);
    state.dij_built = true;
    state.dij_current = true;
  }
  // With the influence matrix at hand, a first station held at the
  // stagnation point also gets the matching inviscid part.
  hold_first_station_speeds(state);

  return iterate(state, config, options, ws);
}

std::expected<OperPointResult, ViscousError> iterate(ViscousState& state, const ViscousConfig& config,
                                                    const DriverOptions& options, PointWorkspace& ws) {
  const InstalledSwitches switches(options.switches ? &*options.switches : nullptr);
  const auto nt = static_cast<Eigen::Index>(state.node_count() + state.wake_count());
  if (!state.dij_built || !state.dij_current || state.dij.rows() != nt || state.dij.cols() != nt)
    return std::unexpected(ViscousError::message("viscous state is not set up for the iteration"));
  // The trace lines of the switches of this call come from an observer; with
  // no switch set there is none.
  TracePrinter printer;
  NewtonObserver* const observer = printer.active() ? &printer : nullptr;
  if (!(options.max_relaxation > 0.0 && options.max_relaxation <= 1.0))
    return std::unexpected(ViscousError::message("relaxation bound must lie in (0, 1]"));

  // The system, its solution and the stations are rebuilt in the same
  // arrays on every iteration (and, the workspace being the thread's, on
  // every operating point the thread solves): every array is rewritten
  // before it is read, so nothing carries over from one point to the next
  // but the memory.
  NewtonWorkspace& workspace = ws.newton;
  for (std::uint64_t iteration = 1; config.max_iterations > 0; ++iteration) {
    if (options.should_stop && options.should_stop())
      return std::unexpected(ViscousError::message("viscous analysis interrupted"));
    const double re_eff = effective_reynolds(config, state.cl);
    const auto it_arg = static_cast<unsigned>(std::min<std::uint64_t>(iteration, UINT_MAX));
    assemble_newton_system(state, it_arg, re_eff, config.ncrit, config.mach, workspace, observer);
    AssemblyState& system_lines = workspace.system.a;
    const double residual = newton_residual_norm(system_lines.vdel1, system_lines.nsys);

    block_solve_in_place(system_lines, workspace.solution, observer);
    update_state_from_solution(state, system_lines, workspace.solution, config.mach, re_eff, workspace, observer,
                               options.max_relaxation);
    copy_wake_rows_to_upper(state);
    rebuild_qvis_from_rows(state);
    rebuild_gam_from_qvis(state);

    if (state.mode == OperMode::PrescribedCl) {
      combine_base_solutions_at_alpha(state, state.alpha + state.dac);
      set_inviscid_edge_speeds(state);
    }
    rebuild_qvis_from_rows(state);
    rebuild_gam_from_qvis(state);

    if (options.stagnation_move) move_stagnation_point(state);

    store_forces(state, evaluate_forces(state, config.mach, re_eff, ws.forces));
    state.iterations = iteration;
    state.residual = residual;
    state.converged = residual <= config.tolerance;  // false for NaN
    // With a prescribed lift the residual measures the boundary-layer
    // equations only. An angle step still held at its limit means the lift
    // is not reached yet, however small that residual (a warm start from a
    // converged point at another lift begins with a tiny one).
    if (state.mode == OperMode::PrescribedCl && std::fabs(state.dac) >= kMaxAngleStep) state.converged = false;
    // A residual that is no longer finite never recovers: stop iterating.
    if (state.converged || !std::isfinite(residual) || iteration >= config.max_iterations) break;
  }

  OperPointResult result = assemble_result(state, config);
  if (!all_finite(result))
    return std::unexpected(ViscousError::message("viscous iteration diverged: non-finite result"));
  return result;
}

}  // namespace

std::expected<OperPointResult, ViscousError> solve_operating_point_from_state(ViscousState& state,
                                                                           const FactorizedSystem& system,
                                                                           const ViscousConfig& config,
                                                                           const DriverOptions& options) {
  const BorrowedPointWorkspace ws;
  return solve_from_state(state, system, config, options, *ws);
}

std::expected<OperPointResult, ViscousError> iterate_operating_point(ViscousState& state, const ViscousConfig& config,
                                                                   const DriverOptions& options) {
  const BorrowedPointWorkspace ws;
  return iterate(state, config, options, *ws);
}

std::expected<OperPointResult, ViscousError> solve_body_oper_point(const Body& body, const ViscousConfig& config,
                                                                 double alpha_deg, const DriverOptions& options) {
  const InstalledSwitches switches(options.switches ? &*options.switches : nullptr);
  std::vector<Point> nodes = coords_from_body(body.panels());
  // The configuration is checked first so that its messages come before
  // any complaint about the size.
  if (auto bad = validate_oper_point(config, alpha_deg)) return std::unexpected(*bad);
  if (auto too_big = check_viscous_size(nodes.size(), config)) return std::unexpected(*too_big);
  // A blunt base closed by a repeated first point is the trailing-edge gap;
  // contours that are not airfoils in the expected order are refused.
  if (auto open = without_blunt_closing_point(nodes)) nodes = std::move(*open);
  if (auto bad = check_airfoil_contour(nodes)) return std::unexpected(ViscousError::geometry(bad->to_string()));
  auto setup = build_state_from_coords(body.name(), nodes, config, alpha_deg);
  if (!setup) return std::unexpected(setup.error());
  auto result = solve_operating_point_from_state(setup->state, setup->system, config, options);
  // The state and the system end here: the storage of their large matrices
  // serves the next point of this thread.
  return_point_storage(setup->state, setup->system);
  return result;
}

}  // namespace velaro
