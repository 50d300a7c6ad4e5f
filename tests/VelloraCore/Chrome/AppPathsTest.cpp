#include "VelloraCore/Chrome/AppPaths.h"

#include <gtest/gtest.h>

#include "VelloraCore/Platform/FileSystem.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

struct Locations {
  std::string applicationSupport, workspace, extension, chrome, hosts, manifest;
};

void expectLocations(const AppPaths& paths, const Locations& expected) {
  EXPECT_EQ(paths.applicationSupportDirectory(), expected.applicationSupport);
  EXPECT_EQ(paths.workspaceDirectory(), expected.workspace);
  EXPECT_EQ(paths.chromeExtensionDirectory(), expected.extension);
  EXPECT_EQ(paths.chromeUserDataDirectory(), expected.chrome);
  EXPECT_EQ(paths.chromeNativeHostsDirectory(), expected.hosts);
  EXPECT_EQ(paths.nativeHostManifestURL(), expected.manifest);
}

TEST(AppPathsTest, macOSLayoutPlacesEveryLocationUnderLibrary) {
  for (const std::string home : {"/Users/example", "/Users/example/"}) {
    SCOPED_TRACE(home);
    expectLocations(
        AppPaths::macOSLayout(home),
        {"/Users/example/Library/Application Support/Vellora",
         "/Users/example/Library/Application Support/Vellora/workspace",
         "/Users/example/Library/Application Support/Vellora/Chrome Extension",
         "/Users/example/Library/Application Support/Google/Chrome",
         "/Users/example/Library/Application Support/Google/Chrome/NativeMessagingHosts",
         "/Users/example/Library/Application Support/Google/Chrome/NativeMessagingHosts/"
         "com.vellora.companion.json"});
  }
  EXPECT_EQ(AppPaths::macOSLayout("/").workspaceDirectory(),
            "/Library/Application Support/Vellora/workspace");
}

TEST(AppPathsTest, linuxLayoutFollowsTheBaseDirectoryVariablesAsChromeDoes) {
  struct Case {
    const char* label;
    Environment environment;
    std::string data;
    std::string chrome;
  };
  const Case cases[] = {
      {"no variables", {}, "/home/example/.local/share", "/home/example/.config/google-chrome"},
      {"XDG homes",
       {{"XDG_DATA_HOME", "/data/"}, {"XDG_CONFIG_HOME", "/config"}},
       "/data",
       "/config/google-chrome"},
      {"CHROME_CONFIG_HOME wins over XDG_CONFIG_HOME",
       {{"CHROME_CONFIG_HOME", "/chrome"}, {"XDG_CONFIG_HOME", "/config"}},
       "/home/example/.local/share",
       "/chrome"},
      {"relative and empty values are ignored",
       {{"XDG_DATA_HOME", "data"}, {"XDG_CONFIG_HOME", ""}, {"CHROME_CONFIG_HOME", "chrome"}},
       "/home/example/.local/share",
       "/home/example/.config/google-chrome"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    expectLocations(
        AppPaths::linuxLayout("/home/example/", c.environment),
        {c.data + "/Vellora", c.data + "/Vellora/workspace", c.data + "/Vellora/Chrome Extension",
         c.chrome, c.chrome + "/NativeMessagingHosts",
         c.chrome + "/NativeMessagingHosts/com.vellora.companion.json"});
  }
}

TEST(AppPathsTest, equalExactlyForTheSameLocations) {
  EXPECT_EQ(AppPaths::macOSLayout("/Users/example"), AppPaths::macOSLayout("/Users/example/"));
  EXPECT_NE(AppPaths::macOSLayout("/Users/example"), AppPaths::macOSLayout("/Users/other"));
  EXPECT_NE(AppPaths::macOSLayout("/home/example"), AppPaths::linuxLayout("/home/example", {}));
#if defined(__APPLE__)
  EXPECT_EQ(AppPaths::platformLayout("/h", {}), AppPaths::macOSLayout("/h"));
#else
  EXPECT_EQ(AppPaths::platformLayout("/h", {}), AppPaths::linuxLayout("/h", {}));
#endif
}

TEST(AppPathsTest, createsOnlyTheDataAndWorkingDirectoriesAndOnlyWhenAsked) {
  test::TemporaryDirectory home;
  auto fileSystem = makePosixFileSystem();
  for (const AppPaths& paths :
       {AppPaths::macOSLayout(home.path()), AppPaths::linuxLayout(home.path(), {})}) {
    paths.ensureApplicationDirectories(*fileSystem);
    paths.ensureApplicationDirectories(*fileSystem);
    EXPECT_TRUE(fileSystem->isDirectory(paths.workspaceDirectory()));
    EXPECT_EQ(fileSystem->contentsOfDirectory(paths.applicationSupportDirectory()),
              std::vector<std::string>{"workspace"});
    EXPECT_FALSE(fileSystem->fileExists(paths.chromeNativeHostsDirectory()));
  }
}

TEST(AppPathsTest, stopsAtADataDirectoryThatIsAFile) {
  test::TemporaryDirectory home;
  auto fileSystem = makePosixFileSystem();
  const AppPaths paths = AppPaths::macOSLayout(home.path());
  home.writeFile("Library/Application Support/Vellora", "not a directory");

  EXPECT_THROW(paths.ensureApplicationDirectories(*fileSystem), FileSystemError);
  EXPECT_TRUE(fileSystem->isRegularFile(paths.applicationSupportDirectory()));
  EXPECT_FALSE(fileSystem->fileExists(paths.workspaceDirectory()));
}

}  // namespace
}  // namespace vellora
