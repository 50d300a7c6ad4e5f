#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "VelloraCore/Protocol/NativeEnvelope.h"
#include "VelloraCore/Protocol/NativeMessageVocabulary.h"

namespace vellora {

// What a catalog that had to be shortened says about it in its "errors".
inline constexpr std::string_view kCatalogShortenedMethod = NativeMessageTypes::kCatalog;

// Makes a reply whose payload would be longer than `limitBytes` fit, so that Chrome, which drops
// a host that sends more than 1 MiB, gets an answer instead:
//  - an error's `message` is cut at a character boundary and ends in "…";
//  - a catalog loses entries from the end of its longest list (most entries) until it fits, and
//    its "errors" gain {"method": "codex.catalog", "message": "Shortened to fit Chrome's 1 MiB
//    message limit: N entries left out."}; each "errors" message is cut as an error's is;
//  - a reply that cannot fit even so (a huge `requestId` or `sessionId` echoed back) becomes an
//    "error" without those two members: an error keeps its code, any other reply gets
//    "reply_too_large".
// A reply that fits is returned unchanged. Throws JSONError when the reply cannot be written
// as JSON at all.
NativeEnvelope fittedReply(NativeEnvelope reply, std::size_t limitBytes);

// The longest start of `text`, cut between UTF-8 characters, whose JSON string form (quotes
// included) followed by "…" takes at most `limitBytes`, with the "…"; `text` itself when it
// fits whole. "" when not even "…" fits.
//   shortenedText("abcdefgh", 8) == "abc…"   (the quotes take 2 bytes, "…" 3)
std::string shortenedText(std::string_view text, std::size_t limitBytes);

}  // namespace vellora
