#include "VelloraCore/Chrome/AppPaths.h"

#include <gtest/gtest.h>

#include "VelloraCore/Platform/FileSystem.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

TEST(AppPathsTest, placesEveryLocationUnderTheHomeDirectory) {
  for (const std::string home : {"/Users/example", "/Users/example/"}) {
    SCOPED_TRACE(home);
    const AppPaths paths(home);
    EXPECT_EQ(paths.applicationSupportDirectory(),
              "/Users/example/Library/Application Support/Vellora");
    EXPECT_EQ(paths.workspaceDirectory(),
              "/Users/example/Library/Application Support/Vellora/workspace");
    EXPECT_EQ(paths.chromeExtensionDirectory(),
              "/Users/example/Library/Application Support/Vellora/Chrome Extension");
    EXPECT_EQ(paths.chromeNativeHostsDirectory(),
              "/Users/example/Library/Application Support/Google/Chrome/NativeMessagingHosts");
    EXPECT_EQ(paths.nativeHostManifestURL(),
              "/Users/example/Library/Application Support/Google/Chrome/NativeMessagingHosts/"
              "com.vellora.companion.json");
    EXPECT_EQ(chromeUserDataDirectory(home),
              "/Users/example/Library/Application Support/Google/Chrome");
  }
  EXPECT_EQ(AppPaths("/").workspaceDirectory(), "/Library/Application Support/Vellora/workspace");
}

TEST(AppPathsTest, equalExactlyForTheSameHomeDirectory) {
  EXPECT_EQ(AppPaths("/Users/example"), AppPaths("/Users/example"));
  EXPECT_NE(AppPaths("/Users/example"), AppPaths("/Users/other"));
}

TEST(AppPathsTest, createsOnlyTheDataAndWorkingDirectoriesAndOnlyWhenAsked) {
  test::TemporaryDirectory home;
  auto fileSystem = makePosixFileSystem();
  const AppPaths paths(home.path());
  EXPECT_TRUE(fileSystem->contentsOfDirectory(home.path()).empty());

  paths.ensureApplicationDirectories(*fileSystem);
  paths.ensureApplicationDirectories(*fileSystem);
  EXPECT_TRUE(fileSystem->isDirectory(paths.workspaceDirectory()));
  EXPECT_EQ(fileSystem->contentsOfDirectory(paths.applicationSupportDirectory()),
            std::vector<std::string>{"workspace"});
  EXPECT_FALSE(fileSystem->fileExists(paths.chromeNativeHostsDirectory()));
}

TEST(AppPathsTest, stopsAtADataDirectoryThatIsAFile) {
  test::TemporaryDirectory home;
  auto fileSystem = makePosixFileSystem();
  const AppPaths paths(home.path());
  home.writeFile("Library/Application Support/Vellora", "not a directory");

  EXPECT_THROW(paths.ensureApplicationDirectories(*fileSystem), FileSystemError);
  EXPECT_TRUE(fileSystem->isRegularFile(paths.applicationSupportDirectory()));
  EXPECT_FALSE(fileSystem->fileExists(paths.workspaceDirectory()));
}

}  // namespace
}  // namespace vellora
