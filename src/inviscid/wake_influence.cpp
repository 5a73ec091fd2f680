#include "inviscid/wake_influence.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "inviscid/panel_kernels.h"

namespace velaro {

namespace {

// Log of the squared distance and the angle seen from one panel end point;
// both 0 when the field point is that node or coincides with it.
struct EndTerms {
  double g = 0.0;
  double t = 0.0;
};

EndTerms end_terms(bool is_field_node, double rs, double sgn, double x, double yy, double offset) {
  if (is_field_node || !(rs > 0.0)) return {};
  return {std::log(rs), std::atan2(sgn * x, sgn * yy) - offset};
}

}  // namespace

WakePanelInfluence wake_panel_influence(std::span<const double> x, std::span<const double> y,
                                        std::span<const double> apanel, double xi, double yi, double nxi, double nyi,
                                        std::size_t n, std::size_t io) {
  const std::size_t total = std::min({x.size(), y.size(), apanel.size()});
  WakePanelInfluence out{std::vector<double>(total, 0.0), std::vector<double>(total, 0.0)};
  if (total < n + 2) return out;  // fewer than two wake nodes: no wake panel
  const std::size_t last = total - 1;
  const bool field_on_wake = io >= n && io < total;

  for (std::size_t jo = n; jo < last; ++jo) {
    const std::size_t jp = jo + 1;
    const std::size_t jm = (jo == n) ? jo : jo - 1;
    const std::size_t jq = (jp == last) ? jp : jp + 1;

    const double dso = std::hypot(x[jp] - x[jo], y[jp] - y[jo]);
    const double dsio = 1.0 / std::fmax(dso, 1e-12);
    const double dsim = 1.0 / std::fmax(std::hypot(x[jp] - x[jm], y[jp] - y[jm]), 1e-12);
    const double dsip = 1.0 / std::fmax(std::hypot(x[jq] - x[jo], y[jq] - y[jo]), 1e-12);
    const double sx = (x[jp] - x[jo]) * dsio;
    const double sy = (y[jp] - y[jo]) * dsio;

    const double rx1 = xi - x[jo], ry1 = yi - y[jo];
    const double rx2 = xi - x[jp], ry2 = yi - y[jp];
    const double x1 = sx * rx1 + sy * ry1;
    const double x2 = sx * rx2 + sy * ry2;
    const double yy = sx * ry1 - sy * rx1;
    const double rs1 = rx1 * rx1 + ry1 * ry1;
    const double rs2 = rx2 * rx2 + ry2 * ry2;

    // Field points on the wake see the panels from their own side; elsewhere
    // the angles are reflected to the side of the field point.
    const double sgn = field_on_wake ? 1.0 : (std::signbit(yy) ? -1.0 : 1.0);
    const double offset = (0.5 - 0.5 * sgn) * std::numbers::pi;

    const EndTerms e1 = end_terms(io == jo, rs1, sgn, x1, yy, offset);
    const EndTerms e2 = end_terms(io == jp, rs2, sgn, x2, yy, offset);
    const double g1 = e1.g, t1 = e1.t, g2 = e2.g, t2 = e2.t;

    const double x0 = 0.5 * (x1 + x2);
    const double rs0 = x0 * x0 + yy * yy;
    const double g0 = rs0 > 0.0 ? std::log(rs0) : 0.0;
    const double t0 = std::atan2(sgn * x0, sgn * yy) - offset;
    const double apan = apanel[jo];

    const double x1i = sx * nxi + sy * nyi;
    const double yyi = sx * nyi - sy * nxi;

    // Half panel from end 1 to the midpoint.
    {
      const SourceHalfPanel h =
          source_half_panel(x1, x0, yy, g1, g0, t1, t0, rs1, rs0, apan, 1.0 / (x1 - x0), true, x1i, yyi);
      out.dzdm[jm] += kOneOver4Pi * (h.pdif - h.psum) * dsim;
      out.dzdm[jo] += kOneOver4Pi * (-h.psum - h.pdif) * dsio;
      out.dzdm[jp] += kOneOver4Pi * (h.psum * (dsio + dsim) + h.pdif * (dsio - dsim));
      out.dqdm[jm] += kOneOver4Pi * (h.pdni - h.psni) * dsim;
      out.dqdm[jo] += kOneOver4Pi * (-h.psni - h.pdni) * dsio;
      out.dqdm[jp] += kOneOver4Pi * (h.psni * (dsio + dsim) + h.pdni * (dsio - dsim));
    }

    // Half panel from the midpoint to end 2.
    {
      const SourceHalfPanel h =
          source_half_panel(x0, x2, yy, g0, g2, t0, t2, rs0, rs2, apan, 1.0 / (x0 - x2), true, x1i, yyi);
      out.dzdm[jo] += kOneOver4Pi * (-h.psum * (dsip + dsio) - h.pdif * (dsip - dsio));
      out.dzdm[jp] += kOneOver4Pi * (h.psum - h.pdif) * dsio;
      out.dzdm[jq] += kOneOver4Pi * (h.psum + h.pdif) * dsip;
      out.dqdm[jo] += kOneOver4Pi * (-h.psni * (dsip + dsio) - h.pdni * (dsip - dsio));
      out.dqdm[jp] += kOneOver4Pi * (h.psni - h.pdni) * dsio;
      out.dqdm[jq] += kOneOver4Pi * (h.psni + h.pdni) * dsip;
    }
  }
  return out;
}

}  // namespace velaro
