#pragma once
// Diagnostic trace lines of the Newton system (assembly, elimination and
// update). Each switch is an environment variable, consulted when its trace
// point is reached through the snapshot of boundary_layer/diagnostics.h; it
// counts as set when present with a valid UTF-8 value (an empty value
// included). Lines go to standard error and never influence the numbers.
#include <array>
#include <cstdio>
#include <string>

#include "boundary_layer/diagnostics.h"
#include "common/text_format.h"

namespace velaro::newton_trace {

// Whether a diagnostic switch is on: from the snapshot the running analysis
// installed on this thread, or from the environment when none is installed.
inline bool enabled(const char* name) { return diagnostic_switch_enabled(name); }

inline std::string num(double v) { return text::display(v); }

inline std::string vec(const std::array<double, 3>& v) {
  return text::printf("[%s, %s, %s]", num(v[0]).c_str(), num(v[1]).c_str(), num(v[2]).c_str());
}

// A label followed by a value text.
inline void labelled(const char* label, const std::string& value) {
  std::fputs(label, stderr);
  std::fputs(value.c_str(), stderr);
  std::fputc('\n', stderr);
}

inline void line(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace velaro::newton_trace
