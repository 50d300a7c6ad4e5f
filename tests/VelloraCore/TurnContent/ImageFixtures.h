#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellora::test {

// Small images made in code for the image tests and benchmarks.

// Pixels of a smooth gradient, `channels` (3 or 4) bytes each; with alpha, the left half is
// opaque and the right half fully transparent. A non-zero `noise` adds pseudo-random values up
// to that amplitude, which makes the image compress badly.
std::vector<std::uint8_t> gradientPixels(int width, int height, int channels, int noise = 0);

// Encoded images of the given pixels. A PNG may have 1 (grey), 3 or 4 channels.
std::string encodePNG(int width, int height, int channels, const std::vector<std::uint8_t>& pixels);
std::string encodeJPEG(int width, int height, const std::vector<std::uint8_t>& rgb,
                       int quality = 90);
std::string encodeWebP(int width, int height, const std::vector<std::uint8_t>& rgba, bool lossless);

// Shorthands: a gradient PNG (RGB) and JPEG and WebP of that size.
std::string makePNG(int width, int height, int noise = 0);
std::string makeJPEG(int width, int height);
std::string makeWebP(int width, int height);

// A PNG whose header claims the given size, with a valid header checksum and a tiny image
// data chunk.
std::string pngClaimingSize(std::uint32_t width, std::uint32_t height);

}  // namespace vellora::test
