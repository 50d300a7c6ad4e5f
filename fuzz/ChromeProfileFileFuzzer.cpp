// Reads arbitrary bytes as a Chrome profile file. Besides memory errors, it checks that the
// fast reader agrees with reading the whole text as a JSONValue and walking it by hand.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Chrome/ChromeExtensionID.h"
#include "VelloraCore/Chrome/ChromeProfileFile.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace {

using vellora::ChromeExtensionCandidate;
using vellora::JSONValue;

std::optional<std::string> text(const JSONValue* value) {
  const std::string* string = value ? value->stringValue() : nullptr;
  return string ? std::optional<std::string>(*string) : std::nullopt;
}

std::vector<ChromeExtensionCandidate> expectedCandidates(std::string_view contents) {
  std::vector<ChromeExtensionCandidate> candidates;
  JSONValue root;
  try {
    root = JSONValue::parse(contents);
  } catch (const vellora::JSONError&) {
    return candidates;
  }
  const JSONValue* extensions = root.subscript("extensions");
  const JSONValue* settings = extensions ? extensions->subscript("settings") : nullptr;
  if (settings == nullptr || settings->objectValue() == nullptr) return candidates;
  for (const auto& [id, value] : *settings->objectValue()) {
    if (!vellora::isChromeExtensionID(id) || value.objectValue() == nullptr) continue;
    const JSONValue* manifest = value.subscript("manifest");
    candidates.push_back({id, "Default", text(value.subscript("path")),
                          manifest ? text(manifest->subscript("name")) : std::nullopt});
  }
  return candidates;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  const std::vector<ChromeExtensionCandidate> candidates =
      vellora::ChromeProfileFile::extensionCandidates(contents, "Default");
  if (candidates != expectedCandidates(contents)) std::abort();
  return 0;
}
