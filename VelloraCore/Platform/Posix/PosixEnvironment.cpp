#include <cstring>

#include "VelloraCore/Platform/Environment.h"

extern char** environ;

namespace vellora {

Environment currentProcessEnvironment() {
  Environment environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* separator = std::strchr(*entry, '=');
    if (separator == nullptr) continue;
    // The first definition of a name wins, as getenv() sees it.
    environment.emplace(std::string(*entry, static_cast<std::size_t>(separator - *entry)),
                        std::string(separator + 1));
  }
  return environment;
}

}  // namespace vellora
