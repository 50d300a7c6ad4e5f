#include "tests/VelloraCore/TurnContent/ImageFixtures.h"

#include <spng.h>
#include <turbojpeg.h>
#include <webp/encode.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace vellora::test {

namespace {

std::uint32_t crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void appendChunk(std::string& out, const std::string& type, const std::string& data) {
  appendBigEndian(out, static_cast<std::uint32_t>(data.size()));
  out.append(type).append(data);
  appendBigEndian(out, crc32(type + data));
}

}  // namespace

std::vector<std::uint8_t> gradientPixels(int width, int height, int channels, int noise) {
  std::vector<std::uint8_t> pixels(std::size_t(width) * std::size_t(height) * channels);
  std::uint32_t state = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = pixels.data() + (std::size_t(y) * width + x) * channels;
      int values[3] = {x * 255 / (width > 1 ? width - 1 : 1),
                       y * 255 / (height > 1 ? height - 1 : 1), 128};
      for (int c = 0; c < 3; ++c) {
        if (noise > 0) {
          state = state * 1664525u + 1013904223u;
          values[c] += static_cast<int>((state >> 16) % (2 * noise + 1)) - noise;
        }
        pixel[c] = static_cast<std::uint8_t>(values[c] < 0 ? 0 : values[c] > 255 ? 255 : values[c]);
      }
      if (channels == 4) pixel[3] = x < width / 2 ? 255 : 0;
    }
  }
  return pixels;
}

std::string encodePNG(int width, int height, int channels,
                      const std::vector<std::uint8_t>& pixels) {
  std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> context(spng_ctx_new(SPNG_CTX_ENCODER),
                                                              &spng_ctx_free);
  spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr header{};
  header.width = static_cast<std::uint32_t>(width);
  header.height = static_cast<std::uint32_t>(height);
  header.bit_depth = 8;
  header.color_type = channels == 4   ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                      : channels == 1 ? SPNG_COLOR_TYPE_GRAYSCALE
                                      : SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(context.get(), &header);
  if (spng_encode_image(context.get(), pixels.data(), pixels.size(), SPNG_FMT_PNG,
                        SPNG_ENCODE_FINALIZE) != 0) {
    throw std::runtime_error("PNG encoding failed");
  }
  std::size_t size = 0;
  int error = 0;
  void* buffer = spng_get_png_buffer(context.get(), &size, &error);
  if (buffer == nullptr) throw std::runtime_error("PNG encoding failed");
  std::string png(static_cast<const char*>(buffer), size);
  std::free(buffer);
  return png;
}

std::string encodeJPEG(int width, int height, const std::vector<std::uint8_t>& rgb, int quality) {
  tjhandle handle = tjInitCompress();
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const int status = tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &buffer, &size,
                                 TJSAMP_420, quality, 0);
  tjDestroy(handle);
  if (status != 0) throw std::runtime_error("JPEG encoding failed");
  std::string jpeg(reinterpret_cast<const char*>(buffer), size);
  tjFree(buffer);
  return jpeg;
}

std::string encodeWebP(int width, int height, const std::vector<std::uint8_t>& rgba,
                       bool lossless) {
  std::uint8_t* output = nullptr;
  const std::size_t size =
      lossless ? WebPEncodeLosslessRGBA(rgba.data(), width, height, width * 4, &output)
               : WebPEncodeRGBA(rgba.data(), width, height, width * 4, 80, &output);
  if (size == 0) throw std::runtime_error("WebP encoding failed");
  std::string webp(reinterpret_cast<const char*>(output), size);
  WebPFree(output);
  return webp;
}

std::string makePNG(int width, int height, int noise) {
  return encodePNG(width, height, 3, gradientPixels(width, height, 3, noise));
}

std::string makeJPEG(int width, int height) {
  return encodeJPEG(width, height, gradientPixels(width, height, 3));
}

std::string makeWebP(int width, int height) {
  return encodeWebP(width, height, gradientPixels(width, height, 4), true);
}

std::string pngClaimingSize(std::uint32_t width, std::uint32_t height) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  appendBigEndian(header, width);
  appendBigEndian(header, height);
  header.append("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, deflate, no filter, no interlace
  appendChunk(png, "IHDR", header);
  appendChunk(png, "IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
  appendChunk(png, "IEND", "");
  return png;
}

}  // namespace vellora::test
