#include "VelloraCore/Discovery/CodexHomeDirectory.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

TEST(CodexHomeDirectoryTest, isAnAbsoluteCODEX_HOMEElseHOMEsCodexFolder) {
  struct Case {
    const char* label;
    Environment environment;
    const char* expected;
  };
  const Case cases[] = {
      {"unset", {{"HOME", "/elsewhere"}}, "/Users/a/.codex"},
      {"absolute", {{"CODEX_HOME", "/data/codex"}}, "/data/codex"},
      {"absolute with trailing slashes", {{"CODEX_HOME", "/data/codex//"}}, "/data/codex"},
      {"relative", {{"CODEX_HOME", "codex"}}, "/Users/a/.codex"},
      {"relative to the working folder", {{"CODEX_HOME", "./codex"}}, "/Users/a/.codex"},
      {"home-relative, which no shell expanded", {{"CODEX_HOME", "~/codex"}}, "/Users/a/.codex"},
      {"empty", {{"CODEX_HOME", ""}}, "/Users/a/.codex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(codexHomeDirectory(c.environment, "/Users/a"), c.expected);
    EXPECT_EQ(codexHomeDirectory(c.environment, "/Users/a/"), c.expected);
  }
}

}  // namespace
}  // namespace vellora
