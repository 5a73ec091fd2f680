#pragma once
// The narrow interface through which the Newton iteration reports what it
// computes: the assembly, the block elimination and the update call these
// hooks (when an observer is installed) and never print anything themselves.
// Every hook does nothing by default; a caller that passes no observer pays
// one null test per hook site. The trace printer of the diagnostic switches
// (viscous/trace_printer.h) is one observer.
#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "boundary_layer/flow_type.h"
#include "boundary_layer/interval_equations.h"
#include "boundary_layer/transition.h"
#include "viscous/assembly.h"
#include "viscous/update.h"

namespace velaro {

struct ViscousState;

// Read-only view of the mass couplings in the elimination's working copy.
struct EliminationView {
  const double* vm = nullptr;
  std::size_t nsys = 0;
  // Coefficient of the mass of line `col` in equation k of line iv.
  double coefficient(std::size_t iv, std::size_t k, std::size_t col) const {
    return vm[(iv * 3 + k) * (nsys + 1) + col];
  }
};

// The forced change of one system line: the residual linearised from the
// current to the mass-implied edge velocities.
struct ForcedChange {
  Side side = Side::Upper;
  std::size_t station = 0;
  bool first = false;   // the first station of its side (no upstream station)
  double due1 = 0.0;    // upstream edge-velocity offset taken into the line
  double due2 = 0.0;    // own edge-velocity offset
  double dds1 = 0.0;    // upstream displacement-thickness change
  double dds2 = 0.0;    // own displacement-thickness change
  double due_upstream = 0.0;  // edge-velocity offset of the upstream station (0 on the first)
  double u1 = 0.0;      // edge velocity of the upstream station (0 on the first)
  double u2 = 0.0;      // own edge velocity
  Vec3 change{};        // the forced change of the three equations
  Vec3 vs1_u{}, vs2_u{};
  Vec3 vs_x{};          // combined arc-length column, with the side's sign
  double xi_term = 0.0; // stagnation-point movement term
};

class NewtonObserver {
 public:
  virtual ~NewtonObserver() = default;

  // ---- Assembly ----
  // The boundary layer has just been created by the direct march.
  virtual void direct_march_done(const ViscousState& /*state*/) {}
  // The stations of both sides are ready for the assembly of `iteration`.
  virtual void stations_prepared(const ViscousState& /*state*/, const std::array<std::vector<BlStation>, 2>& /*stations*/,
                                 unsigned /*iteration*/, DijView /*dij*/) {}
  // The interval (or similarity) equations ending at station s2; `transition`
  // is the transition check of a transition interval, else null.
  virtual void interval_evaluated(const BlStation& /*s1*/, const BlStation& /*s2*/, FlowType /*flow*/,
                                  const IntervalEquations& /*eq*/, const TransitionResult* /*transition*/) {}
  // Edge velocities of the stations of `side` implied by
  // the mass defects of both sides.
  virtual void mass_implied_speeds(const SurfaceInput& /*upper*/, const SurfaceInput& /*lower*/, DijView /*dij*/,
                                   Side /*side*/, std::span<const double> /*ue*/) {}
  // Offsets of the current edge velocities of `side` from the mass-implied ones.
  virtual void edge_speed_offsets(Side /*side*/, std::span<const BlStation> /*stations*/,
                                  std::span<const double> /*ue_mass*/, std::span<const double> /*due*/) {}
  // The trailing-edge junction feeding the first wake line `ivz`.
  virtual void junction_formed(std::size_t /*ivz*/, std::size_t /*iblte_lower*/, const BlStation& /*upper_te*/,
                               const BlStation& /*lower_te*/, const TeWakeTerms& /*te*/) {}
  // The equations of system line iv (station `station` of `side`) before
  // the mass coupling; `transition` marks the transition interval.
  virtual void line_equations(Side /*side*/, std::size_t /*station*/, std::size_t /*iv*/, bool /*transition*/,
                              const LineCoefficients& /*c*/, const BlStation& /*s2*/) {}
  // The forced change of the line just assembled.
  virtual void forced_change(const ForcedChange& /*f*/) {}
  // The whole system is assembled.
  virtual void system_assembled(const AssemblyState& /*a*/) {}
  // Whether the assembly should keep a dense copy of the mass couplings in
  // AssemblyState::full_vm.
  virtual bool keeps_dense_mass_coupling() const { return false; }

  // ---- Block elimination ----
  // The forward sweep is done (the masses are not yet resolved).
  virtual void forward_sweep_done(const EliminationView& /*v*/) {}
  // The mass change dm1 of line iv has been substituted into the lines above.
  virtual void mass_back_substituted(std::size_t /*iv*/, const EliminationView& /*v*/, double /*dm1*/) {}
  // The solution for no change of the extra unknown, per line.
  virtual void elimination_done(std::span<const Vec3> /*solution*/) {}

  // ---- Update ----
  // Predicted edge speed of station i of `side` from the solved masses.
  virtual void edge_speed_predicted(Side /*side*/, std::size_t /*station*/, double /*uinv*/, double /*ue_new*/,
                                    double /*ue_current*/) {}
  // The change of the extra unknown and the relaxation factor are known.
  virtual void update_relaxed(const UpdateSummary& /*summary*/) {}
};

}  // namespace velaro
