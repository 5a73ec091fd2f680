#pragma once
// Validation of UTF-8 text (file contents, environment values).
#include <string_view>

namespace velaro {

// True when `text` is well-formed UTF-8: no stray continuation bytes, no
// overlong forms, no surrogates, nothing beyond U+10FFFF, no sequence cut
// short by the end of the text.
bool is_valid_utf8(std::string_view text);

}  // namespace velaro
