#pragma once

#include "VelloraCore/Platform/ProcessLauncher.h"

namespace vellora::test {

// Waits until `deadline` for a child to end; a child that has not ended by then is killed
// (SIGKILL) and reaped, bounded. True when it ended by itself.
bool waitOrKill(Process& process, Process::TimePoint deadline);

}  // namespace vellora::test
