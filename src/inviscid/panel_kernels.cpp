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

}  // namespace velaro
