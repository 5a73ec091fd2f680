#pragma once
// Stream-function and velocity sensitivities of the wake source panels.
#include <cstddef>
#include <span>
#include <vector>

namespace velaro {

struct WakePanelInfluence {
  // Length n + nw; only the wake entries n..n+nw-1 are written.
  std::vector<double> dzdm;  // dpsi / dm_j
  std::vector<double> dqdm;  // d(dpsi/dn) / dm_j along the given unit direction
};

// Sensitivities at the field point (xi, yi) to the mass defects of the wake
// nodes. x, y and apanel hold all nodes, airfoil (0..n-1) then wake
// (n..n+nw-1); each wake panel k -> k+1 carries a linearly varying source
// split at its midpoint into two half panels whose strengths follow the
// mass differences of the neighbouring nodes. io is the global index of the
// field point: an airfoil node, a wake node, or anything else off the wake.
WakePanelInfluence wake_panel_influence(std::span<const double> x, std::span<const double> y,
                                        std::span<const double> apanel, double xi, double yi, double nxi, double nyi,
                                        std::size_t n, std::size_t io);

}  // namespace velaro
