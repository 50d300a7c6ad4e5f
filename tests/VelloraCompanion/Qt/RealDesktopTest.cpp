// The companion as a user starts it, on a real X display (Xvfb) with a real system tray
// (trayer): the tray icon is embedded, its menu opens on a click, the welcome window opens at
// launch with its title and size, and the launch refresh shows its result in the window. Then
// the same with the installed layout and Debian's Chromium, which loads the packaged extension
// (the probe, then our side panel extension) from the folder the companion prepared, on Google
// Chrome's folder and on Chromium's own: Refresh Status finds it, writes the host manifest and
// step 3 turns complete.
// Screenshots go to <build>/screenshots/desktop-*.png.
//
// Waits poll the display with a bound; a display or tray that cannot start fails the test with
// the reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <QImage>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/JSONValue.h"
#include "tests/VelloraCompanion/Qt/Pixels.h"
#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/support/Chromium.h"
#include "tests/support/Processes.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using namespace std::chrono_literals;
using SteadyTime = std::chrono::steady_clock;

// Generous bounds for a loaded machine and the ASan build.
constexpr auto kStartTimeout = 30s;
constexpr auto kCheckTimeout = 90s;
constexpr auto kCommandTimeout = 20s;
constexpr auto kPollInterval = 100ms;
constexpr auto kTrayTimeout = 20s;
constexpr int kTrayAttempts = 3;

using test::screenshotPath;

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool waitUntil(const std::function<bool()>& condition, SteadyTime::duration timeout) {
  const SteadyTime::time_point deadline = SteadyTime::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (SteadyTime::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

// Reads a child's output to its end, bounded; what came before the bound.
std::string readAll(ByteStream& stream, SteadyTime::time_point deadline) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyTime::now());
    if (left <= 0ms || !stream.waitReadable(left)) break;
    const std::size_t count = stream.read(buffer, sizeof buffer);
    if (count == 0) break;
    text.append(buffer, count);
  }
  return text;
}

// Stops a child: SIGTERM, then SIGKILL if it does not end within a few seconds.
void stop(Process& process) {
  if (!process.isRunning()) return;
  process.terminate();
  test::waitOrKill(process, SteadyTime::now() + 10s);
}

// A program started for the length of a test, stopped at the end.
struct Running {
  LaunchedProcess child;
  Running() = default;
  explicit Running(LaunchedProcess launched) : child(std::move(launched)) {}
  Running(Running&&) = default;
  Running& operator=(Running&& other) {
    if (child.process) stop(*child.process);
    child = std::move(other.child);
    return *this;
  }
  ~Running() {
    if (child.process) stop(*child.process);
  }
};

// An X display of its own with a system tray, for one test.
class XSession {
 public:
  // Fails the test (with the reason) when the display or the tray cannot start. `screen` is
  // Xvfb's WIDTHxHEIGHTxDEPTH; without `tray` the session has none.
  void start(const std::string& screen = "1280x1024x24", bool tray = true) {
    const std::unique_ptr<FileSystem> fileSystem = makePosixFileSystem();
    for (const char* program : {"/usr/bin/Xvfb", "/usr/bin/trayer", "/usr/bin/xdotool",
                                "/usr/bin/xwininfo", "/usr/bin/import"}) {
      ASSERT_TRUE(fileSystem->isExecutableFile(program))
          << program << " is missing: scripts/bootstrap.sh installs xvfb, trayer, xdotool, "
          << "x11-utils and imagemagick";
    }
    // -displayfd: Xvfb picks a free display number and writes it once it accepts clients.
    ProcessLaunchOptions xvfb;
    xvfb.executablePath = "/usr/bin/Xvfb";
    xvfb.arguments = {"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"};
    xvfb.standardError = StreamMode::nullDevice;
    server_ = Running(makePosixProcessLauncher()->launch(xvfb));
    std::string number;
    const SteadyTime::time_point deadline = SteadyTime::now() + kStartTimeout;
    ByteStream& output = *server_.child.standardOutput;
    for (char c = 0; number.find('\n') == std::string::npos; number.push_back(c)) {
      // A negative time-out would wait without limit.
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyTime::now());
      if (left <= 0ms || !output.waitReadable(left) || output.read(&c, 1) != 1) break;
    }
    ASSERT_NE(number.find('\n'), std::string::npos)
        << "Xvfb did not start a display within " << kStartTimeout.count() << " s";
    display_ = ":" + number.substr(0, number.find('\n'));
    if (!tray) return;

    // On a loaded machine trayer now and then ends, or never maps its panel, on a display
    // that has just started: a few tries, each bounded, before the test fails with what the
    // last one said.
    std::string lastReport;
    for (int attempt = 1; attempt <= kTrayAttempts; ++attempt) {
      if (startTray(lastReport)) return;
    }
    FAIL() << "trayer did not open its panel on " << display_ << " in " << kTrayAttempts
           << " tries; the last: " << lastReport;
  }

  // Starts trayer and waits for its panel; false, with what happened in `report`, when it
  // ended or did not show the panel in time (it is stopped then).
  bool startTray(std::string& report) {
    ProcessLaunchOptions trayer;
    trayer.executablePath = "/usr/bin/trayer";
    trayer.arguments = {"--edge",  "top",      "--align", "right",         "--widthtype",
                        "request", "--height", "24",      "--transparent", "false"};
    trayer.environment = environment();
    trayer.standardOutput = StreamMode::nullDevice;
    trayer.standardError = StreamMode::pipe;
    tray_ = Running(makePosixProcessLauncher()->launch(trayer));
    Process& process = *tray_.child.process;
    const bool shown =
        waitUntil([&] { return !process.isRunning() || trayPanel().has_value(); }, kTrayTimeout) &&
        process.isRunning();
    if (shown) return true;
    report = process.isRunning() ? "no panel within " + std::to_string(kTrayTimeout.count()) + " s"
                                 : "trayer ended";
    stop(process);
    const std::string said =
        readAll(*tray_.child.standardError, SteadyTime::now() + std::chrono::seconds(2));
    if (!said.empty()) report += ", saying: " + said;
    tray_ = Running();
    return false;
  }

  // The environment of a program on this display.
  Environment environment() const { return {{"DISPLAY", display_}, {"PATH", "/usr/bin:/bin"}}; }

  // Runs an X tool to its end and returns its standard output.
  std::string run(const std::string& program, std::vector<std::string> arguments) const {
    ProcessLaunchOptions options;
    options.executablePath = "/usr/bin/" + program;
    options.arguments = std::move(arguments);
    options.environment = environment();
    options.standardError = StreamMode::nullDevice;
    LaunchedProcess child = makePosixProcessLauncher()->launch(options);
    std::string text = readAll(*child.standardOutput, SteadyTime::now() + kCommandTimeout);
    stop(*child.process);
    return text;
  }

  // The window ID of trayer's panel, once it is there.
  std::optional<std::string> trayPanel() const {
    std::istringstream tree(run("xwininfo", {"-root", "-tree"}));
    for (std::string line; std::getline(tree, line);) {
      if (line.find("(\"panel\" \"trayer\")") == std::string::npos) continue;
      std::istringstream fields(line);
      std::string id;
      fields >> id;
      return id;
    }
    return std::nullopt;
  }

  // The IDs of the windows named exactly `name` (only those shown, with `visible`).
  std::vector<std::string> windowsNamed(const std::string& name, bool visible = false) const {
    std::vector<std::string> arguments = {"search", "--name", "^" + name + "$"};
    if (visible) arguments.insert(arguments.begin() + 1, "--onlyvisible");
    std::istringstream ids(run("xdotool", arguments));
    std::vector<std::string> found;
    for (std::string id; ids >> id;) found.push_back(id);
    return found;
  }

  // A window's place on the screen and size, from xwininfo.
  struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
  };
  Geometry geometryOf(const std::string& window) const {
    std::istringstream info(run("xwininfo", {"-id", window}));
    Geometry geometry;
    for (std::string line; std::getline(info, line);) {
      auto value = [&](const std::string& key, int& field) {
        if (line.find(key) == 0) field = std::stoi(line.substr(key.size()));
      };
      value("  Absolute upper-left X: ", geometry.x);
      value("  Absolute upper-left Y: ", geometry.y);
      value("  Width: ", geometry.width);
      value("  Height: ", geometry.height);
    }
    return geometry;
  }

  // Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW).
  void closeWindow(const std::string& window) const {
    xcb_connection_t* connection = xcb_connect(display_.c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    auto atom = [&](const char* name) {
      xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
          connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
      const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
      std::free(reply);
      return value;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(std::stoul(window));
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    xcb_disconnect(connection);
  }

  // A window's inside size, "WIDTHxHEIGHT".
  std::string sizeOf(const std::string& window) const {
    std::istringstream info(run("xwininfo", {"-id", window}));
    std::string width, height;
    for (std::string line; std::getline(info, line);) {
      if (line.find("  Width: ") == 0) width = line.substr(9);
      if (line.find("  Height: ") == 0) height = line.substr(10);
    }
    return width + "x" + height;
  }

  // Photographs a window (or "root") into `path` and reads it back.
  QImage photograph(const std::string& window, const std::string& path) const {
    run("import", {"-window", window, path});
    return QImage(QString::fromStdString(path));
  }

 private:
  Running server_;
  Running tray_;
  std::string display_;
};

class RealDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.start();
    if (HasFatalFailure()) return;
    // Codex is there and signed in: the stand-in answers the probes.
    home_.writeFile(".codex/auth.json", R"({"OPENAI_API_KEY":"sk-test"})");
    ::mkdir((home_ / "runtime").c_str(), 0700);
  }

  Environment companionEnvironment() const {
    Environment environment = session_.environment();
    environment["HOME"] = home_.path();
    environment["XDG_RUNTIME_DIR"] = home_ / "runtime";
    environment["VELLORA_CODEX_PATH"] = test::kFakeCodexPath;
    environment["QT_QPA_PLATFORM"] = "xcb";
    return environment;
  }

  // Runs a program to its end; its exit, or nothing when it did not end within the bound.
  std::optional<ProcessExit> runToEnd(const std::string& program, Environment environment) {
    Running child = startCompanion(program, std::move(environment));
    child.child.process->waitForExit(SteadyTime::now() + kStartTimeout);
    return child.child.process->exitStatus();
  }

  // Asks every shown welcome window to close until none is shown; false when one stays. (The
  // request is repeated: under a parallel test load the first one has been seen to go
  // unanswered.)
  bool closeWelcomeWindow() {
    return waitUntil(
        [&] {
          const std::vector<std::string> shown = session_.windowsNamed("Welcome to Vellora", true);
          for (const std::string& id : shown) session_.closeWindow(id);
          return shown.empty();
        },
        kStartTimeout);
  }

  // Whether the process ends within the start bound.
  static bool ends(Running& running) {
    return waitUntil([&] { return !running.child.process->isRunning(); }, kStartTimeout);
  }

  // Clicks the footer button that covers column `x` of the window: the lowest thing in that
  // column that differs from the background below it (found in a photograph, so that the
  // layout may change). False when nothing is there.
  bool clickFooterButton(const std::string& window, int x, const std::string& name) {
    const QImage shot = session_.photograph(window, screenshotPath(name));
    if (shot.isNull() || x >= shot.width()) return false;
    const QRgb background = shot.pixel(x, shot.height() - 5);
    int bottom = shot.height() - 5;
    while (bottom > 0 && shot.pixel(x, bottom) == background) --bottom;
    if (bottom < 100) return false;
    session_.run("xdotool", {"mousemove", "--window", window, std::to_string(x),
                             std::to_string(bottom - 12), "click", "1"});
    return true;
  }

  Running startCompanion(const std::string& program, Environment environment) {
    ProcessLaunchOptions options;
    options.executablePath = program;
    options.environment = std::move(environment);
    options.workingDirectory = home_.path();
    options.standardOutput = StreamMode::nullDevice;
    options.standardError = StreamMode::inherit;
    return Running(makePosixProcessLauncher()->launch(options));
  }

  // The welcome window once it is open.
  std::string waitForWelcomeWindow() {
    std::string window;
    EXPECT_TRUE(waitUntil(
        [&] {
          const std::vector<std::string> found = session_.windowsNamed("Welcome to Vellora");
          if (found.empty()) return false;
          window = found.front();
          return true;
        },
        kStartTimeout))
        << "no window titled \"Welcome to Vellora\"";
    return window;
  }

  // Waits until the window shows `badges` green badges (one per complete step); the last
  // photograph is saved as `name`.
  bool waitForCompleteSteps(const std::string& window, int badges, const std::string& name) {
    const std::string path = screenshotPath(name);
    int green = 0;
    const bool shown = waitUntil(
        [&] {
          green = test::countPixels(session_.photograph(window, path), test::kBadgeGreen);
          return green >= badges * 400 && green <= badges * 700 + 50;
        },
        kCheckTimeout);
    EXPECT_TRUE(shown) << "expected " << badges << " complete steps, saw " << green
                       << " green pixels; see " << path;
    return shown;
  }

  // One run of the installed layout: which extension is packaged, which folder Chromium keeps
  // its profile in, where the manifest must appear.
  struct PackagedRun {
    std::string screenshotPrefix;
    std::string extensionSource;
    std::string extensionID;
    std::function<std::string(const AppPaths&)> userDataDirectory;
    std::function<std::string(const AppPaths&)> manifestPath;
  };
  void refreshFindsTheExtensionChromiumLoaded(const PackagedRun& run);

  XSession session_;
  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
};

TEST_F(RealDesktopTest, theTrayIconMenuAndWelcomeWindowShowTheLaunchRefresh) {
  Environment environment = companionEnvironment();
  environment["VELLORA_NATIVE_HOST_PATH"] = VELLORA_NATIVE_HOST_BUILD_PATH;
  Running companion = startCompanion(VELLORA_COMPANION_PATH, environment);

  // The tray icon is embedded in trayer's panel.
  const std::optional<std::string> panel = session_.trayPanel();
  ASSERT_TRUE(panel);
  std::string trayIcon;
  EXPECT_TRUE(waitUntil(
      [&] {
        std::istringstream tree(session_.run("xwininfo", {"-tree", "-id", *panel}));
        for (std::string line; std::getline(tree, line);) {
          if (line.find("(\"VelloraCompanion\"") == std::string::npos) continue;
          std::istringstream fields(line);
          fields >> trayIcon;
          return true;
        }
        return false;
      },
      kStartTimeout))
      << "no icon of the companion in the tray";

  // The welcome window opens at launch, 570 x 700, and the launch refresh ends with Codex
  // ready: steps 1 and 2 complete, the extension not yet loaded.
  const std::string window = waitForWelcomeWindow();
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(session_.sizeOf(window), "570x700");
  waitForCompleteSteps(window, 2, "desktop-refreshed");

  // A click on the tray icon opens the menu, a window of the companion's own.
  if (!trayIcon.empty()) {
    const std::size_t before = session_.run("xwininfo", {"-root", "-tree"}).size();
    session_.run("xdotool", {"mousemove", "--window", trayIcon, "11", "11", "click", "1"});
    EXPECT_TRUE(waitUntil(
        [&] {
          return !session_
                      .run("xdotool",
                           {"search", "--onlyvisible", "--classname", "VelloraCompanion"})
                      .empty() &&
                 session_.run("xwininfo", {"-root", "-tree"}).size() > before;
        },
        kStartTimeout));
    session_.photograph("root", screenshotPath("desktop-menu"));
    session_.run("xdotool", {"key", "Escape"});
  }
  session_.photograph("root", screenshotPath("desktop-screen"));
  EXPECT_TRUE(companion.child.process->isRunning());
}

// The installed layout: both programs in <prefix>/lib/vellora, the packaged extension in
// <prefix>/share/vellora/extension (`run.extensionSource`). Chromium, on the run's user data
// directory, loads the folder the companion prepared; Refresh Status finds the extension by its
// ID, writes the manifest to the run's path for the host beside the companion, and all three
// steps complete.
void RealDesktopTest::refreshFindsTheExtensionChromiumLoaded(const PackagedRun& run) {
  const std::string& screenshotPrefix = run.screenshotPrefix;
  const std::optional<std::string> chromium = test::findChromium(*fileSystem_);
  ASSERT_TRUE(chromium) << "Debian's chromium is missing: scripts/bootstrap.sh installs it";

  const std::string prefix = home_ / "prefix";
  fileSystem_->createDirectories(prefix + "/lib/vellora");
  fileSystem_->createDirectories(prefix + "/share/vellora");
  const std::string companionProgram = prefix + "/lib/vellora/VelloraCompanion";
  const std::string hostProgram = prefix + "/lib/vellora/vellora-native-host";
  fileSystem_->copyTree(VELLORA_COMPANION_PATH, companionProgram);
  fileSystem_->copyTree(VELLORA_NATIVE_HOST_BUILD_PATH, hostProgram);
  fileSystem_->copyTree(run.extensionSource, prefix + "/share/vellora/extension");

  Running companion = startCompanion(companionProgram, companionEnvironment());
  const std::string window = waitForWelcomeWindow();
  ASSERT_FALSE(window.empty());
  waitForCompleteSteps(window, 2, screenshotPrefix + "-before");

  // The companion copied the packaged extension to its data folder at launch; Chromium loads
  // it from there and records it in its profile (--dump-dom quits once the page has loaded).
  const AppPaths paths = AppPaths::platformLayout(home_.path(), {{"HOME", home_.path()}});
  ASSERT_TRUE(fileSystem_->fileExists(paths.chromeExtensionDirectory() + "/manifest.json"));
  const std::optional<ProcessExit> firstStart =
      test::writeChromiumProfile(*chromium, paths, companionEnvironment(),
                                 SteadyTime::now() + kCheckTimeout, run.userDataDirectory(paths));
  ASSERT_TRUE(firstStart) << "chromium did not quit";
  ASSERT_EQ(firstStart, (ProcessExit{ProcessExit::Reason::exited, 0}));

  // Refresh Status: the right-hand footer button, the last thing in the window from the
  // bottom (found in the photograph, so that the layout may change).
  const QImage shot = session_.photograph(window, screenshotPath(screenshotPrefix + "-loaded"));
  ASSERT_FALSE(shot.isNull());
  const int x = 375;
  const QRgb background = shot.pixel(x, shot.height() - 5);
  int buttonBottom = shot.height() - 5;
  while (buttonBottom > 0 && shot.pixel(x, buttonBottom) == background) --buttonBottom;
  ASSERT_GT(buttonBottom, 300) << "no footer button found";
  session_.run("xdotool", {"mousemove", "--window", window, std::to_string(x),
                           std::to_string(buttonBottom - 12), "click", "1"});

  // The refresh finds the extension, writes the manifest for the host beside the companion,
  // and all three steps are complete.
  waitForCompleteSteps(window, 3, screenshotPrefix + "-refreshed");
  const std::string manifest = fileSystem_->readFile(run.manifestPath(paths), 1 << 20);
  EXPECT_EQ(manifest,
            NativeHostManifest(fileSystem_->resolvingSymlinks(hostProgram), {run.extensionID})
                .encodedData());
}

TEST_F(RealDesktopTest, chromiumLoadsTheFolderTheCompanionPreparedAndRefreshFindsIt) {
  refreshFindsTheExtensionChromiumLoaded({
      .screenshotPrefix = "desktop-chromium",
      .extensionSource = test::probeExtensionSource(),
      .extensionID = test::kProbeExtensionID,
      .userDataDirectory = [](const AppPaths& paths) { return paths.chromeUserDataDirectory(); },
      .manifestPath = [](const AppPaths& paths) { return paths.nativeHostManifestURL(); },
  });
}

// A Debian Chromium user: the profile in Chromium's own folder, ~/.config/chromium, and the
// manifest where Chromium reads it.
TEST_F(RealDesktopTest, refreshFindsTheExtensionInChromiumsOwnFolder) {
  refreshFindsTheExtensionChromiumLoaded({
      .screenshotPrefix = "desktop-chromium-own-folder",
      .extensionSource = test::probeExtensionSource(),
      .extensionID = test::kProbeExtensionID,
      .userDataDirectory =
          [](const AppPaths& paths) { return paths.browser("chromium")->userDataDirectory; },
      .manifestPath =
          [](const AppPaths& paths) { return paths.browser("chromium")->nativeHostManifestURL; },
  });
}

// The same with the side panel extension that the build makes and the install packages.
TEST_F(RealDesktopTest, chromiumLoadsOurPackagedExtensionAndRefreshFindsIt) {
  if (!fileSystem_->fileExists(test::sidePanelExtensionSource() + "/manifest.json")) {
    GTEST_SKIP() << "apps/extension/dist is not built";
  }
  refreshFindsTheExtensionChromiumLoaded({
      .screenshotPrefix = "desktop-chromium-ours",
      .extensionSource = test::sidePanelExtensionSource(),
      .extensionID = test::kSidePanelExtensionID,
      .userDataDirectory =
          [](const AppPaths& paths) { return paths.browser("chromium")->userDataDirectory; },
      .manifestPath =
          [](const AppPaths& paths) { return paths.browser("chromium")->nativeHostManifestURL; },
  });
}

TEST_F(RealDesktopTest, aSecondLaunchShowsTheRunningCompanionsWindowAndEnds) {
  Running first = startCompanion(VELLORA_COMPANION_PATH, companionEnvironment());
  std::string window = waitForWelcomeWindow();
  ASSERT_FALSE(window.empty());
  waitForCompleteSteps(window, 2, "desktop-first-launch");
  // With a tray, closing the window leaves the companion running.
  EXPECT_TRUE(closeWelcomeWindow());
  EXPECT_TRUE(first.child.process->isRunning());

  EXPECT_EQ(runToEnd(VELLORA_COMPANION_PATH, companionEnvironment()),
            (ProcessExit{ProcessExit::Reason::exited, 0}));
  window = waitForWelcomeWindow();
  ASSERT_FALSE(window.empty());
  session_.photograph(window, screenshotPath("desktop-second-launch"));
  EXPECT_EQ(session_.windowsNamed("Welcome to Vellora", true).size(), 1u);
  EXPECT_TRUE(first.child.process->isRunning());
  // A single companion: one icon in the tray.
  std::istringstream tree(session_.run("xwininfo", {"-tree", "-id", *session_.trayPanel()}));
  int icons = 0;
  for (std::string line; std::getline(tree, line);) {
    if (line.find("(\"VelloraCompanion\"") != std::string::npos) ++icons;
  }
  EXPECT_EQ(icons, 1);

  // Another runtime folder is another session: a companion of its own starts there.
  Environment elsewhere = companionEnvironment();
  ::mkdir((home_ / "runtime-2").c_str(), 0700);
  elsewhere["XDG_RUNTIME_DIR"] = home_ / "runtime-2";
  Running second = startCompanion(VELLORA_COMPANION_PATH, elsewhere);
  EXPECT_TRUE(
      waitUntil([&] { return session_.windowsNamed("Welcome to Vellora", true).size() == 2; },
                kStartTimeout));
  EXPECT_TRUE(second.child.process->isRunning());
}

class NoTrayDesktopTest : public RealDesktopTest {
 protected:
  void SetUp() override {}
  void start(const std::string& screen) {
    session_.start(screen, false);
    if (HasFatalFailure()) return;
    home_.writeFile(".codex/auth.json", R"({"OPENAI_API_KEY":"sk-test"})");
    ::mkdir((home_ / "runtime").c_str(), 0700);
  }
  // The Quit button: the rightmost of the footer row.
  static constexpr int kQuitColumn = 445;
};

TEST_F(NoTrayDesktopTest, withoutATrayClosingTheWindowEndsTheCompanion) {
  start("1280x1024x24");
  ASSERT_FALSE(HasFatalFailure());
  Running companion = startCompanion(VELLORA_COMPANION_PATH, companionEnvironment());
  const std::string window = waitForWelcomeWindow();
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(session_.sizeOf(window), "570x700");
  waitForCompleteSteps(window, 2, "desktop-no-tray");
  EXPECT_TRUE(closeWelcomeWindow() || !companion.child.process->isRunning());
  EXPECT_TRUE(ends(companion)) << "the companion still runs after its window closed";
  EXPECT_EQ(companion.child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::exited, 0}));
}

TEST_F(NoTrayDesktopTest, onASmallScreenTheWindowFitsAndItsFooterIsReachable) {
  start("1024x600x24");
  ASSERT_FALSE(HasFatalFailure());
  Running companion = startCompanion(VELLORA_COMPANION_PATH, companionEnvironment());
  const std::string window = waitForWelcomeWindow();
  ASSERT_FALSE(window.empty());
  waitForCompleteSteps(window, 2, "desktop-small-screen");
  const XSession::Geometry geometry = session_.geometryOf(window);
  EXPECT_GE(geometry.y, 0);
  EXPECT_GE(geometry.x, 0);
  EXPECT_LE(geometry.y + geometry.height, 600);
  EXPECT_LE(geometry.x + geometry.width, 1024);
  EXPECT_LT(geometry.height, 700);

  // The wheel scrolls the content to its end, where the footer's Quit button ends the
  // companion.
  for (int i = 0; i < 15; ++i) {
    session_.run("xdotool", {"mousemove", "--window", window, "280", "300", "click", "5"});
  }
  ASSERT_TRUE(clickFooterButton(window, kQuitColumn, "desktop-small-screen-scrolled"));
  EXPECT_TRUE(ends(companion)) << "Quit at the end of the scrolled window did not end it";
}

TEST_F(NoTrayDesktopTest, quitEndsTheCompanionWhileACheckRuns) {
  start("1280x1024x24");
  ASSERT_FALSE(HasFatalFailure());
  // Codex takes its time to answer: the launch refresh is still running when Quit is chosen.
  const std::string scenario = home_.writeFile("slow-codex.json", R"({"start": [{"sleep": 20}]})");
  Environment environment = companionEnvironment();
  environment["VELLORA_FAKE_CODEX_SCENARIO"] = scenario;
  Running companion = startCompanion(VELLORA_COMPANION_PATH, environment);
  const std::string window = waitForWelcomeWindow();
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(1s);
  const SteadyTime::time_point chosen = SteadyTime::now();
  ASSERT_TRUE(clickFooterButton(window, kQuitColumn, "desktop-quit-during-check"));
  EXPECT_TRUE(ends(companion)) << "Quit did not end the companion";
  std::cout
      << "Quit during a check: the process ended "
      << std::chrono::duration_cast<std::chrono::milliseconds>(SteadyTime::now() - chosen).count()
      << " ms after the click\n";
}

TEST_F(RealDesktopTest, startAtLoginInTheMenuWritesAndRemovesTheAutostartEntry) {
  Environment environment = companionEnvironment();
  environment["XDG_CONFIG_HOME"] = home_ / "config";
  Running companion = startCompanion(VELLORA_COMPANION_PATH, environment);
  ASSERT_FALSE(waitForWelcomeWindow().empty());
  std::string trayIcon;
  ASSERT_TRUE(waitUntil(
      [&] {
        std::istringstream tree(session_.run("xwininfo", {"-tree", "-id", *session_.trayPanel()}));
        for (std::string line; std::getline(tree, line);) {
          if (line.find("(\"VelloraCompanion\"") == std::string::npos) continue;
          std::istringstream fields(line);
          fields >> trayIcon;
          return true;
        }
        return false;
      },
      kStartTimeout));
  const std::string entry = home_ / "config/autostart/vellora-companion.desktop";
  // The item just above "Quit Vellora", chosen from the keyboard.
  auto chooseStartAtLogin = [&](const std::string& photo) {
    session_.run("xdotool", {"mousemove", "--window", trayIcon, "11", "11", "click", "1"});
    std::this_thread::sleep_for(1s);
    session_.run("xdotool", {"key", "Up", "Up"});
    session_.photograph("root", screenshotPath(photo));
    session_.run("xdotool", {"key", "Return"});
  };
  chooseStartAtLogin("desktop-start-at-login");
  ASSERT_TRUE(waitUntil([&] { return fileSystem_->fileExists(entry); }, kStartTimeout));
  const std::string text = fileSystem_->readFile(entry, 1 << 16);
  const std::string companionPath = fileSystem_->resolvingSymlinks(VELLORA_COMPANION_PATH);
  EXPECT_NE(text.find("\nTryExec=" + companionPath + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExec=" + companionPath + "\n"), std::string::npos) << text;

  chooseStartAtLogin("desktop-start-at-login-checked");
  EXPECT_TRUE(waitUntil([&] { return !fileSystem_->fileExists(entry); }, kStartTimeout));
  EXPECT_TRUE(companion.child.process->isRunning());
}

TEST(CompanionWithoutADisplayTest, saysSoAndEnds) {
  // No display and no Qt platform chosen: Qt itself would abort.
  ProcessLaunchOptions options;
  options.executablePath = VELLORA_COMPANION_PATH;
  options.environment = {{"PATH", "/usr/bin:/bin"}, {"HOME", "/nonexistent"}};
  options.standardOutput = StreamMode::nullDevice;
  options.standardError = StreamMode::pipe;
  LaunchedProcess child = makePosixProcessLauncher()->launch(options);
  const std::string error = readAll(*child.standardError, SteadyTime::now() + kCommandTimeout);
  child.process->waitForExit(SteadyTime::now() + kCommandTimeout);
  EXPECT_EQ(error,
            "Vellora needs a desktop session: no display was found (DISPLAY or "
            "WAYLAND_DISPLAY).\n");
  EXPECT_EQ(child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::exited, 1}));
}

}  // namespace
}  // namespace vellora
