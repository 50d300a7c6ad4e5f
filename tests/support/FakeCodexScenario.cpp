#include "tests/support/FakeCodexScenario.h"

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora::test {

FakeCodexScenario::FakeCodexScenario(std::string directory) : directory_(std::move(directory)) {}

void FakeCodexScenario::write(JSONValue::Object requests, JSONValue::Object scenario) const {
  requests.try_emplace("initialize",
                       JSONValue::Array{JSONValue::object({{"result", JSONValue::Object{}}})});
  requests.try_emplace("thread/start", JSONValue::Array{fakeCodex::threadStarted("thread-1")});
  scenario["requests"] = std::move(requests);
  scenario["record"] = recordPath();
  makePosixFileSystem()->writeFileAtomically(path(), JSONValue(std::move(scenario)).serialized());
}

std::vector<JSONValue> FakeCodexScenario::received() const {
  auto fileSystem = makePosixFileSystem();
  std::vector<JSONValue> messages;
  if (!fileSystem->fileExists(recordPath())) return messages;
  const std::string text = fileSystem->readFile(recordPath(), std::size_t{1} << 30);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    messages.push_back(JSONValue::parse(std::string_view(text).substr(start, end - start)));
  }
  return messages;
}

std::vector<std::string> FakeCodexScenario::receivedMethods() const {
  std::vector<std::string> methods;
  for (const JSONValue& message : received()) {
    const JSONValue* method = message.subscript("method");
    methods.push_back(method != nullptr && method->stringValue() ? *method->stringValue() : "");
  }
  return methods;
}

std::vector<JSONValue> FakeCodexScenario::paramsOf(std::string_view method) const {
  std::vector<JSONValue> params;
  for (const JSONValue& message : received()) {
    const JSONValue* name = message.subscript("method");
    const JSONValue* value = message.subscript("params");
    if (name != nullptr && *name == JSONValue(method) && value != nullptr) {
      params.push_back(*value);
    }
  }
  return params;
}

void FakeCodexScenario::forgetReceived() const {
  auto fileSystem = makePosixFileSystem();
  if (fileSystem->fileExists(recordPath())) fileSystem->removeTree(recordPath());
}

namespace fakeCodex {

JSONValue notify(std::string_view method, JSONValue params) {
  return JSONValue::object({{"notify", method}, {"params", std::move(params)}});
}

JSONValue turnStarted(std::string_view turn) {
  return JSONValue::object(
      {{"result", JSONValue::object(
                      {{"turn", JSONValue::object({{"id", turn}, {"status", "inProgress"}})}})}});
}

JSONValue threadStarted(std::string_view thread) {
  return JSONValue::object(
      {{"result", JSONValue::object({{"thread", JSONValue::object({{"id", thread}})}})}});
}

JSONValue delta(std::string_view text, std::string_view turn, std::string_view thread) {
  return notify(
      "item/agentMessage/delta",
      JSONValue::object(
          {{"threadId", thread}, {"turnId", turn}, {"itemId", "msg-1"}, {"delta", text}}));
}

JSONValue turnCompleted(std::string_view turn, std::string_view status, std::string_view thread) {
  return notify(
      "turn/completed",
      JSONValue::object(
          {{"threadId", thread},
           {"turn", JSONValue::object({{"id", turn}, {"status", status}, {"error", nullptr}})}}));
}

JSONValue turnFailed(std::string_view message, std::string_view turn) {
  return notify(
      "turn/completed",
      JSONValue::object(
          {{"threadId", "thread-1"},
           {"turn", JSONValue::object({{"id", turn},
                                       {"status", "failed"},
                                       {"error", JSONValue::object({{"message", message}})}})}}));
}

JSONValue errorNotice(std::string_view params) {
  return notify("error", JSONValue::parse(params));
}

JSONValue retryNotice(std::string_view message, std::string_view turn) {
  return notify("error", JSONValue::object({{"threadId", "thread-1"},
                                            {"turnId", turn},
                                            {"willRetry", true},
                                            {"error", JSONValue::object({{"message", message}})}}));
}

JSONValue imageSaved(std::string_view savedPath, std::string_view turn) {
  return notify("item/completed",
                JSONValue::object({{"threadId", "thread-1"},
                                   {"turnId", turn},
                                   {"item", JSONValue::object({{"type", "imageGeneration"},
                                                               {"id", "ig_1"},
                                                               {"status", "completed"},
                                                               {"savedPath", savedPath}})}}));
}

JSONValue pauseFor(double seconds) {
  return JSONValue::object({{"sleep", seconds}});
}

JSONValue awaitMessage(std::string_view method) {
  return JSONValue::object({{"await", method}});
}

JSONValue awaitFile(std::string_view path) {
  return JSONValue::object({{"awaitFile", path}});
}

}  // namespace fakeCodex

}  // namespace vellora::test
