#include "geometry/contour_checks.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace velaro {
namespace {

struct Extent {
  double x_min;
  double x_max;
  std::size_t le;  // first point of smallest x
};

Extent x_extent(std::span<const Point> points) {
  Extent e{points[0].x, points[0].x, 0};
  for (std::size_t i = 1; i < points.size(); ++i) {
    if (points[i].x < e.x_min) e.x_min = points[i].x, e.le = i;
    e.x_max = std::max(e.x_max, points[i].x);
  }
  return e;
}

double cross(const Point& o, const Point& a, const Point& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

double length(const Point& a, const Point& b) { return std::hypot(b.x - a.x, b.y - a.y); }

// Each segment separates the other's end points by more than tol (a
// distance) times its length: a proper crossing, not a touch. On a crossing
// sets `at` to the crossing point.
bool segments_cross(const Point& a, const Point& b, const Point& c, const Point& d, double tol, Point& at) {
  const double lab = length(a, b), lcd = length(c, d);
  const double c1 = cross(a, b, c), c2 = cross(a, b, d);
  const double c3 = cross(c, d, a), c4 = cross(c, d, b);
  const double tab = tol * lab, tcd = tol * lcd;
  const bool split_cd = (c1 > tab && c2 < -tab) || (c1 < -tab && c2 > tab);
  const bool split_ab = (c3 > tcd && c4 < -tcd) || (c3 < -tcd && c4 > tcd);
  if (!(split_cd && split_ab)) return false;
  const double t = c3 / (c3 - c4);
  at = {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
  return true;
}

}  // namespace

bool is_closed_contour(std::span<const Point> points) {
  if (points.empty()) return false;
  const Point& a = points.front();
  const Point& b = points.back();
  return std::abs(a.x - b.x) < kClosingPointTolerance && std::abs(a.y - b.y) < kClosingPointTolerance;
}

double signed_area2(std::span<const Point> points) {
  // Relative to the first point, which keeps the products small.
  const Point o = points.front();
  double sum = 0.0;
  for (std::size_t i = 1; i + 1 < points.size(); ++i) sum += cross(o, points[i], points[i + 1]);
  return sum;
}

std::optional<std::pair<std::size_t, std::size_t>> find_crossing_panels(std::span<const Point> points) {
  const std::size_t n = points.size();
  if (n < 4) return std::nullopt;
  const bool closed = is_closed_contour(points);
  // Segment k joins point k to point k + 1; the closing segment n - 1 joins
  // the last point to the first and exists only for an open contour.
  const std::size_t segments = closed ? n - 1 : n;
  const auto end_of = [&](std::size_t k) -> const Point& { return points[k + 1 == n ? 0 : k + 1]; };
  const auto adjacent = [&](std::size_t i, std::size_t j) {
    if (i > j) std::swap(i, j);
    if (j == i + 1) return true;
    // In the closed polygon the last segment meets the first.
    return i == 0 && j == segments - 1;
  };
  const Extent e = x_extent(points);
  const double width = std::max(e.x_max - e.x_min, 1e-300);
  const double tol = kCrossingTolerance * width;
  const double te_radius = kTrailingEdgeCrossing * width;

  std::vector<double> lo(segments), hi(segments);
  for (std::size_t k = 0; k < segments; ++k) {
    lo[k] = std::min(points[k].x, end_of(k).x);
    hi[k] = std::max(points[k].x, end_of(k).x);
  }
  std::vector<std::size_t> order(segments);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return lo[a] < lo[b]; });

  std::optional<std::pair<std::size_t, std::size_t>> found;
  for (std::size_t oi = 0; oi < segments; ++oi) {
    const std::size_t i = order[oi];
    const double ylo_i = std::min(points[i].y, end_of(i).y), yhi_i = std::max(points[i].y, end_of(i).y);
    for (std::size_t oj = oi + 1; oj < segments && lo[order[oj]] <= hi[i]; ++oj) {
      const std::size_t j = order[oj];
      if (adjacent(i, j)) continue;
      const double ylo_j = std::min(points[j].y, end_of(j).y), yhi_j = std::max(points[j].y, end_of(j).y);
      if (ylo_j > yhi_i || ylo_i > yhi_j) continue;
      Point at{};
      if (segments_cross(points[i], end_of(i), points[j], end_of(j), tol, at) &&
          length(at, points.front()) > te_radius && length(at, points.back()) > te_radius) {
        const std::pair<std::size_t, std::size_t> pair{std::min(i, j), std::max(i, j)};
        // Report the first crossing along the contour, whatever the sweep
        // order.
        if (!found || pair < *found) found = pair;
      }
    }
  }
  return found;
}

std::optional<GeometryError> check_airfoil_contour(std::span<const Point> points) {
  // Three points make two panels, too few for any analysis, which says so
  // itself.
  if (points.size() < 4) return std::nullopt;
  if (const auto crossing = find_crossing_panels(points))
    return GeometryError::self_intersecting(crossing->first, crossing->second);
  const Extent e = x_extent(points);
  const double width = e.x_max - e.x_min;
  if (!(width > 0.0)) return std::nullopt;
  const double te_x = e.x_min + kTrailingEdgeRegion * width;
  if (points.front().x < te_x) return GeometryError::not_at_trailing_edge(0, points.front().x);
  if (points.back().x < te_x) return GeometryError::not_at_trailing_edge(points.size() - 1, points.back().x);
  if (0.5 * signed_area2(points) < -kClockwiseArea * width * width) return GeometryError::clockwise_contour();
  return std::nullopt;
}

std::optional<std::vector<Point>> without_blunt_closing_point(std::span<const Point> points) {
  const std::size_t n = points.size();
  // Dropping the point must leave a contour of at least three points.
  if (n < 4 || !is_closed_contour(points)) return std::nullopt;
  const Extent e = x_extent(points);
  const Point& te = points.front();
  const Point& le = points[e.le];
  const double cx = te.x - le.x, cy = te.y - le.y;
  const double sx = points[n - 1].x - points[n - 2].x, sy = points[n - 1].y - points[n - 2].y;
  // Steeper than 45 degrees: the segment's component across the chord
  // exceeds its component along it.
  const double along = std::abs(sx * cx + sy * cy);
  const double across = std::abs(sx * cy - sy * cx);
  if (!(across > along)) return std::nullopt;
  return std::vector<Point>(points.begin(), points.end() - 1);
}

std::expected<Body, GeometryError> airfoil_body(std::span<const Point> points) {
  const std::optional<std::vector<Point>> open = without_blunt_closing_point(points);
  const std::span<const Point> used = open ? std::span<const Point>(*open) : points;
  auto body = Body::from_points(used);
  if (!body) return body;
  if (auto bad = check_airfoil_contour(used)) return std::unexpected(*bad);
  return body;
}

}  // namespace velaro
