#include "viscous/station_derivs.h"

namespace velaro {

std::array<double, BlRow::kDerivCount> pack_station_derivs(const BlStation& s) {
  return {s.h_theta,  s.h_dstar,  s.hk_h,     s.hk_msq,  s.hs_hk,    s.hs_rt,    s.hs_msq,
          s.cf_hk,    s.cf_rt,    s.cf_msq,   s.di_hk,   s.di_rt,    s.di_theta, s.di_dstar,
          s.di_u,     s.di_ctau,  s.hc_hk,    s.hc_msq,  s.us_theta, s.us_dstar, s.us_u,
          s.cq_theta, s.cq_dstar, s.cq_u,     s.de_theta, s.de_dstar, 0.0};
}

}  // namespace velaro
