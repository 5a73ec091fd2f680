#pragma once
// The global Newton system of one viscous iteration: the data the assembly
// (viscous/assembly.h) produces, the block elimination (viscous/block_solve.h)
// solves and the update (viscous/update.h) applies.
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
#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace velaro {

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
  // As resize, but the mass couplings of lines 1.. at columns 1.. are left
  // as they are (zero only where the array grows), for a caller that writes
  // every one of them; line 0 and column 0 are zero.
  void resize_for_assembly(std::size_t nsys_lines) {
    nsys = nsys_lines;
    const std::size_t w = nsys + 1;
    va.assign(w, Block3{});
    vb.assign(w, Block3{});
    vm.resize(w * w * 3);
    std::fill_n(vm.begin(), 3 * w, 0.0);
    for (std::size_t r = 3; r < 3 * w; ++r) vm[r * w] = 0.0;
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

// The equations of one system line as built from the interval (or
// junction) equations, before the mass coupling is formed: raw residuals,
// the blocks of the first two unknowns of the line and of the line before,
// and the upstream (vs1) and downstream (vs2) columns of dstar, u and x.
struct LineCoefficients {
  Vec3 vsrez{};
  Block3 va{}, vb{};
  Vec3 vs1_dstar{}, vs1_u{}, vs1_x{}, vs2_dstar{}, vs2_u{}, vs2_x{};
};

// Solution of the system: per line (d_first, d_theta, d_mass) for no change
// of the extra unknown (col1) and their sensitivities to it (col2).
struct SolveState {
  std::vector<Vec3> col1;
  std::vector<Vec3> col2;
};

}  // namespace velaro
