// CodexLocator::locate when `codex` is on PATH: the override is unset, PATH holds three
// folders and codex is in the last, so the shell step is never reached.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>

#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/FileSystem.h"

namespace vellora {
namespace {

void LocateOnPath(benchmark::State& state) {
  auto fileSystem = makePosixFileSystem();
  std::string pattern = "/tmp/vellora-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string home = pattern;
  for (const char* folder : {"/a", "/b", "/c"}) fileSystem->createDirectories(home + folder);
  fileSystem->writeFileAtomically(home + "/c/codex", "#!/bin/sh\n");
  ::chmod((home + "/c/codex").c_str(), 0755);
  CodexLocator locator(*fileSystem,
                       {{"HOME", home}, {"PATH", home + "/a:" + home + "/b:" + home + "/c"}}, home,
                       [](const Environment&) -> std::optional<std::string> {
                         std::abort();  // the shell step must not be reached
                       });
  for (auto _ : state) benchmark::DoNotOptimize(locator.locate());
  fileSystem->removeTree(home);
}
BENCHMARK(LocateOnPath)->Unit(benchmark::kMicrosecond)->Repetitions(10)->ReportAggregatesOnly();

}  // namespace
}  // namespace vellora

BENCHMARK_MAIN();
