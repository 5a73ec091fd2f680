#include "geometry/geometry_error.h"

#include "common/text_format.h"

namespace velaro {

std::string GeometryError::to_string() const {
  switch (kind) {
    case Kind::InsufficientPoints:
      return text::printf("Insufficient points: required %zu, provided %zu", required, provided);
    case Kind::DegeneratePanel:
      return text::printf("Degenerate panel at index %zu (zero length)", index);
    case Kind::SplineInterpolation:
      return std::string("Spline interpolation failed: ") + message;
    case Kind::NonFiniteCoordinate:
      return text::printf("Non-finite coordinate at point %zu", index);
    case Kind::ClockwiseContour:
      return "Contour runs clockwise: expected the trailing edge, the upper surface, the leading edge, "
             "then the lower surface back to the trailing edge";
    case Kind::NotAtTrailingEdge:
      return text::printf("Contour must start and end at the trailing edge: point %zu is at x = %s", index,
                          text::display(value).c_str());
    case Kind::SelfIntersecting:
      return text::printf("Contour intersects itself: panels %zu and %zu cross", index, other);
  }
  return {};
}

}  // namespace velaro
