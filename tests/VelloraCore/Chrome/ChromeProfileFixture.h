#pragma once

#include <optional>
#include <string>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Protocol/JSONValue.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora::test {

// Profile files shaped like the ones Chromium 156 writes: an unpacked extension's entry holds
// an absolute "path" and no "manifest"; a component or store extension's entry holds both.
// "Secure Preferences" holds only integrity MACs on Linux, but may hold settings on macOS.

inline JSONValue extensionEntry(const std::string& path,
                                std::optional<std::string> storedManifestName = std::nullopt) {
  JSONValue::Object entry{
      {"account_extension_type", 0},
      {"active_permissions", JSONValue::object({{"api", JSONValue(JSONValue::Array{})},
                                                {"explicit_host", JSONValue(JSONValue::Array{})}})},
      {"creation_flags", 38},
      {"disable_reasons", JSONValue(JSONValue::Array{})},
      {"first_install_time", "13441346936622698"},
      {"from_webstore", false},
      {"location", 8},
      {"path", path},
  };
  if (storedManifestName) {
    entry["manifest"] = JSONValue::object(
        {{"manifest_version", 3}, {"name", *storedManifestName}, {"version", "1.0"}});
  }
  return JSONValue(std::move(entry));
}

// A Preferences object whose "extensions" > "settings" holds `settings`.
inline JSONValue preferences(JSONValue settings) {
  return JSONValue::object({
      {"browser", JSONValue::object({{"has_seen_welcome_page", false}})},
      {"extensions", JSONValue::object({{"last_chrome_version", "156.0.8078.129"},
                                        {"settings", std::move(settings)}})},
      {"profile", JSONValue::object({{"name", "Person 1"}, {"exit_type", "Normal"}})},
  });
}

inline const std::string kSecurePreferencesOfLinux =
    R"({"protection":{"super_mac":"B613679A0814D9EC772F95D778C35FC5FF1697C493715653C6C712144292C5AD"}})";

// A path inside HOME, relative to HOME.
inline std::string relativeToHome(const TemporaryDirectory& home, const std::string& path) {
  return path.substr(home.path().size() + 1);
}

// Chrome's user data directory of the platform's layout, relative to HOME.
inline std::string chromeDirectoryInHome(const TemporaryDirectory& home) {
  return relativeToHome(home, AppPaths::platformLayout(home.path(), {}).chromeUserDataDirectory());
}

// Writes a profile file: <Chrome's user data directory>/<profile>/<file>, in the platform's
// layout unless `paths` names another.
inline std::string writeProfileFile(const TemporaryDirectory& home, const std::string& profile,
                                    const std::string& file, const std::string& contents,
                                    std::optional<AppPaths> paths = std::nullopt) {
  const std::string chromeDirectory =
      paths ? relativeToHome(home, paths->chromeUserDataDirectory()) : chromeDirectoryInHome(home);
  return home.writeFile(chromeDirectory + "/" + profile + "/" + file, contents);
}

inline std::string writeProfileFile(const TemporaryDirectory& home, const std::string& profile,
                                    const std::string& file, const JSONValue& contents,
                                    std::optional<AppPaths> paths = std::nullopt) {
  return writeProfileFile(home, profile, file,
                          contents.serialized(JSONWriteOptions{.escapeSlashes = false}),
                          std::move(paths));
}

// An extension folder with a manifest.json naming the extension; returns the folder.
inline std::string writeExtensionFolder(const TemporaryDirectory& home, const std::string& relative,
                                        const std::string& name) {
  home.writeFile(relative + "/manifest.json",
                 JSONValue::object({{"manifest_version", 3}, {"name", name}, {"version", "1.0"}})
                     .serialized(JSONWriteOptions{.escapeSlashes = false}));
  return home / relative;
}

}  // namespace vellora::test
