#pragma once
// Discretised integral boundary-layer equations between two stations.
//
// Between an upstream station 1 and a downstream station 2 of one surface or
// of the wake the boundary layer is described by three residuals:
//   row 0  amplification (laminar) or shear lag (turbulent, wake),
//   row 1  momentum,
//   row 2  kinetic-energy shape parameter.
// Each routine returns the negated residuals and their Jacobians with respect
// to the five variables of each station (column order below). Both stations
// must have been through `compute_secondary_variables`.
#include <array>

#include "boundary_layer/bl_station.h"
#include "boundary_layer/flow_type.h"
#include "boundary_layer/transition.h"

namespace velaro {

// Column order of the station variables in d_upstream and d_downstream: the
// first variable (ampl on a laminar station, ctau on a turbulent or wake
// station), theta, dstar, u, x.
inline constexpr int COL_FIRST = 0;
inline constexpr int COL_THETA = 1;
inline constexpr int COL_DSTAR = 2;
inline constexpr int COL_U = 3;
inline constexpr int COL_X = 4;

// Residuals R of the three equations of one interval and their Jacobians.
// A Newton step solves d_upstream*dv1 + d_downstream*dv2 = neg_residual.
struct IntervalEquations {
  std::array<double, 3> neg_residual{};                  // (-R0, -R1, -R2)
  std::array<std::array<double, 5>, 3> d_upstream{};     // dR/d(upstream variables)
  std::array<std::array<double, 5>, 3> d_downstream{};   // dR/d(downstream variables)
  // dR/d(forced transition location): nonzero only on an interval that
  // contains a forced transition point (`transition_interval_equations`).
  std::array<double, 3> d_forced_transition{};
};

// Intermediate quantities of the shear-lag equation (turbulent and wake
// intervals; all zero on a laminar interval), for diagnostics and tests. The
// names follow the notation of the equation; the glossary lists them.
struct ShearLagTerms {
  double term1 = 0.0;  // SCC*(CQA - SA*ALD)*DXI
  double term2 = 0.0;  // -2*DEA*SLOG
  double term3 = 0.0;  // 2*DEA*(UQ*DXI - ULOG)
  double residual = 0.0;   // term1 + term2 + term3 (the row-0 residual)
  double scc = 0.0;
  double ald = 0.0;
  double slog = 0.0;
  double ulog = 0.0;
  double dxi = 0.0;
  double s1 = 0.0;
  double s2 = 0.0;
  double sa = 0.0;
  double cqa = 0.0;
  double cfa = 0.0;
  double hka = 0.0;
  double usa = 0.0;
  double rta = 0.0;
  double dea = 0.0;
  double da = 0.0;
  double hkc = 0.0;
  double hr = 0.0;
  double uq = 0.0;
  double upw = 0.0;
};

struct IntervalEquationsWithTerms {
  IntervalEquations eq;
  ShearLagTerms terms;
};

// Interval equations of one flow regime between station1 and station2.
// `similarity` selects the similarity form of the first station after the
// stagnation point (no upstream neighbour; logarithmic differences replaced).
// `msq` is the edge Mach number squared; `ncrit` enters only the laminar
// amplification rate.
IntervalEquationsWithTerms interval_equations(const BlStation& station1, const BlStation& station2,
                                              FlowType flow, bool similarity, double msq,
                                              double ncrit);

// The residuals and d_downstream of `interval_equations` (not similarity)
// alone, for a caller that holds the upstream station fixed: d_upstream is
// zero and the terms are not returned.
IntervalEquations downstream_interval_equations(const BlStation& station1,
                                                const BlStation& station2, FlowType flow,
                                                double msq, double ncrit);

// Equations of the similarity station: the similarity form with the station
// as both ends, its two Jacobian blocks summed into d_downstream (d_upstream
// is zero).
IntervalEquations similarity_station_equations(const BlStation& station, FlowType flow, double msq);

// Equations of an interval that contains the transition point of `tr`: a
// laminar part from station1 to the transition point and a turbulent part
// from there to station2, chained to the interval ends through the transition
// sensitivities. `ampl_t` is the amplification given to the transition point
// (it affects only the discarded laminar amplification row). Without a
// transition (or for an empty interval) this is the turbulent interval.
IntervalEquations transition_interval_equations(const BlStation& station1,
                                                const BlStation& station2,
                                                const TransitionResult& tr, double ampl_t,
                                                double msq, double re);

}  // namespace velaro
