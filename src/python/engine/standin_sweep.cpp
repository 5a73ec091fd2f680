#include "python/engine/standin_sweep.h"

#include "viscous/setup.h"

namespace velaro::python::engine {

std::expected<std::vector<SweepPoint>, ViscousError> standin_run_sweep(
    const std::string& name, std::span<const Point> nodes, const ViscousConfig& config,
    std::span<const double> targets, const SweepOptions& sweep_options, const DriverOptions& options,
    const SweepProgress& progress) {
  std::vector<SweepPoint> out(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    SweepPoint& p = out[i];
    p.target = targets[i];
    if (options.should_stop && options.should_stop()) {
      p.start = PointStart::Failed;
      p.error = ViscousError::message("viscous analysis interrupted");
      continue;
    }
    const bool cl_mode = sweep_options.mode == OperMode::PrescribedCl;
    auto setup = build_state_from_coords(name, nodes, config, cl_mode ? 0.0 : targets[i]);
    if (!setup) {
      if (i == 0) return std::unexpected(setup.error());
      p.start = PointStart::Failed;
      p.error = setup.error();
      continue;
    }
    if (cl_mode) {
      setup->state.mode = OperMode::PrescribedCl;
      setup->state.cl_spec = targets[i];
    }
    auto solved = solve_operating_point_from_state(setup->state, setup->system, config, options);
    if (!solved) {
      p.start = PointStart::Failed;
      p.error = solved.error();
    } else {
      p.result = *solved;
      p.start = solved->converged ? PointStart::Cold : PointStart::Failed;
    }
    if (progress) progress(i + 1);
  }
  return out;
}

}  // namespace velaro::python::engine
