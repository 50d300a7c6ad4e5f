#include "VelloraCore/TurnContent/Base64.h"

#include <array>
#include <cstdint>

namespace vellora {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodingTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}

constexpr std::array<std::uint8_t, 256> kDecodingTable = makeDecodingTable();

}  // namespace

std::string base64Encoded(std::string_view bytes) {
  std::string out(base64EncodedLength(bytes.size()), '=');
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  char* cursor = out.data();
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group =
        (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | std::uint32_t{in[i + 2]};
    cursor[0] = kAlphabet[(group >> 18) & 63];
    cursor[1] = kAlphabet[(group >> 12) & 63];
    cursor[2] = kAlphabet[(group >> 6) & 63];
    cursor[3] = kAlphabet[group & 63];
    cursor += 4;
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t group = std::uint32_t{in[i]} << 16;
    if (rest == 2) group |= std::uint32_t{in[i + 1]} << 8;
    cursor[0] = kAlphabet[(group >> 18) & 63];
    cursor[1] = kAlphabet[(group >> 12) & 63];
    if (rest == 2) cursor[2] = kAlphabet[(group >> 6) & 63];
  }
  return out;
}

std::optional<std::string> base64Decoded(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
  std::string out;
  out.resize(text.size() / 4 * 3 - padding);
  const std::size_t fullLength = text.size() - padding;
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t written = 0;
  std::uint32_t group = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < fullLength; ++i) {
    const std::uint8_t value = kDecodingTable[in[i]];
    if (value == kInvalid) return std::nullopt;
    group = (group << 6) | value;
    if (++count == 4) {
      out[written++] = static_cast<char>(group >> 16);
      out[written++] = static_cast<char>(group >> 8);
      out[written++] = static_cast<char>(group);
      group = 0;
      count = 0;
    }
  }
  // The last group: two characters give one byte, three give two.
  if (count == 2) {
    out[written++] = static_cast<char>(group >> 4);
  } else if (count == 3) {
    out[written++] = static_cast<char>(group >> 10);
    out[written++] = static_cast<char>(group >> 2);
  }
  return out;
}

}  // namespace vellora
