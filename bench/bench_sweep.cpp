// Continuation sweep against a loop of cold starts over the same angles:
// NACA 2412 with 160 nodes, Re 1e6, alpha -5 .. 20 degrees by 0.25 (101
// points). Reports the wall time, the mean Newton iterations per point (all
// attempts of a point counted) and the converged fraction of each, and how
// the sweep reached its points. Optional arguments: NACA designation,
// Reynolds number, first and last angle, step.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "geometry/body.h"
#include "geometry/naca.h"
#include "geometry/repanel.h"
#include "viscous/setup.h"
#include "viscous/sweep.h"

using namespace velaro;
using Clock = std::chrono::steady_clock;

namespace {

struct Summary {
  double seconds = 0.0;
  double cpu_seconds = 0.0;  // process CPU time: steadier than wall time on a shared machine
  double mean_iterations = 0.0;
  std::size_t converged = 0;
  std::size_t counts[5] = {0, 0, 0, 0, 0};  // by PointStart
};

Summary summarise(const std::vector<SweepPoint>& points, double seconds) {
  Summary s;
  s.seconds = seconds;
  double iters = 0.0;
  for (const SweepPoint& p : points) {
    iters += static_cast<double>(p.result.iterations);
    if (p.result.converged && !p.error) ++s.converged;
    ++s.counts[static_cast<int>(p.start)];
  }
  s.mean_iterations = points.empty() ? 0.0 : iters / static_cast<double>(points.size());
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const auto designation = static_cast<std::uint32_t>(argc > 1 ? std::atoi(argv[1]) : 2412);
  const double reynolds = argc > 2 ? std::atof(argv[2]) : 1e6;
  const double first = argc > 3 ? std::atof(argv[3]) : -5.0;
  const double last = argc > 4 ? std::atof(argv[4]) : 20.0;
  const double step = argc > 5 ? std::atof(argv[5]) : 0.25;
  const bool verbose = argc > 6;  // any sixth argument: one line per point

  const std::vector<Point> raw = generate_naca4(designation, kNacaDefaultPointsPerSide);
  std::vector<double> flat;
  for (const Point& p : raw) {
    flat.push_back(p.x);
    flat.push_back(p.y);
  }
  const auto repaneled = repanel_coordinates(flat, 160, RepanelParams{});
  const auto body = Body::from_points(repaneled ? *repaneled : raw);
  if (!body) return 1;
  const std::vector<Point> nodes = coords_from_body(body->panels());

  std::vector<double> targets;
  for (int k = 0; first + k * step <= last + 1e-9; ++k) targets.push_back(first + k * step);
  ViscousConfig config;
  config.reynolds = reynolds;

  Summary results[2];
  for (int warm = 1; warm >= 0; --warm) {
    SweepOptions options;
    options.warm_start = warm == 1;
    const auto t0 = Clock::now();
    const std::clock_t c0 = std::clock();
    auto points = run_sweep("airfoil", nodes, config, targets, options);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    if (!points) {
      std::fprintf(stderr, "%s\n", points.error().to_string().c_str());
      return 1;
    }
    results[warm] = summarise(*points, seconds);
    results[warm].cpu_seconds = cpu;
    if (verbose)
      for (const SweepPoint& p : *points)
        std::printf("%s %6.2f start %d conv %d it %3llu res %9.2e cl %8.4f cd %8.5f%s\n", warm ? "sweep" : "cold ",
                    p.target, static_cast<int>(p.start), p.result.converged ? 1 : 0,
                    static_cast<unsigned long long>(p.result.iterations), p.result.residual, p.result.cl, p.result.cd,
                    p.error ? (" " + p.error->to_string()).c_str() : "");
  }
  std::printf("NACA %04u, %zu nodes, Re %g, alpha %g .. %g by %g (%zu points)\n", designation, nodes.size(), reynolds,
              first, last, step, targets.size());
  const char* names[2] = {"cold starts", "sweep"};
  for (int warm = 1; warm >= 0; --warm) {
    const Summary& s = results[warm];
    std::printf("  %-12s %7.2f s (cpu %6.2f s)  %6.2f iterations/point  converged %zu/%zu (%.1f%%)", names[warm],
                s.seconds, s.cpu_seconds, s.mean_iterations, s.converged, targets.size(),
                100.0 * static_cast<double>(s.converged) / static_cast<double>(targets.size()));
    if (warm == 1)
      std::printf("  [warm %zu, sub-stepped %zu, cold %zu, damped %zu, failed %zu]", s.counts[0], s.counts[1],
                  s.counts[2], s.counts[4], s.counts[3]);
    std::printf("\n");
  }
  return 0;
}
