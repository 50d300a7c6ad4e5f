#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

// The Native Messaging host manifest that tells Chrome which program to start for the host
// "com.vellora.companion" and which extensions may start it.
//
//   NativeHostManifest("/Applications/Vellora.app/Contents/MacOS/vellora-native-host",
//                      {"abcdefghijklmnopabcdefghijklmnop"}).encodedData() ->
//   {
//     "allowed_origins" : [
//       "chrome-extension://abcdefghijklmnopabcdefghijklmnop/"
//     ],
//     "description" : "Vellora native companion bridge",
//     "name" : "com.vellora.companion",
//     "path" : "/Applications/Vellora.app/Contents/MacOS/vellora-native-host",
//     "type" : "stdio"
//   }
struct NativeHostManifest {
  static constexpr std::string_view hostName = "com.vellora.companion";

  std::string name;
  std::string description;
  std::string path;
  std::string type;
  std::vector<std::string> allowedOrigins;

  NativeHostManifest() = default;
  // The manifest for the host executable at `hostPath`, allowing each ID in the given order as
  // "chrome-extension://ID/". The IDs are taken as they are: no check, duplicates kept.
  NativeHostManifest(std::string hostPath, const std::vector<std::string>& allowedExtensionIDs);

  // "chrome-extension://" + id + "/"
  static std::string origin(std::string_view extensionID);

  // The five members under their keys ("allowed_origins" for allowedOrigins).
  JSONValue toJSON() const;
  // The manifest in `value`, or nothing when it is not an object, lacks one of the five keys,
  // or holds a value of the wrong type there (every origin must be a string). Other keys are
  // ignored.
  static std::optional<NativeHostManifest> fromJSON(const JSONValue& value) noexcept;

  // The file's bytes: UTF-8 JSON with sorted keys, two spaces per level, " : " after each key,
  // slashes not escaped, and a final line break. Throws JSONError (notEncodable) when a field
  // is not valid UTF-8, since Chrome could not read such a file.
  std::string encodedData() const;

  friend bool operator==(const NativeHostManifest&, const NativeHostManifest&) = default;
};

}  // namespace vellora
