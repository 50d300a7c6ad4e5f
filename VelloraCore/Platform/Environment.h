#pragma once

#include <map>
#include <string>

namespace vellora {

// A process environment: variable name to value. Each program reads its own once in main and
// passes it down; a child process gets exactly the map it is launched with.
using Environment = std::map<std::string, std::string>;

// The environment of this process (the `environ` block), read now.
Environment currentProcessEnvironment();

}  // namespace vellora
