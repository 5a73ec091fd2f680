#pragma once
// One sweep as the engine module runs it: a checked contour, its targets and
// the configuration, all owned (they move to the worker threads).
#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <vector>

#include "geometry/point.h"
#include "viscous/state.h"
#include "viscous/sweep.h"

namespace velaro::python::engine {

namespace py = pybind11;

struct SweepTask {
  std::vector<Point> nodes;  // solver order, blunt closing point dropped
  std::vector<double> targets;
  ViscousConfig config;
  SweepOptions options;
};

// Builds a task from the arguments of sweep() (or one task dictionary of
// sweeps()). Every check happens here, before any work starts; bad values
// raise ValueError naming the argument, and `where` ("" or "task 3: ")
// prefixes the message.
SweepTask make_task(py::handle coords, py::handle targets, py::handle mode, py::handle reynolds, py::handle mach,
                    py::handle ncrit, py::handle xtr_upper, py::handle xtr_lower, py::handle max_iterations,
                    py::handle warm_start, const std::string& where);

// The same from a dictionary with the keyword names of sweep(); missing keys
// take sweep()'s defaults, unknown keys raise TypeError.
SweepTask task_from_dict(py::handle task, std::size_t index);

}  // namespace velaro::python::engine
