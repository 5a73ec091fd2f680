// boundary_layer(): the boundary layer of both sides and the edge velocity at
// the nodes of one converged operating point, as numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "boundary_layer/diagnostics.h"
#include "python/engine/engine_docs.h"
#include "python/engine/registry.h"
#include "python/conversions.h"
#include "python/engine/sweep_task.h"
#include "python/interrupts.h"
#include "viscous/driver.h"
#include "viscous/setup.h"
#include "viscous/station_evaluation.h"

namespace velaro::python::engine {
namespace {

// The airfoil rows of one side, row 1 (the first station after the
// stagnation point) to the trailing edge; row 0 is a placeholder with no
// thickness and is left out.
struct SideRows {
  std::vector<double> s, x, y, ue, theta, dstar, h, cf, ctau;
  std::vector<bool> laminar;
  std::vector<std::int64_t> node;
};

SideRows side_rows(const ViscousState& state, std::size_t side, double msq, double re_eff) {
  SideRows out;
  const auto& rows = state.rows[side];
  if (rows.size() < 2) return out;
  const std::size_t last = std::min(rows.size() - 1, state.iblte[side]);
  // Skin friction from the station variables of the final rows, as the
  // separation point is located.
  const std::vector<BlStation> stations =
      stations_from_rows(rows, last + 1, state.iblte[side], state.first_turbulent_row[side], msq, re_eff);
  for (std::size_t r = 1; r <= last; ++r) {
    const BlRow& row = rows[r];
    out.s.push_back(row.x);
    out.x.push_back(row.x_coord);
    out.y.push_back(row.y_coord);
    out.ue.push_back(row.uedg);
    out.theta.push_back(row.theta);
    out.dstar.push_back(row.dstr);
    out.h.push_back(row.theta > 0.0 ? row.dstr / row.theta : std::nan(""));
    out.cf.push_back(stations[r].cf);
    // Amplification on laminar rows, sqrt(Ctau) on turbulent ones.
    out.ctau.push_back(first_variable(row));
    out.laminar.push_back(r < state.first_turbulent_row[side]);
    out.node.push_back(row.panel == kNoPanel ? -1 : static_cast<std::int64_t>(row.panel));
  }
  return out;
}

struct Outcome {
  std::optional<std::string> error;
  OperPointResult result;
  SideRows upper, lower;
};

Outcome solve(const SweepTask& task, double alpha, DriverOptions options, const std::atomic<bool>& stop) {
  options.should_stop = [&stop] { return stop.load(std::memory_order_relaxed); };
  const InstalledSwitches switches(options.switches ? &*options.switches : nullptr);
  Outcome out;
  auto setup = build_state_from_coords("airfoil", task.nodes, task.config, alpha);
  if (!setup) {
    out.error = setup.error().to_string();
    return out;
  }
  const auto solved = solve_operating_point_from_state(setup->state, setup->system, task.config, options);
  if (!solved) {
    out.error = solved.error().to_string();
    return out;
  }
  out.result = *solved;
  const double msq = task.config.mach * task.config.mach;
  out.upper = side_rows(setup->state, 0, msq, solved->reynolds_eff);
  out.lower = side_rows(setup->state, 1, msq, solved->reynolds_eff);
  return out;
}

template <typename T>
py::array_t<T> array(const std::vector<T>& v) {
  py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

py::dict side_dict(const SideRows& r) {
  py::dict d;
  d["s"] = array(r.s);
  d["x"] = array(r.x);
  d["y"] = array(r.y);
  d["ue"] = array(r.ue);
  d["theta"] = array(r.theta);
  d["delta_star"] = array(r.dstar);
  d["h"] = array(r.h);
  d["cf"] = array(r.cf);
  d["ctau"] = array(r.ctau);
  py::array_t<bool> laminar(static_cast<py::ssize_t>(r.laminar.size()));
  std::copy(r.laminar.begin(), r.laminar.end(), laminar.mutable_data());
  d["laminar"] = laminar;
  d["node"] = array(r.node);
  return d;
}

py::dict boundary_layer(py::object coords, py::object alpha, py::object reynolds, py::object mach, py::object ncrit,
                        py::object xtr_upper, py::object xtr_lower, py::object max_iterations) {
  const double a = to_float(alpha, "alpha");
  if (!std::isfinite(a)) throw py::value_error("alpha must be finite");
  SweepTask task = make_task(coords, py::make_tuple(a), py::str("alpha"), reynolds, mach, ncrit, xtr_upper,
                             xtr_lower, max_iterations, py::bool_(false), "");
  const Outcome out = run_interruptible(
      [task = std::move(task), a, options = driver_options_from_environment()](const std::atomic<bool>& stop) {
        return solve(task, a, options, stop);
      });
  py::dict d;
  d["alpha"] = a;
  d["converged"] = !out.error && out.result.converged;
  d["iterations"] = out.result.iterations;
  d["residual"] = out.result.residual;
  d["cl"] = out.result.cl;
  d["error"] = out.error ? py::object(py::str(*out.error)) : py::object(py::none());
  d["upper"] = side_dict(out.upper);
  d["lower"] = side_dict(out.lower);
  return d;
}

}  // namespace

void register_boundary_layer(py::module_& m) {
  const ViscousConfig d;
  m.def("boundary_layer", &boundary_layer, doc::boundary_layer, py::arg("coords"), py::arg("alpha"), py::kw_only(),
        py::arg("reynolds") = d.reynolds, py::arg("mach") = d.mach, py::arg("ncrit") = d.ncrit,
        py::arg("xtr_upper") = 1.0, py::arg("xtr_lower") = 1.0, py::arg("max_iterations") = d.max_iterations);
}

}  // namespace velaro::python::engine
