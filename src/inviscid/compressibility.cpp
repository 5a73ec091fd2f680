#include "inviscid/compressibility.h"

#include <cmath>
#include <limits>

namespace velaro {

namespace {
constexpr double kGamma = 1.4;
}

KarmanTsien::KarmanTsien(double mach)
    : mach_(mach), beta_(std::sqrt(1.0 - mach * mach)), factor_(mach * mach / (2.0 * (1.0 + beta_))) {}

double critical_pressure_coefficient(double mach) {
  if (!(mach > 0.0)) return -std::numeric_limits<double>::infinity();
  const double m2 = mach * mach;
  // Isentropic p/p_inf at M_local = 1, against the free stream.
  const double ratio = std::pow((2.0 + (kGamma - 1.0) * m2) / (kGamma + 1.0), kGamma / (kGamma - 1.0));
  return 2.0 / (kGamma * m2) * (ratio - 1.0);
}

}  // namespace velaro
