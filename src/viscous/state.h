#pragma once
// State of one viscous operating point: airfoil node arrays, inviscid base
// solutions, wake, mass-defect influence matrix, the boundary-layer rows of
// both sides and the bookkeeping of the Newton iteration.
//
// Index conventions used throughout the viscous solver:
// - side 0 is the upper surface, side 1 the lower surface;
// - airfoil nodes 0..n-1 run from the upper trailing edge round the leading
//   edge to the lower trailing edge, wake nodes are n..n+nw-1;
// - row 0 of each side is a placeholder for the stagnation point (no node);
//   rows 1..iblte[side] are airfoil stations ordered away from it; lower rows
//   iblte[1]+1..nbl[1]-1 are the wake. The upper side counts no wake rows
//   (nbl[0] = iblte[0] + 1) but may carry copies of them after row nbl[0]-1;
// - first_turbulent_row[side]: row r is laminar exactly when
//   r < first_turbulent_row[side] and r is not a wake row (0: no laminar
//   row; iblte + 1: a laminar airfoil surface);
// - upper rows carry uedg = +q, lower and wake rows uedg = -q, q being the
//   nodal surface speed.
#include <Eigen/Dense>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "boundary_layer/flow_type.h"

namespace velaro {

// Surface side of a boundary-layer row. Per-side arrays are indexed with
// side_index: 0 upper, 1 lower (with the wake).
enum class Side : std::uint8_t { Upper, Lower };

constexpr std::size_t side_index(Side side) { return side == Side::Upper ? 0 : 1; }
constexpr Side side_at(std::size_t index) { return index == 0 ? Side::Upper : Side::Lower; }
constexpr const char* side_name(Side side) { return side == Side::Upper ? "upper" : "lower"; }
// Both sides in index order, for loops over the per-side arrays.
inline constexpr std::array<Side, 2> kBothSides{Side::Upper, Side::Lower};
// Sign of the row edge velocities of a side relative to the nodal surface
// speed (uedg = +q upper, -q lower and wake).
constexpr double side_sign(Side side) { return side == Side::Upper ? 1.0 : -1.0; }

// Node index stored for rows that have no node (row 0 of each side).
inline constexpr std::size_t kNoPanel = std::numeric_limits<std::size_t>::max();

// Arc length of the trip point of a side whose transition is free.
inline constexpr double kNoTrip = std::numeric_limits<double>::infinity();

enum class ReynoldsType : std::uint8_t {
  Type1,  // fixed Reynolds number
  Type2,  // effective Re = reynolds / sqrt(|CL|)
  Type3,  // effective Re = reynolds / |CL|
};

struct ViscousConfig {
  double reynolds = 1e6;           // chord Reynolds number
  double mach = 0.0;               // free-stream Mach number
  double ncrit = 9.0;              // critical amplification exponent
  std::uint64_t max_iterations = 100;
  double tolerance = 1e-4;         // rms Newton residual for convergence
  double wake_length = 1.0;        // in chords
  ReynoldsType re_type = ReynoldsType::Type1;
  // Forced transition: trip position per side (upper, lower) as a fraction of
  // the chord; 1 leaves transition free on that side.
  std::array<double, 2> trip_x{1.0, 1.0};
};

enum class OperMode : std::uint8_t {
  PrescribedAlpha = 0,
  PrescribedCl = 1,
};

// One boundary-layer row, the record of a station: where it sits and the
// primary variables the Newton iteration carries from one iteration to the
// next, as the march and the update store them. The secondary variables are
// not stored; evaluate_station (station_evaluation.h) derives the station the
// closures take (floored, the wake gap taken off) wherever they are needed.
struct BlRow {
  // Placement.
  double x = 0.0;        // arc length from the stagnation point
  double x_coord = 0.0;  // Cartesian position of the node
  double y_coord = 0.0;
  std::size_t panel = kNoPanel;  // node index
  double uinv = 0.0;     // inviscid edge velocity
  double uinv_a = 0.0;   // d uinv / d alpha
  double dw = 0.0;       // wake gap (0 on the airfoil)
  // Primary variables.
  double uedg = 0.0;     // edge velocity
  double theta = 0.0;    // momentum thickness
  double dstr = 0.0;     // displacement thickness (wake rows include dw)
  double mass = 0.0;     // dstr * uedg
  double ctau = 0.0;     // sqrt(Ctau) of a turbulent or wake row
  double ampl = 0.0;     // amplification exponent of a laminar row
  FlowType flow = FlowType::Turbulent;

  constexpr bool laminar() const { return flow == FlowType::Laminar; }
  constexpr bool wake() const { return flow == FlowType::Wake; }
};

// The variable a row carries in the first unknown of its Newton line: the
// amplification of a laminar row, the shear variable of any other.
constexpr double first_variable(const BlRow& row) { return row.laminar() ? row.ampl : row.ctau; }
// Gives the row the flow type `flow` with `value` as its first variable.
constexpr void set_first_variable(BlRow& row, double value, FlowType flow) {
  (flow == FlowType::Laminar ? row.ampl : row.ctau) = value;
  row.flow = flow;
}

// Flow type of row r of a side whose trailing-edge row is iblte and whose
// first turbulent row is first_turbulent.
constexpr FlowType row_flow(std::size_t r, std::size_t iblte, std::size_t first_turbulent) {
  if (r > iblte) return FlowType::Wake;
  return r < first_turbulent ? FlowType::Laminar : FlowType::Turbulent;
}

struct ViscousState {
  OperMode mode = OperMode::PrescribedAlpha;
  double cl_spec = 0.0;  // prescribed CL, or the requested alpha in degrees
  std::string name;

  // Airfoil nodes.
  std::vector<double> x, y, s;
  std::vector<double> xp, yp;

  // Inviscid solutions on the airfoil.
  std::vector<double> qinvu_0, qinvu_90;
  std::vector<double> gamu_0, gamu_90;
  std::vector<double> qinv, qinv_a;
  std::vector<double> qvis;  // n + nw
  std::vector<double> gam, gam_a;

  // Wake.
  std::vector<double> wake_x, wake_y, wake_s;
  std::vector<double> wake_nx, wake_ny, wake_apanel;
  std::vector<double> wake_qinvu_0, wake_qinvu_90;
  std::vector<double> wake_qinv, wake_qinv_a;
  std::vector<double> wgap;

  // Mass-defect influence matrix, (n+nw) x (n+nw), column-major.
  Eigen::MatrixXd dij;

  // Per-side row numbering and rows.
  std::array<std::vector<std::size_t>, 2> ipan;
  std::array<std::vector<std::optional<std::size_t>>, 2> isys;
  std::array<std::vector<BlRow>, 2> rows;

  // Changes of the last update: edge velocities per system line and their
  // alpha sensitivity, and the same as node speeds.
  std::vector<double> unew_flat, u_ac_flat, qnew, q_ac;

  double alpha = 0.0;  // radians
  double x_le = 0.0, y_le = 0.0, x_te = 0.0, y_te = 0.0;
  double chord = 0.0;
  double ante = 0.0;
  double wake_alpha = 0.0;

  // Stagnation point: between node ist and ist+1 at arc length sst, with
  // sensitivities to gam[ist] (sst_go) and gam[ist+1] (sst_gp).
  std::size_t ist = 0;
  double sst = 0.0, sst_go = 0.0, sst_gp = 0.0;

  std::array<std::size_t, 2> nbl{0, 0};
  std::array<std::size_t, 2> iblte{0, 0};
  std::array<std::size_t, 2> first_turbulent_row{0, 0};
  // Forced transition per side as a chord fraction (ViscousConfig::trip_x).
  std::array<double, 2> trip_x{1.0, 1.0};
  std::array<double, 2> xssitr{0.0, 0.0};

  // Bookkeeping of the last update.
  double dac = 0.0, rlx = 1.0, cl_new = 0.0, cl_a = 0.0, cl_ac = 0.0, cl_spare = 0.0;
  double rms_change = 0.0, max_change = 0.0;

  // Forces of the last evaluation.
  double cl = 0.0, cd = 0.0, cm = 0.0, cd_pressure = 0.0, cd_friction = 0.0;

  std::uint64_t iterations = 0;
  double residual = 0.0;

  bool sharp_te = false;
  bool wake_built = false;
  bool dij_built = false;
  bool dij_current = false;
  bool bl_initialised = false;
  bool converged = false;

  std::size_t node_count() const { return x.size(); }
  std::size_t wake_count() const { return wake_x.size(); }
};

}  // namespace velaro
