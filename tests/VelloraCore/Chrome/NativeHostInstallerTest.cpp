#include "VelloraCore/Chrome/NativeHostInstaller.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "VelloraCore/Chrome/NativeHostInstallerError.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "tests/fakes/FaultyFileSystem.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using State = NativeHostInstallationState;
using IDs = std::vector<std::string>;

const std::string kA(32, 'a');
const std::string kB(32, 'b');
const std::string kC(32, 'c');

class NativeHostInstallerTest : public ::testing::Test {
 protected:
  NativeHostInstallerTest()
      : fileSystem_(makePosixFileSystem()),
        paths_(AppPaths::platformLayout(home_.path(), {})),
        installer_(paths_, *fileSystem_),
        host_(home_.writeFile("Vellora.app/Contents/MacOS/vellora-native-host", "#!/bin/sh\n",
                              0755)) {}

  std::string manifestText() const {
    return fileSystem_->readFile(paths_.nativeHostManifestURL(), 1 << 20);
  }
  void writeManifest(const std::string& text) const {
    home_.writeFile(paths_.nativeHostManifestURL().substr(home_.path().size() + 1), text);
  }

  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_;
  AppPaths paths_;
  NativeHostInstaller installer_;
  std::string host_;
};

TEST_F(NativeHostInstallerTest, installWritesTheManifestAndJudgesItInstalled) {
  EXPECT_EQ(installer_.installationState(host_, {kA}), State::missing);
  EXPECT_FALSE(installer_.isInstalled());

  EXPECT_EQ(installer_.install(host_, {kA, kB}), paths_.nativeHostManifestURL());
  EXPECT_EQ(manifestText(), NativeHostManifest(host_, {kA, kB}).encodedData());
  EXPECT_TRUE(installer_.isInstalled());

  const struct {
    const char* label;
    std::string hostPath;
    IDs ids;
    State expected;
  } cases[] = {
      {"same IDs", host_, {kA, kB}, State::installed},
      {"a subset", host_, {kB}, State::installed},
      {"another order", host_, {kB, kA}, State::installed},
      {"no IDs", host_, {}, State::installed},
      {"an ID not listed", host_, {kA, kC}, State::stale},
      {"another executable", home_ / "elsewhere/vellora-native-host", {kA}, State::stale},
      {"a path differing in case",
       home_ / "vellora.app/Contents/MacOS/vellora-native-host",
       {kA},
       State::stale},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(installer_.installationState(c.hostPath, c.ids), c.expected);
    EXPECT_EQ(installer_.isInstalled(c.hostPath, c.ids), c.expected == State::installed);
  }
}

TEST_F(NativeHostInstallerTest, judgesManifestsWrittenByOthers) {
  const std::string good = NativeHostManifest(host_, {kA}).encodedData();
  auto edited = [&](const std::string& key, std::optional<JSONValue> value) {
    JSONValue json = JSONValue::parse(good);
    if (value) {
      (*json.objectValue())[key] = *value;
    } else {
      json.objectValue()->erase(key);
    }
    return json.serialized();
  };
  const struct {
    const char* label;
    std::string text;
    State expected;
  } cases[] = {
      {"as written", good, State::installed},
      {"compact, extra keys, description changed",
       edited("description", JSONValue("anything")).substr(0, 1) + R"("extra":[1],)" +
           edited("description", JSONValue("anything")).substr(1),
       State::installed},
      {"the same origin twice", NativeHostManifest(host_, {kA, kA}).encodedData(),
       State::installed},
      {"another host name", edited("name", JSONValue("com.example.other")), State::stale},
      {"another type", edited("type", JSONValue("STDIO")), State::stale},
      {"origins without ours", edited("allowed_origins", JSONValue(JSONValue::Array{})),
       State::stale},
      {"no type", edited("type", std::nullopt), State::invalid},
      {"a numeric path", edited("path", JSONValue(3)), State::invalid},
      {"an empty object", "{}", State::invalid},
      {"not JSON", "name: com.vellora.companion", State::invalid},
      {"an empty file", "", State::invalid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    writeManifest(c.text);
    EXPECT_EQ(installer_.installationState(host_, {kA}), c.expected);
    EXPECT_TRUE(installer_.isInstalled());
  }
}

TEST_F(NativeHostInstallerTest, aManifestThatCannotBeReadIsInvalid) {
  fileSystem_->createDirectories(paths_.nativeHostManifestURL() + "/");
  EXPECT_EQ(installer_.installationState(host_, {kA}), State::invalid);
  EXPECT_TRUE(installer_.isInstalled());

  fileSystem_->removeTree(paths_.nativeHostManifestURL());
  installer_.install(host_, {kA});
  test::FaultyFileSystem faulty(*fileSystem_);
  faulty.failOn(test::FaultyFileSystem::Operation::readFile, paths_.nativeHostManifestURL(),
                EACCES);
  EXPECT_EQ(NativeHostInstaller(paths_, faulty).installationState(host_, {kA}), State::invalid);
}

TEST_F(NativeHostInstallerTest, refusesEmptyIDsAndNonExecutableHostsBeforeTouchingTheDisk) {
  const auto expectRefusal = [&](const std::string& hostPath, const IDs& ids,
                                 const NativeHostInstallerError& expected,
                                 const std::string& description) {
    try {
      installer_.install(hostPath, ids);
      ADD_FAILURE() << "installed";
    } catch (const NativeHostInstallerError& error) {
      EXPECT_EQ(error, expected);
      EXPECT_EQ(error.what(), description);
    }
    EXPECT_FALSE(fileSystem_->fileExists(paths_.chromeNativeHostsDirectory()));
  };

  expectRefusal(home_ / "missing", {}, NativeHostInstallerError::missingExtensionID(),
                "Missing Chrome extension ID.");
  const std::string plainFile = home_.writeFile("plain", "", 0644);
  for (const std::string& path : {home_ / "missing", plainFile, home_.path(),
                                  std::string("Vellora.app/Contents/MacOS/vellora-native-host")}) {
    SCOPED_TRACE(path);
    expectRefusal(path, {kA}, NativeHostInstallerError::hostNotExecutable(path),
                  "Native host helper is not executable at " + path + ".");
  }
}

TEST_F(NativeHostInstallerTest, replacesAnEarlierManifest) {
  installer_.install(host_, {kA});
  installer_.install(host_, {kB});
  EXPECT_EQ(installer_.installationState(host_, {kB}), State::installed);
  EXPECT_EQ(installer_.installationState(host_, {kA}), State::stale);
  EXPECT_EQ(fileSystem_->contentsOfDirectory(paths_.chromeNativeHostsDirectory()),
            IDs{"com.vellora.companion.json"});
}

TEST_F(NativeHostInstallerTest, passesFileSystemFailuresOnAndKeepsTheEarlierManifest) {
  // The hosts directory is a regular file.
  home_.writeFile(paths_.chromeNativeHostsDirectory().substr(home_.path().size() + 1), "");
  EXPECT_THROW(installer_.install(host_, {kA}), FileSystemError);
  fileSystem_->removeTree(paths_.chromeNativeHostsDirectory());

  // The disk refuses the write.
  installer_.install(host_, {kA});
  const std::string earlier = manifestText();
  test::FaultyFileSystem faulty(*fileSystem_);
  faulty.failOn(test::FaultyFileSystem::Operation::writeFileAtomically,
                paths_.nativeHostManifestURL(), ENOSPC);
  try {
    NativeHostInstaller(paths_, faulty).install(host_, {kB});
    ADD_FAILURE() << "installed";
  } catch (const FileSystemError& error) {
    EXPECT_EQ(error.errorNumber(), ENOSPC);
    EXPECT_EQ(error.path(), paths_.nativeHostManifestURL());
  }
  EXPECT_EQ(manifestText(), earlier);
}

// A file-size limit makes the real disk refuse the write part-way through the new manifest.
TEST_F(NativeHostInstallerTest, aWriteRefusedPartWayLeavesNoTraceOnTheRealDisk) {
  installer_.install(host_, {kA});
  const std::string earlier = manifestText();

  rlimit previousLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit smallLimit = previousLimit;
  smallLimit.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &smallLimit), 0);
  bool threw = false;
  try {
    installer_.install(host_, {kA, kB, kC});
  } catch (const FileSystemError& error) {
    threw = error.errorNumber() == EFBIG;
  }
  ::setrlimit(RLIMIT_FSIZE, &previousLimit);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_TRUE(threw);
  EXPECT_EQ(manifestText(), earlier);
  EXPECT_EQ(fileSystem_->contentsOfDirectory(paths_.chromeNativeHostsDirectory()),
            IDs{"com.vellora.companion.json"});
}

}  // namespace
}  // namespace vellora
