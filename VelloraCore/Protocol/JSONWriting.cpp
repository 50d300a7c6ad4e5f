// Writing a JSONValue as JSON text: the string escaper, the number writer and the pretty form.
#include "VelloraCore/Protocol/JSONValue.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace vellora {

namespace {

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

// The escaped form of each byte that needs one: "\\n" and the like, else "\\u00XX"; each
// padded to eight bytes, so that it can be copied as one word.
struct EscapeForms {
  char text[256][8];
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

// Sixteen bytes at a time, in the compiler's vectors (SSE2 on x86-64, NEON on ARM): each byte
// of the result is 0xFF where `at` holds a byte that needs escaping, else 0; as two words in
// memory order.
using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
using Words16 = std::uint64_t __attribute__((vector_size(16)));
inline Words16 escapeMask16(const char* at, std::uint8_t slash) {
  Bytes16 bytes;
  std::memcpy(&bytes, at, sizeof bytes);
  const auto mask = (bytes < 0x20) | (bytes == '"') | (bytes == '\\') | (bytes == slash);
  Words16 words;
  std::memcpy(&words, &mask, sizeof words);
  return words;
}

// Calls found(i) for each i, in order, at which data[i] needs escaping. Most stretches of text
// hold no such byte: they are passed over sixteen bytes at a time.
template <typename Found>
inline void forEachEscape(const char* data, std::size_t size, bool escapeSlashes, Found found) {
  const bool* needsEscape = escapeSlashes ? kEscapeTable.withSlash : kEscapeTable.plain;
  const char slash = escapeSlashes ? '/' : '"';
  // `word` holds a mask of eight bytes in memory order.
  const auto eachIn = [&](std::uint64_t word, std::size_t base) {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    for (word &= 0x8080808080808080ull; word != 0; word &= word - 1) {
      found(base + static_cast<std::size_t>(std::countr_zero(word)) / 8);
    }
  };
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    const Words16 mask = escapeMask16(data + i, static_cast<std::uint8_t>(slash));
    if ((mask[0] | mask[1]) == 0) continue;
    eachIn(mask[0], i);
    eachIn(mask[1], i + 8);
  }
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, sizeof word);
    eachIn(escapeMask(word, static_cast<unsigned char>(slash)), i);
  }
  for (; i < size; ++i) {
    if (needsEscape[static_cast<unsigned char>(data[i])]) found(i);
  }
}

// The length of `text` once escaped, quotes not counted.
std::size_t escapedLength(std::string_view text, bool escapeSlashes) {
  std::size_t length = text.size();
  forEachEscape(text.data(), text.size(), escapeSlashes, [&](std::size_t at) {
    length += kEscapeForms.length[static_cast<unsigned char>(text[at])] - 1u;
  });
  return length;
}

// Copies `count` bytes; where `from` may be read 16 bytes past the run's end (`readable`), in
// words of 16 bytes, which may write up to 15 bytes past the run into slack the caller keeps.
inline char* copyRun(char* to, const char* from, std::size_t count, bool readable) {
  if (!readable) {
    std::memcpy(to, from, count);
    return to + count;
  }
  for (std::size_t done = 0; done < count; done += 16) std::memcpy(to + done, from + done, 16);
  return to + count;
}

// Appends the escaped form of `text` without quotes. The text goes in blocks: the bytes that
// need escaping are found first, then the block's output is sized (with slack for
// whole-word copies) and filled by copying the runs between them and each escape as a word.
void appendEscapedBody(std::string& out, std::string_view text, bool escapeSlashes) {
  constexpr std::size_t kBlockBytes = 4096;
  constexpr std::size_t kSlackBytes = 16;
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
    forEachEscape(data, size, escapeSlashes, found);
    if (count == 0) {
      out.append(block);
      continue;
    }

    const std::size_t start = out.size();
    out.resize(start + escapedSize + kSlackBytes);
    char* write = out.data() + start;
    std::size_t runStart = 0;
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t at = positions[k];
      // A run ends at an escaped byte, so 16 bytes from anywhere in it stay within the block
      // unless the block ends within 16 bytes of that byte.
      write = copyRun(write, data + runStart, at - runStart, at + kSlackBytes <= size);
      const auto c = static_cast<unsigned char>(data[at]);
      std::memcpy(write, kEscapeForms.text[c], 8);
      write += kEscapeForms.length[c];
      runStart = at + 1;
    }
    std::memcpy(write, data + runStart, size - runStart);
    out.resize(start + escapedSize);
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
    out.reserve(out.size() + escapedLength(text, escapeSlashes) + 2 + kMeasuredTextBytes);
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

std::string JSONValue::serialized(const JSONWriteOptions& options) const {
  std::string out;
  serialize(out, options);
  return out;
}

void JSONValue::serialize(std::string& out, const JSONWriteOptions& options) const {
  serialize(out, options, nullptr, {}, {});
}

void JSONValue::serialize(std::string& out, const JSONWriteOptions& options,
                          const Spill& spill) const {
  serialize(out, options, &spill, {}, {});
}

void JSONValue::serialize(std::string& out, const JSONWriteOptions& options,
                          std::span<const std::string_view> path,
                          std::string_view memberJSON) const {
  serialize(out, options, nullptr, path, memberJSON);
}

void JSONValue::serialize(std::string& out, const JSONWriteOptions& options, const Spill* spill,
                          std::span<const std::string_view> path,
                          std::string_view memberJSON) const {
  // Recursion depth is bounded by the reader's limit for anything that came from JSON text.
  struct Writer {
    const JSONWriteOptions& options;
    std::string& out;
    const Spill* spill;
    std::span<const std::string_view> path;
    std::string_view memberJSON;
    std::size_t level = 0;
    // How many keys of `path` led to the value being written; equal to `level` only while
    // every value above it was entered through the path's key for its level.
    std::size_t pathKeysFollowed = 0;

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
          const std::size_t depth = level;
          const bool onPath = pathKeysFollowed == depth && depth < path.size();
          out.push_back('{');
          ++level;
          bool first = true;
          for (const auto& [key, member] : object) {
            if (!first) out.push_back(',');
            first = false;
            appendIndent(out, options, level);
            appendEscaped(out, key, options.escapeSlashes);
            out.append(options.prettyPrinted ? " : " : ":");
            if (!onPath || key != path[depth]) {
              write(member);
            } else if (depth + 1 == path.size()) {
              out.append(memberJSON);
            } else {
              pathKeysFollowed = depth + 1;
              write(member);
              pathKeysFollowed = depth;
            }
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
  Writer{options, out, spill, path, memberJSON}.write(*this);
}

void JSONValue::serializeString(std::string& out, std::string_view text,
                                const JSONWriteOptions& options) {
  appendEscaped(out, text, options.escapeSlashes);
}

}  // namespace vellora
