#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/HostProcess.h"
#include "tests/support/Processes.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using namespace std::chrono_literals;

Process::TimePoint soon() {
  return std::chrono::steady_clock::now() + 30s;
}

// The real host with a `codex` that is a shell script of the test's, as a wrapper around the
// real program may be. The script notes in "pids" the processes to look at afterwards.
class ChildProcessTest : public ::testing::Test {
 protected:
  ~ChildProcessTest() override {
    // Whatever a failed test left behind.
    for (int pid : notedPIDs()) ::kill(pid, SIGKILL);
  }

  void writeCodex(const std::string& body) {
    home_.writeFile("bin/codex", "#!/bin/sh\nPIDS='" + home_ / "pids" + "'\n" + body, 0755);
  }

  Environment hostEnvironment() const {
    return {{"HOME", home_.path()},
            {"PATH", "/usr/bin:/bin"},
            {"LANG", "C"},
            {"VELLORA_CODEX_PATH", home_ / "bin/codex"}};
  }

  std::vector<int> notedPIDs() const {
    std::vector<int> pids;
    std::ifstream file(home_ / "pids");
    for (int pid; file >> pid;) pids.push_back(pid);
    return pids;
  }

  test::TemporaryDirectory home_;
};

// Each run of the wrapper starts a program in the background, as a wrapper starts the real
// `codex`. The probe (`app-server --help`) hangs past its 2 s; the app-server ends its output
// before answering, so the handshake fails. Neither leaves what it started running.
TEST_F(ChildProcessTest, aWrapperCodex_leavesNothingRunningAfterAProbeTimeOutOrAFailedHandshake) {
  writeCodex(R"(sleep 300 </dev/null >/dev/null 2>&1 &
echo $! >>"$PIDS"
if [ "$2" = "--help" ]; then
  while :; do sleep 1; done
fi
exit 1
)");
  test::HostProcess host(hostEnvironment());

  host.send({.type = "health", .requestId = "h1"});
  std::optional<NativeEnvelope> health = host.readReply();
  ASSERT_TRUE(health && health->status);
  EXPECT_EQ(health->status->appServer, HealthState::error);

  host.send({.type = "chat.turn", .requestId = "r1", .sessionId = "s1", .prompt = "Hi"});
  std::optional<NativeEnvelope> failed = host.readReply();
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->code, "chat_turn_failed");

  const std::vector<int> started = notedPIDs();
  ASSERT_EQ(started.size(), 2u);
  for (int pid : started) EXPECT_TRUE(test::endsBy(pid, soon())) << "still running: " << pid;
  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

// An app-server that ignores SIGTERM, closes its output and hangs fails its turn; the next turn
// starts a new one. Every one of them is killed after the grace and reaped, so the host's
// children and threads do not pile up.
TEST_F(ChildProcessTest, appServersThatIgnoreSIGTERMAndHang_areKilledAndReaped) {
  writeCodex(R"(trap '' TERM
echo $$ >>"$PIDS"
exec >&-
while :; do sleep 1; done
)");
  test::HostProcess host(hostEnvironment());
  constexpr int kTurns = 6;
  for (int turn = 0; turn < kTurns; ++turn) {
    SCOPED_TRACE(turn);
    host.send({.type = "chat.turn",
               .requestId = std::string("r").append(std::to_string(turn)),
               .sessionId = "s1",
               .prompt = "Hi"});
    std::optional<NativeEnvelope> failed = host.readReply();
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, "chat_turn_failed");
  }

  const std::vector<int> started = notedPIDs();
  ASSERT_EQ(started.size(), static_cast<std::size_t>(kTurns));
  for (int pid : started) {
    // The host's own children: gone only once the host has reaped them.
    const auto giveUp = soon();
    while (::kill(pid, 0) == 0 && std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(::kill(pid, 0), 0) << "not reaped: " << pid;
  }
  // With no child left, only the host's own thread remains.
  if (test::threadCount(host.processID())) {
    const auto giveUp = soon();
    while (*test::threadCount(host.processID()) > 1 && std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(test::threadCount(host.processID()), 1);
  }
  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

}  // namespace
}  // namespace vellora
