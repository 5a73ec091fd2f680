#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "geometry/naca.h"
#include "inviscid/airfoil_influence.h"
#include "inviscid/factored_system.h"
#include "inviscid/inviscid_fixtures.h"
#include "inviscid/mass_defect.h"
#include "inviscid/panel_geometry.h"
#include "inviscid/wake.h"
#include "inviscid/wake_influence.h"

using namespace velaro;

using velaro::test::factored_system_of;
using velaro::test::gamma_at;

namespace {

using Eigen::Index;

std::vector<Point> closed_naca0012(std::size_t per_side) {
  std::vector<Point> pts = generate_naca4(12, per_side);
  // Close the trailing edge: both end points on their mean.
  const Point te{0.5 * (pts.front().x + pts.back().x), 0.5 * (pts.front().y + pts.back().y)};
  pts.front() = te;
  pts.back() = te;
  return pts;
}

WakeGeometry wake_of(const FactorizedSystem& sys, double alpha) {
  return build_wake(sys.geometry, gamma_at(sys, alpha), alpha, wake_node_count(sys.geometry.n, 1.0), 1.0);
}

std::expected<Eigen::MatrixXd, InviscidError> full_dij(const FactorizedSystem& sys, const WakeGeometry& w) {
  return mass_defect_matrix_with_wake(sys, w.x, w.y, w.nx, w.ny, w.apanel);
}

// Independent route to the airfoil vorticity carried for a given mass
// vector (airfoil and wake nodes): assemble the system afresh, put the
// source stream function (or, in the sharp-edge row, the source velocity at
// the control point) into the right-hand side and solve with a full-pivoting
// LU; no free stream.
Eigen::VectorXd vorticity_for_mass(const FactorizedSystem& sys, const WakeGeometry& w, const Eigen::VectorXd& mass) {
  const AirfoilGeometry& g = sys.geometry;
  const std::size_t n = g.n, nw = w.size();
  const AirfoilSystemMatrix m = assemble_airfoil_system(g, sys.control);
  std::vector<double> ax(g.x), ay(g.y), ap(g.apanel);
  ax.insert(ax.end(), w.x.begin(), w.x.end());
  ay.insert(ay.end(), w.y.begin(), w.y.end());
  ap.insert(ap.end(), w.apanel.begin(), w.apanel.end());
  Eigen::VectorXd rhs = Eigen::VectorXd::Zero(static_cast<Index>(n + 1));
  for (std::size_t i = 0; i < n; ++i) {
    const PanelInfluence r = airfoil_panel_influence(g, i, g.x[i], g.y[i], true);
    double psi = 0.0;
    for (std::size_t j = 0; j < n; ++j) psi += r.dzdm[j] * mass(static_cast<Index>(j));
    if (nw > 0) {
      const WakePanelInfluence rw = wake_panel_influence(ax, ay, ap, g.x[i], g.y[i], g.nx[i], g.ny[i], n, i);
      for (std::size_t k = 0; k < nw; ++k) psi += rw.dzdm[n + k] * mass(static_cast<Index>(n + k));
    }
    rhs(static_cast<Index>(i)) = -psi;
  }
  if (sys.control) {
    const PanelInfluence r = airfoil_panel_influence_with_velocity(g, n, sys.control->x, sys.control->y, sys.control->nx, sys.control->ny);
    double q = 0.0;
    for (std::size_t j = 0; j < n; ++j) q += r.dqdm[j] * mass(static_cast<Index>(j));
    rhs(static_cast<Index>(n - 1)) = -q;  // wake sources are not felt in this row
  }
  return m.a.fullPivLu().solve(rhs).head(static_cast<Index>(n));
}

// Speed along the wake at node k for vorticity gam and mass `mass`, from the
// stream function itself: a central difference across the normal at a point
// a short distance d to one side of the sheet (the stream function jumps
// across a source sheet, the tangential speed does not).
double wake_speed_from_psi(const FactorizedSystem& sys, const WakeGeometry& w, const Eigen::VectorXd& gam,
                           const Eigen::VectorXd& mass, std::size_t k, double d) {
  const AirfoilGeometry& g = sys.geometry;
  const std::size_t n = g.n, nw = w.size();
  std::vector<double> ax(g.x), ay(g.y), ap(g.apanel);
  ax.insert(ax.end(), w.x.begin(), w.x.end());
  ay.insert(ay.end(), w.y.begin(), w.y.end());
  ap.insert(ap.end(), w.apanel.begin(), w.apanel.end());
  auto psi = [&](double px, double py) {
    const PanelInfluence r = airfoil_panel_influence(g, n + nw, px, py, true);
    const WakePanelInfluence rw = wake_panel_influence(ax, ay, ap, px, py, 1.0, 0.0, n, n + nw);
    double v = 0.0;
    for (std::size_t j = 0; j < n; ++j) v += r.dzdg[j] * gam(static_cast<Index>(j)) + r.dzdm[j] * mass(static_cast<Index>(j));
    for (std::size_t j = 0; j < nw; ++j) v += rw.dzdm[n + j] * mass(static_cast<Index>(n + j));
    return v;
  };
  const double cx = w.x[k] - d * w.nx[k], cy = w.y[k] - d * w.ny[k];
  const double h = 0.25 * d;
  return (psi(cx + h * w.nx[k], cy + h * w.ny[k]) - psi(cx - h * w.nx[k], cy - h * w.ny[k])) / (2.0 * h);
}

}  // namespace

TEST(MassDefect, AirfoilColumnsMatchAnIndependentSolveWithSourcesInTheRightHandSide) {
  // The response is linear, so the finite difference of the vorticity over
  // a mass step is exact up to rounding of two separate LU solves.
  for (const auto& pts : {generate_naca4(2412, 61), closed_naca0012(61)}) {
    const FactorizedSystem sys = factored_system_of(pts);
    const std::size_t n = sys.geometry.n;
    auto dij = mass_defect_matrix(sys);
    ASSERT_TRUE(dij.has_value());
    ASSERT_EQ(dij->rows(), static_cast<Index>(n));
    ASSERT_EQ(dij->cols(), static_cast<Index>(n));
    const WakeGeometry none;
    for (std::size_t j : {std::size_t{0}, std::size_t{7}, n / 2, n - 2, n - 1}) {
      const double h = 1e-3;
      Eigen::VectorXd mp = Eigen::VectorXd::Zero(static_cast<Index>(n)), mm = mp;
      mp(static_cast<Index>(j)) = h;
      mm(static_cast<Index>(j)) = -h;
      const Eigen::VectorXd fd = (vorticity_for_mass(sys, none, mp) - vorticity_for_mass(sys, none, mm)) / (2.0 * h);
      const double scale = fd.cwiseAbs().maxCoeff();
      EXPECT_LT((dij->col(static_cast<Index>(j)) - fd).cwiseAbs().maxCoeff(), 1e-9 * scale) << "column " << j;
    }
  }
}

TEST(MassDefect, WakeColumnsAndRowsMatchIndependentRoutes) {
  for (const auto& pts : {generate_naca4(2412, 61), closed_naca0012(61)}) {
    const FactorizedSystem sys = factored_system_of(pts);
    const std::size_t n = sys.geometry.n;
    const double alpha = 0.07;
    const WakeGeometry w = wake_of(sys, alpha);
    const std::size_t nw = w.size();
    ASSERT_EQ(nw, 10u + n / 12u);
    auto dij = full_dij(sys, w);
    ASSERT_TRUE(dij.has_value());
    const std::size_t nt = n + nw;
    ASSERT_EQ(dij->rows(), static_cast<Index>(nt));

    for (std::size_t j : {std::size_t{3}, n - 1, n, n + 5, nt - 1}) {
      Eigen::VectorXd m = Eigen::VectorXd::Zero(static_cast<Index>(nt));
      m(static_cast<Index>(j)) = 1.0;
      // Airfoil rows: the vorticity the system carries for that mass.
      const Eigen::VectorXd gam = vorticity_for_mass(sys, w, m);
      const double scale = std::max(gam.cwiseAbs().maxCoeff(), 1e-3);
      EXPECT_LT((dij->col(static_cast<Index>(j)).head(static_cast<Index>(n)) - gam).cwiseAbs().maxCoeff(),
                1e-9 * scale)
          << "column " << j;
      // Wake rows: the speed along the wake from differences of the total
      // stream function just beside the sheet. Sampling a distance d beside
      // the sheet shifts the speed by d times its normal gradient, which is
      // large near the trailing edge: at d = 1e-6 the shift stays below 2e-4
      // of the speed (it grows tenfold at d = 1e-5, so it is the offset and
      // not a disagreement); rounding of the difference quotient adds about
      // 1e-9 of the column scale.
      const double colscale = dij->col(static_cast<Index>(j)).cwiseAbs().maxCoeff();
      for (std::size_t k = 2; k < nw; k += 5) {
        const double q = wake_speed_from_psi(sys, w, gam, m, k, 1e-6);
        EXPECT_NEAR((*dij)(static_cast<Index>(n + k), static_cast<Index>(j)), q, 5e-4 * std::abs(q) + 1e-7 * colscale)
            << "column " << j << " wake node " << k;
      }
    }
  }
}

TEST(MassDefect, StructureOfTheFullMatrix) {
  const FactorizedSystem sys = factored_system_of(generate_naca4(4412, 51));
  const std::size_t n = sys.geometry.n;
  const WakeGeometry w = wake_of(sys, 0.1);
  auto dij = full_dij(sys, w);
  ASSERT_TRUE(dij.has_value());
  auto airfoil = mass_defect_matrix(sys);
  ASSERT_TRUE(airfoil.has_value());
  // The airfoil block is the airfoil-only matrix.
  EXPECT_LE((dij->topLeftCorner(static_cast<Index>(n), static_cast<Index>(n)) - *airfoil).cwiseAbs().maxCoeff(),
            1e-13 * airfoil->cwiseAbs().maxCoeff());
  // The first wake node carries the lower trailing-edge speed.
  EXPECT_EQ((dij->row(static_cast<Index>(n)) - dij->row(static_cast<Index>(n - 1))).cwiseAbs().maxCoeff(), 0.0);
  // A uniform mass defect has no source strength anywhere: no speed changes.
  const Eigen::VectorXd ones = Eigen::VectorXd::Ones(dij->cols());
  EXPECT_LT((*dij * ones).cwiseAbs().maxCoeff(), 1e-9 * dij->cwiseAbs().maxCoeff());
  EXPECT_TRUE(dij->allFinite());
}

// A system built with its mass sources kept gives the same sources, the same
// factors and the same influence matrices, to the bit, as one built without
// them: blunt and sharp trailing edges (the sharp one has the bisector row).
TEST(MassDefect, SourcesKeptAtBuildAreTheSeparatelyEvaluatedOnes) {
  for (const std::vector<Point>& pts : {generate_naca4(4412, 51), closed_naca0012(41)}) {
    auto g = AirfoilGeometry::from_points(pts);
    ASSERT_TRUE(g.has_value());
    auto plain = FactorizedSystem::build(*g);
    auto kept = FactorizedSystem::build(*g, true);
    ASSERT_TRUE(plain.has_value());
    ASSERT_TRUE(kept.has_value());
    EXPECT_FALSE(plain->mass_sources.has_value());
    ASSERT_TRUE(kept->mass_sources.has_value());
    EXPECT_EQ(plain->control.has_value(), g->sharp);
    const std::size_t n = plain->geometry.n;
    const Eigen::MatrixXd separate = airfoil_mass_sources(*plain);
    ASSERT_EQ(kept->mass_sources->rows(), static_cast<Index>(n + 1));
    ASSERT_EQ(kept->mass_sources->cols(), static_cast<Index>(n));
    EXPECT_EQ(*kept->mass_sources, separate);
    EXPECT_EQ(kept->lu.matrixLU(), plain->lu.matrixLU());
    EXPECT_EQ(kept->gamu_0, plain->gamu_0);
    const WakeGeometry w = wake_of(*plain, 0.1);
    auto a = full_dij(*plain, w);
    auto b = full_dij(*kept, w);
    ASSERT_TRUE(a.has_value());
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(*a, *b);
    auto ma = mass_defect_matrix(*plain);
    auto mb = mass_defect_matrix(*kept);
    ASSERT_TRUE(ma.has_value());
    ASSERT_TRUE(mb.has_value());
    EXPECT_EQ(*ma, *mb);
  }
}

TEST(MassDefect, EmptyWakeReturnsAirfoilMatrix) {
  const FactorizedSystem sys = factored_system_of(generate_naca4(12, 31));
  auto a = mass_defect_matrix(sys);
  const std::vector<double> none;
  auto b = mass_defect_matrix_with_wake(sys, none, none, none, none, none);
  ASSERT_TRUE(a.has_value());
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(*a, *b);
}

TEST(MassDefect, MismatchedWakeVectorsAreRefused) {
  const FactorizedSystem sys = factored_system_of(generate_naca4(12, 31));
  const std::vector<double> three{1.1, 1.2, 1.3}, two{0.0, 0.0};
  auto r = mass_defect_matrix_with_wake(sys, three, two, three, three, three);
  ASSERT_FALSE(r.has_value());
  EXPECT_NE(r.error().to_string().find("wake_x and wake_y must have the same length"), std::string::npos);
  auto r2 = mass_defect_matrix_with_wake(sys, three, three, three, three, two);
  ASSERT_FALSE(r2.has_value());
  EXPECT_NE(r2.error().to_string().find("wake_x and wake_apanel must have the same length"), std::string::npos);
}
