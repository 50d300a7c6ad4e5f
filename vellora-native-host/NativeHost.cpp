#include "vellora-native-host/NativeHost.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string_view>
#include <vector>

#include "VelloraCore/AppServer/AppServerBridge.h"
#include "VelloraCore/Error.h"
#include "VelloraCore/Platform/IOError.h"
#include "VelloraCore/Protocol/NativeMessageVocabulary.h"
#include "vellora-native-host/ChromeReplyFit.h"

namespace vellora {

namespace {

namespace Types = NativeMessageTypes;
namespace Codes = NativeErrorCodes;

// Even escaped (at most six bytes for one), a piece this long stays well under Chrome's limit.
constexpr std::size_t kMaxDeltaPieceBytes = 128 * 1024;

// The text in pieces of at most kMaxDeltaPieceBytes, cut between UTF-8 characters.
std::vector<std::string_view> splitForChrome(std::string_view text) {
  std::vector<std::string_view> pieces;
  while (text.size() > kMaxDeltaPieceBytes) {
    std::size_t cut = kMaxDeltaPieceBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    if (cut == 0) cut = kMaxDeltaPieceBytes;
    pieces.push_back(text.substr(0, cut));
    text.remove_prefix(cut);
  }
  pieces.push_back(text);
  return pieces;
}

// Thrown through the bridge's waits once the reader is gone or a request read meanwhile failed
// fatally, to leave whatever waits at once. Not an Error: nothing on the way takes it for a
// failure of the request that waits.
struct LeavingWait {};

// A fatal failure met during a wait, given on to the fatal path.
class HostFailure final : public Error {
 public:
  explicit HostFailure(std::string description) : description_(std::move(description)) {}
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::string description_;
};

bool readable(const pollfd& descriptor) {
  return descriptor.fd >= 0 && (descriptor.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
}

std::optional<Clock::TimePoint> earlier(std::optional<Clock::TimePoint> a,
                                        std::optional<Clock::TimePoint> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace

NativeHost::NativeHost(NativeMessageIO& io, const Clock& clock) : io_(io), clock_(clock) {}

NativeHost::~NativeHost() = default;

int NativeHost::run(AppServerBridge& bridge) noexcept {
  // The bridge may be destroyed before the host (main makes it second), so the host lets go of
  // it on every way out of this function, and never touches it again.
  struct Attachment {
    NativeHost& host;
    Attachment(NativeHost& host, AppServerBridge& bridge) : host(host) {
      host.bridge_ = &bridge;
      bridge.setIdleHandler([&host] { host.flushQuietly(); });
    }
    ~Attachment() {
      host.bridge_->setIdleHandler(nullptr);
      host.bridge_ = nullptr;
    }
  } attachment(*this, bridge);
  try {
    try {
      for (;;) {
        serveDeferred();
        if (gone_ || fatal_) break;
        flushQuietly();
        if (gone_) break;
        const int output = bridge_->outputDescriptor();
        pollfd descriptors[2] = {{STDIN_FILENO, POLLIN, 0}, {output, POLLIN, 0}};
        const int ready = ::poll(descriptors, 2, pollTimeout(clock_, bridge_->nextDeadline()));
        if (ready < 0 && errno != EINTR) throw IOError("Could not wait for input", errno);
        if (ready > 0 && readable(descriptors[0])) readRequest(false);
        bridge_->process(ready > 0 && readable(descriptors[1]));
      }
    } catch (const LeavingWait&) {
    }
    // A fatal failure read during a wait may have been taken for a failed check on the way out.
    if (fatal_) throw HostFailure(*fatal_);
    bridge_->abandonTurns();
    return *gone_;
  } catch (const std::exception& failure) {
    try {
      writeReply(
          {.type = Types::kError, .code = Codes::kNativeHostError, .message = failure.what()});
    } catch (...) {
      // The connection is already broken; the exit status says the rest.
    }
    bridge_->abandonTurns();
    return 1;
  }
}

bool NativeHost::waitReadable(int fileDescriptor, std::optional<Clock::TimePoint> deadline) {
  const int output = bridge_ != nullptr ? bridge_->outputDescriptor() : -1;
  // A wait for the app-server's own output leaves its reading to the waiting request.
  const bool serveTurns = output >= 0 && output != fileDescriptor;
  for (;;) {
    if (gone_ || fatal_) throw LeavingWait{};
    flushQuietly();
    if (gone_) throw LeavingWait{};
    pollfd descriptors[3] = {{fileDescriptor, POLLIN, 0},
                             {inputOpen_ ? STDIN_FILENO : -1, POLLIN, 0},
                             {serveTurns ? output : -1, POLLIN, 0}};
    std::optional<Clock::TimePoint> until = deadline;
    if (serveTurns) until = earlier(until, bridge_->nextDeadline());
    const int ready = ::poll(descriptors, 3, pollTimeout(clock_, until));
    if (ready < 0 && errno != EINTR) return true;  // the read reports the error
    if (ready > 0 && readable(descriptors[1])) {
      try {
        readRequest(true);
      } catch (const std::exception& failure) {
        // A bad frame, or a reply that cannot be written: fatal, not a failure of the request
        // that waits.
        fatal_ = failure.what();
        throw LeavingWait{};
      }
    }
    if (serveTurns) bridge_->process(ready > 0 && readable(descriptors[2]));
    if (ready > 0 && readable(descriptors[0])) return true;
    if (deadline && !(clock_.now() < *deadline)) return false;
  }
}

void NativeHost::readRequest(bool nested) {
  std::optional<NativeEnvelope> request = io_.readEnvelope();
  if (!request) {
    inputOpen_ = false;
    gone_ = 0;
    if (nested) throw LeavingWait{};
    return;
  }
  if (request->type == Types::kPing || request->type == Types::kChatCancel ||
      request->type == Types::kChatTurn || !nested) {
    handle(std::move(*request));
  } else {
    deferred_.push_back(std::move(*request));
  }
}

void NativeHost::serveDeferred() {
  while (!gone_ && !fatal_ && (!deferred_.empty() || !toStart_.empty())) {
    if (!deferred_.empty()) {
      NativeEnvelope request = std::move(deferred_.front());
      deferred_.pop_front();
      handle(std::move(request));
    } else {
      std::string sessionID = std::move(toStart_.front());
      toStart_.pop_front();
      startTurn(sessionID);
    }
  }
}

void NativeHost::handle(NativeEnvelope request) {
  if (request.type == Types::kPing) {
    writeReply({.type = Types::kPong,
                .requestId = request.requestId,
                .ok = true,
                .app = kApplicationName,
                .version = kApplicationVersion});
    return;
  }
  if (request.type == Types::kHealth) {
    writeReply({.type = Types::kHealth,
                .requestId = request.requestId,
                .ok = true,
                .status = bridge_->health()});
    return;
  }
  if (request.type == Types::kCatalog) {
    handleCatalog(request);
    return;
  }
  if (request.type == Types::kChatTurn) {
    handleChatTurn(std::move(request));
    return;
  }
  if (request.type == Types::kChatCancel) {
    handleCancel(request);
    return;
  }
  writeReply({.type = Types::kError,
              .requestId = request.requestId,
              .code = Codes::kUnsupportedMessage,
              .message = "Unsupported Native Messaging request type: " + request.type});
}

void NativeHost::handleCatalog(const NativeEnvelope& request) {
  try {
    JSONValue catalog = bridge_->commandCatalog(false);
    writeReply({.type = Types::kCatalog,
                .requestId = request.requestId,
                .ok = true,
                .catalog = std::move(catalog)});
  } catch (const std::exception& failure) {
    // A failure to write this one is fatal: it escapes to run().
    writeReply({.type = Types::kError,
                .requestId = request.requestId,
                .code = Codes::kCatalogFailed,
                .message = failure.what()});
  }
}

// Taken by value and moved on: a turn's request may hold tens of MiB of page context.
void NativeHost::handleChatTurn(NativeEnvelope request) {
  if (!request.sessionId || !request.prompt) {
    writeReply({.type = Types::kError,
                .requestId = request.requestId,
                .code = Codes::kInvalidChatTurn,
                .message = "chat.turn requires sessionId and prompt."});
    return;
  }
  // One session's turns run in order: a turn waits for the one before it to end.
  const std::string sessionID = *request.sessionId;
  Session& session = sessions_[sessionID];
  if (session.running) {
    session.waiting.push_back(std::move(request));
    return;
  }
  session.running = std::make_unique<NativeEnvelope>(std::move(request));
  toStart_.push_back(sessionID);
}

void NativeHost::handleCancel(const NativeEnvelope& request) {
  if (!request.sessionId) {
    writeReply({.type = Types::kError,
                .requestId = request.requestId,
                .code = Codes::kInvalidChatCancel,
                .message = "Chat cancel requires sessionId."});
    return;
  }
  auto found = sessions_.find(*request.sessionId);
  if (found != sessions_.end()) {
    // The turns still waiting are dropped, each ended as such.
    std::deque<NativeEnvelope> dropped = std::move(found->second.waiting);
    found->second.waiting.clear();
    for (const NativeEnvelope& turn : dropped) {
      writeReply(
          {.type = Types::kChatDone, .requestId = turn.requestId, .sessionId = turn.sessionId});
    }
    if (found->second.running) {
      // Answered after the turn's own end. A turn not yet handed to the bridge is stopped as
      // soon as it is.
      found->second.cancels.push_back(request.requestId);
      bridge_->cancelTurn(*request.sessionId);
      return;
    }
  }
  writeReply({.type = Types::kChatCancelled,
              .requestId = request.requestId,
              .sessionId = request.sessionId});
}

void NativeHost::startTurn(const std::string& sessionID) {
  Session& session = sessions_[sessionID];
  NativeEnvelope& request = *session.running;
  const std::optional<std::string> requestID = request.requestId;
  // The turn's own messages are written as they come (deltas that arrived together in one
  // write); a failed write of them does not end the turn, but a reader that is gone ends the
  // host.
  AppServerBridge::TurnRequest turn{
      .sessionID = sessionID,
      .prompt = std::move(*request.prompt),
      .context = request.context ? &*request.context : nullptr,
      .commands = request.commands ? &*request.commands : nullptr,
      .model = request.model,
      .reasoningEffort = request.reasoningEffort,
      .onDelta =
          [this, requestID, sessionID](const std::string& delta) {
            // Chrome refuses messages over 1 MiB: a long piece of text goes out in several
            // deltas, which the extension joins back together.
            for (std::string_view piece : splitForChrome(delta)) {
              queueQuietly({.type = Types::kChatDelta,
                            .requestId = requestID,
                            .sessionId = sessionID,
                            .delta = std::string(piece)});
            }
          },
      .onAttachment =
          [this, requestID, sessionID](const JSONValue& attachment) {
            // An attachment cannot be shortened; one past the limit is dropped.
            writeQuietly({.type = Types::kChatAttachment,
                          .requestId = requestID,
                          .sessionId = sessionID,
                          .attachment = attachment},
                         /*dropIfTooLarge=*/true);
          },
      .onEnd = [this, sessionID](
                   const std::optional<std::string>& failure) { turnEnded(sessionID, failure); }};
  const bool cancelled = !session.cancels.empty();
  try {
    bridge_->sendTurn(std::move(turn));
  } catch (const std::exception& failure) {
    turnEnded(sessionID, std::string(failure.what()));
    return;
  }
  // A cancel read before the bridge knew the turn is passed on now that Codex has its id.
  if (cancelled) bridge_->cancelTurn(sessionID);
}

void NativeHost::turnEnded(const std::string& sessionID,
                           const std::optional<std::string>& failure) noexcept {
  auto found = sessions_.find(sessionID);
  if (found == sessions_.end() || !found->second.running) return;
  Session& session = found->second;
  const std::unique_ptr<NativeEnvelope> request = std::move(session.running);
  if (!failure) {
    writeQuietly({.type = Types::kChatDone,
                  .requestId = request->requestId,
                  .sessionId = request->sessionId});
  } else {
    writeQuietly({.type = Types::kError,
                  .requestId = request->requestId,
                  .code = Codes::kChatTurnFailed,
                  .message = *failure});
  }
  for (const std::optional<std::string>& cancel : session.cancels) {
    writeQuietly({.type = Types::kChatCancelled, .requestId = cancel, .sessionId = sessionID});
  }
  session.cancels.clear();
  if (!session.waiting.empty()) {
    session.running = std::make_unique<NativeEnvelope>(std::move(session.waiting.front()));
    session.waiting.pop_front();
    toStart_.push_back(sessionID);
  }
}

void NativeHost::writeReply(const NativeEnvelope& reply) {
  try {
    io_.writeEnvelope(reply);
  } catch (const NativeMessageCodecError& failure) {
    // Nothing was written: Chrome gets the reply made to fit instead of a frame that would end
    // the connection.
    if (failure.errorCase() != NativeMessageCodecError::Case::payloadTooLarge) throw;
    io_.writeEnvelope(fittedReply(reply, io_.maxWritePayloadBytes()));
  }
}

void NativeHost::writeQuietly(const NativeEnvelope& envelope, bool dropIfTooLarge) noexcept {
  try {
    if (dropIfTooLarge) {
      io_.writeEnvelope(envelope);
    } else {
      writeReply(envelope);
    }
  } catch (const IOError&) {
    gone_ = 1;
  } catch (const std::exception&) {
    // A frame past Chrome's limit is dropped; the turn goes on.
  }
}

void NativeHost::queueQuietly(const NativeEnvelope& envelope) noexcept {
  try {
    io_.queueEnvelope(envelope);
  } catch (const std::exception&) {
    // A frame past Chrome's limit is dropped; the turn goes on.
  }
}

void NativeHost::flushQuietly() noexcept {
  try {
    io_.flush();
  } catch (const IOError&) {
    gone_ = 1;
  } catch (const std::exception&) {
  }
}

}  // namespace vellora
