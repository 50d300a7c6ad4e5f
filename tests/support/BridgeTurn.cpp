#include "tests/support/BridgeTurn.h"

#include <poll.h>

#include <exception>

#include "VelloraCore/Platform/ReadinessWait.h"

namespace vellora::test {

std::optional<std::string> runTurnToEnd(AppServerBridge& bridge,
                                        AppServerBridge::TurnRequest request, const Clock& clock) {
  bool ended = false;
  std::optional<std::string> failure;
  request.onEnd = [&](const std::optional<std::string>& endFailure) {
    ended = true;
    failure = endFailure;
  };
  try {
    bridge.sendTurn(std::move(request));
  } catch (const std::exception& error) {
    return std::string(error.what());
  }
  while (!ended) {
    const int output = bridge.outputDescriptor();
    const std::optional<Clock::TimePoint> deadline = bridge.nextDeadline();
    if (output < 0 && !deadline) return std::string("the turn lost its child without ending");
    pollfd descriptor{output, POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, pollTimeout(clock, deadline));
    bridge.process(ready > 0 && descriptor.revents != 0);
  }
  return failure;
}

}  // namespace vellora::test
