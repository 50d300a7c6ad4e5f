#include "VelloraCore/TurnContent/ImageHeader.h"

#include <spng.h>
#include <turbojpeg.h>
#include <webp/decode.h>

#include <memory>

namespace vellora {

namespace {

bool startsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

std::optional<ImageHeader> sized(std::string_view mimeType, std::uint64_t width,
                                 std::uint64_t height) {
  if (width == 0 || height == 0 || width > ImageHeader::kMaxSide ||
      height > ImageHeader::kMaxSide) {
    return std::nullopt;
  }
  return ImageHeader{mimeType, static_cast<int>(width), static_cast<int>(height)};
}

std::optional<ImageHeader> pngHeader(std::string_view bytes) {
  std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> context(spng_ctx_new(0), &spng_ctx_free);
  if (!context) return std::nullopt;
  // libspng checks the signature, the IHDR chunk's checksum and every field of it.
  if (spng_set_png_buffer(context.get(), bytes.data(), bytes.size()) != 0) return std::nullopt;
  spng_ihdr header;
  if (spng_get_ihdr(context.get(), &header) != 0) return std::nullopt;
  return sized("image/png", header.width, header.height);
}

std::optional<ImageHeader> jpegHeader(std::string_view bytes) {
  const tjhandle decoder = tjInitDecompress();
  if (decoder == nullptr) return std::nullopt;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  const int status = tjDecompressHeader3(
      decoder, reinterpret_cast<const unsigned char*>(bytes.data()),
      static_cast<unsigned long>(bytes.size()), &width, &height, &subsampling, &colorspace);
  tjDestroy(decoder);
  if (status != 0 || width <= 0 || height <= 0) return std::nullopt;
  return sized("image/jpeg", std::uint64_t(width), std::uint64_t(height));
}

std::optional<ImageHeader> webpHeader(std::string_view bytes) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                      &features) != VP8_STATUS_OK ||
      features.width <= 0 || features.height <= 0) {
    return std::nullopt;
  }
  return sized("image/webp", std::uint64_t(features.width), std::uint64_t(features.height));
}

}  // namespace

std::optional<ImageHeader> ImageHeader::read(std::string_view bytes) noexcept {
  try {
    if (startsWith(bytes, "\x89PNG\r\n\x1a\n")) return pngHeader(bytes);
    if (startsWith(bytes, "\xFF\xD8\xFF")) return jpegHeader(bytes);
    if (bytes.size() >= 12 && startsWith(bytes, "RIFF") && bytes.substr(8, 4) == "WEBP") {
      return webpHeader(bytes);
    }
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace vellora
