// The per-thread workspace of the viscous operating point: a point solved on
// a thread that has solved others before (of the same size, a larger or a
// smaller one, or concurrently with another thread) gives exactly the result
// it gives on a fresh thread, and points never share arrays.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "geometry/body.h"
#include "viscous/driver.h"
#include "viscous/point_workspace.h"
#include "viscous_fixtures.h"

namespace velaro {
namespace {

struct Case {
  std::uint32_t designation;
  std::size_t nodes;
  double alpha;
};

Body body_of(const Case& c) {
  const auto nodes = testing::repaneled_naca(c.designation, c.nodes);
  EXPECT_TRUE(nodes.has_value());
  auto body = Body::from_points(*nodes);
  EXPECT_TRUE(body.has_value());
  return *body;
}

ViscousConfig config() {
  ViscousConfig c;
  c.reynolds = 1e6;
  return c;
}

std::optional<OperPointResult> solve(const Case& c, const DriverOptions& options = {}) {
  auto r = solve_body_oper_point(body_of(c), config(), c.alpha, options);
  EXPECT_TRUE(r.has_value()) << c.designation << " " << c.nodes << " " << c.alpha;
  if (!r) return std::nullopt;
  return *r;
}

// Bit for bit: the workspace changes where the arrays live, never a number.
bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
void expect_identical(const std::optional<OperPointResult>& a, const std::optional<OperPointResult>& b) {
  ASSERT_TRUE(a && b);
  for (auto field : {&OperPointResult::alpha_deg, &OperPointResult::cl, &OperPointResult::cd, &OperPointResult::cm,
                     &OperPointResult::x_tr_upper, &OperPointResult::x_tr_lower, &OperPointResult::residual,
                     &OperPointResult::cd_friction, &OperPointResult::cd_pressure})
    EXPECT_TRUE(same_bits((*a).*field, (*b).*field)) << (*a).*field << " vs " << (*b).*field;
  EXPECT_EQ(a->iterations, b->iterations);
  EXPECT_EQ(a->converged, b->converged);
  ASSERT_EQ(a->x_sep.has_value(), b->x_sep.has_value());
  if (a->x_sep) {
    EXPECT_TRUE(same_bits(*a->x_sep, *b->x_sep));
  }
}

// Each case solved first on a thread of its own, with nothing kept.
std::vector<std::optional<OperPointResult>> on_fresh_threads(const std::vector<Case>& cases) {
  std::vector<std::optional<OperPointResult>> out(cases.size());
  for (std::size_t k = 0; k < cases.size(); ++k) std::thread([&, k] { out[k] = solve(cases[k]); }).join();
  return out;
}

TEST(PointWorkspace, PointsInSequenceOnOneThreadMatchPointsOnFreshThreads) {
  // The same point twice, then a larger contour, a smaller one (the arrays
  // of the larger stay allocated), one too large to be kept, and the first
  // again.
  const std::vector<Case> cases{{2412, 160, 4.0}, {2412, 160, 4.0}, {4412, 240, 8.0},
                                {12, 120, 2.0},   {2412, 480, 4.0}, {2412, 160, 4.0}};
  const auto fresh = on_fresh_threads(cases);
  std::vector<std::optional<OperPointResult>> serial(cases.size());
  std::vector<std::size_t> kept(cases.size());
  std::thread([&] {
    for (std::size_t k = 0; k < cases.size(); ++k) {
      serial[k] = solve(cases[k]);
      const BorrowedPointWorkspace ws;
      kept[k] = ws->bytes_held();
    }
  }).join();
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(k);
    expect_identical(serial[k], fresh[k]);
    // Memory stays bounded: the workspace of the 480-node point is freed.
    EXPECT_LE(kept[k], kMaxKeptWorkspaceBytes);
    if (cases[k].nodes <= 240) {
      EXPECT_GT(kept[k], 0u);
    }
  }
}

TEST(PointWorkspace, ConcurrentPointsOnTwoThreadsMatchTheSerialOnes) {
  const std::vector<Case> a{{2412, 160, 4.0}, {12, 160, 6.0}, {4412, 200, 2.0}, {2412, 160, 4.0}};
  const std::vector<Case> b{{4412, 160, 0.0}, {2412, 240, -2.0}, {12, 160, 6.0}, {4412, 160, 0.0}};
  const auto fresh_a = on_fresh_threads(a);
  const auto fresh_b = on_fresh_threads(b);
  std::vector<std::optional<OperPointResult>> ra(a.size()), rb(b.size());
  std::thread ta([&] {
    for (std::size_t k = 0; k < a.size(); ++k) ra[k] = solve(a[k]);
  });
  std::thread tb([&] {
    for (std::size_t k = 0; k < b.size(); ++k) rb[k] = solve(b[k]);
  });
  ta.join();
  tb.join();
  for (std::size_t k = 0; k < a.size(); ++k) {
    SCOPED_TRACE(k);
    expect_identical(ra[k], fresh_a[k]);
    expect_identical(rb[k], fresh_b[k]);
  }
}

TEST(PointWorkspace, APointSolvedWithinAnotherGetsItsOwnArrays) {
  const Case outer{2412, 160, 4.0};
  const Case inner{4412, 200, 8.0};  // another size: shared arrays would be resized under the outer point
  const auto fresh = on_fresh_threads({outer, inner});
  std::optional<OperPointResult> r_outer, r_inner;
  int nested = 0;
  std::thread([&] {
    solve(inner);  // the thread keeps a workspace before the outer point starts
    DriverOptions options;
    // Polled once per Newton iteration of the outer point, on its thread.
    options.should_stop = [&] {
      r_inner = solve(inner);
      ++nested;
      return false;
    };
    r_outer = solve(outer, options);
  }).join();
  EXPECT_GE(nested, 2);
  expect_identical(r_outer, fresh[0]);
  expect_identical(r_inner, fresh[1]);

  // Borrowed directly: the nested borrower gets another workspace, and the
  // thread keeps one of them for the next point.
  const BorrowedPointWorkspace first;
  const PointWorkspace* kept = nullptr;
  {
    const BorrowedPointWorkspace second;
    EXPECT_NE(&*second, &*first);
    kept = &*second;
  }
  const BorrowedPointWorkspace third;
  EXPECT_EQ(&*third, kept);
}

}  // namespace
}  // namespace velaro
