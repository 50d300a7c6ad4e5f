#pragma once

#include <sys/types.h>

#include "VelloraCore/Platform/ProcessLauncher.h"

namespace vellora::test {

// Waits until `deadline` for a child to end; a child that has not ended by then is killed
// (SIGKILL) and reaped, bounded. True when it ended by itself.
bool waitOrKill(Process& process, Process::TimePoint deadline);

// True when the process no longer runs: gone, or ended and waiting to be reaped by whoever
// adopted it (a zombie still answers kill(pid, 0)).
bool hasEnded(pid_t pid);

}  // namespace vellora::test
