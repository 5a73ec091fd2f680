#pragma once
// TEMPORARY: cold-start loop with the signature of run_sweep, used by the
// engine module until the engine's continuation sweep is merged.
#include "viscous/sweep.h"

namespace velaro::python::engine {

std::expected<std::vector<SweepPoint>, ViscousError> standin_run_sweep(
    const std::string& name, std::span<const Point> nodes, const ViscousConfig& config,
    std::span<const double> targets, const SweepOptions& sweep_options, const DriverOptions& options = {},
    const SweepProgress& progress = {});

}  // namespace velaro::python::engine
