#include "VelloraCore/AppServer/TurnJudgement.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vellora {
namespace {

using namespace std::chrono_literals;

// One step fed to the judgement: a message (JSON text, thread "thread-1" and turn "turn-1"
// unless named), the "turn/start" response, a cancel, or time passing to a second.
struct Step {
  enum class Kind { message, started, cancel, time } kind;
  std::string text;
  double at = 0;
};

Step message(std::string text) {
  return {.kind = Step::Kind::message, .text = std::move(text)};
}
Step started(std::string turn = "turn-1") {
  return {.kind = Step::Kind::started, .text = std::move(turn)};
}
Step cancel() {
  return {.kind = Step::Kind::cancel};
}
Step timeIs(double seconds) {
  return {.kind = Step::Kind::time, .at = seconds};
}

std::string delta(const std::string& text, const std::string& turn = "turn-1",
                  const std::string& thread = "thread-1") {
  return R"({"method": "item/agentMessage/delta", "params": {"threadId": ")" + thread +
         R"(", "turnId": ")" + turn + R"(", "delta": ")" + text + R"("}})";
}
std::string completed(const std::string& status = "completed", const std::string& turn = "turn-1",
                      const std::string& thread = "thread-1") {
  return R"({"method": "turn/completed", "params": {"threadId": ")" + thread +
         R"(", "turn": {"id": ")" + turn + R"(", "status": ")" + status +
         R"(", "error": {"message": "Model overloaded"}}}})";
}
std::string error(const std::string& text, bool willRetry = false,
                  const std::string& turn = "turn-1") {
  return R"({"method": "error", "params": {"threadId": "thread-1", "turnId": ")" + turn +
         R"(", "willRetry": )" + (willRetry ? "true" : "false") + R"(, "error": {"message": ")" +
         text + R"("}}})";
}
std::string item(const std::string& method, const std::string& type,
                 const std::string& turn = "turn-1") {
  return R"({"method": ")" + method + R"(", "params": {"threadId": "thread-1", "turnId": ")" +
         turn + R"(", "item": {"type": ")" + type + R"(", "id": "x"}}})";
}

// What the owner saw and did, in order: "delta a", "images", "interrupt", and at the end
// "done" or "failed: text", or "running".
std::vector<std::string> run(const std::vector<Step>& steps) {
  const Clock::TimePoint start{};
  auto at = [&](double seconds) {
    return start + std::chrono::duration_cast<Clock::TimePoint::duration>(Seconds(seconds));
  };
  TurnJudgement judgement("thread-1", Seconds(60), Seconds(5));
  Clock::TimePoint now = start;
  std::vector<std::string> events;
  auto judge = [&](const JSONValue& value) {
    const TurnJudgement::Verdict verdict = judgement.judge(value, now);
    if (verdict.delta != nullptr) events.push_back("delta " + *verdict.delta);
    if (verdict.mayCarryImages) events.push_back("images");
  };
  for (const Step& step : steps) {
    switch (step.kind) {
      case Step::Kind::message:
        judge(JSONValue::parse(step.text));
        break;
      case Step::Kind::started:
        for (const JSONValue& held : judgement.started(
                 JSONValue::object({{"turn", JSONValue::object({{"id", step.text}})}})))
          judge(held);
        if (judgement.interruptDue() && !judgement.finished()) {
          events.push_back("interrupt");
          judgement.interruptSent(now);
        }
        break;
      case Step::Kind::cancel:
        if (judgement.cancel(now) == TurnJudgement::Action::interrupt) {
          events.push_back("interrupt");
          judgement.interruptSent(now);
        }
        break;
      case Step::Kind::time:
        now = at(step.at);
        if (judgement.deadlinePassed(now) == TurnJudgement::Action::interrupt) {
          events.push_back("interrupt");
          judgement.interruptSent(now);
        }
        break;
    }
  }
  if (!judgement.finished()) {
    events.push_back("running");
  } else if (judgement.failure()) {
    events.push_back(std::string("failed: ") + judgement.failure()->what());
  } else {
    events.push_back("done");
  }
  return events;
}

TEST(TurnJudgementTest, judgesTurnsFromTheirMessagesAndTimes) {
  const std::string failedPrefix = "failed: Codex app-server returned an error: ";
  struct Case {
    const char* label;
    std::vector<Step> steps;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"deltas, then completion",
       {started(), message(delta("a")), message(delta("b")), message(completed())},
       {"delta a", "images", "delta b", "images", "done"}},
      {"messages before the response are judged once the turn's id is known",
       {message(delta("old", "turn-0")), message(completed("failed", "turn-0")),
        message(delta("a")), started(), message(completed())},
       {"delta a", "images", "done"}},
      {"another thread's delta and completion are not this turn's",
       {started(), message(delta("x", "turn-1", "thread-2")),
        message(completed("completed", "turn-1", "thread-2"))},
       {"running"}},
      {"a failed completion fails with Codex's message",
       {started(), message(completed("failed"))},
       {failedPrefix + "Model overloaded."}},
      {"an error waits for the completion, then fails with the error",
       {started(), message(error("Quota")), message(delta("late")), message(completed("failed"))},
       {failedPrefix + "Quota."}},
      {"an error whose completion never comes fails after the interrupt wait",
       {started(), message(error("Quota")), timeIs(4), timeIs(5)},
       {failedPrefix + "Quota."}},
      {"a retry window without progress interrupts, then fails with the last notice",
       {started(), timeIs(1), message(error("Reconnecting 1/5", true)), timeIs(30),
        message(error("Reconnecting 2/5", true)), timeIs(61), timeIs(65), timeIs(66)},
       {"interrupt", failedPrefix + "Reconnecting 2/5."}},
      {"progress closes the retry window",
       {started(), message(error("Reconnecting", true)), timeIs(30),
        message(item("item/started", "reasoning")), timeIs(70), message(completed())},
       {"done"}},
      {"images only in Codex's own output, never in what the user sent",
       {started(), message(item("item/started", "userMessage")),
        message(item("item/completed", "userMessage")),
        message(item("item/started", "agentMessage")), message(item("item/completed", "reasoning")),
        message(item("item/completed", "commandExecution")),
        message(item("item/completed", "agentMessage")),
        message(item("item/completed", "imageGeneration")),
        message(item("rawResponseItem/completed", "image_generation_call")),
        message(item("rawResponseItem/completed", "message")), message(completed())},
       {"images", "images", "images", "done"}},
      {"images only in the running turn's output, not in an earlier turn's",
       {started(), message(delta("old", "turn-0")),
        message(item("item/completed", "agentMessage", "turn-0")),
        message(item("item/completed", "imageGeneration", "turn-0")),
        message(item("rawResponseItem/completed", "image_generation_call", "turn-0")),
        message(completed())},
       {"done"}},
      {"a cancel interrupts and the interrupted completion ends the turn well",
       {started(), message(delta("a")), cancel(), message(completed("interrupted"))},
       {"delta a", "images", "interrupt", "done"}},
      {"a cancelled turn that Codex never ends is done after the interrupt wait",
       {started(), cancel(), timeIs(4), timeIs(5), message(delta("late"))},
       {"interrupt", "done"}},
      {"a cancel before the turn's id is held until the response",
       {cancel(), message(delta("a")), started(), message(completed("interrupted"))},
       {"delta a", "images", "interrupt", "done"}},
      {"a cancel of a turn that an error ended waits for its completion and ends well",
       {started(), message(error("Quota")), cancel(), message(completed("failed"))},
       {"done"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(run(c.steps), c.events);
  }
}

}  // namespace
}  // namespace vellora
