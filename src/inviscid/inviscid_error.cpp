#include "inviscid/inviscid_error.h"

#include "common/text_format.h"

namespace velaro {

std::string InviscidError::to_string() const {
  switch (kind) {
    case Kind::InsufficientPoints:
      return text::printf("Insufficient points: need at least 10, got %zu", index);
    case Kind::InvalidChord:
      return "Invalid chord length: " + text::display(value);
    case Kind::DuplicatePoints:
      return text::printf("Duplicate points at index %zu", index);
    case Kind::SingularMatrix:
      return "Singular influence matrix - check geometry";
    case Kind::ZeroLengthPanel:
      return text::printf("Zero-length panel at index %zu", index);
    case Kind::SplineFailed:
      return "Spline computation failed: " + message;
    case Kind::InvalidAlpha:
      return "Invalid angle of attack: " + text::display(value) + " radians";
  }
  return {};
}

}  // namespace velaro
