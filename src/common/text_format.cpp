#include "common/text_format.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace velaro::text {

std::string printf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int len = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(len > 0 ? static_cast<std::size_t>(len) : 0, '\0');
  if (len > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  va_end(args);
  return out;
}

namespace {
std::string special(double v) {
  if (std::isnan(v)) return "NaN";
  return v < 0 ? "-inf" : "inf";
}
}  // namespace

std::string display(double v) {
  if (!std::isfinite(v)) return special(v);
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, res.ptr);
}

std::string fixed(double v, int precision) {
  if (!std::isfinite(v)) return special(v);
  return printf("%.*f", precision, v);
}

std::string scientific(double v, int precision) {
  if (!std::isfinite(v)) return special(v);
  std::string s = printf("%.*e", precision, v);
  const auto e = s.find('e');
  if (e == std::string::npos) return s;
  const int exponent = std::atoi(s.c_str() + e + 1);
  return s.substr(0, e + 1) + std::to_string(exponent);
}

}  // namespace velaro::text
