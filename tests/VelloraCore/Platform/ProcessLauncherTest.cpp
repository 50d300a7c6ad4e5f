#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "VelloraCore/Platform/IOError.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "tests/support/Processes.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

std::string readAll(ByteStream& stream) {
  std::string text;
  char buffer[4096];
  while (std::size_t count = stream.read(buffer, sizeof buffer)) text.append(buffer, count);
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

Process::TimePoint soon() {
  return std::chrono::steady_clock::now() + 30s;
}

LaunchedProcess launchShell(ProcessLauncher& launcher, const std::string& script,
                            StreamMode input = StreamMode::nullDevice,
                            bool ownProcessGroup = false) {
  ProcessLaunchOptions options;
  options.executablePath = "/bin/sh";
  options.arguments = {"-c", script};
  options.standardInput = input;
  options.ownProcessGroup = ownProcessGroup;
  return launcher.launch(options);
}

// A wrapper, as a `codex` script may be: it ignores SIGTERM (and so does the program it starts
// in the background), says the pid of that program, closes its output and hangs.
constexpr const char* kStubbornWrapper =
    "trap '' TERM; sleep 300 </dev/null >/dev/null 2>&1 & echo $!; exec >&-; "
    "while :; do sleep 1; done";

int readGrandchild(LaunchedProcess& child) {
  std::string line;
  char byte;
  while (child.standardOutput->read(&byte, 1) == 1 && byte != '\n') line += byte;
  return std::stoi(line);
}

class ProcessLauncherTest : public ::testing::Test {
 protected:
  std::unique_ptr<ProcessLauncher> launcher_ = makePosixProcessLauncher();
};

TEST_F(ProcessLauncherTest, launch_passesArgumentsAndExactlyTheGivenEnvironment) {
  ProcessLaunchOptions options;
  options.executablePath = "/bin/sh";
  options.arguments = {"-c", "printf '%s\\n' \"$0\" \"$1\" \"$2\"; /usr/bin/env", "zero", "one two",
                       ""};
  options.environment = {{"ALPHA", "1"}, {"BETA", "two words=x"}};
  LaunchedProcess child = launcher_->launch(options);
  std::vector<std::string> output = lines(readAll(*child.standardOutput));
  ASSERT_GE(output.size(), 3u);
  EXPECT_THAT(std::vector(output.begin(), output.begin() + 3), ElementsAre("zero", "one two", ""));
  // sh may export PWD and friends of its own; nothing of ours may leak in.
  std::vector<std::string> environment(output.begin() + 3, output.end());
  EXPECT_THAT(environment, ::testing::Contains("ALPHA=1"));
  EXPECT_THAT(environment, ::testing::Contains("BETA=two words=x"));
  for (const std::string& line : environment) {
    EXPECT_THAT(line,
                ::testing::AnyOf(::testing::StartsWith("ALPHA="), ::testing::StartsWith("BETA="),
                                 ::testing::StartsWith("PWD="), ::testing::StartsWith("SHLVL="),
                                 ::testing::StartsWith("_=")))
        << "unexpected variable in the child";
  }
  ASSERT_TRUE(child.process->waitForExit(soon()));
  EXPECT_EQ(child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::exited, 0}));
}

TEST_F(ProcessLauncherTest, launch_runsInTheWorkingDirectory) {
  test::TemporaryDirectory directory;
  ProcessLaunchOptions options;
  options.executablePath = "/bin/sh";
  options.arguments = {"-c", "pwd -P"};
  options.workingDirectory = directory.path();
  LaunchedProcess child = launcher_->launch(options);
  EXPECT_EQ(readAll(*child.standardOutput), directory.path() + "\n");
}

TEST_F(ProcessLauncherTest, launch_connectsEachStreamAsAsked) {
  // A pipe on every stream: input comes back on output, a marker on error.
  LaunchedProcess piped = launchShell(*launcher_, "cat; echo err >&2", StreamMode::pipe);
  piped.standardInput->writeAll("hello\n");
  piped.standardInput.reset();
  EXPECT_EQ(readAll(*piped.standardOutput), "hello\n");
  EXPECT_EQ(readAll(*piped.standardError), "err\n");

  // /dev/null as input reads as empty at once; no parent end is handed out for it.
  LaunchedProcess nulled = launchShell(*launcher_, "cat; echo done");
  EXPECT_EQ(nulled.standardInput, nullptr);
  EXPECT_EQ(readAll(*nulled.standardOutput), "done\n");

  // Output and error sent to /dev/null.
  ProcessLaunchOptions options;
  options.executablePath = "/bin/sh";
  options.arguments = {"-c", "echo out; echo err >&2"};
  options.standardOutput = StreamMode::nullDevice;
  options.standardError = StreamMode::nullDevice;
  LaunchedProcess silent = launcher_->launch(options);
  EXPECT_EQ(silent.standardOutput, nullptr);
  EXPECT_EQ(silent.standardError, nullptr);
  ASSERT_TRUE(silent.process->waitForExit(soon()));
  EXPECT_TRUE(silent.process->exitStatus()->succeeded());
}

TEST_F(ProcessLauncherTest, launch_keepsOurPipeEndsOutOfOtherChildren) {
  // If the second child inherited the first child's input pipe, the first would never see the
  // end of its input while the second lives.
  LaunchedProcess reader = launchShell(*launcher_, "cat >/dev/null; echo eof", StreamMode::pipe);
  LaunchedProcess bystander = launchShell(*launcher_, "exec sleep 30");
  reader.standardInput.reset();
  EXPECT_EQ(readAll(*reader.standardOutput), "eof\n");
  bystander.process->terminate();
  EXPECT_TRUE(bystander.process->waitForExit(soon()));
}

TEST_F(ProcessLauncherTest, exitStatus_reportsCodeOrSignal) {
  struct Case {
    const char* label;
    const char* script;
    ProcessExit expected;
  };
  const Case cases[] = {
      {"success", "exit 0", {ProcessExit::Reason::exited, 0}},
      {"failure", "exit 3", {ProcessExit::Reason::exited, 3}},
      {"signal", "kill -KILL $$", {ProcessExit::Reason::signaled, SIGKILL}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    LaunchedProcess child = launchShell(*launcher_, c.script);
    ASSERT_TRUE(child.process->waitForExit(soon()));
    EXPECT_FALSE(child.process->isRunning());
    EXPECT_EQ(child.process->exitStatus(), c.expected);
  }
}

TEST_F(ProcessLauncherTest, terminate_endsARunningChildEvenWhenWeIgnoreTheSignal) {
  // The child must start with default dispositions, not with the ones this process has.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous;
  sigaction(SIGTERM, &ignore, &previous);
  LaunchedProcess child = launchShell(*launcher_, "exec sleep 30");
  sigaction(SIGTERM, &previous, nullptr);

  EXPECT_TRUE(child.process->isRunning());
  EXPECT_EQ(child.process->exitStatus(), std::nullopt);
  EXPECT_FALSE(child.process->waitForExit(std::chrono::steady_clock::now() + 10ms));
  EXPECT_TRUE(child.process->isRunning());

  child.process->terminate();
  ASSERT_TRUE(child.process->waitForExit(soon()));
  EXPECT_EQ(child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::signaled, SIGTERM}));
  child.process->terminate();  // harmless once ended
}

TEST_F(ProcessLauncherTest, endProcessGroup_killsAGroupThatIgnoresSIGTERMOnceTheGraceHasPassed) {
  struct Case {
    const char* label;
    // The handle is dropped right after the call: the group is killed all the same.
    bool dropHandle;
  };
  for (const Case c : {Case{"handle kept", false}, Case{"handle dropped", true}}) {
    SCOPED_TRACE(c.label);
    LaunchedProcess child = launchShell(*launcher_, kStubbornWrapper, StreamMode::nullDevice, true);
    const int leader = child.process->processID();
    const int grandchild = readGrandchild(child);
    // Does not block for the grace (a hang would show as the test's time-out).
    child.process->endProcessGroup(200ms);
    if (c.dropHandle) {
      child = {};
    } else {
      ASSERT_TRUE(child.process->waitForExit(soon()));
      EXPECT_EQ(child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::signaled, SIGKILL}));
    }
    // Our own child is reaped (no zombie either); the one it started is gone too.
    EXPECT_TRUE(test::endsBy(leader, soon()));
    EXPECT_TRUE(test::endsBy(grandchild, soon()));
    if (!c.dropHandle) {
      EXPECT_NE(::kill(leader, 0), 0);
    } else {
      auto deadline = soon();
      while (::kill(leader, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
      }
      EXPECT_NE(::kill(leader, 0), 0) << "the leader was not reaped";
    }
  }
}

TEST_F(ProcessLauncherTest, endProcessGroup_endsAPoliteGroupWithSIGTERM) {
  // The leader ends at SIGTERM; the program it left in the background is ended with it.
  LaunchedProcess child = launchShell(
      *launcher_, "sleep 300 </dev/null >/dev/null 2>&1 & echo $!; exec >&-; exec sleep 300",
      StreamMode::nullDevice, true);
  const int grandchild = readGrandchild(child);
  child.process->endProcessGroup(std::chrono::minutes(10));
  ASSERT_TRUE(child.process->waitForExit(soon()));
  EXPECT_EQ(child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::signaled, SIGTERM}));
  EXPECT_TRUE(test::endsBy(grandchild, soon()));
}

TEST_F(ProcessLauncherTest, destroyingTheLauncher_killsTheGroupsStillInTheirGrace) {
  std::unique_ptr<ProcessLauncher> launcher = makePosixProcessLauncher();
  LaunchedProcess child = launchShell(*launcher, kStubbornWrapper, StreamMode::nullDevice, true);
  const int grandchild = readGrandchild(child);
  child.process->endProcessGroup(std::chrono::minutes(10));
  launcher.reset();
  ASSERT_TRUE(child.process->waitForExit(soon()));
  EXPECT_EQ(child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::signaled, SIGKILL}));
  EXPECT_TRUE(test::endsBy(grandchild, soon()));
}

TEST_F(ProcessLauncherTest, terminate_endsAndReapsAStoppedChild) {
  LaunchedProcess child = launchShell(*launcher_, "exec sleep 300");
  const int pid = child.process->processID();
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  siginfo_t info = {};
  // Seen stopped (the report stays for the launcher's own wait).
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WNOWAIT), 0);
  EXPECT_TRUE(child.process->isRunning());

  child.process->terminate();
  ASSERT_TRUE(child.process->waitForExit(soon()));
  EXPECT_EQ(child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::signaled, SIGTERM}));
  EXPECT_NE(::kill(pid, 0), 0) << "not reaped";
}

TEST_F(ProcessLauncherTest, launch_failsForWhatCannotBeStarted) {
  test::TemporaryDirectory directory;
  std::string script = directory.writeFile("not-executable", "#!/bin/sh\n", 0644);
  struct Case {
    const char* label;
    std::string executable;
    std::string workingDirectory;
  };
  const Case cases[] = {
      {"missing", directory / "missing", ""},
      {"directory", directory.path(), ""},
      {"no execute bit", script, ""},
      {"missing working directory", "/bin/sh", directory / "nowhere"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ProcessLaunchOptions options;
    options.executablePath = c.executable;
    options.workingDirectory = c.workingDirectory;
    try {
      launcher_->launch(options);
      ADD_FAILURE() << "launched";
    } catch (const ProcessLaunchError& error) {
      EXPECT_NE(error.errorNumber(), 0);
      EXPECT_THAT(error.what(), ::testing::StartsWith("Could not launch " + c.executable + ": "));
    }
  }
}

TEST_F(ProcessLauncherTest, droppedHandle_childIsStillReaped) {
  pid_t pid;
  {
    LaunchedProcess child = launchShell(*launcher_, "exit 0");
    pid = child.process->processID();
  }
  // A zombie still answers kill(pid, 0); a reaped child does not. The reaping happens on
  // another thread, so this polls for it with a generous bound.
  auto deadline = std::chrono::steady_clock::now() + 30s;
  while (::kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_NE(::kill(pid, 0), 0);
  EXPECT_EQ(errno, ESRCH);
}

TEST_F(ProcessLauncherTest, writeAll_toAChildThatIsGoneFailsWithEPIPE) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous;
  sigaction(SIGPIPE, &ignore, &previous);
  LaunchedProcess child = launchShell(*launcher_, "exit 0", StreamMode::pipe);
  ASSERT_TRUE(child.process->waitForExit(soon()));
  try {
    child.standardInput->writeAll("data");
    ADD_FAILURE() << "write succeeded";
  } catch (const IOError& error) {
    EXPECT_EQ(error.errorNumber(), EPIPE);
  }
  sigaction(SIGPIPE, &previous, nullptr);
}

}  // namespace
}  // namespace vellora
