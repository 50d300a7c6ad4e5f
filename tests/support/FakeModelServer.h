#pragma once

#include <string>
#include <vector>

#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/JSONValue.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora::test {

// The fake-model-server program (tests/fakes) running as a child of the test: a model server on
// 127.0.0.1 speaking the streaming Responses API, so that the real Codex runs turns offline.
// The n-th model request gets the n-th step of the scenario; the last step answers every later
// request. The server is stopped when the object is destroyed, and also ends by itself when
// the test process dies.
//
//   FakeModelServer server(FakeModelServer::scenario(
//       {FakeModelServer::httpError(400, "Bad prompt."), FakeModelServer::answer({"Hi", "!"})}));
//   CodexScratchHome home({.modelServerPort = server.port()});
class FakeModelServer {
 public:
  // Starts the server and blocks until it listens. Throws std::runtime_error (with the server's
  // standard error) when it cannot start.
  explicit FakeModelServer(const JSONValue& scenarioToPlay);
  // Answers every request with "Hello from the model." in three deltas.
  FakeModelServer();
  ~FakeModelServer();
  FakeModelServer(const FakeModelServer&) = delete;
  FakeModelServer& operator=(const FakeModelServer&) = delete;

  int port() const noexcept { return port_; }
  // "http://127.0.0.1:PORT/v1", the base URL a model provider is configured with.
  std::string baseURL() const;
  // The model requests received so far, in order, each {"path": ..., "body": the JSON body}.
  std::vector<JSONValue> recordedRequests() const;

  // Scenario steps.
  // Streams the deltas as the assistant's text, then completes the response.
  static JSONValue answer(const std::vector<std::string>& deltas);
  // Answers with the HTTP status and {"error": {"message": message, ...}} as the body.
  static JSONValue httpError(int status, const std::string& message);
  // Starts the stream, then sends a response.failed event carrying the message.
  static JSONValue failed(const std::string& message);
  // Streams the deltas, then ends the stream without completing the response.
  static JSONValue truncated(const std::vector<std::string>& deltas);
  // Streams the deltas, then keeps the stream open until the client goes away.
  static JSONValue stall(const std::vector<std::string>& deltas);
  // {"responses": steps}
  static JSONValue scenario(std::vector<JSONValue> steps);

  static std::string executablePath();
  // A port on 127.0.0.1 on which nothing listens (bound by the system, then released).
  static int closedPort();

 private:
  TemporaryDirectory directory_;
  LaunchedProcess child_;
  int port_ = 0;
};

}  // namespace vellora::test
