#include "VelloraCompanion/Model/CompanionChecks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "VelloraCompanion/Model/CompanionInstallError.h"
#include "VelloraCore/Chrome/NativeHostInstaller.h"
#include "tests/VelloraCompanion/Model/CompanionFixture.h"

namespace vellora {
namespace {

using test::kExtensionA;
using test::kExtensionB;
using test::kExtensionC;

using enum HealthState;

class CompanionChecksTest : public ::testing::Test, protected test::CompanionFixture {
 protected:
  std::vector<std::string> allowedOrigins() {
    std::optional<NativeHostManifest> installed = manifest();
    return installed ? installed->allowedOrigins : std::vector<std::string>{"(no manifest)"};
  }
};

TEST_F(CompanionChecksTest, refreshWritesTheManifestBeforeMeasuring) {
  loadExtension(kExtensionA);
  signIntoCodex();
  EXPECT_EQ(makeChecks().measureRefresh(std::nullopt), test::allReady());
  EXPECT_EQ(manifest()->path, hostPath());
  EXPECT_EQ(allowedOrigins(), std::vector<std::string>{NativeHostManifest::origin(kExtensionA)});
  // Found at once: no pause.
  EXPECT_TRUE(sleeps().empty());
}

TEST_F(CompanionChecksTest, measuresEachFieldOnItsOwn) {
  // Nothing there: no extension (after 20 pauses), no manifest, no sign-in.
  EXPECT_EQ(makeChecks().measureRefresh(std::nullopt),
            test::health({.nativeHost = missing, .extension = missing, .auth = missing}));
  EXPECT_EQ(sleeps(), std::vector<double>(20, 0.25));
  EXPECT_FALSE(manifest());

  // A manifest for another extension is stale.
  NativeHostInstaller(paths(), fileSystem()).install(hostPath(), {kExtensionB});
  loadExtension(kExtensionA);
  EXPECT_EQ(makeChecks().computeHealth({.ids = {kExtensionA}}).nativeHost, error);

  // Without codex, both Codex fields are missing.
  environment().erase("VELLORA_CODEX_PATH");
  const CompanionHealth noCodex = makeChecks().computeHealth({});
  EXPECT_EQ(noCodex.codex, missing);
  EXPECT_EQ(noCodex.appServer, missing);

  // Without an executable location the host is missing, whatever the manifest says.
  EXPECT_EQ(makeChecks(std::nullopt).computeHealth({.ids = {kExtensionB}}).nativeHost, missing);
}

TEST_F(CompanionChecksTest, aSystemManifestCountsOnlyWithoutAPerUserOne) {
  const std::string systemManifest = systemHostsDirectory() + "/com.vellora.companion.json";
  const std::string systemHost = home() / "usr/lib/vellora/vellora-native-host";
  fileSystem().createDirectories(home() / "usr/lib/vellora");
  fileSystem().writeFileAtomically(systemHost, "#!/bin/sh\n");
  ::chmod(systemHost.c_str(), 0755);
  fileSystem().createDirectories(systemHostsDirectory());
  auto writeSystemManifest = [&](const std::string& host, const std::string& id) {
    fileSystem().writeFileAtomically(systemManifest, NativeHostManifest(host, {id}).encodedData());
  };
  const struct {
    const char* label;
    std::string host;
    std::string id;
    HealthState expected;
  } cases[] = {
      {"the packaged host for the extension", systemHost, kExtensionA, ready},
      {"another extension", systemHost, kExtensionB, missing},
      {"a host that is not there", home() / "nowhere/vellora-native-host", kExtensionA, missing},
      {"a host that cannot run", home() / ".codex/auth.json", kExtensionA, missing},
  };
  signIntoCodex();
  for (const auto& c : cases) {
    writeSystemManifest(c.host, c.id);
    EXPECT_EQ(makeChecks().computeHealth({.ids = {kExtensionA}}).nativeHost, c.expected) << c.label;
  }
  fileSystem().writeFileAtomically(systemManifest, "{not json");
  EXPECT_EQ(makeChecks().computeHealth({.ids = {kExtensionA}}).nativeHost, missing);

  // The browser reads the user's manifest first: a stale one is wrong whatever the system has.
  writeSystemManifest(systemHost, kExtensionA);
  NativeHostInstaller(paths(), fileSystem()).install(hostPath(), {kExtensionB});
  EXPECT_EQ(makeChecks().computeHealth({.ids = {kExtensionA}}).nativeHost, error);

  // Each browser has its own system folder: Chromium's serves the extension found in Chromium,
  // Google Chrome's does not.
  const std::string chromiumHosts =
      systemRoot() + std::string(systemNativeHostsDirectory("chromium"));
  fileSystem().createDirectories(chromiumHosts);
  const DetectedExtensions inChromium{.ids = {kExtensionA}, .browsers = {"chromium"}};
  EXPECT_EQ(makeChecks().computeHealth(inChromium).nativeHost, missing);
  fileSystem().writeFileAtomically(chromiumHosts + "/com.vellora.companion.json",
                                   NativeHostManifest(systemHost, {kExtensionA}).encodedData());
  EXPECT_EQ(makeChecks().computeHealth(inChromium).nativeHost, ready);
}

TEST_F(CompanionChecksTest, samplesLongerWhenTheExtensionWasSeenBefore) {
  loadExtension(kExtensionA);
  // Ready before and still loaded: every one of the 48 samples is taken.
  makeChecks().sampleExtensions(true);
  EXPECT_EQ(sleeps().size(), 48u);
}

TEST_F(CompanionChecksTest, findsTheHostBesideTheExecutableOrWhereTheEnvironmentSays) {
  EXPECT_EQ(makeChecks().nativeHostExecutableURL(), hostPath());
  EXPECT_THROW(
      {
        try {
          makeChecks(std::nullopt).nativeHostExecutableURL();
        } catch (const CompanionInstallError& error) {
          EXPECT_EQ(error, CompanionInstallError(
                               CompanionInstallError::Case::missingNativeHostExecutable));
          throw;
        }
      },
      CompanionInstallError);
  environment()["VELLORA_NATIVE_HOST_PATH"] = "";
  EXPECT_EQ(makeChecks().nativeHostExecutableURL(), hostPath());

  // Taken as given; the installer then judges it. Nothing exists there, so the upkeep cannot
  // write a manifest and the host stays missing.
  environment()["VELLORA_NATIVE_HOST_PATH"] = home() / "nowhere/host";
  EXPECT_EQ(makeChecks(std::nullopt).nativeHostExecutableURL(), home() / "nowhere/host");
  loadExtension(kExtensionA);
  EXPECT_EQ(makeChecks().measureRefresh(std::nullopt).nativeHost, missing);
  EXPECT_FALSE(manifest());
}

TEST_F(CompanionChecksTest, repairAllowsTheEnvironmentsIDOrEveryDetectedOne) {
  loadExtension(kExtensionB, "Default");
  loadExtension(kExtensionA, "Profile 1");

  // Both profiles' IDs, in ascending order.
  NativeHostInstallOutcome outcome = makeChecks().performNativeHostInstall();
  ASSERT_TRUE(outcome.isSuccess());
  EXPECT_EQ(allowedOrigins(), (std::vector<std::string>{NativeHostManifest::origin(kExtensionA),
                                                        NativeHostManifest::origin(kExtensionB)}));

  // An empty variable counts as unset.
  environment()["VELLORA_EXTENSION_ID"] = "";
  EXPECT_EQ(makeChecks().resolveExtensionIDs().ids,
            (std::vector<std::string>{kExtensionA, kExtensionB}));

  // A given ID is used alone; the health is measured from it.
  environment()["VELLORA_EXTENSION_ID"] = kExtensionC;
  outcome = makeChecks().performNativeHostInstall();
  ASSERT_TRUE(outcome.isSuccess());
  EXPECT_EQ(allowedOrigins(), std::vector<std::string>{NativeHostManifest::origin(kExtensionC)});
  const CompanionHealth after = std::get<NativeHostInstallOutcome::Success>(outcome.value).health;
  EXPECT_EQ(after.extension, ready);
  EXPECT_EQ(after.nativeHost, ready);
}

// The repair writes the manifest to Google Chrome's folder and to every browser that holds the
// extension; an ID from the environment, held by no browser, goes to every present one.
TEST_F(CompanionChecksTest, repairWritesTheManifestWhereverTheBrowsersReadIt) {
  const struct {
    const char* label;
    std::vector<std::string> holding;  // browsers that hold kExtensionA
    std::vector<std::string> present;  // further browsers whose folder exists
    std::optional<std::string> extensionID;
    std::vector<std::string> targets;
  } cases[] = {
      {"Google Chrome alone", {"chrome"}, {}, std::nullopt, {"chrome"}},
      {"Chromium alone", {"chromium"}, {}, std::nullopt, {"chrome", "chromium"}},
      {"Brave and Chromium, Edge present",
       {"brave", "chromium"},
       {"edge"},
       std::nullopt,
       {"chrome", "chromium", "brave"}},
      {"an ID from the environment",
       {},
       {"vivaldi", "edge"},
       kExtensionC,
       {"chrome", "edge", "vivaldi"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    removeBrowsers();
    environment().erase("VELLORA_EXTENSION_ID");
    if (c.extensionID) environment()["VELLORA_EXTENSION_ID"] = *c.extensionID;
    for (const std::string& browser : c.holding) loadExtensionIn(browser, kExtensionA);
    for (const std::string& browser : c.present) {
      fileSystem().createDirectories(paths().browser(browser)->userDataDirectory);
    }
    const NativeHostInstallOutcome outcome = makeChecks().performNativeHostInstall();
    ASSERT_TRUE(outcome.isSuccess());
    const auto& success = std::get<NativeHostInstallOutcome::Success>(outcome.value);
    std::vector<InstalledManifest> expected;
    for (const std::string& target : c.targets) {
      expected.push_back(
          {paths().browser(target)->name, paths().browser(target)->nativeHostManifestURL});
    }
    EXPECT_EQ(success.manifests, expected);
    const std::string id = c.extensionID.value_or(kExtensionA);
    for (const ChromeBrowserPaths& browser : paths().browsers()) {
      const bool isTarget =
          std::find(c.targets.begin(), c.targets.end(), browser.id) != c.targets.end();
      EXPECT_EQ(fileSystem().fileExists(browser.nativeHostManifestURL), isTarget) << browser.id;
      if (isTarget) {
        EXPECT_EQ(fileSystem().readFile(browser.nativeHostManifestURL, 1 << 20),
                  NativeHostManifest(hostPath(), {id}).encodedData())
            << browser.id;
      }
    }
    EXPECT_EQ(success.health.nativeHost, ready);
  }
}

// The host is ready only when every browser that holds the extension reads a right manifest;
// Google Chrome's folder counts only when Google Chrome holds it, or when no browser does.
TEST_F(CompanionChecksTest, theHostIsJudgedInEveryBrowserThatHoldsTheExtension) {
  const std::string otherHost = home().writeFile("elsewhere/vellora-native-host", "", 0755);
  const struct {
    const char* label;
    std::vector<std::string> holding;
    std::vector<std::pair<std::string, std::string>> manifests;  // browser, host path
    HealthState expected;
  } cases[] = {
      {"right in both", {"chromium", "brave"}, {{"chromium", ""}, {"brave", ""}}, ready},
      {"missing in one", {"chromium", "brave"}, {{"chromium", ""}}, missing},
      {"stale in one, missing in the other", {"chromium", "brave"}, {{"brave", otherHost}}, error},
      {"a stale Google Chrome manifest does not matter to Chromium",
       {"chromium"},
       {{"chromium", ""}, {"chrome", otherHost}},
       ready},
      {"no browser holds it: Google Chrome's folder decides", {}, {{"chrome", otherHost}}, error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    removeBrowsers();
    for (const std::string& browser : c.holding) loadExtensionIn(browser, kExtensionA);
    for (const auto& [browser, host] : c.manifests) {
      NativeHostInstaller(*paths().browser(browser), fileSystem())
          .install(host.empty() ? hostPath() : host, {kExtensionA});
    }
    const CompanionChecks checks = makeChecks();
    const DetectedExtensions detected = checks.detectExtensions();
    EXPECT_EQ(detected.browsers, c.holding);
    EXPECT_EQ(checks.nativeHostHealth(c.holding.empty() ? DetectedExtensions{{kExtensionA}, {}}
                                                        : detected),
              c.expected);
  }
}

// The silent upkeep of a refresh sets up Chromium the same way.
TEST_F(CompanionChecksTest, refreshSetsUpABrowserOtherThanGoogleChrome) {
  loadExtensionIn("chromium", kExtensionA);
  signIntoCodex();
  EXPECT_EQ(makeChecks().measureRefresh(std::nullopt), test::allReady());
  for (const char* browser : {"chrome", "chromium"}) {
    EXPECT_EQ(fileSystem().readFile(paths().browser(browser)->nativeHostManifestURL, 1 << 20),
              NativeHostManifest(hostPath(), {kExtensionA}).encodedData())
        << browser;
  }
}

TEST_F(CompanionChecksTest, repairReportsEachFailureInWords) {
  const std::string missingExtension =
      "Vellora could not find a loaded unpacked extension in Chrome.\n\nOpen chrome://extensions, "
      "choose Load Unpacked, and select the extension folder. Make sure Developer Mode is on. "
      "Then choose Fix Browser Connection again. Codex auth is separate: Vellora uses your "
      "existing local Codex setup after Chrome can connect to the native host.";
  enum Executable { besideTheCompanion, noExecutable, translocated };
  struct Case {
    const char* label;
    std::optional<std::string> extensionID;  // VELLORA_EXTENSION_ID
    std::optional<std::string> hostPath;     // VELLORA_NATIVE_HOST_PATH
    Executable executable;
    std::string message;
  } cases[] = {
      {"invalid ID", "ABC", std::nullopt, besideTheCompanion, "Invalid Chrome extension ID: ABC."},
      {"no extension", std::nullopt, std::nullopt, besideTheCompanion, missingExtension},
      {"no executable", kExtensionA, std::nullopt, noExecutable,
       "Vellora could not locate the vellora-native-host helper next to the companion "
       "executable."},
      {"host not executable", kExtensionA, home() / "nowhere/host", besideTheCompanion,
       "Native host helper is not executable at " + home() / "nowhere/host" + "."},
      // A manifest naming the temporary copy would stop working once the companion quits.
      {"translocated by macOS", kExtensionA, std::nullopt, translocated,
       "Vellora is running from a temporary copy that macOS made because it was opened where it "
       "was downloaded, and Chrome could not start the native host from there later.\n\nMove "
       "Vellora to the Applications folder, open it from there, and choose Fix Browser "
       "Connection again."},
  };
  const std::string translocatedCompanion =
      "/private/var/folders/x1/abc/T/AppTranslocation/5A1B2C3D-0000-4000-8000-000000000000/d/"
      "Vellora.app/Contents/MacOS/VelloraCompanion";
  for (const Case& c : cases) {
    environment().erase("VELLORA_EXTENSION_ID");
    environment().erase("VELLORA_NATIVE_HOST_PATH");
    if (c.extensionID) environment()["VELLORA_EXTENSION_ID"] = *c.extensionID;
    if (c.hostPath) environment()["VELLORA_NATIVE_HOST_PATH"] = *c.hostPath;
    CompanionChecks checks = c.executable == besideTheCompanion ? makeChecks()
                             : c.executable == noExecutable     ? makeChecks(std::nullopt)
                                                                : makeChecks(translocatedCompanion);
    EXPECT_EQ(checks.performNativeHostInstall(), NativeHostInstallOutcome::failure(c.message))
        << c.label;
    EXPECT_FALSE(manifest()) << c.label;
  }
}

TEST(CompanionInstallErrorTest, comparesByCaseAndText) {
  using Case = CompanionInstallError::Case;
  EXPECT_EQ(CompanionInstallError::invalidExtensionID("x"),
            CompanionInstallError::invalidExtensionID("x"));
  EXPECT_FALSE(CompanionInstallError::invalidExtensionID("x") ==
               CompanionInstallError::invalidExtensionID("y"));
  EXPECT_FALSE(CompanionInstallError(Case::missingExtensionID) ==
               CompanionInstallError(Case::missingBundledExtension));
  EXPECT_STREQ(CompanionInstallError(Case::missingBundledExtension).what(),
               "Vellora could not find the bundled Chrome extension. Reinstall Vellora or rebuild "
               "the extension.");
}

}  // namespace
}  // namespace vellora
