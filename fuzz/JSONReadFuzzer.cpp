// Reads arbitrary bytes as JSON; a value that reads must write and read back to an equal value,
// and reading the bytes from a buffer handed over (parseOwned, which may keep the buffer as a
// long string's storage) must give the same value, or fail as well.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "VelloraCore/Protocol/JSONValue.h"

namespace {

std::optional<vellora::JSONValue> readOwned(std::string_view text) {
  try {
    return vellora::JSONValue::parseOwned(std::string(text));
  } catch (const vellora::JSONError&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<vellora::JSONValue> owned = readOwned(text);
  try {
    const vellora::JSONValue value = vellora::JSONValue::parse(text);
    if (!owned || !(*owned == value)) __builtin_trap();
    const vellora::JSONValue again = vellora::JSONValue::parse(value.serialized());
    // NaN cannot come from JSON text, so a value always equals its round trip.
    if (!(again == value)) __builtin_trap();
    (void)value.serialized({.escapeSlashes = false, .prettyPrinted = true});
  } catch (const vellora::JSONError&) {
    if (owned) __builtin_trap();
  }
  return 0;
}
