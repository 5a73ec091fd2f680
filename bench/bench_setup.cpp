// Set-up cost of one viscous operating point on a 160-node airfoil: panel
// geometry, factorisation of the airfoil system (assembly, LU, base
// solutions), wake layout with its inviscid speeds, and the mass-defect
// influence matrix DIJ. DIJ is also split into its parts (influence
// evaluations, the one multi-right-hand-side LU solve, the CIJ product) to
// show how far the whole is from the sum of its unavoidable work.
//
// Prints the median over repeated runs in milliseconds, wall clock and CPU
// time of the calling thread (the latter is less disturbed by other load).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <numbers>
#include <vector>

#include "geometry/point.h"
#include "inviscid/factored_system.h"
#include "inviscid/airfoil_influence.h"
#include "inviscid/mass_defect.h"
#include "inviscid/panel_geometry.h"
#include "inviscid/wake.h"
#include "inviscid/wake_influence.h"

using namespace velaro;

namespace {

// NACA 2412 on 160 nodes, cosine spacing, leading edge between two nodes,
// open (blunt) trailing edge.
std::vector<Point> naca2412_160() {
  const double m = 0.02, p = 0.4, t = 0.12;
  std::vector<Point> pts;
  const std::size_t n = 160;
  for (std::size_t k = 0; k < n; ++k) {
    const double beta = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n - 1);
    const double x = 0.5 * (1.0 + std::cos(beta));
    const double yt =
        5.0 * t * (0.2969 * std::sqrt(x) - 0.126 * x - 0.3516 * x * x + 0.2843 * x * x * x - 0.1015 * x * x * x * x);
    const double yc = x < p ? m / (p * p) * (2 * p * x - x * x) : m / ((1 - p) * (1 - p)) * (1 - 2 * p + 2 * p * x - x * x);
    pts.push_back({x, beta < std::numbers::pi ? yc + yt : yc - yt});
  }
  return pts;
}

struct Timing {
  double wall_ms;
  double cpu_ms;
};

double cpu_now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

Timing median_of(int repeats, const std::function<void()>& work) {
  std::vector<double> wall, cpu;
  work();  // warm-up
  for (int r = 0; r < repeats; ++r) {
    const auto w0 = std::chrono::steady_clock::now();
    const double c0 = cpu_now_ms();
    work();
    cpu.push_back(cpu_now_ms() - c0);
    wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

volatile double g_sink = 0.0;

void report(const char* what, const Timing& t) { std::printf("%-44s %9.3f ms wall %9.3f ms cpu\n", what, t.wall_ms, t.cpu_ms); }

}  // namespace

int main() {
  const int repeats = 21;
  const auto pts = naca2412_160();
  const double alpha = 4.0 * std::numbers::pi / 180.0;

  auto geom = AirfoilGeometry::from_points(pts);
  if (!geom) return 1;
  auto sys = FactorizedSystem::build(*geom);
  if (!sys) return 1;
  const std::size_t n = sys->geometry.n;
  std::vector<double> gam(n);
  for (std::size_t i = 0; i < n; ++i) gam[i] = std::cos(alpha) * sys->gamu_0[i] + std::sin(alpha) * sys->gamu_90[i];
  const std::size_t nw = wake_node_count(n, 1.0);
  const WakeGeometry wake = build_wake(sys->geometry, gam, alpha, nw, 1.0);
  std::printf("airfoil nodes n = %zu, wake nodes nw = %zu, median of %d runs\n", n, nw, repeats);

  report("panel geometry", median_of(repeats, [&] { g_sink = AirfoilGeometry::from_points(pts)->chord; }));
  report("  system assembly (n psilin)", median_of(repeats, [&] {
           g_sink = assemble_airfoil_system(sys->geometry, sys->control).a(0, 0);
         }));
  report("factorisation (assembly + LU + base solves)",
         median_of(repeats, [&] { g_sink = FactorizedSystem::build(*geom)->psi0_0; }));
  report("wake layout", median_of(repeats, [&] { g_sink = build_wake(sys->geometry, gam, alpha, nw, 1.0).x.back(); }));
  report("wake inviscid speeds", median_of(repeats, [&] {
           g_sink = wake_base_speeds(sys->geometry, wake, sys->gamu_0, sys->gamu_90, 0.0, 0.0).qinvu_0.back();
         }));
  const Timing dij = median_of(repeats, [&] {
    g_sink = (*mass_defect_matrix_with_wake(*sys, wake.x, wake.y, wake.nx, wake.ny, wake.apanel))(0, 0);
  });
  report("DIJ with wake", dij);

  // The parts of DIJ.
  const AirfoilGeometry& g = sys->geometry;
  std::vector<double> ax(g.x), ay(g.y), ap(g.apanel);
  ax.insert(ax.end(), wake.x.begin(), wake.x.end());
  ay.insert(ay.end(), wake.y.begin(), wake.y.end());
  ap.insert(ap.end(), wake.apanel.begin(), wake.apanel.end());
  const Timing infl = median_of(repeats, [&] {
    double s = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      s += airfoil_panel_influence(g, i, g.x[i], g.y[i], true).dzdm[0];
      s += wake_panel_influence(ax, ay, ap, g.x[i], g.y[i], g.nx[i], g.ny[i], n, i).dzdm[n];
    }
    for (std::size_t k = 0; k < nw; ++k) {
      s += airfoil_panel_influence_with_velocity(g, n + k, wake.x[k], wake.y[k], wake.nx[k], wake.ny[k]).dqdm[0];
      s += wake_panel_influence(ax, ay, ap, wake.x[k], wake.y[k], wake.nx[k], wake.ny[k], n, n + k).dqdm[n];
    }
    g_sink = s;
  });
  report("  DIJ part: influence evaluations", infl);
  const Eigen::MatrixXd rhs = Eigen::MatrixXd::Random(static_cast<Eigen::Index>(n + 1), static_cast<Eigen::Index>(n + nw));
  const Timing solve = median_of(repeats, [&] { g_sink = (*sys->solve(rhs))(0, 0); });
  report("  DIJ part: LU solve, n + nw right-hand sides", solve);
  const Eigen::MatrixXd cij = Eigen::MatrixXd::Random(static_cast<Eigen::Index>(nw), static_cast<Eigen::Index>(n));
  const Eigen::MatrixXd top = Eigen::MatrixXd::Random(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n + nw));
  const Timing prod = median_of(repeats, [&] {
    Eigen::MatrixXd out = cij * top;
    g_sink = out(0, 0);
  });
  report("  DIJ part: CIJ product", prod);
  const double over_wall = dij.wall_ms - infl.wall_ms - solve.wall_ms - prod.wall_ms;
  const double over_cpu = dij.cpu_ms - infl.cpu_ms - solve.cpu_ms - prod.cpu_ms;
  std::printf("DIJ beyond its parts: %.3f ms wall (%.1f %%), %.3f ms cpu (%.1f %%)\n", over_wall,
              100.0 * over_wall / dij.wall_ms, over_cpu, 100.0 * over_cpu / dij.cpu_ms);
  return 0;
}
