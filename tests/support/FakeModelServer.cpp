#include "tests/support/FakeModelServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora::test {
namespace {

JSONValue deltasArray(const std::vector<std::string>& deltas) {
  JSONValue::Array array;
  for (const std::string& delta : deltas) array.emplace_back(delta);
  return array;
}

std::string readAll(ByteStream& stream) {
  std::string text;
  char buffer[4096];
  while (std::size_t count = stream.read(buffer, sizeof buffer)) text.append(buffer, count);
  return text;
}

}  // namespace

std::string FakeModelServer::executablePath() {
  return std::string(VELLORA_BINARY_DIR) + "/tests/fakes/fake-model-server";
}

FakeModelServer::FakeModelServer()
    : FakeModelServer(scenario({answer({"Hello", " from", " the model."})})) {}

FakeModelServer::FakeModelServer(const JSONValue& scenarioToPlay) {
  static const std::unique_ptr<ProcessLauncher> launcher = makePosixProcessLauncher();
  ProcessLaunchOptions options;
  options.executablePath = executablePath();
  options.arguments = {"--record", directory_ / "requests.jsonl", "--exit-on-stdin-eof",
                       scenarioToPlay.serialized()};
  // The server ends when this pipe closes, which the system does for a test that dies.
  options.standardInput = StreamMode::pipe;
  child_ = launcher->launch(options);

  // The port comes as one line once the server listens.
  std::string line;
  char c;
  while (child_.standardOutput->read(&c, 1) == 1 && c != '\n') line += c;
  try {
    port_ = std::stoi(line);
  } catch (const std::exception&) {
    child_.process->waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    throw std::runtime_error("fake-model-server did not start: " + readAll(*child_.standardError));
  }
}

FakeModelServer::~FakeModelServer() {
  if (child_.process && child_.process->isRunning()) {
    child_.process->terminate();
    child_.process->waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(10));
  }
}

std::string FakeModelServer::baseURL() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/v1";
}

std::vector<JSONValue> FakeModelServer::recordedRequests() const {
  const std::string path = directory_ / "requests.jsonl";
  auto fileSystem = makePosixFileSystem();
  std::vector<JSONValue> requests;
  if (!fileSystem->fileExists(path)) return requests;
  const std::string text = fileSystem->readFile(path, SIZE_MAX);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    requests.push_back(JSONValue::parse(std::string_view(text).substr(start, end - start)));
    start = end + 1;
  }
  return requests;
}

JSONValue FakeModelServer::answer(const std::vector<std::string>& deltas) {
  return JSONValue::object({{"kind", "answer"}, {"deltas", deltasArray(deltas)}});
}

JSONValue FakeModelServer::httpError(int status, const std::string& message) {
  return JSONValue::object({{"kind", "httpError"}, {"status", status}, {"message", message}});
}

JSONValue FakeModelServer::failed(const std::string& message) {
  return JSONValue::object({{"kind", "failed"}, {"message", message}});
}

JSONValue FakeModelServer::truncated(const std::vector<std::string>& deltas) {
  return JSONValue::object({{"kind", "truncated"}, {"deltas", deltasArray(deltas)}});
}

JSONValue FakeModelServer::stall(const std::vector<std::string>& deltas) {
  return JSONValue::object({{"kind", "stall"}, {"deltas", deltasArray(deltas)}});
}

JSONValue FakeModelServer::scenario(std::vector<JSONValue> steps) {
  return JSONValue::object({{"responses", JSONValue(std::move(steps))}});
}

int FakeModelServer::closedPort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  if (probe < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(probe);
    throw std::runtime_error("could not find a free port");
  }
  ::close(probe);
  return ntohs(address.sin_port);
}

}  // namespace vellora::test
