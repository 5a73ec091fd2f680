#pragma once
// Curvature-based repaneling: nodes gather where the contour curvature is
// high (the leading edge) and, through an artificial curvature, at the
// trailing edge.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "geometry/natural_spline.h"
#include "geometry/point.h"

namespace velaro {

inline constexpr std::size_t kDefaultRepanelNodes = 160;
// Fewest nodes repanel_kelvo produces: a contour needs at least two panels.
inline constexpr std::uint64_t kMinRepanelNodes = 3;

// Tuning of the node distribution.
struct RepanelParams {
  double curv_param = 1.0;          // curvature attraction; the weight used is 6 * curv_param
  double te_le_ratio = 0.15;        // trailing-edge curvature / averaged leading-edge curvature
  double te_spacing_ratio = 0.667;  // trailing-edge panel length / next panel length
};

struct RepanelError {
  enum class Kind {
    ContourSpline,    // fewer than two knots
    CurvatureSpline,  // the curvature distribution could not be splined
    TooManyNodes,     // the working storage for n_panels nodes cannot be held in memory
    TooFewNodes,      // n_panels below 3: no contour of one panel or none
  };
  Kind kind;
  std::uint64_t n_panels = 0;  // TooManyNodes

  std::string to_string() const;
};

// Largest node count the resampler accepts. Its working storage and the
// returned points take about kRepanelBytesPerNode bytes per node; a count
// whose storage exceeds the machine's physical memory is refused before
// anything is allocated.
inline constexpr std::uint64_t kRepanelBytesPerNode = 1024;
std::uint64_t max_repanel_nodes();

// Redistributes n_panels nodes along the splined contour so that they
// gather where the curvature is high and at the trailing edge. Fails with
// ContourSpline for fewer than two knots and with TooManyNodes; fewer than
// three nodes give the two end points.
std::expected<std::vector<Point>, RepanelError> resample_by_curvature(const CubicSpline& contour,
                                                                      std::size_t n_panels = kDefaultRepanelNodes,
                                                                      const RepanelParams& params = {});

// Repanels a flat [x0, y0, x1, y1, ...] contour to n_panels nodes.
// Returns an empty list for fewer than 6 values, an odd count, non-finite
// values or parameters, consecutive points too close to spline, or a result
// that is not finite. Fails with TooFewNodes for n_panels < 3 (checked
// first) and with TooManyNodes.
std::expected<std::vector<Point>, RepanelError> repanel_coordinates(std::span<const double> coords,
                                                                    std::uint64_t n_panels,
                                                                    const RepanelParams& params = {});

}  // namespace velaro
