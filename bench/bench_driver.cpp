// Where the time of one viscous operating point goes: set-up (panel system),
// driver set-up (wake, rows, mass-defect matrix), and per Newton iteration
// the assembly (marching included), the block elimination and the update.
// NACA 2412 with 160 nodes, Re 1e6, alpha 4 degrees; medians of repeated runs.
// The pieces run as the driver runs them: in the arrays of the thread's
// workspace, taken over from one iteration and one point to the next.
// `bench_driver N whole` runs the whole operating point alone, N times (for
// counting what one point costs the process, e.g. its page faults).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "geometry/body.h"
#include "geometry/naca.h"
#include "geometry/repanel.h"
#include "inviscid/mass_defect.h"
#include "viscous/assembly.h"
#include "viscous/block_solve.h"
#include "viscous/driver.h"
#include "viscous/forces.h"
#include "viscous/point_workspace.h"
#include "viscous/row_layout.h"
#include "viscous/setup.h"
#include "viscous/stagnation.h"
#include "viscous/stagnation_move.h"
#include "viscous/station_evaluation.h"
#include "viscous/update.h"
#include "viscous/wake_setup.h"

using namespace velaro;
using Clock = std::chrono::steady_clock;

namespace {

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::atoi(argv[1]) : 7;
  const bool whole_only = argc > 2 && std::string_view(argv[2]) == "whole";
  const std::vector<Point> raw = generate_naca4(2412, kNacaDefaultPointsPerSide);
  std::vector<double> flat;
  for (const Point& p : raw) {
    flat.push_back(p.x);
    flat.push_back(p.y);
  }
  const auto nodes = repanel_coordinates(flat, 160, RepanelParams{});
  const auto body = Body::from_points(nodes ? *nodes : raw);
  if (!body) return 1;
  ViscousConfig config;
  config.reynolds = 1e6;
  const double alpha_deg = 4.0;

  std::vector<double> t_total, t_setup, t_driver_setup, t_assembly, t_solve, t_update, t_rest, iters;
  for (int k = 0; k < repeats; ++k) {
    auto t0 = Clock::now();
    auto r = solve_body_oper_point(*body, config, alpha_deg);
    t_total.push_back(ms_since(t0));
    if (!r) return 1;
    iters.push_back(static_cast<double>(r->iterations));
    if (whole_only) continue;

    // The same operating point again, step by step.
    t0 = Clock::now();
    auto setup = build_state_from_coords("airfoil", coords_from_body(body->panels()), config, alpha_deg);
    t_setup.push_back(ms_since(t0));
    ViscousState& st = setup->state;

    t0 = Clock::now();
    combine_base_solutions_at_alpha(st, st.alpha);
    refresh_wake_geometry(st, setup->system, config);
    compute_wake_inviscid_speeds(st, setup->system);
    st.cl = compute_panel_forces_from_gamma(st.x, st.y, st.qinv, st.alpha, 0.0).cl;
    rebuild_rows_for_numbering(st);
    const BorrowedPointWorkspace ws;
    if (!mass_defect_matrix_with_wake(setup->system, st.wake_x, st.wake_y, st.wake_nx, st.wake_ny, st.wake_apanel,
                                      ws->mass_defect, ws->dij))
      return 1;
    st.dij.swap(ws->dij);
    st.dij_built = st.dij_current = true;
    t_driver_setup.push_back(ms_since(t0));

    double a_ms = 0.0, s_ms = 0.0, u_ms = 0.0, rest_ms = 0.0;
    for (std::uint64_t it = 1; it <= config.max_iterations; ++it) {
      const double re_eff = effective_reynolds(config, st.cl);
      t0 = Clock::now();
      NewtonWorkspace& nw = ws->newton;
      assemble_newton_system(st, static_cast<unsigned>(it), re_eff, config.ncrit, config.mach, nw);
      AssemblyState& a = nw.system.a;
      const double residual = newton_residual_norm(a.vdel1, a.nsys);
      a_ms += ms_since(t0);
      t0 = Clock::now();
      block_solve_in_place(a, nw.solution);
      s_ms += ms_since(t0);
      t0 = Clock::now();
      update_state_from_solution(st, a, nw.solution, config.mach, re_eff, nw);
      copy_wake_rows_to_upper(st);
      u_ms += ms_since(t0);
      t0 = Clock::now();
      rebuild_qvis_from_rows(st);
      rebuild_gam_from_qvis(st);
      move_stagnation_point(st);
      store_forces(st, evaluate_forces(st, config.mach, re_eff));
      rest_ms += ms_since(t0);
      if (residual <= config.tolerance) break;
    }
    ws->dij.swap(st.dij);
    ws->system = setup->system.release_storage();
    t_assembly.push_back(a_ms);
    t_solve.push_back(s_ms);
    t_update.push_back(u_ms);
    t_rest.push_back(rest_ms);
  }
  std::printf("NACA 2412, %zu nodes, Re 1e6, alpha 4: %d repeats, medians\n", body->panels().size() + 1, repeats);
  std::printf("  whole operating point        %8.2f ms  (%g iterations)\n", median(t_total), median(iters));
  if (whole_only) return 0;
  std::printf("  set-up (panel system, LU)    %8.2f ms\n", median(t_setup));
  std::printf("  wake, rows, mass-defect DIJ  %8.2f ms\n", median(t_driver_setup));
  std::printf("  assembly incl. marching      %8.2f ms\n", median(t_assembly));
  std::printf("  block elimination            %8.2f ms\n", median(t_solve));
  std::printf("  update                       %8.2f ms\n", median(t_update));
  std::printf("  stagnation move and forces   %8.2f ms\n", median(t_rest));
  return 0;
}
