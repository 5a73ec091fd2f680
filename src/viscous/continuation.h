#pragma once
// Operating points of one contour solved one after another: the work that
// does not depend on the angle of attack (panel geometry, factored airfoil
// system, airfoil part of the mass-defect influence matrix) is done once per
// contour, and a converged viscous solution can be solved again at a nearby
// angle or lift coefficient, starting from its own boundary layer.
#include <expected>
#include <span>
#include <string>

#include <Eigen/Dense>

#include "geometry/point.h"
#include "inviscid/factored_system.h"
#include "viscous/driver.h"
#include "viscous/state.h"
#include "viscous/viscous_error.h"

namespace velaro {

// The angle-independent part of every operating point of one contour.
struct PreparedContour {
  FactorizedSystem system;
  // The airfoil-airfoil block of the influence matrix (mass_defect_matrix,
  // n x n). The wake columns and rows follow the wake, which is laid along
  // the streamline of each angle: every point solves only those.
  Eigen::MatrixXd airfoil_block;
  // The state before any angle is applied, as build_state_from_coords
  // leaves it.
  ViscousState initial;
  // Zero-lift angle of the inviscid solution (radians), where the
  // circulation of the combined base solutions vanishes.
  double alpha_zero_lift = 0.0;
};

// Checks the configuration and the contour (as solve_body_oper_point does:
// size, blunt closing point, orientation and crossings) and builds the
// shared part. `nodes` are in solver order (coords_from_body).
std::expected<PreparedContour, ViscousError> prepare_contour(const std::string& name, std::span<const Point> nodes,
                                                            const ViscousConfig& config);

// A fresh state for a cold start: at alpha = target degrees in
// PrescribedAlpha mode; in PrescribedCl mode with the lift coefficient target
// and a first angle from the inviscid lift slope (2 pi per radian) about the
// zero-lift angle.
ViscousState cold_state(const PreparedContour& contour, OperMode mode, double target);

// Converges `state` (from cold_state) from scratch. The influence matrix is
// built from the shared airfoil part; the result is bit for bit that of
// build_state_from_coords followed by solve_operating_point_from_state.
std::expected<OperPointResult, ViscousError> solve_cold(const PreparedContour& contour, ViscousState& state,
                                                        const ViscousConfig& config, const DriverOptions& options = {});

// Solves `state`, which holds a converged solution of this contour, again at
// a new target (an angle in degrees, or a lift coefficient). The boundary
// layer, the transition points and the stagnation point are kept; the wake
// is laid again for the new angle with what depends on it (wake speeds,
// influence matrix), the inviscid speeds are those of the new angle and each
// row keeps its viscous increment over them (uedg - uinv). Then the Newton
// iteration runs as for a cold start. In PrescribedCl mode the angle starts
// at the state's.
std::expected<OperPointResult, ViscousError> solve_warm(const PreparedContour& contour, ViscousState& state,
                                                        OperMode mode, double target, const ViscousConfig& config,
                                                        const DriverOptions& options = {});

// First-order predictor for the next point of a sweep: moves the boundary
// layer of `newer` (converged at target b) along the secant from `older`
// (converged at target a) to the target b + t (b - a), row by row: momentum
// and displacement thickness, amplification or shear, and the viscous
// increment of the edge speed over the inviscid one; in PrescribedCl mode
// the angle too. Rows are matched by node, so the stagnation point may have
// moved to another panel between the two; rows without a counterpart on the
// same side, rows whose flow type differs between the two, and rows whose
// extrapolated values would leave the physical range (thicknesses not
// positive, a shape factor below 1.05, a negative amplification, shear
// outside (0, 0.25], an edge speed not positive) keep their values. Returns
// whether anything was moved (nothing for a t that is not positive, or
// states of different contours or without a boundary layer). The result is
// a start for solve_warm, not a solution.
bool predict_state(const ViscousState& older, ViscousState& newer, double t);

}  // namespace velaro
