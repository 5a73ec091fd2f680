#pragma once
// Errors of the geometry subsystem. Each variant has a fixed display text
// that reaches Python callers inside result dictionaries.
#include <cstddef>
#include <string>
#include <variant>

namespace velaro {

struct GeometryError {
  enum class Kind {
    InsufficientPoints,
    DegeneratePanel,
    SplineInterpolation,
    NonFiniteCoordinate,
    ClockwiseContour,
    NotAtTrailingEdge,
    SelfIntersecting,
  };
  Kind kind;
  std::size_t required = 0;  // InsufficientPoints
  std::size_t provided = 0;  // InsufficientPoints
  std::size_t index = 0;     // DegeneratePanel, NonFiniteCoordinate (point index)
  const char* message = "";  // SplineInterpolation
  std::size_t other = 0;     // SelfIntersecting (second panel)
  double value = 0.0;        // NotAtTrailingEdge (x of the point)

  static GeometryError insufficient_points(std::size_t required, std::size_t provided) {
    return {Kind::InsufficientPoints, required, provided, 0, ""};
  }
  static GeometryError degenerate_panel(std::size_t index) { return {Kind::DegeneratePanel, 0, 0, index, ""}; }
  static GeometryError spline_interpolation(const char* msg) {
    return {Kind::SplineInterpolation, 0, 0, 0, msg};
  }
  static GeometryError non_finite_coordinate(std::size_t index) {
    return {Kind::NonFiniteCoordinate, 0, 0, index, ""};
  }

  static GeometryError clockwise_contour() { return {Kind::ClockwiseContour, 0, 0, 0, ""}; }
  static GeometryError not_at_trailing_edge(std::size_t index, double x) {
    return {Kind::NotAtTrailingEdge, 0, 0, index, "", 0, x};
  }
  static GeometryError self_intersecting(std::size_t first, std::size_t second) {
    return {Kind::SelfIntersecting, 0, 0, first, "", second};
  }

  std::string to_string() const;
};

}  // namespace velaro
