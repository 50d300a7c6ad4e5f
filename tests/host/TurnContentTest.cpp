// What a chat turn sends to Codex and brings back besides text, through the real host binary
// with the stand-in for `codex app-server`: which saved images become attachments (only Codex's
// own output of the running turn names them, only Codex's own image folder holds them, only real
// images are sent), and where Codex's own folder lies (CODEX_HOME).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/TurnContent/Base64.h"
#include "tests/VelloraCore/TurnContent/ImageFixtures.h"
#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/support/FakeCodexScenario.h"
#include "tests/support/HostProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using namespace test::fakeCodex;

// An item notification of the running turn (or of `turn`).
JSONValue itemNotice(std::string_view method, JSONValue item, std::string_view turn = "turn-1") {
  return notify(
      method,
      JSONValue::object({{"threadId", "thread-1"}, {"turnId", turn}, {"item", std::move(item)}}));
}

// What the host wrote for one chat turn.
struct TurnReplies {
  std::vector<std::string> deltas;
  std::vector<JSONValue> attachments;
  std::optional<NativeEnvelope> last;

  // "filePath mimeType" (or "id mimeType" for an image without a file) of each attachment.
  std::vector<std::string> attachmentLabels() const {
    std::vector<std::string> labels;
    for (const JSONValue& attachment : attachments) {
      const std::string* name = stringMember(&attachment, "filePath");
      if (name == nullptr) name = stringMember(&attachment, "id");
      const std::string* mimeType = stringMember(&attachment, "mimeType");
      labels.push_back((name ? *name : "?") + " " + (mimeType ? *mimeType : "?"));
    }
    return labels;
  }
};

TurnReplies readTurn(test::HostProcess& host) {
  TurnReplies replies;
  while (std::optional<NativeEnvelope> reply = host.readReply()) {
    if (reply->type == "chat.delta" && reply->delta) {
      replies.deltas.push_back(*reply->delta);
    } else if (reply->type == "chat.attachment" && reply->attachment) {
      replies.attachments.push_back(*reply->attachment);
    } else {
      replies.last = std::move(reply);
      break;
    }
  }
  return replies;
}

NativeEnvelope chatTurn(std::string prompt = "Hi") {
  return {.type = "chat.turn", .requestId = "r1", .sessionId = "s1", .prompt = std::move(prompt)};
}

const NativeEnvelope kDone = {.type = "chat.done", .requestId = "r1", .sessionId = "s1"};

class TurnContentTest : public ::testing::Test {
 protected:
  // The host's environment with `home` as HOME (the fixture's own by default) and `extra` added.
  Environment hostEnvironment(const std::string& home, const Environment& extra = {}) const {
    Environment environment = {{"HOME", home},
                               {"PATH", "/usr/bin:/bin"},
                               {"LANG", "C"},
                               {test::kFakeCodexScenarioVariable, scenario_.path()},
                               {"VELLORA_CODEX_PATH", test::kFakeCodexPath}};
    for (const auto& [name, value] : extra) environment[name] = value;
    return environment;
  }

  // One turn with these notifications after the "turn/start" response, then its completion.
  TurnReplies runTurn(const Environment& environment, JSONValue::Array actions,
                      NativeEnvelope request = chatTurn()) {
    actions.insert(actions.begin(), turnStarted());
    actions.push_back(turnCompleted());
    scenario_.write({{"turn/start", std::move(actions)}});
    test::HostProcess host(environment);
    host.send(request);
    TurnReplies replies = readTurn(host);
    EXPECT_EQ(replies.last, kDone);
    EXPECT_EQ(host.waitForExit(), 0);
    EXPECT_EQ(host.standardErrorText(), "");
    return replies;
  }

  // A fresh folder inside the fixture's HOME, for a case that needs a HOME of its own.
  std::string freshHome(const std::string& name) const {
    const std::string path = home_ / name;
    fileSystem_->createDirectories(path);
    return path;
  }

  void makeLink(const std::string& target, const std::string& link) const {
    fileSystem_->createDirectories(link.substr(0, link.rfind('/')));
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
  }

  std::string writeFile(const std::string& path, const std::string& contents) const {
    fileSystem_->createDirectories(path.substr(0, path.rfind('/')));
    fileSystem_->writeFileAtomically(path, contents);
    return path;
  }

  test::TemporaryDirectory home_;
  test::FakeCodexScenario scenario_{home_.path()};
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
};

// Codex echoes the user's input (which holds the page context) in userMessage items; a page
// that writes a saved image's path into its text must not make the host send that file. Only
// the answer's text and image items of the running turn name images: each message below names
// a file of its own, so that one sent for the answer cannot hide one sent for another message.
TEST_F(TurnContentTest, onlyTheRunningTurnsOwnOutput_bringsSavedImages) {
  const std::string images = home_ / ".codex/generated_images/thread-1";
  const auto image = [&](const std::string& name) {
    return writeFile(images + "/" + name + ".png", test::makePNG(8, 8));
  };
  const std::string echoed = image("echoed"), echoedLater = image("echoed-later"),
                    rawUser = image("raw-user"), reasoning = image("reasoning"),
                    command = image("command"), started = image("started"),
                    earlierDelta = image("earlier-delta"), earlierItem = image("earlier-item"),
                    answer = image("answer"), completed = image("completed"),
                    generated = image("generated");
  const auto userText = [](const std::string& path) {
    return JSONValue::Array{
        JSONValue::object({{"type", "text"}, {"text", "The page says " + path}})};
  };
  const TurnReplies replies = runTurn(
      hostEnvironment(home_.path()),
      {
          itemNotice("item/started",
                     JSONValue::object(
                         {{"type", "userMessage"}, {"id", "u1"}, {"content", userText(echoed)}})),
          itemNotice("item/completed", JSONValue::object({{"type", "userMessage"},
                                                          {"id", "u1"},
                                                          {"content", userText(echoedLater)}})),
          itemNotice("rawResponseItem/completed",
                     JSONValue::object(
                         {{"type", "message"}, {"role", "user"}, {"content", userText(rawUser)}})),
          itemNotice(
              "item/completed",
              JSONValue::object(
                  {{"type", "reasoning"}, {"id", "r1"}, {"summary", JSONValue::Array{reasoning}}})),
          itemNotice("item/completed", JSONValue::object({{"type", "commandExecution"},
                                                          {"id", "c1"},
                                                          {"command", "ls " + command},
                                                          {"aggregatedOutput", command}})),
          itemNotice(
              "item/started",
              JSONValue::object({{"type", "agentMessage"}, {"id", "m1"}, {"text", started}})),
          // An earlier turn of the thread that Codex finishes late.
          delta("Earlier: " + earlierDelta, "turn-0"),
          itemNotice(
              "item/completed",
              JSONValue::object({{"type", "agentMessage"}, {"id", "m0"}, {"text", earlierItem}}),
              "turn-0"),
          imageSaved(generated, "turn-0"),
          delta("Here it is: " + answer),
          itemNotice(
              "item/completed",
              JSONValue::object({{"type", "agentMessage"}, {"id", "m1"}, {"text", completed}})),
          imageSaved(generated),
      });
  EXPECT_THAT(replies.deltas, ElementsAre("Here it is: " + answer));
  EXPECT_THAT(
      replies.attachmentLabels(),
      ElementsAre(answer + " image/png", completed + " image/png", generated + " image/png"));
}

}  // namespace
}  // namespace vellora
