// Whole-host figures for what the host relays, with the real host binary over pipes and a
// minimal app-server (BenchCodexAppServer.cpp, built as bench/bin/codex) as its Codex:
//  - delta latency: one turn of 10,000 deltas, each stamped by the app-server as it writes it;
//    the time until this process has read the matching "chat.delta" frame. "lockstep" writes
//    the next delta only once the previous one was read (no queueing); "burst" writes them back
//    to back (also gives deltas per second);
//  - a "chat.turn" of nearly 64 MiB (Chrome's largest message), once mostly page text and once
//    mostly a screenshot: the time from the start of our write to the app-server's receipt of
//    the whole "turn/start" line, and the host's peak resident memory (wait4);
//  - "health" with `codex` on PATH: the median time per request, against running the
//    availability probe (`codex app-server --help`) directly; with --real-codex also for the
//    real Codex;
//  - the largest frames the host writes (Chrome refuses a message from a host over 1 MiB): a
//    "chat.attachment" whose data URL is at the 700,000-byte limit, and with --real-codex the
//    "codex.catalog" reply of the real Codex in a scratch HOME holding --skills N extra skills
//    whose descriptions have --description-chars characters.
//
//  - ping during a turn: while a paced ("lockstep") turn of 2,000 deltas streams, a "ping" is
//    written after every 100th delta; the time until its "pong" has been read (a host that
//    reads one request at a time answers only after the turn's "chat.done");
//
//  - the three headline figures, each beside a reference measured in the same run ("figures",
//    printed first): cold start (spawn, ping -> pong, close, reap) against spawning and reaping
//    /bin/true; the 64 MiB screenshot turn (median of --big-rounds runs) against the two-pipe
//    floor (twice the time of the same bytes written through one pipe into `cat`; also with
//    the 1 MiB pipe buffer the host asks for, where the system allows it) and against
//    the straightforward Python host (reference-host.py, run by --python, empty for none), with
//    both hosts' peak memory; the burst's deltas per second against the rate at which the
//    app-server writes them when this process reads its output directly.
//
//   build/release/bench/host_relay_benchmark [--real-codex PATH] [--health-runs N] [--host PATH]
//                                            [--only figures|delta|ping|big|health|frames]
//                                            [--start-runs N] [--big-rounds N] [--python PATH]
//                                            [--skills N] [--description-chars N]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "VelloraCore/Platform/ByteStream.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Protocol/NativeEnvelope.h"
#include "VelloraCore/Protocol/NativeMessageCodec.h"
#include "VelloraCore/TurnContent/Base64.h"
#include "VelloraCore/TurnContent/GeneratedImageAttachmentBuilder.h"

extern char** environ;

namespace {

using vellora::JSONValue;
using vellora::NativeEnvelope;
using Clock = std::chrono::steady_clock;

constexpr long kDeltas = 10000;

std::int64_t nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "host_relay_benchmark: %s\n", what.c_str());
  std::exit(1);
}

// A scratch folder (the host's HOME), removed at exit.
class Scratch {
 public:
  Scratch() {
    std::string pattern = "/tmp/vellora-relay-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) die("mkdtemp failed");
    path_ = pattern;
  }
  ~Scratch() {
    try {
      vellora::makePosixFileSystem()->removeTree(path_);
    } catch (...) {
    }
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Child {
  pid_t pid = -1;
  int input = -1;   // our end of its standard input
  int output = -1;  // our end of its standard output
};

Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            bool withPipes) {
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (withPipes) {
    if (::pipe(in) != 0 || ::pipe(out) != 0) die("pipe failed");
    for (int fd : {in[1], out[0]}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  std::vector<char*> args, env;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  env.push_back(nullptr);
  Child child;
  if (posix_spawn(&child.pid, argv[0].c_str(), &actions, nullptr, args.data(), env.data()) != 0) {
    die("cannot start " + argv[0]);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (withPipes) {
    ::close(in[0]);
    ::close(out[1]);
    child.input = in[1];
    child.output = out[0];
  }
  return child;
}

Child spawnHost(const std::string& host, const std::vector<std::string>& environment) {
  return spawn({host, "chrome-extension://abcdefghijklmnopabcdefghijklmnop/"}, environment, true);
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) die("write to the host failed");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Reaps the child; its peak resident memory in bytes, and the processor time it used.
double reap(pid_t pid, int* status, double* cpuSeconds = nullptr) {
  rusage usage{};
  ::wait4(pid, status, 0, &usage);
  if (cpuSeconds != nullptr) {
    *cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
#ifdef __APPLE__
  return static_cast<double>(usage.ru_maxrss);
#else
  return static_cast<double>(usage.ru_maxrss) * 1024;
#endif
}

// The peak resident memory of a running child. Linux adds to the figure wait4 gives the peak of
// the process that spawned the child (posix_spawn runs the child in this process's memory until
// its exec), so there it is read from the child's own status while it runs; nothing where
// /proc is missing (macOS, whose wait4 figure is the child's own).
std::optional<double> runningPeakBytes(pid_t pid) {
  std::FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (status == nullptr) return std::nullopt;
  std::optional<double> peak;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    long kib = 0;
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) peak = static_cast<double>(kib) * 1024;
  }
  std::fclose(status);
  return peak;
}

// Frames read from the host, each with the time at which the read that completed it returned.
class FrameReader {
 public:
  explicit FrameReader(int fd) : fd_(fd) {}

  struct Frame {
    NativeEnvelope envelope;
    Clock::time_point readAt;
  };

  std::optional<Frame> next() {
    for (;;) {
      if (buffer_.size() >= vellora::NativeMessageCodec::kHeaderBytes) {
        const std::size_t length = vellora::NativeMessageCodec::payloadLength(buffer_.data());
        const std::size_t total = vellora::NativeMessageCodec::kHeaderBytes + length;
        if (buffer_.size() >= total) {
          Frame frame{vellora::NativeMessageCodec::decodeFrame<NativeEnvelope>(buffer_), readAt_};
          buffer_.erase(0, total);
          return frame;
        }
      }
      char chunk[65536];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return std::nullopt;
      readAt_ = Clock::now();
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // The frames up to and including the first that is neither "chat.delta" nor
  // "chat.attachment"; `onDelta` sees each delta as it is read.
  template <typename OnDelta>
  NativeEnvelope finishTurn(OnDelta onDelta) {
    while (std::optional<Frame> frame = next()) {
      if (frame->envelope.type == "chat.delta" && frame->envelope.delta) {
        onDelta(*frame->envelope.delta, frame->readAt);
      } else if (frame->envelope.type != "chat.attachment") {
        return frame->envelope;
      }
    }
    die("the host closed its output during a turn");
  }

 private:
  int fd_;
  std::string buffer_;
  Clock::time_point readAt_;
};

NativeEnvelope chatTurn(const std::string& requestID, std::optional<JSONValue> context = {}) {
  return {.type = "chat.turn",
          .requestId = requestID,
          .sessionId = "s1",
          .prompt = "Summarise the page.",
          .context = std::move(context)};
}

void expectDone(const NativeEnvelope& reply) {
  if (reply.type != "chat.done") {
    die("the turn ended with " + reply.type + ": " + reply.message.value_or(""));
  }
}

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

std::vector<std::string> baseEnvironment(const Scratch& scratch, const std::string& path) {
  return {"HOME=" + scratch.path(), "PATH=" + path};
}

struct DeltaFigures {
  double lockstepMedianMicroseconds = 0;
  // Medians over the rounds.
  double burstDeltasPerSecond = 0;
  double referenceDeltasPerSecond = 0;
  double share = 0;
};

double standInBurstRate(const std::string& codex);

// Deltas per second from the first delta's write to the last one's read.
double deltasPerSecond(std::int64_t firstWrite, Clock::time_point lastRead, long deltas) {
  return static_cast<double>(deltas) /
         (static_cast<double>(nanoseconds(lastRead) - firstWrite) / 1e9);
}

// The lockstep run, then `rounds` bursts; with `withReference`, each burst is preceded by the
// app-server's own burst read directly (standInBurstRate), so that both see the same machine.
DeltaFigures deltaLatency(const std::string& host, const std::string& codex, int rounds = 1,
                          bool withReference = false) {
  DeltaFigures figures;
  std::vector<double> rates, references, shares;
  Scratch scratch;
  const std::string fifo = scratch.path() + "/ack";
  if (::mkfifo(fifo.c_str(), 0600) != 0) die("mkfifo failed");
  // Read-write, so that neither side's open waits for the other.
  const int ack = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  if (ack < 0) die("cannot open the FIFO");

  std::vector<std::string> environment = baseEnvironment(scratch, "/usr/bin:/bin");
  environment.push_back("VELLORA_CODEX_PATH=" + codex);
  // The plan's last step repeats for every further turn.
  environment.push_back("VELLORA_BENCH_PLAN=burst:100,lockstep:" + std::to_string(kDeltas) +
                        ",burst:" + std::to_string(kDeltas));
  environment.push_back("VELLORA_BENCH_ACK_FIFO=" + fifo);
  Child child = spawnHost(host, environment);
  FrameReader reader(child.output);

  // Starts the app-server and its thread.
  writeAll(child.input, vellora::NativeMessageCodec::encodeFrame(chatTurn("warm-up")));
  expectDone(reader.finishTurn([](const std::string&, Clock::time_point) {}));

  std::vector<const char*> modes = {"lockstep"};
  for (int round = 0; round < rounds; ++round) modes.push_back("burst");
  for (const char* mode : modes) {
    const bool lockstep = std::strcmp(mode, "lockstep") == 0;
    const double reference = !lockstep && withReference ? standInBurstRate(codex) : 0;
    std::vector<double> latencies;
    latencies.reserve(kDeltas);
    std::int64_t firstWrite = 0;
    Clock::time_point lastRead;
    writeAll(child.input, vellora::NativeMessageCodec::encodeFrame(chatTurn(mode)));
    expectDone(reader.finishTurn([&](const std::string& delta, Clock::time_point readAt) {
      const std::int64_t writtenAt = std::atoll(delta.c_str() + delta.find(' ') + 1);
      if (latencies.empty()) firstWrite = writtenAt;
      latencies.push_back(static_cast<double>(nanoseconds(readAt) - writtenAt) / 1e3);
      lastRead = readAt;
      if (lockstep) writeAll(ack, "a");
    }));
    if (latencies.size() != static_cast<std::size_t>(kDeltas)) die("deltas went missing");
    const double rate = deltasPerSecond(firstWrite, lastRead, kDeltas);
    std::printf(
        "delta latency, %-8s %ld deltas: median %.1f us, p99 %.1f us, max %.1f us; %.0f deltas/s\n",
        mode, kDeltas, percentile(latencies, 0.5), percentile(latencies, 0.99),
        percentile(latencies, 1.0), rate);
    if (lockstep) {
      figures.lockstepMedianMicroseconds = percentile(latencies, 0.5);
    } else {
      rates.push_back(rate);
      if (withReference) {
        references.push_back(reference);
        shares.push_back(rate / reference);
      }
    }
  }
  figures.burstDeltasPerSecond = percentile(rates, 0.5);
  if (withReference) {
    figures.referenceDeltasPerSecond = percentile(references, 0.5);
    figures.share = percentile(shares, 0.5);
  }
  ::close(child.input);
  ::close(child.output);
  ::close(ack);
  int status = 0;
  reap(child.pid, &status);
  return figures;
}

// Pings written while a paced turn streams: the time from each ping's write to its pong's
// read. The next ping is written only once the last one was answered.
void pingDuringTurn(const std::string& host, const std::string& codex) {
  constexpr long kPacedDeltas = 2000;
  Scratch scratch;
  const std::string fifo = scratch.path() + "/ack";
  if (::mkfifo(fifo.c_str(), 0600) != 0) die("mkfifo failed");
  const int ack = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  if (ack < 0) die("cannot open the FIFO");
  std::vector<std::string> environment = baseEnvironment(scratch, "/usr/bin:/bin");
  environment.push_back("VELLORA_CODEX_PATH=" + codex);
  environment.push_back("VELLORA_BENCH_PLAN=burst:100,lockstep:" + std::to_string(kPacedDeltas));
  environment.push_back("VELLORA_BENCH_ACK_FIFO=" + fifo);
  Child child = spawnHost(host, environment);
  FrameReader reader(child.output);
  writeAll(child.input, vellora::NativeMessageCodec::encodeFrame(chatTurn("warm-up")));
  expectDone(reader.finishTurn([](const std::string&, Clock::time_point) {}));

  const std::string ping =
      vellora::NativeMessageCodec::encodeFrame(NativeEnvelope{.type = "ping", .requestId = "p"});
  std::vector<double> latencies;
  std::optional<Clock::time_point> pingWritten;
  long deltas = 0;
  bool done = false;
  writeAll(child.input, vellora::NativeMessageCodec::encodeFrame(chatTurn("paced")));
  while (!done || pingWritten) {
    std::optional<FrameReader::Frame> frame = reader.next();
    if (!frame) die("the host closed its output");
    const std::string& type = frame->envelope.type;
    if (type == "chat.delta") {
      ++deltas;
      if (deltas % 100 == 50 && !pingWritten) {
        pingWritten = Clock::now();
        writeAll(child.input, ping);
      }
      writeAll(ack, "a");
    } else if (type == "pong") {
      // GCC 12 at -O3 reports *pingWritten as maybe uninitialised: it cannot see that a pong
      // only follows a written ping.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
      latencies.push_back(
          std::chrono::duration<double, std::micro>(frame->readAt - *pingWritten).count());
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
      pingWritten.reset();
    } else {
      expectDone(frame->envelope);
      done = true;
    }
  }
  std::printf(
      "ping during a paced turn of %ld deltas: %zu pings, pong after median %.1f us, "
      "max %.1f us\n",
      kPacedDeltas, latencies.size(), percentile(latencies, 0.5), percentile(latencies, 1.0));
  ::close(child.input);
  ::close(child.output);
  ::close(ack);
  int status = 0;
  reap(child.pid, &status);
}

// The reference for the burst: the app-server's own rate, its output read directly by this
// process with nothing in between (the same requests the host would send, as lines).
double standInBurstRate(const std::string& codex) {
  Scratch scratch;
  std::vector<std::string> environment = baseEnvironment(scratch, "/usr/bin:/bin");
  environment.push_back("VELLORA_BENCH_PLAN=burst:" + std::to_string(kDeltas));
  Child child = spawn({codex, "app-server"}, environment, true);
  writeAll(child.input,
           "{\"id\":\"1\",\"method\":\"initialize\",\"params\":{}}\n"
           "{\"id\":\"2\",\"method\":\"thread/start\",\"params\":{}}\n"
           "{\"id\":\"3\",\"method\":\"turn/start\",\"params\":{}}\n");
  const std::string marker = "\"delta\":\"";
  std::string buffer;
  std::int64_t firstWrite = 0;
  Clock::time_point lastRead;
  long deltas = 0;
  bool completed = false;
  while (!completed) {
    char chunk[65536];
    const ssize_t n = ::read(child.output, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) die("the app-server ended its output early");
    const Clock::time_point readAt = Clock::now();
    buffer.append(chunk, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = buffer.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string_view line(buffer.data() + start, end - start);
      if (line.find("turn/completed") != std::string_view::npos) completed = true;
      const std::size_t at = line.find(marker);
      if (at == std::string_view::npos) continue;
      const std::string_view delta = line.substr(at + marker.size());
      if (deltas++ == 0)
        firstWrite = std::atoll(std::string(delta.substr(delta.find(' ') + 1)).c_str());
      lastRead = readAt;
    }
    buffer.erase(0, start);
  }
  ::close(child.input);
  ::close(child.output);
  int status = 0;
  reap(child.pid, &status);
  if (deltas != kDeltas) die("deltas went missing");
  return deltasPerSecond(firstWrite, lastRead, deltas);
}

// Page text with what JSON writers must escape: quotes, backslashes, line breaks, slashes and
// non-ASCII letters.
std::string pageText(std::size_t bytes) {
  const std::string line =
      "Line of the page: \"quoted words\", a path C:\\Users\\me and /usr/local/bin, caf\xC3\xA9 "
      "na\xC3\xAFve.\n";
  std::string text;
  text.reserve(bytes + line.size());
  while (text.size() + line.size() <= bytes) text += line;
  text.append(bytes - text.size(), 'x');
  return text;
}

// Base64 characters, '/' and '+' included.
std::string screenshotDataURL(std::size_t bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string url = "data:image/png;base64,";
  url.reserve(bytes);
  std::uint32_t state = 12345;
  while (url.size() < bytes) {
    state = state * 1103515245u + 12345u;
    url += alphabet[(state >> 16) & 63];
  }
  return url;
}

// A chat.turn frame whose payload is just under 64 MiB.
std::string bigTurnFrame(bool screenshot) {
  constexpr std::size_t kTarget = (std::size_t{64} << 20) - 4096;
  auto build = [&](std::size_t textBytes, std::size_t urlBytes) {
    JSONValue::Object context{{"url", "https://example.com/a/long/article"},
                              {"title", "An example page"},
                              {"text", pageText(textBytes)}};
    if (screenshot) {
      context["viewportCapture"] =
          JSONValue::object({{"dataUrl", screenshotDataURL(urlBytes)}, {"width", 1280}});
    }
    return vellora::NativeMessageCodec::encodeFrame(chatTurn("big", JSONValue(std::move(context))));
  };
  // Escapes make the frame longer than the text; size it in two passes.
  std::size_t textBytes = screenshot ? (4u << 20) : kTarget;
  std::size_t urlBytes = screenshot ? kTarget - textBytes : 0;
  const std::size_t first = build(textBytes, urlBytes).size();
  const double scale = static_cast<double>(kTarget) / static_cast<double>(first);
  textBytes = static_cast<std::size_t>(static_cast<double>(textBytes) * scale);
  urlBytes = static_cast<std::size_t>(static_cast<double>(urlBytes) * scale);
  return build(textBytes, urlBytes);
}

struct BigTurnFigures {
  double receiptMilliseconds = 0;
  double peakBytes = 0;
  double peakRatio = 0;
  double cpuMilliseconds = 0;  // the host's, in all (a steadier figure on a loaded machine)
};

// A host to relay the big turn: ours, or the straightforward Python one (reference-host.py).
struct RelayHost {
  const char* label;
  std::vector<std::string> command;  // the program and its arguments before Chrome's origin
};

BigTurnFigures bigTurn(const RelayHost& relay, const std::string& codex, bool screenshot) {
  Scratch scratch;
  std::vector<std::string> environment = baseEnvironment(scratch, "/usr/bin:/bin");
  environment.push_back("VELLORA_CODEX_PATH=" + codex);
  environment.push_back("VELLORA_BENCH_PLAN=receipt");
  // Spawned before the message is built, which keeps this process's own memory out of the
  // child's figures where /proc is missing.
  std::vector<std::string> argv = relay.command;
  argv.push_back("chrome-extension://abcdefghijklmnopabcdefghijklmnop/");
  Child child = spawn(argv, environment, true);
  FrameReader reader(child.output);
  writeAll(child.input, vellora::NativeMessageCodec::encodeFrame(chatTurn("warm-up")));
  expectDone(reader.finishTurn([](const std::string&, Clock::time_point) {}));

  std::string frame = bigTurnFrame(screenshot);
  const std::size_t frameBytes = frame.size();
  Clock::time_point writeStarted;
  std::thread writer([&] {
    writeStarted = Clock::now();
    writeAll(child.input, frame);
  });
  std::string receipt;
  Clock::time_point doneAt;
  expectDone(
      reader.finishTurn([&](const std::string& delta, Clock::time_point) { receipt = delta; }));
  doneAt = Clock::now();
  const std::optional<double> runningPeak = runningPeakBytes(child.pid);
  writer.join();
  frame = std::string();

  long receivedAt = 0, childPeakKiB = 0;
  if (std::sscanf(receipt.c_str(), "received %ld %ld", &receivedAt, &childPeakKiB) != 2) {
    die("no receipt from the app-server");
  }
  ::close(child.input);
  while (reader.next()) {
  }
  ::close(child.output);
  int status = 0;
  double cpuSeconds = 0;
  const double exitPeak = reap(child.pid, &status, &cpuSeconds);
  const double peak = runningPeak.value_or(exitPeak);
  const double mib = 1 << 20;
  std::printf(
      "%s, %.2f MiB chat.turn (%s): write to turn/start receipt %.0f ms, to chat.done %.0f ms; "
      "host peak RSS %.1f MiB = %.2fx the message (app-server %.1f MiB); host CPU %.0f ms in "
      "all; exit %d\n",
      relay.label, static_cast<double>(frameBytes) / mib, screenshot ? "screenshot" : "page text",
      static_cast<double>(receivedAt - nanoseconds(writeStarted)) / 1e6,
      std::chrono::duration<double, std::milli>(doneAt - writeStarted).count(), peak / mib,
      peak / static_cast<double>(frameBytes), static_cast<double>(childPeakKiB) / 1024,
      cpuSeconds * 1e3, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return {static_cast<double>(receivedAt - nanoseconds(writeStarted)) / 1e6, peak,
          peak / static_cast<double>(frameBytes), cpuSeconds * 1e3};
}

// The reference for the big turn: the same frame written through a pipe into `cat`, from the
// first byte written until `cat` has read it all and ended.
double pipeIntoCatMilliseconds(bool screenshot, bool largePipe = false) {
  std::string frame = bigTurnFrame(screenshot);
  Scratch scratch;
  int in[2];
  if (::pipe(in) != 0) die("pipe failed");
  if (largePipe) vellora::enlargePipeBuffer(in[1]);
  ::fcntl(in[1], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::string cat = "/bin/cat";
  char* argv[] = {cat.data(), nullptr};
  std::vector<std::string> environment = baseEnvironment(scratch, "/usr/bin:/bin");
  std::vector<char*> env;
  for (std::string& e : environment) env.push_back(e.data());
  env.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, cat.c_str(), &actions, nullptr, argv, env.data()) != 0) die("no cat");
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  const Clock::time_point start = Clock::now();
  writeAll(in[1], frame);
  ::close(in[1]);
  int status = 0;
  reap(pid, &status);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Cold start: spawn the host, send "ping", read "pong", close its input, reap it; against
// spawning and reaping /bin/true, interleaved so that both see the same machine. Medians. Both
// get this process's whole environment, as the host gets Chrome's.
void coldStart(const std::string& host, int runs, double* hostMicroseconds,
               double* trueMicroseconds) {
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable)
    environment.push_back(*variable);
  const std::string ping = vellora::NativeMessageCodec::encodeFrame(NativeEnvelope{.type = "ping"});
  std::vector<double> hostTimes, trueTimes;
  using Microseconds = std::chrono::duration<double, std::micro>;
  for (int i = 0; i < runs; ++i) {
    Clock::time_point start = Clock::now();
    int status = 0;
    reap(spawn({"/bin/true"}, environment, false).pid, &status);
    trueTimes.push_back(Microseconds(Clock::now() - start).count());

    start = Clock::now();
    Child child = spawnHost(host, environment);
    writeAll(child.input, ping);
    FrameReader reader(child.output);
    std::optional<FrameReader::Frame> pong = reader.next();
    ::close(child.input);
    while (reader.next()) {
    }
    ::close(child.output);
    reap(child.pid, &status);
    hostTimes.push_back(Microseconds(Clock::now() - start).count());
    if (!pong || pong->envelope.type != "pong" || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      die("the host did not answer the ping and exit cleanly");
    }
  }
  *hostMicroseconds = percentile(hostTimes, 0.5);
  *trueMicroseconds = percentile(trueTimes, 0.5);
}

// The big screenshot turn, `rounds` times through each of our host, the Python reference (when
// there is one) and one pipe into `cat`, interleaved so that all three see the same machine.
// Medians. The floor is two pipes: the host's input and its line to the app-server.
struct RelayComparison {
  BigTurnFigures ours;
  std::optional<BigTurnFigures> python;
  double floorMilliseconds = 0;
  // The same with pipes of the size the host asks for (kLargePipeBytes) where it can.
  double largePipeFloorMilliseconds = 0;
};

// One host's runs of the big turn, and their medians.
struct RelayRuns {
  std::vector<double> receipts, peaks, ratios, cpus;
  void add(const BigTurnFigures& figures) {
    receipts.push_back(figures.receiptMilliseconds);
    peaks.push_back(figures.peakBytes);
    ratios.push_back(figures.peakRatio);
    cpus.push_back(figures.cpuMilliseconds);
  }
  BigTurnFigures medians() const {
    return {percentile(receipts, 0.5), percentile(peaks, 0.5), percentile(ratios, 0.5),
            percentile(cpus, 0.5)};
  }
};

RelayComparison compareRelays(const RelayHost& ours, const std::optional<RelayHost>& python,
                              const std::string& codex, int rounds) {
  RelayRuns ourRuns, pythonRuns;
  std::vector<double> cats, largeCats;
  for (int round = 0; round < rounds; ++round) {
    ourRuns.add(bigTurn(ours, codex, true));
    if (python) pythonRuns.add(bigTurn(*python, codex, true));
    cats.push_back(pipeIntoCatMilliseconds(true));
    largeCats.push_back(pipeIntoCatMilliseconds(true, true));
  }
  RelayComparison comparison;
  comparison.ours = ourRuns.medians();
  if (python) comparison.python = pythonRuns.medians();
  comparison.floorMilliseconds = 2 * percentile(cats, 0.5);
  comparison.largePipeFloorMilliseconds = 2 * percentile(largeCats, 0.5);
  return comparison;
}

void figures(const RelayHost& ours, const std::optional<RelayHost>& python,
             const std::string& codex, int startRuns, int bigRounds) {
  const std::string& host = ours.command.front();
  double hostStart = 0, trueStart = 0;
  coldStart(host, startRuns, &hostStart, &trueStart);
  const RelayComparison relay = compareRelays(ours, python, codex, bigRounds);
  constexpr int kBurstRounds = 7;
  const DeltaFigures deltas = deltaLatency(host, codex, kBurstRounds, true);
  std::printf("\n%-12s %-44s %-34s %s\n", "figure", "host", "reference", "ratio");
  std::printf("%-12s %-44s %-34s %.2fx\n", "cold start",
              (std::to_string(static_cast<int>(hostStart)) + " us median, " +
               std::to_string(startRuns) + " runs")
                  .c_str(),
              ("/bin/true " + std::to_string(static_cast<int>(trueStart)) + " us").c_str(),
              hostStart / trueStart);
  const double mib = 1 << 20;
  char text[128];
  char reference[64];
  std::snprintf(text, sizeof text, "%.0f ms to turn/start (%.0f MB/s), median of %d",
                relay.ours.receiptMilliseconds,
                64 * 1.048576 / (relay.ours.receiptMilliseconds / 1e3), bigRounds);
  std::snprintf(reference, sizeof reference, "two-pipe floor %.0f ms", relay.floorMilliseconds);
  std::printf("%-12s %-44s %-34s %.2fx\n", "64 MiB turn", text, reference,
              relay.ours.receiptMilliseconds / relay.floorMilliseconds);
  std::snprintf(reference, sizeof reference, "floor with 1 MiB pipes %.0f ms",
                relay.largePipeFloorMilliseconds);
  std::printf("%-12s %-44s %-34s %.2fx\n", "", "", reference,
              relay.ours.receiptMilliseconds / relay.largePipeFloorMilliseconds);
  if (relay.python) {
    std::snprintf(reference, sizeof reference, "Python reference %.0f ms",
                  relay.python->receiptMilliseconds);
    std::printf("%-12s %-44s %-34s %.2fx\n", "", "", reference,
                relay.ours.receiptMilliseconds / relay.python->receiptMilliseconds);
  }
  std::snprintf(text, sizeof text, "peak RSS %.1f MiB = %.2fx the message",
                relay.ours.peakBytes / mib, relay.ours.peakRatio);
  if (relay.python) {
    std::snprintf(reference, sizeof reference, "Python %.1f MiB = %.2fx",
                  relay.python->peakBytes / mib, relay.python->peakRatio);
  } else {
    std::snprintf(reference, sizeof reference, "-");
  }
  std::printf("%-12s %-44s %-34s %.2fx\n", "64 MiB turn", text, reference,
              relay.python ? relay.ours.peakBytes / relay.python->peakBytes : 0.0);
  std::snprintf(text, sizeof text, "host CPU %.0f ms", relay.ours.cpuMilliseconds);
  if (relay.python) {
    std::snprintf(reference, sizeof reference, "Python CPU %.0f ms", relay.python->cpuMilliseconds);
  }
  std::printf("%-12s %-44s %-34s %.2fx\n", "64 MiB turn", text, reference,
              relay.python ? relay.ours.cpuMilliseconds / relay.python->cpuMilliseconds : 0.0);
  std::snprintf(text, sizeof text, "%.0f deltas/s (lockstep median %.1f us)",
                deltas.burstDeltasPerSecond, deltas.lockstepMedianMicroseconds);
  std::snprintf(reference, sizeof reference, "app-server alone %.0f deltas/s",
                deltas.referenceDeltasPerSecond);
  std::printf("%-12s %-44s %-34s %.0f%% (median of %d rounds)\n", "burst", text, reference,
              100 * deltas.share, kBurstRounds);
}

void health(const std::string& host, const std::string& codex, const char* label, int runs) {
  Scratch scratch;
  // `codex` is found on PATH, as on a user's machine.
  const std::string bin = scratch.path() + "/bin";
  ::mkdir(bin.c_str(), 0755);
  if (::symlink(codex.c_str(), (bin + "/codex").c_str()) != 0) die("symlink failed");
  const std::vector<std::string> environment = baseEnvironment(scratch, bin + ":/usr/bin:/bin");

  Child child = spawnHost(host, environment);
  FrameReader reader(child.output);
  std::vector<double> times, probeTimes;
  std::optional<vellora::CompanionHealth> status;
  using Milliseconds = std::chrono::duration<double, std::milli>;
  // Interleaved with the reference, so that both see the same machine; the first round warms
  // the caches and is not counted.
  for (int i = 0; i <= runs; ++i) {
    Clock::time_point start = Clock::now();
    int exitStatus = 0;
    reap(spawn({bin + "/codex", "app-server", "--help"}, environment, false).pid, &exitStatus);
    if (i > 0) probeTimes.push_back(Milliseconds(Clock::now() - start).count());

    start = Clock::now();
    writeAll(child.input,
             vellora::NativeMessageCodec::encodeFrame(NativeEnvelope{.type = "health"}));
    std::optional<FrameReader::Frame> reply = reader.next();
    if (!reply || reply->envelope.type != "health") die("no health reply");
    status = reply->envelope.status;
    if (i > 0) times.push_back(Milliseconds(Clock::now() - start).count());
  }
  ::close(child.input);
  ::close(child.output);
  int exit = 0;
  reap(child.pid, &exit);
  const double median = percentile(times, 0.5);
  const double probe = percentile(probeTimes, 0.5);
  std::printf(
      "health, %s on PATH, %d runs: median %.1f ms (p90 %.1f ms); `codex app-server --help` "
      "alone median %.1f ms; ratio %.2f; codex %s, appServer %s\n",
      label, runs, median, percentile(times, 0.9), probe, median / probe,
      status ? vellora::text(status->codex).data() : "?",
      status ? vellora::text(status->appServer).data() : "?");
}

constexpr std::size_t kChromeLimitBytes = 1024 * 1024;

const char* withinChromeLimit(std::size_t frameBytes) {
  return frameBytes - vellora::NativeMessageCodec::kHeaderBytes <= kChromeLimitBytes ? "within"
                                                                                     : "OVER";
}

void attachmentFrames() {
  const std::unique_ptr<vellora::FileSystem> fileSystem = vellora::makePosixFileSystem();
  const vellora::GeneratedImageAttachmentBuilder builder(
      *fileSystem, "/Users/someone/.codex/generated_images", 700000);
  // The most image bytes whose PNG data URL fits: 22 + 4 * ceil(n / 3) <= 700,000.
  constexpr std::size_t kBytes = (700000 - 22) / 4 * 3;
  // Only an image is sent: each case's bytes follow the header of a 1 x 1 PNG.
  const std::string header(
      "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0\x90wS\xde", 33);
  struct Case {
    const char* label;
    std::string bytes;
  } cases[] = {{"compressed image data (random bytes)", std::string(kBytes, '\0')},
               {"bytes 0xFF (base64 all '/')", std::string(kBytes, '\xFF')}};
  std::uint32_t state = 7;
  for (char& byte : cases[0].bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  for (Case& c : cases) c.bytes.replace(0, header.size(), header);
  for (const Case& c : cases) {
    vellora::GeneratedImageCandidate candidate;
    candidate.sourceID = "ig_0123456789abcdef0123456789abcdef";
    candidate.result = "data:image/png;base64," + vellora::base64Encoded(c.bytes);
    // Unreadable, so the image comes from `result`; the attachment still names it.
    candidate.savedPath =
        "/Users/someone/.codex/generated_images/019a2b3c-4d5e-7f80-9a1b-2c3d4e5f6a7b/"
        "ig_0123456789abcdef0123456789abcdef.png";
    std::optional<JSONValue> attachment =
        builder.attachment(candidate, std::chrono::system_clock::now());
    if (!attachment) die("no attachment");
    const std::size_t dataURL = attachment->subscript("dataUrl")->stringValue()->size();
    const std::size_t frame =
        vellora::NativeMessageCodec::encodeFrame(
            NativeEnvelope{.type = "chat.attachment",
                           .requestId = "019a2b3c-4d5e-7f80-9a1b-2c3d4e5f6a7b",
                           .sessionId = "019a2b3c-4d5e-7f80-9a1b-2c3d4e5f6a7c",
                           .attachment = std::move(attachment)})
            .size();
    std::printf("chat.attachment, %s: data URL %zu bytes, frame %zu bytes (%s Chrome's limit)\n",
                c.label, dataURL, frame, withinChromeLimit(frame));
  }
}

void catalogFrame(const std::string& host, const std::string& codex, int skills,
                  int descriptionCharacters) {
  Scratch scratch;
  auto fileSystem = vellora::makePosixFileSystem();
  // Offline: the model provider is a closed port, and plugins (which would look up their
  // marketplace on the network) are off.
  fileSystem->createDirectories(scratch.path() + "/.codex");
  fileSystem->writeFileAtomically(scratch.path() + "/.codex/config.toml",
                                  "model = \"gpt-5.5\"\n"
                                  "model_provider = \"bench\"\n"
                                  "[model_providers.bench]\n"
                                  "name = \"bench\"\n"
                                  "base_url = \"http://127.0.0.1:9/v1\"\n"
                                  "wire_api = \"responses\"\n"
                                  "env_key = \"VELLORA_BENCH_MODEL_KEY\"\n"
                                  "[features]\n"
                                  "plugins = false\n");
  std::string description;
  while (static_cast<int>(description.size()) < descriptionCharacters) {
    description += "Turns a page/selection into notes. ";
  }
  description.resize(static_cast<std::size_t>(descriptionCharacters));
  for (int i = 0; i < skills; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "bench-skill-%05d", i);
    const std::string folder = scratch.path() + "/.codex/skills/" + name;
    fileSystem->createDirectories(folder);
    fileSystem->writeFileAtomically(folder + "/SKILL.md", "---\nname: " + std::string(name) +
                                                              "\ndescription: " + description +
                                                              "\n---\n\nFollow the steps.\n");
  }
  std::vector<std::string> environment = baseEnvironment(scratch, "/usr/bin:/bin");
  environment.push_back("VELLORA_CODEX_PATH=" + codex);
  environment.push_back("VELLORA_BENCH_MODEL_KEY=unused");
  Child child = spawnHost(host, environment);
  writeAll(child.input,
           vellora::NativeMessageCodec::encodeFrame(NativeEnvelope{.type = "codex.catalog"}));
  char header[4];
  std::size_t have = 0;
  while (have < sizeof header) {
    const ssize_t n = ::read(child.output, header + have, sizeof header - have);
    if (n <= 0) die("no catalog reply");
    have += static_cast<std::size_t>(n);
  }
  const std::size_t frame = 4 + vellora::NativeMessageCodec::payloadLength(header);
  FrameReader rest(child.output);
  ::close(child.input);
  while (rest.next()) {
  }
  ::close(child.output);
  int status = 0;
  reap(child.pid, &status);
  std::printf(
      "codex.catalog of the real Codex with %d extra skills of %d-character descriptions: "
      "frame %zu bytes (%s Chrome's limit)\n",
      skills, descriptionCharacters, frame, withinChromeLimit(frame));
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  std::optional<std::string> realCodex;
  int healthRuns = 30;
  std::string host = std::string(VELLORA_BINARY_DIR) + "/vellora-native-host/vellora-native-host";
  std::string only;
  int skills = 0;
  int descriptionCharacters = 1024;
  int startRuns = 200;
  int bigRounds = 5;
  std::string python = VELLORA_PYTHON_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--real-codex") == 0) realCodex = argv[i + 1];
    if (std::strcmp(argv[i], "--health-runs") == 0) healthRuns = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--host") == 0) host = argv[i + 1];
    if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    if (std::strcmp(argv[i], "--skills") == 0) skills = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--start-runs") == 0) startRuns = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--big-rounds") == 0) bigRounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--python") == 0) python = argv[i + 1];
    if (std::strcmp(argv[i], "--description-chars") == 0) {
      descriptionCharacters = std::atoi(argv[i + 1]);
    }
  }
  const std::string codex = VELLORA_BENCH_CODEX_PATH;
  const RelayHost ours{"host", {host}};
  std::optional<RelayHost> reference;
  if (!python.empty()) {
    reference = RelayHost{"Python reference", {python, VELLORA_REFERENCE_HOST_PATH}};
  }

  if (only.empty() || only == "figures") {
    figures(ours, reference, codex, startRuns, bigRounds);
    if (only.empty()) std::printf("\n");
  }
  if (only.empty() || only == "delta") deltaLatency(host, codex);
  if (only.empty() || only == "ping") pingDuringTurn(host, codex);
  if (only.empty() || only == "big") {
    for (bool screenshot : {false, true}) {
      bigTurn(ours, codex, screenshot);
      if (reference) bigTurn(*reference, codex, screenshot);
    }
  }
  if (only.empty() || only == "health") {
    health(host, codex, "the minimal app-server", healthRuns);
    if (realCodex) health(host, *realCodex, "the real Codex", healthRuns);
  }
  if (only.empty() || only == "frames") {
    attachmentFrames();
    if (realCodex) {
      catalogFrame(host, *realCodex, 0, descriptionCharacters);
      if (skills > 0) catalogFrame(host, *realCodex, skills, descriptionCharacters);
    }
  }
  return 0;
}
