#pragma once

namespace velaro {

struct Point {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const Point&, const Point&) = default;
};

}  // namespace velaro
