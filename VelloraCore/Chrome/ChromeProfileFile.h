#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Chrome/ChromeExtensionCandidate.h"

namespace vellora {

// Reading Chrome's profile files ("Preferences", "Secure Preferences"), of which only the object
// at "extensions" > "settings" matters here.
namespace ChromeProfileFile {

// The candidates of one file's contents, with `profileName` set and `name` taken only from the
// entry's stored manifest. Entries whose key is not an extension ID or whose value is not an
// object are skipped. Gives nothing for text that is not JSON, a top level that is not an
// object, or a missing or non-object "extensions" or "settings". Entries come in ascending
// order of their keys; a key given twice counts once, with its last value.
std::vector<ChromeExtensionCandidate> extensionCandidates(std::string_view contents,
                                                          const std::string& profileName) noexcept;

}  // namespace ChromeProfileFile

}  // namespace vellora
