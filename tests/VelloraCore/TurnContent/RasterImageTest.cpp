#include "VelloraCore/TurnContent/RasterImage.h"

#include <gtest/gtest.h>

#include "tests/VelloraCore/TurnContent/ImageFixtures.h"

namespace vellora {
namespace {

using test::gradientPixels;

TEST(RasterImageTest, decodesPNGJPEGAndWebPWithTheirPixelSize) {
  struct Row {
    const char* label;
    std::string bytes;
    int width;
    int height;
  };
  const Row rows[] = {
      {"PNG", test::makePNG(7, 3), 7, 3},
      {"PNG with alpha", test::encodePNG(5, 4, 4, gradientPixels(5, 4, 4)), 5, 4},
      {"grey PNG", test::encodePNG(3, 2, 1, std::vector<std::uint8_t>(6, 90)), 3, 2},
      {"JPEG", test::makeJPEG(9, 6), 9, 6},
      {"WebP lossless", test::makeWebP(6, 2), 6, 2},
      {"WebP lossy", test::encodeWebP(16, 8, gradientPixels(16, 8, 4), false), 16, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::optional<RasterImage> image = RasterImage::decode(row.bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, row.width);
    EXPECT_EQ(image->height, row.height);
    EXPECT_EQ(image->pixels.size(), std::size_t(row.width) * row.height * 3);
  }
}

TEST(RasterImageTest, greyBecomesRGB) {
  std::optional<RasterImage> image =
      RasterImage::decode(test::encodePNG(2, 1, 1, std::vector<std::uint8_t>{0, 200}));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixels, (std::vector<std::uint8_t>{0, 0, 0, 200, 200, 200}));
}

TEST(RasterImageTest, drawsTransparentPixelsOverBlack) {
  const int width = 4, height = 1;
  std::vector<std::uint8_t> rgba = {200, 100, 50, 255, 200, 100, 50,  0,
                                    200, 100, 50, 128, 255, 255, 255, 255};
  for (const std::string& bytes :
       {test::encodePNG(width, height, 4, rgba), test::encodeWebP(width, height, rgba, true)}) {
    std::optional<RasterImage> image = RasterImage::decode(bytes);
    ASSERT_TRUE(image);
    const std::vector<std::uint8_t> expected = {200, 100, 50, 0, 0, 0, 100, 50, 25, 255, 255, 255};
    EXPECT_EQ(image->pixels, expected);
  }
}

TEST(RasterImageTest, refusesBrokenHostileAndUnknownData) {
  const std::string png = test::makePNG(40, 30);
  const std::string jpeg = test::makeJPEG(40, 30);
  std::string zeroSizedWebP("RIFF\x1a\x00\x00\x00WEBPVP8 \x0e\x00\x00\x00", 20);
  zeroSizedWebP.append("\x10\x02\x00\x9d\x01\x2a\x00\x00\x00\x00\x00\x00\x00\x00", 14);
  std::string badPNGChecksum = png;
  badPNGChecksum[30] = static_cast<char>(badPNGChecksum[30] ^ 0x55);
  struct Row {
    const char* label;
    std::string bytes;
  };
  const Row rows[] = {
      {"empty", ""},
      {"PNG signature only", png.substr(0, 8)},
      {"PNG cut in half", png.substr(0, png.size() / 2)},
      {"PNG with a damaged header", badPNGChecksum},
      {"PNG claiming 100000 x 100000 pixels", test::pngClaimingSize(100000, 100000)},
      {"PNG claiming 2^31-1 x 1 pixels", test::pngClaimingSize(0x7FFFFFFF, 1)},
      {"PNG claiming zero width", test::pngClaimingSize(0, 10)},
      {"JPEG header only", jpeg.substr(0, 20)},
      {"WebP of zero size", zeroSizedWebP},
      {"WebP cut short", test::makeWebP(40, 30).substr(0, 30)},
      {"GIF", std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14)},
      {"text", "not an image at all"},
  };
  for (const Row& row : rows) {
    EXPECT_FALSE(RasterImage::decode(row.bytes)) << row.label;
  }
}

TEST(RasterImageTest, resizesAndEncodesJPEGAtTheGivenQuality) {
  std::optional<RasterImage> source = RasterImage::decode(test::makePNG(300, 200, 40));
  ASSERT_TRUE(source);
  std::optional<RasterImage> smaller = source->resized(150, 1);
  ASSERT_TRUE(smaller);
  EXPECT_EQ(smaller->width, 150);
  EXPECT_EQ(smaller->height, 1);
  EXPECT_FALSE(source->resized(0, 10));
  EXPECT_FALSE(source->resized(10, -1));

  std::optional<std::string> best = source->jpegEncoded(0.86);
  std::optional<std::string> worse = source->jpegEncoded(0.58);
  ASSERT_TRUE(best && worse);
  EXPECT_LT(worse->size(), best->size());
  std::optional<RasterImage> decoded = RasterImage::decode(*best);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 300);
  EXPECT_EQ(decoded->height, 200);
}

}  // namespace
}  // namespace vellora
