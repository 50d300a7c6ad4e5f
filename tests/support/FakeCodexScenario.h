#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora::test {

// The scenario file that the stand-in for `codex app-server` reads when it starts
// (FakeCodexAppServer.cpp documents the format), and the record of what it received, both in
// one directory. Tests name the file through kFakeCodexScenarioVariable.
class FakeCodexScenario {
 public:
  explicit FakeCodexScenario(std::string directory);

  // directory/scenario.json
  std::string path() const { return directory_ + "/scenario.json"; }

  // Writes the scenario: `requests` holds each method's actions ("method#N" for the Nth call);
  // "initialize" is answered with {} and every "thread/start" gives "thread-1" unless
  // `requests` says otherwise; `scenario` adds other members ("help", "responses", ...). Every
  // line the stand-in receives is recorded. A child started later reads the new scenario.
  void write(JSONValue::Object requests, JSONValue::Object scenario = {}) const;

  // Every line that the stand-in's children have received so far, parsed, in order.
  std::vector<JSONValue> received() const;
  // The method of each line received; "" for a response.
  std::vector<std::string> receivedMethods() const;
  // The params of each line received with that method, in order.
  std::vector<JSONValue> paramsOf(std::string_view method) const;
  // Empties the record.
  void forgetReceived() const;

 private:
  std::string recordPath() const { return directory_ + "/received.jsonl"; }

  std::string directory_;
};

// Actions of a scenario. Thread "thread-1" and turn "turn-1" unless named.
namespace fakeCodex {

// {"notify": method, "params": params}
JSONValue notify(std::string_view method, JSONValue params);
// The "turn/start" response naming the turn.
JSONValue turnStarted(std::string_view turn = "turn-1");
// The "thread/start" response naming the thread.
JSONValue threadStarted(std::string_view thread);
JSONValue delta(std::string_view text, std::string_view turn = "turn-1",
                std::string_view thread = "thread-1");
JSONValue turnCompleted(std::string_view turn = "turn-1", std::string_view status = "completed",
                        std::string_view thread = "thread-1");
// "turn/completed" with status "failed" and the error's message.
JSONValue turnFailed(std::string_view message, std::string_view turn = "turn-1");
// An "error" notification with these params (JSON text).
JSONValue errorNotice(std::string_view params);
// An "error" notification of the turn with "willRetry" true.
JSONValue retryNotice(std::string_view message, std::string_view turn = "turn-1");
// "item/completed" with an "imageGeneration" item saved at `savedPath`.
JSONValue imageSaved(std::string_view savedPath, std::string_view turn = "turn-1");
// The stand-in pauses.
JSONValue pauseFor(double seconds);
// The stand-in reads and handles its input until one more message with `method` has arrived
// (a method that never comes: until its input ends, when it exits).
JSONValue awaitMessage(std::string_view method);
// The stand-in waits until the file exists (a test creates it when it has seen what it waits
// for).
JSONValue awaitFile(std::string_view path);

}  // namespace fakeCodex

}  // namespace vellora::test
