#include "python/engine/sweep_task.h"

#include <pybind11/numpy.h>

#include <cmath>
#include <string_view>

#include "geometry/body.h"
#include "geometry/contour_checks.h"
#include "inviscid/panel_geometry.h"
#include "python/conversions.h"
#include "viscous/driver.h"
#include "viscous/setup.h"

namespace velaro::python::engine {
namespace {

using FloatArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

[[noreturn]] void bad_value(const std::string& where, const std::string& text) { throw py::value_error(where + text); }

// Any array-like of numbers as a contiguous float64 array; anything else
// (strings, ragged lists, objects) is a ValueError naming the argument.
FloatArray float_array(py::handle obj, const char* name, const std::string& where) {
  if (py::isinstance<py::str>(obj) || py::isinstance<py::bytes>(obj))
    bad_value(where, std::string(name) + " must be an array of numbers, not a string");
  FloatArray a;
  try {
    a = FloatArray::ensure(obj);
  } catch (const py::error_already_set&) {
    a = FloatArray();
  }
  if (!a) {
    PyErr_Clear();
    bad_value(where, std::string(name) + " must be an array of numbers");
  }
  for (py::ssize_t i = 0; i < a.size(); ++i)
    if (!std::isfinite(a.data()[i])) bad_value(where, std::string(name) + " must be finite (NaN or infinity found)");
  return a;
}

std::vector<Point> contour(py::handle coords, const ViscousConfig& config, const std::string& where) {
  const FloatArray a = float_array(coords, "coords", where);
  if (a.ndim() != 2 || a.shape(1) != 2)
    bad_value(where, "coords must have shape (N, 2), got " + std::string(py::str(a.attr("shape"))));
  const std::span<const double> flat(a.data(), static_cast<std::size_t>(a.size()));
  if (static_cast<std::size_t>(a.shape(0)) < AirfoilGeometry::kMinNodes)
    bad_value(where, "coords must have at least " + std::to_string(AirfoilGeometry::kMinNodes) + " points, got " +
                         std::to_string(a.shape(0)));
  // The same preparation as a single viscous point: a blunt base closed by a
  // repeated first point is the trailing-edge gap, and the contour must be
  // an airfoil in the expected order.
  auto body = airfoil_body(pair_coordinates(flat));
  if (!body) bad_value(where, "coords: geometry error: " + body.error().to_string());
  std::vector<Point> nodes = coords_from_body(body->panels());
  if (auto open = without_blunt_closing_point(nodes)) nodes = std::move(*open);
  if (auto bad = check_airfoil_contour(nodes)) bad_value(where, "coords: geometry error: " + bad->to_string());
  if (auto too_big = check_viscous_size(nodes.size(), config)) bad_value(where, "coords: " + too_big->to_string());
  return nodes;
}

std::vector<double> target_list(py::handle targets, const std::string& where) {
  const FloatArray a = float_array(targets, "targets", where);
  if (a.ndim() != 1) bad_value(where, "targets must be one-dimensional, got " + std::to_string(a.ndim()) + " dimensions");
  if (a.size() == 0) bad_value(where, "targets must not be empty");
  return {a.data(), a.data() + a.size()};
}

double scalar(py::handle obj, const char* name, const std::string& where) {
  const double v = to_float(obj, name);
  if (!std::isfinite(v)) bad_value(where, std::string(name) + " must be finite, got " + std::string(py::str(py::float_(v))));
  return v;
}

}  // namespace

SweepTask make_task(py::handle coords, py::handle targets, py::handle mode, py::handle reynolds, py::handle mach,
                    py::handle ncrit, py::handle xtr_upper, py::handle xtr_lower, py::handle max_iterations,
                    py::handle warm_start, const std::string& where) {
  SweepTask task;
  const std::string mode_name = to_str(mode, "mode");
  if (mode_name == "alpha")
    task.options.mode = OperMode::PrescribedAlpha;
  else if (mode_name == "cl")
    task.options.mode = OperMode::PrescribedCl;
  else
    bad_value(where, "mode must be 'alpha' or 'cl', got '" + mode_name + "'");
  if (!py::isinstance<py::bool_>(warm_start)) throw py::type_error(where + "warm_start must be a bool");
  task.options.warm_start = warm_start.cast<bool>();

  ViscousConfig& c = task.config;
  c.reynolds = scalar(reynolds, "reynolds", where);
  c.mach = scalar(mach, "mach", where);
  c.ncrit = scalar(ncrit, "ncrit", where);
  c.max_iterations = to_u64(max_iterations, "max_iterations");
  const char* trip_names[2] = {"xtr_upper", "xtr_lower"};
  const py::handle trips[2] = {xtr_upper, xtr_lower};
  for (int side = 0; side < 2; ++side) {
    const double x = scalar(trips[side], trip_names[side], where);
    if (!(x >= 0.0 && x <= 1.0))
      bad_value(where, std::string(trip_names[side]) + " must be a chord fraction in [0, 1] (1: free transition), got " +
                           std::string(py::str(py::float_(x))));
    c.trip_x[static_cast<std::size_t>(side)] = x;
  }
  if (auto bad = validate_oper_point(c, 0.0)) bad_value(where, bad->to_string());

  task.targets = target_list(targets, where);
  task.nodes = contour(coords, c, where);
  return task;
}

SweepTask task_from_dict(py::handle task, std::size_t index) {
  const std::string where = "task " + std::to_string(index) + ": ";
  if (!py::isinstance<py::dict>(task)) throw py::type_error(where + "each task must be a dict of sweep() arguments");
  const py::dict d = py::reinterpret_borrow<py::dict>(task);
  static constexpr std::string_view kKeys[] = {"coords",    "targets",   "mode",           "reynolds",  "mach",
                                               "ncrit",     "xtr_upper", "xtr_lower",      "max_iterations",
                                               "warm_start"};
  for (auto item : d) {
    const std::string key = py::str(item.first);
    bool known = false;
    for (std::string_view k : kKeys) known = known || key == k;
    if (!known) throw py::type_error(where + "unknown key '" + key + "'");
  }
  for (const char* required : {"coords", "targets"})
    if (!d.contains(required)) throw py::type_error(where + "missing key '" + std::string(required) + "'");
  const ViscousConfig defaults;
  const auto get = [&](const char* key, py::object fallback) -> py::object {
    return d.contains(key) ? py::reinterpret_borrow<py::object>(d[key]) : fallback;
  };
  return make_task(d["coords"], d["targets"], get("mode", py::str("alpha")), get("reynolds", py::float_(defaults.reynolds)),
                   get("mach", py::float_(defaults.mach)), get("ncrit", py::float_(defaults.ncrit)),
                   get("xtr_upper", py::float_(1.0)), get("xtr_lower", py::float_(1.0)),
                   get("max_iterations", py::int_(defaults.max_iterations)), get("warm_start", py::bool_(true)), where);
}

}  // namespace velaro::python::engine
