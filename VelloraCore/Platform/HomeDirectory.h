#pragma once

#include <string>

#include "VelloraCore/Platform/Environment.h"

namespace vellora {

// The current user's home directory: HOME from `environment` when set and not empty, else the
// password database's entry for the user; empty when neither gives one.
std::string currentHomeDirectory(const Environment& environment);

}  // namespace vellora
