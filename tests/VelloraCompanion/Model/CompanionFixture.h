#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCompanion/Model/CompanionApp.h"
#include "VelloraCompanion/Model/CompanionChecks.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Chrome/SystemHostManifest.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "tests/VelloraCore/Chrome/ChromeProfileFixture.h"
#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/fakes/ManualDispatch.h"
#include "tests/fakes/RecordingDesktop.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora::test {

inline const std::string kExtensionA(32, 'a');
inline const std::string kExtensionB(32, 'b');
inline const std::string kExtensionC(32, 'c');

// A scratch HOME with the companion's collaborators around it: real files, the stand-in codex
// (through VELLORA_CODEX_PATH), a host program beside a pretend companion executable, no login
// shell, and a sampler pause that only records its calls.
class CompanionFixture {
 public:
  CompanionFixture()
      : fileSystem_(makePosixFileSystem()),
        launcher_(makePosixProcessLauncher()),
        environment_(
            {{"HOME", home_.path()}, {"PATH", ""}, {"VELLORA_CODEX_PATH", kFakeCodexPath}}),
        paths_(AppPaths::platformLayout(home_.path(), environment_)),
        companionExecutable_(home_ / "Vellora/bin/VelloraCompanion"),
        hostPath_(home_.writeFile("Vellora/bin/vellora-native-host", "#!/bin/sh\n", 0755)) {
    desktop_.executable = companionExecutable_;
  }

  Environment& environment() { return environment_; }
  const AppPaths& paths() const { return paths_; }
  const std::string& hostPath() const { return hostPath_; }
  // Where makeChecks' checks look for Google Chrome's system-wide manifest (empty at first):
  // every system folder lies under systemRoot().
  std::string systemRoot() const { return home_ / "system"; }
  std::string systemHostsDirectory() const {
    return systemRoot() + std::string(systemNativeHostsDirectory("chrome"));
  }
  const std::string& companionExecutable() const { return companionExecutable_; }
  const TemporaryDirectory& home() const { return home_; }
  FileSystem& fileSystem() { return *fileSystem_; }
  const std::vector<double>& sleeps() const { return *sleeps_; }

  // Chrome's profile `profile` holds the extension `id`, loaded unpacked from a source checkout.
  void loadExtension(const std::string& id, const std::string& profile = "Default") {
    const std::string folder =
        writeExtensionFolder(home_, "src/vellora/apps/extension/dist", "Vellora");
    writeProfileFile(home_, profile, "Preferences",
                     preferences(JSONValue::object({{id, extensionEntry(folder)}})));
  }
  // The browser `browser` (ChromeBrowser::id) holds the extension `id` in its default profile.
  void loadExtensionIn(const std::string& browser, const std::string& id) {
    const std::string folder =
        writeExtensionFolder(home_, "src/vellora/apps/extension/dist", "Vellora");
    home_.writeFile(
        relativeToHome(home_, paths_.browser(browser)->userDataDirectory) + "/Default/Preferences",
        preferences(JSONValue::object({{id, extensionEntry(folder)}}))
            .serialized(JSONWriteOptions{.escapeSlashes = false}));
  }
  // No browser is present any more.
  void removeBrowsers() {
    for (const ChromeBrowserPaths& browser : paths_.browsers()) {
      fileSystem_->removeTree(browser.userDataDirectory);
    }
  }
  void unloadExtensions() { fileSystem_->removeTree(paths_.chromeUserDataDirectory()); }
  void signIntoCodex() { home_.writeFile(".codex/auth.json", R"({"OPENAI_API_KEY":"sk-test"})"); }

  // The installed manifest, or nothing.
  std::optional<NativeHostManifest> manifest() const {
    try {
      return NativeHostManifest::fromJSON(
          JSONValue::parse(fileSystem_->readFile(paths_.nativeHostManifestURL(), 1 << 20)));
    } catch (...) {
      return std::nullopt;
    }
  }

  CompanionChecks makeChecks(std::optional<std::string> executable) {
    auto sleeps = sleeps_;
    CompanionChecks checks(*fileSystem_, *launcher_, environment_, home_.path(), paths_,
                           std::move(executable), noShell(),
                           [sleeps](double seconds) { sleeps->push_back(seconds); });
    // The machine's own system-wide manifests stay out of the tests.
    checks.setSystemNativeHostsRoot(systemRoot());
    return checks;
  }
  CompanionChecks makeChecks() { return makeChecks(companionExecutable_); }

  std::shared_ptr<CompanionApp> makeApp(const std::string& currentDirectory = "/nonexistent",
                                        DesktopPlatform platform = DesktopPlatform::macOS) {
    auto sleeps = sleeps_;
    return CompanionApp::create(CompanionServices{
        .desktop = desktop_,
        .dispatch = dispatch_,
        .fileSystem = *fileSystem_,
        .launcher = *launcher_,
        .environment = environment_,
        .homeDirectory = home_.path(),
        .paths = paths_,
        .currentDirectory = currentDirectory,
        .shellCodexPathResolver = noShell(),
        .sleep = [sleeps](double seconds) { sleeps->push_back(seconds); },
        .platform = platform,
    });
  }

  RecordingDesktop desktop_;
  ManualDispatch dispatch_;

 private:
  static ShellCodexPathResolver noShell() {
    return [](const Environment&) { return std::optional<std::string>(); };
  }

  TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_;
  std::unique_ptr<ProcessLauncher> launcher_;
  Environment environment_;
  AppPaths paths_;
  std::string companionExecutable_;
  std::string hostPath_;
  std::shared_ptr<std::vector<double>> sleeps_ = std::make_shared<std::vector<double>>();
};

// The six parts of a health, each ready unless named:
//   test::health({.extension = HealthState::missing, .auth = HealthState::unknown})
struct HealthParts {
  HealthState companion = HealthState::ready;
  HealthState nativeHost = HealthState::ready;
  HealthState extension = HealthState::ready;
  HealthState codex = HealthState::ready;
  HealthState appServer = HealthState::ready;
  HealthState auth = HealthState::ready;
};

inline CompanionHealth health(const HealthParts& parts) {
  return {.companion = parts.companion,
          .nativeHost = parts.nativeHost,
          .extension = parts.extension,
          .codex = parts.codex,
          .appServer = parts.appServer,
          .auth = parts.auth};
}

inline CompanionHealth allReady() {
  return health({});
}

// The companion ready (it is what measures the rest) and every other part in `state`.
inline CompanionHealth allButTheCompanion(HealthState state) {
  return health(
      {.nativeHost = state, .extension = state, .codex = state, .appServer = state, .auth = state});
}

}  // namespace vellora::test
