#include "viscous/kelvo_error.h"

#include "inviscid/inviscid_error.h"

namespace velaro {

KelvoError KelvoError::from(const InviscidError& error) { return inviscid(error.to_string()); }

std::string KelvoError::to_string() const {
  switch (kind) {
    case Kind::Message:
      return text;
    case Kind::Geometry:
      return "geometry error: " + text;
    case Kind::Inviscid:
      return "inviscid solver error: " + text;
  }
  return text;
}

}  // namespace velaro
