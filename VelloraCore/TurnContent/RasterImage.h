#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellora {

// A decoded bitmap: 8-bit RGB, rows packed without padding. Transparent sources are drawn over
// black, as a JPEG of them shows them.
struct RasterImage {
  // Decoding refuses an image whose decoded pixels (at four bytes each) would need more than this,
  // before allocating anything for them.
  static constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{128} << 20;

  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // width * height * 3 bytes

  // Decodes a PNG, JPEG or WebP image, told apart by its leading bytes. Nothing for any other
  // format, broken or truncated data, a size of zero, or an image over kMaxDecodedBytes.
  static std::optional<RasterImage> decode(std::string_view bytes) noexcept;

  // The whole image drawn at the given size with a high-quality (Mitchell) filter. Nothing when a
  // size is not positive.
  std::optional<RasterImage> resized(int newWidth, int newHeight) const noexcept;

  // JPEG bytes at a quality between 0 and 1 (clamped; 0.86 is "quality 86").
  std::optional<std::string> jpegEncoded(double quality) const noexcept;
};

}  // namespace vellora
