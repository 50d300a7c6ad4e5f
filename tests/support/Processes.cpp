#include "tests/support/Processes.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif

namespace vellora::test {

bool waitOrKill(Process& process, Process::TimePoint deadline) {
  if (process.waitForExit(deadline)) return true;
  ::kill(process.processID(), SIGKILL);
  process.waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(10));
  return false;
}

bool hasEnded(int pid) {
  if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
#if defined(__APPLE__)
  int query[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
  struct kinfo_proc info {};
  std::size_t size = sizeof info;
  if (::sysctl(query, 4, &info, &size, nullptr, 0) != 0 || size == 0) return true;
  return info.kp_proc.p_stat == SZOMB;
#elif defined(__linux__)
  // "pid (name) state ...": the state follows the last ')'.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::size_t close = text.rfind(')');
  if (!stat.is_open() && text.empty()) return true;
  if (close != std::string::npos && close + 2 < text.size()) {
    char state = text[close + 2];
    return state == 'Z' || state == 'X';
  }
#endif
  return false;
}

bool endsBy(int pid, Process::TimePoint deadline) {
  while (!hasEnded(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::optional<int> threadCount(int pid) {
#ifdef __linux__
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/task", error), end;
       !error && it != end; it.increment(error)) {
    ++count;
  }
  if (error || count == 0) return std::nullopt;
  return count;
#else
  (void)pid;
  return std::nullopt;
#endif
}

}  // namespace vellora::test
