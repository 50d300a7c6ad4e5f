#include "VelloraCore/TurnContent/GeneratedImageAttachmentBuilder.h"

#include <re2/re2.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/RandomUUID.h"
#include "VelloraCore/TurnContent/Base64.h"
#include "VelloraCore/TurnContent/ImageHeader.h"
#include "VelloraCore/TurnContent/RasterImage.h"

namespace vellora {

namespace {

// A saved image path: one of the prefixes (the image folder and a slash), then a run without
// white space, quotes or angle brackets that ends in an image extension of any case. The folder
// is matched exactly, as Codex names it. White space is Unicode's, as in "\u00A0" or "\u2028".
constexpr char kWhiteSpace[] =
    R"(\t\n\x0B\f\r \x{85}\x{A0}\x{1680}\x{2000}-\x{200A}\x{2028}\x{2029}\x{202F}\x{205F}\x{3000})";

std::shared_ptr<const RE2> savedImagePathExpression(const std::vector<std::string>& prefixes) {
  std::string alternatives;
  for (const std::string& prefix : prefixes) {
    if (!alternatives.empty()) alternatives += '|';
    alternatives += RE2::QuoteMeta(prefix);
  }
  const std::string pathCharacter = std::string("[^") + kWhiteSpace + R"("'<>])";
  RE2::Options options;
  options.set_log_errors(false);
  auto expression = std::make_shared<const RE2>(
      "((?:" + alternatives + ")" + pathCharacter + "+\\.(?i:png|jpe?g|webp))", options);
  if (!expression->ok()) return nullptr;
  return expression;
}

std::optional<std::string> optionalString(const JSONValue* object, std::string_view key) {
  if (const std::string* value = stringMember(object, key)) return *value;
  return std::nullopt;
}

// The non-empty components of a slash-separated path, in order.
std::vector<std::string_view> pathComponents(std::string_view path) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

bool hasDotComponent(std::string_view path) {
  for (std::string_view component : pathComponents(path)) {
    if (component == "." || component == "..") return true;
  }
  return false;
}

std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return "/";
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Whether a standardised, resolved path lies inside the standardised, resolved `folder`, with
// at least one component after it.
bool isInside(std::string_view path, std::string_view folder) {
  if (folder == "/") return path.size() > 1 && path.front() == '/';
  return path.size() > folder.size() + 1 && path.starts_with(folder) && path[folder.size()] == '/';
}

// The bytes of `result` as Codex returns it: a base64 data URL, or bare base64. What the URL
// says its media type is does not count; the bytes tell.
std::optional<std::string> decodedResult(std::string_view result) {
  std::optional<std::string> bytes;
  const std::size_t comma = result.find(',');
  if (result.substr(0, 5) == "data:" && comma != std::string_view::npos) {
    const std::string_view header = result.substr(0, comma);
    if (header.find(";base64") == std::string_view::npos) return std::nullopt;
    bytes = base64Decoded(result.substr(comma + 1));
  } else {
    bytes = base64Decoded(result);
  }
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

std::string dataURL(std::string_view mimeType, std::string_view bytes) {
  std::string url;
  url.reserve(5 + mimeType.size() + 8 + base64EncodedLength(bytes.size()));
  url.append("data:").append(mimeType).append(";base64,").append(base64Encoded(bytes));
  return url;
}

// Keeps letters, marks and numbers of any script, "-" and "_"; every other scalar (and every
// byte that is not UTF-8) becomes "_".
std::string sanitizedIDPart(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t index = 0;
  while (index < length) {
    const std::int32_t start = index;
    UChar32 c;
    U8_NEXT(bytes, index, length, c);
    const bool keep = c == '-' || c == '_' ||
                      (c >= 0 && (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)));
    if (keep) {
      result.append(text.substr(std::size_t(start), std::size_t(index - start)));
    } else {
      result.push_back('_');
    }
  }
  return result;
}

// ISO 8601 in UTC without fractions: 2026-01-31T09:15:00Z.
std::string internetDateTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(time);
  const auto days = floor<std::chrono::days>(seconds);
  const year_month_day date{days};
  const long long secondOfDay = (seconds - days).count();
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), secondOfDay / 3600,
                secondOfDay / 60 % 60, secondOfDay % 60);
  return text;
}

// Chrome refuses a message from the host over 1 MiB and drops the connection. The frame writer
// escapes every "/" as "\\/", so a data URL within maxDataURLBytes can still double on the wire
// when its base64 is mostly slashes; such a URL is treated as too large. The margin leaves room
// for the rest of the attachment and the envelope.
constexpr std::size_t kMaxDataURLBytesOnTheWire = 1024 * 1024 - 16 * 1024;

bool fitsOnTheWire(std::string_view url) {
  const auto slashes = static_cast<std::size_t>(std::count(url.begin(), url.end(), '/'));
  return url.size() + slashes <= kMaxDataURLBytesOnTheWire;
}

}  // namespace

GeneratedImageAttachmentBuilder::GeneratedImageAttachmentBuilder(const FileSystem& fileSystem,
                                                                 std::string imageFolder,
                                                                 std::int64_t maxDataURLBytes)
    : fileSystem_(fileSystem), maxDataURLBytes_(maxDataURLBytes) {
  while (imageFolder.size() > 1 && imageFolder.back() == '/') imageFolder.pop_back();
  if (imageFolder.empty() || imageFolder.front() != '/') return;
  imageFolder_ = std::move(imageFolder);
  // Codex may name its files through the folder as it was given (a ~/.codex that is a link)
  // or as resolved.
  const auto prefix = [](const std::string& folder) {
    return folder == "/" ? folder : folder + "/";
  };
  scannedPrefixes_.push_back(prefix(imageFolder_));
  try {
    const std::string resolved = prefix(fileSystem_.resolvingSymlinks(imageFolder_));
    if (resolved != scannedPrefixes_.front()) scannedPrefixes_.push_back(resolved);
  } catch (...) {
  }
  savedImagePathExpression_ = savedImagePathExpression(scannedPrefixes_);
}

void GeneratedImageAttachmentBuilder::scanForSavedPaths(
    const std::string& text, std::set<std::string, std::less<>>& seen,
    std::vector<GeneratedImageCandidate>& candidates) const {
  // Every streamed delta passes through here: a text that holds no prefix is not scanned.
  if (!savedImagePathExpression_) return;
  if (std::none_of(
          scannedPrefixes_.begin(), scannedPrefixes_.end(),
          [&](const std::string& prefix) { return text.find(prefix) != std::string::npos; })) {
    return;
  }
  re2::StringPiece input(text);
  re2::StringPiece match;
  while (RE2::FindAndConsume(&input, *savedImagePathExpression_, &match)) {
    std::string path(match.data(), match.size());
    if (hasDotComponent(path)) continue;
    if (!seen.insert(path).second) continue;
    candidates.push_back(GeneratedImageCandidate{std::nullopt, std::nullopt, std::move(path)});
  }
}

std::vector<JSONValue> GeneratedImageAttachmentBuilder::attachments(
    const JSONValue& message, std::string_view threadID,
    std::chrono::system_clock::time_point now) const noexcept {
  std::vector<JSONValue> result;
  for (const GeneratedImageCandidate& candidate : candidates(message, threadID)) {
    std::optional<JSONValue> attachmentObject = attachment(candidate, now);
    if (!attachmentObject) continue;
    try {
      result.push_back(std::move(*attachmentObject));
    } catch (...) {
    }
  }
  return result;
}

std::vector<GeneratedImageCandidate> GeneratedImageAttachmentBuilder::candidates(
    const JSONValue& message, std::string_view threadID) const noexcept {
  const JSONValue* params = message.subscript("params");
  if (params == nullptr || params->objectValue() == nullptr) return {};
  const std::string* messageThreadID = stringMember(params, "threadId");
  if (messageThreadID == nullptr || *messageThreadID != threadID) return {};

  try {
    const std::string* method = stringMember(&message, "method");
    const JSONValue* item = params->subscript("item");
    const std::string* itemType =
        item != nullptr && item->objectValue() != nullptr ? stringMember(item, "type") : nullptr;
    if (method != nullptr && itemType != nullptr) {
      if (*method == "item/completed" && *itemType == "imageGeneration") {
        return {GeneratedImageCandidate{optionalString(item, "id"), optionalString(item, "result"),
                                        optionalString(item, "savedPath")}};
      }
      if (*method == "rawResponseItem/completed" && *itemType == "image_generation_call") {
        return {GeneratedImageCandidate{optionalString(item, "id"), optionalString(item, "result"),
                                        std::nullopt}};
      }
    }

    // Every string of the message, depth first: array elements in order.
    std::vector<GeneratedImageCandidate> found;
    std::set<std::string, std::less<>> seen;
    std::vector<const JSONValue*> pending{&message};
    while (!pending.empty()) {
      const JSONValue* value = pending.back();
      pending.pop_back();
      if (const std::string* text = value->stringValue()) {
        scanForSavedPaths(*text, seen, found);
      } else if (const JSONValue::Array* array = value->arrayValue()) {
        for (auto it = array->rbegin(); it != array->rend(); ++it) pending.push_back(&*it);
      } else if (const JSONValue::Object* object = value->objectValue()) {
        for (auto it = object->rbegin(); it != object->rend(); ++it) pending.push_back(&it->second);
      }
    }
    return found;
  } catch (...) {
    return {};
  }
}

std::optional<JSONValue> GeneratedImageAttachmentBuilder::attachment(
    const GeneratedImageCandidate& candidate,
    std::chrono::system_clock::time_point now) const noexcept {
  try {
    // Only an image is sent, typed by its bytes: a saved file that is none counts as unreadable.
    std::optional<std::string> bytes;
    std::optional<ImageHeader> header;
    if (candidate.savedPath) {
      bytes = readSavedImage(*candidate.savedPath);
      if (bytes) header = ImageHeader::read(*bytes);
    }
    if (!header && candidate.result) {
      bytes = decodedResult(*candidate.result);
      if (bytes) header = ImageHeader::read(*bytes);
    }
    if (!header) return std::nullopt;

    std::optional<std::string> url = fittedDataURL(*bytes, header->mimeType);
    if (!url) return std::nullopt;
    bytes.reset();

    std::string baseName;
    if (candidate.sourceID) {
      baseName = *candidate.sourceID;
    } else if (candidate.savedPath) {
      baseName = lastPathComponent(*candidate.savedPath);
    } else {
      baseName = "image-" + newRandomUUIDText();
    }
    std::string finalMimeType = url->substr(5, url->find(';') - 5);
    std::optional<JSONValue> filePath;
    if (candidate.savedPath) filePath = JSONValue(*candidate.savedPath);
    return JSONValue::object({{"id", "generated_" + sanitizedIDPart(baseName)},
                              {"kind", "generatedImage"},
                              {"label", "Generated image"},
                              {"mimeType", std::move(finalMimeType)},
                              {"dataUrl", std::move(*url)},
                              {"createdAt", internetDateTime(now)},
                              {"filePath", std::move(filePath)}});
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> GeneratedImageAttachmentBuilder::fittedDataURL(
    std::string_view bytes, std::string_view mimeType) const {
  if (maxDataURLBytes_ <= 0) return std::nullopt;
  const auto limit = static_cast<std::uint64_t>(maxDataURLBytes_);
  const auto fits = [limit](std::string_view type, std::size_t byteCount) {
    return 5 + type.size() + 8 + base64EncodedLength(byteCount) <= limit;
  };
  if (fits(mimeType, bytes.size())) {
    std::string url = dataURL(mimeType, bytes);
    if (fitsOnTheWire(url)) return url;
  }

  // The source is decoded once and each size drawn once; sizes that repeat (an image smaller
  // than several longest sides is never enlarged) would only repeat the same encodings.
  std::optional<RasterImage> source = RasterImage::decode(bytes);
  if (!source) return std::nullopt;
  const auto width = std::int64_t{source->width};
  const auto height = std::int64_t{source->height};
  const std::int64_t longest = std::max(width, height);
  std::vector<std::pair<std::int64_t, std::int64_t>> triedSizes;
  for (const int side : kLongestSides) {
    // Integer arithmetic keeps the longest side exact: 1000 x 333 at 640 is 640 x 213.
    std::int64_t newWidth = width, newHeight = height;
    if (longest > side) {
      newWidth = std::max<std::int64_t>(width * side / longest, 1);
      newHeight = std::max<std::int64_t>(height * side / longest, 1);
    }
    const std::pair size{newWidth, newHeight};
    if (std::find(triedSizes.begin(), triedSizes.end(), size) != triedSizes.end()) continue;
    triedSizes.push_back(size);
    std::optional<RasterImage> canvas =
        source->resized(static_cast<int>(newWidth), static_cast<int>(newHeight));
    if (!canvas) continue;
    for (const double quality : kJPEGQualities) {
      std::optional<std::string> jpeg = canvas->jpegEncoded(quality);
      if (jpeg && fits("image/jpeg", jpeg->size())) {
        std::string url = dataURL("image/jpeg", *jpeg);
        if (fitsOnTheWire(url)) return url;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> GeneratedImageAttachmentBuilder::readSavedImage(
    const std::string& savedPath) const noexcept {
  try {
    // The path may come from text that a web page can steer; only a file that really lies in
    // Codex's image folder, after following links of both, is read.
    if (imageFolder_.empty() || savedPath.empty() || savedPath.front() != '/' ||
        hasDotComponent(savedPath)) {
      return std::nullopt;
    }
    const std::string folder = fileSystem_.resolvingSymlinks(imageFolder_);
    const std::string resolved = fileSystem_.resolvingSymlinks(savedPath);
    if (!isInside(resolved, folder)) return std::nullopt;
    if (!fileSystem_.isRegularFile(resolved)) return std::nullopt;
    return fileSystem_.readFile(resolved, kMaxImageFileBytes);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace vellora
