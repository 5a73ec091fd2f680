#include "inviscid/factored_system.h"

#include <cmath>
#include <limits>
#include <utility>

#include "inviscid/airfoil_influence.h"

namespace velaro {

AirfoilSystemMatrix assemble_airfoil_system(const AirfoilGeometry& geometry,
                                            const std::optional<BisectorControl>& control,
                                            Eigen::MatrixXd* mass_sources, Eigen::MatrixXd* matrix_storage) {
  const std::size_t n = geometry.n;
  const Eigen::Index m = static_cast<Eigen::Index>(n + 1);
  AirfoilSystemMatrix sys;
  if (matrix_storage) sys.a = std::move(*matrix_storage);
  sys.a.setZero(m, m);
  sys.rhs.setZero(m, 2);
  // Source columns: minus the stream function of each unit nodal mass at
  // each node, minus its velocity across the bisector in the sharp-edge row;
  // the Kutta row stays zero.
  const bool sources = mass_sources != nullptr;
  if (sources) mass_sources->setZero(m, static_cast<Eigen::Index>(n));

  // Stream function at every node equals the body constant psi0; the free
  // stream psi = y cos(a) - x sin(a) goes to the right-hand side.
  AirfoilInfluenceRows rows(geometry);
  PanelInfluence r;
  for (std::size_t i = 0; i < n; ++i) {
    rows.evaluate(i, geometry.x[i], geometry.y[i], {.vortex = true, .sources = sources}, r);
    const auto row = static_cast<Eigen::Index>(i);
    for (std::size_t j = 0; j < n; ++j) sys.a(row, static_cast<Eigen::Index>(j)) = r.dzdg[j];
    if (sources)
      for (std::size_t j = 0; j < n; ++j) (*mass_sources)(row, static_cast<Eigen::Index>(j)) = -r.dzdm[j];
    sys.a(row, m - 1) = -1.0;
    sys.rhs(row, 0) = -geometry.y[i];
    sys.rhs(row, 1) = geometry.x[i];
  }

  // Sharp trailing edge: rows 0 and n-1 would state the same condition at
  // (nearly) the same point; row n-1 instead asks for zero velocity across
  // the bisector at the control point. The free-stream part of that
  // velocity component is (-sb, cb).(d/dx, d/dy) psi_inf.
  if (control && n >= 2) {
    rows.evaluate(n, control->x, control->y,
                  {.vortex = true, .sources = sources, .velocity = true, .nx = control->nx, .ny = control->ny}, r);
    const auto row = static_cast<Eigen::Index>(n - 1);
    for (std::size_t j = 0; j < n; ++j) sys.a(row, static_cast<Eigen::Index>(j)) = r.dqdg[j];
    if (sources)
      for (std::size_t j = 0; j < n; ++j) (*mass_sources)(row, static_cast<Eigen::Index>(j)) = -r.dqdm[j];
    sys.a(row, m - 1) = 0.0;
    const double cb = control->ny;
    const double sb = -control->nx;
    sys.rhs(row, 0) = -cb;
    sys.rhs(row, 1) = -sb;
  }

  // Kutta condition.
  if (n >= 1) {
    sys.a(m - 1, 0) += 1.0;
    sys.a(m - 1, static_cast<Eigen::Index>(n - 1)) += 1.0;
  }
  return sys;
}

namespace {

// A pivot is unusable when it is not finite or negligible against the scale
// of the matrix (a rank deficiency that rounding turned into a tiny value).
bool factors_singular(const DenseLu& lu, double scale) {
  const auto diag = lu.matrixLU().diagonal();
  const double tiny = scale * static_cast<double>(diag.size()) * std::numeric_limits<double>::epsilon();
  for (Eigen::Index i = 0; i < diag.size(); ++i) {
    const double p = diag(i);
    if (!std::isfinite(p) || std::abs(p) <= tiny) return true;
  }
  return false;
}

}  // namespace

std::expected<FactorizedSystem, InviscidError> FactorizedSystem::build(AirfoilGeometry geometry,
                                                                       bool keep_mass_sources,
                                                                       SystemStorage* storage) {
  const std::size_t n = geometry.n;
  if (n < 2 || geometry.x.size() != n || geometry.y.size() != n) return std::unexpected(InviscidError::singular_matrix());

  FactorizedSystem sys;
  sys.control = sharp_te_bisector_control(geometry);
  if (keep_mass_sources) {
    sys.mass_sources.emplace();
    if (storage) sys.mass_sources->swap(storage->mass_sources);
  }
  AirfoilSystemMatrix m = assemble_airfoil_system(geometry, sys.control, sys.mass_sources ? &*sys.mass_sources : nullptr,
                                                  storage ? &storage->matrix : nullptr);

  const double scale = m.a.cwiseAbs().maxCoeff();
  if (!std::isfinite(scale) || scale == 0.0) return std::unexpected(InviscidError::singular_matrix());
  sys.lu.compute(std::move(m.a));
  if (factors_singular(sys.lu, scale)) return std::unexpected(InviscidError::singular_matrix());

  sys.geometry = std::move(geometry);
  auto base = sys.solve(m.rhs);
  if (!base) return std::unexpected(base.error());

  sys.gamu_0.resize(n);
  sys.gamu_90.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    sys.gamu_0[j] = (*base)(static_cast<Eigen::Index>(j), 0);
    sys.gamu_90[j] = (*base)(static_cast<Eigen::Index>(j), 1);
  }
  sys.psi0_0 = (*base)(static_cast<Eigen::Index>(n), 0);
  sys.psi0_90 = (*base)(static_cast<Eigen::Index>(n), 1);
  return sys;
}

SystemStorage FactorizedSystem::release_storage() {
  SystemStorage storage;
  storage.matrix = lu.release();
  if (mass_sources) storage.mass_sources.swap(*mass_sources);
  mass_sources.reset();
  return storage;
}

std::expected<Eigen::MatrixXd, InviscidError> FactorizedSystem::solve(const Eigen::MatrixXd& rhs) const {
  Eigen::MatrixXd x;
  if (auto solved = solve_into(rhs, x); !solved) return std::unexpected(solved.error());
  return x;
}

std::expected<void, InviscidError> FactorizedSystem::solve_into(const Eigen::MatrixXd& rhs, Eigen::MatrixXd& x) const {
  if (rhs.rows() != lu.rows() || lu.rows() == 0) return std::unexpected(InviscidError::singular_matrix());
  lu.solve_into(rhs, x);
  if (!x.allFinite()) return std::unexpected(InviscidError::singular_matrix());
  return {};
}

}  // namespace velaro
