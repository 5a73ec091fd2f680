// Empirical closure relations of the integral boundary layer and their
// partial derivatives.
#include "boundary_layer/closures.h"

#include <algorithm>
#include <cmath>

namespace velaro {

KinematicShapeResult kinematic_shape_parameter(double h, double msq) {
  const double d = 1.0 + 0.113 * msq;
  const double hk = (h - 0.29 * msq) / d;
  return {hk, 1.0 / d, (-0.29 - 0.113 * hk) / d};
}

CfResult cf_laminar(double hk, double rt) {
  // Rt*Cf first, then divided by Rt.
  double rcf = 0.0;
  double rcf_hk = 0.0;
  if (hk < 5.5) {
    const double c = 5.5 - hk;
    const double hp1 = hk + 1.0;
    rcf = 0.0727 * c * c * c / hp1 - 0.07;
    rcf_hk = -0.0727 * 3.0 * c * c / hp1 - 0.0727 * c * c * c / (hp1 * hp1);
  } else {
    const double g = hk - 4.5;
    const double t = 1.0 - 1.0 / g;
    rcf = 0.015 * t * t - 0.07;
    rcf_hk = 0.015 * 2.0 * t / (g * g);
  }
  const double cf = rcf / rt;
  return {cf, rcf_hk / rt, -cf / rt, 0.0};
}

CfResult cf_turbulent(double hk, double rt, double msq) {
  const double fc = std::sqrt(1.0 + HALF_GAMMA_M1 * msq);
  // The floors below keep their derivative terms on purpose: the slope with
  // respect to rt (through GRT) and the -1.33 term (through ARG) remain.
  const double grt = std::max(std::log(rt / fc), 3.0);
  const double gex = -1.74 - 0.31 * hk;
  const double arg = std::max(-1.33 * hk, -20.0);
  const double thk = std::tanh(4.0 - hk / 0.875);
  const double glog = grt / LN10;
  const double cfo = 0.3 * std::exp(arg) * std::pow(glog, gex);
  const double cf = (cfo + 1.1e-4 * (thk - 1.0)) / fc;
  const double cf_hk =
      (-1.33 * cfo - 0.31 * std::log(glog) * cfo - 1.1e-4 * (1.0 - thk * thk) / 0.875) / fc;
  const double cf_rt = gex * cfo / (grt * fc) / rt;
  const double fc2 = fc * fc;
  const double cf_msq =
      NEG_QUARTER_GAMMA_M1 * cf / fc2 + NEG_QUARTER_GAMMA_M1 / fc2 * gex * cfo / (grt * fc);
  return {cf, cf_hk, cf_rt, cf_msq};
}

DissipationResult dissipation_laminar(double hk, double rt) {
  // Rt*2CD/H* first, then divided by Rt.
  double value = 0.0;
  double value_hk = 0.0;
  if (hk < 4.0) {
    const double b = 4.0 - hk;
    value = 0.00205 * std::pow(b, 5.5) + 0.207;
    value_hk = -0.011275 * std::pow(b, 4.5);
  } else {
    const double b = hk - 4.0;
    const double q = 1.0 + 0.02 * b * b;
    value = -0.0016 * b * b / q + 0.207;
    value_hk = -0.0032 * b * (1.0 / q - 0.02 * b * b / (q * q));
  }
  const double di = value / rt;
  return {di, value_hk / rt, -di / rt};
}

DensityShapeResult density_shape_parameter(double hk, double msq) {
  const double r = hk - 0.8;
  return {msq * (0.064 / r + 0.251), -0.064 * msq / (r * r), 0.064 / r + 0.251};
}

KineticEnergyShapeResult hs_laminar(double hk) {
  const double t = hk - 4.35;
  if (hk < 4.35) {
    const double hp1 = hk + 1.0;
    const double hs = 0.0111 * t * t / hp1 - 0.0278 * t * t * t / hp1 + 1.528 -
                      0.0002 * (t * hk) * (t * hk);
    const double hs_hk = 0.0111 * (2.0 * t - t * t / hp1) / hp1 -
                         0.0278 * (3.0 * t * t - t * t * t / hp1) / hp1 -
                         0.0002 * 2.0 * t * hk * (t + hk);
    return {hs, hs_hk, 0.0, 0.0};
  }
  const double hs = 0.015 * t * t / hk + 1.528;
  const double hs_hk = 0.03 * t / hk - 0.015 * t * t / (hk * hk);
  return {hs, hs_hk, 0.0, 0.0};
}

KineticEnergyShapeResult hs_turbulent(double hk, double rt, double msq) {
  double h0 = 4.0;
  double h0_rt = 0.0;
  if (rt > 400.0) {
    h0 = 3.0 + 400.0 / rt;
    h0_rt = -400.0 / (rt * rt);
  }
  double rz = 200.0;
  double rz_rt = 0.0;
  if (rt > 200.0) {
    rz = rt;
    rz_rt = 1.0;
  }

  double hs = 0.0;
  double hs_hk = 0.0;
  double hs_rt = 0.0;
  if (hk < h0) {
    // Attached branch.
    const double hr = (h0 - hk) / (h0 - 1.0);
    const double hr_rt = (1.0 - hr) / (h0 - 1.0) * h0_rt;
    const double a = 0.5 - 4.0 / rz;
    const double hp = hk + 0.5;
    hs = a * hr * hr * 1.5 / hp + 1.5 + 4.0 / rz;
    hs_hk = -a * 2.0 * hr * 1.5 / hp / (h0 - 1.0) - a * hr * hr * 1.5 / (hp * hp);
    hs_rt = a * 2.0 * hr * 1.5 / hp * hr_rt +
            rz_rt * (1.5 / hp * hr * hr - 1.0) * 4.0 / (rz * rz);
  } else {
    // Separated branch.
    const double g = std::log(rz);
    const double hd = hk - h0;
    const double rtt = hd + 4.0 / g;
    const double ht = 0.007 * g / (rtt * rtt) + 0.015 / hk;
    const double ht_rtt = -0.014 * g / (rtt * rtt * rtt);
    hs = hd * hd * ht + 1.5 + 4.0 / rz;
    hs_hk = 2.0 * hd * ht + hd * hd * (ht_rtt - 0.015 / (hk * hk));
    hs_rt = hd * hd *
                (0.007 / (rtt * rtt) / rz * rz_rt +
                 ht_rtt * (-h0_rt - 4.0 / (g * g) / rz * rz_rt)) -
            4.0 / (rz * rz) * rz_rt - 2.0 * hd * ht * h0_rt;
  }

  // Compressibility correction.
  const double f = 1.0 + 0.014 * msq;
  hs = (hs + 0.028 * msq) / f;
  hs_hk = hs_hk / f;
  hs_rt = hs_rt / f;
  const double hs_msq = 0.028 / f - 0.014 * hs / f;
  return {hs, hs_hk, hs_rt, hs_msq};
}

KineticEnergyShapeResult kinetic_energy_shape_parameter(FlowType flow, double hk, double rt,
                                                        double msq) {
  if (flow == FlowType::Laminar) return hs_laminar(hk);
  return hs_turbulent(hk, rt, msq);
}

SlipVelocityResult slip_velocity(FlowType flow, double hs, double hk, double h) {
  const double gh = GBCON * h;
  const double us = 0.5 * hs * (1.0 - (hk - 1.0) / gh);
  if (flow == FlowType::Wake) {
    if (us > US_LIMIT_WAKE) return {US_LIMIT_WAKE, 0.0, 0.0, 0.0, true};
  } else if (us > US_LIMIT_THRESHOLD) {
    return {US_LIMIT_VALUE, 0.0, 0.0, 0.0, true};
  }
  return {us, 0.5 * (1.0 - (hk - 1.0) / gh), -0.5 * hs / gh, 0.5 * hs * (hk - 1.0) / (gh * h),
          false};
}

EquilibriumStressResult equilibrium_stress(FlowType flow, double hk, double h, double rt,
                                           double us, double hs) {
  const double hkb = hk - 1.0;
  double hkc = hk - 1.0;
  double hkc_hk = 1.0;
  double hkc_rt = 0.0;
  if (flow == FlowType::Turbulent) {
    const double rtm = std::max(rt, 1.0);
    hkc = hk - 1.0 - GCCON / rtm;
    if (hkc < HKC_FLOOR) {
      hkc = HKC_FLOOR;
      hkc_hk = 0.0;
      hkc_rt = 0.0;
    } else {
      hkc_rt = GCCON / (rtm * rtm);
    }
  }
  const double n = (1.0 - us) * h * hk * hk;
  const double q = CTCON * hs * hkb * hkc * hkc / n;
  if (!(q > 0.0)) return {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  const double cq = std::sqrt(q);
  if (!(cq > CQ_DERIVATIVE_THRESHOLD)) return {cq, 0.0, 0.0, 0.0, 0.0, 0.0};
  const double s = 0.5 / cq;
  const double q_h = -q / h;
  const double q_hk = 2.0 * CTCON * hs * hkb * hkc * hkc_hk / n + CTCON * hs * hkc * hkc / n -
                      2.0 * q / hk;
  const double q_rt = 2.0 * CTCON * hs * hkb * hkc * hkc_rt / n;
  const double q_us = q / (1.0 - us);
  const double q_hs = CTCON * hkb * hkc * hkc / n;
  return {cq, s * q_h, s * q_hk, s * q_rt, s * q_us, s * q_hs};
}

CfResult skin_friction(FlowType flow, double hk, double rt, double msq) {
  switch (flow) {
    case FlowType::Laminar:
      return cf_laminar(hk, rt);
    case FlowType::Turbulent:
      return turbulent_station_skin_friction(cf_turbulent(hk, rt, msq), hk, rt);
    case FlowType::Wake:
      break;
  }
  return {0.0, 0.0, 0.0, 0.0};
}

CfResult turbulent_station_skin_friction(const CfResult& turb, double hk, double rt) {
  const CfResult lam = cf_laminar(hk, rt);
  return lam.cf > turb.cf ? lam : turb;
}

namespace {

// Outer-layer pieces shared by turbulent and wake dissipation.
struct OuterLayer {
  double dd, dd_us, dd_hs, dd_s;
  double ddl, ddl_rt, ddl_us, ddl_hs;
};

OuterLayer outer_layer(double rt, double hs, double us, double s) {
  OuterLayer o{};
  const double du = DISSIPATION_US_REF - us;
  o.dd = s * s * du * 2.0 / hs;
  o.dd_us = -s * s * 2.0 / hs;
  o.dd_hs = -o.dd / hs;
  o.dd_s = 4.0 * s * du / hs;
  o.ddl = 0.15 * du * du / rt * 2.0 / hs;
  o.ddl_rt = -o.ddl / rt;
  o.ddl_us = -0.3 * du / rt * 2.0 / hs;
  o.ddl_hs = -o.ddl / hs;
  return o;
}

// Copies the outer-layer pieces into a turbulent or wake dissipation record
// (both carry them under the same names).
template <typename Result>
void take_outer_layer(Result& r, const OuterLayer& o) {
  r.dd = o.dd;
  r.dd_us = o.dd_us;
  r.dd_hs = o.dd_hs;
  r.dd_s = o.dd_s;
  r.ddl = o.ddl;
  r.ddl_rt = o.ddl_rt;
  r.ddl_us = o.ddl_us;
  r.ddl_hs = o.ddl_hs;
}

}  // namespace

TurbulentDissipationResult dissipation_turbulent(double hk, double rt, double msq, double hs,
                                                 double us, double s) {
  return dissipation_turbulent(hk, rt, hs, us, s, cf_turbulent(hk, rt, msq));
}

TurbulentDissipationResult dissipation_turbulent(double hk, double rt, double hs, double us,
                                                 double s, const CfResult& cf2t) {
  TurbulentDissipationResult r{};
  // Wall part, always with the turbulent skin friction.
  r.cf2t = cf2t;
  r.diw = 0.5 * r.cf2t.cf * us * 2.0 / hs;
  r.diw_cf = us / hs;
  r.diw_us = r.cf2t.cf / hs;
  r.diw_hs = -r.diw / hs;

  // Fading of the wall part as the layer approaches separation.
  const double lnrt = std::log(rt);
  const double hmin = 1.0 + 2.1 / lnrt;
  const double fl = (hk - 1.0) / (hmin - 1.0);
  const double tfl = std::tanh(fl);
  r.dfac = 0.5 + 0.5 * tfl;
  r.dfac_hk = 0.5 * (1.0 - tfl * tfl) / (hmin - 1.0);
  r.dfac_rt = 0.5 * (1.0 - tfl * tfl) * fl / (hmin - 1.0) * 2.1 / (lnrt * lnrt * rt);

  take_outer_layer(r, outer_layer(rt, hs, us, s));

  r.di_turb = r.diw * r.dfac + r.dd + r.ddl;
  r.laminar = dissipation_laminar(hk, rt);
  if (r.laminar.di > r.di_turb) {
    r.laminar_chosen = true;
    r.di = r.laminar.di;
    r.di_hk = r.laminar.di_hk;
    r.di_rt = r.laminar.di_rt;
    return r;
  }
  r.laminar_chosen = false;
  r.di = r.di_turb;
  r.di_hk = r.diw * r.dfac_hk + r.dfac * r.diw_cf * r.cf2t.cf_hk;
  r.di_rt = r.ddl_rt + r.diw * r.dfac_rt + r.dfac * r.diw_cf * r.cf2t.cf_rt;
  r.di_msq = r.dfac * r.diw_cf * r.cf2t.cf_msq;
  r.di_hs = r.ddl_hs + r.dd_hs + r.dfac * r.diw_hs;
  r.di_us = r.ddl_us + r.dd_us + r.dfac * r.diw_us;
  r.di_s = r.dd_s;
  return r;
}

WakeDissipationResult dissipation_wake(double hk, double rt, double hs, double us, double s) {
  WakeDissipationResult r{};
  take_outer_layer(r, outer_layer(rt, hs, us, s));

  // Laminar wake value, with the laminar H* at the wake Hk. RCD = 1.1 w^2/Hk
  // with w = 1 - 1/Hk, so dRCD/dHk = 2.2 w/Hk^3 - RCD/Hk (the first term is
  // positive: w grows with Hk).
  const KineticEnergyShapeResult hsl = hs_laminar(hk);
  const double w = 1.0 - 1.0 / hk;
  const double rcd = 1.1 * w * w / hk;
  const double rcd_hk = 1.1 * w * 2.0 / (hk * hk * hk) - rcd / hk;
  r.dilw = 2.0 * rcd / (hsl.hs * rt);
  r.dilw_hk = 2.0 * rcd_hk / (hsl.hs * rt) - (r.dilw / hsl.hs) * hsl.hs_hk;
  r.dilw_rt = -r.dilw / rt;

  // Both halves of the wake layer: the chosen value and its partials doubled.
  const double d = r.dd + r.ddl;
  if (r.dilw > d) {
    r.laminar_chosen = true;
    r.di = 2.0 * r.dilw;
    r.di_hk = 2.0 * r.dilw_hk;
    r.di_rt = 2.0 * r.dilw_rt;
    return r;
  }
  r.laminar_chosen = false;
  r.di = 2.0 * d;
  r.di_hk = 0.0;
  r.di_rt = 2.0 * r.ddl_rt;
  r.di_hs = 2.0 * (-d / hs);
  r.di_us = 2.0 * (r.ddl_us + r.dd_us);
  r.di_s = 2.0 * r.dd_s;
  return r;
}

LayerThicknessResult layer_thickness(double hk, double theta, double dstar, double hk_theta,
                                     double hk_dstar) {
  const double hkb = std::max(hk - 1.0, 0.01);
  const double de = (3.15 + 1.72 / hkb) * theta + dstar;
  const double cap = 12.0 * theta;
  if (de > cap) return {cap, 12.0, 0.0, true};
  const double slope = 1.72 / (hkb * hkb) * theta;
  return {de, 3.15 + 1.72 / hkb - slope * hk_theta, 1.0 - slope * hk_dstar, false};
}

}  // namespace velaro
