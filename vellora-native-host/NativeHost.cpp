#include "vellora-native-host/NativeHost.h"

#include <exception>
#include <string_view>
#include <vector>

#include "VelloraCore/AppServer/AppServerBridge.h"

namespace vellora {

namespace {

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

}  // namespace

NativeHost::NativeHost(NativeMessageIO& io, AppServerBridge& bridge) : io_(io), bridge_(bridge) {
  bridge_.setIdleHandler([this] {
    try {
      io_.flush();
    } catch (const std::exception&) {
      // As for a delta written on its own: the failed frames are dropped and the turn goes on.
    }
  });
}

NativeHost::~NativeHost() {
  bridge_.setIdleHandler(nullptr);
}

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
  if (request.type == "health") {
    io_.writeEnvelope(
        {.type = "health", .requestId = request.requestId, .ok = true, .status = bridge_.health()});
    return;
  }
  if (request.type == "codex.catalog") {
    handleCatalog(request);
    return;
  }
  if (request.type == "chat.turn") {
    handleChatTurn(request);
    return;
  }
  io_.writeEnvelope({.type = "error",
                     .requestId = request.requestId,
                     .code = "unsupported_message",
                     .message = "Unsupported Native Messaging request type: " + request.type});
}

void NativeHost::handleCatalog(const NativeEnvelope& request) {
  try {
    JSONValue catalog = bridge_.commandCatalog(false);
    io_.writeEnvelope({.type = "codex.catalog",
                       .requestId = request.requestId,
                       .ok = true,
                       .catalog = std::move(catalog)});
  } catch (const std::exception& failure) {
    // A failure to write this one is fatal: it escapes to run().
    io_.writeEnvelope({.type = "error",
                       .requestId = request.requestId,
                       .code = "catalog_failed",
                       .message = failure.what()});
  }
}

void NativeHost::handleChatTurn(const NativeEnvelope& request) {
  if (!request.sessionId || !request.prompt) {
    io_.writeEnvelope({.type = "error",
                       .requestId = request.requestId,
                       .code = "invalid_chat_turn",
                       .message = "chat.turn requires sessionId and prompt."});
    return;
  }
  // The turn's own messages are written as they come (deltas that arrived together in one
  // write); a failed write of them is dropped and the turn goes on, so that its end is still
  // reported.
  const auto onDelta = [&](const std::string& delta) {
    // Chrome refuses messages over 1 MiB: a long piece of text goes out in several deltas,
    // which the extension joins back together.
    for (std::string_view piece : splitForChrome(delta)) {
      try {
        io_.queueEnvelope({.type = "chat.delta",
                           .requestId = request.requestId,
                           .sessionId = request.sessionId,
                           .delta = std::string(piece)});
      } catch (const std::exception&) {
      }
    }
  };
  const auto onAttachment = [&](const JSONValue& attachment) {
    try {
      io_.writeEnvelope({.type = "chat.attachment",
                         .requestId = request.requestId,
                         .sessionId = request.sessionId,
                         .attachment = attachment});
    } catch (const std::exception&) {
    }
  };
  try {
    bridge_.sendTurn(*request.sessionId, *request.prompt,
                     request.context ? &*request.context : nullptr,
                     request.commands ? &*request.commands : nullptr, request.model,
                     request.reasoningEffort, onDelta, onAttachment);
    io_.writeEnvelope(
        {.type = "chat.done", .requestId = request.requestId, .sessionId = request.sessionId});
  } catch (const std::exception& failure) {
    // A failure to write this one is fatal: it escapes to run().
    io_.writeEnvelope({.type = "error",
                       .requestId = request.requestId,
                       .code = "chat_turn_failed",
                       .message = failure.what()});
  }
}

}  // namespace vellora
