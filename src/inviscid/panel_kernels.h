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
VortexTerms vortex_terms(const PanelFrame& f);

// TE panel stream functions of its uniform source (psig) and uniform vortex
// (pgam) parts; apan is the TE panel angle.
struct TePanelTerms {
  double psig;
  double pgam;
};
TePanelTerms te_panel_terms(const PanelFrame& f, double apan);

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

}  // namespace velaro
