#include "geometry/flap.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "geometry/natural_spline.h"

namespace velaro {
namespace {

constexpr double kDegToRad = 0.017453292519943295;
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

double sinvrt(const Spline1D& spline, double s_guess, double target) {
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

SssResidual sss_residual(const Spline1D& xspl, const Spline1D& yspl, double sg, double sind, double xbf, double ybf,
                         double s1, double s2) {
  SssResidual out;
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
    const double x1dd = xspl.d2val(s1), y1dd = yspl.d2val(s1);
    const double x2dd = xspl.d2val(s2), y2dd = yspl.d2val(s2);
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

std::pair<double, double> sss(const Spline1D& xspl, const Spline1D& yspl, int side, double s_guess, double angle,
                              double xbf, double ybf) {
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
    const SssResidual r = sss_residual(xspl, yspl, sg, sind, xbf, ybf, s1, s2);
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

std::vector<Point> kelvo_flap(std::span<const Point> points, double hinge_x_frac, double hinge_y_frac,
                              double deflection_deg) {
  const std::size_t n = points.size();
  std::vector<Point> pts(points.begin(), points.end());
  if (n <= 5 || std::abs(deflection_deg) < 1e-10) return pts;

  double x_min = points[0].x, x_max = points[0].x;
  for (const Point& p : points) {
    if (p.x < x_min) x_min = p.x;
    if (p.x > x_max) x_max = p.x;
  }
  const double xbf = x_min + hinge_x_frac * std::max(x_max - x_min, 1e-10);

  const std::vector<double> s = chord_length_knots(points);
  std::vector<double> xv(n), yv(n);
  for (std::size_t i = 0; i < n; ++i) {
    xv[i] = points[i].x;
    yv[i] = points[i].y;
  }
  const Spline1D xspl = *Spline1D::create(s, xv);
  const Spline1D yspl = *Spline1D::create(s, yv);
  const auto at = [&](double u) { return Point{xspl.eval(u), yspl.eval(u)}; };
  const double rdef = deflection_deg * kDegToRad;

  // Surface heights at the hinge x, searched from the two trailing-edge ends.
  const double tops = sinvrt(xspl, s[0] + (xv[0] - xbf), xbf);
  const double bots = sinvrt(xspl, s[n - 1] - (xv[n - 1] - xbf), xbf);
  const double y_top = yspl.eval(tops);
  const double y_bot = yspl.eval(bots);
  const double ybf = y_bot + (y_top - y_bot) * std::clamp(hinge_y_frac, 0.0, 1.0);

  // An odd number of crossings of y = ybf right of the hinge by the closed
  // contour puts the hinge inside the section.
  std::size_t crossings = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t j = (i + 1 < n) ? i + 1 : 0;
    const double di = yv[i] - ybf;
    const double dj = yv[j] - ybf;
    if ((di > 0.0) == (dj > 0.0)) continue;
    const double xc = xv[i] + (xv[j] - xv[i]) * di / (di - dj);
    if (xc > xbf) ++crossings;
  }
  double atop = 0.0, abot = 0.0;
  if (crossings % 2 == 1) {
    atop = std::max(0.0, -rdef);
    abot = std::max(0.0, rdef);
  } else {
    const double chx = xspl.deriv(bots) - xspl.deriv(tops);
    const double chy = yspl.deriv(bots) - yspl.deriv(tops);
    const double fvx = xspl.eval(bots) + xspl.eval(tops);
    const double fvy = yspl.eval(bots) + yspl.eval(tops);
    if ((ybf - 0.5 * fvy) * chx > (xbf - 0.5 * fvx) * chy) {
      atop = abot = std::max(0.0, rdef);
    } else {
      atop = abot = std::max(0.0, -rdef);
    }
  }

  // Break positions: st1, sb1 on the fixed part, st2, sb2 on the flap.
  const auto [st1, st2] = sss(xspl, yspl, 1, tops, atop, xbf, ybf);
  const auto [sb1, sb2] = sss(xspl, yspl, 2, bots, abot, xbf, ybf);
  const Point pt1 = at(st1), pb1 = at(sb1);

  // Nodes beside the breaks: it1 first fixed node of the upper surface, it2
  // last flap node before the upper break, ib1 last fixed node of the lower
  // surface, ib2 first flap node after the lower break.
  using Index = std::ptrdiff_t;
  const Index last = static_cast<Index>(n) - 1;
  Index it1 = 1, it2 = 1, ib1 = 1, ib2 = 1;
  bool found_t1 = false, found_t2 = false, found_b1 = false, found_b2 = false;
  for (Index i = 0; i < last; ++i) {
    if (s[i] <= st1 && st1 < s[i + 1]) it1 = i + 1, found_t1 = true;
    if (s[i] < st2 && st2 <= s[i + 1]) it2 = i, found_t2 = true;
    if (s[i] <= sb1 && sb1 < s[i + 1]) ib1 = i, found_b1 = true;
    if (s[i] < sb2 && sb2 <= s[i + 1]) ib2 = i + 1, found_b2 = true;
  }
  // A break that falls off the contour (a hinge at or beyond the trailing
  // edge, ahead of the nose, or a contour the splines cannot follow) leaves
  // no flap to deflect: the caller gets an empty list rather than a contour
  // rotated about an arbitrary node.
  const bool finite = std::isfinite(xbf) && std::isfinite(ybf) && std::isfinite(pt1.x) && std::isfinite(pt1.y) &&
                      std::isfinite(pb1.x) && std::isfinite(pb1.y);
  if (!finite || !(found_t1 && found_t2 && found_b1 && found_b2)) return {};

  BreakNeighbour top_fixed, top_flap, bot_fixed, bot_flap;
  if (atop != 0.0) {
    double q = st1 + kBreakFraction * (s[std::min(it1 + 1, last)] - st1);
    top_fixed = (s[it1] < q) ? BreakNeighbour{false, at(q)}
                             : BreakNeighbour{true, at(st1 + kBreakFraction * (s[it1] - st1))};
    q = st2 + kBreakFraction * (s[std::max<Index>(it2 - 1, 0)] - st2);
    top_flap = (s[it2] > q) ? BreakNeighbour{false, at(q)}
                            : BreakNeighbour{true, at(st2 + kBreakFraction * (s[it2] - st2))};
  }
  if (abot != 0.0) {
    double q = sb1 + kBreakFraction * (s[std::max<Index>(ib1 - 1, 0)] - sb1);
    bot_fixed = (s[ib1] > q) ? BreakNeighbour{false, at(q)}
                             : BreakNeighbour{true, at(sb1 + kBreakFraction * (s[ib1] - sb1))};
    q = sb2 + kBreakFraction * (s[std::min(ib2 + 1, last)] - sb2);
    bot_flap = (s[ib2] < q) ? BreakNeighbour{false, at(q)}
                            : BreakNeighbour{true, at(sb2 + kBreakFraction * (s[ib2] - sb2))};
  }

  // Rotation about the hinge; positive angles turn the trailing edge down.
  const double cs = std::cos(rdef), sn = std::sin(rdef);
  const auto rotate = [&](const Point& p) {
    const double dx = p.x - xbf, dy = p.y - ybf;
    return Point{xbf + dx * cs + dy * sn, ybf - dx * sn + dy * cs};
  };
  for (Index i = 0; i <= last; ++i) {
    if (i < it1 || i > ib1) pts[i] = rotate(pts[i]);
  }

  // On a badly shaped contour the break indices can come out of order
  // (the lower breaks ahead of the upper ones, or crossed), and the
  // deletions and insertions below would then reach outside the list. Every
  // such edit is checked; one that does not fit abandons the deflection.
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
    if (ib1 + 1 < 0 || ib2 > size()) return {};
    pts.erase(pts.begin() + ib1 + 1, pts.begin() + ib2);
    ib2 = ib1 + 1;
  }

  if (atop != 0.0) {
    const Index npadd = 1 + (top_fixed.is_new ? 1 : 0) + (top_flap.is_new ? 1 : 0);
    if (it1 < 0 || it1 > size()) return {};
    pts.insert(pts.begin() + it1, static_cast<std::size_t>(npadd), Point{});
    it1 += npadd;
    ib1 += npadd;
    ib2 += npadd;
    if (top_fixed.is_new) {
      put(it1 - 1, top_fixed.p);
      put(it1 - 2, pt1);
    } else {
      put(it1, top_fixed.p);
      put(it1 - 1, pt1);
    }
    put(top_flap.is_new ? it2 + 1 : it2, rotate(top_flap.p));
  }
  if (abot != 0.0) {
    const Index npadd = 1 + (bot_fixed.is_new ? 1 : 0) + (bot_flap.is_new ? 1 : 0);
    if (ib2 < 0 || ib2 > size()) return {};
    pts.insert(pts.begin() + ib2, static_cast<std::size_t>(npadd), Point{});
    ib2 += npadd;
    if (bot_fixed.is_new) {
      put(ib1 + 1, bot_fixed.p);
      put(ib1 + 2, pb1);
    } else {
      put(ib1, bot_fixed.p);
      put(ib1 + 1, pb1);
    }
    put(bot_flap.is_new ? ib2 - 1 : ib2, rotate(bot_flap.p));
  }
  if (!fits) return {};

  // Break regions after the edits: the upper corner spans it2 .. it1, the
  // lower one ib1 .. ib2. A side left open by the deflection is joined by
  // one panel, which is divided first when it is long (the lower side
  // before the upper, so that it2 and it1 stay valid).
  if (abot == 0.0 && ib2 == ib1 + 1) {
    const std::size_t before = pts.size();
    split_open_panel(pts, ib1);
    ib2 += static_cast<Index>(pts.size() - before);
  }
  if (atop == 0.0 && it1 == it2 + 1) {
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
  std::vector<Point> out = kelvo_flap(points, hinge_x_frac, hinge_y_frac, deflection_deg);
  for (const Point& p : out) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return {};
  }
  return out;
}

}  // namespace velaro
