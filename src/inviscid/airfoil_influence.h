#pragma once
// Stream-function influence coefficients of the linear-vorticity panels and
// of the linear source (mass-defect) panels of an airfoil, at one field
// point: dpsi/dgamma_j, dpsi/dm_j and, optionally, the sensitivities of the
// velocity component q = dpsi/dn along a given unit direction.
//
// No free-stream terms are added; callers add psi_inf = y cos(a) - x sin(a).
#include <cstddef>
#include <vector>

#include "inviscid/panel_geometry.h"

namespace velaro {

// Sensitivities at one field point to the nodal vorticities gamma_j and the
// nodal mass defects m_j of the airfoil (n entries each).
struct PanelInfluence {
  std::vector<double> dzdg;  // dpsi / dgamma_j
  std::vector<double> dzdm;  // dpsi / dm_j (zero unless sources were requested)
  std::vector<double> dqdm;  // dq / dm_j (zero from airfoil_panel_influence)
  std::vector<double> dqdg;  // dq / dgamma_j (zero from airfoil_panel_influence)
};

// io: index of the field point; io < n is airfoil node io, io >= n a point off
// the airfoil (n for the sharp-TE control point, n + k for wake node k).
PanelInfluence airfoil_panel_influence(const AirfoilGeometry& geom, std::size_t io, double xi, double yi,
                                       bool with_sources);

// As airfoil_panel_influence with sources, plus dqdg and dqdm along the unit
// vector (nxi, nyi).
PanelInfluence airfoil_panel_influence_with_velocity(const AirfoilGeometry& geom, std::size_t io, double xi,
                                                     double yi, double nxi, double nyi);

}  // namespace velaro
