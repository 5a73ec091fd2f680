#pragma once
// Checks that a point list is an airfoil contour the analyses can work on:
// counter-clockwise, from the trailing edge over the upper surface to the
// leading edge and back over the lower surface, without crossing itself.
// Contours that break these rules give confident but meaningless results
// (a reversed section has a lift of the wrong sign and absurd size), so the
// analyses refuse them instead.
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "geometry/body.h"
#include "geometry/geometry_error.h"
#include "geometry/point.h"

namespace velaro {

// The first and the last point lie in the downstream quarter of the
// section's x-extent. The trailing edge is the downstream extreme of every
// real section, also with a flap deflected by up to 90 degrees about a hinge
// aft of 20% chord, or with the coordinates pitched by up to about 60
// degrees; a contour started on the upper or lower surface or at the nose
// is not.
inline constexpr double kTrailingEdgeRegion = 0.75;

// A contour is clockwise when its signed area (closing segment included) is
// below -kClockwiseArea times the square of its x-extent. Far below the area
// of any real section (a 1% thick one has about 7e-3), far above rounding on
// a section of zero thickness.
inline constexpr double kClockwiseArea = 1e-9;

// Two panels cross when each separates the end points of the other by more
// than kCrossingTolerance times the x-extent times its own length: panels
// that only touch (a flap corner, a closed sharp trailing edge) or meet to
// rounding do not count.
inline constexpr double kCrossingTolerance = 1e-12;

// Crossings within kTrailingEdgeCrossing times the x-extent (0.1% of the
// chord) of the first or last point are not counted either: where the two
// surfaces meet at a sharp trailing edge, coordinates rounded to five
// decimals can make the tails cross (a published 14% section ends its
// lower surface 1e-5 chord behind the upper one, crossing it by 8e-7
// chord). A figure-of-eight crosses away from the trailing edge; so does a
// flap folded over a section too thin or too coarsely paneled for its
// corner points, which is refused with reason.
inline constexpr double kTrailingEdgeCrossing = 1e-3;

// First point and last point within kClosingPointTolerance in x and y: the
// contour is closed (the inviscid solver's own rule for a single
// trailing-edge node).
inline constexpr double kClosingPointTolerance = 1e-10;

// First and last point within kClosingPointTolerance of each other.
bool is_closed_contour(std::span<const Point> points);

// Panels i and j (0-based; the closing segment from the last point to the
// first, when the contour is open, has index n - 1) that cross, or nullopt.
// Sorts the panels by their smallest x and compares only panels whose
// x-ranges overlap: O(n log n) for an airfoil, whose surfaces meet any
// vertical line about twice; at most O(n^2) for a contour that folds over
// itself many times.
std::optional<std::pair<std::size_t, std::size_t>> find_crossing_panels(std::span<const Point> points);

// Twice the signed area of the polygon closed from the last point to the
// first (positive counter-clockwise).
double signed_area2(std::span<const Point> points);

// Orientation, trailing-edge start and self-intersection of a contour of
// finite points (fewer than four pass: the analyses refuse them anyway), in that order of precedence: a crossing first
// (its orientation is not defined), then the start, then the direction.
std::optional<GeometryError> check_airfoil_contour(std::span<const Point> points);

// A contour whose last point repeats the first, with a closing segment (from
// the second-last point to the last) steeper than 45 degrees to the chord
// (leading edge, the point of smallest x, to the first point), closes a blunt
// trailing edge with a base panel. The analyses treat such a contour as the
// open one without the repeated point: the base is the trailing-edge gap.
// Returns that shorter list, or nullopt when the contour is not such a case
// (a closed sharp trailing edge keeps its repeated point).
std::optional<std::vector<Point>> without_blunt_closing_point(std::span<const Point> points);

// The body of an analysis: drops a repeated closing point on a blunt base,
// builds the Body, then checks the contour.
std::expected<Body, GeometryError> airfoil_body(std::span<const Point> points);

}  // namespace velaro
