#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vellora {

// Standard base64: the RFC 4648 alphabet with "=" padding and no line breaks.
//
//   base64Encoded("ab") == "YWI=";  base64Decoded("YWI=") == "ab";  base64Decoded("YWI") == nullopt
std::string base64Encoded(std::string_view bytes);

// The length of base64Encoded() for this many bytes.
constexpr std::size_t base64EncodedLength(std::size_t byteCount) noexcept {
  return (byteCount + 2) / 3 * 4;
}

// Strict decoding: the length must be a multiple of four, every character must be in the
// alphabet (white space included, anything else fails), and "=" may only pad the last group.
std::optional<std::string> base64Decoded(std::string_view text);

}  // namespace vellora
