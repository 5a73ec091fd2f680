#pragma once
// Diagnostic trace lines of the Newton system (assembly, elimination and
// update). Each switch is an environment variable looked up when its trace
// point is reached; it counts as set when present with a valid UTF-8 value
// (an empty value included). Lines go to standard error and never influence
// the numbers.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "geometry/text_format.h"

namespace velaro::newton_trace {

inline bool valid_utf8(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p != 0) {
    int extra;
    unsigned min;
    if (*p < 0x80) {
      ++p;
      continue;
    } else if ((*p & 0xE0) == 0xC0) {
      extra = 1;
      min = 0x80;
    } else if ((*p & 0xF0) == 0xE0) {
      extra = 2;
      min = 0x800;
    } else if ((*p & 0xF8) == 0xF0) {
      extra = 3;
      min = 0x10000;
    } else {
      return false;
    }
    unsigned cp = *p & (0x3F >> extra);
    ++p;
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (*p & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  }
  return true;
}

inline bool enabled(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && valid_utf8(v);
}

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
