#pragma once
// The mass-defect influence matrix DIJ: DIJ(i, j) is the change of the edge
// speed at node i per unit mass defect at node j, for the airfoil nodes
// 0..n-1 and the wake nodes n..n+nw-1. The viscous coupling obtains edge
// speeds as qinv + DIJ * mass.
#include <Eigen/Dense>

#include <expected>
#include <span>

#include "inviscid/factored_system.h"
#include "inviscid/inviscid_error.h"

namespace velaro {

// n x n matrix of the airfoil alone: the airfoil sources change the vorticity
// the airfoil system must carry, and that vorticity is the surface speed.
std::expected<Eigen::MatrixXd, InviscidError> mass_defect_matrix(const FactorizedSystem& system);

// (n+nw) x (n+nw) matrix with the wake given by its node coordinates,
// normals and panel angles (equal lengths nw). Wake rows hold the normal
// derivative of the stream function (the speed along the wake) including the
// change of airfoil vorticity; the first wake row equals the lower
// trailing-edge row. An empty wake returns mass_defect_matrix's matrix. Vectors of
// unequal length are refused with an error naming the pair.
std::expected<Eigen::MatrixXd, InviscidError> mass_defect_matrix_with_wake(const FactorizedSystem& system,
                                                                        std::span<const double> wake_x,
                                                                        std::span<const double> wake_y,
                                                                        std::span<const double> wake_nx,
                                                                        std::span<const double> wake_ny,
                                                                        std::span<const double> wake_apanel);

// Scratch arrays of the influence matrix's computation, for a caller that
// builds many matrices (one per operating point) and keeps them: the
// right-hand sides, their solution, the airfoil block solved from given
// sources and the wake rows' vorticity influences.
struct MassDefectScratch {
  Eigen::MatrixXd rhs;
  Eigen::MatrixXd solution;
  Eigen::MatrixXd block;
  Eigen::MatrixXd cij;
};

// mass_defect_matrix_with_wake into `dij` with `scratch`: the same matrix,
// bit for bit, in the storage of the earlier matrices when their sizes
// match. On failure dij holds no matrix.
std::expected<void, InviscidError> mass_defect_matrix_with_wake(const FactorizedSystem& system,
                                                              std::span<const double> wake_x,
                                                              std::span<const double> wake_y,
                                                              std::span<const double> wake_nx,
                                                              std::span<const double> wake_ny,
                                                              std::span<const double> wake_apanel,
                                                              MassDefectScratch& scratch, Eigen::MatrixXd& dij);

// Right-hand sides of the airfoil columns, (n+1) x n: minus the stream
// function of each unit nodal mass at each node (the sharp-edge row and the
// Kutta row as the system wants them). They depend on the geometry alone, so
// a run over many angles of one contour computes them once (a system built
// with keep_mass_sources holds them already; they are copied from there).
Eigen::MatrixXd airfoil_mass_sources(const FactorizedSystem& system);

// mass_defect_matrix_with_wake with the airfoil columns' right-hand sides
// given (airfoil_mass_sources of the same system): the same matrix, bit for
// bit, without recomputing the airfoil influences. Sources of the wrong shape
// are refused.
std::expected<Eigen::MatrixXd, InviscidError> mass_defect_matrix_with_wake(const FactorizedSystem& system,
                                                                        const Eigen::MatrixXd& airfoil_sources,
                                                                        std::span<const double> wake_x,
                                                                        std::span<const double> wake_y,
                                                                        std::span<const double> wake_nx,
                                                                        std::span<const double> wake_ny,
                                                                        std::span<const double> wake_apanel);

// The same matrix from the airfoil-airfoil block already solved
// (mass_defect_matrix of the same system, n x n): only the wake columns are
// solved. With that block it equals mass_defect_matrix_with_wake bit for bit
// (which solves the airfoil columns on their own too). A block of the wrong
// shape is refused.
std::expected<Eigen::MatrixXd, InviscidError> mass_defect_matrix_with_wake_from_block(
    const FactorizedSystem& system, const Eigen::MatrixXd& airfoil_block, std::span<const double> wake_x,
    std::span<const double> wake_y, std::span<const double> wake_nx, std::span<const double> wake_ny,
    std::span<const double> wake_apanel);

// The two above into `dij` with `scratch`, as the first one's overload with
// a scratch.
std::expected<void, InviscidError> mass_defect_matrix_with_wake(const FactorizedSystem& system,
                                                              const Eigen::MatrixXd& airfoil_sources,
                                                              std::span<const double> wake_x,
                                                              std::span<const double> wake_y,
                                                              std::span<const double> wake_nx,
                                                              std::span<const double> wake_ny,
                                                              std::span<const double> wake_apanel,
                                                              MassDefectScratch& scratch, Eigen::MatrixXd& dij);
std::expected<void, InviscidError> mass_defect_matrix_with_wake_from_block(
    const FactorizedSystem& system, const Eigen::MatrixXd& airfoil_block, std::span<const double> wake_x,
    std::span<const double> wake_y, std::span<const double> wake_nx, std::span<const double> wake_ny,
    std::span<const double> wake_apanel, MassDefectScratch& scratch, Eigen::MatrixXd& dij);

}  // namespace velaro
