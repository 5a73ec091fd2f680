#pragma once
// Shared helpers of the boundary-layer tests: stations built from their
// primary variables, and central differences.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include "boundary_layer/bl_station.h"
#include "boundary_layer/flow_type.h"
#include "boundary_layer/interval_equations.h"

namespace bl_test {

using velaro::BlStation;
using velaro::FlowType;

// The five variables of a station in the column order of the interval
// Jacobians: first (ampl or ctau), theta, dstar, u, x.
using StationVars = std::array<double, 5>;

// A station of `flow` with its primary variables and flags set, before its
// secondary variables are computed. `first` is the amplification of a
// laminar station and sqrt(Ctau) of a turbulent or wake station.
inline BlStation unevaluated_station(FlowType flow, const StationVars& v, double dw = 0.0) {
  BlStation s;
  s.x = v[velaro::COL_X];
  s.u = v[velaro::COL_U];
  s.theta = v[velaro::COL_THETA];
  s.dstar = v[velaro::COL_DSTAR];
  if (flow == FlowType::Laminar) {
    s.ampl = v[velaro::COL_FIRST];
  } else {
    s.ctau = v[velaro::COL_FIRST];
  }
  s.dw = dw;
  s.flow = flow;
  return s;
}

// The same station with its secondary variables computed.
inline BlStation evaluated_station(FlowType flow, const StationVars& v, double re, double msq,
                                   double dw = 0.0) {
  BlStation s = unevaluated_station(flow, v, dw);
  velaro::compute_secondary_variables(s, flow, msq, re);
  return s;
}

// Central difference of f at x with a step relative to max(|x|, floor).
inline double central_difference(const std::function<double(double)>& f, double x,
                                 double rel = 1e-6, double floor = 1e-3) {
  const double step = rel * std::max(std::abs(x), floor);
  return (f(x + step) - f(x - step)) / (2.0 * step);
}

// Analytic against differenced derivative: within `rel` of the larger of the
// two plus `abs_tol`.
inline void expect_close(double analytic, double numeric, double rel, double abs_tol,
                         const char* what) {
  EXPECT_NEAR(analytic, numeric, rel * std::max(std::abs(analytic), std::abs(numeric)) + abs_tol)
      << what;
}

}  // namespace bl_test
