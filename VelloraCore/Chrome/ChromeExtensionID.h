#pragma once

#include <string_view>

namespace vellora {

// Whether `text` is a well-formed Chrome extension ID: exactly 32 characters, each a lowercase
// letter from "a" to "p" ("abcdefghijklmnopabcdefghijklmnop" passes; "", upper case, digits,
// letters after "p" and any other character, combining marks included, fail).
bool isChromeExtensionID(std::string_view text) noexcept;

}  // namespace vellora
