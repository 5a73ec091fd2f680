#pragma once
// Defaults of the viscous module functions (analyze_faithful,
// analyze_faithful_batch, get_bl_distribution): the engine's ViscousConfig
// defaults, as the keyword types the module takes. The tolerance and the wake
// length are not keywords; the module leaves them at the ViscousConfig
// defaults. The docstrings and _velaro.pyi spell the keyword defaults out in
// text; they must agree with these.
#include "viscous/state.h"

namespace velaro::python::viscous_defaults {

inline constexpr ViscousConfig kConfig{};

inline constexpr double kReynolds = kConfig.reynolds;
inline constexpr double kMach = kConfig.mach;
inline constexpr double kNcrit = kConfig.ncrit;
inline constexpr int kMaxIterations = static_cast<int>(kConfig.max_iterations);
// The module numbers the Reynolds types from 1 (type 1: Reynolds number fixed).
inline constexpr int kReType = static_cast<int>(kConfig.re_type) + 1;

}  // namespace velaro::python::viscous_defaults
