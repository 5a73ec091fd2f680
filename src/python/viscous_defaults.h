#pragma once
// Defaults of the viscous module functions (analyze_faithful,
// analyze_faithful_batch, get_bl_distribution), and the tolerance and wake
// length the module fixes for all three. The docstrings and _velaro.pyi
// spell the keyword defaults out in text; they must agree with these.
#include <cstdint>

namespace velaro::python::viscous_defaults {

inline constexpr double kReynolds = 1.0e6;
inline constexpr double kMach = 0.0;
inline constexpr double kNcrit = 9.0;
inline constexpr int kMaxIterations = 100;
inline constexpr int kReType = 1;  // Reynolds number fixed (type 1)

inline constexpr double kTolerance = 1e-4;  // Newton convergence tolerance
inline constexpr double kWakeLength = 1.0;  // wake length in chords

}  // namespace velaro::python::viscous_defaults
