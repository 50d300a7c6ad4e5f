#include "VelloraCore/TurnContent/GeneratedImageAttachmentBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/TurnContent/Base64.h"
#include "VelloraCore/TurnContent/RasterImage.h"
#include "tests/VelloraCore/TurnContent/ImageFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using std::chrono::system_clock;

// 2026-01-31T09:15:00Z and a fraction of a second.
const system_clock::time_point kNow =
    system_clock::time_point(std::chrono::seconds(1769850900)) + std::chrono::milliseconds(870);

JSONValue message(const std::string& method, JSONValue item, const std::string& threadID = "t1") {
  return JSONValue::object(
      {{"method", method},
       {"params", JSONValue::object({{"threadId", threadID}, {"item", std::move(item)}})}});
}

JSONValue agentText(const std::string& text, const std::string& threadID = "t1") {
  return JSONValue::object(
      {{"method", "item/agentMessage/delta"},
       {"params", JSONValue::object({{"threadId", threadID}, {"delta", text}})}});
}

std::string stringOf(const JSONValue& attachment, const char* key) {
  const JSONValue* member = attachment.subscript(key);
  return member && member->stringValue() ? *member->stringValue() : "<absent>";
}

std::size_t pngDataURLLength(const std::string& bytes) {
  return std::string_view("data:image/png;base64,").size() + base64EncodedLength(bytes.size());
}

// The image bytes inside an attachment's data URL.
std::string bytesOf(const JSONValue& attachment) {
  const std::string url = stringOf(attachment, "dataUrl");
  return base64Decoded(url.substr(url.find(',') + 1)).value_or("<not base64>");
}

class GeneratedImageAttachmentBuilderTest : public ::testing::Test {
 protected:
  GeneratedImageAttachmentBuilderTest()
      : fileSystem_(makePosixFileSystem()), builder_(*fileSystem_, imagesDirectory(), 700000) {}

  std::string imagesDirectory() const { return home_ / ".codex/generated_images"; }

  std::vector<std::string> candidatePaths(const JSONValue& value) const {
    std::vector<std::string> paths;
    for (const GeneratedImageCandidate& candidate : builder_.candidates(value, "t1")) {
      EXPECT_FALSE(candidate.sourceID || candidate.result);
      paths.push_back(candidate.savedPath.value_or("<none>"));
    }
    return paths;
  }

  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_;
  GeneratedImageAttachmentBuilder builder_;
};

TEST_F(GeneratedImageAttachmentBuilderTest, savedFileBecomesAnAttachment) {
  const std::string png = test::makePNG(200, 150, 30);
  const std::string path = home_.writeFile(".codex/generated_images/t1/ig_1.png", png);
  const std::vector<JSONValue> attachments = builder_.attachments(
      message(
          "item/completed",
          JSONValue::object({{"type", "imageGeneration"}, {"id", "ig_1"}, {"savedPath", path}})),
      "t1", kNow);
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_EQ(attachments[0],
            JSONValue::object({{"id", "generated_ig_1"},
                               {"kind", "generatedImage"},
                               {"label", "Generated image"},
                               {"mimeType", "image/png"},
                               {"dataUrl", "data:image/png;base64," + base64Encoded(png)},
                               {"createdAt", "2026-01-31T09:15:00Z"},
                               {"filePath", path}}));
}

TEST_F(GeneratedImageAttachmentBuilderTest, otherThreadsYieldNothing) {
  const std::string path = home_.writeFile(".codex/generated_images/a.png", test::makePNG(4, 4));
  const JSONValue item = JSONValue::object({{"type", "imageGeneration"}, {"savedPath", path}});
  const JSONValue messages[] = {
      message("item/completed", item, "t2"),
      JSONValue::object(
          {{"method", "item/completed"}, {"params", JSONValue::object({{"item", item}})}}),
      JSONValue::object({{"method", "item/completed"},
                         {"params", JSONValue::object({{"threadId", 1}, {"item", item}})}}),
      JSONValue::object({{"method", "item/completed"}, {"threadId", "t1"}, {"item", item}}),
      agentText("see " + path, "t2"),
      JSONValue(JSONValue::Array{agentText("see " + path)}),
  };
  for (const JSONValue& value : messages) {
    EXPECT_TRUE(builder_.attachments(value, "t1", kNow).empty()) << value.serialized();
  }
}

TEST_F(GeneratedImageAttachmentBuilderTest, directItemsGiveOneCandidateEach) {
  using Candidate = GeneratedImageCandidate;
  struct Row {
    const char* label;
    JSONValue message;
    std::vector<Candidate> expected;
  };
  const Row rows[] = {
      {"app-server item",
       message("item/completed", JSONValue::object({{"type", "imageGeneration"},
                                                    {"id", "ig_1"},
                                                    {"result", "AAAA"},
                                                    {"savedPath", "/x.png"}})),
       {Candidate{"ig_1", "AAAA", "/x.png"}}},
      {"app-server item with members of other kinds",
       message("item/completed",
               JSONValue::object({{"type", "imageGeneration"}, {"id", 3}, {"savedPath", nullptr}})),
       {Candidate{}}},
      {"raw response item never has a saved path",
       message("rawResponseItem/completed", JSONValue::object({{"type", "image_generation_call"},
                                                               {"id", "ig_2"},
                                                               {"result", "BBBB"},
                                                               {"savedPath", "/y.png"}})),
       {Candidate{"ig_2", "BBBB", std::nullopt}}},
      {"item of another type falls back to the scan",
       message("item/completed", JSONValue::object({{"type", "agentMessage"},
                                                    {"text", imagesDirectory() + "/a.png"}})),
       {Candidate{std::nullopt, std::nullopt, imagesDirectory() + "/a.png"}}},
      {"types of the two methods are not interchangeable",
       message("rawResponseItem/completed",
               JSONValue::object({{"type", "imageGeneration"}, {"savedPath", "/y.png"}})),
       {}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(builder_.candidates(row.message, "t1"), row.expected) << row.label;
  }
}

// The scan looks for paths inside Codex's own image folder, spelt exactly as the folder is.
TEST_F(GeneratedImageAttachmentBuilderTest, scanFindsSavedPathsInEveryStringOnce) {
  const std::string folder = imagesDirectory();
  const std::string a = folder + "/a/b.PNG";
  const std::string b = folder + "/c.jpeg";
  const std::string c = folder + "/d.webp";
  const std::string filler(4 << 20, 'x');
  struct Row {
    const char* label;
    JSONValue value;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"the same path twice", agentText("saved " + a + " and again " + a + "."), {a}},
      {"in order of appearance", agentText(b + " then " + a), {b, a}},
      {"delimited by quotes, brackets and white space",
       agentText("<img src=\"" + a + "\"> '" + b + "'\n" + c + "\u00A0done"),
       {a, b, c}},
      {"in Markdown and a file URL",
       agentText("![image](" + a + ") [open](file://" + b + ")"),
       {a, b}},
      {"nested arrays and objects",
       JSONValue::object(
           {{"method", "x"},
            {"params",
             JSONValue::object({{"threadId", "t1"},
                                {"list", JSONValue::Array{a, JSONValue::Array{b, 1, true}, c}},
                                {"nested", JSONValue::object({{"p", a}})}})}}),
       {a, b, c}},
      {"at the end of several MiB of text", agentText(filler + " " + c), {c}},
      {"every extension, in any case",
       agentText(folder + "/1.png " + folder + "/2.JPG " + folder + "/3.jpeg " + folder +
                 "/4.WebP " + folder + "/5.gif"),
       {folder + "/1.png", folder + "/2.JPG", folder + "/3.jpeg", folder + "/4.WebP"}},
      {"another folder of that name", agentText("/src/app/.codex/generated_images/x.png"), {}},
      {"the folder in another case", agentText(home_ / ".CODEX/Generated_Images/x.png"), {}},
      {"a folder that only begins like it", agentText(folder + "_old/x.png"), {}},
      {"the folder's name without its place", agentText(".codex/generated_images/x.png"), {}},
      {"nothing after the folder", agentText(folder + "/.png"), {}},
      {"dot-dot components are never taken",
       agentText(folder + "/../../../Users/u/Pictures/private.png " + folder + "/./a.png"),
       {}},
      {"keys are not scanned",
       JSONValue::object({{"params", JSONValue::object({{"threadId", "t1"}, {a, 1}})}}),
       {}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(candidatePaths(row.value), row.expected) << row.label;
  }
}

// Codex names its files through the folder as it was given or as its links resolve; a folder
// given relative holds nothing.
TEST_F(GeneratedImageAttachmentBuilderTest, scanFindsTheFolderAsGivenAndAsResolved) {
  fileSystem_->createDirectories(home_ / "disk/codex/generated_images");
  ASSERT_EQ(::symlink((home_ / "disk/codex").c_str(), (home_ / "codex-link").c_str()), 0);
  const GeneratedImageAttachmentBuilder linked(*fileSystem_, home_ / "codex-link/generated_images/",
                                               700000);
  const std::string given = home_ / "codex-link/generated_images/a.png";
  const std::string resolved = home_ / "disk/codex/generated_images/b.png";
  std::vector<std::string> found;
  for (const GeneratedImageCandidate& candidate :
       linked.candidates(agentText(given + " " + resolved), "t1")) {
    found.push_back(candidate.savedPath.value_or("<none>"));
  }
  EXPECT_EQ(found, (std::vector<std::string>{given, resolved}));

  const GeneratedImageAttachmentBuilder relative(*fileSystem_, "codex/generated_images", 700000);
  const std::string png = home_.writeFile("codex/generated_images/a.png", test::makePNG(4, 4));
  EXPECT_TRUE(relative.candidates(agentText("codex/generated_images/a.png " + png), "t1").empty());
  EXPECT_TRUE(relative
                  .attachments(
                      message("item/completed",
                              JSONValue::object({{"type", "imageGeneration"}, {"savedPath", png}})),
                      "t1", kNow)
                  .empty());
}

TEST_F(GeneratedImageAttachmentBuilderTest, scannedPathsAreReadOnlyInsideGeneratedImages) {
  const std::string png = test::makePNG(8, 8);
  const std::string good = home_.writeFile(".codex/generated_images/t1/good.png", png);
  const std::string privateImage = home_.writeFile("Pictures/private.png", test::makeJPEG(8, 8));
  home_.writeFile(".codex/generated_images/t1/big.png", "");
  ASSERT_EQ(::truncate((imagesDirectory() + "/t1/big.png").c_str(),
                       GeneratedImageAttachmentBuilder::kMaxImageFileBytes + 1),
            0);
  fileSystem_->createDirectories(imagesDirectory() + "/t1/folder.png");
  ASSERT_EQ(::symlink(privateImage.c_str(), (imagesDirectory() + "/t1/link.png").c_str()), 0);
  ASSERT_EQ(::symlink(good.c_str(), (home_ / "Pictures/alias.png").c_str()), 0);
  ASSERT_EQ(::symlink((home_ / "Pictures").c_str(), (imagesDirectory() + "/pics").c_str()), 0);

  struct Row {
    const char* label;
    std::string path;
    bool read;
  };
  const Row rows[] = {
      {"a saved image", good, true},
      {"another spelling of it", imagesDirectory() + "//t1/good.png", true},
      {"climbing out with dot-dot", imagesDirectory() + "/../../Pictures/private.png", false},
      {"a link out of the folder", imagesDirectory() + "/t1/link.png", false},
      {"a folder that links out", imagesDirectory() + "/pics/private.png", false},
      {"a folder", imagesDirectory() + "/t1/folder.png", false},
      {"a file over the size bound", imagesDirectory() + "/t1/big.png", false},
      {"missing", imagesDirectory() + "/t1/none.png", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const std::vector<JSONValue> attachments =
        builder_.attachments(agentText("look: " + row.path + " ok"), "t1", kNow);
    ASSERT_EQ(attachments.size(), row.read ? 1u : 0u);
    if (row.read) {
      EXPECT_EQ(bytesOf(attachments[0]), png);
      EXPECT_EQ(stringOf(attachments[0], "filePath"), row.path);
    }
  }
}

// A saved path is judged by where it lies, not by how a path in text looks: spaces and any file
// name are fine inside Codex's image folder, and nothing but a regular file there is read (a
// FIFO would block the reader for good).
TEST_F(GeneratedImageAttachmentBuilderTest, savedPathsAreReadWhereverInsideGeneratedImages) {
  const std::string png = test::makePNG(8, 8);
  const std::string fifo = imagesDirectory() + "/waiting.png";
  fileSystem_->createDirectories(imagesDirectory());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  struct Row {
    const char* label;
    std::string path;
    bool read;
  };
  const Row rows[] = {
      {"a space in the name", home_.writeFile(".codex/generated_images/ig 1.png", png), true},
      {"another folder of that name",
       home_.writeFile("Jane \"J\" Doe/.codex/generated_images/t1/a.png", png), false},
      {"the folder in another case", home_.writeFile(".CODEX/Generated_Images/t1/a.png", png),
       false},
      {"another extension", home_.writeFile(".codex/generated_images/ig_2.image", png), true},
      {"next to the folder, not in it", home_.writeFile(".codex/generated_images.png", png), false},
      {"the folder itself", imagesDirectory(), false},
      {"a FIFO", fifo, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const std::vector<JSONValue> attachments = builder_.attachments(
        message("item/completed",
                JSONValue::object({{"type", "imageGeneration"}, {"savedPath", row.path}})),
        "t1", kNow);
    ASSERT_EQ(attachments.size(), row.read ? 1u : 0u);
    if (row.read) {
      EXPECT_EQ(bytesOf(attachments[0]), png);
    }
  }
}

TEST_F(GeneratedImageAttachmentBuilderTest, unreadableSavedPathFallsBackToResult) {
  const std::string png = test::makePNG(16, 16);
  const std::string privateImage = home_.writeFile("Pictures/private.png", test::makePNG(9, 9));
  const std::string paths[] = {
      home_ / ".codex/generated_images/missing/ig 1.png",
      home_ / ".codex/generated_images/../../Pictures/private.png",
      privateImage,
      "relative/.codex/generated_images/a.png",
      home_.writeFile(".codex/generated_images/notes.png", "Private notes.\n"),
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const std::vector<JSONValue> attachments = builder_.attachments(
        message("item/completed", JSONValue::object({{"type", "imageGeneration"},
                                                     {"result", base64Encoded(png)},
                                                     {"savedPath", path}})),
        "t1", kNow);
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(bytesOf(attachments[0]), png);
    EXPECT_EQ(stringOf(attachments[0], "filePath"), path);
    EXPECT_EQ(stringOf(attachments[0], "mimeType"), "image/png");
  }
  // Without a result there is nothing to send.
  EXPECT_TRUE(
      builder_
          .attachments(message("item/completed", JSONValue::object({{"type", "imageGeneration"},
                                                                    {"savedPath", privateImage}})),
                       "t1", kNow)
          .empty());
}

// An inline image is an image only by its bytes, and typed by them, whatever its data URL says.
TEST_F(GeneratedImageAttachmentBuilderTest, resultIsDecodedStrictlyAndTypedByItsBytes) {
  const std::string png = test::makePNG(6, 6);
  const std::string jpeg = test::makeJPEG(6, 6);
  const std::string webp = test::makeWebP(6, 6);
  struct Row {
    const char* label;
    std::string result;
    std::string mimeType;  // "" when no attachment results
  };
  const Row rows[] = {
      {"bare PNG", base64Encoded(png), "image/png"},
      {"bare JPEG", base64Encoded(jpeg), "image/jpeg"},
      {"bare WebP", base64Encoded(webp), "image/webp"},
      {"another image format", base64Encoded("GIF89a"), ""},
      {"text", base64Encoded("just text, no image"), ""},
      {"RIFF that is not WebP", base64Encoded(std::string("RIFF\x10\0\0\0WAVEfmt ", 16)), ""},
      {"a data URL's type does not count", "data:image/webp;base64," + base64Encoded(png),
       "image/png"},
      {"data URL with parameters", "data:image/jpeg;name=a.jpg;base64," + base64Encoded(webp),
       "image/webp"},
      {"data URL without a type", "data:;base64," + base64Encoded(jpeg), "image/jpeg"},
      {"data URL of text", "data:image/png;base64," + base64Encoded("<svg/>"), ""},
      {"data URL not in base64", "data:image/png," + base64Encoded(png), ""},
      {"data URL with broken base64", "data:image/png;base64,AAA", ""},
      {"line breaks", base64Encoded(png).insert(8, 1, '\n'), ""},
      {"unpadded", "YWI", ""},
      {"empty", "", ""},
      {"empty data URL", "data:image/png;base64,", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const std::vector<JSONValue> attachments = builder_.attachments(
        message("rawResponseItem/completed",
                JSONValue::object({{"type", "image_generation_call"}, {"result", row.result}})),
        "t1", kNow);
    ASSERT_EQ(attachments.size(), row.mimeType.empty() ? 0u : 1u);
    if (row.mimeType.empty()) continue;
    EXPECT_EQ(stringOf(attachments[0], "mimeType"), row.mimeType);
    EXPECT_TRUE(
        stringOf(attachments[0], "dataUrl").starts_with("data:" + row.mimeType + ";base64,"));
    EXPECT_EQ(stringOf(attachments[0], "filePath"), "<absent>");
  }
}

TEST_F(GeneratedImageAttachmentBuilderTest, idComesFromSourceIDFileNameOrAUUID) {
  const std::string result = base64Encoded(test::makePNG(4, 4));
  struct Row {
    const char* label;
    JSONValue item;
    std::string id;  // a pattern
  };
  const Row rows[] = {
      {"source id", JSONValue::object({{"id", "ig:42/a.b"}, {"savedPath", "/x/ig 1.png"}}),
       "generated_ig_42_a_b"},
      {"file name", JSONValue::object({{"savedPath", "/x/.codex/generated_images/ig 1.png"}}),
       "generated_ig_1_png"},
      {"letters and digits of any script kept",
       JSONValue::object({{"id", "Bild-\xC3\xBC\xCC\x88_\xD9\xA3\xE4\xB8\x80 \xF0\x9F\x98\x80"}}),
       "generated_Bild-\xC3\xBC\xCC\x88_\xD9\xA3\xE4\xB8\x80__"},
      {"neither", JSONValue::object({}),
       "generated_image-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    JSONValue item = row.item;
    (*item.objectValue())["type"] = "imageGeneration";
    (*item.objectValue())["result"] = result;
    const std::vector<JSONValue> attachments =
        builder_.attachments(message("item/completed", item), "t1", kNow);
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_THAT(stringOf(attachments[0], "id"), ::testing::MatchesRegex(row.id));
  }
}

TEST_F(GeneratedImageAttachmentBuilderTest, createdAtIsUTCWithoutFractions) {
  const std::string result = base64Encoded(test::makePNG(4, 4));
  const std::pair<system_clock::time_point, const char*> rows[] = {
      {kNow, "2026-01-31T09:15:00Z"},
      {system_clock::time_point(std::chrono::seconds(951782400)), "2000-02-29T00:00:00Z"},
      {system_clock::time_point(std::chrono::milliseconds(-1)), "1969-12-31T23:59:59Z"},
  };
  for (const auto& [time, text] : rows) {
    const std::vector<JSONValue> attachments = builder_.attachments(
        message("rawResponseItem/completed",
                JSONValue::object({{"type", "image_generation_call"}, {"result", result}})),
        "t1", time);
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(stringOf(attachments[0], "createdAt"), text);
  }
}

TEST_F(GeneratedImageAttachmentBuilderTest, oversizedImageIsReencodedAsJPEGWithinTheLimit) {
  struct Row {
    const char* label;
    std::string image;
    int width;
    int height;
  };
  const Row rows[] = {
      {"wide PNG to the longest side", test::makePNG(1600, 800, 8), 640, 320},
      {"sizes round down", test::makePNG(1000, 333, 8), 640, 213},
      {"never below one pixel", test::makePNG(2000, 1, 8), 640, 1},
      {"tall JPEG", test::makeJPEG(700, 1400), 320, 640},
      {"WebP", test::encodeWebP(900, 450, test::gradientPixels(900, 450, 4, 20), true), 640, 320},
      {"smaller images are not enlarged", test::makePNG(200, 100, 8), 200, 100},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    // A limit just below the source's own data URL forces the first re-encoding.
    const auto limit = static_cast<std::int64_t>(pngDataURLLength(row.image) - 1);
    const GeneratedImageAttachmentBuilder builder(*fileSystem_, imagesDirectory(), limit);
    std::optional<std::string> url = builder.fittedDataURL(row.image, "image/png");
    ASSERT_TRUE(url);
    ASSERT_TRUE(url->starts_with("data:image/jpeg;base64,"));
    EXPECT_LE(url->size(), std::size_t(limit));
    std::optional<RasterImage> image = RasterImage::decode(*base64Decoded(url->substr(23)));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, row.width);
    EXPECT_EQ(image->height, row.height);
  }
}

TEST_F(GeneratedImageAttachmentBuilderTest, aDataURLThatWouldPassChromesLimitOnTheWireIsReencoded) {
  // A PNG followed by 0xFF padding: its base64 is almost all "/", which the frame writer sends
  // as "\\/", so a data URL under the limit would be 1.4 MB on the wire, past Chrome's 1 MiB.
  const std::string image = test::makePNG(200, 100, 8) + std::string(470000, '\xFF');
  const GeneratedImageAttachmentBuilder builder(*fileSystem_, imagesDirectory(), 700000);
  ASSERT_LE(pngDataURLLength(image), 700000u);
  std::optional<std::string> url = builder.fittedDataURL(image, "image/png");
  ASSERT_TRUE(url);
  EXPECT_TRUE(url->starts_with("data:image/jpeg;base64,"));
  EXPECT_LT(url->size() + std::count(url->begin(), url->end(), '/'), std::size_t{1} << 20);
}

TEST_F(GeneratedImageAttachmentBuilderTest, tighterLimitsWalkDownTheAttemptsToNothing) {
  const std::string image = test::makePNG(700, 700, 60);
  std::int64_t limit = std::int64_t(pngDataURLLength(image) - 1);
  std::vector<std::pair<int, int>> sizes;
  for (;;) {
    const GeneratedImageAttachmentBuilder builder(*fileSystem_, imagesDirectory(), limit);
    std::optional<std::string> url = builder.fittedDataURL(image, "image/png");
    if (!url) break;
    ASSERT_LE(url->size(), std::size_t(limit));
    std::optional<RasterImage> decoded = RasterImage::decode(*base64Decoded(url->substr(23)));
    ASSERT_TRUE(decoded);
    sizes.emplace_back(decoded->width, decoded->height);
    ASSERT_LE(sizes.size(), 12u);
    limit = std::int64_t(url->size()) - 1;
  }
  ASSERT_GE(sizes.size(), 4u);
  EXPECT_EQ(sizes.front(), std::make_pair(640, 640));
  EXPECT_EQ(sizes.back(), std::make_pair(256, 256));
  for (std::size_t i = 1; i < sizes.size(); ++i) EXPECT_LE(sizes[i].first, sizes[i - 1].first);
}

TEST_F(GeneratedImageAttachmentBuilderTest, badCandidatesOnlyDropThemselves) {
  const std::size_t limit = 40000;
  const std::string goodImage = test::makePNG(800, 800, 4);
  const std::string noisyJPEG = test::encodeJPEG(800, 800, test::gradientPixels(800, 800, 3, 40));
  ASSERT_GT(pngDataURLLength(goodImage), limit);
  ASSERT_GT(noisyJPEG.size(), 60000u);
  // Every file is over the limit, so each must be decoded and re-encoded.
  const std::string bomb =
      home_.writeFile(".codex/generated_images/bomb.png",
                      test::pngClaimingSize(100000, 100000) + std::string(limit, '\0'));
  const std::string garbage =
      home_.writeFile(".codex/generated_images/garbage.png", std::string(limit, 'g'));
  const std::string good = home_.writeFile(".codex/generated_images/good.png", goodImage);
  const std::string truncated =
      home_.writeFile(".codex/generated_images/truncated.jpg", noisyJPEG.substr(0, 60000));
  const GeneratedImageAttachmentBuilder builder(*fileSystem_, imagesDirectory(), limit);
  const std::vector<JSONValue> attachments = builder.attachments(
      agentText(bomb + " " + garbage + " " + good + " " + truncated), "t1", kNow);
  std::vector<std::string> paths;
  for (const JSONValue& attachment : attachments) {
    EXPECT_EQ(stringOf(attachment, "mimeType"), "image/jpeg");
    EXPECT_LE(stringOf(attachment, "dataUrl").size(), limit);
    paths.push_back(stringOf(attachment, "filePath"));
  }
  EXPECT_EQ(paths, (std::vector<std::string>{good, truncated}));

  for (std::int64_t tiny : {0, -1, 100}) {
    EXPECT_TRUE(GeneratedImageAttachmentBuilder(*fileSystem_, imagesDirectory(), tiny)
                    .attachments(agentText(good), "t1", kNow)
                    .empty())
        << tiny;
  }
}

}  // namespace
}  // namespace vellora
