#pragma once
// Reader for plain-text airfoil coordinate files (.dat): every line whose
// first two tokens are numbers is a point, everything else is skipped.
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/point.h"

namespace velaro {

struct FileError {
  int code;             // errno-style code
  std::string message;  // "<system text> (os error <code>)"
};

// Parses the text of a coordinate file (already known to be valid UTF-8).
std::vector<Point> parse_dat_text(std::string_view text);

// Reads and parses a file. Failures to open or read it, and content that is
// not valid UTF-8, are reported as FileError.
std::expected<std::vector<Point>, FileError> parse_dat_file(const std::string& path);

// Decimal float syntax of coordinate files: optional sign, digits with an
// optional fraction, optional exponent, or inf/infinity/nan in any case.
// Returns false when the whole token is not such a number.
bool parse_float_token(std::string_view token, double& value);

}  // namespace velaro
