#pragma once
// Conversion factors between degrees and radians.
#include <numbers>

namespace velaro {

inline constexpr double kDegToRad = std::numbers::pi / 180.0;
inline constexpr double kRadToDeg = 180.0 / std::numbers::pi;

}  // namespace velaro
