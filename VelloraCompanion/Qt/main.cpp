// The companion's composition root: the Qt application, the real platform objects, and the one
// CompanionApp that owns the state.
#include <QApplication>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "VelloraCompanion/Model/CompanionApp.h"
#include "VelloraCompanion/Model/DesktopPlatform.h"
#include "VelloraCompanion/Qt/PlatformIntegration.h"
#include "VelloraCompanion/Qt/QtDesktop.h"
#include "VelloraCompanion/Qt/QtDispatch.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/HomeDirectory.h"
#include "VelloraCore/Platform/ProcessLauncher.h"

int main(int argc, char** argv) {
  using namespace vellora;
  QApplication application(argc, argv);
  QApplication::setApplicationName("Vellora");
  QApplication::setApplicationDisplayName("Vellora");
  QGuiApplication::setDesktopFileName("vellora-companion");
  // A menu-bar application: closing the welcome window does not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  platform::setActivationPolicy(ActivationPolicy::accessory);

  const Environment environment = currentProcessEnvironment();
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
    if (auto app = weak.lock()) app->applicationDidFinishLaunching();
  });
  const int status = QApplication::exec();
  companion.reset();
  return status;
}
