#include "inviscid/influence.h"

#include <cmath>
#include <numbers>

namespace velaro {

PanelFrame panel_frame(double xa, double ya, double xb, double yb, double xi, double yi, bool off_body, bool skip_a,
                       bool skip_b) {
  PanelFrame f;
  const double dx = xb - xa;
  const double dy = yb - ya;
  f.dso = std::sqrt(dx * dx + dy * dy);
  f.dsio = 1.0 / f.dso;
  f.sx = dx * f.dsio;
  f.sy = dy * f.dsio;
  const double rx1 = xi - xa, ry1 = yi - ya;
  const double rx2 = xi - xb, ry2 = yi - yb;
  f.x1 = f.sx * rx1 + f.sy * ry1;
  f.x2 = f.sx * rx2 + f.sy * ry2;
  f.yy = f.sx * ry1 - f.sy * rx1;
  f.rs1 = rx1 * rx1 + ry1 * ry1;
  f.rs2 = rx2 * rx2 + ry2 * ry2;
  // Off the body the angles are measured from the side of the panel the
  // point lies on, so that they stay continuous across the panel's extension.
  f.sgn = (!off_body || f.yy >= 0.0) ? 1.0 : -1.0;
  f.branch = (0.5 - 0.5 * f.sgn) * std::numbers::pi;
  if (!skip_a && f.rs1 > kSingularSq) {
    f.g1 = std::log(f.rs1);
    f.t1 = std::atan2(f.sgn * f.x1, f.sgn * f.yy) + f.branch;
  }
  if (!skip_b && f.rs2 > kSingularSq) {
    f.g2 = std::log(f.rs2);
    f.t2 = std::atan2(f.sgn * f.x2, f.sgn * f.yy) + f.branch;
  }
  return f;
}

VortexTerms vortex_terms(const PanelFrame& f) {
  const double psis = 0.5 * f.x1 * f.g1 - 0.5 * f.x2 * f.g2 + f.x2 - f.x1 + f.yy * (f.t1 - f.t2);
  const double num = (f.x1 + f.x2) * psis + 0.5 * (f.rs2 * f.g2 - f.rs1 * f.g1 + f.x1 * f.x1 - f.x2 * f.x2);
  return {psis, num};
}

TePanelTerms te_panel_terms(const PanelFrame& f, double apan) {
  const double psig = 0.5 * f.yy * (f.g1 - f.g2) + f.x2 * (f.t2 - apan) - f.x1 * (f.t1 - apan);
  const double pgam = 0.5 * f.x1 * f.g1 - 0.5 * f.x2 * f.g2 + f.x2 - f.x1 + f.yy * (f.t1 - f.t2);
  return {psig, pgam};
}

namespace {

// Reciprocal of a half-panel or panel coordinate difference, 0 when the
// difference vanishes.
double guarded_inverse(double d) { return std::abs(d) <= kSingularSq ? 0.0 : 1.0 / d; }

// Inverse distance between two nodes, 0 when they (nearly) coincide.
double inverse_distance(const AirfoilGeometry& g, std::size_t a, std::size_t b) {
  const double dx = g.x[a] - g.x[b];
  const double dy = g.y[a] - g.y[b];
  const double d = std::sqrt(dx * dx + dy * dy);
  return d <= kSingularSq ? 0.0 : 1.0 / d;
}

struct VelocityRequest {
  bool active;
  double nxi;
  double nyi;
};

PsilinResult psilin_core(const AirfoilGeometry& g, std::size_t io, double xi, double yi, bool with_sources,
                         VelocityRequest vel) {
  const std::size_t n = g.n;
  PsilinResult r;
  r.dzdg.assign(n, 0.0);
  r.dzdm.assign(n, 0.0);
  r.dqdm.assign(n, 0.0);
  r.dqdg.assign(n, 0.0);
  if (n < 2) return r;

  double scs = 1.0, sds = 0.0;
  if (!g.sharp) {
    scs = g.ante / g.dste;
    sds = g.aste / g.dste;
  }
  const bool off_body = io >= n;
  const double seps = 1e-5 * g.s[n - 1];

  for (std::size_t j = 0; j + 1 < n; ++j) {
    const std::size_t jp = j + 1;
    const double dx = g.x[jp] - g.x[j];
    const double dy = g.y[jp] - g.y[j];
    if (dx * dx + dy * dy < kNullPanelSq) continue;
    const PanelFrame f = panel_frame(g.x[j], g.y[j], g.x[jp], g.y[jp], xi, yi, off_body, io == j, io == jp);
    const double x1 = f.x1, x2 = f.x2, yy = f.yy;
    const double g1 = f.g1, g2 = f.g2, t1 = f.t1, t2 = f.t2;

    // Linear vortex panel.
    const VortexTerms vt = vortex_terms(f);
    const double psis = vt.psis;
    const double dxinv = guarded_inverse(x1 - x2);
    const double psid = vt.psid_num * dxinv;
    r.dzdg[j] += kQopi * (psis - psid);
    r.dzdg[jp] += kQopi * (psis + psid);

    double x1i = 0.0, yyi = 0.0;
    if (vel.active) {
      x1i = f.sx * vel.nxi + f.sy * vel.nyi;
      yyi = f.sx * vel.nyi - f.sy * vel.nxi;
      const double psx1 = 0.5 * g1;
      const double psx2 = -0.5 * g2;
      const double psyy = t1 - t2;
      const double pdx1 = ((x1 + x2) * psx1 + psis - x1 * g1 - psid) * dxinv;
      const double pdx2 = ((x1 + x2) * psx2 + psis + x2 * g2 + psid) * dxinv;
      const double pdyy = ((x1 + x2) * psyy - yy * (g1 - g2)) * dxinv;
      const double psni = (psx1 + psx2) * x1i + psyy * yyi;
      const double pdni = (pdx1 + pdx2) * x1i + pdyy * yyi;
      r.dqdg[j] += kQopi * (psni - pdni);
      r.dqdg[jp] += kQopi * (psni + pdni);
    }

    if (!with_sources) continue;

    // Linear source distribution, split at the panel midpoint into two
    // half panels whose strengths are the slopes of m between neighbours.
    const double x0 = (x1 + x2) / 2.0;
    const double rs0 = x0 * x0 + yy * yy;
    const double g0 = rs0 > 0.0 ? std::log(rs0) : 0.0;
    const double t0 = std::atan2(f.sgn * x0, f.sgn * yy) + f.branch;
    const double apan = g.apanel[j];
    const std::size_t jm = j == 0 ? j : j - 1;
    const std::size_t jq = j + 2 == n ? jp : jp + 1;
    const double dsio = f.dsio;
    const double dsim = inverse_distance(g, jp, jm);
    const double dsip = inverse_distance(g, jq, j);

    // Half panel 1-0.
    {
      const SourceHalfPanel h = source_half_panel(x1, x0, yy, g1, g0, t1, t0, f.rs1, rs0, apan,
                                                  guarded_inverse(x1 - x0), vel.active, x1i, yyi);
      r.dzdm[jm] += kQopi * (h.pdif - h.psum) * dsim;
      r.dzdm[j] += kQopi * (-h.psum - h.pdif) * dsio;
      r.dzdm[jp] += kQopi * (h.psum * (dsio + dsim) + h.pdif * (dsio - dsim));
      if (vel.active) {
        r.dqdm[jm] += kQopi * (h.pdni - h.psni) * dsim;
        r.dqdm[j] += kQopi * (-h.psni - h.pdni) * dsio;
        r.dqdm[jp] += kQopi * (h.psni * (dsio + dsim) + h.pdni * (dsio - dsim));
      }
    }
    // Half panel 0-2.
    {
      const SourceHalfPanel h = source_half_panel(x0, x2, yy, g0, g2, t0, t2, rs0, f.rs2, apan,
                                                  guarded_inverse(x0 - x2), vel.active, x1i, yyi);
      r.dzdm[j] += kQopi * (-h.psum * (dsip + dsio) - h.pdif * (dsip - dsio));
      r.dzdm[jp] += kQopi * (h.psum - h.pdif) * dsio;
      r.dzdm[jq] += kQopi * (h.psum + h.pdif) * dsip;
      if (vel.active) {
        r.dqdm[j] += kQopi * (-h.psni * (dsip + dsio) - h.pdni * (dsip - dsio));
        r.dqdm[jp] += kQopi * (h.psni - h.pdni) * dsio;
        r.dqdm[jq] += kQopi * (h.psni + h.pdni) * dsip;
      }
    }
  }

  // TE panel (node n-1 to node 0): a uniform source and vortex sheet across
  // the gap of a blunt TE, weighted by the gap's projections on the bisector.
  const double tgx = g.x[0] - g.x[n - 1];
  const double tgy = g.y[0] - g.y[n - 1];
  const double gap_sq = tgx * tgx + tgy * tgy;
  if (!g.sharp && gap_sq > seps * seps && gap_sq >= kNullPanelSq) {
    const PanelFrame f = panel_frame(g.x[n - 1], g.y[n - 1], g.x[0], g.y[0], xi, yi, off_body, io == n - 1, io == 0);
    const double apan = g.apanel[n - 1];
    const TePanelTerms te = te_panel_terms(f, apan);
    r.dzdg[n - 1] += 0.5 * kHopi * (te.pgam * sds - te.psig * scs);
    r.dzdg[0] += 0.5 * kHopi * (te.psig * scs - te.pgam * sds);
    if (vel.active) {
      const double x1i = f.sx * vel.nxi + f.sy * vel.nyi;
      const double yyi = f.sx * vel.nyi - f.sy * vel.nxi;
      const double psigni = (-(f.t1 - apan) + (f.t2 - apan)) * x1i + 0.5 * (f.g1 - f.g2) * yyi;
      const double pgamni = (0.5 * f.g1 - 0.5 * f.g2) * x1i + (f.t1 - f.t2) * yyi;
      const double h = 0.5 * kHopi * (psigni * scs - pgamni * sds);
      r.dqdg[n - 1] -= h;
      r.dqdg[0] += h;
    }
  }
  return r;
}

}  // namespace

PsilinResult psilin_internal(const AirfoilGeometry& geom, std::size_t io, double xi, double yi, bool with_sources) {
  return psilin_core(geom, io, xi, yi, with_sources, {false, 0.0, 0.0});
}

PsilinResult psilin_with_dqdm(const AirfoilGeometry& geom, std::size_t io, double xi, double yi, double nxi,
                              double nyi) {
  return psilin_core(geom, io, xi, yi, true, {true, nxi, nyi});
}

}  // namespace velaro
