#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "VelloraCore/Error.h"

namespace vellora {

// A failure to read or write JSON text. The description names what went wrong; it reaches the
// extension only as the message of a "native_host_error" reply.
class JSONError final : public Error {
 public:
  enum class Case { invalidJSON, tooDeep, notEncodable };
  JSONError(Case c, std::string description);
  Case errorCase() const noexcept { return case_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  Case case_;
  std::string description_;
};

// How JSON text is written. The wire writes compact JSON with "/" escaped as "\/"; the host
// manifest is pretty-printed with sorted keys and plain slashes.
struct JSONWriteOptions {
  bool escapeSlashes = true;
  // Two spaces per level, one member or element per line, " : " after a key, keys sorted.
  bool prettyPrinted = false;
};

// The system's one representation of free-form JSON: a value type with six cases and structural
// equality. Numbers are always 64-bit floats; objects keep no member order.
//
//   JSONValue v = JSONValue::parse(R"({"a": 1, "b": [true, null]})");
//   v.subscript("a")->numberValue() == 1.0;  v.subscript("c") == nullptr;
class JSONValue {
 public:
  using Object = std::map<std::string, JSONValue, std::less<>>;
  using Array = std::vector<JSONValue>;
  enum class Kind { string, number, boolean, object, array, null };

  // Reading refuses documents nested deeper than this many arrays and objects.
  static constexpr std::size_t kMaxDepth = 1024;
  // Bytes of readable slack past the text that parse(text, capacity) needs to avoid a copy.
  static constexpr std::size_t kParsePadding = 64;

  JSONValue() noexcept : storage_(nullptr) {}
  JSONValue(std::nullptr_t) noexcept : storage_(nullptr) {}
  JSONValue(std::string s) noexcept : storage_(std::move(s)) {}
  JSONValue(std::string_view s) : storage_(std::string(s)) {}
  JSONValue(const char* s) : storage_(std::string(s)) {}
  JSONValue(bool b) noexcept : storage_(b) {}
  template <typename T>
  requires(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) JSONValue(T n)
  noexcept : storage_(static_cast<double>(n)) {}
  JSONValue(Object o) noexcept : storage_(std::move(o)) {}
  JSONValue(Array a) noexcept : storage_(std::move(a)) {}

  // Builds an object from (key, optional value) pairs; a pair without a value is left out.
  static JSONValue object(
      std::initializer_list<std::pair<std::string, std::optional<JSONValue>>> pairs);

  // Reads one JSON document (whitespace around it allowed). Duplicate keys: the last one wins.
  // Throws JSONError for invalid JSON or UTF-8, trailing content, or nesting past kMaxDepth.
  static JSONValue parse(std::string_view text);
  // As parse(text), but the caller promises that text.data() has `capacity` readable bytes;
  // with capacity >= text.size() + kParsePadding the text is not copied.
  static JSONValue parse(std::string_view text, std::size_t capacity);
  // As parse(text), for a text whose buffer is not needed afterwards (give it a capacity of
  // text.size() + kParsePadding, or it is copied). A string longer than half of the text keeps
  // the buffer as its own storage instead of being copied out of it: a message that is mostly
  // one string is held once, not twice.
  static JSONValue parseOwned(std::string text);

  Kind kind() const noexcept { return static_cast<Kind>(storage_.index()); }
  bool isNull() const noexcept { return kind() == Kind::null; }

  // The payload of the matching case, or nothing (no conversions between cases).
  const std::string* stringValue() const noexcept { return std::get_if<std::string>(&storage_); }
  std::optional<double> numberValue() const noexcept;
  std::optional<bool> boolValue() const noexcept;
  const Object* objectValue() const noexcept { return std::get_if<Object>(&storage_); }
  Object* objectValue() noexcept { return std::get_if<Object>(&storage_); }
  const Array* arrayValue() const noexcept { return std::get_if<Array>(&storage_); }
  Array* arrayValue() noexcept { return std::get_if<Array>(&storage_); }
  std::string* stringValue() noexcept { return std::get_if<std::string>(&storage_); }

  // The member with exactly this key of an object; nullptr for a missing key or another case.
  const JSONValue* subscript(std::string_view key) const noexcept;
  JSONValue* subscript(std::string_view key) noexcept;

  // Writes the value as JSON text. Throws JSONError (notEncodable) for NaN or an infinity.
  std::string serialized(const JSONWriteOptions& options = {}) const;
  // Appends the JSON text to `out`.
  void serialize(std::string& out, const JSONWriteOptions& options = {}) const;
  // Takes bytes out of a writer's buffer (writes them somewhere) and leaves it empty.
  using Spill = std::function<void(std::string&)>;
  // How full the buffer gets before serialize() hands it to its spill.
  static constexpr std::size_t kSpillBytes = 1024 * 1024;
  // Appends the JSON text to `out`, handing `out` to `spill` whenever it holds kSpillBytes or
  // more, so that a value of any size is written with a bounded buffer (a long text in pieces).
  // What is left at the end stays in `out`. A failure may come after bytes were spilled.
  void serialize(std::string& out, const JSONWriteOptions& options, const Spill& spill) const;
  // Appends the JSON text to `out`, but with the member that `path` names (one object key per
  // level, from this value down) written as `memberJSON`, which must be JSON text, instead of
  // from its own value. Where the path names no member (a key is missing or a value on the way
  // is not an object), or is empty, the value is written as it is.
  //   {"a":{"b":"long text"},"c":1} with path {"a", "b"} and "0"  ->  {"a":{"b":0},"c":1}
  void serialize(std::string& out, const JSONWriteOptions& options,
                 std::span<const std::string_view> path, std::string_view memberJSON) const;
  // Appends `text` as a quoted, escaped JSON string.
  static void serializeString(std::string& out, std::string_view text,
                              const JSONWriteOptions& options = {});

  // NOLINTNEXTLINE(bugprone-exception-escape): see the definition
  friend bool operator==(const JSONValue& a, const JSONValue& b) noexcept;

 private:
  void serialize(std::string& out, const JSONWriteOptions& options, const Spill* spill,
                 std::span<const std::string_view> path, std::string_view memberJSON) const;

  // Alternative order matches Kind.
  std::variant<std::string, double, bool, Object, Array, std::nullptr_t> storage_;
};

// The text member `key` of `object`, or nullptr when `object` is null, is not an object, has no
// such member or the member is not text. Lets lookups chain:
// stringMember(params->subscript("turn"), "id").
const std::string* stringMember(const JSONValue* object, std::string_view key) noexcept;

}  // namespace vellora
