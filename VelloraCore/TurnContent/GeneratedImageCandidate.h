#pragma once

#include <optional>
#include <string>

namespace vellora {

// One image that Codex generated during a turn, as found in one app-server message.
struct GeneratedImageCandidate {
  std::optional<std::string> sourceID;   // the id of the image-generation item
  std::optional<std::string> result;     // the image inline: base64 text or a data URL
  std::optional<std::string> savedPath;  // the absolute path of the file Codex saved

  friend bool operator==(const GeneratedImageCandidate&, const GeneratedImageCandidate&) = default;
};

}  // namespace vellora
