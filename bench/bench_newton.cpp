// Median times of the pieces of one global Newton step on a 160-node
// NACA 0012 at alpha = 2 degrees, Re = 1e6, after two driver iterations:
// the assembly alone (from the station lists), assemble_newton_system (marches plus
// assembly), the block elimination and the relaxed update.
//
//   cmake -S . -B build-bench -G Ninja -DVELARO_BUILD_BENCH=ON -DVELARO_BUILD_PYTHON=OFF
//   cmake --build build-bench --target bench_newton && ./build-bench/bench_newton [repeats]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "geometry/naca.h"
#include "geometry/repanel.h"
#include "viscous/assembly.h"
#include "viscous/block_solve.h"
#include "viscous/driver.h"
#include "viscous/setup.h"
#include "viscous/station_evaluation.h"
#include "viscous/update.h"

using namespace velaro;

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double median_ms(int repeats, F&& body) {
  std::vector<double> t;
  for (int r = 0; r < repeats; ++r) {
    const auto a = Clock::now();
    body();
    t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
  std::vector<double> flat;
  for (const Point& p : generate_naca4(12, kNacaDefaultPointsPerSide)) {
    flat.push_back(p.x);
    flat.push_back(p.y);
  }
  auto nodes = repanel_coordinates(flat, kDefaultRepanelNodes);
  if (!nodes || nodes->empty()) {
    std::fprintf(stderr, "repaneling failed\n");
    return 1;
  }
  ViscousConfig config;
  config.reynolds = 1e6;
  config.max_iterations = 2;
  auto setup = build_state_from_coords("naca0012", *nodes, config, 2.0);
  if (!setup || !solve_operating_point_from_state(setup->state, setup->system, config)) {
    std::fprintf(stderr, "set-up failed\n");
    return 1;
  }
  const ViscousState base = setup->state;

  ViscousState st = base;
  const AssemblyState a = assemble_newton_system(st, 3, config.reynolds, config.ncrit, 0.0);
  const SolveState sol = block_solve(a);

  const std::vector<BlStation> up =
      stations_from_rows(st.rows[0], st.nbl[0], st.iblte[0], st.first_turbulent_row[0], 0.0, config.reynolds);
  const std::vector<BlStation> lo =
      stations_from_rows(st.rows[1], st.nbl[1], st.iblte[1], st.first_turbulent_row[1], 0.0, config.reynolds);
  std::vector<double> uinv_u(up.size()), uinv_l(lo.size()), zu(up.size(), 0.0), zl(lo.size(), 0.0);
  for (std::size_t i = 0; i < up.size(); ++i) uinv_u[i] = st.rows[0][i].uinv;
  for (std::size_t i = 0; i < lo.size(); ++i) uinv_l[i] = st.rows[1][i].uinv;
  const DijView dij{st.dij.data(), static_cast<std::size_t>(st.dij.rows()), static_cast<std::size_t>(st.dij.cols())};

  const double t_build = median_ms(repeats, [&] {
    const GlobalNewtonSystem s = build_global_system(SurfaceInput{up, uinv_u, zu, st.iblte[0]},
                                                     SurfaceInput{lo, uinv_l, zl, st.iblte[1]}, dij, st.ante,
                                                     st.sst_go, st.sst_gp, 0.0, config.reynolds, config.ncrit);
    if (s.a.nsys == 0) std::abort();
  });
  const double t_assemble_state = median_ms(repeats, [&] {
    ViscousState copy = base;
    const AssemblyState s = assemble_newton_system(copy, 3, config.reynolds, config.ncrit, 0.0);
    if (s.nsys == 0) std::abort();
  });
  const double t_copy = median_ms(repeats, [&] {
    ViscousState copy = base;
    if (copy.rows[0].empty()) std::abort();
  });
  const double t_solve = median_ms(repeats, [&] {
    const SolveState s = block_solve(a);
    if (s.col1.empty()) std::abort();
  });
  const double t_update = median_ms(repeats, [&] {
    ViscousState copy = st;
    const UpdateSummary p = update_state_from_solution(copy, a, sol, 0.0, config.reynolds);
    if (p.unew_flat.empty()) std::abort();
  });

  std::printf("nsys %zu, %d repeats (median)\n", a.nsys, repeats);
  std::printf("  build_global_system  %8.3f ms\n", t_build);
  std::printf("  assemble from state  %8.3f ms (state copy %.3f ms included)\n", t_assemble_state, t_copy);
  std::printf("  block_solve          %8.3f ms\n", t_solve);
  std::printf("  update (with copy)   %8.3f ms\n", t_update);
  return 0;
}
