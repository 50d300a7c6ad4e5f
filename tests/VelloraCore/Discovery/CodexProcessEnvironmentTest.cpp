#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "VelloraCore/Discovery/CodexProcessEnvironment.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using ::testing::ElementsAreArray;

class CodexProcessEnvironmentTest : public ::testing::Test {
 protected:
  // The install folders between the codex folder and the inherited PATH, without Node versions.
  std::vector<std::string> fixedFolders() const {
    const std::string& h = home_.path();
    return {h + "/.codex/bin",
            h + "/.local/bin",
            h + "/.nvm/current/bin",
            h + "/.nvm/versions/node/v20.20.0/bin",
            "/opt/homebrew/bin",
            "/usr/local/bin",
            "/usr/bin",
            "/bin",
            "/usr/sbin",
            "/sbin"};
  }

  std::vector<std::string> concatenated(std::vector<std::string> head,
                                        const std::vector<std::string>& tail) const {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  }

  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
};

TEST_F(CodexProcessEnvironmentTest, pathComponents_putCodexFirstThenInstallFoldersThenPath) {
  const std::vector<std::string> fixed = fixedFolders();
  struct Case {
    const char* label;
    std::string codexPath;
    std::optional<std::string> inheritedPath;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"codex folder among the fixed ones; inherited entries already present",
       "/opt/homebrew/bin/codex", "/usr/bin:/bin",
       concatenated({"/opt/homebrew/bin"},
                    concatenated(std::vector(fixed.begin(), fixed.begin() + 4),
                                 std::vector(fixed.begin() + 5, fixed.end())))},
      {"unknown inherited folder kept last; empty pieces dropped", "/somewhere/codex",
       ":/Users/someone/tools::/usr/bin:",
       concatenated(concatenated({"/somewhere"}, fixed), {"/Users/someone/tools"})},
      {"no inherited PATH", "/somewhere/codex", std::nullopt, concatenated({"/somewhere"}, fixed)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Environment base;
    if (c.inheritedPath) base["PATH"] = *c.inheritedPath;
    CodexProcessEnvironment environment(c.codexPath, base, home_.path(), *fileSystem_);
    EXPECT_THAT(environment.pathComponents(), ElementsAreArray(c.expected));
  }
}

TEST_F(CodexProcessEnvironmentTest, pathComponents_listCodexNodeVersionOnlyFirst) {
  for (const char* version : {"v20.20.0", "v22.1.0"}) {
    ASSERT_NO_THROW(fileSystem_->createDirectories(home_ / ".nvm/versions/node/" + version));
  }
  const std::string h = home_.path();
  const std::string codexFolder = h + "/.nvm/versions/node/v22.1.0/bin";
  CodexProcessEnvironment environment(codexFolder + "/codex", {}, h, *fileSystem_);
  EXPECT_THAT(
      environment.pathComponents(),
      ElementsAreArray({codexFolder, h + "/.codex/bin", h + "/.local/bin", h + "/.nvm/current/bin",
                        h + "/.nvm/versions/node/v20.20.0/bin", std::string("/opt/homebrew/bin"),
                        std::string("/usr/local/bin"), std::string("/usr/bin"), std::string("/bin"),
                        std::string("/usr/sbin"), std::string("/sbin")}));
}

TEST_F(CodexProcessEnvironmentTest, values_fillHomeRebuildPathAndPassEverythingElse) {
  struct Case {
    const char* label;
    std::optional<std::string> home;
    std::string expectedHome;
  };
  const Case cases[] = {
      {"missing HOME", std::nullopt, home_.path()},
      {"empty HOME", "", home_.path()},
      {"other HOME kept", "/Users/other", "/Users/other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Environment base = {{"LANG", "fr_FR.UTF-8"},
                        {"TMPDIR", "/var/tmp/x"},
                        {"VELLORA_CODEX_PATH", "/custom/codex"},
                        {"PATH", "/usr/bin"}};
    if (c.home) base["HOME"] = *c.home;
    Environment values =
        CodexProcessEnvironment("/tools/codex", base, home_.path(), *fileSystem_).values();

    Environment expected = base;
    expected["HOME"] = c.expectedHome;
    // The PATH entries use the home folder given, never the HOME variable.
    std::string path = "/tools";
    for (const std::string& folder : fixedFolders()) path += ":" + folder;
    expected["PATH"] = path;
    EXPECT_EQ(values, expected);
  }
}

}  // namespace
}  // namespace vellora
