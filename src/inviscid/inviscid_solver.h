#pragma once
// Standalone linear-vorticity stream-function panel solver working directly
// on the corner points of a Body: nodal vorticity (surface speed), pressure
// coefficients, lift and moment at one angle of attack.
#include <cstddef>
#include <expected>
#include <vector>

#include "geometry/body.h"
#include "inviscid/solver_error.h"

namespace velaro {

struct FlowConditions {
  double alpha = 0.0;  // angle of attack, radians
  double v_inf = 1.0;  // free-stream speed
};

struct InviscidSolution {
  std::vector<double> gamma;                   // nodal vorticity at alpha (= surface speed)
  std::vector<double> cp;                      // pressure coefficient per node
  std::vector<std::size_t> body_node_counts;   // one entry: the node count
  double cl = 0.0;
  double cm = 0.0;    // about (0.25 chord, 0)
  double psi0 = 0.0;  // stream-function value on the contour
};

class InviscidSolver {
 public:
  // Largest node count solved. The dense system grows as the square of the
  // node count in memory (4001^2 doubles, 128 MB, twice with its factors)
  // and as the cube in time (about 4.5 s at 4000 nodes on one core); no
  // real section needs more than a few hundred nodes.
  static constexpr std::size_t kMaxNodes = 4000;

  // Nodes are the panel start points plus the end of the last panel when it
  // is 1e-10 or more away from the first point (open trailing edge). A
  // contour whose last point returns onto the first (closed) has a single
  // trailing-edge node, node 0, where the vorticity is set to zero; an open
  // one has the gap panel between nodes n-1 and 0 and the Kutta condition
  // gamma_0 + gamma_{n-1} = 0.
  //
  // The contour is checked as an airfoil first (contour_checks.h): a
  // repeated closing point on a blunt base is dropped, and a crossing, a
  // start away from the trailing edge or a clockwise order fails with
  // InvalidGeometry. More than kMaxNodes nodes fail with TooManyNodes.
  //
  // Fails with InsufficientPanels (fewer than 3 panels), InvalidFlow
  // (non-finite angle, non-finite or zero speed, zero or non-finite
  // reference chord) or
  // SingularMatrix (singular system or a non-finite solution).
  static std::expected<InviscidSolution, SolverError> solve(Body body, const FlowConditions& flow);
};

}  // namespace velaro
