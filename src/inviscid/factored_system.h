#pragma once
// The LU-factored airfoil system of the viscous/inviscid method and its two
// base solutions.
//
// Unknowns: the nodal vorticities gamma_0..gamma_{n-1} and the stream-function
// constant psi0 of the body contour. Rows 0..n-1 make the stream function at
// every node equal psi0 (at a sharp trailing edge row n-1 instead makes the
// velocity vanish across the bisector at a control point just inside the
// edge); row n is the Kutta condition gamma_0 + gamma_{n-1} = 0. The matrix
// is factored once and reused for every right-hand side (base solutions,
// mass-defect influence columns).
#include <Eigen/Dense>

#include <expected>
#include <optional>
#include <vector>

#include "inviscid/dense_lu.h"
#include "inviscid/inviscid_error.h"
#include "inviscid/panel_geometry.h"

namespace velaro {

// The large matrices of a system that is no longer needed (see
// FactorizedSystem::release_storage), for the build of the next one: when
// the sizes match, it fills and factors them where they are instead of
// allocating (and touching) fresh memory.
struct SystemStorage {
  Eigen::MatrixXd matrix;
  Eigen::MatrixXd mass_sources;
};

struct FactorizedSystem {
  std::vector<double> gamu_0;   // nodal vorticity for alpha = 0 (n)
  std::vector<double> gamu_90;  // nodal vorticity for alpha = 90 degrees (n)
  AirfoilGeometry geometry;     // the panel geometry the system was built from
  DenseLu lu;            // factors of the (n+1)x(n+1) matrix
  double psi0_0 = 0.0;   // body stream-function constant of the alpha = 0 solution
  double psi0_90 = 0.0;  // and of the alpha = 90 degree solution
  std::optional<BisectorControl> control;  // present for a sharp trailing edge
  // The right-hand sides of the airfoil columns of the mass-defect matrix
  // ((n+1) x n, see airfoil_mass_sources), when asked for at build time.
  std::optional<Eigen::MatrixXd> mass_sources;

  // Assembles and factors the airfoil matrix of `geometry` and solves the two
  // base cases. Fails with SingularMatrix when a pivot of the factorisation
  // is zero, negligible against the matrix scale, or not finite, or when a
  // base solution is not finite. With keep_mass_sources the source influences
  // of the mass-defect matrix are evaluated along with the matrix rows, which
  // share each node's logarithms and angles with them, and kept.
  // With `storage`, its matrices are taken over (whatever they held; the
  // results do not depend on them).
  static std::expected<FactorizedSystem, InviscidError> build(AirfoilGeometry geometry,
                                                              bool keep_mass_sources = false,
                                                              SystemStorage* storage = nullptr);

  // Moves the factors' and the mass sources' storage out; the system is
  // left without factors (its solves fail) and without mass sources.
  SystemStorage release_storage();

  std::size_t node_count() const { return geometry.n; }

  // Solves A X = rhs for an (n+1)-row right-hand side with any number of
  // columns, in one pass over the stored factors. Fails with SingularMatrix
  // when the result is not finite or the shape does not match.
  std::expected<Eigen::MatrixXd, InviscidError> solve(const Eigen::MatrixXd& rhs) const;
  // The same into `x`, whose storage is reused when its size fits; on
  // failure x holds no solution.
  std::expected<void, InviscidError> solve_into(const Eigen::MatrixXd& rhs, Eigen::MatrixXd& x) const;
};

// The assembled (n+1)x(n+1) airfoil matrix and its two right-hand sides
// (columns 0: alpha = 0, 1: alpha = 90 degrees), before factorisation; with
// `mass_sources` given, also the right-hand sides of the airfoil mass-defect
// columns from the same influence rows (resized to (n+1) x n). With
// `matrix_storage`, the matrix is built in that storage (moved from it).
struct AirfoilSystemMatrix {
  Eigen::MatrixXd a;
  Eigen::MatrixXd rhs;
};
AirfoilSystemMatrix assemble_airfoil_system(const AirfoilGeometry& geometry,
                                            const std::optional<BisectorControl>& control,
                                            Eigen::MatrixXd* mass_sources = nullptr,
                                            Eigen::MatrixXd* matrix_storage = nullptr);

}  // namespace velaro
