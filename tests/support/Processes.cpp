#include "tests/support/Processes.h"

#include <signal.h>

#include <chrono>

namespace vellora::test {

bool waitOrKill(Process& process, Process::TimePoint deadline) {
  if (process.waitForExit(deadline)) return true;
  ::kill(process.processID(), SIGKILL);
  process.waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(10));
  return false;
}

}  // namespace vellora::test
