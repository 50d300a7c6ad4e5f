// Reading JSON text into a JSONValue: simdjson finds the structure and validates the bytes;
// strings are decoded by our own reader, which, unlike simdjson, reads a lone surrogate escape.
#include "VelloraCore/Protocol/JSONValue.h"

#include <simdjson.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace vellora {

namespace od = simdjson::ondemand;

static_assert(JSONValue::kParsePadding >= simdjson::SIMDJSON_PADDING);

namespace {

[[noreturn]] void throwReadError(simdjson::error_code code) {
  if (code == simdjson::DEPTH_ERROR) {
    throw JSONError(JSONError::Case::tooDeep, "The JSON text is nested too deeply.");
  }
  throw JSONError(JSONError::Case::invalidJSON,
                  std::string("The data is not valid JSON: ") + simdjson::error_message(code));
}

template <typename Result>
auto check(Result&& result) {
  typename std::remove_cvref_t<decltype(result.value_unsafe())> value;
  if (auto error = std::forward<Result>(result).get(value)) throwReadError(error);
  return value;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the four hex digits after "\u" at text[i]; -1 when they are not four hex digits.
long readHex4(std::string_view text, std::size_t i) {
  if (i + 4 > text.size()) return -1;
  long value = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const int digit = hexValue(text[i + k]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

template <typename Out>
void appendUTF8(Out& out, unsigned long codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// What a lone surrogate escape reads as: U+FFFD, the replacement character.
constexpr unsigned long kReplacementCharacter = 0xFFFD;

// Decodes the inside of a JSON string token whose bytes stage one has already checked (valid
// UTF-8, no raw control characters). Escapes are checked here: an unknown escape or a "\u"
// without four hex digits is a read error. A surrogate escape that does not form a pair (text
// cut inside an emoji in JavaScript) reads as U+FFFD; the escape after a lone high surrogate is
// read on its own.
//   "\ud83d\ude00" -> U+1F600;  "\ud83d" -> U+FFFD;  "\ude00\ud83d\ude00" -> U+FFFD U+1F600
// `out` takes append(data, count) and push_back(c).
template <typename Out>
void unescapeInto(std::string_view text, Out& out) {
  std::size_t runStart = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const void* found = std::memchr(text.data() + i, '\\', text.size() - i);
    if (found == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    out.append(text.data() + runStart, i - runStart);
    if (i + 1 >= text.size()) throwReadError(simdjson::STRING_ERROR);
    const char escape = text[i + 1];
    i += 2;
    switch (escape) {
      case '"':
        out.push_back('"');
        break;
      case '\\':
        out.push_back('\\');
        break;
      case '/':
        out.push_back('/');
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        long unit = readHex4(text, i);
        if (unit < 0) throwReadError(simdjson::STRING_ERROR);
        i += 4;
        unsigned long codePoint = static_cast<unsigned long>(unit);
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
          codePoint = kReplacementCharacter;
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
          const long low = i + 2 <= text.size() && text[i] == '\\' && text[i + 1] == 'u'
                               ? readHex4(text, i + 2)
                               : -1;
          if (low >= 0xDC00 && low <= 0xDFFF) {
            i += 6;
            codePoint =
                0x10000 + ((codePoint - 0xD800) << 10) + static_cast<unsigned long>(low - 0xDC00);
          } else {
            codePoint = kReplacementCharacter;
          }
        }
        appendUTF8(out, codePoint);
        break;
      }
      default:
        throwReadError(simdjson::STRING_ERROR);
    }
    runStart = i;
  }
  out.append(text.data() + runStart, text.size() - runStart);
}

// Reads the escapes of a string whose value is not kept, so that it is refused as it would be
// if it were.
void checkEscapes(std::string_view text) {
  struct Discard {
    void append(const char*, std::size_t) {}
    void push_back(char) {}
  } out;
  unescapeInto(text, out);
}

std::string unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  unescapeInto(text, out);
  return out;
}

// Writes the decoded text over the buffer it is read from, from `to` on, which lies at or
// before the text: no escape decodes to more bytes than it takes, so the writing never
// overtakes the reading. Returns the end of what it wrote.
char* unescapeInPlace(std::string_view text, char* to) {
  struct Overwrite {
    char* at;
    void append(const char* from, std::size_t count) {
      std::memmove(at, from, count);
      at += count;
    }
    void push_back(char c) { *at++ = c; }
  } out{to};
  unescapeInto(text, out);
  return out.at;
}

// The inside of a string value's token, between its quotes. Strings are decoded straight from
// the input, which stage one has already validated as UTF-8 without raw control characters, so
// a 60 MB data URL never passes through the parser's own string buffer on its way into the
// value.
template <typename V>
std::string_view rawStringValue(V& value) {
  // A document's token comes as a plain view; a value's as a result to check.
  std::string_view raw;
  if constexpr (std::is_same_v<decltype(value.raw_json_token()), std::string_view>) {
    raw = value.raw_json_token();
  } else {
    raw = check(value.raw_json_token());
  }
  while (!raw.empty() && raw.back() != '"') raw.remove_suffix(1);
  if (raw.size() < 2 || raw.front() != '"') throwReadError(simdjson::STRING_ERROR);
  return raw.substr(1, raw.size() - 2);
}

// The inside of the string whose opening quote comes just before `start`, up to its closing
// quote, which stage one has already found.
std::string_view rawStringBody(const char* start) {
  std::size_t i = 0;
  while (start[i] != '"') i += start[i] == '\\' ? 2 : 1;
  return std::string_view(start, i);
}

// A key is decoded by the parser, and by our own reader when the parser refuses it (a lone
// surrogate), which then decides.
std::string readKey(od::field& field) {
  const char* raw = field.key().raw();
  std::string_view key;
  if (field.unescaped_key().get(key) == simdjson::SUCCESS) return std::string(key);
  return unescape(rawStringBody(raw));
}

bool isJSONWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A document that is one string: decoded by our own reader; only white space may follow it.
JSONValue readStringDocument(od::document& document, std::string_view text) {
  std::string_view raw = document.raw_json_token();
  if (raw.data() + raw.size() != text.data() + text.size()) {
    throwReadError(simdjson::TRAILING_CONTENT);
  }
  while (!raw.empty() && isJSONWhitespace(raw.back())) raw.remove_suffix(1);
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') {
    throwReadError(simdjson::STRING_ERROR);
  }
  return JSONValue(unescape(raw.substr(1, raw.size() - 2)));
}

// When the text's buffer is ours to keep (parseOwned), a string that takes up more than half of
// the text (a screenshot's data URL, a page's text) is not copied out of it: its place in the
// value is noted while the document is read, and once the parser is done with the buffer, the
// string is decoded over the start of the buffer, which then becomes that string. At most one
// string can be that long.
class BufferAdoption {
 public:
  explicit BufferAdoption(std::size_t textBytes) : textBytes_(textBytes) {}

  // One step into the value: an object's key or an array's index.
  struct Step {
    std::string key;
    std::size_t index = 0;
    bool isKey = false;
  };

  // The steps from the root to the value being read; `key` lives until its value is read.
  void enterKey(const std::string& key) { path_.push_back({&key, 0}); }
  void enterIndex(std::size_t index) { path_.push_back({nullptr, index}); }
  void leave() { path_.pop_back(); }

  // True when the string `raw` is taken from the buffer later (its value is a placeholder).
  bool defer(std::string_view raw) {
    if (raw.size() <= textBytes_ / 2) return false;
    deferred_.emplace();
    deferred_->raw = raw;
    for (const PathStep& step : path_) {
      deferred_->path.push_back(step.key != nullptr ? Step{*step.key, 0, true}
                                                    : Step{{}, step.index, false});
    }
    return true;
  }

  // `key` has come again in the object being read, and its new value replaces the one read
  // before: a string deferred within that one is gone with it.
  void replaced(const std::string& key) {
    if (!deferred_ || deferred_->path.size() <= path_.size()) return;
    for (std::size_t i = 0; i < path_.size(); ++i) {
      const Step& step = deferred_->path[i];
      const PathStep& current = path_[i];
      if (step.isKey != (current.key != nullptr)) return;
      if (step.isKey ? step.key != *current.key : step.index != current.index) return;
    }
    const Step& last = deferred_->path[path_.size()];
    if (last.isKey && last.key == key) drop();
  }

  // Decodes the deferred string over `buffer`, which the parser no longer reads, and moves
  // the buffer into its place in `root`.
  void finish(JSONValue& root, std::string& buffer) {
    if (!deferred_) return;
    JSONValue* slot = &root;
    for (const Step& step : deferred_->path) {
      if (step.isKey) {
        slot = slot->subscript(step.key);
      } else {
        JSONValue::Array* array = slot->arrayValue();
        slot = array != nullptr && step.index < array->size() ? &(*array)[step.index] : nullptr;
      }
      if (slot == nullptr) return drop();
    }
    char* end = unescapeInPlace(deferred_->raw, buffer.data());
    buffer.resize(static_cast<std::size_t>(end - buffer.data()));
    *slot = JSONValue(std::move(buffer));
  }

 private:
  // The deferred string is not part of the value after all; a bad escape in it still makes
  // the text unreadable.
  void drop() {
    checkEscapes(deferred_->raw);
    deferred_.reset();
  }

  struct PathStep {
    const std::string* key;
    std::size_t index;
  };
  struct Deferred {
    std::string_view raw;
    std::vector<Step> path;
  };
  std::size_t textBytes_;
  std::vector<PathStep> path_;
  std::optional<Deferred> deferred_;
};

template <typename V>
JSONValue convert(V& value, std::size_t depth, BufferAdoption* adoption) {
  switch (check(value.type())) {
    case od::json_type::null:
      if (!check(value.is_null())) throwReadError(simdjson::INCORRECT_TYPE);
      return JSONValue();
    case od::json_type::boolean:
      return JSONValue(check(value.get_bool()));
    case od::json_type::number:
      return JSONValue(check(value.get_double()));
    case od::json_type::string: {
      const std::string_view raw = rawStringValue(value);
      if (adoption != nullptr && adoption->defer(raw)) return JSONValue(std::string());
      return JSONValue(unescape(raw));
    }
    case od::json_type::array: {
      if (depth >= JSONValue::kMaxDepth) throwReadError(simdjson::DEPTH_ERROR);
      JSONValue::Array array;
      for (auto element : check(value.get_array())) {
        od::value child = check(std::move(element));
        if (adoption != nullptr) adoption->enterIndex(array.size());
        array.push_back(convert(child, depth + 1, adoption));
        if (adoption != nullptr) adoption->leave();
      }
      return JSONValue(std::move(array));
    }
    case od::json_type::object: {
      if (depth >= JSONValue::kMaxDepth) throwReadError(simdjson::DEPTH_ERROR);
      JSONValue::Object object;
      for (auto member : check(value.get_object())) {
        od::field field = check(std::move(member));
        std::string key = readKey(field);
        od::value child = field.value();
        if (adoption != nullptr) {
          if (object.contains(key)) adoption->replaced(key);
          adoption->enterKey(key);
        }
        JSONValue converted = convert(child, depth + 1, adoption);
        if (adoption != nullptr) adoption->leave();
        // Duplicate keys: the last one wins, as in JavaScript.
        object.insert_or_assign(std::move(key), std::move(converted));
      }
      return JSONValue(std::move(object));
    }
  }
  throwReadError(simdjson::INCORRECT_TYPE);
}

// Small documents reuse one parser per thread; a large one gets its own so that its buffers
// are released when the read is done.
constexpr std::size_t kReusableParserCapacity = 1 << 20;
// The parser's own depth bound sits a little above ours, so that our check always fires first.
constexpr std::size_t kParserMaxDepth = JSONValue::kMaxDepth + 8;

JSONValue parseWithParser(od::parser& parser, simdjson::padded_string_view text,
                          BufferAdoption* adoption) {
  if (parser.max_depth() != kParserMaxDepth || parser.capacity() < text.size()) {
    if (auto error = parser.allocate(text.size(), kParserMaxDepth)) throwReadError(error);
  }
  od::document document = check(parser.iterate(text));
  const od::json_type type = check(document.type());
  if (type == od::json_type::string) return readStringDocument(document, text);
  const bool container = type == od::json_type::array || type == od::json_type::object;
  JSONValue result = convert(document, 0, adoption);
  // Scalar getters refuse trailing content themselves; after a container, a location still
  // in bounds means more text follows the value.
  if (container && document.current_location().error() == simdjson::SUCCESS) {
    throwReadError(simdjson::TRAILING_CONTENT);
  }
  return result;
}

JSONValue parsePadded(simdjson::padded_string_view text, BufferAdoption* adoption = nullptr) {
  if (text.size() <= kReusableParserCapacity) {
    thread_local od::parser parser(kReusableParserCapacity);
    return parseWithParser(parser, text, adoption);
  }
  auto parser = std::make_unique<od::parser>(text.size());
  return parseWithParser(*parser, text, adoption);
}

}  // namespace

JSONValue JSONValue::parse(std::string_view text) {
  simdjson::padded_string copy(text);
  return parsePadded(copy);
}

JSONValue JSONValue::parse(std::string_view text, std::size_t capacity) {
  if (capacity < text.size() + simdjson::SIMDJSON_PADDING) return parse(text);
  return parsePadded(simdjson::padded_string_view(text.data(), text.size(), capacity));
}

JSONValue JSONValue::parseOwned(std::string text) {
  if (text.capacity() < text.size() + simdjson::SIMDJSON_PADDING) {
    text.reserve(text.size() + simdjson::SIMDJSON_PADDING);
  }
  BufferAdoption adoption(text.size());
  JSONValue result = parsePadded(
      simdjson::padded_string_view(text.data(), text.size(), text.capacity()), &adoption);
  adoption.finish(result, text);
  return result;
}

}  // namespace vellora
