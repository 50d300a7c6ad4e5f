#include "VelloraCompanion/Model/ExtensionFolder.h"

#include <gtest/gtest.h>

#include "VelloraCompanion/Model/CompanionInstallError.h"
#include "tests/VelloraCompanion/Model/CompanionFixture.h"
#include "tests/fakes/FaultyFileSystem.h"

namespace vellora {
namespace {

class ExtensionFolderTest : public ::testing::Test, protected test::CompanionFixture {
 protected:
  std::string resources() { return home() / "Vellora/Resources"; }
  void package(const std::string& version) {
    home().writeFile("Vellora/Resources/extension/manifest.json", version);
    home().writeFile("Vellora/Resources/extension/sidebar/" + version + ".js", version);
  }
  std::vector<std::string> listing(const std::string& folder) {
    return fileSystem().contentsOfDirectory(folder);
  }
};

TEST_F(ExtensionFolderTest, replacesTheWholeCopyWithThePackagedExtension) {
  package("1");
  EXPECT_EQ(prepareExtensionFolder(fileSystem(), paths(), resources(), home() / "work"),
            paths().chromeExtensionDirectory());
  fileSystem().removeTree(resources() + "/extension");
  package("2");
  EXPECT_EQ(prepareExtensionFolder(fileSystem(), paths(), resources(), home() / "work"),
            paths().chromeExtensionDirectory());
  EXPECT_EQ(fileSystem().readFile(paths().chromeExtensionDirectory() + "/manifest.json", 10), "2");
  EXPECT_EQ(listing(paths().chromeExtensionDirectory() + "/sidebar"),
            std::vector<std::string>{"2.js"});
  // Nothing is left beside the copy.
  EXPECT_EQ(listing(paths().applicationSupportDirectory()),
            std::vector<std::string>{"Chrome Extension"});
  EXPECT_EQ(findExtensionFolder(fileSystem(), paths(), home() / "work"),
            paths().chromeExtensionDirectory());
}

TEST_F(ExtensionFolderTest, keepsTheEarlierCopyWhenANewOneFails) {
  package("1");
  prepareExtensionFolder(fileSystem(), paths(), resources(), "");
  package("2");
  test::FaultyFileSystem faulty(fileSystem());
  faulty.failOn(test::FaultyFileSystem::Operation::copyTree, resources() + "/extension");
  EXPECT_THROW(prepareExtensionFolder(faulty, paths(), resources(), ""), FileSystemError);
  EXPECT_EQ(fileSystem().readFile(paths().chromeExtensionDirectory() + "/manifest.json", 10), "1");
  EXPECT_EQ(listing(paths().applicationSupportDirectory()),
            std::vector<std::string>{"Chrome Extension"});
}

TEST_F(ExtensionFolderTest, fallsBackToTheDevelopmentBuildThenFails) {
  // A resource directory without a packaged manifest counts as none.
  home().writeFile("Vellora/Resources/extension/readme.txt", "");
  const std::string dist =
      test::writeExtensionFolder(home(), "checkout/apps/extension/dist", "Vellora");
  EXPECT_EQ(prepareExtensionFolder(fileSystem(), paths(), resources(), home() / "checkout"), dist);
  EXPECT_FALSE(fileSystem().fileExists(paths().chromeExtensionDirectory()));
  EXPECT_EQ(findExtensionFolder(fileSystem(), paths(), home() / "checkout"), dist);

  for (const std::optional<std::string>& resourceDirectory :
       {std::optional<std::string>(), std::optional<std::string>(resources())}) {
    try {
      prepareExtensionFolder(fileSystem(), paths(), resourceDirectory, home() / "elsewhere");
      ADD_FAILURE() << "no folder, yet no failure";
    } catch (const CompanionInstallError& error) {
      EXPECT_EQ(error.errorCase(), CompanionInstallError::Case::missingBundledExtension);
    }
  }
  EXPECT_EQ(findExtensionFolder(fileSystem(), paths(), home() / "elsewhere"), std::nullopt);
}

}  // namespace
}  // namespace vellora
