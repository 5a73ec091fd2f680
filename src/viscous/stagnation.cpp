#include "viscous/stagnation.h"

#include <algorithm>
#include <cmath>

namespace velaro {

void combine_base_solutions_at_alpha(ViscousState& state, double alpha) {
  state.alpha = alpha;
  const double c = std::cos(alpha);
  const double s = std::sin(alpha);

  const std::size_t n = state.node_count();
  state.qinv.assign(n, 0.0);
  state.qinv_a.assign(n, 0.0);
  state.gam.assign(n, 0.0);
  state.gam_a.assign(n, 0.0);
  const std::size_t nq = std::min({n, state.qinvu_0.size(), state.qinvu_90.size()});
  for (std::size_t i = 0; i < nq; ++i) {
    state.qinv[i] = c * state.qinvu_0[i] + s * state.qinvu_90[i];
    state.qinv_a[i] = c * state.qinvu_90[i] - s * state.qinvu_0[i];
  }
  const std::size_t ng = std::min({n, state.gamu_0.size(), state.gamu_90.size()});
  for (std::size_t i = 0; i < ng; ++i) {
    state.gam[i] = c * state.gamu_0[i] + s * state.gamu_90[i];
    state.gam_a[i] = c * state.gamu_90[i] - s * state.gamu_0[i];
  }

  const std::size_t nw = std::min(state.wake_qinvu_0.size(), state.wake_qinvu_90.size());
  std::vector<double> wq(nw), wqa(nw);
  for (std::size_t k = 0; k < nw; ++k) {
    wq[k] = c * state.wake_qinvu_0[k] + s * state.wake_qinvu_90[k];
    wqa[k] = c * state.wake_qinvu_90[k] - s * state.wake_qinvu_0[k];
  }
  state.wake_qinv = std::move(wq);
  state.wake_qinv_a = std::move(wqa);
}

void locate_stagnation_point(ViscousState& state) {
  const std::size_t n = std::min({state.node_count(), state.gam.size(), state.s.size()});
  if (n < 2) {
    state.ist = 0;
    state.sst = state.s.empty() ? 0.0 : state.s[0];
    state.sst_go = 0.0;
    state.sst_gp = 0.0;
    return;
  }

  std::size_t ist = n / 2 - 1;
  for (std::size_t i = 1; i < n; ++i) {
    if (state.gam[i - 1] >= 0.0 && state.gam[i] < 0.0) {
      ist = i - 1;
      break;
    }
  }

  const double g0 = state.gam[ist];
  const double g1 = state.gam[ist + 1];
  const double s0 = state.s[ist];
  const double s1 = state.s[ist + 1];
  const double dgam = g1 - g0;

  double sst = 0.5 * (s0 + s1);
  double sst_go = 0.0;
  double sst_gp = 0.0;
  const double lo = s0 + 1e-7;
  const double hi = s1 - 1e-7;
  // The clamp interval is empty on a panel shorter than 2e-7: the midpoint
  // is the only position that stays inside it.
  if (std::abs(dgam) > 1e-20 && std::isfinite(dgam) && lo <= hi) {
    // Interpolate from the end with the smaller |gamma|.
    double est = g0 < -g1 ? s0 - (s1 - s0) * g0 / dgam : s1 - (s1 - s0) * g1 / dgam;
    est = std::clamp(est, lo, hi);
    if (std::isfinite(est)) {
      sst = est;
      sst_go = (sst - s1) / dgam;
      sst_gp = (s0 - sst) / dgam;
    }
  }
  state.ist = ist;
  state.sst = sst;
  state.sst_go = sst_go;
  state.sst_gp = sst_gp;
}

}  // namespace velaro
