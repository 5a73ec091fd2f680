#pragma once
// One station of the integral boundary layer and its secondary variables.
#include <cstddef>

#include "boundary_layer/flow_type.h"

namespace velaro {

// State of a boundary-layer station. Fields marked "caller" are the primary
// variables and bookkeeping set by whoever builds the station; everything else
// is written by `compute_secondary_variables`. Total derivatives (suffixes _theta, _dstar, _u,
// _ctau) are with respect to the primary variables; the other suffixes are
// partials with respect to the named closure argument.
struct BlStation {
  double x = 0.0;          // caller: arc length from the stagnation point
  std::size_t panel = 0;   // caller: node index for mass-defect influence lookups
  double u = 0.0;          // caller: edge velocity (positive)
  double theta = 0.0;      // caller: momentum thickness
  double dstar = 0.0;      // caller: displacement thickness (wake: without the wake gap)
  double ctau = 0.0;       // caller: sqrt(Ctau) of a turbulent or wake station
  double ampl = 0.0;       // caller: amplification exponent of a laminar station
  double h = 0.0;          // dstar/theta
  double hk = 0.0;         // kinematic shape parameter, floored
  double hs = 0.0;         // H*
  double hc = 0.0;         // H**
  double r_theta = 0.0;    // Re*u*theta
  double cf = 0.0;         // skin friction
  double di = 0.0;         // dissipation 2CD/H*
  double us = 0.0;         // slip velocity after its limit
  double cq = 0.0;         // equilibrium sqrt(Ctau)
  double de = 0.0;         // layer thickness delta
  double mass = 0.0;       // mass defect u*dstar (u*(dstar+dw) in the wake)
  double dw = 0.0;         // caller: wake gap added to dstar in the wake mass defect
  double h_theta = 0.0;
  double h_dstar = 0.0;
  double hk_h = 0.0;
  double hk_msq = 0.0;
  double hs_hk = 0.0;
  double hs_rt = 0.0;
  double hs_msq = 0.0;
  double cf_hk = 0.0;
  double cf_rt = 0.0;
  double cf_msq = 0.0;
  double di_hk = 0.0;
  double di_rt = 0.0;
  double di_theta = 0.0;
  double di_dstar = 0.0;
  double di_u = 0.0;
  double di_ctau = 0.0;
  double hc_hk = 0.0;
  double hc_msq = 0.0;
  double us_theta = 0.0;
  double us_dstar = 0.0;
  double us_u = 0.0;
  double cq_theta = 0.0;
  double cq_dstar = 0.0;
  double cq_u = 0.0;
  double de_theta = 0.0;
  double de_dstar = 0.0;
  FlowType flow = FlowType::Turbulent;  // flow type the secondary variables were evaluated for

  constexpr bool laminar() const { return flow == FlowType::Laminar; }
  constexpr bool wake() const { return flow == FlowType::Wake; }
  // Turbulent or wake: the station carries the shear variable.
  constexpr bool turbulent() const { return flow != FlowType::Laminar; }
};

// Fills every secondary variable of `station` and its derivatives from u,
// theta, dstar, ctau and dw, for the flow type `flow` (which the station then
// carries), edge Mach number squared `msq` and reference Reynolds number
// `re`. Leaves x, panel and ampl untouched.
void compute_secondary_variables(BlStation& station, FlowType flow, double msq, double re);

}  // namespace velaro
