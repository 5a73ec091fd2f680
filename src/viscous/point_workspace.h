#pragma once
// The large arrays of one viscous operating point, kept per thread between
// points: a point that follows another of about the same size on the same
// thread finds them allocated and touched, and so neither allocates them nor
// faults in fresh pages for them.
#include <Eigen/Dense>

#include <cstddef>
#include <memory>

#include "inviscid/factored_system.h"
#include "inviscid/mass_defect.h"
#include "viscous/assembly.h"
#include "viscous/forces.h"
#include "viscous/state.h"

namespace velaro {

struct PointWorkspace {
  // The Newton iteration's arrays: system, solution, stations, DIJ by rows,
  // edge-velocity couplings.
  NewtonWorkspace newton;
  // The influence matrix's scratch, and the storage of one influence matrix
  // that is not in use (a state's matrix goes here when the state is done).
  MassDefectScratch mass_defect;
  Eigen::MatrixXd dij;
  // The storage of the airfoil system of the last point that built its own.
  SystemStorage system;
  // The stations the forces are evaluated from on every iteration.
  ForceView forces;

  // Bytes of the large arrays: as allocated, and as used by the last point.
  std::size_t bytes_held() const;
  std::size_t bytes_used() const;
};

// A workspace this thread keeps is given back only while it holds at most
// this many bytes (a 240-node point needs about 5 MB) and at most
// kFarLargerFactor times what its last point used; a larger one is freed.
inline constexpr std::size_t kMaxKeptWorkspaceBytes = std::size_t{6} << 20;
inline constexpr std::size_t kFarLargerFactor = 4;

// This thread's workspace for the lifetime of the object, given back on
// destruction. A thread keeps at most one: while it is borrowed, a nested
// borrow on the same thread (an operating point solved from within another,
// e.g. from a callback) gets a fresh workspace of its own, so that no two
// points ever share arrays.
class BorrowedPointWorkspace {
 public:
  BorrowedPointWorkspace();
  ~BorrowedPointWorkspace();
  BorrowedPointWorkspace(const BorrowedPointWorkspace&) = delete;
  BorrowedPointWorkspace& operator=(const BorrowedPointWorkspace&) = delete;

  PointWorkspace& operator*() const { return *ws_; }
  PointWorkspace* operator->() const { return ws_.get(); }

 private:
  std::unique_ptr<PointWorkspace> ws_;
};

// Hands the storage of the influence matrix and the airfoil system of a point
// the caller is done with to this thread's workspace, for the next point
// (build_state_from_coords and the driver take it from there). The state
// keeps no influence matrix afterwards and the system no factors.
void return_point_storage(ViscousState& state, FactorizedSystem& system);

}  // namespace velaro
