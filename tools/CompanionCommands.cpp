#include "tools/CompanionCommands.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "VelloraCompanion/Model/CompanionChecks.h"
#include "VelloraCompanion/Model/ExtensionFolder.h"
#include "VelloraCompanion/Model/WelcomeContent.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/HomeDirectory.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

// This process's working directory, or "" when it has none.
std::string currentDirectory(const FileSystem& fileSystem) {
  try {
    return fileSystem.currentDirectory();
  } catch (const FileSystemError&) {
    return {};
  }
}

// The real collaborators of the checks, for the current user.
class TerminalChecks {
 public:
  explicit TerminalChecks(const std::string& executablePath)
      : environment_(currentProcessEnvironment()),
        home_(currentHomeDirectory(environment_)),
        fileSystem_(makePosixFileSystem()),
        launcher_(makePosixProcessLauncher()) {
    if (home_.empty()) return;
    checks_.emplace(*fileSystem_, *launcher_, environment_, home_,
                    AppPaths::platformLayout(home_, environment_),
                    executablePath.empty() ? std::nullopt : std::optional(executablePath),
                    CodexLocator::loginShellResolver(*launcher_), [](double seconds) {
                      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
                    });
  }

  // Nothing when there is no home directory.
  const CompanionChecks* checks() const { return checks_ ? &*checks_ : nullptr; }
  const FileSystem& fileSystem() const { return *fileSystem_; }

 private:
  Environment environment_;
  std::string home_;
  std::unique_ptr<FileSystem> fileSystem_;
  std::unique_ptr<ProcessLauncher> launcher_;
  std::optional<CompanionChecks> checks_;
};

void printHealth(const CompanionHealth& health) {
  const std::pair<const char*, HealthState> fields[] = {
      {"companion", health.companion}, {"nativeHost", health.nativeHost},
      {"extension", health.extension}, {"codex", health.codex},
      {"appServer", health.appServer}, {"auth", health.auth},
  };
  std::cout << "Health\n";
  for (const auto& [name, state] : fields) {
    std::cout << "  " << name << std::string(12 - std::string(name).size(), ' ') << text(state)
              << "\n";
  }
}

void printContent(const WelcomeContent& content, const std::optional<std::string>& folder) {
  std::cout << "\nSetup\n";
  for (std::size_t i = 0; i < content.steps.size(); ++i) {
    const WelcomeStep& step = content.steps[i];
    std::cout << "  " << (step.isComplete ? "[done] " : "[todo] ") << step.number << ". "
              << step.title << "\n";
    const std::string indent(9, ' ');
    if (content.cardBodies[i] == WelcomeCardBody::loadingInstructions) {
      for (const WelcomeInstructionLine& line : content.loadingInstructions) {
        std::cout << indent << line.text << (line.linkTitle ? " " + *line.linkTitle : "") << "\n";
      }
    } else if (!step.detail.empty()) {
      std::cout << indent << step.detail << "\n";
    }
    if (!step.isComplete) {
      for (const WelcomeStepAction& action : step.actions) {
        std::cout << indent << "[" << action.title << "]\n";
      }
    }
  }
  std::cout << "\nExtension folder: " << folder.value_or("none found") << "\n";
  std::cout << "\n";
  if (content.openChromeButton) std::cout << "[" << content.openChromeButton->title << "] ";
  std::cout << "[" << content.fixBrowserButton.title << "] [" << content.refreshButton.title
            << "]\n";
}

JSONValue statusJSON(const CompanionHealth& health, const std::vector<WelcomeStep>& steps,
                     const std::optional<std::string>& folder) {
  JSONValue::Array stepValues;
  for (const WelcomeStep& step : steps) {
    JSONValue::Array actions;
    for (const WelcomeStepAction& action : step.actions) actions.emplace_back(action.title);
    stepValues.push_back(JSONValue::object({
        {"number", step.number},
        {"title", step.title},
        {"isComplete", step.isComplete},
        {"detail", step.detail},
        {"actions", JSONValue(std::move(actions))},
    }));
  }
  return JSONValue::object({
      {"health", health.toJSON()},
      {"steps", JSONValue(std::move(stepValues))},
      {"extensionFolder", folder ? JSONValue(*folder) : JSONValue(nullptr)},
  });
}

}  // namespace

int runStatusCommand(const std::vector<std::string>& arguments, const std::string& executablePath) {
  const bool json = arguments == std::vector<std::string>{"--json"};
  if (!json && !arguments.empty()) {
    std::cerr << "usage: status [--json]\n";
    return kUsage;
  }
  const TerminalChecks terminal(executablePath);
  const CompanionChecks* checks = terminal.checks();
  if (checks == nullptr) {
    std::cerr << "Could not find the home directory.\n";
    return kFailed;
  }
  const CompanionHealth health = checks->measureRefresh(std::nullopt);
  const std::optional<std::string> folder = findExtensionFolder(
      terminal.fileSystem(), checks->paths(), currentDirectory(terminal.fileSystem()));
  const WelcomeContent content = makeWelcomeContent(health, false, false, kHostDesktopPlatform);
  if (json) {
    std::cout << statusJSON(health, content.steps, folder)
                     .serialized(JSONWriteOptions{.escapeSlashes = false})
              << "\n";
  } else {
    printHealth(health);
    printContent(content, folder);
  }
  return 0;
}

int runFixCommand(const std::vector<std::string>& arguments, const std::string& executablePath) {
  if (!arguments.empty()) {
    std::cerr << "usage: fix\n";
    return kUsage;
  }
  const TerminalChecks terminal(executablePath);
  const CompanionChecks* checks = terminal.checks();
  if (checks == nullptr) {
    std::cerr << "Could not find the home directory.\n";
    return kFailed;
  }
  const NativeHostInstallOutcome outcome = checks->performNativeHostInstall();
  if (const auto* failure = std::get_if<NativeHostInstallOutcome::Failure>(&outcome.value)) {
    std::cerr << failure->message << "\n";
    return kFailed;
  }
  std::cout << "The browser connection is set up: " << checks->paths().nativeHostManifestURL()
            << "\n\n";
  printHealth(std::get<NativeHostInstallOutcome::Success>(outcome.value).health);
  return 0;
}

}  // namespace vellora
