// A scriptable stand-in for `codex app-server`, built as an executable named `codex` so that it
// is found through VELLORA_CODEX_PATH or PATH like the real one. It speaks newline-delimited
// JSON-RPC on standard input and output and does what a scenario file says.
//
// The scenario is the JSON file named by VELLORA_FAKE_CODEX_SCENARIO (without it every request
// gets a "method not found" error). Every member is optional:
//
//   {
//     "record": "/tmp/x/received.jsonl",    every line read is appended here as it arrives,
//                                           verbatim, one per line, before it is acted on
//     "launchRecord": "/tmp/x/launch.json", written first: {"arguments": [...],
//                                           "workingDirectory": "...", "environment": {...},
//                                           "processID": 123}
//     "help": [actions],                    run for `codex app-server --help`, then exit 0
//                                           (default: a usage line on stdout, exit 0)
//     "start": [actions],                   run once before any input is read
//     "requests": {                         a request's actions by method; "method#N" (N from
//       "initialize": [...],                1) takes precedence for the Nth call of a method
//       "turn/start#2": [...]
//     },
//     "unknownRequest": [actions],          for other requests (default: error -32601)
//     "notifications": {"initialized": [actions]},   when the client sends that notification
//     "responses": [actions],               when the client answers a request of ours
//     "endOfInput": [actions]               when standard input ends; then exit 0
//   }
//
// Actions run in order:
//
//   {"result": V}                       response {"id": <request id>, "result": V}
//   {"error": V}                        response {"id": <request id>, "error": V}
//   {"notify": "m", "params": V}        notification {"method": "m", "params": V} (params {})
//   {"request": "m", "id": I, "params": V}   a request from the server to the client
//   {"send": V}                         V as one line, whatever it is
//   {"raw": "text"}                     text as it is, no line break added
//   {"rawFile": "/path"}                the file's bytes as they are
//   {"stderr": "text"}                  text to standard error
//   {"appendFile": "/path", "text": "t"}   t appended to the file (created when missing)
//   {"sleep": seconds}
//   {"await": "m"}                      reads and handles the input (with its actions) until one
//                                       more message with method m has arrived; at the end of
//                                       input, "endOfInput" and exit
//   {"awaitFile": "/path"}              waits until the file exists
//   {"closeStdout": true}               closes standard output and goes on
//   {"exit": status}                    exits at once
//   {"repeat": N, "actions": [...]}     the actions N times
//
// In every value of an action, the text "$id" stands for the id of the message being answered
// (as the client sent it, of any JSON type), "$method" for its method, "$params" for its params
// and "$params.a.b" for the member b of member a of its params (null when missing).
//
// A full chat turn:
//
//   "requests": {
//     "initialize": [{"result": {}}],
//     "thread/start": [{"result": {"thread": {"id": "thread-1"}}}],
//     "turn/start": [
//       {"result": {"turn": {"id": "turn-1"}}},
//       {"notify": "item/agentMessage/delta", "params": {"threadId": "$params.threadId", "delta":
//       "Hel"}},
//       {"notify": "item/agentMessage/delta", "params": {"threadId": "$params.threadId", "delta":
//       "lo"}},
//       {"notify": "item/completed", "params": {"threadId": "$params.threadId", "item": {...}}},
//       {"notify": "turn/completed", "params": {"threadId": "$params.threadId"}}]
//   }
//
// and a failing one ends with {"notify": "error", "params": {"error": {"message": "..."}}}.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace {

using vellora::JSONValue;

[[noreturn]] void fail(const std::string& message) {
  std::string line = "fake codex: " + message + "\n";
  (void)!::write(STDERR_FILENO, line.data(), line.size());
  ::_exit(70);
}

void writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      // The reader is gone; nothing more can be said.
      ::_exit(0);
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string readFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail("cannot open " + path + ": " + std::strerror(errno));
  std::string contents;
  char buffer[65536];
  ssize_t count;
  while ((count = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (count < 0) {
      if (errno == EINTR) continue;
      fail("cannot read " + path);
    }
    contents.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  return contents;
}

// The message being answered, for the "$..." stand-ins.
struct Context {
  JSONValue id;
  JSONValue method;
  JSONValue params;
};

JSONValue substituted(const JSONValue& value, const Context& context) {
  if (const std::string* text = value.stringValue()) {
    if (*text == "$id") return context.id;
    if (*text == "$method") return context.method;
    if (*text == "$params") return context.params;
    if (text->rfind("$params.", 0) == 0) {
      const JSONValue* current = &context.params;
      std::string_view path = std::string_view(*text).substr(8);
      while (current != nullptr) {
        std::size_t dot = path.find('.');
        current = current->subscript(path.substr(0, dot));
        if (dot == std::string_view::npos) break;
        path.remove_prefix(dot + 1);
      }
      return current != nullptr ? *current : JSONValue();
    }
    return value;
  }
  if (const JSONValue::Object* object = value.objectValue()) {
    JSONValue::Object result;
    for (const auto& [key, member] : *object) result.emplace(key, substituted(member, context));
    return result;
  }
  if (const JSONValue::Array* array = value.arrayValue()) {
    JSONValue::Array result;
    for (const JSONValue& element : *array) result.push_back(substituted(element, context));
    return result;
  }
  return value;
}

class FakeServer {
 public:
  explicit FakeServer(JSONValue scenario) : scenario_(std::move(scenario)) {
    if (const std::string* record = textMember(scenario_, "record")) {
      recordFD_ = ::open(record->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (recordFD_ < 0) fail("cannot open " + *record);
    }
  }

  void writeLaunchRecord(int argc, char** argv) {
    const std::string* path = textMember(scenario_, "launchRecord");
    if (path == nullptr) return;
    JSONValue::Array arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    JSONValue::Object environment;
    for (const auto& [name, value] : vellora::currentProcessEnvironment()) {
      environment.emplace(name, value);
    }
    char directory[4096];
    std::string workingDirectory = ::getcwd(directory, sizeof directory) ? directory : "";
    std::string text = JSONValue::object({{"arguments", arguments},
                                          {"workingDirectory", workingDirectory},
                                          {"environment", environment},
                                          {"processID", static_cast<double>(::getpid())}})
                           .serialized(vellora::JSONWriteOptions{.escapeSlashes = false});
    int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot write " + *path);
    writeAll(fd, text);
    ::close(fd);
  }

  void runHelp() {
    if (const JSONValue* help = scenario_.subscript("help")) {
      run(*help, {});
    } else {
      writeAll(STDOUT_FILENO, "Usage: codex app-server [OPTIONS]\n");
    }
    ::_exit(0);
  }

  [[noreturn]] void serve() {
    if (const JSONValue* start = scenario_.subscript("start")) run(*start, {});
    for (;;) handleNextLine();
  }

 private:
  static const std::string* textMember(const JSONValue& value, std::string_view key) {
    const JSONValue* member = value.subscript(key);
    return member != nullptr ? member->stringValue() : nullptr;
  }

  // Reads and handles the next line; at the end of input runs "endOfInput" and exits.
  void handleNextLine() {
    char buffer[65536];
    for (;;) {
      std::size_t newline = pending_.find('\n', scanned_);
      if (newline != std::string::npos) {
        std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        scanned_ = 0;
        handleLine(line);
        return;
      }
      scanned_ = pending_.size();
      ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
      pending_.append(buffer, static_cast<std::size_t>(count));
    }
    if (const JSONValue* end = scenario_.subscript("endOfInput")) run(*end, {});
    ::_exit(0);
  }

  void handleLine(const std::string& line) {
    if (recordFD_ >= 0) writeAll(recordFD_, line + "\n");
    JSONValue message;
    try {
      message = JSONValue::parse(line);
    } catch (const vellora::JSONError&) {
      return;  // recorded, otherwise ignored
    }
    const JSONValue* id = message.subscript("id");
    const std::string* method = textMember(message, "method");
    if (method != nullptr) ++received_[*method];
    const JSONValue* params = message.subscript("params");
    Context context{id != nullptr ? *id : JSONValue(),
                    method != nullptr ? JSONValue(*method) : JSONValue(),
                    params != nullptr ? *params : JSONValue()};
    if (method != nullptr && id != nullptr) {
      int call = ++callCounts_[*method];
      const JSONValue* requests = scenario_.subscript("requests");
      const JSONValue* actions = nullptr;
      if (requests != nullptr) {
        actions = requests->subscript(*method + "#" + std::to_string(call));
        if (actions == nullptr) actions = requests->subscript(*method);
      }
      if (actions == nullptr) actions = scenario_.subscript("unknownRequest");
      if (actions != nullptr) {
        run(*actions, context);
      } else {
        sendLine(JSONValue::object(
            {{"id", *id},
             {"error", JSONValue::object(
                           {{"code", -32601}, {"message", "Method not found: " + *method}})}}));
      }
    } else if (method != nullptr) {
      const JSONValue* notifications = scenario_.subscript("notifications");
      const JSONValue* actions = notifications ? notifications->subscript(*method) : nullptr;
      if (actions != nullptr) run(*actions, context);
    } else if (const JSONValue* actions = scenario_.subscript("responses")) {
      run(*actions, context);
    }
  }

  void sendLine(const JSONValue& value) {
    std::string line = value.serialized(vellora::JSONWriteOptions{.escapeSlashes = false});
    line += '\n';
    writeAll(STDOUT_FILENO, line);
  }

  void run(const JSONValue& actions, const Context& context) {
    const JSONValue::Array* list = actions.arrayValue();
    if (list == nullptr) fail("actions must be an array");
    for (const JSONValue& action : *list) perform(action, context);
  }

  void perform(const JSONValue& rawAction, const Context& context) {
    const JSONValue action = substituted(rawAction, context);
    auto member = [&](std::string_view key) { return action.subscript(key); };
    if (const JSONValue* result = member("result")) {
      sendLine(JSONValue::object({{"id", context.id}, {"result", *result}}));
    } else if (const JSONValue* error = member("error")) {
      sendLine(JSONValue::object({{"id", context.id}, {"error", *error}}));
    } else if (const JSONValue* method = member("notify")) {
      const JSONValue* params = member("params");
      sendLine(JSONValue::object(
          {{"method", *method}, {"params", params ? *params : JSONValue(JSONValue::Object{})}}));
    } else if (const JSONValue* request = member("request")) {
      const JSONValue* id = member("id");
      const JSONValue* params = member("params");
      sendLine(JSONValue::object({{"id", id ? *id : JSONValue("server-request")},
                                  {"method", *request},
                                  {"params", params ? *params : JSONValue(JSONValue::Object{})}}));
    } else if (const JSONValue* value = member("send")) {
      sendLine(*value);
    } else if (const std::string* raw = textMember(action, "raw")) {
      writeAll(STDOUT_FILENO, *raw);
    } else if (const std::string* file = textMember(action, "rawFile")) {
      writeAll(STDOUT_FILENO, readFile(*file));
    } else if (const std::string* text = textMember(action, "stderr")) {
      writeAll(STDERR_FILENO, *text);
    } else if (const std::string* path = textMember(action, "appendFile")) {
      int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (fd < 0) fail("cannot write " + *path);
      const std::string* appended = textMember(action, "text");
      writeAll(fd, appended != nullptr ? *appended : "");
      ::close(fd);
    } else if (const JSONValue* seconds = member("sleep")) {
      std::this_thread::sleep_for(
          std::chrono::duration<double>(seconds->numberValue().value_or(0)));
    } else if (const std::string* awaited = textMember(action, "await")) {
      // Reads and handles input (running its actions) until one more message with that
      // method has arrived.
      const int seen = received_[*awaited];
      while (received_[*awaited] == seen) handleNextLine();
    } else if (const std::string* awaitedFile = textMember(action, "awaitFile")) {
      while (::access(awaitedFile->c_str(), F_OK) != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    } else if (member("closeStdout") != nullptr) {
      ::close(STDOUT_FILENO);
    } else if (const JSONValue* status = member("exit")) {
      ::_exit(static_cast<int>(status->numberValue().value_or(0)));
    } else if (const JSONValue* count = member("repeat")) {
      const JSONValue* repeated = member("actions");
      if (repeated == nullptr) fail("repeat without actions");
      for (double i = 0; i < count->numberValue().value_or(0); ++i) run(*repeated, context);
    } else {
      fail("unknown action " + action.serialized());
    }
  }

  JSONValue scenario_;
  int recordFD_ = -1;
  std::map<std::string, int> callCounts_;
  // Messages received so far, by method.
  std::map<std::string, int> received_;
  // Input read but not yet handled.
  std::string pending_;
  // Bytes of `pending_` known to hold no line break: a line of many megabytes is scanned once.
  std::size_t scanned_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  JSONValue scenario = JSONValue::Object{};
  if (const char* path = std::getenv("VELLORA_FAKE_CODEX_SCENARIO"); path && *path) {
    try {
      scenario = JSONValue::parse(readFile(path));
    } catch (const vellora::JSONError& error) {
      fail(std::string("bad scenario: ") + error.what());
    }
  }
  FakeServer server(std::move(scenario));
  server.writeLaunchRecord(argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) server.runHelp();
  }
  server.serve();
}
