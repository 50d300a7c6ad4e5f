#include "VelloraCore/AppServer/TurnJudgement.h"

#include <algorithm>
#include <string_view>

#include "VelloraCore/AppServer/CodexAppServerCommand.h"

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

// Codex's own output, the only place where the images it generated are named: streamed and
// completed answer text, and finished image items. What the user sent (a userMessage item that
// quotes a page naming an image path) never is.
bool isCodexOutput(std::string_view method, const JSONValue* params) {
  if (method == Notifications::kAgentMessageDelta) return true;
  const std::string* type =
      stringMember(params != nullptr ? params->subscript("item") : nullptr, "type");
  if (type == nullptr) return false;
  if (method == Notifications::kItemCompleted) {
    return *type == "agentMessage" || *type == "imageGeneration";
  }
  if (method == Notifications::kRawResponseItemCompleted) return *type == "image_generation_call";
  return false;
}

Clock::TimePoint::duration asDuration(Seconds seconds) {
  return std::chrono::duration_cast<Clock::TimePoint::duration>(
      Seconds(std::clamp(seconds.count(), 0.0, 1e9)));
}

// A turn that Codex reports as failed, described by its own error message. Without one the
// user reads that the turn failed, never a bare JSON value.
AppServerError failedTurnError(const JSONValue* turn) {
  const JSONValue* error = turn != nullptr ? turn->subscript("error") : nullptr;
  const std::string* message = stringMember(error, "message");
  if (message == nullptr && error != nullptr) message = error->stringValue();
  if (message != nullptr && !message->empty()) {
    return AppServerError::server(JSONValue::object({{"message", *message}}));
  }
  if (error != nullptr && error->objectValue() != nullptr) return AppServerError::server(*error);
  return AppServerError::server(JSONValue::object({{"message", "the turn failed"}}));
}

}  // namespace

TurnJudgement::TurnJudgement(std::string threadID, Seconds retryWindow, Seconds interruptWait)
    : threadID_(std::move(threadID)),
      retryWindow_(asDuration(retryWindow)),
      interruptWait_(asDuration(interruptWait)) {}

std::vector<JSONValue> TurnJudgement::started(const JSONValue& result) {
  if (const std::string* id = stringMember(result.subscript("turn"), "id")) turnID_ = *id;
  startedTurn_ = true;
  std::vector<JSONValue> held = std::move(held_);
  held_.clear();
  return held;
}

TurnJudgement::Verdict TurnJudgement::judge(const JSONValue& message, Clock::TimePoint now) {
  if (!startedTurn_) {
    held_.push_back(message);
    return {};
  }
  if (finished_) return {};
  const std::string* method = stringMember(&message, "method");
  if (method == nullptr) return {};
  const JSONValue* params = message.subscript("params");

  // A notification that names another turn of this thread belongs to a turn that is over.
  const std::string* turnID = notificationTurnID(params);
  const bool otherTurn = turnID_ && turnID != nullptr && *turnID != *turnID_;
  const bool thisThread = textEquals(stringMember(params, "threadId"), threadID_);
  const bool completion = *method == Notifications::kTurnCompleted;

  // After an error ended the turn only its completion still matters.
  if (errorEnded_) {
    if (completion && thisThread && !otherTurn) finished_ = true;
    return {};
  }

  Verdict verdict;
  // Whatever this turn reports besides an error (deltas, reasoning, items starting or
  // completing) shows that Codex is working again.
  if (thisThread && !otherTurn && *method != Notifications::kError) progressed();
  if (*method == Notifications::kAgentMessageDelta && thisThread && !otherTurn) {
    verdict.delta = stringMember(params, "delta");
  }
  // Only this turn's output may name images: what an earlier turn of the thread finishes late
  // is nobody's, as its text is.
  verdict.mayCarryImages = thisThread && !otherTurn && isCodexOutput(*method, params);

  if (completion) {
    if (otherTurn || !thisThread) return verdict;
    // A cancelled turn ends without a failure, whatever its status says.
    std::optional<AppServerError> failure;
    if (!cancelled_ && retryInterrupted_) {
      failure = AppServerError::server(*lastRetryNotice_);
    } else if (!cancelled_ &&
               textEquals(stringMember(params->subscript("turn"), "status"), "failed")) {
      failure = failedTurnError(params->subscript("turn"));
    }
    finish(std::move(failure));
  } else if (*method == Notifications::kError) {
    // An error names the thread it concerns, if any; one of another turn is stale.
    if (otherTurn) return verdict;
    const JSONValue* willRetry = params != nullptr ? params->subscript("willRetry") : nullptr;
    if (willRetry != nullptr && willRetry->boolValue() == true) {
      // Codex retries the model itself and goes on with the same turn.
      lastRetryNotice_ = message;
      if (!retryWindowOpenedAt_) retryWindowOpenedAt_ = now;
      return verdict;
    }
    // Codex reports the failed turn's completion right after its error; until it has, the turn
    // still runs there, and a "turn/start" for the same thread would join it.
    errorEnded_ = true;
    if (!cancelled_) failure_ = AppServerError::server(message);
    giveUpAt_ = now + interruptWait_;
  }
  return verdict;
}

TurnJudgement::Action TurnJudgement::cancel(Clock::TimePoint /*now*/) {
  if (finished_) return Action::none;
  cancelled_ = true;
  failure_.reset();
  if (!startedTurn_) {
    interruptDue_ = true;
    return Action::none;
  }
  // Already interrupted, or ended by an error and only awaiting its completion.
  if (giveUpAt_) return Action::none;
  return Action::interrupt;
}

void TurnJudgement::interruptSent(Clock::TimePoint now) {
  interruptDue_ = false;
  if (!giveUpAt_) giveUpAt_ = now + interruptWait_;
}

std::optional<Clock::TimePoint> TurnJudgement::deadline() const {
  if (finished_ || !startedTurn_) return std::nullopt;
  if (giveUpAt_) return giveUpAt_;
  if (retryWindowOpenedAt_) return *retryWindowOpenedAt_ + retryWindow_;
  return std::nullopt;
}

TurnJudgement::Action TurnJudgement::deadlinePassed(Clock::TimePoint now) {
  const std::optional<Clock::TimePoint> due = deadline();
  if (!due || now < *due) return Action::none;
  if (giveUpAt_) {
    // Codex did not report the end in time: the turn ends as it stands, and its later
    // messages are nobody's.
    if (cancelled_) {
      finish(std::nullopt);
    } else if (errorEnded_) {
      finished_ = true;
    } else {
      finish(AppServerError::server(*lastRetryNotice_));
    }
    return Action::none;
  }
  // Codex has been retrying without progress for the whole window: stop the turn and fail it
  // with what Codex last said.
  retryInterrupted_ = true;
  return Action::interrupt;
}

void TurnJudgement::finish(std::optional<AppServerError> failure) {
  finished_ = true;
  failure_ = std::move(failure);
}

}  // namespace vellora
