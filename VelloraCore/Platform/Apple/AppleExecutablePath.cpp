#include <mach-o/dyld.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "VelloraCore/Platform/ExecutablePath.h"

namespace vellora {

std::string currentExecutablePath() {
  std::uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> path(size + 1, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) return {};
  char resolved[PATH_MAX];
  if (::realpath(path.data(), resolved) == nullptr) return {};
  return resolved;
}

}  // namespace vellora
