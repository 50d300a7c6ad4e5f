#include "VelloraCore/Protocol/JSONValue.h"

#include <simdjson.h>

#include <charconv>
#include <cmath>
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

// A string whose raw token holds no escape is copied straight from the input, which stage one
// has already validated as UTF-8 without control characters; this keeps a 60 MB data URL from
// passing through the parser's string buffer.
template <typename V>
std::string readString(V& value) {
  std::string_view raw;
  if constexpr (std::is_same_v<decltype(value.raw_json_token()), std::string_view>) {
    raw = value.raw_json_token();
  } else {
    raw = check(value.raw_json_token());
  }
  while (!raw.empty() && raw.back() != '"') raw.remove_suffix(1);
  if (raw.size() >= 2 && raw.front() == '"' &&
      std::memchr(raw.data(), '\\', raw.size()) == nullptr) {
    return std::string(raw.substr(1, raw.size() - 2));
  }
  return std::string(check(value.get_string()));
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
      // A string document goes through get_string, which also refuses trailing content.
      if (depth == 0) return JSONValue(std::string(check(value.get_string())));
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
        std::string key(check(field.unescaped_key()));
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
  const bool container = check(document.type()) == od::json_type::array ||
                         check(document.type()) == od::json_type::object;
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

void appendEscaped(std::string& out, std::string_view text, bool escapeSlashes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\' && (c != '/' || !escapeSlashes)) continue;
    out.append(text.data() + runStart, i - runStart);
    runStart = i + 1;
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '/':
        out.append("\\/");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(text.data() + runStart, text.size() - runStart);
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
  // Recursion depth is bounded by the reader's limit for anything that came from JSON text.
  struct Writer {
    const JSONWriteOptions& options;
    std::string& out;
    std::size_t level = 0;

    void write(const JSONValue& value) {
      switch (value.kind()) {
        case Kind::string:
          appendEscaped(out, *value.stringValue(), options.escapeSlashes);
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
          }
          --level;
          if (!object.empty()) appendIndent(out, options, level);
          out.push_back('}');
          break;
        }
      }
    }
  };
  Writer{options, out}.write(*this);
}

void JSONValue::serializeString(std::string& out, std::string_view text,
                                const JSONWriteOptions& options) {
  appendEscaped(out, text, options.escapeSlashes);
}

bool operator==(const JSONValue& a, const JSONValue& b) noexcept {
  return a.storage_ == b.storage_;
}

}  // namespace vellora
