#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "geometry/naca.h"
#include "inviscid/airfoil_influence.h"
#include "inviscid/inviscid_fixtures.h"

using velaro::test::max_abs;

namespace {

using velaro::AirfoilGeometry;
using velaro::PanelInfluence;

AirfoilGeometry make_geometry(bool closed_te) {
  auto pts = velaro::generate_naca4(12, 61);
  if (closed_te) {
    pts.front().y = 0.0;
    pts.back().y = 0.0;
  }
  auto g = AirfoilGeometry::from_points(pts);
  EXPECT_TRUE(g.has_value());
  return *g;
}

struct FieldPoint {
  double x, y, nx, ny;
};

// Off-body points (wake-like, above, below, ahead) with assorted directions.
const FieldPoint kFieldPoints[] = {
    {1.05, 0.003, 0.6, 0.8}, {0.5, 0.2, 0.0, 1.0}, {0.37, -0.15, 1.0, 0.0},
    {-0.2, 0.04, -0.8, 0.6}, {1.6, -0.05, 0.28, -0.96},
};

// The velocity sensitivities are the derivatives of the stream-function
// sensitivities along (nxi, nyi), checked with the five-point central
// difference at h = 1e-4: truncation ~h^4 psi^(5) is negligible at these
// distances, while rounding dominates: the source coefficients carry the
// inverse lengths of the short nose panels (~1e3), so ~1e-16 * 1e3 * O(10)
// / h ~ 1e-8 absolute against coefficients of order 1e-3 to 1e-1. A wrong
// term would be off by its own size; 5e-6 of the largest coefficient is a
// tight bound between the two. The points avoid the extensions of panels,
// where the source stream function has its branch cut.
void check_velocity_sensitivities(const AirfoilGeometry& g) {
  const std::size_t io = g.n;  // off the body
  const double h = 1e-4;
  for (const FieldPoint& p : kFieldPoints) {
    const PanelInfluence r = velaro::airfoil_panel_influence_with_velocity(g, io, p.x, p.y, p.nx, p.ny);
    auto at = [&](double k) { return velaro::airfoil_panel_influence_with_velocity(g, io, p.x + k * h * p.nx, p.y + k * h * p.ny, p.nx, p.ny); };
    const PanelInfluence p2 = at(2), p1 = at(1), m1 = at(-1), m2 = at(-2);
    auto fd = [&](const std::vector<double> PanelInfluence::*v, std::size_t j) {
      return (-(p2.*v)[j] + 8.0 * (p1.*v)[j] - 8.0 * (m1.*v)[j] + (m2.*v)[j]) / (12.0 * h);
    };
    const double sg = max_abs(r.dqdg);
    const double sm = max_abs(r.dqdm);
    ASSERT_GT(sg, 1e-4);
    ASSERT_GT(sm, 1e-4);
    for (std::size_t j = 0; j < g.n; ++j) {
      EXPECT_NEAR(r.dqdg[j], fd(&PanelInfluence::dzdg, j), 5e-6 * sg) << "dqdg j=" << j << " at " << p.x << "," << p.y;
      EXPECT_NEAR(r.dqdm[j], fd(&PanelInfluence::dzdm, j), 5e-6 * sm) << "dqdm j=" << j << " at " << p.x << "," << p.y;
    }
  }
}

TEST(Influence, VelocitySensitivitiesMatchFiniteDifferencesBluntTe) {
  const auto g = make_geometry(false);
  ASSERT_FALSE(g.sharp);
  check_velocity_sensitivities(g);
}

TEST(Influence, VelocitySensitivitiesMatchFiniteDifferencesSharpTe) {
  const auto g = make_geometry(true);
  ASSERT_TRUE(g.sharp);
  check_velocity_sensitivities(g);
}

TEST(Influence, EntryPointsAgreeAndLeaveUnrequestedVectorsZero) {
  const auto g = make_geometry(false);
  const PanelInfluence a = velaro::airfoil_panel_influence(g, 17, g.x[17], g.y[17], false);
  const PanelInfluence b = velaro::airfoil_panel_influence(g, 17, g.x[17], g.y[17], true);
  const PanelInfluence c = velaro::airfoil_panel_influence_with_velocity(g, 17, g.x[17], g.y[17], g.nx[17], g.ny[17]);
  EXPECT_EQ(a.dzdg, b.dzdg);
  EXPECT_EQ(a.dzdg, c.dzdg);
  EXPECT_EQ(b.dzdm, c.dzdm);
  EXPECT_EQ(max_abs(a.dzdm), 0.0);
  EXPECT_EQ(max_abs(a.dqdg) + max_abs(a.dqdm) + max_abs(b.dqdg) + max_abs(b.dqdm), 0.0);
  EXPECT_GT(max_abs(c.dqdg), 0.0);
}

// A second direction in the same evaluation (as the wake is laid out with)
// gives, bit for bit, what a separate evaluation along it gives, on and off
// the body, with and without the gap panel, sources requested or not.
TEST(Influence, SecondDirectionEqualsASeparateEvaluation) {
  for (bool closed : {false, true}) {
    const auto g = make_geometry(closed);
    velaro::AirfoilInfluenceRows rows(g);
    PanelInfluence both, one;
    for (bool sources : {false, true})
      for (const FieldPoint& p : kFieldPoints) {
        for (std::size_t io : {g.n, std::size_t{0}, g.n / 2}) {
          const double x = io < g.n ? g.x[io] : p.x;
          const double y = io < g.n ? g.y[io] : p.y;
          rows.evaluate(io, x, y,
                        {.vortex = true, .sources = sources, .velocity = true, .nx = p.nx, .ny = p.ny,
                         .second_velocity = true, .nx2 = -p.ny, .ny2 = p.nx},
                        both);
          rows.evaluate(io, x, y, {.vortex = true, .sources = sources, .velocity = true, .nx = -p.ny, .ny = p.nx},
                        one);
          EXPECT_EQ(both.dqdg2, one.dqdg) << closed << " " << io;
          EXPECT_EQ(both.dzdg, one.dzdg);
          rows.evaluate(io, x, y, {.vortex = true, .sources = sources, .velocity = true, .nx = p.nx, .ny = p.ny}, one);
          EXPECT_EQ(both.dqdg, one.dqdg);
          EXPECT_EQ(both.dqdm, one.dqdm);
          EXPECT_GT(max_abs(both.dqdg2), 0.0);
        }
      }
  }
}

TEST(Influence, FieldPointOnEveryNodeIsFinite) {
  for (bool closed : {false, true}) {
    const auto g = make_geometry(closed);
    for (std::size_t i = 0; i < g.n; ++i) {
      const PanelInfluence r = velaro::airfoil_panel_influence_with_velocity(g, i, g.x[i], g.y[i], g.nx[i], g.ny[i]);
      for (std::size_t j = 0; j < g.n; ++j) {
        ASSERT_TRUE(std::isfinite(r.dzdg[j]) && std::isfinite(r.dzdm[j]) && std::isfinite(r.dqdg[j]) &&
                    std::isfinite(r.dqdm[j]))
            << "node " << i << " coefficient " << j;
      }
    }
  }
}

TEST(Influence, FarFieldOfUniformVortexAndSourceSheets) {
  // Far from the body, a vortex sheet of unit strength over the whole
  // contour (sharp TE, no gap panel) acts as a point vortex of circulation
  // equal to the perimeter P: psi = P/(2 pi) ln r + O(1/r). A mass m = s (arc
  // length) is a source sheet of unit strength, a point source of outflow P:
  // psi = P/(2 pi) theta, so its velocity component along the counter-
  // clockwise tangent, dpsi/dn there, is P/(2 pi r). With r = 1e3 the O(1/r)
  // relative corrections are ~1e-3 (body size / r); tolerances are 2e-3.
  const auto g = make_geometry(true);
  const double perim = g.s[g.n - 1];
  const double pi = std::numbers::pi;
  auto psi_gamma = [&](double x, double y) {
    const auto r = velaro::airfoil_panel_influence(g, g.n, x, y, false);
    double sum = 0.0;
    for (double v : r.dzdg) sum += v;
    return sum;
  };
  const double r1 = 1e3, r2 = 4e3;
  const double dpsi = psi_gamma(0.5 + r2, 0.0) - psi_gamma(0.5 + r1, 0.0);
  EXPECT_NEAR(std::abs(dpsi), perim / (2 * pi) * std::log(r2 / r1), 2e-3 * std::abs(dpsi));

  for (double th : {0.3, 2.0, 4.0}) {
    const double x = 0.5 + r1 * std::cos(th), y = r1 * std::sin(th);
    const auto rt = velaro::airfoil_panel_influence_with_velocity(g, g.n, x, y, -std::sin(th), std::cos(th));
    const auto rr = velaro::airfoil_panel_influence_with_velocity(g, g.n, x, y, std::cos(th), std::sin(th));
    double q_src = 0.0, q_vort = 0.0;
    for (std::size_t j = 0; j < g.n; ++j) {
      q_src += rt.dqdm[j] * g.s[j];
      q_vort += rr.dqdg[j];
    }
    EXPECT_NEAR(q_src, perim / (2 * pi * r1), 2e-3 * perim / (2 * pi * r1)) << th;
    EXPECT_NEAR(std::abs(q_vort), perim / (2 * pi * r1), 2e-3 * perim / (2 * pi * r1)) << th;
  }
}

TEST(Influence, GapPanelOnlyForBluntTrailingEdge) {
  // Coefficients of nodes 0 and n-1 carry the gap panel's terms on a blunt
  // TE; removing the gap to below 1e-5 of the perimeter drops them, which
  // is seen as continuity: the result at an almost closed TE equals the one
  // at the closed TE to within the size of the geometric change.
  auto pts = velaro::generate_naca4(12, 61);
  pts.front().y = 1e-7;
  pts.back().y = -1e-7;
  const auto almost = AirfoilGeometry::from_points(pts);
  ASSERT_TRUE(almost.has_value());
  ASSERT_TRUE(almost->sharp);
  const auto closed = make_geometry(true);
  const auto ra = velaro::airfoil_panel_influence(*almost, almost->n, 1.2, 0.1, true);
  const auto rc = velaro::airfoil_panel_influence(closed, closed.n, 1.2, 0.1, true);
  for (std::size_t j = 0; j < closed.n; ++j) EXPECT_NEAR(ra.dzdg[j], rc.dzdg[j], 1e-6);

  const auto blunt = make_geometry(false);
  const auto rb = velaro::airfoil_panel_influence(blunt, blunt.n, 1.2, 0.1, false);
  // The open TE (gap 0.0025) differs from the closed one by more than the
  // closing of the TE alone would explain at this distance (~gap), because
  // of the gap panel's source and vortex terms on nodes 0 and n-1.
  EXPECT_GT(std::abs(rb.dzdg[0] - rc.dzdg[0]), 1e-4);
}

}  // namespace
