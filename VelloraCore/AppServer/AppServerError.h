#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "VelloraCore/Error.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

// A failure talking to the `codex app-server` child. Descriptions, word for word:
//   timeout        "Timed out waiting for app-server response to thread/start."
//   unexpectedEOF  "Codex app-server closed its output stream. Exit code: 1. Stderr: boom"
//                  (each part after the first only when known)
//   server         "Codex app-server returned an error: quota exceeded."
//                  (no full stop added after a message that ends with ".", "!" or "?")
//   notRunning     "Codex app-server is not running."
// Two errors are equal when case and payload are equal.
class AppServerError final : public Error {
 public:
  enum class Case { timeout, unexpectedEOF, server, notRunning };

  // No response to `method` before its deadline.
  static AppServerError timeout(std::string method);
  // The child's standard output ended while a message was awaited. `exitCode` is the exit
  // status (or the number of the ending signal) when the child was seen to end; `stderrText`
  // the trimmed tail of its standard error when there was any.
  static AppServerError unexpectedEOF(std::optional<int32_t> exitCode,
                                      std::optional<std::string> stderrText);
  // The app-server reported an error: a response's "error" member or a whole "error"
  // notification. The description takes its message from params.error.message, error.message
  // or message, preferring the message of an error object nested inside that text as JSON.
  static AppServerError server(JSONValue value);
  // No child runs, or a needed pipe is gone.
  static AppServerError notRunning();

  Case errorCase() const noexcept { return case_; }
  // timeout: the method name.
  const std::string& method() const noexcept { return method_; }
  // unexpectedEOF payload.
  std::optional<int32_t> exitCode() const noexcept { return exitCode_; }
  const std::optional<std::string>& stderrText() const noexcept { return stderrText_; }
  // server payload.
  const JSONValue& value() const noexcept { return value_; }

  const char* what() const noexcept override { return description_.c_str(); }

  friend bool operator==(const AppServerError& a, const AppServerError& b) noexcept;

 private:
  explicit AppServerError(Case c) : case_(c) {}

  Case case_;
  std::string method_;
  std::optional<int32_t> exitCode_;
  std::optional<std::string> stderrText_;
  JSONValue value_;
  std::string description_;
};

}  // namespace vellora
