#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "geometry/body.h"
#include "geometry/naca.h"
#include "inviscid/factored_system.h"
#include "inviscid/inviscid_fixtures.h"
#include "inviscid/inviscid_solver.h"
#include "inviscid/panel_geometry.h"

using namespace velaro;

using velaro::test::factored_system_of;
using velaro::test::gamma_at;

namespace {

// Symmetric Joukowski section: the circle through zeta = 1 centred at
// (-eps, 0), mapped by z = zeta + 1/zeta. Node 0 and the last node are both
// the cusped trailing edge (a closed contour); nodes are clustered towards
// the trailing and leading edges.
std::vector<Point> joukowski(double eps, std::size_t panels) {
  std::vector<Point> pts;
  const double a = 1.0 + eps;
  for (std::size_t k = 0; k <= panels; ++k) {
    const double u = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(panels);
    const double th = u - 0.4 * std::sin(2.0 * u);
    const std::complex<double> zeta = std::complex<double>(-eps, 0.0) + a * std::polar(1.0, th);
    const std::complex<double> z = zeta + 1.0 / zeta;
    pts.push_back({z.real(), z.imag()});
  }
  pts.back() = pts.front();
  return pts;
}

// Exact lift coefficient of the symmetric Joukowski section (chord from the
// cusp to the leading edge): Kutta-Joukowski with circulation 4 pi a sin(alpha).
double joukowski_cl(double eps, double alpha) {
  const double a = 1.0 + eps;
  const double le = 1.0 + 2.0 * eps;
  const double chord = 2.0 + le + 1.0 / le;
  return 8.0 * std::numbers::pi * a * std::sin(alpha) / chord;
}

// NACA 00xx with the closed-trailing-edge thickness law (last point on the first).
std::vector<Point> closed_naca00(double t, std::size_t per_side) {
  std::vector<double> x(per_side);
  for (std::size_t i = 0; i < per_side; ++i) {
    const double b = std::numbers::pi * static_cast<double>(i) / static_cast<double>(per_side - 1);
    x[i] = 0.5 * (1.0 - std::cos(b));
  }
  auto yt = [t](double xi) {
    return 5.0 * t *
           (0.2969 * std::sqrt(xi) - 0.126 * xi - 0.3516 * xi * xi + 0.2843 * xi * xi * xi -
            0.1036 * xi * xi * xi * xi);
  };
  std::vector<Point> pts;
  for (std::size_t i = per_side; i-- > 0;) pts.push_back({x[i], yt(x[i])});
  for (std::size_t i = 1; i < per_side; ++i) pts.push_back({x[i], -yt(x[i])});
  pts.back() = pts.front();
  return pts;
}

// Lift from the closed trapezoidal pressure integral, not divided by the
// chord (the same convention as the standalone solver's cl).
double pressure_lift(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& gam,
                     double alpha) {
  const std::size_t n = x.size();
  double cl = 0.0;
  for (std::size_t k = 1; k <= n; ++k) {
    const std::size_t a = k - 1, b = k % n;
    const double dx = x[b] - x[a], dy = y[b] - y[a];
    const double dxw = dx * std::cos(alpha) + dy * std::sin(alpha);
    const double cpa = 1.0 - gam[a] * gam[a], cpb = 1.0 - gam[b] * gam[b];
    cl += dxw * 0.5 * (cpa + cpb);
  }
  return cl;
}

}  // namespace

TEST(FactoredSystem, ClosedSymmetricSectionIsSymmetricWithZeroLift) {
  const auto pts = closed_naca00(0.12, 81);
  const FactorizedSystem sys = factored_system_of(pts);
  const std::size_t n = sys.node_count();
  ASSERT_EQ(n, pts.size());
  EXPECT_TRUE(sys.geometry.sharp);
  ASSERT_TRUE(sys.control.has_value());
  // Mirror image: node i and node n-1-i carry opposite vorticity at alpha = 0.
  double scale = 0.0;
  for (double g : sys.gamu_0) scale = std::max(scale, std::abs(g));
  for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(sys.gamu_0[i], -sys.gamu_0[n - 1 - i], 1e-10 * scale) << i;
  EXPECT_NEAR(pressure_lift(sys.geometry.x, sys.geometry.y, sys.gamu_0, 0.0), 0.0, 1e-10);
  EXPECT_NEAR(sys.gamu_0[0] + sys.gamu_0[n - 1], 0.0, 1e-12);  // Kutta row
}

TEST(FactoredSystem, JoukowskiLiftMatchesExactPotentialFlow) {
  // Exact conformal-map solution. The panel lift converges at second order
  // in the spacing (1.2e-4 relative at 240 panels, 3e-5 at 480); 5e-4 leaves
  // room for rounding while still catching any error in the Kutta or sharp
  // trailing-edge rows, which shift the lift by percents.
  const double eps = 0.1;
  const FactorizedSystem sys = factored_system_of(joukowski(eps, 240));
  for (double deg : {2.0, 5.0, 8.0}) {
    const double alpha = deg * std::numbers::pi / 180.0;
    const double chord = sys.geometry.chord;
    const double cl = pressure_lift(sys.geometry.x, sys.geometry.y, gamma_at(sys, alpha), alpha) / chord;
    EXPECT_NEAR(cl, joukowski_cl(eps, alpha), 5e-4 * joukowski_cl(eps, alpha)) << deg;
  }
}

TEST(FactoredSystem, BaseSolutionsReproduceStandaloneSolverLift) {
  // Same flow, two solvers. On a blunt edge both impose psi = psi0 at every
  // node with the same gap panel, so they agree to rounding (1e-14 seen).
  // On a closed sharp edge the factored system imposes a velocity condition
  // at a control point inside the edge, the standalone solver drops the
  // closing node instead: different discretisations, 2e-6 apart on 160
  // panels; 1e-4 bounds that with margin.
  struct Case {
    std::vector<Point> pts;
    double tol;
  };
  const std::vector<Case> cases{{generate_naca4(2412, 81), 1e-10}, {closed_naca00(0.12, 81), 1e-4}};
  for (const Case& c : cases) {
    const FactorizedSystem sys = factored_system_of(c.pts);
    auto body = Body::from_points(c.pts);
    ASSERT_TRUE(body.has_value());
    for (double deg : {-4.0, 3.0, 8.0}) {
      const double alpha = deg * std::numbers::pi / 180.0;
      auto ref = InviscidSolver::solve(*body, FlowConditions{alpha, 1.0});
      ASSERT_TRUE(ref.has_value());
      const double cl = pressure_lift(sys.geometry.x, sys.geometry.y, gamma_at(sys, alpha), alpha);
      EXPECT_NEAR(cl, ref->cl, c.tol * std::max(std::abs(ref->cl), 0.1)) << deg;
    }
  }
}

TEST(FactoredSystem, BluntEdgeUsesStreamFunctionRowsAndKuttaCondition) {
  const FactorizedSystem sys = factored_system_of(generate_naca4(12, 61));
  EXPECT_FALSE(sys.geometry.sharp);
  EXPECT_FALSE(sys.control.has_value());
  const AirfoilSystemMatrix m = assemble_airfoil_system(sys.geometry, sys.control);
  const std::size_t n = sys.node_count();
  // Every node row couples to psi0; the Kutta row has exactly two entries.
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(m.a(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(n)), -1.0);
  EXPECT_EQ(m.a.row(static_cast<Eigen::Index>(n)).cwiseAbs().sum(), 2.0);
  // The stored factors reproduce the base solutions.
  Eigen::VectorXd g0(static_cast<Eigen::Index>(n + 1));
  for (std::size_t i = 0; i < n; ++i) g0(static_cast<Eigen::Index>(i)) = sys.gamu_0[i];
  g0(static_cast<Eigen::Index>(n)) = sys.psi0_0;
  EXPECT_LT((m.a * g0 - m.rhs.col(0)).cwiseAbs().maxCoeff(), 1e-12);
}

TEST(FactoredSystem, SharpEdgeReplacesLastRowByBisectorVelocity) {
  const FactorizedSystem sys = factored_system_of(closed_naca00(0.12, 41));
  const std::size_t n = sys.node_count();
  const AirfoilSystemMatrix m = assemble_airfoil_system(sys.geometry, sys.control);
  const auto last = static_cast<Eigen::Index>(n - 1);
  EXPECT_EQ(m.a(last, static_cast<Eigen::Index>(n)), 0.0);
  EXPECT_DOUBLE_EQ(m.rhs(last, 0), -sys.control->ny);
  EXPECT_DOUBLE_EQ(m.rhs(last, 1), sys.control->nx);
}

TEST(FactoredSystem, SelfTouchingContourIsReportedSingular) {
  // A contour that returns through its first node halfway (two loops): the
  // rows of the two coincident nodes are identical, so the matrix is
  // singular.
  std::vector<Point> pts;
  const std::size_t m = 12;
  for (std::size_t k = 0; k <= m; ++k) {
    const double t = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(m);
    pts.push_back({1.0 + 0.5 * std::cos(t) - 0.5, 0.3 * std::sin(t)});
  }
  for (std::size_t k = 1; k <= m; ++k) {
    const double t = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(m);
    pts.push_back({-0.5 * std::cos(t) + 0.5 - 0.5, -0.3 * std::sin(t) + 0.0});
  }
  pts.back().y += 0.01;  // open end so that the construction accepts it
  auto g = AirfoilGeometry::from_points(pts);
  ASSERT_TRUE(g.has_value());
  auto sys = FactorizedSystem::build(std::move(*g));
  ASSERT_FALSE(sys.has_value());
  EXPECT_EQ(sys.error().to_string(), "Singular influence matrix - check geometry");
}

TEST(FactoredSystem, SolveRejectsMismatchedRightHandSide) {
  const FactorizedSystem sys = factored_system_of(generate_naca4(12, 21));
  auto bad = sys.solve(Eigen::MatrixXd::Ones(3, 2));
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().kind, InviscidError::Kind::SingularMatrix);
}
