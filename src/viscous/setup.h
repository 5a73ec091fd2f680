#pragma once
// Set-up of one viscous operating point: validation of the flow parameters,
// the panel geometry and factored airfoil system, and the initial state.
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "geometry/body.h"
#include "geometry/point.h"
#include "inviscid/factored_system.h"
#include "viscous/viscous_error.h"
#include "viscous/state.h"

namespace velaro {

// Longest wake accepted, in chords (the wake node count grows with it).
inline constexpr double kMaxWakeLength = 1000.0;

// Node list of a body in solver order: the start point of every panel and
// the end point of the last one. A closed contour (last point on the first)
// keeps its closing point, so nodes 0 and n-1 coincide and the trailing edge
// is sharp with no gap.
std::vector<Point> coords_from_body(std::span<const Panel> panels);

// Checks the configuration and the angle of attack (degrees); the first
// failing check gives its message.
std::optional<ViscousError> validate_oper_point(const ViscousConfig& config, double alpha_deg);

struct OperPointSetup {
  ViscousState state;
  FactorizedSystem system;
};

// Validates, builds the panel geometry and the factored system of the node
// list and the initial state at alpha_deg. Geometry and system failures are
// reported as inviscid errors. The system is built in the storage of the
// last one this thread handed back (return_point_storage), if any.
std::expected<OperPointSetup, ViscousError> build_state_from_coords(const std::string& name,
                                                                  std::span<const Point> nodes,
                                                                  const ViscousConfig& config, double alpha_deg);

}  // namespace velaro
