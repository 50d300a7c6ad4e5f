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
      {"CHROME_CONFIG_HOME replaces ~/.config and wins over XDG_CONFIG_HOME",
       {{"CHROME_CONFIG_HOME", "/chrome"}, {"XDG_CONFIG_HOME", "/config"}},
       "/home/example/.local/share",
       "/chrome/google-chrome"},
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

// Every browser of the family, in table order, where the layout puts its user data; the host
// manifest lies in its NativeMessagingHosts folder.
TEST(AppPathsTest, everyBrowserHasItsUserDataDirectoryInEachLayout) {
  struct Browser {
    const char* id;
    const char* name;
    const char* linuxDirectory;  // below the configuration base; nullptr: no Linux build
    const char* macOSDirectory;  // below ~/Library/Application Support
  };
  const Browser browsers[] = {
      {"chrome", "Google Chrome", "google-chrome", "Google/Chrome"},
      {"chrome-beta", "Google Chrome Beta", "google-chrome-beta", "Google/Chrome Beta"},
      {"chrome-dev", "Google Chrome Dev", "google-chrome-unstable", "Google/Chrome Dev"},
      {"chrome-canary", "Google Chrome Canary", nullptr, "Google/Chrome Canary"},
      {"chromium", "Chromium", "chromium", "Chromium"},
      {"brave", "Brave", "BraveSoftware/Brave-Browser", "BraveSoftware/Brave-Browser"},
      {"edge", "Microsoft Edge", "microsoft-edge", "Microsoft Edge"},
      {"vivaldi", "Vivaldi", "vivaldi", "Vivaldi"},
  };
  auto at = [](const std::string& directory) {
    return ChromeBrowserPaths{"", "", directory, directory + "/NativeMessagingHosts",
                              directory + "/NativeMessagingHosts/com.vellora.companion.json"};
  };
  struct Layout {
    const char* label;
    AppPaths paths;
    std::string base;
    bool isLinux;
  };
  const Layout layouts[] = {
      {"macOS", AppPaths::macOSLayout("/Users/example"),
       "/Users/example/Library/Application Support", false},
      {"Linux, no variables", AppPaths::linuxLayout("/home/example", {}), "/home/example/.config",
       true},
      {"Linux, XDG_CONFIG_HOME",
       AppPaths::linuxLayout("/home/example", {{"XDG_CONFIG_HOME", "/c/"}}), "/c", true},
      {"Linux, CHROME_CONFIG_HOME over XDG_CONFIG_HOME",
       AppPaths::linuxLayout("/home/example",
                             {{"CHROME_CONFIG_HOME", "/x/cfg"}, {"XDG_CONFIG_HOME", "/c"}}),
       "/x/cfg", true},
      {"Linux, relative CHROME_CONFIG_HOME",
       AppPaths::linuxLayout("/home/example",
                             {{"CHROME_CONFIG_HOME", "x/cfg"}, {"XDG_CONFIG_HOME", "/c"}}),
       "/c", true},
      {"Linux, relative XDG_CONFIG_HOME",
       AppPaths::linuxLayout("/home/example", {{"XDG_CONFIG_HOME", "c"}}), "/home/example/.config",
       true},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.label);
    std::vector<ChromeBrowserPaths> expected;
    for (const Browser& browser : browsers) {
      const char* directory = layout.isLinux ? browser.linuxDirectory : browser.macOSDirectory;
      if (directory == nullptr) continue;
      ChromeBrowserPaths paths = at(layout.base + "/" + directory);
      paths.id = browser.id;
      paths.name = browser.name;
      expected.push_back(paths);
    }
    EXPECT_EQ(layout.paths.browsers(), expected);
    // Google Chrome's is the one the chrome* fields name.
    EXPECT_EQ(layout.paths.browser("chrome")->nativeHostManifestURL,
              layout.paths.nativeHostManifestURL());
    EXPECT_EQ(layout.paths.browser("chrome-canary") == nullptr, layout.isLinux);
    EXPECT_EQ(layout.paths.browser("firefox"), nullptr);
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
