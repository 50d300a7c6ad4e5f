#include "VelloraCore/AppServer/AppServerBridge.h"

#include <chrono>
#include <set>
#include <vector>

#include "VelloraCore/AppServer/CodexAppServerAvailability.h"
#include "VelloraCore/AppServer/CodexAppServerCommand.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Platform/RandomUUID.h"
#include "VelloraCore/TurnContent/CodexInstructions.h"

namespace vellora {

namespace {

namespace Notifications = CodexAppServerNotifications;

bool textEquals(const std::string* text, std::string_view expected) {
  return text != nullptr && *text == expected;
}

// The id of the turn a notification belongs to: params.turnId (deltas, items, errors) or
// params.turn.id ("turn/completed").
const std::string* notificationTurnID(const JSONValue* params) {
  if (const std::string* id = stringMember(params, "turnId")) return id;
  return stringMember(params != nullptr ? params->subscript("turn") : nullptr, "id");
}

}  // namespace

// One running turn: it judges every message read from the moment "turn/start" is written.
// Messages that arrive before the "turn/start" response are held and judged once the turn's id
// is known, so that a stale turn's completion or error (which names another turn id) never
// ends this one.
class AppServerBridge::Turn {
 public:
  Turn(std::string threadID, const DeltaHandler& onDelta, const AttachmentHandler& onAttachment,
       const GeneratedImageAttachmentBuilder& images, const Clock& clock)
      : threadID_(std::move(threadID)),
        onDelta_(onDelta),
        onAttachment_(onAttachment),
        images_(images),
        clock_(clock) {}

  const std::string& threadID() const { return threadID_; }
  const std::optional<std::string>& turnID() const { return turnID_; }
  bool ended() const { return ended_; }
  // Ended by an "error" notification while Codex has not yet reported the turn's completion.
  bool awaitingCompletion() const { return ended_ && !completed_; }
  // The failure that ended the turn, if it failed.
  const std::optional<AppServerError>& failure() const { return failure_; }
  // The last "willRetry" error notice, for the failure of an interrupted turn.
  const std::optional<JSONValue>& lastRetryNotice() const { return lastRetryNotice_; }
  // When an open retry window runs out.
  std::optional<Clock::TimePoint> retryDeadline(Seconds window) const {
    if (!retryWindowOpenedAt_) return std::nullopt;
    return *retryWindowOpenedAt_ + std::chrono::duration_cast<Clock::TimePoint::duration>(window);
  }

  // A message read before the "turn/start" response.
  void hold(const JSONValue& message) { held_.push_back(message); }

  // The "turn/start" response arrived: judge what was held, in arrival order.
  void started(const JSONValue& result) {
    if (const std::string* id = stringMember(result.subscript("turn"), "id")) turnID_ = *id;
    std::vector<JSONValue> held = std::move(held_);
    held_.clear();
    for (const JSONValue& message : held) handle(message);
  }

  void handle(const JSONValue& message) {
    const std::string* method = stringMember(&message, "method");
    const JSONValue* params = message.subscript("params");
    if (method == nullptr) return;
    // After a turn has ended only its completion still matters.
    if (ended_ && *method != Notifications::kTurnCompleted) return;

    // A notification that names another turn of this thread belongs to a turn that is over.
    const std::string* turnID = notificationTurnID(params);
    const bool otherTurn = turnID_ && turnID != nullptr && *turnID != *turnID_;
    const bool thisThread = textEquals(stringMember(params, "threadId"), threadID_);

    // Whatever this turn reports besides an error (deltas, reasoning, items starting or
    // completing) shows that Codex is working again.
    if (thisThread && !otherTurn && *method != Notifications::kError) progressed();

    if (*method == Notifications::kAgentMessageDelta) {
      const std::string* delta = stringMember(params, "delta");
      if (!otherTurn && thisThread && delta != nullptr) onDelta_(*delta);
    }
    // Every message, streamed text included, may name a generated image; a delta's text goes
    // out before the images it names.
    deliverAttachments(message);

    if (*method == Notifications::kTurnCompleted) {
      if (otherTurn || !thisThread) return;
      completed_ = true;
      // A turn that an error ended keeps that error as its failure.
      if (ended_) return;
      ended_ = true;
      const JSONValue* turn = params->subscript("turn");
      if (textEquals(stringMember(turn, "status"), "failed")) {
        failure_ = failedTurnError(turn);
      }
    } else if (*method == Notifications::kError) {
      if (otherTurn) return;
      const JSONValue* willRetry = params != nullptr ? params->subscript("willRetry") : nullptr;
      if (willRetry != nullptr && willRetry->boolValue() == true) {
        // Codex retries the model itself and goes on with the same turn.
        lastRetryNotice_ = message;
        if (!retryWindowOpenedAt_) retryWindowOpenedAt_ = clock_.now();
        return;
      }
      ended_ = true;
      failure_ = AppServerError::server(message);
    }
  }

 private:
  void progressed() { retryWindowOpenedAt_.reset(); }

  void deliverAttachments(const JSONValue& message) {
    for (JSONValue& attachment :
         images_.attachments(message, threadID_, std::chrono::system_clock::now())) {
      std::string key;
      if (const std::string* path = stringMember(&attachment, "filePath")) {
        key = *path;
      } else if (const std::string* id = stringMember(&attachment, "id")) {
        key = *id;
      } else {
        key = newRandomUUIDText();  // never taken for a repeat
      }
      if (!attachmentKeys_.insert(key).second) continue;
      onAttachment_(attachment);
    }
  }

  // A turn that Codex reports as failed, described by its own error message. Without one the
  // user reads that the turn failed, never a bare JSON value.
  static AppServerError failedTurnError(const JSONValue* turn) {
    const JSONValue* error = turn != nullptr ? turn->subscript("error") : nullptr;
    const std::string* message = stringMember(error, "message");
    if (message == nullptr && error != nullptr) message = error->stringValue();
    if (message != nullptr && !message->empty()) {
      return AppServerError::server(JSONValue::object({{"message", *message}}));
    }
    if (error != nullptr && error->objectValue() != nullptr) return AppServerError::server(*error);
    return AppServerError::server(JSONValue::object({{"message", "the turn failed"}}));
  }

  const std::string threadID_;
  const DeltaHandler& onDelta_;
  const AttachmentHandler& onAttachment_;
  const GeneratedImageAttachmentBuilder& images_;
  const Clock& clock_;

  std::optional<std::string> turnID_;
  std::vector<JSONValue> held_;
  std::set<std::string> attachmentKeys_;
  bool ended_ = false;
  bool completed_ = false;
  std::optional<AppServerError> failure_;
  std::optional<JSONValue> lastRetryNotice_;
  std::optional<Clock::TimePoint> retryWindowOpenedAt_;
};

AppServerBridge::AppServerBridge(AppPaths paths, CodexLocator locator,
                                 CodexAuthDetector authDetector,
                                 CodexAppServerConfiguration configuration, FileSystem& fileSystem,
                                 ProcessLauncher& launcher, const Clock& clock,
                                 Environment environment, std::string homeDirectory, Timing timing)
    : paths_(std::move(paths)),
      locator_(std::move(locator)),
      authDetector_(std::move(authDetector)),
      configuration_(std::move(configuration)),
      fileSystem_(fileSystem),
      launcher_(launcher),
      clock_(clock),
      environment_(std::move(environment)),
      homeDirectory_(std::move(homeDirectory)),
      timing_(timing),
      turnInputBuilder_(fileSystem, kMaxSkillInstructionCharacters,
                        CodexTurnInputBuilder::defaultAllowedSkillRoots(homeDirectory_)),
      generatedImageAttachmentBuilder_(fileSystem, kMaxDataURLBytes) {}

AppServerBridge::~AppServerBridge() {
  // The host is ending: the child sees its input close and ends on its own.
  if (process_) process_->detach();
}

void AppServerBridge::ensureStarted() {
  if (process_ && process_->isRunning()) return;
  std::optional<std::string> codex = locator_.locate();
  if (!codex) throw AppServerBridgeError(AppServerBridgeError::Case::codexNotFound);
  paths_.ensureApplicationDirectories(fileSystem_);
  // Messages outside a running turn concern nobody: a delta read then belongs to no turn of
  // ours and must never be relabelled as one.
  auto process = std::make_unique<AppServerProcess>(
      *codex, paths_.workspaceDirectory(), [](const JSONValue&) {}, launcher_, clock_, environment_,
      homeDirectory_);
  process->setIdleHandler(idleHandler_);
  process->start(fileSystem_);
  process_ = std::move(process);
  initialized_ = false;
  // Codex's threads live in the child that started them: a new child knows none of them.
  threadIDsBySessionID_.clear();
}

void AppServerBridge::setIdleHandler(AppServerProcess::IdleHandler handler) {
  idleHandler_ = std::move(handler);
  if (process_) process_->setIdleHandler(idleHandler_);
}

void AppServerBridge::releaseChildIfOutputEnded(const AppServerError& failure) noexcept {
  // A child whose output has ended can answer nothing more, even while it still runs (it may
  // have closed its standard output and hung): without this, every later request would read the
  // same end of output for as long as the host lives.
  if (failure.errorCase() != AppServerError::Case::unexpectedEOF) return;
  process_.reset();
  initialized_ = false;
}

void AppServerBridge::initializeIfNeeded() {
  ensureStarted();
  if (initialized_ || !process_) return;
  try {
    process_->request(
        CodexAppServerMethods::kInitialize,
        JSONValue::object(
            {{"clientInfo",
              JSONValue::object({{"name", "vellora"}, {"title", "Vellora"}, {"version", "0.1.0"}})},
             {"capabilities", JSONValue::object({{"experimentalApi", false}})}}));
    process_->notify(CodexAppServerNotifications::kInitialized, JSONValue::Object{});
  } catch (...) {
    // Codex refuses a second "initialize" ("Already initialized"), so a child whose handshake
    // failed halfway can never be used: stop it, and the next call starts a fresh one.
    process_.reset();
    throw;
  }
  initialized_ = true;
}

std::string AppServerBridge::threadFor(const std::string& sessionID) {
  if (auto known = threadIDsBySessionID_.find(sessionID); known != threadIDsBySessionID_.end()) {
    return known->second;
  }
  if (!process_) throw AppServerError::notRunning();
  const JSONValue result =
      process_->request(CodexAppServerMethods::kThreadStart,
                        JSONValue::object({{"cwd", paths_.workspaceDirectory()},
                                           {"approvalPolicy", "never"},
                                           {"sandbox", "read-only"},
                                           {"baseInstructions", kBaseInstructions},
                                           {"developerInstructions", kDeveloperInstructions},
                                           {"ephemeral", true},
                                           {"personality", "pragmatic"},
                                           {"serviceName", "vellora"},
                                           {"experimentalRawEvents", false},
                                           {"persistExtendedHistory", false}}));
  const std::string* threadID = stringMember(result.subscript("thread"), "id");
  if (threadID == nullptr) throw AppServerBridgeError(AppServerBridgeError::Case::missingThreadID);
  threadIDsBySessionID_.emplace(sessionID, *threadID);
  return *threadID;
}

void AppServerBridge::sendTurn(const std::string& sessionID, const std::string& prompt,
                               const JSONValue* context, const JSONValue* commands,
                               const std::optional<std::string>& /*model*/,
                               const std::optional<std::string>& /*reasoningEffort*/,
                               const DeltaHandler& onDelta, const AttachmentHandler& onAttachment) {
  try {
    ensureStarted();
    initializeIfNeeded();
    Turn turn(threadFor(sessionID), onDelta, onAttachment, generatedImageAttachmentBuilder_,
              clock_);

    // The input, which holds the whole page context, is moved into place rather than copied.
    JSONValue::Object params;
    params.emplace("threadId", turn.threadID());
    params.emplace("input", turnInputBuilder_.input(prompt, context, commands));
    params.emplace("approvalPolicy", "never");
    params.emplace("sandboxPolicy",
                   JSONValue::object({{"type", "readOnly"},
                                      {"access", JSONValue::object({{"type", "fullAccess"}})},
                                      {"networkAccess", false}}));
    params.emplace("model", configuration_.model);

    // From here on every message read belongs to this turn's judgement, also those that arrive
    // before the response to "turn/start".
    const JSONValue result =
        process_->request(CodexAppServerMethods::kTurnStart, JSONValue(std::move(params)),
                          [&turn](const JSONValue& message) { turn.hold(message); });
    turn.started(result);
    runTurn(turn);
  } catch (const AppServerError& failure) {
    releaseChildIfOutputEnded(failure);
    throw;
  }
}

void AppServerBridge::runTurn(Turn& turn) {
  while (!turn.ended()) {
    if (!process_) throw AppServerError::notRunning();
    const std::optional<Clock::TimePoint> retryDeadline = turn.retryDeadline(timing_.retryWindow);
    std::optional<JSONValue> message =
        retryDeadline ? process_->readMessage(*retryDeadline) : process_->readMessage();
    if (message) {
      turn.handle(*message);
      continue;
    }

    // Codex has been retrying without progress for the whole window: stop the turn, give it a
    // moment to report its end, and fail with what Codex last said.
    const Clock::TimePoint giveUpAt =
        clock_.now() +
        std::chrono::duration_cast<Clock::TimePoint::duration>(timing_.interruptWait);
    try {
      JSONValue params = JSONValue::object({{"threadId", turn.threadID()}});
      if (turn.turnID()) (*params.objectValue())["turnId"] = *turn.turnID();
      process_->request(CodexAppServerMethods::kTurnInterrupt.name, params, timing_.interruptWait,
                        [&turn](const JSONValue& late) { turn.handle(late); });
      while (!turn.ended()) {
        std::optional<JSONValue> late = process_->readMessage(giveUpAt);
        if (!late) break;
        turn.handle(*late);
      }
    } catch (const AppServerError& failure) {
      // The turn fails with the retry notice either way.
      releaseChildIfOutputEnded(failure);
    } catch (const Error&) {
      // A child whose input is gone or that wrote a bad line: the retry notice still says best
      // why the turn failed; the next call finds out about the child.
    }
    throw AppServerError::server(*turn.lastRetryNotice());
  }
  if (turn.awaitingCompletion()) awaitCompletion(turn);
  if (turn.failure()) throw *turn.failure();
}

void AppServerBridge::awaitCompletion(Turn& turn) noexcept {
  // Codex reports a failed turn's completion right after its error, but until it has, the turn
  // still runs there: a "turn/start" for the same thread would join it and take its failure.
  const Clock::TimePoint giveUpAt =
      clock_.now() + std::chrono::duration_cast<Clock::TimePoint::duration>(timing_.interruptWait);
  try {
    while (turn.awaitingCompletion() && process_) {
      std::optional<JSONValue> late = process_->readMessage(giveUpAt);
      if (!late) break;
      turn.handle(*late);
    }
  } catch (const AppServerError& failure) {
    releaseChildIfOutputEnded(failure);
  } catch (const std::exception&) {
    // The turn fails with its error either way; the next call finds out about the child.
  }
}

JSONValue AppServerBridge::commandCatalog(bool forceReload) {
  try {
    ensureStarted();
    initializeIfNeeded();
  } catch (const AppServerError& failure) {
    releaseChildIfOutputEnded(failure);
    throw;
  }
  if (!process_) throw AppServerError::notRunning();

  const std::string& cwd = paths_.workspaceDirectory();
  JSONValue::Array errors;
  auto list = [&](std::string_view method, const JSONValue& params, JSONValue fallback) {
    try {
      // After a list that found the child's output ended, the others have no child to ask.
      if (!process_) throw AppServerError::notRunning();
      return process_->request(method, params, timing_.listTimeout);
    } catch (const std::exception& failure) {
      if (const auto* error = dynamic_cast<const AppServerError*>(&failure)) {
        releaseChildIfOutputEnded(*error);
      }
      errors.push_back(
          JSONValue::object({{"method", JSONValue(method)}, {"message", failure.what()}}));
      return fallback;
    }
  };
  namespace Methods = CodexAppServerMethods;
  JSONValue skills =
      list(Methods::kSkillsList.name,
           JSONValue::object({{"cwds", JSONValue::Array{cwd}}, {"forceReload", forceReload}}),
           JSONValue::object({{"data", JSONValue::Array{}}}));
  JSONValue plugins =
      list(Methods::kPluginList.name, JSONValue::object({{"cwds", JSONValue::Array{cwd}}}),
           JSONValue::object({{"marketplaces", JSONValue::Array{}}}));
  JSONValue apps = list(
      Methods::kAppList.name, JSONValue::object({{"limit", 200}, {"forceRefetch", forceReload}}),
      JSONValue::object({{"data", JSONValue::Array{}}, {"nextCursor", JSONValue()}}));
  JSONValue models =
      list(Methods::kModelList.name, JSONValue::object({{"limit", 200}, {"includeHidden", false}}),
           JSONValue::object({{"data", JSONValue::Array{}}, {"nextCursor", JSONValue()}}));
  return commandCatalogBuilder_.catalog(skills, plugins, apps, models, std::move(errors));
}

CompanionHealth AppServerBridge::health() noexcept {
  const std::optional<std::string> codex = locator_.locate();
  HealthState appServer = HealthState::missing;
  if (process_ && process_->isRunning()) {
    appServer = HealthState::ready;
  } else if (codex) {
    appServer = CodexAppServerAvailability::probe(*codex, timing_.probeTimeout, launcher_,
                                                  fileSystem_, environment_, homeDirectory_)
                    ? HealthState::ready
                    : HealthState::error;
  }
  return CompanionHealth{
      .companion = HealthState::ready,
      .nativeHost = HealthState::ready,
      .extension = HealthState::ready,
      .codex = codex ? HealthState::ready : HealthState::missing,
      .appServer = appServer,
      .auth = authDetector_.healthState(),
  };
}

}  // namespace vellora
