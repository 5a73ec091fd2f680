#pragma once
// Panel description of one airfoil contour for the stream-function panel
// method: nodes, arc length, spline slopes, outward normals, panel angles and
// the trailing-edge (TE) and leading-edge (LE) quantities.
//
// Nodes run from the upper TE point (node 0) round the LE to the lower TE
// point (node n-1). Angles are in radians.
#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "geometry/point.h"
#include "inviscid/inviscid_error.h"

namespace velaro {

struct AirfoilGeometry {
  std::vector<double> x, y;    // node coordinates
  std::vector<double> s;       // polygon arc length, s[0] = 0
  std::vector<double> xp, yp;  // dx/ds, dy/ds of the contour spline
  std::vector<double> nx, ny;  // unit outward normal at each node
  std::vector<double> apanel;  // angle of panel i (node i -> i+1); entry n-1 is the TE panel (n-1 -> 0)
  double x_te = 0.0, y_te = 0.0;  // TE point: midpoint of nodes 0 and n-1
  double dste = 0.0;              // TE gap length
  double ante = 0.0;              // TE gap projected normal to the TE bisector
  double aste = 0.0;              // TE gap projected along the TE bisector
  double x_le = 0.0, y_le = 0.0;  // LE point: contour point normal to the line from the TE
  double s_le = 0.0;              // arc length of the LE point
  std::size_t n = 0;              // node count
  double chord = 0.0;             // LE point to TE point
  bool sharp = false;             // dste < 1e-4 * chord

  // Minimum node count accepted by the construction.
  static constexpr std::size_t kMinNodes = 10;

  // Builds the geometry from the node list. Fails with InsufficientPoints
  // (fewer than kMinNodes nodes), SplineFailed (a non-finite coordinate),
  // DuplicatePoints (consecutive nodes closer than 1e-12 in arc length) or
  // InvalidChord (zero or non-finite LE-TE distance).
  static std::expected<AirfoilGeometry, InviscidError> from_points(std::span<const Point> points);
};

// Control point just inside a sharp TE, on the bisector, with the unit
// normal of the velocity condition imposed there.
struct BisectorControl {
  double x = 0.0;
  double y = 0.0;
  double nx = 0.0;
  double ny = 0.0;
};

// Distance of the control point from the TE point, as a fraction of the
// shorter of the two TE panels. The source terms of the velocity condition
// grow with the logarithm of the inverse distance, so the fraction sets how
// strongly the TE speed answers to the mass defects at the edge. The value is
// calibrated on published polars of closed-edge sections at 160 nodes: with
// 0.1 the viscous lift fell short of them by up to 0.01 near maximum lift
// (and by about 0.01 at all angles on a cusped section at low Reynolds
// number); with 0.04 it agrees to about 0.001 wherever the transition points
// agree. The inviscid lift hardly depends on it.
inline constexpr double kBisectorControlFraction = 0.04;

// Present only for a sharp TE (and n > 2): the point kBisectorControlFraction
// of the shorter TE panel upstream of the TE point along the bisector.
std::optional<BisectorControl> sharp_te_bisector_control(const AirfoilGeometry& geom);

}  // namespace velaro
