#include "VelloraCore/Protocol/JSONValue.h"

#include <simdjson.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

namespace vellora {

namespace od = simdjson::ondemand;

static_assert(JSONValue::kParsePadding >= simdjson::SIMDJSON_PADDING);

JSONError::JSONError(Case c, std::string description)
    : case_(c), description_(std::move(description)) {}

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

void appendUTF8(std::string& out, unsigned long codePoint) {
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
std::string unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
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
  return out;
}

// Strings are decoded straight from the input, which stage one has already validated as UTF-8
// without raw control characters, so a 60 MB data URL never passes through the parser's own
// string buffer on its way into the value.
template <typename V>
std::string readString(V& value) {
  // A document's token comes as a plain view; a value's as a result to check.
  std::string_view raw;
  if constexpr (std::is_same_v<decltype(value.raw_json_token()), std::string_view>) {
    raw = value.raw_json_token();
  } else {
    raw = check(value.raw_json_token());
  }
  while (!raw.empty() && raw.back() != '"') raw.remove_suffix(1);
  if (raw.size() < 2 || raw.front() != '"') throwReadError(simdjson::STRING_ERROR);
  return unescape(raw.substr(1, raw.size() - 2));
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

template <typename V>
JSONValue convert(V& value, std::size_t depth) {
  switch (check(value.type())) {
    case od::json_type::null:
      if (!check(value.is_null())) throwReadError(simdjson::INCORRECT_TYPE);
      return JSONValue();
    case od::json_type::boolean:
      return JSONValue(check(value.get_bool()));
    case od::json_type::number:
      return JSONValue(check(value.get_double()));
    case od::json_type::string:
      return JSONValue(readString(value));
    case od::json_type::array: {
      if (depth >= JSONValue::kMaxDepth) throwReadError(simdjson::DEPTH_ERROR);
      JSONValue::Array array;
      for (auto element : check(value.get_array())) {
        od::value child = check(std::move(element));
        array.push_back(convert(child, depth + 1));
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
        // Duplicate keys: the last one wins, as in JavaScript.
        object.insert_or_assign(std::move(key), convert(child, depth + 1));
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

JSONValue parseWithParser(od::parser& parser, simdjson::padded_string_view text) {
  if (parser.max_depth() != kParserMaxDepth || parser.capacity() < text.size()) {
    if (auto error = parser.allocate(text.size(), kParserMaxDepth)) throwReadError(error);
  }
  od::document document = check(parser.iterate(text));
  const od::json_type type = check(document.type());
  if (type == od::json_type::string) return readStringDocument(document, text);
  const bool container = type == od::json_type::array || type == od::json_type::object;
  JSONValue result = convert(document, 0);
  // Scalar getters refuse trailing content themselves; after a container, a location still
  // in bounds means more text follows the value.
  if (container && document.current_location().error() == simdjson::SUCCESS) {
    throwReadError(simdjson::TRAILING_CONTENT);
  }
  return result;
}

JSONValue parsePadded(simdjson::padded_string_view text) {
  if (text.size() <= kReusableParserCapacity) {
    thread_local od::parser parser(kReusableParserCapacity);
    return parseWithParser(parser, text);
  }
  auto parser = std::make_unique<od::parser>(text.size());
  return parseWithParser(*parser, text);
}

// Which bytes a JSON string cannot hold as they are: control characters, '"' and '\\'; '/' only
// when slashes are escaped.
struct EscapeTable {
  bool plain[256];
  bool withSlash[256];
  constexpr EscapeTable() : plain(), withSlash() {
    for (int c = 0; c < 256; ++c) {
      plain[c] = c < 0x20 || c == '"' || c == '\\';
      withSlash[c] = plain[c] || c == '/';
    }
  }
};
constexpr EscapeTable kEscapeTable;

// Texts at least this long are measured before they are written.
constexpr std::size_t kMeasuredTextBytes = 64 * 1024;

// The escaped form of each byte that needs one: "\\n" and the like, else "\\u00XX".
struct EscapeForms {
  char text[256][6];
  unsigned char length[256];
  constexpr EscapeForms() : text(), length() {
    constexpr char kHex[] = "0123456789abcdef";
    for (int c = 0; c < 256; ++c) {
      char shortForm = 0;
      switch (c) {
        case '"':
        case '\\':
        case '/':
          shortForm = static_cast<char>(c);
          break;
        case '\n':
          shortForm = 'n';
          break;
        case '\r':
          shortForm = 'r';
          break;
        case '\t':
          shortForm = 't';
          break;
        case '\b':
          shortForm = 'b';
          break;
        case '\f':
          shortForm = 'f';
          break;
      }
      text[c][0] = '\\';
      if (shortForm != 0) {
        text[c][1] = shortForm;
        length[c] = 2;
      } else {
        const char rest[] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        for (int k = 0; k < 5; ++k) text[c][k + 1] = rest[k];
        length[c] = 6;
      }
    }
  }
};
constexpr EscapeForms kEscapeForms;

// The length of `text` once escaped, quotes not counted.
std::size_t escapedLength(std::string_view text, const bool* needsEscape) {
  std::size_t length = text.size();
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (needsEscape[c]) length += kEscapeForms.length[c] - 1u;
  }
  return length;
}

// Eight bytes at a time: the high bit of each byte of the result is set exactly where `word`
// holds a byte that needs escaping. `slash` is '/' when slashes are escaped and '"' otherwise
// (a byte tested anyway). Each test stays within its byte: (b & 0x7F) + k never carries out.
inline std::uint64_t escapeMask(std::uint64_t word, std::uint64_t slash) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kLow7 = kOnes * 0x7F;
  const auto zeroBytes = [](std::uint64_t v) { return ~(((v & kLow7) + kLow7) | v | kLow7); };
  const std::uint64_t control = ~(((word & kLow7) + kOnes * (0x80 - 0x20)) | word | kLow7);
  return control | zeroBytes(word ^ (kOnes * '"')) | zeroBytes(word ^ (kOnes * '\\')) |
         zeroBytes(word ^ (kOnes * slash));
}

// Appends the escaped form of `text` without quotes. The text goes in blocks: the bytes that
// need escaping are found eight at a time, then the block's output is sized exactly and filled
// by copying the runs between them.
void appendEscapedBody(std::string& out, std::string_view text, bool escapeSlashes) {
  constexpr std::size_t kBlockBytes = 4096;
  const bool* needsEscape = escapeSlashes ? kEscapeTable.withSlash : kEscapeTable.plain;
  const std::uint64_t slash = escapeSlashes ? std::uint64_t{'/'} : std::uint64_t{'"'};
  std::uint16_t positions[kBlockBytes];
  while (!text.empty()) {
    const std::string_view block = text.substr(0, kBlockBytes);
    text.remove_prefix(block.size());
    const char* const data = block.data();
    const std::size_t size = block.size();

    std::size_t count = 0;
    std::size_t escapedSize = size;
    const auto found = [&](std::size_t at) {
      positions[count++] = static_cast<std::uint16_t>(at);
      escapedSize += kEscapeForms.length[static_cast<unsigned char>(data[at])] - 1u;
    };
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, data + i, sizeof word);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      for (std::uint64_t mask = escapeMask(word, slash); mask != 0; mask &= mask - 1) {
        found(i + static_cast<std::size_t>(std::countr_zero(mask)) / 8);
      }
    }
    for (; i < size; ++i) {
      if (needsEscape[static_cast<unsigned char>(data[i])]) found(i);
    }
    if (count == 0) {
      out.append(block);
      continue;
    }

    const std::size_t start = out.size();
    out.resize(start + escapedSize);
    char* write = out.data() + start;
    std::size_t runStart = 0;
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t at = positions[k];
      std::memcpy(write, data + runStart, at - runStart);
      write += at - runStart;
      const auto c = static_cast<unsigned char>(data[at]);
      std::memcpy(write, kEscapeForms.text[c], kEscapeForms.length[c]);
      write += kEscapeForms.length[c];
      runStart = at + 1;
    }
    std::memcpy(write, data + runStart, size - runStart);
  }
}

// Where the writer hands its output on; null when everything stays in `out`.
using Spill = JSONValue::Spill;

void spillIfFull(std::string& out, const Spill* spill) {
  if (spill != nullptr && out.size() >= JSONValue::kSpillBytes) (*spill)(out);
}

void appendEscaped(std::string& out, std::string_view text, bool escapeSlashes,
                   const Spill* spill = nullptr) {
  if (spill != nullptr) {
    // In pieces, each handed on once `out` is full: the whole text never sits in `out`.
    out.push_back('"');
    while (text.size() > JSONValue::kSpillBytes) {
      appendEscapedBody(out, text.substr(0, JSONValue::kSpillBytes), escapeSlashes);
      text.remove_prefix(JSONValue::kSpillBytes);
      spillIfFull(out, spill);
    }
    appendEscapedBody(out, text, escapeSlashes);
    out.push_back('"');
    spillIfFull(out, spill);
    return;
  }
  if (text.size() >= kMeasuredTextBytes) {
    // A long text is measured first so that `out` grows once, with room left for what usually
    // follows: growing later would hold the old and the new buffer at the same time, twice a
    // text of tens of MiB. Room that is never written costs no memory.
    const bool* needsEscape = escapeSlashes ? kEscapeTable.withSlash : kEscapeTable.plain;
    out.reserve(out.size() + escapedLength(text, needsEscape) + 2 + kMeasuredTextBytes);
  }
  out.push_back('"');
  appendEscapedBody(out, text, escapeSlashes);
  out.push_back('"');
}

void appendNumber(std::string& out, double number) {
  if (!std::isfinite(number)) {
    throw JSONError(JSONError::Case::notEncodable,
                    "The value cannot be written as JSON: numbers must be finite.");
  }
  char buffer[32];
  std::to_chars_result result;
  // Integral values within the exactly representable range are written as plain integers.
  if (std::trunc(number) == number && std::fabs(number) < 9007199254740992.0) {
    result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(number));
  } else {
    result = std::to_chars(buffer, buffer + sizeof buffer, number);
  }
  out.append(buffer, result.ptr);
}

void appendIndent(std::string& out, const JSONWriteOptions& options, std::size_t level) {
  if (!options.prettyPrinted) return;
  out.push_back('\n');
  out.append(level * 2, ' ');
}

}  // namespace

JSONValue JSONValue::object(
    std::initializer_list<std::pair<std::string, std::optional<JSONValue>>> pairs) {
  Object members;
  for (const auto& [key, value] : pairs) {
    if (value) members.insert_or_assign(key, *value);
  }
  return JSONValue(std::move(members));
}

JSONValue JSONValue::parse(std::string_view text) {
  simdjson::padded_string copy(text);
  return parsePadded(copy);
}

JSONValue JSONValue::parse(std::string_view text, std::size_t capacity) {
  if (capacity < text.size() + simdjson::SIMDJSON_PADDING) return parse(text);
  return parsePadded(simdjson::padded_string_view(text.data(), text.size(), capacity));
}

std::optional<double> JSONValue::numberValue() const noexcept {
  if (const double* n = std::get_if<double>(&storage_)) return *n;
  return std::nullopt;
}

std::optional<bool> JSONValue::boolValue() const noexcept {
  if (const bool* b = std::get_if<bool>(&storage_)) return *b;
  return std::nullopt;
}

const JSONValue* JSONValue::subscript(std::string_view key) const noexcept {
  const Object* members = objectValue();
  if (members == nullptr) return nullptr;
  auto it = members->find(key);
  return it == members->end() ? nullptr : &it->second;
}

JSONValue* JSONValue::subscript(std::string_view key) noexcept {
  return const_cast<JSONValue*>(std::as_const(*this).subscript(key));
}

std::string JSONValue::serialized(const JSONWriteOptions& options) const {
  std::string out;
  serialize(out, options);
  return out;
}

void JSONValue::serialize(std::string& out, const JSONWriteOptions& options) const {
  serialize(out, options, nullptr);
}

void JSONValue::serialize(std::string& out, const JSONWriteOptions& options,
                          const Spill& spill) const {
  serialize(out, options, &spill);
}

void JSONValue::serialize(std::string& out, const JSONWriteOptions& options,
                          const Spill* spill) const {
  // Recursion depth is bounded by the reader's limit for anything that came from JSON text.
  struct Writer {
    const JSONWriteOptions& options;
    std::string& out;
    const Spill* spill;
    std::size_t level = 0;

    void write(const JSONValue& value) {
      switch (value.kind()) {
        case Kind::string:
          appendEscaped(out, *value.stringValue(), options.escapeSlashes, spill);
          break;
        case Kind::number:
          appendNumber(out, *value.numberValue());
          break;
        case Kind::boolean:
          out.append(*value.boolValue() ? "true" : "false");
          break;
        case Kind::null:
          out.append("null");
          break;
        case Kind::array: {
          const Array& array = *value.arrayValue();
          out.push_back('[');
          ++level;
          bool first = true;
          for (const JSONValue& element : array) {
            if (!first) out.push_back(',');
            first = false;
            appendIndent(out, options, level);
            write(element);
            spillIfFull(out, spill);
          }
          --level;
          if (!array.empty()) appendIndent(out, options, level);
          out.push_back(']');
          break;
        }
        case Kind::object: {
          // std::map keeps keys sorted, which the pretty form requires.
          const Object& object = *value.objectValue();
          out.push_back('{');
          ++level;
          bool first = true;
          for (const auto& [key, member] : object) {
            if (!first) out.push_back(',');
            first = false;
            appendIndent(out, options, level);
            appendEscaped(out, key, options.escapeSlashes);
            out.append(options.prettyPrinted ? " : " : ":");
            write(member);
            spillIfFull(out, spill);
          }
          --level;
          if (!object.empty()) appendIndent(out, options, level);
          out.push_back('}');
          break;
        }
      }
    }
  };
  Writer{options, out, spill}.write(*this);
}

void JSONValue::serializeString(std::string& out, std::string_view text,
                                const JSONWriteOptions& options) {
  appendEscaped(out, text, options.escapeSlashes);
}

// Comparing strings, numbers and containers of them never throws; the standard containers'
// operator== is just not declared noexcept.
// NOLINTNEXTLINE(bugprone-exception-escape)
bool operator==(const JSONValue& a, const JSONValue& b) noexcept {
  return a.storage_ == b.storage_;
}

const std::string* stringMember(const JSONValue* object, std::string_view key) noexcept {
  const JSONValue* member = object != nullptr ? object->subscript(key) : nullptr;
  return member != nullptr ? member->stringValue() : nullptr;
}

}  // namespace vellora
