#pragma once

#include <optional>
#include <string>

#include "VelloraCore/AppServer/AppServerBridge.h"

namespace vellora::test {

// Runs one turn through the bridge to its end, as the host's loop would: sendTurn(), then
// process() whenever the child's output is readable or the bridge's deadline has passed. The
// request's onEnd is replaced. Returns the failure's description, nothing when the turn ended
// well; a turn that could not be started fails with the error's description.
std::optional<std::string> runTurnToEnd(AppServerBridge& bridge,
                                        AppServerBridge::TurnRequest request, const Clock& clock);

}  // namespace vellora::test
