#pragma once
// Diagnostic switches: environment variables that turn on trace lines on
// standard error (and VELARO_DISABLE_STMOVE, which turns off the
// stagnation-point move). A switch counts as set when its variable is present
// with a valid UTF-8 value, whatever the value (an empty one included).
//
// The process environment may only be read where nothing can change it
// concurrently: a worker thread calling getenv while another thread runs
// setenv/putenv (for example Python code assigning to os.environ) is a data
// race that can read freed memory. A caller that runs analyses on worker
// threads therefore takes a `DiagnosticSwitches` snapshot once, on its own
// thread, and each analysis installs it with an `InstalledSwitches` guard for
// the duration of its call. `diagnostic_switch_enabled` answers from the
// snapshot installed on the calling thread, and reads the environment only
// when none is installed (a single-threaded caller).
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velaro {

// Every switch the analyses consult, one enumerator per environment variable
// (a misspelled switch does not compile).
enum class DiagnosticSwitch : std::uint8_t {
  RezcDebug,  // VELARO_REZC_DEBUG
  BldifDebug,  // VELARO_BLDIF_DEBUG
  NewtonDebug,  // VELARO_NEWTON_DEBUG
  NewtonCmp,  // VELARO_NEWTON_CMP
  RawResDebug,  // VELARO_RAW_RES_DEBUG
  TransDebug,  // VELARO_TRANS_DEBUG
  TransitionBranchDebug,  // VELARO_TRANSITION_BRANCH_DEBUG
  TransitionBlockDebug,  // VELARO_TRANSITION_BLOCK_DEBUG
  DueDebug,  // VELARO_DUE_DEBUG
  ForcedDebug,  // VELARO_FORCED_DEBUG
  FcDebug,  // VELARO_FC_DEBUG
  TesysDebug,  // VELARO_TESYS_DEBUG
  DuiDebug,  // VELARO_DUI_DEBUG
  UesetFirstDebug,  // VELARO_UESET_FIRST_DEBUG
  UesetStateDebug,  // VELARO_UESET_STATE_DEBUG
  UesetDetailDebug,  // VELARO_UESET_DETAIL_DEBUG
  SetblDebug,  // VELARO_SETBL_DEBUG
  SetblHandoffDebug,  // VELARO_SETBL_HANDOFF_DEBUG
  SetblVdelDebug,  // VELARO_SETBL_VDEL_DEBUG
  SetblFullVm,  // VELARO_SETBL_FULL_VM
  VmFocusDebug,  // VELARO_VM_FOCUS_DEBUG
  StmoveDebug,  // VELARO_STMOVE_DEBUG
  TrchekDebug,  // VELARO_TRCHEK_DEBUG
  WakeIterDebug,  // VELARO_WAKE_ITER_DEBUG
  TailIterDebug,  // VELARO_TAIL_ITER_DEBUG
  WakeMarchDebug,  // VELARO_WAKE_MARCH_DEBUG
  ClDebug,  // VELARO_CL_DEBUG
  SolveDebug,  // VELARO_SOLVE_DEBUG
  BlsolvStepDebug,  // VELARO_BLSOLV_STEP_DEBUG
  FinalDeltaDebug,  // VELARO_FINAL_DELTA_DEBUG
  UpdateDebug,  // VELARO_UPDATE_DEBUG
  LeUpdateDebug,  // VELARO_LE_UPDATE_DEBUG
  UpdateNewtonDebug,  // VELARO_UPDATE_NEWTON_DEBUG
  DisableStmove,  // VELARO_DISABLE_STMOVE
};

inline constexpr std::size_t kDiagnosticSwitchCount = 34;
static_assert(static_cast<std::size_t>(DiagnosticSwitch::DisableStmove) + 1 == kDiagnosticSwitchCount);

// The environment variable of each switch, in enumerator order.
inline constexpr std::array<std::string_view, kDiagnosticSwitchCount> kDiagnosticSwitchNames = {
    "VELARO_REZC_DEBUG",
    "VELARO_BLDIF_DEBUG",
    "VELARO_NEWTON_DEBUG",
    "VELARO_NEWTON_CMP",
    "VELARO_RAW_RES_DEBUG",
    "VELARO_TRANS_DEBUG",
    "VELARO_TRANSITION_BRANCH_DEBUG",
    "VELARO_TRANSITION_BLOCK_DEBUG",
    "VELARO_DUE_DEBUG",
    "VELARO_FORCED_DEBUG",
    "VELARO_FC_DEBUG",
    "VELARO_TESYS_DEBUG",
    "VELARO_DUI_DEBUG",
    "VELARO_UESET_FIRST_DEBUG",
    "VELARO_UESET_STATE_DEBUG",
    "VELARO_UESET_DETAIL_DEBUG",
    "VELARO_SETBL_DEBUG",
    "VELARO_SETBL_HANDOFF_DEBUG",
    "VELARO_SETBL_VDEL_DEBUG",
    "VELARO_SETBL_FULL_VM",
    "VELARO_VM_FOCUS_DEBUG",
    "VELARO_STMOVE_DEBUG",
    "VELARO_TRCHEK_DEBUG",
    "VELARO_WAKE_ITER_DEBUG",
    "VELARO_TAIL_ITER_DEBUG",
    "VELARO_WAKE_MARCH_DEBUG",
    "VELARO_CL_DEBUG",
    "VELARO_SOLVE_DEBUG",
    "VELARO_BLSOLV_STEP_DEBUG",
    "VELARO_FINAL_DELTA_DEBUG",
    "VELARO_UPDATE_DEBUG",
    "VELARO_LE_UPDATE_DEBUG",
    "VELARO_UPDATE_NEWTON_DEBUG",
    "VELARO_DISABLE_STMOVE",
};

// The environment variable of `s`.
constexpr std::string_view diagnostic_switch_name(DiagnosticSwitch s) {
  return kDiagnosticSwitchNames[static_cast<std::size_t>(s)];
}

// The switch read from the environment variable `name`; none for an unknown
// name.
std::optional<DiagnosticSwitch> diagnostic_switch_from_name(std::string_view name);

// Reads one variable from the process environment now: present with a valid
// UTF-8 value. Only for a thread on which nothing changes the environment.
bool environment_switch_set(const char* name);

// Which switches are set, as seen at one moment.
class DiagnosticSwitches {
 public:
  // No switch set.
  DiagnosticSwitches() = default;

  // Reads every switch of kDiagnosticSwitchNames from the environment, once
  // each, on the calling thread.
  static DiagnosticSwitches from_environment();

  // Whether `s` is set in this snapshot.
  bool is_set(DiagnosticSwitch s) const { return bits_[static_cast<std::size_t>(s)]; }

  // Sets or clears a switch.
  void set(DiagnosticSwitch s, bool on = true) { bits_[static_cast<std::size_t>(s)] = on; }

  bool any() const { return bits_.any(); }

  bool operator==(const DiagnosticSwitches&) const = default;

 private:
  std::bitset<kDiagnosticSwitchCount> bits_;
};

// The snapshot installed on the calling thread, or nullptr.
const DiagnosticSwitches* installed_diagnostic_switches();

// Installs a snapshot on the calling thread for the guard's lifetime and
// restores the previous one (guards nest). A null snapshot leaves whatever is
// installed in place. The snapshot must outlive the guard.
class InstalledSwitches {
 public:
  explicit InstalledSwitches(const DiagnosticSwitches* switches);
  ~InstalledSwitches();
  InstalledSwitches(const InstalledSwitches&) = delete;
  InstalledSwitches& operator=(const InstalledSwitches&) = delete;

 private:
  const DiagnosticSwitches* previous_;
  bool active_;
};

// The answer every trace point uses: the installed snapshot's when there is
// one (the environment is not touched), else the environment's.
bool diagnostic_switch_enabled(DiagnosticSwitch s);

}  // namespace velaro
