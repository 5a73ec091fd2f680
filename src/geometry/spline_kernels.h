#pragma once
// Cubic spline kernels shared by the panel geometry and the geometry tools.
//
// The spline through (s[i], x[i]) is stored as knot values plus first
// derivatives xs[i] = dx/ds; end conditions make the third derivative vanish
// in the first and last intervals. Evaluation uses the Hermite form on the
// interval [s[i-1], s[i]] returned by find_segment, and extrapolates the end
// cubics outside [s[0], s[n-1]]. None of the evaluation routines allocates.
#include <cstddef>
#include <span>
#include <vector>

namespace velaro::spline {

// Derivatives dx/ds at every knot (same length as s). Fewer than two knots
// give all-zero slopes; two knots give the chord slope at both. Knot spacing
// is not checked: coincident knots produce non-finite slopes.
std::vector<double> knot_slopes(std::span<const double> s, std::span<const double> x);

// Index i (1 <= i <= n-1) of the interval [s[i-1], s[i]] holding u, found by
// bisection; u at or below s[0] gives 1, u at or above s[n-1] gives n-1.
// Returns 1 when there are fewer than two knots.
std::size_t find_segment(std::span<const double> s, double u);

// Value, first and second derivative at u. With fewer than two knots the
// value is x[0] (0 when there is none) and the derivatives are 0.
double value_at(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u);
double slope_at(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u);
double second_derivative_at(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                            double u);

// Hermite coefficients of interval i at parameter u: ds, the local
// coordinate t in [0, 1] on the interval, and cx1, cx2.
struct HermiteInterval {
  double ds;
  double t;
  double cx1;
  double cx2;
};
HermiteInterval hermite_interval(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                                 std::size_t i, double u);

// Arc position of the leading edge of a contour splined as (x(s), y(s)): the
// spline point at which the line from the trailing-edge point (x_te, y_te)
// is normal to the contour. The start is the first node k = 2 .. n-3 past
// which the contour heads back towards the trailing edge (n/2 when there is
// none); Newton steps on r(s) = (p(s) - p_te) . p'(s), each limited to
// 0.02 |xc + yc|, refine it, at most 50 of them, until a step is below
// 1e-5 of the total arc length, the derivative of r vanishes (below 1e-20)
// or a step is not finite. A start on coincident knots is returned as it is.
double leading_edge_arc(std::span<const double> s, std::span<const double> x, std::span<const double> xs,
                        std::span<const double> y, std::span<const double> ys, double x_te, double y_te);

}  // namespace velaro::spline
