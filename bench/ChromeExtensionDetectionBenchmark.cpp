// Detection over 5 profiles whose "Secure Preferences" and "Preferences" each hold 300
// extension entries and about 2 MB of other settings, the size of a long-used profile. The
// companion repeats a detection up to 49 times per refresh, so one detection should stay far
// below the 0.25 s between samples.
//
// Two references run on the same files in the same process: reading the ten files (the floor),
// and reading and parsing them whole into JSONValue (the straightforward way).
//
//   build/release/bench/chrome_detection_benchmark --benchmark_repetitions=15
//       --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/ChromeExtensionDetector.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {
namespace {

constexpr int kProfiles = 5;
constexpr int kEntriesPerFile = 300;
constexpr std::size_t kOtherSettingsBytes = 2'000'000;

// A well-formed extension ID from a number: its hexadecimal digits written with "a" to "p".
std::string extensionID(unsigned number) {
  std::string id(32, 'a');
  for (int i = 31; i >= 0 && number != 0; --i, number /= 16)
    id[i] = static_cast<char>('a' + number % 16);
  return id;
}

JSONValue extensionEntry(unsigned number, const std::string& path, bool storedManifest) {
  JSONValue::Object entry{
      {"account_extension_type", 0},
      {"active_permissions",
       JSONValue::object({{"api", JSONValue(JSONValue::Array{"storage", "tabs", "scripting"})},
                          {"explicit_host", JSONValue(JSONValue::Array{"https://*/*"})}})},
      {"commands", JSONValue(JSONValue::Object{})},
      {"creation_flags", 9},
      {"first_install_time", "13441346936622698"},
      {"from_webstore", storedManifest},
      {"last_update_time", "13441346936622698"},
      {"location", storedManifest ? 1 : 4},
      {"path", path},
      {"state", 1},
  };
  if (storedManifest) {
    entry["manifest"] = JSONValue::object({
        {"description", "An extension installed from the store, number " + std::to_string(number)},
        {"manifest_version", 3},
        {"name", "Extension " + std::to_string(number)},
        {"permissions", JSONValue(JSONValue::Array{"storage", "tabs", "contextMenus"})},
        {"version", "1.0." + std::to_string(number)},
    });
  }
  return JSONValue(std::move(entry));
}

// Site settings in the shape Chrome keeps many of, until the object reaches `bytes`.
JSONValue otherSettings(std::size_t bytes) {
  JSONValue::Object sites;
  std::size_t size = 0;
  for (unsigned i = 0; size < bytes; ++i) {
    JSONValue site = JSONValue::object({
        {"last_modified", "13441346936" + std::to_string(100000 + i)},
        {"setting", JSONValue::object({{"lastEngagementTime", 13441346936.0 + i},
                                       {"lastShortcutLaunchTime", 0},
                                       {"pointsAddedToday", 3.5},
                                       {"rawScore", 12.25 + i % 7}})},
    });
    const std::string key = "https://site" + std::to_string(i) + ".example.com:443,*";
    size += key.size() + site.serialized().size() + 4;
    sites.emplace(key, std::move(site));
  }
  return JSONValue::object(
      {{"profile",
        JSONValue::object(
            {{"content_settings",
              JSONValue::object(
                  {{"exceptions",
                    JSONValue::object({{"site_engagement", JSONValue(std::move(sites))}})}})}})}});
}

class ProfileSet {
 public:
  ProfileSet() : fileSystem_(makePosixFileSystem()) {
    std::string pattern = "/tmp/vellora-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    home_ = fileSystem_->resolvingSymlinks(pattern);
    const AppPaths paths = AppPaths::platformLayout(home_, {});
    paths_.emplace(paths);
    chromeDirectory_ = paths.chromeUserDataDirectory();
    writeExtensionFolder(paths.chromeExtensionDirectory(), "Vellora");

    const JSONValue other = otherSettings(kOtherSettingsBytes);
    for (int profile = 0; profile < kProfiles; ++profile) {
      const std::string name = profile == 0 ? "Default" : "Profile " + std::to_string(profile);
      for (const char* file : {"Secure Preferences", "Preferences"}) {
        JSONValue::Object settings;
        for (unsigned i = 0; i < kEntriesPerFile; ++i) {
          const unsigned number = static_cast<unsigned>(profile) * 1000 + i;
          if (i == 0) {
            // Ours, loaded unpacked from the companion's folder.
            settings.emplace(extensionID(7),
                             extensionEntry(number, paths.chromeExtensionDirectory(), false));
          } else if (i <= 10) {
            // Other unpacked extensions under development; half of their folders still exist.
            const std::string folder = home_ + "/src/tool" + std::to_string(number);
            if (i % 2 == 0) writeExtensionFolder(folder, "Tool " + std::to_string(number));
            settings.emplace(extensionID(100000 + number), extensionEntry(number, folder, false));
          } else {
            const std::string id = extensionID(100000 + number);
            settings.emplace(
                id, extensionEntry(number, id + "/1.0." + std::to_string(number) + "_0", true));
          }
        }
        JSONValue preferences = other;
        (*preferences.objectValue())["extensions"] =
            JSONValue::object({{"settings", JSONValue(std::move(settings))}});
        const std::string path = chromeDirectory_ + "/" + name + "/" + file;
        fileSystem_->createDirectories(chromeDirectory_ + "/" + name);
        fileSystem_->writeFileAtomically(
            path, preferences.serialized(JSONWriteOptions{.escapeSlashes = false}));
        files_.push_back(path);
      }
    }
  }
  ~ProfileSet() {
    try {
      fileSystem_->removeTree(home_);
    } catch (...) {
    }
  }

  const FileSystem& fileSystem() const { return *fileSystem_; }
  const AppPaths& paths() const { return *paths_; }
  const std::string& chromeDirectory() const { return chromeDirectory_; }
  const std::vector<std::string>& files() const { return files_; }

 private:
  void writeExtensionFolder(const std::string& folder, const std::string& name) {
    fileSystem_->createDirectories(folder);
    fileSystem_->writeFileAtomically(
        folder + "/manifest.json",
        JSONValue::object({{"manifest_version", 3}, {"name", name}, {"version", "1.0"}})
            .serialized());
  }

  std::unique_ptr<FileSystem> fileSystem_;
  std::string home_;
  std::optional<AppPaths> paths_;
  std::string chromeDirectory_;
  std::vector<std::string> files_;
};

const ProfileSet& profiles() {
  static const ProfileSet set;
  return set;
}

void BM_DetectVelloraExtensionIDs(benchmark::State& state) {
  const ChromeExtensionDetector detector(profiles().chromeDirectory(), profiles().fileSystem());
  if (detector.detectVelloraExtensionIDs().size() != 1) {
    state.SkipWithError("the extension was not detected");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(detector.detectVelloraExtensionIDs());
}

// The same profiles as Google Chrome's, searched as the companion searches: every browser of
// the layout in turn, the others not present.
void BM_DetectAcrossEveryBrowser(benchmark::State& state) {
  const ChromeExtensionDetector detector =
      ChromeExtensionDetector::forBrowsers(profiles().paths(), profiles().fileSystem());
  if (detector.detectVelloraExtensionIDs().size() != 1) {
    state.SkipWithError("the extension was not detected");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(detector.detectVelloraExtensionIDs());
}

void BM_ReferenceReadFiles(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& file : profiles().files()) {
      benchmark::DoNotOptimize(profiles().fileSystem().readFile(file, std::size_t{64} << 20));
    }
  }
}

void BM_ReferenceReadAndParseAsJSONValue(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& file : profiles().files()) {
      benchmark::DoNotOptimize(
          JSONValue::parse(profiles().fileSystem().readFile(file, std::size_t{64} << 20)));
    }
  }
}

BENCHMARK(BM_DetectVelloraExtensionIDs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectAcrossEveryBrowser)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceReadFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceReadAndParseAsJSONValue)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vellora

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const auto& files = vellora::profiles().files();
  std::size_t bytes = 0;
  for (const std::string& file : files)
    bytes += vellora::profiles().fileSystem().readFile(file, std::size_t{64} << 20).size();
  std::fprintf(stderr, "%zu profile files, %zu bytes in all\n", files.size(), bytes);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
