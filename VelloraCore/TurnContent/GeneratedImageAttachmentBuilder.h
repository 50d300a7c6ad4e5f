#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Protocol/JSONValue.h"
#include "VelloraCore/TurnContent/GeneratedImageCandidate.h"

namespace re2 {
class RE2;
}

namespace vellora {

class FileSystem;

// Finds the images that Codex generated in one app-server message of a running turn and turns
// each into an attachment object for the extension:
//
//   {"id": "generated_ig_1_png", "kind": "generatedImage", "label": "Generated image",
//    "mimeType": "image/png", "dataUrl": "data:image/png;base64,...",
//    "createdAt": "2026-01-31T09:15:00Z", "filePath":
//    "/Users/u/.codex/generated_images/t/ig 1.png"}
//
// A data URL over maxDataURLBytes is replaced by a downscaled JPEG; an image that cannot be
// brought under it is dropped. Immutable; it remembers nothing between calls, so any thread
// may call it. Calls block on reading image files and on re-encoding.
class GeneratedImageAttachmentBuilder {
 public:
  // An image file larger than this counts as unreadable.
  static constexpr std::size_t kMaxImageFileBytes = std::size_t{64} << 20;
  // The re-encodings tried in order: each longest side with each JPEG quality.
  static constexpr int kLongestSides[] = {640, 512, 384, 256};
  static constexpr double kJPEGQualities[] = {0.86, 0.72, 0.58};

  // `imageFolder` is Codex's own image folder, <Codex home>/generated_images, the only one
  // whose files are sent; it is also resolved through links now, for the scan of texts. A
  // folder that is not absolute holds nothing. The host uses 700000 bytes.
  GeneratedImageAttachmentBuilder(const FileSystem& fileSystem, std::string imageFolder,
                                  std::int64_t maxDataURLBytes);

  std::int64_t maxDataURLBytes() const noexcept { return maxDataURLBytes_; }

  // The attachments of one message: nothing unless message.params.threadId equals `threadID`;
  // then one per candidate that yields an image, in candidate order. Never fails.
  std::vector<JSONValue> attachments(const JSONValue& message, std::string_view threadID,
                                     std::chrono::system_clock::time_point now) const noexcept;

  // The images a message names: the one item of an "item/completed" "imageGeneration" or a
  // "rawResponseItem/completed" "image_generation_call"; otherwise every saved image path found
  // in any string of the message, each once, without "." or ".." components. A saved image path
  // is the image folder (as given or as resolved) and a run without white space, quotes or
  // angle brackets after it that ends in .png, .jpg, .jpeg or .webp in any case:
  //   "Saved to `/Users/u/.codex/generated_images/t/ig_1.PNG`." (folder /Users/u/.codex/...)
  //     -> "/Users/u/.codex/generated_images/t/ig_1.PNG"
  // Empty for another thread.
  std::vector<GeneratedImageCandidate> candidates(const JSONValue& message,
                                                  std::string_view threadID) const noexcept;

  // The attachment for one candidate, or nothing when no image can be had from it under the
  // limit. A saved path is read only when it is absolute, has no "." or ".." components, and
  // its resolved path (links followed) lies inside the image folder resolved at that moment
  // and names a regular file of at most kMaxImageFileBytes; otherwise `result` is used. Only
  // bytes whose ImageHeader reads (a PNG, JPEG or WebP of at most 16384 pixels each way) are an
  // image, and their MIME type is the header's, whatever the name or a data URL says.
  std::optional<JSONValue> attachment(const GeneratedImageCandidate& candidate,
                                      std::chrono::system_clock::time_point now) const noexcept;

  // The data URL of the image, unchanged when it fits in maxDataURLBytes, else the first JPEG
  // re-encoding that fits; nothing when none does.
  std::optional<std::string> fittedDataURL(std::string_view bytes, std::string_view mimeType) const;

 private:
  std::optional<std::string> readSavedImage(const std::string& savedPath) const noexcept;

  void scanForSavedPaths(const std::string& text, std::set<std::string, std::less<>>& seen,
                         std::vector<GeneratedImageCandidate>& candidates) const;

  const FileSystem& fileSystem_;
  // Without trailing slash; empty when the folder given was not absolute.
  std::string imageFolder_;
  // Each followed by "/": the folder as given and as resolved when the builder was made.
  std::vector<std::string> scannedPrefixes_;
  std::shared_ptr<const re2::RE2> savedImagePathExpression_;
  std::int64_t maxDataURLBytes_;
};

}  // namespace vellora
