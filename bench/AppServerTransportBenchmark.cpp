// Reading the app-server's output and request round trips, against the scriptable stand-in.
//
//   LineReading/parsed     100,000 notifications of about 200 bytes read with readMessage()
//   LineReading/rawBytes   the same bytes from the same child read without parsing (reference)
//   RequestRoundTrip       10,000 sequential requests; median and 99th percentile latency
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "VelloraCore/AppServer/AppServerProcess.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"

namespace vellora {
namespace {

constexpr int kNotifications = 100000;
constexpr int kRoundTrips = 10000;

// A scratch folder with the stand-in's scenario and data, removed at exit.
class Scratch {
 public:
  Scratch() {
    std::string pattern = "/tmp/vellora-bench-XXXXXX";
    path_ = ::mkdtemp(pattern.data()) ? pattern : "";
  }
  ~Scratch() {
    try {
      fileSystem_->removeTree(path_);
    } catch (...) {
    }
  }
  const std::string& path() const { return path_; }
  FileSystem& fileSystem() { return *fileSystem_; }

  std::string write(const std::string& name, const std::string& contents) {
    fileSystem_->writeFileAtomically(path_ + "/" + name, contents);
    return path_ + "/" + name;
  }

  Environment environment(const std::string& scenarioPath) const {
    return {
        {"HOME", path_}, {"PATH", "/usr/bin:/bin"}, {"VELLORA_FAKE_CODEX_SCENARIO", scenarioPath}};
  }

 private:
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
  std::string path_;
};

// 100,000 delta notifications of about 200 bytes each, as the child writes them.
std::string notificationStream() {
  std::string stream;
  for (int i = 0; i < kNotifications; ++i) {
    std::string line =
        JSONValue::object(
            {{"method", "item/agentMessage/delta"},
             {"params", JSONValue::object({{"threadId", "019a2b3c-4d5e-7f80-9a1b-2c3d4e5f6a7b"},
                                           {"turnId", "turn-" + std::to_string(i)},
                                           {"itemId", "msg_0123456789abcdef"},
                                           {"delta", std::string(40, 'w')}})}})
            .serialized();
    stream += line;
    stream += '\n';
  }
  return stream;
}

void LineReading(benchmark::State& state) {
  const bool parse = state.range(0) == 1;
  Scratch scratch;
  const std::string stream = notificationStream();
  const std::string data = scratch.write("stream.jsonl", stream);
  const std::string scenario =
      scratch.write("scenario.json", R"({"start": [{"rawFile": ")" + data + R"("}]})");
  auto launcher = makePosixProcessLauncher();
  SteadyClock clock;
  for (auto _ : state) {
    if (parse) {
      AppServerProcess process(VELLORA_FAKE_CODEX_PATH, scratch.path() + "/workspace", nullptr,
                               *launcher, clock, scratch.environment(scenario), scratch.path());
      process.start(scratch.fileSystem());
      for (int i = 0; i < kNotifications; ++i) benchmark::DoNotOptimize(process.readMessage());
    } else {
      ProcessLaunchOptions options;
      options.executablePath = VELLORA_FAKE_CODEX_PATH;
      options.arguments = {"app-server"};
      options.environment = scratch.environment(scenario);
      options.standardInput = StreamMode::pipe;
      LaunchedProcess child = launcher->launch(options);
      std::vector<char> buffer(64 * 1024);
      std::size_t total = 0;
      while (total < stream.size()) {
        std::size_t count = child.standardOutput->read(buffer.data(), buffer.size());
        if (count == 0) break;
        total += count;
      }
      child.process->terminate();
    }
  }
  state.SetItemsProcessed(state.iterations() * kNotifications);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(LineReading)
    ->ArgName("parsed")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void RequestRoundTrip(benchmark::State& state) {
  Scratch scratch;
  const std::string scenario =
      scratch.write("scenario.json", R"({"requests": {"bench/ping": [{"result": {}}]}})");
  auto launcher = makePosixProcessLauncher();
  SteadyClock clock;
  AppServerProcess process(VELLORA_FAKE_CODEX_PATH, scratch.path() + "/workspace", nullptr,
                           *launcher, clock, scratch.environment(scenario), scratch.path());
  process.start(scratch.fileSystem());
  const JSONValue params = JSONValue::Object{};
  std::vector<double> microseconds;
  microseconds.reserve(kRoundTrips);
  for (auto _ : state) {
    for (int i = 0; i < kRoundTrips; ++i) {
      auto start = std::chrono::steady_clock::now();
      benchmark::DoNotOptimize(process.request("bench/ping", params, Seconds(30)));
      microseconds.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
              .count());
    }
  }
  std::sort(microseconds.begin(), microseconds.end());
  state.counters["median_us"] = microseconds[microseconds.size() / 2];
  state.counters["p99_us"] = microseconds[microseconds.size() * 99 / 100];
  state.SetItemsProcessed(static_cast<int64_t>(microseconds.size()));
}
BENCHMARK(RequestRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vellora

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
