#include "geometry/dat_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/text_format.h"
#include "common/utf8.h"

namespace velaro {
namespace {

FileError os_error(int code) { return {code, text::printf("%s (os error %d)", std::strerror(code), code)}; }

bool ascii_iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

// Length in bytes of the Unicode white-space character starting at p, or 0.
std::size_t whitespace_len(std::string_view s, std::size_t p) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[p + k]); };
  const std::size_t left = s.size() - p;
  const unsigned char c = b(0);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c == 0xC2 && left >= 2 && (b(1) == 0x85 || b(1) == 0xA0)) return 2;  // NEL, NBSP
  if (c == 0xE1 && left >= 3 && b(1) == 0x9A && b(2) == 0x80) return 3;    // U+1680
  if (c == 0xE2 && left >= 3) {
    if (b(1) == 0x80 && (b(2) <= 0x8A || b(2) == 0xA8 || b(2) == 0xA9 || b(2) == 0xAF)) return 3;
    if (b(1) == 0x81 && b(2) == 0x9F) return 3;  // U+205F
  }
  if (c == 0xE3 && left >= 3 && b(1) == 0x80 && b(2) == 0x80) return 3;  // U+3000
  return 0;
}

}  // namespace

bool parse_float_token(std::string_view tok, double& value) {
  std::string_view body = tok;
  bool negative = false;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (body.empty()) return false;
  if (ascii_iequal(body, "inf") || ascii_iequal(body, "infinity")) {
    value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  if (ascii_iequal(body, "nan")) {
    value = negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  // digits [. digits] | . digits, then an optional exponent.
  std::size_t i = 0;
  std::size_t int_digits = 0, frac_digits = 0;
  while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++int_digits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++frac_digits;
  }
  if (int_digits + frac_digits == 0) return false;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (i != body.size()) return false;
  double v = 0.0;
  const auto res = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // from_chars refuses overflow and underflow; follow the usual decimal
    // conversion instead (infinity, or a signed zero / subnormal).
    errno = 0;
    v = std::strtod(std::string(body).c_str(), nullptr);
  } else if (res.ec != std::errc() || res.ptr != body.data() + body.size()) {
    return false;
  }
  value = negative ? -v : v;
  return true;
}

std::vector<Point> parse_dat_text(std::string_view text) {
  std::vector<Point> pts;
  // A UTF-8 byte-order mark is not part of the first line.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::size_t pos = 0;
  while (pos <= text.size()) {
    // Lines end at LF, CR LF, or a lone CR (old Mac files).
    std::size_t nl = text.find_first_of("\r\n", pos);
    const bool last = nl == std::string_view::npos;
    if (last) nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (!last && text[nl] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;

    // Split into white-space separated tokens; only the first two matter.
    std::string_view tokens[2];
    int count = 0;
    std::size_t i = 0;
    while (i < line.size() && count < 2) {
      std::size_t w;
      while (i < line.size() && (w = whitespace_len(line, i)) > 0) i += w;
      if (i >= line.size()) break;
      const std::size_t start = i;
      while (i < line.size() && whitespace_len(line, i) == 0) ++i;
      tokens[count++] = line.substr(start, i - start);
    }
    if (count == 2) {
      double x, y;
      if (parse_float_token(tokens[0], x) && parse_float_token(tokens[1], y)) pts.push_back({x, y});
    }
    if (last) break;
  }
  return pts;
}

std::expected<std::vector<Point>, FileError> parse_dat_file(const std::string& path) {
  // A path with an embedded NUL byte cannot name a file.
  if (path.find('\0') != std::string::npos) return std::unexpected(os_error(EINVAL));
  // Non-blocking, so that opening a FIFO without a writer returns at once;
  // the descriptor is only read once it is known to be a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::unexpected(os_error(errno));
  const auto fail = [fd](FileError e) {
    ::close(fd);
    return std::unexpected(std::move(e));
  };
  struct stat st{};
  if (::fstat(fd, &st) != 0) return fail(os_error(errno));
  if (S_ISDIR(st.st_mode)) return fail(os_error(EISDIR));
  if (!S_ISREG(st.st_mode)) {
    const char* kind = S_ISFIFO(st.st_mode)  ? "a FIFO"
                       : S_ISCHR(st.st_mode) ? "a character device"
                       : S_ISBLK(st.st_mode) ? "a block device"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                             : "not a regular file";
    return fail(FileError{0, text::printf("Not a regular file: %s is %s", path.c_str(), kind)});
  }
  const auto too_large = [&](long long size) {
    return FileError{EFBIG, text::printf("%s (os error %d): %lld bytes, more than the %lld an airfoil file may have",
                                         std::strerror(EFBIG), EFBIG, size, kMaxDatFileBytes)};
  };
  if (st.st_size > kMaxDatFileBytes) return fail(too_large(static_cast<long long>(st.st_size)));
  std::string content;
  content.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buf, sizeof buf);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(os_error(errno));
    }
    if (got == 0) break;
    content.append(buf, static_cast<std::size_t>(got));
    // A file that grows while it is read is held to the same limit.
    if (static_cast<long long>(content.size()) > kMaxDatFileBytes)
      return fail(too_large(static_cast<long long>(content.size())));
  }
  ::close(fd);
  if (!is_valid_utf8(content)) return std::unexpected(os_error(EILSEQ));
  return parse_dat_text(content);
}

}  // namespace velaro
