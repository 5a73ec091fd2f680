// Viscous analysis entry points: one operating point, a batch of angles
// solved in parallel on the worker pool, and the boundary-layer distributions
// of one operating point.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "boundary_layer/diagnostics.h"
#include "geometry/body.h"
#include "geometry/contour_checks.h"
#include "python/conversions.h"
#include "python/docstrings.h"
#include "python/interrupts.h"
#include "python/registry.h"
#include "python/viscous_defaults.h"
#include "python/worker_pool.h"
#include "viscous/continuation.h"
#include "viscous/driver.h"
#include "viscous/setup.h"
#include "viscous/state.h"
#include "viscous/station_evaluation.h"

namespace velaro::python {
namespace {

ReynoldsType reynolds_type(std::uint8_t code) {
  if (code == 2) return ReynoldsType::Type2;
  if (code == 3) return ReynoldsType::Type3;
  return ReynoldsType::Type1;
}

// The tolerance and the wake length stay at their defaults.
ViscousConfig make_config(double reynolds, double mach, double ncrit, std::uint64_t max_iterations,
                          std::uint8_t re_type) {
  ViscousConfig c;
  c.reynolds = reynolds;
  c.mach = mach;
  c.ncrit = ncrit;
  c.max_iterations = max_iterations;
  c.re_type = reynolds_type(re_type);
  return c;
}

// The flow arguments shared by the three functions, converted left to right
// after the coordinates and the angle(s).
struct FlowArgs {
  double reynolds;
  double mach;
  double ncrit;
  std::uint64_t max_iterations;
  std::uint8_t re_type;
};

FlowArgs convert_flow_args(py::handle reynolds, py::handle mach, py::handle ncrit, py::handle max_iterations,
                           py::handle re_type) {
  FlowArgs a{};
  a.reynolds = to_float(reynolds, "reynolds");
  a.mach = to_float(mach, "mach");
  a.ncrit = to_float(ncrit, "ncrit");
  a.max_iterations = to_u64(max_iterations, "max_iterations");
  a.re_type = to_u8(re_type, "re_type");
  return a;
}

// Driver options of a call: the environment switches as they are when the
// call begins (read here, with the interpreter lock held), and the stop
// request of the call's job, polled once per Newton iteration.
DriverOptions job_options(DriverOptions options, const std::atomic<bool>& stop) {
  options.should_stop = [&stop] { return stop.load(std::memory_order_relaxed); };
  return options;
}

// Outcome of one angle of a batch; filled on a worker thread, turned into a
// dictionary once the interpreter lock is held again.
struct FaithfulResult {
  std::optional<std::string> error;
  double alpha_deg = 0.0;
  double cl = 0.0;
  double cd = 0.0;
  double cm = 0.0;
  std::uint64_t iterations = 0;
  double residual = 0.0;
  double x_tr_upper = 1.0;
  double x_tr_lower = 1.0;
  double cd_friction = 0.0;
  double cd_pressure = 0.0;
  double reynolds_eff = 0.0;
  bool converged = false;
  bool success = false;
};

FaithfulResult failure_record(std::string error, double alpha_deg, double reynolds) {
  FaithfulResult r;
  r.error = std::move(error);
  r.alpha_deg = alpha_deg;
  r.reynolds_eff = reynolds;
  return r;
}

FaithfulResult record_of(const std::expected<OperPointResult, ViscousError>& solved, double alpha_deg,
                         double reynolds) {
  if (!solved) return failure_record(solved.error().to_string(), alpha_deg, reynolds);
  const OperPointResult& s = *solved;
  FaithfulResult r;
  r.alpha_deg = s.alpha_deg;
  r.cl = s.cl;
  r.cd = s.cd;
  r.cm = s.cm;
  r.iterations = s.iterations;
  r.residual = s.residual;
  r.x_tr_upper = s.x_tr_upper;
  r.x_tr_lower = s.x_tr_lower;
  r.cd_friction = s.cd_friction;
  r.cd_pressure = s.cd_pressure;
  r.reynolds_eff = s.reynolds_eff;
  r.converged = s.converged;
  r.success = true;
  return r;
}

FaithfulResult solve_one(const Body& body, const ViscousConfig& config, double alpha_deg,
                         const DriverOptions& options) {
  return record_of(solve_body_oper_point(body, config, alpha_deg, options), alpha_deg, config.reynolds);
}

py::dict batch_dict(const FaithfulResult& r) {
  py::dict d;
  d["alpha_deg"] = r.alpha_deg;
  d["cl"] = r.cl;
  d["cd"] = r.cd;
  d["cm"] = r.cm;
  d["converged"] = r.converged;
  d["iterations"] = r.iterations;
  d["residual"] = r.residual;
  d["x_tr_upper"] = r.x_tr_upper;
  d["x_tr_lower"] = r.x_tr_lower;
  d["cd_friction"] = r.cd_friction;
  d["cd_pressure"] = r.cd_pressure;
  d["reynolds_eff"] = r.reynolds_eff;
  d["success"] = r.success;
  d["error"] = error_value(r.error);
  return d;
}

py::dict analyze_faithful(py::object coords, py::object alpha_deg, py::object reynolds, py::object mach,
                          py::object ncrit, py::object max_iterations, py::object re_type) {
  const std::vector<double> flat = to_float_list(coords, "coords");
  const double alpha = to_float(alpha_deg, "alpha_deg");
  const FlowArgs a = convert_flow_args(reynolds, mach, ncrit, max_iterations, re_type);
  if (!valid_coordinate_count(flat.size()))
    return failure_dict("Invalid coordinates: need at least 3 points (6 values)");
  auto body = airfoil_body(pair_coordinates(flat));
  if (!body) return failure_dict("Geometry error: " + body.error().to_string());

  const ViscousConfig config = make_config(a.reynolds, a.mach, a.ncrit, a.max_iterations, a.re_type);
  const auto solved =
      run_interruptible([body = std::move(*body), config, alpha, options = driver_options_from_environment()](
                            const std::atomic<bool>& stop) {
        return solve_body_oper_point(body, config, alpha, job_options(options, stop));
      });
  if (!solved) return failure_dict(solved.error().to_string());

  const OperPointResult& s = *solved;
  py::dict d;
  d["cl"] = s.cl;
  d["cd"] = s.cd;
  d["cm"] = s.cm;
  d["converged"] = s.converged;
  d["iterations"] = s.iterations;
  d["residual"] = s.residual;
  d["x_tr_upper"] = s.x_tr_upper;
  d["x_tr_lower"] = s.x_tr_lower;
  d["cd_friction"] = s.cd_friction;
  d["cd_pressure"] = s.cd_pressure;
  d["alpha_deg"] = s.alpha_deg;
  d["reynolds_eff"] = s.reynolds_eff;
  d["success"] = true;
  d["error"] = py::none();
  return d;
}

py::list analyze_faithful_batch(py::object coords, py::object alphas, py::object reynolds, py::object mach,
                                py::object ncrit, py::object max_iterations, py::object re_type) {
  const std::vector<double> flat = to_float_list(coords, "coords");
  const std::vector<double> angles = to_float_list(alphas, "alphas");
  const FlowArgs a = convert_flow_args(reynolds, mach, ncrit, max_iterations, re_type);

  py::list out;
  if (!valid_coordinate_count(flat.size())) {
    for (double alpha : angles) out.append(batch_dict(failure_record("Invalid coordinates", alpha, a.reynolds)));
    return out;
  }
  auto body = airfoil_body(pair_coordinates(flat));
  if (!body) {
    const std::string error = "Geometry error: " + body.error().to_string();
    for (double alpha : angles) out.append(batch_dict(failure_record(error, alpha, a.reynolds)));
    return out;
  }

  const ViscousConfig config = make_config(a.reynolds, a.mach, a.ncrit, a.max_iterations, a.re_type);
  // The environment is read here, once, with the interpreter lock held; the
  // same switch snapshot goes to every angle, and each analysis installs it
  // on its worker thread, so the workers never read the environment.
  // Angles not yet started when a stop is requested are skipped; running
  // ones end at their next Newton iteration.
  const std::vector<FaithfulResult> results =
      run_interruptible([body = std::move(*body), config, angles, options = driver_options_from_environment()](
                            const std::atomic<bool>& stop) {
        const DriverOptions stoppable = job_options(options, stop);
        std::vector<FaithfulResult> results(angles.size());
        // The angle-independent work (factored panel system, airfoil part of
        // the influence matrix) is done once for every angle; each angle is
        // then solved from a fresh boundary layer, with the same result, bit
        // for bit, as a single call. A contour that cannot be prepared, and
        // an angle that is not finite, take the single-call path, which
        // reports them.
        const std::optional<PreparedContour> contour = [&]() -> std::optional<PreparedContour> {
          if (angles.size() < 2) return std::nullopt;
          const InstalledSwitches switches(stoppable.switches ? &*stoppable.switches : nullptr);
          auto prepared = prepare_contour(body.name(), coords_from_body(body.panels()), config);
          if (!prepared) return std::nullopt;
          return std::move(*prepared);
        }();
        parallel_map_indexed(angles.size(), [&](std::size_t i) {
          if (stop.load(std::memory_order_relaxed)) return;
          if (!contour || !std::isfinite(angles[i])) {
            results[i] = solve_one(body, config, angles[i], stoppable);
            return;
          }
          ViscousState state = cold_state(*contour, OperMode::PrescribedAlpha, angles[i]);
          results[i] = record_of(solve_cold(*contour, state, config, stoppable), angles[i], config.reynolds);
        });
        return results;
      });
  for (const FaithfulResult& r : results) out.append(batch_dict(r));
  return out;
}

// The boundary-layer profile of one side, rows 0 .. min(rows - 1, iblte).
struct SideProfile {
  std::vector<double> x, theta, dstar, h, cf, ue;
  bool finite = true;
};

SideProfile side_profile(const ViscousState& state, Side which, double msq, double re_eff) {
  SideProfile p;
  const std::size_t side = side_index(which);
  const auto& rows = state.rows[side];
  if (rows.empty()) return p;
  const std::size_t count = std::min(rows.size() - 1, state.iblte[side]) + 1;
  // Skin friction from the station variables of the final rows, the same
  // evaluation the separation point is located with.
  const std::vector<BlStation> stations =
      stations_from_rows(rows, count, state.iblte[side], state.first_turbulent_row[side], msq, re_eff);
  for (std::size_t r = 0; r < count; ++r) {
    const BlRow& row = rows[r];
    p.x.push_back(row.x_coord);
    p.theta.push_back(row.theta);
    p.dstar.push_back(row.dstr);
    // Row 0, the stagnation placeholder, has no thickness: the shape factor
    // of its station (with the thickness floors) is reported instead.
    const bool placeholder = r == 0 || !(row.theta > 0.0);
    p.h.push_back(placeholder ? stations[r].h : row.dstr / row.theta);
    p.cf.push_back(stations[r].cf);
    p.ue.push_back(row.uedg);
  }
  for (const auto* v : {&p.x, &p.theta, &p.dstar, &p.h, &p.cf, &p.ue})
    for (double value : *v)
      if (!std::isfinite(value)) p.finite = false;
  return p;
}

// Everything get_bl_distribution reports, computed away from Python.
struct BlOutcome {
  std::optional<std::string> error;
  SideProfile upper, lower;
  OperPointResult result;
};

BlOutcome bl_outcome(const Body& body, const ViscousConfig& config, double alpha, const DriverOptions& options) {
  BlOutcome out;
  // One snapshot of the switches serves the set-up and the iteration alike.
  const InstalledSwitches switches(options.switches ? &*options.switches : nullptr);
  const std::vector<Point> nodes = coords_from_body(body.panels());
  if (auto bad = validate_oper_point(config, alpha)) {
    out.error = bad->to_string();
    return out;
  }
  if (auto too_big = check_viscous_size(nodes.size(), config)) {
    out.error = too_big->to_string();
    return out;
  }
  auto setup = build_state_from_coords("airfoil", nodes, config, alpha);
  if (!setup) {
    out.error = setup.error().to_string();
    return out;
  }
  ViscousState& state = setup->state;
  const auto solved = solve_operating_point_from_state(state, setup->system, config, options);
  if (!solved) {
    out.error = solved.error().to_string();
    return out;
  }
  const double msq = config.mach * config.mach;
  out.upper = side_profile(state, Side::Upper, msq, solved->reynolds_eff);
  out.lower = side_profile(state, Side::Lower, msq, solved->reynolds_eff);
  if (!out.upper.finite || !out.lower.finite) out.error = "viscous iteration diverged: non-finite result";
  out.result = *solved;
  return out;
}

py::dict get_bl_distribution(py::object coords, py::object alpha_deg, py::object reynolds, py::object mach,
                             py::object ncrit, py::object max_iterations, py::object re_type) {
  const std::vector<double> flat = to_float_list(coords, "coords");
  const double alpha = to_float(alpha_deg, "alpha_deg");
  const FlowArgs a = convert_flow_args(reynolds, mach, ncrit, max_iterations, re_type);
  if (!valid_coordinate_count(flat.size())) return failure_dict("Invalid coordinates");
  auto body = airfoil_body(pair_coordinates(flat));
  if (!body) return failure_dict("Geometry error: " + body.error().to_string());

  const ViscousConfig config = make_config(a.reynolds, a.mach, a.ncrit, a.max_iterations, a.re_type);
  const BlOutcome outcome =
      run_interruptible([body = std::move(*body), config, alpha, options = driver_options_from_environment()](
                            const std::atomic<bool>& stop) {
        return bl_outcome(body, config, alpha, job_options(options, stop));
      });
  if (outcome.error) return failure_dict(*outcome.error);
  const SideProfile& up = outcome.upper;
  const SideProfile& lo = outcome.lower;
  const OperPointResult* solved = &outcome.result;

  py::dict d;
  d["x_upper"] = to_py_list(up.x);
  d["x_lower"] = to_py_list(lo.x);
  d["theta_upper"] = to_py_list(up.theta);
  d["theta_lower"] = to_py_list(lo.theta);
  d["delta_star_upper"] = to_py_list(up.dstar);
  d["delta_star_lower"] = to_py_list(lo.dstar);
  d["h_upper"] = to_py_list(up.h);
  d["h_lower"] = to_py_list(lo.h);
  d["cf_upper"] = to_py_list(up.cf);
  d["cf_lower"] = to_py_list(lo.cf);
  d["ue_upper"] = to_py_list(up.ue);
  d["ue_lower"] = to_py_list(lo.ue);
  d["x_tr_upper"] = solved->x_tr_upper;
  d["x_tr_lower"] = solved->x_tr_lower;
  d["converged"] = solved->converged;
  d["iterations"] = solved->iterations;
  d["residual"] = solved->residual;
  d["success"] = true;
  d["error"] = py::none();
  return d;
}

}  // namespace

// Registers a viscous function: its two leading arguments, then the flow
// keywords shared by all three with their defaults.
template <typename F>
void def_viscous(py::module_& m, const char* name, F&& f, const char* doc, py::arg first, py::arg second) {
  namespace d = viscous_defaults;
  m.def(name, std::forward<F>(f), doc, first, second, py::arg("reynolds") = d::kReynolds,
        py::arg("mach") = d::kMach, py::arg("ncrit") = d::kNcrit, py::arg("max_iterations") = d::kMaxIterations,
        py::arg("re_type") = d::kReType);
}

void register_analyze_faithful(py::module_& m) {
  def_viscous(m, "analyze_faithful", &analyze_faithful, doc::analyze_faithful, py::arg("coords"),
              py::arg("alpha_deg"));
}

void register_analyze_faithful_batch(py::module_& m) {
  def_viscous(m, "analyze_faithful_batch", &analyze_faithful_batch, doc::analyze_faithful_batch, py::arg("coords"),
              py::arg("alphas"));
}

void register_get_bl_distribution(py::module_& m) {
  def_viscous(m, "get_bl_distribution", &get_bl_distribution, doc::get_bl_distribution, py::arg("coords"),
              py::arg("alpha_deg"));
}

}  // namespace velaro::python
