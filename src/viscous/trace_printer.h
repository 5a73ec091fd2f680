#pragma once
// The trace lines the diagnostic switches turn on, written to standard error
// by an observer of the Newton iteration. The driver installs one when any
// of its switches is set; the numerics themselves never print.
#include <string_view>
#include <vector>

#include "boundary_layer/diagnostics.h"
#include "viscous/newton_observer.h"
#include "viscous/state.h"

namespace velaro {

class TracePrinter final : public NewtonObserver {
 public:
  // Reads the switches once, through diagnostic_switch_enabled (the snapshot
  // installed on this thread, else the environment).
  TracePrinter();

  // Whether any switch of this printer is set: with none, the driver
  // installs no observer at all.
  bool active() const { return active_; }

  void direct_march_done(const ViscousState& state) override;
  void stations_prepared(const ViscousState& state, const std::array<std::vector<BlStation>, 2>& stations,
                         unsigned iteration, DijView dij) override;
  void interval_evaluated(const BlStation& s1, const BlStation& s2, FlowType flow, const IntervalEquations& eq,
                          const TransitionResult* transition) override;
  void mass_implied_speeds(const SurfaceInput& upper, const SurfaceInput& lower, DijView dij, Side side,
                           std::span<const double> ue) override;
  void edge_speed_offsets(Side side, std::span<const BlStation> stations, std::span<const double> ue_mass,
                          std::span<const double> due) override;
  void junction_formed(std::size_t ivz, std::size_t iblte_lower, const BlStation& upper_te, const BlStation& lower_te,
                       const TeWakeTerms& te) override;
  void line_equations(Side side, std::size_t station, std::size_t iv, bool transition, const LineCoefficients& c,
                      const BlStation& s2) override;
  void forced_change(const ForcedChange& f) override;
  void system_assembled(const AssemblyState& a) override;
  bool keeps_dense_mass_coupling() const override { return on(DiagnosticSwitch::SetblFullVm); }

  void forward_sweep_done(const EliminationView& v) override;
  void mass_back_substituted(std::size_t iv, const EliminationView& v, double dm1) override;
  void elimination_done(std::span<const Vec3> solution) override;

  void edge_speed_predicted(Side side, std::size_t station, double uinv, double ue_new, double ue_current) override;
  void update_relaxed(const UpdateSummary& summary) override;

 private:
  bool on(DiagnosticSwitch s) const { return switches_.is_set(s); }

  DiagnosticSwitches switches_;
  bool active_ = false;
  // Raw residuals of the lines of the assembly in progress (VELARO_NEWTON_DEBUG).
  std::vector<Vec3> raw_vdel_;
};

// Trace of the rows around a stagnation-point move on standard error, when
// VELARO_STMOVE_DEBUG is set: one header line, then rows 1-5 and the last six
// rows below nbl of each side. Stagnation indices are printed 1-based.
void trace_stagnation_move_rows(const ViscousState& state, std::string_view phase, std::size_t old_ist,
                             std::size_t new_ist);

}  // namespace velaro
