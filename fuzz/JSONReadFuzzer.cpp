// Reads arbitrary bytes as JSON; a value that reads must write and read back to an equal value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "VelloraCore/Protocol/JSONValue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const vellora::JSONValue value = vellora::JSONValue::parse(text);
    const vellora::JSONValue again = vellora::JSONValue::parse(value.serialized());
    // NaN cannot come from JSON text, so a value always equals its round trip.
    if (!(again == value)) __builtin_trap();
    (void)value.serialized({.escapeSlashes = false, .prettyPrinted = true});
  } catch (const vellora::JSONError&) {
  }
  return 0;
}
