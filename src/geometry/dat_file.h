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
  int code;             // errno-style code; 0 for a file that is not a regular one
  std::string message;  // "<system text> (os error <code>)", or the reason for code 0
};

// Largest coordinate file read: 16 MiB. A dense airfoil file of 10,000
// points takes about 300 kB; anything near the limit is not an airfoil.
inline constexpr long long kMaxDatFileBytes = 16LL << 20;

// Parses the text of a coordinate file (already known to be valid UTF-8).
// A leading UTF-8 byte-order mark is skipped; lines end at LF, CR LF or a
// lone CR.
std::vector<Point> parse_dat_text(std::string_view text);

// Reads and parses a file. Failures to open or read it, and content that is
// not valid UTF-8, are reported as FileError. Only regular files are read:
// a directory fails with EISDIR, a FIFO, device or socket with code 0 (it
// is opened without blocking, so a FIFO without a writer does not hang),
// and a file larger than kMaxDatFileBytes with EFBIG, before any reading.
std::expected<std::vector<Point>, FileError> parse_dat_file(const std::string& path);

// Decimal float syntax of coordinate files: optional sign, digits with an
// optional fraction, optional exponent, or inf/infinity/nan in any case.
// Returns false when the whole token is not such a number.
bool parse_float_token(std::string_view token, double& value);

}  // namespace velaro
