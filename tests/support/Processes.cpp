#include "tests/support/Processes.h"

#include <signal.h>

#include <chrono>

#if defined(__APPLE__)
#include <sys/sysctl.h>
#else
#include <fstream>
#include <string>
#endif

namespace vellora::test {

bool waitOrKill(Process& process, Process::TimePoint deadline) {
  if (process.waitForExit(deadline)) return true;
  ::kill(process.processID(), SIGKILL);
  process.waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(10));
  return false;
}

bool hasEnded(pid_t pid) {
  if (::kill(pid, 0) != 0) return true;
#if defined(__APPLE__)
  int query[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
  struct kinfo_proc info {};
  std::size_t size = sizeof info;
  if (::sysctl(query, 4, &info, &size, nullptr, 0) != 0 || size == 0) return true;
  return info.kp_proc.p_stat == SZOMB;
#else
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidText, name, state;
  return stat >> pidText >> name >> state && state == "Z";
#endif
}

}  // namespace vellora::test
