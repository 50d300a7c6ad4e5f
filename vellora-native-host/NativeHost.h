#pragma once

#include "VelloraCore/Protocol/NativeMessageIO.h"

namespace vellora {

// The host's read-dispatch-reply loop. One thread: a request's last reply is written before
// the next request is read, so frames never interleave.
class NativeHost {
 public:
  static constexpr const char* kApplicationName = "vellora-companion";
  static constexpr const char* kApplicationVersion = "0.1.0";

  explicit NativeHost(NativeMessageIO& io) : io_(io) {}

  // Serves requests until the input ends (returns 0) or a failure escalates: then one
  // "native_host_error" reply is attempted and 1 is returned.
  int run() noexcept;

 private:
  void handle(const NativeEnvelope& request);

  NativeMessageIO& io_;
};

}  // namespace vellora
