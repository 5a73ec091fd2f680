#pragma once
// Stream-function influence coefficients of the linear-vorticity panels and
// of the linear source (mass-defect) panels of an airfoil, at one field
// point: dpsi/dgamma_j, dpsi/dm_j and, optionally, the sensitivities of the
// velocity component q = dpsi/dn along a given unit direction.
//
// No free-stream terms are added; callers add psi_inf = y cos(a) - x sin(a).
#include <cstddef>
#include <vector>

#include "inviscid/panel_geometry.h"

namespace velaro {

// Sensitivities at one field point to the nodal vorticities gamma_j and the
// nodal mass defects m_j of the airfoil (n entries each).
struct PanelInfluence {
  std::vector<double> dzdg;  // dpsi / dgamma_j
  std::vector<double> dzdm;  // dpsi / dm_j (zero unless sources were requested)
  std::vector<double> dqdm;  // dq / dm_j (zero from airfoil_panel_influence)
  std::vector<double> dqdg;  // dq / dgamma_j (zero from airfoil_panel_influence)
  std::vector<double> dqdg2;  // dq / dgamma_j along the second direction, when one is requested
};

// Which parts of a row of influence coefficients to evaluate. vortex: dzdg
// (and dqdg with velocity); sources: dzdm (and dqdm with velocity);
// velocity: the q sensitivities along the unit vector (nx, ny). Entries
// of parts not requested stay zero. second_velocity (with vortex and
// velocity) adds dqdg2, the vorticity sensitivities along a second unit
// vector (nx2, ny2), from the same logarithms, angles and panel frames: the
// numbers are those of a separate evaluation along that vector.
struct InfluenceTerms {
  bool vortex = true;
  bool sources = false;
  bool velocity = false;
  double nx = 0.0;
  double ny = 0.0;
  bool second_velocity = false;
  double nx2 = 0.0;
  double ny2 = 0.0;
};

// Evaluates rows of influence coefficients of one airfoil at many field
// points. The per-panel quantities (length, tangent, direction angle,
// neighbour distances) are computed once for the geometry; at each field
// point the logarithm of the squared distance and the direction angle of
// every node are computed once, in vector form, and shared by the two panels
// that meet at that node (a row takes n + 1 logarithms and arc tangents, plus
// one of each per panel midpoint when sources are requested, instead of two
// per panel). Scratch storage is sized on construction and reused by every
// row. The geometry must outlive the object.
class AirfoilInfluenceRows {
 public:
  explicit AirfoilInfluenceRows(const AirfoilGeometry& geom);

  // Fills `out` (each vector sized n, zeroed first, storage reused) with the
  // requested terms at field point io, (xi, yi); io as for
  // airfoil_panel_influence below.
  void evaluate(std::size_t io, double xi, double yi, const InfluenceTerms& terms, PanelInfluence& out);

 private:
  const AirfoilGeometry& g_;
  // Per panel j -> j+1 (n - 1 entries).
  std::vector<unsigned char> live_;  // length squared at least kNullPanelSq
  std::vector<double> dso_, dsio_, sx_, sy_, phi_, dsim_, dsip_;
  // Per field point: node offsets, squared distances, logs and angles; and
  // the per-panel frame coordinates and midpoint terms.
  std::vector<double> rx_, ry_, rs_, lg_, th_;
  std::vector<double> x1_, x2_, yy_, sgn_, mx_, my_, rs0_, g0_, t0_, lo_, hi_;
  std::vector<double> c_jm_, c_j1_, c_jp1_, c_j2_, c_jp2_, c_jq_;  // source contributions
};

// io: index of the field point; io < n is airfoil node io, io >= n a point off
// the airfoil (n for the sharp-TE control point, n + k for wake node k).
PanelInfluence airfoil_panel_influence(const AirfoilGeometry& geom, std::size_t io, double xi, double yi,
                                       bool with_sources);

// As airfoil_panel_influence with sources, plus dqdg and dqdm along the unit
// vector (nxi, nyi).
PanelInfluence airfoil_panel_influence_with_velocity(const AirfoilGeometry& geom, std::size_t io, double xi,
                                                     double yi, double nxi, double nyi);

}  // namespace velaro
