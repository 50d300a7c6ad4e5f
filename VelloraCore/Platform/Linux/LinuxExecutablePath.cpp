#include <climits>
#include <cstdlib>

#include "VelloraCore/Platform/ExecutablePath.h"

namespace vellora {

std::string currentExecutablePath() {
  char resolved[PATH_MAX];
  if (::realpath("/proc/self/exe", resolved) == nullptr) return {};
  return resolved;
}

}  // namespace vellora
