#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "geometry/geometry_fixtures.h"
#include "geometry/naca.h"
#include "geometry/natural_spline.h"
#include "geometry/repanel.h"

using velaro::Point;
using velaro::RepanelError;
using velaro::RepanelParams;

using velaro::test::dist;
using velaro::test::flatten;

namespace {

// Dense polyline of the exact NACA 4-digit section (open trailing edge,
// quartic coefficient -0.1015, thickness added vertically to the camber
// line as the generator does), upper surface from the trailing edge to
// the leading edge and back along the lower surface.
std::vector<Point> exact_naca4(int designation) {
  const double m = (designation / 1000) / 100.0;
  const double p = ((designation % 1000) / 100) / 10.0;
  const double t = (designation % 100) / 100.0;
  const int k = 20000;
  std::vector<Point> upper, lower;
  for (int i = 0; i <= k; ++i) {
    const double beta = std::numbers::pi * i / k;
    const double xc = 0.5 * (1.0 - std::cos(beta));
    const double yt = 5.0 * t *
                      (0.2969 * std::sqrt(xc) - 0.126 * xc - 0.3516 * xc * xc + 0.2843 * xc * xc * xc -
                       0.1015 * xc * xc * xc * xc);
    double yc = 0.0;
    if (p > 0.0) {
      yc = (xc < p) ? m / (p * p) * (2.0 * p * xc - xc * xc)
                    : m / ((1 - p) * (1 - p)) * (1.0 - 2.0 * p + 2.0 * p * xc - xc * xc);
    }
    upper.push_back({xc, yc + yt});
    lower.push_back({xc, yc - yt});
  }
  std::vector<Point> out(upper.rbegin(), upper.rend());
  out.insert(out.end(), lower.begin() + 1, lower.end());
  return out;
}

double distance_to_polyline(const Point& q, const std::vector<Point>& line) {
  double best = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    const Point& a = line[i];
    const Point& b = line[i + 1];
    const double vx = b.x - a.x, vy = b.y - a.y;
    const double len2 = vx * vx + vy * vy;
    double f = len2 > 0 ? ((q.x - a.x) * vx + (q.y - a.y) * vy) / len2 : 0.0;
    f = std::clamp(f, 0.0, 1.0);
    best = std::min(best, std::hypot(q.x - a.x - f * vx, q.y - a.y - f * vy));
  }
  return best;
}

std::vector<double> panel_lengths(const std::vector<Point>& pts) {
  std::vector<double> out;
  for (std::size_t i = 0; i + 1 < pts.size(); ++i) out.push_back(dist(pts[i], pts[i + 1]));
  return out;
}

bool all_finite(const std::vector<Point>& pts) {
  return std::all_of(pts.begin(), pts.end(), [](const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
}

}  // namespace

class RepanelNaca : public ::testing::TestWithParam<int> {};

TEST_P(RepanelNaca, NodesStayOnTheSectionAndClusterAtTheEnds) {
  const int designation = GetParam();
  const auto input = velaro::generate_naca4(static_cast<std::uint32_t>(designation), 123);
  const auto coords = flatten(input);
  auto out = velaro::repanel_coordinates(coords, 160);
  ASSERT_TRUE(out);
  ASSERT_EQ(out->size(), 160u);
  ASSERT_TRUE(all_finite(*out));

  // The contour keeps its ends.
  EXPECT_EQ(out->front(), input.front());
  EXPECT_NEAR(out->back().x, input.back().x, 1e-12);
  EXPECT_NEAR(out->back().y, input.back().y, 1e-12);

  // Every node lies on the section itself, not just on the spline through
  // its 245 points. A chord-length cubic spline interpolates a smooth curve
  // to O(h^4 / R^3); with the input spacing h <= 0.013 chord and the radius
  // of curvature R >= 0.016 chord (leading edge, where h is 0.0003) that is
  // below 1e-7 chord (measured: 4e-8 for the 0012, 1.5e-7 for the 4412 whose
  // camber kink at x = p bounds it). The dense reference polyline adds less
  // than 1e-9. 1e-6 chord leaves margin and is far below the smallest
  // output panel.
  const auto exact = exact_naca4(designation);
  double worst = 0.0;
  for (const Point& p : *out) worst = std::max(worst, distance_to_polyline(p, exact));
  EXPECT_LT(worst, 1e-6);

  // Panels are shortest at the leading edge: the shortest panel touches
  // one of the three nodes nearest the smallest-x node.
  const auto lengths = panel_lengths(*out);
  const auto le = static_cast<std::ptrdiff_t>(
      std::min_element(out->begin(), out->end(), [](const Point& a, const Point& b) { return a.x < b.x; }) -
      out->begin());
  const auto shortest = std::min_element(lengths.begin(), lengths.end()) - lengths.begin();
  EXPECT_LE(std::abs(shortest - le), 3) << "shortest panel " << shortest << ", leading edge " << le;
  // The default trailing-edge spacing ratio (0.667) makes the trailing-edge
  // panels shorter than their neighbours on both surfaces, and much longer
  // than the leading-edge panels are the mid-chord ones.
  const std::size_t np = lengths.size();
  EXPECT_LT(lengths[0], lengths[1]);
  EXPECT_LT(lengths[np - 1], lengths[np - 2]);
  EXPECT_NEAR(lengths[0] / lengths[1], 0.667, 0.1);
  EXPECT_NEAR(lengths[np - 1] / lengths[np - 2], 0.667, 0.1);
  EXPECT_GT(lengths[np / 4], 3.0 * lengths[shortest]);
}

INSTANTIATE_TEST_SUITE_P(Sections, RepanelNaca, ::testing::Values(12, 4412));

TEST(Repanel, SpacingRatioAndCurvatureParameterShapeTheDistribution) {
  const auto coords = flatten(velaro::generate_naca4(12, 123));
  auto even = velaro::repanel_coordinates(coords, 120, RepanelParams{0.0, 0.15, 1.0});
  ASSERT_TRUE(even);
  // Without curvature attraction and with a unit spacing ratio the working
  // nodes are equally spaced in chord length from the start.
  const auto le = panel_lengths(*even);
  const auto [mn, mx] = std::minmax_element(le.begin(), le.end());
  EXPECT_LT(*mx / *mn, 1.05);

  auto strong = velaro::repanel_coordinates(coords, 120, RepanelParams{2.0, 0.15, 1.0});
  auto weak = velaro::repanel_coordinates(coords, 120, RepanelParams{0.5, 0.15, 1.0});
  ASSERT_TRUE(strong && weak);
  const auto ls = panel_lengths(*strong);
  const auto lw = panel_lengths(*weak);
  EXPECT_LT(*std::min_element(ls.begin(), ls.end()), *std::min_element(lw.begin(), lw.end()));

  // Lowering the spacing ratio shortens the trailing-edge panels relative
  // to their neighbours on both surfaces.
  double previous_upper = 2.0, previous_lower = 2.0;
  for (double ratio : {1.0, 0.8, 0.667, 0.55}) {
    auto out = velaro::repanel_coordinates(coords, 120, RepanelParams{1.0, 0.15, ratio});
    ASSERT_TRUE(out);
    const auto lt = panel_lengths(*out);
    const double upper = lt[0] / lt[1];
    const double lower = lt.back() / lt[lt.size() - 2];
    EXPECT_LT(upper, previous_upper);
    EXPECT_LT(lower, previous_lower);
    previous_upper = upper;
    previous_lower = lower;
  }
}

TEST(Repanel, FewerThanThreeNodesAreRefused) {
  const auto input = velaro::generate_naca4(2412, 40);
  const auto coords = flatten(input);
  for (std::uint64_t n : {0u, 1u, 2u}) {
    auto out = velaro::repanel_coordinates(coords, n);
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().kind, RepanelError::Kind::TooFewNodes);
  }
  auto three = velaro::repanel_coordinates(coords, 3);
  ASSERT_TRUE(three);
  EXPECT_EQ(three->size(), 3u);
  EXPECT_TRUE(all_finite(*three));
}

TEST(Repanel, InvalidInputGivesAnEmptyList) {
  const std::vector<double> five{1, 0, 0, 0, 1};
  const std::vector<double> odd{1, 0, 0, 0, 1, 0.1, 2};
  const std::vector<double> dup{1, 0, 0.5, 0.1, 0.5, 0.1, 0, 0, 1, -0.1};
  for (const auto& c : {five, odd, dup}) {
    auto out = velaro::repanel_coordinates(c, 50);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->empty());
  }
  auto coords = flatten(velaro::generate_naca4(12, 30));
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    auto c = coords;
    c[7] = bad;
    auto out = velaro::repanel_coordinates(c, 50);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->empty());
    auto p = velaro::repanel_coordinates(coords, 50, RepanelParams{bad, 0.15, 0.667});
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->empty());
  }
  // Coordinates so large that the chord length overflows.
  std::vector<double> huge{1e308, 0, 0, 1e308, -1e308, 0, 0, -1e308};
  auto h = velaro::repanel_coordinates(huge, 50);
  ASSERT_TRUE(h);
  EXPECT_TRUE(h->empty());
}

TEST(Repanel, AbsurdNodeCountsAreRefusedBeforeAllocating) {
  const auto coords = flatten(velaro::generate_naca4(12, 30));
  for (std::uint64_t n : {std::uint64_t{1} << 62, std::numeric_limits<std::uint64_t>::max(),
                          velaro::max_repanel_nodes() + 1}) {
    auto out = velaro::repanel_coordinates(coords, n);
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().kind, RepanelError::Kind::TooManyNodes);
    EXPECT_NE(out.error().to_string().find("too large"), std::string::npos);
  }
}

TEST(Repanel, DegenerateContoursTerminateWithFinitePointsOrNothing) {
  std::vector<std::vector<double>> shapes;
  shapes.push_back({0, 0, 1, 0, 2, 0});                        // three collinear points
  shapes.push_back({0, 0, 1, 0, 2, 0, 3, 0, 4, 0});            // a straight line
  shapes.push_back({1, 0, 0, 1, -1, 0, 0, -1, 1, 0});          // closed diamond
  shapes.push_back({0, 0, 1, 1, 1, 0, 0, 1, 0, 0});            // self-intersecting bow tie
  shapes.push_back({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});      // back and forth on itself
  shapes.push_back({0, 0, 1e-13, 0, 2e-13, 1e-13, 0, 1e-13});  // tiny but splinable
  std::vector<double> zigzag;
  for (int i = 0; i < 200; ++i) {
    zigzag.push_back(1.0 - i / 199.0);
    zigzag.push_back((i % 2 ? 1.0 : -1.0) * 0.3);
  }
  shapes.push_back(zigzag);
  const std::vector<RepanelParams> params{{}, {50.0, 5.0, 0.01}, {-1.0, -2.0, -3.0}, {1.0, 0.15, 1e6},
                                          {1.0, 0.15, 0.0}, {1e6, 1e6, 0.5}};
  for (const auto& shape : shapes) {
    for (const auto& prm : params) {
      auto out = velaro::repanel_coordinates(shape, 40, prm);
      ASSERT_TRUE(out);
      EXPECT_TRUE(out->empty() || (out->size() == 40 && all_finite(*out)));
    }
  }
}

TEST(Repanel, ResamplerFromASplineUsesItsDefaults) {
  const auto input = velaro::generate_naca4(12, 60);
  auto spline = velaro::CubicSpline::from_points(input);
  ASSERT_TRUE(spline);
  auto direct = velaro::resample_by_curvature(*spline);
  auto module = velaro::repanel_coordinates(flatten(input), 160);
  ASSERT_TRUE(direct && module);
  ASSERT_EQ(direct->size(), 160u);
  EXPECT_EQ(*direct, *module);
}

TEST(Repanel, RandomContoursNeverCrashOrLeakNonFinitePoints) {
  std::uint64_t state = 0x2545f4914f6cdd1dull;
  const auto uniform = [&state](double lo, double hi) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return lo + (hi - lo) * static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  const auto base = flatten(velaro::generate_naca4(4412, 25));
  for (int trial = 0; trial < 200; ++trial) {
    auto c = base;
    const double noise = (trial % 3 == 0) ? 0.5 : 0.003;
    for (double& v : c) v += uniform(-noise, noise);
    const RepanelParams prm{uniform(-1.0, 5.0), uniform(-1.0, 2.0), uniform(-0.5, 2.0)};
    const auto n = static_cast<std::uint64_t>(uniform(0.0, 90.0));
    auto out = velaro::repanel_coordinates(c, n, prm);
    if (n < 3) {
      ASSERT_FALSE(out);
      EXPECT_EQ(out.error().kind, RepanelError::Kind::TooFewNodes);
      continue;
    }
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->empty() || out->size() == n) << trial;
    EXPECT_TRUE(all_finite(*out)) << trial;
  }
}
