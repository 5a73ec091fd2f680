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
  }
  return {};
}

}  // namespace velaro
