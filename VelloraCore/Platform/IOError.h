#pragma once

#include <string>

#include "VelloraCore/Error.h"

namespace vellora {

// A read or write on a stream or pipe that the operating system refused.
class IOError final : public Error {
 public:
  IOError(const std::string& operation, int errorNumber);
  int errorNumber() const noexcept { return errorNumber_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int errorNumber_;
  std::string description_;
};

}  // namespace vellora
