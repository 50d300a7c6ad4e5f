#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "VelloraCore/AppServer/AppServerBridgeError.h"
#include "VelloraCore/AppServer/AppServerProcess.h"
#include "VelloraCore/AppServer/CodexAppServerConfiguration.h"
#include "VelloraCore/AppServer/CodexAuthDetector.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/Clock.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Protocol/HealthState.h"
#include "VelloraCore/Protocol/JSONValue.h"
#include "VelloraCore/TurnContent/CodexCommandCatalogBuilder.h"
#include "VelloraCore/TurnContent/CodexTurnInputBuilder.h"
#include "VelloraCore/TurnContent/GeneratedImageAttachmentBuilder.h"

namespace vellora {

class FileSystem;
class ProcessLauncher;

// What the host talks to when it needs Codex. It starts `codex app-server` on first need (and
// again after the child died), performs the handshake once per child (a child whose handshake
// failed is stopped), opens one Codex thread per sidebar session and remembers it for as long as
// the child that made it runs, runs chat turns, collects the command catalog and answers the
// health question. When it is destroyed, the child's input is closed and the child left to end
// by itself.
//
// Owned by the host's one thread: every call blocks it, callbacks run on it, and there is no
// lock. Every collaborator passed by reference must outlive the bridge.
class AppServerBridge {
 public:
  // Time limits that are not a request's own time-out.
  struct Timing {
    // A turn whose model keeps retrying ("willRetry" errors) without progress for this long is
    // interrupted and failed.
    Seconds retryWindow{60};
    // How long to wait for a turn's "turn/completed" after "turn/interrupt", or after an
    // "error" notification ended it.
    Seconds interruptWait = CodexAppServerMethods::kTurnInterrupt.timeout;
    // The time-out of each of the four list requests of the catalog.
    Seconds listTimeout = CodexAppServerMethods::kSkillsList.timeout;
    // The availability probe's time-out in health().
    Seconds probeTimeout{2};
  };

  using DeltaHandler = std::function<void(const std::string&)>;
  using AttachmentHandler = std::function<void(const JSONValue&)>;

  static constexpr std::int64_t kMaxSkillInstructionCharacters = 12000;
  static constexpr std::int64_t kMaxDataURLBytes = 700000;

  // Starts nothing. `environment` (this process's own) and `homeDirectory` (the current
  // user's) are the base of the child's environment and of the skill roots.
  AppServerBridge(AppPaths paths, CodexLocator locator, CodexAuthDetector authDetector,
                  CodexAppServerConfiguration configuration, FileSystem& fileSystem,
                  ProcessLauncher& launcher, const Clock& clock, Environment environment,
                  std::string homeDirectory, Timing timing);
  AppServerBridge(AppPaths paths, CodexLocator locator, CodexAuthDetector authDetector,
                  CodexAppServerConfiguration configuration, FileSystem& fileSystem,
                  ProcessLauncher& launcher, const Clock& clock, Environment environment,
                  std::string homeDirectory)
      : AppServerBridge(std::move(paths), std::move(locator), std::move(authDetector),
                        std::move(configuration), fileSystem, launcher, clock,
                        std::move(environment), std::move(homeDirectory), Timing{}) {}
  ~AppServerBridge();

  // Runs one chat turn to its end, calling onDelta for each piece of the answer and
  // onAttachment for each generated image (once per file per turn), on this thread. Returns
  // when Codex completed the turn; throws otherwise: AppServerBridgeError, AppServerError
  // (server errors carry Codex's text), or the file system's or launcher's error. `model` and
  // `reasoningEffort` are accepted and not used: every turn asks for the configured model.
  void sendTurn(const std::string& sessionID, const std::string& prompt, const JSONValue* context,
                const JSONValue* commands, const std::optional<std::string>& model,
                const std::optional<std::string>& reasoningEffort, const DeltaHandler& onDelta,
                const AttachmentHandler& onAttachment);

  // The command catalog from the four list requests. A failed list is recorded in the
  // catalog's "errors" and replaced by an empty one; only a failure to start or initialise the
  // app-server throws.
  JSONValue commandCatalog(bool forceReload);

  // Handed to every app-server child (see AppServerProcess::setIdleHandler): the host sends the
  // frames it has batched there.
  void setIdleHandler(AppServerProcess::IdleHandler handler);

  // The host's side of the system's health. Never fails and never starts the app-server; it
  // may run the availability probe.
  CompanionHealth health() noexcept;

 private:
  class Turn;

  void ensureStarted();
  // Stops and forgets the child when `failure` says its output has ended, so that the next call
  // starts a new one.
  void releaseChildIfOutputEnded(const AppServerError& failure) noexcept;
  void initializeIfNeeded();
  std::string threadFor(const std::string& sessionID);
  // Reads the turn's messages until it ends; interrupts it when its retry window runs out.
  void runTurn(Turn& turn);
  // After a turn failed on an "error" notification, waits (at most the interrupt wait) for
  // Codex to report that turn's completion, so that the session's next turn starts afresh.
  void awaitCompletion(Turn& turn) noexcept;

  const AppPaths paths_;
  const CodexLocator locator_;
  const CodexAuthDetector authDetector_;
  const CodexAppServerConfiguration configuration_;
  FileSystem& fileSystem_;
  ProcessLauncher& launcher_;
  const Clock& clock_;
  const Environment environment_;
  const std::string homeDirectory_;
  const Timing timing_;

  const CodexTurnInputBuilder turnInputBuilder_;
  const CodexCommandCatalogBuilder commandCatalogBuilder_{};
  const GeneratedImageAttachmentBuilder generatedImageAttachmentBuilder_;

  std::unique_ptr<AppServerProcess> process_;
  bool initialized_ = false;
  std::map<std::string, std::string> threadIDsBySessionID_;
  AppServerProcess::IdleHandler idleHandler_;
};

}  // namespace vellora
