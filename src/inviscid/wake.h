#pragma once
// Wake trajectory behind the trailing edge and the inviscid speeds along it.
//
// The wake leaves the trailing-edge midpoint and follows the streamline of
// the inviscid solution: each new node is placed one spacing step along the
// local velocity direction, which is the stream-function gradient turned by
// -90 degrees.
#include <cstddef>
#include <span>
#include <vector>

#include "inviscid/panel_geometry.h"

namespace velaro {

struct PsiGradient {
  double psi_x = 0.0;
  double psi_y = 0.0;
};

// Gradient of the stream function at (x, y) of the airfoil's vortex sheet
// with node strengths `gamma` plus a unit free stream at the angle whose
// cosine and sine are given. field_index is the global node index of the
// field point (n + k for wake node k).
PsiGradient compute_psi_gradient(const AirfoilGeometry& geometry, std::size_t field_index,
                                 std::span<const double> gamma, double x, double y, double cos_a, double sin_a);

// Number of wake nodes for n airfoil nodes and a wake of `wake_length`
// chords: 10 * floor(wake_length) + n / 12; 0 when wake_length is not
// positive (or not finite) or n < 2.
std::size_t wake_node_count(std::size_t n, double wake_length);

struct WakeGeometry {
  std::vector<double> x, y;    // node coordinates
  std::vector<double> s;       // arc length along the wake from its first node
  std::vector<double> nx, ny;  // unit normals (the velocity is (-ny, nx))
  std::vector<double> apanel;  // panel angles; the last node's stays 0

  std::size_t size() const { return x.size(); }
};

// Lays out nw wake nodes for the vortex strengths `gamma` (n values) at angle
// of attack alpha (radians); the spacing is stretched geometrically from the
// mean of the two trailing-edge panel lengths up to wake_length chords.
// nw = 0 (or an airfoil of fewer than two nodes) gives an empty wake.
WakeGeometry build_wake(const AirfoilGeometry& geometry, std::span<const double> gamma, double alpha,
                        std::size_t nw, double wake_length);

struct WakeBaseSpeeds {
  std::vector<double> qinvu_0;   // inviscid wake speed of the alpha = 0 solution
  std::vector<double> qinvu_90;  // and of the alpha = 90 degree solution
};

// Inviscid speed at every wake node for the two base solutions: the first
// node takes the lower trailing-edge speed (q0_te, q90_te), the others the
// stream-function gradient projected on the node normal.
WakeBaseSpeeds wake_base_speeds(const AirfoilGeometry& geometry, const WakeGeometry& wake,
                                std::span<const double> gamu_0, std::span<const double> gamu_90, double q0_te,
                                double q90_te);

struct WakeWithSpeeds {
  WakeGeometry wake;
  WakeBaseSpeeds speeds;
};

// build_wake followed by wake_base_speeds of the wake it lays, bit for bit,
// in one pass: the stream-function coefficients that place node k + 1 are
// those of node k's speeds, so each node's are evaluated once instead of
// twice.
WakeWithSpeeds build_wake_with_base_speeds(const AirfoilGeometry& geometry, std::span<const double> gamma,
                                           double alpha, std::size_t nw, double wake_length,
                                           std::span<const double> gamu_0, std::span<const double> gamu_90,
                                           double q0_te, double q90_te);

}  // namespace velaro
