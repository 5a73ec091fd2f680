#include "viscous/continuation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "common/angles.h"
#include "geometry/contour_checks.h"
#include "inviscid/mass_defect.h"
#include "viscous/point_workspace.h"
#include "viscous/row_layout.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/stagnation_move.h"
#include "viscous/station_evaluation.h"
#include "viscous/station_indexing.h"
#include "viscous/wake_setup.h"

namespace velaro {

namespace {

// Circulation of a nodal vorticity distribution round the contour
// (trapezoidal on every panel).
double circulation(std::span<const double> gamma, std::span<const double> s) {
  double g = 0.0;
  for (std::size_t i = 0; i + 1 < gamma.size() && i + 1 < s.size(); ++i)
    g += 0.5 * (gamma[i] + gamma[i + 1]) * (s[i + 1] - s[i]);
  return g;
}

// Builds the influence matrix of the state's current wake from the shared
// airfoil block unless it is current: only the wake columns are solved, and
// the matrix is the single-point path's, bit for bit.
std::optional<ViscousError> refresh_influence_matrix(const PreparedContour& contour, ViscousState& state) {
  if (state.dij_built && state.dij_current) return std::nullopt;
  // Built in the thread's spare storage and swapped in, as the driver does.
  const BorrowedPointWorkspace ws;
  auto built = mass_defect_matrix_with_wake_from_block(contour.system, contour.airfoil_block, state.wake_x,
                                                       state.wake_y, state.wake_nx, state.wake_ny, state.wake_apanel,
                                                       ws->mass_defect, ws->dij);
  if (!built) return ViscousError::from(built.error());
  state.dij.swap(ws->dij);
  state.dij_built = true;
  state.dij_current = true;
  return std::nullopt;
}

}  // namespace

bool predict_state(const ViscousState& older, ViscousState& newer, double t) {
  if (!(std::isfinite(t) && t > 0.0) || older.node_count() != newer.node_count() ||
      older.wake_count() != newer.wake_count() || !older.bl_initialised || !newer.bl_initialised)
    return false;
  const auto ahead = [t](double a, double b) { return b + t * (b - a); };
  const std::size_t nodes = newer.node_count() + newer.wake_count();
  std::vector<std::size_t> row_of(nodes);
  bool moved = false;
  for (std::size_t side = 0; side < 2; ++side) {
    // The rows of the older state by node: when the stagnation point has
    // moved to another panel, the same node sits at another row.
    const auto& a_rows = older.rows[side];
    std::fill(row_of.begin(), row_of.end(), kNoPanel);
    for (std::size_t r = 1; r < std::min(a_rows.size(), older.nbl[side]); ++r)
      if (a_rows[r].panel < nodes) row_of[a_rows[r].panel] = r;
    auto& b_rows = newer.rows[side];
    const std::size_t m = std::min(b_rows.size(), newer.nbl[side]);
    for (std::size_t r = 1; r < m; ++r) {
      BlRow& b = b_rows[r];
      if (b.panel >= nodes || row_of[b.panel] == kNoPanel) continue;
      const std::size_t ra = row_of[b.panel];
      const BlRow& a = a_rows[ra];
      if (a.flow != b.flow) continue;
      const double theta = ahead(a.theta, b.theta);
      // Wake rows carry the gap in dstr; the shape factor is that of the
      // layer alone.
      const double dstr = ahead(a.dstr, b.dstr);
      const double first = ahead(first_variable(a), first_variable(b));
      const double uedg = b.uinv + ahead(a.uedg - a.uinv, b.uedg - b.uinv);
      const bool fine = std::isfinite(theta) && std::isfinite(dstr) && std::isfinite(first) && std::isfinite(uedg) &&
                        theta > 0.0 && dstr - b.dw >= 1.05 * theta && uedg > 0.0 &&
                        (b.laminar() ? first >= 0.0 : first > 0.0 && first <= 0.25);
      if (!fine) continue;
      b.theta = theta;
      b.dstr = dstr;
      set_first_variable(b, first, b.flow);
      b.uedg = uedg;
      moved = true;
    }
  }
  if (moved && newer.mode == OperMode::PrescribedCl) {
    const double alpha = ahead(older.alpha, newer.alpha);
    if (std::isfinite(alpha)) newer.alpha = alpha;
  }
  return moved;
}

std::expected<PreparedContour, ViscousError> prepare_contour(const std::string& name, std::span<const Point> nodes,
                                                            const ViscousConfig& config) {
  if (auto bad = validate_oper_point(config, 0.0)) return std::unexpected(*bad);
  if (auto too_big = check_viscous_size(nodes.size(), config)) return std::unexpected(*too_big);
  std::vector<Point> pts(nodes.begin(), nodes.end());
  if (auto open = without_blunt_closing_point(pts)) pts = std::move(*open);
  if (auto bad = check_airfoil_contour(pts)) return std::unexpected(ViscousError::geometry(bad->to_string()));
  auto setup = build_state_from_coords(name, pts, config, 0.0);
  if (!setup) return std::unexpected(setup.error());

  PreparedContour contour{std::move(setup->system), Eigen::MatrixXd(), std::move(setup->state), 0.0};
  auto block = contour.system.solve(airfoil_mass_sources(contour.system));
  if (!block) return std::unexpected(ViscousError::from(block.error()));
  contour.airfoil_block = block->topRows(static_cast<Eigen::Index>(contour.system.node_count()));
  const double g0 = circulation(contour.system.gamu_0, contour.initial.s);
  const double g90 = circulation(contour.system.gamu_90, contour.initial.s);
  // Gamma(alpha) = g0 cos(alpha) + g90 sin(alpha) vanishes at -atan(g0/g90).
  contour.alpha_zero_lift = std::abs(g90) > 0.0 && std::isfinite(g0 / g90) ? std::atan(-g0 / g90) : 0.0;
  return contour;
}

ViscousState cold_state(const PreparedContour& contour, OperMode mode, double target) {
  ViscousState state = contour.initial;
  state.mode = mode;
  state.cl_spec = target;
  if (mode == OperMode::PrescribedAlpha) {
    state.alpha = target * kDegToRad;
  } else {
    const double guess = contour.alpha_zero_lift + target / (2.0 * std::numbers::pi);
    state.alpha = std::isfinite(guess) ? guess : 0.0;
  }
  return state;
}

std::expected<OperPointResult, ViscousError> solve_cold(const PreparedContour& contour, ViscousState& state,
                                                        const ViscousConfig& config, const DriverOptions& options) {
  if (auto bad = validate_oper_point(config, state.alpha * kRadToDeg)) return std::unexpected(*bad);
  if (state.mode == OperMode::PrescribedCl && !std::isfinite(state.cl_spec))
    return std::unexpected(ViscousError::message("Lift coefficient must be finite"));
  // The wake and the influence matrix the driver's set-up would build, with
  // the airfoil block taken from the contour; the driver then
  // finds both current and goes on exactly as it would have.
  combine_base_solutions_at_alpha(state, state.alpha);
  refresh_wake_geometry(state, contour.system, config);
  if (auto bad = refresh_influence_matrix(contour, state)) return std::unexpected(*bad);
  return solve_operating_point_from_state(state, contour.system, config, options);
}

std::expected<OperPointResult, ViscousError> solve_warm(const PreparedContour& contour, ViscousState& state,
                                                        OperMode mode, double target, const ViscousConfig& config,
                                                        const DriverOptions& options) {
  state.iterations = 0;
  state.converged = false;
  if (mode == OperMode::PrescribedCl && !std::isfinite(target))
    return std::unexpected(ViscousError::message("Lift coefficient must be finite"));
  const double alpha = mode == OperMode::PrescribedAlpha ? target * kDegToRad : state.alpha;
  if (auto bad = validate_oper_point(config, alpha * kRadToDeg)) return std::unexpected(*bad);
  const std::size_t n = state.node_count();
  if (!state.bl_initialised || n != contour.system.node_count() || state.rows[0].empty() || state.rows[1].empty())
    return std::unexpected(ViscousError::message("viscous state has no solution to restart from"));

  // The viscous increment of every row over its inviscid speed, kept across
  // the change of angle.
  std::array<std::vector<double>, 2> increment;
  for (std::size_t side = 0; side < 2; ++side) {
    const auto& rows = state.rows[side];
    increment[side].assign(rows.size(), 0.0);
    for (std::size_t r = 1; r < rows.size(); ++r) increment[side][r] = rows[r].uedg - rows[r].uinv;
  }

  state.mode = mode;
  state.cl_spec = target;
  // Inviscid speeds at the new angle; the wake is laid along the new inviscid
  // streamline exactly as a cold start at this angle lays it.
  combine_base_solutions_at_alpha(state, alpha);
  refresh_wake_geometry(state, contour.system, config);
  compute_wake_inviscid_speeds(state, contour.system);
  if (auto bad = refresh_influence_matrix(contour, state)) return std::unexpected(*bad);

  // Same numbering and stagnation point: the wake rows move with the wake,
  // every row takes the new inviscid speed plus its old increment.
  set_row_arc_lengths(state);
  set_inviscid_edge_speeds(state);
  for (std::size_t side = 0; side < 2; ++side) {
    auto& rows = state.rows[side];
    const std::size_t m = std::min(rows.size(), state.nbl[side]);
    for (std::size_t r = 1; r < m; ++r) rows[r].uedg = rows[r].uinv + increment[side][r];
  }
  copy_wake_rows_to_upper(state);
  rebuild_qvis_from_rows(state);
  rebuild_gam_from_qvis(state);
  // The new speeds may put the stagnation point on another panel: the
  // boundary layer moves with it as during the iteration.
  if (options.stagnation_move) {
    move_stagnation_point(state);
  } else {
    hold_first_station_speeds(state);
  }
  recompute_mass_from_state(state);

  state.residual = 0.0;
  return iterate_operating_point(state, config, options);
}

}  // namespace velaro
