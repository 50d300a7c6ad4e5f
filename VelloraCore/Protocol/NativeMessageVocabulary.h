#pragma once

namespace vellora {

// The words of the Native Messaging conversation between the extension and the host: the one
// place for message types (an envelope's "type") and error codes (an "error" reply's "code").
// They are character arrays rather than string views so that they initialise and compare with
// NativeEnvelope's std::string members as literals do.
namespace NativeMessageTypes {

// Requests. "health" and "codex.catalog" are answered with a reply of the same type.
inline constexpr char kPing[] = "ping";
inline constexpr char kHealth[] = "health";
inline constexpr char kCatalog[] = "codex.catalog";
inline constexpr char kChatTurn[] = "chat.turn";
inline constexpr char kChatCancel[] = "chat.cancel";

// Replies. A turn's deltas and attachments come before the one reply that ends it: "chat.done"
// or an "error". A cancel is answered with "chat.cancelled" once the session's turn has ended.
inline constexpr char kPong[] = "pong";
inline constexpr char kChatDelta[] = "chat.delta";
inline constexpr char kChatAttachment[] = "chat.attachment";
inline constexpr char kChatDone[] = "chat.done";
inline constexpr char kChatCancelled[] = "chat.cancelled";
inline constexpr char kError[] = "error";

}  // namespace NativeMessageTypes

namespace NativeErrorCodes {

// A request of a type the host does not know.
inline constexpr char kUnsupportedMessage[] = "unsupported_message";
// A "chat.turn" without sessionId or prompt; a "chat.cancel" without sessionId.
inline constexpr char kInvalidChatTurn[] = "invalid_chat_turn";
inline constexpr char kInvalidChatCancel[] = "invalid_chat_cancel";
// A turn or a catalog request that failed; the message says why.
inline constexpr char kChatTurnFailed[] = "chat_turn_failed";
inline constexpr char kCatalogFailed[] = "catalog_failed";
// A reply that could not be made to fit Chrome's 1 MiB limit.
inline constexpr char kReplyTooLarge[] = "reply_too_large";
// The host cannot go on (a broken frame from Chrome, say); the last reply before it exits.
inline constexpr char kNativeHostError[] = "native_host_error";

}  // namespace NativeErrorCodes

}  // namespace vellora
