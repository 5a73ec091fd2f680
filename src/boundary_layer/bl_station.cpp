// Secondary variables of a boundary-layer station and their derivatives with
// respect to the primary variables theta, dstar, u and ctau.
#include "boundary_layer/bl_station.h"

#include <algorithm>
#include <cmath>

#include "boundary_layer/closures.h"

namespace velaro {

void compute_secondary_variables(BlStation& st, FlowType flow, double msq, double re) {
  const double theta = st.theta;
  const double dstar = st.dstar;
  const double u = st.u;
  const double s = st.ctau;

  // Shape parameter.
  st.h = dstar / theta;
  st.h_theta = -st.h / theta;
  st.h_dstar = 1.0 / theta;

  // Kinematic shape parameter, floored; the stored slopes stay those of kinematic_shape_parameter.
  const KinematicShapeResult hk = kinematic_shape_parameter(st.h, msq);
  st.hk = std::max(hk.hk, hk_floor(flow));
  st.hk_h = hk.hk_h;
  st.hk_msq = hk.hk_msq;
  const double hk_theta = st.hk_h * st.h_theta;
  const double hk_dstar = st.hk_h * st.h_dstar;

  // Momentum-thickness Reynolds number.
  st.r_theta = re * u * theta;
  const double rt_theta = re * u;
  const double rt_u = re * theta;
  const double rt_re = u * theta;

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
  const double hs_theta = hs.hs_rt * rt_theta + hs.hs_hk * hk_theta;
  const double hs_dstar = hs.hs_hk * hk_dstar;
  const double hs_u = hs.hs_rt * rt_u;
  const double hs_re = hs.hs_rt * rt_re;

  // Slip velocity.
  const SlipVelocityResult us = slip_velocity(flow, st.hs, st.hk, st.h);
  st.us = us.us;
  double us_re = 0.0;
  if (us.limited) {
    st.us_theta = 0.0;
    st.us_dstar = 0.0;
    st.us_u = 0.0;
  } else {
    st.us_theta = us.us_h * st.h_theta + us.us_hk * hk_theta + us.us_hs * hs_theta;
    st.us_dstar = us.us_h * st.h_dstar + us.us_hk * hk_dstar + us.us_hs * hs_dstar;
    st.us_u = us.us_hs * hs_u;
    us_re = us.us_hs * hs_re;
  }

  // Equilibrium stress.
  const EquilibriumStressResult cq =
      equilibrium_stress(flow, st.hk, st.h, st.r_theta, st.us, st.hs);
  st.cq = cq.cq;
  st.cq_theta = cq.cq_h * st.h_theta + cq.cq_rt * rt_theta + cq.cq_hk * hk_theta +
                cq.cq_us * st.us_theta + cq.cq_hs * hs_theta;
  st.cq_dstar = cq.cq_h * st.h_dstar + cq.cq_hk * hk_dstar + cq.cq_us * st.us_dstar +
                cq.cq_hs * hs_dstar;
  st.cq_u = cq.cq_rt * rt_u + cq.cq_us * st.us_u + cq.cq_hs * hs_u;

  // Skin friction: the chosen closure's own partials, not chained.
  const CfResult cf = skin_friction(flow, st.hk, st.r_theta, msq);
  st.cf = cf.cf;
  st.cf_hk = cf.cf_hk;
  st.cf_rt = cf.cf_rt;
  st.cf_msq = cf.cf_msq;

  // Dissipation.
  auto set_laminar_dissipation = [&](const DissipationResult& d) {
    st.di = d.di;
    st.di_hk = d.di_hk;
    st.di_rt = d.di_rt;
    st.di_theta = rt_theta * d.di_rt + hk_theta * d.di_hk;
    st.di_dstar = hk_dstar * d.di_hk;
    st.di_u = rt_u * d.di_rt;
    st.di_ctau = 0.0;
  };
  switch (flow) {
    case FlowType::Laminar:
      set_laminar_dissipation(dissipation_laminar(st.hk, st.r_theta));
      break;
    case FlowType::Turbulent: {
      const TurbulentDissipationResult d =
          dissipation_turbulent(st.hk, st.r_theta, msq, st.hs, st.us, s);
      if (d.laminar_chosen) {
        set_laminar_dissipation(d.laminar);
        break;
      }
      const double dus = d.ddl_us + d.dd_us;
      const double dhs = d.ddl_hs + d.dd_hs;
      st.di = d.di_turb;
      st.di_theta =
          rt_theta * d.ddl_rt + st.us_theta * dus + hs_theta * dhs +
          d.diw * (d.dfac_rt * rt_theta + d.dfac_hk * hk_theta) +
          d.dfac * (d.diw_cf * (d.cf2t.cf_rt * rt_theta + d.cf2t.cf_hk * hk_theta) +
                    d.diw_us * st.us_theta + d.diw_hs * hs_theta);
      st.di_dstar = st.us_dstar * dus + hs_dstar * dhs + d.diw * d.dfac_hk * hk_dstar +
                    d.dfac * (d.diw_cf * d.cf2t.cf_hk * hk_dstar + d.diw_us * st.us_dstar +
                              d.diw_hs * hs_dstar);
      st.di_u = rt_u * d.ddl_rt + st.us_u * dus + hs_u * dhs + d.diw * d.dfac_rt * rt_u +
                d.dfac * (d.diw_cf * d.cf2t.cf_rt * rt_u + d.diw_us * st.us_u +
                          d.diw_hs * hs_u);
      st.di_ctau = 4.0 * s * (DISSIPATION_US_REF - st.us) / st.hs;
      const double di_re = rt_re * d.ddl_rt + us_re * dus + hs_re * dhs +
                           d.diw * d.dfac_rt * rt_re +
                           d.dfac * (d.diw_cf * d.cf2t.cf_rt * rt_re + d.diw_us * us_re +
                                     d.diw_hs * hs_re);
      // The stored Hk and rt slopes are recovered from the totals.
      if (std::abs(rt_re) > 1e-20) {
        st.di_rt = di_re / rt_re;
      } else if (std::abs(rt_u) > 1e-20) {
        st.di_rt = st.di_u / rt_u;
      } else {
        st.di_rt = 0.0;
      }
      if (std::abs(hk_dstar) > 1e-20) {
        st.di_hk = st.di_dstar / hk_dstar;
      } else if (std::abs(hk_theta) > 1e-20) {
        st.di_hk = (st.di_theta - rt_theta * di_re / std::max(rt_re, 1e-20)) / hk_theta;
      } else {
        st.di_hk = 0.0;
      }
      break;
    }
    case FlowType::Wake: {
      const WakeDissipationResult d = dissipation_wake(st.hk, st.r_theta, st.hs, st.us, s);
      if (d.laminar_chosen) {
        st.di = 2.0 * d.dilw;
        st.di_hk = 2.0 * d.dilw_hk;
        st.di_rt = 2.0 * d.dilw_rt;
        st.di_theta = 2.0 * (rt_theta * d.dilw_rt + hk_theta * d.dilw_hk);
        st.di_dstar = 2.0 * hk_dstar * d.dilw_hk;
        st.di_u = 2.0 * rt_u * d.dilw_rt;
        st.di_ctau = 0.0;
        break;
      }
      // H* of a wake station moves with both Hk and Rtheta; both paths enter
      // the totals so the Newton Jacobian matches the residual.
      const double total = d.dd + d.ddl;
      const double di_hs = -total / st.hs;
      const double di_us = d.ddl_us + d.dd_us;
      st.di = 2.0 * total;
      st.di_hk = 0.0;
      st.di_rt = 2.0 * d.ddl_rt;
      st.di_theta = 2.0 * (rt_theta * d.ddl_rt + (hk_theta * st.hs_hk + rt_theta * st.hs_rt) * di_hs +
                           st.us_theta * di_us);
      st.di_dstar = 2.0 * (hk_dstar * st.hs_hk * di_hs + st.us_dstar * di_us);
      st.di_u = 2.0 * (rt_u * d.ddl_rt + rt_u * st.hs_rt * di_hs + st.us_u * di_us);
      st.di_ctau = 2.0 * 4.0 * s * (DISSIPATION_US_REF - st.us) / st.hs;
      break;
    }
  }

  // Layer thickness.
  const LayerThicknessResult de = layer_thickness(st.hk, theta, dstar, hk_theta, hk_dstar);
  st.de = de.de;
  st.de_theta = de.de_theta;
  st.de_dstar = de.de_dstar;

  // Mass defect (the wake carries the trailing-edge gap).
  st.mass = st.is_wake ? u * (dstar + st.dw) : u * dstar;
}

}  // namespace velaro
