// vellora-client: talks to the native host the way Chrome does, for people and scripts.
//
//   vellora-client ping
//   vellora-client health
//   vellora-client chat --prompt "What is this page about?" --context page.json
//   vellora-client send '{"type":"ping","requestId":"r1"}' '{"type":"health"}'
//   echo '{"type":"ping"}' | vellora-client send
//
// It starts the host with the extension origin as its only argument and pipes on standard
// input and output, sends each request as one frame, and prints every reply as one JSON line.
// A request's replies end with the first reply that is not "chat.delta" or "chat.attachment".
#include <signal.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/ExecutablePath.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/NativeMessageIO.h"
#include "VelloraCore/Protocol/NativeMessageVocabulary.h"
#include "tools/ChromeCommands.h"
#include "tools/CompanionCommands.h"
#include "tools/DesktopCommands.h"

namespace {

using vellora::JSONValue;
using vellora::NativeEnvelope;
namespace Types = vellora::NativeMessageTypes;

constexpr const char* kDefaultOrigin = "chrome-extension://knldjmfmopnpolahpmmgbagdohdnhkik/";

const char* const kUsage =
    R"(usage: vellora-client [--host PATH] [--origin ORIGIN] COMMAND [ARGUMENTS]

Starts the native host as Chrome does and prints each reply as one JSON line.

commands:
  ping                        send "ping"
  health                      send "health"
  catalog                     send "codex.catalog"
  chat --prompt TEXT [--session ID] [--context FILE] [--commands JSON]
                              send one "chat.turn" and print the answer as it streams; the page
                              context is read from a JSON file
  send [JSON...]              send each JSON request; with none, one request per input line
  install [--extension-id ID]...
                              write the browsers' host manifests for the host program, allowing
                              the given extension IDs (default: the IDs detected)
  detect [--chrome-directory DIR]
                              list the extension copies found in the browsers' profiles
  paths                       print where the data, the extension copy and each browser's host
                              manifest go for this user
  status [--json]             check the setup as the companion's refresh does, writing
                              nothing, then print the health, the browsers, the three setup
                              steps and the extension folder; exit status 0 when all is ready
  fix                         repair the browser connection as the companion does, print each
                              manifest written and the health afterwards
  autostart on|off|status     start the companion at login (an XDG autostart entry), or not
  uninstall                   remove what the programs wrote for this user (the host manifests
                              naming our host, the autostart entry); run it before removing
                              the package
options:
  --host PATH                 the host program (default: vellora-native-host beside this one)
  --origin ORIGIN             the argument the host is started with (an extension origin)
)";

struct Options {
  std::string hostPath;
  std::string origin = kDefaultOrigin;
  std::string command;
  std::vector<std::string> arguments;
};

// The host beside this program, as installed; else where the build tree puts it.
std::string defaultHostPath() {
  const std::string self = vellora::currentExecutablePath();
  const std::string directory = self.substr(0, self.rfind('/') + 1);
  auto fileSystem = vellora::makePosixFileSystem();
  for (const std::string& candidate : {directory + "vellora-native-host",
                                       directory + "../vellora-native-host/vellora-native-host"}) {
    if (fileSystem->isExecutableFile(candidate)) return fileSystem->resolvingSymlinks(candidate);
  }
  return directory + "vellora-native-host";
}

std::optional<Options> parseOptions(int argc, char** argv) {
  Options options;
  std::vector<std::string> words(argv + 1, argv + argc);
  std::size_t i = 0;
  for (; i < words.size(); ++i) {
    if (words[i] == "--host" && i + 1 < words.size()) {
      options.hostPath = words[++i];
    } else if (words[i] == "--origin" && i + 1 < words.size()) {
      options.origin = words[++i];
    } else {
      break;
    }
  }
  if (i == words.size()) return std::nullopt;
  options.command = words[i];
  options.arguments.assign(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end());
  if (options.hostPath.empty()) options.hostPath = defaultHostPath();
  return options;
}

// One connection to a host process.
class HostConnection {
 public:
  HostConnection(const Options& options, vellora::ProcessLauncher& launcher) {
    vellora::ProcessLaunchOptions launch;
    launch.executablePath = options.hostPath;
    launch.arguments = {options.origin};
    launch.environment = vellora::currentProcessEnvironment();
    launch.standardInput = vellora::StreamMode::pipe;
    launch.standardOutput = vellora::StreamMode::pipe;
    launch.standardError = vellora::StreamMode::inherit;
    child_ = launcher.launch(launch);
    io_.emplace(child_.standardOutput->fileDescriptor(), child_.standardInput->fileDescriptor());
  }

  // Sends the request and hands each reply to `print` until the request's last reply;
  // false when the host ended the conversation.
  template <typename Print>
  bool exchange(const NativeEnvelope& request, Print print) {
    io_->writeEnvelope(request);
    for (;;) {
      std::optional<NativeEnvelope> reply = io_->readEnvelope();
      if (!reply) return false;
      print(*reply);
      if (reply->type != Types::kChatDelta && reply->type != Types::kChatAttachment) return true;
    }
  }

  // Closes the host's input and returns its exit status.
  int finish() {
    io_.reset();
    child_.standardInput->close();
    child_.process->waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    std::optional<vellora::ProcessExit> exit = child_.process->exitStatus();
    if (!exit) {
      child_.process->terminate();
      std::cerr << "vellora-client: the host did not exit\n";
      return 1;
    }
    if (!exit->succeeded()) {
      std::cerr << "vellora-client: the host "
                << (exit->reason == vellora::ProcessExit::Reason::exited ? "exited with status "
                                                                         : "ended by signal ")
                << exit->code << "\n";
    }
    return exit->reason == vellora::ProcessExit::Reason::exited ? exit->code : 128 + exit->code;
  }

 private:
  vellora::LaunchedProcess child_;
  std::optional<vellora::NativeMessageIO> io_;
};

NativeEnvelope requestFromJSON(const std::string& text) {
  return NativeEnvelope::fromJSON(JSONValue::parse(text));
}

void printJSONLine(const NativeEnvelope& reply) {
  std::string line;
  reply.appendJSON(line, {.escapeSlashes = false});
  std::cout << line << std::endl;
}

int converse(const Options& options, const std::vector<NativeEnvelope>& requests, bool readLines) {
  auto launcher = vellora::makePosixProcessLauncher();
  HostConnection host(options, *launcher);
  bool open = true;
  for (const NativeEnvelope& request : requests) {
    if (!(open = host.exchange(request, printJSONLine))) break;
  }
  if (readLines) {
    std::string line;
    while (open && std::getline(std::cin, line)) {
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      open = host.exchange(requestFromJSON(line), printJSONLine);
    }
  }
  return host.finish();
}

// One chat turn: the answer's text as it streams, attachments as one line each, and the
// error text (exit status 1) when the turn fails.
int chat(const Options& options) {
  NativeEnvelope request{.type = Types::kChatTurn, .requestId = "chat-1", .sessionId = "terminal"};
  const std::vector<std::string>& words = options.arguments;
  for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
    if (words[i] == "--prompt") {
      request.prompt = words[i + 1];
    } else if (words[i] == "--session") {
      request.sessionId = words[i + 1];
    } else if (words[i] == "--context") {
      std::ifstream file(words[i + 1], std::ios::binary);
      if (!file) throw std::runtime_error("cannot read " + words[i + 1]);
      std::stringstream text;
      text << file.rdbuf();
      request.context = JSONValue::parse(text.str());
    } else if (words[i] == "--commands") {
      request.commands = JSONValue::parse(words[i + 1]);
    } else {
      throw std::runtime_error("unknown chat option " + words[i]);
    }
  }
  if (!request.prompt || words.size() % 2 != 0)
    throw std::runtime_error("chat needs --prompt TEXT");

  auto launcher = vellora::makePosixProcessLauncher();
  HostConnection host(options, *launcher);
  bool failed = false;
  host.exchange(request, [&failed](const NativeEnvelope& reply) {
    if (reply.type == Types::kChatDelta) {
      std::cout << reply.delta.value_or("") << std::flush;
    } else if (reply.type == Types::kChatAttachment) {
      std::string line;
      reply.attachment.value_or(JSONValue()).serialize(line, {.escapeSlashes = false});
      std::cout << "\n[attachment] " << line.substr(0, 200) << (line.size() > 200 ? "..." : "")
                << std::endl;
    } else if (reply.type == Types::kChatDone) {
      std::cout << std::endl;
    } else {
      failed = true;
      std::cout << std::endl;
      std::cerr << "error (" << reply.code.value_or("") << "): " << reply.message.value_or("")
                << std::endl;
    }
  });
  const int status = host.finish();
  return failed ? 1 : status;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  std::optional<Options> options = parseOptions(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return 2;
  }
  try {
    if (options->command == "ping") {
      return converse(*options, {NativeEnvelope{.type = Types::kPing, .requestId = "ping-1"}},
                      false);
    }
    if (options->command == "health") {
      return converse(*options, {NativeEnvelope{.type = Types::kHealth, .requestId = "health-1"}},
                      false);
    }
    if (options->command == "catalog") {
      return converse(*options, {NativeEnvelope{.type = Types::kCatalog, .requestId = "catalog-1"}},
                      false);
    }
    if (options->command == "chat") return chat(*options);
    if (options->command == "install") {
      return vellora::runInstallCommand(options->arguments, options->hostPath);
    }
    if (options->command == "detect") return vellora::runDetectCommand(options->arguments);
    if (options->command == "paths") return vellora::runPathsCommand(options->arguments);
    // The host beside this program, as the companion finds it beside its own executable.
    if (options->command == "status") {
      return vellora::runStatusCommand(options->arguments, vellora::currentExecutablePath());
    }
    if (options->command == "fix") {
      return vellora::runFixCommand(options->arguments, vellora::currentExecutablePath());
    }
    if (options->command == "autostart") {
      return vellora::runAutostartCommand(options->arguments, vellora::currentExecutablePath());
    }
    if (options->command == "uninstall") return vellora::runUninstallCommand(options->arguments);
    if (options->command == "send") {
      std::vector<NativeEnvelope> requests;
      for (const std::string& text : options->arguments) requests.push_back(requestFromJSON(text));
      return converse(*options, requests, options->arguments.empty());
    }
    std::cerr << "vellora-client: unknown command " << options->command << "\n" << kUsage;
    return 2;
  } catch (const std::exception& failure) {
    std::cerr << "vellora-client: " << failure.what() << "\n";
    return 1;
  }
}
