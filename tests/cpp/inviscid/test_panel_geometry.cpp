#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "geometry/naca.h"
#include "inviscid/panel_geometry.h"

namespace {

using velaro::AirfoilGeometry;
using velaro::InviscidError;
using velaro::Point;

std::vector<Point> naca0012_open() { return velaro::generate_naca4(12, 123); }

// The same section with both trailing-edge points moved onto the chord line,
// so that the first and last nodes coincide.
std::vector<Point> naca0012_closed() {
  auto pts = velaro::generate_naca4(12, 123);
  pts.front().y = 0.0;
  pts.back().y = 0.0;
  return pts;
}

// Ellipse of chord 1 from its right end round the top to the left end and
// back, leading edge at (0, 0). Node n-1 equals node 0.
std::vector<Point> ellipse(std::size_t n, double thickness) {
  std::vector<Point> pts;
  for (std::size_t i = 0; i < n; ++i) {
    const double th = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n - 1);
    pts.push_back({0.5 + 0.5 * std::cos(th), 0.5 * thickness * std::sin(th)});
  }
  pts.back() = pts.front();
  return pts;
}

TEST(PanelGeometry, BluntNacaTrailingEdgeAndLeadingEdge) {
  const auto g = AirfoilGeometry::from_points(naca0012_open());
  ASSERT_TRUE(g.has_value()) << g.error().to_string();
  const std::size_t n = g->n;
  ASSERT_EQ(n, 245u);
  EXPECT_EQ(g->s[0], 0.0);

  // The leading-edge search stops on a step below 1e-5 of the perimeter
  // (about 2e-5 here); the nose radius of 0.0158 turns that arc error into
  // an x error far below 1e-6, and symmetry keeps y at rounding level.
  EXPECT_NEAR(g->x_le, 0.0, 1e-6);
  EXPECT_NEAR(g->y_le, 0.0, 1e-9);
  EXPECT_NEAR(g->s_le, g->s[n - 1] / 2.0, 1e-5);
  EXPECT_NEAR(g->chord, 1.0, 1e-6);

  // Gap of the 12% section: 2 * 0.6 * 0.12 * 0.00105 (the open 4-series TE).
  EXPECT_NEAR(g->dste, 0.0025200, 2e-6);
  EXPECT_FALSE(g->sharp);
  EXPECT_FALSE(velaro::sharp_te_bisector_control(*g).has_value());
  // The gap is vertical and the section symmetric: all of it lies normal to
  // the bisector, scaled by the cosine of the TE panel slope; none along it.
  const double tx = std::abs(g->x[1] - g->x[0]) / std::hypot(g->x[1] - g->x[0], g->y[1] - g->y[0]);
  EXPECT_NEAR(g->ante, g->dste * tx, 1e-15);
  EXPECT_NEAR(g->aste, 0.0, 1e-15);
  EXPECT_NEAR(g->x_te, 1.0, 1e-15);
  EXPECT_NEAR(g->y_te, 0.0, 1e-15);
}

TEST(PanelGeometry, SplineTangentsAndOutwardNormals) {
  const auto g = AirfoilGeometry::from_points(naca0012_open());
  ASSERT_TRUE(g.has_value());
  const std::size_t n = g->n;
  for (std::size_t i = 0; i < n; ++i) {
    // Splined against arc length, the tangent has nearly unit length.
    EXPECT_NEAR(std::hypot(g->xp[i], g->yp[i]), 1.0, 2e-3) << i;
    EXPECT_NEAR(std::hypot(g->nx[i], g->ny[i]), 1.0, 1e-14) << i;
  }
  // Upper surface mid-chord node: normal points up; lower: down; nose: -x.
  EXPECT_GT(g->ny[n / 4], 0.9);
  EXPECT_LT(g->ny[3 * n / 4], -0.9);
  EXPECT_LT(g->nx[n / 2], -0.99);
  // Panel angles: (cos, sin) is the panel tangent turned by -90 degrees.
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double dx = g->x[i + 1] - g->x[i], dy = g->y[i + 1] - g->y[i];
    const double len = std::hypot(dx, dy);
    EXPECT_NEAR(std::sin(g->apanel[i]), dx / len, 1e-14);
    EXPECT_NEAR(std::cos(g->apanel[i]), -dy / len, 1e-14);
  }
  // Blunt vertical TE gap: the panel from node n-1 up to node 0 has angle pi.
  EXPECT_NEAR(g->apanel[n - 1], std::numbers::pi, 1e-14);
}

TEST(PanelGeometry, ClosedTrailingEdgeIsSharpWithBisectorControl) {
  const auto g = AirfoilGeometry::from_points(naca0012_closed());
  ASSERT_TRUE(g.has_value()) << g.error().to_string();
  const std::size_t n = g->n;
  EXPECT_EQ(g->apanel[n - 1], std::numbers::pi);
  EXPECT_EQ(g->dste, 0.0);
  EXPECT_TRUE(g->sharp);

  const auto c = velaro::sharp_te_bisector_control(*g);
  ASSERT_TRUE(c.has_value());
  const double d0 = std::hypot(g->x[1] - g->x[0], g->y[1] - g->y[0]);
  const double d1 = std::hypot(g->x[n - 1] - g->x[n - 2], g->y[n - 1] - g->y[n - 2]);
  const double dmin = velaro::kBisectorControlFraction * std::min(d0, d1);
  // The fixed fraction of the shorter TE panel upstream of the TE, on the
  // symmetric section's bisector (the chord line); the normal is across it.
  EXPECT_NEAR(std::hypot(c->x - g->x_te, c->y - g->y_te), dmin, 1e-15);
  EXPECT_LT(c->x, g->x_te);
  EXPECT_NEAR(c->y, 0.0, 1e-15);
  EXPECT_NEAR(std::hypot(c->nx, c->ny), 1.0, 1e-15);
  EXPECT_NEAR(c->nx, 0.0, 1e-12);
}

// A velocity condition for the stagnant interior only makes sense inside the
// body: the control point must lie on the inner side of both TE panels, also
// for cambered and thin, nearly cusped edges where the wedge is a few degrees
// wide and the spline bisector differs from the panel bisector.
TEST(PanelGeometry, BisectorControlPointLiesInsideTheEdgeWedge) {
  for (const int designation : {12, 4412, 9503}) {
    auto pts = velaro::generate_naca4(designation, 81);
    const Point te{0.5 * (pts.front().x + pts.back().x), 0.5 * (pts.front().y + pts.back().y)};
    pts.front() = te;
    pts.back() = te;
    const auto g = AirfoilGeometry::from_points(pts);
    ASSERT_TRUE(g.has_value()) << designation;
    ASSERT_TRUE(g->sharp) << designation;
    const auto c = velaro::sharp_te_bisector_control(*g);
    ASSERT_TRUE(c.has_value()) << designation;
    const std::size_t n = g->n;
    // Outward side of the panel from node a to node b of the clockwise contour.
    const auto outward = [&](std::size_t a, std::size_t b) {
      const double dx = g->x[b] - g->x[a], dy = g->y[b] - g->y[a];
      return ((c->x - g->x[a]) * dy - (c->y - g->y[a]) * dx) / std::hypot(dx, dy);
    };
    // Fraction of the way along the panel from node a to node b at which the
    // control point projects: within the panel, not beyond the edge (where
    // the opposite wedge of the two panel lines lies).
    const auto along = [&](std::size_t a, std::size_t b) {
      const double dx = g->x[b] - g->x[a], dy = g->y[b] - g->y[a];
      return ((c->x - g->x[a]) * dx + (c->y - g->y[a]) * dy) / (dx * dx + dy * dy);
    };
    EXPECT_LT(outward(0, 1), 0.0) << designation;
    EXPECT_LT(outward(n - 2, n - 1), 0.0) << designation;
    EXPECT_GT(along(0, 1), 0.0) << designation;
    EXPECT_LT(along(n - 2, n - 1), 1.0) << designation;
  }
}

TEST(PanelGeometry, LeadingEdgeOfAnEllipse) {
  // The ellipse's LE is exactly at (0, 0), the point whose normal passes
  // through the TE at (1, 0). The spline of 201 nodes on a 10% ellipse
  // reproduces the nose to about 1e-7.
  const auto g = AirfoilGeometry::from_points(ellipse(201, 0.1));
  ASSERT_TRUE(g.has_value());
  EXPECT_NEAR(g->x_le, 0.0, 1e-6);
  EXPECT_NEAR(g->y_le, 0.0, 1e-9);
  EXPECT_NEAR(g->chord, 1.0, 1e-6);
  EXPECT_TRUE(g->sharp);
}

TEST(PanelGeometry, RejectedContours) {
  auto pts = naca0012_open();
  pts[8] = pts[7];
  auto g = AirfoilGeometry::from_points(pts);
  ASSERT_FALSE(g.has_value());
  EXPECT_EQ(g.error().kind, InviscidError::Kind::DuplicatePoints);
  EXPECT_EQ(g.error().to_string(), "Duplicate points at index 7");

  // Nearly coincident nodes count as duplicates too.
  pts = naca0012_open();
  pts[101] = {pts[100].x + 1e-13, pts[100].y};
  g = AirfoilGeometry::from_points(pts);
  ASSERT_FALSE(g.has_value());
  EXPECT_EQ(g.error().to_string(), "Duplicate points at index 100");

  const auto all = naca0012_open();
  std::vector<Point> few(all.begin(), all.begin() + 9);
  g = AirfoilGeometry::from_points(few);
  ASSERT_FALSE(g.has_value());
  EXPECT_EQ(g.error().to_string(), "Insufficient points: need at least 10, got 9");

  pts = naca0012_open();
  pts[50].y = std::nan("");
  g = AirfoilGeometry::from_points(pts);
  ASSERT_FALSE(g.has_value());
  EXPECT_EQ(g.error().kind, InviscidError::Kind::SplineFailed);
}

TEST(PanelGeometry, ErrorTexts) {
  EXPECT_EQ(InviscidError::insufficient_points(4).to_string(), "Insufficient points: need at least 10, got 4");
  EXPECT_EQ(InviscidError::invalid_chord(0.0).to_string(), "Invalid chord length: 0");
  EXPECT_EQ(InviscidError::invalid_chord(1.5).to_string(), "Invalid chord length: 1.5");
  EXPECT_EQ(InviscidError::singular_matrix().to_string(), "Singular influence matrix - check geometry");
  EXPECT_EQ(InviscidError::zero_length_panel(3).to_string(), "Zero-length panel at index 3");
  EXPECT_EQ(InviscidError::spline_failed("bad").to_string(), "Spline computation failed: bad");
  EXPECT_EQ(InviscidError::invalid_alpha(0.25).to_string(), "Invalid angle of attack: 0.25 radians");
}

}  // namespace
