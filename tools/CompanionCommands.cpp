#include "tools/CompanionCommands.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "VelloraCompanion/Model/CompanionChecks.h"
#include "VelloraCompanion/Model/CompanionInstallError.h"
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

bool isAllReady(const CompanionHealth& health) {
  for (HealthState state : {health.companion, health.nativeHost, health.extension, health.codex,
                            health.appServer, health.auth}) {
    if (state != HealthState::ready) return false;
  }
  return true;
}

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

// One line per present browser, and what a refresh or `fix` would write.
void printBrowsers(const std::vector<BrowserConnection>& browsers) {
  std::cout << "\nBrowsers\n";
  if (browsers.empty()) std::cout << "  none found\n";
  for (const BrowserConnection& browser : browsers) {
    std::cout << "  " << browser.name << ": extension "
              << (browser.hasExtension ? "loaded" : "not loaded") << ", manifest "
              << text(browser.manifest)
              << (browser.hasExtension && browser.manifest != HealthState::ready
                      ? " (vellora-client fix writes it)"
                      : "")
              << "\n";
  }
}

JSONValue statusJSON(const CompanionHealth& health, const std::vector<BrowserConnection>& browsers,
                     const std::vector<WelcomeStep>& steps,
                     const std::optional<std::string>& folder) {
  JSONValue::Array browserValues;
  for (const BrowserConnection& browser : browsers) {
    browserValues.push_back(JSONValue::object({
        {"id", browser.id},
        {"name", browser.name},
        {"hasExtension", browser.hasExtension},
        {"manifest", text(browser.manifest)},
    }));
  }
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
      {"browsers", JSONValue(std::move(browserValues))},
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
  // A refresh's measurement without its upkeep: the manifests are judged as they are.
  DetectedExtensions extensions;
  try {
    extensions = checks->resolveExtensionIDs();
  } catch (const CompanionInstallError& error) {
    // No extension found is a state to report; a malformed VELLORA_EXTENSION_ID is not.
    if (error.errorCase() == CompanionInstallError::Case::invalidExtensionID) {
      std::cerr << error.what() << "\n";
      return kFailed;
    }
  }
  const CompanionHealth health = checks->computeHealth(extensions);
  const std::vector<BrowserConnection> browsers = checks->browserConnections(extensions);
  const std::optional<std::string> folder = findExtensionFolder(
      terminal.fileSystem(), checks->paths(), currentDirectory(terminal.fileSystem()));
  const WelcomeContent content = makeWelcomeContent(health, false, false, kHostDesktopPlatform);
  if (json) {
    std::cout << statusJSON(health, browsers, content.steps, folder)
                     .serialized(JSONWriteOptions{.escapeSlashes = false})
              << "\n";
  } else {
    printHealth(health);
    printBrowsers(browsers);
    printContent(content, folder);
  }
  return isAllReady(health) ? 0 : kFailed;
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
  const auto& success = std::get<NativeHostInstallOutcome::Success>(outcome.value);
  for (const InstalledManifest& manifest : success.manifests) {
    std::cout << manifest.browserName << ": " << manifest.path << "\n";
  }
  std::cout << "\n";
  printHealth(success.health);
  return 0;
}

}  // namespace vellora
