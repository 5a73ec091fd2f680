#include "geometry/repanel.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/text_format.h"
#include "geometry/arc_length_spline.h"
#include "geometry/natural_spline.h"
#include "geometry/spline_kernels.h"

namespace velaro {
namespace {

constexpr std::size_t kOversampling = 5;
constexpr int kDistributionIterations = 20;
constexpr double kDistributionTolerance = 0.001;

// Tridiagonal system a[i] x[i-1] + b[i] x[i] + c[i] x[i+1] = r[i].
struct Tridiagonal {
  std::vector<double> a, b, c, r;
  explicit Tridiagonal(std::size_t n) : a(n, 0.0), b(n, 0.0), c(n, 0.0), r(n, 0.0) {}
};

// Elimination without pivoting. Returns the number of rows eliminated before
// a pivot fell below 1e-14 in magnitude (or was not a number); the solution
// is written over sys.r, with the rows from the failing one on set to zero.
std::size_t solve_tridiagonal(Tridiagonal& sys) {
  const std::size_t n = sys.b.size();
  std::size_t done = 0;
  for (; done < n; ++done) {
    const std::size_t k = done;
    const double pivot = (k == 0) ? sys.b[0] : sys.b[k] - sys.a[k] * sys.c[k - 1];
    if (!(std::abs(pivot) >= 1e-14)) break;
    sys.c[k] /= pivot;
    sys.r[k] = ((k == 0) ? sys.r[0] : sys.r[k] - sys.a[k] * sys.r[k - 1]) / pivot;
  }
  for (std::size_t k = done; k < n; ++k) sys.r[k] = 0.0;
  if (done == 0) return 0;
  for (std::size_t k = done - 1; k-- > 0;) sys.r[k] -= sys.c[k] * sys.r[k + 1];
  return done;
}

// Arc position of the leading edge: the point whose tangent is normal to
// the chord line from the trailing-edge midpoint.
double find_leading_edge(const ArcLengthSpline& ks) {
  const auto& x = ks.x();
  const auto& y = ks.y();
  const std::size_t n = ks.s().size();
  return spline::leading_edge_arc(ks.s(), x, ks.xs(), y, ks.ys(), 0.5 * (x[0] + x[n - 1]), 0.5 * (y[0] + y[n - 1]));
}

// Smooths the knot curvatures w (already holding the trailing-edge values)
// by a diffusion over the smoothing length, pinning the leading edge to
// cvle. Keeps w unchanged when the system has a vanishing pivot.
void smooth_curvature(std::span<const double> s, std::vector<double>& w, double sle, double cvle, double cvavg,
                      std::size_t n_nodes) {
  const std::size_t n = s.size();
  if (n < 3) return;
  const double sbref = 0.5 * s[n - 1];
  const double sl = std::max(1.0 / std::max(cvavg, 20.0), 0.25 / (static_cast<double>(n_nodes) * 0.5));
  const double sm = (sl * sbref) * (sl * sbref);

  Tridiagonal sys(n);
  sys.r = w;
  sys.b[0] = 1.0;
  sys.c[0] = 0.0;
  sys.a[n - 1] = 0.0;
  sys.b[n - 1] = 1.0;
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const double dsm = s[i] - s[i - 1];
    const double dsp = s[i + 1] - s[i];
    if (std::abs(dsm) < 1e-12 || std::abs(dsp) < 1e-12) {
      sys.a[i] = 0.0;
      sys.b[i] = 1.0;
      sys.c[i] = 0.0;
      continue;
    }
    const double dso = 0.5 * (s[i + 1] - s[i - 1]);
    sys.a[i] = -(1.0 / dsm) * sm / dso;
    sys.b[i] = (1.0 / dsm + 1.0 / dsp) * sm / dso + 1.0;
    sys.c[i] = -(1.0 / dsp) * sm / dso;
  }

  for (std::size_t i = 1; i + 1 < n; ++i) {
    if (std::abs(s[i] - sle) < 1e-10) {
      sys.a[i] = 0.0;
      sys.b[i] = 1.0;
      sys.c[i] = 0.0;
      sys.r[i] = cvle;
      continue;
    }
    if (!(s[i - 1] < sle && sle < s[i])) continue;
    // The leading edge falls inside interval i: the rows on either side see
    // it as a neighbour held at cvle.
    if (i >= 2 && std::abs(sle - s[i - 1]) > 1e-12 && std::abs(s[i - 1] - s[i - 2]) > 1e-12) {
      const double dsm = s[i - 1] - s[i - 2];
      const double dsp = sle - s[i - 1];
      const double dso = 0.5 * (sle - s[i - 2]);
      sys.a[i - 1] = -(1.0 / dsm) * sm / dso;
      sys.b[i - 1] = (1.0 / dsm + 1.0 / dsp) * sm / dso + 1.0;
      sys.c[i - 1] = 0.0;
      sys.r[i - 1] += cvle * sm / (dsp * dso);
    }
    if (i + 1 < n && std::abs(s[i] - sle) > 1e-12 && std::abs(s[i + 1] - s[i]) > 1e-12) {
      const double dsm = s[i] - sle;
      const double dsp = s[i + 1] - s[i];
      const double dso = 0.5 * (s[i + 1] - sle);
      sys.a[i] = 0.0;
      sys.b[i] = (1.0 / dsm + 1.0 / dsp) * sm / dso + 1.0;
      sys.c[i] = -(1.0 / dsp) * sm / dso;
      sys.r[i] += cvle * sm / (dsm * dso);
    }
    break;
  }

  if (solve_tridiagonal(sys) == n) w = std::move(sys.r);
}

// One Newton correction of the working node positions u: asks that
// (1 + cc * curvature) * spacing is the same on both sides of every node,
// with the trailing-edge spacing ratio rtf imposed at both ends.
// Returns the largest correction.
double distribution_step(const ScalarSpline& wspl, std::vector<double>& u, double cc, double rtf, Tridiagonal& sys,
                         std::vector<double>& cv, std::vector<double>& cvs) {
  const std::size_t nn = u.size();
  for (std::size_t j = 0; j < nn; ++j) {
    cv[j] = wspl.eval(u[j]);
    cvs[j] = wspl.deriv(u[j]);
  }
  // Mean curvature of interval j (between nodes j and j+1) and its
  // sensitivities to the two end nodes.
  auto interval = [&](std::size_t j, double& cav, double& left, double& right) {
    cav = std::sqrt(cv[j] * cv[j] + cv[j + 1] * cv[j + 1]);
    if (cav > 1e-12) {
      left = cvs[j] * cv[j] / cav;
      right = cvs[j + 1] * cv[j + 1] / cav;
    } else {
      left = right = 0.0;
    }
  };

  sys.a[0] = 0.0;
  sys.b[0] = 1.0;
  sys.c[0] = 0.0;
  sys.r[0] = 0.0;
  double cav_m = 0.0, cav_m_left = 0.0, cav_m_right = 0.0;
  interval(0, cav_m, cav_m_left, cav_m_right);
  for (std::size_t j = 1; j + 1 < nn; ++j) {
    double cav_p = 0.0, cav_p_left = 0.0, cav_p_right = 0.0;
    interval(j, cav_p, cav_p_left, cav_p_right);
    const double dsm = u[j] - u[j - 1];
    const double dsp = u[j] - u[j + 1];
    const double fm = cc * cav_m + 1.0;
    const double fp = cc * cav_p + 1.0;
    sys.a[j] = -fm + cc * dsm * cav_m_left;
    sys.b[j] = fp + fm + cc * (dsp * cav_p_left + dsm * cav_m_right);
    sys.c[j] = -fp + cc * dsp * cav_p_right;
    sys.r[j] = -(dsp * fp + dsm * fm);
    cav_m = cav_p;
    cav_m_left = cav_p_left;
    cav_m_right = cav_p_right;
  }
  sys.a[nn - 1] = 0.0;
  sys.b[nn - 1] = 1.0;
  sys.c[nn - 1] = 0.0;
  sys.r[nn - 1] = 0.0;

  if (std::abs(rtf - 1.0) > 1e-10) {
    sys.a[1] = -1.0;
    sys.b[1] = 1.0 + rtf;
    sys.c[1] = -rtf;
    sys.r[1] = -((u[1] - u[0]) + (u[1] - u[2]) * rtf);
    sys.a[nn - 2] = -rtf;
    sys.b[nn - 2] = 1.0 + rtf;
    sys.c[nn - 2] = -1.0;
    sys.r[nn - 2] = -((u[nn - 2] - u[nn - 3]) * rtf + (u[nn - 2] - u[nn - 1]));
  }

  solve_tridiagonal(sys);
  const std::vector<double>& d = sys.r;

  // Under-relax so that no interval grows more than fourfold or shrinks
  // below a fifth of its length in one step.
  double rlx = 1.0;
  double dmax = 0.0;
  for (std::size_t j = 0; j + 1 < nn; ++j) {
    const double ds = u[j + 1] - u[j];
    if (std::abs(ds) > 1e-12) {
      const double dds = d[j + 1] - d[j];
      const double ratio = 1.0 + rlx * dds / ds;
      if (ratio > 4.0) {
        rlx = 3.0 * ds / dds;
      } else if (ratio < 0.2) {
        rlx = -0.8 * ds / dds;
      }
    }
    dmax = std::max(dmax, std::abs(d[j]));
  }
  for (std::size_t j = 1; j + 1 < nn; ++j) u[j] += rlx * d[j];
  return dmax;
}

}  // namespace

std::string RepanelError::to_string() const {
  switch (kind) {
    case Kind::ContourSpline:
      return "Failed to create contour spline";
    case Kind::CurvatureSpline:
      return "Failed to create curvature spline";
    case Kind::TooManyNodes:
      return text::printf("n_panels %llu is too large: the repaneling storage does not fit in memory",
                          static_cast<unsigned long long>(n_panels));
    case Kind::TooFewNodes:
      return text::printf("n_panels must be at least %llu, got %llu",
                          static_cast<unsigned long long>(kMinRepanelNodes),
                          static_cast<unsigned long long>(n_panels));
  }
  return "";
}

std::uint64_t max_repanel_nodes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return std::uint64_t{1} << 24;
  const std::uint64_t bytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
  return bytes / kRepanelBytesPerNode;
}

std::expected<std::vector<Point>, RepanelError> resample_by_curvature(const CubicSpline& contour, std::size_t n_panels,
                                                                      const RepanelParams& params) {
  const std::size_t n = contour.knots().size();
  if (n < 2) return std::unexpected(RepanelError{RepanelError::Kind::ContourSpline});
  const double s_tot = contour.knots()[n - 1];
  if (n_panels < 3) return std::vector<Point>{contour.evaluate(0.0), contour.evaluate(s_tot)};
  // Refuse node counts whose storage cannot exist before touching any of it
  // (this also keeps 5 * n_panels from overflowing).
  if (n_panels > max_repanel_nodes()) {
    return std::unexpected(RepanelError{RepanelError::Kind::TooManyNodes, n_panels});
  }

  const ArcLengthSpline ks = ArcLengthSpline::from_points(contour.points());
  const auto& s = ks.s();
  const double sbref = 0.5 * s_tot;

  std::vector<double> w(n);
  for (std::size_t i = 0; i < n; ++i) w[i] = std::abs(ks.curvature(s[i])) * sbref;

  const double sle = find_leading_edge(ks);
  const double cvle = std::abs(ks.curvature(sle)) * sbref;
  double cvavg = 0.0;
  for (int k = -3; k <= 3; ++k) {
    const double u = sle + (static_cast<double>(k) / 3.0) * sbref / std::max(cvle, 20.0);
    cvavg += std::abs(ks.curvature(u)) * sbref;
  }
  cvavg /= 7.0;

  const double cvte = std::max(cvavg, 10.0) * params.te_le_ratio;
  w[0] = cvte;
  w[n - 1] = cvte;
  smooth_curvature(s, w, sle, cvle, cvavg, n_panels);

  double wmax = 0.0;
  for (double v : w) wmax = std::max(wmax, std::abs(v));
  wmax = std::max(wmax, 1e-10);
  for (double& v : w) v /= wmax;
  const auto wspl = ScalarSpline::create(s, w);
  if (!wspl) return std::unexpected(RepanelError{RepanelError::Kind::CurvatureSpline});

  // Working nodes: five per output interval. The first and last intervals
  // start at rtf times the others.
  const std::size_t nn = kOversampling * n_panels - (kOversampling - 1);
  const double rtf = (params.te_spacing_ratio - 1.0) * 2.0 + 1.0;
  const double cc = 6.0 * params.curv_param;
  std::vector<double> u(nn);
  const double du = s_tot / (static_cast<double>(nn) - 3.0 + 2.0 * rtf);
  u[0] = 0.0;
  for (std::size_t j = 1; j + 1 < nn; ++j) u[j] = du * (static_cast<double>(j) - 1.0 + rtf);
  u[nn - 1] = s_tot;

  Tridiagonal sys(nn);
  std::vector<double> cv(nn), cvs(nn);
  for (int it = 0; it < kDistributionIterations; ++it) {
    const double dmax = distribution_step(*wspl, u, cc, rtf, sys, cv, cvs);
    if (dmax < kDistributionTolerance) break;
  }

  std::vector<Point> out(n_panels);
  for (std::size_t k = 0; k < n_panels; ++k) out[k] = contour.evaluate(u[kOversampling * k]);
  return out;
}

std::expected<std::vector<Point>, RepanelError> repanel_coordinates(std::span<const double> coords,
                                                                    std::uint64_t n_panels,
                                                                    const RepanelParams& params) {
  if (n_panels < kMinRepanelNodes) return std::unexpected(RepanelError{RepanelError::Kind::TooFewNodes, n_panels});
  if (coords.size() < 6 || coords.size() % 2 != 0) return std::vector<Point>{};
  const auto finite = [](double v) { return std::isfinite(v); };
  if (!std::all_of(coords.begin(), coords.end(), finite)) return std::vector<Point>{};
  if (!finite(params.curv_param) || !finite(params.te_le_ratio) || !finite(params.te_spacing_ratio)) {
    return std::vector<Point>{};
  }
  std::vector<Point> points(coords.size() / 2);
  for (std::size_t k = 0; k < points.size(); ++k) points[k] = {coords[2 * k], coords[2 * k + 1]};

  auto spline = CubicSpline::from_points(points);
  if (!spline || !std::isfinite(spline->total_length())) return std::vector<Point>{};
  auto out = resample_by_curvature(*spline, static_cast<std::size_t>(n_panels), params);
  if (!out) {
    if (out.error().kind == RepanelError::Kind::TooManyNodes) return out;
    return std::vector<Point>{};
  }
  // Extreme parameters can drive the distribution to non-finite positions;
  // never hand such points back.
  for (const Point& p : *out) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::vector<Point>{};
  }
  return out;
}

}  // namespace velaro
