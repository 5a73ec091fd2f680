#pragma once
// Empirical closure relations of the integral boundary layer.
//
// Every relation is a pure function of its natural arguments and returns a
// small record: the value first, then its partial derivatives with respect to
// those arguments (each partial holds the other arguments fixed). `compute_secondary_variables`
// (bl_station.h) chains these partials to the primary variables of a station.
//
// Notation: H = dstar/theta, Hk kinematic shape parameter, rt = Re*u*theta,
// msq edge Mach number squared, hs = H* (kinetic-energy shape parameter),
// hc = H** (density-thickness shape parameter), us slip velocity, cq
// equilibrium sqrt(Ctau), s = sqrt(Ctau) shear-stress variable.
#include "boundary_layer/flow_type.h"

namespace velaro {

// ---- Model constants --------------------------------------------------------

// G-beta locus constants.
inline constexpr double GACON = 6.70;
inline constexpr double GBCON = 0.75;
inline constexpr double GCCON = 18.0;
// Equilibrium stress coefficient 0.5/(GACON^2*GBCON) = 0.014851117546595379.
inline constexpr double CTCON = 0.5 / (GACON * GACON * GBCON);
// Ratio of specific heats and the compressibility terms derived from it; the
// terms are the double-precision results of evaluating (1.4 - 1.0).
inline constexpr double GAMMA = 1.4;
inline constexpr double HALF_GAMMA_M1 = 0.5 * (GAMMA - 1.0);            // 0.19999999999999996
inline constexpr double NEG_QUARTER_GAMMA_M1 = -0.25 * (GAMMA - 1.0);   // -0.09999999999999998
// Natural logarithm of 10, used for the decimal logarithm of rt.
inline constexpr double LN10 = 2.302585092994046;
// Floors of Hk applied by compute_secondary_variables before any closure is evaluated.
inline constexpr double HK_FLOOR_BOUNDARY_LAYER = 1.05;  // Laminar and Turbulent
inline constexpr double HK_FLOOR_WAKE = 1.00005;         // Wake
// Slip-velocity limits: above the threshold Us is replaced by the value.
inline constexpr double US_LIMIT_THRESHOLD = 0.95;
inline constexpr double US_LIMIT_VALUE = 0.98;
inline constexpr double US_LIMIT_WAKE = 0.99995;
// Lower bound of the turbulent HKC term of the equilibrium stress.
inline constexpr double HKC_FLOOR = 0.01;
// Below this value CQ keeps its value but carries no partials.
inline constexpr double CQ_DERIVATIVE_THRESHOLD = 1e-12;
// Outer-layer dissipation reference slip velocity.
inline constexpr double DISSIPATION_US_REF = 0.995;
// sqrt(Ctau) of a shear layer that starts without a history: a station that
// turns turbulent, and the first wake station behind a laminar trailing edge.
inline constexpr double INITIAL_SHEAR = 0.03;
// Smallest Hk the displacement-thickness limiter of the march and the update
// lets a station reach, on the airfoil and in the wake.
inline constexpr double HK_LIMIT_AIRFOIL = 1.02;
inline constexpr double HK_LIMIT_WAKE = 1.00005;
// Scale of the Hk-driven upwinding of the interval averages (divided by Hk^2
// of the downstream station).
inline constexpr double UPWIND_HDCON_BOUNDARY_LAYER = 5.0;
inline constexpr double UPWIND_HDCON_WAKE = 1.0;
// Dissipation-length factor of the shear-lag equation.
inline constexpr double DLCON_TURBULENT = 1.0;
inline constexpr double DLCON_WAKE = 0.9;
// Numerator of the shear-lag rate coefficient SCC: 5.6*1.333.
inline constexpr double SCC_NUMERATOR = 7.464799999999999;
// sqrt(Ctau) at a transition point: CTR*CQ with
// CTR = TRANSITION_CTR_COEFF*exp(-TRANSITION_CTR_EXP/(Hk - 1)).
inline constexpr double TRANSITION_CTR_COEFF = 1.8;
inline constexpr double TRANSITION_CTR_EXP = 3.3;

// Hk floor for a flow type.
constexpr double hk_floor(FlowType flow) {
  return flow == FlowType::Wake ? HK_FLOOR_WAKE : HK_FLOOR_BOUNDARY_LAYER;
}

// ---- Result records (value first) -------------------------------------------

struct KinematicShapeResult {
  double hk;
  double hk_h;
  double hk_msq;
};

struct CfResult {
  double cf;
  double cf_hk;
  double cf_rt;
  double cf_msq;
};

struct DissipationResult {
  double di;
  double di_hk;
  double di_rt;
};

// H** and its partials.
struct DensityShapeResult {
  double hc;
  double hc_hk;
  double hc_msq;
};

// H* and its partials.
struct KineticEnergyShapeResult {
  double hs;
  double hs_hk;
  double hs_rt;
  double hs_msq;
};

// Slip velocity; `limited` tells that the limit replaced the value (then all
// partials are 0).
struct SlipVelocityResult {
  double us;
  double us_hs;
  double us_hk;
  double us_h;
  bool limited;
};

// Equilibrium sqrt(Ctau) with partials w.r.t. H, Hk, rt, Us and H*.
struct EquilibriumStressResult {
  double cq;
  double cq_h;
  double cq_hk;
  double cq_rt;
  double cq_us;
  double cq_hs;
};

// Dissipation of a turbulent station. `di` and its partials (w.r.t. Hk, rt,
// msq, H*, Us, S, each holding the others fixed) describe the value the
// station uses: the turbulent value DI_turb, or the laminar closure when it is
// strictly larger (`laminar_chosen`). The remaining fields are the pieces of
// DI_turb, which compute_secondary_variables chains to the primary variables.
struct TurbulentDissipationResult {
  double di;
  double di_hk;
  double di_rt;
  double di_msq;
  double di_hs;
  double di_us;
  double di_s;
  bool laminar_chosen;
  double di_turb;           // DIW*DFAC + DD + DDL
  DissipationResult laminar;  // laminar closure at (Hk, rt)
  CfResult cf2t;            // turbulent skin friction of the wall part
  double diw;               // wall contribution 0.5*CF2T*Us*2/H*
  double diw_cf;
  double diw_us;
  double diw_hs;
  double dfac;              // wall-layer fading factor
  double dfac_hk;
  double dfac_rt;
  double dd;                // outer layer S^2*(0.995-Us)*2/H*
  double dd_us;
  double dd_hs;
  double ddl;               // laminar stress of the outer layer
  double ddl_rt;
  double ddl_us;
  double ddl_hs;
  double dd_s;              // 4*S*(0.995-Us)/H*
};

// Dissipation of a wake station (both halves of the layer: the chosen value
// and its partials are doubled). Natural partials w.r.t. Hk, rt, H*, Us, S;
// `laminar_chosen` when the laminar wake value is strictly larger than the
// outer-layer value DD + DDL. The single-layer pieces follow.
struct WakeDissipationResult {
  double di;
  double di_hk;
  double di_rt;
  double di_hs;
  double di_us;
  double di_s;
  bool laminar_chosen;
  double dilw;              // laminar wake value 2*RCD/(H*_lam*rt)
  double dilw_hk;
  double dilw_rt;
  double dd;
  double dd_us;
  double dd_hs;
  double ddl;
  double ddl_rt;
  double ddl_us;
  double ddl_hs;
  double dd_s;              // 4*S*(0.995-Us)/H*
};

// Layer thickness delta with its derivatives w.r.t. theta and dstar; `capped`
// when the cap 12*theta applies.
struct LayerThicknessResult {
  double de;
  double de_theta;
  double de_dstar;
  bool capped;
};

// ---- Closures ---------------------------------------------------------------

// Kinematic shape parameter from H and msq.
KinematicShapeResult kinematic_shape_parameter(double h, double msq);

// Laminar skin friction (cf_msq is always 0).
CfResult cf_laminar(double hk, double rt);

// Turbulent skin friction (Coles form with compressibility factor).
CfResult cf_turbulent(double hk, double rt, double msq);

// Laminar dissipation 2CD/H*.
DissipationResult dissipation_laminar(double hk, double rt);

// H** (all flow types).
DensityShapeResult density_shape_parameter(double hk, double msq);

// Laminar H* (independent of rt and msq).
KineticEnergyShapeResult hs_laminar(double hk);

// Turbulent/wake H* including the compressibility correction.
KineticEnergyShapeResult hs_turbulent(double hk, double rt, double msq);

// H* of a station: laminar relation for Laminar, turbulent one otherwise.
KineticEnergyShapeResult kinetic_energy_shape_parameter(FlowType flow, double hk, double rt,
                                                        double msq);

// Slip velocity with the limit of the flow type.
SlipVelocityResult slip_velocity(FlowType flow, double hs, double hk, double h);

// Equilibrium sqrt(Ctau); the HKC floor applies to Turbulent only.
EquilibriumStressResult equilibrium_stress(FlowType flow, double hk, double h, double rt,
                                           double us, double hs);

// Skin friction of a station: laminar closure for Laminar; the larger of the
// turbulent and laminar closures for Turbulent (laminar only when strictly
// larger); zero for Wake.
CfResult skin_friction(FlowType flow, double hk, double rt, double msq);

// Skin friction of a Turbulent station from its turbulent closure value
// `turb` (cf_turbulent at the same hk, rt, msq): the laminar closure when
// strictly larger, else `turb`.
CfResult turbulent_station_skin_friction(const CfResult& turb, double hk, double rt);

// Dissipation of a turbulent station (s = sqrt(Ctau)).
TurbulentDissipationResult dissipation_turbulent(double hk, double rt, double msq, double hs,
                                                 double us, double s);

// The same with the wall part's turbulent skin friction `cf2t` already
// evaluated (cf_turbulent at the same hk and rt and the station's msq).
TurbulentDissipationResult dissipation_turbulent(double hk, double rt, double hs, double us,
                                                 double s, const CfResult& cf2t);

// Dissipation of a wake station (s = sqrt(Ctau)).
WakeDissipationResult dissipation_wake(double hk, double rt, double hs, double us, double s);

// Layer thickness from Hk, theta and dstar; hk_theta and hk_dstar are the
// derivatives of Hk w.r.t. theta and dstar used in the uncapped derivatives.
LayerThicknessResult layer_thickness(double hk, double theta, double dstar, double hk_theta,
                                     double hk_dstar);

}  // namespace velaro
