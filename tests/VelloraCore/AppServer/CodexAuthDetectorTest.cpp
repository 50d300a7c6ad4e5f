#include "VelloraCore/AppServer/CodexAuthDetector.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "VelloraCore/Discovery/CodexHomeDirectory.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

class CodexAuthDetectorTest : public ::testing::Test {
 protected:
  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
  CodexAuthDetector detector_{codexHomeDirectory({}, home_.path()), *fileSystem_};

  void writeCredentials(const std::string& contents) {
    home_.writeFile(".codex/auth.json", contents);
  }
};

TEST_F(CodexAuthDetectorTest, readsTheCredentialsFileInTheCodexHome) {
  EXPECT_EQ(detector_.codexHomeDirectory(), home_.path() + "/.codex");
  EXPECT_EQ(detector_.credentialsFilePath(), home_.path() + "/.codex/auth.json");
}

TEST_F(CodexAuthDetectorTest, withoutCredentialsFileReportsMissing) {
  EXPECT_FALSE(detector_.hasAuthSession());
  EXPECT_EQ(detector_.healthState(), HealthState::missing);
  fileSystem_->createDirectories(home_ / ".codex");
  EXPECT_EQ(detector_.healthState(), HealthState::missing);
}

TEST_F(CodexAuthDetectorTest, judgesTheContentOfTheCredentialsFile) {
  struct Case {
    const char* label;
    std::string contents;
    bool signedIn;
  } cases[] = {
      // The shapes Codex writes: a key login and a ChatGPT login.
      {"api key login", R"({"auth_mode":"apikey","OPENAI_API_KEY":"sk-test"})", true},
      {"chatgpt login",
       R"({"OPENAI_API_KEY":null,"tokens":{"id_token":"a","access_token":"b"},)"
       R"("last_refresh":"2026-01-01T00:00:00Z"})",
       true},
      {"key alone", R"({"OPENAI_API_KEY":"sk-test"})", true},
      {"key padded with white space", "{\"OPENAI_API_KEY\":\"\\n  sk-test \\t\"}", true},
      {"key of spaces and a line break", "{\"OPENAI_API_KEY\":\"  \\n\"}", false},
      {"key of Unicode white space only", "{\"OPENAI_API_KEY\":\"\\u00a0\\u2028\\u3000\\u0085\"}",
       false},
      {"key that is not text", R"({"OPENAI_API_KEY":42})", false},
      {"key null and nothing else", R"({"OPENAI_API_KEY":null})", false},
      {"empty tokens", R"({"tokens":{}})", false},
      {"tokens with one member of any kind", R"({"tokens":{"x":null}})", true},
      {"tokens as text", R"({"tokens":"abc"})", false},
      {"tokens as array", R"({"tokens":["abc"]})", false},
      {"tokens as text, then auth mode with refresh",
       R"({"tokens":"abc","auth_mode":"chatgpt","last_refresh":"x"})", true},
      {"empty tokens, then auth mode with refresh",
       R"({"tokens":{},"auth_mode":"chatgpt","last_refresh":1})", true},
      {"auth mode without refresh", R"({"auth_mode":"chatgpt"})", false},
      {"auth mode with null refresh", R"({"auth_mode":"chatgpt","last_refresh":null})", true},
      {"blank auth mode with refresh", R"({"auth_mode":" \n","last_refresh":"x"})", false},
      {"auth mode that is not text", R"({"auth_mode":true,"last_refresh":"x"})", false},
      {"refresh alone", R"({"last_refresh":"x"})", false},
      {"unrelated members", R"({"OPENAI_KEY":"sk-test","token":{"a":1}})", false},
      {"empty object", "{}", false},
      {"top-level array", R"([{"OPENAI_API_KEY":"sk-test"}])", false},
      {"top-level text", R"("sk-test")", false},
      {"invalid JSON", R"({"OPENAI_API_KEY":"sk-test")", false},
      {"empty file", "", false},
      {"nested too deeply", "{\"tokens\":" + std::string(5000, '[') + std::string(5000, ']') + "}",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    writeCredentials(c.contents);
    EXPECT_EQ(detector_.hasAuthSession(), c.signedIn);
    EXPECT_EQ(detector_.healthState(), c.signedIn ? HealthState::ready : HealthState::missing);
  }
}

TEST_F(CodexAuthDetectorTest, readsTheFileAnewOnEveryCall) {
  writeCredentials(R"({"OPENAI_API_KEY":"sk-test"})");
  EXPECT_TRUE(detector_.hasAuthSession());
  writeCredentials("{}");
  EXPECT_FALSE(detector_.hasAuthSession());
  writeCredentials(R"({"tokens":{"access_token":"b"}})");
  EXPECT_TRUE(detector_.hasAuthSession());
}

TEST_F(CodexAuthDetectorTest, followsLinksAndRejectsWhatIsNotAReadableFile) {
  const std::string credentials = home_ / ".codex/auth.json";
  fileSystem_->createDirectories(credentials);
  EXPECT_FALSE(detector_.hasAuthSession()) << "a directory named auth.json";
  fileSystem_->removeTree(credentials);

  ASSERT_EQ(::symlink((home_ / "elsewhere.json").c_str(), credentials.c_str()), 0);
  EXPECT_FALSE(detector_.hasAuthSession()) << "a dangling link";
  home_.writeFile("elsewhere.json", R"({"OPENAI_API_KEY":"sk-test"})");
  EXPECT_TRUE(detector_.hasAuthSession()) << "a link to a signed-in file";
}

TEST_F(CodexAuthDetectorTest, anOversizedFileIsNotACredentialsFile) {
  writeCredentials(R"({"OPENAI_API_KEY":"sk-test","padding":")" + std::string(5 << 20, 'x') +
                   "\"}");
  EXPECT_FALSE(detector_.hasAuthSession());
}

}  // namespace
}  // namespace vellora
