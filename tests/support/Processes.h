#pragma once

#include <optional>

#include "VelloraCore/Platform/ProcessLauncher.h"

namespace vellora::test {

// Waits until `deadline` for a child to end; a child that has not ended by then is killed
// (SIGKILL) and reaped, bounded. True when it ended by itself.
bool waitOrKill(Process& process, Process::TimePoint deadline);

// True when no process `pid` runs any more: it is gone, or a zombie that has ended and waits
// for a parent that may not be us (a zombie still answers kill(pid, 0)).
bool hasEnded(int pid);
// Looks at hasEnded() until it holds or `deadline` passes, at short intervals. True when it
// held.
bool endsBy(int pid, Process::TimePoint deadline);

// The number of threads of process `pid`; nothing where the system does not tell (only
// Linux's /proc is read).
std::optional<int> threadCount(int pid);

}  // namespace vellora::test
