#include "geometry/flap.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <tuple>

#include "common/angles.h"
#include "geometry/natural_spline.h"

namespace velaro {
namespace {

// Fraction of the distance to the next node at which a point is placed
// beside a break.
constexpr double kBreakFraction = 1.0 / 3.0;

double distance(const Point& a, const Point& b) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  return std::sqrt(dx * dx + dy * dy);
}

// A point to be placed beside a break: either a new node (is_new) or the
// new position of the existing neighbour.
struct BreakNeighbour {
  bool is_new = false;
  Point p;
};

// Merges panels that are shorter than a fifth of a neighbouring panel,
// pass after pass until nothing changes. The first and last panels are
// never merged; zero-length panels are left alone. Only nodes flagged in
// `movable` (those beside the flap's break points) may be merged away: a
// merge lengthens the panels next to it, so on a densely paneled surface an
// unrestricted merge runs on along the whole surface and eats it. The
// flags travel with the points; a merged node stays movable.
void merge_short_panels(std::vector<Point>& pts, std::vector<char>& movable) {
  bool changed = true;
  while (changed && pts.size() >= 4) {
    changed = false;
    std::vector<Point> out;
    std::vector<char> out_movable;
    out.reserve(pts.size());
    out_movable.reserve(pts.size());
    out.push_back(pts[0]);
    out.push_back(pts[1]);
    out_movable.push_back(movable[0]);
    out_movable.push_back(movable[1]);
    // out.back() is p[i+1], out[out.size() - 2] is p[i], pts[r] is p[i+2].
    std::size_t r = 2;
    while (r + 1 < pts.size()) {
      const Point& p0 = out[out.size() - 2];
      Point& p1 = out.back();
      const Point& p2 = pts[r];
      const Point& p3 = pts[r + 1];
      const double d1 = distance(p0, p1);
      const double d2 = distance(p1, p2);
      const double d3 = distance(p2, p3);
      if (out_movable.back() && movable[r] && d2 != 0.0 && (d2 < 0.2 * d1 || d2 < 0.2 * d3)) {
        p1 = {0.5 * (p1.x + p2.x), 0.5 * (p1.y + p2.y)};
        ++r;  // p[i+2] is gone; look at the same i again
        changed = true;
      } else {
        out.push_back(p2);
        out_movable.push_back(movable[r]);
        ++r;
      }
    }
    for (; r < pts.size(); ++r) {
      out.push_back(pts[r]);
      out_movable.push_back(movable[r]);
    }
    pts = std::move(out);
    movable = std::move(out_movable);
  }
}

// Nodes on either side of a break region [first, last] that the clean-up may
// merge.
constexpr std::ptrdiff_t kMergeReach = 2;

void mark_movable(std::vector<char>& movable, std::ptrdiff_t first, std::ptrdiff_t last) {
  const auto size = static_cast<std::ptrdiff_t>(movable.size());
  for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(first - kMergeReach, 0);
       i <= std::min(last + kMergeReach, size - 1); ++i)
    movable[static_cast<std::size_t>(i)] = 1;
}

// The panel from node i to node i + 1 joins the fixed part to the rotated
// flap across a surface the deflection stretched open. Where it is more than
// five times as long as a panel next to it, it is divided into equal parts
// no longer than four times the shorter neighbour, so that the surface
// panels beside it are kept instead of being merged into it.
void split_open_panel(std::vector<Point>& pts, std::ptrdiff_t i) {
  const auto n = static_cast<std::ptrdiff_t>(pts.size());
  if (i < 1 || i + 2 >= n) return;
  const Point a = pts[i], b = pts[i + 1];
  const double gap = distance(a, b);
  const double shorter = std::min(distance(pts[i - 1], a), distance(b, pts[i + 2]));
  if (!(shorter > 0.0) || !(gap > 5.0 * shorter)) return;
  const double parts = std::ceil(gap / (4.0 * shorter));
  // Bounded: a gap cannot need more parts than the contour has points.
  const auto k = static_cast<std::ptrdiff_t>(std::min(parts, static_cast<double>(n)));
  std::vector<Point> inner;
  inner.reserve(static_cast<std::size_t>(k - 1));
  for (std::ptrdiff_t j = 1; j < k; ++j) {
    const double f = static_cast<double>(j) / static_cast<double>(k);
    inner.push_back({a.x + f * (b.x - a.x), a.y + f * (b.y - a.y)});
  }
  pts.insert(pts.begin() + i + 1, inner.begin(), inner.end());
}

}  // namespace

double invert_spline(const ScalarSpline& spline, double s_guess, double target) {
  const auto& knots = spline.s();
  const double span = knots.size() >= 2 ? knots.back() - knots.front() : 0.0;
  double s = s_guess;
  for (int it = 0; it < 10; ++it) {
    const double slope = spline.deriv(s);
    if (std::abs(slope) < 1e-30) return s_guess;
    const double ds = -(spline.eval(s) - target) / slope;
    s += ds;
    if (knots.size() >= 2 && span != 0.0 && std::abs(ds) / span < 1e-5) return s;
  }
  return s_guess;
}

BreakResidual break_residual(const ScalarSpline& xspl, const ScalarSpline& yspl, double sg, double sind,
                             double xbf, double ybf, double s1, double s2) {
  BreakResidual out;
  const double x1 = xspl.eval(s1), y1 = yspl.eval(s1);
  const double x2 = xspl.eval(s2), y2 = yspl.eval(s2);
  const double x1d = xspl.deriv(s1), y1d = yspl.deriv(s1);
  const double x2d = xspl.deriv(s2), y2d = yspl.deriv(s2);
  const double r1 = std::sqrt((x1 - xbf) * (x1 - xbf) + (y1 - ybf) * (y1 - ybf));
  const double r2 = std::sqrt((x2 - xbf) * (x2 - xbf) + (y2 - ybf) * (y2 - ybf));
  if (r1 == 0.0 || r2 == 0.0) return out;
  // Hinge distances and their derivatives along the surface.
  const double r1d = ((x1 - xbf) * x1d + (y1 - ybf) * y1d) / r1;
  const double r2d = ((x2 - xbf) * x2d + (y2 - ybf) * y2d) / r2;

  if (sind > 0.01) {
    const double dx = x2 - x1, dy = y2 - y1;
    const double c2 = dx * dx + dy * dy;
    if (c2 == 0.0) return out;
    const double c = std::sqrt(c2);
    const double ax = xbf - x1, ay = ybf - y1;
    // Projection of the hinge vector on the chord, minus the fold's share.
    const double num = ax * dx + ay * dy;
    out.res1 = num / c - sind * r1;
    out.res2 = r1 - r2;
    const double dnum1 = -(x1d * (dx + ax) + y1d * (dy + ay));
    const double dnum2 = ax * x2d + ay * y2d;
    const double dc1 = -(dx * x1d + dy * y1d) / c;
    const double dc2 = (dx * x2d + dy * y2d) / c;
    out.j11 = dnum1 / c - num * dc1 / c2 - sind * r1d;
    out.j12 = dnum2 / c - num * dc2 / c2;
    out.j21 = r1d;
    out.j22 = -r2d;
  } else {
    const double x1dd = xspl.second_derivative(s1), y1dd = yspl.second_derivative(s1);
    const double x2dd = xspl.second_derivative(s2), y2dd = yspl.second_derivative(s2);
    const double ex = x1 + x2 - 2.0 * xbf, ey = y1 + y2 - 2.0 * ybf;
    const double tx = x1d + x2d, ty = y1d + y2d;
    out.res1 = (s1 - s2) * sg + (r1 + r2) * sind;
    out.res2 = ex * tx + ey * ty;
    out.j11 = sg + sind * r1d;
    out.j12 = -sg + sind * r2d;
    out.j21 = x1d * tx + ex * x1dd + y1d * ty + ey * y1dd;
    out.j22 = x2d * tx + ex * x2dd + y2d * ty + ey * y2dd;
  }
  out.valid = true;
  return out;
}

std::pair<double, double> break_positions(const ScalarSpline& xspl, const ScalarSpline& yspl, int side,
                                          double s_guess, double angle, double xbf, double ybf) {
  const auto& knots = xspl.s();
  const double stot = knots.size() >= 2 ? std::abs(knots.back() - knots.front()) : 0.0;
  const double sind = std::sin(0.5 * std::abs(angle));
  const double sg = (side == 1) ? -1.0 : 1.0;
  const double eps = 1e-5 * stot;
  const auto hinge_distance = [&](double s) {
    const double dx = xspl.eval(s) - xbf;
    const double dy = yspl.eval(s) - ybf;
    return std::sqrt(dx * dx + dy * dy);
  };

  const double g = (sind * hinge_distance(s_guess) + eps) * sg;
  double s1 = s_guess - g;
  double s2 = s_guess + g;
  const double limit = 0.01 * stot;
  for (int it = 0; it < 10; ++it) {
    if (hinge_distance(s1) <= eps || hinge_distance(s2) <= eps) return {s_guess, s_guess};
    const BreakResidual r = break_residual(xspl, yspl, sg, sind, xbf, ybf, s1, s2);
    if (!r.valid) return {s1, s2};
    const double det = r.j11 * r.j22 - r.j12 * r.j21;
    if (!(std::abs(det) >= 1e-30)) break;
    const double ds1 = std::clamp(-(r.j22 * r.res1 - r.j12 * r.res2) / det, -limit, limit);
    const double ds2 = std::clamp(-(r.j11 * r.res2 - r.j21 * r.res1) / det, -limit, limit);
    s1 += ds1;
    s2 += ds2;
    if (std::abs(ds1) + std::abs(ds2) < eps) break;
  }
  if (angle == 0.0) {
    const double mid = 0.5 * (s1 + s2);
    s1 = mid;
    s2 = mid;
  }
  return {s1, s2};
}

namespace {

using Index = std::ptrdiff_t;

// The contour splined over its cumulative chord length.
struct SplinedContour {
  std::vector<double> s, x, y;
  ScalarSpline xspl, yspl;
  Point at(double u) const { return {xspl.eval(u), yspl.eval(u)}; }
};

SplinedContour spline_contour(std::span<const Point> points) {
  SplinedContour c;
  const std::size_t n = points.size();
  c.s = chord_length_knots(points);
  c.x.resize(n);
  c.y.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    c.x[i] = points[i].x;
    c.y[i] = points[i].y;
  }
  c.xspl = *ScalarSpline::create(c.s, c.x);
  c.yspl = *ScalarSpline::create(c.s, c.y);
  return c;
}

// The hinge (x, y) and the arc positions of the upper and lower surface
// points at the hinge x.
struct Hinge {
  double x = 0.0;
  double y = 0.0;
  double s_top = 0.0;
  double s_bot = 0.0;
};

Hinge place_hinge(const SplinedContour& c, double hinge_x_frac, double hinge_y_frac) {
  const std::size_t n = c.x.size();
  double x_min = c.x[0], x_max = c.x[0];
  for (double x : c.x) {
    if (x < x_min) x_min = x;
    if (x > x_max) x_max = x;
  }
  Hinge h;
  h.x = x_min + hinge_x_frac * std::max(x_max - x_min, 1e-10);
  // Surface heights at the hinge x, searched from the two trailing-edge ends.
  h.s_top = invert_spline(c.xspl, c.s[0] + (c.x[0] - h.x), h.x);
  h.s_bot = invert_spline(c.xspl, c.s[n - 1] - (c.x[n - 1] - h.x), h.x);
  const double y_top = c.yspl.eval(h.s_top);
  const double y_bot = c.yspl.eval(h.s_bot);
  h.y = y_bot + (y_top - y_bot) * std::clamp(hinge_y_frac, 0.0, 1.0);
  return h;
}

// Fold angles of the upper and lower surface at the breaks for a deflection
// of rdef radians: the surface on the inside of the fold is cut, the other
// one opens. A hinge outside the section folds both surfaces alike.
struct FoldAngles {
  double top = 0.0;
  double bot = 0.0;
};

FoldAngles fold_angles(const SplinedContour& c, const Hinge& h, double rdef) {
  const std::size_t n = c.x.size();
  // An odd number of crossings of y = h.y right of the hinge by the closed
  // contour puts the hinge inside the section.
  std::size_t crossings = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t j = (i + 1 < n) ? i + 1 : 0;
    const double di = c.y[i] - h.y;
    const double dj = c.y[j] - h.y;
    if ((di > 0.0) == (dj > 0.0)) continue;
    const double xc = c.x[i] + (c.x[j] - c.x[i]) * di / (di - dj);
    if (xc > h.x) ++crossings;
  }
  FoldAngles a;
  if (crossings % 2 == 1) {
    a.top = std::max(0.0, -rdef);
    a.bot = std::max(0.0, rdef);
  } else {
    const double chx = c.xspl.deriv(h.s_bot) - c.xspl.deriv(h.s_top);
    const double chy = c.yspl.deriv(h.s_bot) - c.yspl.deriv(h.s_top);
    const double fvx = c.xspl.eval(h.s_bot) + c.xspl.eval(h.s_top);
    const double fvy = c.yspl.eval(h.s_bot) + c.yspl.eval(h.s_top);
    if ((h.y - 0.5 * fvy) * chx > (h.x - 0.5 * fvx) * chy) {
      a.top = a.bot = std::max(0.0, rdef);
    } else {
      a.top = a.bot = std::max(0.0, -rdef);
    }
  }
  return a;
}

// Arc positions of the four break points: st1, sb1 on the fixed part of the
// upper and lower surface, st2, sb2 on the flap.
struct BreakArcs {
  double st1, st2, sb1, sb2;
};

// Nodes beside the breaks: it1 first fixed node of the upper surface, it2
// last flap node before the upper break, ib1 last fixed node of the lower
// surface, ib2 first flap node after the lower break. `found` is false when
// a break lies outside the contour's knot range.
struct BreakNodes {
  Index it1 = 1, it2 = 1, ib1 = 1, ib2 = 1;
  bool found = false;
};

BreakNodes locate_break_nodes(std::span<const double> s, const BreakArcs& b) {
  BreakNodes k;
  const Index last = static_cast<Index>(s.size()) - 1;
  bool found_t1 = false, found_t2 = false, found_b1 = false, found_b2 = false;
  for (Index i = 0; i < last; ++i) {
    if (s[i] <= b.st1 && b.st1 < s[i + 1]) k.it1 = i + 1, found_t1 = true;
    if (s[i] < b.st2 && b.st2 <= s[i + 1]) k.it2 = i, found_t2 = true;
    if (s[i] <= b.sb1 && b.sb1 < s[i + 1]) k.ib1 = i, found_b1 = true;
    if (s[i] < b.sb2 && b.sb2 <= s[i + 1]) k.ib2 = i + 1, found_b2 = true;
  }
  k.found = found_t1 && found_t2 && found_b1 && found_b2;
  return k;
}

// The point placed beside the break at arc sb, whose neighbouring node on
// the kept side is `node` and the node after that `next` (`increasing`: the
// arc grows from the break towards them). When the point a third of the way
// to `next` lies beyond `node`, that node moves there; otherwise a new node
// goes a third of the way to `node`.
BreakNeighbour neighbour_point(const SplinedContour& c, double sb, Index node, Index next, bool increasing) {
  const double q = sb + kBreakFraction * (c.s[next] - sb);
  const bool moves = increasing ? c.s[node] < q : c.s[node] > q;
  return moves ? BreakNeighbour{false, c.at(q)} : BreakNeighbour{true, c.at(sb + kBreakFraction * (c.s[node] - sb))};
}

struct BreakNeighbours {
  BreakNeighbour top_fixed, top_flap, bot_fixed, bot_flap;
};

BreakNeighbours break_neighbours(const SplinedContour& c, const BreakArcs& b, const BreakNodes& k,
                                 const FoldAngles& fold) {
  const Index last = static_cast<Index>(c.s.size()) - 1;
  BreakNeighbours nb;
  if (fold.top != 0.0) {
    nb.top_fixed = neighbour_point(c, b.st1, k.it1, std::min(k.it1 + 1, last), true);
    nb.top_flap = neighbour_point(c, b.st2, k.it2, std::max<Index>(k.it2 - 1, 0), false);
  }
  if (fold.bot != 0.0) {
    nb.bot_fixed = neighbour_point(c, b.sb1, k.ib1, std::max<Index>(k.ib1 - 1, 0), false);
    nb.bot_flap = neighbour_point(c, b.sb2, k.ib2, std::min(k.ib2 + 1, last), true);
  }
  return nb;
}

// Rotation about the hinge; positive angles turn the trailing edge down.
struct HingeRotation {
  double xbf, ybf, cs, sn;
  Point operator()(const Point& p) const {
    const double dx = p.x - xbf, dy = p.y - ybf;
    return Point{xbf + dx * cs + dy * sn, ybf - dx * sn + dy * cs};
  }
};

// Removes the surface buried between the break points of the rotated list
// and inserts the break points and their neighbours. On a badly shaped
// contour the break indices can come out of order (the lower breaks ahead of
// the upper ones, or crossed), and the deletions and insertions would then
// reach outside the list. Every such edit is checked; false means one did
// not fit and the deflection is abandoned. On success k holds the break
// indices of the edited list.
bool splice_breaks(std::vector<Point>& pts, BreakNodes& k, const BreakNeighbours& nb, const FoldAngles& fold,
                   const Point& pt1, const Point& pb1, const HingeRotation& rotate) {
  Index it1 = k.it1, it2 = k.it2, ib1 = k.ib1, ib2 = k.ib2;
  const auto size = [&pts] { return static_cast<Index>(pts.size()); };
  bool fits = true;
  const auto put = [&](Index i, const Point& p) {
    if (i >= 0 && i < size()) {
      pts[i] = p;
    } else {
      fits = false;
    }
  };

  // Drop the surface buried between the break points.
  if (const Index cnt = it1 - it2 - 1; cnt > 0) {
    pts.erase(pts.begin() + it2 + 1, pts.begin() + it1);
    it1 -= cnt;
    ib1 -= cnt;
    ib2 -= cnt;
  }
  if (const Index cnt = ib2 - ib1 - 1; cnt > 0) {
    if (ib1 + 1 < 0 || ib2 > size()) return false;
    pts.erase(pts.begin() + ib1 + 1, pts.begin() + ib2);
    ib2 = ib1 + 1;
  }

  if (fold.top != 0.0) {
    const Index npadd = 1 + (nb.top_fixed.is_new ? 1 : 0) + (nb.top_flap.is_new ? 1 : 0);
    if (it1 < 0 || it1 > size()) return false;
    pts.insert(pts.begin() + it1, static_cast<std::size_t>(npadd), Point{});
    it1 += npadd;
    ib1 += npadd;
    ib2 += npadd;
    if (nb.top_fixed.is_new) {
      put(it1 - 1, nb.top_fixed.p);
      put(it1 - 2, pt1);
    } else {
      put(it1, nb.top_fixed.p);
      put(it1 - 1, pt1);
    }
    put(nb.top_flap.is_new ? it2 + 1 : it2, rotate(nb.top_flap.p));
  }
  if (fold.bot != 0.0) {
    const Index npadd = 1 + (nb.bot_fixed.is_new ? 1 : 0) + (nb.bot_flap.is_new ? 1 : 0);
    if (ib2 < 0 || ib2 > size()) return false;
    pts.insert(pts.begin() + ib2, static_cast<std::size_t>(npadd), Point{});
    ib2 += npadd;
    if (nb.bot_fixed.is_new) {
      put(ib1 + 1, nb.bot_fixed.p);
      put(ib1 + 2, pb1);
    } else {
      put(ib1, nb.bot_fixed.p);
      put(ib1 + 1, pb1);
    }
    put(nb.bot_flap.is_new ? ib2 - 1 : ib2, rotate(nb.bot_flap.p));
  }
  k.it1 = it1;
  k.it2 = it2;
  k.ib1 = ib1;
  k.ib2 = ib2;
  return fits;
}

}  // namespace

std::vector<Point> deflect_flap_points(std::span<const Point> points, double hinge_x_frac, double hinge_y_frac,
                                       double deflection_deg) {
  const std::size_t n = points.size();
  std::vector<Point> pts(points.begin(), points.end());
  if (n <= 5 || std::abs(deflection_deg) < 1e-10) return pts;

  const SplinedContour c = spline_contour(points);
  const Hinge hinge = place_hinge(c, hinge_x_frac, hinge_y_frac);
  const double rdef = deflection_deg * kDegToRad;
  const FoldAngles fold = fold_angles(c, hinge, rdef);

  BreakArcs arcs{};
  std::tie(arcs.st1, arcs.st2) = break_positions(c.xspl, c.yspl, 1, hinge.s_top, fold.top, hinge.x, hinge.y);
  std::tie(arcs.sb1, arcs.sb2) = break_positions(c.xspl, c.yspl, 2, hinge.s_bot, fold.bot, hinge.x, hinge.y);
  const Point pt1 = c.at(arcs.st1), pb1 = c.at(arcs.sb1);

  const BreakNodes nodes = locate_break_nodes(c.s, arcs);
  // A break that falls off the contour (a hinge at or beyond the trailing
  // edge, ahead of the nose, or a contour the splines cannot follow) leaves
  // no flap to deflect: the caller gets an empty list rather than a contour
  // rotated about an arbitrary node.
  const bool finite = std::isfinite(hinge.x) && std::isfinite(hinge.y) && std::isfinite(pt1.x) &&
                      std::isfinite(pt1.y) && std::isfinite(pb1.x) && std::isfinite(pb1.y);
  if (!finite || !nodes.found) return {};

  const BreakNeighbours nb = break_neighbours(c, arcs, nodes, fold);
  const HingeRotation rotate{hinge.x, hinge.y, std::cos(rdef), std::sin(rdef)};
  const Index last = static_cast<Index>(n) - 1;
  for (Index i = 0; i <= last; ++i) {
    if (i < nodes.it1 || i > nodes.ib1) pts[i] = rotate(pts[i]);
  }
  BreakNodes spliced = nodes;
  if (!splice_breaks(pts, spliced, nb, fold, pt1, pb1, rotate)) return {};
  Index it1 = spliced.it1, it2 = spliced.it2, ib1 = spliced.ib1, ib2 = spliced.ib2;

  // Break regions after the edits: the upper corner spans it2 .. it1, the
  // lower one ib1 .. ib2. A side left open by the deflection is joined by
  // one panel, which is divided first when it is long (the lower side
  // before the upper, so that it2 and it1 stay valid).
  if (fold.bot == 0.0 && ib2 == ib1 + 1) {
    const std::size_t before = pts.size();
    split_open_panel(pts, ib1);
    ib2 += static_cast<Index>(pts.size() - before);
  }
  if (fold.top == 0.0 && it1 == it2 + 1) {
    const std::size_t before = pts.size();
    split_open_panel(pts, it2);
    const auto added = static_cast<Index>(pts.size() - before);
    it1 += added;
    ib1 += added;
    ib2 += added;
  }
  std::vector<char> movable(pts.size(), 0);
  mark_movable(movable, std::min(it2, it1), std::max(it2, it1));
  mark_movable(movable, std::min(ib1, ib2), std::max(ib1, ib2));
  merge_short_panels(pts, movable);
  return pts;
}

std::vector<Point> deflect_flap(std::span<const double> coords, double hinge_x_frac, double deflection_deg,
                                double hinge_y_frac) {
  if (coords.size() < 8 || coords.size() % 2 != 0) return {};
  const auto finite = [](double v) { return std::isfinite(v); };
  if (!std::all_of(coords.begin(), coords.end(), finite)) return {};
  if (!finite(hinge_x_frac) || !finite(deflection_deg) || !finite(hinge_y_frac)) return {};
  std::vector<Point> points(coords.size() / 2);
  for (std::size_t k = 0; k < points.size(); ++k) points[k] = {coords[2 * k], coords[2 * k + 1]};
  std::vector<Point> out = deflect_flap_points(points, hinge_x_frac, hinge_y_frac, deflection_deg);
  for (const Point& p : out) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return {};
  }
  return out;
}

}  // namespace velaro
