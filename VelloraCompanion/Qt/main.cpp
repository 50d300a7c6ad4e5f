// The companion's composition root: the Qt application, the real platform objects, and the one
// CompanionApp that owns the state.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "VelloraCompanion/Model/CompanionApp.h"
#include "VelloraCompanion/Model/DesktopPlatform.h"
#include "VelloraCompanion/Qt/PlatformIntegration.h"
#include "VelloraCompanion/Qt/QtDesktop.h"
#include "VelloraCompanion/Qt/QtDispatch.h"
#include "VelloraCompanion/Qt/SingleInstance.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/HomeDirectory.h"
#include "VelloraCore/Platform/ProcessLauncher.h"

namespace {

std::string variable(const vellora::Environment& environment, const char* name) {
  auto found = environment.find(name);
  return found == environment.end() ? std::string() : found->second;
}

// Whether a display can be had: one named in DISPLAY or WAYLAND_DISPLAY, or a Qt platform
// chosen explicitly (offscreen, or the user's own choice). Qt itself would abort without one.
bool hasDisplay(const vellora::Environment& environment) {
#if defined(__APPLE__)
  (void)environment;
  return true;
#else
  return !variable(environment, "QT_QPA_PLATFORM").empty() ||
         !variable(environment, "DISPLAY").empty() ||
         !variable(environment, "WAYLAND_DISPLAY").empty();
#endif
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vellora;
  const Environment environment = currentProcessEnvironment();
  if (!hasDisplay(environment)) {
    std::cerr << "Vellora needs a desktop session: no display was found (DISPLAY or "
                 "WAYLAND_DISPLAY).\n";
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName("Vellora");
  QApplication::setApplicationDisplayName("Vellora");
  QGuiApplication::setDesktopFileName("vellora-companion");
  // A menu-bar application: closing the welcome window does not end it (without a tray the
  // companion ends itself then).
  QApplication::setQuitOnLastWindowClosed(false);

  // One companion per user and display: a second launch shows the running one's window.
  SingleInstance instance(SingleInstance::socketPath(environment));
  std::weak_ptr<CompanionApp> running;
  if (instance.askRunningCompanion([&running] {
        if (auto app = running.lock()) app->applicationShouldHandleReopen(false);
      })) {
    return 0;
  }
  platform::setActivationPolicy(ActivationPolicy::accessory);

  const std::string home = currentHomeDirectory(environment);
  std::unique_ptr<FileSystem> fileSystem = makePosixFileSystem();
  std::unique_ptr<ProcessLauncher> launcher = makePosixProcessLauncher();
  QtDesktop desktop;
  QtDispatch dispatch;
  // Where a development checkout's extension is looked for; none when it cannot be had.
  std::string currentDirectory;
  try {
    currentDirectory = fileSystem->currentDirectory();
  } catch (const FileSystemError&) {
  }

  std::shared_ptr<CompanionApp> companion = CompanionApp::create(CompanionServices{
      .desktop = desktop,
      .dispatch = dispatch,
      .fileSystem = *fileSystem,
      .launcher = *launcher,
      .environment = environment,
      .homeDirectory = home,
      .paths = AppPaths::platformLayout(home, environment),
      .currentDirectory = currentDirectory,
      .shellCodexPathResolver = CodexLocator::loginShellResolver(*launcher),
      .sleep =
          [](double seconds) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
          },
      .platform = kHostDesktopPlatform,
  });
  std::weak_ptr<CompanionApp> weak = companion;
  running = companion;
  desktop.setHandlers(QtDesktop::Handlers{
      .perform =
          [weak](CompanionAction action) {
            if (auto app = weak.lock()) app->perform(action);
          },
      .windowWillClose =
          [weak](Desktop::WindowID window) {
            if (auto app = weak.lock()) app->windowWillClose(window);
          },
      .reopen =
          [weak] {
            if (auto app = weak.lock()) app->applicationShouldHandleReopen(false);
          },
  });
  // Launching finishes once the event loop runs.
  dispatch.postToMain([weak] {
    // Opening the application again while it runs (macOS: Finder, the Dock) shows its window.
    platform::onReopen([weak] {
      if (auto app = weak.lock()) app->applicationShouldHandleReopen(false);
    });
    if (auto app = weak.lock()) app->applicationDidFinishLaunching();
  });
  const int status = QApplication::exec();
  // Ends here without waiting for a check in progress: the worker may be inside a probe of
  // Codex or a wait for Chrome's profiles for many seconds, and a quit must not hang on it.
  // Nothing is left to save; the children see their pipes close.
  std::fflush(nullptr);
  std::_Exit(status);
}
