// sweep() and sweeps(): continuation sweeps of the viscous engine, numpy
// arrays in and out, run with the interpreter lock released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "python/engine/engine_docs.h"
#include "python/engine/registry.h"
#include "python/engine/sweep_run.h"
#include "python/engine/sweep_task.h"

namespace velaro::python::engine {
namespace {

// The exception class raised on Ctrl-C, created at module set-up and kept
// for the life of the process.
PyObject* sweep_interrupted = nullptr;

template <typename T, typename F>
py::array_t<T> column(const std::vector<SweepPoint>& points, F value) {
  py::array_t<T> a(static_cast<py::ssize_t>(points.size()));
  T* data = a.mutable_data();
  for (std::size_t i = 0; i < points.size(); ++i) data[i] = value(points[i]);
  return a;
}

py::dict outcome_dict(const SweepTask& task, const SweepOutcome& o) {
  const auto& pts = o.points;
  const bool cl_mode = task.options.mode == OperMode::PrescribedCl;
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  // Points without a result (an error) report NaN; the others the final
  // iterate, converged or not.
  const auto coef = [&](auto member) {
    return column<double>(pts, [&](const SweepPoint& p) { return p.error ? nan : p.result.*member; });
  };
  py::dict d;
  d["mode"] = cl_mode ? "cl" : "alpha";
  d["targets"] = column<double>(pts, [](const SweepPoint& p) { return p.target; });
  d["alpha"] = column<double>(pts, [&](const SweepPoint& p) {
    if (!cl_mode) return p.target;
    return p.error ? nan : p.result.alpha_deg;
  });
  d["cl"] = coef(&OperPointResult::cl);
  d["cd"] = coef(&OperPointResult::cd);
  d["cm"] = coef(&OperPointResult::cm);
  d["cd_friction"] = coef(&OperPointResult::cd_friction);
  d["cd_pressure"] = coef(&OperPointResult::cd_pressure);
  d["x_tr_upper"] = coef(&OperPointResult::x_tr_upper);
  d["x_tr_lower"] = coef(&OperPointResult::x_tr_lower);
  d["iterations"] = column<std::int64_t>(pts, [](const SweepPoint& p) {
    return static_cast<std::int64_t>(p.result.iterations);
  });
  d["residual"] = coef(&OperPointResult::residual);
  d["converged"] = column<bool>(pts, [](const SweepPoint& p) { return !p.error && p.result.converged; });
  d["start"] = column<std::uint8_t>(pts, [](const SweepPoint& p) { return static_cast<std::uint8_t>(p.start); });
  py::list errors;
  for (const SweepPoint& p : pts) {
    if (p.error)
      errors.append(p.error->to_string());
    else
      errors.append(py::none());
  }
  d["errors"] = errors;
  d["error"] = o.error ? py::object(py::str(*o.error)) : py::object(py::none());
  return d;
}

py::list run_and_convert(std::vector<SweepTask> tasks, py::handle progress) {
  if (!progress.is_none() && !PyCallable_Check(progress.ptr())) throw py::type_error("progress must be callable or None");
  // Kept for the conversion: the run takes its own copy to the workers.
  const std::vector<SweepTask> described = tasks;
  bool interrupted = false;
  const std::vector<SweepOutcome> outcomes = run_sweeps(std::move(tasks), progress, interrupted);
  py::list out;
  if (!interrupted) {
    for (std::size_t i = 0; i < outcomes.size(); ++i) out.append(outcome_dict(described[i], outcomes[i]));
    return out;
  }
  // Interrupted: a pending error. A KeyboardInterrupt becomes
  // SweepInterrupted (still a KeyboardInterrupt) carrying what finished;
  // any other error propagates as it is.
  py::error_already_set cause;
  if (!cause.matches(PyExc_KeyboardInterrupt)) throw cause;
  for (std::size_t i = 0; i < outcomes.size(); ++i) out.append(outcome_dict(described[i], outcomes[i]));
  py::object exc = py::reinterpret_borrow<py::object>(sweep_interrupted)("interrupted");
  exc.attr("partial") = out;
  PyException_SetCause(exc.ptr(), cause.value().inc_ref().ptr());
  PyErr_SetObject(sweep_interrupted, exc.ptr());
  throw py::error_already_set();
}

py::dict sweep(py::object coords, py::object targets, py::object mode, py::object reynolds, py::object mach,
               py::object ncrit, py::object xtr_upper, py::object xtr_lower, py::object max_iterations,
               py::object warm_start, py::object progress) {
  std::vector<SweepTask> tasks;
  tasks.push_back(make_task(coords, targets, mode, reynolds, mach, ncrit, xtr_upper, xtr_lower, max_iterations,
                            warm_start, ""));
  return run_and_convert(std::move(tasks), progress)[0];
}

py::list sweeps(py::object tasks, py::object progress) {
  if (py::isinstance<py::dict>(tasks) || py::isinstance<py::str>(tasks) || !py::isinstance<py::sequence>(tasks))
    throw py::type_error("tasks must be a sequence of dicts");
  std::vector<SweepTask> native;
  std::size_t i = 0;
  for (py::handle t : py::reinterpret_borrow<py::sequence>(tasks)) native.push_back(task_from_dict(t, i++));
  return run_and_convert(std::move(native), progress);
}

}  // namespace

void register_sweeps(py::module_& m) {
  py::object base = py::reinterpret_borrow<py::object>(PyExc_KeyboardInterrupt);
  py::dict ns;
  ns["__doc__"] = doc::sweep_interrupted;
  ns["__module__"] = m.attr("__name__");
  py::object cls = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(
      "SweepInterrupted", py::make_tuple(base), ns);
  sweep_interrupted = cls.inc_ref().ptr();
  m.attr("SweepInterrupted") = cls;
  m.attr("START_NAMES") = py::make_tuple("warm", "substepped", "cold", "failed", "damped");

  const ViscousConfig d;
  m.def("sweep", &sweep, doc::sweep, py::arg("coords"), py::arg("targets"), py::kw_only(), py::arg("mode") = "alpha",
        py::arg("reynolds") = d.reynolds, py::arg("mach") = d.mach, py::arg("ncrit") = d.ncrit,
        py::arg("xtr_upper") = 1.0, py::arg("xtr_lower") = 1.0, py::arg("max_iterations") = d.max_iterations,
        py::arg("warm_start") = true, py::arg("progress") = py::none());
  m.def("sweeps", &sweeps, doc::sweeps, py::arg("tasks"), py::kw_only(), py::arg("progress") = py::none());
}

}  // namespace velaro::python::engine
