#pragma once
// Assembly of the global Newton system from the boundary-layer stations of
// both sides: the interval equations of every line, their coupling to all
// mass defects through the influence matrix, the trailing-edge junction and
// the forced changes; `assemble_newton_system` runs the marches first and assembles from the
// state.
#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "viscous/newton_system.h"
#include "viscous/state.h"

namespace velaro {

struct ViscousState;
class NewtonObserver;

// The system together with the bookkeeping its assembly needs.
struct GlobalNewtonSystem {
  AssemblyState a;
  std::size_t upper_count = 0;  // number of upper stations (nbl_upper)
  std::size_t iblte_lower = 0;  // index of the lower trailing-edge station
  double ante = 0.0;            // trailing-edge gap
  double xi_ule1 = 0.0;         // d(stagnation arc length)/d(first upper edge velocity)
  double xi_ule2 = 0.0;         // d(stagnation arc length)/d(first lower edge velocity), sign as stored
  double msq = 0.0;
  double re = 0.0;
  double ncrit = 9.0;
};

// One side of the boundary layer as the assembly sees it: stations after
// `compute_secondary_variables` (station 0 is the stagnation placeholder), their inviscid edge
// velocities and the sensitivities of those to the extra global unknown
// (all zero when alpha is prescribed), the trailing-edge station index and
// the arc length of the side's trip (kNoTrip: free transition). The trip
// moves with the stagnation point like every station's arc length.
struct SurfaceInput {
  std::span<const BlStation> stations;
  std::span<const double> uinv;
  std::span<const double> uinv_a;
  std::size_t iblte = 0;
  double trip = kNoTrip;
};

// Trailing-edge junction of the two sides feeding the first wake station.
struct TeWakeTerms {
  double tte = 0.0;  // combined momentum thickness, at least 1e-12
  double dte = 0.0;  // combined displacement thickness plus the TE gap
  double cte = 0.0;  // theta-weighted shear variable
  double dte_m_up = 0.0, dte_u_up = 0.0;
  double dte_m_lo = 0.0, dte_u_lo = 0.0;
  double cte_s_up = 0.0, cte_s_lo = 0.0;
  double cte_th_up = 0.0, cte_th_lo = 0.0;
};

// Edge velocity of station i implied by the mass defects:
// uinv_i - vti_i * sum_j vti_j * DIJ(panel_i, panel_j) * m_j, where the
// sources are (vti_j, panel_j, m_j); terms whose panels lie outside DIJ are
// skipped. vti is +1 on the upper side and -1 on the lower side.
struct MassSource {
  double vti = 1.0;
  std::size_t panel = 0;
  double mass = 0.0;
};
double coupled_uedg(std::size_t panel_i, std::size_t n_airfoil, std::span<const MassSource> sources,
                    DijView dij, double uinv_i, double vti_i);

// Mass-implied edge velocity of every station of `side`:
// uinv plus the DIJ sum over stations 1.. of both sides. Station 0 gets its
// uinv alone.
std::vector<double> compute_ue_from_mass_both(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                              Side side, NewtonObserver* observer = nullptr);

// The junction record, or false when the trailing-edge stations (upper
// station iblte, lower stations iblte and iblte + 1) do not all exist.
bool te_wake_terms(const GlobalNewtonSystem& sys, const SurfaceInput& upper, const SurfaceInput& lower,
                   TeWakeTerms& out);

// Builds the complete system from the two sides (steps after marching and
// station conversion). `xi_ule1`, `xi_ule2` non-finite are taken as 0.
GlobalNewtonSystem build_global_system(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                       double ante, double xi_ule1, double xi_ule2, double msq, double re,
                                       double ncrit, NewtonObserver* observer = nullptr);

// The arrays of the Newton iteration of one operating point, kept from one
// iteration to the next so that, once sized by the first, the iteration
// allocates nothing: the assembled system (which the elimination overwrites
// in place), its solution, the stations of both sides and the assembly's
// scratch arrays.
struct NewtonWorkspace {
  GlobalNewtonSystem system;
  SolveState solution;
  // Stations of both sides as the assembly converted them from the rows,
  // their inviscid edge velocities and the sensitivities of those.
  std::array<std::vector<BlStation>, 2> stations;
  std::array<std::vector<double>, 2> uinv, uinv_a;
  // DIJ copied row by row (dij_rows[i * cols + j] = DIJ(i, j)) for the sums
  // over mass sources of the assembly and the update. DIJ stays the same
  // through the iterations of an operating point, so the copy is made on the
  // first iteration and kept while the matrix it was taken from (dij_rows_of)
  // and its size are the same.
  std::vector<double> dij_rows;
  const double* dij_rows_of = nullptr;
  // Scratch of the assembly: the mass sources, the mass-implied edge
  // velocities and their offsets per side, and the edge-velocity
  // sensitivity of every line to every mass, (nsys + 1)^2 values.
  std::vector<MassSource> sources;
  std::vector<double> ue_mass;
  std::array<std::vector<double>, 2> due;
  std::vector<double> coupling;
  std::vector<std::size_t> line_panel;  // node of every line's station
  std::vector<double> line_sign;        // +1 upper, -1 lower line
  // Whether `coupling` was built from the row copy of DIJ as it stands, for
  // line_panel and line_sign; cleared whenever the copy is made again.
  bool coupling_current = false;
  std::vector<double> coupling_xs, coupling_d1, coupling_d2;  // per mass, see the assembly
  std::vector<double> line_mass;  // mass defect of every line's station
};

// build_global_system into the workspace's system, with its scratch arrays.
void build_global_system(NewtonWorkspace& ws, const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                         double ante, double xi_ule1, double xi_ule2, double msq, double re, double ncrit,
                         NewtonObserver* observer = nullptr);

// One Newton assembly of the viscous state: marches both sides (the direct
// march once, on the first call, then the mixed march), stores the transition
// rows and positions, recomputes the mass defects and assembles the system.
// `iteration` is 1-based.
AssemblyState assemble_newton_system(ViscousState& state, unsigned iteration, double re_eff, double ncrit, double mach,
                    NewtonObserver* observer = nullptr);
// The same into ws.system.a; ws.stations, ws.uinv and ws.uinv_a hold the
// stations it assembled from.
void assemble_newton_system(ViscousState& state, unsigned iteration, double re_eff, double ncrit, double mach,
                            NewtonWorkspace& ws, NewtonObserver* observer = nullptr);

}  // namespace velaro
