#include "boundary_layer/diagnostics.h"

#include <cstdlib>
#include <string_view>

#include "common/utf8.h"

namespace velaro {

namespace {

// One pointer per thread: worker threads start with none, so a task sees only
// the snapshot its own analysis installed.
thread_local const DiagnosticSwitches* installed = nullptr;

}  // namespace

std::optional<DiagnosticSwitch> diagnostic_switch_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kDiagnosticSwitchNames.size(); ++i)
    if (kDiagnosticSwitchNames[i] == name) return static_cast<DiagnosticSwitch>(i);
  return std::nullopt;
}

bool environment_switch_set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && is_valid_utf8(std::string_view(value));
}

DiagnosticSwitches DiagnosticSwitches::from_environment() {
  DiagnosticSwitches s;
  for (std::size_t i = 0; i < kDiagnosticSwitchNames.size(); ++i) {
    // The names are literals, so data() is NUL-terminated.
    s.bits_[i] = environment_switch_set(kDiagnosticSwitchNames[i].data());
  }
  return s;
}

const DiagnosticSwitches* installed_diagnostic_switches() { return installed; }

InstalledSwitches::InstalledSwitches(const DiagnosticSwitches* switches)
    : previous_(installed), active_(switches != nullptr) {
  if (active_) installed = switches;
}

InstalledSwitches::~InstalledSwitches() {
  if (active_) installed = previous_;
}

bool diagnostic_switch_enabled(DiagnosticSwitch s) {
  if (const DiagnosticSwitches* snapshot = installed) return snapshot->is_set(s);
  // The names are literals, so data() is NUL-terminated.
  return environment_switch_set(diagnostic_switch_name(s).data());
}

}  // namespace velaro
