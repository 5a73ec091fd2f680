// Tests of continuation: the shared per-contour work, restarts of a converged
// solution at a new angle or lift coefficient, and whole sweeps (order,
// fall-backs, flags, interruption).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "geometry/body.h"
#include "geometry/naca.h"
#include "inviscid/mass_defect.h"
#include "viscous/continuation.h"
#include "viscous/driver.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/sweep.h"
#include "viscous/wake_setup.h"

#include "viscous_fixtures.h"

namespace velaro {
namespace {

std::vector<Point> naca_nodes(std::uint32_t designation) {
  auto repaneled = velaro::testing::repaneled_naca(designation);
  return repaneled ? *repaneled : generate_naca4(designation, kNacaDefaultPointsPerSide);
}

// Solver node order of the body built from the section, as the analyses use
// it.
std::vector<Point> solver_nodes(const Body& body) { return coords_from_body(body.panels()); }

Body naca_body(std::uint32_t designation) {
  auto body = Body::from_points(naca_nodes(designation));
  EXPECT_TRUE(body.has_value());
  return *body;
}

ViscousConfig config_at(double reynolds, std::uint64_t max_iterations = 100) {
  ViscousConfig c;
  c.reynolds = reynolds;
  c.max_iterations = max_iterations;
  return c;
}

// Bit-for-bit equality of two results (NaN nowhere expected).
void expect_identical(const OperPointResult& a, const OperPointResult& b) {
  EXPECT_EQ(a.alpha_deg, b.alpha_deg);
  EXPECT_EQ(a.cl, b.cl);
  EXPECT_EQ(a.cd, b.cd);
  EXPECT_EQ(a.cm, b.cm);
  EXPECT_EQ(a.cd_friction, b.cd_friction);
  EXPECT_EQ(a.cd_pressure, b.cd_pressure);
  EXPECT_EQ(a.x_tr_upper, b.x_tr_upper);
  EXPECT_EQ(a.x_tr_lower, b.x_tr_lower);
  EXPECT_EQ(a.iterations, b.iterations);
  EXPECT_EQ(a.residual, b.residual);
  EXPECT_EQ(a.converged, b.converged);
  EXPECT_EQ(a.x_sep.has_value(), b.x_sep.has_value());
  if (a.x_sep && b.x_sep) EXPECT_EQ(*a.x_sep, *b.x_sep);
}

// ---- Shared per-contour work --------------------------------------------------

TEST(ContinuationShared, InfluenceMatrixFromSharedSourcesIsBitIdentical) {
  const Body body = naca_body(2412);
  const ViscousConfig config = config_at(1e6);
  auto setup = build_state_from_coords("a", solver_nodes(body), config, 5.0);
  ASSERT_TRUE(setup.has_value());
  ViscousState& st = setup->state;
  combine_base_solutions_at_alpha(st, st.alpha);
  refresh_wake_geometry(st, setup->system, config);
  auto direct = mass_defect_matrix_with_wake(setup->system, st.wake_x, st.wake_y, st.wake_nx, st.wake_ny,
                                             st.wake_apanel);
  const Eigen::MatrixXd sources = airfoil_mass_sources(setup->system);
  auto shared = mass_defect_matrix_with_wake(setup->system, sources, st.wake_x, st.wake_y, st.wake_nx, st.wake_ny,
                                             st.wake_apanel);
  ASSERT_TRUE(direct.has_value());
  ASSERT_TRUE(shared.has_value());
  EXPECT_TRUE((direct->array() == shared->array()).all());
  // Sources of another contour are refused, not used.
  const Eigen::MatrixXd wrong = Eigen::MatrixXd::Zero(sources.rows() - 1, sources.cols());
  EXPECT_FALSE(mass_defect_matrix_with_wake(setup->system, wrong, st.wake_x, st.wake_y, st.wake_nx, st.wake_ny,
                                            st.wake_apanel)
                   .has_value());
}

TEST(ContinuationShared, ColdStartIsBitIdenticalToTheSinglePointPath) {
  // The sweep's cold start (shared system and airfoil sources) against the
  // single operating point entry, on a cambered and a symmetric section,
  // attached and near stall.
  for (std::uint32_t designation : {2412u, 12u}) {
    const Body body = naca_body(designation);
    const ViscousConfig config = config_at(1e6);
    auto contour = prepare_contour("a", solver_nodes(body), config);
    ASSERT_TRUE(contour.has_value());
    for (double alpha : {-3.0, 4.0, 14.0}) {
      SCOPED_TRACE(::testing::Message() << "NACA " << designation << " alpha " << alpha);
      auto single = solve_body_oper_point(body, config, alpha);
      ViscousState st = cold_state(*contour, OperMode::PrescribedAlpha, alpha);
      auto shared = solve_cold(*contour, st, config);
      ASSERT_TRUE(single.has_value());
      ASSERT_TRUE(shared.has_value());
      expect_identical(*single, *shared);
    }
  }
}

// ---- Warm restarts ------------------------------------------------------------

TEST(ContinuationWarm, WarmStartReachesTheColdStartSolution) {
  // Marching from 0 degrees by 2 degree steps: wherever the cold start
  // converges too, both are solutions of the same discrete equations, so
  // they agree to the convergence of the Newton iteration. A tight tolerance
  // makes that agreement far finer than the 1e-6 in cl and 1e-5 relative in
  // cd checked.
  for (std::uint32_t designation : {2412u, 12u}) {
    const Body body = naca_body(designation);
    ViscousConfig config = config_at(1e6);
    config.tolerance = 1e-8;
    auto contour = prepare_contour("a", solver_nodes(body), config);
    ASSERT_TRUE(contour.has_value());
    ViscousState warm = cold_state(*contour, OperMode::PrescribedAlpha, 0.0);
    auto first = solve_cold(*contour, warm, config);
    ASSERT_TRUE(first.has_value() && first->converged);
    int compared = 0;
    for (double alpha : {2.0, 4.0, 6.0, 8.0, 10.0}) {
      SCOPED_TRACE(::testing::Message() << "NACA " << designation << " alpha " << alpha);
      auto w = solve_warm(*contour, warm, OperMode::PrescribedAlpha, alpha, config);
      ASSERT_TRUE(w.has_value());
      ASSERT_TRUE(w->converged);
      EXPECT_NEAR(w->alpha_deg, alpha, 1e-12);
      ViscousState cold = cold_state(*contour, OperMode::PrescribedAlpha, alpha);
      auto c = solve_cold(*contour, cold, config);
      ASSERT_TRUE(c.has_value());
      if (!c->converged) continue;
      ++compared;
      EXPECT_NEAR(w->cl, c->cl, 1e-6);
      EXPECT_NEAR(w->cd, c->cd, 1e-5 * c->cd);
      EXPECT_NEAR(w->cm, c->cm, 1e-6);
      EXPECT_NEAR(w->x_tr_upper, c->x_tr_upper, 1e-6);
    }
    EXPECT_GE(compared, 4);
  }
}

}  // namespace
}  // namespace velaro
