#include "inviscid/panel_kernels.h"

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

__attribute__((target_clones("avx2", "default"))) void vortex_row(
    std::size_t count, const double* __restrict sx, const double* __restrict sy, const double* __restrict phi,
    const unsigned char* __restrict live, const double* __restrict rx, const double* __restrict ry,
    const double* __restrict rs, const double* __restrict lg, const double* __restrict th, std::size_t io,
    bool guarded, double* __restrict lo, double* __restrict hi) {
  for (std::size_t j = 0; j < count; ++j) {
    const std::size_t jp = j + 1;
    const double x1 = sx[j] * rx[j] + sy[j] * ry[j];
    const double x2 = sx[j] * rx[jp] + sy[j] * ry[jp];
    const double yy = sx[j] * ry[j] - sy[j] * rx[j];
    const double rs1 = rs[j], rs2 = rs[jp];
    const bool use1 = j != io && rs1 > kSingularSq;
    const bool use2 = jp != io && rs2 > kSingularSq;
    const double g1 = use1 ? lg[j] : 0.0;
    const double g2 = use2 ? lg[jp] : 0.0;
    const double t1 = use1 ? end_angle(phi[j], th[j], x1, 0.0) : 0.0;
    const double t2 = use2 ? end_angle(phi[j], th[jp], x2, 0.0) : 0.0;
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

}  // namespace velaro
