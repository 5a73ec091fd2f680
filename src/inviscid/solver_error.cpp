#include "inviscid/solver_error.h"

#include "common/text_format.h"

namespace velaro {

std::string SolverError::to_string() const {
  switch (kind) {
    case Kind::NoBodies:
      return "No bodies provided to solver";
    case Kind::InsufficientPanels:
      return "Insufficient panels (need at least 3)";
    case Kind::SingularMatrix:
      return "Influence matrix is singular (check geometry)";
    case Kind::NotConverged:
      return text::printf("Solver did not converge after %zu iterations (residual: ", count) +
             text::scientific(value, 2) + ")";
    case Kind::InvalidFlow:
      return "Invalid flow conditions: " + message;
    case Kind::Separation:
      return "Boundary layer separation at x/c = " + text::fixed(value, 4);
    case Kind::TransitionFailed:
      return "Transition prediction failed: " + message;
    case Kind::InvalidReynolds:
      return "Invalid Reynolds number (must be positive)";
    case Kind::MarchFailed:
      return text::printf("BL marching failed at station %zu: ", count) + message;
    case Kind::NewtonFailed:
      return text::printf("Newton solve failed at iteration %zu (residual: ", count) + text::scientific(value, 2) +
             ")";
    case Kind::InvalidGeometry:
      return "Invalid geometry: " + message;
    case Kind::TooManyNodes:
      return text::printf("Too many nodes for the inviscid analysis: %zu nodes, at most %zu", count, limit);
  }
  return {};
}

}  // namespace velaro
