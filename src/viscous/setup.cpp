#include "viscous/setup.h"

#include <cmath>
#include <string>

#include "common/angles.h"
#include "inviscid/panel_geometry.h"
#include "viscous/point_workspace.h"

namespace velaro {

std::vector<Point> coords_from_body(std::span<const Panel> panels) {
  std::vector<Point> nodes;
  nodes.reserve(panels.size() + 1);
  for (const Panel& p : panels) nodes.push_back(p.start);
  // The last end point is kept even when it closes the contour: dropping it
  // would turn the last lower-surface panel into a trailing-edge gap.
  if (!panels.empty()) nodes.push_back(panels.back().end);
  return nodes;
}

std::optional<ViscousError> validate_oper_point(const ViscousConfig& config, double alpha_deg) {
  // Every test is written so that NaN fails it.
  if (!(config.reynolds > 0.0) || !std::isfinite(config.reynolds))
    return ViscousError::message("Reynolds number must be positive");
  if (!(config.mach >= 0.0 && config.mach < 1.0)) return ViscousError::message("Mach number must be in [0, 1)");
  if (!(config.ncrit >= 0.0) || !std::isfinite(config.ncrit)) return ViscousError::message("Ncrit must be non-negative");
  if (config.max_iterations == 0) return ViscousError::message("max_iterations must be non-zero");
  if (!(config.tolerance > 0.0)) return ViscousError::message("tolerance must be positive");
  if (!std::isfinite(alpha_deg)) return ViscousError::message("Angle of attack must be finite");
  if (!(config.wake_length <= kMaxWakeLength) || !std::isfinite(config.wake_length))
    return ViscousError::message("wake_length must be finite and at most 1000 chords");
  for (Side side : kBothSides) {
    const double trip = config.trip_x[side_index(side)];
    if (!(trip >= 0.0 && trip <= 1.0))
      return ViscousError::message(std::string("Trip position of the ") + side_name(side) +
                                   " side must be a chord fraction in [0, 1]");
  }
  return std::nullopt;
}

std::expected<OperPointSetup, ViscousError> build_state_from_coords(const std::string& name,
                                                                  std::span<const Point> nodes,
                                                                  const ViscousConfig& config, double alpha_deg) {
  if (auto bad = validate_oper_point(config, alpha_deg)) return std::unexpected(*bad);
  if (nodes.size() < AirfoilGeometry::kMinNodes)
    return std::unexpected(ViscousError::from(InviscidError::insufficient_points(nodes.size())));

  auto geometry = AirfoilGeometry::from_points(nodes);
  if (!geometry) return std::unexpected(ViscousError::from(geometry.error()));
  // The airfoil part of the mass-defect matrix comes from the same influence
  // rows as the system. The matrices go into the storage this thread keeps.
  const BorrowedPointWorkspace ws;
  auto system = FactorizedSystem::build(std::move(*geometry), true, &ws->system);
  if (!system) return std::unexpected(ViscousError::from(system.error()));

  const AirfoilGeometry& g = system->geometry;
  const std::size_t n = g.n;

  ViscousState st;
  st.mode = OperMode::PrescribedAlpha;
  st.cl_spec = alpha_deg;
  st.name = name;
  st.x = g.x;
  st.y = g.y;
  st.s = g.s;
  st.xp = g.xp;
  st.yp = g.yp;
  // On the airfoil the inviscid surface speed is the vorticity.
  st.qinvu_0 = system->gamu_0;
  st.qinvu_90 = system->gamu_90;
  st.gamu_0 = system->gamu_0;
  st.gamu_90 = system->gamu_90;
  st.qinv.assign(n, 0.0);
  st.qinv_a.assign(n, 0.0);
  st.qvis.assign(n, 0.0);
  st.gam.assign(n, 0.0);
  st.gam_a.assign(n, 0.0);
  st.qnew.assign(n, 0.0);
  st.q_ac.assign(n, 0.0);
  st.dac = 0.0;
  st.rlx = 1.0;
  st.alpha = alpha_deg * kDegToRad;
  st.trip_x = config.trip_x;
  st.x_le = g.x_le;
  st.y_le = g.y_le;
  st.x_te = g.x_te;
  st.y_te = g.y_te;
  st.chord = g.chord;
  st.ante = g.ante;
  st.sharp_te = g.sharp;
  return OperPointSetup{std::move(st), std::move(*system)};
}

}  // namespace velaro
