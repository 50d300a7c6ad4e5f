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

// A saved image lies in Codex's own image folder, <Codex home>/generated_images, whatever that
// folder is called and wherever its links lead: no other folder of that name counts.
TEST_F(TurnContentTest, savedImages_comeOnlyFromCodexsOwnImageFolder) {
  const std::string png = test::makePNG(8, 8);
  struct Case {
    const char* label;
    // Makes the case's files in its HOME; returns the extra environment, the notifications and
    // the files expected as attachments, in order.
    std::function<void(const std::string& home, Environment& environment, JSONValue::Array& actions,
                       std::vector<std::string>& expected)>
        setUp;
  };
  const Case cases[] = {
      {"a checkout's .codex/generated_images is not Codex's folder",
       [&](const std::string& home, Environment&, JSONValue::Array& actions,
           std::vector<std::string>&) {
         const std::string doc = writeFile(home + "/src/app/.codex/generated_images/doc.png", png);
         actions = {imageSaved(doc), delta("See " + doc)};
       }},
      {"a ~/.codex that is a link: both its path and the resolved one",
       [&](const std::string& home, Environment&, JSONValue::Array& actions,
           std::vector<std::string>& expected) {
         writeFile(home + "/data/codex/generated_images/t/a.png", png);
         const std::string resolved = writeFile(home + "/data/codex/generated_images/t/b.png", png);
         makeLink(home + "/data/codex", home + "/.codex");
         const std::string given = home + "/.codex/generated_images/t/a.png";
         actions = {imageSaved(given), delta("Also " + resolved + ".")};
         expected = {given, resolved};
       }},
      {"CODEX_HOME names the folder, and HOME's .codex is then not Codex's",
       [&](const std::string& home, Environment& environment, JSONValue::Array& actions,
           std::vector<std::string>& expected) {
         environment["CODEX_HOME"] = home + "/state/codex";
         const std::string a = writeFile(home + "/state/codex/generated_images/a.png", png);
         const std::string b = writeFile(home + "/state/codex/generated_images/t/b.png", png);
         const std::string old = writeFile(home + "/.codex/generated_images/old.png", png);
         actions = {imageSaved(a), delta(b + " and " + old)};
         expected = {a, b};
       }},
      {"a CODEX_HOME that is a link, named as set",
       [&](const std::string& home, Environment& environment, JSONValue::Array& actions,
           std::vector<std::string>& expected) {
         const std::string file = writeFile(home + "/disk/codex/generated_images/a.png", png);
         makeLink(home + "/disk/codex", home + "/codex-link");
         environment["CODEX_HOME"] = home + "/codex-link/";
         const std::string given = home + "/codex-link/generated_images/a.png";
         actions = {delta("Saved " + given), imageSaved(file)};
         expected = {given, file};
       }},
      {"links inside the folder that lead out of it",
       [&](const std::string& home, Environment&, JSONValue::Array& actions,
           std::vector<std::string>&) {
         const std::string outside = writeFile(home + "/Pictures/private.png", png);
         makeLink(outside, home + "/.codex/generated_images/link.png");
         makeLink(home + "/Pictures", home + "/.codex/generated_images/pictures");
         actions = {imageSaved(home + "/.codex/generated_images/link.png"),
                    delta(home + "/.codex/generated_images/pictures/private.png")};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string home = freshHome(std::to_string(&c - cases));
    Environment extra;
    JSONValue::Array actions;
    std::vector<std::string> expected;
    c.setUp(home, extra, actions, expected);
    const TurnReplies replies = runTurn(hostEnvironment(home, extra), std::move(actions));
    std::vector<std::string> sent;
    for (const JSONValue& attachment : replies.attachments) {
      const std::string* path = stringMember(&attachment, "filePath");
      sent.push_back(path ? *path : "<no file>");
    }
    EXPECT_THAT(sent, ElementsAreArray(expected));
  }
}

// A file in the image folder is sent only when its bytes are a PNG, JPEG or WebP image whose
// header parses, at most 16384 pixels each way; its type comes from its bytes, not its name.
TEST_F(TurnContentTest, onlyRealImages_becomeAttachments_typedByTheirBytes) {
  const std::string images = home_ / ".codex/generated_images/t";
  struct Case {
    const char* name;
    std::string bytes;
    const char* mimeType;  // nullptr: not sent
  };
  const Case cases[] = {
      {"notes.png", "Private notes: the door code is 4711.\n", nullptr},
      {"photo.png", test::makeJPEG(8, 8), "image/jpeg"},
      {"picture.jpg", test::makeWebP(8, 8), "image/webp"},
      {"image.webp", test::makePNG(8, 8), "image/png"},
      {"widest.png", test::pngClaimingSize(16384, 1), "image/png"},
      {"too-wide.png", test::pngClaimingSize(16385, 1), nullptr},
      {"too-tall.png", test::pngClaimingSize(1, 20000), nullptr},
      {"signature-only.png", "\x89PNG\r\n\x1a\n", nullptr},
      {"broken.jpg", "\xFF\xD8\xFF\xE0 not a JPEG header", nullptr},
      {"riff.webp", std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), nullptr},
  };
  JSONValue::Array actions;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    const std::string path = writeFile(images + "/" + c.name, c.bytes);
    actions.push_back(delta("Saved " + path + "\n"));
    if (c.mimeType) expected.push_back(path + " " + c.mimeType);
  }
  // Images that Codex returns inline are judged the same way.
  const auto inlineImage = [](const char* id, const std::string& result) {
    return itemNotice(
        "rawResponseItem/completed",
        JSONValue::object({{"type", "image_generation_call"}, {"id", id}, {"result", result}}));
  };
  actions.push_back(inlineImage("text", base64Encoded("just text, no image")));
  actions.push_back(
      inlineImage("named_webp", "data:image/webp;base64," + base64Encoded(test::makePNG(4, 4))));
  expected.push_back("generated_named_webp image/png");

  const TurnReplies replies = runTurn(hostEnvironment(home_.path()), std::move(actions));
  EXPECT_THAT(replies.attachmentLabels(), ElementsAreArray(expected));
  for (const JSONValue& attachment : replies.attachments) {
    const std::string& url = *stringMember(&attachment, "dataUrl");
    EXPECT_TRUE(url.starts_with("data:" + *stringMember(&attachment, "mimeType") + ";base64,"));
  }
}

// Codex keeps its files in $CODEX_HOME when that is an absolute path, else in HOME/.codex: the
// sign-in file and the skill folders are looked for there, and the child keeps CODEX_HOME.
TEST_F(TurnContentTest, codexsOwnFolder_isCODEX_HOMEWhenAbsoluteElseHOMEsCodex) {
  struct Case {
    const char* label;
    // CODEX_HOME relative to the case's HOME ("" set but empty); nothing: unset.
    std::optional<std::string> codexHome;
    bool absolute = true;
    // Where auth.json is written, relative to the case's HOME.
    std::string authFile;
    HealthState auth;
    // The skills (folders relative to the case's HOME) whose instructions reach Codex.
    std::vector<std::string> readSkills;
  };
  const std::vector<std::string> skillFolders = {".codex/skills",      ".codex/plugins/cache",
                                                 "codex-state/skills", "codex-state/plugins/cache",
                                                 ".agents/skills",     ".synk/skills"};
  const Case cases[] = {
      {.label = "unset",
       .authFile = ".codex/auth.json",
       .auth = HealthState::ready,
       .readSkills = {".codex/skills", ".codex/plugins/cache", ".agents/skills", ".synk/skills"}},
      {.label = "absolute",
       .codexHome = "codex-state",
       .authFile = "codex-state/auth.json",
       .auth = HealthState::ready,
       .readSkills = {"codex-state/skills", "codex-state/plugins/cache", ".agents/skills",
                      ".synk/skills"}},
      {.label = "absolute, signed in only under HOME/.codex",
       .codexHome = "codex-state",
       .authFile = ".codex/auth.json",
       .auth = HealthState::missing,
       .readSkills = {"codex-state/skills", "codex-state/plugins/cache", ".agents/skills",
                      ".synk/skills"}},
      {.label = "relative",
       .codexHome = "codex-state",
       .absolute = false,
       .authFile = ".codex/auth.json",
       .auth = HealthState::ready,
       .readSkills = {".codex/skills", ".codex/plugins/cache", ".agents/skills", ".synk/skills"}},
      {.label = "empty",
       .codexHome = "",
       .absolute = false,
       .authFile = ".codex/auth.json",
       .auth = HealthState::ready,
       .readSkills = {".codex/skills", ".codex/plugins/cache", ".agents/skills", ".synk/skills"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string home = freshHome(std::string("home-") + std::to_string(&c - cases));
    Environment extra;
    if (c.codexHome) extra["CODEX_HOME"] = c.absolute ? home + "/" + *c.codexHome : *c.codexHome;
    writeFile(home + "/" + c.authFile, R"({"OPENAI_API_KEY": "sk-test"})");
    JSONValue::Array commands;
    for (const std::string& folder : skillFolders) {
      const std::string path = writeFile(home + "/" + folder + "/s/SKILL.md", "From " + folder);
      commands.push_back(JSONValue::object({{"kind", "skill"}, {"name", folder}, {"path", path}}));
    }
    const std::string launchRecord = home + "/launch.json";
    scenario_.write({{"turn/start", JSONValue::Array{turnStarted(), turnCompleted()}}},
                    {{"launchRecord", launchRecord}});
    test::HostProcess host(hostEnvironment(home, extra));

    host.send({.type = "health", .requestId = "h1"});
    std::optional<NativeEnvelope> health = host.readReply();
    ASSERT_TRUE(health && health->status);
    EXPECT_EQ(health->status->auth, c.auth);

    NativeEnvelope request = chatTurn();
    request.commands = JSONValue(std::move(commands));
    host.send(request);
    EXPECT_EQ(readTurn(host).last, kDone);
    EXPECT_EQ(host.waitForExit(), 0);

    const std::vector<JSONValue> turns = scenario_.paramsOf("turn/start");
    ASSERT_FALSE(turns.empty());
    const std::string& text =
        *turns.back().subscript("input")->arrayValue()->at(0).subscript("text")->stringValue();
    std::vector<std::string> read;
    for (const std::string& folder : skillFolders) {
      if (text.find("    From " + folder + "\n") != std::string::npos) read.push_back(folder);
    }
    EXPECT_THAT(read, ElementsAreArray(c.readSkills));

    // The child gets CODEX_HOME exactly as the user set it, or not at all.
    const JSONValue launched =
        JSONValue::parse(fileSystem_->readFile(launchRecord, std::size_t{1} << 20));
    const std::string* childCodexHome =
        stringMember(launched.subscript("environment"), "CODEX_HOME");
    EXPECT_EQ(childCodexHome ? std::optional<std::string>(*childCodexHome) : std::nullopt,
              c.codexHome ? std::optional<std::string>(extra["CODEX_HOME"]) : std::nullopt);
  }
}

}  // namespace
}  // namespace vellora
