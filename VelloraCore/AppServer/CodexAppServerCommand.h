#pragma once

#include <array>
#include <string_view>

#include "VelloraCore/Platform/Clock.h"

namespace vellora {

// How `codex` is started, and the JSON-RPC vocabulary spoken with `codex app-server`: the one
// place for argument lists, method and notification names and request time-outs.
namespace CodexAppServerCommand {

// The long-running app-server child. "-c notify=[]" overrides Codex's configuration for this
// run only. Neither list holds the executable.
inline constexpr std::array<std::string_view, 3> kRuntimeArguments = {"app-server", "-c",
                                                                      "notify=[]"};
// The availability probe; exit status 0 means usable.
inline constexpr std::array<std::string_view, 2> kHelpArguments = {"app-server", "--help"};

}  // namespace CodexAppServerCommand

// A request method with the time-out that bounds the wait for its response.
struct CodexAppServerMethod {
  std::string_view name;
  Seconds timeout;
};

namespace CodexAppServerMethods {

// Once per child, before any other request.
inline constexpr CodexAppServerMethod kInitialize{"initialize", Seconds(10)};
inline constexpr CodexAppServerMethod kThreadStart{"thread/start", Seconds(30)};
inline constexpr CodexAppServerMethod kTurnStart{"turn/start", Seconds(30)};
inline constexpr CodexAppServerMethod kSkillsList{"skills/list", Seconds(30)};
inline constexpr CodexAppServerMethod kPluginList{"plugin/list", Seconds(30)};
inline constexpr CodexAppServerMethod kAppList{"app/list", Seconds(30)};
inline constexpr CodexAppServerMethod kModelList{"model/list", Seconds(30)};
// Ends a turn that is stuck retrying; its "turn/completed" is awaited as long as the time-out.
inline constexpr CodexAppServerMethod kTurnInterrupt{"turn/interrupt", Seconds(5)};

}  // namespace CodexAppServerMethods

namespace CodexAppServerNotifications {

// Client to server, right after the "initialize" response.
inline constexpr std::string_view kInitialized = "initialized";
// Server to client. A running turn's notifications have no time-out.
inline constexpr std::string_view kAgentMessageDelta = "item/agentMessage/delta";
inline constexpr std::string_view kTurnCompleted = "turn/completed";
inline constexpr std::string_view kError = "error";
inline constexpr std::string_view kItemCompleted = "item/completed";
inline constexpr std::string_view kRawResponseItemCompleted = "rawResponseItem/completed";

}  // namespace CodexAppServerNotifications

}  // namespace vellora
