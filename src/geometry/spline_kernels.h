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
std::vector<double> segspl(std::span<const double> s, std::span<const double> x);

// Index i (1 <= i <= n-1) of the interval [s[i-1], s[i]] holding u, found by
// bisection; u at or below s[0] gives 1, u at or above s[n-1] gives n-1.
// Returns 1 when there are fewer than two knots.
std::size_t find_segment(std::span<const double> s, double u);

// Value, first and second derivative at u. With fewer than two knots the
// value is x[0] (0 when there is none) and the derivatives are 0.
double seval_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u);
double deval_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u);
double d2val_1d(std::span<const double> s, std::span<const double> x, std::span<const double> xs, double u);

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

}  // namespace velaro::spline
