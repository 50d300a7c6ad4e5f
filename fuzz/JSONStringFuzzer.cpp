// Reads arbitrary bytes as the inside of a JSON string and checks our string reader against
// simdjson's own string decoding:
//  - text simdjson reads must give the same bytes, as a document, inside an array and as a key;
//  - text simdjson refuses only for its lone surrogate escapes must read as that text with each
//    of them replaced by U+FFFD, which simdjson then decodes;
//  - any other text simdjson refuses must be refused.
#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "VelloraCore/Protocol/JSONValue.h"

namespace {

// simdjson's decoding of `body` between quotes as one whole document, or nothing when it
// refuses it.
std::optional<std::string> simdjsonString(std::string_view body) {
  static simdjson::dom::parser parser;
  const simdjson::padded_string quoted("\"" + std::string(body) + "\"");
  std::string_view text;
  if (parser.parse(quoted).get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
  return std::string(text);
}

// Our reading of `json`, or nothing when it is refused.
std::optional<vellora::JSONValue> ours(const std::string& json) {
  try {
    return vellora::JSONValue::parse(json);
  } catch (const vellora::JSONError&) {
    return std::nullopt;
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The UTF-16 unit of the "\uXXXX" escape at body[i], or nothing when there is none there.
std::optional<unsigned> unitAt(std::string_view body, std::size_t i) {
  if (i + 6 > body.size() || body[i] != '\\' || body[i + 1] != 'u') return std::nullopt;
  unsigned unit = 0;
  for (std::size_t k = i + 2; k < i + 6; ++k) {
    const int digit = hexDigit(body[k]);
    if (digit < 0) return std::nullopt;
    unit = unit * 16 + static_cast<unsigned>(digit);
  }
  return unit;
}

// `body` with every surrogate escape that is not the high half of a pair followed by its low
// half written as "\ufffd" instead; everything else, other escapes included, stays.
std::string withLoneSurrogatesReplaced(std::string_view body) {
  std::string out;
  std::size_t i = 0;
  while (i < body.size()) {
    if (body[i] != '\\' || i + 1 == body.size()) {
      out.push_back(body[i++]);
      continue;
    }
    const std::optional<unsigned> unit = unitAt(body, i);
    if (!unit) {
      out.append(body.substr(i, 2));  // another escape, or a broken one: left to the readers
      i += 2;
      continue;
    }
    const std::optional<unsigned> next = unitAt(body, i + 6);
    if (*unit >= 0xD800 && *unit <= 0xDBFF && next && *next >= 0xDC00 && *next <= 0xDFFF) {
      out.append(body.substr(i, 12));
      i += 12;
    } else {
      out.append(*unit >= 0xD800 && *unit <= 0xDFFF ? "\\ufffd" : body.substr(i, 6));
      i += 6;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> expected = simdjsonString(body);
  if (!expected) {
    const std::string repaired = withLoneSurrogatesReplaced(body);
    if (repaired != body) expected = simdjsonString(repaired);
  }

  const std::string quoted = "\"" + std::string(body) + "\"";
  const std::optional<vellora::JSONValue> document = ours(quoted);
  if (!expected) {
    if (document) __builtin_trap();
    return 0;
  }
  if (!document || document->stringValue() == nullptr || *document->stringValue() != *expected) {
    __builtin_trap();
  }
  // The same text read inside an array and as a key (which simdjson decodes first).
  const vellora::JSONValue inArray(vellora::JSONValue::Array{*expected});
  const vellora::JSONValue asKey(vellora::JSONValue::Object{{*expected, 0}});
  if (ours("[" + quoted + "]") != inArray || ours("{" + quoted + ":0}") != asKey) {
    __builtin_trap();
  }
  return 0;
}
