#pragma once

#include <optional>
#include <string>

namespace vellora {

// One extension entry found under "extensions" > "settings" of one profile file of one
// browser.
struct ChromeExtensionCandidate {
  // The entry's key; always passes isChromeExtensionID.
  std::string id;
  // The profile directory's name ("Default", "Profile 1").
  std::string profileName;
  // The folder an unpacked extension was loaded from, when the entry names one.
  std::optional<std::string> path;
  // The extension's name: the entry's "manifest" > "name", or else, for an entry with an
  // absolute path, the "name" of the manifest.json in that folder.
  std::optional<std::string> name;
  // The id (ChromeBrowser::id) of the browser whose profile holds the entry.
  std::string browser;

  friend bool operator==(const ChromeExtensionCandidate&,
                         const ChromeExtensionCandidate&) = default;
};

}  // namespace vellora
