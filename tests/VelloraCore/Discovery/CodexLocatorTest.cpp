#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "VelloraCore/Discovery/CodexInstallDirectories.h"
#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "tests/support/Processes.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Optional;

class CodexLocatorTest : public ::testing::Test {
 protected:
  std::string makeExecutable(const std::string& relative) {
    return home_.writeFile(relative, "#!/bin/sh\nexit 0\n", 0755);
  }

  // A locator over `environment` whose shell step answers `shellAnswer` and records its calls.
  CodexLocator locator(Environment environment, std::optional<std::string> shellAnswer = {}) {
    return CodexLocator(*fileSystem_, std::move(environment), home_.path(),
                        [this, shellAnswer](const Environment& shellEnvironment) {
                          shellEnvironments_.push_back(shellEnvironment);
                          return shellAnswer;
                        });
  }

  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
  std::vector<Environment> shellEnvironments_;
};

// A relative override or PATH entry means the current directory, which is not where the
// app-server will run: what is found is made absolute.
TEST_F(CodexLocatorTest, locate_makesRelativeFindsAbsolute) {
  makeExecutable("tools/override/codex");
  makeExecutable("tools/bin/codex");
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(home_.path().c_str()), 0);
  const std::string here = fileSystem_->currentDirectory();
  const auto overrideFound = locator({{"VELLORA_CODEX_PATH", "tools/override/codex"}}).locate();
  const auto pathFound = locator({{"PATH", "./tools/./bin:/nowhere"}}).locate();
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(overrideFound, here + "/tools/override/codex");
  EXPECT_EQ(pathFound, here + "/tools/bin/codex");
}

TEST_F(CodexLocatorTest, locate_prefersTheOverrideToPath) {
  std::string override = makeExecutable("override/codex");
  makeExecutable("bin/codex");
  EXPECT_THAT(locator({{"VELLORA_CODEX_PATH", override}, {"PATH", home_ / "bin"}}).locate(),
              Optional(override));
  EXPECT_TRUE(shellEnvironments_.empty());
}

TEST_F(CodexLocatorTest, locate_passesOverOverridesThatCannotBeStarted) {
  std::string onPath = makeExecutable("bin/codex");
  home_.writeFile("plain/codex", "not a program", 0644);
  ASSERT_EQ(::mkdir((home_ / "folder").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((home_ / "gone").c_str(), (home_ / "dangling").c_str()), 0);
  ASSERT_EQ(::symlink(onPath.c_str(), (home_ / "link").c_str()), 0);
  struct Case {
    const char* label;
    std::string override;
    std::string expected;
  };
  const Case cases[] = {
      {"missing file", home_ / "missing", onPath},
      {"no execute bit", home_ / "plain/codex", onPath},
      {"directory", home_ / "folder", onPath},
      {"dangling link", home_ / "dangling", onPath},
      {"empty", "", onPath},
      {"link to a program, taken as given", home_ / "link", home_ / "link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_THAT(locator({{"VELLORA_CODEX_PATH", c.override}, {"PATH", home_ / "bin"}}).locate(),
                Optional(c.expected));
  }
}

TEST_F(CodexLocatorTest, locate_searchesPathInOrderSkippingEmptyPiecesAndFolders) {
  // "a/codex" is a folder: it has search permission but cannot be started.
  ASSERT_EQ(::mkdir((home_ / "a").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((home_ / "a/codex").c_str(), 0755), 0);
  std::string inB = makeExecutable("b/codex");
  makeExecutable("c/codex");
  std::string path = home_ / "a" + "::" + home_ / "b/" + ":" + home_ / "c" + ":";
  EXPECT_THAT(locator({{"PATH", path}}).locate(), Optional(home_ / "b/codex"));
  EXPECT_EQ(inB, home_ / "b/codex");
}

TEST_F(CodexLocatorTest, locate_asksTheShellWithHomeFilledIn) {
  std::string fromShell = makeExecutable("shell/codex");
  struct Case {
    const char* label;
    Environment environment;
    std::string expectedHome;
  };
  const Case cases[] = {
      {"missing HOME", {{"LANG", "C"}}, home_.path()},
      {"empty HOME", {{"HOME", ""}}, home_.path()},
      {"HOME kept", {{"HOME", "/elsewhere"}}, "/elsewhere"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    shellEnvironments_.clear();
    EXPECT_THAT(locator(c.environment, fromShell).locate(), Optional(fromShell));
    ASSERT_EQ(shellEnvironments_.size(), 1u);
    EXPECT_EQ(shellEnvironments_[0]["HOME"], c.expectedHome);
    for (const auto& [name, value] : c.environment) {
      if (name != "HOME") {
        EXPECT_EQ(shellEnvironments_[0][name], value);
      }
    }
  }
}

TEST_F(CodexLocatorTest, locate_fallsBackToInstallFoldersWithNewestNodeVersionFirst) {
  makeExecutable(".nvm/versions/node/v9.0.0/bin/codex");
  makeExecutable(".nvm/versions/node/v20.20.0/bin/codex");
  std::string newest = makeExecutable(".nvm/versions/node/v22.1.0/bin/codex");
  // The shell's answer is not executable, so the search goes on.
  EXPECT_THAT(locator({{"PATH", home_ / "nothing"}}, home_ / "no/codex").locate(),
              Optional(newest));
  EXPECT_EQ(shellEnvironments_.size(), 1u);
}

TEST_F(CodexLocatorTest, locate_findsNothingAfterOneShellStep) {
  // The fixed system folders are searched too, so this holds only where none has a codex.
  for (const char* directory :
       {"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"}) {
    if (fileSystem_->isExecutableFile(std::string(directory) + "/codex")) {
      GTEST_SKIP() << "this machine has " << directory << "/codex";
    }
  }
  home_.writeFile(".codex/bin/codex", "no execute bit", 0644);
  EXPECT_EQ(locator({{"PATH", home_ / "empty"}}).locate(), std::nullopt);
  EXPECT_EQ(shellEnvironments_.size(), 1u);
}

TEST_F(CodexLocatorTest, installDirectories_listNodeVersionsOnceAndInNaturalOrder) {
  for (const char* version : {"v20.20.0", "v9.0.0", "v22.1.0", "v22.10.0"}) {
    ASSERT_NO_THROW(fileSystem_->createDirectories(home_ / ".nvm/versions/node/" + version));
  }
  home_.writeFile(".nvm/versions/node/v99.0.0", "a file, not a version");
  ASSERT_NO_THROW(fileSystem_->createDirectories(home_ / ".nvm/versions/node/.v50.0.0"));
  const std::string h = home_.path();
  EXPECT_THAT(
      codexInstallDirectories(h + "/", *fileSystem_),
      ElementsAre(h + "/.codex/bin", h + "/.local/bin", h + "/.nvm/current/bin",
                  h + "/.nvm/versions/node/v22.10.0/bin", h + "/.nvm/versions/node/v22.1.0/bin",
                  h + "/.nvm/versions/node/v20.20.0/bin", h + "/.nvm/versions/node/v9.0.0/bin",
                  "/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"));

  // Without the folder the fixed v20.20.0 entry stands alone.
  test::TemporaryDirectory bare;
  const std::string b = bare.path();
  EXPECT_THAT(codexInstallDirectories(b, *fileSystem_),
              ElementsAre(b + "/.codex/bin", b + "/.local/bin", b + "/.nvm/current/bin",
                          b + "/.nvm/versions/node/v20.20.0/bin", "/opt/homebrew/bin",
                          "/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"));
}

// The shell step, with scripts standing in for zsh.
class ResolveShellCodexPathTest : public ::testing::Test {
 protected:
  // A "shell" that prints the bytes of `output` and exits with `status`.
  std::string shellPrinting(const std::string& output, int status = 0) {
    std::string outputFile = directory_.writeFile("output" + std::to_string(++count_), output);
    return directory_.writeFile(
        "shell" + std::to_string(count_),
        "#!/bin/sh\ncat '" + outputFile + "'\nexit " + std::to_string(status) + "\n", 0755);
  }

  std::optional<std::string> resolve(const std::string& shell, Environment environment = {},
                                     Seconds timeout = Seconds(30)) {
    return CodexLocator::resolveShellCodexPath(*launcher_, environment, shell, {"-lic", "ignored"},
                                               timeout);
  }

  test::TemporaryDirectory directory_;
  std::unique_ptr<ProcessLauncher> launcher_ = makePosixProcessLauncher();
  int count_ = 0;
};

TEST_F(ResolveShellCodexPathTest, takesTheLastLineStartingWithASlash) {
  struct Case {
    const char* label;
    std::string output;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"greeting first", "Welcome back!\n/usr/local/bin/codex\n", "/usr/local/bin/codex"},
      {"trimmed, CRLF", "  /opt/a/codex \t\r\n\r\n", "/opt/a/codex"},
      {"last of several", "/first/codex\n/second/codex\nbye\n", "/second/codex"},
      {"Unicode line separators", "hello\u2028/u/codex\u0085tail", "/u/codex"},
      {"no final newline", "/x/codex", "/x/codex"},
      {"alias description only", "codex: aliased to npx codex\n", std::nullopt},
      {"nothing", "", std::nullopt},
      {"not UTF-8", "/usr/bin/codex\n\xff\xfe\n", std::nullopt},
      {"output larger than a pipe", std::string(300000, 'x') + "\n/big/codex\n", "/big/codex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(resolve(shellPrinting(c.output)), c.expected);
  }
}

TEST_F(ResolveShellCodexPathTest, givesNothingWhenTheShellFails) {
  EXPECT_EQ(resolve(shellPrinting("/usr/bin/codex\n", 1)), std::nullopt);
  EXPECT_EQ(resolve(directory_ / "no-such-shell"), std::nullopt);
}

TEST_F(ResolveShellCodexPathTest, givesNothingWhenTheShellOutlivesTheTimeout) {
  std::string slow =
      directory_.writeFile("slow", "#!/bin/sh\necho /early/codex\nexec sleep 60\n", 0755);
  EXPECT_EQ(resolve(slow, {}, Seconds(0.2)), std::nullopt);
}

// A shell that ignores SIGTERM (as an interactive zsh does) and a program its start-up file
// left running: on time-out both are ended, not left behind.
TEST_F(ResolveShellCodexPathTest, aTimedOutShellIsEndedWithEverythingItStarted) {
  const std::string stubborn = directory_.writeFile(
      "stubborn",
      "#!/bin/sh\ntrap '' TERM\necho $$ > '" + (directory_ / "shell.pid") +
          "'\nsleep 60 &\necho $! > '" + (directory_ / "sleep.pid") + "'\nwait\nwait\n",
      0755);
  EXPECT_EQ(resolve(stubborn, {}, Seconds(0.5)), std::nullopt);

  for (const char* file : {"shell.pid", "sleep.pid"}) {
    SCOPED_TRACE(file);
    std::ifstream pidFile(directory_ / file);
    pid_t pid = 0;
    ASSERT_TRUE(pidFile >> pid);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!test::hasEnded(pid) && std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(test::hasEnded(pid)) << "still running: " << pid;
  }
}

TEST_F(ResolveShellCodexPathTest, runsWithExactlyTheEnvironmentAndNoInput) {
  // `cat` returns at once on /dev/null; on a shared standard input it would wait or eat bytes.
  std::string shell = directory_.writeFile(
      "env-shell", "#!/bin/sh\ninput=$(cat)\necho \"/$CODEX_HOME_TEST/${HOME:-none}/$input\"\n",
      0755);
  EXPECT_THAT(resolve(shell, {{"CODEX_HOME_TEST", "seen"}}), Optional(std::string("/seen/none/")));
}

TEST_F(ResolveShellCodexPathTest, loginShellResolver_readsTheUsersStartupFiles) {
  if (::access(std::string(CodexLocator::kLoginShellPath).c_str(), X_OK) != 0) {
    GTEST_SKIP() << "no " << CodexLocator::kLoginShellPath;
  }
  std::string codex = directory_.writeFile("tools/codex", "#!/bin/sh\n", 0755);
  directory_.writeFile(".zshrc", "echo 'Good morning'\nexport PATH=\"$HOME/tools:$PATH\"\n");
  auto resolver = CodexLocator::loginShellResolver(*launcher_);
  EXPECT_THAT(resolver({{"HOME", directory_.path()}, {"PATH", "/usr/bin:/bin"}}), Optional(codex));
}

}  // namespace
}  // namespace vellora
