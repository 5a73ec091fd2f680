// In-process helpers of bench/bench_speed.py, loaded with ctypes: the floor
// of dense linear algebra and transcendental fill the analyses are measured
// against, and the set-up of one viscous operating point timed on its own.
// Built with the project's flags (VELARO_BUILD_BENCH) so the floor and the
// engine are compiled alike.
//
// Every timing is the median of `repeats` runs after one warm-up run, in
// milliseconds, as wall clock and as CPU time of the calling thread.
#include <Eigen/Dense>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <numbers>
#include <span>
#include <vector>

#include "geometry/point.h"
#include "inviscid/factored_system.h"
#include "inviscid/mass_defect.h"
#include "inviscid/panel_geometry.h"
#if __has_include("inviscid/vector_math.h")
#include "inviscid/vector_math.h"
#define VB_HAVE_VMATH 1
#endif
#include "inviscid/wake.h"

namespace {

double thread_cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Writes the wall and CPU medians to out[0], out[1].
template <class Work>
void time_median(int repeats, double* out, Work&& work) {
  work();
  std::vector<double> wall, cpu;
  for (int r = 0; r < std::max(repeats, 1); ++r) {
    const auto w0 = std::chrono::steady_clock::now();
    const double c0 = thread_cpu_ms();
    work();
    cpu.push_back(thread_cpu_ms() - c0);
    wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
  }
  out[0] = median(wall);
  out[1] = median(cpu);
}

volatile double g_sink = 0.0;

}  // namespace

extern "C" {

// The floor for an n-node contour: out[0..1] partial-pivot LU of a dense
// (n+1)^2 matrix; out[2..3] its solve for nrhs right-hand sides; out[4..5]
// an (n+1)^2 fill with one scalar log and one atan2 per pair.
void vb_floor(int n, int nrhs, int repeats, double* out) {
  const Eigen::Index m = n + 1;
  // Diagonally weighted so the factors are well conditioned.
  Eigen::MatrixXd a = Eigen::MatrixXd::Random(m, m);
  a.diagonal().array() += static_cast<double>(m);
  Eigen::PartialPivLU<Eigen::MatrixXd> lu(a);
  time_median(repeats, out, [&] {
    lu.compute(a);
    g_sink = lu.matrixLU()(0, 0);
  });
  const Eigen::MatrixXd rhs = Eigen::MatrixXd::Random(m, nrhs);
  time_median(repeats, out + 2, [&] {
    Eigen::MatrixXd x = lu.solve(rhs);
    g_sink = x(0, 0);
  });
  std::vector<double> px(static_cast<std::size_t>(m)), py(static_cast<std::size_t>(m));
  for (Eigen::Index k = 0; k < m; ++k) {
    const double b = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(m);
    px[static_cast<std::size_t>(k)] = 0.5 * (1.0 + std::cos(b));
    py[static_cast<std::size_t>(k)] = 0.06 * std::sin(b);
  }
  Eigen::MatrixXd fill(m, m);
  time_median(repeats, out + 4, [&] {
    for (Eigen::Index j = 0; j < m; ++j) {
      for (Eigen::Index i = 0; i < m; ++i) {
        const double dx = px[static_cast<std::size_t>(i)] - px[static_cast<std::size_t>(j)] + 1e-3;
        const double dy = py[static_cast<std::size_t>(i)] - py[static_cast<std::size_t>(j)];
        fill(i, j) = std::log(dx * dx + dy * dy) + std::atan2(dy, dx);
      }
    }
    g_sink = fill(1, 2);
  });
}

// Set-up of one viscous operating point at alpha_deg on the contour xy
// (npts interleaved x, y pairs), as the viscous driver does it: panel
// geometry, assembly and factorisation with the two base solutions, wake
// layout, wake base speeds and the mass-defect influence matrix with the
// wake. out[0..1] wall and CPU medians; returns the wake node count, or -1
// when a step fails.
int vb_setup(const double* xy, int npts, double alpha_deg, int repeats, double* out) {
  std::vector<velaro::Point> pts;
  for (int k = 0; k < npts; ++k) pts.push_back({xy[2 * k], xy[2 * k + 1]});
  const double alpha = alpha_deg * std::numbers::pi / 180.0;
  int nw_out = -1;
  bool ok = true;
  time_median(repeats, out, [&] {
    auto geom = velaro::AirfoilGeometry::from_points(pts);
    if (!geom) {
      ok = false;
      return;
    }
    // The airfoil mass sources evaluated with the system rows, as the
    // viscous set-up does.
    auto sys = velaro::FactorizedSystem::build(std::move(*geom), true);
    if (!sys) {
      ok = false;
      return;
    }
    const std::size_t n = sys->geometry.n;
    std::vector<double> gam(n);
    for (std::size_t i = 0; i < n; ++i)
      gam[i] = std::cos(alpha) * sys->gamu_0[i] + std::sin(alpha) * sys->gamu_90[i];
    const std::size_t nw = velaro::wake_node_count(n, 1.0);
    // The wake with its base speeds in one pass, and the influence matrix in
    // storage kept from the last repeat, as a viscous point has them.
    const velaro::WakeWithSpeeds laid = velaro::build_wake_with_base_speeds(sys->geometry, gam, alpha, nw, 1.0,
                                                                           sys->gamu_0, sys->gamu_90, 0.0, 0.0);
    const velaro::WakeGeometry& wake = laid.wake;
    static velaro::MassDefectScratch scratch;
    static Eigen::MatrixXd dij;
    if (!velaro::mass_defect_matrix_with_wake(*sys, wake.x, wake.y, wake.nx, wake.ny, wake.apanel, scratch, dij)) {
      ok = false;
      return;
    }
    g_sink = dij(0, 0) + (laid.speeds.qinvu_0.empty() ? 0.0 : laid.speeds.qinvu_0.back());
    nw_out = static_cast<int>(nw);
  });
  return ok ? nw_out : -1;
}

// The vector-math kernel set the engine chose on this processor.
const char* vb_kernels() {
#ifdef VB_HAVE_VMATH
  return velaro::vmath::kernel_name();
#else
  return "scalar libm";
#endif
}

}  // extern "C"
