#include "VelloraCore/AppServer/AppServerError.h"

#include <initializer_list>
#include <string_view>

namespace vellora {

namespace {

// The text at value.<path>, where every step is an object and the last member is text.
const std::string* textAt(const JSONValue& value, std::initializer_list<std::string_view> path) {
  const JSONValue* current = &value;
  for (std::string_view key : path) {
    current = current->subscript(key);
    if (current == nullptr) return nullptr;
  }
  return current->stringValue();
}

// Servers often put a whole JSON error document into a message; its inner message is what a
// person should read.
std::optional<std::string> nestedErrorMessage(const std::string& candidate) {
  try {
    JSONValue parsed = JSONValue::parse(candidate);
    const JSONValue* error = parsed.subscript("error");
    if (error == nullptr || error->objectValue() == nullptr) return std::nullopt;
    const JSONValue* message = error->subscript("message");
    if (message == nullptr || message->stringValue() == nullptr ||
        message->stringValue()->empty()) {
      return std::nullopt;
    }
    return *message->stringValue();
  } catch (const JSONError&) {
    return std::nullopt;
  }
}

std::string serverMessage(const JSONValue& value) {
  const std::string* candidates[] = {textAt(value, {"params", "error", "message"}),
                                     textAt(value, {"error", "message"}),
                                     textAt(value, {"message"})};
  for (const std::string* candidate : candidates) {
    if (candidate == nullptr) continue;
    if (auto nested = nestedErrorMessage(*candidate)) return *nested;
    if (!candidate->empty()) return *candidate;
  }
  try {
    return value.serialized(JSONWriteOptions{.escapeSlashes = false});
  } catch (const JSONError&) {
    return "(an error value that cannot be written as JSON)";
  }
}

}  // namespace

AppServerError AppServerError::timeout(std::string method) {
  AppServerError error(Case::timeout);
  error.description_ = "Timed out waiting for app-server response to " + method + ".";
  error.method_ = std::move(method);
  return error;
}

AppServerError AppServerError::unexpectedEOF(std::optional<int32_t> exitCode,
                                             std::optional<std::string> stderrText) {
  AppServerError error(Case::unexpectedEOF);
  error.description_ = "Codex app-server closed its output stream.";
  if (exitCode) error.description_ += " Exit code: " + std::to_string(*exitCode) + ".";
  if (stderrText) error.description_ += " Stderr: " + *stderrText;
  error.exitCode_ = exitCode;
  error.stderrText_ = std::move(stderrText);
  return error;
}

AppServerError AppServerError::server(JSONValue value) {
  AppServerError error(Case::server);
  const std::string message = serverMessage(value);
  error.description_ = "Codex app-server returned an error: " + message;
  // A message that ends a sentence of its own keeps its own mark.
  if (!message.ends_with('.') && !message.ends_with('!') && !message.ends_with('?')) {
    error.description_ += '.';
  }
  error.value_ = std::move(value);
  return error;
}

AppServerError AppServerError::notRunning() {
  AppServerError error(Case::notRunning);
  error.description_ = "Codex app-server is not running.";
  return error;
}

bool operator==(const AppServerError& a, const AppServerError& b) noexcept {
  if (a.case_ != b.case_) return false;
  switch (a.case_) {
    case AppServerError::Case::timeout:
      return a.method_ == b.method_;
    case AppServerError::Case::unexpectedEOF:
      return a.exitCode_ == b.exitCode_ && a.stderrText_ == b.stderrText_;
    case AppServerError::Case::server:
      return a.value_ == b.value_;
    case AppServerError::Case::notRunning:
      return true;
  }
  return false;
}

}  // namespace vellora
