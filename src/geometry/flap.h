#pragma once
// Plain trailing-edge flap: rotates the aft part of a contour about a hinge,
// trims the surface the rotation buries, puts corner points where the
// deflected and fixed surfaces meet, and merges panels left very short.
#include <span>
#include <utility>
#include <vector>

#include "geometry/arc_length_spline.h"
#include "geometry/point.h"

namespace velaro {

// Residuals of the break-position equations of `break_positions` at
// (s1, s2) and their exact Jacobian d(res1, res2)/d(s1, s2). For sind > 0.01 the chord between
// the two break points sees the hinge at the fold's half angle and both
// points lie at the same hinge distance; for smaller angles the points
// straddle the hinge symmetrically. `valid` is false when the chord has
// zero length or a point sits on the hinge.
struct BreakResidual {
  double res1 = 0.0;
  double res2 = 0.0;
  double j11 = 0.0, j12 = 0.0, j21 = 0.0, j22 = 0.0;
  bool valid = false;
};
BreakResidual break_residual(const ScalarSpline& xspl, const ScalarSpline& yspl, double sg, double sind,
                             double xbf, double ybf, double s1, double s2);

// Deflects the flap aft of x = x_min + hinge_x_frac * chord by deflection_deg
// (positive moves the trailing edge down). The hinge height is
// hinge_y_frac (clamped to [0, 1]) of the way from the lower to the upper
// surface. Fewer than six points or a negligible angle return the input.
// An empty list means the flap could not be placed: a break point fell off
// the contour (hinge at or behind the trailing edge) or was not finite, or
// the break nodes came out in an order that cannot be spliced.
std::vector<Point> deflect_flap_points(std::span<const Point> points, double hinge_x_frac, double hinge_y_frac,
                                       double deflection_deg);

// Module step: pairs a flat [x0, y0, x1, y1, ...] list and deflects it.
// Returns an empty list for fewer than 8 values, an odd count, non-finite
// values or parameters, or a result that is not finite.
std::vector<Point> deflect_flap(std::span<const double> coords, double hinge_x_frac, double deflection_deg,
                                double hinge_y_frac = 0.5);

// Arc position where spline(s) = target, by Newton from s_guess (at most 10
// steps). Returns s_guess when the iteration does not settle.
double invert_spline(const ScalarSpline& spline, double s_guess, double target);

// Break positions (s1 on the fixed part, s2 on the flap) of one surface,
// side 1 the upper and side 2 the lower, for a fold of `angle` radians about
// the hinge (xbf, ybf). A zero angle gives one position (s1 == s2).
std::pair<double, double> break_positions(const ScalarSpline& xspl, const ScalarSpline& yspl, int side,
                                          double s_guess, double angle, double xbf, double ybf);

}  // namespace velaro
