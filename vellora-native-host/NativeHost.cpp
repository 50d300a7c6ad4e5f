#include "vellora-native-host/NativeHost.h"

#include <exception>

namespace vellora {

int NativeHost::run() noexcept {
  try {
    while (std::optional<NativeEnvelope> request = io_.readEnvelope()) {
      handle(*request);
    }
    return 0;
  } catch (const std::exception& failure) {
    try {
      io_.writeEnvelope({.type = "error", .code = "native_host_error", .message = failure.what()});
    } catch (...) {
      // The connection is already broken; the exit status says the rest.
    }
    return 1;
  }
}

void NativeHost::handle(const NativeEnvelope& request) {
  if (request.type == "ping") {
    io_.writeEnvelope({.type = "pong",
                       .requestId = request.requestId,
                       .ok = true,
                       .app = kApplicationName,
                       .version = kApplicationVersion});
    return;
  }
  io_.writeEnvelope({.type = "error",
                     .requestId = request.requestId,
                     .code = "unsupported_message",
                     .message = "Unsupported Native Messaging request type: " + request.type});
}

}  // namespace vellora
