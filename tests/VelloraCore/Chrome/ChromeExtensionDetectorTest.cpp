#include "VelloraCore/Chrome/ChromeExtensionDetector.h"

#include <gtest/gtest.h>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "tests/VelloraCore/Chrome/ChromeProfileFixture.h"
#include "tests/fakes/FaultyFileSystem.h"

namespace vellora {
namespace {

using Candidate = ChromeExtensionCandidate;
using IDs = std::vector<std::string>;
using test::extensionEntry;
using test::preferences;
using test::writeExtensionFolder;
using test::writeProfileFile;

const std::string kA(32, 'a');
const std::string kB(32, 'b');
const std::string kC(32, 'c');
const std::string kD(32, 'd');
const std::string kE(32, 'e');
const std::string kOther(32, 'o');
const std::string kPDF = "mhjfbmdgcfjbbpaeojofohoefgiehjai";

class ChromeExtensionDetectorTest : public ::testing::Test {
 protected:
  ChromeExtensionDetectorTest()
      : fileSystem_(makePosixFileSystem()),
        detector_(AppPaths::platformLayout(home_.path(), {}).chromeUserDataDirectory(),
                  *fileSystem_) {}

  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_;
  ChromeExtensionDetector detector_;
};

// Two profiles with both files; the extension loaded from each recognised folder of the
// layout and from an unrelated one, beside other extensions and entries that are not
// extensions at all. Both layouts' Chrome directories live side by side in one HOME.
TEST_F(ChromeExtensionDetectorTest, findsTheExtensionWhereverChromeLoadedIt) {
  const struct {
    const char* label;
    AppPaths paths;
    ChromeExtensionFolders folders;
    // relative to HOME
    std::string bundle;
  } layouts[] = {
      {"macOS", AppPaths::macOSLayout(home_.path()), ChromeExtensionFolders::macOSLayout(),
       "Applications/Vellora.app/Contents/Resources/extension"},
      {"Linux", AppPaths::linuxLayout(home_.path(), {}), ChromeExtensionFolders::linuxLayout(),
       "opt/vellora/share/vellora/extension"},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.label);
    const std::string bundle = writeExtensionFolder(home_, layout.bundle, "Vellora");
    const std::string copied = writeExtensionFolder(
        home_, test::relativeToHome(home_, layout.paths.chromeExtensionDirectory()), "Vellora");
    const std::string checkout =
        writeExtensionFolder(home_, "src/Vellora/apps/extension/dist", "Vellora");
    const std::string unrelated = writeExtensionFolder(home_, "Downloads/my build", "vellora");
    const std::string other = writeExtensionFolder(home_, "Downloads/other", "Other Extension");

    auto write = [&](const std::string& profile, const std::string& file, const auto& contents) {
      writeProfileFile(home_, profile, file, contents, layout.paths);
    };
    write("Default", "Secure Preferences", test::kSecurePreferencesOfLinux);
    write("Default", "Preferences",
          preferences(JSONValue::Object{
              {kA, extensionEntry(bundle)},
              {kD, extensionEntry(unrelated)},
              {kOther, extensionEntry(other)},
              {kPDF, extensionEntry("/usr/lib/chromium/resources/pdf", "Chromium PDF Viewer")},
              {std::string(31, 'b'), extensionEntry(copied)},
              {std::string(31, 'b') + "q", extensionEntry(copied)},
              {std::string(31, 'b') + "B", extensionEntry(copied)},
              {std::string(32, 'f'), JSONValue(copied)},
              {std::string(32, 'g'), JSONValue(JSONValue::Array{copied})},
          }));
    write("Profile 1", "Secure Preferences",
          preferences(JSONValue::Object{{kB, extensionEntry(copied)}}));
    write("Profile 1", "Preferences",
          preferences(JSONValue::Object{
              {kA, extensionEntry(bundle)},
              {kC, extensionEntry(checkout)},
              {kE, extensionEntry(kE + "/1.2.0_0", "VELLORA")},
          }));
    // Not profiles: no profile file, a hidden folder, a plain file.
    const std::string chromeDirectory =
        test::relativeToHome(home_, layout.paths.chromeUserDataDirectory());
    home_.writeFile(chromeDirectory + "/Crashpad/settings.dat", "");
    write(".Hidden", "Preferences",
          preferences(JSONValue::Object{{kOther, extensionEntry(copied)}}));
    home_.writeFile(chromeDirectory + "/Local State", "{}");

    const ChromeExtensionDetector detector(layout.paths.chromeUserDataDirectory(), *fileSystem_,
                                           layout.folders);
    const std::vector<Candidate> expected{
        {kA, "Default", bundle, "Vellora", "chrome"},
        {kA, "Profile 1", bundle, "Vellora", "chrome"},
        {kB, "Profile 1", copied, "Vellora", "chrome"},
        {kC, "Profile 1", checkout, "Vellora", "chrome"},
        {kD, "Default", unrelated, "vellora", "chrome"},
        {kE, "Profile 1", kE + "/1.2.0_0", "VELLORA", "chrome"},
    };
    const std::vector<Candidate> candidates = detector.detectVelloraExtensions();
    EXPECT_EQ(candidates, expected);
    std::vector<int> ranks;
    for (const Candidate& candidate : candidates)
      ranks.push_back(ChromeExtensionDetector::rank(candidate, layout.folders).value_or(-1));
    EXPECT_EQ(ranks, (std::vector<int>{0, 0, 1, 2, 3, 3}));
    EXPECT_EQ(detector.detectVelloraExtensionIDs(), (IDs{kA, kB, kC, kD, kE}));
  }
}

TEST_F(ChromeExtensionDetectorTest, withoutChromeThereIsNothing) {
  EXPECT_TRUE(detector_.detectVelloraExtensions().empty());
  EXPECT_TRUE(detector_.detectVelloraExtensionIDs().empty());

  // Chrome's folder exists but cannot be listed.
  writeProfileFile(
      home_, "Default", "Preferences",
      preferences(JSONValue::Object{
          {kA, extensionEntry(AppPaths::platformLayout("/x", {}).chromeExtensionDirectory())}}));
  test::FaultyFileSystem faulty(*fileSystem_);
  faulty.failOn(test::FaultyFileSystem::Operation::contentsOfDirectory, detector_.chromeDirectory(),
                EACCES);
  EXPECT_TRUE(ChromeExtensionDetector(detector_.chromeDirectory(), faulty)
                  .detectVelloraExtensionIDs()
                  .empty());
  EXPECT_EQ(detector_.detectVelloraExtensionIDs(), IDs{kA});
}

// Each row is the whole "Preferences" of one profile; a second profile always holds kB, to
// show that a bad file costs only its own entries.
TEST_F(ChromeExtensionDetectorTest, aBadProfileFileGivesNothingAndNeverStopsDetection) {
  const std::string copied = AppPaths::platformLayout(home_.path(), {}).chromeExtensionDirectory();
  const std::string good = preferences(JSONValue::Object{{kA, extensionEntry(copied)}})
                               .serialized(JSONWriteOptions{.escapeSlashes = false});
  const std::string entry =
      extensionEntry(copied).serialized(JSONWriteOptions{.escapeSlashes = false});
  std::string manyMiB = R"({"filler":[)";
  while (manyMiB.size() < (std::size_t{20} << 20))
    manyMiB += R"({"k":"0123456789abcdef","n":12345.5},)";
  manyMiB += R"(null],"extensions":{"settings":{")" + kA + "\":" + entry + "}}}";

  const struct {
    const char* label;
    std::string contents;
    bool found;
  } cases[] = {
      {"a good file", good, true},
      {"20 MiB of other settings", manyMiB, true},
      {"numbers beyond 64 bits elsewhere",
       R"({"n":[18446744073709551616,-99999999999999999999,1e300],"extensions":{"settings":{")" +
           kA + "\":" + entry + "}}}",
       true},
      {"a key given twice, the last an entry",
       R"({"extensions":{"settings":{")" + kA + R"(":"x",")" + kA + "\":" + entry + "}}}", true},
      {"a key given twice, the last not an entry",
       R"({"extensions":{"settings":{")" + kA + "\":" + entry + ",\"" + kA + R"(":"x"}}})", false},
      {"an entry that is a string beside ours",
       R"({"extensions":{"settings":{")" + kC + R"(":"text",")" + kA + "\":" + entry + "}}}", true},
      {"invalid JSON", good.substr(0, good.size() - 1), false},
      {"trailing content", good + "x", false},
      {"not UTF-8", R"({"x":"\xff","extensions":{"settings":{")" + kA + "\":" + entry + "}}}",
       false},
      {"an invalid number", R"({"x":01,"extensions":{"settings":{")" + kA + "\":" + entry + "}}}",
       false},
      {"a top level that is an array", "[" + good + "]", false},
      {"a top level that is a string", "\"" + kA + "\"", false},
      {"extensions as a string", R"({"extensions":"settings"})", false},
      {"settings as an array", R"({"extensions":{"settings":[)" + entry + "]}}", false},
      {"no settings", R"({"extensions":{"alerts":{}}})", false},
      {"an empty file", "", false},
      {"nested too deeply", std::string(2000, '[') + std::string(2000, ']'), false},
  };
  writeProfileFile(home_, "Profile 2", "Preferences",
                   preferences(JSONValue::Object{{kB, extensionEntry(copied)}}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    writeProfileFile(home_, "Default", "Preferences", c.contents);
    EXPECT_EQ(detector_.detectVelloraExtensionIDs(), c.found ? (IDs{kA, kB}) : IDs{kB});
  }

  // A profile file that is a folder, or that cannot be read.
  fileSystem_->removeTree(detector_.chromeDirectory() + "/Default/Preferences");
  fileSystem_->createDirectories(detector_.chromeDirectory() + "/Default/Preferences");
  EXPECT_EQ(detector_.detectVelloraExtensionIDs(), IDs{kB});
  test::FaultyFileSystem faulty(*fileSystem_);
  faulty.failOn(test::FaultyFileSystem::Operation::readFile,
                detector_.chromeDirectory() + "/Profile 2/Preferences", EACCES);
  EXPECT_TRUE(ChromeExtensionDetector(detector_.chromeDirectory(), faulty)
                  .detectVelloraExtensionIDs()
                  .empty());
}

// Chrome keeps no manifest for an unpacked extension, so its name comes from the folder's
// manifest.json; a name stored in the profile wins.
TEST_F(ChromeExtensionDetectorTest, namesAnUnpackedExtensionFromTheFolderItWasLoadedFrom) {
  const struct {
    const char* label;
    std::optional<std::string> manifestFile;  // none: manifest.json is a folder
    std::optional<std::string> storedName;
    std::optional<std::string> expectedName;
  } cases[] = {
      {"the file names it", R"({"name":"Vellora","version":"1"})", std::nullopt, "Vellora"},
      {"the file names another", R"({"name":"Other"})", std::nullopt, "Other"},
      {"the stored name wins", R"({"name":"Vellora"})", "Other", "Other"},
      {"no name in the file", R"({"version":"1"})", std::nullopt, std::nullopt},
      {"a numeric name", R"({"name":7})", std::nullopt, std::nullopt},
      {"an array", R"([{"name":"Vellora"}])", std::nullopt, std::nullopt},
      {"not JSON", R"({"name":"Vellora",})", std::nullopt, std::nullopt},
      {"a folder, not a file", std::nullopt, std::nullopt, std::nullopt},
  };
  const std::string folder = home_ / "Downloads/unpacked";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fileSystem_->removeTree(folder);
    if (c.manifestFile) {
      home_.writeFile("Downloads/unpacked/manifest.json", *c.manifestFile);
    } else {
      fileSystem_->createDirectories(folder + "/manifest.json");
    }
    writeProfileFile(home_, "Default", "Preferences",
                     preferences(JSONValue::Object{{kA, extensionEntry(folder, c.storedName)}}));
    const Candidate candidate{kA, "Default", folder, c.expectedName, "chrome"};
    const bool recognised = c.expectedName == "Vellora";
    EXPECT_EQ(detector_.detectVelloraExtensions(),
              recognised ? std::vector<Candidate>{candidate} : std::vector<Candidate>{});
  }

  // An unreadable manifest.json gives no name.
  fileSystem_->removeTree(folder);
  home_.writeFile("Downloads/unpacked/manifest.json", R"({"name":"Vellora"})");
  test::FaultyFileSystem faulty(*fileSystem_);
  faulty.failOn(test::FaultyFileSystem::Operation::readFile, folder + "/manifest.json", EACCES);
  EXPECT_TRUE(ChromeExtensionDetector(detector_.chromeDirectory(), faulty)
                  .detectVelloraExtensions()
                  .empty());
  EXPECT_EQ(detector_.detectVelloraExtensionIDs(), IDs{kA});
}

// Several browsers of one HOME, each with the extension loaded from another folder: the
// candidates are ranked together, a tie goes to the browser earlier in the table, and each
// records its browser. A browser that is not present (no directory) contributes nothing.
TEST_F(ChromeExtensionDetectorTest, ranksTheCandidatesOfEveryBrowserTogether) {
  const struct {
    const char* label;
    AppPaths paths;
    ChromeExtensionFolders folders;
    std::string bundle;  // relative to HOME
  } layouts[] = {
      {"macOS", AppPaths::macOSLayout(home_.path()), ChromeExtensionFolders::macOSLayout(),
       "Applications/Vellora.app/Contents/Resources/extension"},
      {"Linux", AppPaths::linuxLayout(home_.path(), {}), ChromeExtensionFolders::linuxLayout(),
       "opt/vellora/share/vellora/extension"},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.label);
    const std::string bundle = writeExtensionFolder(home_, layout.bundle, "Vellora");
    const std::string copied = writeExtensionFolder(
        home_, test::relativeToHome(home_, layout.paths.chromeExtensionDirectory()), "Vellora");
    const std::string checkout =
        writeExtensionFolder(home_, "src/vellora/apps/extension/dist", "Vellora");
    // Written in an order unlike the table's, so that only the ranking orders them.
    const std::pair<const char*, JSONValue::Object> loaded[] = {
        {"vivaldi", {{kD, extensionEntry(bundle)}}},
        {"brave", {{kC, extensionEntry(checkout)}}},
        {"chromium", {{kA, extensionEntry(copied)}}},
        {"chrome", {{kB, extensionEntry(copied)}, {kOther, extensionEntry(home_ / "other")}}},
    };
    for (const auto& [browser, settings] : loaded) {
      home_.writeFile(
          test::relativeToHome(home_, layout.paths.browser(browser)->userDataDirectory) +
              "/Default/Preferences",
          preferences(JSONValue(settings)).serialized({.escapeSlashes = false}));
    }
    std::vector<ChromeUserDataDirectory> directories;
    for (const ChromeBrowserPaths& browser : layout.paths.browsers()) {
      directories.push_back({browser.id, browser.userDataDirectory});
    }
    const ChromeExtensionDetector detector(directories, *fileSystem_, layout.folders);

    const std::vector<Candidate> candidates = detector.detectVelloraExtensions();
    EXPECT_EQ(candidates, (std::vector<Candidate>{
                              {kD, "Default", bundle, "Vellora", "vivaldi"},
                              {kB, "Default", copied, "Vellora", "chrome"},
                              {kA, "Default", copied, "Vellora", "chromium"},
                              {kC, "Default", checkout, "Vellora", "brave"},
                          }));
    EXPECT_EQ(detector.detectVelloraExtensionIDs(), (IDs{kA, kB, kC, kD}));
    EXPECT_EQ(detector.browsersOf(candidates), (IDs{"chrome", "chromium", "brave", "vivaldi"}));
    EXPECT_EQ(detector.browsersOf({}), IDs{});
  }
  // The platform's layout: every browser of it, in table order.
  const AppPaths platform = AppPaths::platformLayout(home_.path(), {});
  const ChromeExtensionDetector all = ChromeExtensionDetector::forBrowsers(platform, *fileSystem_);
  ASSERT_EQ(all.directories().size(), platform.browsers().size());
  EXPECT_EQ(all.directories().front(),
            (ChromeUserDataDirectory{"chrome", platform.chromeUserDataDirectory()}));
  EXPECT_EQ(all.folders(), ChromeExtensionFolders::platformLayout());
}

// Each row gives the rank under the macOS and under the Linux folders; nothing means "not
// ours". A folder of one layout means nothing special in the other.
TEST(ChromeExtensionDetectorRankTest, ranksByTheLayoutsFoldersThenByName) {
  using Text = std::optional<std::string>;
  using Rank = std::optional<int>;
  const struct {
    Text path;
    Text name;
    Rank macOSRank;
    Rank linuxRank;
  } cases[] = {
      {"/Applications/Vellora.app/Contents/Resources/extension", "Other", 0, std::nullopt},
      {"/Applications/Vellora.app/Contents/Resources/extension/", std::nullopt, 0, std::nullopt},
      {"/Applications/Vellora.app/Contents/Resources/extension/build", "Vellora", 0, 3},
      {"/Applications/MyVellora.app/Contents/Resources/extension", std::nullopt, std::nullopt,
       std::nullopt},
      {"/Users/example/Library/Application Support/Vellora/Chrome Extension", "Other", 1, 1},
      {"/Users/ÉMILE/LIBRARY/APPLICATION SUPPORT/VELLORA/CHROME EXTENSION", std::nullopt, 1, 1},
      {"/Users/example/Library/Application Support/Vellora/Chrome Extensions", "Vellora", 3, 3},
      {"/Users/example/src/Vellora/apps/extension/dist", std::nullopt, 2, 2},
      {"/Users/example/src/vellora/apps/extension/dist/chrome", std::nullopt, 2, 2},
      {"/Users/example/src/vellora/apps/extension/distribution", std::nullopt, std::nullopt,
       std::nullopt},
      // Installed under a prefix, and the companion's copy wherever XDG_DATA_HOME puts it.
      {"/usr/share/vellora/extension", "Other", std::nullopt, 0},
      {"/opt/Vellora/share/Vellora/extension/", std::nullopt, std::nullopt, 0},
      {"/usr/local/share/vellora/extensions", std::nullopt, std::nullopt, std::nullopt},
      {"/usr/share/myvellora/extension", std::nullopt, std::nullopt, std::nullopt},
      {"/home/example/.local/share/Vellora/Chrome Extension", "Other", std::nullopt, 1},
      {"/data/ÉMILE/VELLORA/CHROME EXTENSION/", std::nullopt, std::nullopt, 1},
      {"/home/example/.local/share/Vellora/Chrome Extension 2", "Vellora", 3, 3},
      // A path matching two folders takes the better rank.
      {"/Users/x/Library/Application Support/Vellora/Chrome Extension/vellora/apps/extension/dist",
       std::nullopt, 1, 1},
      {"/src/vellora/apps/extension/dist/Vellora.app/Contents/Resources/extension", std::nullopt, 0,
       2},
      {"/home/x/.local/share/Vellora/Chrome Extension/usr/share/vellora/extension", std::nullopt,
       std::nullopt, 0},
      {"/tmp/vellora", "VELLORA", 3, 3},
      {"/tmp/vellora", "vellora", 3, 3},
      {"/tmp/vellora", std::nullopt, std::nullopt, std::nullopt},
      {"/tmp/vellora", "Vellora ", std::nullopt, std::nullopt},
      {"/tmp/vellora", "Vellorá", std::nullopt, std::nullopt},
      {"/tmp/vellora", "\xef\xbc\xb6\xef\xbd\x85llora", std::nullopt,
       std::nullopt},  // full-width "Ve"
      {std::nullopt, "VELLORA", 2, 2},
      {std::nullopt, "Other", std::nullopt, std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.value_or("(no path)") + " / " + c.name.value_or("(no name)"));
    const Candidate candidate{kA, "Default", c.path, c.name};
    EXPECT_EQ(ChromeExtensionDetector::rank(candidate, ChromeExtensionFolders::macOSLayout()),
              c.macOSRank);
    EXPECT_EQ(ChromeExtensionDetector::rank(candidate, ChromeExtensionFolders::linuxLayout()),
              c.linuxRank);
  }
  // Without folders, the platform's.
  const Candidate copied{kA, "Default",
                         AppPaths::platformLayout("/home/example", {}).chromeExtensionDirectory(),
                         std::nullopt};
  EXPECT_EQ(ChromeExtensionDetector::rank(copied), 1);
}

}  // namespace
}  // namespace vellora
