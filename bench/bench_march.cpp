// Median time of one boundary-layer march pair (direct march, then mixed
// march) over both surfaces and the wake of a 160-node NACA 0012 at
// alpha = 2 degrees, Re = 1e6, on the inviscid edge velocity.
//
//   cmake -S . -B build-bench -G Ninja -DVELARO_BUILD_BENCH=ON -DVELARO_BUILD_PYTHON=OFF
//   cmake --build build-bench --target bench_march && ./build-bench/bench_march [repeats]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "geometry/naca.h"
#include "geometry/repanel.h"
#include "viscous/march.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/station_indexing.h"
#include "viscous/wake_setup.h"

using namespace velaro;

namespace {

// The state as the iteration driver prepares it before the first assembly.
ViscousState prepared_state(double alpha_deg, double re) {
  std::vector<double> flat;
  for (const Point& p : generate_naca4(12, kNacaDefaultPointsPerSide)) {
    flat.push_back(p.x);
    flat.push_back(p.y);
  }
  auto nodes = repanel_coordinates(flat, kDefaultRepanelNodes);
  if (!nodes || nodes->empty()) {
    std::fprintf(stderr, "repaneling failed\n");
    std::exit(1);
  }
  ViscousConfig config;
  config.reynolds = re;
  auto setup = build_state_from_coords("naca0012", *nodes, config, alpha_deg);
  if (!setup) {
    std::fprintf(stderr, "set-up failed: %s\n", setup.error().to_string().c_str());
    std::exit(1);
  }
  ViscousState st = std::move(setup->state);
  combine_base_solutions_at_alpha(st, st.alpha);
  refresh_wake_geometry(st, setup->system, config);
  compute_wake_inviscid_speeds(st, setup->system);
  locate_stagnation_point(st);
  number_rows_from_stagnation(st);
  for (int side = 0; side < 2; ++side) st.rows[side].assign(st.ipan[side].size(), BlRow{});
  set_row_arc_lengths(st);
  set_inviscid_edge_speeds(st);
  for (int side = 0; side < 2; ++side)
    for (BlRow& r : st.rows[side]) r.uedg = r.uinv;
  return st;
}

void march_pair(ViscousState& st, double re, double ncrit) {
  MarchResult up = march_direct_side(Side::Upper, st.rows[0], st.rows[0].size(), st.nbl[0], st.iblte[0],
                                 te_values_of(st.rows[1], st.iblte[1]), st.ante, re, ncrit);
  MarchResult lo = march_direct_side(Side::Lower, st.rows[1], st.rows[1].size(), st.nbl[1], st.iblte[1],
                                 te_values_of(st.rows[0], st.iblte[0]), st.ante, re, ncrit);
  up = march_mixed_side(Side::Upper, st.rows[0], st.rows[0].size(), st.nbl[0], st.ante, re, ncrit, st.iblte[0],
                     te_values_of(st.rows[1], st.iblte[1]), up.first_turbulent_row);
  lo = march_mixed_side(Side::Lower, st.rows[1], st.rows[1].size(), st.nbl[1], st.ante, re, ncrit, st.iblte[1],
                     te_values_of(st.rows[0], st.iblte[0]), lo.first_turbulent_row);
  st.first_turbulent_row = {up.first_turbulent_row, lo.first_turbulent_row};
  st.xssitr = {up.xssitr, lo.xssitr};
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const double re = 1e6, ncrit = 9.0;
  const ViscousState base = prepared_state(2.0, re);
  std::vector<double> us;
  us.reserve(repeats);
  double checksum = 0.0;
  for (int i = 0; i < repeats; ++i) {
    ViscousState st = base;  // copied outside the timed region
    const auto t0 = std::chrono::steady_clock::now();
    march_pair(st, re, ncrit);
    const auto t1 = std::chrono::steady_clock::now();
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    checksum += st.rows[1][st.nbl[1] - 1].theta;
  }
  std::sort(us.begin(), us.end());
  std::printf("march pair (ue + du, both sides, %zu + %zu rows): median %.1f us, min %.1f us, max %.1f us over %d runs (checksum %.6e)\n",
              base.nbl[0], base.nbl[1], us[us.size() / 2], us.front(), us.back(), repeats, checksum / repeats);
  return 0;
}
