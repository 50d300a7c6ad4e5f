#include <signal.h>
#include <unistd.h>

#include "VelloraCore/AppServer/AppServerBridge.h"
#include "VelloraCore/AppServer/CodexAppServerConfiguration.h"
#include "VelloraCore/AppServer/CodexAuthDetector.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Discovery/CodexHomeDirectory.h"
#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/ByteStream.h"
#include "VelloraCore/Platform/Clock.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/HomeDirectory.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/NativeMessageIO.h"
#include "vellora-native-host/NativeHost.h"

// Chrome starts this program for each Native Messaging connection, with the extension's origin
// as its argument (ignored). Standard output carries only frames; standard error stays silent.
// This is the composition root: the one place where the real platform objects are made.
int main() {
  // A closed Chrome pipe must be a write error, not a silent death.
  ::signal(SIGPIPE, SIG_IGN);
  // A chat.turn from Chrome can be up to 64 MiB.
  vellora::enlargePipeBuffer(STDIN_FILENO);
  vellora::NativeMessageIO io(STDIN_FILENO, STDOUT_FILENO,
                              vellora::NativeMessageCodec::kMaxPayloadBytesToChrome);

  // Building the services starts no process and reads no file.
  const vellora::Environment environment = vellora::currentProcessEnvironment();
  const std::string home = vellora::currentHomeDirectory(environment);
  const std::unique_ptr<vellora::FileSystem> fileSystem = vellora::makePosixFileSystem();
  const std::unique_ptr<vellora::ProcessLauncher> launcher = vellora::makePosixProcessLauncher();
  const vellora::SteadyClock clock;
  vellora::NativeHost host(io, clock);
  vellora::AppServerBridge bridge({
      .paths = vellora::AppPaths::platformLayout(home, environment),
      .locator = vellora::CodexLocator(*fileSystem, environment, home,
                                       vellora::CodexLocator::loginShellResolver(*launcher, &host)),
      // Codex's own folder: its sign-in file, and where the bridge looks for its skills and
      // saved images.
      .authDetector =
          vellora::CodexAuthDetector(vellora::codexHomeDirectory(environment, home), *fileSystem),
      .configuration = vellora::CodexAppServerConfiguration(environment),
      .fileSystem = *fileSystem,
      .launcher = *launcher,
      .clock = clock,
      // While the app-server is awaited, the host goes on reading its requests.
      .wait = host,
      .environment = environment,
      .homeDirectory = home,
  });
  return host.run(bridge);
}
