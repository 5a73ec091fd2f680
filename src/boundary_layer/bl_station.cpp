// Secondary variables of a boundary-layer station and their derivatives with
// respect to the primary variables theta, dstar, u and ctau.
#include "boundary_layer/bl_station.h"

#include <algorithm>
#include <cmath>

#include "boundary_layer/closures.h"

namespace velaro {

namespace {

// Total derivatives of the closure arguments Hk, rt and H* with respect to
// the primary variables and to the Reynolds number (and that of Us with
// respect to the Reynolds number); the dissipation totals are chained
// through them.
struct ArgumentSlopes {
  double hk_theta, hk_dstar;
  double rt_theta, rt_u, rt_re;
  double hs_theta, hs_dstar, hs_u, hs_re;
  double us_re;
};

void set_laminar_dissipation(BlStation& st, const DissipationResult& d, const ArgumentSlopes& a) {
  st.di = d.di;
  st.di_hk = d.di_hk;
  st.di_rt = d.di_rt;
  st.di_theta = a.rt_theta * d.di_rt + a.hk_theta * d.di_hk;
  st.di_dstar = a.hk_dstar * d.di_hk;
  st.di_u = a.rt_u * d.di_rt;
  st.di_ctau = 0.0;
}

void set_turbulent_dissipation(BlStation& st, const TurbulentDissipationResult& d,
                               const ArgumentSlopes& a) {
  if (d.laminar_chosen) {
    set_laminar_dissipation(st, d.laminar, a);
    return;
  }
  const double dus = d.ddl_us + d.dd_us;
  const double dhs = d.ddl_hs + d.dd_hs;
  st.di = d.di_turb;
  st.di_theta = a.rt_theta * d.ddl_rt + st.us_theta * dus + a.hs_theta * dhs +
                d.diw * (d.dfac_rt * a.rt_theta + d.dfac_hk * a.hk_theta) +
                d.dfac * (d.diw_cf * (d.cf2t.cf_rt * a.rt_theta + d.cf2t.cf_hk * a.hk_theta) +
                          d.diw_us * st.us_theta + d.diw_hs * a.hs_theta);
  st.di_dstar = st.us_dstar * dus + a.hs_dstar * dhs + d.diw * d.dfac_hk * a.hk_dstar +
                d.dfac * (d.diw_cf * d.cf2t.cf_hk * a.hk_dstar + d.diw_us * st.us_dstar +
                          d.diw_hs * a.hs_dstar);
  st.di_u = a.rt_u * d.ddl_rt + st.us_u * dus + a.hs_u * dhs + d.diw * d.dfac_rt * a.rt_u +
            d.dfac * (d.diw_cf * d.cf2t.cf_rt * a.rt_u + d.diw_us * st.us_u + d.diw_hs * a.hs_u);
  st.di_ctau = d.dd_s;
  const double di_re = a.rt_re * d.ddl_rt + a.us_re * dus + a.hs_re * dhs +
                       d.diw * d.dfac_rt * a.rt_re +
                       d.dfac * (d.diw_cf * d.cf2t.cf_rt * a.rt_re + d.diw_us * a.us_re +
                                 d.diw_hs * a.hs_re);
  // The stored Hk and rt slopes are recovered from the totals.
  if (std::abs(a.rt_re) > 1e-20) {
    st.di_rt = di_re / a.rt_re;
  } else if (std::abs(a.rt_u) > 1e-20) {
    st.di_rt = st.di_u / a.rt_u;
  } else {
    st.di_rt = 0.0;
  }
  if (std::abs(a.hk_dstar) > 1e-20) {
    st.di_hk = st.di_dstar / a.hk_dstar;
  } else if (std::abs(a.hk_theta) > 1e-20) {
    st.di_hk = (st.di_theta - a.rt_theta * di_re / std::max(a.rt_re, 1e-20)) / a.hk_theta;
  } else {
    st.di_hk = 0.0;
  }
}

// Both halves of the wake layer: the closure's value and partials are
// already doubled.
void set_wake_dissipation(BlStation& st, const WakeDissipationResult& d, const ArgumentSlopes& a) {
  st.di = d.di;
  st.di_hk = d.di_hk;
  st.di_rt = d.di_rt;
  if (d.laminar_chosen) {
    st.di_theta = 2.0 * (a.rt_theta * d.dilw_rt + a.hk_theta * d.dilw_hk);
    st.di_dstar = 2.0 * a.hk_dstar * d.dilw_hk;
    st.di_u = 2.0 * a.rt_u * d.dilw_rt;
    st.di_ctau = 0.0;
    return;
  }
  // H* of a wake station moves with both Hk and Rtheta; both paths enter
  // the totals so the Newton Jacobian matches the residual.
  const double di_hs = -(d.dd + d.ddl) / st.hs;
  const double di_us = d.ddl_us + d.dd_us;
  st.di_theta =
      2.0 * (a.rt_theta * d.ddl_rt + (a.hk_theta * st.hs_hk + a.rt_theta * st.hs_rt) * di_hs +
             st.us_theta * di_us);
  st.di_dstar = 2.0 * (a.hk_dstar * st.hs_hk * di_hs + st.us_dstar * di_us);
  st.di_u = 2.0 * (a.rt_u * d.ddl_rt + a.rt_u * st.hs_rt * di_hs + st.us_u * di_us);
  st.di_ctau = d.di_s;
}

}  // namespace

void compute_secondary_variables(BlStation& st, FlowType flow, double msq, double re) {
  const double theta = st.theta;
  const double dstar = st.dstar;
  const double u = st.u;
  st.flow = flow;
  ArgumentSlopes a{};

  // Shape parameter.
  st.h = dstar / theta;
  st.h_theta = -st.h / theta;
  st.h_dstar = 1.0 / theta;

  // Kinematic shape parameter, floored; the stored slopes stay those of the
  // unfloored relation.
  const KinematicShapeResult hk = kinematic_shape_parameter(st.h, msq);
  st.hk = std::max(hk.hk, hk_floor(flow));
  st.hk_h = hk.hk_h;
  st.hk_msq = hk.hk_msq;
  a.hk_theta = st.hk_h * st.h_theta;
  a.hk_dstar = st.hk_h * st.h_dstar;

  // Momentum-thickness Reynolds number.
  st.r_theta = re * u * theta;
  a.rt_theta = re * u;
  a.rt_u = re * theta;
  a.rt_re = u * theta;

  // H**.
  const DensityShapeResult hc = density_shape_parameter(st.hk, msq);
  st.hc = hc.hc;
  st.hc_hk = hc.hc_hk;
  st.hc_msq = hc.hc_msq;

  // H*.
  const KineticEnergyShapeResult hs = kinetic_energy_shape_parameter(flow, st.hk, st.r_theta, msq);
  st.hs = hs.hs;
  st.hs_hk = hs.hs_hk;
  st.hs_rt = hs.hs_rt;
  st.hs_msq = hs.hs_msq;
  a.hs_theta = hs.hs_rt * a.rt_theta + hs.hs_hk * a.hk_theta;
  a.hs_dstar = hs.hs_hk * a.hk_dstar;
  a.hs_u = hs.hs_rt * a.rt_u;
  a.hs_re = hs.hs_rt * a.rt_re;

  // Slip velocity.
  const SlipVelocityResult us = slip_velocity(flow, st.hs, st.hk, st.h);
  st.us = us.us;
  if (us.limited) {
    st.us_theta = 0.0;
    st.us_dstar = 0.0;
    st.us_u = 0.0;
  } else {
    st.us_theta = us.us_h * st.h_theta + us.us_hk * a.hk_theta + us.us_hs * a.hs_theta;
    st.us_dstar = us.us_h * st.h_dstar + us.us_hk * a.hk_dstar + us.us_hs * a.hs_dstar;
    st.us_u = us.us_hs * a.hs_u;
    a.us_re = us.us_hs * a.hs_re;
  }

  // Equilibrium stress.
  const EquilibriumStressResult cq =
      equilibrium_stress(flow, st.hk, st.h, st.r_theta, st.us, st.hs);
  st.cq = cq.cq;
  st.cq_theta = cq.cq_h * st.h_theta + cq.cq_rt * a.rt_theta + cq.cq_hk * a.hk_theta +
                cq.cq_us * st.us_theta + cq.cq_hs * a.hs_theta;
  st.cq_dstar = cq.cq_h * st.h_dstar + cq.cq_hk * a.hk_dstar + cq.cq_us * st.us_dstar +
                cq.cq_hs * a.hs_dstar;
  st.cq_u = cq.cq_rt * a.rt_u + cq.cq_us * st.us_u + cq.cq_hs * a.hs_u;

  // Skin friction: the chosen closure's own partials, not chained. A
  // turbulent station evaluates its turbulent closure once, for the skin
  // friction and the wall part of the dissipation.
  const bool turbulent = flow == FlowType::Turbulent;
  const CfResult cf_turb = turbulent ? cf_turbulent(st.hk, st.r_theta, msq) : CfResult{};
  const CfResult cf = turbulent ? turbulent_station_skin_friction(cf_turb, st.hk, st.r_theta)
                                : skin_friction(flow, st.hk, st.r_theta, msq);
  st.cf = cf.cf;
  st.cf_hk = cf.cf_hk;
  st.cf_rt = cf.cf_rt;
  st.cf_msq = cf.cf_msq;

  // Dissipation.
  switch (flow) {
    case FlowType::Laminar:
      set_laminar_dissipation(st, dissipation_laminar(st.hk, st.r_theta), a);
      break;
    case FlowType::Turbulent:
      set_turbulent_dissipation(
          st, dissipation_turbulent(st.hk, st.r_theta, st.hs, st.us, st.ctau, cf_turb), a);
      break;
    case FlowType::Wake:
      set_wake_dissipation(st, dissipation_wake(st.hk, st.r_theta, st.hs, st.us, st.ctau), a);
      break;
  }

  // Layer thickness.
  const LayerThicknessResult de = layer_thickness(st.hk, theta, dstar, a.hk_theta, a.hk_dstar);
  st.de = de.de;
  st.de_theta = de.de_theta;
  st.de_dstar = de.de_dstar;

  // Mass defect (the wake carries the trailing-edge gap).
  st.mass = st.wake() ? u * (dstar + st.dw) : u * dstar;
}

}  // namespace velaro
