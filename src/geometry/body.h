#pragma once
// The validated airfoil contour every analysis starts from: an open polyline
// of n >= 3 points and its n - 1 straight panels.
#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "geometry/geometry_error.h"
#include "geometry/point.h"

namespace velaro {

struct Panel {
  Point start;
  Point end;
  Point mid;
  Point normal;  // unit tangent turned +90 degrees
  Point t;       // unit tangent, start -> end
  double length;
};

class Body {
 public:
  // Minimum length of a panel; shorter steps between consecutive points are
  // rejected as degenerate.
  static constexpr double kMinPanelLength = 1e-12;

  static std::expected<Body, GeometryError> from_points(std::span<const Point> points);

  const std::string& name() const { return name_; }
  const std::vector<Panel>& panels() const { return panels_; }
  std::size_t te_last_panel() const { return te_last_panel_; }
  std::size_t te_first_panel() const { return te_first_panel_; }
  std::size_t le_index() const { return le_index_; }

  // The point list the body was built from (panel starts plus the last end).
  std::vector<Point> points() const;
  // x of every panel midpoint, in panel order.
  std::vector<double> midpoint_x() const;

 private:
  std::string name_;
  std::vector<Panel> panels_;
  std::size_t te_last_panel_ = 0;
  std::size_t te_first_panel_ = 0;
  std::size_t le_index_ = 0;
};

// Pairs a flat [x0, y0, x1, y1, ...] list into points (a trailing odd value
// is ignored; callers check the length first).
std::vector<Point> pair_coordinates(std::span<const double> flat);

}  // namespace velaro
