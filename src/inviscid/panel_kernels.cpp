#include "inviscid/panel_kernels.h"

#include <cmath>
#include <numbers>

#include "inviscid/vector_math.h"

namespace velaro {

namespace avx2 {
// panel_rows_avx2.cpp: panels [0, count4) of vortex_row, count4 a multiple
// of 4; call only when vmath::wide_kernels().
void vortex_row_wide(std::size_t count4, const double* sx, const double* sy, const double* phi,
                     const unsigned char* live, const double* rx, const double* ry, const double* rs,
                     const double* lg, const double* th, std::size_t io, bool guarded, double* lo, double* hi);
// Likewise for source_row: in[] the fifteen input arrays in the order of
// SourceRowInput, out[] the six outputs in the order of SourceRowOutput.
void source_row_wide(std::size_t count4, const double* const* in, const unsigned char* live, std::size_t io,
                     double* const* out);
}  // namespace avx2

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

namespace {

// Panel j's end terms as seen from the field node io: the tangential
// coordinates x1, x2 of its end nodes j and j + 1, the normal one yy, their
// squared distances, and log(r^2) and the angle at each end, zero at the
// field node itself and where the distance is below kSingularSq.
struct PanelEnds {
  double x1, x2, yy, rs1, rs2, g1, g2, t1, t2;
};

inline PanelEnds panel_ends(std::size_t j, const double* __restrict sx, const double* __restrict sy,
                            const double* __restrict phi, const double* __restrict rx, const double* __restrict ry,
                            const double* __restrict rs, const double* __restrict lg, const double* __restrict th,
                            std::size_t io) {
  const std::size_t jp = j + 1;
  PanelEnds e;
  e.x1 = sx[j] * rx[j] + sy[j] * ry[j];
  e.x2 = sx[j] * rx[jp] + sy[j] * ry[jp];
  e.yy = sx[j] * ry[j] - sy[j] * rx[j];
  e.rs1 = rs[j];
  e.rs2 = rs[jp];
  const bool use1 = j != io && e.rs1 > kSingularSq;
  const bool use2 = jp != io && e.rs2 > kSingularSq;
  e.g1 = use1 ? lg[j] : 0.0;
  e.g2 = use2 ? lg[jp] : 0.0;
  e.t1 = use1 ? end_angle(phi[j], th[j], e.x1, 0.0) : 0.0;
  e.t2 = use2 ? end_angle(phi[j], th[jp], e.x2, 0.0) : 0.0;
  return e;
}

inline double guarded_reciprocal(double d) { return std::abs(d) <= kSingularSq ? 0.0 : 1.0 / d; }

}  // namespace

void vortex_row(
    std::size_t count, const double* __restrict sx, const double* __restrict sy, const double* __restrict phi,
    const unsigned char* __restrict live, const double* __restrict rx, const double* __restrict ry,
    const double* __restrict rs, const double* __restrict lg, const double* __restrict th, std::size_t io,
    bool guarded, double* __restrict lo, double* __restrict hi) {
  // Whole groups of four panels in AVX2 registers where the processor has
  // them (the same operations lane by lane), the rest here.
  std::size_t start = 0;
  if (vmath::wide_kernels()) {
    start = count & ~static_cast<std::size_t>(3);
    avx2::vortex_row_wide(start, sx, sy, phi, live, rx, ry, rs, lg, th, io, guarded, lo, hi);
  }
  for (std::size_t j = start; j < count; ++j) {
    const auto [x1, x2, yy, rs1, rs2, g1, g2, t1, t2] = panel_ends(j, sx, sy, phi, rx, ry, rs, lg, th, io);
    const double psis = 0.5 * x1 * g1 - 0.5 * x2 * g2 + x2 - x1 + yy * (t1 - t2);
    const double num = (x1 + x2) * psis + 0.5 * (rs2 * g2 - rs1 * g1 + x1 * x1 - x2 * x2);
    const double d = x1 - x2;
    double psid;
    if (guarded) {
      const double dxinv = std::abs(d) <= kSingularSq ? 0.0 : 1.0 / d;
      psid = num * dxinv;
    } else {
      psid = num / d;
    }
    const bool keep = live[j] != 0;
    lo[j] = keep ? kOneOver4Pi * (psis - psid) : 0.0;
    hi[j] = keep ? kOneOver4Pi * (psis + psid) : 0.0;
  }
}

void source_row(std::size_t count, const SourceRowInput& in, const SourceRowOutput& out) {
  const double* __restrict sx = in.sx;
  const double* __restrict sy = in.sy;
  const double* __restrict phi = in.phi;
  const double* __restrict rx = in.rx;
  const double* __restrict ry = in.ry;
  const double* __restrict rs = in.rs;
  const double* __restrict lg = in.lg;
  const double* __restrict th = in.th;
  const double* __restrict rs0v = in.rs0;
  const double* __restrict g0v = in.g0;
  const double* __restrict t0v = in.t0;
  const double* __restrict apanv = in.apan;
  const double* __restrict dsiov = in.dsio;
  const double* __restrict dsimv = in.dsim;
  const double* __restrict dsipv = in.dsip;
  const unsigned char* __restrict live = in.live;
  double* __restrict o_jm = out.jm;
  double* __restrict o_j1 = out.j1;
  double* __restrict o_jp1 = out.jp1;
  double* __restrict o_j2 = out.j2;
  double* __restrict o_jp2 = out.jp2;
  double* __restrict o_jq = out.jq;
  const std::size_t io = in.io;
  // Whole groups of four panels in AVX2 registers where available.
  std::size_t start = 0;
  if (vmath::wide_kernels()) {
    start = count & ~static_cast<std::size_t>(3);
    const double* const arrays[] = {sx, sy, phi, rx, ry, rs, lg, th, rs0v, g0v, t0v, apanv, dsiov, dsimv, dsipv};
    double* const outs[] = {o_jm, o_j1, o_jp1, o_j2, o_jp2, o_jq};
    avx2::source_row_wide(start, arrays, live, io, outs);
  }
  for (std::size_t j = start; j < count; ++j) {
    const auto [x1, x2, yy, rs1, rs2, g1, g2, t1, t2] = panel_ends(j, sx, sy, phi, rx, ry, rs, lg, th, io);
    const double x0 = (x1 + x2) / 2.0;
    const double rs0 = rs0v[j];
    const double g0 = rs0 > 0.0 ? g0v[j] : 0.0;
    const double t0 = t0v[j] + 0.0;
    const double apan = apanv[j];
    const double dsio = dsiov[j], dsim = dsimv[j], dsip = dsipv[j];
    const SourceHalfPanel h1 =
        source_half_panel(x1, x0, yy, g1, g0, t1, t0, rs1, rs0, apan, guarded_reciprocal(x1 - x0), false);
    const SourceHalfPanel h2 =
        source_half_panel(x0, x2, yy, g0, g2, t0, t2, rs0, rs2, apan, guarded_reciprocal(x0 - x2), false);
    const bool keep = live[j] != 0;
    o_jm[j] = keep ? kOneOver4Pi * (h1.pdif - h1.psum) * dsim : 0.0;
    o_j1[j] = keep ? kOneOver4Pi * (-h1.psum - h1.pdif) * dsio : 0.0;
    o_jp1[j] = keep ? kOneOver4Pi * (h1.psum * (dsio + dsim) + h1.pdif * (dsio - dsim)) : 0.0;
    o_j2[j] = keep ? kOneOver4Pi * (-h2.psum * (dsip + dsio) - h2.pdif * (dsip - dsio)) : 0.0;
    o_jp2[j] = keep ? kOneOver4Pi * (h2.psum - h2.pdif) * dsio : 0.0;
    o_jq[j] = keep ? kOneOver4Pi * (h2.psum + h2.pdif) * dsip : 0.0;
  }
}

}  // namespace velaro
