#pragma once
// The relaxed Newton update: predicted edge speeds from the solved mass
// changes, the change of the extra global unknown, one relaxation factor for
// the whole system and its application to the stations of both sides.
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "viscous/newton_system.h"
#include "viscous/state.h"

namespace velaro {

// Half a degree in radians: the largest alpha change of one update in the
// prescribed-lift mode.
inline constexpr double kMaxAngleStep = 0.008726646259971648;

struct ViscousState;
struct NewtonWorkspace;
class NewtonObserver;

// Predicted edge speed per station of each side and its sensitivity to the
// extra global unknown.
struct UePreview {
  std::vector<double> unew_upper, unew_lower;
  std::vector<double> u_ac_upper, u_ac_lower;
};

// Edge speeds implied by the current masses plus the solved mass changes.
// b is the first lower line.
UePreview preview_global_update_ue(std::span<const BlStation> upper, std::span<const BlStation> lower,
                                   const SolveState& sol, std::size_t b, DijView dij,
                                   std::span<const double> uinv_upper, std::span<const double> uinv_lower,
                                   std::span<const double> base_upper, std::span<const double> base_lower,
                                   NewtonObserver* observer = nullptr);

// Node array of length n from per-station values: non-wake stations write
// their value at their node (negated on the lower side); node n-1 is then 0.
std::vector<double> build_panel_values_from_surface_values(std::span<const BlStation> upper,
                                                           std::span<const BlStation> lower,
                                                           std::span<const double> values_upper,
                                                           std::span<const double> values_lower, std::size_t n);

// Raises the displacement thickness so that Hk is at least HK_LIMIT_AIRFOIL
// (HK_LIMIT_WAKE on a wake station).
void limit_displacement_thickness(BlStation& station, double msq);

// Array of length nsys + 1 indexed by system line: entry i = upper[i]
// (1 <= i), entry b + i - 1 = lower[i] (1 <= i); other entries 0.
std::vector<double> flatten_surface_values(std::size_t nsys, std::size_t b, std::span<const double> upper,
                                           std::span<const double> lower);

// Everything the update needs besides the stations and the solution.
struct UpdateInputs {
  bool prescribed_cl = false;   // alpha is the extra unknown (else CL is)
  double cl_spec = 0.0;         // prescribed CL (PrescribedCl mode)
  double cl_current = 0.0;      // current CL of the state (PrescribedAlpha mode)
  double alpha = 0.0;           // radians
  double mach = 0.0;            // free-stream Mach number of the lift integrals
  std::span<const double> x, y; // airfoil node coordinates (n)
  DijView dij;
  std::span<const double> dij_rows;  // optional: DIJ row by row (dij_rows[i * cols + j]), read instead of dij
  // Optional: the assembly's edge-velocity couplings of the same stations,
  // coupling[i * (nsys + 1) + L] = -vti_i vti_L DIJ(node of line i, node of
  // line L) (0 outside DIJ), read instead of either.
  std::span<const double> coupling;
  std::span<const double> uinv_upper, uinv_lower;  // per station
  std::span<const double> base_upper, base_lower;  // d(uinv)/d(extra unknown), zeros when alpha is prescribed
  std::size_t nsys = 0;
  std::size_t b = 1;  // first lower line
  double msq = 0.0;
  double re = 0.0;
  // Upper bound of the relaxation factor. Below 1 every update is damped,
  // also where the limits on the normalised changes would take a full step.
  double max_relaxation = 1.0;
};

// Bookkeeping of one update.
struct UpdateSummary {
  double dac = 0.0;
  double rlx = 1.0;
  double rlx_cl = 1.0;
  double rms_change = 0.0;
  double max_change = 0.0;
  double cl_new = 0.0;
  double cl_a = 0.0;
  double cl_ac = 0.0;
  std::vector<double> qnew, q_ac;
  std::vector<double> unew_flat, u_ac_flat;
  // Diagnostics only: the station and variable that limited rlx, when rlx
  // fell below 0.99 rlx_cl ("upper"/"lower", station, "ctau"/"theta"/...).
  std::string limiter;
};

// Applies the solution with one relaxation factor to the rows of both sides,
// given as their stations `upper` and `lower` (evaluate_stations). The
// first stations.size() rows of a side take the primary variables of their
// stations with the relaxed changes applied (station 0 and stations without
// a line or with a non-finite change as they are): floors included, the
// wake gap in a wake row's displacement thickness and mass defect, no gap on
// the airfoil.
UpdateSummary apply_global_update(std::vector<BlRow>& upper_rows, std::vector<BlRow>& lower_rows,
                                  std::span<const BlStation> upper, std::span<const BlStation> lower,
                                  const SolveState& sol, const UpdateInputs& in,
                                  NewtonObserver* observer = nullptr);

// The update of one driver iteration on the state: evaluates the stations
// of the rows of both sides, applies the relaxed changes of the solution to
// the rows and stores the bookkeeping (dac, rlx, rms_change, max_change,
// cl_new, cl_a, cl_ac, qnew, q_ac, unew_flat, u_ac_flat) in the state.
// max_relaxation bounds the relaxation factor (UpdateInputs::max_relaxation).
UpdateSummary update_state_from_solution(ViscousState& state, const AssemblyState& a, const SolveState& sol,
                                         double mach, double re_eff, NewtonObserver* observer = nullptr,
                                         double max_relaxation = 1.0);
// The same from the stations the assembly of this iteration left in the
// workspace (NewtonWorkspace::stations, with their inviscid edge velocities
// and sensitivities, and DIJ by rows), evaluated from the rows as they are.
UpdateSummary update_state_from_solution(ViscousState& state, const AssemblyState& a, const SolveState& sol,
                                         double mach, double re_eff, const NewtonWorkspace& ws,
                                         NewtonObserver* observer = nullptr, double max_relaxation = 1.0);

}  // namespace velaro
