#pragma once
// The global Newton system of one viscous iteration: assembly (`setbl`), the
// block elimination that solves it, and the relaxed update that applies the
// solution to the boundary-layer stations of both sides.
//
// Line numbering: upper station i (i >= 1) is system line i; lower station i
// (i >= 1, wake included) is line lower_offset + i, lower_offset = nbl_upper - 1.
// Every per-line array has nsys + 1 entries; entry 0 carries no equation.
// The three unknowns of a line are the first boundary-layer variable
// (amplification on laminar stations, sqrt(Ctau) on turbulent and wake
// stations), theta and the mass defect m = u * dstar.
//
// Sign convention: VDEL column 1 holds the negated residuals (the Newton
// right-hand side), so a solution dx satisfies R + J dx = 0, where J is made
// of VA, VB, VM and VZ.
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "boundary_layer/flow_type.h"

namespace velaro {

struct KelvoState;
class NewtonObserver;

using Vec3 = std::array<double, 3>;
// 3x3 block, row-major: block[row][column].
using Block3 = std::array<Vec3, 3>;

// Read-only view of a dense column-major matrix (the mass-defect influence
// matrix DIJ: row = node whose edge velocity changes, column = node whose mass
// defect is perturbed). Lookups outside the matrix read as 0.
struct DijView {
  const double* data = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;

  bool contains(std::size_t i, std::size_t j) const { return data != nullptr && i < rows && j < cols; }
  double at(std::size_t i, std::size_t j) const { return contains(i, j) ? data[j * rows + i] : 0.0; }
};

// The assembled system handed to the block elimination.
struct AssemblyState {
  std::size_t nsys = 0;          // number of system lines
  std::size_t lower_offset = 0;  // nbl_upper - 1: lower station i is line lower_offset + i
  std::size_t ivte1 = 0;         // line of the upper trailing-edge station
  std::size_t ivz = 0;           // line of the first lower wake station (> nsys when there is none)
  double span = 1.0;             // length scale of the weak-coupling thresholds

  std::vector<Block3> va;  // own first two unknowns (columns 0 and 1; column 2 stays 0)
  std::vector<Block3> vb;  // first two unknowns of the previous line (columns 0 and 1)
  // Mass coupling, one contiguous array indexed [line][equation][column]:
  // vm[(iv * 3 + k) * (nsys + 1) + L] = d(equation k of line iv)/d(m of line L),
  // so that each equation's couplings form one contiguous row for the
  // elimination to stream through.
  std::vector<double> vm;
  std::vector<Vec3> vdel1;  // right-hand side: negated residual plus forced changes
  std::vector<Vec3> vdel2;  // right-hand side: sensitivity to the extra global unknown
  // Coupling of line ivz to the first two unknowns of line ivte1: vz[row][column].
  std::array<std::array<double, 2>, 3> vz{};

  // Per-line coefficient columns of the interval equations, kept for the
  // forced changes and the mass coupling: upstream (vs1) and downstream (vs2)
  // derivatives with respect to dstar, u and x. The downstream x column
  // includes the forced-transition column.
  std::vector<Vec3> vs1_dstar, vs1_u, vs1_x;
  std::vector<Vec3> vs2_dstar, vs2_u, vs2_x;

  // Diagnostics only (VELARO_SETBL_FULL_VM): a dense copy of VM, one list of
  // 3-value entries (columns 0 .. nsys) per system line.
  std::optional<std::vector<std::vector<Vec3>>> full_vm;

  // Allocates every array for `nsys_lines` lines, all zero.
  void resize(std::size_t nsys_lines) {
    nsys = nsys_lines;
    const std::size_t w = nsys + 1;
    va.assign(w, Block3{});
    vb.assign(w, Block3{});
    vm.assign(w * w * 3, 0.0);
    vdel1.assign(w, Vec3{});
    vdel2.assign(w, Vec3{});
    vz = {};
    for (auto* c : {&vs1_dstar, &vs1_u, &vs1_x, &vs2_dstar, &vs2_u, &vs2_x}) c->assign(w, Vec3{});
  }
  // First lower line (b): lower station i is line b + i - 1.
  std::size_t lower_first_line() const { return lower_offset + 1; }
  std::size_t vm_index(std::size_t iv, std::size_t col, std::size_t k) const {
    return (iv * 3 + k) * (nsys + 1) + col;
  }
  double& vm_at(std::size_t iv, std::size_t col, std::size_t k) { return vm[vm_index(iv, col, k)]; }
  double vm_at(std::size_t iv, std::size_t col, std::size_t k) const { return vm[vm_index(iv, col, k)]; }
};

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
// `blvar` (station 0 is the stagnation placeholder), their inviscid edge
// velocities and the sensitivities of those to the extra global unknown
// (all zero when alpha is prescribed), and the trailing-edge station index.
struct SurfaceInput {
  std::span<const BlStation> stations;
  std::span<const double> uinv;
  std::span<const double> uinv_a;
  std::size_t iblte = 0;
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

// The equations of one system line as built from the interval (or
// junction) equations, before the mass coupling is formed: raw residuals,
// the blocks of the first two unknowns of the line and of the line before,
// and the upstream (vs1) and downstream (vs2) columns of dstar, u and x.
struct LineCoefficients {
  Vec3 vsrez{};
  Block3 va{}, vb{};
  Vec3 vs1_dstar{}, vs1_u{}, vs1_x{}, vs2_dstar{}, vs2_u{}, vs2_x{};
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

// Mass-implied edge velocity of every station of `side` (0 upper, 1 lower):
// uinv plus the DIJ sum over stations 1.. of both sides. Station 0 gets its
// uinv alone.
std::vector<double> compute_ue_from_mass_both(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                              int side, NewtonObserver* observer = nullptr);

// The junction record, or false when the trailing-edge stations (upper
// station iblte, lower stations iblte and iblte + 1) do not all exist.
bool te_wake_terms(const GlobalNewtonSystem& sys, const SurfaceInput& upper, const SurfaceInput& lower,
                   TeWakeTerms& out);

// Builds the complete system from the two sides (steps after marching and
// station conversion). `xi_ule1`, `xi_ule2` non-finite are taken as 0.
GlobalNewtonSystem build_global_system(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij,
                                       double ante, double xi_ule1, double xi_ule2, double msq, double re,
                                       double ncrit, NewtonObserver* observer = nullptr);

// One Newton assembly of the viscous state: marches both sides (the direct
// march once, on the first call, then the mixed march), stores the transition
// rows and positions, recomputes the mass defects and assembles the system.
// `iteration` is 1-based.
AssemblyState setbl(KelvoState& state, unsigned iteration, double re_eff, double ncrit, double mach,
                    NewtonObserver* observer = nullptr);

// ---- Block elimination -------------------------------------------------------

// Weak-coupling thresholds of the elimination: couplings of the lower lines
// at or below them are dropped. `exact()` keeps every coupling (a plain
// elimination of the same system).
struct BlockSolveOptions {
  double vacc1 = 0.01;
  double vacc2 = 0.02;
  double vacc3 = 0.02;
  static BlockSolveOptions for_span(double span);
  static BlockSolveOptions exact() { return {0.0, 0.0, 0.0}; }
};

// Pivot magnitude below which a reciprocal is taken as 0.
inline constexpr double kBlockPivotFloor = 1e-25;

// Solution of the system: per line (d_first, d_theta, d_mass) for no change
// of the extra unknown (col1) and their sensitivities to it (col2).
struct SolveState {
  std::vector<Vec3> col1;
  std::vector<Vec3> col2;
};

// Solves the assembled system by block elimination (on copies; `a` is not
// changed). With nsys < 2 the solution is all zero.
SolveState block_solve(const AssemblyState& a, const BlockSolveOptions& options, NewtonObserver* observer = nullptr);
// Same with the thresholds derived from a.span.
SolveState block_solve(const AssemblyState& a, NewtonObserver* observer = nullptr);

// ---- Update -------------------------------------------------------------------

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

// Raises the displacement thickness so that Hk is at least 1.02 (1.00005 on a
// wake station).
void apply_dslim_like_kelvo(BlStation& station, double msq);

// Recomputes the secondary variables of stations 1.. with `blvar`.
void refresh_secondary_vars(std::span<BlStation> stations, double msq, double re);

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
  std::span<const double> x, y; // airfoil node coordinates (n)
  DijView dij;
  std::span<const double> uinv_upper, uinv_lower;  // per station
  std::span<const double> base_upper, base_lower;  // d(uinv)/d(extra unknown), zeros when alpha is prescribed
  std::size_t nsys = 0;
  std::size_t b = 1;  // first lower line
  double msq = 0.0;
  double re = 0.0;
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

// Applies the solution to the stations of both sides with one relaxation
// factor (station 0 untouched), then refreshes their secondary variables.
UpdateSummary apply_global_update(std::vector<BlStation>& upper, std::vector<BlStation>& lower,
                                  const SolveState& sol, const UpdateInputs& in,
                                  NewtonObserver* observer = nullptr);

// The update of one driver iteration on the state: converts the rows of both
// sides to stations, applies `apply_global_update` and stores the bookkeeping
// (dac, rlx, rms_change, max_change, cl_new, cl_a, cl_ac, qnew, q_ac,
// unew_flat, u_ac_flat) in the state. The updated stations are returned; the
// caller writes them back into the rows.
struct StationPair {
  std::vector<BlStation> upper;
  std::vector<BlStation> lower;
  UpdateSummary summary;
};
StationPair update_state_from_solution(KelvoState& state, const AssemblyState& a, const SolveState& sol,
                                       double mach, double re_eff, NewtonObserver* observer = nullptr);

}  // namespace velaro
