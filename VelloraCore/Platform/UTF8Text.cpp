#include "VelloraCore/Platform/UTF8Text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <climits>
#include <cstdint>

namespace vellora {

bool isValidUTF8(std::string_view bytes) noexcept {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto length = static_cast<int64_t>(bytes.size());
  int64_t position = 0;
  while (position < length) {
    if (data[position] < 0x80) {
      ++position;
      continue;
    }
    UChar32 c;
    U8_NEXT(data, position, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string_view trimmingWhitespace(std::string_view text) noexcept {
  // ICU walks backwards with 32-bit offsets; texts this long are not trimmed.
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return text;
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  int32_t start = 0;
  int32_t end = static_cast<int32_t>(text.size());
  while (start < end) {
    int32_t next = start;
    UChar32 c;
    U8_NEXT(data, next, end, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    start = next;
  }
  while (end > start) {
    int32_t previous = end;
    UChar32 c;
    U8_PREV(data, start, previous, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    end = previous;
  }
  return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

}  // namespace vellora
