#include "inviscid/wake_influence.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "inviscid/panel_kernels.h"
#include "inviscid/vector_math.h"

namespace velaro {

WakeInfluenceRows::WakeInfluenceRows(std::span<const double> x, std::span<const double> y,
                                     std::span<const double> apanel, std::size_t n)
    : x_(x), y_(y), apanel_(apanel), n_(n), total_(std::min({x.size(), y.size(), apanel.size()})) {
  if (total_ < n_ + 2) return;  // fewer than two wake nodes: no wake panel
  const std::size_t last = total_ - 1;
  const std::size_t nodes = total_ - n_;
  const std::size_t panels = nodes - 1;
  for (auto* v : {&dsio_, &dsim_, &dsip_, &sx_, &sy_, &phi_, &x1_, &x2_, &yy_, &sgn_, &mx_, &my_, &rs0_, &g0_, &t0_})
    v->assign(panels, 0.0);
  for (auto* v : {&rx_, &ry_, &rs_, &lg_, &th_}) v->assign(nodes, 0.0);
  for (std::size_t jo = n_; jo < last; ++jo) {
    const std::size_t k = jo - n_;
    const std::size_t jp = jo + 1;
    const std::size_t jm = (jo == n_) ? jo : jo - 1;
    const std::size_t jq = (jp == last) ? jp : jp + 1;
    const double dso = std::hypot(x[jp] - x[jo], y[jp] - y[jo]);
    dsio_[k] = 1.0 / std::fmax(dso, 1e-12);
    dsim_[k] = 1.0 / std::fmax(std::hypot(x[jp] - x[jm], y[jp] - y[jm]), 1e-12);
    dsip_[k] = 1.0 / std::fmax(std::hypot(x[jq] - x[jo], y[jq] - y[jo]), 1e-12);
    sx_[k] = (x[jp] - x[jo]) * dsio_[k];
    sy_[k] = (y[jp] - y[jo]) * dsio_[k];
    phi_[k] = std::atan2(sy_[k], sx_[k]);
  }
}

void WakeInfluenceRows::evaluate(double xi, double yi, double nxi, double nyi, std::size_t io,
                                 WakePanelInfluence& out, bool with_velocity) {
  const std::size_t total = total_;
  out.dzdm.assign(total, 0.0);
  out.dqdm.assign(total, 0.0);
  if (total < n_ + 2) return;
  const std::size_t n = n_;
  const std::size_t last = total - 1;
  const std::size_t nodes = total - n;
  const std::size_t panels = nodes - 1;
  const bool field_on_wake = io >= n && io < total;
  const auto& x = x_;
  const auto& y = y_;

  for (std::size_t k = 0; k < nodes; ++k) {
    rx_[k] = xi - x[n + k];
    ry_[k] = yi - y[n + k];
    rs_[k] = rx_[k] * rx_[k] + ry_[k] * ry_[k];
  }
  vmath::log_array(rs_.data(), lg_.data(), nodes);
  vmath::atan2_array(ry_.data(), rx_.data(), th_.data(), nodes);

  for (std::size_t k = 0; k < panels; ++k) {
    x1_[k] = sx_[k] * rx_[k] + sy_[k] * ry_[k];
    x2_[k] = sx_[k] * rx_[k + 1] + sy_[k] * ry_[k + 1];
    yy_[k] = sx_[k] * ry_[k] - sy_[k] * rx_[k];
    // Field points on the wake see the panels from their own side;
    // elsewhere the angles are reflected to the side of the field point.
    sgn_[k] = field_on_wake ? 1.0 : (std::signbit(yy_[k]) ? -1.0 : 1.0);
    const double x0 = 0.5 * (x1_[k] + x2_[k]);
    rs0_[k] = x0 * x0 + yy_[k] * yy_[k];
    mx_[k] = sgn_[k] * x0;
    my_[k] = sgn_[k] * yy_[k];
  }
  vmath::log_array(rs0_.data(), g0_.data(), panels);
  vmath::atan2_array(mx_.data(), my_.data(), t0_.data(), panels);

  for (std::size_t jo = n; jo < last; ++jo) {
    const std::size_t k = jo - n;
    const std::size_t jp = jo + 1;
    const std::size_t jm = (jo == n) ? jo : jo - 1;
    const std::size_t jq = (jp == last) ? jp : jp + 1;
    const double dsio = dsio_[k], dsim = dsim_[k], dsip = dsip_[k];
    const double sx = sx_[k], sy = sy_[k];
    const double x1 = x1_[k], x2 = x2_[k], yy = yy_[k];
    const double rs1 = rs_[k], rs2 = rs_[k + 1];
    const double sgn = sgn_[k];
    const double offset = (0.5 - 0.5 * sgn) * std::numbers::pi;

    // Log and angle of each end; both 0 when the field point is that node
    // or coincides with it.
    double g1 = 0.0, t1 = 0.0, g2 = 0.0, t2 = 0.0;
    if (io != jo && rs1 > 0.0) {
      g1 = lg_[k];
      t1 = end_angle(phi_[k], th_[k], sgn * x1, -offset);
    }
    if (io != jp && rs2 > 0.0) {
      g2 = lg_[k + 1];
      t2 = end_angle(phi_[k], th_[k + 1], sgn * x2, -offset);
    }

    const double x0 = 0.5 * (x1 + x2);
    const double rs0 = rs0_[k];
    const double g0 = rs0 > 0.0 ? g0_[k] : 0.0;
    const double t0 = t0_[k] - offset;
    const double apan = apanel_[jo];

    const double x1i = sx * nxi + sy * nyi;
    const double yyi = sx * nyi - sy * nxi;

    // Half panel from end 1 to the midpoint.
    {
      const SourceHalfPanel h =
          source_half_panel(x1, x0, yy, g1, g0, t1, t0, rs1, rs0, apan, 1.0 / (x1 - x0), with_velocity, x1i, yyi);
      out.dzdm[jm] += kOneOver4Pi * (h.pdif - h.psum) * dsim;
      out.dzdm[jo] += kOneOver4Pi * (-h.psum - h.pdif) * dsio;
      out.dzdm[jp] += kOneOver4Pi * (h.psum * (dsio + dsim) + h.pdif * (dsio - dsim));
      if (with_velocity) {
        out.dqdm[jm] += kOneOver4Pi * (h.pdni - h.psni) * dsim;
        out.dqdm[jo] += kOneOver4Pi * (-h.psni - h.pdni) * dsio;
        out.dqdm[jp] += kOneOver4Pi * (h.psni * (dsio + dsim) + h.pdni * (dsio - dsim));
      }
    }

    // Half panel from the midpoint to end 2.
    {
      const SourceHalfPanel h =
          source_half_panel(x0, x2, yy, g0, g2, t0, t2, rs0, rs2, apan, 1.0 / (x0 - x2), with_velocity, x1i, yyi);
      out.dzdm[jo] += kOneOver4Pi * (-h.psum * (dsip + dsio) - h.pdif * (dsip - dsio));
      out.dzdm[jp] += kOneOver4Pi * (h.psum - h.pdif) * dsio;
      out.dzdm[jq] += kOneOver4Pi * (h.psum + h.pdif) * dsip;
      if (with_velocity) {
        out.dqdm[jo] += kOneOver4Pi * (-h.psni * (dsip + dsio) - h.pdni * (dsip - dsio));
        out.dqdm[jp] += kOneOver4Pi * (h.psni - h.pdni) * dsio;
        out.dqdm[jq] += kOneOver4Pi * (h.psni + h.pdni) * dsip;
      }
    }
  }
}

WakePanelInfluence wake_panel_influence(std::span<const double> x, std::span<const double> y,
                                        std::span<const double> apanel, double xi, double yi, double nxi, double nyi,
                                        std::size_t n, std::size_t io) {
  WakePanelInfluence out;
  WakeInfluenceRows rows(x, y, apanel, n);
  rows.evaluate(xi, yi, nxi, nyi, io, out);
  return out;
}

}  // namespace velaro
