#pragma once
// Station-by-station marching of the integral boundary layer along one side
// of the airfoil (and, on the lower side, on into the wake). Each station is
// a 4x4 Newton solve: the three interval equations plus one mode equation.
//
// - march_direct_side: edge velocity prescribed (direct mode); a station whose
//   direct solution would separate is re-solved with a prescribed kinematic
//   shape factor (inverse mode). Creates the boundary layer on the first
//   Newton assembly.
// - march_mixed_side: mixed mode, edge velocity and Hk tied by one linear
//   relation; run on every assembly to re-establish the transition location
//   for the current edge velocities.
//
// Both return the side's first turbulent row (as
// ViscousState::first_turbulent_row) and the transition arc length.
#include <cstddef>
#include <vector>

#include "boundary_layer/bl_station.h"
#include "boundary_layer/closures.h"
#include "boundary_layer/flow_type.h"
#include "boundary_layer/transition.h"
#include "viscous/state.h"

namespace velaro {

// Values of a trailing-edge row handed to the march of the other side.
struct TeValues {
  double theta = 0.0;
  double dstr = 0.0;
  double ctau = INITIAL_SHEAR;
};

// The trailing-edge values of a side: theta, dstr and ctau of row iblte, or
// (0, 0, INITIAL_SHEAR) when that row does not exist. A laminar trailing-edge
// row hands on the initial shear variable.
TeValues te_values_of(const std::vector<BlRow>& rows, std::size_t iblte);

// Where the transition checks of a side force transition: at the trip (arc
// length `trip`, kNoTrip for none) or at the trailing-edge station (arc
// length x_te, when it exists), whichever comes first. A free transition
// upstream of it takes precedence.
struct ForcedTransition {
  bool enabled = false;
  double x = kNoTrip;
};
ForcedTransition forced_transition_point(bool te_exists, double x_te, double trip);

// Transition bookkeeping returned by both marches.
struct MarchResult {
  std::size_t first_turbulent_row = 0;  // rows before it (and not in the wake) are laminar
  double xssitr = 0.0;    // arc length of the transition point (0: none found)
};

// Which of the two marches is reporting.
enum class MarchKind { Direct, Mixed };

// Hooks through which a march reports its progress, the place for its trace
// lines and debug events; every hook does nothing by default. `row` is the
// row index of the station.
class MarchDiagnostics {
 public:
  virtual ~MarchDiagnostics() = default;
  // A station has been stored into its row.
  virtual void station_stored(MarchKind /*kind*/, Side /*side*/, std::size_t /*row*/, const BlRow& /*stored*/) {}
  // One Newton iteration of a station finished; `station` is the state the
  // iteration started from, `dmax` its largest normalised change, `inverse`
  // tells that Hk was prescribed (direct march only).
  virtual void station_iteration(MarchKind /*kind*/, Side /*side*/, std::size_t /*row*/, int /*iteration*/,
                                 const BlStation& /*station*/, double /*dmax*/, bool /*inverse*/) {}
  // A transition check of the interval from `upstream` to `downstream`
  // (at `row`), with the first turbulent row before (the previous
  // assembly's for the mixed march) and after it.
  virtual void transition_checked(MarchKind /*kind*/, Side /*side*/, std::size_t /*row*/,
                                  std::size_t /*first_turbulent_old*/, std::size_t /*first_turbulent*/,
                                  const BlStation& /*upstream*/, const BlStation& /*downstream*/,
                                  const TransitionResult& /*result*/) {}
};

// Builds a station from its primary values and evaluates it with compute_secondary_variables at
// the edge Mach number squared msq: u = max(|ue|, 1e-6), theta and dstar
// floored at 1e-12, H, mass and the flow type; panel is 0.
BlStation build_and_fill_station(FlowType flow, double xi, double ue, double theta,
                                 double dstar_no_gap, double gap, double ctau, double ampl,
                                 double re, double msq = 0.0);

// Writes a marched station back into its row (dstar includes the wake gap on
// wake rows). Returns whether the row is laminar.
bool store_to_row(const BlStation& station, BlRow& row, std::size_t row_index, std::size_t first_turbulent,
                  bool is_wake, double dstar, double ue, double ctau, double ampl);

// The marches evaluate stations, transition checks and interval equations
// at the operating point's Mach number squared msq, the same value the Newton
// assembly uses: with different values the converged Newton state would not
// be a fixed point of the march that re-runs on every assembly.
//
// Direct march with prescribed edge velocity over rows 1..nbl-1 of one side.
// `other_te` the trailing-edge values of
// the other side; `row_count` and `nbl` are cut to the rows present. `trip`
// is the arc length of the side's trip (trip_arc_length), kNoTrip for none.
MarchResult march_direct_side(Side side, std::vector<BlRow>& rows, std::size_t row_count,
                          std::size_t nbl, std::size_t iblte, const TeValues& other_te,
                          double ante, double re, double ncrit, double msq = 0.0,
                          MarchDiagnostics* diagnostics = nullptr, double trip = kNoTrip);

// Mixed-mode march over rows 1..nbl-1 of one side, starting from the values
// in the rows; `first_turbulent_old` is the side's previous first turbulent row.
MarchResult march_mixed_side(Side side, std::vector<BlRow>& rows, std::size_t row_count,
                          std::size_t nbl, double ante, double re, double ncrit, std::size_t iblte,
                          const TeValues& other_te, std::size_t first_turbulent_old, double msq = 0.0,
                          MarchDiagnostics* diagnostics = nullptr, double trip = kNoTrip);

}  // namespace velaro
