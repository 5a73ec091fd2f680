#include "inviscid/airfoil_influence.h"

#include <cmath>

#include "inviscid/panel_kernels.h"

namespace velaro {

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

// The velocity component requested along the unit vector (nxi, nyi), if any.
struct VelocityRequest {
  bool active;
  double nxi;
  double nyi;
};

// The requested direction in a panel's frame: along the panel (x1i) and
// normal to it (yyi); both 0 when no velocity is requested.
struct FrameDirection {
  double x1i = 0.0;
  double yyi = 0.0;
};

FrameDirection frame_direction(const PanelFrame& f, const VelocityRequest& vel) {
  if (!vel.active) return {};
  return {f.sx * vel.nxi + f.sy * vel.nyi, f.sx * vel.nyi - f.sy * vel.nxi};
}

// Linear vortex panel j -> jp: its share of dpsi/dgamma and, when requested,
// of dq/dgamma at the two end nodes.
void add_vortex_panel(PanelInfluence& r, const PanelFrame& f, std::size_t j, std::size_t jp, bool with_velocity,
                      const FrameDirection& d) {
  const double x1 = f.x1, x2 = f.x2, yy = f.yy;
  const double g1 = f.g1, g2 = f.g2, t1 = f.t1, t2 = f.t2;
  const VortexTerms vt = vortex_terms(f);
  const double psis = vt.psis;
  const double dxinv = guarded_inverse(x1 - x2);
  const double psid = vt.psid_num * dxinv;
  r.dzdg[j] += kOneOver4Pi * (psis - psid);
  r.dzdg[jp] += kOneOver4Pi * (psis + psid);
  if (!with_velocity) return;

  const double psx1 = 0.5 * g1;
  const double psx2 = -0.5 * g2;
  const double psyy = t1 - t2;
  const double pdx1 = ((x1 + x2) * psx1 + psis - x1 * g1 - psid) * dxinv;
  const double pdx2 = ((x1 + x2) * psx2 + psis + x2 * g2 + psid) * dxinv;
  const double pdyy = ((x1 + x2) * psyy - yy * (g1 - g2)) * dxinv;
  const double psni = (psx1 + psx2) * d.x1i + psyy * d.yyi;
  const double pdni = (pdx1 + pdx2) * d.x1i + pdyy * d.yyi;
  r.dqdg[j] += kOneOver4Pi * (psni - pdni);
  r.dqdg[jp] += kOneOver4Pi * (psni + pdni);
}

// Linear source distribution on panel j -> j+1, split at the panel midpoint
// into two half panels whose strengths are the slopes of m between
// neighbouring nodes: its share of dpsi/dm and, when requested, of dq/dm.
void add_source_panel(PanelInfluence& r, const AirfoilGeometry& g, const PanelFrame& f, std::size_t j,
                      bool with_velocity, const FrameDirection& d) {
  const std::size_t n = g.n;
  const std::size_t jp = j + 1;
  const double x1 = f.x1, x2 = f.x2, yy = f.yy;
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
    const SourceHalfPanel h = source_half_panel(x1, x0, yy, f.g1, g0, f.t1, t0, f.rs1, rs0, apan,
                                                guarded_inverse(x1 - x0), with_velocity, d.x1i, d.yyi);
    r.dzdm[jm] += kOneOver4Pi * (h.pdif - h.psum) * dsim;
    r.dzdm[j] += kOneOver4Pi * (-h.psum - h.pdif) * dsio;
    r.dzdm[jp] += kOneOver4Pi * (h.psum * (dsio + dsim) + h.pdif * (dsio - dsim));
    if (with_velocity) {
      r.dqdm[jm] += kOneOver4Pi * (h.pdni - h.psni) * dsim;
      r.dqdm[j] += kOneOver4Pi * (-h.psni - h.pdni) * dsio;
      r.dqdm[jp] += kOneOver4Pi * (h.psni * (dsio + dsim) + h.pdni * (dsio - dsim));
    }
  }
  // Half panel 0-2.
  {
    const SourceHalfPanel h = source_half_panel(x0, x2, yy, g0, f.g2, t0, f.t2, rs0, f.rs2, apan,
                                                guarded_inverse(x0 - x2), with_velocity, d.x1i, d.yyi);
    r.dzdm[j] += kOneOver4Pi * (-h.psum * (dsip + dsio) - h.pdif * (dsip - dsio));
    r.dzdm[jp] += kOneOver4Pi * (h.psum - h.pdif) * dsio;
    r.dzdm[jq] += kOneOver4Pi * (h.psum + h.pdif) * dsip;
    if (with_velocity) {
      r.dqdm[j] += kOneOver4Pi * (-h.psni * (dsip + dsio) - h.pdni * (dsip - dsio));
      r.dqdm[jp] += kOneOver4Pi * (h.psni - h.pdni) * dsio;
      r.dqdm[jq] += kOneOver4Pi * (h.psni + h.pdni) * dsip;
    }
  }
}

// TE panel (node n-1 to node 0): a uniform source and vortex sheet across
// the gap of a blunt TE, weighted by the gap's projections on the bisector.
void add_te_panel(PanelInfluence& r, const AirfoilGeometry& g, std::size_t io, double xi, double yi,
                  const VelocityRequest& vel) {
  const std::size_t n = g.n;
  const double scs = g.ante / g.dste;
  const double sds = g.aste / g.dste;
  const PanelFrame f = panel_frame(g.x[n - 1], g.y[n - 1], g.x[0], g.y[0], xi, yi, io >= n, io == n - 1, io == 0);
  const double apan = g.apanel[n - 1];
  const TePanelTerms te = te_panel_terms(f, apan);
  r.dzdg[n - 1] += 0.5 * kOneOver2Pi * (te.pgam * sds - te.psig * scs);
  r.dzdg[0] += 0.5 * kOneOver2Pi * (te.psig * scs - te.pgam * sds);
  if (!vel.active) return;
  const FrameDirection d = frame_direction(f, vel);
  const double psigni = (-(f.t1 - apan) + (f.t2 - apan)) * d.x1i + 0.5 * (f.g1 - f.g2) * d.yyi;
  const double pgamni = (0.5 * f.g1 - 0.5 * f.g2) * d.x1i + (f.t1 - f.t2) * d.yyi;
  const double h = 0.5 * kOneOver2Pi * (psigni * scs - pgamni * sds);
  r.dqdg[n - 1] -= h;
  r.dqdg[0] += h;
}

PanelInfluence influence_at(const AirfoilGeometry& g, std::size_t io, double xi, double yi, bool with_sources,
                            VelocityRequest vel) {
  const std::size_t n = g.n;
  PanelInfluence r;
  r.dzdg.assign(n, 0.0);
  r.dzdm.assign(n, 0.0);
  r.dqdm.assign(n, 0.0);
  r.dqdg.assign(n, 0.0);
  if (n < 2) return r;

  const bool off_body = io >= n;
  for (std::size_t j = 0; j + 1 < n; ++j) {
    const std::size_t jp = j + 1;
    const double dx = g.x[jp] - g.x[j];
    const double dy = g.y[jp] - g.y[j];
    if (dx * dx + dy * dy < kNullPanelSq) continue;
    const PanelFrame f = panel_frame(g.x[j], g.y[j], g.x[jp], g.y[jp], xi, yi, off_body, io == j, io == jp);
    const FrameDirection d = frame_direction(f, vel);
    add_vortex_panel(r, f, j, jp, vel.active, d);
    if (with_sources) add_source_panel(r, g, f, j, vel.active, d);
  }

  const double seps = 1e-5 * g.s[n - 1];
  const double tgx = g.x[0] - g.x[n - 1];
  const double tgy = g.y[0] - g.y[n - 1];
  const double gap_sq = tgx * tgx + tgy * tgy;
  if (!g.sharp && gap_sq > seps * seps && gap_sq >= kNullPanelSq) add_te_panel(r, g, io, xi, yi, vel);
  return r;
}

}  // namespace

PanelInfluence airfoil_panel_influence(const AirfoilGeometry& geom, std::size_t io, double xi, double yi,
                                       bool with_sources) {
  return influence_at(geom, io, xi, yi, with_sources, {false, 0.0, 0.0});
}

PanelInfluence airfoil_panel_influence_with_velocity(const AirfoilGeometry& geom, std::size_t io, double xi,
                                                     double yi, double nxi, double nyi) {
  return influence_at(geom, io, xi, yi, true, {true, nxi, nyi});
}

}  // namespace velaro
