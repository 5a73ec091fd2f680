// Inviscid analysis entry points: one angle of attack, or a batch of angles
// solved in parallel on the worker pool.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "common/angles.h"
#include "common/text_format.h"
#include "geometry/body.h"
#include "geometry/contour_checks.h"
#include "inviscid/inviscid_solver.h"
#include "python/conversions.h"
#include "python/docstrings.h"
#include "python/interrupts.h"
#include "python/registry.h"
#include "python/worker_pool.h"

namespace velaro::python {
namespace {

// A non-finite angle cannot give a meaningful flow; it is reported as a
// failure of that angle instead of a result full of NaN.
std::optional<std::string> angle_error(double alpha_deg) {
  if (std::isfinite(alpha_deg)) return std::nullopt;
  return "Invalid angle of attack: " + text::display(alpha_deg);
}

// Outcome of one angle of a batch; filled on a worker thread, turned into a
// dictionary once the interpreter lock is held again.
struct InviscidResult {
  std::vector<double> cp;
  std::vector<double> cp_x;
  std::optional<std::string> error;
  double cl = 0.0;
  double cm = 0.0;
  bool success = false;
};

InviscidResult solve_one(const Body& body, double alpha_deg, const std::vector<double>& midpoints_x) {
  InviscidResult r;
  if (auto bad = angle_error(alpha_deg)) {
    r.error = std::move(*bad);
    return r;
  }
  auto sol = InviscidSolver::solve(body, FlowConditions{alpha_deg * kDegToRad, 1.0});
  if (!sol) {
    r.error = "Solver error: " + sol.error().to_string();
    return r;
  }
  r.cp = std::move(sol->cp);
  r.cp_x = midpoints_x;
  r.cl = sol->cl;
  r.cm = sol->cm;
  r.success = true;
  return r;
}

py::dict result_dict(const InviscidResult& r) {
  py::dict d;
  d["cl"] = r.cl;
  d["cm"] = r.cm;
  d["cp"] = to_py_list(r.cp);
  d["cp_x"] = to_py_list(r.cp_x);
  d["success"] = r.success;
  d["error"] = error_value(r.error);
  return d;
}

py::dict analyze_inviscid(py::object coords, py::object alpha_deg) {
  const std::vector<double> flat = to_float_list(coords, "coords");
  const double alpha = to_float(alpha_deg, "alpha_deg");
  if (!valid_coordinate_count(flat.size())) return failure_dict("Invalid coordinates");
  auto body = airfoil_body(pair_coordinates(flat));
  if (!body) return failure_dict("Geometry error: " + body.error().to_string());
  if (auto bad = angle_error(alpha)) return failure_dict(*bad);

  const std::vector<double> midpoints_x = body->midpoint_x();
  const auto sol = run_interruptible([body = std::move(*body), alpha](const std::atomic<bool>&) {
    return InviscidSolver::solve(body, FlowConditions{alpha * kDegToRad, 1.0});
  });
  if (!sol) return failure_dict("Solver error: " + sol.error().to_string());

  py::dict d;
  d["cl"] = sol->cl;
  d["cm"] = sol->cm;
  d["cp"] = to_py_list(sol->cp);
  d["cp_x"] = to_py_list(midpoints_x);
  d["success"] = true;
  d["error"] = py::none();
  return d;
}

py::list analyze_inviscid_batch(py::object coords, py::object alphas) {
  const std::vector<double> flat = to_float_list(coords, "coords");
  const std::vector<double> angles = to_float_list(alphas, "alphas");
  py::list out;
  if (!valid_coordinate_count(flat.size())) {
    for (std::size_t i = 0; i < angles.size(); ++i) out.append(failure_dict("Invalid coordinates"));
    return out;
  }
  auto body = airfoil_body(pair_coordinates(flat));
  if (!body) {
    const std::string error = "Geometry error: " + body.error().to_string();
    for (std::size_t i = 0; i < angles.size(); ++i) out.append(failure_dict(error));
    return out;
  }

  // The job owns the body, angles and midpoint list; the workers only read
  // them, each angle solves on its own copy of the body and writes its own
  // slot. Angles not yet started when a stop is requested are skipped.
  const std::vector<InviscidResult> results = run_interruptible(
      [body = std::move(*body), angles](const std::atomic<bool>& stop) {
        const std::vector<double> midpoints_x = body.midpoint_x();
        std::vector<InviscidResult> results(angles.size());
        parallel_map_indexed(angles.size(), [&](std::size_t i) {
          if (stop.load(std::memory_order_relaxed)) return;
          results[i] = solve_one(body, angles[i], midpoints_x);
        });
        return results;
      });
  for (const InviscidResult& r : results) out.append(result_dict(r));
  return out;
}

}  // namespace

void register_analyze_inviscid(py::module_& m) {
  m.def("analyze_inviscid", &analyze_inviscid, doc::analyze_inviscid, py::arg("coords"), py::arg("alpha_deg"));
}

void register_analyze_inviscid_batch(py::module_& m) {
  m.def("analyze_inviscid_batch", &analyze_inviscid_batch, doc::analyze_inviscid_batch, py::arg("coords"),
        py::arg("alphas"));
}

}  // namespace velaro::python
