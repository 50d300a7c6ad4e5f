#include "VelloraCore/Platform/ProcessLauncher.h"

#include <cstring>

namespace vellora {

ProcessLaunchError::ProcessLaunchError(const std::string& executablePath, int errorNumber)
    : errorNumber_(errorNumber),
      description_("Could not launch " + executablePath + ": " + std::strerror(errorNumber)) {}

}  // namespace vellora
