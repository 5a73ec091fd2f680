#include "inviscid/wake_influence.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "inviscid/influence.h"

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

PswlinResult pswlin(std::span<const double> x, std::span<const double> y, std::span<const double> apanel,
                    double xi, double yi, double nxi, double nyi, std::size_t n, std::size_t io) {
  const std::size_t total = std::min({x.size(), y.size(), apanel.size()});
  PswlinResult out{std::vector<double>(total, 0.0), std::vector<double>(total, 0.0)};
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
      const double dxinv = 1.0 / (x1 - x0);
      const double psum = x0 * (t0 - apan) - x1 * (t1 - apan) + 0.5 * yy * (g1 - g0);
      const double pdif = ((x1 + x0) * psum + rs1 * (t1 - apan) - rs0 * (t0 - apan) + (x0 - x1) * yy) * dxinv;
      out.dzdm[jm] += kQopi * (pdif - psum) * dsim;
      out.dzdm[jo] += kQopi * (-psum - pdif) * dsio;
      out.dzdm[jp] += kQopi * (psum * (dsio + dsim) + pdif * (dsio - dsim));

      const double psx1 = -(t1 - apan);
      const double psx0 = t0 - apan;
      const double psyy = 0.5 * (g1 - g0);
      const double pdx1 = ((x1 + x0) * psx1 + psum + 2.0 * x1 * (t1 - apan) - pdif) * dxinv;
      const double pdx0 = ((x1 + x0) * psx0 + psum - 2.0 * x0 * (t0 - apan) + pdif) * dxinv;
      const double pdyy = ((x1 + x0) * psyy + 2.0 * (x0 - x1 + yy * (t1 - t0))) * dxinv;
      const double psni = psx1 * x1i + psx0 * x1i + psyy * yyi;
      const double pdni = pdx1 * x1i + pdx0 * x1i + pdyy * yyi;
      out.dqdm[jm] += kQopi * (pdni - psni) * dsim;
      out.dqdm[jo] += kQopi * (-psni - pdni) * dsio;
      out.dqdm[jp] += kQopi * (psni * (dsio + dsim) + pdni * (dsio - dsim));
    }

    // Half panel from the midpoint to end 2.
    {
      const double dxinv = 1.0 / (x0 - x2);
      const double psum = x2 * (t2 - apan) - x0 * (t0 - apan) + 0.5 * yy * (g0 - g2);
      const double pdif = ((x0 + x2) * psum + rs0 * (t0 - apan) - rs2 * (t2 - apan) + (x2 - x0) * yy) * dxinv;
      out.dzdm[jo] += kQopi * (-psum * (dsip + dsio) - pdif * (dsip - dsio));
      out.dzdm[jp] += kQopi * (psum - pdif) * dsio;
      out.dzdm[jq] += kQopi * (psum + pdif) * dsip;

      const double psx0 = -(t0 - apan);
      const double psx2 = t2 - apan;
      const double psyy = 0.5 * (g0 - g2);
      const double pdx0 = ((x0 + x2) * psx0 + psum + 2.0 * x0 * (t0 - apan) - pdif) * dxinv;
      const double pdx2 = ((x0 + x2) * psx2 + psum - 2.0 * x2 * (t2 - apan) + pdif) * dxinv;
      const double pdyy = ((x0 + x2) * psyy + 2.0 * (x2 - x0 + yy * (t0 - t2))) * dxinv;
      const double psni = psx0 * x1i + psx2 * x1i + psyy * yyi;
      const double pdni = pdx0 * x1i + pdx2 * x1i + pdyy * yyi;
      out.dqdm[jo] += kQopi * (-psni * (dsip + dsio) - pdni * (dsip - dsio));
      out.dqdm[jp] += kQopi * (psni - pdni) * dsio;
      out.dqdm[jq] += kQopi * (psni + pdni) * dsip;
    }
  }
  return out;
}

}  // namespace velaro
