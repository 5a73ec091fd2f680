// Micro-benchmark of the boundary-layer station and interval evaluation:
// the cost of one interval = the secondary variables of the downstream
// station plus the interval equations, for a laminar and a turbulent
// interval. Prints the median over repeated batches of the time per interval
// in nanoseconds, as wall-clock time and as CPU time of the calling thread
// (the latter is less disturbed by other load on the machine).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
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
  s.flow = flow;
  compute_secondary_variables(s, flow, 0.0, re);
  return s;
}

volatile double g_sink = 0.0;

double thread_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

struct Medians {
  double wall_ns;
  double cpu_ns;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

Medians median_ns_per_interval(FlowType flow, const BlStation& s1, const BlStation& s2_template,
                              double re) {
  constexpr int kBatch = 20000;
  constexpr int kRepeats = 31;
  std::vector<double> samples, cpu_samples;
  samples.reserve(kRepeats);
  cpu_samples.reserve(kRepeats);
  BlStation s2 = s2_template;
  for (int rep = 0; rep < kRepeats; ++rep) {
    double acc = 0.0;
    const double c0 = thread_cpu_ns();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      // Vary the downstream state slightly so no work can be hoisted.
      s2.theta = s2_template.theta * (1.0 + 1e-9 * (i & 15));
      compute_secondary_variables(s2, flow, 0.0, re);
      const IntervalEquationsWithTerms r = interval_equations(s1, s2, flow, false, 0.0, 9.0);
      acc += r.eq.neg_residual[1] + r.eq.d_downstream[2][COL_THETA];
    }
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = thread_cpu_ns();
    g_sink = g_sink + acc;
    samples.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch);
    cpu_samples.push_back((c1 - c0) / kBatch);
  }
  return {median(samples), median(cpu_samples)};
}

}  // namespace

int main() {
  const double re = 2e6;
  const BlStation l1 = station(FlowType::Laminar, 2.0, 4.0e-4, 1.04e-3, 1.00, 0.30, re);
  const BlStation l2 = station(FlowType::Laminar, 2.6, 4.3e-4, 1.14e-3, 0.99, 0.33, re);
  const BlStation t1 = station(FlowType::Turbulent, 0.060, 1.0e-3, 1.50e-3, 1.00, 0.50, re);
  const BlStation t2 = station(FlowType::Turbulent, 0.065, 1.1e-3, 1.70e-3, 0.98, 0.55, re);

  const Medians lam = median_ns_per_interval(FlowType::Laminar, l1, l2, re);
  const Medians turb = median_ns_per_interval(FlowType::Turbulent, t1, t2, re);
  std::printf("laminar interval (secondary variables + interval equations):   median %.1f ns wall, "
              "%.1f ns cpu\n",
              lam.wall_ns, lam.cpu_ns);
  std::printf("turbulent interval (secondary variables + interval equations): median %.1f ns wall, "
              "%.1f ns cpu\n",
              turb.wall_ns, turb.cpu_ns);
  return 0;
}
