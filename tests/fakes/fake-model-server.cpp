// A model server for contract tests with the real Codex. It speaks just enough of the streaming
// Responses API (POST .../responses answered with server-sent events) for `codex app-server` to
// run text turns offline, on 127.0.0.1 only, and serves until it is killed. The HTTP side is
// cpp-httplib's server; this file holds only the scenario and the events.
//
//   fake-model-server [--record PATH] [--exit-on-stdin-eof] [SCENARIO]
//
// Once listening it prints its port and a line break on standard output. --record appends one
// JSON line per model request: {"path", "body"}, the body parsed when it is JSON.
// --exit-on-stdin-eof ends the server when its standard input closes, so a test that dies
// leaves no server behind.
//
// SCENARIO is JSON text, or "@" followed by the path of a file holding it:
//   {"responses": [step, ...]}
// The n-th model request gets the n-th step; the last step answers every later request.
// Steps:
//   {"kind": "answer", "deltas": ["Hel", "lo"]}  the deltas as text, then a completed response
//   {"kind": "httpError", "status": 400, "message": "..."}
//        that status with {"error": {"message": ..., "type": ...}} (or "body": raw text)
//   {"kind": "failed", "message": "...", "code": "server_error"}  a response.failed event
//   {"kind": "truncated", "deltas": [...]}  the deltas, then the stream ends without completion
//   {"kind": "stall", "deltas": [...]}  the deltas, then the stream stays open until the client
//        goes away
// Without a scenario every request is answered with "Hello from the model." in three deltas.
// Other requests (any GET, unknown paths) get 404.

#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "VelloraCore/Protocol/JSONValue.h"

namespace {

using vellora::JSONValue;

struct Step {
  enum class Kind { answer, httpError, failed, truncated, stall };
  Kind kind = Kind::answer;
  std::vector<std::string> deltas;
  int status = 500;
  std::string body;
  std::string message;
  std::string code;
};

struct Options {
  std::string recordFile;
  bool exitOnStandardInputEnd = false;
  std::vector<Step> steps;
};

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "fake-model-server: %s\n", message.c_str());
  std::exit(2);
}

std::string readWholeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) fail("cannot open " + path);
  std::string text;
  char buffer[65536];
  while (std::size_t count = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, count);
  std::fclose(file);
  return text;
}

std::string textMember(const JSONValue& object, std::string_view key, std::string fallback) {
  const JSONValue* member = object.subscript(key);
  return member && member->stringValue() ? *member->stringValue() : fallback;
}

Step parseStep(const JSONValue& value) {
  Step step;
  const std::string kind = textMember(value, "kind", "");
  if (kind == "answer") {
    step.kind = Step::Kind::answer;
  } else if (kind == "httpError") {
    step.kind = Step::Kind::httpError;
  } else if (kind == "failed") {
    step.kind = Step::Kind::failed;
  } else if (kind == "truncated") {
    step.kind = Step::Kind::truncated;
  } else if (kind == "stall") {
    step.kind = Step::Kind::stall;
  } else {
    fail("unknown step kind '" + kind + "'");
  }
  if (const JSONValue* deltas = value.subscript("deltas"); deltas && deltas->arrayValue()) {
    for (const JSONValue& delta : *deltas->arrayValue()) {
      if (!delta.stringValue()) fail("every delta must be text");
      step.deltas.push_back(*delta.stringValue());
    }
  }
  if (const JSONValue* status = value.subscript("status"); status && status->numberValue()) {
    step.status = static_cast<int>(*status->numberValue());
  }
  step.message = textMember(value, "message", "The fake model server failed on purpose.");
  step.code = textMember(value, "code", "server_error");
  step.body =
      textMember(value, "body",
                 JSONValue::object({{"error", JSONValue::object({{"message", step.message},
                                                                 {"type", "invalid_request_error"},
                                                                 {"code", step.code}})}})
                     .serialized({.escapeSlashes = false}));
  return step;
}

std::vector<Step> parseScenario(const std::string& text) {
  JSONValue scenario;
  try {
    scenario = JSONValue::parse(text);
  } catch (const std::exception& error) {
    fail(std::string("the scenario is not JSON: ") + error.what());
  }
  const JSONValue* responses = scenario.subscript("responses");
  if (!responses || !responses->arrayValue() || responses->arrayValue()->empty()) {
    fail("the scenario needs a non-empty \"responses\" array");
  }
  std::vector<Step> steps;
  for (const JSONValue& value : *responses->arrayValue()) steps.push_back(parseStep(value));
  return steps;
}

Options parseOptions(int argc, char** argv) {
  Options options;
  std::optional<std::string> scenario;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) fail(std::string(argument) + " needs a value");
      return argv[++i];
    };
    if (argument == "--record") {
      options.recordFile = value();
    } else if (argument == "--exit-on-stdin-eof") {
      options.exitOnStandardInputEnd = true;
    } else if (!scenario && !argument.starts_with("--")) {
      scenario = argument.starts_with("@") ? readWholeFile(std::string(argument.substr(1)))
                                           : std::string(argument);
    } else {
      fail("unexpected argument " + std::string(argument));
    }
  }
  options.steps = parseScenario(scenario.value_or(
      R"({"responses":[{"kind":"answer","deltas":["Hello"," from"," the model."]}]})"));
  return options;
}

// One server-sent event. Every event names its type twice, as the real service does: in
// "event:" and in the data. False when the client has gone away.
bool sendEvent(httplib::DataSink& sink, const JSONValue& event) {
  std::string text = "event: " + *event.subscript("type")->stringValue() + "\ndata: ";
  event.serialize(text, {.escapeSlashes = false});
  text += "\n\n";
  return sink.write(text.data(), text.size());
}

// The events of a streamed step, the `number`-th model request. False when the client has gone
// away.
bool streamStep(httplib::DataSink& sink, const Step& step, std::size_t number) {
  const std::string responseID = "resp_" + std::to_string(number);
  const std::string itemID = "msg_" + std::to_string(number);
  if (!sendEvent(sink,
                 JSONValue::object({{"type", "response.created"},
                                    {"response", JSONValue::object({{"id", responseID}})}}))) {
    return false;
  }
  if (step.kind == Step::Kind::failed) {
    return sendEvent(
        sink,
        JSONValue::object(
            {{"type", "response.failed"},
             {"response",
              JSONValue::object({{"id", responseID},
                                 {"status", "failed"},
                                 {"error", JSONValue::object({{"code", step.code},
                                                              {"message", step.message}})}})}}));
  }
  // Codex shows text deltas only for an output item it was told about.
  if (!sendEvent(sink, JSONValue::object(
                           {{"type", "response.output_item.added"},
                            {"output_index", 0},
                            {"item", JSONValue::object({{"type", "message"},
                                                        {"id", itemID},
                                                        {"role", "assistant"},
                                                        {"status", "in_progress"},
                                                        {"content", JSONValue::Array{}}})}}))) {
    return false;
  }
  std::string text;
  for (const std::string& delta : step.deltas) {
    text += delta;
    if (!sendEvent(sink, JSONValue::object({{"type", "response.output_text.delta"},
                                            {"item_id", itemID},
                                            {"output_index", 0},
                                            {"content_index", 0},
                                            {"delta", delta}}))) {
      return false;
    }
  }
  if (step.kind == Step::Kind::truncated || step.kind == Step::Kind::stall) return true;
  const JSONValue content = JSONValue::Array{JSONValue::object(
      {{"type", "output_text"}, {"text", text}, {"annotations", JSONValue::Array{}}})};
  if (!sendEvent(sink, JSONValue::object({{"type", "response.output_item.done"},
                                          {"output_index", 0},
                                          {"item", JSONValue::object({{"type", "message"},
                                                                      {"id", itemID},
                                                                      {"role", "assistant"},
                                                                      {"status", "completed"},
                                                                      {"content", content}})}}))) {
    return false;
  }
  const auto outputTokens = static_cast<double>(step.deltas.size());
  return sendEvent(
      sink,
      JSONValue::object(
          {{"type", "response.completed"},
           {"response",
            JSONValue::object(
                {{"id", responseID},
                 {"status", "completed"},
                 {"usage",
                  JSONValue::object(
                      {{"input_tokens", 10},
                       {"input_tokens_details", JSONValue::object({{"cached_tokens", 0}})},
                       {"output_tokens", outputTokens},
                       {"output_tokens_details", JSONValue::object({{"reasoning_tokens", 0}})},
                       {"total_tokens", 10 + outputTokens}})}})}}));
}

// Answers the `number`-th model request as the step says.
void playStep(httplib::Response& response, const Step& step, std::size_t number) {
  if (step.kind == Step::Kind::httpError) {
    response.status = step.status;
    response.set_content(step.body, "application/json");
    return;
  }
  response.set_header("Cache-Control", "no-cache");
  response.set_chunked_content_provider(
      "text/event-stream", [&step, number](std::size_t, httplib::DataSink& sink) {
        if (!streamStep(sink, step, number)) return false;
        if (step.kind == Step::Kind::stall) {
          while (sink.is_writable()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
          return false;
        }
        sink.done();
        return true;
      });
}

void recordRequest(const std::string& recordFile, const httplib::Request& request) {
  static std::mutex recordMutex;
  if (recordFile.empty()) return;
  JSONValue body;
  try {
    body = JSONValue::parse(request.body);
  } catch (const std::exception&) {
    body = request.body;
  }
  std::string line = JSONValue::object({{"path", request.path}, {"body", std::move(body)}})
                         .serialized({.escapeSlashes = false});
  line += '\n';
  std::lock_guard lock(recordMutex);
  if (std::FILE* file = std::fopen(recordFile.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  // The handlers run on the server's threads until the process ends, so the options stay put.
  static const Options options = parseOptions(argc, argv);
  static std::atomic<std::size_t> requestCount{0};

  httplib::Server server;
  server.Post(R"(.*/responses)", [](const httplib::Request& request, httplib::Response& response) {
    recordRequest(options.recordFile, request);
    const std::size_t index = requestCount++;
    playStep(response, options.steps[std::min(index, options.steps.size() - 1)], index + 1);
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.status == 404 && response.body.empty()) {
      response.set_content(R"({"error":{"message":"not found","type":"invalid_request_error"}})",
                           "application/json");
    }
  });

  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) fail("cannot listen on 127.0.0.1");
  std::printf("%d\n", port);
  std::fflush(stdout);

  if (options.exitOnStandardInputEnd) {
    std::thread([] {
      char buffer[256];
      for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count == 0 || (count < 0 && errno != EINTR)) std::_Exit(0);
      }
    }).detach();
  }
  if (!server.listen_after_bind()) fail("the server stopped");
}
