#pragma once
// Force extraction of a viscous operating point: lift and moment from the
// surface speed distribution, skin-friction drag from the boundary-layer
// rows, total drag from the momentum defect at the end of the wake, the
// transition positions as chord fractions and the first separation point.
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "viscous/state.h"

namespace velaro {

// Lift and moment coefficients of a pressure integration.
struct PanelForces {
  double cl = 0.0;
  double cm = 0.0;
};

// Integrates Cp = 1 - q^2 over the open contour x, y (nodes 0..n-1, no
// closing panel) at angle of attack alpha (radians); the moment is taken
// about (0.25, 0). q may be surface speeds or vortex strengths (free-stream
// speed 1). Fewer than two usable nodes give zero forces; mismatched array
// lengths are cut to the shortest.
PanelForces compute_panel_forces_from_gamma(std::span<const double> x, std::span<const double> y,
                                            std::span<const double> q, double alpha, double mach);

// The stations the drag of an operating point is evaluated from, per side
// (0 upper, 1 lower): the airfoil stations from the stagnation point to the
// trailing edge, then the last wake station when the side's rows run into
// the wake.
struct ForceView {
  std::array<std::vector<BlStation>, 2> stations;
};

// Number of rows of one side to use for forces: trailing rows that are
// empty (not wake, node 0, theta, dstr and |uedg| all <= 1e-12) are dropped,
// but never below min(row count, nbl).
std::size_t active_force_len(std::span<const BlRow> rows, std::size_t count, std::size_t nbl);

// Builds the force view of a state from the first active_force_len rows of
// each side, with the stations at M^2 = mach^2 and re_eff.
ForceView build_force_view(const ViscousState& state, double mach, double re_eff);
// The same into `view`, whose arrays are reused.
void build_force_view(const ViscousState& state, double mach, double re_eff, ForceView& view);

// Skin-friction drag contribution of one side from its rows and their
// stations: the trapezoidal sum of Ue^2 * Cf * dx over the airfoil intervals
// from row 3 on (Cf clamped to [0, 0.02], Ue raised to at least 0.01; dx
// along x, or along the arc where x does not advance). Pairs touching a wake
// row, a row with theta < 1e-10 or with r_theta < 80 are left out; fewer
// than five rows give 0.
double compute_row_friction_drag(std::span<const BlRow> rows, std::span<const BlStation> stations);

// Drag estimate from the trailing-edge rows of both sides, used when the
// wake end cannot supply one. 0 when neither side has an airfoil row.
double trailing_edge_drag(std::span<const BlStation> upper, std::span<const BlStation> lower);

// Total drag from the last wake row of the lower side,
// cd = 2 theta |ue|^((5 + H) / 2), falling back to the trailing-edge estimate
// (at least 1e-6) when there is no wake row or the wake end gives no finite
// positive value.
double squire_young_drag(std::span<const BlStation> upper, std::span<const BlStation> lower);

// Force coefficients of one evaluation.
struct ForceCoefficients {
  double cl = 0.0;
  double cm = 0.0;
  double cd = 0.0;
  double cd_friction = 0.0;
  double cd_pressure = 0.0;  // cd - cd_friction; may be negative
};

// Lift and moment from gam at the state's alpha, friction and total drag
// from the rows (M^2 = mach^2, Reynolds number re_eff).
ForceCoefficients evaluate_forces(const ViscousState& state, double mach, double re_eff);
// The same with the stations built in `view` (kept from one call to the next
// by a caller that evaluates the forces on every iteration).
ForceCoefficients evaluate_forces(const ViscousState& state, double mach, double re_eff, ForceView& view);

// Stores the coefficients in the state's cl, cm, cd, cd_friction and
// cd_pressure.
void store_forces(ViscousState& state, const ForceCoefficients& forces);

// Transition position of a side as a chord fraction:
// the point at arc length xssitr projected on the chord line from the LE to
// the TE point; 1.0 when the side has no transition on the airfoil or the
// point cannot be located, 0 for a point ahead of the LE.
double transition_x(const ViscousState& state, Side side);

// x of the first airfoil station of a side with Cf <= 0, if any (rows
// converted at M^2 = mach^2 and re_eff).
std::optional<double> separation_x(const ViscousState& state, Side side, double mach, double re_eff);

}  // namespace velaro
