#pragma once

#include <string_view>

namespace vellora {

// True when `bytes` is well-formed UTF-8 (no stray continuation bytes, overlong forms,
// surrogates or code points past U+10FFFF).
bool isValidUTF8(std::string_view bytes) noexcept;

// `text` (valid UTF-8) without white space and line breaks at either end: spaces, tabs,
// U+000A to U+000D, U+0085, U+00A0, U+2028, U+2029 and the other Unicode White_Space
// characters.
std::string_view trimmingWhitespace(std::string_view text) noexcept;

}  // namespace vellora
