#include "viscous/wake_setup.h"

#include <algorithm>
#include <cmath>

#include "inviscid/wake.h"

namespace velaro {

bool refresh_wake_geometry(ViscousState& state, const FactorizedSystem& system, const ViscousConfig& config) {
  const bool stale = !state.wake_built || std::abs(state.alpha - state.wake_alpha) > 1e-5;
  if (!stale) return false;
  const AirfoilGeometry& g = system.geometry;
  const std::size_t n = g.n;
  const std::size_t nw = wake_node_count(n, config.wake_length);
  if (nw == 0) return false;

  // Vortex strengths at alpha: the state's own when present, else the base
  // solutions combined (with the last node's value dropped).
  std::vector<double> gamma;
  if (state.gam.size() >= n) {
    gamma.assign(state.gam.begin(), state.gam.begin() + static_cast<std::ptrdiff_t>(n));
  } else {
    const double c = std::cos(state.alpha);
    const double s = std::sin(state.alpha);
    gamma.resize(n);
    for (std::size_t i = 0; i < n; ++i) gamma[i] = c * system.gamu_0[i] + s * system.gamu_90[i];
    gamma[n - 1] = 0.0;
  }

  // The base solutions' speeds along the new wake come from the same
  // stream-function coefficients that lay it; compute_wake_inviscid_speeds
  // takes them from here.
  WakeGeometry w;
  state.wake_qinvu_0.clear();
  state.wake_qinvu_90.clear();
  if (state.qinvu_0.size() >= n && state.qinvu_90.size() >= n) {
    WakeWithSpeeds both = build_wake_with_base_speeds(g, gamma, state.alpha, nw, config.wake_length, system.gamu_0,
                                                      system.gamu_90, state.qinvu_0[n - 1], state.qinvu_90[n - 1]);
    w = std::move(both.wake);
    state.wake_qinvu_0 = std::move(both.speeds.qinvu_0);
    state.wake_qinvu_90 = std::move(both.speeds.qinvu_90);
  } else {
    w = build_wake(g, gamma, state.alpha, nw, config.wake_length);
  }
  state.wake_x = std::move(w.x);
  state.wake_y = std::move(w.y);
  state.wake_s = std::move(w.s);
  state.wake_nx = std::move(w.nx);
  state.wake_ny = std::move(w.ny);
  state.wake_apanel = std::move(w.apanel);
  state.wake_built = true;
  state.wake_alpha = state.alpha;
  state.dij_current = false;
  return true;
}

void compute_wake_inviscid_speeds(ViscousState& state, const FactorizedSystem& system) {
  const AirfoilGeometry& g = system.geometry;
  const std::size_t n = g.n;
  if (n < 2 || state.wake_x.empty() || state.qinvu_0.size() < n || state.qinvu_90.size() < n) return;

  // Laying the wake leaves its base speeds behind (refresh_wake_geometry);
  // they are computed here only when they are missing.
  const std::size_t nw = state.wake_x.size();
  if (state.wake_qinvu_0.size() != nw || state.wake_qinvu_90.size() != nw) {
    WakeGeometry w;
    w.x = state.wake_x;
    w.y = state.wake_y;
    w.nx = state.wake_nx;
    w.ny = state.wake_ny;
    WakeBaseSpeeds q =
        wake_base_speeds(g, w, system.gamu_0, system.gamu_90, state.qinvu_0[n - 1], state.qinvu_90[n - 1]);
    state.wake_qinvu_0 = std::move(q.qinvu_0);
    state.wake_qinvu_90 = std::move(q.qinvu_90);
  }

  const double c = std::cos(state.alpha);
  const double s = std::sin(state.alpha);
  const std::size_t m = std::min(state.wake_qinvu_0.size(), state.wake_qinvu_90.size());
  state.wake_qinv.assign(m, 0.0);
  state.wake_qinv_a.assign(m, 0.0);
  for (std::size_t k = 0; k < m; ++k) {
    state.wake_qinv[k] = c * state.wake_qinvu_0[k] + s * state.wake_qinvu_90[k];
    state.wake_qinv_a[k] = c * state.wake_qinvu_90[k] - s * state.wake_qinvu_0[k];
  }
}

}  // namespace velaro
