// Convergence of continuation sweeps over a matrix of sections and Reynolds
// numbers: NACA 0006, 0012, 2412, 4412, 9412 and the coordinate files
// tests/data/{mh32,e61,sd7062}.dat, each repaneled to 160 nodes; Re 1e5,
// 3e5, 1e6, 3e6, 1e7; alpha -10 .. 20 degrees by 1. Counts the converged
// points in the stall window of each polar: the angles between those of the
// smallest and the largest converged lift coefficient, ends included.
//
// Arguments (all optional): the data directory (default tests/data), a
// section filter (a NACA designation or a file stem: only that section), a
// Reynolds number filter, and any fourth argument for one line per point.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "geometry/body.h"
#include "geometry/dat_file.h"
#include "geometry/naca.h"
#include "geometry/repanel.h"
#include "viscous/setup.h"
#include "viscous/sweep.h"

using namespace velaro;

namespace {

std::vector<Point> repaneled_nodes(const std::vector<Point>& raw) {
  std::vector<double> flat;
  for (const Point& p : raw) {
    flat.push_back(p.x);
    flat.push_back(p.y);
  }
  const auto repaneled = repanel_coordinates(flat, 160, RepanelParams{});
  const auto body = Body::from_points(repaneled ? *repaneled : raw);
  if (!body) return {};
  return coords_from_body(body->panels());
}

struct Tally {
  std::size_t window = 0, converged = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "tests/data";
  const std::string only = argc > 2 ? argv[2] : "";
  const double only_re = argc > 3 ? std::atof(argv[3]) : 0.0;
  const bool verbose = argc > 4;

  std::vector<std::pair<std::string, std::vector<Point>>> sections;
  for (const char* naca : {"0006", "0012", "2412", "4412", "9412"})
    sections.emplace_back(naca, generate_naca4(static_cast<std::uint32_t>(std::atoi(naca)), kNacaDefaultPointsPerSide));
  for (const char* stem : {"mh32", "e61", "sd7062"}) {
    auto pts = parse_dat_file(dir + "/" + stem + ".dat");
    if (!pts) {
      std::fprintf(stderr, "%s: %s\n", stem, pts.error().message.c_str());
      return 1;
    }
    sections.emplace_back(stem, std::move(*pts));
  }
  const double reynolds[] = {1e5, 3e5, 1e6, 3e6, 1e7};
  std::vector<double> targets;
  for (int a = -10; a <= 20; ++a) targets.push_back(a);

  std::map<double, Tally> by_re;
  std::map<std::string, Tally> by_section;
  Tally total;
  const std::clock_t c0 = std::clock();
  std::uint64_t iterations = 0;
  for (const auto& [name, raw] : sections) {
    if (!only.empty() && only != name) continue;
    const std::vector<Point> nodes = repaneled_nodes(raw);
    for (double re : reynolds) {
      if (only_re > 0.0 && re != only_re) continue;
      ViscousConfig config;
      config.reynolds = re;
      const std::clock_t s0 = std::clock();
      auto points = run_sweep(name, nodes, config, targets, SweepOptions{});
      const double cpu = static_cast<double>(std::clock() - s0) / CLOCKS_PER_SEC;
      if (!points) {
        std::fprintf(stderr, "%s Re %g: %s\n", name.c_str(), re, points.error().to_string().c_str());
        continue;
      }
      std::size_t lo = targets.size(), hi = targets.size();
      for (std::size_t i = 0; i < points->size(); ++i) {
        const SweepPoint& p = (*points)[i];
        iterations += p.result.iterations;
        if (!(p.result.converged && !p.error)) continue;
        if (lo == targets.size() || p.result.cl < (*points)[lo].result.cl) lo = i;
        if (hi == targets.size() || p.result.cl > (*points)[hi].result.cl) hi = i;
      }
      Tally t;
      std::string failed;
      if (lo < targets.size()) {
        for (std::size_t i = std::min(lo, hi); i <= std::max(lo, hi); ++i) {
          ++t.window;
          const SweepPoint& p = (*points)[i];
          if (p.result.converged && !p.error) {
            ++t.converged;
          } else {
            failed += " " + std::to_string(static_cast<int>(targets[i]));
          }
        }
      }
      std::printf("%-6s Re %6.0e  window %+3.0f..%+3.0f  %2zu/%2zu  cpu %6.1f s  failed:%s\n", name.c_str(), re,
                  lo < targets.size() ? targets[std::min(lo, hi)] : NAN,
                  lo < targets.size() ? targets[std::max(lo, hi)] : NAN, t.converged, t.window, cpu, failed.c_str());
      if (verbose)
        for (const SweepPoint& p : *points)
          std::printf("   %6.2f start %d conv %d it %4llu res %9.2e cl %8.4f cd %8.5f\n", p.target,
                      static_cast<int>(p.start), p.result.converged ? 1 : 0,
                      static_cast<unsigned long long>(p.result.iterations), p.result.residual, p.result.cl,
                      p.result.cd);
      std::fflush(stdout);
      by_re[re].window += t.window;
      by_re[re].converged += t.converged;
      by_section[name].window += t.window;
      by_section[name].converged += t.converged;
      total.window += t.window;
      total.converged += t.converged;
    }
  }
  const auto pct = [](const Tally& t) { return t.window ? 100.0 * t.converged / t.window : 0.0; };
  std::printf("\nper Re:\n");
  for (const auto& [re, t] : by_re) std::printf("  %6.0e  %4zu/%4zu  %5.1f%%\n", re, t.converged, t.window, pct(t));
  std::printf("per section:\n");
  for (const auto& [name, t] : by_section)
    std::printf("  %-6s  %4zu/%4zu  %5.1f%%\n", name.c_str(), t.converged, t.window, pct(t));
  std::printf("total %zu/%zu %.1f%%  cpu %.1f s  iterations %llu\n", total.converged, total.window, pct(total),
              static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC, static_cast<unsigned long long>(iterations));
  return 0;
}
