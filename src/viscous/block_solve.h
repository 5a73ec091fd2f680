#pragma once
// Block elimination of the assembled Newton system.
#include "viscous/newton_system.h"

namespace velaro {

class NewtonObserver;

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

// Solves the assembled system by block elimination (on copies; `a` is not
// changed). With nsys < 2 the solution is all zero.
SolveState block_solve(const AssemblyState& a, const BlockSolveOptions& options, NewtonObserver* observer = nullptr);
// Same with the thresholds derived from a.span.
SolveState block_solve(const AssemblyState& a, NewtonObserver* observer = nullptr);
// The same elimination (thresholds from a.span) on the system itself: a.va
// and a.vm are overwritten, `out` is resized and filled. For the Newton
// iteration, which needs neither afterwards and reuses all three arrays.
void block_solve_in_place(AssemblyState& a, SolveState& out, NewtonObserver* observer = nullptr);

}  // namespace velaro
