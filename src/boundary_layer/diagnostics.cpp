#include "boundary_layer/diagnostics.h"

#include <cstdint>
#include <cstdlib>

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

bool is_valid_utf8(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    const unsigned char c = *p;
    int extra = 0;
    std::uint32_t min = 0;
    if (c < 0x80) {
      ++p;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      min = 0x10000;
    } else {
      return false;
    }
    std::uint32_t cp = c & (0x3Fu >> extra);
    ++p;
    // A NUL ends the text and fails the continuation test, so the loop never
    // reads past the terminator.
    for (int k = 0; k < extra; ++k, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (*p & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  }
  return true;
}

bool environment_switch_set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && is_valid_utf8(value);
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
