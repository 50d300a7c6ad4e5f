#pragma once

#include <exception>

namespace vellora {

// Base of every failure the system reports. what() is the fixed English description that
// reaches the user (the "message" of an error reply, an alert in the companion).
class Error : public std::exception {
 public:
  ~Error() override;
};

}  // namespace vellora
