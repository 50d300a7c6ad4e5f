#include "VelloraCore/AppServer/CodexAuthDetector.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/UTF8Text.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {
namespace {

// A real credentials file holds a few kilobytes; anything far larger is not one, and reading it
// whole would only cost memory.
constexpr std::size_t kMaxCredentialsFileBytes = 4 * 1024 * 1024;

// Text with something besides Unicode white space (spaces, tabs, line breaks, line and
// paragraph separators). The text is valid UTF-8: the JSON reader checked it.
bool isVisibleText(const JSONValue* value) noexcept {
  if (value == nullptr) return false;
  const std::string* text = value->stringValue();
  return text != nullptr && !trimmingWhitespace(*text).empty();
}

bool isNonEmptyObject(const JSONValue* value) noexcept {
  if (value == nullptr) return false;
  const JSONValue::Object* object = value->objectValue();
  return object != nullptr && !object->empty();
}

}  // namespace

CodexAuthDetector::CodexAuthDetector(std::string codexHomeDirectory, const FileSystem& fileSystem)
    : codexHomeDirectory_(std::move(codexHomeDirectory)), fileSystem_(&fileSystem) {}

std::string CodexAuthDetector::credentialsFilePath() const {
  return codexHomeDirectory_ + "/auth.json";
}

bool CodexAuthDetector::hasAuthSession() const noexcept {
  try {
    const std::string path = credentialsFilePath();
    if (!fileSystem_->fileExists(path)) return false;
    const JSONValue document =
        JSONValue::parse(fileSystem_->readFile(path, kMaxCredentialsFileBytes));
    if (document.objectValue() == nullptr) return false;
    if (isVisibleText(document.subscript("OPENAI_API_KEY"))) return true;
    if (isNonEmptyObject(document.subscript("tokens"))) return true;
    if (isVisibleText(document.subscript("auth_mode"))) {
      return document.subscript("last_refresh") != nullptr;
    }
    return false;
  } catch (...) {
    // Unreadable or malformed credentials read as "not signed in".
    return false;
  }
}

HealthState CodexAuthDetector::healthState() const noexcept {
  return hasAuthSession() ? HealthState::ready : HealthState::missing;
}

}  // namespace vellora
