#include "VelloraCore/TurnContent/RasterImage.h"

#include <spng.h>
#include <turbojpeg.h>
#include <webp/decode.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb_image_resize.h>

namespace vellora {

namespace {

// Ancillary PNG chunks (text, ICC profiles) are skipped past this size, and their total is capped.
constexpr std::size_t kMaxPNGChunkBytes = std::size_t{16} << 20;
constexpr std::size_t kMaxPNGChunkCacheBytes = std::size_t{32} << 20;

bool withinBudget(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX &&
         width * height <= RasterImage::kMaxDecodedBytes / 4;
}

bool startsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

// Turns RGBA into RGB in place, drawing each pixel over black.
void flattenRGBA(std::vector<std::uint8_t>& pixels, std::size_t pixelCount) {
  std::uint8_t* data = pixels.data();
  for (std::size_t i = 0; i < pixelCount; ++i) {
    const std::uint8_t* source = data + i * 4;
    std::uint8_t* target = data + i * 3;
    const unsigned alpha = source[3];
    if (alpha == 255) {
      target[0] = source[0];
      target[1] = source[1];
      target[2] = source[2];
    } else {
      target[0] = static_cast<std::uint8_t>((source[0] * alpha + 127) / 255);
      target[1] = static_cast<std::uint8_t>((source[1] * alpha + 127) / 255);
      target[2] = static_cast<std::uint8_t>((source[2] * alpha + 127) / 255);
    }
  }
  pixels.resize(pixelCount * 3);
}

std::optional<RasterImage> decodePNG(std::string_view bytes) {
  std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> context(spng_ctx_new(0), &spng_ctx_free);
  if (!context) return std::nullopt;
  spng_ctx* ctx = context.get();
  if (spng_set_chunk_limits(ctx, kMaxPNGChunkBytes, kMaxPNGChunkCacheBytes) != 0) {
    return std::nullopt;
  }
  if (spng_set_png_buffer(ctx, bytes.data(), bytes.size()) != 0) return std::nullopt;
  spng_ihdr header;
  if (spng_get_ihdr(ctx, &header) != 0) return std::nullopt;
  if (!withinBudget(header.width, header.height)) return std::nullopt;
  // Images without any transparency decode straight to RGB; the others are drawn over black.
  spng_trns transparency;
  const bool opaque = (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                       header.color_type == SPNG_COLOR_TYPE_TRUECOLOR ||
                       header.color_type == SPNG_COLOR_TYPE_INDEXED) &&
                      spng_get_trns(ctx, &transparency) != 0;
  const int format = opaque ? SPNG_FMT_RGB8 : SPNG_FMT_RGBA8;
  std::size_t size = 0;
  if (spng_decoded_image_size(ctx, format, &size) != 0) return std::nullopt;
  RasterImage image;
  image.width = static_cast<int>(header.width);
  image.height = static_cast<int>(header.height);
  image.pixels.resize(size);
  if (spng_decode_image(ctx, image.pixels.data(), size, format, opaque ? 0 : SPNG_DECODE_TRNS) !=
      0) {
    return std::nullopt;
  }
  if (!opaque) flattenRGBA(image.pixels, std::size_t(image.width) * std::size_t(image.height));
  return image;
}

struct TurboJPEGHandle {
  tjhandle handle;
  explicit TurboJPEGHandle(tjhandle h) : handle(h) {}
  ~TurboJPEGHandle() {
    if (handle != nullptr) tjDestroy(handle);
  }
  TurboJPEGHandle(const TurboJPEGHandle&) = delete;
  TurboJPEGHandle& operator=(const TurboJPEGHandle&) = delete;
};

std::optional<RasterImage> decodeJPEG(std::string_view bytes) {
  TurboJPEGHandle decoder(tjInitDecompress());
  if (decoder.handle == nullptr) return std::nullopt;
  auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto size = static_cast<unsigned long>(bytes.size());
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(decoder.handle, data, size, &width, &height, &subsampling, &colorspace) !=
      0) {
    return std::nullopt;
  }
  if (width <= 0 || height <= 0 || !withinBudget(std::uint64_t(width), std::uint64_t(height))) {
    return std::nullopt;
  }
  RasterImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(std::size_t(width) * std::size_t(height) * 3);
  // A truncated or slightly damaged file still decodes (with a warning), as image viewers show
  // it; only errors fail. Progressive files with absurd scan counts are refused.
  if (tjDecompress2(decoder.handle, data, size, image.pixels.data(), width, 0, height, TJPF_RGB,
                    TJFLAG_LIMITSCANS) != 0 &&
      tjGetErrorCode(decoder.handle) != TJERR_WARNING) {
    return std::nullopt;
  }
  return image;
}

std::optional<RasterImage> decodeWebP(std::string_view bytes) {
  auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  int width = 0, height = 0;
  if (!WebPGetInfo(data, bytes.size(), &width, &height)) return std::nullopt;
  if (width <= 0 || height <= 0 || !withinBudget(std::uint64_t(width), std::uint64_t(height))) {
    return std::nullopt;
  }
  RasterImage image;
  image.width = width;
  image.height = height;
  const std::size_t pixelCount = std::size_t(width) * std::size_t(height);
  image.pixels.resize(pixelCount * 4);
  if (WebPDecodeRGBAInto(data, bytes.size(), image.pixels.data(), image.pixels.size(), width * 4) ==
      nullptr) {
    return std::nullopt;
  }
  flattenRGBA(image.pixels, pixelCount);
  return image;
}

}  // namespace

std::optional<RasterImage> RasterImage::decode(std::string_view bytes) noexcept {
  try {
    if (startsWith(bytes, "\x89PNG\r\n\x1a\n")) return decodePNG(bytes);
    if (startsWith(bytes, "\xFF\xD8\xFF")) return decodeJPEG(bytes);
    if (bytes.size() >= 12 && startsWith(bytes, "RIFF") && bytes.substr(8, 4) == "WEBP") {
      return decodeWebP(bytes);
    }
  } catch (const std::bad_alloc&) {
  }
  return std::nullopt;
}

std::optional<RasterImage> RasterImage::resized(int newWidth, int newHeight) const noexcept {
  if (newWidth <= 0 || newHeight <= 0 || width <= 0 || height <= 0) return std::nullopt;
  if (pixels.size() != std::size_t(width) * std::size_t(height) * 3) return std::nullopt;
  try {
    RasterImage result;
    result.width = newWidth;
    result.height = newHeight;
    if (newWidth == width && newHeight == height) {
      result.pixels = pixels;
      return result;
    }
    result.pixels.resize(std::size_t(newWidth) * std::size_t(newHeight) * 3);
    if (stbir_resize_uint8_generic(pixels.data(), width, height, 0, result.pixels.data(), newWidth,
                                   newHeight, 0, 3, STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP,
                                   STBIR_FILTER_MITCHELL, STBIR_COLORSPACE_LINEAR, nullptr) == 0) {
      return std::nullopt;
    }
    return result;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<std::string> RasterImage::jpegEncoded(double quality) const noexcept {
  if (width <= 0 || height <= 0) return std::nullopt;
  if (pixels.size() != std::size_t(width) * std::size_t(height) * 3) return std::nullopt;
  TurboJPEGHandle encoder(tjInitCompress());
  if (encoder.handle == nullptr) return std::nullopt;
  const double clamped = std::isnan(quality) ? 0.0 : std::clamp(quality, 0.0, 1.0);
  const int jpegQuality = std::max(1, static_cast<int>(std::lround(clamped * 100)));
  unsigned char* output = nullptr;
  unsigned long outputSize = 0;
  const int status = tjCompress2(encoder.handle, pixels.data(), width, 0, height, TJPF_RGB, &output,
                                 &outputSize, TJSAMP_420, jpegQuality, 0);
  std::unique_ptr<unsigned char, decltype(&tjFree)> owned(output, &tjFree);
  if (status != 0 || output == nullptr) return std::nullopt;
  try {
    return std::string(reinterpret_cast<const char*>(output), outputSize);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace vellora
