#include "geometry/body.h"

#include <cmath>

namespace velaro {

std::expected<Body, GeometryError> Body::from_points(std::span<const Point> points) {
  const std::size_t n = points.size();
  if (n < 3) return std::unexpected(GeometryError::insufficient_points(3, n));
  // NaN has no place in the leading-edge search and infinities make every
  // panel quantity meaningless: refuse both before anything is built.
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y))
      return std::unexpected(GeometryError::non_finite_coordinate(i));
  }

  Body body;
  body.panels_.reserve(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const Point a = points[i];
    const Point b = points[i + 1];
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length = std::sqrt(dx * dx + dy * dy);
    if (length < kMinPanelLength) return std::unexpected(GeometryError::degenerate_panel(i));
    const Point t{dx / length, dy / length};
    body.panels_.push_back(Panel{a, b, {(a.x + b.x) / 2.0, (a.y + b.y) / 2.0}, {-t.y, t.x}, t, length});
  }

  std::size_t le = 0;
  for (std::size_t i = 1; i < n; ++i) {
    if (points[i].x < points[le].x) le = i;
  }
  body.le_index_ = le;
  body.name_ = "airfoil";
  body.te_last_panel_ = n - 2;
  body.te_first_panel_ = 0;
  return body;
}

std::vector<Point> Body::points() const {
  std::vector<Point> pts;
  pts.reserve(panels_.size() + 1);
  for (const Panel& p : panels_) pts.push_back(p.start);
  if (!panels_.empty()) pts.push_back(panels_.back().end);
  return pts;
}

std::vector<double> Body::midpoint_x() const {
  std::vector<double> xs;
  xs.reserve(panels_.size());
  for (const Panel& p : panels_) xs.push_back(p.mid.x);
  return xs;
}

std::vector<Point> pair_coordinates(std::span<const double> flat) {
  std::vector<Point> pts;
  pts.reserve(flat.size() / 2);
  for (std::size_t k = 0; k + 1 < flat.size(); k += 2) pts.push_back({flat[k], flat[k + 1]});
  return pts;
}

}  // namespace velaro
