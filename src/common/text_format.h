#pragma once
// Small text formatting helpers for error messages and trace lines
// (GCC 12's standard library has no <format>).
#include <string>

namespace velaro::text {

// printf-style formatting into a std::string.
std::string printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Shortest decimal text that reads back to the same double, never in
// exponent form ("0.5", "1", "0.0000001"); "NaN", "inf", "-inf".
std::string display(double v);

// Fixed notation with `precision` decimals ("3.1416").
std::string fixed(double v, int precision);

// Scientific notation with `precision` decimals and a bare exponent
// ("1.23e-5", "4.00e0", "-7.50e12").
std::string scientific(double v, int precision);

}  // namespace velaro::text
