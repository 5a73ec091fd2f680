#include "inviscid/inviscid_solver.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

#include "common/text_format.h"
#include "geometry/contour_checks.h"
#include "inviscid/dense_lu.h"
#include "inviscid/panel_kernels.h"
#include "inviscid/vector_math.h"

namespace velaro {

namespace {

// The LU factors are refused when a pivot is zero, non-finite or negligible
// against the largest entry of U (rank deficiency at working precision).
bool factors_usable(const DenseLu& lu) {
  const auto diag = lu.matrixLU().diagonal();
  const double scale = lu.matrixLU().cwiseAbs().maxCoeff();
  if (!std::isfinite(scale) || scale == 0.0) return false;
  const double floor = static_cast<double>(diag.size()) * std::numeric_limits<double>::epsilon() * scale;
  for (Eigen::Index i = 0; i < diag.size(); ++i) {
    const double p = diag[i];
    if (!std::isfinite(p) || std::abs(p) <= floor) return false;
  }
  return true;
}

bool all_finite(const Eigen::VectorXd& v) { return v.allFinite(); }

// Largest nodal speed of the 0 and 90 degree base solutions accepted, in
// free-stream speeds.
constexpr double kMaxBaseSpeed = 1e3;

// Node coordinates of the solver: panel starts, plus the last end point
// unless it returns onto the first point (a closed contour).
struct SolverNodes {
  std::vector<double> x, y;
  bool closed = false;
  std::size_t size() const { return x.size(); }
};

SolverNodes solver_nodes(const std::vector<Panel>& panels) {
  SolverNodes nodes;
  nodes.x.reserve(panels.size() + 1);
  nodes.y.reserve(panels.size() + 1);
  for (const Panel& p : panels) {
    nodes.x.push_back(p.start.x);
    nodes.y.push_back(p.start.y);
  }
  const Point last_end = panels.back().end;
  nodes.closed = !(std::abs(last_end.x - panels.front().start.x) >= 1e-10 ||
                   std::abs(last_end.y - panels.front().start.y) >= 1e-10);
  if (!nodes.closed) {
    nodes.x.push_back(last_end.x);
    nodes.y.push_back(last_end.y);
  }
  return nodes;
}

// Gap-panel weights: uniform source (scs) and vortex (sds) parts of the
// gap, from the gap projected across and along the TE bisector. A gap below
// 1e-4 chords counts as closed: pure source, no vortex.
struct GapWeights {
  double scs = 1.0;
  double sds = 0.0;
};

GapWeights gap_weights(const std::vector<Panel>& panels, const SolverNodes& nodes, double chord) {
  const std::size_t n = nodes.size();
  const double gx = nodes.x[n - 1] - nodes.x[0];
  const double gy = nodes.y[n - 1] - nodes.y[0];
  const double gap = std::sqrt(gx * gx + gy * gy);
  GapWeights w;
  if (!(1e-4 * chord > gap)) {
    const double a = (panels.front().t.x - panels.back().t.x) / 2.0;
    const double b = (panels.front().t.y - panels.back().t.y) / 2.0;
    w.scs = (a * gy - b * gx) / gap;
    w.sds = (b * gy + a * gx) / gap;
  }
  return w;
}

// The (n+1) x (n+1) system and its right-hand sides for alpha = 0 and 90
// degrees: stream function psi(node i) - psi0 = -psi_inf(node i), plus the
// trailing-edge condition.
struct SolverSystem {
  Eigen::MatrixXd a;
  Eigen::VectorXd r0, r90;
};

SolverSystem assemble_solver_system(const SolverNodes& nodes, const GapWeights& w, double seps) {
  const std::vector<double>& x = nodes.x;
  const std::vector<double>& y = nodes.y;
  const std::size_t n = nodes.size();
  const Eigen::Index dim = static_cast<Eigen::Index>(n) + 1;
  SolverSystem sys{Eigen::MatrixXd::Zero(dim, dim), Eigen::VectorXd(dim), Eigen::VectorXd(dim)};
  const Eigen::Index nl = static_cast<Eigen::Index>(n) - 1;

  // Per panel j -> j+1 (the last one, n-1 -> 0, is the gap panel of an
  // open contour): whether it counts, its frame and direction angle, once
  // for all rows (the arithmetic of panel_frame).
  std::vector<double> dso(n, 0.0), dsio(n, 0.0), sx(n, 0.0), sy(n, 0.0), phi(n, 0.0);
  std::vector<unsigned char> live;
  live.assign(n, 0);
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t jp = j + 1 == n ? 0 : j + 1;
    const double dx = x[jp] - x[j];
    const double dy = y[jp] - y[j];
    const double lsq = dx * dx + dy * dy;
    if (lsq < kNullPanelSq) continue;
    const bool gap_panel = !nodes.closed && j + 1 == n;
    if (gap_panel && lsq < seps * seps) continue;
    live[j] = 1;
    dso[j] = std::sqrt(dx * dx + dy * dy);
    dsio[j] = 1.0 / dso[j];
    sx[j] = dx * dsio[j];
    sy[j] = dy * dsio[j];
    phi[j] = std::atan2(sy[j], sx[j]);
  }

  // Each row is accumulated in a contiguous buffer, then stored (the matrix
  // is column-major, so row-wise accumulation in place would stride). The
  // log of the squared distance and the direction angle of every node are
  // evaluated once per row, in vector form, for both panels meeting there.
  std::vector<double> coef(n), rx(n), ry(n), rs(n), lg(n), th(n), lo(n), hi(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double xi = x[i], yi = y[i];
    for (std::size_t j = 0; j < n; ++j) {
      rx[j] = xi - x[j];
      ry[j] = yi - y[j];
      rs[j] = rx[j] * rx[j] + ry[j] * ry[j];
    }
    vmath::log_array(rs.data(), lg.data(), n);
    vmath::atan2_array(ry.data(), rx.data(), th.data(), n);
    std::fill(coef.begin(), coef.end(), 0.0);
    // Panels 0 .. n-2 in one pass over the panel arrays; the last panel
    // (n-1 -> 0, the gap panel of an open contour) below.
    vortex_row(n - 1, sx.data(), sy.data(), phi.data(), live.data(), rx.data(), ry.data(), rs.data(), lg.data(),
               th.data(), i, false, lo.data(), hi.data());
    for (std::size_t j = 0; j + 1 < n; ++j) {
      coef[j] += lo[j];
      coef[j + 1] += hi[j];
    }
    for (std::size_t j = n - 1; j < n; ++j) {
      if (!live[j]) continue;
      const std::size_t jp = j + 1 == n ? 0 : j + 1;
      const bool gap_panel = !nodes.closed && j + 1 == n;
      PanelFrame f;
      f.dso = dso[j];
      f.dsio = dsio[j];
      f.sx = sx[j];
      f.sy = sy[j];
      f.x1 = sx[j] * rx[j] + sy[j] * ry[j];
      f.x2 = sx[j] * rx[jp] + sy[j] * ry[jp];
      f.yy = sx[j] * ry[j] - sy[j] * rx[j];
      f.rs1 = rs[j];
      f.rs2 = rs[jp];
      if (i != j && f.rs1 > kSingularSq) {
        f.g1 = lg[j];
        f.t1 = end_angle(phi[j], th[j], f.x1, 0.0);
      }
      if (i != jp && f.rs2 > kSingularSq) {
        f.g2 = lg[jp];
        f.t2 = end_angle(phi[j], th[jp], f.x2, 0.0);
      }
      if (!gap_panel) {
        const VortexTerms vt = vortex_terms(f);
        const double psid = vt.psid_num / (f.x1 - f.x2);
        coef[j] += kOneOver4Pi * (vt.psis - psid);
        coef[jp] += kOneOver4Pi * (vt.psis + psid);
      } else {
        const double apan = std::atan2(-f.sx, f.sy) + std::numbers::pi;
        const TePanelTerms te = te_panel_terms(f, apan);
        coef[n - 1] -= 0.5 * kOneOver2Pi * w.scs * te.psig;
        coef[0] += 0.5 * kOneOver2Pi * w.scs * te.psig;
        coef[n - 1] += 0.5 * kOneOver2Pi * w.sds * te.pgam;
        coef[0] -= 0.5 * kOneOver2Pi * w.sds * te.pgam;
      }
    }
    const Eigen::Index row = static_cast<Eigen::Index>(i);
    for (std::size_t j = 0; j < n; ++j) sys.a(row, static_cast<Eigen::Index>(j)) = coef[j];
    sys.a(row, dim - 1) = -1.0;
    sys.r0[row] = -yi;
    sys.r90[row] = xi;
  }
  // Trailing-edge condition: equal and opposite vorticity on the two TE
  // nodes, or zero vorticity on the single TE node of a closed contour.
  sys.a(dim - 1, 0) = 1.0;
  if (!nodes.closed) sys.a(dim - 1, nl) = 1.0;
  sys.r0[dim - 1] = 0.0;
  sys.r90[dim - 1] = 0.0;
  return sys;
}

// Lift and moment of the pressure distribution: trapezoidal pressure
// integral round the closed polygon; moment about (0.25 chord, 0),
// normalised by the chord.
void integrate_forces(const SolverNodes& nodes, double chord, double ca, double sa, InviscidSolution& sol) {
  const std::vector<double>& x = nodes.x;
  const std::vector<double>& y = nodes.y;
  const std::size_t n = nodes.size();
  double cl = 0.0, cm_sum = 0.0;
  for (std::size_t k = 1; k <= n; ++k) {
    const std::size_t km = k - 1;
    const std::size_t kk = k == n ? 0 : k;
    const double dx = x[kk] - x[km];
    const double dy = y[kk] - y[km];
    const double DX = dx * ca + dy * sa;
    const double DY = dy * ca - dx * sa;
    const double ag = (sol.cp[km] + sol.cp[kk]) / 2.0;
    const double dg = sol.cp[kk] - sol.cp[km];
    const double mx = (x[km] + x[kk]) / 2.0 - 0.25 * chord;
    const double my = (y[km] + y[kk]) / 2.0;
    const double ax = mx * ca + my * sa;
    const double ay = my * ca - mx * sa;
    cl += DX * ag;
    cm_sum += ag * (DX * ax + DY * ay) / chord + dg * (DX * DX) / (12.0 * chord) + dg * (DY * DY) / (12.0 * chord);
  }
  sol.cl = cl;
  sol.cm = -cm_sum;
}

}  // namespace

std::expected<InviscidSolution, SolverError> InviscidSolver::solve(Body body, const FlowConditions& flow) {
  if (body.panels().size() > 2) {
    std::vector<Point> points = body.points();
    if (auto open = without_blunt_closing_point(points)) {
      auto rebuilt = Body::from_points(*open);
      if (!rebuilt) return std::unexpected(SolverError::invalid_geometry(rebuilt.error().to_string()));
      body = std::move(*rebuilt);
      points = std::move(*open);
    }
    const std::size_t nodes = points.size() - (is_closed_contour(points) ? 1 : 0);
    if (nodes > kMaxNodes) return std::unexpected(SolverError::too_many_nodes(nodes, kMaxNodes));
    if (auto bad = check_airfoil_contour(points)) return std::unexpected(SolverError::invalid_geometry(bad->to_string()));
  }
  const std::vector<Panel>& panels = body.panels();
  const std::size_t npan = panels.size();
  if (npan <= 2) return std::unexpected(SolverError::insufficient_panels());
  if (!std::isfinite(flow.alpha))
    return std::unexpected(SolverError::invalid_flow("angle of attack is " + text::display(flow.alpha)));
  if (!std::isfinite(flow.v_inf) || flow.v_inf == 0.0)
    return std::unexpected(SolverError::invalid_flow("free-stream speed is " + text::display(flow.v_inf)));

  const SolverNodes nodes = solver_nodes(panels);
  const std::size_t n = nodes.size();

  double perimeter = 0.0;
  for (const Panel& p : panels) perimeter += p.length;
  const double seps = 1e-5 * perimeter;

  const Point chord_a = panels[body.te_first_panel()].start;
  const Point chord_b = panels[std::min(npan - 1, body.le_index())].start;
  const double chord = std::sqrt((chord_b.x - chord_a.x) * (chord_b.x - chord_a.x) +
                                 (chord_b.y - chord_a.y) * (chord_b.y - chord_a.y));
  if (!(chord > 0.0) || !std::isfinite(chord))
    return std::unexpected(SolverError::invalid_flow("reference chord from the first point to the leftmost point is " +
                                                     text::display(chord)));

  SolverSystem sys = assemble_solver_system(nodes, gap_weights(panels, nodes, chord), seps);
  const Eigen::Index dim = sys.a.rows();
  // Factored in place: the assembled matrix is not needed afterwards.
  const DenseLu lu(std::move(sys.a));
  if (!factors_usable(lu)) return std::unexpected(SolverError::singular_matrix());
  // Both base right-hand sides in one pass over the factors.
  Eigen::MatrixXd rhs(dim, 2);
  rhs.col(0) = sys.r0;
  rhs.col(1) = sys.r90;
  const Eigen::MatrixXd base = lu.solve(rhs);
  const Eigen::VectorXd g0 = base.col(0);
  const Eigen::VectorXd g90 = base.col(1);
  if (!all_finite(g0) || !all_finite(g90)) return std::unexpected(SolverError::singular_matrix());
  // Surface speeds of the unit free streams far above any real section's
  // (a 1% thick nose at 25 degrees reaches some 25 times the free stream)
  // come from a system that is singular in all but rounding, such as a
  // jagged contour of nearly coincident panels: not a flow.
  const Eigen::Index nodes_n = static_cast<Eigen::Index>(n);
  if (std::max(g0.head(nodes_n).cwiseAbs().maxCoeff(), g90.head(nodes_n).cwiseAbs().maxCoeff()) > kMaxBaseSpeed)
    return std::unexpected(SolverError::singular_matrix());

  const double ca = std::cos(flow.alpha);
  const double sa = std::sin(flow.alpha);
  InviscidSolution sol;
  sol.gamma.resize(n);
  sol.cp.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    const Eigen::Index k = static_cast<Eigen::Index>(j);
    sol.gamma[j] = ca * g0[k] + sa * g90[k];
    const double q = sol.gamma[j] / flow.v_inf;
    sol.cp[j] = 1.0 - q * q;
  }
  sol.psi0 = ca * g0[dim - 1] + sa * g90[dim - 1];
  sol.body_node_counts = {n};

  integrate_forces(nodes, chord, ca, sa, sol);
  if (!std::isfinite(sol.cl) || !std::isfinite(sol.cm)) return std::unexpected(SolverError::singular_matrix());
  return sol;
}

}  // namespace velaro
