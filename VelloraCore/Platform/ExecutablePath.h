#pragma once

#include <string>

namespace vellora {

// The absolute, link-resolved path of the running program's executable; empty when the system
// cannot tell. Each platform has its own file.
std::string currentExecutablePath();

}  // namespace vellora
