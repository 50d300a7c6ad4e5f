// A minimal `codex app-server` for the host relay benchmark, built as bench/bin/codex. It
// answers "initialize", "thread/start" and "turn/start", and plays one step of a plan per turn,
// stamping what it writes with the monotonic clock so that the benchmark (on the same machine)
// can tell how long each message took to reach it through the host.
//
// VELLORA_BENCH_PLAN is a comma-separated list of steps, one per "turn/start" (the last one
// repeats):
//   burst:N      N deltas written back to back, each "<index> <nanoseconds at write>"
//   lockstep:N   the same, but before each further delta it waits for one byte from the FIFO
//                named by VELLORA_BENCH_ACK_FIFO (the benchmark writes it once it has read the
//                previous delta)
//   receipt      one delta "received <nanoseconds> <peak RSS KiB>": when the whole "turn/start"
//                line had arrived, and this process's own peak memory
// then "turn/completed". `codex app-server --help` exits 0 at once.
//
// Only the first 64 KiB of each input line are kept (enough for "id" and "method", which the
// host writes first), so that a huge request does not swell this process's own memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kKeptLineBytes = 64 * 1024;
constexpr const char* kThreadID = "019a2b3c-4d5e-7f80-9a1b-2c3d4e5f6a7b";

std::int64_t nowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void writeLine(std::string line) {
  line += '\n';
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, rest.data(), rest.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      std::_Exit(0);  // the host is gone
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
}

// The text of a member `"key":"..."` in the kept head of a line, or empty. The values read here
// hold no escape but "\/" (the host escapes every slash).
std::string textMember(std::string_view head, std::string_view key) {
  const std::string pattern = std::string("\"").append(key).append("\":\"");
  const std::size_t start = head.find(pattern);
  if (start == std::string_view::npos) return {};
  const std::size_t from = start + pattern.size();
  const std::size_t end = head.find('"', from);
  if (end == std::string_view::npos) return {};
  std::string text;
  for (char c : head.substr(from, end - from)) {
    if (c != '\\') text += c;
  }
  return text;
}

struct Step {
  enum class Kind { burst, lockstep, receipt } kind;
  long count = 0;
};

std::vector<Step> readPlan() {
  std::vector<Step> plan;
  const char* text = std::getenv("VELLORA_BENCH_PLAN");
  std::string_view rest = text != nullptr ? text : "receipt";
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view word = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const std::size_t colon = word.find(':');
    const std::string_view name = word.substr(0, colon);
    const long count = colon == std::string_view::npos
                           ? 0
                           : std::atol(std::string(word.substr(colon + 1)).c_str());
    if (name == "burst") plan.push_back({Step::Kind::burst, count});
    if (name == "lockstep") plan.push_back({Step::Kind::lockstep, count});
    if (name == "receipt") plan.push_back({Step::Kind::receipt, 0});
  }
  if (plan.empty()) plan.push_back({Step::Kind::receipt, 0});
  return plan;
}

std::string delta(const std::string& turnID, const std::string& text) {
  return R"({"method":"item/agentMessage/delta","params":{"threadId":")" + std::string(kThreadID) +
         R"(","turnId":")" + turnID + R"(","itemId":"msg_0123456789abcdef","delta":")" + text +
         "\"}}";
}

void playTurn(const Step& step, const std::string& turnID, std::int64_t receivedAt) {
  static int ackFIFO = -1;
  if (step.kind == Step::Kind::receipt) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    writeLine(delta(
        turnID, "received " + std::to_string(receivedAt) + " " + std::to_string(usage.ru_maxrss)));
  } else {
    if (step.kind == Step::Kind::lockstep && ackFIFO < 0) {
      const char* path = std::getenv("VELLORA_BENCH_ACK_FIFO");
      ackFIFO = path != nullptr ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
      if (ackFIFO < 0) std::_Exit(71);
    }
    for (long i = 0; i < step.count; ++i) {
      if (step.kind == Step::Kind::lockstep && i > 0) {
        char ack;
        if (::read(ackFIFO, &ack, 1) != 1) std::_Exit(0);
      }
      writeLine(delta(turnID, std::to_string(i) + " " + std::to_string(nowNanoseconds())));
    }
  }
  writeLine(R"({"method":"turn/completed","params":{"threadId":")" + std::string(kThreadID) +
            R"(","turn":{"id":")" + turnID +
            R"(","items":[],"status":"completed","error":null}}})");
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return 0;
  }
  const std::vector<Step> plan = readPlan();
  std::size_t turns = 0;

  std::string head;
  bool lineTooLong = false;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t count = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return 0;
    std::string_view chunk(buffer.data(), static_cast<std::size_t>(count));
    while (!chunk.empty()) {
      const std::size_t end = chunk.find('\n');
      const std::string_view piece = chunk.substr(0, end);
      if (!lineTooLong) {
        head.append(piece.substr(0, kKeptLineBytes - std::min(head.size(), kKeptLineBytes)));
        lineTooLong = head.size() >= kKeptLineBytes;
      }
      if (end == std::string_view::npos) break;
      chunk.remove_prefix(end + 1);

      const std::int64_t receivedAt = nowNanoseconds();
      const std::string id = head.starts_with("{\"id\":\"") ? textMember(head, "id") : "";
      const std::string method = textMember(head, "method");
      head.clear();
      lineTooLong = false;
      if (id.empty()) continue;  // a notification ("initialized") or a response

      if (method == "initialize") {
        writeLine(R"({"id":")" + id + R"(","result":{"userAgent":"bench"}})");
      } else if (method == "thread/start") {
        writeLine(R"({"id":")" + id + R"(","result":{"thread":{"id":")" + kThreadID + "\"}}}");
      } else if (method == "turn/start") {
        const std::string turnID =
            "019a2b3c-0000-7000-8000-" + std::to_string(100000000000 + turns);
        writeLine(R"({"id":")" + id + R"(","result":{"turn":{"id":")" + turnID +
                  R"(","status":"inProgress"}}})");
        playTurn(plan[std::min(turns, plan.size() - 1)], turnID, receivedAt);
        ++turns;
      } else {
        writeLine(R"({"id":")" + id + R"(","error":{"code":-32601,"message":"not supported"}})");
      }
    }
  }
}
