#pragma once
// Compressibility correction of the surface pressure.
//
// The panel method solves incompressible potential flow. For a subsonic free
// stream the Karman-Tsien rule maps its pressure coefficient Cp0 = 1 - q^2 to
// the compressible one (von Karman, J. Aero. Sci. 8, 1941; Tsien, J. Aero.
// Sci. 6, 1939):
//
//   Cp = Cp0 / (beta + M^2 Cp0 / (2 (1 + beta))),   beta = sqrt(1 - M^2).
//
// It holds while the flow stays subsonic everywhere; once the corrected
// minimum Cp falls below the critical value Cp* (local Mach number 1) the
// flow is locally supersonic and the correction, like the method, no longer
// applies.

namespace velaro {

class KarmanTsien {
 public:
  // Correction at free-stream Mach number `mach`, 0 <= mach < 1. At mach 0 it
  // is the identity, to the last bit.
  explicit KarmanTsien(double mach);

  double mach() const { return mach_; }

  // Compressible pressure coefficient from the incompressible one.
  double pressure_coefficient(double cp0) const {
    if (mach_ == 0.0) return cp0;
    // The denominator vanishes only for suction far beyond the critical
    // value; keep it positive so the integral stays finite there.
    const double denominator = beta_ + factor_ * cp0;
    return cp0 / (denominator > kMinDenominator ? denominator : kMinDenominator);
  }

 private:
  static constexpr double kMinDenominator = 1e-3;
  double mach_;
  double beta_;    // sqrt(1 - M^2)
  double factor_;  // M^2 / (2 (1 + beta))
};

// Critical pressure coefficient Cp* at free-stream Mach number `mach` > 0:
// the isentropic pressure coefficient where the local Mach number is 1
// (gamma = 1.4). -infinity at mach 0, where no pressure is critical.
double critical_pressure_coefficient(double mach);

}  // namespace velaro
