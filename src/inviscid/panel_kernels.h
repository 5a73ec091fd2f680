#pragma once
// Closed-form stream functions of one straight panel seen from a field
// point, shared by the airfoil and wake influence coefficients and by the
// standalone solver: the panel's local frame, the linear-vortex terms, the
// uniform source and vortex terms of a blunt trailing-edge gap panel, and one
// half of a linear-source panel.
#include <cmath>
#include <cstddef>

namespace velaro {

inline constexpr double kOneOver4Pi = 0.07957747154594767;  // 1 / (4 pi)
inline constexpr double kOneOver2Pi = 0.15915494309189535;  // 1 / (2 pi)

// One straight panel from node a to node b seen from the field point: the
// local frame and the end-point logarithms and angles, shared by every
// vortex and source panel evaluation.
struct PanelFrame {
  double dso = 0.0;   // panel length
  double dsio = 0.0;  // 1 / length
  double sx = 0.0, sy = 0.0;  // unit tangent a -> b
  double x1 = 0.0, x2 = 0.0;  // tangential coordinates of the field point from a and from b
  double yy = 0.0;            // normal coordinate of the field point
  double rs1 = 0.0, rs2 = 0.0;  // squared distances from a and from b
  double g1 = 0.0, t1 = 0.0;    // ln rs1 and the angle seen from a (0 when skipped)
  double g2 = 0.0, t2 = 0.0;    // the same from b
  double sgn = 1.0;             // reflection sign of the angles
  double branch = 0.0;          // branch offset (0.5 - 0.5 sgn) pi added to every angle
};

// Squared panel length below which a panel is skipped.
inline constexpr double kNullPanelSq = 1e-24;
// Squared distance at or below which an end point's log and angle are 0.
inline constexpr double kSingularSq = 1e-20;

// Builds the frame of panel (xa, ya) -> (xb, yb); the caller has checked the
// squared length is at least kNullPanelSq. For a field point on the body the
// reflection sign is +1; off the body (off_body) it is the sign of yy (+1 for
// yy >= 0), and the angles get the branch offset (0.5 - 0.5 sgn) pi.
// skip_a / skip_b zero the log and angle of that end point (the field point
// is that node); they are also zero when its squared distance is at or below
// kSingularSq.
PanelFrame panel_frame(double xa, double ya, double xb, double yb, double xi, double yi, bool off_body, bool skip_a,
                       bool skip_b);

// The angle atan2(sgn x, sgn yy) + branch of a field point seen from a panel
// end (x, yy: the field point in the panel frame), recovered without an arc
// tangent of its own from theta = atan2(ry, rx), the direction of the field
// point seen from that node, which both panels meeting at the node share,
// and the panel's direction angle phi: in the panel frame the field point
// lies at angle theta - phi, so the angle is pi/2 + phi - theta up to a
// whole number of turns. The number is the one that puts the result in the
// half turn the arc tangent would, chosen by the sign of sgn_x = sgn x
// alone: [0, pi] + branch for +0 or positive, (-pi, 0) + branch otherwise.
// The representative nearest the middle of that half turn is taken; the true
// value lies a quarter turn inside either end of the window, far beyond the
// few units in the last place of pi the sum is rounded by.
inline double end_angle(double phi, double theta, double sgn_x, double branch) {
  constexpr double kHalfPi = 1.5707963267948966;
  constexpr double kTwoPi = 6.283185307179586;
  const double raw = (kHalfPi + phi) - theta;
  const double centre = (std::signbit(sgn_x) ? -kHalfPi : kHalfPi) + branch;
  return raw - kTwoPi * std::floor((raw - centre) * kOneOver2Pi + 0.5);
}

// Vortex panel stream function: the symmetric part psis and the numerator of
// the antisymmetric part psid (psid = numerator / (x1 - x2)).
struct VortexTerms {
  double psis;
  double psid_num;
};
inline VortexTerms vortex_terms(const PanelFrame& f) {
  const double psis = 0.5 * f.x1 * f.g1 - 0.5 * f.x2 * f.g2 + f.x2 - f.x1 + f.yy * (f.t1 - f.t2);
  const double num = (f.x1 + f.x2) * psis + 0.5 * (f.rs2 * f.g2 - f.rs1 * f.g1 + f.x1 * f.x1 - f.x2 * f.x2);
  return {psis, num};
}

// The linear-vortex coefficients of one field point for the panels
// j -> j+1, j < count, from per-panel and per-node arrays: the panel tangent
// (sx, sy) and direction angle phi, live[j] (0 for a panel to skip: both
// outputs 0), and the field point's offsets (rx, ry), squared distances rs,
// their logs lg and direction angles th for every node. The field point is
// on the body (no reflection); node `io` is the field point itself (its log
// and angle are zero, as for a squared distance at or below kSingularSq).
// Writes lo[j] = (psis - psid) / (4 pi) for node j and hi[j] =
// (psis + psid) / (4 pi) for node j+1; psid = psid_num / (x1 - x2), as a
// product with the guarded inverse (0 for a vanishing difference) when
// `guarded`, else as a plain division. One tight loop over arrays with the
// per-panel and per-node terms computed beforehand.
void vortex_row(std::size_t count, const double* sx, const double* sy, const double* phi, const unsigned char* live,
                const double* rx, const double* ry, const double* rs, const double* lg, const double* th,
                std::size_t io, bool guarded, double* lo, double* hi);

// TE panel stream functions of its uniform source (psig) and uniform vortex
// (pgam) parts; apan is the TE panel angle.
struct TePanelTerms {
  double psig;
  double pgam;
};
inline TePanelTerms te_panel_terms(const PanelFrame& f, double apan) {
  const double psig = 0.5 * f.yy * (f.g1 - f.g2) + f.x2 * (f.t2 - apan) - f.x1 * (f.t1 - apan);
  const double pgam = 0.5 * f.x1 * f.g1 - 0.5 * f.x2 * f.g2 + f.x2 - f.x1 + f.yy * (f.t1 - f.t2);
  return {psig, pgam};
}

// One half of a linear-source panel, from its end a to its end b (the panel
// end and the midpoint, in either order), in the panel frame: tangential
// coordinates xa, xb, normal coordinate yy, logs ga, gb and angles ta, tb of
// the squared distances rsa, rsb, and the panel angle apan. dxinv is
// 1 / (xa - xb) as the caller guards it. psum and pdif are the symmetric and
// antisymmetric stream-function parts; psni and pdni their derivatives along
// the direction whose panel-frame components are x1i, yyi (computed only
// when with_velocity is set, else 0).
struct SourceHalfPanel {
  double psum;
  double pdif;
  double psni = 0.0;
  double pdni = 0.0;
};
inline SourceHalfPanel source_half_panel(double xa, double xb, double yy, double ga, double gb, double ta, double tb,
                                         double rsa, double rsb, double apan, double dxinv, bool with_velocity,
                                         double x1i = 0.0, double yyi = 0.0) {
  SourceHalfPanel h;
  h.psum = xb * (tb - apan) - xa * (ta - apan) + 0.5 * yy * (ga - gb);
  h.pdif = ((xa + xb) * h.psum + rsa * (ta - apan) - rsb * (tb - apan) + (xb - xa) * yy) * dxinv;
  if (with_velocity) {
    const double psxa = -(ta - apan);
    const double psxb = tb - apan;
    const double psyy = 0.5 * (ga - gb);
    const double pdxa = ((xa + xb) * psxa + h.psum + 2.0 * xa * (ta - apan) - h.pdif) * dxinv;
    const double pdxb = ((xa + xb) * psxb + h.psum - 2.0 * xb * (tb - apan) + h.pdif) * dxinv;
    const double pdyy = ((xa + xb) * psyy + 2.0 * (xb - xa + yy * (ta - tb))) * dxinv;
    h.psni = psxa * x1i + psxb * x1i + psyy * yyi;
    h.pdni = pdxa * x1i + pdxb * x1i + pdyy * yyi;
  }
  return h;
}

// The linear-source (mass-defect) coefficients of an on-body field point
// for the panels j -> j+1, j < count, each split at its midpoint into two
// half panels (see source_half_panel): per-panel arrays as for vortex_row,
// plus the panel angle apan, the inverse panel length dsio and the inverse
// distances dsim (nodes j+1, j-1) and dsip (nodes j+2, j), and the
// midpoint's squared distance rs0, log g0 and angle t0. Writes the six
// contributions of panel j in the order they are to be added: to nodes
// j-1, j, j+1 from the first half and to j, j+1, j+2 from the second (the
// caller folds the end indices onto the first and last node). Outputs of
// skipped panels are 0.
struct SourceRowInput {
  const double *sx, *sy, *phi, *rx, *ry, *rs, *lg, *th, *rs0, *g0, *t0, *apan, *dsio, *dsim, *dsip;
  const unsigned char* live;
  std::size_t io;
};
struct SourceRowOutput {
  double *jm, *j1, *jp1, *j2, *jp2, *jq;
};
void source_row(std::size_t count, const SourceRowInput& in, const SourceRowOutput& out);

}  // namespace velaro
