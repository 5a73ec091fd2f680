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

// The same sensitivities at many field points on one set of nodes: the
// per-panel quantities are computed once, and at each field point the
// logarithm of the squared distance and the direction angle of every wake
// node are computed once, in vector form, and shared by the two panels that
// meet there. Scratch storage is sized on construction and reused. The node
// arrays must outlive the object.
class WakeInfluenceRows {
 public:
  WakeInfluenceRows(std::span<const double> x, std::span<const double> y, std::span<const double> apanel,
                    std::size_t n);

  // As wake_panel_influence at (xi, yi) with direction (nxi, nyi) and
  // field index io; `out` is resized and zeroed, its storage reused.
  // Without with_velocity only dzdm is evaluated (dqdm stays zero).
  void evaluate(double xi, double yi, double nxi, double nyi, std::size_t io, WakePanelInfluence& out,
                bool with_velocity = true);

 private:
  std::span<const double> x_, y_, apanel_;
  std::size_t n_ = 0;
  std::size_t total_ = 0;
  // Per wake panel (index jo - n).
  std::vector<double> dsio_, dsim_, dsip_, sx_, sy_, phi_;
  // Per field point: per wake node and per wake panel.
  std::vector<double> rx_, ry_, rs_, lg_, th_;
  std::vector<double> x1_, x2_, yy_, sgn_, mx_, my_, rs0_, g0_, t0_;
};

}  // namespace velaro
