#include "inviscid/airfoil_influence.h"

#include <cmath>
#include <numbers>

#include "inviscid/panel_kernels.h"
#include "inviscid/vector_math.h"

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

// Linear vortex panel j -> jp seen from the field point: the symmetric and
// antisymmetric stream-function parts and the guarded 1 / (x1 - x2).
struct VortexPanelParts {
  double psis;
  double psid;
  double dxinv;
};

VortexPanelParts vortex_panel_parts(const PanelFrame& f) {
  const VortexTerms vt = vortex_terms(f);
  const double dxinv = guarded_inverse(f.x1 - f.x2);
  return {vt.psis, vt.psid_num * dxinv, dxinv};
}

// The panel's share of dq/dgamma at its two end nodes along the direction d.
void add_vortex_velocity(std::vector<double>& dqdg, const PanelFrame& f, const VortexPanelParts& p, std::size_t j,
                         std::size_t jp, const FrameDirection& d) {
  const double x1 = f.x1, x2 = f.x2, yy = f.yy;
  const double g1 = f.g1, g2 = f.g2, t1 = f.t1, t2 = f.t2;
  const double psis = p.psis, psid = p.psid, dxinv = p.dxinv;
  const double psx1 = 0.5 * g1;
  const double psx2 = -0.5 * g2;
  const double psyy = t1 - t2;
  const double pdx1 = ((x1 + x2) * psx1 + psis - x1 * g1 - psid) * dxinv;
  const double pdx2 = ((x1 + x2) * psx2 + psis + x2 * g2 + psid) * dxinv;
  const double pdyy = ((x1 + x2) * psyy - yy * (g1 - g2)) * dxinv;
  const double psni = (psx1 + psx2) * d.x1i + psyy * d.yyi;
  const double pdni = (pdx1 + pdx2) * d.x1i + pdyy * d.yyi;
  dqdg[j] += kOneOver4Pi * (psni - pdni);
  dqdg[jp] += kOneOver4Pi * (psni + pdni);
}

// Linear vortex panel j -> jp: its share of dpsi/dgamma and, when requested,
// of dq/dgamma at the two end nodes.
void add_vortex_panel(PanelInfluence& r, const PanelFrame& f, std::size_t j, std::size_t jp, bool with_velocity,
                      const FrameDirection& d, const FrameDirection* second) {
  const VortexPanelParts p = vortex_panel_parts(f);
  r.dzdg[j] += kOneOver4Pi * (p.psis - p.psid);
  r.dzdg[jp] += kOneOver4Pi * (p.psis + p.psid);
  if (!with_velocity) return;
  add_vortex_velocity(r.dqdg, f, p, j, jp, d);
  if (second) add_vortex_velocity(r.dqdg2, f, p, j, jp, *second);
}

// Linear source distribution on panel j -> j+1, split at the panel midpoint
// into two half panels whose strengths are the slopes of m between
// neighbouring nodes: its share of dpsi/dm and, when requested, of dq/dm.
// g0 and t0 are the log of the squared distance and the angle of the field
// point seen from the midpoint; dsim and dsip the inverse distances of the
// nodes j+1, j-1 and j+2, j (0 when they coincide).
void add_source_panel(PanelInfluence& r, const AirfoilGeometry& g, const PanelFrame& f, std::size_t j, double g0,
                      double t0, double dsim, double dsip, bool with_velocity, const FrameDirection& d) {
  const std::size_t n = g.n;
  const std::size_t jp = j + 1;
  const double x1 = f.x1, x2 = f.x2, yy = f.yy;
  const double x0 = (x1 + x2) / 2.0;
  const double rs0 = x0 * x0 + yy * yy;
  const double apan = g.apanel[j];
  const std::size_t jm = j == 0 ? j : j - 1;
  const std::size_t jq = j + 2 == n ? jp : jp + 1;
  const double dsio = f.dsio;

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
                  const VelocityRequest& vel, const VelocityRequest& second) {
  const std::size_t n = g.n;
  const double scs = g.ante / g.dste;
  const double sds = g.aste / g.dste;
  const PanelFrame f = panel_frame(g.x[n - 1], g.y[n - 1], g.x[0], g.y[0], xi, yi, io >= n, io == n - 1, io == 0);
  const double apan = g.apanel[n - 1];
  const TePanelTerms te = te_panel_terms(f, apan);
  r.dzdg[n - 1] += 0.5 * kOneOver2Pi * (te.pgam * sds - te.psig * scs);
  r.dzdg[0] += 0.5 * kOneOver2Pi * (te.psig * scs - te.pgam * sds);
  auto add_velocity = [&](std::vector<double>& dqdg, const VelocityRequest& v) {
    const FrameDirection d = frame_direction(f, v);
    const double psigni = (-(f.t1 - apan) + (f.t2 - apan)) * d.x1i + 0.5 * (f.g1 - f.g2) * d.yyi;
    const double pgamni = (0.5 * f.g1 - 0.5 * f.g2) * d.x1i + (f.t1 - f.t2) * d.yyi;
    const double h = 0.5 * kOneOver2Pi * (psigni * scs - pgamni * sds);
    dqdg[n - 1] -= h;
    dqdg[0] += h;
  };
  if (!vel.active) return;
  add_velocity(r.dqdg, vel);
  if (second.active) add_velocity(r.dqdg2, second);
}

PanelInfluence zeroed(std::size_t n) {
  PanelInfluence r;
  r.dzdg.assign(n, 0.0);
  r.dzdm.assign(n, 0.0);
  r.dqdm.assign(n, 0.0);
  r.dqdg.assign(n, 0.0);
  return r;
}

}  // namespace

AirfoilInfluenceRows::AirfoilInfluenceRows(const AirfoilGeometry& geom) : g_(geom) {
  const std::size_t n = geom.n;
  const std::size_t np = n > 0 ? n - 1 : 0;
  live_.assign(np, 0);
  for (auto* v : {&dso_, &dsio_, &sx_, &sy_, &phi_, &dsim_, &dsip_, &x1_, &x2_, &yy_, &sgn_, &mx_, &my_, &rs0_, &g0_,
                  &t0_, &lo_, &hi_, &c_jm_, &c_j1_, &c_jp1_, &c_j2_, &c_jp2_, &c_jq_})
    v->assign(np, 0.0);
  for (auto* v : {&rx_, &ry_, &rs_, &lg_, &th_}) v->assign(n, 0.0);
  for (std::size_t j = 0; j < np; ++j) {
    const std::size_t jp = j + 1;
    const double dx = geom.x[jp] - geom.x[j];
    const double dy = geom.y[jp] - geom.y[j];
    if (dx * dx + dy * dy < kNullPanelSq) continue;
    live_[j] = 1;
    // The same arithmetic as panel_frame, once per panel instead of once
    // per panel and field point.
    dso_[j] = std::sqrt(dx * dx + dy * dy);
    dsio_[j] = 1.0 / dso_[j];
    sx_[j] = dx * dsio_[j];
    sy_[j] = dy * dsio_[j];
    phi_[j] = std::atan2(sy_[j], sx_[j]);
    const std::size_t jm = j == 0 ? j : j - 1;
    const std::size_t jq = j + 2 == n ? jp : jp + 1;
    dsim_[j] = inverse_distance(geom, jp, jm);
    dsip_[j] = inverse_distance(geom, jq, j);
  }
}

void AirfoilInfluenceRows::evaluate(std::size_t io, double xi, double yi, const InfluenceTerms& terms,
                                    PanelInfluence& r) {
  const AirfoilGeometry& g = g_;
  const std::size_t n = g.n;
  r.dzdg.assign(n, 0.0);
  r.dzdm.assign(n, 0.0);
  r.dqdm.assign(n, 0.0);
  r.dqdg.assign(n, 0.0);
  const VelocityRequest vel{terms.velocity, terms.nx, terms.ny};
  const VelocityRequest second{terms.vortex && terms.velocity && terms.second_velocity, terms.nx2, terms.ny2};
  if (second.active) r.dqdg2.assign(n, 0.0);
  if (n < 2) return;

  // Every node seen from the field point: offsets, squared distance, its
  // logarithm and the direction angle, the latter two in vector form.
  for (std::size_t j = 0; j < n; ++j) {
    rx_[j] = xi - g.x[j];
    ry_[j] = yi - g.y[j];
    rs_[j] = rx_[j] * rx_[j] + ry_[j] * ry_[j];
  }
  vmath::log_array(rs_.data(), lg_.data(), n);
  vmath::atan2_array(ry_.data(), rx_.data(), th_.data(), n);

  const bool off_body = io >= n;
  const std::size_t np = n - 1;
  // The stream-function coefficients of the vortex panels at a node, the
  // bulk of the airfoil system, in one pass over the panel arrays.
  const bool vortex_pass = terms.vortex && !terms.velocity && !off_body;
  if (vortex_pass) {
    vortex_row(np, sx_.data(), sy_.data(), phi_.data(), live_.data(), rx_.data(), ry_.data(), rs_.data(), lg_.data(),
               th_.data(), io, true, lo_.data(), hi_.data());
    for (std::size_t j = 0; j < np; ++j) {
      r.dzdg[j] += lo_[j];
      r.dzdg[j + 1] += hi_[j];
    }
  }

  // Panel frames, and the midpoint terms of the source panels.
  const bool panel_pass = terms.sources || (terms.vortex && !vortex_pass);
  for (std::size_t j = 0; panel_pass && j < np; ++j) {
    if (!live_[j]) continue;
    const std::size_t jp = j + 1;
    x1_[j] = sx_[j] * rx_[j] + sy_[j] * ry_[j];
    x2_[j] = sx_[j] * rx_[jp] + sy_[j] * ry_[jp];
    yy_[j] = sx_[j] * ry_[j] - sy_[j] * rx_[j];
    sgn_[j] = (!off_body || yy_[j] >= 0.0) ? 1.0 : -1.0;
    if (terms.sources) {
      const double x0 = (x1_[j] + x2_[j]) / 2.0;
      rs0_[j] = x0 * x0 + yy_[j] * yy_[j];
      mx_[j] = sgn_[j] * x0;
      my_[j] = sgn_[j] * yy_[j];
    } else {
      rs0_[j] = 1.0;
      mx_[j] = 0.0;
      my_[j] = 1.0;
    }
  }
  if (terms.sources) {
    vmath::log_array(rs0_.data(), g0_.data(), np);
    vmath::atan2_array(mx_.data(), my_.data(), t0_.data(), np);
  }

  // The source coefficients at a node (the airfoil columns of the
  // mass-defect matrix) likewise in one pass.
  const bool source_pass = terms.sources && !terms.velocity && !off_body;
  if (source_pass) {
    const SourceRowInput in{sx_.data(),  sy_.data(),    phi_.data(),  rx_.data(),   ry_.data(),   rs_.data(),
                            lg_.data(),  th_.data(),    rs0_.data(),  g0_.data(),   t0_.data(),   g.apanel.data(),
                            dsio_.data(), dsim_.data(), dsip_.data(), live_.data(), io};
    const SourceRowOutput out{c_jm_.data(), c_j1_.data(), c_jp1_.data(), c_j2_.data(), c_jp2_.data(), c_jq_.data()};
    source_row(np, in, out);
    for (std::size_t j = 0; j < np; ++j) {
      const std::size_t jp = j + 1;
      const std::size_t jm = j == 0 ? j : j - 1;
      const std::size_t jq = j + 2 == n ? jp : jp + 1;
      r.dzdm[jm] += c_jm_[j];
      r.dzdm[j] += c_j1_[j];
      r.dzdm[jp] += c_jp1_[j];
      r.dzdm[j] += c_j2_[j];
      r.dzdm[jp] += c_jp2_[j];
      r.dzdm[jq] += c_jq_[j];
    }
  }
  const bool accumulate_pass = (terms.sources && !source_pass) || (terms.vortex && !vortex_pass);
  for (std::size_t j = 0; accumulate_pass && j < np; ++j) {
    if (!live_[j]) continue;
    const std::size_t jp = j + 1;
    PanelFrame f;
    f.dso = dso_[j];
    f.dsio = dsio_[j];
    f.sx = sx_[j];
    f.sy = sy_[j];
    f.x1 = x1_[j];
    f.x2 = x2_[j];
    f.yy = yy_[j];
    f.rs1 = rs_[j];
    f.rs2 = rs_[jp];
    f.sgn = sgn_[j];
    f.branch = (0.5 - 0.5 * f.sgn) * std::numbers::pi;
    if (io != j && f.rs1 > kSingularSq) {
      f.g1 = lg_[j];
      f.t1 = end_angle(phi_[j], th_[j], f.sgn * f.x1, f.branch);
    }
    if (io != jp && f.rs2 > kSingularSq) {
      f.g2 = lg_[jp];
      f.t2 = end_angle(phi_[j], th_[jp], f.sgn * f.x2, f.branch);
    }
    const FrameDirection d = frame_direction(f, vel);
    if (terms.vortex && !vortex_pass) {
      const FrameDirection d2 = frame_direction(f, second);
      add_vortex_panel(r, f, j, jp, vel.active, d, second.active ? &d2 : nullptr);
    }
    if (terms.sources && !source_pass) {
      const double g0 = rs0_[j] > 0.0 ? g0_[j] : 0.0;
      const double t0 = t0_[j] + f.branch;
      add_source_panel(r, g, f, j, g0, t0, dsim_[j], dsip_[j], vel.active, d);
    }
  }

  // The gap panel carries vorticity only.
  if (!terms.vortex) return;
  const double seps = 1e-5 * g.s[n - 1];
  const double tgx = g.x[0] - g.x[n - 1];
  const double tgy = g.y[0] - g.y[n - 1];
  const double gap_sq = tgx * tgx + tgy * tgy;
  if (!g.sharp && gap_sq > seps * seps && gap_sq >= kNullPanelSq) add_te_panel(r, g, io, xi, yi, vel, second);
}

PanelInfluence airfoil_panel_influence(const AirfoilGeometry& geom, std::size_t io, double xi, double yi,
                                       bool with_sources) {
  PanelInfluence r = zeroed(geom.n);
  AirfoilInfluenceRows rows(geom);
  rows.evaluate(io, xi, yi, {.vortex = true, .sources = with_sources}, r);
  return r;
}

PanelInfluence airfoil_panel_influence_with_velocity(const AirfoilGeometry& geom, std::size_t io, double xi,
                                                     double yi, double nxi, double nyi) {
  PanelInfluence r = zeroed(geom.n);
  AirfoilInfluenceRows rows(geom);
  rows.evaluate(io, xi, yi, {.vortex = true, .sources = true, .velocity = true, .nx = nxi, .ny = nyi}, r);
  return r;
}

}  // namespace velaro
