#include "VelloraCore/Platform/IOError.h"

#include <cstring>

namespace vellora {

IOError::IOError(const std::string& operation, int errorNumber)
    : errorNumber_(errorNumber), description_(operation + ": " + std::strerror(errorNumber)) {}

}  // namespace vellora
