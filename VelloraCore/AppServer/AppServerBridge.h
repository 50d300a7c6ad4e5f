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
#include "VelloraCore/AppServer/TurnJudgement.h"
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
class ReadinessWait;

// What the host talks to when it needs Codex. It starts `codex app-server` on first need (and
// again after the child died), performs the handshake once per child (a child whose handshake
// failed is stopped), opens one Codex thread per sidebar session and remembers it for as long as
// the child that made it runs, runs chat turns side by side on the one child (its messages
// routed by thread id), collects the command catalog and answers the health question. When it
// is destroyed, the child's input is closed and the child left to end by itself.
//
// Owned by the host's one thread: every call runs on it, callbacks run on it, and there is no
// lock. Requests that await a response (the handshake, "thread/start", "turn/start", the lists)
// wait through the ReadinessWait, which lets the host serve other work meanwhile; a running
// turn's messages are handled by process(), which the host calls when outputDescriptor() is
// readable or nextDeadline() has passed.
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

  // Everything the bridge is built from. `environment` (this process's own) and
  // `homeDirectory` (the current user's) are the base of the child's environment and of the
  // skill roots; the folder of `authDetector` is Codex's own, where its skills and saved images
  // are looked for too. Every reference must outlive the bridge.
  struct Collaborators {
    AppPaths paths;
    CodexLocator locator;
    CodexAuthDetector authDetector;
    CodexAppServerConfiguration configuration;
    FileSystem& fileSystem;
    ProcessLauncher& launcher;
    const Clock& clock;
    ReadinessWait& wait;
    Environment environment;
    std::string homeDirectory;
    Timing timing = {};
  };

  using DeltaHandler = std::function<void(const std::string&)>;
  using AttachmentHandler = std::function<void(const JSONValue&)>;
  // A turn's end: nothing when Codex completed it (or it was stopped), else its failure.
  using EndHandler = std::function<void(const std::optional<std::string>& failure)>;

  // One chat turn to run. `context` and `commands` are used only during sendTurn(), which
  // moves the context's screenshot into the turn's input instead of copying it. `model` and
  // `reasoningEffort` are accepted and not used: every turn asks for the configured model.
  struct TurnRequest {
    std::string sessionID;
    std::string prompt;
    JSONValue* context = nullptr;
    const JSONValue* commands = nullptr;
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;
    // Each piece of the answer, and each generated image (once per file per turn).
    DeltaHandler onDelta;
    AttachmentHandler onAttachment;
    // Once, after the turn's last delta and attachment.
    EndHandler onEnd;
  };

  static constexpr std::int64_t kMaxSkillInstructionCharacters = 12000;
  static constexpr std::int64_t kMaxDataURLBytes = 700000;

  // Starts nothing.
  explicit AppServerBridge(Collaborators collaborators);
  ~AppServerBridge();

  // Starts one chat turn: a child, the handshake and the session's thread if needed, then
  // "turn/start". Returns once Codex has answered that; the turn then runs on through
  // process() and ends with its onEnd. Throws when it could not be started (onEnd is then not
  // called): AppServerBridgeError, AppServerError (server errors carry Codex's text), or the
  // file system's or launcher's error. The session must have no turn running.
  void sendTurn(TurnRequest request);

  // Asks the session's running turn to stop: "turn/interrupt" is sent now, or as soon as Codex
  // has given the turn's id. The turn then ends with onEnd and no failure, once Codex reports
  // it completed or the interrupt wait has passed. False when the session has no turn running.
  bool cancelTurn(const std::string& sessionID);
  bool hasRunningTurns() const noexcept { return !turns_.empty(); }

  // The child's output, for poll(); -1 when there is no child. Whatever had already been read
  // when sendTurn() or commandCatalog() returned has been handled by then.
  int outputDescriptor() const noexcept;
  // When process() must run even without output: a turn's retry window or interrupt wait.
  std::optional<Clock::TimePoint> nextDeadline() const;
  // Handles the messages already read and the deadlines that have passed, after one read of
  // the child's output when `outputReadable` (poll() said so: the read does not block); turns
  // that end call their onEnd here. A child whose output ended fails every running turn.
  // Never throws.
  void process(bool outputReadable) noexcept;

  // The host's reader is gone: sends "turn/interrupt" for every running turn whose id is known
  // and closes the child's input. No callback is called afterwards.
  void abandonTurns() noexcept;

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
  struct RunningTurn;

  void ensureStarted();
  // A failure of the child: when its output has ended, the child is stopped and forgotten, so
  // that the next call starts a new one, and every running turn fails with that failure.
  void childFailed(const AppServerError& failure) noexcept;
  void failRunningTurns(const std::string& failure) noexcept;
  // Starts a child when none runs (ensureStarted) and makes the handshake once per child. The
  // one place a request's child is started: a second check in the same request would start
  // another child at once when the first has already ended.
  void initializeIfNeeded();
  std::string threadFor(const std::string& sessionID);
  // Every message read outside an awaited response goes to the turn of its thread (or, without
  // a thread, to every running turn).
  void route(const JSONValue& message);
  void judge(RunningTurn& turn, const JSONValue& message);
  void sendInterrupt(RunningTurn& turn) noexcept;
  // Reports and forgets the turns that have finished.
  void endFinishedTurns();

  const AppPaths paths_;
  const CodexLocator locator_;
  const CodexAuthDetector authDetector_;
  const CodexAppServerConfiguration configuration_;
  FileSystem& fileSystem_;
  ProcessLauncher& launcher_;
  const Clock& clock_;
  ReadinessWait& wait_;
  const Environment environment_;
  const std::string homeDirectory_;
  const Timing timing_;

  const CodexTurnInputBuilder turnInputBuilder_;
  const CodexCommandCatalogBuilder commandCatalogBuilder_{};
  const GeneratedImageAttachmentBuilder generatedImageAttachmentBuilder_;

  std::unique_ptr<AppServerProcess> process_;
  bool initialized_ = false;
  std::map<std::string, std::string> threadIDsBySessionID_;
  // By session id: from the start of sendTurn() until the turn's end has been reported.
  std::map<std::string, std::unique_ptr<RunningTurn>> turns_;
  AppServerProcess::IdleHandler idleHandler_;
};

}  // namespace vellora
