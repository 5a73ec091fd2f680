#include "viscous/viscous_error.h"

#include "inviscid/inviscid_error.h"

namespace velaro {

ViscousError ViscousError::from(const InviscidError& error) { return inviscid(error.to_string()); }

std::string ViscousError::to_string() const {
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
