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
                                            std::span<const double> q, double alpha);

// One boundary-layer station as the force stage sees it.
struct ViscousRow {
  double x = 0.0;        // arc length from the stagnation point
  double x_coord = 0.0;  // Cartesian x of the station's node
  double ue = 0.0;
  double theta = 0.0;
  double dstar = 0.0;      // without the wake gap
  double first_var = 0.0;  // ctau on turbulent/wake stations, ampl on laminar ones
  double ctau = 0.0;
  double ampl = 0.0;
  double mass = 0.0;
  double h = 0.0;
  double hk = 0.0;
  double hs = 0.0;
  double hc = 0.0;
  double r_theta = 0.0;
  double cf = 0.0;
  double di = 0.0;
  double us = 0.0;
  double cq = 0.0;
  double de = 0.0;
  double dw = 0.0;  // wake gap, never negative
  std::array<double, 27> derivs{};
  bool laminar = false;
  bool turbulent = false;
  bool wake = false;
};

// Skin-friction drag contribution of one side: the trapezoidal sum of
// Ue^2 * Cf * dx over the airfoil intervals from row 3 on (Cf clamped to
// [0, 0.02], Ue raised to at least 0.01). Pairs touching a wake row, a row
// with theta < 1e-10 or with r_theta < 80 are left out; fewer than five rows
// give 0.
double compute_row_friction_drag(std::span<const ViscousRow> rows);

// Drag estimate from the trailing-edge rows of both sides, used when the
// wake end cannot supply one. 0 when neither side has an airfoil row.
double trailing_edge_drag(std::span<const ViscousRow> upper, std::span<const ViscousRow> lower);

// Total drag from the last wake row of the lower side,
// cd = 2 theta |ue|^((5 + H) / 2), falling back to the trailing-edge estimate
// (at least 1e-6) when there is no wake row or the wake end gives no finite
// positive value.
double squire_young_drag(std::span<const ViscousRow> upper, std::span<const ViscousRow> lower);

// The profile arrays of one surface carried by a full-state diagnostic
// snapshot.
struct SurfaceStateArrays {
  std::vector<double> x;
  std::vector<double> theta;
  std::vector<double> dstar;
  std::vector<double> ue;
  std::vector<double> hk;
  std::vector<double> cf;
  std::vector<double> mass;
};

}  // namespace velaro
