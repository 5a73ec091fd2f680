#pragma once
// Runs sweeps on the worker pool with the interpreter lock released, while
// the calling thread reports progress and watches for Ctrl-C.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "python/engine/sweep_task.h"
#include "viscous/sweep.h"

namespace velaro::python::engine {

namespace py = pybind11;

// Outcome of one task: its points in input order, or the error of the
// whole task (the contour could not be set up).
struct SweepOutcome {
  std::vector<SweepPoint> points;
  std::optional<std::string> error;
  bool finished = false;  // false: abandoned on an interrupt before it returned
};

// Text of the points an interrupt left unsolved.
inline constexpr const char* kInterrupted = "viscous analysis interrupted";

// Runs every task, independent tasks in parallel on the worker pool, and
// returns their outcomes in task order. `progress` (None or a callable)
// is called on the calling thread, with the interpreter lock, with the
// number of points finished since its last call.
//
// When a signal handler raises (Ctrl-C) or `progress` raises, the run is
// asked to stop; sweeps end at their next iteration and keep the points
// they finished. The caller waits a short grace period for them, then
// `interrupted` is set and the outcomes hold what had finished (sweeps that
// had not returned are wholly unsolved). The raised Python error stays set
// (the caller re-raises it).
std::vector<SweepOutcome> run_sweeps(std::vector<SweepTask> tasks, py::handle progress, bool& interrupted);

}  // namespace velaro::python::engine
