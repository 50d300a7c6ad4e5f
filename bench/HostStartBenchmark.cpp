// Whole-process figures for the host, measured with plain posix_spawn and wait4:
//  - cold start: spawn the host, send "ping", read "pong", close its input, reap it; against
//    spawning and reaping /bin/true in the same run (median of interleaved runs, and the ratio);
//  - peak resident memory of the host for a header announcing 4 GB followed by 10 bytes, and
//    for a 64 MiB "chat.turn" whose context holds a 60 MiB data URL.
//
//   build/release/bench/host_start_benchmark [runs] [host-path]
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "VelloraCore/Protocol/NativeEnvelope.h"
#include "VelloraCore/Protocol/NativeMessageCodec.h"

extern char** environ;

namespace {

struct Child {
  pid_t pid = -1;
  int input = -1;   // our end of its standard input
  int output = -1;  // our end of its standard output
};

Child spawn(const std::string& path, bool withPipes) {
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (withPipes) {
    if (::pipe(in) != 0 || ::pipe(out) != 0) std::abort();
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
  }
  std::string origin = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";
  char* argv[] = {const_cast<char*>(path.c_str()), origin.data(), nullptr};
  Child child;
  if (posix_spawn(&child.pid, path.c_str(), &actions, nullptr, argv, environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&actions);
  if (withPipes) {
    ::close(in[0]);
    ::close(out[1]);
    child.input = in[1];
    child.output = out[0];
  }
  return child;
}

void writeAll(int fd, const std::string& bytes) {
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + offset, bytes.size() - offset);
    if (n <= 0) return;
    offset += static_cast<std::size_t>(n);
  }
}

std::string readAll(int fd) {
  std::string bytes;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    bytes.append(buffer, static_cast<std::size_t>(n));
  return bytes;
}

// Reaps the child; returns its peak resident memory in KiB (Linux) or bytes/1024 (macOS).
long reap(pid_t pid, int* status) {
  struct rusage usage;
  std::memset(&usage, 0, sizeof usage);
  ::wait4(pid, status, 0, &usage);
#ifdef __APPLE__
  return usage.ru_maxrss / 1024;
#else
  return usage.ru_maxrss;
#endif
}

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string header(std::uint32_t length) {
  return std::string(reinterpret_cast<const char*>(&length), 4);
}

// Sends the bytes made by `makeBytes`, closes the input, drains the output; returns the peak
// RSS in KiB. The bytes are made after the spawn: Linux carries the peak of the memory a child
// shared with its parent before exec into its own figure.
template <typename MakeBytes>
long peakMemory(const std::string& host, MakeBytes makeBytes, int* status) {
  Child child = spawn(host, true);
  std::thread writer([&] {
    writeAll(child.input, makeBytes());
    ::close(child.input);
  });
  readAll(child.output);
  writer.join();
  ::close(child.output);
  return reap(child.pid, status);
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const std::string host =
      argc > 2 ? argv[2]
               : std::string(VELLORA_BINARY_DIR) + "/vellora-native-host/vellora-native-host";
  const std::string ping =
      vellora::NativeMessageCodec::encodeFrame(vellora::NativeEnvelope{.type = "ping"});

  std::vector<double> trueTimes, hostTimes;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    reap(spawn("/bin/true", false).pid, &status);
    trueTimes.push_back(seconds(std::chrono::steady_clock::now() - start));

    start = std::chrono::steady_clock::now();
    Child child = spawn(host, true);
    writeAll(child.input, ping);
    char reply[256];
    std::size_t have = 0;
    while (have < 4) {
      ssize_t n = ::read(child.output, reply + have, sizeof reply - have);
      if (n <= 0) break;
      have += static_cast<std::size_t>(n);
    }
    ::close(child.input);
    readAll(child.output);
    ::close(child.output);
    reap(child.pid, &status);
    hostTimes.push_back(seconds(std::chrono::steady_clock::now() - start));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "host exited with status %d\n", status);
      return 1;
    }
  }
  const double trueMedian = median(trueTimes);
  const double hostMedian = median(hostTimes);
  std::printf(
      "cold start, %d runs: /bin/true median %.0f us, host ping median %.0f us, ratio %.2f\n", runs,
      trueMedian * 1e6, hostMedian * 1e6, hostMedian / trueMedian);

  int status = 0;
  long rss = peakMemory(
      host, [] { return header(0xFFFFFFFF) + "0123456789"; }, &status);
  std::printf("4 GB header + 10 bytes: exit %d, peak RSS %.1f MiB\n", WEXITSTATUS(status),
              static_cast<double>(rss) / 1024);

  std::size_t frameBytes = 0;
  rss = peakMemory(
      host,
      [&] {
        std::string url = "data:image/png;base64,";
        url.append(60u << 20, 'A');
        vellora::NativeEnvelope turn{
            .type = "chat.turn",
            .requestId = "r1",
            .sessionId = "s1",
            .prompt = "Describe the screenshot.",
            .context = vellora::JSONValue::object(
                {{"url", vellora::JSONValue("https://example.com/")},
                 {"selection", vellora::JSONValue(std::string(4u << 20, 'w'))},
                 {"screenshot", vellora::JSONValue(std::move(url))}}),
        };
        std::string frame = vellora::NativeMessageCodec::encodeFrame(turn);
        frameBytes = frame.size();
        return frame;
      },
      &status);
  std::printf("%.1f MiB chat.turn: exit %d, peak RSS %.1f MiB (%.2fx the message)\n",
              static_cast<double>(frameBytes) / (1 << 20), WEXITSTATUS(status),
              static_cast<double>(rss) / 1024,
              static_cast<double>(rss) * 1024 / static_cast<double>(frameBytes));
  return 0;
}
