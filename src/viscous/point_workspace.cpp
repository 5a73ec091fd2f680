#include "viscous/point_workspace.h"

#include <utility>

namespace velaro {

namespace {

// The workspace this thread keeps while no point has borrowed it.
thread_local std::unique_ptr<PointWorkspace> kept;

std::size_t matrix_bytes(const Eigen::MatrixXd& m) { return sizeof(double) * static_cast<std::size_t>(m.size()); }

}  // namespace

std::size_t PointWorkspace::bytes_held() const {
  const NewtonWorkspace& w = newton;
  return sizeof(double) * (w.system.a.vm.capacity() + w.dij_rows.capacity() + w.coupling.capacity()) +
         matrix_bytes(mass_defect.rhs) + matrix_bytes(mass_defect.solution) + matrix_bytes(mass_defect.cij) +
         matrix_bytes(dij) + matrix_bytes(system.matrix) + matrix_bytes(system.mass_sources);
}

std::size_t PointWorkspace::bytes_used() const {
  const NewtonWorkspace& w = newton;
  return sizeof(double) * (w.system.a.vm.size() + w.dij_rows.size() + w.coupling.size()) +
         matrix_bytes(mass_defect.rhs) + matrix_bytes(mass_defect.solution) + matrix_bytes(mass_defect.cij) +
         matrix_bytes(dij) + matrix_bytes(system.matrix) + matrix_bytes(system.mass_sources);
}

BorrowedPointWorkspace::BorrowedPointWorkspace() : ws_(std::move(kept)) {
  if (!ws_) ws_ = std::make_unique<PointWorkspace>();
}

BorrowedPointWorkspace::~BorrowedPointWorkspace() {
  // Another borrower of this thread may have given its workspace back
  // meanwhile (a nested point): one is enough.
  if (kept) return;
  const std::size_t held = ws_->bytes_held();
  if (held > kMaxKeptWorkspaceBytes || held > kFarLargerFactor * ws_->bytes_used()) return;
  kept = std::move(ws_);
}

void return_point_storage(ViscousState& state, FactorizedSystem& system) {
  const BorrowedPointWorkspace ws;
  ws->dij = std::move(state.dij);
  state.dij = Eigen::MatrixXd();
  state.dij_built = false;
  state.dij_current = false;
  ws->system = system.release_storage();
}

}  // namespace velaro
