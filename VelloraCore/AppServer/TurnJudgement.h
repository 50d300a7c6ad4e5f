#pragma once

#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/AppServer/AppServerError.h"
#include "VelloraCore/Platform/Clock.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

// What one chat turn's app-server messages mean: which deltas are this turn's, which messages
// may name its generated images, when it has ended and whether it failed, when its retry window
// runs out and how long an interrupt is waited for. A plain object fed messages and times; it
// does no I/O. The bridge owns one per running turn.
//
//   judge(delta "Hel") -> {.delta = "Hel", .mayCarryImages = true}
//   judge(turn/completed) -> {}; finished() is then true and failure() empty
class TurnJudgement {
 public:
  struct Verdict {
    // This turn's piece of the answer in the message.
    const std::string* delta = nullptr;
    // The message is Codex's own output for this turn and may name generated images.
    bool mayCarryImages = false;
  };
  // What the owner must do when deadline() has passed.
  enum class Action {
    none,
    // Send "turn/interrupt" for the turn now (its id is known).
    interrupt,
  };

  TurnJudgement(std::string threadID, Seconds retryWindow, Seconds interruptWait);

  const std::string& threadID() const noexcept { return threadID_; }
  // The turn's id, once the "turn/start" response gave it.
  const std::optional<std::string>& turnID() const noexcept { return turnID_; }

  // The "turn/start" response arrived. Messages judged before it were held; they are given
  // back, in arrival order, to be judged again now that the turn's id is known. Afterwards
  // interruptDue() tells whether a cancel came first.
  std::vector<JSONValue> started(const JSONValue& result);

  // Judges one message of the turn's thread (or of no thread). Before started() it is held and
  // the verdict is empty.
  Verdict judge(const JSONValue& message, Clock::TimePoint now);

  // The user asked to stop the turn. Returns Action::interrupt when "turn/interrupt" is to be
  // sent now; before the turn's id is known the request is held until started().
  Action cancel(Clock::TimePoint now);
  bool cancelled() const noexcept { return cancelled_; }
  // Whether started() found a held cancel to act on.
  bool interruptDue() const noexcept { return interruptDue_; }
  // The owner sent "turn/interrupt".
  void interruptSent(Clock::TimePoint now);

  // When the turn next needs something without a message: the end of its retry window, or of
  // the wait for its completion after an interrupt or an error. Nothing: only messages matter.
  std::optional<Clock::TimePoint> deadline() const;
  // Called once deadline() has passed.
  Action deadlinePassed(Clock::TimePoint now);

  // The turn is over: its last message was judged, or Codex was waited for long enough.
  bool finished() const noexcept { return finished_; }
  // How a finished turn failed; nothing when it ended well (a cancelled turn always does).
  const std::optional<AppServerError>& failure() const noexcept { return failure_; }

 private:
  void progressed() { retryWindowOpenedAt_.reset(); }
  void finish(std::optional<AppServerError> failure);

  const std::string threadID_;
  const Clock::TimePoint::duration retryWindow_;
  const Clock::TimePoint::duration interruptWait_;

  std::optional<std::string> turnID_;
  bool startedTurn_ = false;
  std::vector<JSONValue> held_;
  // An error notification ended the turn; its completion is still awaited.
  bool errorEnded_ = false;
  bool cancelled_ = false;
  bool interruptDue_ = false;
  // The retry window ran out and the turn was interrupted for it.
  bool retryInterrupted_ = false;
  bool finished_ = false;
  std::optional<AppServerError> failure_;
  std::optional<JSONValue> lastRetryNotice_;
  std::optional<Clock::TimePoint> retryWindowOpenedAt_;
  // Set once "turn/interrupt" was sent or an error ended the turn: the turn is given up then.
  std::optional<Clock::TimePoint> giveUpAt_;
};

}  // namespace vellora
