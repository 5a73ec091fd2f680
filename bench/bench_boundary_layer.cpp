// Micro-benchmark of the boundary-layer station and interval evaluation:
// the cost of one interval = blvar on the downstream station plus the
// interval equations, for a laminar and a turbulent interval. Prints the
// median over repeated batches of the time per interval in nanoseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "boundary_layer/interval_equations.h"

using namespace velaro;

namespace {

BlStation station(FlowType flow, double first, double theta, double dstar, double u, double x,
                  double re) {
  BlStation s;
  s.x = x;
  s.u = u;
  s.theta = theta;
  s.dstar = dstar;
  if (flow == FlowType::Laminar) {
    s.ampl = first;
  } else {
    s.ctau = first;
  }
  s.is_laminar = flow == FlowType::Laminar;
  s.is_turbulent = flow != FlowType::Laminar;
  s.is_wake = flow == FlowType::Wake;
  blvar(s, flow, 0.0, re);
  return s;
}

volatile double g_sink = 0.0;

double median_ns_per_interval(FlowType flow, const BlStation& s1, const BlStation& s2_template,
                              double re) {
  constexpr int kBatch = 20000;
  constexpr int kRepeats = 31;
  std::vector<double> samples;
  samples.reserve(kRepeats);
  BlStation s2 = s2_template;
  for (int rep = 0; rep < kRepeats; ++rep) {
    double acc = 0.0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      // Vary the downstream state slightly so no work can be hoisted.
      s2.theta = s2_template.theta * (1.0 + 1e-9 * (i & 15));
      blvar(s2, flow, 0.0, re);
      const IntervalEquationsWithTerms r = bldif_with_terms_internal(s1, s2, flow, false, 0.0, 9.0);
      acc += r.eq.vsrez[1] + r.eq.vs2[2][COL_THETA];
    }
    const auto t1 = std::chrono::steady_clock::now();
    g_sink = g_sink + acc;
    samples.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch);
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

}  // namespace

int main() {
  const double re = 2e6;
  const BlStation l1 = station(FlowType::Laminar, 2.0, 4.0e-4, 1.04e-3, 1.00, 0.30, re);
  const BlStation l2 = station(FlowType::Laminar, 2.6, 4.3e-4, 1.14e-3, 0.99, 0.33, re);
  const BlStation t1 = station(FlowType::Turbulent, 0.060, 1.0e-3, 1.50e-3, 1.00, 0.50, re);
  const BlStation t2 = station(FlowType::Turbulent, 0.065, 1.1e-3, 1.70e-3, 0.98, 0.55, re);

  const double lam = median_ns_per_interval(FlowType::Laminar, l1, l2, re);
  const double turb = median_ns_per_interval(FlowType::Turbulent, t1, t2, re);
  std::printf("laminar interval (blvar + bldif):   median %.1f ns\n", lam);
  std::printf("turbulent interval (blvar + bldif): median %.1f ns\n", turb);
  return 0;
}
