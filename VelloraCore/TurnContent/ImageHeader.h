#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellora {

// What an image file's leading bytes say it is, read without decoding a pixel: its format (by
// signature, never by name) and its size.
//
//   read("\x89PNG\r\n\x1a\n" + IHDR of 640 x 480 + ...) -> {"image/png", 640, 480}
//   read("Private notes\n") -> nothing
struct ImageHeader {
  // The largest width or height accepted.
  static constexpr std::uint32_t kMaxSide = 16384;

  std::string_view mimeType;  // "image/png", "image/jpeg" or "image/webp"
  int width = 0;
  int height = 0;

  // The header of a PNG, JPEG or WebP image. Nothing for any other bytes, a header that does
  // not parse as the format its signature names (a PNG's IHDR and its checksum, a JPEG's markers
  // up to its frame header, a WebP's chunks up to its bitstream header), or a width or height of
  // 0 or over kMaxSide.
  static std::optional<ImageHeader> read(std::string_view bytes) noexcept;
};

}  // namespace vellora
