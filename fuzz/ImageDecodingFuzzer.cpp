// Feeds arbitrary bytes to the image path of generated attachments: decoding (PNG, JPEG, WebP),
// the re-encodings under a small limit, and the inline-result reading (data URL or base64).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/TurnContent/GeneratedImageAttachmentBuilder.h"
#include "VelloraCore/TurnContent/RasterImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  static const std::unique_ptr<FileSystem> fileSystem = makePosixFileSystem();
  // No saved image is ever read here: the folder does not exist, and only inline results are fed.
  static const std::string kImageFolder = "/nonexistent/.codex/generated_images";
  // Small enough that every decodable input goes through the re-encodings.
  static const GeneratedImageAttachmentBuilder tight(*fileSystem, kImageFolder, 600);
  static const GeneratedImageAttachmentBuilder roomy(*fileSystem, kImageFolder, 700000);
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // A few hundred bytes can claim megapixels (a truncated JPEG decodes with a warning). Those
  // are bounded by the decoder's budget but slow to resize, more so under the sanitizers; they
  // only go through the decoder here, so that each run stays quick.
  bool small = true;
  if (std::optional<RasterImage> image = RasterImage::decode(bytes)) {
    if (image->width <= 0 || image->height <= 0 ||
        image->pixels.size() != std::size_t(image->width) * std::size_t(image->height) * 3) {
      __builtin_trap();
    }
    small = std::size_t(image->width) * std::size_t(image->height) <= (std::size_t{1} << 16);
  }
  if (small) {
    if (std::optional<std::string> url = tight.fittedDataURL(bytes, "image/png")) {
      if (url->size() > 600) __builtin_trap();
    }
  }
  // The inline result: data URL or bare base64, strictly decoded and sniffed.
  GeneratedImageCandidate candidate;
  candidate.result = std::string(bytes);
  if (std::optional<JSONValue> attachment =
          roomy.attachment(candidate, std::chrono::system_clock::time_point{})) {
    const JSONValue* url = attachment->subscript("dataUrl");
    if (url == nullptr || url->stringValue() == nullptr ||
        !url->stringValue()->starts_with("data:")) {
      __builtin_trap();
    }
  }
  return 0;
}
