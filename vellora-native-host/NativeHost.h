#pragma once

#include "VelloraCore/Protocol/NativeMessageIO.h"

namespace vellora {

class AppServerBridge;

// The host's read-dispatch-reply loop. One thread: a request's last reply is written before
// the next request is read, so frames never interleave.
class NativeHost {
 public:
  static constexpr const char* kApplicationName = "vellora-companion";
  static constexpr const char* kApplicationVersion = "0.1.0";

  // Deltas are queued in `io` and sent whenever the bridge has nothing more ready (see
  // AppServerBridge::setIdleHandler), so a burst goes out in few writes and none waits.
  NativeHost(NativeMessageIO& io, AppServerBridge& bridge);
  ~NativeHost();
  NativeHost(const NativeHost&) = delete;
  NativeHost& operator=(const NativeHost&) = delete;

  // Serves requests until the input ends (returns 0) or a failure escalates: then one
  // "native_host_error" reply is attempted and 1 is returned.
  int run() noexcept;

 private:
  void handle(const NativeEnvelope& request);
  void handleChatTurn(const NativeEnvelope& request);
  void handleCatalog(const NativeEnvelope& request);

  NativeMessageIO& io_;
  AppServerBridge& bridge_;
};

}  // namespace vellora
