// A model server for contract tests with the real Codex. It speaks just enough of the streaming
// Responses API (POST .../responses answered with server-sent events) for `codex app-server` to
// run text turns offline, on 127.0.0.1 only, and serves until it is killed.
//
//   fake-model-server [--port-file PATH] [--record PATH] [--exit-on-stdin-eof] [SCENARIO]
//
// Once listening it prints its port and a line break on standard output (and writes the same to
// --port-file, atomically). --record appends one JSON line per request: {"path", "body"}, the
// body parsed when it is JSON. --exit-on-stdin-eof ends the server when its standard input
// closes, so a test that dies leaves no server behind.
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

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "VelloraCore/Protocol/JSONValue.h"

namespace {

using vellora::JSONValue;

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 128 * 1024 * 1024;
constexpr int kMaxConnections = 32;
// A client that opens a connection and sends nothing is dropped after this long.
constexpr int kReceiveTimeoutSeconds = 30;

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
  std::string portFile;
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
    if (argument == "--port-file") {
      options.portFile = value();
    } else if (argument == "--record") {
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

// Everything the connection threads share.
struct Server {
  Options options;
  std::atomic<std::size_t> requestCount{0};
  std::atomic<int> openConnections{0};
  std::mutex recordMutex;

  // The step for the next model request, and that request's number (1, 2, ...).
  std::pair<const Step&, std::size_t> takeNextStep() {
    const std::size_t index = requestCount++;
    return {options.steps[std::min(index, options.steps.size() - 1)], index + 1};
  }
};

bool sendAll(int socket, std::string_view data) {
  while (!data.empty()) {
    // SIGPIPE is ignored, so a client that went away is an EPIPE here.
    const ssize_t count = ::send(socket, data.data(), data.size(), 0);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

struct Request {
  std::string method;
  std::string path;
  std::string body;
};

std::string lowercased(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string_view trimmedSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Reads one request with a Content-Length body. Nothing when the client sent garbage, too much,
// or nothing in time; `status` then says what to answer (0: just close).
std::optional<Request> readRequest(int socket, int& status) {
  std::string data;
  std::size_t headerEnd;
  char buffer[65536];
  status = 0;
  while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
    if (data.size() > kMaxHeaderBytes) {
      status = 431;
      return std::nullopt;
    }
    const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return std::nullopt;
    data.append(buffer, static_cast<std::size_t>(count));
  }
  Request request;
  const std::string head = data.substr(0, headerEnd);
  std::size_t lineEnd = head.find("\r\n");
  const std::string requestLine = head.substr(0, lineEnd);
  const std::size_t firstSpace = requestLine.find(' ');
  const std::size_t secondSpace = requestLine.find(' ', firstSpace + 1);
  if (firstSpace == std::string::npos || secondSpace == std::string::npos) {
    status = 400;
    return std::nullopt;
  }
  request.method = requestLine.substr(0, firstSpace);
  request.path = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);

  std::size_t contentLength = 0;
  while (lineEnd != std::string::npos) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string_view line = std::string_view(head).substr(
        start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = lowercased(std::string(line.substr(0, colon)));
    const std::string value(trimmedSpaces(line.substr(colon + 1)));
    if (name == "content-length") {
      contentLength = std::strtoull(value.c_str(), nullptr, 10);
    } else if (name == "transfer-encoding") {
      status = 411;  // every client we serve sends a length
      return std::nullopt;
    }
  }
  if (contentLength > kMaxBodyBytes) {
    status = 413;
    return std::nullopt;
  }
  request.body = data.substr(headerEnd + 4);
  while (request.body.size() < contentLength) {
    const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return std::nullopt;
    request.body.append(buffer, static_cast<std::size_t>(count));
  }
  request.body.resize(contentLength);
  return request;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

void sendPlainResponse(int socket, int status, std::string_view contentType,
                       std::string_view body) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) +
                         "\r\nContent-Type: " + std::string(contentType) +
                         "\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\nConnection: close\r\n\r\n";
  response += body;
  sendAll(socket, response);
}

bool sendEvent(int socket, const JSONValue& event) {
  // Every event names its type twice, as the real service does: in "event:" and in the data.
  std::string text = "event: " + *event.subscript("type")->stringValue() + "\ndata: ";
  event.serialize(text, {.escapeSlashes = false});
  text += "\n\n";
  return sendAll(socket, text);
}

void recordRequest(Server& server, const Request& request) {
  if (server.options.recordFile.empty()) return;
  JSONValue body;
  try {
    body = JSONValue::parse(request.body);
  } catch (const std::exception&) {
    body = request.body;
  }
  std::string line = JSONValue::object({{"path", request.path}, {"body", std::move(body)}})
                         .serialized({.escapeSlashes = false});
  line += '\n';
  std::lock_guard lock(server.recordMutex);
  const int file =
      ::open(server.options.recordFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (file < 0) return;
  (void)!::write(file, line.data(), line.size());
  ::close(file);
}

// Waits until the client closes its end (or the connection breaks).
void waitForClientToLeave(int socket) {
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (count <= 0) return;
  }
}

void playStep(int socket, const Step& step, std::size_t number) {
  if (step.kind == Step::Kind::httpError) {
    sendPlainResponse(socket, step.status, "application/json", step.body);
    return;
  }
  const std::string responseID = "resp_" + std::to_string(number);
  const std::string itemID = "msg_" + std::to_string(number);
  if (!sendAll(socket,
               "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
               "Connection: close\r\n\r\n")) {
    return;
  }
  if (!sendEvent(socket,
                 JSONValue::object({{"type", "response.created"},
                                    {"response", JSONValue::object({{"id", responseID}})}}))) {
    return;
  }
  if (step.kind == Step::Kind::failed) {
    sendEvent(
        socket,
        JSONValue::object(
            {{"type", "response.failed"},
             {"response",
              JSONValue::object({{"id", responseID},
                                 {"status", "failed"},
                                 {"error", JSONValue::object({{"code", step.code},
                                                              {"message", step.message}})}})}}));
    return;
  }
  // Codex shows text deltas only for an output item it was told about.
  sendEvent(socket,
            JSONValue::object({{"type", "response.output_item.added"},
                               {"output_index", 0},
                               {"item", JSONValue::object({{"type", "message"},
                                                           {"id", itemID},
                                                           {"role", "assistant"},
                                                           {"status", "in_progress"},
                                                           {"content", JSONValue::Array{}}})}}));
  std::string text;
  for (const std::string& delta : step.deltas) {
    text += delta;
    if (!sendEvent(socket, JSONValue::object({{"type", "response.output_text.delta"},
                                              {"item_id", itemID},
                                              {"output_index", 0},
                                              {"content_index", 0},
                                              {"delta", delta}}))) {
      return;
    }
  }
  if (step.kind == Step::Kind::truncated) return;
  if (step.kind == Step::Kind::stall) {
    waitForClientToLeave(socket);
    return;
  }
  const JSONValue content = JSONValue::Array{JSONValue::object(
      {{"type", "output_text"}, {"text", text}, {"annotations", JSONValue::Array{}}})};
  sendEvent(socket, JSONValue::object({{"type", "response.output_item.done"},
                                       {"output_index", 0},
                                       {"item", JSONValue::object({{"type", "message"},
                                                                   {"id", itemID},
                                                                   {"role", "assistant"},
                                                                   {"status", "completed"},
                                                                   {"content", content}})}}));
  const auto outputTokens = static_cast<double>(step.deltas.size());
  sendEvent(
      socket,
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

void serveConnection(Server& server, int socket) {
  timeval timeout{kReceiveTimeoutSeconds, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  int status = 0;
  if (std::optional<Request> request = readRequest(socket, status)) {
    const bool isModelRequest = request->method == "POST" && request->path.ends_with("/responses");
    if (isModelRequest) {
      recordRequest(server, *request);
      const auto [step, number] = server.takeNextStep();
      playStep(socket, step, number);
    } else {
      sendPlainResponse(socket, 404, "application/json",
                        R"({"error":{"message":"not found","type":"invalid_request_error"}})");
    }
  } else if (status != 0) {
    sendPlainResponse(socket, status, "text/plain", reasonPhrase(status));
  }
  // Close gracefully: end our side, let the client read everything, then release the socket.
  ::shutdown(socket, SHUT_WR);
  timeval drainTimeout{1, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &drainTimeout, sizeof drainTimeout);
  char buffer[4096];
  while (::recv(socket, buffer, sizeof buffer, 0) > 0) {
  }
  ::close(socket);
  --server.openConnections;
}

void writePortFile(const std::string& path, int port) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) fail("cannot write " + temporary);
  std::fprintf(file, "%d\n", port);
  std::fclose(file);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  static Server server;
  server.options = parseOptions(argc, argv);

  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) fail("socket failed");
  ::fcntl(listener, F_SETFD, FD_CLOEXEC);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    fail(std::string("bind failed: ") + std::strerror(errno));
  }
  if (::listen(listener, 16) != 0) fail("listen failed");
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const int port = ntohs(address.sin_port);
  if (!server.options.portFile.empty()) writePortFile(server.options.portFile, port);
  std::printf("%d\n", port);
  std::fflush(stdout);

  pollfd watched[2] = {{listener, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  const nfds_t watchedCount = server.options.exitOnStandardInputEnd ? 2 : 1;
  for (;;) {
    if (::poll(watched, watchedCount, -1) < 0) {
      if (errno == EINTR) continue;
      fail("poll failed");
    }
    if (watchedCount == 2 && watched[1].revents != 0) {
      char buffer[256];
      const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN)) std::_Exit(0);
    }
    if (watched[0].revents & POLLIN) {
      const int connection = ::accept(listener, nullptr, nullptr);
      if (connection < 0) continue;
      ::fcntl(connection, F_SETFD, FD_CLOEXEC);
      if (server.openConnections.load() >= kMaxConnections) {
        ::close(connection);
        continue;
      }
      ++server.openConnections;
      std::thread(serveConnection, std::ref(server), connection).detach();
    }
  }
}
