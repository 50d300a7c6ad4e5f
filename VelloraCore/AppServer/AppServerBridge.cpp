#include "VelloraCore/AppServer/AppServerBridge.h"

#include <cassert>
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

struct AppServerBridge::RunningTurn {
  TurnRequest request;
  // Once the session's thread is known.
  std::optional<TurnJudgement> judgement;
  // Codex answered "turn/start": the turn's messages are judged as they come.
  bool running = false;
  bool cancelRequested = false;
  std::set<std::string> attachmentKeys;
};

AppServerBridge::AppServerBridge(Collaborators c)
    : paths_(std::move(c.paths)),
      locator_(std::move(c.locator)),
      authDetector_(std::move(c.authDetector)),
      configuration_(std::move(c.configuration)),
      fileSystem_(c.fileSystem),
      launcher_(c.launcher),
      clock_(c.clock),
      wait_(c.wait),
      environment_(std::move(c.environment)),
      homeDirectory_(std::move(c.homeDirectory)),
      timing_(c.timing),
      turnInputBuilder_(fileSystem_, kMaxSkillInstructionCharacters,
                        CodexTurnInputBuilder::defaultAllowedSkillRoots(
                            homeDirectory_, authDetector_.codexHomeDirectory())),
      generatedImageAttachmentBuilder_(
          fileSystem_, authDetector_.codexHomeDirectory() + "/generated_images", kMaxDataURLBytes) {
}

AppServerBridge::~AppServerBridge() {
  // The host is ending: the child sees its input close and ends on its own.
  if (process_) process_->detach();
}

void AppServerBridge::ensureStarted() {
  if (process_ && process_->isRunning()) return;
  if (process_) {
    // The turns of a child that ended take what it wrote last before it is replaced; any still
    // running then have lost their child.
    process(false);
    if (process_) failRunningTurns(AppServerError::notRunning().what());
  }
  std::optional<std::string> codex = locator_.locate();
  if (!codex) throw AppServerBridgeError(AppServerBridgeError::Case::codexNotFound);
  paths_.ensureApplicationDirectories(fileSystem_);
  // Messages outside a running turn concern nobody: a delta read then belongs to no turn of
  // ours and must never be relabelled as one. The others go to their turn by thread.
  auto process = std::make_unique<AppServerProcess>(
      *codex, paths_.workspaceDirectory(), [this](const JSONValue& message) { route(message); },
      launcher_, clock_, environment_, homeDirectory_, &wait_);
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

void AppServerBridge::childFailed(const AppServerError& failure) noexcept {
  // A child whose output has ended can answer nothing more, even while it still runs (it may
  // have closed its standard output and hung): without this, every later request would read the
  // same end of output for as long as the host lives.
  if (failure.errorCase() != AppServerError::Case::unexpectedEOF) return;
  process_.reset();
  initialized_ = false;
  failRunningTurns(failure.what());
}

void AppServerBridge::failRunningTurns(const std::string& failure) noexcept {
  // Turns still being started fail through their own request.
  std::vector<std::unique_ptr<RunningTurn>> failed;
  for (auto it = turns_.begin(); it != turns_.end();) {
    if (it->second->running) {
      failed.push_back(std::move(it->second));
      it = turns_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& turn : failed) {
    try {
      turn->request.onEnd(failure);
    } catch (...) {
      // The host's callbacks do not throw.
    }
  }
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

void AppServerBridge::sendTurn(TurnRequest request) {
  const std::string sessionID = request.sessionID;
  assert(!turns_.contains(sessionID));
  RunningTurn& turn = *turns_.emplace(sessionID, std::make_unique<RunningTurn>()).first->second;
  turn.request = std::move(request);
  try {
    initializeIfNeeded();
    turn.judgement.emplace(threadFor(sessionID), timing_.retryWindow, timing_.interruptWait);
    if (turn.cancelRequested) turn.judgement->cancel(clock_.now());

    // The input, which holds the whole page context, is moved into place rather than copied.
    JSONValue::Object params;
    params.emplace("threadId", turn.judgement->threadID());
    params.emplace("input", turnInputBuilder_.takeInput(turn.request.prompt, turn.request.context,
                                                        turn.request.commands));
    params.emplace("approvalPolicy", "never");
    params.emplace("sandboxPolicy",
                   JSONValue::object({{"type", "readOnly"},
                                      {"access", JSONValue::object({{"type", "fullAccess"}})},
                                      {"networkAccess", false}}));
    params.emplace("model", configuration_.model);

    // From here on every message of the thread belongs to this turn's judgement, also those
    // that arrive before the response to "turn/start" (held until the turn's id is known).
    if (!process_) throw AppServerError::notRunning();
    const JSONValue result =
        process_->request(CodexAppServerMethods::kTurnStart, JSONValue(std::move(params)));
    turn.running = true;
    for (const JSONValue& held : turn.judgement->started(result)) judge(turn, held);
    if (turn.judgement->interruptDue() && !turn.judgement->finished()) sendInterrupt(turn);
  } catch (const AppServerError& failure) {
    turns_.erase(sessionID);
    childFailed(failure);
    throw;
  } catch (...) {
    turns_.erase(sessionID);
    throw;
  }
  turn.request.context = nullptr;
  turn.request.commands = nullptr;
  // What came with the response is already read: its descriptor will not say so again.
  process(false);
}

bool AppServerBridge::cancelTurn(const std::string& sessionID) {
  auto found = turns_.find(sessionID);
  if (found == turns_.end()) return false;
  RunningTurn& turn = *found->second;
  turn.cancelRequested = true;
  // Before its thread is known, sendTurn() passes the cancel on.
  if (turn.judgement && turn.judgement->cancel(clock_.now()) == TurnJudgement::Action::interrupt) {
    sendInterrupt(turn);
  }
  return true;
}

void AppServerBridge::sendInterrupt(RunningTurn& turn) noexcept {
  try {
    JSONValue params = JSONValue::object({{"threadId", turn.judgement->threadID()}});
    if (turn.judgement->turnID()) (*params.objectValue())["turnId"] = *turn.judgement->turnID();
    // Its response is an ordinary message; only the turn's completion is awaited.
    if (process_) process_->sendRequest(CodexAppServerMethods::kTurnInterrupt.name, params);
  } catch (...) {
    // A child whose input is gone: the interrupt wait ends the turn all the same.
  }
  turn.judgement->interruptSent(clock_.now());
}

void AppServerBridge::route(const JSONValue& message) {
  const std::string* thread = stringMember(message.subscript("params"), "threadId");
  for (auto& [session, turn] : turns_) {
    if (!turn->judgement) continue;
    if (thread != nullptr && *thread != turn->judgement->threadID()) continue;
    judge(*turn, message);
  }
  // A turn that ended while another request waits says so at once.
  endFinishedTurns();
}

void AppServerBridge::judge(RunningTurn& turn, const JSONValue& message) {
  const TurnJudgement::Verdict verdict = turn.judgement->judge(message, clock_.now());
  if (verdict.delta != nullptr) turn.request.onDelta(*verdict.delta);
  if (!verdict.mayCarryImages) return;
  // A delta's text goes out before the images it names.
  for (JSONValue& attachment : generatedImageAttachmentBuilder_.attachments(
           message, turn.judgement->threadID(), std::chrono::system_clock::now())) {
    std::string key;
    if (const std::string* path = stringMember(&attachment, "filePath")) {
      key = *path;
    } else if (const std::string* id = stringMember(&attachment, "id")) {
      key = *id;
    } else {
      key = newRandomUUIDText();  // never taken for a repeat
    }
    if (!turn.attachmentKeys.insert(key).second) continue;
    turn.request.onAttachment(attachment);
  }
}

int AppServerBridge::outputDescriptor() const noexcept {
  return process_ ? process_->outputDescriptor() : -1;
}

std::optional<Clock::TimePoint> AppServerBridge::nextDeadline() const {
  std::optional<Clock::TimePoint> next;
  for (const auto& [session, turn] : turns_) {
    if (!turn->running) continue;
    if (std::optional<Clock::TimePoint> due = turn->judgement->deadline()) {
      if (!next || *due < *next) next = due;
    }
  }
  return next;
}

void AppServerBridge::process(bool outputReadable) noexcept {
  try {
    // Lines read earlier first: the end of the output counts only after them.
    auto routeBuffered = [this] {
      while (process_) {
        std::optional<JSONValue> message = process_->takeBufferedMessage();
        if (!message) break;
        route(*message);
      }
    };
    routeBuffered();
    if (outputReadable && process_) {
      // One read per call: the loop polls again before the next, so what this one brought
      // goes out first.
      process_->readOutput();
      routeBuffered();
    }
  } catch (const AppServerError& failure) {
    if (failure.errorCase() == AppServerError::Case::unexpectedEOF) {
      childFailed(failure);
    } else {
      failRunningTurns(failure.what());
    }
  } catch (const std::exception& failure) {
    // A line that is not JSON: the turns cannot know what they missed.
    failRunningTurns(failure.what());
  }
  const Clock::TimePoint now = clock_.now();
  for (auto& [session, turn] : turns_) {
    if (!turn->running) continue;
    if (turn->judgement->deadlinePassed(now) == TurnJudgement::Action::interrupt) {
      sendInterrupt(*turn);
    }
  }
  try {
    endFinishedTurns();
  } catch (...) {
    // The host's callbacks do not throw.
  }
}

void AppServerBridge::endFinishedTurns() {
  std::vector<std::unique_ptr<RunningTurn>> finished;
  for (auto it = turns_.begin(); it != turns_.end();) {
    if (it->second->running && it->second->judgement->finished()) {
      finished.push_back(std::move(it->second));
      it = turns_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& turn : finished) {
    const std::optional<AppServerError>& failure = turn->judgement->failure();
    turn->request.onEnd(failure ? std::optional<std::string>(failure->what()) : std::nullopt);
  }
}

void AppServerBridge::abandonTurns() noexcept {
  for (auto& [session, turn] : turns_) {
    if (turn->judgement && turn->judgement->turnID() && !turn->judgement->finished()) {
      sendInterrupt(*turn);
    }
  }
  turns_.clear();
  if (process_) process_->detach();
  process_.reset();
  initialized_ = false;
}

JSONValue AppServerBridge::commandCatalog(bool forceReload) {
  try {
    initializeIfNeeded();
  } catch (const AppServerError& failure) {
    childFailed(failure);
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
        childFailed(*error);
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
  // What came with the last response is already read: its descriptor will not say so again.
  process(false);
  return commandCatalogBuilder_.catalog(skills, plugins, apps, models, std::move(errors));
}

CompanionHealth AppServerBridge::health() noexcept {
  const std::optional<std::string> codex = locator_.locate();
  HealthState appServer = HealthState::missing;
  if (process_ && process_->isRunning()) {
    appServer = HealthState::ready;
  } else if (codex) {
    // Awaited through the wait: running turns go on streaming meanwhile.
    appServer =
        CodexAppServerAvailability::probe(*codex, timing_.probeTimeout, launcher_, fileSystem_,
                                          environment_, homeDirectory_, &wait_, &clock_)
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
