#pragma once
// Helpers shared by the geometry units.
#include <cmath>
#include <vector>

#include "geometry/point.h"

namespace velaro::test {

// The flat [x0, y0, x1, y1, ...] list the module-level entry points take.
inline std::vector<double> flatten(const std::vector<Point>& pts) {
  std::vector<double> out;
  out.reserve(2 * pts.size());
  for (const Point& p : pts) {
    out.push_back(p.x);
    out.push_back(p.y);
  }
  return out;
}

inline double dist(const Point& a, const Point& b) { return std::hypot(b.x - a.x, b.y - a.y); }

}  // namespace velaro::test
