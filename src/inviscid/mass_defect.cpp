#include "inviscid/mass_defect.h"

#include <algorithm>
#include <vector>

#include "inviscid/airfoil_influence.h"
#include "inviscid/wake_influence.h"

namespace velaro {

namespace {

using Eigen::Index;

Index idx(std::size_t i) { return static_cast<Index>(i); }

// Right-hand sides of the airfoil columns: minus the stream function each
// unit nodal mass induces at each node (the system then restores psi = psi0
// with vorticity); at a sharp edge row n-1 takes minus the source velocity
// across the bisector at the control point. Row n (Kutta) stays zero.
void airfoil_mass_rhs(const FactorizedSystem& system, Eigen::MatrixXd& rhs) {
  const AirfoilGeometry& g = system.geometry;
  const std::size_t n = g.n;
  AirfoilInfluenceRows rows(g);
  PanelInfluence r;
  for (std::size_t i = 0; i < n; ++i) {
    rows.evaluate(i, g.x[i], g.y[i], {.vortex = false, .sources = true}, r);
    for (std::size_t j = 0; j < n; ++j) rhs(idx(i), idx(j)) = -r.dzdm[j];
  }
  if (system.control) {
    const BisectorControl& c = *system.control;
    rows.evaluate(n, c.x, c.y, {.vortex = false, .sources = true, .velocity = true, .nx = c.nx, .ny = c.ny}, r);
    for (std::size_t j = 0; j < n; ++j) rhs(idx(n - 1), idx(j)) = -r.dqdm[j];
  }
}

}  // namespace

std::expected<Eigen::MatrixXd, InviscidError> mass_defect_matrix(const FactorizedSystem& system) {
  const std::size_t n = system.geometry.n;
  if (n == 0) return Eigen::MatrixXd(0, 0);
  auto sol = system.solve(airfoil_mass_sources(system));
  if (!sol) return std::unexpected(sol.error());
  return Eigen::MatrixXd(sol->topRows(idx(n)));
}

std::expected<Eigen::MatrixXd, InviscidError> mass_defect_matrix_with_wake(const FactorizedSystem& system,
                                                                        std::span<const double> wake_x,
                                                                        std::span<const double> wake_y,
                                                                        std::span<const double> wake_nx,
                                                                        std::span<const double> wake_ny,
                                                                        std::span<const double> wake_apanel) {
  const std::size_t nw = wake_x.size();
  // The inviscid error vocabulary has no variant for a caller's malformed
  // wake; it is reported through the free-text variant rather than stopping
  // the process.
  if (wake_y.size() != nw) return std::unexpected(InviscidError::spline_failed("wake_x and wake_y must have the same length"));
  if (wake_nx.size() != nw) return std::unexpected(InviscidError::spline_failed("wake_x and wake_nx must have the same length"));
  if (wake_ny.size() != nw) return std::unexpected(InviscidError::spline_failed("wake_x and wake_ny must have the same length"));
  if (wake_apanel.size() != nw) return std::unexpected(InviscidError::spline_failed("wake_x and wake_apanel must have the same length"));

  if (nw == 0) return mass_defect_matrix(system);
  if (system.geometry.n == 0) return Eigen::MatrixXd(0, 0);
  if (system.mass_sources)
    return mass_defect_matrix_with_wake(system, *system.mass_sources, wake_x, wake_y, wake_nx, wake_ny, wake_apanel);
  return mass_defect_matrix_with_wake(system, airfoil_mass_sources(system), wake_x, wake_y, wake_nx, wake_ny,
                                      wake_apanel);
}

Eigen::MatrixXd airfoil_mass_sources(const FactorizedSystem& system) {
  if (system.mass_sources) return *system.mass_sources;
  const std::size_t n = system.geometry.n;
  Eigen::MatrixXd b = Eigen::MatrixXd::Zero(idx(n + 1), idx(n));
  if (n > 0) airfoil_mass_rhs(system, b);
  return b;
}

namespace {

// dst += lhs * rhs, taken in slices of columns. The matrix product packs the
// columns of rhs it works on into a buffer of depth x width values, which it
// allocates on the heap once it outgrows Eigen's stack allocation limit (a
// fresh block on every matrix, for the 185 columns of a 160-node airfoil);
// slices narrow enough keep it on the stack. Every entry still gets the same
// sum in the same order: the slices start at multiples of four columns, the
// width of the product kernel's column panels, the depth is not split
// differently, and no slice has a single column (which would be evaluated
// as a matrix-vector product).
void add_product_by_column_slices(Eigen::Block<Eigen::MatrixXd> dst, const Eigen::MatrixXd& lhs,
                                  const Eigen::Block<Eigen::MatrixXd> rhs) {
  const Index depth = std::max<Index>(rhs.rows(), 1);
  const Index cols = rhs.cols();
  const Index fits = (EIGEN_STACK_ALLOCATION_LIMIT / 2) / (static_cast<Index>(sizeof(double)) * depth);
  const Index width = std::max<Index>(fits & ~Index{3}, 8);
  for (Index c0 = 0; c0 < cols;) {
    const Index rest = cols - c0;
    const Index w = rest <= width + 4 ? rest : width;
    dst.middleCols(c0, w).noalias() += lhs * rhs.middleCols(c0, w);
    c0 += w;
  }
}

// The matrix with the wake from the solution of the airfoil columns
// (`block`, n x n): only the wake columns are solved here.
// Written into `dij`, with the right-hand sides, their solution and the wake
// rows' vorticity influences in `scratch` (not scratch.block); every entry of
// dij is written, so the storage of an earlier matrix of the same size
// serves as it is.
std::expected<void, InviscidError> with_wake(const FactorizedSystem& system, const Eigen::MatrixXd& block,
                                             std::span<const double> wake_x, std::span<const double> wake_y,
                                             std::span<const double> wake_nx, std::span<const double> wake_ny,
                                             std::span<const double> wake_apanel, MassDefectScratch& scratch,
                                             Eigen::MatrixXd& dij) {
  const std::size_t nw = wake_x.size();
  if (wake_y.size() != nw || wake_nx.size() != nw || wake_ny.size() != nw || wake_apanel.size() != nw)
    return std::unexpected(  // names the pair
        mass_defect_matrix_with_wake(system, wake_x, wake_y, wake_nx, wake_ny, wake_apanel).error());
  const AirfoilGeometry& g = system.geometry;
  const std::size_t n = g.n;
  const std::size_t nt = n + nw;
  if (block.rows() != idx(n) || block.cols() != idx(n))
    return std::unexpected(InviscidError::spline_failed("airfoil mass-defect block does not match the airfoil system"));
  if (nw == 0) {
    dij = block;
    return {};
  }
  if (n == 0) {
    dij.resize(0, 0);
    return {};
  }

  // Combined node arrays, airfoil then wake.
  std::vector<double> ax(nt), ay(nt), aap(nt);
  for (std::size_t i = 0; i < n; ++i) {
    ax[i] = g.x[i];
    ay[i] = g.y[i];
    aap[i] = g.apanel[i];
  }
  for (std::size_t k = 0; k < nw; ++k) {
    ax[n + k] = wake_x[k];
    ay[n + k] = wake_y[k];
    aap[n + k] = wake_apanel[k];
  }

  // Airfoil rows of the wake columns, solved with the stored factors. A wake
  // column's right-hand side is minus the stream function of the unit wake
  // mass at each airfoil node; the sharp-edge row and the Kutta row stay
  // zero.
  Eigen::MatrixXd& b = scratch.rhs;
  b.setZero(idx(n + 1), idx(nw));
  WakeInfluenceRows wake_rows(ax, ay, aap, n);
  WakePanelInfluence rw;
  for (std::size_t i = 0; i < n; ++i) {
    wake_rows.evaluate(g.x[i], g.y[i], g.nx[i], g.ny[i], i, rw, false);
    for (std::size_t k = 0; k < nw; ++k) b(idx(i), idx(k)) = -rw.dzdm[n + k];
  }
  if (g.sharp) b.row(idx(n - 1)).setZero();
  if (auto solved = system.solve_into(b, scratch.solution); !solved) return std::unexpected(solved.error());
  const Eigen::MatrixXd& sol = scratch.solution;

  dij.resize(idx(nt), idx(nt));
  dij.topLeftCorner(idx(n), idx(n)) = block;
  dij.topRightCorner(idx(n), idx(nw)) = sol.topRows(idx(n));

  // Wake rows: the direct source influence on the speed along the wake, and
  // (through CIJ) the influence of the changed airfoil vorticity.
  Eigen::MatrixXd& cij = scratch.cij;
  cij.resize(idx(nw), idx(n));
  AirfoilInfluenceRows rows(g);
  PanelInfluence r;
  for (std::size_t k = 0; k < nw; ++k) {
    const std::size_t w = n + k;
    rows.evaluate(w, wake_x[k], wake_y[k],
                  {.vortex = true, .sources = true, .velocity = true, .nx = wake_nx[k], .ny = wake_ny[k]}, r);
    for (std::size_t j = 0; j < n; ++j) {
      cij(idx(k), idx(j)) = r.dqdg[j];
      dij(idx(w), idx(j)) = r.dqdm[j];
    }
    wake_rows.evaluate(wake_x[k], wake_y[k], wake_nx[k], wake_ny[k], w, rw);
    for (std::size_t j = 0; j < nw; ++j) dij(idx(w), idx(n + j)) = rw.dqdm[n + j];
  }
  add_product_by_column_slices(dij.bottomRows(idx(nw)), cij, dij.topRows(idx(n)));

  // The first wake node carries the trailing-edge speed.
  dij.row(idx(n)) = dij.row(idx(n - 1));

  if (!dij.allFinite()) return std::unexpected(InviscidError::singular_matrix());
  return {};
}

// The airfoil columns' solution (mass_defect_matrix's block) from their
// sources, into scratch.block. The airfoil columns are solved on their own,
// as mass_defect_matrix solves them: a batch or a sweep that keeps that block
// for many wakes gets the same matrix, bit for bit, as a single operating
// point.
std::expected<void, InviscidError> airfoil_block_of(const FactorizedSystem& system,
                                                    const Eigen::MatrixXd& airfoil_sources,
                                                    MassDefectScratch& scratch) {
  const std::size_t n = system.geometry.n;
  if (airfoil_sources.rows() != idx(n + 1) || airfoil_sources.cols() != idx(n))
    return std::unexpected(InviscidError::spline_failed("airfoil mass sources do not match the airfoil system"));
  if (auto solved = system.solve_into(airfoil_sources, scratch.solution); !solved)
    return std::unexpected(solved.error());
  scratch.block = scratch.solution.topRows(idx(n));
  return {};
}

}  // namespace

std::expected<Eigen::MatrixXd, InviscidError> mass_defect_matrix_with_wake(const FactorizedSystem& system,
                                                                        const Eigen::MatrixXd& airfoil_sources,
                                                                        std::span<const double> wake_x,
                                                                        std::span<const double> wake_y,
                                                                        std::span<const double> wake_nx,
                                                                        std::span<const double> wake_ny,
                                                                        std::span<const double> wake_apanel) {
  MassDefectScratch scratch;
  Eigen::MatrixXd dij;
  if (auto built = mass_defect_matrix_with_wake(system, airfoil_sources, wake_x, wake_y, wake_nx, wake_ny,
                                                wake_apanel, scratch, dij);
      !built)
    return std::unexpected(built.error());
  return dij;
}

std::expected<Eigen::MatrixXd, InviscidError> mass_defect_matrix_with_wake_from_block(
    const FactorizedSystem& system, const Eigen::MatrixXd& airfoil_block, std::span<const double> wake_x,
    std::span<const double> wake_y, std::span<const double> wake_nx, std::span<const double> wake_ny,
    std::span<const double> wake_apanel) {
  MassDefectScratch scratch;
  Eigen::MatrixXd dij;
  if (auto built = with_wake(system, airfoil_block, wake_x, wake_y, wake_nx, wake_ny, wake_apanel, scratch, dij);
      !built)
    return std::unexpected(built.error());
  return dij;
}

std::expected<void, InviscidError> mass_defect_matrix_with_wake(const FactorizedSystem& system,
                                                              std::span<const double> wake_x,
                                                              std::span<const double> wake_y,
                                                              std::span<const double> wake_nx,
                                                              std::span<const double> wake_ny,
                                                              std::span<const double> wake_apanel,
                                                              MassDefectScratch& scratch, Eigen::MatrixXd& dij) {
  const std::size_t nw = wake_x.size();
  // The special cases (a malformed or empty wake, no airfoil) are rare: they
  // take the allocating path.
  if (nw == 0 || system.geometry.n == 0 || wake_y.size() != nw || wake_nx.size() != nw || wake_ny.size() != nw ||
      wake_apanel.size() != nw) {
    auto whole = mass_defect_matrix_with_wake(system, wake_x, wake_y, wake_nx, wake_ny, wake_apanel);
    if (!whole) return std::unexpected(whole.error());
    dij = std::move(*whole);
    return {};
  }
  if (system.mass_sources)
    return mass_defect_matrix_with_wake(system, *system.mass_sources, wake_x, wake_y, wake_nx, wake_ny, wake_apanel,
                                        scratch, dij);
  const Eigen::MatrixXd sources = airfoil_mass_sources(system);
  return mass_defect_matrix_with_wake(system, sources, wake_x, wake_y, wake_nx, wake_ny, wake_apanel, scratch, dij);
}

std::expected<void, InviscidError> mass_defect_matrix_with_wake(const FactorizedSystem& system,
                                                              const Eigen::MatrixXd& airfoil_sources,
                                                              std::span<const double> wake_x,
                                                              std::span<const double> wake_y,
                                                              std::span<const double> wake_nx,
                                                              std::span<const double> wake_ny,
                                                              std::span<const double> wake_apanel,
                                                              MassDefectScratch& scratch, Eigen::MatrixXd& dij) {
  if (auto solved = airfoil_block_of(system, airfoil_sources, scratch); !solved) return solved;
  return with_wake(system, scratch.block, wake_x, wake_y, wake_nx, wake_ny, wake_apanel, scratch, dij);
}

std::expected<void, InviscidError> mass_defect_matrix_with_wake_from_block(
    const FactorizedSystem& system, const Eigen::MatrixXd& airfoil_block, std::span<const double> wake_x,
    std::span<const double> wake_y, std::span<const double> wake_nx, std::span<const double> wake_ny,
    std::span<const double> wake_apanel, MassDefectScratch& scratch, Eigen::MatrixXd& dij) {
  return with_wake(system, airfoil_block, wake_x, wake_y, wake_nx, wake_ny, wake_apanel, scratch, dij);
}

}  // namespace velaro
