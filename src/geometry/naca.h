#pragma once
// NACA 4-series section generator with a fixed, reproducible point law.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/point.h"

namespace velaro {

inline constexpr std::size_t kNacaDefaultPointsPerSide = 123;

// 2n - 1 points: upper surface from the trailing edge to the leading edge,
// then the lower surface back to the trailing edge. n must be at least 1.
std::vector<Point> generate_naca4(std::uint32_t designation, std::size_t n_points_per_side);

}  // namespace velaro
