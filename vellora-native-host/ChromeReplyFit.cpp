#include "vellora-native-host/ChromeReplyFit.h"

#include <array>
#include <optional>
#include <vector>

namespace vellora {

namespace {

constexpr std::string_view kEllipsis = "…";
// A catalog's "errors" messages share the frame with the catalog itself: each gets at most this
// much of it, so that the lists keep nearly all of the room.
constexpr std::size_t kMaxCatalogErrorBytes = 16 * 1024;
// The lists a catalog reply may lose entries from, in the order in which ties are broken.
constexpr std::array<std::string_view, 4> kCatalogLists = {"skills", "plugins", "apps", "models"};

std::size_t payloadBytes(const NativeEnvelope& reply) {
  std::string out;
  reply.appendJSON(out);
  return out.size();
}

std::size_t stringBytes(std::string_view text) {
  std::string out;
  JSONValue::serializeString(out, text);
  return out.size();
}

// The envelope with its message cut so that the whole payload fits; nothing when even an empty
// message does not fit.
std::optional<NativeEnvelope> withShortenedMessage(NativeEnvelope reply, std::size_t limitBytes) {
  const std::string message = reply.message.value_or("");
  reply.message = "";
  const std::size_t rest = payloadBytes(reply) - stringBytes("");
  if (rest + stringBytes(message) <= limitBytes) {
    reply.message = message;
    return reply;
  }
  if (rest + stringBytes(kEllipsis) > limitBytes) return std::nullopt;
  reply.message = shortenedText(message, limitBytes - rest);
  return reply;
}

std::string shortenedNote(std::size_t leftOut) {
  return "Shortened to fit Chrome's 1 MiB message limit: " + std::to_string(leftOut) +
         " entries left out.";
}

// The catalog shortened to fit (see fittedReply); nothing when even its empty lists do not fit.
std::optional<NativeEnvelope> withShortenedCatalog(NativeEnvelope reply, std::size_t limitBytes) {
  JSONValue::Object* catalog = reply.catalog->objectValue();
  if (catalog == nullptr) return std::nullopt;
  auto found = catalog->find("errors");
  if (found == catalog->end() || found->second.arrayValue() == nullptr) {
    found = catalog->insert_or_assign("errors", JSONValue::Array{}).first;
  }
  JSONValue::Array& errors = *found->second.arrayValue();
  for (JSONValue& error : errors) {
    if (std::string* message = error.subscript("message") != nullptr
                                   ? error.subscript("message")->stringValue()
                                   : nullptr) {
      *message = shortenedText(*message, kMaxCatalogErrorBytes);
    }
  }

  // Each entry's share of the payload, worked out once: an entry and its comma.
  struct List {
    JSONValue::Array* entries = nullptr;
    std::vector<std::size_t> bytes;
  };
  std::vector<List> lists;
  for (std::string_view name : kCatalogLists) {
    auto list = catalog->find(name);
    if (list == catalog->end() || list->second.arrayValue() == nullptr) continue;
    List entry{list->second.arrayValue(), {}};
    for (const JSONValue& element : *entry.entries) {
      entry.bytes.push_back(element.serialized().size() + 1);
    }
    lists.push_back(std::move(entry));
  }
  const auto noteEntry = [](std::size_t leftOut) {
    return JSONValue::object(
        {{"method", std::string(kCatalogShortenedMethod)}, {"message", shortenedNote(leftOut)}});
  };
  // The note, and its comma when other errors come before it.
  const auto noteBytes = [&](std::size_t leftOut) {
    return noteEntry(leftOut).serialized().size() + (errors.empty() ? 0 : 1);
  };

  std::size_t size = payloadBytes(reply);
  // Shorter error messages may be all it takes.
  if (size <= limitBytes) return reply;
  std::size_t leftOut = 0;
  for (;;) {
    if (size + noteBytes(leftOut) <= limitBytes) {
      // Checked for real once the estimate says it fits.
      JSONValue::Array withNote = errors;
      withNote.push_back(noteEntry(leftOut));
      NativeEnvelope candidate = reply;
      (*candidate.catalog->objectValue())["errors"] = JSONValue(std::move(withNote));
      const std::size_t actual = payloadBytes(candidate);
      if (actual <= limitBytes) return candidate;
      size = actual - noteBytes(leftOut);
    }
    List* longest = nullptr;
    for (List& list : lists) {
      if (!list.entries->empty() &&
          (longest == nullptr || list.entries->size() > longest->entries->size())) {
        longest = &list;
      }
    }
    if (longest == nullptr) return std::nullopt;
    // The last entry of a list has no comma after it, but the one before it loses its comma.
    size -= longest->bytes[longest->entries->size() - 1];
    if (longest->entries->size() == 1) size += 1;
    longest->entries->pop_back();
    ++leftOut;
  }
}

}  // namespace

std::string shortenedText(std::string_view text, std::size_t limitBytes) {
  if (stringBytes(text) <= limitBytes) return std::string(text);
  const std::size_t ellipsis = kEllipsis.size();
  if (stringBytes("") + ellipsis > limitBytes) return "";
  // The cut before byte k, moved back to the start of a character.
  const auto cut = [&](std::size_t k) {
    while (k > 0 && k < text.size() && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80) --k;
    return k;
  };
  // The written length only grows with the cut: find the largest cut that fits.
  std::size_t low = 0;
  std::size_t high = text.size();
  while (low < high) {
    const std::size_t middle = low + (high - low + 1) / 2;
    if (stringBytes(text.substr(0, cut(middle))) + ellipsis <= limitBytes) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return std::string(text.substr(0, cut(low))) + std::string(kEllipsis);
}

NativeEnvelope fittedReply(NativeEnvelope reply, std::size_t limitBytes) {
  if (payloadBytes(reply) <= limitBytes) return reply;
  if (reply.catalog) {
    if (std::optional<NativeEnvelope> shortened = withShortenedCatalog(reply, limitBytes)) {
      return *shortened;
    }
  } else if (reply.message) {
    if (std::optional<NativeEnvelope> shortened = withShortenedMessage(reply, limitBytes)) {
      return *shortened;
    }
  }
  // Too large even so: what makes it so came from the request, and is left out.
  NativeEnvelope error{.type = NativeMessageTypes::kError};
  if (reply.type == NativeMessageTypes::kError && reply.code) {
    error.code = reply.code;
    error.message = reply.message;
  } else {
    error.code = NativeErrorCodes::kReplyTooLarge;
    error.message = "The reply to a request does not fit Chrome's 1 MiB message limit.";
  }
  if (std::optional<NativeEnvelope> shortened = withShortenedMessage(error, limitBytes)) {
    return *shortened;
  }
  return NativeEnvelope{.type = NativeMessageTypes::kError, .code = error.code};
}

}  // namespace vellora
