#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "geometry/body.h"
#include "geometry/naca.h"
#include "inviscid/inviscid_error.h"
#include "viscous/viscous_error.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/station_indexing.h"
#include "viscous/wake_setup.h"

#include "viscous_fixtures.h"

using namespace velaro;
using velaro::testing::closed_naca00;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string error_of(const ViscousConfig& c, double alpha_deg = 2.0,
                     const std::vector<Point>& pts = generate_naca4(12, 21)) {
  auto r = build_state_from_coords("airfoil", pts, c, alpha_deg);
  return r ? std::string("ok") : r.error().to_string();
}

}  // namespace

TEST(ViscousErrorText, DisplayTexts) {
  EXPECT_EQ(ViscousError::message("plain").to_string(), "plain");
  EXPECT_EQ(ViscousError::geometry("bad contour").to_string(), "geometry error: bad contour");
  EXPECT_EQ(ViscousError::from(InviscidError::singular_matrix()).to_string(),
            "inviscid solver error: Singular influence matrix - check geometry");
  EXPECT_EQ(ViscousError::from(InviscidError::insufficient_points(4)).to_string(),
            "inviscid solver error: Insufficient points: need at least 10, got 4");
  EXPECT_EQ(ViscousError::from(InviscidError::singular_matrix()).kind, ViscousError::Kind::Inviscid);
}

TEST(SetupValidation, MessagesInOrder) {
  const ViscousConfig good{};
  EXPECT_EQ(error_of(good), "ok");
  auto with = [&](auto edit) {
    ViscousConfig c = good;
    edit(c);
    return error_of(c);
  };
  EXPECT_EQ(with([](auto& c) { c.reynolds = 0.0; }), "Reynolds number must be positive");
  EXPECT_EQ(with([](auto& c) { c.reynolds = -1e6; }), "Reynolds number must be positive");
  EXPECT_EQ(with([](auto& c) { c.mach = 1.0; }), "Mach number must be in [0, 1)");
  EXPECT_EQ(with([](auto& c) { c.mach = -0.1; }), "Mach number must be in [0, 1)");
  EXPECT_EQ(with([](auto& c) { c.mach = 0.0; }), "ok");
  EXPECT_EQ(with([](auto& c) { c.ncrit = -1.0; }), "Ncrit must be non-negative");
  EXPECT_EQ(with([](auto& c) { c.ncrit = 0.0; }), "ok");
  EXPECT_EQ(with([](auto& c) { c.max_iterations = 0; }), "max_iterations must be non-zero");
  EXPECT_EQ(with([](auto& c) { c.tolerance = 0.0; }), "tolerance must be positive");
  // The first failing check wins.
  EXPECT_EQ(with([](auto& c) {
              c.mach = 2.0;
              c.reynolds = 0.0;
              c.tolerance = -1.0;
            }),
            "Reynolds number must be positive");
  EXPECT_EQ(with([](auto& c) {
              c.ncrit = -1.0;
              c.max_iterations = 0;
            }),
            "Ncrit must be non-negative");
  // Parameter checks come before the node count.
  ViscousConfig c = good;
  c.reynolds = 0.0;
  EXPECT_EQ(error_of(c, 0.0, generate_naca4(12, 3)), "Reynolds number must be positive");
}

TEST(SetupValidation, NonFiniteParametersAreRejected) {
  const ViscousConfig good{};
  auto with = [&](auto edit, double alpha = 2.0) {
    ViscousConfig c = good;
    edit(c);
    return error_of(c, alpha);
  };
  for (double bad : {kNaN, kInf, -kInf}) {
    EXPECT_EQ(with([&](auto& c) { c.reynolds = bad; }), "Reynolds number must be positive") << bad;
    EXPECT_EQ(with([&](auto& c) { c.mach = bad; }), "Mach number must be in [0, 1)") << bad;
    EXPECT_EQ(with([&](auto& c) { c.ncrit = bad; }), "Ncrit must be non-negative") << bad;
    EXPECT_EQ(with([](auto&) {}, bad), "Angle of attack must be finite") << bad;
  }
  EXPECT_EQ(with([](auto& c) { c.tolerance = kNaN; }), "tolerance must be positive");
  EXPECT_EQ(with([](auto& c) { c.wake_length = kNaN; }), "wake_length must be finite and at most 1000 chords");
  EXPECT_EQ(with([](auto& c) { c.wake_length = 1e12; }), "wake_length must be finite and at most 1000 chords");
  EXPECT_EQ(with([](auto& c) { c.wake_length = 0.0; }), "ok");  // no wake is allowed
}

TEST(SetupValidation, GeometryFailuresAreInviscidErrors) {
  const ViscousConfig c{};
  std::vector<Point> nine = generate_naca4(12, 5);  // 9 nodes
  ASSERT_EQ(nine.size(), 9u);
  EXPECT_EQ(error_of(c, 0.0, nine), "inviscid solver error: Insufficient points: need at least 10, got 9");
  std::vector<Point> dup = generate_naca4(12, 21);
  dup.insert(dup.begin() + 8, dup[7]);
  EXPECT_EQ(error_of(c, 0.0, dup), "inviscid solver error: Duplicate points at index 7");
}

TEST(CoordsFromBody, KeepsTheClosingPointOfAClosedContour) {
  const auto closed = closed_naca00(0.12, 31);
  auto body = Body::from_points(closed);
  ASSERT_TRUE(body.has_value());
  const auto nodes = coords_from_body(body->panels());
  ASSERT_EQ(nodes.size(), body->panels().size() + 1);
  EXPECT_EQ(nodes.front(), nodes.back());
  EXPECT_EQ(nodes, closed);
  // An open contour gains its last point the same way.
  const auto open = generate_naca4(12, 31);
  auto body2 = Body::from_points(open);
  ASSERT_TRUE(body2.has_value());
  EXPECT_EQ(coords_from_body(body2->panels()), open);
  EXPECT_TRUE(coords_from_body({}).empty());
}

TEST(CoordsFromBody, ClosedSymmetricSectionHasSharpEdgeSymmetricBaseAndNoLift) {
  // Through the whole set-up path: body, node list, geometry, system.
  auto body = Body::from_points(closed_naca00(0.12, 61));
  ASSERT_TRUE(body.has_value());
  auto op = build_state_from_coords(body->name(), coords_from_body(body->panels()), ViscousConfig{}, 0.0);
  ASSERT_TRUE(op.has_value());
  ViscousState& st = op->state;
  const std::size_t n = st.node_count();
  // A sharp edge without a gap: nodes 0 and n-1 coincide.
  EXPECT_TRUE(st.sharp_te);
  EXPECT_EQ(op->system.geometry.dste, 0.0);
  EXPECT_EQ(st.ante, 0.0);
  EXPECT_TRUE(op->system.control.has_value());
  // Mirror-symmetric base solution.
  double scale = 0.0;
  for (double q : st.qinvu_0) scale = std::max(scale, std::abs(q));
  for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(st.qinvu_0[i], -st.qinvu_0[n - 1 - i], 1e-10 * scale) << i;
  // Zero lift: the circulation of the surface speed vanishes.
  double circulation = 0.0;
  for (std::size_t i = 0; i + 1 < n; ++i) circulation += 0.5 * (st.qinvu_0[i] + st.qinvu_0[i + 1]) * (st.s[i + 1] - st.s[i]);
  EXPECT_NEAR(circulation, 0.0, 1e-10);
  // The wake starts on the trailing edge, on the symmetry line, with no gap.
  combine_base_solutions_at_alpha(st, 0.0);
  refresh_wake_geometry(st, op->system, ViscousConfig{});
  ASSERT_GT(st.wake_count(), 0u);
  EXPECT_NEAR(st.wake_y[0], 0.0, 1e-12);
  EXPECT_NEAR(st.wake_x[0], st.x[0] + 1e-4, 1e-12);
  for (double y : st.wake_y) EXPECT_NEAR(y, 0.0, 1e-9);
  update_wgap(st);
  for (double g : st.wgap) EXPECT_EQ(g, 0.0);
}

TEST(Setup, InitialState) {
  const auto pts = generate_naca4(2412, 31);
  auto op = build_state_from_coords("my section", pts, ViscousConfig{}, 4.5);
  ASSERT_TRUE(op.has_value());
  const ViscousState& st = op->state;
  const std::size_t n = pts.size();
  EXPECT_EQ(st.name, "my section");
  EXPECT_EQ(st.mode, OperMode::PrescribedAlpha);
  EXPECT_EQ(st.cl_spec, 4.5);
  EXPECT_EQ(st.alpha, 4.5 * 0.017453292519943295);
  EXPECT_EQ(st.node_count(), n);
  EXPECT_EQ(st.s, op->system.geometry.s);
  EXPECT_EQ(st.qinvu_0, op->system.gamu_0);
  EXPECT_EQ(st.gamu_90, op->system.gamu_90);
  for (const auto* v : {&st.qinv, &st.qinv_a, &st.qvis, &st.gam, &st.gam_a, &st.qnew, &st.q_ac}) {
    EXPECT_EQ(v->size(), n);
    for (double e : *v) EXPECT_EQ(e, 0.0);
  }
  EXPECT_TRUE(st.wake_x.empty() && st.wgap.empty() && st.wake_qinv.empty());
  EXPECT_EQ(st.dij.size(), 0);
  EXPECT_FALSE(st.wake_built || st.dij_built || st.dij_current || st.bl_initialised || st.converged);
  EXPECT_TRUE(st.rows[0].empty() && st.ipan[1].empty() && st.unew_flat.empty());
  EXPECT_EQ(st.rlx, 1.0);
  EXPECT_EQ(st.chord, op->system.geometry.chord);
  EXPECT_FALSE(st.sharp_te);
  EXPECT_GT(st.ante, 0.0);
}

TEST(WakeSetup, BuiltOnceForAnAngleAndMarksTheMatrixStale) {
  auto op = build_state_from_coords("a", generate_naca4(12, 81), ViscousConfig{}, 3.0);
  ASSERT_TRUE(op.has_value());
  ViscousState& st = op->state;
  const ViscousConfig cfg{};
  combine_base_solutions_at_alpha(st, st.alpha);
  st.dij_current = true;
  EXPECT_TRUE(refresh_wake_geometry(st, op->system, cfg));
  EXPECT_EQ(st.wake_count(), 10u + 161u / 12u);
  EXPECT_FALSE(st.dij_current);
  EXPECT_TRUE(st.wake_built);
  st.dij_current = true;
  st.alpha += 5e-6;  // within the tolerance: kept
  EXPECT_FALSE(refresh_wake_geometry(st, op->system, cfg));
  EXPECT_TRUE(st.dij_current);
  st.alpha += 1e-4;
  EXPECT_TRUE(refresh_wake_geometry(st, op->system, cfg));
  compute_wake_inviscid_speeds(st, op->system);
  ASSERT_EQ(st.wake_qinv.size(), st.wake_count());
  EXPECT_EQ(st.wake_qinvu_0[0], st.qinvu_0[st.node_count() - 1]);
  // No wake asked for: nothing built.
  auto op2 = build_state_from_coords("a", generate_naca4(12, 81), ViscousConfig{}, 3.0);
  ViscousConfig none;
  none.wake_length = 0.0;
  EXPECT_FALSE(refresh_wake_geometry(op2->state, op2->system, none));
  EXPECT_EQ(op2->state.wake_count(), 0u);
}
