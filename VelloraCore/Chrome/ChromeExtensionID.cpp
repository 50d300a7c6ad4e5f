#include "VelloraCore/Chrome/ChromeExtensionID.h"

#include <algorithm>

namespace vellora {

bool isChromeExtensionID(std::string_view text) noexcept {
  // Byte-wise: a multi-byte UTF-8 character (a letter with a combining mark, say) is never one
  // of the 16 letters, so it fails, as it must for a key that Chrome itself generates.
  return text.size() == 32 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'p'; });
}

}  // namespace vellora
