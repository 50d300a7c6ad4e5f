#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/Platform/Clock.h"
#include "VelloraCore/Platform/ReadinessWait.h"
#include "VelloraCore/Protocol/NativeMessageIO.h"

namespace vellora {

class AppServerBridge;

// The host's loop. One thread waits on standard input and the app-server's output together
// with poll(), so requests are read while turns run: "ping", "health" and "codex.catalog" are
// answered at once, "chat.cancel" stops a session's turn, turns of different sessions run side
// by side (one session's turns in order), and a reader that is gone is noticed mid-turn. Every
// frame is written on this thread, so frames never interleave.
//
// It is also the bridge's ReadinessWait: while a request to the app-server awaits its response,
// requests that arrive are read; "ping" and "chat.cancel" are answered at once and the others
// once the awaited response has come.
class NativeHost final : public ReadinessWait {
 public:
  static constexpr const char* kApplicationName = "vellora-companion";
  static constexpr const char* kApplicationVersion = "0.1.0";

  // `io` and `clock` must outlive the host.
  NativeHost(NativeMessageIO& io, const Clock& clock);
  ~NativeHost() override;
  NativeHost(const NativeHost&) = delete;
  NativeHost& operator=(const NativeHost&) = delete;

  // Serves requests with `bridge` (built on this host as its wait) until the input ends
  // (returns 0) or a frame cannot be written (returns 1); running turns are then interrupted
  // and the app-server's input closed. A failure that escalates (a bad frame) gets one
  // "native_host_error" reply attempted and returns 1. Deltas are queued in `io` and sent
  // whenever nothing more is ready, so a burst goes out in few writes and none waits.
  int run(AppServerBridge& bridge) noexcept;

  bool waitReadable(int fileDescriptor, std::optional<Clock::TimePoint> deadline) override;

 private:
  // One sidebar session's turns: the one running, from its "chat.turn" being read until its
  // last reply, and those waiting behind it.
  struct Session {
    std::unique_ptr<NativeEnvelope> running;
    // The request ids of the cancels to answer once the running turn has ended.
    std::vector<std::optional<std::string>> cancels;
    std::deque<NativeEnvelope> waiting;
  };

  // Reads one request from standard input and handles it; `nested` while a request to the
  // app-server waits (everything but "ping", "chat.cancel" and turns' admission waits then).
  void readRequest(bool nested);
  void handle(NativeEnvelope request);
  void handleChatTurn(NativeEnvelope request);
  void handleCancel(const NativeEnvelope& request);
  void handleCatalog(const NativeEnvelope& request);
  // The requests and turn starts that waited for the loop's top level.
  void serveDeferred();
  void startTurn(const std::string& sessionID);
  void turnEnded(const std::string& sessionID, const std::optional<std::string>& failure) noexcept;
  // Writes a reply; one that would pass the write limit is made to fit (fittedReply) rather
  // than refused. Throws as NativeMessageIO::writeEnvelope.
  void writeReply(const NativeEnvelope& reply);
  // Writes without throwing: a write that fails marks the reader as gone. A reply past the
  // write limit is made to fit, or dropped when `dropIfTooLarge`.
  void writeQuietly(const NativeEnvelope& envelope, bool dropIfTooLarge = false) noexcept;
  void queueQuietly(const NativeEnvelope& envelope) noexcept;
  void flushQuietly() noexcept;

  NativeMessageIO& io_;
  const Clock& clock_;
  AppServerBridge* bridge_ = nullptr;
  bool inputOpen_ = true;
  // Set once the reader is gone: the exit status.
  std::optional<int> gone_;
  // A fatal failure met while a request to the app-server waited, for the fatal path.
  std::optional<std::string> fatal_;
  std::deque<NativeEnvelope> deferred_;
  std::deque<std::string> toStart_;
  std::map<std::string, Session> sessions_;
};

}  // namespace vellora
