#include <pwd.h>
#include <unistd.h>

#include "VelloraCore/Platform/HomeDirectory.h"

namespace vellora {

std::string currentHomeDirectory(const Environment& environment) {
  if (auto home = environment.find("HOME"); home != environment.end() && !home->second.empty()) {
    return home->second;
  }
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return {};
}

}  // namespace vellora
